#!/usr/bin/env bash
# End-to-end scenarios on the real Win32 back end: brisalen.exe and
# Brisalen.dll of one Windows build run under Wine from C:\Tarnwick in the
# test prefix. The i686 build, the product, runs as a WOW64 process in the
# 64-bit prefix; the x86_64 build runs natively. Scenarios read $bits (32 or
# 64) where the two differ.
# Usage: run-wine.sh BIN_DIR   (WINEPREFIX etc. set by the caller; set
# BRISALEN_SCENARIOS to run only some scenarios)
set -euo pipefail
bin="$(cd "$1" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
app="$WINEPREFIX/drive_c/Tarnwick"

# The machine field of the PE header: 0x14c i386, 0x8664 x86_64.
bits="$(python3 - "$bin/brisalen.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3c)[0]
print({0x14c: 32, 0x8664: 64}.get(struct.unpack_from("<H", data, pe + 4)[0], 0))
PY
)"
case "$bits" in
    32) label=i686 ;;
    64) label=x86_64 ;;
    *) echo "$bin/brisalen.exe is neither an i686 nor an x86_64 program" >&2; exit 2 ;;
esac

rm -rf "$app"
mkdir -p "$app"
# The library loads its companion RemovePackage.dll from beside the host;
# the probes reach helpers the library does not export; itl_probe links
# ITunesLibrary.dll and export_probe Brisalen.dll.
cp "$bin/brisalen.exe" "$bin/Brisalen.dll" "$bin/RemovePackage.dll" "$bin/ITunesLibrary.dll" "$bin"/*_probe.exe "$app/"

passed=0
failures=0
scenario() {
    local name="$1"; shift
    if "$@"; then
        echo "PASS [$label] $name"; passed=$((passed + 1))
    else
        echo "FAIL [$label] $name"; failures=$((failures + 1))
    fi
}

# BRISALEN_SCENARIOS picks scenario files by a glob on their names ("9*").
for s in "$here"/scenarios/${BRISALEN_SCENARIOS:-*}.sh; do
    # shellcheck source=/dev/null
    source "$s"
done

wineserver -w || true
echo "$label: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
