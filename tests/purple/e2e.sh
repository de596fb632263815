#!/usr/bin/env bash
# Zuvo File Sharing in libpurple clients over real chat servers.
#
#   tests/purple/e2e.sh BIN_DIR [GROUP...]
#
# Runs inside a network namespace that has only loopback (scripts/test-purple
# starts it so). BIN_DIR holds purple_peer and zuvo-file-sharing.so. Each
# group starts its own servers and clients in a fresh temporary folder:
#   SERVER     a server of tests/purple/servers.sh: two headless clients with
#              the plug-in (ann asks, bob shares) and a stranger (eve, in
#              nobody's buddy list) go through every request over it;
#              "xmpp" and "irc" name prosody and ngircd
#   smoke      for each of SMOKE_SERVERS: the clients sign on, messages
#              arrive, a listing arrives; and what a contact without the
#              plug-in, ann's second XMPP resource and the server's archive
#              were given of a request (printed as "# ..." lines)
#   finch      real Finch in tmux as ann, bob headless, over prosody
#   pidgin     real Pidgin on a virtual X screen as ann, driven with xdotool,
#              bob headless, over prosody (tests/purple/pidgin.sh)
#   baseline   messages and a file transfer between two clients without the
#              plug-in (proves the servers and the client)
# Without GROUPs: PLUGIN_SERVERS, then finch, pidgin and smoke.
# Prints "ok - ..." or "not ok - ..." per check, "# ..." for measurements, and
# "purple: N passed, N failed" last; exits 1 when a check failed. The
# clients' and servers' files are kept when a check failed, or when
# ZUVO_KEEP is set.
set -uo pipefail

BIN=$(cd "$1" && pwd)
shift
PEER=$BIN/purple_peer
PLUGIN=$BIN/zuvo-file-sharing.so
PREF=/plugins/core/zuvo-file-sharing
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../../scripts/lib.sh"
source "$HERE/servers.sh"
source "$HERE/clients.sh"
source "$HERE/pidgin.sh"
OBSERVER=$HERE/xmpp_observer.py

# The servers the plug-in's checks run on by default, and those the smoke
# group signs on to.
PLUGIN_SERVERS=(prosody ngircd)
SMOKE_SERVERS=("${XMPP_SERVERS[@]}" "${IRC_SERVERS[@]}")
# What the plug-in's pieces carry on the wire today, to count what others
# were given of an exchange.
WIRE_MARK='~zfs~'

