# Shared helpers for the project's scripts. Source it; do not run it.

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
      apt-get update -qq >/dev/null || true
      export ZUVO_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
}

# The packages every native build needs.
NATIVE_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev tmux valgrind)
# The file-name case table's test regenerates it from the Unicode data.
NATIVE_BUILD_PACKAGES+=(unicode-data python3)

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
