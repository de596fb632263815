# Real Pidgin on a virtual X screen (Xvfb), driven as a person would with
# xdotool: the group "pidgin" of e2e.sh. Source it from e2e.sh after its
# helpers; do not run it.
#
# ann's Pidgin has the plug-in loaded as a fresh install has it (sharing on,
# no shared folder); bob is headless with the plug-in and a share. The test
# sees the start warning, opens the plug-in's Configure window from the
# Plugins dialog and measures it, types /xrlist and /xrfile in the
# conversation with bob, and applies /xroptions. What Pidgin shows in a
# conversation is read from its text log; windows are found by their
# titles. There is no window manager: the test gives a window the keyboard
# focus itself before typing into it.
#
# Screenshots: of the start warning, the Plugins dialog, the Configure
# window, the options dialog and the conversation in $SHOTS (pidgin-*.png;
# build/ unless ZUVO_SCREENSHOTS names another folder); of the whole screen
# in the group's folder when a check fails (kept with the test's files).

SHOTS=${ZUVO_SCREENSHOTS:-$(cd "$BIN/../.." && pwd)}
# The narrowest a text box of the Configure window may be: about 25
# characters of a path in Pidgin's default font.
MIN_BOX_PX=180

# x_start: a virtual screen of its own (the first free display number);
# DISPLAY names it from then on.
x_start() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$T/display" 2>"$T/xvfb.err" &
  PIDS+=($!)
  wait_for 10 test -s "$T/display" || return 1
  export DISPLAY=:$(head -1 "$T/display")
}

# window NAME: the id of the visible window titled exactly NAME (a regular
# expression), if there is one.
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
has_window() { [ -n "$(window "$1")" ]; }
no_window() { [ -z "$(window "$1")" ]; }
# focus NAME: the window NAME gets the keyboard focus, and comes to the top.
focus() {
  local id
  id=$(window "$1")
  [ -n "$id" ] && xdotool windowraise "$id" windowfocus --sync "$id"
}
# pidgin_type NAME TEXT: types TEXT and Enter into the window NAME.
pidgin_type() { focus "$1" && xdotool type --delay 20 -- "$2" && xdotool key Return; }

# shot NAME FILE: a picture of the window NAME, once it has drawn itself
# after coming to the top.
shot() {
  local id
  id=$(window "$1")
  [ -n "$id" ] || return 1
  xdotool windowraise "$id"
  sleep 0.3
  import -window "$id" "$2"
}

# pidgin_not_ok WHAT [DETAILS]: a failed check, with a picture of the screen.
PIDGIN_FAILURES=0
pidgin_not_ok() {
  PIDGIN_FAILURES=$((PIDGIN_FAILURES + 1))
  local picture=$T/failure-$PIDGIN_FAILURES.png
  import -window root "$picture" 2>/dev/null
  not_ok "$1" "${2:+$2
}screenshot: $picture"
}
pidgin_check() {
  local what=$1 out
  shift
  if out=$("$@" 2>&1); then ok "$what"; else pidgin_not_ok "$what" "$out"; fi
}

# text_boxes NAME: the text boxes of the window NAME, top to bottom, as
# "X Y WIDTH" on the screen. Pidgin runs with GDK_NATIVE_WINDOWS, so each
# GTK widget with a window of its own is an X window: a text box is a
# window holding exactly one window, its text area, inset by 2 pixels.
text_boxes() {
  xwininfo -tree -id "$(window "$1")" | awk '
    match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+/) {
      split(substr($0, RSTART, RLENGTH), g, /[x+ ]+/)
      n++; w[n] = g[1]; h[n] = g[2]; x[n] = g[5]; y[n] = g[6]
    }
    END {
      for (i = 1; i < n; i++)
        if (w[i + 1] == w[i] - 4 && h[i + 1] == h[i] - 4 && h[i] >= 20 && h[i] <= 40)
          print x[i], y[i], w[i]
    }' | sort -n -k2
}

# box_fits NAME X WIDTH: a text box at X, WIDTH pixels wide, lies wholly
# inside the window NAME and is at least MIN_BOX_PX wide.
box_fits() {
  local id wx ww
  id=$(window "$1")
  wx=$(xwininfo -id "$id" | awk '/Absolute upper-left X/ { print $NF }')
  ww=$(xwininfo -id "$id" | awk '/Width:/ { print $NF }')
  echo "window: x $wx, $ww px wide; text box: x $2, $3 px wide"
  [ "$2" -ge "$wx" ] && [ $(($2 + $3)) -le $((wx + ww)) ] && [ "$3" -ge "$MIN_BOX_PX" ]
}