GROUPS_TO_RUN=("$@")
[ ${#GROUPS_TO_RUN[@]} -eq 0 ] && GROUPS_TO_RUN=("${PLUGIN_SERVERS[@]}" finch pidgin smoke)

ROOT=$(mktemp -d /tmp/zuvo-purple.XXXXXX)
declare -A FD PID USER_OF ALIAS_OF
PIDS=()
TMUX_SOCKET=zuvo-e2e-$$

cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  PIDS=()
  local name
  for name in "${!FD[@]}"; do exec {FD[$name]}>&-; done
  FD=() PID=() USER_OF=() ALIAS_OF=()
  tmux -L "$TMUX_SOCKET" kill-server 2>/dev/null
  stop_servers
}
trap 'cleanup; [ "$FAILED" -eq 0 ] && [ -z "${ZUVO_KEEP:-}" ] && rm -rf "$ROOT"' EXIT

# --- Headless clients ----------------------------------------------------------

# start_client NAME COMMAND...: starts COMMAND reading commands from a pipe;
# its output goes to $T/NAME.log.
start_client() {
  local name=$1 fd
  shift
  mkfifo "$T/$name.in"
  "$@" <"$T/$name.in" >"$T/$name.log" 2>&1 &
  PIDS+=($!)
  PID[$name]=$!
  exec {fd}>"$T/$name.in"
  FD[$name]=$fd
}

# Each client's user (USER_OF) and the name its output lines start with
# (ALIAS_OF): a purple_peer's account alias is its user's name.

# peer_start NAME ARGS...: a purple_peer for the user NAME.
peer_start() {
  local name=$1
  shift
  USER_OF[$name]=$name ALIAS_OF[$name]=$name
  start_client "$name" "$PEER" --dir "$T/$name" --timeout 600 "$@"
}

# observer_start NAME USER: USER's second XMPP resource (xmpp_observer.py).
observer_start() {
  USER_OF[$1]=$2 ALIAS_OF[$1]=observer
  start_client "$1" /usr/bin/python3 "$OBSERVER" "$2@localhost" pw
}

say() { echo "$2" >&"${FD[$1]}"; }

# mark STEP CLIENT...: each client prints "mark STEP" (a place in its
# output), and has printed it on return, before anything that follows.
mark() {
  local step=$1 who
  shift
  for who in "$@"; do say "$who" "mark $step"; done
  for who in "$@"; do wait_for 10 has_mark "$who" "$step"; done
}
has_mark() { awk -v m="$2" '$2 == "mark" && $3 == m { f = 1 } END { exit !f }' "$T/$1.log"; }

# The lines of NAME's output after "mark MARK".
after() { awk -v m="$2" 'on { print } $2 == "mark" && $3 == m { on = 1 }' "$T/$1.log"; }
# The texts of the system lines NAME's conversations showed after MARK.
sys_after() { after "$1" "$2" | sed -n 's/^[0-9]* [^ ]* conv [^ ]* sys [^:]*: //p'; }

has_line() { grep -qF -- "$2" "$T/$1.log"; }
# prints_nothing COMMAND...: COMMAND printed nothing (what it printed is shown).
prints_nothing() {
  local out
  out=$("$@")
  [ -z "$out" ] || { echo "$out"; return 1; }
}
has_after() { after "$1" "$2" | grep -qF -- "$3"; }
sys_has() { sys_after "$1" "$2" | grep -qxF -- "$3"; }
# (grep reads all its input: with -q it would stop at the first match, and
# a long output's writer would fail the pipeline.)
sys_contains() { sys_after "$1" "$2" | grep -F -- "$3" >/dev/null; }

# ping_arrives FROM TO: client FROM sends TO's user a ping and waits until
# client TO has it. Servers deliver one sender's messages in order, so
# whatever FROM sent TO before has arrived then: silence is judged by this,
# never by waiting.
ping_arrives() {
  local from=$1 to=$2 name=p$EPOCHREALTIME
  say "$from" "ping ${ALIAS_OF[$from]} $(contact "${USER_OF[$to]}") $name"
  wait_for 60 has_ping "$to" "${ALIAS_OF[$to]}" "$(contact "${USER_OF[$from]}")" "$name"
}
has_ping() { awk -v a="$2" -v c="$3" -v n="$4" '$2 == a && $3 == "ping" && $4 == c && $5 == n { f = 1 } END { exit !f }' "$T/$1.log"; }

# ask STEP TEXT: ann types TEXT in her conversation with bob, after a mark.
ask() {
  mark "$1" ann
  say ann "im ann $BOB $2"
}

# shown_entries NAME STEP: the entries of the listings NAME was shown after
# STEP, the indented lines under "bob shares FOLDER:".
shown_entries() { sys_after "$1" "$2" | awk 'index($0, "  ") == 1 { print substr($0, 3) }'; }
entries_ge() { [ "$(shown_entries "$1" "$2" | wc -l)" -ge "$3" ]; }
# relative_to FOLDER FILE: the paths of FILE below FOLDER, relative to it.
relative_to() { awk -v p="${1%/}/" 'index($0, p) == 1 { print substr($0, length(p) + 1) }' "$2"; }

# expect_paths DESCRIPTION STEP FOLDER EXPECTED_FILE [SECONDS]: ann was
# shown a listing under "bob shares FOLDER:" after STEP, whose entries are
# exactly the paths in EXPECTED_FILE relative to FOLDER (as sets, each once).
expect_paths() {
  local what=$1 step=$2 folder=${3%/} expected=$4 n
  n=$(wc -l <"$expected")
  wait_for "${5:-20}" entries_ge ann "$step" "$n"
  # Anything more of the reply has arrived once a later ping has.
  ping_arrives "$BOBP" ann
  local got want
  got=$(shown_entries ann "$step" | sort)
  want=$(relative_to "$folder" "$expected" | sort)
  if [ "$got" = "$want" ] && sys_contains ann "$step" " shares $folder:"; then
    ok "$what"
  else
    not_ok "$what" "$(diff <(echo "$got") <(echo "$want") | head -10; sys_after ann "$step" | head -3)"
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

# use_server NAME FRIENDS [USERS]: starts server NAME for this group; the
# clients' accounts and contacts are then on it.
use_server() {
  SERVER=$1
  start_server "$@" || return 1
  account() { peer_account "$1" "$1" "$SERVER"; }
  if is_xmpp_server "$SERVER"; then
    contact() { echo "$1@localhost"; }
  else
    contact() { echo "$1"; }
  fi
}

# wait_online NAME...: each client's account signed on.
wait_online() {
  local name
  for name in "$@"; do
    wait_for 30 has_line "$name" "${ALIAS_OF[$name]} online" ||
      { not_ok "$name signs on" "$(tail -5 "$T/$name.log")"; return 1; }
  done
}

# --- Two clients with the plug-in ----------------------------------------------

run_plugin_group() {
  local server=$1
  T=$ROOT/$server
  mkdir -p "$T"
  echo "# $server"
  use_server "$server" "$T" "ann bob" eve || { not_ok "$server: servers start"; return; }
  make_share
  make_many "$T/many100" 100
  make_many "$T/many10k" 10000
  ANN=$(contact ann) BOB=$(contact bob)
  local limit=()
  # Over XMPP the whole 10,000-entry listing is asked for; IRC keeps the default limit.
  is_xmpp_server "$server" && limit=(--pref "$PREF/max_reply_lines=i:20000")
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
  if ! is_xmpp_server "$server"; then
    say ann "buddy ann $BOB"
    say bob "buddy bob $ANN"
  fi
  wait_online ann bob eve || return
  ping_arrives ann bob && ping_arrives bob ann && ping_arrives eve bob ||
    { not_ok "$server: messages arrive"; return; }

  find "$SHARE" -type f >"$T/all"
  ask list "/xrlist"
  expect_paths "$server: a listing shows every shared file" list "$SHARE/" "$T/all"

  find "$SHARE" -type f \( -name '*.txt' -o -name '*.md' \) >"$T/txt-md"
  ask patterns "/xrlist *.txt;*.md"
  expect_paths "$server: a listing with patterns shows only matching files" patterns "$SHARE/" "$T/txt-md"

  find "$SHARE/docs" -maxdepth 1 -type f >"$T/docs"
  ask folder "/xrfolder docs"
  expect_paths "$server: a folder's files" folder "$SHARE/" "$T/docs"

  echo "$SHARE/docs/old" >"$T/subs"
  ask folders "/xrfolders docs"
  expect_paths "$server: a folder's sub-folders" folders "$SHARE/" "$T/subs"

  echo "$SHARE/docs/old/c.txt" >"$T/found"
  ask search "/xrsearch c.txt"
  expect_paths "$server: a search finds the file in a sub-folder" search "$SHARE/" "$T/found"

  # By its name alone: the search showed it.
  ask byname "/xrfile c.txt"
  check "$server: a file asked for by the name the listing showed arrives" \
    wait_for 30 cmp -s "$T/downloads/c.txt" "$SHARE/docs/old/c.txt"
  check "$server: and it is said where it was saved" wait_for 10 sys_contains ann byname \
    "Saved c.txt in $T/downloads (2 bytes)"

  ask empty "/xrlist *.nothing"
  check "$server: an empty listing says so" wait_for 20 sys_contains ann empty \
    " shares no files matching *.nothing"

  ask file "/xrfile $SHARE/big.bin"
  if wait_for 30 test -f "$T/downloads/big.bin" && wait_for 10 has_after ann file "ann xfer-done"; then
    check "$server: a requested file arrives in the downloads folder with equal bytes" \
      cmp -s "$T/downloads/big.bin" "$SHARE/big.bin"
  else
    not_ok "$server: a requested file arrives" "$(after ann file | tail -5; ls -a "$T/downloads")"
  fi

  # The plug-in accepts a folder's path (it lies in the share); bob's host
  # cannot send it and tells ann's host why.
  ask notsent "/xrfile $SHARE/docs"
  check "$server: a file the contact's host cannot send is reported with the reason" \
    wait_for 20 sys_contains ann notsent " could not send docs: "

  ask traversal "/xrfile $SHARE/../secret.txt"
  check "$server: a path leaving the shared folder is refused" wait_for 20 sys_contains ann traversal \
    "That file is not in the shared folder, you do not have access to it"
  ping_arrives "$BOBP" ann
  check_fails "$server: and nothing is sent" has_after ann traversal xfer

  mark off bob
  say bob "im bob $ANN /xroff"
  check "$server: turning sharing off shows a toast" wait_for 10 has_after bob off "turned off"
  ask denied "/xrlist"
  check "$server: requests are refused while sharing is off" wait_for 20 sys_contains ann denied \
    "Request Denied, File Sharing is Turned off"
  say bob "im bob $ANN /xron"
  wait_for 10 has_after bob off "turned on"

  mark stranger bob eve
  say eve "im eve $BOB /xrlist"
  check "$server: the user is told of a stranger's request" wait_for 20 told_of_eve
  ping_arrives bob eve
  check_fails "$server: a stranger's request is not answered" has_after eve stranger "$SHARE"

  # ann has asked bob more than the request gate's burst (10) by now; it
  # refills at one request a second.
  sleep 3

  # A shared folder changed in the preferences counts at once. Pidgin's
  # plug-in dialog stores each keystroke: the user is told what is stored
  # once, when the changes settle.
  mark prefs "$BOBP"
  say "$BOBP" "pref $PREF/shared_folder s:$T/many"
  say "$BOBP" "pref $PREF/shared_folder s:$T/many100"
  find "$T/many100" -type f >"$T/expect100"
  ask many100 "/xrlist"
  expect_paths "$server: a 100-entry listing" many100 "$T/many100/" "$T/expect100" 60
  check "$server: a folder typed into the preferences is confirmed once, when the typing stops" \
    wait_for 10 told_once_of "$T/many100"
  echo "# $server: /xrlist to last line, 100 entries: $(elapsed_ms ann many100) ms"

  restart_bob bob10k "$T/many10k"
  find "$T/many10k" -type f >"$T/expect10k"
  mark rss0 ann "$BOBP"
  say ann "rss"
  say "$BOBP" "rss"
  ask many10k "/xrlist"
  if is_xmpp_server "$server"; then
    expect_paths "$server: a 10,000-entry listing arrives whole" many10k "$T/many10k/" "$T/expect10k" 120
  else
    check_cut_listing
  fi
  echo "# $server: /xrlist to last line, 10,000 entries: $(elapsed_ms ann many10k) ms"
  mark rss1 ann "$BOBP"
  say ann "rss"
  say "$BOBP" "rss"
  wait_for 5 has_after ann rss1 " rss "
  wait_for 5 has_after "$BOBP" rss1 " rss "
  local r
  for who in ann "$BOBP"; do
    r=$(for m in rss0 rss1; do after "$who" "$m" | awk '$2 == "rss" { print $3; exit }'; done | paste -sd' ')
    echo "# $server: $who's RSS before and after the 10,000-entry listing (KiB): $r"
  done

  check_fails "$server: no request or reply is shown as chat text" grep -h ' conv .* recv ' "$T"/*.log
  cleanup
}

# bob was told once, in a notice, what the preferences store: FOLDER, which
# needs no warning.
told_once_of() {
  local notices
  notices=$(after "$BOBP" prefs | grep ' notify ')
  [ "$(grep -c . <<<"$notices")" -eq 1 ] &&
    grep -qF "settings saved: shared folder $1, with its sub-folders; sharing on at start." \
      <<<"$notices" && ! grep -q "nothing is shared" <<<"$notices"
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
  USER_OF[$BOBP]=bob ALIAS_OF[$BOBP]=bob
  say "$BOBP" "$(account bob)"
  is_xmpp_server "$SERVER" || say "$BOBP" "buddy bob $ANN"
  wait_online "$BOBP" && ping_arrives ann "$BOBP" && ping_arrives "$BOBP" ann ||
    not_ok "bob signs on again"
}

# A listing over the reply limit: the first lines, then one line saying how
# many were left out.
notice_after() { sys_after ann "$1" | grep -v -e '^  ' -e ' shares ' | grep -E '[0-9]'; }
check_cut_listing() {
  wait_for 180 notice_after many10k >/dev/null
  local paths notice
  paths=$(shown_entries ann many10k | wc -l)
  notice=$(notice_after many10k | tail -1)
  if [ "$paths" -gt 0 ] && [ "$paths" -lt 10000 ] && grep -qw -- "$((10000 - paths))" <<<"$notice"; then
    ok "$SERVER: a 10,000-entry listing is cut, with a line saying how many were left out ($paths shown)"
  else
    not_ok "$SERVER: a 10,000-entry listing is cut with its notice" "paths shown: $paths; notice: $notice"
  fi
  check "$SERVER: the lines shown are the listing's own" prints_nothing \
    comm -23 <(shown_entries ann many10k | sort) <(relative_to "$T/many10k" "$T/expect10k" | sort)
}

# --- Every server: sign-on, messages, a listing, and what others see ------------

run_smoke() {
  local server=$1
  T=$ROOT/smoke-$server
  mkdir -p "$T"
  echo "# smoke: $server"
  use_server "$server" "$T" "ann bob carol" || { not_ok "$server: the server starts"; return; }
  make_share
  ANN=$(contact ann) BOB=$(contact bob)
  BOBP=bob
  peer_start bob --plugins "$BIN" --pref "$PREF/start_on=b:1" --pref "$PREF/sub_folders=b:1" \
    --pref "$PREF/shared_folder=s:$SHARE"
  peer_start ann --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/ann-share" --pref "$PREF/start_on=b:1"
  # carol has no plug-in.
  peer_start carol --wire
  local clients=(ann bob carol) who
  for who in "${clients[@]}"; do say "$who" "$(account "$who")"; done
  if is_xmpp_server "$server"; then
    observer_start ann2 ann
    clients+=(ann2)
  else
    say ann "buddy ann $BOB"
    say ann "buddy ann carol"
    say bob "buddy bob $ANN"
  fi
  wait_online "${clients[@]}" || { cleanup; return; }
  if ping_arrives ann bob && ping_arrives bob ann; then
    ok "$server: messages arrive both ways"
  else
    not_ok "$server: messages arrive both ways"
  fi

  find "$SHARE" -type f >"$T/all"
  mark exchange "${clients[@]}"
  ask list "/xrlist"
  expect_paths "$server: a listing shows every shared file" list "$SHARE/" "$T/all"

  # What those without the plug-in were given of a request and its reply
  # (the plug-in's checks on this will follow its native wire form).
  say ann "im ann $(contact carol) /xrlist"
  ping_arrives ann carol
  echo "# $server: a contact without the plug-in was shown" \
    "$(after carol exchange | grep -c " conv .* recv .*$WIRE_MARK") lines of one request"
  if is_xmpp_server "$server"; then
    if has_line ann2 " observer carbons on"; then
      ping_arrives bob ann2
      echo "# $server: ann's second resource received" \
        "$(after ann2 exchange | grep ' observer stanza ' | grep -c -- "$WIRE_MARK") stanzas of the exchange"
    else
      echo "# $server: gives no message carbons"
    fi
    say ann2 archive
    wait_for 20 has_after ann2 exchange " observer archive-"
    if has_after ann2 exchange " observer archive-none"; then
      echo "# $server: keeps no message archive"
    else
      echo "# $server: the message archive holds" \
        "$(after ann2 exchange | grep ' observer archive ' | grep -c -- "$WIRE_MARK") messages of the exchange"
    fi
  fi
  cleanup
}

# --- Without the plug-in -------------------------------------------------------

run_baseline() {
  T=$ROOT/baseline
  mkdir -p "$T/downloads"
  echo "# baseline"
  start_server prosody "$T" "ann bob" || { not_ok "prosody starts"; return; }
  start_server ngircd "$T" || { not_ok "ngircd starts"; return; }
  peer_start ann
  peer_start bob
  say ann "$(peer_account ann ann prosody)"
  say bob "$(peer_account bob bob prosody)"
  say ann "$(peer_account ia ann ngircd)"
  say bob "$(peer_account ib bob ngircd)"
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

finch_log() { cat "$T"/finch/logs/jabber/ann@localhost/bob@localhost/*.txt 2>/dev/null; }
finch_log_has() { finch_log | grep -qF -- "$1"; }
finch_screen() { tmux -L "$TMUX_SOCKET" capture-pane -p -t finch; }
finch_type() { tmux -L "$TMUX_SOCKET" send-keys -t finch -l "$1" && tmux -L "$TMUX_SOCKET" send-keys -t finch Enter; }
finch_log_has_all() {
  local p
  while read -r p; do finch_log_has "$p" || return 1; done <"$1"
}

# client_group CLIENT: the start of the group of a real client (finch or
# pidgin) in $ROOT/CLIENT: prosody with ann and bob, bob headless with the
# plug-in sharing $SHARE and signed on, and the client's configuration for
# ann in $T/CLIENT, which saves files in $T/downloads.
client_group() {
  T=$ROOT/$1
  mkdir -p "$T/downloads"
  echo "# $1"
  use_server prosody "$T" "ann bob" || { not_ok "prosody starts"; return 1; }
  make_share
  client_config "$1" "$T/$1" "$PLUGIN" "$T/downloads"
  peer_start bob --plugins "$BIN" --pref "$PREF/shared_folder=s:$SHARE" --pref "$PREF/start_on=b:1" \
    --pref "$PREF/sub_folders=b:1"
  say bob "$(account bob)"
  wait_online bob
}

run_finch() {
  client_group finch || return
  TERM=xterm-256color tmux -L "$TMUX_SOCKET" -f /dev/null new-session -d -s finch -x 160 -y 50 \
    "finch -c '$T/finch' 2>'$T/finch.err'"
  # A fresh install shares nothing: the plug-in says so when it starts, in a
  # window of its own; Enter on its button closes it.
  check "finch: sharing on without a shared folder gets a warning at start" \
    wait_for 10 bash -c 'grep -q "no folder is shared" <<<"$(tmux -L "$1" capture-pane -p -t finch)"' \
    _ "$TMUX_SOCKET"
  tmux -L "$TMUX_SOCKET" send-keys -t finch Enter
  wait_for 20 bash -c 'grep -qs "signed on" "$1"/finch/logs/jabber/ann@localhost/.system/*' _ "$T"
  sleep 1
  # bob says hello, which opens the conversation in Finch; Alt-n brings it forward.
  say bob "im bob ann@localhost hello ann"
  wait_for 10 finch_log_has "hello ann" || { not_ok "finch: the conversation opens" "$(finch_screen)"; return; }
  tmux -L "$TMUX_SOCKET" send-keys -t finch M-n
  sleep 0.5
  finch_type "/xrlist"
  find "$SHARE" -type f >"$T/all"
  relative_to "$SHARE" "$T/all" >"$T/all-shown"
  if wait_for 30 finch_log_has_all "$T/all-shown" && finch_log_has "bob shares $SHARE:"; then
    ok "finch: /xrlist typed into Finch shows every file of the other user's share"
  else
    not_ok "finch: /xrlist typed into Finch shows the other user's files" "$(finch_log | tail -8)"
  fi
  check "finch: the files are on Finch's screen" bash -c 'grep -qF "notes.md" <<<"$1"' _ "$(finch_screen)"
  # The path as the listing showed it.
  finch_type "/xrfile docs/r&d <1>.txt"
  # The saved name is the plug-in's plain form of the sender's name.
  if wait_for 30 bash -c 'ls "$1" | grep -q "^r&d"' _ "$T/downloads"; then
    check "finch: /xrfile saves the file with equal bytes" wait_for 10 cmp -s \
      "$T/downloads/$(ls "$T/downloads")" "$SHARE/docs/r&d <1>.txt"
  else
    not_ok "finch: /xrfile saves the file" "$(ls -la "$T/downloads"; finch_screen | grep -v '^ *$' | tail -8)"
  fi
  finch_type "/xrlist *.nothing"
  check "finch: an empty listing says so" wait_for 20 finch_log_has "shares no files matching *.nothing"
  finch_type "/xrfile $SHARE/docs"
  check "finch: a file the other user's host cannot send is reported with the reason" \
    wait_for 20 finch_log_has " could not send docs: "
  # ann's own sharing is on with no shared folder (a fresh install).
  finch_type "/xrstatus"
  check "finch: /xrstatus warns that sharing is on but shares nothing" \
    wait_for 10 finch_log_has "Zuvo File Sharing is on, but no folder is shared"
  local c
  for c in xrlist xrfile xrfolder xrfolders xrsearch xron xroff xroptions xrstatus xrstats; do
    finch_type "/help $c"
  done
  sleep 1
  # What a person saw, for the record (kept with the group's files).
  finch_screen >"$T/finch-screen.txt"
  finch_log >"$T/finch-conversation.txt"
  check "finch: /help xrfile says what to type and what it does" bash -c \
    'tr -s " \n" "  " <"$1" | grep -qF "xrfile <path or name>: fetch a file"' _ "$T/finch-screen.txt"
  cleanup
}

for group in "${GROUPS_TO_RUN[@]}"; do
  case $group in
    xmpp) run_plugin_group prosody ;;
    irc) run_plugin_group ngircd ;;
    finch) run_finch ;;
    pidgin) run_pidgin ;;
    smoke) for server in "${SMOKE_SERVERS[@]}"; do run_smoke "$server"; done ;;
    baseline) run_baseline ;;
    *)
      if [[ " ${XMPP_SERVERS[*]} ${IRC_SERVERS[*]} " == *" $group "* ]]; then
        run_plugin_group "$group"
      else
        echo "unknown group $group" >&2
        exit 64
      fi
      ;;
  esac
done
[ "$FAILED" -ne 0 ] && echo "# the clients' and servers' files are kept in $ROOT"
checks_summary purple
