#!/usr/bin/env bash
# Runs itl_probe.exe of one Windows build under Wine on a freshly generated
# library, in a prefix of its own unless WINEPREFIX is set.
# Usage: run-probe-wine.sh BIN_DIR
set -euo pipefail
bin="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${WINEPREFIX:-/tmp/itl-probe-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
app="$WINEPREFIX/drive_c/itlprobe"
[ -d "$WINEPREFIX/drive_c" ] || wineboot -i >/dev/null 2>&1
rm -rf -- "$app"
mkdir -p "$app/data"
cp "$bin/itl_probe.exe" "$bin/ITunesLibrary.dll" "$app/"
python3 "$here/make_library.py" "$app/data/iTunes Library.itl"
cd "$app"
wine ./itl_probe.exe 'C:\itlprobe\data'
