# Wine builds: i686 x86_64
# The one-key tasks end to end: install-all lays the six packages down from
# the unpacked installer folder (packages that start their services at
# install, as the family's real ones do), a check finds them sound, and uninstall-all
# takes everything away again, ending a program that still runs from an
# Apple folder, and asks our RemovePackage.dll about the Store edition.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"

onekey_linger_pid=""

# install-all reports begin and success for each package in the order
# support libraries first, iTunes last, then success; all six register.
onekey_install() {
    installer_remove_all || return 1
    local rc=0
    installer_host install-all.json install-all 'C:\Tarnwick\packages' || rc=$?
    [ "$rc" -eq 0 ] || { echo "  install-all exit $rc"; sed 's/^/  /' "$app/install-all.json"; return 1; }
    python3 - "$app/install-all.json" <<'PY' || return 1
import json, sys
result = json.load(open(sys.argv[1]))["install_all"]
order = ["AppleApplicationSupport64.msi", "AppleApplicationSupport.msi", "Bonjour64.msi",
         "AppleMobileDeviceSupport64.msi", "AppleSoftwareUpdate.msi", "iTunes64.msi"]
want = [(state, "C:\\Tarnwick\\packages\\" + p) for p in order for state in ("installing", "installed")]
got = [(i["state"], i["package"]) for i in result["items"]]
problems = []
if [(s, p.lower()) for s, p in got] != [(s, p.lower()) for s, p in want]: problems.append("items %r" % got)
if result["summary"] != {"state": "complete", "success": True, "error": 0}:
    problems.append("summary %r" % result["summary"])
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
    local name code arch
    while read -r name code arch; do
        installer_registered "$code" "$arch" || { echo "  $name not registered"; return 1; }
    done < <(installer_codes)
}

onekey_check_clean() {
    local rc=0
    installer_host onekey-check.json check || rc=$?
    [ "$rc" -eq 0 ] || { echo "  check exit $rc"; sed 's/^/  /' "$app/onekey-check.json"; return 1; }
    # The packages start their services at install and wait for them.
    installer_host services-installed.json services "Bonjour Service" "Apple Mobile Device Service" "iPod Service" ||
        return 1
    python3 - "$app/services-installed.json" <<'PY'
import json, sys
services = json.load(open(sys.argv[1]))["services"]
idle = {name: s["state"] for name, s in services.items() if s["state"] != "RUNNING"}
for name, state in sorted(idle.items()): print("  service %s not running after install: %s" % (name, state))
sys.exit(1 if idle else 0)
PY
}

# A program started from Bonjour's folder, running before the uninstall.
onekey_start_linger() {
    local folder="$WINEPREFIX/drive_c/Program Files/Bonjour"
    [ -d "$folder" ] || { echo "  $folder not installed"; return 1; }
    cp "$app/linger_probe.exe" "$folder/linger_probe.exe"
    (cd "$app" && exec wine 'C:\Program Files\Bonjour\linger_probe.exe' </dev/null >/dev/null 2>&1) &
    onekey_linger_pid=$!
    local i
    for i in $(seq 1 30); do
        installer_host processes.json processes || true
        grep -qi 'Bonjour\\\\linger_probe.exe' "$app/processes.json" && return 0
        sleep 1
    done
    echo "  linger_probe.exe never showed up among the processes"; return 1
}

