#!/bin/sh
# Builds the updater and shows it working against a simulated FIT device and
# the local package server: the device has an older version, the server a
# newer package with assist data and workouts.
#
# With a display, the updater starts for you to use on the FIT device (restart
# it with the velora-devsim line it prints). Without one, three roads run by
# themselves under Xvfb (or Qt's offscreen platform), once in English and once
# in German:
#   fit      device shown, update offered, dialog, update, completion window,
#            device restarted with the new version, assist data and workouts
#            installed, a damaged package refused (pictures in <shots>/<lang>);
#   gal      a GAL watch updating by method 2: update offered, dialog, the
#            watch restarts into its loader, the second pass runs there,
#            completion, the watch starts with the new version
#            (<shots>/<lang>/gal);
#   pacer40  a Pacer40: languages offered, the chooser with the watch's
#            languages ticked, one more ticked, written, completion, read
#            back (<shots>/<lang>/pacer40).
# It ends with the worst GUI-thread stall of every run and the pictures' list.
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

# Every road once per language, each on fresh data: the FIT road's pictures
# go into <shots>/<lang>, the GAL and Pacer40 roads' into <shots>/<lang>/gal
# and <shots>/<lang>/pacer40. The updater's GUI-thread watchdog writes the
# worst stall of each run into $WORK/stall-<road>-<lang>.log.
failed=""
road() {
    name="$1"
    lang="$2"
    locale="$3"
    shots="$SHOTS/$lang"
    [ "$name" = fit ] || shots="$SHOTS/$lang/$name"
    mkdir -p "$shots"
    rm -f "$shots"/*.png
    VELORA_STALL_LOG="$WORK/stall-$name-$lang.log"
    export VELORA_STALL_LOG
    rm -f "$VELORA_STALL_LOG"
    set -- "$DRIVER" --road "$name" --work "$WORK/$name-$lang" --shots "$shots"
    if command -v xvfb-run >/dev/null 2>&1; then
        echo "demo ($name, $lang): no display; running the whole road under Xvfb"
        set -- xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    else
        echo "demo ($name, $lang): no display and no Xvfb; running the whole road offscreen"
        QT_QPA_PLATFORM=offscreen
        export QT_QPA_PLATFORM
    fi
    LANGUAGE="$lang" LC_ALL="$locale" LANG="$locale" "$@" || failed="$failed $name-$lang"
}
for name in fit gal pacer40; do
    road "$name" en en_US.UTF-8
    road "$name" de de_DE.UTF-8
done
echo "demo: worst GUI-thread stall per road and language"
for name in fit gal pacer40; do
    for lang in en de; do
        echo "demo ($name, $lang): $(cat "$WORK/stall-$name-$lang.log" 2>/dev/null || echo "no stall log")"
    done
done
echo "demo: screenshots of every step in $SHOTS"
(cd "$SHOTS" && find . -name '*.png' | sort)
if [ -n "$failed" ]; then
    echo "demo: FAILED:$failed"
    exit 1
fi
