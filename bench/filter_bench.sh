#!/usr/bin/env bash
# The OR and AND filters on a generated 10-million-line list, at parameter
# counts from one row to ten thousand, side by side in one run with
# `grep -F -i -f P IN > M; grep -vF -i -f P IN > R` (which does less: no
# trimming or validity test) and with `cat IN > OUT`. The window path (the
# parameter file imported from the list's pop-up menu, then the filter, in
# the main window offscreen) runs beside the command line at 10,000 rows.
# Median of RUNS runs, interleaved, list in the page cache; wall and CPU
# seconds and peak memory from GNU time; the matcher's own size per row set.
#   bench/filter_bench.sh [LINES]            default 10000000
# Environment: RUNS (default 3), BUILD_DIR (default build-bench-filter),
# VQ_BENCH_DIR (default /tmp/vq-bench; the list is made there once).
set -euo pipefail
cd "$(dirname "$0")/.."

lines=${1:-10000000}
RUNS=${RUNS:-3}
BUILD_DIR=${BUILD_DIR:-build-bench-filter}
dir=${VQ_BENCH_DIR:-/tmp/vq-bench}
mkdir -p "$dir"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli vq_gui >/dev/null
cmake -S bench/window_drivers -B "$BUILD_DIR/window_drivers" -G Ninja \
  -DVQ_BUILD="$(realpath "$BUILD_DIR")" >/dev/null
cmake --build "$BUILD_DIR/window_drivers" --target filter_window >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")
window=$(realpath "$BUILD_DIR/window_drivers/filter_window")

list="$dir/filter-$lines.txt"
if [ ! -s "$list" ]; then
  echo "making $list ..." >&2
  # Addresses at 20,000 domains, the popular ones far more often; some in
  # capitals or padded with blanks, a few invalid; CR LF line ends.
  awk -v n="$lines" 'BEGIN {
    split(".com .cn .com.cn .net .org .edu.cn", t, " ");
    srand(7);
    for (i = 0; i < n; i++) {
      k = int(rand() * rand() * 20000);
      a = sprintf("user%d.%x@h%d%s", i, int(rand() * 1000000), k, t[1 + k % 6]);
      r = rand();
      if (r < 0.05) a = toupper(a); else if (r < 0.08) a = "  " a " "; else if (r < 0.09) a = "u" i;
      printf "%s\r\n", a;
    }
  }' > "$list"
fi

# The parameter files.
printf '.cn\r\n' > "$dir/p-or1.txt"
printf '%s\r\n' .cn @h1. @h2. @h3. .org @h10 @h20 @h30 @h40 @h50 > "$dir/p-or10.txt"
# 1,000 domains that the list holds, as a user would take them from it.
awk -F@ 'NR % 97 == 0 && NF == 2 { print "@" tolower($2) }' "$list" | tr -d ' \r' \
  | sort -u | awk 'NR <= 1000 { print $0 "\r" }' > "$dir/p-or1000.txt"
# 10,000 domains in the list's own form, about half of which it holds.
awk 'BEGIN { split(".com .cn .com.cn .net .org .edu.cn", t, " "); srand(11);
  for (i = 0; i < 10000; i++) { k = int(rand() * 40000); printf "@h%d%s\r\n", k, t[1 + int(rand() * 6)] } }' \
  > "$dir/p-or10000.txt"
printf '%s\r\n' .com @ user > "$dir/p-and3.txt"
{ printf '%s\r\n' user @ . ser; for i in $(seq 4 99); do printf '@h%d.\r\n' "$i"; done; } > "$dir/p-and100.txt"

out="$dir/filter-m.out"
rest="$dir/filter-r.out"
trap 'rm -f "$out" "$rest" "$dir"/filter-*.times "$dir"/filter-time.out' EXIT
cat "$list" > /dev/null # page cache

# The window must write exactly what the command line writes.
"$cli" filter --or --params "$dir/p-or10000.txt" "$list" "$out" "$rest" > /dev/null
sum=$(cat "$out" "$rest" | md5sum)
"$window" or "$dir/p-or10000.txt" "$list" "$out" "$rest" > /dev/null 2>&1
[ "$(cat "$out" "$rest" | md5sum)" = "$sum" ] || { echo "window output differs" >&2; exit 1; }

declare -A cmds
order=(cat)
cmds[cat]="cat '$list' > '$out'"
for set in or1 or10 or1000 or10000 and3 and100; do
  rule=--${set%%[0-9]*}
  p="$dir/p-$set.txt"
  cmds[$set]="'$cli' filter $rule --params '$p' '$list' '$out' '$rest' > /dev/null"
  cmds[grep-$set]="grep -F -i -f '$p' '$list' > '$out'; grep -vF -i -f '$p' '$list' > '$rest'"
  order+=("$set" "grep-$set")
done
cmds[window-or10000]="'$window' or '$dir/p-or10000.txt' '$list' '$out' '$rest' > /dev/null 2>&1"
order+=(window-or10000)

for name in "${order[@]}"; do : > "$dir/filter-$name.times"; done
for ((i = 0; i < RUNS; i++)); do
  for name in "${order[@]}"; do
    rm -f "$out" "$rest"
    # grep says 1 when it finds nothing: not a failure here.
    /usr/bin/time -f '%e %M %U %S' -o "$dir/filter-time.out" sh -c "${cmds[$name]}" || true
    cat "$dir/filter-time.out" >> "$dir/filter-$name.times"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A secs cpu mem
for name in "${order[@]}"; do
  secs[$name]=$(cut -d' ' -f1 "$dir/filter-$name.times" | median)
  cpu[$name]=$(awk '{ print $3 + $4 }' "$dir/filter-$name.times" | median)
  mem[$name]=$(cut -d' ' -f2 "$dir/filter-$name.times" | sort -n | tail -1)
done

echo "$(wc -l < "$list") lines, $(du -m "$list" | cut -f1) MiB, load $(cut -d' ' -f1-3 /proc/loadavg), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
printf '%-16s %8s %8s %9s %9s | %-5s %8s %8s %9s %10s\n' rows "wall s" "cpu s" "peak MiB" \
  "engine KiB" "" "wall s" "cpu s" "peak MiB" "grep / us"
for set in or1 or10 or1000 or10000 and3 and100; do
  rule=${set%%[0-9]*}
  engine=$("$window" engine "$rule" "$dir/p-$set.txt")
  awk -v n="$rule ${set#$rule}" -v t="${secs[$set]}" -v c="${cpu[$set]}" -v m="${mem[$set]}" \
    -v e="$engine" -v gt="${secs[grep-$set]}" -v gc="${cpu[grep-$set]}" -v gm="${mem[grep-$set]}" \
    'BEGIN { printf "%-16s %8.3f %8.3f %9.1f %9.0f | %-5s %8.3f %8.3f %9.1f %10.2f\n",
             n, t, c, m / 1024, e / 1024, "grep", gt, gc, gm / 1024, gt / t }'
done
awk -v t="${secs[cat]}" -v c="${cpu[cat]}" -v o="${secs[or1]}" \
  'BEGIN { printf "cat IN > OUT: %.3f s wall, %.3f s cpu; or 1 / cat (wall): %.2fx\n", t, c, o / t }'
awk -v w="${secs[window-or10000]}" -v c="${secs[or10000]}" -v m="${mem[window-or10000]}" \
  'BEGIN { printf "window, or 10000 rows: %.3f s wall, %.0f MiB peak; window / cli (wall): %.2fx\n", w, m / 1024, w / c }'
