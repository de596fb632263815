#!/usr/bin/env bash
# Zuvo File Sharing in libpurple clients over real chat servers.
#
#   tests/purple/e2e.sh BIN_DIR [GROUP...]
#
# Runs inside a network namespace that has only loopback (scripts/test-purple
# starts it so). BIN_DIR holds purple_peer and zuvo-file-sharing.so. Each
# group starts its own servers and clients in a fresh temporary folder:
#   SERVER     a server of tests/purple/servers.sh: two headless clients with
#              the plug-in (ann asks, bob shares), a stranger (eve, in
#              nobody's buddy list) and a contact without the plug-in
#              (carol) over it; on FULL_SERVERS every request and the
#              stranger's attacks, on the others a lean set (listings of 100
#              and 10,000 entries, a file, carol, a long reply with a line
#              typed meanwhile); on XMPP what ann's second resource and the
#              server's archive hold. "xmpp" and "irc" name prosody and ngircd
#   uncut      on each IRC server, all 10,000 entries with bob's libpurple
#              pacing on and off (about 4 minutes a server)
#   smoke      for each of SMOKE_SERVERS: the clients sign on, messages
#              arrive, a listing arrives; and what a contact without the
#              plug-in, ann's second XMPP resource and the server's archive
#              were given of a request (printed as "# ..." lines)
#   finch      real Finch in tmux as ann, bob headless, over prosody
#   pidgin     real Pidgin on a virtual X screen as ann, driven with xdotool,
#              bob headless, over prosody (tests/purple/pidgin.sh)
#   baseline   messages and a file transfer between two clients without the
#              plug-in (proves the servers and the client)
#   trust      over ngircd: keys pinned at the first exchange and compared,
#              then a contact's nick taken after a quit and after a nick
#              change (run_trust)
# Without GROUPs: PLUGIN_SERVERS (every server), then trust, finch and pidgin.
# Prints "ok - ..." or "not ok - ..." per check, "# ..." for measurements, and
# "purple: N passed, N failed" last; exits 1 when a check failed. The
# clients' and servers' files are kept when a check failed, or when
# ZUVO_KEEP is set; ZUVO_WIRE=1 has every client print what it received
# (purple_peer --wire).
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
PLUGIN_SERVERS=("${XMPP_SERVERS[@]}" "${IRC_SERVERS[@]}")
SMOKE_SERVERS=("${XMPP_SERVERS[@]}" "${IRC_SERVERS[@]}")
# The servers that run every check; the others run a lean set.
FULL_SERVERS=(prosody ngircd)
# The long reply on each IRC server (lines; 0: all 10,000 entries), and
# whether bob's libpurple paces his account meanwhile.
declare -A LONG_REPLY_LINES=([ngircd]=3000 [inspircd]=3000 [hybrid]=0)
declare -A QUEUE_PACING=([ngircd]=on [inspircd]=on [hybrid]=off)
# What the plug-in's pieces carry on the wire, to count what others were
# given of an exchange.
WIRE_MARK='ZFS2'

