#!/bin/sh
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs them through CTest, after checking that every source keeps the house
# style. Extra arguments go to ctest (for example -R VHEnv). Then builds the
# Debian packages and checks them (VELORA_SKIP_PACKAGE=1 skips that).
set -eu
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/format.sh --check

BUILD=build-test
LAUNCHER=""
if command -v ccache >/dev/null 2>&1; then
    LAUNCHER="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELORA_SANITIZE=ON $LAUNCHER >/dev/null
cmake --build "$BUILD" --parallel "$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
(cd "$BUILD" && ctest --output-on-failure --parallel "$(nproc)" "$@")

# The Debian packages, from a build of their own without sanitizers.
if [ -z "${VELORA_SKIP_PACKAGE:-}" ]; then
    scripts/package-check.sh
fi
