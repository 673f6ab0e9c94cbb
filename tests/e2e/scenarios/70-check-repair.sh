# Wine builds: i686 x86_64
# The component check and the two repairs end to end, through the host's
# check, repair-bad and repair FOLDER commands and the library's repair
# manager. The six products go in with msiexec; one loses a file and
# repair-bad reinstalls it from its cached package; one is uninstalled and
# repair FOLDER installs it from the unpacked packages. Everything comes out
# again at the end, and an interrupted run is cleared by the next install.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"

# check.json against the manifest after a check whose exit code must be
# EXPECT_EXIT. Each further argument names a product that is not sound:
# "package:missing" or "package:damaged:file key"; all the others must be.
repair_check() {
    local expect_exit="$1"; shift
    local rc=0
    installer_host check.json check || rc=$?
    [ "$rc" -eq "$expect_exit" ] || { echo "  check exit $rc, expected $expect_exit"; return 1; }
    python3 - "$here/lib" "$installer_fx/fixtures.json" "$app/check.json" "$@" <<'PY'
import json, re, sys
sys.path.insert(0, sys.argv.pop(1))
from manifest import PRODUCT_TYPES, checked_files, packages
manifest = packages(sys.argv[1])
check = json.load(open(sys.argv[2]))["check"]
types = PRODUCT_TYPES
expected = {package: ("sound", None) for package in types}
for spec in sys.argv[3:]:
    package, state, *key = spec.split(":")
    expected[package] = (state, key[0] if key else None)

problems = []
items = {}
for item in check["items"]:
    if item["type"] in items: problems.append("type %d reported twice" % item["type"])
    items[item["type"]] = item
if sorted(items) != sorted(types.values()): problems.append("types reported: %r" % sorted(items))
for package, (state, key) in expected.items():
    entry, item = manifest[package], items.get(types[package])
    if item is None: continue
    if item["state"] != state:
        problems.append("%s: %s, expected %s (%s)" % (package, item["state"], state, item["message"])); continue
    if state == "missing":
        if item["product"] or item["files"]: problems.append("%s: missing yet named %r" % (package, item))
        if item["package_needed"] is not True: problems.append("%s: missing without a package needed" % package)
        continue
    if item["product"] != entry["productName"] or item["version"] != entry["productVersion"]:
        problems.append("%s: reported as %r %r" % (package, item["product"], item["version"]))
    if item["checked_files"] != checked_files(entry):
        problems.append("%s: %d files checked, expected %d" % (package, item["checked_files"], checked_files(entry)))
    if item["package_needed"] is not False: problems.append("%s: needs a package though its cached one is there" % package)
    services = sorted(name.strip() for name in re.findall(r"([^,\[\]]+):\[[A-Z_ ]*\]", item["services"]))
    if services != sorted(entry["services"]): problems.append("%s: services %r" % (package, item["services"]))
    want = [f["x64WindowsPath"].lower() for f in entry["files"] if f["file"] == key]
    have = [path.lower() for path in item["files"]]
    if have != want: problems.append("%s: files %r, expected %r" % (package, have, want))

summary = check["summary"]
unsound = [state for state, _ in expected.values() if state != "sound"]
if summary["to_repair"] != len(unsound): problems.append("summary: %d to repair" % summary["to_repair"])
if summary["package_needed"] is not ("missing" in unsound):
    problems.append("summary: package needed %r" % summary["package_needed"])
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}

repair_log_size() {
    stat -c %s "$app/Log/Tarnwick.log" 2>/dev/null || echo 0
}

# Runs `brisalen ARGS...` into repair.json and checks that it repaired the
# one product PACKAGE of KIND (missing or damaged) and succeeded, and that
# the library logged each LINE during this run.
repair_run() {
    local package="$1" kind="$2" lines="$3"; shift 3
    local rc=0 mark
    mark="$(repair_log_size)"
    installer_host repair.json "$@" || rc=$?
    [ "$rc" -eq 0 ] || { echo "  $1 exit $rc"; sed 's/^/  /' "$app/repair.json"; return 1; }
    tail -c +"$((mark + 1))" "$app/Log/Tarnwick.log" | tr -d '\r' >"$app/repair.log"
    python3 - "$here/lib" "$app/repair.json" "$app/repair.log" "$package" "$kind" "$lines" <<'PY'
import json, sys
sys.path.insert(0, sys.argv.pop(1))
from manifest import PRODUCT_TYPES
repair = json.load(open(sys.argv[1]))["repair"]
log = open(sys.argv[2], "rb").read().decode("latin-1").splitlines()
package, kind = sys.argv[3], sys.argv[4]
types = PRODUCT_TYPES
problems = []
steps = [(i["type"], i["state"], i["kind"], i["error"]) for i in repair["items"]]
want = [(types[package], "repairing", kind, 0), (types[package], "repaired", kind, 0)]
if steps != want: problems.append("items %r, expected %r" % (steps, want))
if repair["summary"] != {"success": True, "error": 0}: problems.append("summary %r" % repair["summary"])
for line in sys.argv[5].split("\n"):
    if not any(got.endswith(" " + line) for got in log): problems.append("log lacks %r" % line)
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}

