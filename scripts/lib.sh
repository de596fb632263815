# Shared helpers for the project's scripts. Source it; do not run it.

# --- Packages ----------------------------------------------------------------

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

# apt_update_once: apt_update, unless this run of the scripts did it.
apt_update_once() {
  [ -n "${ZUVO_APT_UPDATED:-}" ] && return 0
  apt_update
  export ZUVO_APT_UPDATED=1
}

# packages_installed PKG...: true when every package is installed.
packages_installed() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

# need_packages PKG...: installs the Debian packages that are missing when
# running as root, otherwise names them and fails. The services of the
# packages installed here are neither started nor enabled: the tests start
# the servers they need themselves, in a network namespace of their own.
need_packages() {
  local missing=()
  local p
  for p in "$@"; do
    packages_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing Debian packages: ${missing[*]}" >&2
    echo "install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "==> installing: ${missing[*]}"
  apt_update_once
  without_service_starts install_packages "${missing[@]}" || return 1
  for p in "${missing[@]}"; do
    if [ -e "/etc/init.d/$p" ] || [ -e "/lib/systemd/system/$p.service" ]; then
      update-rc.d "$p" disable >/dev/null 2>&1 || true
      if command -v systemctl >/dev/null; then systemctl disable "$p" >/dev/null 2>&1 || true; fi
    fi
  done
}

# install_packages PKG...: apt-get install. A mirror caught mid-sync can
# list one architecture's packages at a newer version than another's; fresh
# lists a little later mend that.
install_packages() {
  local try
  for try in 1 2 3; do
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null &&
      return 0
    [ "$try" -eq 3 ] && return 1
    echo "==> installing failed; reading the package lists again (try $((try + 1)) of 3)" >&2
    sleep 20
    apt_update
  done
}

# without_service_starts COMMAND...: runs COMMAND while Debian's
# policy-rc.d answers "not allowed" to every service start (a policy-rc.d
# already there is left as it is).
POLICY_RC=/usr/sbin/policy-rc.d
POLICY_MARK='# zuvo: no service starts while the project installs packages'
without_service_starts() {
  # One left behind by an interrupted run goes first.
  grep -qsxF "$POLICY_MARK" "$POLICY_RC" && rm -f "$POLICY_RC"
  if [ -e "$POLICY_RC" ]; then
    "$@"
    return
  fi
  printf '#!/bin/sh\n%s\nexit 101\n' "$POLICY_MARK" >"$POLICY_RC"
  chmod 755 "$POLICY_RC"
  local status=0
  "$@" || status=$?
  rm -f "$POLICY_RC"
  return $status
}

# The packages every native build needs.
NATIVE_BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev tmux valgrind)
# The file-name case table's test regenerates it from the Unicode data.
NATIVE_BUILD_PACKAGES+=(unicode-data python3)
# The libpurple plug-in builds where pkg-config finds libpurple; its wire
# form deflates with zlib.
NATIVE_BUILD_PACKAGES+=(pkg-config libpurple-dev zlib1g-dev)
# The end-to-end protection (host/common/trust) builds where pkg-config finds
# libsodium.
NATIVE_BUILD_PACKAGES+=(libsodium-dev)

# The packages the libpurple plug-in and its tests need: the library's
# development files, Finch, what runs them in a loopback-only network
# namespace, the local XMPP servers (prosody, ejabberd) and IRC servers
# (ngircd, InspIRCd; ircd-hybrid comes unpacked, see need_ircd_hybrid), and
# the XMPP library of the observer (a second resource of an account).
PURPLE_TEST_PACKAGES=(libpurple-dev pkg-config finch tmux iproute2 util-linux
  prosody ejabberd ngircd inspircd python3 python3-slixmpp)
# What the unpacked ircd-hybrid needs (its package's dependencies).
PURPLE_TEST_PACKAGES+=(libltdl7 libgnutls30 libcrypt1 openssl)
# The libpurple tests' Pidgin on a virtual X screen, driven with xdotool,
# measured with xwininfo (x11-utils) and pictured with ImageMagick's import.
PIDGIN_TEST_PACKAGES=(pidgin xvfb xdotool x11-utils imagemagick)

# ircd-hybrid conflicts with ngircd, so its package is not installed: it is
# unpacked here and run from there (tests/purple/servers.sh).
IRCD_HYBRID_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/ircd-hybrid

