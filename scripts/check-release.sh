#!/usr/bin/env bash
# Checks a release folder as scripts/make-release.sh leaves it, and its zip:
# exactly the files a Windows developer gets (no test program, no faulting
# companion), 32-bit binaries, each DLL's exports, that every DLL a shipped
# binary imports is Windows' own or shipped too, that the headers compile on
# their own (the C one as C89 and for MSVC) and that hosts link against the
# import libraries (a C++ one against libBrisalen.dll.a, the C host for the
# MSVC binary interface against Brisalen.lib). Prints the file list with
# sizes; reports every fault it finds, then fails.
# Usage: scripts/check-release.sh DIR [ZIP]   (ZIP defaults to DIR.zip)
source "$(dirname "$0")/common.sh"

[ $# -ge 1 ] || die "usage: check-release.sh DIR [ZIP]"
dir="$(cd -- "$1" && pwd)" || die "no folder $1"
zip="${2:-$dir.zip}"
export OBJDUMP="${OBJDUMP:-i686-w64-mingw32-objdump}"
CXX_I686="${CXX_I686:-i686-w64-mingw32-g++-posix}"
CC_I686="${CC_I686:-i686-w64-mingw32-gcc-posix}"
# The LLVM tools under their plain names or Debian's versioned ones.
llvm_tool() {
    local name="$1" candidate
    for candidate in "$name" "$name"-{19,18,17,16,15,14} /usr/lib/llvm-{19,18,17,16,15,14}/bin/"$name"; do
        command -v "$candidate" >/dev/null 2>&1 && { command -v "$candidate"; return 0; }
    done
    echo "$name"
}
CLANG="${CLANG:-$(llvm_tool clang)}"
LLD_LINK="${LLD_LINK:-$(llvm_tool lld-link)}"
LLVM_NM="${LLVM_NM:-$(llvm_tool llvm-nm)}"
LLVM_DLLTOOL="${LLVM_DLLTOOL:-$(llvm_tool llvm-dlltool)}"

expected=(
    README.txt
    bin/Brisalen.dll
    bin/ITunesLibrary.dll
    bin/RemovePackage.dll
    bin/brisalen.exe
    include/Brisalen.h
    include/BrisalenC.h
    lib/Brisalen.def
    lib/Brisalen.lib
    lib/libBrisalen.dll.a
    bindings/python/brisalen.py
)
# Windows' own DLLs the shipped binaries import (lower case). Anything else
# imported must be shipped in bin/; a new system DLL belongs here only once
# every Windows the product runs on is known to have it.
system_dlls=(advapi32.dll kernel32.dll msi.dll msvcrt.dll psapi.dll shell32.dll)

faults=0
fault() { say "FAIL: $*"; faults=$((faults + 1)); }

work="$(mktemp -d)"
trap 'rm -rf -- "$work"' EXIT

say "files in $dir"
(cd -- "$dir" && find . -mindepth 1 ! -type d -printf '%s %P\n' | LC_ALL=C sort -k2) >"$work/files"
awk '{ printf "%10d  %s\n", $1, $2 }' "$work/files"
cut -d' ' -f2- "$work/files" >"$work/names"
printf '%s\n' "${expected[@]}" | LC_ALL=C sort >"$work/expected"
while IFS= read -r name; do fault "missing $name"; done < <(LC_ALL=C comm -23 "$work/expected" "$work/names")
while IFS= read -r name; do fault "unexpected $name"; done < <(LC_ALL=C comm -13 "$work/expected" "$work/names")

binaries=()
for name in "${expected[@]}"; do
    case "$name" in *.dll | *.exe) [ -f "$dir/$name" ] && binaries+=("$dir/$name") ;; esac
done

say "architecture"
for binary in "${binaries[@]}"; do
    grep -q 'file format pei-i386' <<<"$("$OBJDUMP" -f "$binary")" ||
        fault "${binary#"$dir"/} is not a 32-bit Windows binary"
