#!/usr/bin/env bash
# The OR and AND filters of veskoqindra-cli on a 10-million-line list, side
# by side with `cat IN > OUT` and with `grep -F .cn` plus `grep -vF .cn` run
# one after the other (which do less: no trimming, lower-casing or validity
# test). Best of three runs each, with the list in the page cache.
#   bench/filter_bench.sh [BUILD_DIR]     (default: build)
# The list is made once in $VQ_BENCH_DIR (default /tmp/vq-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
cli="${1:-build}/bin/veskoqindra-cli"
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 2; }
dir=${VQ_BENCH_DIR:-/tmp/vq-bench}
mkdir -p "$dir"
list="$dir/list10m.txt"

if [ ! -s "$list" ]; then
  echo "making $list ..." >&2
  # Addresses of varied length and domain, some in capitals or padded with
  # blanks, a few invalid lines; CR LF line ends.
  awk 'BEGIN {
    split("qq.com 163.com sina.com.cn gmail.com mail.ru example.cn yahoo.com.cn hotmail.com sohu.com edu.cn", d, " ");
    srand(7);
    for (i = 0; i < 10000000; i++) {
      u = sprintf("user%d.%x", i, int(rand() * 1000000));
      a = u "@" d[1 + int(rand() * 10)];
      r = rand();
      if (r < 0.05) a = toupper(a); else if (r < 0.08) a = "  " a " "; else if (r < 0.09) a = u;
      printf "%s\r\n", a;
    }
  }' > "$list"
fi

# Best of three runs: wall seconds, and the CPU seconds (user + system) of
# that run, which tell more on a machine shared with other work.
best() {
  local bw="" bc=""
  for _ in 1 2 3; do
    local t w c
    t=$( { TIMEFORMAT='%R %U %S'; time "$@" > /dev/null 2>&1; } 2>&1 )
    w=$(echo "$t" | awk '{ print $1 }')
    c=$(echo "$t" | awk '{ print $2 + $3 }')
    if [ -z "$bw" ] || awk -v a="$w" -v b="$bw" 'BEGIN { exit !(a < b) }'; then bw=$w; bc=$c; fi
  done
  echo "$bw $bc"
}

cat "$list" > /dev/null # page cache
r_cat=$(best sh -c "cat '$list' > '$dir/cat.out'")
r_grep=$(best sh -c "grep -F .cn '$list' > '$dir/g1.out'; grep -vF .cn '$list' > '$dir/g2.out'")
r_or=$(best "$cli" filter --or -p .cn "$list" "$dir/m.out" "$dir/r.out")
r_and=$(best "$cli" filter --and -p .com -p @ -p user "$list" "$dir/m.out" "$dir/r.out")
rm -f "$dir"/*.out

printf '%-36s %8s %8s %8s %9s\n' "command ($(wc -l < "$list") lines)" wall cpu "wall/cat" "wall/grep"
row() {
  awk -v n="$1" -v r="$2" -v c="$r_cat" -v g="$r_grep" 'BEGIN {
    split(r, x, " "); split(c, y, " "); split(g, z, " ");
    printf "%-36s %8.3f %8.3f %8.2f %9.2f\n", n, x[1], x[2], x[1] / y[1], x[1] / z[1] }'
}
row "cat IN > OUT" "$r_cat"
row "grep -F .cn; grep -vF .cn" "$r_grep"
row "filter --or -p .cn" "$r_or"
row "filter --and -p .com -p @ -p user" "$r_and"