# The conversation with bob as Pidgin logged it (system lines included).
pidgin_log() { cat "$T"/pidgin/logs/jabber/ann@localhost/bob@localhost/*.txt 2>/dev/null; }
pidgin_log_has() { pidgin_log | grep -qF -- "$1"; }

run_pidgin() {
  local started=$SECONDS
  pidgin_steps
  echo "# pidgin: the group took $((SECONDS - started)) s; screenshots: $SHOTS/pidgin-*.png"
  cleanup
  unset DISPLAY
}

# The group's steps; a step that leaves nothing for those after it returns.
pidgin_steps() {
  local x width boxes conv shown
  client_group pidgin || return
  x_start || { not_ok "pidgin: a virtual screen (Xvfb) starts" "$(cat "$T/xvfb.err")"; return; }
  GDK_NATIVE_WINDOWS=1 pidgin -c "$T/pidgin" >"$T/pidgin.err" 2>&1 &
  PIDS+=($!)
  if ! wait_for 30 has_window "Buddy List"; then
    pidgin_not_ok "pidgin: Pidgin starts" "$(tail -5 "$T/pidgin.err")"
    return
  fi

  # A fresh install shares nothing: the plug-in says so when it starts.
  local warning="Zuvo File Sharing settings"
  pidgin_check "pidgin: sharing on without a shared folder gets a warning at start" \
    wait_for 10 has_window "$warning"
  shot "$warning" "$SHOTS/pidgin-warning.png"
  focus "$warning" && xdotool key Escape
  wait_for 5 no_window "$warning"

  # Tools > Plugins (Ctrl-U): the interactive search finds the plug-in by
  # its name; Enter on it opens its Configure window, titled with its name.
  focus "Buddy List" && xdotool key ctrl+u
  if ! wait_for 10 has_window Plugins; then
    pidgin_not_ok "pidgin: Tools > Plugins opens the Plugins dialog"
    return
  fi
  focus Plugins && xdotool type --delay 20 "Zuvo File Sharing"
  shot Plugins "$SHOTS/pidgin-plugins.png"
  xdotool key Return
  if wait_for 10 has_window "Zuvo File Sharing"; then
    ok "pidgin: the Plugins dialog lists Zuvo File Sharing, and its Configure window opens"
    shot "Zuvo File Sharing" "$SHOTS/pidgin-configure.png"
    boxes=$(text_boxes "Zuvo File Sharing")
    echo "# pidgin: Configure window: $(xwininfo -id "$(window "Zuvo File Sharing")" |
      awk '/Width:/ { w = $NF } /Height:/ { h = $NF } END { print w " x " h }') px;" \
      "its text boxes (x y width): $(paste -sd, <<<"$boxes")"
    read -r x _ width <<<"$boxes"
    pidgin_check "pidgin: the Configure window shows the shared folder's text box whole, wide enough for a path" \
      box_fits "Zuvo File Sharing" "${x:-0}" "${width:-0}"
    focus "Zuvo File Sharing" && xdotool key Escape
    wait_for 5 no_window "Zuvo File Sharing"
  else
    pidgin_not_ok "pidgin: the Plugins dialog lists Zuvo File Sharing, and its Configure window opens"
  fi
  focus Plugins && xdotool key Escape
  wait_for 5 no_window Plugins

  # bob says hello, which opens the conversation window (titled with bob's name).
  wait_for 20 bash -c 'grep -qs "signed on" "$1"/pidgin/logs/jabber/ann@localhost/.system/*' _ "$T"
  say bob "im bob ann@localhost hello ann"
  if ! wait_for 10 pidgin_log_has "hello ann" || ! conv=$(xdotool search --onlyvisible --name bob |
    head -1) || [ -z "$conv" ]; then
    pidgin_not_ok "pidgin: bob's message opens a conversation"
    return
  fi
  # Large enough for its picture to show the listing.
  xdotool windowsize "$conv" 900 700
  conv=$(xdotool getwindowname "$conv")

  pidgin_type "$conv" "/xrlist"
  if wait_for 30 pidgin_log_has "notes.md"; then
    ok "pidgin: /xrlist typed in the conversation shows the listing"
  else
    pidgin_not_ok "pidgin: /xrlist typed in the conversation shows the listing" "$(pidgin_log | tail -5)"
  fi

  pidgin_check "pidgin: the listing is shown under bob's shared folder, relative to it" \
    pidgin_log_has "bob shares $SHARE:"

  # The path as the listing showed it (relative to bob's shared folder), as
  # a person would copy it.
  shown=$(pidgin_log | grep -F "notes.md" | grep -v -e "/xrlist" | tail -1 |
    sed -E -e 's/^\([^)]*\) *//' -e 's/^[^ :]*: //' -e 's/[[:space:]]*$//')
  pidgin_type "$conv" "/xrfile $shown"
  if wait_for 30 test -f "$T/downloads/notes.md"; then
    pidgin_check "pidgin: /xrfile saves the file with equal bytes" \
      wait_for 10 cmp -s "$T/downloads/notes.md" "$SHARE/notes.md"
    pidgin_check "pidgin: and says where it saved it" wait_for 10 pidgin_log_has "Saved notes.md in "
  else
    pidgin_not_ok "pidgin: /xrfile saves the file" "typed: /xrfile $shown
$(pidgin_log | tail -5)"
  fi

  # /xroptions: a folder typed into its text box and applied with Enter;
  # the conversation then says what was stored, and that it does not exist.
  local missing=$T/no-such-folder options="Zuvo File Sharing - Preferences"
  pidgin_type "$conv" "/xroptions"
  if wait_for 10 has_window "$options"; then
    read -r x _ width <<<"$(text_boxes "$options")"
    echo "# pidgin: options dialog: $(xwininfo -id "$(window "$options")" | awk '/Width:/ { print $NF }') px wide;" \
      "its folder box ${width:-?} px"
    focus "$options" && xdotool type --delay 20 -- "$missing"
    shot "$options" "$SHOTS/pidgin-options.png"
    focus "$options" && xdotool key Return
    pidgin_check "pidgin: Apply in the options dialog says what it stored, in the conversation" \
      wait_for 10 pidgin_log_has "settings saved: shared folder $missing"
    pidgin_check "pidgin: and warns that the folder does not exist" \
      wait_for 5 pidgin_log_has "$missing does not exist"
  else
    pidgin_not_ok "pidgin: /xroptions opens the options dialog"
  fi
  shot "$conv" "$SHOTS/pidgin-conversation.png"
}
