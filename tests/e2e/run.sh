#!/usr/bin/env bash
# End-to-end suite: drives the real program in a real X server (Xvfb, with
# openbox as window manager and trayer as notification area), through its
# real windows and Qt's own dialogs, and checks every output file byte for
# byte. Screenshots of each step are kept under $BUILD_DIR/e2e/.
#
#   tests/e2e/run.sh [--runs N]     (BUILD_DIR picks the build, default build)
#
# With --runs N the whole session runs N times in a row on fresh X servers;
# a failed run keeps its screenshots and log in $BUILD_DIR/e2e/failed-run-K/.
set -euo pipefail
cd "$(dirname "$0")/../.."

runs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --runs=*) runs=${1#--runs=}; shift ;;
    *) echo "usage: tests/e2e/run.sh [--runs N]" >&2; exit 2 ;;
  esac
done

BUILD_DIR=${BUILD_DIR:-build}
program="$PWD/$BUILD_DIR/bin/veskoqindra"
artefacts="$PWD/$BUILD_DIR/e2e"
[ -x "$program" ] || { echo "e2e: $program is missing; run ./build.sh first" >&2; exit 1; }
for tool in xvfb-run xdotool xprop trayer openbox import; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (./build.sh installs it)" >&2; exit 1; }
done

mkdir -p "$artefacts"
rm -rf "$artefacts"/failed-run-*
passed=0
failed=0
for ((run = 1; run <= runs; run++)); do
  shots="$artefacts/run"
  rm -rf "$shots"
  mkdir -p "$shots"
  # -nolisten tcp: the server is reached through its local socket only.
  if xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
      tests/e2e/session.sh "$program" "$shots" >"$shots/session.log" 2>&1; then
    passed=$((passed + 1))
    echo "e2e run $run/$runs: passed"
  else
    failed=$((failed + 1))
    rm -rf "$artefacts/failed-run-$run"
    cp -r "$shots" "$artefacts/failed-run-$run"
    echo "e2e run $run/$runs: FAILED (see $artefacts/failed-run-$run)"
    tail -n 20 "$shots/session.log" | sed 's/^/  | /'
  fi
done
# The last run's screenshots are the artefacts.
rm -rf "${artefacts:?}"/[0-9]*.png
cp "$shots"/*.png "$artefacts"/ 2>/dev/null || true
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
