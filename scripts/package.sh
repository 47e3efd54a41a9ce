#!/usr/bin/env bash
# Builds the Debian package of RomPush from a built folder (cpack) and checks that it holds
# what an installed RomPush needs: the programs and the man page, the pictures, the help, the menu entry and
# the icon.
#
#   scripts/package.sh [build-dir]      (default: build; it must be configured with ROMPUSH_GUI=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"

rm -f "$build"/rompush_*.deb
(cd "$build" && cpack -G DEB >cpack.out) || { cat "$build/cpack.out" >&2; exit 1; }
package="$(ls "$build"/rompush_*.deb)"
contents="$(dpkg-deb --contents "$package")"
missing=0
for file in usr/bin/rompush usr/bin/rompush-devsim usr/bin/rompush-cli usr/share/man/man1/rompush-cli.1 usr/share/rompush/tarn-logo.png \
    usr/share/rompush/rompush.png usr/share/rompush/Help_Tarn.html usr/share/rompush/Help_QL.html \
    usr/share/applications/rompush.desktop usr/share/icons/hicolor/48x48/apps/rompush.png \
    usr/share/icons/hicolor/scalable/apps/rompush.svg; do
    grep -q " \./$file\$" <<<"$contents" || { echo "not in the package: /$file" >&2; missing=1; }
done
((missing == 0)) || exit 1
echo "package: $package"
dpkg-deb --field "$package" Package Version Depends
