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

best() { # best-of-three wall time in seconds of "$@"
  local b=""
  for _ in 1 2 3; do
    local s e t
    s=$(date +%s.%N); "$@"; e=$(date +%s.%N)
    t=$(awk -v s="$s" -v e="$e" 'BEGIN { print e - s }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  printf '%.3f' "$b"
}

cat "$list" > /dev/null # page cache
t_cat=$(best sh -c "cat '$list' > '$dir/cat.out'")
t_grep=$(best sh -c "grep -F .cn '$list' > '$dir/g1.out'; grep -vF .cn '$list' > '$dir/g2.out'")
t_or=$(best sh -c "'$cli' filter --or -p .cn '$list' '$dir/m.out' '$dir/r.out' > /dev/null")
t_and=$(best sh -c "'$cli' filter --and -p .com -p @ -p user '$list' '$dir/m.out' '$dir/r.out' > /dev/null")
rm -f "$dir"/*.out

printf '%-44s %8s %10s %10s\n' "command ($(wc -l < "$list") lines)" seconds "x cat" "x greps"
row() { awk -v n="$1" -v t="$2" -v c="$t_cat" -v g="$t_grep" 'BEGIN { printf "%-44s %8.3f %10.2f %10.2f\n", n, t, t / c, t / g }'; }
row "cat IN > OUT" "$t_cat"
row "grep -F .cn; grep -vF .cn" "$t_grep"
row "filter --or -p .cn" "$t_or"
row "filter --and -p .com -p @ -p user" "$t_and"