done

say "exports"
check_exports() {
    local dll="$dir/bin/$1"; shift
    [ -f "$dll" ] || return 0
    "$BRISALEN_ROOT/tests/e2e/check-exports.sh" "$dll" "$@" || fault "exports of ${dll#"$dir"/}"
}
check_exports Brisalen.dll
check_exports RemovePackage.dll CheckInstallMicrosoftStoreItunes UninstallMicrosoftStoreItunes
check_exports ITunesLibrary.dll CreateITunesLibrary DestroyITunesLibrary
# The faulting test build has the same name and exports; only the real one
# carries the command that removes the Store package.
if [ -f "$dir/bin/RemovePackage.dll" ] &&
    ! python3 -c 'import sys; sys.exit("Remove-AppxPackage".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' \
        "$dir/bin/RemovePackage.dll"; then
    fault "bin/RemovePackage.dll is not the companion that removes the Store package (the test build?)"
fi

say "imported DLLs"
system_list="$(printf '%s\n' "${system_dlls[@]}")"
shipped="$(find "$dir/bin" -maxdepth 1 -type f -iname '*.dll' -printf '%f\n' 2>/dev/null | tr '[:upper:]' '[:lower:]' || true)"
for binary in "${binaries[@]}"; do
    if ! table="$("$OBJDUMP" -p "$binary")"; then
        fault "${binary#"$dir"/} is no PE file objdump can read"
        continue
    fi
    imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table" | tr '[:upper:]' '[:lower:]' | LC_ALL=C sort -u)"
    echo "${binary#"$dir"/}: $(echo $imports)"
    for dll in $imports; do
        if ! grep -qxF "$dll" <<<"$system_list" && ! grep -qxF "$dll" <<<"$shipped"; then
            fault "${binary#"$dir"/} imports $dll, which is neither Windows' own nor shipped"
        fi
    done
done

say "the header on its own"
printf '#include "Brisalen.h"\n' >"$work/header_alone.cpp"
"$CXX_I686" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -I"$dir/include" "$work/header_alone.cpp" ||
    fault "include/Brisalen.h does not compile on its own"

say "the C header on its own"
# Both ways a C host of another compiler reads it: MSVC's (clang for the
# msvc target, no C runtime headers beyond the freestanding ones) and
# strict C89; and as C++.
printf '#include "BrisalenC.h"\n' >"$work/c_header_alone.c"
"$CLANG" --target=i686-pc-windows-msvc -ffreestanding -fsyntax-only -x c -std=c89 -Wall -Wextra -pedantic -Werror \
    -I"$dir/include" "$work/c_header_alone.c" || fault "include/BrisalenC.h does not compile on its own for MSVC"
"$CC_I686" -std=c89 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -x c -I"$dir/include" \
    "$work/c_header_alone.c" || fault "include/BrisalenC.h does not compile on its own as C89"
"$CXX_I686" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -x c++ -I"$dir/include" "$work/c_header_alone.c" ||
    fault "include/BrisalenC.h does not compile on its own as C++"

say "Brisalen.lib and Brisalen.def name the C interface"
c_names="$(python3 "$BRISALEN_ROOT/tests/e2e/lib/c_api_names.py" "$dir/include/BrisalenC.h")" ||
    fault "no function names in include/BrisalenC.h"
if [ -f "$dir/lib/Brisalen.lib" ] && lib_symbols="$("$LLVM_NM" "$dir/lib/Brisalen.lib" 2>/dev/null)"; then
    # cdecl on i686: the compiler asks for _Name, through __imp__Name.
    for name in $c_names; do
        grep -qE "^[0-9a-f]* *[A-Z] __imp__$name\$" <<<"$lib_symbols" ||
            fault "lib/Brisalen.lib does not name $name"
        grep -qE "^[[:space:]]+$name([[:space:]@=]|\$)" "$dir/lib/Brisalen.def" ||
            fault "lib/Brisalen.def does not name $name"
    done
