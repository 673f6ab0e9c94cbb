# Wine builds: i686 x86_64
# The Microsoft Store edition of iTunes on Windows 10: the library loads our
# RemovePackage.dll from beside brisalen.exe and logs its answer; the
# faulting test build of the companion costs a log line, not the host; the
# companion's removal answers at once where Wine has no package manager, and
# reads the user's package repository where there is one.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"

store_repository='HKCU\Software\Classes\Local Settings\Software\Microsoft\Windows\CurrentVersion\AppModel\Repository\Packages'
store_package='AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttqa'

# Runs `brisalen store --json` into $app/OUT and checks the answer and the
# log lines this run added: python3 - OUT EXPECTED(true|false) NEEDLE...
# (a needle starting with "!" must be absent).
store_run() {
    local out="$1" expected="$2"; shift 2
    local log="$app/Log/Tarnwick.log" from=0 rc=0
    [ -f "$log" ] && from=$(stat -c %s "$log")
    installer_host "$out" store || rc=$?
    [ "$rc" -eq 0 ] || { echo "  brisalen store exit $rc"; return 1; }
    python3 - "$app/$out" "$expected" "$log" "$from" "$@" <<'PY'
import json, sys
out, expected, log, start = sys.argv[1], sys.argv[2] == "true", sys.argv[3], int(sys.argv[4])
problems = []
try:
    answer = json.load(open(out))["store_itunes_installed"]
    if answer is not expected: problems.append("store answered %r" % answer)
except (OSError, ValueError, KeyError) as e:
    problems.append("no answer: %s" % e)
try:
    with open(log, "rb") as f:
        f.seek(start)
        added = f.read().decode("latin-1").replace("\r\n", "\n")
except OSError as e:
    problems.append("no log: %s" % e); added = ""
for needle in sys.argv[5:]:
    absent = needle.startswith("!")
    text = needle[1:] if absent else needle
    if (text in added) == absent:
        problems.append("log %s %r" % ("has" if absent else "lacks", text))
if problems: print("  this run's log:\n" + "".join("    " + l + "\n" for l in added.splitlines()))
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}

# The companion's own answers do not depend on the host's bitness, and each
# start of the 32-bit probe costs a minute under the emulator: the i686 run
# asks through the library only.
store_probe() {
    local rc=0
    [ "$bits" = 32 ] && return 0
    (cd "$app" && wine 'C:\Tarnwick\store_probe.exe' "$@") | tr -d '\r' | sed 's/^/  /' || rc=$?
    return "$rc"
}

store_companion() {
    installer_windows10
    local rc=0
    wine reg delete "$store_repository" /f /reg:64 >/dev/null 2>&1 || true
    store_run store.json false "[CheckInstallMicrosoftStoreItunes] ret = 0,version = " \
        "!load RemovePackage.dll fail" "!ERR:GetProcAddress" || rc=1
    # No package query in Wine's kernel32 and no repository: nothing to remove.
    store_probe 2 || rc=1
    installer_restore_windows
    return "$rc"
}
scenario "store: our RemovePackage.dll is loaded beside the host and finds no Store iTunes" store_companion

store_crashing_companion() {
    installer_windows10
    local rc=0
    if cp "$bin/crashing/RemovePackage.dll" "$app/RemovePackage.dll"; then
        store_run store-crash.json false "ERR:Exception at " \
            "CWin10AppStore::CheckInstallMicrosoftStoreItunesSafe" "![CheckInstallMicrosoftStoreItunes] ret" || rc=1
    else
        rc=1
    fi
    cp "$bin/RemovePackage.dll" "$app/RemovePackage.dll" || rc=1
    installer_restore_windows
    return "$rc"
}
scenario "store: a companion whose check faults is logged and the host exits normally" store_crashing_companion

store_repository_package() {
    installer_windows10
    local rc=0
    if wine reg add "$store_repository\\$store_package" /f /reg:64 >/dev/null 2>&1; then
        store_run store-repo.json true "[CheckInstallMicrosoftStoreItunes] ret = 1,version = 12.13.2.3" || rc=1
        # Wine's powershell.exe is a stub that exits 0 and removes nothing:
        # the companion runs it, asks the repository again and answers 6,
        # still installed.
        store_probe 6 12.13.2.3 || rc=1
    else
        echo "  could not add the package key"; rc=1
    fi
    wine reg delete "$store_repository" /f /reg:64 >/dev/null 2>&1 || true
    installer_restore_windows
    return "$rc"
}
scenario "store: a package in the user's repository is found with its version" store_repository_package
