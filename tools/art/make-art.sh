#!/bin/sh
# Builds the drawing program and redraws every picture of the updater's
# windows into src/app/images (which is committed). Run it after changing
# the art; the build of the updater itself only embeds the files.
set -eu
cd "$(dirname "$0")/../.."
BUILD="${ART_BUILD:-build-art}"
cmake -S tools/art -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --parallel 2
"$BUILD/velora-art" src/app/images
echo "art: written to src/app/images"
