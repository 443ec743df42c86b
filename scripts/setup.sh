#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need. Packages
# already present are not asked for again, so a second run needs no network.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config
qt6-base-dev libqt6sql6-sqlite qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-image-formats-plugins
python3-dev python3-jsonschema pybind11-dev libzip-dev zlib1g-dev libudev-dev umockdev libumockdev-dev dbus-daemon
libsodium-dev libssl-dev minisign
zip unzip xvfb xauth fonts-dejavu-core fonts-dejavu-extra locales
clang-format-14
dpkg-dev fakeroot desktop-file-utils appstream lintian
openssl"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
else
    echo "setup: all packages present"
fi
