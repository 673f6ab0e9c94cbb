#!/usr/bin/env bash
# The 32-bit product under Wine, in as few process starts as its checks
# allow. A 32-bit program starts through the i386 emulator here, which
# costs the better part of a minute each time, so one `brisalen.exe
# session` loads the library once and serves every host command of the
# chosen scenarios; the machine is set up between steps with 64-bit tools
# (reg, msiexec), which start at once. The scenarios are the x86_64 build's
# own: while this script runs, `wine 'C:\Tarnwick\brisalen.exe' ARGS` is
# answered by the session.
# Usage: i686-session.sh BIN_DIR SCENARIO_FILE...   (WINEPREFIX etc. set by
# the caller, as wine_env sets them)
set -euo pipefail
bin="$(cd "$1" && pwd)"
shift
here="$(cd "$(dirname "$0")" && pwd)"
app="$WINEPREFIX/drive_c/Tarnwick"
bits=32
label=i686

rm -rf "$app"
mkdir -p "$app"
cp "$bin/brisalen.exe" "$bin/Brisalen.dll" "$bin/RemovePackage.dll" "$bin/ITunesLibrary.dll" "$bin"/*_probe.exe "$app/"
# The program the one-key uninstall must end is a 64-bit one where the
# x86_64 build is there, as 64-bit iTunes is on the machines of users: the
# 32-bit library cannot list its modules and must go by its image path. It
# also starts at once, where a 32-bit one would take a minute.
sibling="$(dirname "$bin")/../mingw-x64/bin/linger_probe.exe"
[ -f "$sibling" ] && cp "$sibling" "$app/linger_probe.exe"

session_dir="$(mktemp -d)"
session_pid=""
session_stop() {
    [ -n "$session_pid" ] || return 0
    exec 7>&- 8<&- || true
    wait "$session_pid" 2>/dev/null || true
    session_pid=""
}
trap 'session_stop; rm -rf -- "$session_dir"' EXIT

# Starts the session host; its first answer comes once the emulator has
# started it and the library is loaded.
session_start() {
    local started
    started=$(date +%s)
    rm -f "$session_dir/in" "$session_dir/out"
    mkfifo "$session_dir/in" "$session_dir/out"
    (cd "$app" && exec /usr/lib/wine/wine64 'C:\Tarnwick\brisalen.exe' session \
        <"$session_dir/in" >"$session_dir/out" 2>"$session_dir/err") &
    session_pid=$!
    exec 7>"$session_dir/in" 8<"$session_dir/out"
    companion_loaded="$(companion_sum)"
    echo 0 >"$session_dir/err.seen"
    session_call itunes >/dev/null || { echo "the session host did not start" >&2; return 1; }
    echo "  the 32-bit session host answered after $(($(date +%s) - started)) s"
}

# One command line through the session: its standard output on ours, what
# it wrote on standard error on ours, its exit code as ours. An answer
# that takes longer than 20 minutes counts as a hung session.
session_call() {
    local IFS=$'\t' line code=""
    printf '%s\n' "$*" >&7
    while IFS= read -r -t 1200 line <&8; do
        line="${line%$'\r'}"
        if [[ "$line" =~ ^==\ brisalen\ session:\ exit\ ([0-9]+)$ ]]; then
            code="${BASH_REMATCH[1]}"
            break
        fi
        printf '%s\n' "$line"
    done
    # Callers run in subshells of pipelines, so how much of the session's
    # error output was passed on is kept in a file, not a variable.
    local seen size
    seen=$(cat "$session_dir/err.seen")
    size=$(stat -c %s "$session_dir/err")
    tail -c +"$((seen + 1))" "$session_dir/err" | head -c "$((size - seen))" | tr -d '\r' >&2 || true
    echo "$size" >"$session_dir/err.seen"
    [ -n "$code" ] || { echo "the session host stopped answering" >&2; return 125; }
    return "$code"
}

# The library loads RemovePackage.dll once and keeps it for the life of the
# process, as it must. A scenario that puts another build of it beside the
# host means a new process: the session is started again before the next
# command.
companion_sum() { md5sum <"$app/RemovePackage.dll" 2>/dev/null || echo none; }

# The scenarios start the host as `wine 'C:\Tarnwick\brisalen.exe' ...`;
# every other program goes to Wine as before.
wine() {
    if [ "${1:-}" = 'C:\Tarnwick\brisalen.exe' ]; then
        shift
        if [ "$(companion_sum)" != "$companion_loaded" ]; then
            echo "  RemovePackage.dll was replaced: the session starts again" >&2
            session_stop
            session_start >&2
        fi
        session_call "$@"
    else
        command wine "$@"
    fi
}

passed=0
failures=0
scenario() {
    local name="$1"; shift
    local started
    started=$(date +%s)
    if "$@"; then
        echo "PASS [$label] $name ($(($(date +%s) - started)) s)"; passed=$((passed + 1))
    else
        echo "FAIL [$label] $name ($(($(date +%s) - started)) s)"; failures=$((failures + 1))
    fi
}

# The library reads the Windows version once per process, so the one the
# installing scenarios run the prefix as is set before the session starts.
# shellcheck source=SCRIPTDIR/lib/installer.sh
source "$here/lib/installer.sh"
installer_windows10
session_start
for s in "$@"; do
    # shellcheck source=/dev/null
    source "$s"
done
session_stop
installer_restore_windows

wineserver -w || true
echo "$label: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
