#!/usr/bin/env bash
# Kills veskoqindra-cli with SIGKILL at random moments while it rewrites a
# list in place (check L L, in memory and partitioned in a scratch file
# under a budget of 4 KiB) and while it adds to one (add L TEXT, to a list
# ending in CR LF and to ones whose end-of-file mark it cuts), and checks
# after every kill that the list reads as its old lines or its new ones,
# byte for byte old or new where the add never shortens the file, and that
# no temporary file outlives the next save in the folder.
#   bench/kill_sweep.sh [KILLS_PER_CASE] [LINES]
# Not part of the test run: it depends on timing, and prints counts.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${CLI:-$PWD/build/bin/veskoqindra-cli}
kills=${1:-300}
lines=${2:-400000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Half of the lines repeat, so the check always rewrites the list.
python3 - "$lines" <<'EOF'
import sys
n = int(sys.argv[1])
with open("check.orig", "wb") as f:
    for i in range(n):
        f.write(b"user%d@example.cn\r\n" % (i % (n // 2)))
base = b"".join(b"a%d@example.cn\r\n" % i for i in range(20000))
open("add.orig", "wb").write(base)
open("add-short-tail.orig", "wb").write(base + b"\x1aj")
open("add-long-tail.orig", "wb").write(base + b"\x1a" + b"j" * 100)
EOF
: >empty.txt
printf 'x@y.cn\r\nx@y.cn\r\n' >next.txt

# The lines as the program reads them: a merge with an empty list writes
# them back with CR LF.
lines_of() { "$cli" merge "$1" empty.txt "$2" >/dev/null; }

# run_case NAME ORIG COMMAND...: the command rewrites ./l.txt.
run_case() {
    local name=$1 orig=$2
    shift 2
    cp "$orig" l.txt
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    cp l.txt new.bytes
    lines_of l.txt new.lines
    lines_of "$orig" old.lines
    local span=$(((end - start) / 1000)) # microseconds a whole run takes
    local old=0 new=0 oldLines=0 newLines=0 bad=0 finished=0 leftNow=0 leftAfter=0
    for ((k = 0; k < kills; k++)); do
        cp "$orig" l.txt
        # Anywhere from the start to a little past the end of a whole run.
        local us=$((RANDOM * span * 12 / 10 / 32768))
        if timeout --foreground -s KILL "$(printf '%d.%06d' $((us / 1000000)) $((us % 1000000)))" "$@" \
            >/dev/null 2>&1; then
            finished=$((finished + 1))
        fi
        if cmp -s l.txt "$orig"; then
            old=$((old + 1))
        elif cmp -s l.txt new.bytes; then
            new=$((new + 1))
        else
            lines_of l.txt now.lines
            if cmp -s now.lines old.lines; then
                oldLines=$((oldLines + 1))
            elif cmp -s now.lines new.lines; then
                newLines=$((newLines + 1))
            else
                bad=$((bad + 1))
                cp l.txt "bad-$name-$k"
            fi
        fi
        if ls -A | grep -q '^\.vq-save-'; then leftNow=$((leftNow + 1)); fi
        # The next save in the folder takes away what a killed one left.
        "$cli" check next.txt other.txt >/dev/null
        if ls -A | grep -q '^\.vq-save-'; then leftAfter=$((leftAfter + 1)); fi
    done
    printf '%-30s %6d %8d %6d %6d %9d %9d %5d %10d %12d\n' "$name" "$kills" "$finished" \
        "$old" "$new" "$oldLines" "$newLines" "$bad" "$leftNow" "$leftAfter"
    [ "$bad" -eq 0 ] && [ "$leftAfter" -eq 0 ]
}

printf '%-30s %6s %8s %6s %6s %9s %9s %5s %10s %12s\n' case kills finished old new \
    old-lines new-lines cut tmp-left tmp-after-next
status=0
run_case "check l.txt l.txt" check.orig "$cli" check l.txt l.txt || status=1
run_case "check --memory 4K l.txt l.txt" check.orig "$cli" check --memory 4K l.txt l.txt ||
    status=1
run_case "add, ends in CR LF" add.orig "$cli" add l.txt new@example.cn || status=1
run_case "add, 2 bytes cut" add-short-tail.orig "$cli" add l.txt new@example.cn || status=1
run_case "add, 101 bytes cut" add-long-tail.orig "$cli" add l.txt new@example.cn || status=1
exit $status
