#!/usr/bin/env bash
# Times `veskoqindra-cli merge A B OUT` against `cat A B > OUT` on generated
# CR LF address lists of 1 and 10 million lines, side by side.
#   bench/merge.sh [LINES...]      default: 1000000 10000000
# Environment: RUNS (default 7), BUILD_DIR (default build-bench), TMPDIR.
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

# Seconds of one run, to the millisecond.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 )) | awk '{ printf "%.3f", $1 / 1000 }'
}
merge_once() { "$cli" merge "$1" "$2" "$3" >/dev/null; }
cat_once() { cat "$1" "$2" > "$3"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%s\n' "veskoqindra-cli merge vs cat, $RUNS runs each, files in $work"
for n in "${sizes[@]}"; do
  a="$work/a-$n.txt" b="$work/b-$n.txt" out="$work/out-$n.txt"
  python3 bench/gen_lists.py "$a" "$n" --seed 1
  python3 bench/gen_lists.py "$b" "$n" --seed 2
  cat "$a" "$b" > /dev/null # both inputs in the page cache before any timing

  # The generated lists end every line with CR LF and hold no 0x1A, so a
  # correct merge equals the plain concatenation byte for byte.
  merge_once "$a" "$b" "$out"
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
      rm -f "$out"; seconds merge_once "$a" "$b" "$out" >> "$work/merge.times"; echo >> "$work/merge.times"
      rm -f "$out"; seconds cat_once "$a" "$b" "$out" >> "$work/cat.times"; echo >> "$work/cat.times"
    done
    m=$(median < "$work/merge.times") c=$(median < "$work/cat.times")
    mmin=$(sort -n "$work/merge.times" | head -1) cmin=$(sort -n "$work/cat.times" | head -1)
    printf '%-8s median %7.3f s   best %7.3f s\n' merge "$m" "$mmin" cat "$c" "$cmin"
    awk -v m="$m" -v c="$c" 'BEGIN { printf "merge / cat (median): %.2fx\n", m / c }'
  fi
  rm -f "$a" "$b" "$out"
done
