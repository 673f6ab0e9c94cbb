# The library's plain exports through export_probe.exe, a program built
# against the public header and the import library only (that it was linked
# at all shows the header matches the DLL's decorated names): the service
# table before and after a product load, one package installed and
# uninstalled, the answers to an unknown product, a missing and a damaged
# package, and the user-data group map after a quick scan of a seeded
# profile. Whatever the scenario installs or seeds is removed at its end.
#
# The package is Bonjour with its service renamed and a second one added, so
# the service table after a load can only show them if the load read them
# from the installed product's package.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"

ex_check="$here/lib/exports.py"
ex_out="$app/exports"
ex_package="$ex_out/probe-bonjour.msi"
ex_services=("Tarnwick Probe Service" "Tarnwick Probe Helper")
# Never installed: the product code of no package.
ex_unknown="{0E3C1A97-5F2B-4D8E-9A61-7C2F0B9D4E35}"
# The drive's state before seeding; kept until the clean-up has run, so a
# run that died half-way is cleaned up by the next one.
ex_snapshot="$WINEPREFIX/.brisalen-exports-snapshot.json"
ex_drive="$WINEPREFIX/drive_c"
ex_code=""  # Bonjour's product code, from the fixtures' manifest

# Runs the probe with the given steps; its standard output (without the CRs)
# in $ex_out/NAME, its exit code the probe's.
ex_probe() {
    local name="$1"; shift
    (cd "$app" && wine 'C:\Tarnwick\export_probe.exe' "$@" 2>"$ex_out/$name.err") | tr -d '\r' >"$ex_out/$name"
}

ex_run() {
    local name="$1" rc=0; shift
    ex_probe "$name" "$@" || rc=$?
    [ "$rc" -eq 0 ] || { echo "  export_probe $*: exit $rc"; sed 's/^/  /' "$ex_out/$name.err"; return 1; }
}

ex_cleanup_user_data() {
    if [ -f "$ex_snapshot" ]; then
        python3 "$here/lib/user_data.py" cleanup "$ex_snapshot" "$ex_drive" && rm -f -- "$ex_snapshot"
    fi
}

# The package, and nothing of it or of the seeding left from a run that died.
ex_prepare() {
    ex_cleanup_user_data || return 1
    rm -rf -- "$ex_out"
    mkdir -p "$ex_out"
    ex_code="$(installer_code_of Bonjour64.msi)"
    [ -n "$ex_code" ] || { echo "  no product code for Bonjour64.msi"; return 1; }
    installer_remove Bonjour64.msi "$ex_code" x64 || return 1
    cp "$installer_fx/Bonjour64.msi" "$ex_package" || return 1
    msibuild "$ex_package" -q "UPDATE ServiceInstall SET Name = '${ex_services[0]}' WHERE ServiceInstall = 'BonjourService'" \
        -q "UPDATE ServiceControl SET Name = '${ex_services[0]}' WHERE ServiceControl = 'BonjourService'" \
        -q "INSERT INTO ServiceInstall (ServiceInstall, Name, DisplayName, ServiceType, StartType, ErrorControl, Component_) VALUES ('ProbeHelper', '${ex_services[1]}', '${ex_services[1]}', 16, 3, 1, 'mDNSResponder.exe')" \
        -q "INSERT INTO ServiceControl (ServiceControl, Name, Event, Wait, Component_) VALUES ('ProbeHelper', '${ex_services[1]}', 162, 1, 'mDNSResponder.exe')" \
        || return 1
    printf 'not a package, only a few bytes\n' >"$ex_out/damaged.msi"
}

# One process: the table before any load, then install, the two lists and
# the table again, which now holds the installed package's two services for
# Bonjour and the initial names for the types with nothing installed.
ex_install() {
    ex_run install.txt services install 'C:\Tarnwick\exports\probe-bonjour.msi' list services || return 1
    local failed=0
    python3 "$ex_check" steps "$ex_out/install.txt" 0:services 1:outcome:true:0 "2:listed:$ex_code:4" \
        "3:services:4=${ex_services[0]}|${ex_services[1]}" || failed=1
    installer_registered "$ex_code" x64 || { echo "  Bonjour is not registered"; failed=1; }
    [ -d "$ex_drive/Program Files/Bonjour" ] || { echo "  C:\\Program Files\\Bonjour was not laid out"; failed=1; }
    ex_services_are present || failed=1
    return "$failed"
}

