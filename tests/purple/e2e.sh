#!/usr/bin/env bash
# Zuvo File Sharing in libpurple clients over real chat servers.
#
#   tests/purple/e2e.sh BIN_DIR [xmpp] [irc] [finch] [baseline]
#
# Runs inside a network namespace that has only loopback (scripts/test-purple
# starts it so). BIN_DIR holds purple_peer and zuvo-file-sharing.so. Each
# group starts its own servers and clients in a fresh temporary folder:
#   xmpp, irc  two headless clients with the plug-in (ann asks, bob shares)
#              and a stranger (eve, in nobody's buddy list) over prosody or ngircd
#   finch      real Finch in tmux as ann, bob headless, over prosody
#   baseline   messages and a file transfer between two clients without the
#              plug-in (proves the servers and the client)
# Prints "ok - ..." or "not ok - ..." per check, "# ..." for measurements, and
# "purple: N passed, N failed" last; exits 1 when a check failed.
set -uo pipefail

BIN=$(cd "$1" && pwd)
shift
GROUPS_TO_RUN=("$@")
[ ${#GROUPS_TO_RUN[@]} -eq 0 ] && GROUPS_TO_RUN=(xmpp irc finch)
PEER=$BIN/purple_peer
PLUGIN=$BIN/zuvo-file-sharing.so
PREF=/plugins/core/zuvo-file-sharing
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/servers.sh"

ip link set lo up

ROOT=$(mktemp -d /tmp/zuvo-purple.XXXXXX)
PASSED=0 FAILED=0
declare -A FD PID
PIDS=()
TMUX_SOCKET=zuvo-e2e-$$

cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  PIDS=()
  local name
  for name in "${!FD[@]}"; do exec {FD[$name]}>&-; done
  FD=() PID=()
  tmux -L "$TMUX_SOCKET" kill-server 2>/dev/null
  stop_servers
}
trap 'cleanup; [ "$FAILED" -eq 0 ] && rm -rf "$ROOT"' EXIT

ok() { echo "ok - $1"; PASSED=$((PASSED + 1)); }
not_ok() {
  echo "not ok - $1"
  FAILED=$((FAILED + 1))
  [ -n "${2:-}" ] && echo "$2" | sed 's/^/#   /' | head -20
  return 0
}
# check DESCRIPTION COMMAND...: one check, passed when COMMAND succeeds.
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else not_ok "$what"; fi
}

# --- Headless clients ----------------------------------------------------------

# peer_start NAME ARGS...: starts a client reading commands from a pipe; its
# output goes to $T/NAME.log.
peer_start() {
  local name=$1 fd
  shift
  mkfifo "$T/$name.in"
  "$PEER" --dir "$T/$name" --timeout 600 "$@" <"$T/$name.in" >"$T/$name.log" 2>&1 &
  PIDS+=($!)
  PID[$name]=$!
  exec {fd}>"$T/$name.in"
  FD[$name]=$fd
}
say() { echo "$2" >&"${FD[$1]}"; }

# The lines of NAME's output after "mark MARK".
after() { awk -v m="$2" 'on { print } $2 == "mark" && $3 == m { on = 1 }' "$T/$1.log"; }
# The texts of the system lines NAME's conversations showed after MARK.
sys_after() { after "$1" "$2" | sed -n 's/^[0-9]* [^ ]* conv [^ ]* sys [^:]*: //p'; }

# wait_for SECONDS COMMAND...: retries COMMAND every 0.1 s until it succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}
has_line() { grep -qF -- "$2" "$T/$1.log"; }
has_after() { after "$1" "$2" | grep -qF -- "$3"; }
sys_has() { sys_after "$1" "$2" | grep -qxF -- "$3"; }
# The lines of the input that begin with $1.
starting() { awk -v p="$1" 'index($0, p) == 1'; }
sys_count_ge() { [ "$(sys_after "$1" "$2" | starting "$3" | wc -l)" -ge "$4" ]; }

# ask STEP TEXT: ann types TEXT in her conversation with bob, after a mark.
ask() {
  say ann "mark $1"
  say ann "im ann $BOB $2"
}

