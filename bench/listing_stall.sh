#!/usr/bin/env bash
# The listing-stall measurement, inside a loopback-only network namespace
# (bench/run-listing-stall starts it so):
#
#   bench/listing_stall.sh PURPLE_PEER PLUGIN_DIR SHARE RUNS
#
# Over a local prosody, the sharer bob (a headless client with the plug-in,
# sharing SHARE with its sub-folders, with --lateness) and ten contacts
# a0..a9 in his buddy list (one headless client with ten accounts). Each
# burst is fired RUNS times, while bob types a line into a conversation
# every 100 ms and "/xrstatus" once:
#
#   10 contacts, "*.*"       each of a0..a9 asks "/xrlist" at once
#   10 contacts, patterns    each asks "/xrlist" with the costliest pattern
#                            list the plug-in allows (32 pieces, 256
#                            characters)
#   1 contact, 10 x "*.*"    a0 asks "/xrlist" ten times at once
#
# For each run it prints the worst lateness of a 10 ms timer on bob's main
# loop and how often it was over 50 ms late, the time from the burst to the
# last answer line the contacts were shown, the answers given (and "busy"
# replies), and how long bob's typed lines and "/xrstatus" took to show.
# Last, bob quits (the plug-in is unloaded) while the ten listings of a
# burst are being answered: how long that took, and bob's exit status.
set -uo pipefail

PEER=$1 PLUGINS=$2 SHARE=$3 RUNS=$4
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../scripts/lib.sh"
source "$HERE/../tests/purple/servers.sh"
source "$HERE/../tests/purple/clients.sh"
PREF=/plugins/core/zuvo-file-sharing
ASKERS=(a0 a1 a2 a3 a4 a5 a6 a7 a8 a9)

T=$(mktemp -d /tmp/zuvo-stall.XXXXXX)
PIDS=()
finish() {
  local pid
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  stop_servers
  rm -rf "$T"
}
trap finish EXIT

now_ms() { date +%s%3N; }

# start NAME ARGS...: a purple_peer reading commands from $T/NAME.in, its
# output in $T/NAME.log; "say NAME LINE" feeds it.
declare -A FD PID
start() {
  local name=$1 fd
  shift
  mkfifo "$T/$name.in"
  "$PEER" --dir "$T/$name" --timeout 3600 "$@" <"$T/$name.in" >"$T/$name.log" 2>&1 &
  PIDS+=($!)
  PID[$name]=$!
  exec {fd}>"$T/$name.in"
  FD[$name]=$fd
}
say() { echo "$2" >&"${FD[$1]}"; }
online() { grep -q " $2 online" "$T/$1.log"; }
log_after() { awk -v m="$2" 'on { print } $2 == "mark" && $3 == m { on = 1 }' "$T/$1.log"; }
has_after() { log_after "$1" "$2" | grep -q -- "$3"; }
# lateness_reports STEP N: bob printed N lateness reports after STEP.
lateness_reports() { [ "$(log_after bob "$1" | grep -c ' lateness ')" -ge "$2" ]; }
# mark NAME STEP: client NAME prints "mark STEP", and has printed it on return.
mark() {
  say "$1" "mark $2"
  wait_for 10 grep -q " mark $2\$" "$T/$1.log"
}

# The lines the contacts were shown of bob's answers after mark $1.
answers_after() {
  log_after askers "$1" | grep ' conv bob@localhost sys ' | grep -v 'Zuvo File Sharing: asked'
}
answers_ge() { [ "$(answers_after "$1" | grep -c 'Accepted Request')" -ge "$2" ]; }
# settle STEP N: waits until the contacts were shown N answers after STEP,
# then until their output has not grown for three seconds.
settle() {
  wait_for 300 answers_ge "$1" "$2"
  local size=-1
  while [ "$(stat -c %s "$T/askers.log")" != "$size" ]; do
    size=$(stat -c %s "$T/askers.log")
    sleep 3
  done
}

# About the costliest pattern list the plug-in takes: 32 different pieces of
# 8 characters ("*?*?*?00" to "*?*?*?31"), the most "*" and "?" its bounds
# allow, and a few matches.
costly_patterns() {
  local i out=
  for ((i = 0; i < 32; i++)); do out+="${out:+;}$(printf '*?*?*?%02d' "$i")"; done
  echo "$out"
}

mkdir -p "$T/askers-share"
start_server prosody "$T" "bob ${ASKERS[*]}" || { echo "prosody did not start" >&2; exit 1; }
start bob --plugins "$PLUGINS" --lateness --pref "$PREF/shared_folder=s:$SHARE" \
  --pref "$PREF/start_on=b:1" --pref "$PREF/sub_folders=b:1"
start askers --plugins "$PLUGINS" --pref "$PREF/shared_folder=s:$T/askers-share" \
  --pref "$PREF/start_on=b:1"