# The package's services as the Service Control Manager knows them: each
# one there (present) or none of them (absent).
ex_services_are() {
    local want="$1"
    installer_host exports-services.json services "${ex_services[@]}" || true
    python3 - "$app/exports-services.json" "$want" <<'PY'
import json, sys
services = json.load(open(sys.argv[1]))["services"]
there = {name: s["state"] for name, s in services.items() if not s["state"].startswith("OPEN_ERR")}
want_there = sys.argv[2] == "present"
wrong = sorted(name for name in services if (name in there) != want_there)
for name in wrong: print("  service %s: %s" % (name, services[name]["state"]))
sys.exit(1 if wrong or not services else 0)
PY
}

# Uninstall answers true and 0, and the product is gone from both lists,
# from the disk and from the services.
ex_uninstall() {
    local failed=0
    ex_run uninstall.txt uninstall 4 "$ex_code" list || return 1
    python3 "$ex_check" steps "$ex_out/uninstall.txt" 0:outcome:true:0 "1:listed:$ex_code:absent" || failed=1
    [ ! -e "$ex_drive/Program Files/Bonjour" ] || { echo "  C:\\Program Files\\Bonjour is still there"; failed=1; }
    ex_services_are absent || failed=1
    return "$failed"
}

# Windows Installer's own refusals come back unchanged: the uninstall of a
# code nobody installed is 1605 and still counts as done (no registration
# remains); a missing and a damaged package answer false with the code the
# installer gave. Windows says 1619 and 1620 for those two, Wine's msi.dll
# 2 and 1627; msiexec, which exits with the installer's code (cut to its
# low byte by the exit status), must have been told the same.
ex_refusals() {
    ex_run refusals.txt uninstall 4 "$ex_unknown" install 'C:\Tarnwick\exports\missing.msi' \
        install 'C:\Tarnwick\exports\damaged.msi' || return 1
    local failed=0
    python3 "$ex_check" steps "$ex_out/refusals.txt" 0:outcome:true:1605 1:outcome:false:1619,2 \
        2:outcome:false:1620,1627 || failed=1
    local step package err rc
    for step in 1:missing 2:damaged; do
        package="${step#*:}"
        err="$(awk -F= '$1 == "install.err" {print $2}' "$ex_out/refusals.txt" | sed -n "${step%%:*}p")"
        rc=0
        wine msiexec /i "C:\\Tarnwick\\exports\\$package.msi" /qn </dev/null >/dev/null 2>&1 || rc=$?
        [ "$((err % 256))" -eq "$rc" ] || { echo "  $package: the library reported $err, msiexec exited $rc"; failed=1; }
    done
    return "$failed"
}

ex_verifyinfo() {
    ex_run verifyinfo.txt verifyinfo || return 1
    python3 "$ex_check" steps "$ex_out/verifyinfo.txt" 0:verifyinfo
}

# The group map after a quick scan, before and after seeding: the seeded
# files and bytes per category and per group, and the registered folders.
ex_groups() {
    python3 "$here/lib/user_data.py" listing "$ex_drive" "$ex_snapshot" || return 1
    ex_run groups-before.txt groups || return 1
    local rc=0
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' machine seed-user-data --seed 97 \
        --manifest 'C:\Tarnwick\exports\manifest.json' >"$ex_out/seed.txt" 2>&1) || rc=$?
    [ "$rc" -eq 0 ] && [ -s "$ex_out/manifest.json" ] || { echo "  seed-user-data exit $rc"; sed 's/^/  /' "$ex_out/seed.txt"; return 1; }
    ex_run groups-after.txt groups || return 1
    python3 "$ex_check" groups "$ex_out/groups-after.txt" "$ex_out/groups-before.txt" "$ex_out/manifest.json"
}

exports_scenarios() {
    local started
    started=$(date +%s)
    if ! installer_fixtures || ! ex_prepare; then
        echo "FAIL [$label] exports: preparing the package and the prefix"; failures=$((failures + 1))
        return
    fi
    scenario "exports: install through the header, both lists show it, the load replaces the services" ex_install
    local failed_before="$failures"
    scenario "exports: uninstall through the header removes it from both lists, the disk and the services" ex_uninstall
    if [ "$failures" -ne "$failed_before" ]; then
        installer_remove Bonjour64.msi "$ex_code" x64 >/dev/null 2>&1 || true
    fi
    scenario "exports: an unknown product, a missing and a damaged package answer with the installer's codes" \
        ex_refusals
    scenario "exports: SaveProductVerifyInfo answers true and writes nothing" ex_verifyinfo
    scenario "exports: the group map of a quick scan counts what was seeded" ex_groups
    ex_cleanup_user_data || echo "  exports: the seeded user data could not be removed"
    echo "  export scenarios took $(($(date +%s) - started)) s"
}
exports_scenarios
