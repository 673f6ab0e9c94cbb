#!/usr/bin/env bash
# The factories must be exported under their plain C names: hosts find them
# with GetProcAddress by those names.
set -euo pipefail
dll="$1"
table="$(i686-w64-mingw32-objdump -p "$dll")"
for name in CreateFixItuensMgr CreateItunesUserDataMgr; do
    if ! grep -Eq "^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+$name\$" <<<"$table"; then
        echo "missing undecorated export $name in $dll" >&2
        grep -A20 'Ordinal/Name Pointer' <<<"$table" >&2 || true
        exit 1
    fi
done
echo "exports ok: CreateFixItuensMgr CreateItunesUserDataMgr"
