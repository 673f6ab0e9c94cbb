#!/usr/bin/env bash
# End-to-end scenarios on the real Win32 back end: the x86_64 brisalen.exe
# and Brisalen.dll run under Wine from C:\Tarnwick in the test prefix.
# Usage: run-wine.sh BIN_DIR   (WINEPREFIX etc. set by the caller)
set -euo pipefail
bin="$1"
here="$(cd "$(dirname "$0")" && pwd)"
app="$WINEPREFIX/drive_c/Tarnwick"

rm -rf "$app"
mkdir -p "$app"
cp "$bin/brisalen.exe" "$bin/Brisalen.dll" "$app/"

failures=0
scenario() {
    local name="$1"; shift
    if "$@"; then echo "PASS $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}

for s in "$here"/scenarios/*.sh; do
    # shellcheck source=/dev/null
    source "$s"
done

wineserver -w || true
[ "$failures" -eq 0 ] || { echo "$failures Wine scenario(s) failed" >&2; exit 1; }
