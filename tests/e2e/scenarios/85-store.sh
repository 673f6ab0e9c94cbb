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

# The crashing build fails the way RemovePackage.fault beside it names, read
# at every call, so the copy the library loaded once serves every kind:
# kind, then the exception code the library must log ("-" when the
# companion handles its exception itself and returns).
crash_kinds() {
    cat <<'KINDS'
access-violation C0000005
divide-by-zero C0000094
illegal-instruction C000001D
raise E0425243
noncontinuable E0425243
msvc-cxx E06D7363
handled -
stack-overflow C00000FD
KINDS
}

# Under the i386 user-mode emulator Wine learns no trap number for a
# hardware fault (it reports another code), and the emulator ends the
# process on a stack overflow before Wine sees it; the 32-bit product is
# held to those two only where the kernel runs it.
i386_emulated() {
    [ "$bits" = 32 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null
}

store_crashing_companion() {
    installer_windows10
    local rc=0 kind code needle
    if cp "$bin/crashing/RemovePackage.dll" "$app/RemovePackage.dll" && host_restart; then
        while read -r kind code; do
            printf '%s\n' "$kind" >"$app/RemovePackage.fault"
            echo "  companion fails with $kind"
            if [ "$code" = - ]; then
                store_run "store-$kind.json" false "[CheckInstallMicrosoftStoreItunes] ret = 0,version = handled" \
                    "!ERR:Exception at " || rc=1
                continue
            fi
            needle="ERR:RemovePackage.dll ended by exception 0x$code"
            if i386_emulated; then
                case "$code" in
                    C00000FD) echo "  (not run: the emulator ends the process on a stack overflow)"; continue ;;
                    C*) needle="ERR:RemovePackage.dll ended by exception 0x" ;;
                esac
            fi
            store_run "store-$kind.json" false "ERR:Exception at " \
                "CWin10AppStore::CheckInstallMicrosoftStoreItunesSafe" "$needle" \
                "![CheckInstallMicrosoftStoreItunes] ret" || rc=1
        done < <(crash_kinds)
    else
        rc=1
    fi
    rm -f "$app/RemovePackage.fault"
    { cp "$bin/RemovePackage.dll" "$app/RemovePackage.dll" && host_restart; } || rc=1
    installer_restore_windows
    return "$rc"
}
scenario "store: a companion that faults, raises, throws or overflows its stack is logged and the host goes on" \
    store_crashing_companion

# Two stack overflows in one process: the first must leave the thread a
# guard page for the second. One process of the 64-bit host (the 32-bit run
# is one process already, where it can overflow at all).
store_overflow_twice() {
    [ "$bits" = 64 ] || { echo "  (the 32-bit run serves every kind from one process)"; return 0; }
    installer_windows10
    local rc=0 log="$app/Log/Tarnwick.log" from=0 out
    [ -f "$log" ] && from=$(stat -c %s "$log")
    cp "$bin/crashing/RemovePackage.dll" "$app/RemovePackage.dll" || rc=1
    echo stack-overflow >"$app/RemovePackage.fault"
    out=$(printf 'store\nstore\nitunes\n' | (cd "$app" && command wine 'C:\Tarnwick\brisalen.exe' session) | tr -d '\r') ||
        { echo "  the session host exit $?"; rc=1; }
    [ "$(grep -c '^== brisalen session: exit 0$' <<<"$out")" = 3 ] || { echo "  session answers:"; sed 's/^/    /' <<<"$out"; rc=1; }
    local caught
    caught=$(tail -c +"$((from + 1))" "$log" | grep -c 'ERR:RemovePackage.dll ended by exception 0xC00000FD')
    [ "$caught" = 2 ] || { echo "  $caught stack overflows logged, expected 2"; rc=1; }
    rm -f "$app/RemovePackage.fault"
    cp "$bin/RemovePackage.dll" "$app/RemovePackage.dll" || rc=1
    installer_restore_windows
    return "$rc"
}
scenario "store: a second stack overflow in the same process is caught as the first" store_overflow_twice

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
