# Windows Installer end to end: the six products of the family go in with
# msiexec from the fixture packages, the host lists them and checks their
# files through the library, finds one deleted and one truncated file, and
# the products come out again so the prefix can be used for the next run.
# msi_probe reads values longer than MAX_PATH through the real back end.
#
# Windows version: the prefix runs as Windows 10 for this scenario and is put
# back to what it was afterwards. msiexec then installs the components
# conditioned on VersionNT>=602 and leaves out the VersionNT<602 ones; the
# check, which skips components that need a newer Windows than it sees, has
# those files to look at too. Under Wine's default Windows 7 both sides would
# leave them out and the newer-Windows branch would go untested. The library
# takes the true version from ntdll, 10.0, which it counts as VersionNT 1000
# (its log says so); both sides agree on every VersionNT>= condition here.
#
# iTunes is installed in its 64-bit variant only: iTunes.msi and iTunes64.msi
# are the same product type and would both be classified as it.

# Longer than the first buffer the back end offers msi.dll (MAX_PATH), so
# reading it back whole takes the retry after ERROR_MORE_DATA. Bonjour is
# installed with it as its help link.
installer_long_text="https://brisalen.test/help/$(printf 'h%.0s' $(seq 1 600))"

installer_packages=(iTunes64.msi AppleSoftwareUpdate.msi AppleMobileDeviceSupport64.msi Bonjour64.msi
                    AppleApplicationSupport.msi AppleApplicationSupport64.msi)

# The build tree's packages when the fixtures target made them, otherwise a
# fresh set (about two seconds).
installer_fixtures() {
    local built="$bin/../fixtures"
    if [ -f "$built/fixtures.json" ]; then
        installer_fx="$(cd "$built" && pwd)"
    else
        installer_fx="$app/fixtures"
        "$here/../../fixtures/build-fixtures.sh" "$installer_fx" >"$app/fixtures.log" || return 1
    fi
    mkdir -p "$app/packages"
    local p
    for p in "${installer_packages[@]}"; do cp "$installer_fx/$p" "$app/packages/" || return 1; done
}

# "PACKAGE CODE ARCH" for each package the scenario installs.
installer_codes() {
    python3 - "$installer_fx/fixtures.json" "${installer_packages[@]}" <<'PY'
import json, sys
packages = {p["file"]: p for p in json.load(open(sys.argv[1]))["packages"]}
for name in sys.argv[2:]:
    print(name, packages[name]["productCode"], packages[name]["arch"])
PY
}

# Windows Installer files the Uninstall entry of a 32-bit package in the
# 32-bit view of the registry.
installer_registered() {
    local code="$1" arch="$2" view=64
    [ "$arch" = x86 ] && view=32
    wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" /v DisplayName \
        /reg:$view </dev/null >/dev/null 2>&1
}

installer_remove_all() {
    local name code arch
    while read -r name code arch; do
        installer_registered "$code" "$arch" || continue
        wine msiexec /x "$code" /qn </dev/null >/dev/null 2>&1 || { echo "  msiexec /x $name: exit $?"; return 1; }
        if installer_registered "$code" "$arch"; then echo "  $name still registered"; return 1; fi
    done < <(installer_codes)
}

installer_host() {
    local out="$1"; shift
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' "$@" --json) | tr -d '\r' >"$app/$out"
}

installer_install() {
    # Left over from an interrupted run: msiexec would only repair them.
    installer_remove_all || return 1
    local name code arch extra
    while read -r name code arch; do
        extra=()
        [ "$name" = Bonjour64.msi ] && extra=("ARPHELPLINK=$installer_long_text")
        wine msiexec /i "C:\\Tarnwick\\packages\\$name" "${extra[@]}" /qn </dev/null >/dev/null 2>&1 \
            || { echo "  msiexec /i $name: exit $?"; return 1; }
        installer_registered "$code" "$arch" || { echo "  $name installed but not registered"; return 1; }
    done < <(installer_codes)
}

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
    cp "$bin/msi_probe.exe" "$app/" || return 1
    cp "$app/packages/Bonjour64.msi" "$app/long.msi" || return 1
    msibuild "$app/long.msi" -q \
        "INSERT INTO Property (Property, Value) VALUES ('BrisalenLongValue', '$installer_long_text')" || return 1
    local code
    code="$(installer_codes | awk '$1 == "Bonjour64.msi" {print $2}')"
    (cd "$app" && wine 'C:\Tarnwick\msi_probe.exe' 'C:\Tarnwick\long.msi' BrisalenLongValue "$code") \
        | tr -d '\r' >"$app/long.txt" || { sed 's/^/  /' "$app/long.txt"; return 1; }
    local expected
    expected="$(printf 'property %s\nhelplink %s' "$installer_long_text" "$installer_long_text")"
    [ "$(cat "$app/long.txt")" = "$expected" ] || { cut -c1-80 "$app/long.txt" | sed 's/^/  got: /'; return 1; }
}

