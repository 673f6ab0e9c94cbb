#!/usr/bin/env bash
# Hosts find exports with GetProcAddress by name, so each must stand in the
# export table exactly as named. By default the library's own: its nine C++
# interface names and every function include/BrisalenC.h declares;
# otherwise the names given after the DLL.
# Usage: check-exports.sh DLL [NAME...]
set -euo pipefail
dll="$1"; shift
names=("$@")
exact=0
if [ ${#names[@]} -eq 0 ]; then
    # The library: its two factories under their C names, and the product
    # queries under their C++ names only (no undecorated aliases).
    names=(CreateFixItuensMgr CreateItunesUserDataMgr
           _Z24GetAllInstallProductInfoB5cxx11v
           _Z18QueryItunesServiceRSt6vectorI23ST_MSI_PRODUCT_RAW_DATASaIS0_EE
           _Z19QueryProductServiceB5cxx11i
           _Z14InstallProductNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEEPi
           _Z16UninstallProductiNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEEPi
           _Z21SaveProductVerifyInfoRSt6vectorI22ST_MSI_PRODUCT_UI_INFOSaIS0_EERNSt7__cxx1112basic_stringIwSt11char_traitsIwESaIwEEE
           _Z23GetAllItunesTypeInfoMapv)
    # The C interface under its plain names.
    header="$(dirname "$0")/../../include/BrisalenC.h"
    c_names="$(python3 "$(dirname "$0")/lib/c_api_names.py" "$header")" ||
        { echo "cannot read the C interface's names from $header" >&2; exit 1; }
    mapfile -t c_api <<<"$c_names"
    # Nothing else: the table holds exactly these.
    names+=("${c_api[@]}")
    exact=1
fi
table="$("${OBJDUMP:-i686-w64-mingw32-objdump}" -p "$dll")"
exported="$(sed -n '/Ordinal\/Name Pointer/,/^$/p' <<<"$table" | grep -E '^[[:space:]]*\[[[:space:]]*[0-9]+\]' || true)"
for name in "${names[@]}"; do
    if ! grep -Eq "^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+$name\$" <<<"$exported"; then
        echo "missing export $name in $dll" >&2
        echo "$exported" >&2
        exit 1
    fi
done
if [ "$exact" = 1 ] && [ "$(wc -l <<<"$exported")" -ne "${#names[@]}" ]; then
    echo "$dll exports more than its ${#names[@]} names:" >&2
    echo "$exported" >&2
    exit 1
fi
echo "exports ok: ${names[*]}"
