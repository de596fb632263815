#!/usr/bin/env bash
# Drives the options form in a real terminal, as a person would: zuvo-form
# runs in a private tmux server; keys go in with send-keys and the screen is
# read with capture-pane. Open the form, edit the folder, browse with name
# completion, toggle a box, Apply, reopen (also after a restart): the form
# shows the stored values.
#
#   terminal_form_tmux.sh PATH/TO/zuvo-form
set -euo pipefail
program=$1
work=$(mktemp -d)
sock="$work/tmux.sock"
cleanup() {
  tmux -S "$sock" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/shared/docs" "$work/music"

t() { tmux -S "$sock" "$@"; }
screen() { t capture-pane -p -t form; }
# wait_for TEXT: waits up to 10 s for TEXT on the screen.
wait_for() {
  local i
  for i in $(seq 100); do
    if screen | grep -qF -- "$1"; then return 0; fi
    sleep 0.1
  done
  echo "FAIL: no \"$1\" on the screen:" >&2
  screen >&2
  exit 1
}
# type_line TEXT...: clears the screen, then types the keys and Enter.
type_line() {
  t send-keys -R -t form
  t clear-history -t form
  t send-keys -t form -l -- "$1"
  shift
  t send-keys -t form "$@" Enter
}
start() {
  t new-session -d -s form -x 150 -y 50 "$program --registry $work/registry.txt; sleep 30"
  wait_for "zuvo-form>"
}

start
type_line "/xroptions"
wait_for ">1 [Apply]"
wait_for "3 [Error]"
wait_for "2 [ ] Start with Zuvo File Sharing Turned on"

# Type a folder into the box.
type_line "3"
wait_for "New folder>"
type_line "$work/music"
wait_for ">3 [$work/music]"

# Browse: complete "sh" with Tab, take the offered folder with Enter.
type_line "4"
wait_for "Select Profile Export Directory"
type_line "$work/sh" Tab
wait_for "Folder [$work/shared/]>"
type_line ""
wait_for "3 [$work/shared] >4 [...]"

# Toggle "Start with ..." and Apply.
type_line "2"
wait_for ">2 [x] Start with Zuvo File Sharing Turned on"
type_line "1"
wait_for "ParseCommand: True, sResult: []"

# Reopen: the stored values, and the opening focus on Apply.
type_line "/xroptions"
wait_for ">1 [Apply]"
wait_for "3 [$work/shared]"
wait_for "2 [x] Start with Zuvo File Sharing Turned on"
# An unapplied edit, then Cancel: reopening shows the stored folder again.
type_line "3"
wait_for "New folder>"
type_line "/not/applied"
wait_for "3 [/not/applied]"
type_line "6"
wait_for "zuvo-form>"
type_line "/xroptions"
wait_for "3 [$work/shared]"
type_line "x"
wait_for "zuvo-form>"

# The local commands answer with toasts.
type_line "/xron"
wait_for "Zuvo File Sharing has been"
wait_for "turned on"
type_line "/xrstatus"
wait_for "Zuvo File Sharing is..."
type_line "q"

# The store outlives the program: a new start shows the same values.
t kill-server 2>/dev/null || true
# A fresh server: the old one may still be shutting down on its socket.
sock="$work/tmux-again.sock"
start
type_line "/xroptions"
wait_for "3 [$work/shared]"
wait_for "2 [x] Start with Zuvo File Sharing Turned on"
type_line "6"
wait_for "zuvo-form>"
echo "terminal form: ok"
