#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer (AddressSanitizer and
# UndefinedBehaviorSanitizer) in a build folder of their own, writes the seed
# corpus and runs each chosen target for N seconds.
#
#   scripts/fuzz.sh [target] [seconds]     targets: corvo_readers, corvo_profile,
#                                          fitpackage, galpackage, psfstore,
#                                          pacer50package, psflanguagepack,
#                                          profiledata; none or
#                                          "all" = every one; default 60 s per target
#
# FUZZ_BUILD names the build folder (default build-fuzz). The corpus grows in
# <build>/corpus/<target>; a crash leaves crash-* files in the current folder,
# to be replayed with <build>/fuzz_<target> <file>.
set -eu
cd "$(dirname "$0")/.."

TARGETS="corvo_readers corvo_profile fitpackage galpackage psfstore pacer50package psflanguagepack profiledata"
case "${1:-all}" in
    all) CHOSEN="$TARGETS" ;;
    [0-9]*) CHOSEN="$TARGETS"; set -- all "$1" ;;
    *)
        CHOSEN="$1"
        case " $TARGETS " in *" $CHOSEN "*) ;; *) echo "unknown target $CHOSEN (one of: $TARGETS)" >&2; exit 2 ;; esac
        ;;
esac
SECONDS_PER_TARGET="${2:-60}"
BUILD="${FUZZ_BUILD:-build-fuzz}"
# The fuzzing toolchain is not needed by the normal build; install it on demand.
for p in clang-14 libclang-rt-14-dev; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
        $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$p"
    fi
done

CC="${CC:-clang-14}"
CXX="${CXX:-clang++-14}"

cmake -S tests/fuzz -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" >/dev/null
cmake --build "$BUILD" --parallel 2 --target make_corpus make_corpus_psf $(for t in $CHOSEN; do echo "fuzz_$t"; done)

"$BUILD/make_corpus" "$BUILD/seeds"
"$BUILD/make_corpus_psf" "$BUILD/seeds/psfstore"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# The targets write their inputs as files; memory-backed storage keeps that fast.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
for target in $CHOSEN; do
    seeds="$BUILD/seeds/${target#corvo_}"
    mkdir -p "$seeds"
    mkdir -p "$BUILD/corpus/$target"
    echo "fuzz_$target: $SECONDS_PER_TARGET s"
    "$BUILD/fuzz_$target" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=1 \
        "$BUILD/corpus/$target" "$seeds"
done
