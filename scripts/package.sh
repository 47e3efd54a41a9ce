#!/usr/bin/env bash
# Builds the Debian package of RomPush from a built folder (cpack) and checks that it holds
# what an installed RomPush needs: the programs and the man page, the pictures, the help, the menu entry and
# the icon; and that the keyboard-port helper, and only it, gets its rights: the package's
# postinst makes rompush-kbc-helper root:rompush, mode 0750, with the file capabilities
# cap_sys_rawio and cap_dac_override. Run as root on a machine without RomPush installed, it
# also installs the package, checks the rights as installed and removes it again.
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
for file in usr/bin/rompush usr/bin/rompush-devsim usr/bin/rompush-cli usr/bin/rompush-kbc-helper usr/share/man/man1/rompush-cli.1 usr/share/rompush/tarn-logo.png \
    usr/share/rompush/rompush.png usr/share/rompush/Help_Tarn.html usr/share/rompush/Help_QL.html \
    usr/share/applications/rompush.desktop usr/share/icons/hicolor/48x48/apps/rompush.png \
    usr/share/icons/hicolor/scalable/apps/rompush.svg; do
    grep -q " \./$file\$" <<<"$contents" || { echo "not in the package: /$file" >&2; missing=1; }
done
((missing == 0)) || exit 1

fail() { echo "package: $*" >&2; exit 1; }
# Only the group may run the helper, even before the postinst has given it its group.
grep -q '^-rwxr-x--- root/root .* \./usr/bin/rompush-kbc-helper$' <<<"$contents" ||
    fail "rompush-kbc-helper is not installed with mode 0750"
for program in rompush rompush-cli; do
    grep -q "^-rwxr-xr-x root/root .* \./usr/bin/$program\$" <<<"$contents" ||
        fail "/usr/bin/$program is not a plain executable (mode 0755)"
done
control="$(mktemp -d)"
trap 'rm -rf "$control"' EXIT
dpkg-deb --control "$package" "$control"
[ -x "$control/postinst" ] || fail "no postinst"
grep -q '^helper=/usr/bin/rompush-kbc-helper$' "$control/postinst" &&
    grep -q 'setcap cap_sys_rawio,cap_dac_override+ep "\$helper"' "$control/postinst" ||
    fail "the postinst does not give rompush-kbc-helper its capabilities"
[ "$(grep -c setcap "$control/postinst")" -eq 1 ] || fail "the postinst sets other capabilities"
dpkg-deb --field "$package" Depends | grep -q libcap2-bin || fail "setcap (libcap2-bin) is no dependency"

# The rights as installed: only where installing is possible and harms nothing.
if [ "$(id -u)" = 0 ] && ! dpkg-query -W -f='${Status}' rompush 2>/dev/null | grep -q installed; then
    hadGroup=0
    getent group rompush >/dev/null && hadGroup=1
    dpkg -i "$package" >"$build/dpkg.out" 2>&1 || { cat "$build/dpkg.out" >&2; fail "dpkg -i failed"; }
    caps="$(getcap /usr/bin/rompush-kbc-helper)"
    owner="$(stat -c '%U:%G %a' /usr/bin/rompush-kbc-helper)"
    others="$(getcap /usr/bin/rompush /usr/bin/rompush-cli /usr/bin/rompush-devsim)"
    dpkg -r rompush >>"$build/dpkg.out" 2>&1 || fail "dpkg -r failed"
    ((hadGroup)) || groupdel rompush 2>/dev/null || true
    grep -q 'cap_dac_override,cap_sys_rawio=ep' <<<"$caps" ||
        fail "installed rompush-kbc-helper has the capabilities \"$caps\""
    [ "$owner" = "root:rompush 750" ] || fail "installed rompush-kbc-helper is $owner"
    [ -z "$others" ] || fail "other programs got capabilities: $others"
    echo "installed: $caps, $owner; rompush and rompush-cli hold none"
else
    echo "not installed for a check (needs root and no RomPush installed)"
fi
echo "package: $package"
dpkg-deb --field "$package" Package Version Depends
