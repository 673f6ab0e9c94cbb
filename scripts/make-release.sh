#!/usr/bin/env bash
# Makes the folder a Windows application developer gets, and its zip: the
# 32-bit build installed into OUTDIR/Brisalen-<version>-x86 (binaries
# stripped) and zipped beside it as OUTDIR/Brisalen-<version>-x86.zip. Sets up
# a fresh Debian machine and builds the mingw-x86 preset first where needed;
# on a built tree only the install and the zip run.
# Usage: scripts/make-release.sh [OUTDIR]   (default build/release)
source "$(dirname "$0")/common.sh"

outdir="${1:-$BRISALEN_ROOT/build/release}"

install_packages "${BRISALEN_APT_PACKAGES[@]}"
"$BRISALEN_ROOT/scripts/build-windows-deps.sh" --target i686-w64-mingw32 >/dev/null
say "building mingw-x86"
build_preset mingw-x86

build="$BRISALEN_ROOT/build/mingw-x86"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
name="Brisalen-$version-x86"

mkdir -p -- "$outdir"
outdir="$(cd -- "$outdir" && pwd)"
# A file left from an earlier release of the same version would ship again.
rm -rf -- "${outdir:?}/$name" "${outdir:?}/$name.zip"

say "installing into $outdir/$name"
cmake --install "$build" --prefix "$outdir/$name" --strip >/dev/null
# The zip holds the folder itself, so it unpacks into one; compressed
# (python's own `-m zipfile -c` only stores).
(cd -- "$outdir" && python3 - "$name.zip" "$name" <<'PY'
import os, sys, zipfile
archive, folder = sys.argv[1:]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as zf:
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            zf.write(os.path.join(root, name))
PY
)
say "made $outdir/$name and $outdir/$name.zip"
