# Shared helpers for the project's scripts. Source it; do not run it.

# apt_update: reads the package lists, again a few times while a mirror
# answers with lists that do not match its index (a sync in progress).
apt_update() {
  local try
  for try in 1 2 3; do
    local out
    out=$(apt-get update -qq 2>&1) && ! grep -q '^[EW]: ' <<<"$out" && return 0
    sleep 10
  done
  apt-get update -qq >/dev/null 2>&1 || true
}

# need_packages PKG...: installs the Debian packages that are missing when
# running as root, otherwise names them and fails.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "==> installing: ${missing[*]}"
    if [ -z "${ZUVO_APT_UPDATED:-}" ]; then
      apt_update
      export ZUVO_APT_UPDATED=1
    fi
    # A mirror caught mid-sync can list one architecture's packages at a
    # newer version than another's; fresh lists a little later mend that.
    local try
    for try in 1 2 3; do
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null && return 0
      [ "$try" -eq 3 ] && return 1
      echo "==> installing failed; reading the package lists again (try $((try + 1)) of 3)" >&2
      sleep 20
      apt_update
    done
  else
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
}

# packages_installed PKG...: true when every package is installed.
packages_installed() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

# The packages every native build needs.
NATIVE_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev tmux valgrind)
# The file-name case table's test regenerates it from the Unicode data.
NATIVE_BUILD_PACKAGES+=(unicode-data python3)
# The libpurple plug-in builds where pkg-config finds libpurple.
NATIVE_BUILD_PACKAGES+=(pkg-config libpurple-dev)
# The end-to-end protection (host/common/trust) builds where pkg-config finds
# libsodium.
NATIVE_BUILD_PACKAGES+=(libsodium-dev)

# The packages the libpurple plug-in and its tests need: the library's
# development files, Finch, local XMPP and IRC servers, and what runs them in
# a loopback-only network namespace.
PURPLE_TEST_PACKAGES=(libpurple-dev pkg-config finch prosody ngircd tmux iproute2 util-linux)

# build_native PRESET: configures and builds one native preset.
build_native() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

# The packages the Windows cross builds and their tests under Wine need.
# wine32 is the i386 package: install_windows_toolchain adds that
# architecture first.
WINDOWS_BUILD_PACKAGES=(mingw-w64-tools g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 wine32 libwine-dev xvfb imagemagick)

# install_windows_toolchain: makes the mingw-w64 cross compilers, Wine (32-
# and 64-bit) and Xvfb available. Fails when they are missing and cannot be
# installed.
install_windows_toolchain() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "the i386 architecture is needed for wine32: sudo dpkg --add-architecture i386" >&2
      return 1
    fi
    dpkg --add-architecture i386
    unset ZUVO_APT_UPDATED  # the new architecture's package lists are needed
  fi
  need_packages "${WINDOWS_BUILD_PACKAGES[@]}"
}

# windows_toolchain_installed: true when every Windows build package is there.
windows_toolchain_installed() {
  local p
  for p in "${WINDOWS_BUILD_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

# build_windows PRESET: configures and builds one cross preset (win32, win64).
build_windows() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