else
    fault "lib/Brisalen.lib is no import library $LLVM_NM can read"
fi

say "the C host linked for the MSVC binary interface against Brisalen.lib"
# The repository's C host, compiled as MSVC would lay it out and linked with
# no runtime: it imports kernel32 and Brisalen.dll only. kernel32's import
# library is made from what the object asks of it (__stdcall, _Name@N), as
# there is no Windows SDK here; every other import must come from
# Brisalen.lib, and the program must ask Brisalen.dll for names it exports.
c_host="$BRISALEN_ROOT/tests/e2e/c_host/brisalen_c_host.c"
if "$CLANG" --target=i686-pc-windows-msvc -std=c99 -Wall -Wextra -pedantic -Werror -ffreestanding -fno-builtin \
        -fno-stack-protector -mno-stack-arg-probe -O2 -I"$dir/include" -c "$c_host" -o "$work/c_host.obj"; then
    { echo "LIBRARY kernel32.dll"; echo "EXPORTS"
      "$LLVM_NM" "$work/c_host.obj" | sed -n 's/^ *U __imp__\([A-Za-z0-9]*@[0-9]*\)$/    \1/p'; } >"$work/kernel32.def"
    "$LLVM_DLLTOOL" -m i386 -k -d "$work/kernel32.def" -l "$work/kernel32.lib" ||
        fault "no kernel32.lib from $work/kernel32.def"
    if "$LLD_LINK" /nologo /nodefaultlib /subsystem:console /entry:BrisalenHostEntry /machine:x86 \
            /out:"$work/c_host.exe" "$work/c_host.obj" "$dir/lib/Brisalen.lib" "$work/kernel32.lib"; then
        c_host_table="$("$OBJDUMP" -p "$work/c_host.exe")"
        c_host_dlls="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$c_host_table" | tr '[:upper:]' '[:lower:]' |
            LC_ALL=C sort | paste -sd' ')"
        [ "$c_host_dlls" = "brisalen.dll kernel32.dll" ] || fault "the MSVC-ABI host imports $c_host_dlls"
        # The names it asks Brisalen.dll for, each one the DLL exports.
        dll_exports="$("$OBJDUMP" -p "$dir/bin/Brisalen.dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p')"
        asked="$(awk '/DLL Name: Brisalen.dll/ {on = 1; next} /DLL Name:/ {on = 0}
                      on && NF == 3 && $2 ~ /^[0-9]+$/ {print $3}' <<<"$c_host_table")"
        [ -n "$asked" ] || fault "the MSVC-ABI host asks Brisalen.dll for nothing"
        for name in $asked; do
            grep -qE "\][[:space:]]+$name\$" <<<"$dll_exports" ||
                fault "the MSVC-ABI host imports $name, which Brisalen.dll does not export"
        done
    else
        fault "the C host does not link against lib/Brisalen.lib"
    fi
else
    fault "the C host does not compile for the MSVC binary interface against include/BrisalenC.h"
fi

say "a host linked against the import library"
# Every export through the header's declarations, so a declaration whose
# decorated name drifts from the DLL's fails to link. Linked, never run.
cat >"$work/host.cpp" <<'EOF'
#include "Brisalen.h"

int main(int argc, char**) {
    if (argc > 1) return 0;
    IFixItunesMgr* repair = CreateFixItuensMgr();
    IItunesUserDataMgr* userData = CreateItunesUserDataMgr();
    std::vector<std::wstring>* services = QueryProductService(1);
    std::vector<ST_MSI_PRODUCT_RAW_DATA> products;
    std::vector<ST_MSI_PRODUCT_UI_INFO> infos;
    std::wstring path;
    int err = 0;
    bool ok = QueryItunesService(products) && InstallProduct(L"a.msi", &err) &&
              UninstallProduct(1, L"{code}", &err) && SaveProductVerifyInfo(infos, path);
    return (repair && userData && services && ok && GetAllInstallProductInfo() && GetAllItunesTypeInfoMap()) ? 0 : 1;
}
EOF
# Linked as README.txt says: -static takes no -lBrisalen (that finds only a
# static libBrisalen.a), so the import library is named by its path.
if "$CXX_I686" -std=c++17 -Wall -Wextra -I"$dir/include" "$work/host.cpp" "$dir/lib/libBrisalen.dll.a" \
        -static -o "$work/host.exe"; then
    grep -q 'DLL Name: Brisalen.dll' <<<"$("$OBJDUMP" -p "$work/host.exe")" ||
        fault "a host linked with lib/libBrisalen.dll.a does not import Brisalen.dll"
