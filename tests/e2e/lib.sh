# shellcheck shell=bash
# shellcheck disable=SC2154 # program and shots are set by session.sh
# Helpers of the end-to-end session (sourced by session.sh). Every wait polls
# for a window or a file with a bounded time-out and fails with a screenshot;
# nothing sleeps longer than one poll interval.

started=()       # processes this session started, ended by cleanup
program_pid=""
main_window=""
shot_no=0
current_step="start-up"

poll=0.05        # seconds between two looks
default_wait=15  # seconds a window or file may take to appear

now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

shot() {
  shot_no=$((shot_no + 1))
  import -window root "$(printf '%s/%02d-%s.png' "$shots" "$shot_no" "$1")" 2>/dev/null || true
}

# window_shot NAME WINDOW: a screenshot of one window's client area.
window_shot() {
  shot_no=$((shot_no + 1))
  import -window "$2" "$(printf '%s/%02d-%s.png' "$shots" "$shot_no" "$1")" 2>/dev/null || true
}

step() {
  current_step=$1
  echo "e2e: -- $1"
}

fail() {
  echo "e2e: FAIL in '$current_step': $*" >&2
  echo "e2e: windows on screen:" >&2
  local w
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    echo "  $w $(xdotool getwindowname "$w" 2>/dev/null)" >&2
  done
  shot "FAILED"
  exit 1
}

# An error box has the program's title, as the main window has; any such
# window other than the main window means a command failed.
check_no_error_box() {
  local w
  for w in $(xdotool search --onlyvisible --name '^VeskoQindra V3\.4$' 2>/dev/null); do
    if [ "$w" != "$main_window" ]; then
      shot "error-box"
      fail "an error box appeared"
    fi
  done
}

# wait_window REGEX [SECONDS]: prints the id of a shown window whose title
# matches.
wait_window() {
  local re=$1 limit=$(($(now_ms) + ${2:-$default_wait} * 1000)) ids
  while :; do
    ids=$(xdotool search --onlyvisible --name "$re" 2>/dev/null || true)
    if [ -n "$ids" ]; then
      echo "$ids" | tail -n 1
      return 0
    fi
    [ -n "$main_window" ] && check_no_error_box
    [ -z "$program_pid" ] || program_running || fail "the program ended while waiting for '$re'"
    [ "$(now_ms)" -lt "$limit" ] || fail "no window '$re'"
    sleep "$poll"
  done
}

is_shown() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

wait_gone() {
  local limit=$(($(now_ms) + ${2:-$default_wait} * 1000))
  while is_shown "$1"; do
    [ "$(now_ms)" -lt "$limit" ] || fail "window $1 ($(xdotool getwindowname "$1" 2>/dev/null)) stayed"
    sleep "$poll"
  done
}

wait_shown() {
  local limit=$(($(now_ms) + ${2:-$default_wait} * 1000))
  until is_shown "$1"; do
    [ "$(now_ms)" -lt "$limit" ] || fail "window $1 did not come back"
    sleep "$poll"
  done
}

