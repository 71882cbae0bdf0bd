#!/usr/bin/env bash
# Builds VeskoQindra into build/ (binaries in build/bin/), installing the
# Debian packages it needs first.
#   ./build.sh [build]                 configure and build
#   ./build.sh run                     build, then start the program
#   ./build.sh test [--sanitize=LIST]  build, then run the test suite
#   ./build.sh package                 build, then make the .deb (in $BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n
  libgl-dev libjpeg-dev libgtest-dev libgmock-dev
  fonts-wqy-microhei
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

configure_and_build() {
  install_packages
  cmake -S . -B "$BUILD_DIR" -G Ninja -DVQ_SANITIZE="$sanitize" >/dev/null
  cmake --build "$BUILD_DIR" -j "$(nproc)"
}

case "$cmd" in
  build)
    configure_and_build ;;
  run)
    configure_and_build
    exec "$BUILD_DIR/bin/veskoqindra" ;;
  test)
    configure_and_build
    cd "$BUILD_DIR"
    exec ctest --output-on-failure -j "$(nproc)" ;;
  package)
    # dpkg-shlibdeps computes the library dependencies; it needs file(1).
    PACKAGES+=(dpkg-dev file desktop-file-utils)
    configure_and_build
    desktop-file-validate packaging/veskoqindra.desktop
    cd "$BUILD_DIR"
    cpack -G DEB
    ls -1 "$PWD"/*.deb ;;
  *)
    echo "usage: ./build.sh [build|run|test [--sanitize=address,undefined]|package]" >&2
    exit 2 ;;
esac