else
    fault "a host does not link against lib/libBrisalen.dll.a"
fi

say "the README's example host"
# The example a Windows developer starts from must build against this folder.
readme="$(dirname "$0")/../README.md"
if python3 - "$readme" "$work/example.cpp" <<'PY'
import re, sys
found = re.search(r"```cpp\n(.*?)```", open(sys.argv[1], encoding="utf-8").read(), re.S)
if found: open(sys.argv[2], "w", encoding="utf-8").write(found.group(1))
sys.exit(0 if found else 1)
PY
then
    "$CXX_I686" -std=c++17 -Wall -Wextra -I"$dir/include" "$work/example.cpp" "$dir/lib/libBrisalen.dll.a" \
        -static -o "$work/example.exe" || fault "the README's example host does not build against the folder"
else
    fault "no C++ example in $readme"
fi

say "the README's example host in C"
# Built as the README says for MinGW-w64 (with Windows' headers, which an
# MSVC host has from its SDK), against this folder's header.
if python3 - "$readme" "$work/example.c" <<'PY'
import re, sys
found = re.search(r"```c\n(.*?)```", open(sys.argv[1], encoding="utf-8").read(), re.S)
if found: open(sys.argv[2], "w", encoding="utf-8").write(found.group(1))
sys.exit(0 if found else 1)
PY
then
    "$CC_I686" -std=c99 -Wall -Wextra -I"$dir/include" "$work/example.c" "$dir/lib/libBrisalen.dll.a" \
        -o "$work/example_c.exe" || fault "the README's C example does not build against the folder"
else
    fault "no C example in $readme"
fi

say "the zip $zip"
if [ -f "$zip" ]; then
    # Names below the folder the zip unpacks into, with sizes and contents.
    python3 - "$zip" "$dir" <<'PY' || fault "$zip does not hold the folder's files"
import os, sys, zipfile, zlib
archive, folder = sys.argv[1:]
top = os.path.basename(folder) + "/"
on_disk = {}
for root, _, files in os.walk(folder):
    for name in files:
        path = os.path.join(root, name)
        data = open(path, "rb").read()
        on_disk[os.path.relpath(path, folder).replace(os.sep, "/")] = (len(data), zlib.crc32(data))
in_zip, outside = {}, []
with zipfile.ZipFile(archive) as zf:
    bad = zf.testzip()
    if bad:
        sys.exit(f"damaged entry {bad}")
    for info in zf.infolist():
        if info.is_dir():
            continue
        if not info.filename.startswith(top):
            outside.append(info.filename)
        in_zip[info.filename[len(top):]] = (info.file_size, info.CRC)
for name in outside:
    print(f"outside {top}: {name}")
for name in sorted(on_disk.keys() - in_zip.keys()):
    print(f"not in the zip: {name}")
for name in sorted(in_zip.keys() - on_disk.keys()):
    print(f"only in the zip: {name}")
for name in sorted(on_disk.keys() & in_zip.keys()):
    if on_disk[name] != in_zip[name]:
        print(f"differs: {name}")
sys.exit(1 if outside or on_disk != in_zip else 0)
PY
else
    fault "no zip $zip"
fi

[ "$faults" -eq 0 ] || die "$faults fault(s) in the release $dir"
say "release ok: $dir"