# Gives a window the keyboard through the window manager.
activate() {
  local limit=$(($(now_ms) + default_wait * 1000))
  until [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; do
    xdotool windowactivate "$1" 2>/dev/null || true
    [ "$(now_ms)" -lt "$limit" ] || fail "window $1 cannot be activated"
    sleep "$poll"
  done
}

# click_in WINDOW X Y: a left click at a point of the window's client area.
click_in() {
  xdotool mousemove --window "$1" --sync "$2" "$3" click 1
}

client_height() {
  local HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$1" | grep '^HEIGHT=')"
  echo "$HEIGHT"
}

client_size() {
  local WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$1" | grep '^\(WIDTH\|HEIGHT\)=')"
  echo "${WIDTH}x$HEIGHT"
}

# resize_to WINDOW W H EXPECTED: asks the window manager for W x H and waits
# until the client area is EXPECTED (WxH), which the window's own smallest
# size may have put above what was asked.
resize_to() {
  local limit=$(($(now_ms) + default_wait * 1000))
  xdotool windowsize "$1" "$2" "$3"
  until [ "$(client_size "$1")" = "$4" ]; do
    [ "$(now_ms)" -lt "$limit" ] || fail "window $1 is $(client_size "$1"), not $4"
    sleep "$poll"
  done
  sleep 0.3 # the new layout painted
}

# has_dark_pixels WINDOW X Y W H: whether text (a nearly black pixel) shows
# in that part of the window's client area.
has_dark_pixels() {
  [ "$(import -window "$1" -crop "${4}x${5}+$2+$3" +repage png:- 2>/dev/null |
    convert - -colorspace gray -format '%[fx:minima < 0.3]' info:)" = 1 ]
}

# The main window's client area is the menu bar and 351 pixels below it; the
# toolbar's buttons are 58 pixels apart from x = 2, two pixels down.
toolbar_click() {
  local menubar=$(($(client_height "$main_window") - 351))
  activate "$main_window"
  click_in "$main_window" $((2 + 58 * ($1 - 1) + 28)) $((menubar + 2 + 27))
  # Away from the button, so that its tool tip does not cover what follows.
  xdotool mousemove 0 0
}

# menu KEY [ITEM-LETTER]: opens a menu of the bar with its Alt key and picks
# an item by its underlined letter, as from the keyboard. Qt handles the keys
# in the order they come: the Alt key has opened the menu (and made it the
# receiver of keys) before the letter is looked at, so there is nothing to
# wait for in between. (Pop-up menus have no title to wait on, and Qt gives
# a menu opened a second time another window type.)
menu() {
  activate "$main_window"
  xdotool key "$@"
}

# answer_file_dialog TITLE-REGEX PATH [ACCEPT]: types the path into Qt's
# file dialog (its file-name box has the keyboard when it opens) and accepts
# it, by pressing Return or by running ACCEPT.
answer_file_dialog() {
  local d
  d=$(wait_window "$1")
  activate "$d"
  xdotool key ctrl+a
  xdotool type --delay 8 -- "$2"
  shot "$(basename "$2" .txt)-typed"
  "${3:-press_return}"
  wait_gone "$d"
}

press_return() { xdotool key Return; }

# Accepts the check's save dialog with Return and holds the program still
# (SIGSTOP) the moment its progress window is there; sets progress_window.
# A pass over a few million lines is over in a fraction of a second, less
# than a look for the window and a click take. So the window manager's list
# of windows is watched instead: each time it changes, the program is held
# still and the new windows are looked at; once the progress window is
# there, the program stays held, long before the pass can end.
progress_window=""
hold_when_progress_shown() {
  local spy line ids w limit=$(($(now_ms) + 60000))
  progress_window=""
  exec {spy}< <(exec stdbuf -oL xprop -spy -root _NET_CLIENT_LIST)
  local spy_pid=$!
  started+=("$spy_pid")
  read -r -t "$default_wait" line <&"$spy" || fail "cannot watch the window list"
  xdotool key Return
  while :; do
    [ "$(now_ms)" -lt "$limit" ] || fail "no progress window"
    read -r -t 1 line <&"$spy" || continue
    kill -STOP "$program_pid"
    ids=$(grep -o '0x[0-9a-f]*' <<<"$line" || true)
    for w in $ids; do
      if xdotool getwindowname "$((w))" 2>/dev/null | grep -q '^正在校验网址/邮址列表'; then
        progress_window=$((w))
      fi
    done
    [ -z "$progress_window" ] || break
    kill -CONT "$program_pid"
    check_no_error_box
  done
  kill "$spy_pid" 2>/dev/null || true
  exec {spy}<&-
  wait_shown "$progress_window"
}

# Accepts the check's save dialog and presses "终 止" while the pass runs: the
# click is made while the program stands and lands the moment it goes on.
press_stop_when_shown() {
  hold_when_progress_shown
  click_in "$progress_window" 236 24 # 终 止
  kill -CONT "$program_pid"
}

# run_until CONDITION...: lets the held program go on until the condition
# holds, then holds it again. Looks more often than poll: the pass it races
# is short.
run_until() {
  local limit=$(($(now_ms) + default_wait * 1000))
  kill -CONT "$program_pid"
  until "$@"; do
    [ "$(now_ms)" -lt "$limit" ] || { kill -CONT "$program_pid"; fail "waited in vain for: $*"; }
    sleep 0.005
  done
  kill -STOP "$program_pid"
}

is_hidden() { ! is_shown "$1"; }

progress_or_outcome_shown() {
  is_shown "$progress_window" || [ -n "$(xdotool search --onlyvisible --name '^信息' 2>/dev/null)" ]
}

answer_input_box() {
  local d
  d=$(wait_window "$1")
  activate "$d"
  xdotool key ctrl+a
  xdotool type --delay 8 -- "$2"
  shot "input-${2// /}"
  xdotool key Return
  wait_gone "$d"
}

# dismiss_message TITLE-REGEX SHOT-NAME: waits for a message box, keeps a
# screenshot, presses its default button.
dismiss_message() {
  local d
  d=$(wait_window "$1" 60)
  shot "$2"
  activate "$d"
  xdotool key Return
  wait_gone "$d"
}

show_bytes() { od -c "$1" | head -n 20 | sed 's/^/    /' >&2; }

expect_file() {
  [ -f "$1" ] || fail "$1 was not written"
  if ! cmp -s "$1" "$2"; then
    echo "e2e: $1 holds:" >&2
    show_bytes "$1"
    echo "e2e: expected:" >&2
    show_bytes "$2"
    fail "$1 differs from what the command must write"
  fi
}

# wait_file FILE EXPECTED...: the commands without a closing message are done
# when their last file holds what it must (one of the expected contents).
wait_file() {
  local file=$1 limit=$(($(now_ms) + default_wait * 1000)) e
  shift
  while :; do
    for e in "$@"; do cmp -s "$file" "$e" && return 0; done
    check_no_error_box
    if [ "$(now_ms)" -ge "$limit" ]; then
      expect_file "$file" "$1"
    fi
    sleep "$poll"
  done
}

wait_nonempty() {
  local limit=$(($(now_ms) + default_wait * 1000))
  until [ -s "$1" ]; do
    [ "$(now_ms)" -lt "$limit" ] || fail "$1 was not written"
    sleep "$poll"
  done
}

# Three million distinct addresses and the first one again at the end: long
# enough that the de-duplication pass outlasts a click on the stop button,
# and a pass that ran to its end would write its output. Made once and reused
# by later runs.
make_long_list() {
  local cache=${TMPDIR:-/tmp}/veskoqindra-e2e-long-list.txt
  local lines=3000001
  if [ ! -s "$cache" ] || [ "$(wc -l <"$cache")" -ne "$lines" ]; then
    awk -v n="$((lines - 1))" 'BEGIN {
      for (i = 1; i <= n; i++) printf "user%d@example%d.cn\r\n", i, i % 97
      printf "user1@example1.cn\r\n" }' >"$cache.tmp"
    mv "$cache.tmp" "$cache"
  fi
  ln -s "$cache" "$1"
}

