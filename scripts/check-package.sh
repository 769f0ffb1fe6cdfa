#!/usr/bin/env bash
# Checks a built package without installing it on this machine: unpacks it into a scratch root
# (dpkg -x, no network, no root needed), checks that its files are there, runs tovrel-cli from it,
# and validates the desktop entry and the AppStream metainfo.
#   scripts/check-package.sh tovrel_1.0.0.1_amd64.deb
set -euo pipefail
deb=${1:?usage: check-package.sh PACKAGE.deb}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb --info "$deb" >/dev/null
dpkg -x "$deb" "$root"
fail() { echo "check-package: $*" >&2; exit 1; }
for f in usr/bin/Tovrel usr/bin/tovrel-cli \
         usr/share/applications/org.tovrel.Tovrel.desktop \
         usr/share/metainfo/org.tovrel.Tovrel.metainfo.xml \
         usr/share/man/man1/tovrel-cli.1 \
         usr/share/icons/hicolor/16x16/apps/org.tovrel.Tovrel.png \
         usr/share/icons/hicolor/48x48/apps/org.tovrel.Tovrel.png \
         usr/share/icons/hicolor/256x256/apps/org.tovrel.Tovrel.png; do
    [ -e "$root/$f" ] || fail "$f is missing from $deb"
done
depends=$(dpkg-deb --field "$deb" Depends)
for p in libqt6core6 libcurl4 fonts-wqy-microhei libqt6sql6-sqlite qt6-qpa-plugins; do
    grep -q "$p" <<<"$depends" || fail "the package does not depend on $p: $depends"
done
version=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/tovrel-cli" --version)
[ "$version" = "tovrel-cli $(dpkg-deb --field "$deb" Version)" ] || fail "tovrel-cli --version says '$version'"
"$root/usr/bin/Tovrel" --version >/dev/null || fail "Tovrel --version failed"
desktop-file-validate "$root/usr/share/applications/org.tovrel.Tovrel.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tovrel.Tovrel.metainfo.xml" >/dev/null
echo "check-package: $deb holds $(find "$root" -type f | wc -l) files, $(du -sh "$root" | cut -f1) unpacked" >&2