# expect_paths DESCRIPTION STEP PREFIX EXPECTED_FILE [SECONDS]: the paths
# under PREFIX that ann was shown after STEP are exactly those in
# EXPECTED_FILE (as sets, each once).
expect_paths() {
  local what=$1 step=$2 prefix=$3 expected=$4 n
  n=$(wc -l <"$expected")
  wait_for "${5:-20}" sys_count_ge ann "$step" "$prefix" "$n"
  sleep 0.3
  local got
  got=$(sys_after ann "$step" | starting "$prefix" | sort)
  if [ "$got" = "$(sort "$expected")" ]; then
    ok "$what"
  else
    not_ok "$what" "$(diff <(echo "$got") <(sort "$expected") | head -10)"
  fi
}

# A listing's time: from its mark to the last line shown, in milliseconds.
elapsed_ms() {
  local start end
  start=$(awk -v m="$2" '$2 == "mark" && $3 == m { print $1; exit }' "$T/$1.log")
  end=$(after "$1" "$2" | grep ' sys ' | tail -1 | cut -d' ' -f1)
  echo $((end - start))
}

make_share() {
  SHARE=$T/share
  mkdir -p "$SHARE/docs/old" "$SHARE/pics"
  echo "read me" >"$SHARE/readme.txt"
  echo "# notes" >"$SHARE/notes.md"
  echo "a" >"$SHARE/docs/a.txt"
  echo "r&d" >"$SHARE/docs/r&d <1>.txt"
  echo "c" >"$SHARE/docs/old/c.txt"
  head -c 1000 /dev/urandom >"$SHARE/pics/photo.png"
  head -c 1048576 /dev/urandom >"$SHARE/big.bin"
  echo "secret" >"$T/secret.txt"
}

# make_many DIR N: a folder of N files in 100 sub-folders.
make_many() {
  local dir=$1 n=$2 i
  mkdir -p "$dir"
  for ((i = 0; i < n; i++)); do
    [ $((i % 100)) -eq 0 ] && mkdir -p "$dir/d$((i / 100))"
    : >"$dir/d$((i / 100))/file-$i.txt"
  done
}

start_xmpp() {
  start_prosody "$T" "ann bob" eve || return 1
  account() { echo "account $1 prpl-jabber $1@localhost/peer pw connect_server=127.0.0.1 ft_proxies= auth_plain_in_clear=b:1 connection_security=opportunistic_tls"; }
  contact() { echo "$1@localhost"; }
}

start_irc() {
  start_ngircd "$T" || return 1
  account() { echo "account $1 prpl-irc $1@127.0.0.1 - port=i:6667"; }
  contact() { echo "$1"; }
}

# wait_online NAME...: each client's account signed on.
wait_online() {
  local name
  for name in "$@"; do
    wait_for 20 has_line "$name" "$name online" || { not_ok "$name signs on" "$(tail -5 "$T/$name.log")"; return 1; }
  done
}

# --- Two clients with the plug-in ----------------------------------------------

