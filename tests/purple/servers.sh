# Local chat servers for the libpurple tests, scripts/try-finch and
# tests/purple/flood.py, on 127.0.0.1 only (XMPP on port 5222, IRC on 6667),
# each with every file of its own under DIR/NAME. Source it; do not run it.
# Run them in a network namespace that has only loopback: the ports are then
# free whatever the machine runs, and nothing is reachable from outside.
#
#   start_server NAME DIR [FRIENDS [USERS]]
#
# XMPP_SERVERS and IRC_SERVERS name them. Every XMPP server gets the domain
# "localhost" and an account with the password "pw" for every FRIEND and
# USER (words); every FRIEND has every other FRIEND in their roster with
# mutual subscription, USERs have empty rosters. IRC servers need no
# accounts. Packages: PURPLE_TEST_PACKAGES in scripts/lib.sh; ircd-hybrid is
# unpacked, not installed (need_ircd_hybrid there). SERVER_LOG_LEVEL=debug
# has prosody log at its debug level (every stanza's top element and the
# sessions' events) in DIR/prosody/prosody.log; ngircd, as Debian builds
# it, has no debug level: DIR/ngircd/ngircd.log holds what it writes in
# the foreground (connections, nick changes, errors).
#
# What each lets one client send with these settings, as
# tests/purple/measure-servers measured it on loopback (lines of about 400
# bytes; PRIVMSG, NOTICE, CTCP and CTCP replies alike; delivery under 10 ms
# within the limits):
#
#   prosody          no shaper (mod_limits not loaded); a stanza of up to
#                    about 266,000 bytes, a larger one closes the stream
#                    (policy-violation); carbons; no archive
#   prosody-debian   Debian's c2s limit "10kb/s": about 8 KB at once, then
#                    9,900 bytes/s; stanzas as above; carbons; no archive
#                    (Debian's file leaves "mam" out)
#   ejabberd         shaper "normal": 20,000 bytes at once, then 3,000
#                    bytes/s; max_stanza_size 262,144 (a 261,000-byte body
#                    passes, 262,100 closes the stream); carbons; archive
#                    (mod_mam, which Debian's file leaves out)
#   ngircd           4 lines at once, then 2.5 a second; more is held back,
#                    never dropped (60 at once took 25 s); a line over 512
#                    bytes ends the link ("Request too long")
#   inspircd         <connect> threshold 10, commandrate 1000, fakelag,
#                    recvq 8192: 11 lines at once, then 1 a second; 2 a
#                    second are held back (4 s after 30 lines); 60 at once
#                    end the link at once ("RecvQ exceeded"); a longer text
#                    is cut to fit the relayed line (470 bytes here)
#   hybrid           class "users" recvq 2560: 5 or 6 lines at once, 1 a
#                    second; 15 at once, or 2 a second for 10 s, end the link
#                    ("Excess Flood"); a longer text is cut (469 bytes here)

XMPP_SERVERS=(prosody prosody-debian ejabberd)
IRC_SERVERS=(ngircd inspircd hybrid)
SERVER_PIDS=()

# start_server NAME DIR [FRIENDS [USERS]]: starts one server of the lists
# above and waits until it takes connections.
start_server() {
  local name=$1
  shift
  case $name in
    prosody) start_prosody "$@" ;;
    prosody-debian) start_prosody_debian "$@" ;;
    ejabberd) start_ejabberd "$@" ;;
    ngircd) start_ngircd "$@" ;;
    inspircd) start_inspircd "$@" ;;
    hybrid) start_hybrid "$@" ;;
    *) echo "unknown server $name" >&2; return 64 ;;
  esac
}

# is_xmpp_server NAME: NAME is one of XMPP_SERVERS.
is_xmpp_server() { [[ " ${XMPP_SERVERS[*]} " == *" $1 "* ]]; }

# --- XMPP ------------------------------------------------------------------------

# start_prosody DIR "FRIEND..." [USER...]: the test server, without limits,
# TLS or archive, with message carbons, plain passwords allowed.
start_prosody() {
  local dir=$1/prosody
  mkdir -p "$dir/data"
  prosody_loopback_settings "$dir" >"$dir/prosody.cfg.lua"
  cat >>"$dir/prosody.cfg.lua" <<CFG
authentication = "internal_plain"
modules_enabled = { "roster", "saslauth", "disco", "ping", "presence", "offline", "carbons" }
modules_disabled = { "s2s", "tls" }
VirtualHost "localhost"
CFG
  run_prosody "$dir" "${@:2}"
}