# verify.json against the manifest. A file is checked when its component
# has no condition or asks only for a Windows version this one meets;
# components installed only on first install (NOT Installed), only on older
# Windows, or only without the C runtime are not judged. BROKEN names
# "package:file key:missing|bad" for the files the scenario damaged.
installer_verify() {
    local expect_exit="$1"; shift
    local rc=0
    installer_host verify.json verify || rc=$?
    [ "$rc" -eq "$expect_exit" ] || { echo "  verify exit $rc, expected $expect_exit"; return 1; }
    python3 - "$installer_fx/fixtures.json" "$app/verify.json" "$@" <<'PY'
import json, re, sys
manifest = json.load(open(sys.argv[1]))["packages"]
report = {p["code"].upper(): p for p in json.load(open(sys.argv[2]))["verify"]}
broken = {}
for spec in sys.argv[3:]:
    package, key, how = spec.split(":")
    broken.setdefault(package, {"missing": [], "bad": []})[how].append(key)
installed = ("iTunes64.msi", "AppleSoftwareUpdate.msi", "AppleMobileDeviceSupport64.msi", "Bonjour64.msi",
             "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi")

VERSION_NT = 1000  # Windows 10 as the library counts it

def judged(condition):
    if not condition: return True
    m = re.fullmatch(r"VersionNT\s*>=\s*(\d+)", condition)
    return bool(m) and int(m.group(1)) <= VERSION_NT

problems = []
if len(report) != len(installed): problems.append("%d products checked, expected %d" % (len(report), len(installed)))
for entry in manifest:
    if entry["file"] not in installed: continue
    got = report.get(entry["productCode"].upper())
    if got is None:
        problems.append("%s not checked" % entry["file"]); continue
    if got["package_read"] is not True: problems.append("%s: cached package not read" % entry["file"])
    files = {f["file"]: f["x64WindowsPath"].lower() for f in entry["files"]}
    checked = sum(1 for f in entry["files"] if judged(f["componentCondition"]))
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

# The unix path of a manifest file, as installed on this 64-bit prefix.
installer_file() {
    python3 - "$installer_fx/fixtures.json" "$1" "$2" "$WINEPREFIX/drive_c" <<'PY'
import json, sys
for p in json.load(open(sys.argv[1]))["packages"]:
    if p["file"] != sys.argv[2]: continue
    for f in p["files"]:
        if f["file"] == sys.argv[3]:
            print(sys.argv[4] + "/" + f["x64WindowsPath"][3:].replace("\\", "/"))
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

installer_uninstall() {
    installer_remove_all || return 1
    installer_host products-after.json products || return 1
    python3 - "$app/products-after.json" <<'PY'
import json, sys
left = json.load(open(sys.argv[1]))["products"]
for p in left: print("  still listed: %s %s" % (p["code"], p["name"]))
sys.exit(1 if left else 0)
PY
}

installer_scenarios() {
    installer_fixtures || { echo "FAIL installer: fixture packages"; failures=$((failures + 1)); return; }
    local started version
    started=$(date +%s)
    version="$(wine winecfg -v 2>/dev/null | tr -d '\r')" || true
    wine winecfg -v win10 >/dev/null 2>&1 || true
    scenario "installer: msiexec installs the six family packages and registers them" installer_install
    scenario "installer: products classified 1..6 with the services of their cached packages" installer_products
    scenario "installer: values longer than MAX_PATH read whole" installer_long_values
    scenario "installer: every product's files sound" installer_verify 0
    scenario "installer: verify names exactly the deleted and the truncated file" installer_damaged
    scenario "installer: msiexec /x removes them all" installer_uninstall
    wine winecfg -v "${version:-win7}" >/dev/null 2>&1 || true
    echo "  installer scenarios took $(($(date +%s) - started)) s"
}
installer_scenarios
