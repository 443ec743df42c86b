#!/bin/sh
# Builds the Debian packages and checks them: desktop entry, AppStream
# metadata, lintian (no errors; warnings are listed), the documentation in
# the package, and, as root, installs them, runs the installed programs,
# checks the udev rule's and the documentation's place and removes and purges
# them again.
set -eu
cd "$(dirname "$0")/.."
start=$(date +%s)
BUILD=${VELORA_PACKAGE_BUILD:-build-pkg}
export VELORA_PACKAGE_BUILD="$BUILD"

scripts/package.sh
VERSION=$(sed -n 's/^project(VeloraUpdate VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DEB="$BUILD/veloraupdate_${VERSION}_amd64.deb"
DEV="$BUILD/veloraupdate-dev_${VERSION}_amd64.deb"
test -f "$DEB" && test -f "$DEV"

echo "package-check: desktop entry"
desktop-file-validate src/app/veloraupdate.desktop
echo "package-check: AppStream metadata"
appstreamcli validate --no-net "$BUILD/packaging/com.velora.veloraupdate.metainfo.xml"

echo "package-check: lintian"
# Root is where CI runs; lintian only advises against it.
lintian --fail-on error --no-tag-display-limit "$DEB" "$DEV"

echo "package-check: documentation"
contents=$(dpkg-deb -c "$DEB")
for doc in README.md.gz NEWS.gz SECURITY.md.gz copyright changelog.gz; do
    if ! printf '%s\n' "$contents" | grep -q "\./usr/share/doc/veloraupdate/$doc\$"; then
        echo "package-check: /usr/share/doc/veloraupdate/$doc is not in the package" >&2
        exit 1
    fi
done

if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: not root, installing skipped"
    exit 0
fi

echo "package-check: install"
dpkg -i "$DEB" "$DEV"
trap 'dpkg --purge veloraupdate-dev veloraupdate >/dev/null 2>&1 || true' EXIT
QT_QPA_PLATFORM=offscreen /usr/bin/veloraupdate --version
QT_QPA_PLATFORM=offscreen /usr/bin/veloraupdate --help >/dev/null
if dpkg -L veloraupdate | grep -qx /usr/bin/velora-devctl; then
    QT_QPA_PLATFORM=offscreen /usr/bin/velora-devctl --help >/dev/null
    QT_QPA_PLATFORM=offscreen /usr/bin/velora-devctl --version
    test -f /usr/share/veloraupdate/velora-devctl.schema.json
fi
test -f /usr/lib/udev/rules.d/70-veloraupdate.rules
test -f /usr/share/veloraupdate/keys/README
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-veloraupdate.rules
test -f /usr/lib/modules-load.d/veloraupdate.conf
test -f /usr/include/corvolib.h
test -f /usr/share/metainfo/com.velora.veloraupdate.metainfo.xml
test -f /usr/share/icons/hicolor/48x48/apps/veloraupdate.png
zcat /usr/share/doc/veloraupdate/README.md.gz | grep -q '^# VeloraUpdate'
zcat /usr/share/doc/veloraupdate/NEWS.gz | grep -q '^VeloraUpdate NEWS'

echo "package-check: remove and purge"
installed=$(dpkg -L veloraupdate veloraupdate-dev | while read -r f; do [ -f "$f" ] && echo "$f"; done)
dpkg -r veloraupdate-dev veloraupdate
dpkg --purge veloraupdate-dev veloraupdate
trap - EXIT
for f in $installed; do
    if [ -e "$f" ]; then
        echo "package-check: $f is left after purging" >&2
        exit 1
    fi
done
if dpkg-query -W veloraupdate >/dev/null 2>&1; then
    echo "package-check: veloraupdate is still known to dpkg" >&2
    exit 1
fi
echo "package-check: passed in $(($(date +%s) - start)) s"
