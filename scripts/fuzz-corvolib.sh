#!/bin/sh
# Builds the CorvoLib fuzz targets with clang and libFuzzer (AddressSanitizer
# and UndefinedBehaviorSanitizer) in a build folder of their own, writes the
# seed corpus and runs each target for N seconds.
#
#   scripts/fuzz-corvolib.sh [seconds]     default 60 seconds per target
#
# CORVO_FUZZ_BUILD names the build folder (default build-corvo-fuzz). The
# corpus grows in <build>/corpus/<target>; a crash leaves crash-* files in
# the current folder, to be replayed with <build>/fuzz_corvo_<target> <file>.
set -eu
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET="${1:-60}"
BUILD="${CORVO_FUZZ_BUILD:-build-corvo-fuzz}"
# The fuzzing toolchain is not needed by the normal build; install it on demand.
for p in clang-14 libclang-rt-14-dev; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
        $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$p"
    fi
done

CC="${CC:-clang-14}"
CXX="${CXX:-clang++-14}"

cmake -S tests/corvolib/fuzz -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" >/dev/null
cmake --build "$BUILD" --parallel 2

"$BUILD/corvo_make_corpus" "$BUILD/seeds"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The targets write their inputs as files; memory-backed storage keeps that fast.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
for target in readers profile; do
    mkdir -p "$BUILD/corpus/$target"
    echo "fuzz_corvo_$target: $SECONDS_PER_TARGET s"
    "$BUILD/fuzz_corvo_$target" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        "$BUILD/corpus/$target" "$BUILD/seeds/$target"
done
