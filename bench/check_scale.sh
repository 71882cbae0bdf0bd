#!/usr/bin/env bash
# The list check as lists grow, side by side in one run, on generated lists
# (30 % repeats, address-sized lines, CR LF): `veskoqindra-cli check` on 10 M
# and 100 M lines in memory (the default budget), on 100 M lines with
# `--memory 256M`, and `LC_ALL=C sort -u -S 256M -T` on the same list with its
# runs in the same folder (external merge: bounded memory, but not the
# list's order). With --huge, also 300 M lines (about 7 GiB) with
# `--memory 1G`. For each: wall and CPU seconds and peak memory from GNU
# time, and the most bytes its temporaries held at once (the check's scratch
# file, sort's runs; sampled every 50 ms). The budgeted 100 M output must be
# byte for byte the in-memory one. Lists in the page cache before each run.
#   bench/check_scale.sh [--huge]
# Environment: RUNS (default 1; the median is shown), SETTLE (seconds before
# each timed command, default 5), BUILD_DIR (default build-bench-check),
# VQ_BENCH_DIR (default /tmp/vq-bench; the lists are made there once, and
# the runs' outputs and temporaries go there).
set -euo pipefail
cd "$(dirname "$0")/.."

huge=false
[ "${1:-}" = --huge ] && huge=true
RUNS=${RUNS:-1}
SETTLE=${SETTLE:-5}
BUILD_DIR=${BUILD_DIR:-build-bench-check}
dir=${VQ_BENCH_DIR:-/tmp/vq-bench}
mkdir -p "$dir"

cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVQ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target veskoqindra-cli >/dev/null
cli=$(realpath "$BUILD_DIR/bin/veskoqindra-cli")

sizes=(10000000 100000000)
$huge && sizes+=(300000000)
for lines in "${sizes[@]}"; do
  list="$dir/check-$lines.txt"
  if [ ! -s "$list" ]; then
    echo "making $list ..." >&2
    python3 bench/gen_lists.py "$list" "$lines" --seed 3 --repeats 0.30
  fi
done
echo "free room in $dir: $(df -h --output=avail "$dir" | tail -1)" >&2
trap 'rm -f "$dir"/scale-*' EXIT

# watch.py COMMAND...: runs it under GNU time and prints "wall cpu peakKiB
# tempBytes". Temporaries: regular files the process tree holds open for
# reading and writing that have no name left (the check's scratch file; the
# save's temporary is opened for writing only), and sort's runs in $dir.
cat > "$dir/scale-watch.py" <<'EOF'
import os, subprocess, sys, time
folder, cmd = sys.argv[1], sys.argv[2:]
times = os.path.join(folder, "scale-time.out")
p = subprocess.Popen(["/usr/bin/time", "-f", "%e %U %S %M", "-o", times, "sh", "-c", " ".join(cmd)])
def tree(pid):
    out = [pid]
    try:
        for t in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{t}/children") as f:
                for c in f.read().split():
                    out += tree(int(c))
    except OSError:
        pass
    return out
def temporaries():
    total = 0
    for pid in tree(p.pid):
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
        except OSError:
            continue
        for fd in fds:
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
                with open(f"/proc/{pid}/fdinfo/{fd}") as f:
                    flags = next(int(l.split()[1], 8) for l in f if l.startswith("flags:"))
                st = os.stat(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.endswith("(deleted)") and flags & 3 == 2 and (st.st_mode & 0o170000) == 0o100000:
                total += st.st_size
    for name in os.listdir(folder):
        if name.startswith("sort"):
            try:
                total += os.stat(os.path.join(folder, name)).st_size
            except OSError:
                pass
    return total
peak = 0
while p.poll() is None:
    peak = max(peak, temporaries())
    time.sleep(0.05)
wall, user, system, rss = open(times).read().split()[-4:]
print(wall, float(user) + float(system), rss, peak)
EOF

declare -A cmds=(
  [10M]="'$cli' check '$dir/check-10000000.txt' '$dir/scale-10M.out' > /dev/null"
  [100M]="'$cli' check '$dir/check-100000000.txt' '$dir/scale-100M.out' > /dev/null"
  [100M-256M]="'$cli' check --memory 256M '$dir/check-100000000.txt' '$dir/scale-100M-256M.out' > /dev/null"
  [sort-256M]="LC_ALL=C sort -u -S 256M -T '$dir' '$dir/check-100000000.txt' > '$dir/scale-sort.out'"
  [300M-1G]="'$cli' check --memory 1G '$dir/check-300000000.txt' '$dir/scale-300M-1G.out' > /dev/null"
)
order=(10M 100M 100M-256M sort-256M)
$huge && order+=(300M-1G)
for name in "${order[@]}"; do : > "$dir/scale-$name.times"; done
for ((i = 0; i < RUNS; i++)); do
  for name in "${order[@]}"; do
    rm -f "$dir/scale-$name.out"
    case $name in
      10M) cat "$dir/check-10000000.txt" > /dev/null ;;
      300M*) cat "$dir/check-300000000.txt" > /dev/null ;;
      *) cat "$dir/check-100000000.txt" > /dev/null ;;
    esac
    # Memory just freed is handed out again at once, where memory left free
    # for a while goes back to a virtual machine's host: see check_bench.sh.
    sleep "$SETTLE"
    python3 "$dir/scale-watch.py" "$dir" "${cmds[$name]}" >> "$dir/scale-$name.times"
  done
done
cmp -s "$dir/scale-100M.out" "$dir/scale-100M-256M.out" ||
  { echo "the budgeted check's output differs from the one in memory" >&2; exit 1; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A wall cpu mem temp
for name in "${order[@]}"; do
  wall[$name]=$(cut -d' ' -f1 "$dir/scale-$name.times" | median)
  cpu[$name]=$(cut -d' ' -f2 "$dir/scale-$name.times" | median)
  mem[$name]=$(cut -d' ' -f3 "$dir/scale-$name.times" | sort -n | tail -1)
  temp[$name]=$(cut -d' ' -f4 "$dir/scale-$name.times" | sort -n | tail -1)
done

echo
echo "$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) CPUs," \
  "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
  "load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %9s %9s %9s %11s %12s\n' "" "wall s" "cpu s" "peak MiB" "temp MiB" "/ 10M wall"
for name in "${order[@]}"; do
  awk -v n="$name" -v t="${wall[$name]}" -v c="${cpu[$name]}" -v m="${mem[$name]}" \
    -v s="${temp[$name]}" -v b="${wall[10M]}" \
    'BEGIN { printf "%-10s %9.2f %9.2f %9.0f %11.0f %12.2f\n", n, t, c, m / 1024, s / 1048576, t / b }'
done
awk -v a="${wall[100M-256M]}" -v b="${wall[100M]}" -v s="${wall[sort-256M]}" \
  'BEGIN { printf "100M --memory 256M / in memory (wall): %.2fx; sort -u -S 256M / it: %.2fx\n", a / b, s / a }'
echo "10M, 100M: veskoqindra-cli check, default budget; 100M-256M: --memory 256M;"
echo "sort-256M: LC_ALL=C sort -u -S 256M -T $dir; 300M-1G: --memory 1G"
