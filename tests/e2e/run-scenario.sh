#!/usr/bin/env bash
# Files of end-to-end scenarios on the real Win32 back end, as one CTest
# test runs them (wine.NAME for one file with the x86_64 build,
# wine.i686-session for the i686 build's): brisalen.exe, the DLLs and the probes of one
# Windows build go to C:\Tarnwick in the test prefix, which wine_env finds
# sound or makes anew (a scenario run before may have wrecked it), and the
# file's `scenario` calls run there. The i686 build, the product, runs as a
# WOW64 process in the 64-bit prefix; the x86_64 build runs natively.
# Scenarios read $bits (32 or 64) where the two differ.
#
# With the i686 build the host commands of all the files go to one
# long-lived session host (lib/session.sh).
#
# Exits 0 only when the files ran at least one scenario and every one passed.
# Usage: run-scenario.sh BIN_DIR SCENARIO_FILE...
#   BRISALEN_WINEPREFIX   the prefix (default ~/.cache/brisalen-wine)
#   BRISALEN_FIXTURES     the built fixture packages; without it the
#                         scenarios look beside BIN_DIR (lib/installer.sh)
# shellcheck source=SCRIPTDIR/../../scripts/common.sh
source "$(dirname "$0")/../../scripts/common.sh"

[ $# -ge 2 ] || die "usage: $0 BIN_DIR SCENARIO_FILE..."
[ -f "$1/brisalen.exe" ] || die "no brisalen.exe in $1: build the Windows preset first"
bin="$(cd "$1" && pwd)"
shift
scenario_files=()
for f in "$@"; do
    [ -f "$f" ] || die "no scenario file $f"
    scenario_files+=("$(cd "$(dirname "$f")" && pwd)/$(basename "$f")")
done
# Read by the scenario files, as are $bin, $app, $bits and $label.
# shellcheck disable=SC2034
here="$(cd "$(dirname "$0")" && pwd)"

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
    *) die "$bin/brisalen.exe is neither an i686 nor an x86_64 program" ;;
esac

wine_env || die "no usable Wine prefix"
app="$WINEPREFIX/drive_c/Tarnwick"
# Each run ends with the prefix idle, so a program still running now was
# left by a run CTest ended at its timeout: it would hold what this one
# installs or deletes.
wineserver -k 2>/dev/null || true

rm -rf "$app"
mkdir -p "$app"
# The library loads its companion RemovePackage.dll from beside the host;
# the probes reach helpers the library does not export; itl_probe links
# ITunesLibrary.dll and export_probe Brisalen.dll.
cp "$bin/brisalen.exe" "$bin/Brisalen.dll" "$bin/RemovePackage.dll" "$bin/ITunesLibrary.dll" "$bin"/*_probe.exe "$app/"
# The hosts of the C interface, where the build made them (the MSVC-ABI one
# needs clang and lld-link); a scenario that runs them fails without them.
for c_host in brisalen_c_host.exe brisalen_msvc_host.exe; do
    [ ! -f "$bin/$c_host" ] || cp "$bin/$c_host" "$app/"
done

passed=0
failures=0
scenario() {
    local name="$1" started
    shift
    session_ensure
    started=$(date +%s)
    if "$@"; then
        echo "PASS [$label] $name ($(($(date +%s) - started)) s)"; passed=$((passed + 1))
    else
        echo "FAIL [$label] $name ($(($(date +%s) - started)) s)"; failures=$((failures + 1))
    fi
}

# A scenario that has changed what a running host cannot see again (another
# build of RemovePackage.dll beside it, which the library keeps loaded, or
# a drive mapped, as Wine reads its drives once a process) says so; only
# the session host, one long-lived process, cares.
host_restart() { :; }
# Before each scenario: only the session host can have ended.
session_ensure() { :; }
if [ "$bits" = 32 ]; then
    # shellcheck source=SCRIPTDIR/lib/session.sh
    source "$here/lib/session.sh"
fi
for scenario_file in "${scenario_files[@]}"; do
    # shellcheck source=/dev/null
    source "$scenario_file"
done
if [ "$bits" = 32 ]; then
    session_stop
    installer_restore_windows
fi

# A service or program a failed scenario left running keeps the prefix
# busy for good: waited for a while, then ended, so the test ends rather
# than reaching its timeout, and the next one starts idle.
if ! timeout 60 wineserver -w; then
    echo "  programs still running in the prefix a minute after the scenarios: ended"
    wineserver -k 2>/dev/null || true
fi
echo "$label $(basename -a "${scenario_files[@]}" | sed 's/\.sh$//' | paste -sd ' '): $passed passed, $failures failed"
[ "$failures" -eq 0 ] && [ "$passed" -gt 0 ]
