#!/usr/bin/env bash
# The list check on a generated 10-million-line list (30 % repeats), side by
# side: `veskoqindra-cli check`, the same check through the main window
# (offscreen, dialogs answered), `perl -ne 'print unless $s{$_}++'` (the
# fastest order-keeping one-liner) and `LC_ALL=C sort -u` (different order,
# the usual alternative). Median of RUNS runs each, interleaved, with the
# list in the page cache; CPU time (user + system, which a busy machine
# disturbs less than the wall clock), peak memory and minor page faults
# from GNU time.
#   bench/check_bench.sh [LINES]            default 10000000
# Environment: RUNS (default 3), BUILD_DIR (default build-bench-check),
# VQ_BENCH_DIR (default /tmp/vq-bench; the list is made there once),
# SETTLE (default 5: seconds of pause before each timed command).
set -euo pipefail
cd "$(dirname "$0")/.."

lines=${1:-10000000}
RUNS=${RUNS:-3}
SETTLE=${SETTLE:-5}
BUILD_DIR=${BUILD_DIR:-build-bench-check}
dir=${VQ_BENCH_DIR:-/tmp/vq-bench}
mkdir -p "$dir"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli vq_gui >/dev/null
cmake -S bench/window_drivers -B "$BUILD_DIR/window_drivers" -G Ninja \
  -DVQ_BUILD="$(realpath "$BUILD_DIR")" >/dev/null
cmake --build "$BUILD_DIR/window_drivers" --target check_window >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")
window=$(realpath "$BUILD_DIR/window_drivers/check_window")

list="$dir/check-$lines.txt"
if [ ! -s "$list" ]; then
  echo "making $list ..." >&2
  python3 bench/gen_lists.py "$list" "$lines" --seed 3 --repeats 0.30
fi
out="$dir/check-out.txt"
trap 'rm -f "$out" "$dir"/check-*.out "$dir"/check-*.times' EXIT
cat "$list" > /dev/null # page cache

# The generated lines end in CR LF and hold no lone CR or LF, so perl's
# LF-ended records are exactly the check's lines: the outputs must agree.
"$cli" check "$list" "$out" > "$dir/check-cli.out"
perl -ne 'print unless $s{$_}++' "$list" > "$dir/check-perl.out"
cmp -s "$out" "$dir/check-perl.out" || { echo "check differs from perl" >&2; exit 1; }
rm -f "$out"
"$window" "$list" "$out" > "$dir/check-window.out" 2>/dev/null
cmp -s "$out" "$dir/check-perl.out" || { echo "window check differs from perl" >&2; exit 1; }
rm -f "$out" "$dir/check-perl.out"
cat "$dir/check-cli.out"

declare -A cmds=(
  [cli]="'$cli' check '$list' '$out' > /dev/null"
  [window]="'$window' '$list' '$out' > /dev/null 2>&1"
  [perl]="perl -ne 'print unless \$s{\$_}++' '$list' > '$out'"
  [sort]="LC_ALL=C sort -u '$list' > '$out'"
)
order=(cli window perl sort)
for name in "${order[@]}"; do : > "$dir/check-$name.times"; done
for ((i = 0; i < RUNS; i++)); do
  for name in "${order[@]}"; do
    rm -f "$out"
    # Memory a process has just freed is handed out again at once, but on a
    # virtual machine memory left free for a few seconds goes back to the
    # host and costs a fault there to get back: without a pause, whichever
    # command follows the one that freed most would run on warm memory.
    sleep "$SETTLE"
    /usr/bin/time -f '%e %M %U %S %R' -o "$dir/check-time.out" sh -c "${cmds[$name]}"
    cat "$dir/check-time.out" >> "$dir/check-$name.times"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A secs cpu mem faults
for name in "${order[@]}"; do
  secs[$name]=$(cut -d' ' -f1 "$dir/check-$name.times" | median)
  cpu[$name]=$(awk '{ print $3 + $4 }' "$dir/check-$name.times" | median)
  mem[$name]=$(cut -d' ' -f2 "$dir/check-$name.times" | sort -n | tail -1)
  faults[$name]=$(cut -d' ' -f5 "$dir/check-$name.times" | median)
done

size=$(stat -c %s "$list")
echo
echo "$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) CPUs"
echo "$(wc -l < "$list") lines, $(awk -v b="$size" 'BEGIN { printf "%.0f", b / 1048576 }') MiB," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %9s %9s %9s %7s %11s %10s %10s\n' \
  "" "wall s" "cpu s" "peak MiB" "/ list" "minor flt" "perl / x" "sort / x"
for name in "${order[@]}"; do
  awk -v n="$name" -v t="${secs[$name]}" -v c="${cpu[$name]}" -v m="${mem[$name]}" \
    -v f="${faults[$name]}" -v b="$size" -v p="${secs[perl]}" -v s="${secs[sort]}" \
    'BEGIN { printf "%-8s %9.3f %9.3f %9.0f %7.2f %11d %10.2f %10.2f\n",
             n, t, c, m / 1024, m * 1024 / b, f, p / t, s / t }'
done
awk -v w="${secs[window]}" -v c="${secs[cli]}" 'BEGIN { printf "window / cli (wall): %.2fx\n", w / c }'
echo "cli = veskoqindra-cli check; window = the same check from the main window (offscreen);"
echo "perl = perl -ne 'print unless \$s{\$_}++'; sort = LC_ALL=C sort -u"