# uninstall-all: its dry run lists what it then removes; each product begins
# and ends in type order, the program is ended, and afterwards nothing of the family is registered, on disk or
# among the services; the final record is a success.
onekey_uninstall() {
    local rc=0 mark
    # The dry run first: what it lists is what the run below must remove.
    installer_host uninstall-preview.json uninstall-all --dry-run || rc=$?
    [ "$rc" -eq 0 ] || { echo "  uninstall-all --dry-run exit $rc"; sed 's/^/  /' "$app/uninstall-preview.json"; return 1; }
    onekey_drive_tree >"$app/tree-before.txt"
    mark="$(stat -c %s "$app/Log/Tarnwick.log" 2>/dev/null || echo 0)"
    installer_host uninstall-all.json uninstall-all || rc=$?
    tail -c +"$((mark + 1))" "$app/Log/Tarnwick.log" | tr -d '\r' >"$app/uninstall-all.log"
    [ "$rc" -eq 0 ] || { echo "  uninstall-all exit $rc"; sed 's/^/  /' "$app/uninstall-all.json"; return 1; }
    local i
    for i in $(seq 1 20); do
        kill -0 "$onekey_linger_pid" 2>/dev/null || break
        sleep 1
    done
    if kill -0 "$onekey_linger_pid" 2>/dev/null; then echo "  linger_probe.exe still running"; return 1; fi
    python3 - "$app/uninstall-all.json" "$app/uninstall-all.log" "$WINEPREFIX/drive_c" <<'PY' || return 1
import json, os, sys
result = json.load(open(sys.argv[1]))["uninstall_all"]
log = open(sys.argv[2], "rb").read().decode("latin-1")
root = sys.argv[3]
problems = []
steps = [(i["type"], i["state"]) for i in result["items"] if "type" in i]
want = [(t, s) for t in range(1, 7) for s in ("uninstalling", "uninstalled")]
if steps != want: problems.append("product steps %r" % steps)
deleted = [i["path"] for i in result["items"] if i["state"] == "deleting folder"]
if not any(p.endswith("\\bonjour") for p in deleted): problems.append("Bonjour's folder not deleted: %r" % deleted)
summary = result["summary"]
if not (summary["success"] is True and summary["error"] == 0 and summary["files"] == []):
    problems.append("summary %r" % summary)
for line in ("Ready uninstall 6 module...", "=> kill third process...", "not find any Residual file!",
             "=>kOneKeyUninstallState_All_UninstallComplete"):
    if line not in log: problems.append("log lacks %r" % line)
for folder in ("Program Files/iTunes", "Program Files/Bonjour", "Program Files/Common Files/Apple/Mobile Device Support",
               "Program Files (x86)/Common Files/Apple/Apple Application Support",
               "Program Files/Common Files/Apple/Apple Application Support"):
    if os.path.exists(os.path.join(root, folder)): problems.append("%s still there" % folder)
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
    onekey_drive_tree >"$app/tree-after.txt"
    onekey_removed_as_previewed || return 1
    local name code arch
    while read -r name code arch; do
        if installer_registered "$code" "$arch"; then echo "  $name still registered"; return 1; fi
    done < <(installer_codes)
    installer_host services-after.json services "Bonjour Service" "Apple Mobile Device Service" "iPod Service" || true
    python3 - "$app/services-after.json" <<'PY'
import json, sys
services = json.load(open(sys.argv[1]))["services"]
left = {name: s["state"] for name, s in services.items() if not s["state"].startswith("OPEN_ERR")}
for name, state in sorted(left.items()): print("  service %s still there: %s" % (name, state))
sys.exit(1 if left else 0)
PY
}

# Every entry of drive C outside the Windows folder and the host's own
# folder (its log and outputs grow meanwhile), one a line.
onekey_drive_tree() {
    (cd "$WINEPREFIX/drive_c" && find . -mindepth 1 -not -path './windows/*' -not -path './windows' \
        -not -path './Tarnwick/*' -not -path './Tarnwick' -printf '%P\n') | LC_ALL=C sort
}

# The dry run's paths are exactly what the run took away, and the program it
# named to end is the one that was running.
onekey_removed_as_previewed() {
    python3 - "$app/uninstall-preview.json" "$app/tree-before.txt" "$app/tree-after.txt" "$WINEPREFIX/drive_c" <<'PY'
import json, os, sys
preview = json.load(open(sys.argv[1]))["uninstall_all"]
before = {p.lower() for p in open(sys.argv[2]).read().split("\n") if p}
standing = {p.lower(): p for p in open(sys.argv[3]).read().split("\n") if p}
after = set(standing)
def relative(path):
    path = path.lower().replace("\\", "/")
    return path[3:] if path.startswith("c:/") else None
listed = {relative(p["path"]) for p in preview["paths"]}
listed.discard(None)
listed -= {p for p in listed if p == "windows" or p.startswith("windows/") or p.startswith("tarnwick")}
removed = before - after
problems = []
if preview["steps"] == [] or len(preview["steps"]) != 6: problems.append("steps %r" % preview["steps"])
if not any(p.lower().endswith("\\bonjour\\linger_probe.exe") for p in preview["programs"]):
    problems.append("programs %r" % preview["programs"])
for p in sorted(removed - listed)[:10]: problems.append("removed, not previewed: " + p)
# Windows Installer counts the folders it made and takes each away with the
# last product using it (Common Files\\Apple, ProgramData\\Apple); Wine's
# leaves them, empty. Only such an empty folder may stay.
def left_empty(path):
    if path not in standing: return False
    real = os.path.join(sys.argv[4], *standing[path].split("/"))
    return os.path.isdir(real) and not os.listdir(real)
for p in sorted(p for p in listed - removed if not left_empty(p))[:10]:
    problems.append("previewed, not removed: " + p)
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}

onekey_scenarios() {
    installer_fixtures services || { echo "FAIL [$label] one-key: fixture packages"; failures=$((failures + 1)); return; }
    local started
    started=$(date +%s)
    installer_windows10
    scenario "one-key: install-all installs the six packages in order" onekey_install
    scenario "one-key: after install-all the check finds everything sound and the services run" onekey_check_clean
    scenario "one-key: a program runs from an Apple folder" onekey_start_linger
    scenario "one-key: uninstall-all removes products, folders, services and the running program" onekey_uninstall
    # Normally ended by uninstall-all already.
    if [ -n "$onekey_linger_pid" ]; then kill "$onekey_linger_pid" 2>/dev/null || true; fi
    installer_remove_all >/dev/null 2>&1 || true
    installer_restore_windows
    echo "  one-key scenarios took $(($(date +%s) - started)) s"
}
onekey_scenarios
