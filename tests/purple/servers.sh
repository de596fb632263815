# Local chat servers for the libpurple tests and scripts/try-finch: prosody
# (XMPP, port 5222) and ngircd (IRC, port 6667), on 127.0.0.1 only, with every
# file under one folder. Source it; do not run it.

# start_prosody DIR "FRIEND..." [USER...]: starts prosody with its
# configuration and data in DIR/prosody, for the domain "localhost", without
# TLS and with plain passwords allowed. Every FRIEND and USER gets an account
# with the password "pw"; every FRIEND has every other FRIEND in their roster
# with mutual subscription, USERs have empty rosters.
start_prosody() {
  local dir=$1/prosody friends=$2
  shift
  mkdir -p "$dir/data"
  cat >"$dir/prosody.cfg.lua" <<CFG
run_as_root = true
daemonize = false
pidfile = "$dir/prosody.pid"
data_path = "$dir/data"
log = { { levels = { min = "info" }, to = "file", filename = "$dir/prosody.log" } }
interfaces = { "127.0.0.1" }
c2s_ports = { 5222 }
c2s_require_encryption = false
allow_unencrypted_plain_auth = true
authentication = "internal_plain"
storage = "internal"
modules_enabled = { "roster", "saslauth", "disco", "ping", "presence", "offline" }
modules_disabled = { "s2s", "tls" }
VirtualHost "localhost"
CFG
  local user other
  for user in $friends ${@:2}; do
    prosodyctl --config "$dir/prosody.cfg.lua" register "$user" localhost pw >/dev/null 2>&1 || {
      echo "prosodyctl could not register $user" >&2
      return 1
    }
    mkdir -p "$dir/data/localhost/roster"
    {
      echo 'return {'
      echo '  [false] = { version = 1; pending = {}; };'
      for other in $friends; do
        [ "$other" = "$user" ] && continue
        [[ " $friends " == *" $user "* ]] || continue
        echo "  [\"$other@localhost\"] = { subscription = \"both\"; groups = { [\"Buddies\"] = true; }; name = \"$other\"; };"
      done
      echo '};'
    } >"$dir/data/localhost/roster/$user.dat"
  done
  rm -rf "$dir/data/localhost/offline"
  prosody --config "$dir/prosody.cfg.lua" -F >"$dir/stdout.log" 2>&1 &
  PROSODY_PID=$!
  wait_port 5222 || { echo "prosody did not start:" >&2; tail -5 "$dir/prosody.log" >&2; return 1; }
}

# start_ngircd DIR: starts ngircd on 127.0.0.1:6667 with its files in DIR/ngircd.
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
  NGIRCD_PID=$!
  wait_port 6667 || { echo "ngircd did not start:" >&2; tail -5 "$dir/ngircd.log" >&2; return 1; }
}

# stop_servers: stops the servers this shell started.
stop_servers() {
  local pid
  for pid in ${PROSODY_PID:-} ${NGIRCD_PID:-}; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  PROSODY_PID= NGIRCD_PID=
  return 0
}

# wait_port PORT: waits up to 15 seconds for a listener on 127.0.0.1:PORT.
wait_port() {
  local i
  for i in $(seq 150); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