GROUPS_TO_RUN=("$@")
[ ${#GROUPS_TO_RUN[@]} -eq 0 ] && GROUPS_TO_RUN=("${PLUGIN_SERVERS[@]}" trust finch pidgin)

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
  start_client "$name" "$PEER" --dir "$T/$name" --timeout 600 ${ZUVO_WIRE:+--wire} "$@"
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
# The texts of the system lines NAME's conversations showed after MARK; a
# contact's answer is shown as its lines, each after the contact's name and
# ": " (left out here).
sys_after() { after "$1" "$2" | sed -n 's/^[0-9]* [^ ]* conv [^ ]* sys [^:]*: //p' | sed 's/^[^ :]*: //'; }

has_line() { grep -qF -- "$2" "$T/$1.log"; }
# prints_nothing COMMAND...: COMMAND printed nothing (what it printed is shown).
prints_nothing() {
  local out
  out=$("$@")
  [ -z "$out" ] || { echo "$out"; return 1; }
}
# (grep reads to the end in pipelines: with pipefail a writer cut short
# would fail the check.)
has_after() { after "$1" "$2" | grep -F -- "$3" >/dev/null; }
sys_has() { sys_after "$1" "$2" | grep -xF -- "$3" >/dev/null; }
# The lines of the input that begin with $1.
starting() { awk -v p="$1" 'index($0, p) == 1'; }
sys_count_ge() { [ "$(sys_after "$1" "$2" | starting "$3" | wc -l)" -ge "$4" ]; }
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
  end=$(after "$1" "$2" | grep -F " conv $BOB sys " | tail -1 | cut -d' ' -f1)
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

# run_plugin_group SERVER: two clients with the plug-in (ann asks, bob
# shares), a stranger (eve) and a contact without the plug-in (carol) over
# SERVER; on XMPP also ann's second resource (ann2). On FULL_SERVERS every
# check; on the others a lean set: the listings, a file, the contact
# without the plug-in, a long reply with a line bob types meanwhile (IRC),
# what the second resource and the archive hold (XMPP).
run_plugin_group() {
  local server=$1 full=
  [[ " ${FULL_SERVERS[*]} " == *" $server "* ]] && full=1
  T=$ROOT/$server
  mkdir -p "$T"
  echo "# $server"
  # Every stanza prosody handles in its log, to look for names in.
  local SERVER_LOG_LEVEL=${full:+debug}
  use_server "$server" "$T" "ann bob carol" eve || { not_ok "$server: servers start"; return; }
  make_share
  make_many "$T/many100" 100
  make_many "$T/many10k" 10000
  ANN=$(contact ann) BOB=$(contact bob) CAROL=$(contact carol)
  local limit=()
  # Over XMPP the whole 10,000-entry listing is asked for; IRC keeps the default limit.
  is_xmpp_server "$server" && limit=(--pref "$PREF/max_reply_lines=i:20000")
  # bob keeps a text log, to weigh what a stranger's messages add to it.
  BOB_PREFS=(--plugins "$BIN" --pref "$PREF/start_on=b:1" --pref "$PREF/sub_folders=b:1" "${limit[@]}"
    --pref /purple/logging/format=s:txt --pref /purple/logging/log_ims=b:1
    --pref /purple/logging/log_system=b:1)
  peer_start bob "${BOB_PREFS[@]}" --pref "$PREF/shared_folder=s:$SHARE"
  BOBP=bob
  peer_start ann --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/ann-share" \
    --pref "$PREF/start_on=b:1" --pref "$PREF/downloads=s:$T/downloads"
  peer_start eve --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/eve-share" \
    --pref "$PREF/start_on=b:1"
  # carol has no plug-in.
  peer_start carol --wire
  mkdir -p "$T/downloads" "$T/ann-share" "$T/eve-share"
  local who clients=(ann bob eve carol)
  for who in ann bob eve carol; do say "$who" "$(account "$who")"; done
  if is_xmpp_server "$server"; then
    observer_start ann2 ann
    clients+=(ann2)
  else
    say ann "buddy ann $BOB"
    say ann "buddy ann $CAROL"
    say bob "buddy bob $ANN"
  fi
  wait_online "${clients[@]}" || return
  ping_arrives ann bob && ping_arrives bob ann && ping_arrives eve bob && ping_arrives ann carol ||
    { not_ok "$server: messages arrive"; return; }
  mark exchange "${clients[@]}"

  # carol is asked first; on IRC her answer's time limit runs meanwhile.
  mark noplugin ann carol
  say ann "im ann $CAROL /xrlist"

  [ -n "$full" ] && run_full_checks

  ask file "/xrfile $SHARE/big.bin"
  if wait_for 30 test -f "$T/downloads/big.bin" && wait_for 10 has_after ann file "ann xfer-done"; then
    check "$server: a requested file arrives in the downloads folder with equal bytes" \
      cmp -s "$T/downloads/big.bin" "$SHARE/big.bin"
    check "$server: its size and SHA-256 were those the sharer's key offered" \
      wait_for 10 has_after ann file "Saved big.bin in $T/downloads (1.0 MiB, SHA-256 verified)"
  else
    not_ok "$server: a requested file arrives" "$(after ann file | tail -5; ls -a "$T/downloads")"
  fi

  # After the full checks ann has asked bob more than the request gate's
  # burst (10); it refills at one request a second.
  [ -n "$full" ] && sleep 3

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

  # On IRC bob's account paces itself (libpurple's "ratelimit-interval") as
  # QUEUE_PACING says.
  restart_bob bob10k "$T/many10k"
  find "$T/many10k" -type f >"$T/expect10k"
  mark rss0 ann "$BOBP"
  say ann "rss"
  say "$BOBP" "rss"
  ask many10k "/xrlist"
  if is_xmpp_server "$server"; then
    expect_paths "$server: a 10,000-entry listing arrives whole" many10k "$T/many10k/" "$T/expect10k" 120
    echo "# $server: /xrlist to last line, 10,000 entries (all of them): $(elapsed_ms ann many10k) ms"
  else
    check_cut_listing many10k "$T/many10k/" "$T/expect10k"
    echo "# $server: /xrlist to last line, 10,000 entries (cut at 200 lines): $(elapsed_ms ann many10k) ms"
  fi
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

  is_xmpp_server "$server" || check_long_reply
  check_no_plugin
  [ -n "$full" ] && check "$server: eve is told that bob did not answer her" \
    wait_for 40 bash -c 'after() { awk -v m="$2" "on { print } \$2 == \"mark\" && \$3 == m { on = 1 }" "$1"; }
      after "$1" stranger | grep " sys .*did not answer the file-sharing request" >/dev/null' _ "$T/eve.log"
  is_xmpp_server "$server" && check_other_resource
  [ -n "$full" ] && is_xmpp_server "$server" && check_stranger_attacks

  if [ -n "$full" ]; then
    local log=$T/$server/$server.log
    logs_hold_no_names "$server: its log of the exchanges holds no name or path of the share" \
      "$SHARE readme.txt c.txt notes.md" "$log"
  fi

  # carol's one line on IRC is counted above.
  check_fails "$server: no request or reply is shown as chat text" \
    bash -c 'grep -h " conv .* recv " "$@" | grep -v typed-line' _ "$T"/{ann,bob,eve,bob10k}.log
  cleanup
}

# The checks only FULL_SERVERS run: every request, sharing off, a stranger.
run_full_checks() {
  local server=$SERVER
  find "$SHARE" -type f >"$T/all"
  ask list "/xrlist"
  expect_paths "$server: a listing shows every shared file" list "$SHARE/" "$T/all"
  local first
  first=$(elapsed_ms ann list)

  find "$SHARE" -type f \( -name '*.txt' -o -name '*.md' \) >"$T/txt-md"
  ask patterns "/xrlist *.txt;*.md"
  expect_paths "$server: a listing with patterns shows only matching files" patterns "$SHARE/" "$T/txt-md"
  echo "# $server: /xrlist to last line: the first request (with the handshake)" \
    "$first ms, the next $(elapsed_ms ann patterns) ms"

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
    "Saved c.txt in $T/downloads (2 bytes, SHA-256 verified)"

  ask empty "/xrlist *.nothing"
  check "$server: an empty listing says so" wait_for 20 sys_contains ann empty \
    " shares no files matching *.nothing"

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
told_of_eve() { after bob stranger | grep -E ' (sys|notify) ' | grep eve >/dev/null; }

# restart_bob NAME SHARE: bob signs off and on again as client NAME, sharing
# SHARE (the plug-in reads its shared folder when it starts); on IRC with
# libpurple's own pacing as QUEUE_PACING says.
restart_bob() {
  local old=${BOBP:-}
  if [ -n "${BOBP:-}" ]; then
    say "$BOBP" quit
    wait "${PID[$BOBP]}" 2>/dev/null
  fi
  # The same installation: bob's key goes with him, else ann would be told
  # that it changed.
  if [ -n "${old:-}" ] && [ -f "$T/$old/zuvo-identity.key" ]; then
    mkdir -p "$T/$1"
    cp -p "$T/$old/zuvo-identity.key" "$T/$old/zuvo-pins.txt" "$T/$1/" 2>/dev/null
  fi
  BOBP=$1
  peer_start "$BOBP" "${BOB_PREFS[@]}" --pref "$PREF/shared_folder=s:$2"
  USER_OF[$BOBP]=bob ALIAS_OF[$BOBP]=bob
  local pacing=
  [ "${QUEUE_PACING[$SERVER]:-on}" = off ] && pacing=ratelimit-interval=i:0
  say "$BOBP" "$(account bob) $pacing"
  is_xmpp_server "$SERVER" || say "$BOBP" "buddy bob $ANN"
  wait_online "$BOBP" && ping_arrives ann "$BOBP" && ping_arrives "$BOBP" ann ||
    not_ok "bob signs on again"
}

# check_cut_listing STEP FOLDER EXPECTED: a listing over the reply limit:
# the first lines, then one line saying how many were left out.
notice_after() { sys_after ann "$1" | grep -v -e '^  ' -e ' shares ' | grep -E '[0-9]'; }
check_cut_listing() {
  local step=$1 folder=${2%/} expected=$3 all paths notice
  all=$(wc -l <"$expected")
  wait_for 240 notice_after "$step" >/dev/null
  paths=$(shown_entries ann "$step" | wc -l)
  notice=$(notice_after "$step" | tail -1)
  if [ "$paths" -gt 0 ] && [ "$paths" -lt "$all" ] && grep -qw -- "$((all - paths))" <<<"$notice"; then
    ok "$SERVER: a $all-entry listing is cut, with a line saying how many were left out ($paths shown)"
  else
    not_ok "$SERVER: a $all-entry listing is cut with its notice" "paths shown: $paths; notice: $notice"
  fi
  check "$SERVER: the lines shown are the listing's own" prints_nothing \
    comm -23 <(shown_entries ann "$step" | sort) <(relative_to "$folder" "$expected" | sort)
}

# A long reply on IRC (LONG_REPLY_LINES lines; 0: all 10,000): it arrives
# whole, bob keeps his link, and a line bob types 5 s into it reaches ann
# within 3 s.
check_long_reply() {
  local lines=${LONG_REPLY_LINES[$SERVER]} pacing=${QUEUE_PACING[$SERVER]:-on}
  local step=long-$pacing
  say "$BOBP" "pref $PREF/max_reply_lines i:$lines"
  ask "$step" "/xrlist"
  mark "typing-$pacing" "$BOBP"
  sleep 5
  say "$BOBP" "im bob $ANN typed-line"
  if [ "$lines" -eq 0 ]; then
    expect_paths "$SERVER: all 10,000 entries arrive with bob's libpurple pacing $pacing" \
      "$step" "$T/many10k/" "$T/expect10k" 300
  else
    check_cut_listing "$step" "$T/many10k/" "$T/expect10k"
  fi
  check_fails "$SERVER: bob keeps his link (libpurple pacing $pacing)" lost_link "$BOBP" "typing-$pacing"
  local typed arrived
  typed=$(after "$BOBP" "typing-$pacing" | awk '/ conv .* send .*typed-line/ { print $1; exit }')
  arrived=$(after ann "$step" | awk '/ conv .* recv .*typed-line/ { print $1; exit }')
  if [ -n "$typed" ] && [ -n "$arrived" ] && [ $((arrived - typed)) -le 3000 ]; then
    ok "$SERVER: a line bob types during the reply reaches ann within 3 s (libpurple pacing $pacing)"
  else
    not_ok "$SERVER: a line bob types during the reply reaches ann within 3 s" "typed $typed, arrived $arrived"
  fi
  echo "# $SERVER: a $([ "$lines" -eq 0 ] && echo 10000 || echo "$lines")-line reply, bob's libpurple pacing $pacing:" \
    "/xrlist to last line $(elapsed_ms ann "$step") ms; a line bob typed 5 s in arrived after" \
    "$((${arrived:-0} - ${typed:-0})) ms"
}

lost_link() { after "$1" "$2" | grep -E " ${ALIAS_OF[$1]} (offline|error)"; }

# carol (no plug-in) was asked first: ann is told within the network's
# time limit, and carol was shown nothing (XMPP) or at most one line (IRC).
check_no_plugin() {
  local limit=5 most=0 line="Zuvo File Sharing: carol did not answer the file-sharing request (their client may not have Zuvo File Sharing, or it is turned off)."
  is_xmpp_server "$SERVER" || limit=40 most=1
  if wait_for $limit sys_has ann noplugin "$line"; then
    ok "$SERVER: ann is told that carol, without the plug-in, did not answer"
    local start told
    start=$(awk '$2 == "mark" && $3 == "noplugin" { print $1; exit }' "$T/ann.log")
    told=$(after ann noplugin | grep -F -- "$line" | head -1 | cut -d' ' -f1)
    echo "# $SERVER: ann was told that carol did not answer after $((told - start)) ms"
  else
    not_ok "$SERVER: ann is told that carol, without the plug-in, did not answer" \
      "$(sys_after ann noplugin | grep -i carol)"
  fi
  ping_arrives ann carol
  local shown
  shown=$(after carol noplugin | grep -c ' conv ')
  check "$SERVER: carol was shown at most $most lines of the request ($shown)" test "$shown" -le "$most"
}

# ann's second XMPP resource, with carbons, received nothing of the
# exchanges, and the server's archive (where it keeps one) holds nothing.
MARKERS='urn:zuvo:file-sharing|ZFS[0-9]|~zfs~'
check_other_resource() {
  if has_line ann2 " observer carbons on"; then
    ping_arrives "$BOBP" ann2
    check "$SERVER: ann's second resource received nothing of the exchanges" prints_nothing \
      bash -c 'grep " observer stanza " | grep -E "$1"' _ "$MARKERS" <"$T/ann2.log"
  else
    echo "# $SERVER: gives no message carbons"
  fi
  say ann2 archive
  wait_for 20 has_after ann2 exchange " observer archive-"
  if has_after ann2 exchange " observer archive-none"; then
    echo "# $SERVER: keeps no message archive"
  else
    check "$SERVER: the server's archive holds nothing of the exchanges" prints_nothing \
      bash -c 'grep " observer archive " | grep -E "$1"' _ "$MARKERS" <"$T/ann2.log"
  fi
}

# A stranger's attacks (XMPP, FULL_SERVERS): what eve sends costs bob a
# bounded line or two of his log and bounded memory.
bob_log_bytes() { find "$T/$BOBP/logs" -type f -printf '%s\n' 2>/dev/null | awk '{ n += $1 } END { print n + 0 }'; }
bob_rss_after() { after "$BOBP" "$1" | awk '$2 == "rss" { print $3; exit }'; }
check_stranger_attacks() {
  local payload log0 log1 rss0 rss1
  payload=$(head -c 75000 /dev/zero | base64 -w0)
  mark attack0 "$BOBP"
  say "$BOBP" rss
  wait_for 5 has_after "$BOBP" attack0 " rss "
  log0=$(bob_log_bytes)
  say eve "im eve $BOB ZFS2 0badf00d 0/1 1 0 $payload"
  ping_arrives eve "$BOBP"
  mark attack1 "$BOBP"
  say "$BOBP" rss
  wait_for 5 has_after "$BOBP" attack1 " rss "
  log1=$(bob_log_bytes) rss0=$(bob_rss_after attack0) rss1=$(bob_rss_after attack1)
  echo "# $SERVER: a 100 KB stranger's message added $((log1 - log0)) bytes to bob's log," \
    "$((rss1 - rss0)) KiB to his resident size"
  check "$SERVER: a 100 KB stranger's message adds at most 1 KB to the log" \
    test $((log1 - log0)) -le 1024
  check "$SERVER: and at most 5 MiB to the resident size" test $((rss1 - rss0)) -le 5120

  # A request in clear, as a plug-in without the protection sends it (eve's
  # own plug-in would start a handshake, which a stranger does not get).
  local long
  long=$(printf 'a%.0s' {1..400})
  say eve "im eve $BOB $(clear_request "rfile/$long")"
  check "$SERVER: a stranger's request is quoted in at most 200 characters" \
    wait_for 20 bash -c 'grep " sys .*asked for /xrfile /a*\.\.\. ([0-9]* characters); not answered" "$1" |
      grep -qv "a\{200\}"' _ "$T/$BOBP.log"

  # More than the notice limit: replies nobody asked for, a 100 KB piece
  # by IQ, a 100 KB version-1 piece.
  mark attack2 "$BOBP"
  local i
  for i in 0 1 2 3 4 5 6 7 8 9; do say eve "im eve $BOB ZFS2 0000000$i 0/1 2 0 AAAA"; done
  say eve "raw eve <iq type='set' to='$BOB/peer' id='attack'><piece xmlns='urn:zuvo:file-sharing:2' id='0badf00e' index='0' count='1' kind='1' flags='0'>$payload</piece></iq>"
  say eve "im eve $BOB ~zfs~1~$payload"
  ping_arrives eve "$BOBP"
  local lines
  lines=$(after "$BOBP" attack0 | grep -c " conv $(contact eve) sys ")
  check "$SERVER: lines about what a stranger sent are limited ($lines for 14 messages)" \
    test "$lines" -le 3
}

# run_uncut SERVER (IRC): all 10,000 entries, with bob's libpurple pacing
# on, then off; they arrive whole, bob keeps his link, and the times are
# printed for the README's table.
run_uncut() {
  local server=$1 pacing
  T=$ROOT/uncut-$server
  mkdir -p "$T"
  echo "# uncut: $server"
  use_server "$server" "$T" "ann bob" || { not_ok "$server: the server starts"; return; }
  make_many "$T/many10k" 10000
  find "$T/many10k" -type f >"$T/expect10k"
  ANN=$(contact ann) BOB=$(contact bob) BOBP=
  BOB_PREFS=(--plugins "$BIN" --pref "$PREF/start_on=b:1" --pref "$PREF/sub_folders=b:1")
  peer_start ann --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/ann-share" --pref "$PREF/start_on=b:1"
  say ann "$(account ann)"
  is_xmpp_server "$server" || say ann "buddy ann $BOB"
  wait_online ann || return
  for pacing in on off; do
    QUEUE_PACING[$server]=$pacing LONG_REPLY_LINES[$server]=0
    restart_bob "bob-$pacing" "$T/many10k"
    check_long_reply
  done
  cleanup
}

# clear_request TEXT: a request frame holding the marker and TEXT, in clear,
# as one piece.
clear_request() {
  python3 -c 'import base64, sys
print("ZFS2 00c1ea12 0/1 1 0 " + base64.b64encode(("\x12" + sys.argv[1]).encode("utf-16-le")).decode())' "$1"
}

# logs_hold_no_names WHAT "NAME..." LOG...: the logs hold none of the
# names (words), neither as text nor in a frame of the wire form read back
# (tests/purple/wire_names.py); prints how many frames it read.
logs_hold_no_names() {
  local what=$1 names out
  read -ra names <<<"$2"
  shift 2
  out=$(python3 "$HERE/wire_names.py" "$@" -- "${names[@]}")
  echo "# $what: $(tail -1 <<<"$out")"
  check "$what" prints_nothing grep '^found' <<<"$out"
}

# --- Keys: a contact's name taken by someone else ---------------------------------

# run_trust: over ngircd, ann asks bob and dave (both with the plug-in),
# which pins their keys; the first request's time (with the handshake) and
# the second's are printed, and ann compares bob's key with the one bob
# shows. Then bob quits and mallory signs on as "bob", and dave changes his
# nick and mallory2 takes "dave" by a nick change: each time ann asks for a
# file again, she is told once that the key changed, the impostor is given
# nothing (no request, nothing of the share's paths in what it received),
# and the file it pushes under the name ann asked for is refused. Last, the
# server's log and what the clients received hold no name of the share.
run_trust() {
  T=$ROOT/trust
  mkdir -p "$T/downloads" "$T/ann-share" "$T/m-share"
  echo "# trust"
  use_server ngircd "$T" || { not_ok "trust: ngircd starts"; return; }
  make_share
  echo "forged" >"$T/m-share/notes.md"
  find "$SHARE" -type f >"$T/all"
  local p=(--plugins "$BIN" --pref "$PREF/start_on=b:1" --pref "$PREF/sub_folders=b:1" --wire)
  peer_start bob "${p[@]}" --pref "$PREF/shared_folder=s:$SHARE"
  peer_start dave "${p[@]}" --pref "$PREF/shared_folder=s:$SHARE"
  peer_start ann "${p[@]}" --pref "$PREF/shared_folder=s:$T/ann-share" --pref "$PREF/downloads=s:$T/downloads"
  local who
  for who in bob dave ann; do say "$who" "$(account "$who")"; done
  say ann "buddy ann bob"
  say ann "buddy ann dave"
  say bob "buddy bob ann"
  say dave "buddy dave ann"
  wait_online bob dave ann || return
  ping_arrives ann bob && ping_arrives ann dave || { not_ok "trust: messages arrive"; return; }
  BOB=bob BOBP=bob
  mark exchange ann bob dave

  ask first "/xrlist"
  expect_paths "trust: the first listing arrives, after the handshake" first "$SHARE/" "$T/all" 60
  local first
  first=$(elapsed_ms ann first)
  ask second "/xrlist"
  expect_paths "trust: a second listing arrives in the same session" second "$SHARE/" "$T/all" 60
  echo "# trust (ngircd): /xrlist to last line, 7 entries: first (with the handshake)" \
    "$first ms, second $(elapsed_ms ann second) ms"

  mark keys ann bob
  say bob "im bob ann /xrkey"
  say ann "im ann bob /xrkey bob"
  wait_for 10 has_after bob keys "your file-sharing key: "
  wait_for 10 has_after ann keys "bob's file-sharing key: "
  local own seen
  own=$(after bob keys | grep -o 'your file-sharing key: [0-9 ]*' | head -1 | cut -d: -f2 | sed 's/^ //; s/ *$//')
  seen=$(after ann keys | grep -o "bob's file-sharing key: [0-9 ]*" | head -1 | cut -d: -f2 | sed 's/^ //; s/ *$//')
  check "trust: ann sees bob's key as bob shows it (12 groups of 5 digits)" \
    bash -c '[ "$1" = "$2" ] && [[ "$1" =~ ^([0-9]{5} ){11}[0-9]{5}$ ]]' _ "$own" "$seen"
  say ann "im ann bob /xrverify"
  check "trust: /xrverify marks it verified" wait_for 10 has_after ann keys "is marked verified"
  say ann "im ann dave /xrfolders docs"
  wait_for 30 has_after ann keys "dave: $SHARE/docs/old"

  # bob quits; mallory signs on as bob.
  say bob quit
  wait "${PID[bob]}" 2>/dev/null
  peer_start mallory --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/m-share" --wire
  USER_OF[mallory]=bob
  say mallory "$(peer_account mallory bob ngircd)"
  say mallory "buddy mallory ann"
  wait_online mallory && ping_arrives ann mallory || { not_ok "trust: mallory signs on as bob"; return; }
  check_impostor quit bob mallory

  # dave becomes dave_; mallory2 takes "dave" by a nick change.
  say dave "raw dave NICK dave_"
  wait_for 10 has_line dave "NICK :dave_" || { not_ok "trust: dave changes his nick"; return; }
  peer_start mallory2 --plugins "$BIN" --pref "$PREF/shared_folder=s:$T/m-share" --wire
  USER_OF[mallory2]=m2
  say mallory2 "$(peer_account mallory2 m2 ngircd)"
  say mallory2 "buddy mallory2 ann"
  wait_online mallory2 || { not_ok "trust: mallory2 signs on"; return; }
  say mallory2 "raw mallory2 NICK dave"
  USER_OF[mallory2]=dave
  wait_for 10 has_line mallory2 "NICK :dave" && ping_arrives ann mallory2 ||
    { not_ok "trust: mallory2 takes dave's nick"; return; }
  check_impostor nick dave mallory2

  # What the clients received, as the network carried it (a pushed file's
  # offer names it: notes.md is left out).
  for who in ann mallory mallory2; do grep ' wire ' "$T/$who.log" >"$T/$who.wire"; done
  logs_hold_no_names "trust: ngircd's log and what the clients received hold no name of the share" \
    "$SHARE readme.txt c.txt" "$T/ngircd/ngircd.log" "$T"/{ann,mallory,mallory2}.wire
  cleanup
}

# check_impostor STEP NAME CLIENT: CLIENT now answers to ann's contact NAME,
# with a key of its own.
check_impostor() {
  local step=$1 name=$2 client=$3
  mark "$step" ann "$client"
  say ann "im ann $name /xrfile $SHARE/notes.md"
  check "trust ($step): ann is told that $name's key has changed" \
    wait_for 30 has_after ann "$step" "Zuvo File Sharing: $name's file-sharing key has changed since "
  say "$client" "sendfile $client ann $T/m-share/notes.md"
  check "trust ($step): the file $client pushes under the name ann asked for is refused" \
    wait_for 30 has_after ann "$step" "Could not save notes.md from $name: "
  say ann "im ann $name /xrlist"
  check "trust ($step): nothing more is sent to $name until ann accepts the key" \
    wait_for 10 has_after ann "$step" "Zuvo File Sharing: nothing was sent to $name: "
  ping_arrives "$client" ann
  ping_arrives ann "$client"
  check "trust ($step): nothing was saved" test ! -e "$T/downloads/notes.md"
  check "trust ($step): ann was told once" \
    test "$(after ann "$step" | grep -c "$name's file-sharing key has changed since")" -eq 1
  check "trust ($step): $client was asked nothing and shown nothing of the share" prints_nothing \
    bash -c 'grep -e " asks: " -e "$2" "$1" | grep -v " wire "' _ "$T/$client.log" "$SHARE"
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
      ping_arrives "$BOBP" ann2
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
    uncut) for server in "${IRC_SERVERS[@]}"; do run_uncut "$server"; done ;;
    baseline) run_baseline ;;
    trust) run_trust ;;
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
