#!/usr/bin/env bash
# Times `veskoqindra-cli merge A B OUT` against `cat A B > OUT` on generated
# CR LF address lists of 1 and 10 million lines, side by side.
#   bench/merge.sh [LINES...]      default: 1000000 10000000
# Environment: RUNS (default 7), BUILD_DIR (default build-bench), TMPDIR;
# VQ_BENCH_DATA names a folder where the generated lists are kept and reused.
# Needs what ./build.sh installs; uses hyperfine when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-7}
BUILD_DIR=${BUILD_DIR:-build-bench}
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000000 10000000)

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")

work=$(mktemp -d "${TMPDIR:-/tmp}/vq-bench-merge.XXXXXX")
trap 'rm -rf "$work"' EXIT

# "wall cpu" seconds of one run; cpu is user + system time, which other
# work on the machine disturbs far less than the wall clock.
timed() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}
merge_once() { "$cli" merge "$1" "$2" "$3"; }
cat_once() { cat "$1" "$2" > "$3"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%s\n' "veskoqindra-cli merge vs cat, $RUNS runs each, files in $work"
for n in "${sizes[@]}"; do
  data=${VQ_BENCH_DATA:-$work}
  mkdir -p "$data"
  a="$data/a-$n.txt" b="$data/b-$n.txt" out="$work/out-$n.txt"
  [ -s "$a" ] || python3 bench/gen_lists.py "$a" "$n" --seed 1
  [ -s "$b" ] || python3 bench/gen_lists.py "$b" "$n" --seed 2
  cat "$a" "$b" > /dev/null # both inputs in the page cache before any timing

  # The generated lists end every line with CR LF and hold no 0x1A, so a
  # correct merge equals the plain concatenation byte for byte.
  merge_once "$a" "$b" "$out" > /dev/null
  cat_once "$a" "$b" "$out.cat"
  cmp -s "$out" "$out.cat" || { echo "merge output differs from cat on $n lines" >&2; exit 1; }
  rm -f "$out.cat"

  size=$(du -m "$a" | cut -f1)
  echo
  echo "== two lists of $n lines (${size} MiB each) =="
  if command -v hyperfine >/dev/null; then
    hyperfine --warmup 1 --runs "$RUNS" --prepare "rm -f '$out'" \
      -n merge "'$cli' merge '$a' '$b' '$out'" -n cat "cat '$a' '$b' > '$out'"
  else
    : > "$work/merge.times"; : > "$work/cat.times"
    for ((i = 0; i < RUNS; i++)); do # interleaved, so drift hits both alike
      rm -f "$out"; timed merge_once "$a" "$b" "$out" >> "$work/merge.times"
      rm -f "$out"; timed cat_once "$a" "$b" "$out" >> "$work/cat.times"
    done
    for t in merge cat; do
      w=$(cut -d' ' -f1 "$work/$t.times" | median) c=$(cut -d' ' -f2 "$work/$t.times" | median)
      best=$(cut -d' ' -f1 "$work/$t.times" | sort -n | head -1)
      printf '%-6s wall median %6.3f s (best %6.3f s)   cpu median %6.3f s\n' "$t" "$w" "$best" "$c"
      eval "${t}_wall=$w ${t}_cpu=$c"
    done
    awk -v mw="$merge_wall" -v cw="$cat_wall" -v mc="$merge_cpu" -v cc="$cat_cpu" \
      'BEGIN { printf "merge / cat: wall %.2fx, cpu %.2fx\n", mw / cw, (cc > 0 ? mc / cc : 0) }'
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  fi
  rm -f "$out"
  [ -n "${VQ_BENCH_DATA:-}" ] || rm -f "$a" "$b"
done
