#!/bin/sh
# Builds the updater and shows it working against a simulated FIT device and
# the local package server: the device has an older version, the server a
# newer package with assist data and workouts.
#
# With a display, the updater starts for you to use (restart the device with
# the velora-devsim line it prints). Without one, the whole road runs by
# itself under Xvfb (or Qt's offscreen platform): device shown, update
# offered, dialog, update, completion window, device restarted with the new
# version, assist data and workouts installed, a damaged package refused;
# a picture of every step is saved, once in English and once in German, into
# <shots>/en and <shots>/de (the folder is named at the end).
#
#   DEMO_BUILD  build folder (default build)
#   DEMO_WORK   folder for the demo's data (default: a new one in /tmp)
#   DEMO_SHOTS  folder for the pictures (default: $DEMO_WORK/screenshots)
#   DEMO_HEADLESS=1  run the road by itself even with a display
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

BUILD="${DEMO_BUILD:-build}"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --parallel 2 --target veloraupdate veloraupdate-demo velora-devsim velora-pkgserver
# Built from tools/demo beside the updater, whose Resources folder it shares.
DRIVER="$BUILD/src/app/veloraupdate-demo"
PATH="$PWD/$BUILD/testing/devsim:$PATH"
export PATH

WORK="${DEMO_WORK:-$(mktemp -d /tmp/veloraupdate-demo.XXXXXX)}"
SHOTS="${DEMO_SHOTS:-$WORK/screenshots}"
mkdir -p "$WORK"
echo "demo: data in $WORK"

if [ -n "${DISPLAY:-}" ] && [ "${DEMO_HEADLESS:-0}" != 1 ]; then
    echo "demo: after \"Update\", restart the simulated watch from another terminal with"
    echo "      $PWD/$BUILD/testing/devsim/velora-devsim --root $WORK/sim restart WATCH"
    exec "$DRIVER" --work "$WORK" --serve
fi

# One road per language, each on fresh data. The updater's GUI-thread
# watchdog writes the worst stall of each road into $WORK/stall-<lang>.log.
road() {
    lang="$1"
    locale="$2"
    mkdir -p "$SHOTS/$lang"
    rm -f "$SHOTS/$lang"/*.png
    VELORA_STALL_LOG="$WORK/stall-$lang.log"
    export VELORA_STALL_LOG
    rm -f "$VELORA_STALL_LOG"
    if command -v xvfb-run >/dev/null 2>&1; then
        echo "demo ($lang): no display; running the whole road under Xvfb"
        LANGUAGE="$lang" LC_ALL="$locale" LANG="$locale" \
            xvfb-run -a -s "-screen 0 1280x1024x24" "$DRIVER" --work "$WORK/$lang" --shots "$SHOTS/$lang"
    else
        echo "demo ($lang): no display and no Xvfb; running the whole road offscreen"
        LANGUAGE="$lang" LC_ALL="$locale" LANG="$locale" QT_QPA_PLATFORM=offscreen \
            "$DRIVER" --work "$WORK/$lang" --shots "$SHOTS/$lang"
    fi
}
road en en_US.UTF-8
road de de_DE.UTF-8
echo "demo: screenshots of every step in $SHOTS/en and $SHOTS/de"
for lang in en de; do
    echo "demo ($lang): $(cat "$WORK/stall-$lang.log" 2>/dev/null || echo "no stall log")"
done
ls "$SHOTS/en" "$SHOTS/de"
