#!/usr/bin/env bash
# Builds VeskoQindra into build/ (binaries in build/bin/), installing the
# Debian packages it needs first.
#   ./build.sh [build]                 configure and build, tests included
#   ./build.sh run                     build only the two programs, then start
#                                      the program (no test packages, no tests)
#   ./build.sh test [--sanitize=LIST]  build, then run the test suite;
#                                      address: ASan + UBSan, whole suite;
#                                      thread: TSan, the threaded tests
#   ./build.sh fuzz TARGET SECONDS     run one libFuzzer target (fuzz/)
#   ./build.sh package                 build the programs and the help file,
#                                      make the .deb (in $BUILD_DIR) and check
#                                      it with lintian
set -euo pipefail
cd "$(dirname "$0")"

# What building and running the two programs need (xdg-utils opens the help,
# the home page and the mail program)...
PACKAGES=(cmake ninja-build g++ pkg-config robin-map-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
  libgl-dev libjpeg-dev libvectorscan-dev
  fonts-wqy-microhei fonts-liberation2 xdg-utils)
# ...and what the tests add: GoogleTest, clang-format (the format check of
# .ci/run), clang's runtime (its libFuzzer header, for replaying the fuzz
# corpora), and an X server with a window manager and a notification area
# for the end-to-end suite.
TEST_PACKAGES=(libgtest-dev libgmock-dev libclang-rt-14-dev clang-format
  xvfb xauth xdotool x11-utils imagemagick trayer openbox)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "build.sh: installing ${missing[*]}" >&2
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
}

cmd=${1:-build}
[ $# -gt 0 ] && shift
sanitize=""
for a in "$@"; do
  case "$a" in
    --sanitize=*) sanitize=${a#--sanitize=} ;;
  esac
done

BUILD_DIR=${BUILD_DIR:-build}
[ -n "$sanitize" ] && BUILD_DIR="${BUILD_DIR}-${sanitize//,/-}"
# AddressSanitizer brings UndefinedBehaviorSanitizer along: one build finds both.
[ "$sanitize" = address ] && sanitize=address,undefined
# ThreadSanitizer runs the tests that start threads: the duplicate checker's
# worker, its stop and exit paths, and its fault sweep.
THREADED_TESTS='^(CheckCore|CheckWindow|CheckCli)\.|^FaultSweep\.ListCheck'

# Every report ends the test that caused it. Suppressions cover Qt's own
# code only, with the reason beside each (tests/reliability/sanitizers/).
sanitizer_environment() {
  local supp="$PWD/tests/reliability/sanitizers"
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp"
}

# configure_and_build [CMAKE_OPTION]...: the options set what is built; one
# build folder serves every command, and switching the tests off or on again
# leaves the objects of the programs as they are.
configure_and_build() {
  install_packages
  cmake -S . -B "$BUILD_DIR" -G Ninja -DVQ_SANITIZE="$sanitize" "$@" >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

case "$cmd" in
  build)
    PACKAGES+=("${TEST_PACKAGES[@]}")
    configure_and_build -DVQ_BUILD_TESTS=ON -DVQ_BUILD_CHM=OFF ;;
  run)
    configure_and_build -DVQ_BUILD_TESTS=OFF -DVQ_BUILD_CHM=OFF
    exec "$BUILD_DIR/bin/veskoqindra" ;;
  test)
    PACKAGES+=("${TEST_PACKAGES[@]}")
    configure_and_build -DVQ_BUILD_TESTS=ON -DVQ_BUILD_CHM=OFF
    filter=()
    [ "$sanitize" = thread ] && filter=(-R "$THREADED_TESTS")
    [ -n "$sanitize" ] && sanitizer_environment
    cd "$BUILD_DIR"
    exec ctest --output-on-failure -j "$(nproc)" "${filter[@]}" ;;
  package)
    # chmcmd (fp-utils) compiles the help file; dpkg-shlibdeps computes the
    # library dependencies and needs file(1); the rest check the package.
    PACKAGES+=(fp-utils dpkg-dev file desktop-file-utils appstream lintian)
    configure_and_build -DVQ_BUILD_TESTS=OFF -DVQ_BUILD_CHM=ON
    desktop-file-validate packaging/veskoqindra.desktop
    # --no-net: the home page is not fetched, so the check needs no network.
    appstreamcli validate --no-net packaging/com.example.veskoqindra.metainfo.xml
    cd "$BUILD_DIR"
    rm -f ./*.deb
    cpack -G DEB >/dev/null
    deb=$(ls -1 "$PWD"/*.deb)
    # Errors and warnings fail the package; info tags are shown.
    lintian --fail-on error,warning --display-info "$deb"
    echo "$deb" ;;
  fuzz)
    # One target for SECONDS, its corpus growing in $BUILD_DIR-fuzz/corpus
    # from the committed seeds; built apart, with clang, never part of test.
    target=${1:-}
    seconds=${2:-60}
    if [ ! -f "fuzz/${target}_fuzz.cpp" ]; then
      echo "usage: ./build.sh fuzz TARGET SECONDS; targets:" \
        $(cd fuzz && ls *_fuzz.cpp | sed 's/_fuzz.cpp//') >&2
      exit 2
    fi
    PACKAGES+=(clang-14 libclang-rt-14-dev)
    install_packages
    fuzz_dir="${BUILD_DIR}-fuzz"
    cmake -S fuzz -B "$fuzz_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
    cmake --build "$fuzz_dir" -j "$(nproc)" --target "fuzz_$target"
    mkdir -p "$fuzz_dir/corpus/$target"
    exec "$fuzz_dir/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      "$fuzz_dir/corpus/$target" "fuzz/corpus/$target" ;;
  *)
    echo "usage: ./build.sh [build|run|test [--sanitize=address|thread]|package|fuzz TARGET SECONDS]" >&2
    exit 2 ;;
esac