run_plugin_group() {
  local proto=$1
  PROTO=$proto
  T=$ROOT/$proto
  mkdir -p "$T"
  echo "# $proto"
  "start_$proto" || { not_ok "$proto: servers start"; return; }
  make_share
  make_many "$T/many100" 100
  make_many "$T/many10k" 10000
  ANN=$(contact ann) BOB=$(contact bob)
  local limit=()
  # Over XMPP the whole 10,000-entry listing is asked for; IRC keeps the default limit.
  [ "$proto" = xmpp ] && limit=(--pref "$PREF/max_reply_lines=i:20000")
  BOB_PREFS=(--plugins "$BIN" --pref "$PREF/start_on=b:1" --pref "$PREF/sub_folders=b:1" "${limit[@]}")
  peer_start bob "${BOB_PREFS[@]}" --pref "$PREF/shared_folder=s:$SHARE"
  BOBP=bob
  peer_start ann --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/ann-share" \
    --pref "$PREF/start_on=b:1" --pref "$PREF/downloads=s:$T/downloads"
  peer_start eve --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/eve-share" \
    --pref "$PREF/start_on=b:1"
  mkdir -p "$T/downloads" "$T/ann-share" "$T/eve-share"
  local who
  for who in ann bob eve; do say "$who" "$(account "$who")"; done
  if [ "$proto" = irc ]; then
    say ann "buddy ann $BOB"
    say bob "buddy bob $ANN"
  fi
  wait_online ann bob eve || return
  sleep 1

  find "$SHARE" -type f >"$T/all"
  ask list "/xrlist"
  expect_paths "$proto: a listing shows every shared file" list "$SHARE/" "$T/all"

  find "$SHARE" -type f \( -name '*.txt' -o -name '*.md' \) >"$T/txt-md"
  ask patterns "/xrlist *.txt;*.md"
  expect_paths "$proto: a listing with patterns shows only matching files" patterns "$SHARE/" "$T/txt-md"

  find "$SHARE/docs" -maxdepth 1 -type f >"$T/docs"
  ask folder "/xrfolder docs"
  expect_paths "$proto: a folder's files" folder "$SHARE/" "$T/docs"

  echo "$SHARE/docs/old" >"$T/subs"
  ask folders "/xrfolders docs"
  expect_paths "$proto: a folder's sub-folders" folders "$SHARE/" "$T/subs"

  echo "$SHARE/docs/old/c.txt" >"$T/found"
  ask search "/xrsearch c.txt"
  expect_paths "$proto: a search finds the file in a sub-folder" search "$SHARE/" "$T/found"

  ask file "/xrfile $SHARE/big.bin"
  if wait_for 30 test -f "$T/downloads/big.bin" && wait_for 10 has_after ann file "ann xfer-done"; then
    check "$proto: a requested file arrives in the downloads folder with equal bytes" \
      cmp -s "$T/downloads/big.bin" "$SHARE/big.bin"
  else
    not_ok "$proto: a requested file arrives" "$(after ann file | tail -5; ls -a "$T/downloads")"
  fi

  ask traversal "/xrfile $SHARE/../secret.txt"
  check "$proto: a path leaving the shared folder is refused" wait_for 20 sys_has ann traversal \
    "That file is not in the shared folder, you do not have access to it"
  sleep 1
  check "$proto: and nothing is sent" bash -c "! grep -q 'xfer' <<<\"\$1\"" _ "$(after ann traversal)"

  say bob "mark off"
  say bob "im bob $ANN /xroff"
  check "$proto: turning sharing off shows a toast" wait_for 10 has_after bob off "turned off"
  ask denied "/xrlist"
  check "$proto: requests are refused while sharing is off" wait_for 20 sys_has ann denied \
    "Request Denied, File Sharing is Turned off"
  say bob "im bob $ANN /xron"
  wait_for 10 has_after bob off "turned on"

  say bob "mark stranger"
  say eve "mark stranger"
  say eve "im eve $BOB /xrlist"
  check "$proto: the user is told of a stranger's request" wait_for 20 told_of_eve
  # Allow the time an answer would take before judging silence.
  sleep 3
  check "$proto: a stranger's request is not answered" bash -c '! grep -qF -- "$1" <<<"$2"' _ \
    "$SHARE" "$(after eve stranger)"

  # A shared folder changed in the preferences counts at once.
  say "$BOBP" "pref $PREF/shared_folder s:$T/many100"
  find "$T/many100" -type f >"$T/expect100"
  ask many100 "/xrlist"
  expect_paths "$proto: a 100-entry listing" many100 "$T/many100/" "$T/expect100" 60
  echo "# $proto: /xrlist to last line, 100 entries: $(elapsed_ms ann many100) ms"

  restart_bob bob10k "$T/many10k"
  find "$T/many10k" -type f >"$T/expect10k"
  say ann "mark rss0"
  say ann "rss"
  say "$BOBP" "mark rss0"
  say "$BOBP" "rss"
  ask many10k "/xrlist"
  if [ "$proto" = xmpp ]; then
    expect_paths "$proto: a 10,000-entry listing arrives whole" many10k "$T/many10k/" "$T/expect10k" 120
  else
    check_cut_listing
  fi
  echo "# $proto: /xrlist to last line, 10,000 entries: $(elapsed_ms ann many10k) ms"
  say ann "mark rss1"
  say ann "rss"
  say "$BOBP" "mark rss1"
  say "$BOBP" "rss"
  wait_for 5 has_after ann rss1 " rss "
  wait_for 5 has_after "$BOBP" rss1 " rss "
  local r
  for who in ann "$BOBP"; do
    r=$(for m in rss0 rss1; do after "$who" "$m" | awk '$2 == "rss" { print $3; exit }'; done | paste -sd' ')
    echo "# $proto: $who's RSS before and after the 10,000-entry listing (KiB): $r"
  done

  local shown
  shown=$(grep -h ' conv .* recv ' "$T"/*.log | head -3)
  check "$proto: no request or reply is shown as chat text" test -z "$shown"
  cleanup
}

# bob was shown a line (in a conversation or a notice) naming eve.
told_of_eve() { after bob stranger | grep -E ' (sys|notify) ' | grep -q eve; }

# restart_bob NAME SHARE: bob signs off and on again as client NAME, sharing
# SHARE (the plug-in reads its shared folder when it starts).
restart_bob() {
  say "$BOBP" quit
  wait "${PID[$BOBP]}" 2>/dev/null
  BOBP=$1
  peer_start "$BOBP" "${BOB_PREFS[@]}" --pref "$PREF/shared_folder=s:$2"
  say "$BOBP" "$(account bob)"
  [ "$PROTO" = irc ] && say "$BOBP" "buddy bob $ANN"
  wait_for 20 has_line "$BOBP" "bob online" || not_ok "bob signs on again"
  sleep 1
}

# A listing over the reply limit: the first lines, then one line saying how
# many were left out.
notice_after() { sys_after ann "$1" | grep -v -e '^Accepted' -e "^$T/" | grep -E '[0-9]'; }
check_cut_listing() {
  wait_for 180 notice_after many10k >/dev/null
  local paths notice
  paths=$(sys_after ann many10k | starting "$T/many10k/" | wc -l)
  notice=$(notice_after many10k | tail -1)
  if [ "$paths" -gt 0 ] && [ "$paths" -lt 10000 ] && grep -qw -- "$((10000 - paths))" <<<"$notice"; then
    ok "irc: a 10,000-entry listing is cut, with a line saying how many were left out ($paths shown)"
  else
    not_ok "irc: a 10,000-entry listing is cut with its notice" "paths shown: $paths; notice: $notice"
  fi
  local strays
  strays=$(comm -23 <(sys_after ann many10k | starting "$T/many10k/" | sort) <(sort "$T/expect10k"))
  check "irc: the lines shown are the listing's own" test -z "$strays"
}

# --- Without the plug-in -------------------------------------------------------

run_baseline() {
  T=$ROOT/baseline
  mkdir -p "$T/downloads"
  echo "# baseline"
  start_prosody "$T" "ann bob" || { not_ok "prosody starts"; return; }
  start_ngircd "$T" || { not_ok "ngircd starts"; return; }
  peer_start ann
  peer_start bob
  say ann "account ann prpl-jabber ann@localhost/peer pw connect_server=127.0.0.1 ft_proxies= auth_plain_in_clear=b:1 connection_security=opportunistic_tls"
  say bob "account bob prpl-jabber bob@localhost/peer pw connect_server=127.0.0.1 ft_proxies= auth_plain_in_clear=b:1 connection_security=opportunistic_tls"
  say ann "account ia prpl-irc ann@127.0.0.1 - port=i:6667"
  say bob "account ib prpl-irc bob@127.0.0.1 - port=i:6667"
  wait_online ann bob || return
  wait_for 20 has_line ann "ia online" && wait_for 20 has_line bob "ib online"
  say bob "accept $T/downloads"
  head -c 300000 /dev/urandom >"$T/f.bin"
  say ann "im ann bob@localhost hello <&>"
  say ann "im ia bob hello irc"
  check "baseline: an XMPP message arrives as written" wait_for 10 has_line bob "recv ann@localhost/peer: hello <&>"
  check "baseline: an IRC message arrives" wait_for 10 has_line bob "ib conv ann recv ann: hello irc"
  say ann "sendfile ann bob@localhost/peer $T/f.bin"
  check "baseline: an XMPP file transfer" wait_for 20 has_line bob "bob xfer-done"
  check "baseline: with equal bytes" cmp -s "$T/f.bin" "$T/downloads/f.bin"
  cleanup
}

# --- Real Finch -----------------------------------------------------------------

# finch_config DIR DOWNLOADS: accounts.xml and prefs.xml for ann over XMPP,
# with the plug-in loaded and conversations logged as text.
finch_config() {
  mkdir -p "$1"
  cat >"$1/accounts.xml" <<XML
<?xml version='1.0' encoding='UTF-8' ?>
<account version='1.0'>
 <account>
  <protocol>prpl-jabber</protocol>
  <name>ann@localhost/finch</name>
  <password>pw</password>
  <settings>
   <setting name='connect_server' type='string'>127.0.0.1</setting>
   <setting name='auth_plain_in_clear' type='bool'>1</setting>
   <setting name='connection_security' type='string'>opportunistic_tls</setting>
   <setting name='ft_proxies' type='string'></setting>
  </settings>
  <settings ui='gnt-purple'>
   <setting name='auto-login' type='bool'>1</setting>
  </settings>
 </account>
</account>
XML
  cat >"$1/prefs.xml" <<XML
<?xml version='1.0' encoding='UTF-8' ?>
<pref version='1' name='/'>
 <pref name='purple'>
  <pref name='network'>
   <pref name='auto_ip' type='bool' value='0'/>
   <pref name='public_ip' type='string' value='127.0.0.1'/>
  </pref>
  <pref name='logging'>
   <pref name='format' type='string' value='txt'/>
   <pref name='log_ims' type='bool' value='1'/>
   <pref name='log_system' type='bool' value='1'/>
  </pref>
 </pref>
 <pref name='finch'>
  <pref name='plugins'>
   <pref name='loaded' type='pathlist'>
    <item value='$PLUGIN'/>
   </pref>
  </pref>
 </pref>
 <pref name='plugins'>
  <pref name='core'>
   <pref name='zuvo-file-sharing'>
    <pref name='downloads' type='string' value='$2'/>
    <pref name='start_on' type='bool' value='1'/>
   </pref>
  </pref>
 </pref>
</pref>
XML
}

finch_log() { cat "$T"/finch/logs/jabber/ann@localhost/bob@localhost/*.txt 2>/dev/null; }
finch_log_has() { finch_log | grep -qF -- "$1"; }
finch_screen() { tmux -L "$TMUX_SOCKET" capture-pane -p -t finch; }
finch_type() { tmux -L "$TMUX_SOCKET" send-keys -t finch -l "$1" && tmux -L "$TMUX_SOCKET" send-keys -t finch Enter; }
finch_log_has_all() {
  local p
  while read -r p; do finch_log_has "$p" || return 1; done <"$1"
}

run_finch() {
  T=$ROOT/finch
  mkdir -p "$T/downloads"
  echo "# finch"
  start_prosody "$T" "ann bob" || { not_ok "prosody starts"; return; }
  make_share
  finch_config "$T/finch" "$T/downloads"
  peer_start bob --plugins "$BIN" --pref "$PREF/shared_folder=s:$SHARE" --pref "$PREF/start_on=b:1" \
    --pref "$PREF/sub_folders=b:1"
  say bob "account bob prpl-jabber bob@localhost/peer pw connect_server=127.0.0.1 ft_proxies= auth_plain_in_clear=b:1 connection_security=opportunistic_tls"
  wait_online bob || return
  TERM=xterm-256color tmux -L "$TMUX_SOCKET" -f /dev/null new-session -d -s finch -x 160 -y 50 \
    "finch -c '$T/finch' 2>'$T/finch.err'"
  wait_for 20 bash -c 'grep -qs "signed on" "$1"/finch/logs/jabber/ann@localhost/.system/*' _ "$T"
  sleep 1
  # bob says hello, which opens the conversation in Finch; Alt-n brings it forward.
  say bob "im bob ann@localhost hello ann"
  wait_for 10 finch_log_has "hello ann" || { not_ok "finch: the conversation opens" "$(finch_screen)"; return; }
  tmux -L "$TMUX_SOCKET" send-keys -t finch M-n
  sleep 0.5
  finch_type "/xrlist"
  find "$SHARE" -type f >"$T/all"
  if wait_for 30 finch_log_has_all "$T/all"; then
    ok "finch: /xrlist typed into Finch shows every file of the other user's share"
  else
    not_ok "finch: /xrlist typed into Finch shows the other user's files" "$(finch_log | tail -8)"
  fi
  check "finch: the files are on Finch's screen" bash -c 'grep -qF "notes.md" <<<"$1"' _ "$(finch_screen)"
  finch_type "/xrfile $SHARE/docs/r&d <1>.txt"
  # The saved name is the plug-in's plain form of the sender's name.
  if wait_for 30 bash -c 'ls "$1" | grep -q "^r&d"' _ "$T/downloads"; then
    sleep 0.5
    check "finch: /xrfile saves the file with equal bytes" cmp -s "$T/downloads/$(ls "$T/downloads")" \
      "$SHARE/docs/r&d <1>.txt"
  else
    not_ok "finch: /xrfile saves the file" "$(ls -la "$T/downloads"; finch_screen | grep -v '^ *$' | tail -8)"
  fi
  cleanup
}

for group in "${GROUPS_TO_RUN[@]}"; do
  case $group in
    xmpp | irc) run_plugin_group "$group" ;;
    finch) run_finch ;;
    baseline) run_baseline ;;
    *) echo "unknown group $group" >&2; exit 64 ;;
  esac
done
[ "$FAILED" -ne 0 ] && echo "# the clients' and servers' files are kept in $ROOT"
echo "purple: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
