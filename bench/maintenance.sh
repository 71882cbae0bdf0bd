#!/usr/bin/env bash
# Times the splitter and the folder merger of veskoqindra-cli on a generated
# 10-million-line CR LF list, side by side with the coreutils that do the
# nearest thing:
#   split --size 1000 / 100000   vs  split -l 1000 / 100000
#   merge-folder DIR OUT         vs  cat DIR/*.txt > OUT   (the same ten files)
# The splitter reads the list twice (it counts before it cuts); `split -l`
# reads it once. merge-folder also lower-cases; cat copies. With strace
# installed, the system calls each numbered file costs follow, for both.
# On ext4 the creation of each file dominates a split into small parts; on
# tmpfs (TMPDIR=/dev/shm) what the program does around it shows.
#   bench/maintenance.sh [LINES]      default: 10000000
# Environment: RUNS (default 5), BUILD_DIR (default build-bench), TMPDIR,
# LIST (an existing CR LF list to use instead of generating one).
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
BUILD_DIR=${BUILD_DIR:-build-bench}
lines=${1:-10000000}

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")

work=$(mktemp -d "${TMPDIR:-/tmp}/vq-bench-maint.XXXXXX")
trap 'rm -rf "$work"' EXIT
list=${LIST:-}
if [ -z "$list" ]; then
  list="$work/list.txt"
  python3 bench/gen_lists.py "$list" "$lines" --seed 1
fi
lines=$(wc -l < "$list")
cat "$list" > /dev/null # in the page cache before any timing

# Wall, user and system seconds of one run (bash's own timer, children included).
TIMEFORMAT='%3R %3U %3S'
timed() { { time "$@" ; } 2>&1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
fresh() { rm -rf "$1"; mkdir -p "$1"; }

vq_split() { (cd "$work/vq" && "$cli" split "$list" --size "$1" --base x >/dev/null); }
core_split() { (cd "$work/core" && split -l "$1" "$list" x); }
vq_merge() { "$cli" merge-folder "$work/parts" "$work/merged-vq.out" >/dev/null; }
cat_merge() { cat "$work"/parts/*.txt > "$work/merged-cat.out"; }

# Runs A and B interleaved RUNS times (so drift hits both alike) and prints
# the medians of wall time and of CPU time (user + system), which a busy
# machine disturbs less. $1 label, $2/$3 commands, $4/$5 folders emptied first.
compare() {
  local label=$1 a=$2 b=$3
  : > "$work/a.times"; : > "$work/b.times"
  for ((i = 0; i < RUNS; i++)); do
    [ -n "${4:-}" ] && fresh "$4"
    timed $a >> "$work/a.times"
    [ -n "${5:-}" ] && fresh "$5"
    timed $b >> "$work/b.times"
  done
  local wa wb ca cb
  wa=$(cut -d' ' -f1 "$work/a.times" | median) wb=$(cut -d' ' -f1 "$work/b.times" | median)
  ca=$(awk '{ print $2 + $3 }' "$work/a.times" | median)
  cb=$(awk '{ print $2 + $3 }' "$work/b.times" | median)
  printf '%-32s wall %6.3f s vs %-10s %6.3f s = %.2fx   cpu %6.3f s vs %6.3f s = %.2fx\n' \
    "$label" "$wa" "${b%% *}" "$wb" "$(awk -v a="$wa" -v b="$wb" 'BEGIN { print a / b }')" \
    "$ca" "$cb" "$(awk -v a="$ca" -v b="$cb" 'BEGIN { print a / b }')"
}

echo "veskoqindra-cli maintenance commands, $lines lines ($(du -m "$list" | cut -f1) MiB), median of $RUNS"
for size in 1000 100000; do
  fresh "$work/vq"; fresh "$work/core"
  vq_split "$size"; core_split "$size"
  # The generated list ends every line in CR LF and holds no 0x1A, so the
  # numbered files equal split's pieces byte for byte.
  n=$(ls "$work/vq" | wc -l)
  [ "$n" -eq "$(ls "$work/core" | wc -l)" ] || { echo "file counts differ at $size" >&2; exit 1; }
  cmp -s "$work/vq/x1.txt" "$work/core/xaa" || { echo "first piece differs at $size" >&2; exit 1; }
  compare "split --size $size ($n files)" "vq_split $size" "core_split $size" "$work/vq" "$work/core"
done

# Ten lists of a tenth each, the kind of folder a user merges.
fresh "$work/parts"
(cd "$work/parts" && split -l $(( (lines + 9) / 10 )) -d --additional-suffix=.txt "$list" part)
cat "$work"/parts/*.txt > /dev/null
vq_merge
[ "$(cat "$work/merged-vq.out" | wc -c)" -eq "$(cat "$work"/parts/*.txt | wc -c)" ] ||
  { echo "merge-folder wrote a different size" >&2; exit 1; }
compare "merge-folder (10 files)" vq_merge cat_merge

# System calls a numbered file costs: a split of the first 1,000,000 lines
# into 1,000 files, counted by strace, less a split of the same lines into
# one file, divided by the 999 files more.
if command -v strace >/dev/null; then
  head -n 1000000 "$list" > "$work/small.txt"
  calls() { # folder, command...: the system calls of the command, run there
    local folder=$1; shift
    fresh "$folder"
    (cd "$folder" && strace -f -c -o "$work/strace.out" "$@" >/dev/null)
    awk '$NF == "total" { print $4 }' "$work/strace.out"
  }
  per_file() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (a - b) / 999 }'; }
  vq_calls=$(per_file "$(calls "$work/vq" "$cli" split "$work/small.txt" --size 1000 --base x)" \
    "$(calls "$work/vq" "$cli" split "$work/small.txt" --size 1000000 --base x)")
  core_calls=$(per_file "$(calls "$work/core" split -l 1000 "$work/small.txt" x)" \
    "$(calls "$work/core" split -l 1000000 "$work/small.txt" x)")
  printf '%-32s %s vs split -l %s\n' "system calls per numbered file" "$vq_calls" "$core_calls"
fi
