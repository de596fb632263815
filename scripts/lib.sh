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
NATIVE_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev nlohmann-json3-dev tmux)

# build_native PRESET: configures and builds one native preset.
build_native() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
