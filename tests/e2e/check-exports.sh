#!/usr/bin/env bash
# Exports must carry their plain C names: hosts find them with
# GetProcAddress by those names. By default the library's factories;
# otherwise the names given after the DLL.
# Usage: check-exports.sh DLL [NAME...]
set -euo pipefail
dll="$1"; shift
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(CreateFixItuensMgr CreateItunesUserDataMgr)
table="$(i686-w64-mingw32-objdump -p "$dll")"
for name in "${names[@]}"; do
    if ! grep -Eq "^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+$name\$" <<<"$table"; then
        echo "missing undecorated export $name in $dll" >&2
        grep -A20 'Ordinal/Name Pointer' <<<"$table" >&2 || true
        exit 1
    fi
done
echo "exports ok: ${names[*]}"
