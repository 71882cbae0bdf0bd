#!/usr/bin/env bash
# Removing a suppression list and counting by domain on the generated
# 10-million-line list (bench/gen_lists.py, CR LF line ends), side by side in
# one run with the shell one-liners a list keeper uses for them today:
#   subtract: a 1-million-line suppression list, half of it addresses of the
#     list (a tenth of those in capitals, a tenth padded with blanks), half
#     addresses it does not hold; against
#     awk 'NR==FNR{s[tolower($0)];next} !(tolower($0) in s)' S IN > KEPT
#     and LC_ALL=C grep -vxFi -f S IN > KEPT
#   domains: against
#     awk -F@ '{c[tolower($NF)]++} END{for(d in c) print c[d], d}' IN | sort -rn
# The one-liners do less (no trimming, no validity test, no removed file) and
# keep the CR of every line, so they also remove fewer lines; the table says
# how many each removed. Median wall and CPU seconds (user + system) of RUNS
# runs, interleaved, the lists in the page cache; peak memory is the largest
# maximum resident set of GNU time over the runs.
#   bench/subtract_bench.sh [LINES]            default 10000000
# Environment: RUNS (default 3), BUILD_DIR (default build-bench-subtract),
# VQ_BENCH_DIR (default /tmp/vq-bench; the lists are made there once).
set -euo pipefail
cd "$(dirname "$0")/.."

lines=${1:-10000000}
RUNS=${RUNS:-3}
BUILD_DIR=${BUILD_DIR:-build-bench-subtract}
dir=${VQ_BENCH_DIR:-/tmp/vq-bench}
mkdir -p "$dir"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")

# The same list as bench/check_bench.sh.
list="$dir/check-$lines.txt"
if [ ! -s "$list" ]; then
  echo "making $list ..." >&2
  python3 bench/gen_lists.py "$list" "$lines" --seed 3 --repeats 0.30
fi
suppress="$dir/suppress-$lines.txt"
if [ ! -s "$suppress" ]; then
  echo "making $suppress ..." >&2
  # Every step-th line of the list until half a million, then as many
  # addresses the list does not hold, interleaved.
  awk -v half=500000 -v step="$((lines / 500000 > 0 ? lines / 500000 : 1))" '
    BEGIN { srand(23) }
    NR % step == 0 && taken < half {
      sub(/\r$/, "")
      r = rand()
      if (r < 0.1) $0 = toupper($0); else if (r < 0.2) $0 = "  " $0 "\t"
      printf "%s\r\n", $0
      printf "nobody%d.%x@unsub%d.example.com\r\n", taken, int(rand() * 65536), taken % 97
      taken++
    }' "$list" > "$suppress"
fi

kept="$dir/subtract-k.out"
removed="$dir/subtract-r.out"
trap 'rm -f "$kept" "$removed" "$dir"/subtract-*.times "$dir"/subtract-time.out' EXIT
cat "$list" "$suppress" > /dev/null # page cache

declare -A cmds removedBy
order=(subtract awk grep domains awk-sort)
cmds[subtract]="'$cli' subtract -s '$suppress' '$list' '$kept' '$removed' > /dev/null"
cmds[awk]="awk 'NR==FNR{s[tolower(\$0)];next} !(tolower(\$0) in s)' '$suppress' '$list' > '$kept'"
cmds[grep]="LC_ALL=C grep -vxFi -f '$suppress' '$list' > '$kept'"
cmds[domains]="'$cli' domains '$list' '$kept' > /dev/null"
cmds[awk-sort]="awk -F@ '{c[tolower(\$NF)]++} END{for(d in c) print c[d], d}' '$list' | sort -rn > '$kept'"

for name in "${order[@]}"; do : > "$dir/subtract-$name.times"; done
for ((i = 0; i < RUNS; i++)); do
  for name in "${order[@]}"; do
    rm -f "$kept" "$removed"
    # grep says 1 when it writes nothing: not a failure here.
    /usr/bin/time -f '%e %M %U %S' -o "$dir/subtract-time.out" sh -c "${cmds[$name]}" || true
    cat "$dir/subtract-time.out" >> "$dir/subtract-$name.times"
    case $name in
      subtract) removedBy[$name]=$(wc -l < "$removed") ;;
      awk | grep) removedBy[$name]=$(($(wc -l < "$list") - $(wc -l < "$kept"))) ;;
      *) removedBy[$name]="$(wc -l < "$kept") domains" ;;
    esac
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "$(wc -l < "$list") lines ($(du -m "$list" | cut -f1) MiB), suppression list $(wc -l < "$suppress") lines" \
  "($(du -m "$suppress" | cut -f1) MiB), $RUNS runs, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
printf '%-12s %8s %8s %9s   %s\n' command "wall s" "cpu s" "peak MiB" "removed lines / table rows"
for name in "${order[@]}"; do
  t=$(cut -d' ' -f1 "$dir/subtract-$name.times" | median)
  c=$(awk '{ print $3 + $4 }' "$dir/subtract-$name.times" | median)
  m=$(cut -d' ' -f2 "$dir/subtract-$name.times" | sort -n | tail -1)
  awk -v n="$name" -v t="$t" -v c="$c" -v m="$m" -v r="${removedBy[$name]}" \
    'BEGIN { printf "%-12s %8.2f %8.2f %9.1f   %s\n", n, t, c, m / 1024, r }'
done
