#!/usr/bin/env bash
# One end-to-end session inside an X server that xvfb-run has started:
#   session.sh PROGRAM SCREENSHOT_DIR
# Starts a window manager, a notification area and the program, then works
# through the commands as a user would: menus and toolbar buttons, dialogs
# found by their titles, paths typed into Qt's file dialogs.
set -euo pipefail
program=$1
shots=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"

# A plain X session: no desktop bus (Qt would look for a status-notifier
# host there instead of the X notification area), the xcb platform.
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 LANG=C.UTF-8

work=$(mktemp -d)
cleanup() {
  local pid
  # A program held still by the stop-button step must be let go to end.
  for pid in "${started[@]}"; do
    if kill "$pid" 2>/dev/null; then kill -CONT "$pid" 2>/dev/null || true; fi
  done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

start_desktop "$work"

# ---- the lists the commands work on ---------------------------------------
mkdir -p "$work"/{merge,check,filter,subtract,domains,split,add,out} "$work/folder/sub.txt"

# Manual merge: A's last line has no line end, B holds an empty line.
printf 'a1@x.cn\r\nA2@Y.com\r\na3@z.net' >"$work/merge/a.txt"
printf 'b1@x.cn\r\n\r\nb2@y.com\r\n' >"$work/merge/b.txt"
printf 'a1@x.cn\r\nA2@Y.com\r\na3@z.net\r\nb1@x.cn\r\n\r\nb2@y.com\r\n' >"$work/merge/expected.txt"

# Duplicate check: repeats in any place, case counts, empty lines repeat too.
printf 'x@a.cn\r\ny@b.com\r\nx@a.cn\r\nX@a.cn\r\n\r\ny@b.com\r\n\r\n' >"$work/check/dups.txt"
printf 'x@a.cn\r\ny@b.com\r\nX@a.cn\r\n\r\n' >"$work/check/expected.txt"
# A list long enough that the stop button is pressed while the pass runs.
make_long_list "$work/check/long.txt"

# OR filter with ".cn": trimmed and lower-cased; no at sign after the first
# byte means invalid, written nowhere.
printf '  Mike@Mail.CN \r\nann@example.com\r\nnoat.cn\r\n@lead.cn\r\nbob@site.cn.org\r\n\r\nzed@host.com.cn\r\n' \
  >"$work/filter/in.txt"
printf 'mike@mail.cn\r\nbob@site.cn.org\r\nzed@host.com.cn\r\n' >"$work/filter/expected-match.txt"
printf 'ann@example.com\r\n' >"$work/filter/expected-rest.txt"

# Removing two suppression lists: trimmed and lower-cased to compare, kept
# and removed lines written as they stand, invalid lines dropped.
printf '  Mike@Mail.CN \r\nann@example.com\r\nnoat.cn\r\nBob@Site.cn\r\nzed@host.com.cn\r\n' \
  >"$work/subtract/in.txt"
printf 'MIKE@mail.cn\r\n' >"$work/subtract/unsub1.txt"
printf ' zed@host.com.cn\t\r\nnobody@x.cn\r\n' >"$work/subtract/unsub2.txt"
printf 'ann@example.com\r\nBob@Site.cn\r\n' >"$work/subtract/expected-kept.txt"
printf '  Mike@Mail.CN \r\nzed@host.com.cn\r\n' >"$work/subtract/expected-removed.txt"
make_domain_list "$work/domains/list.txt"

# Split by 2 into part1.txt ...: five lines, the last without a line end.
printf 'l1@a.cn\r\nl2@a.cn\r\n\r\nl4@a.cn\r\nl5@a.cn' >"$work/split/in.txt"
printf 'l1@a.cn\r\nl2@a.cn\r\n' >"$work/split/expected1.txt"
printf '\r\nl4@a.cn\r\n' >"$work/split/expected2.txt"
printf 'l5@a.cn\r\n' >"$work/split/expected3.txt"

# Folder merge: every *.txt of the folder, any case of the suffix, capitals
# lower-cased, GB2312 bytes untouched; a sub-folder named *.txt, other
# suffixes and files in sub-folders are left out. The program starts in this
# folder, so its folder list shows it.
printf 'Hello@A.CN\r\nb@b.com' >"$work/folder/a.txt"
printf 'X@Y.Z\r\n\xd6\xd0\xce\xc4@Q.CN\r\n' >"$work/folder/B.TXT"
printf 'not@a.list\r\n' >"$work/folder/notes.csv"
printf 'deep@sub.cn\r\n' >"$work/folder/sub.txt/inner.txt"
printf 'hello@a.cn\r\nb@b.com\r\n' >"$work/out/part-a"
printf 'x@y.z\r\n\xd6\xd0\xce\xc4@q.cn\r\n' >"$work/out/part-b"

# Self-add: the end-of-file mark at the end is cut, the typed text trimmed.
printf 'first@a.cn\r\n\x1a' >"$work/add/list.txt"
printf 'first@a.cn\r\nnew@example.cn\r\n' >"$work/add/expected.txt"

# ---- start -----------------------------------------------------------------
start_program "$work/folder"
main=$(wait_window '^VeskoQindra V3\.4$')
main_window=$main
shot started

# ---- manual merge, from the menu ---------------------------------------------
step "manual merge"
menu alt+w h
answer_file_dialog '^选择待合并邮件列表文件A' "$work/merge/a.txt"
answer_file_dialog '^选择待合并邮件列表文件B' "$work/merge/b.txt"
answer_file_dialog '^合并后列表另存为' "$work/merge/out.txt"
dismiss_message '^信息' merge-done
expect_file "$work/merge/out.txt" "$work/merge/expected.txt"

# ---- duplicate check with duplicates, from the menu ---------------------------
step "duplicate check"
menu alt+g v
answer_file_dialog '^选择待校验邮件列表文件' "$work/check/dups.txt"
answer_file_dialog '^校验后列表另存为' "$work/check/out.txt"
dismiss_message '^信息' check-done
expect_file "$work/check/out.txt" "$work/check/expected.txt"

# ---- duplicate check stopped with "终 止", from the toolbar ---------------------
step "stopped duplicate check"
toolbar_click 3 # 校验重复
answer_file_dialog '^选择待校验邮件列表文件' "$work/check/long.txt"
# The pass over this list takes a fraction of a second; the click on the stop
# button is made the moment the progress window appears (see lib.sh).
answer_file_dialog '^校验后列表另存为' "$work/check/stopped.txt" press_stop_when_shown
shot check-stopping
dismiss_message '^信息' check-stopped
# The list repeats its first line at the end: a pass that was not stopped
# would have written the output.
[ ! -e "$work/check/stopped.txt" ] || fail "a stopped check wrote its output"

# ---- duplicate check hidden to the notification area and back -------------------
step "duplicate check hidden to the tray"
menu alt+g v
answer_file_dialog '^选择待校验邮件列表文件' "$work/check/long.txt"
answer_file_dialog '^校验后列表另存为' "$work/check/after-tray.txt" hold_when_progress_shown
# Minimised while the pass runs: the progress window goes with the main window.
xdotool windowminimize "$main"
run_until is_hidden "$progress_window"
is_hidden "$main" || fail "the main window stayed on screen"
shot check-hidden-to-tray
# The icon's click brings both back while the pass still runs. On a busy
# machine the pass may end first: then its message has waited for the main
# window and comes with it, and the progress window stays closed.
click_tray_icon
run_until progress_or_outcome_shown
is_shown "$main" || fail "the main window did not come back"
shot check-restored
kill -CONT "$program_pid"
dismiss_message '^信息' check-after-tray
head -n 3000000 "$work/check/long.txt" >"$work/check/expected-after-tray.txt"
expect_file "$work/check/after-tray.txt" "$work/check/expected-after-tray.txt"

# ---- OR filter after adding ".cn" with the add button, from the toolbar ---------
step "OR filter"
activate "$main"
click_in "$main" 208 $(($(client_height "$main") - 351 + 110)) # 添加参数 beside ".cn"
shot parameter-added
toolbar_click 4 # 或过滤
answer_file_dialog '^选择待过滤邮件列表文件-请确认已添加过滤参数项!' "$work/filter/in.txt"
answer_file_dialog '^符合过滤条件的列表文件保存为' "$work/filter/match.txt"
answer_file_dialog '^不符合过滤条件列表文件保存为' "$work/filter/rest.txt"
wait_file "$work/filter/rest.txt" "$work/filter/expected-rest.txt"
expect_file "$work/filter/match.txt" "$work/filter/expected-match.txt"
shot filtered

# ---- removing suppression lists, from the menu -----------------------------------
step "subtract"
menu alt+g t
answer_file_dialog '^选择待剔除退订地址的邮件列表文件' "$work/subtract/in.txt"
# Qt's dialog takes several files as quoted names.
answer_file_dialog '^选择退订列表文件' "\"$work/subtract/unsub1.txt\" \"$work/subtract/unsub2.txt\""
answer_file_dialog '^剔除退订地址后的列表文件保存为' "$work/subtract/kept.txt"
answer_file_dialog '^被剔除的退订地址列表文件保存为' "$work/subtract/removed.txt"
wait_file "$work/subtract/removed.txt" "$work/subtract/expected-removed.txt"
expect_file "$work/subtract/kept.txt" "$work/subtract/expected-kept.txt"
window_shot subtracted "$main"

# ---- counting a million-line list by domain, from the menu -----------------------
step "domain count"
menu alt+g d
answer_file_dialog '^选择待统计域名的邮件列表文件' "$work/domains/list.txt"
domains=$(wait_window '^域名统计 - ')
activate "$domains"
sleep "$poll" # the first paint after the window manager placed it
window_shot domain-window "$domains"
xdotool key alt+s # 保存统计表
answer_file_dialog '^域名统计表保存为' "$work/domains/table.csv"
wait_nonempty "$work/domains/table.csv"
head -n 1 "$work/domains/table.csv" | cmp -s - <(printf 'domain,count\r\n') ||
  fail "the table's header is not domain,count"
LC_ALL=C grep -aq $'^\326\320\316\304.cn,[0-9]*\r$' "$work/domains/table.csv" ||
  fail "the code page 936 domain did not keep its bytes"
activate "$domains"
xdotool key alt+F4
wait_gone "$domains"

# ---- split, from the menu -------------------------------------------------------
step "split"
menu alt+w c
answer_file_dialog '^选择待分割邮件列表文件' "$work/split/in.txt"
answer_input_box '^提示信息' 2
answer_input_box '^提示信息' part
dismiss_message '^信息' split-done
for k in 1 2 3; do expect_file "$work/split/part$k.txt" "$work/split/expected$k.txt"; done
[ ! -e "$work/split/part4.txt" ] || fail "the split wrote a fourth file"

# ---- folder merge, from the toolbar ---------------------------------------------
step "folder merge"
toolbar_click 1 # 自动合并
merger=$(wait_window '^指定目录下邮件列表自动合并')
shot folder-merge-window
click_in "$merger" 244 72 # 开始合并
answer_file_dialog '^合并后列表保存为' "$work/out/merged.txt"
# The folder search returns files unsorted; either order is right.
cat "$work/out/part-a" "$work/out/part-b" >"$work/out/expected-ab"
cat "$work/out/part-b" "$work/out/part-a" >"$work/out/expected-ba"
wait_file "$work/out/merged.txt" "$work/out/expected-ab" "$work/out/expected-ba"
shot folder-merged
click_in "$merger" 244 136 # 取消合并
wait_gone "$merger"

# ---- self-add, from the menu --------------------------------------------------------
step "self-add"
menu alt+w t
answer_input_box '^提示信息' '  new@example.cn  '
answer_file_dialog '^请打开邮件列表文件' "$work/add/list.txt"
dismiss_message '^信息' self-add-done
expect_file "$work/add/list.txt" "$work/add/expected.txt"

# ---- hide to the notification area and back --------------------------------------------
step "tray"
xdotool windowminimize "$main"
wait_gone "$main"
shot hidden-to-tray
# The icon's click comes with the release of the button, not with the press.
point_at_tray_icon
xdotool mousedown 1
stays_hidden "$main" 1
xdotool mouseup 1
wait_shown "$main"
shot restored

# ---- the window's size: never below the design's, grown as the design's ----------------
step "window size"
design="602x$(client_height "$main")"
resize_to "$main" 300 200 "$design"
shot smallest-is-design-size
xdotool windowmove "$main" 0 0 # room below it for the grown window
resize_to "$main" 900 560 900x560
shot enlarged
# The right list keeps to the right edge, its controls where they are in
# it: its add button (176 pixels into the panel) adds ".com", and the text
# shows in the first row of its grid (8, 64 in the panel).
menubar=$((${design#*x} - 351))
right_panel=$((900 - 2 - 2 - 248))
grid_row="$((right_panel + 10)) $((menubar + 65 + 4 + 64 + 2)) 100 14"
# shellcheck disable=SC2086 # grid_row is four numbers
! has_dark_pixels "$main" $grid_row || fail "the AND list's first row is not empty"
click_in "$main" $((right_panel + 176 + 28)) $((menubar + 110)) # 添加参数 beside ".com"
sleep 0.3
# shellcheck disable=SC2086
has_dark_pixels "$main" $grid_row || fail "the add button of the grown window added nothing"
shot enlarged-parameter-added
resize_to "$main" 602 "${design#*x}" "$design"

# ---- About -------------------------------------------------------------------------------
step "About"
menu alt+h a
about=$(wait_window '^关于VeskoQindra')
shot about
resize_to "$about" 400 300 400x300
shot about-enlarged
click_in "$about" 210 152 # the OFF switch
wait_gone "$about"

# ---- exit through the confirmation -----------------------------------------------------
step "exit"
menu alt+e
confirm=$(wait_window '^确认')
shot exit-confirmation
activate "$confirm"
xdotool key Escape # 放弃: the program stays
wait_gone "$confirm"
program_running || fail "the program ended on 放弃"
menu alt+e
confirm=$(wait_window '^确认')
activate "$confirm"
xdotool key Return # 确定
wait_program_exit 0
echo "e2e: all steps passed"
