#!/usr/bin/env bash
# The folders keep their layers: what everything uses (core) reaches up to no subsystem but
# through the program-wide state, the HEX reader and the keyboard-port code wait without the
# serial folder, and no part of the logic reaches a provider (Qt, POSIX, terminal, simulated).
set -uo pipefail
src="${1:?source folder}/src"
status=0
complain() { echo "$1"; status=1; }

while IFS= read -r hit; do
    complain "core reaches above itself: $hit"
done < <(grep -rnE '#include "(commands|menus|ps2|cli|app|serial|hexfile)/' "$src/core" \
             | grep -v '^[^:]*/core/state\.h:.*_state\.h"')

while IFS= read -r hit; do
    complain "waits through the serial folder: $hit"
done < <(grep -rn '#include "serial/' "$src/hexfile" "$src/ps2")

for folder in app core commands serial hexfile ps2 menus ui platform; do
    while IFS= read -r hit; do
        complain "the logic includes a provider: $hit"
    done < <(grep -rnE '#include "providers/|#include <Q' "$src/$folder")
done

[ "$status" -eq 0 ] && echo "layers kept"
exit "$status"
