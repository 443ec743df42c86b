#!/bin/sh
# Builds the Debian packages from an optimised build without sanitizers:
# build-pkg/veloraupdate_<version>_amd64.deb and veloraupdate-dev_<version>_amd64.deb.
set -eu
cd "$(dirname "$0")/.."

BUILD=${VELORA_PACKAGE_BUILD:-build-pkg}
LAUNCHER=""
if command -v ccache >/dev/null 2>&1; then
    LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
# Only what the packages hold is built: installing does not build every target first.
# shellcheck disable=SC2086
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELORA_SANITIZE=OFF -DVELORA_BUILD_TESTS=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DCMAKE_INSTALL_PREFIX=/usr $LAUNCHER >/dev/null
TARGETS="veloraupdate veloraupdate_lrelease corvolib velora-udev-files velora-icons velora-docs"
if cmake --build "$BUILD" --target help | grep -q '^velora-devctl:'; then
    TARGETS="$TARGETS velora-devctl"
fi
# shellcheck disable=SC2086
cmake --build "$BUILD" --parallel "${VELORA_JOBS:-$(nproc)}" --target $TARGETS
rm -f "$BUILD"/*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
ls "$BUILD"/*.deb