# start_prosody_debian DIR "FRIEND..." [USER...]: prosody as Debian's
# prosody.cfg.lua sets it up (its modules, its c2s rate limit), changed only
# where a test on loopback needs it: the files under DIR, 127.0.0.1, no TLS
# (no certificates), plain passwords allowed on the unencrypted stream, only
# the "localhost" host.
start_prosody_debian() {
  local dir=$1/prosody-debian
  mkdir -p "$dir/data" "$dir/certs"
  {
    # Debian's global section (before its first VirtualHost) without the
    # settings set here.
    awk '
      /^VirtualHost/ { exit }
      /^(pidfile|log|modules_disabled) *=/ { dropping = /\{ *$/; next }
      dropping { dropping = !/^\}/; next }
      { print }
    ' /etc/prosody/prosody.cfg.lua
    prosody_loopback_settings "$dir"
    echo 'modules_disabled = { "s2s", "tls" }'
    echo 'VirtualHost "localhost"'
  } >"$dir/prosody.cfg.lua"
  run_prosody "$dir" "${@:2}"
}

# prosody_loopback_settings DIR: the settings every test prosody shares.
prosody_loopback_settings() {
  cat <<CFG
run_as_root = true
daemonize = false
pidfile = "$1/prosody.pid"
data_path = "$1/data"
log = { { levels = { min = "${SERVER_LOG_LEVEL:-info}" }, to = "file", filename = "$1/prosody.log" } }
interfaces = { "127.0.0.1" }
c2s_ports = { 5222 }
c2s_require_encryption = false
allow_unencrypted_plain_auth = true
CFG
}

# run_prosody DIR "FRIEND..." [USER...]: registers the accounts with their
# rosters, then starts prosody with DIR/prosody.cfg.lua.
run_prosody() {
  local dir=$1 friends=$2
  local user other
  for user in $friends "${@:3}"; do
    prosodyctl --config "$dir/prosody.cfg.lua" register "$user" localhost pw >/dev/null 2>&1 || {
      echo "prosodyctl could not register $user" >&2
      return 1
    }
    mkdir -p "$dir/data/localhost/roster"
    {
      echo 'return {'
      echo '  [false] = { version = 1; pending = {}; };'
      for other in $(roster_of "$user" "$friends"); do
        echo "  [\"$other@localhost\"] = { subscription = \"both\"; groups = { [\"Buddies\"] = true; }; name = \"$other\"; };"
      done
      echo '};'
    } >"$dir/data/localhost/roster/$user.dat"
  done
  rm -rf "$dir/data/localhost/offline"
  prosody --config "$dir/prosody.cfg.lua" -F >"$dir/stdout.log" 2>&1 &
  SERVER_PIDS+=($!)
  wait_port 5222 || { echo "prosody did not start:" >&2; tail -5 "$dir/prosody.log" >&2; return 1; }
}

# roster_of USER "FRIEND...": the friends USER has in the roster (none when
# USER is no friend).
roster_of() {
  [[ " $2 " == *" $1 "* ]] || return 0
  local other
  for other in $2; do
    [ "$other" != "$1" ] && echo "$other"
  done
}