# Bonjour's mdnsNSP.dll is deleted; the check names it and nothing else.
repair_damage() {
    local gone
    gone="$(installer_file Bonjour64.msi mdnsNSP.dll)"
    [ -f "$gone" ] || { echo "  $gone not installed"; return 1; }
    rm -f "$gone"
    repair_check 1 Bonjour64.msi:damaged:mdnsNSP.dll
}

# repair-bad uninstalls Bonjour and installs it again from a copy of its
# cached package; the file is back as the package has it.
repair_bad() {
    repair_run Bonjour64.msi damaged $'MsiConfigureProductEx SUCCESS!\n====Install Success====' repair-bad || return 1
    python3 - "$here/lib" "$installer_fx/fixtures.json" "$(installer_file Bonjour64.msi mdnsNSP.dll)" <<'PY' || return 1
import hashlib, sys
sys.path.insert(0, sys.argv.pop(1))
from manifest import packages
wanted = next(f for f in packages(sys.argv[1])["Bonjour64.msi"]["files"] if f["file"] == "mdnsNSP.dll")
try:
    data = open(sys.argv[2], "rb").read()
except OSError as e:
    print("  not restored: %s" % e); sys.exit(1)
if len(data) != wanted["size"] or hashlib.sha256(data).hexdigest() != wanted["sha256"]:
    print("  restored with %d bytes, not the package's %d" % (len(data), wanted["size"])); sys.exit(1)
PY
    repair_check 0
}

# Apple Software Update is uninstalled behind the library's back.
repair_missing() {
    local code
    code="$(installer_code_of AppleSoftwareUpdate.msi)"
    installer_remove AppleSoftwareUpdate.msi "$code" x86 || return 1
    repair_check 1 AppleSoftwareUpdate.msi:missing
}

# A folder with the missing product's package but only three packages in
# all is no unpacked installer: the repair does not start.
repair_few() {
    local rc=0
    rm -rf "$app/few" && mkdir -p "$app/few"
    cp "$app/packages/AppleSoftwareUpdate.msi" "$app/packages/Bonjour64.msi" "$app/packages/iTunes64.msi" "$app/few/"
    installer_host repair-few.json repair 'C:\Tarnwick\few' 2>/dev/null || rc=$?
    [ "$rc" -eq 2 ] || { echo "  repair of a three-package folder: exit $rc, expected 2"; return 1; }
    if installer_registered "$(installer_code_of AppleSoftwareUpdate.msi)" x86; then
        echo "  Apple Software Update installed anyway"; return 1
    fi
}

# repair FOLDER installs it from the folder the six packages were copied to.
repair_folder() {
    repair_run AppleSoftwareUpdate.msi missing \
        $'Find : [Apple Software Update] => [C:\\Tarnwick\\packages\\AppleSoftwareUpdate.msi]\n====Install Success====' \
        repair 'C:\Tarnwick\packages' || return 1
    installer_registered "$(installer_code_of AppleSoftwareUpdate.msi)" x86 || { echo "  not registered"; return 1; }
    repair_check 0
}

repair_scenarios() {
    installer_fixtures || { echo "FAIL [$label] check-repair: fixture packages"; failures=$((failures + 1)); return; }
    local started
    started=$(date +%s)
    installer_windows10
    scenario "check-repair: msiexec installs the six family packages" installer_install
    scenario "check-repair: check finds all six products sound" repair_check 0
    scenario "check-repair: check names the product and the file deleted from it" repair_damage
    scenario "check-repair: repair-bad reinstalls the damaged product from its cached package" repair_bad
    scenario "check-repair: check reports the uninstalled product missing" repair_missing
    scenario "check-repair: repair refuses a folder of only three packages" repair_few
    scenario "check-repair: repair FOLDER installs the missing product from the folder" repair_folder
    scenario "check-repair: msiexec /x removes them all" installer_uninstall
    # Packages left in the host's folder would be found by later scenarios'
    # searches below it.
    rm -rf "$app/few"
    installer_restore_windows
    echo "  check and repair scenarios took $(($(date +%s) - started)) s"
}
repair_scenarios
