#!/usr/bin/env bash
# Nothing that comes with RomPush grants the window (rompush) or rompush-cli a right: in the
# README, the help, the man page, the scripts, the package's postinst and the install rules,
# every file capability is set on rompush-kbc-helper alone, no program is made set-user-ID,
# and no text tells the operator to run RomPush or rompush-cli as root.
#   tests/kbc_rights_docs.sh [source-dir]
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
files=(README.md data/help.html.in docs/rompush-cli.1 scripts/*.sh scripts/deb/postinst
       CMakeLists.txt)
bad=0
complain() { echo "$1: $2" >&2; bad=1; }

while IFS= read -r hit; do
    line="${hit#*:*:}"
    # The helper is the only program a capability may be given to.
    if ! grep -q 'rompush-kbc-helper\|\$helper\|"\$helper"' <<<"$line" ||
        grep -Pq '(bin|build)/rompush(-cli)?(?![-\w])' <<<"$line"; then
        complain "${hit%%:*}" "a capability for another program than the helper: $line"
    fi
done < <(grep -Hn -E "setcap +['\"]?cap_" "${files[@]}" | grep -v '^[^:]*:[0-9]*:\s*#')

while IFS= read -r hit; do
    complain "${hit%%:*}" "root for the program: $hit"
done < <(grep -Hn -i -E 'run (rompush|it|the program|rompush-cli) as root|sudo +([^ ]*/)?rompush(-cli)?( |$)' \
    "${files[@]}")
while IFS= read -r hit; do
    complain "${hit%%:*}" "set-user-ID: $hit"
done < <(grep -Hn -i -E 'SETUID|SETGID|chmod [0-7]*[4-7][0-7]{3} |chmod [ug]\+s' "${files[@]}")
# The postinst sets capabilities on the helper's path only.
grep -q '^helper=/usr/bin/rompush-kbc-helper$' scripts/deb/postinst ||
    complain scripts/deb/postinst "the helper's path is not /usr/bin/rompush-kbc-helper"

if ((bad)); then
    echo "FAILED: a right for the window or rompush-cli" >&2
    exit 1
fi
echo "rights: only rompush-kbc-helper is given any (${#files[@]} files checked)"