# start_ejabberd DIR "FRIEND..." [USER...]: ejabberd as Debian's ejabberd.yml
# sets it up (its modules, shaper and stanza limit), changed only where a
# test on loopback needs it: one client listener on 127.0.0.1:5222 without
# TLS (no certificates), plain passwords allowed on it, and the message
# archive (mod_mam, as upstream's example configuration has it). It runs as
# the calling user, its Erlang distribution on a fixed port of its own
# without epmd (nothing outlives it), and is driven through ejabberd_ctl.
EJABBERD_DIST_PORT=5210
start_ejabberd() {
  local dir=$1/ejabberd friends=$2
  mkdir -p "$dir/db"
  # Debian's file without its listeners and certificates; ours added.
  awk '
    /^[a-z_]+:/ { skip = ($1 == "listen:" || $1 == "certfiles:") }
    /^modules:/ { print; print "  mod_mam:\n    assume_mam_usage: true\n    default: always"; next }
    !skip { print }
  ' /etc/ejabberd/ejabberd.yml >"$dir/ejabberd.yml"
  # The listener keeps Debian's stanza limit and shaper.
  cat >>"$dir/ejabberd.yml" <<CFG
listen:
  -
    port: 5222
    ip: "127.0.0.1"
    module: ejabberd_c2s
    max_stanza_size: 262144
    shaper: c2s_shaper
    access: c2s
    starttls: false
CFG
  local erl_lib
  erl_lib=$(dirname "$(ls -d /usr/lib/*/ejabberd-[0-9]* | head -1)")
  HOME=$dir EJABBERD_CONFIG_PATH=$dir/ejabberd.yml EJABBERD_LOG_PATH=$dir/ejabberd.log \
    ERL_LIBS=$erl_lib ERL_INETRC=/etc/ejabberd/inetrc \
    erl -sname ejabberd@localhost -setcookie zuvo-test -noinput +K true \
    -erl_epmd_port "$EJABBERD_DIST_PORT" -start_epmd false \
    -mnesia dir "\"$dir/db\"" -ejabberd log_rotate_count 0 -s ejabberd \
    >"$dir/stdout.log" 2>&1 &
  SERVER_PIDS+=($!)
  # Once it has started: the accounts and rosters, all in one call of a
  # control node.
  local user other calls=()
  for user in $friends "${@:3}"; do
    calls+=("[\"register\", \"$user\", \"localhost\", \"pw\"]")
    for other in $(roster_of "$user" "$friends"); do
      calls+=("[\"add_rosteritem\", \"$user\", \"localhost\", \"$other\", \"localhost\", \"$other\", \"Buddies\", \"both\"]")
    done
  done
  HOME=$dir erl -sname "ctl-$$@localhost" -setcookie zuvo-test -hidden -noinput \
    -erl_epmd_port "$EJABBERD_DIST_PORT" -start_epmd false -dist_listen false -eval "
      Run = fun(Call) -> rpc:call('ejabberd@localhost', ejabberd_ctl, process, [Call]) end,
      Started = fun Wait(0) -> false; Wait(N) ->
        Run([\"status\"]) =:= 0 orelse begin timer:sleep(200), Wait(N - 1) end end,
      Started(150) orelse halt(1),
      Bad = [{Call, R} || Call <- [$(IFS=,; echo "${calls[*]}")], (R = Run(Call)) =/= 0],
      io:format(\"~p~n\", [Bad]),
      halt(length(Bad))." >"$dir/ctl.log" 2>&1 || {
    echo "ejabberd did not start, or its accounts and rosters failed:" >&2
    tail -5 "$dir/ctl.log" "$dir/ejabberd.log" >&2
    return 1
  }
}

# --- IRC -------------------------------------------------------------------------

# start_ngircd DIR: ngircd with its built-in limits.
start_ngircd() {
  local dir=$1/ngircd
  mkdir -p "$dir"
  : >"$dir/motd"
  cat >"$dir/ngircd.conf" <<CFG
[Global]
Name = irc.localhost
Info = Zuvo test server
Listen = 127.0.0.1
Ports = 6667
MotdFile = $dir/motd
PidFile = $dir/ngircd.pid
[Limits]
MaxNickLength = 30
[Options]
PAM = no
DNS = no
Ident = no
CFG
  ngircd -n -p -f "$dir/ngircd.conf" >"$dir/ngircd.log" 2>&1 &
  SERVER_PIDS+=($!)
  wait_port 6667 || { echo "ngircd did not start:" >&2; tail -5 "$dir/ngircd.log" >&2; return 1; }
}

# start_inspircd DIR: InspIRCd 3 as Debian's inspircd.conf sets it up (its
# connect class and its limits), changed only where a test on loopback needs
# it: the files under DIR, no host name lookups, and more than 3 clients
# from the one address.
start_inspircd() {
  local dir=$1/inspircd
  mkdir -p "$dir"
  : >"$dir/motd"
  sed -e "s|/var/run/inspircd/inspircd.pid|$dir/inspircd.pid|" \
    -e "s|/etc/inspircd/inspircd.motd|$dir/motd|" \
    -e 's|localmax="3"|localmax="50" resolvehostnames="no"|' \
    -e 's|globalmax="3"|globalmax="50"|' \
    /etc/inspircd/inspircd.conf >"$dir/inspircd.conf"
  echo "<log method=\"file\" type=\"* -USERINPUT -USEROUTPUT\" level=\"default\" target=\"$dir/inspircd.log\">" \
    >>"$dir/inspircd.conf"
  inspircd --nofork --runasroot --config "$dir/inspircd.conf" >"$dir/stdout.log" 2>&1 &
  SERVER_PIDS+=($!)
  wait_port 6667 || { echo "inspircd did not start:" >&2; tail -5 "$dir/stdout.log" >&2; return 1; }
}

# start_hybrid DIR: ircd-hybrid 8 as Debian's ircd.conf sets it up (its
# classes and flood limits), changed only where a test on loopback needs it:
# the files under DIR, the plain port 6667 only (no TLS keys), no ident
# lookups (and no waiting for host name lookups), loopback clients in the
# ordinary "users" class (Debian's file puts them in a password-protected
# operators' class that may flood), and more than 2 clients from the one
# address. It runs from the package that
# scripts/lib.sh's need_ircd_hybrid unpacked into IRCD_HYBRID_DIR.
start_hybrid() {
  local dir=$1/hybrid root=$IRCD_HYBRID_DIR/root
  mkdir -p "$dir"
  : >"$dir/motd"
  awk -v dir="$dir" '
    /flags = hidden, tls;|port = 6697;|host = "127\.0\.0\.1"; # change this!/ { next }
    /(rsa_private_key_file|tls_certificate_file|tls_dh_param_file) =/ { next }
    { sub(/port = 6665 \.\. 6669;/, "host = \"127.0.0.1\"; port = 6667;") }
    { sub(/number_per_ip_local = 2;/, "number_per_ip_local = 50;") }
    { sub(/number_per_ip_global = 8;/, "number_per_ip_global = 50;") }
    { sub(/throttle_count = 1;/, "throttle_count = 50;") }
    { sub(/flags = need_ident;/, ""); sub(/disable_auth = no;/, "disable_auth = yes;") }
    { gsub(/\/var\/log\/ircd|\/var\/cache\/ircd-hybrid/, dir) }
    # The auth block for 127.0.0.1 goes.
    /^auth \{/ { block = ""; collecting = 1 }
    collecting { block = block $0 "\n"; if (/^\};/) { collecting = 0; if (block !~ /"\*@127\.0\.0\.1"/) printf "%s", block }; next }
    { print }
  ' "$root/etc/ircd-hybrid/ircd.conf" >"$dir/ircd.conf"
  # Its clients' host names are looked up whatever it is told: a name server
  # that answers "no such name" at once spares them the time-out.
  /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/no_dns.py" 2>"$dir/no_dns.log" &
  SERVER_PIDS+=($!)
  echo "nameserver 127.0.0.1" >"$dir/resolv.conf"
  # It refuses to run as root: as root it runs as nobody, still allowed to
  # read and write where root may (its folder is root's); where that user
  # does not exist (a user namespace mapping only root), in a user
  # namespace of its own as another user.
  local as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=+dac_override
    --ambient-caps=+dac_override --)
  "${as_other[@]}" true 2>/dev/null || as_other=(unshare --user --map-user=1000 --map-group=1000 --)
  # It loads its modules from where the package installs them: a private
  # view of /usr/lib that adds the unpacked ones shows them there. (In a
  # chroot, whose root is no mount point, unshare cannot make the new mount
  # namespace private; there it copies the caller's, when no mount of it
  # passes mounts on.)
  local propagation=private
  if ! unshare --mount true 2>/dev/null; then
    grep -q ' shared:' /proc/self/mountinfo &&
      { echo "ircd-hybrid: no private mount namespace here" >&2; return 1; }
    propagation=unchanged
  fi
  unshare --mount --propagation "$propagation" -- sh -c 'mount -t overlay overlay -o "lowerdir=$1/usr/lib:/usr/lib" /usr/lib &&
    mount --bind "$2/resolv.conf" /etc/resolv.conf && shift 2 &&
    exec "$@"' sh "$root" "$dir" "${as_other[@]}" \
    "$root/usr/sbin/ircd-hybrid" -foreground -configfile "$dir/ircd.conf" -pidfile "$dir/ircd.pid" \
    -logfile "$dir/ircd.log" -klinefile "$dir/kline.db" -dlinefile "$dir/dline.db" \
    -xlinefile "$dir/xline.db" -resvfile "$dir/resv.db" >"$dir/stdout.log" 2>&1 &
  SERVER_PIDS+=($!)
  wait_port 6667 || { echo "ircd-hybrid did not start:" >&2; tail -5 "$dir/stdout.log" >&2; return 1; }
}

# --- Both ------------------------------------------------------------------------

# stop_servers: stops the servers this shell started.
stop_servers() {
  local pid
  for pid in "${SERVER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SERVER_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SERVER_PIDS=()
  return 0
}

# wait_port PORT [SECONDS]: waits (15 seconds unless told) for a listener on
# 127.0.0.1:PORT.
wait_port() {
  local i
  for i in $(seq $((${2:-15} * 10))); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