# need_ircd_hybrid: downloads the ircd-hybrid package into IRCD_HYBRID_DIR
# and unpacks it into IRCD_HYBRID_DIR/root, unless that was done.
need_ircd_hybrid() {
  [ -x "$IRCD_HYBRID_DIR/root/usr/sbin/ircd-hybrid" ] && return 0
  rm -rf "$IRCD_HYBRID_DIR"
  mkdir -p "$IRCD_HYBRID_DIR"
  if ! (cd "$IRCD_HYBRID_DIR" && apt-get download -qq ircd-hybrid >/dev/null 2>&1); then
    [ "$(id -u)" -eq 0 ] && apt_update_once
    (cd "$IRCD_HYBRID_DIR" && apt-get download -qq ircd-hybrid >/dev/null) || return 1
  fi
  dpkg -x "$IRCD_HYBRID_DIR"/ircd-hybrid_*.deb "$IRCD_HYBRID_DIR/root"
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

# --- Building ----------------------------------------------------------------

# runs_32bit_programs: true when this kernel runs 32-bit x86 programs (wine32
# needs that; some kernels are built without IA32 emulation).
runs_32bit_programs() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# build_preset PRESET: configures and builds one CMake preset (native, asan,
# win32, win64, ...).
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

# --- Test results --------------------------------------------------------------

# The checks of a test script: each prints "ok - WHAT" or "not ok - WHAT"
# (with what helps to see why indented below it as "#   " lines), and
# checks_summary prints "NAME: N passed, N failed" last.
PASSED=0
FAILED=0

ok() {
  echo "ok - $1"
  PASSED=$((PASSED + 1))
}

# not_ok WHAT [DETAILS]
not_ok() {
  echo "not ok - $1"
  FAILED=$((FAILED + 1))
  [ -n "${2:-}" ] && sed 's/^/#   /' <<<"$2"
  return 0
}

# skip WHAT WHY: a check this machine cannot make, said so and not counted.
skip() {
  echo "skip - $1: $2"
}

# check WHAT COMMAND...: passed when COMMAND succeeds; what it printed is
# shown when it does not.
check() {
  local what=$1 out
  shift
  if out=$("$@" 2>&1); then ok "$what"; else not_ok "$what" "$out"; fi
}

# check_fails WHAT COMMAND...: passed when COMMAND fails.
check_fails() {
  local what=$1 out
  shift
  if out=$("$@" 2>&1); then not_ok "$what" "$out"; else ok "$what"; fi
}

# wait_for SECONDS COMMAND...: retries COMMAND every 0.1 s until it succeeds;
# fails when SECONDS pass first.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}

# program_checks WHAT OUTPUT: a test program that printed its own closing
# line "NAME: N passed, N failed" in OUTPUT counts as its checks, shown as
# one "ok" or "not ok" line.
program_checks() {
  local line p f
  line=$(tr -d '\r' <<<"$2" | grep -E '^[a-z_]+: [0-9]+ passed, [0-9]+ failed' | tail -1) || true
  if [ -z "$line" ]; then
    not_ok "$1: no result"
    return
  fi
  p=$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")
  f=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
  PASSED=$((PASSED + p))
  FAILED=$((FAILED + f))
  echo "$([ "$f" -eq 0 ] && echo ok || echo 'not ok') - $1 ($p checks passed, $f failed)"
}

# checks_summary NAME: the closing line; fails when a check failed.
checks_summary() {
  echo "$1: $PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
}

# --- A network of loopback only ---------------------------------------------------

# in_loopback_namespace COMMAND...: runs COMMAND in a new network namespace
# whose only interface is loopback, up: as root directly, otherwise in a
# user namespace where the caller is root. Servers started there take no
# port of the machine and are reachable from nowhere else. Fails with a
# message when neither is allowed.
in_loopback_namespace() {
  local as=()
  [ "$(id -u)" -eq 0 ] || as=(--map-root-user)
  if ! unshare "${as[@]}" --net true 2>/dev/null; then
    echo "a loopback-only network namespace needs root, or unprivileged user namespaces" >&2
    return 1
  fi
  unshare "${as[@]}" --net -- sh -c 'ip link set lo up && exec "$@"' sh "$@"
}
