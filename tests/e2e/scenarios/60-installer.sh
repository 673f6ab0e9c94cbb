# Windows Installer end to end: the six products of the family go in with
# msiexec from the fixture packages, the host lists them and checks their
# files through the library, finds one deleted and one truncated file, and
# the products come out again so the prefix can be used for the next run.
# msi_probe reads values longer than MAX_PATH through the real back end.
#
# The Windows version, the packages and the msiexec steps are shared with
# the check and repair scenario.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"

# products.json against the manifest: the type of each package, where it
# was installed, and the services its cached package declares.
installer_products() {
    installer_host products.json products || return 1
    python3 - "$installer_fx/fixtures.json" "$app/products.json" <<'PY'
import json, sys
manifest = {p["file"]: p for p in json.load(open(sys.argv[1]))["packages"]}
listed = json.load(open(sys.argv[2]))["products"]
expected = {  # package: (type, services)
    "iTunes64.msi": (1, ["iPod Service"]),
    "AppleSoftwareUpdate.msi": (2, []),
    "AppleMobileDeviceSupport64.msi": (3, ["Apple Mobile Device Service"]),
    "Bonjour64.msi": (4, ["Bonjour Service"]),
    "AppleApplicationSupport.msi": (5, []),
    "AppleApplicationSupport64.msi": (6, []),
}
problems = []
by_code = {p["code"].upper(): p for p in listed}
if len(listed) != len(expected):
    problems.append("%d products listed, expected %d" % (len(listed), len(expected)))
for package, (kind, services) in expected.items():
    entry = manifest[package]
    got = by_code.get(entry["productCode"].upper())
    if got is None:
        problems.append("%s (%s) not listed" % (package, entry["productCode"])); continue
    if got["type"] != kind: problems.append("%s classified as %r" % (package, got["type"]))
    if got["package"] != package: problems.append("%s: package name %r" % (package, got["package"]))
    if got["install_location"].lower() != entry["installDirX64Windows"].lower():
        problems.append("%s: installed in %r" % (package, got["install_location"]))
    if not got["local_package"].lower().startswith("c:\\windows\\installer\\"):
        problems.append("%s: cached package %r" % (package, got["local_package"]))
    if sorted(got["services"]) != sorted(services):
        problems.append("%s: services %r" % (package, got["services"]))
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}

# The long text, once from a Property row of a package the back end opens
# read-only (a copy of Bonjour's with the row added), once as Bonjour's
# HelpLink from the installed product.
installer_long_values() {
    cp "$app/packages/Bonjour64.msi" "$app/long.msi" || { echo "  cannot copy Bonjour64.msi"; return 1; }
    msibuild "$app/long.msi" -q \
        "INSERT INTO Property (Property, Value) VALUES ('BrisalenLongValue', '$installer_long_text')" \
        || { echo "  msibuild: exit $?"; return 1; }
    local code rc=0
    code="$(installer_code_of Bonjour64.msi)"
    (cd "$app" && wine 'C:\Tarnwick\msi_probe.exe' 'C:\Tarnwick\long.msi' BrisalenLongValue "$code") \
        >"$app/long.raw" 2>"$app/long.err" || rc=$?
    tr -d '\r' <"$app/long.raw" >"$app/long.txt"
    [ "$rc" -eq 0 ] || { echo "  msi_probe: exit $rc"; sed 's/^/  /' "$app/long.txt" "$app/long.err" | cut -c1-160; return 1; }
    local expected
    expected="$(printf 'property %s\nhelplink %s' "$installer_long_text" "$installer_long_text")"
    [ "$(cat "$app/long.txt")" = "$expected" ] || { cut -c1-80 "$app/long.txt" | sed 's/^/  got: /'; return 1; }
}

# verify.json against the manifest, which tells how many files of each
# product are judged (lib/manifest.py). BROKEN names
# "package:file key:missing|bad" for the files the scenario damaged.
installer_verify() {
    local expect_exit="$1"; shift
    local rc=0
    installer_host verify.json verify || rc=$?
    [ "$rc" -eq "$expect_exit" ] || { echo "  verify exit $rc, expected $expect_exit"; return 1; }
    python3 - "$here/lib" "$installer_fx/fixtures.json" "$app/verify.json" "$@" <<'PY'
import json, sys
sys.path.insert(0, sys.argv.pop(1))
from manifest import checked_files
manifest = json.load(open(sys.argv[1]))["packages"]
report = {p["code"].upper(): p for p in json.load(open(sys.argv[2]))["verify"]}
broken = {}
for spec in sys.argv[3:]:
    package, key, how = spec.split(":")
    broken.setdefault(package, {"missing": [], "bad": []})[how].append(key)
installed = ("iTunes64.msi", "AppleSoftwareUpdate.msi", "AppleMobileDeviceSupport64.msi", "Bonjour64.msi",
             "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi")

problems = []
if len(report) != len(installed): problems.append("%d products checked, expected %d" % (len(report), len(installed)))
for entry in manifest:
    if entry["file"] not in installed: continue
    got = report.get(entry["productCode"].upper())
    if got is None:
        problems.append("%s not checked" % entry["file"]); continue
    if got["package_read"] is not True: problems.append("%s: cached package not read" % entry["file"])
    files = {f["file"]: f["x64WindowsPath"].lower() for f in entry["files"]}
    checked = checked_files(entry)
    if got["checked"] != checked:
        problems.append("%s: %d files checked, expected %d" % (entry["file"], got["checked"], checked))
    damage = broken.get(entry["file"], {"missing": [], "bad": []})
    for how in ("missing", "bad"):
        want = sorted(files[key] for key in damage[how])
        have = sorted(path.lower() for path in got[how])
        if have != want: problems.append("%s: %s %r, expected %r" % (entry["file"], how, have, want))
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}

# Then the check again: only those two files are reported.
installer_damaged() {
    local gone short
    gone="$(installer_file Bonjour64.msi mdnsNSP.dll)"
    short="$(installer_file AppleApplicationSupport.msi ASL.dll)"
    [ -f "$gone" ] && [ -f "$short" ] || { echo "  files to damage not found: $gone $short"; return 1; }
    rm -f "$gone"
    truncate -s 100 "$short"
    installer_verify 1 Bonjour64.msi:mdnsNSP.dll:missing AppleApplicationSupport.msi:ASL.dll:bad
}

installer_scenarios() {
    installer_fixtures || { echo "FAIL [$label] installer: fixture packages"; failures=$((failures + 1)); return; }
    local started
    started=$(date +%s)
    installer_windows10
    scenario "installer: msiexec installs the six family packages and registers them" installer_install
    scenario "installer: products classified 1..6 with the services of their cached packages" installer_products
    scenario "installer: values longer than MAX_PATH read whole" installer_long_values
    scenario "installer: every product's files sound" installer_verify 0
    scenario "installer: verify names exactly the deleted and the truncated file" installer_damaged
    scenario "installer: msiexec /x removes them all" installer_uninstall
    installer_restore_windows
    echo "  installer scenarios took $(($(date +%s) - started)) s"
}
installer_scenarios