say bob "$(peer_account bob bob prosody)"
for a in "${ASKERS[@]}"; do say askers "$(peer_account "$a" "$a" prosody)"; done
wait_for 30 online bob bob || { echo "bob did not sign on" >&2; exit 1; }
for a in "${ASKERS[@]}"; do
  wait_for 30 online askers "$a" || { echo "$a did not sign on" >&2; exit 1; }
done
sleep 2
# One listing first, so every run finds the share's folders in the cache.
mark askers warm
say askers "im a0 bob@localhost /xrlist"
settle warm 1

# burst NAME RUN ANSWERS LINE...: fires the askers' LINEs at once while bob
# types, waits for at least ANSWERS answers, then prints what it cost.
burst() {
  local name=$1 run=$2 expect=$3 m=b$RANDOM$RANDOM
  shift 3
  mark askers "$m"
  mark bob "$m"
  say bob lateness
  wait_for 10 lateness_reports "$m" 1
  : >"$T/typed"
  (
    for ((i = 1; i <= 20; i++)); do
      echo "$(now_ms) $m-$i" >>"$T/typed"
      say bob "im bob a9@localhost typing $m-$i"
      [ "$i" -eq 5 ] && { echo "$(now_ms) status" >>"$T/typed"; say bob "im bob a9@localhost /xrstatus"; }
      sleep 0.1
    done
  ) &
  local typist=$! start line
  start=$(now_ms)
  for line in "$@"; do say askers "$line"; done
  wait "$typist"
  settle "$m" "$expect"
  say bob lateness
  wait_for 10 lateness_reports "$m" 2
  local late last answers busy shown worst_typed status_at status_ms
  late=$(grep ' lateness ' "$T/bob.log" | tail -1 | cut -d' ' -f3-)
  last=$(answers_after "$m" | tail -1 | cut -d' ' -f1)
  answers=$(answers_after "$m" | grep -c 'Accepted Request')
  busy=$(answers_after "$m" | grep -c 'Busy with your previous list')
  # When each typed line showed in bob's conversation, less when it was typed.
  worst_typed=$(log_after bob "$m" | awk -v m="$m" '
    FNR == NR { typed[$2] = $1; next }
    / conv a9@localhost send / { w = $NF; if (w in typed) { d = $1 - typed[w]; if (d > worst) worst = d } }
    END { print worst + 0 }' "$T/typed" -)
  status_at=$(log_after bob "$m" | grep ' conv a9@localhost sys .*File Sharing is' | head -1 | cut -d' ' -f1)
  status_ms=$(( ${status_at:-0} - $(awk '$2 == "status" { print $1 }' "$T/typed") ))
  read -r worst over ticks <<<"$late"
  printf '%-26s run %d: main loop worst %5d ms late, %3d times over 50 ms; burst to last line %5d ms; %2d answers, %d busy; typed lines shown within %4d ms, /xrstatus %4d ms\n' \
    "$name" "$run" "$worst" "$over" "$((last - start))" "$answers" "$busy" "$worst_typed" "$status_ms"
  echo "$name|$worst|$((last - start))" >>"$T/figures"
}

patterns=$(costly_patterns)
for ((run = 1; run <= RUNS; run++)); do
  lines=()
  for a in "${ASKERS[@]}"; do lines+=("im $a bob@localhost /xrlist"); done
  burst '10 contacts, "*.*"' "$run" 10 "${lines[@]}"
  lines=()
  for a in "${ASKERS[@]}"; do lines+=("im $a bob@localhost /xrlist $patterns"); done
  burst '10 contacts, patterns' "$run" 10 "${lines[@]}"
  lines=()
  for a in "${ASKERS[@]}"; do lines+=("im a0 bob@localhost /xrlist"); done
  burst '1 contact, 10 x "*.*"' "$run" 1 "${lines[@]}"
done
echo "ranges over $RUNS runs (worst lateness; burst to last line), ms:"
awk -F'|' '
  { n = $1; if (!(n in lo)) { lo[n] = hi[n] = $2; tlo[n] = thi[n] = $3; order[++k] = n }
    if ($2 < lo[n]) lo[n] = $2; if ($2 > hi[n]) hi[n] = $2
    if ($3 < tlo[n]) tlo[n] = $3; if ($3 > thi[n]) thi[n] = $3 }
  END { for (i = 1; i <= k; i++) { n = order[i]; printf "  %-26s %5d-%-5d  %5d-%d\n", n, lo[n], hi[n], tlo[n], thi[n] } }
' "$T/figures"

# Unloaded while answering: the burst again, and bob quits once he has
# begun answering it.
mark bob unload
for a in "${ASKERS[@]}"; do say askers "im $a bob@localhost /xrlist"; done
wait_for 30 has_after bob unload ' asks: '
quit_start=$(now_ms)
say bob quit
wait "${PID[bob]}"
status=$?
echo "bob quit while answering the burst: exited after $(($(now_ms) - quit_start)) ms with status $status"
