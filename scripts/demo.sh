#!/bin/sh
# Will build and start the updater against a simulated device and the local
# package server. The device runtime exists; the windows, the simulated device
# and the package server do not yet, so there is nothing to show.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)"
echo "demo: the updater program is not built yet; the runtime libraries built in ./build."
echo "demo: run scripts/test.sh to see what works today."
exit 1
