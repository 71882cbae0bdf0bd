#!/usr/bin/env bash
# Each command on the generated 10-million-line list with CR LF line ends and
# on the same list written on Linux (LF line ends), side by side in one run:
# check, the OR filter with 1 and 10,000 rows, split at 1000 lines and merge.
# The LF list must cost at most 1.1x the CR LF one. The outputs of the two
# are compared byte for byte first. Median of RUNS runs, interleaved, lists in
# the page cache; wall and CPU seconds and peak memory from GNU time.
#   bench/line_ends_bench.sh [LINES]         default 10000000
# Environment: RUNS (default 5), WORK_DIR (outputs), SETTLE (seconds before each timed command,
# default 2), BUILD_DIR (default build-bench), VQ_BENCH_DIR (default
# /tmp/vq-bench; the lists are made there once).
set -euo pipefail
cd "$(dirname "$0")/.."

lines=${1:-10000000}
RUNS=${RUNS:-5}
SETTLE=${SETTLE:-2}
BUILD_DIR=${BUILD_DIR:-build-bench}
dir=${VQ_BENCH_DIR:-/tmp/vq-bench}
mkdir -p "$dir"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")

crlf="$dir/lists-$lines.txt"
lf="$dir/lists-$lines-lf.txt"
[ -s "$crlf" ] || python3 bench/gen_lists.py "$crlf" "$lines"
[ -s "$lf" ] || tr -d '\r' < "$crlf" > "$lf"
printf '.cn\r\n' > "$dir/p-or1.txt"
awk 'BEGIN { split(".com .cn .com.cn .net .org .edu.cn", t, " "); srand(11);
  for (i = 0; i < 10000; i++) { k = int(rand() * 40000); printf "@h%d%s\r\n", k, t[1 + int(rand() * 6)] } }' \
  > "$dir/p-or10000.txt"

# WORK_DIR: where the outputs go (default VQ_BENCH_DIR); a tmpfs there keeps
# the disk's writeback out of the figures.
work=$(mktemp -d "${WORK_DIR:-$dir}/line-ends.XXXXXX")
trap 'rm -rf "$work"' EXIT

declare -A cmds
names=(check or1 or10000 split merge)
for kind in crlf lf; do
  list=${!kind}
  out="$work/$kind"
  mkdir -p "$out"
  cmds[check-$kind]="'$cli' check '$list' '$out/checked.txt'"
  cmds[or1-$kind]="'$cli' filter --or --params '$dir/p-or1.txt' '$list' '$out/m.txt' '$out/r.txt'"
  cmds[or10000-$kind]="'$cli' filter --or --params '$dir/p-or10000.txt' '$list' '$out/m.txt' '$out/r.txt'"
  cmds[split-$kind]="cd '$out' && '$cli' split '$list' --size 1000 --base part"
  cmds[merge-$kind]="'$cli' merge '$list' '$list' '$out/merged.txt'"
done

# Both kinds must give the same bytes.
for name in "${names[@]}"; do
  for kind in crlf lf; do
    rm -rf "$work/$kind" && mkdir -p "$work/$kind"
    sh -c "${cmds[$name-$kind]}" > /dev/null
  done
  diff -r "$work/crlf" "$work/lf" > /dev/null || { echo "$name: outputs differ" >&2; exit 1; }
done

cat "$crlf" "$lf" > /dev/null # page cache
for name in "${names[@]}"; do for kind in crlf lf; do : > "$work/$name-$kind.times"; done; done
for ((i = 0; i < RUNS; i++)); do
  for name in "${names[@]}"; do
    for kind in crlf lf; do
      rm -rf "$work/$kind" && mkdir -p "$work/$kind"
      sync; sleep "$SETTLE" # no writeback of the last run's outputs under this one
      /usr/bin/time -f '%e %M %U %S' -o "$work/time.out" sh -c "${cmds[$name-$kind]}" > /dev/null
      cat "$work/time.out" >> "$work/$name-$kind.times"
    done
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "$(wc -l < "$crlf") lines, CR LF $(du -m "$crlf" | cut -f1) MiB, LF $(du -m "$lf" | cut -f1) MiB, $RUNS runs, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s | %8s %8s %9s | %8s %8s %9s | %7s\n' command "CRLF s" "cpu s" "peak MiB" "LF s" "cpu s" \
  "peak MiB" "LF/CRLF"
for name in "${names[@]}"; do
  row=()
  for kind in crlf lf; do
    f="$work/$name-$kind.times"
    row+=("$(cut -d' ' -f1 "$f" | median)" "$(awk '{ print $3 + $4 }' "$f" | median)"
      "$(cut -d' ' -f2 "$f" | sort -n | tail -1)")
  done
  awk -v n="$name" -v a="${row[0]}" -v b="${row[1]}" -v c="${row[2]}" -v d="${row[3]}" \
    -v e="${row[4]}" -v f="${row[5]}" \
    'BEGIN { printf "%-9s | %8.3f %8.3f %9.1f | %8.3f %8.3f %9.1f | %6.2fx\n", n, a, b, c / 1024, d, e, f / 1024, d / a }'
done