# A million addresses at a few large mail domains and a long tail of small
# ones, a tenth in capitals, some invalid, and a domain in code page 936
# (中文.cn): what a domain count of a real list looks like. Made once.
make_domain_list() {
  local cache=${TMPDIR:-/tmp}/veskoqindra-e2e-domain-list.txt
  if [ ! -s "$cache" ]; then
    awk 'BEGIN {
      n = split("qq.com 163.com 126.com gmail.com sina.com hotmail.com 139.com sohu.com yahoo.com.cn foxmail.com outlook.com aliyun.com", big, " ")
      srand(29)
      for (i = 1; i <= 1000000; i++) {
        r = rand()
        if (r < 0.85) d = big[1 + int(rand() * rand() * n)]
        else if (r < 0.86) d = "\326\320\316\304.cn"
        else d = sprintf("mail.h%d.com.cn", int(rand() * rand() * 3000))
        a = sprintf("user%d@%s", i, d)
        if (rand() < 0.1) a = toupper(a)
        if (rand() < 0.02) a = "user" i
        printf "%s\r\n", a
      } }' >"$cache.tmp"
    mv "$cache.tmp" "$cache"
  fi
  ln -s "$cache" "$1"
}

# start_desktop FOLDER: the window manager, then the notification area.
start_desktop() {
  # Openbox announces itself before it handles the requests of other
  # windows; a panel mapped in between is never managed and stays unseen.
  # Its --startup command runs once it is ready.
  local ready="$1/.window-manager-ready"
  openbox --startup "touch $ready" >"$shots/openbox.log" 2>&1 &
  started+=($!)
  local limit=$(($(now_ms) + default_wait * 1000))
  until [ -e "$ready" ]; do
    [ "$(now_ms)" -lt "$limit" ] || fail "the window manager did not start"
    sleep "$poll"
  done
  trayer --edge bottom --align right --widthtype request --height 32 --SetDockType true \
    >"$shots/trayer.log" 2>&1 &
  started+=($!)
  wait_window '^panel$' >/dev/null
}

start_program() {
  (cd "$1" && exec "$program") >"$shots/program.log" 2>&1 &
  program_pid=$!
  started+=("$program_pid")
}

program_running() { kill -0 "$program_pid" 2>/dev/null; }

wait_program_exit() {
  local limit=$(($(now_ms) + default_wait * 1000)) status=0
  while program_running; do
    [ "$(now_ms)" -lt "$limit" ] || fail "the program did not end"
    sleep "$poll"
  done
  wait "$program_pid" || status=$?
  [ "$status" -eq "$1" ] || fail "the program ended with status $status"
}

# The program's icon is the child of the notification area that belongs to
# the program; one left click on its middle.
click_tray_icon() {
  point_at_tray_icon
  xdotool click 1
}

point_at_tray_icon() {
  local w
  w=$(tray_icon_window) || fail "no icon of the program in the notification area"
  local X Y WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$w" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
  xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
}

# stays_hidden WINDOW SECONDS: fails if the window comes back within the time.
stays_hidden() {
  local limit=$(($(now_ms) + $2 * 1000))
  while [ "$(now_ms)" -lt "$limit" ]; do
    is_hidden "$1" || fail "window $1 came back"
    sleep "$poll"
  done
}

# The icon is a window embedded into the notification area (it carries
# _XEMBED_INFO) and made by the program.
tray_icon_window() {
  local w
  for w in $(xdotool search --onlyvisible --classname '' 2>/dev/null); do
    xprop -id "$w" _XEMBED_INFO 2>/dev/null | grep -q '=' || continue
    if xprop -id "$w" _NET_WM_PID 2>/dev/null | grep -q "= $program_pid\$"; then
      echo "$w"
      return 0
    fi
  done
  return 1
}
