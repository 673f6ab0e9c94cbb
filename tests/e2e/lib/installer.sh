# Shared by the Windows Installer scenarios: the fixture packages, msiexec
# installs and removals, the host run with --json, and the Windows version
# the prefix runs as while they last. Sourced by each scenario that needs
# it; it lives outside scenarios/ so it is no test of its own.
# Expects what run-scenario.sh sets: $bin, $app and $here.

# Longer than the first buffer the back end offers msi.dll (MAX_PATH), so
# reading it back whole takes the retry after ERROR_MORE_DATA. Bonjour is
# installed with it as its help link.
installer_long_text="https://brisalen.test/help/$(printf 'h%.0s' $(seq 1 600))"

# iTunes is installed in its 64-bit variant only: iTunes.msi and iTunes64.msi
# are the same product type and would both be classified as it.
installer_packages=(iTunes64.msi AppleSoftwareUpdate.msi AppleMobileDeviceSupport64.msi Bonjour64.msi
                    AppleApplicationSupport.msi AppleApplicationSupport64.msi)

# The build tree's packages: those CTest names in BRISALEN_FIXTURES, which
# must be built (a test builds nothing), or when run by hand those beside
# the bin folder if the fixtures target made them, otherwise a fresh set
# (about two seconds). The six installed ones are copied to
# C:\Tarnwick\packages, which holds nothing else.
# With the argument "services", the family whose packages start their
# services at install (the fixtures' services/ set).
installer_fixtures() {
    local built="${BRISALEN_FIXTURES:-$bin/../fixtures}"
    [ "${1:-}" = services ] && built="$built/services"
    if [ -n "${BRISALEN_FIXTURES:-}" ] && [ ! -f "$built/fixtures.json" ]; then
        echo "  no fixture packages in $built: build the fixtures target"
        return 1
    fi
    if [ -f "$built/fixtures.json" ]; then
        installer_fx="$(cd "$built" && pwd)"
    else
        [ "${1:-}" != services ] || { echo "  no packages that start services in $built"; return 1; }
        installer_fx="$app/fixtures"
        "$here/../../fixtures/build-fixtures.sh" "$installer_fx" >"$app/fixtures.log" || return 1
    fi
    rm -rf "$app/packages"
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

installer_code_of() {
    installer_codes | awk -v p="$1" '$1 == p {print $2}'
}

# Windows Installer files the Uninstall entry of a 32-bit package in the
# 32-bit view of the registry.
installer_registered() {
    local code="$1" arch="$2" view=64
    [ "$arch" = x86 ] && view=32
    wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" /v DisplayName \
        /reg:$view </dev/null >/dev/null 2>&1
}

# One msiexec run, quiet; says its exit code when it fails.
installer_msiexec() {
    local what="$1" rc=0; shift
    wine msiexec "$@" /qn </dev/null >/dev/null 2>&1 && return 0 || rc=$?
    echo "  msiexec $what: exit $rc"
    return 1
}

# Wine's msiexec has exited 1 in a loaded CI run at a step that passes
# otherwise. Installing and removing the fixtures is set-up, not what these
# scenarios test, so a failed run is said and, when the product is still
# (or not yet) registered, tried once more.
installer_remove() {
    local name="$1" code="$2" arch="$3"
    installer_registered "$code" "$arch" || return 0
    if ! installer_msiexec "/x $name" /x "$code" && installer_registered "$code" "$arch"; then
        sleep 2
        installer_msiexec "/x $name (once more)" /x "$code" || return 1
    fi
    if installer_registered "$code" "$arch"; then echo "  $name still registered"; return 1; fi
}

installer_remove_all() {
    local name code arch
    while read -r name code arch; do
        installer_remove "$name" "$code" "$arch" || return 1
    done < <(installer_codes)
}

# Runs the host with --json into $app/OUT; its exit code is the host's.
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
        if ! installer_msiexec "/i $name" /i "C:\\Tarnwick\\packages\\$name" "${extra[@]}" &&
            ! installer_registered "$code" "$arch"; then
            sleep 2
            installer_msiexec "/i $name (once more)" /i "C:\\Tarnwick\\packages\\$name" "${extra[@]}" || return 1
        fi
        installer_registered "$code" "$arch" || { echo "  $name installed but not registered"; return 1; }
    done < <(installer_codes)
}

# Removes all six and makes sure the host lists none of them any more.
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

# Windows version: the prefix runs as Windows 10 while the products are
# installed and is put back to what it was afterwards. msiexec then installs
# the components conditioned on VersionNT>=602 and leaves out the
# VersionNT<602 ones; the library's check, which skips components that need
# a newer Windows than it sees, has those files to look at too. Under Wine's
# default Windows 7 both sides would leave them out and the newer-Windows
# branch would go untested. The library takes the true version from ntdll,
# 10.0, which it counts as VersionNT 1000 (its log says so); both sides agree
# on every VersionNT>= condition here.
installer_windows10() {
    # Written once and removed only by the restore, so a run cut short
    # between the two does not take Windows 10 for the version to go back to.
    local saved="$WINEPREFIX/brisalen-windows-version" before
    before="$(wine winecfg -v 2>/dev/null | tr -d '\r')"
    [ -s "$saved" ] || printf '%s\n' "$before" >"$saved" || true
    wine winecfg -v win10 >/dev/null 2>&1 || true
    # A host that is running read the version when it started.
    [ "$before" = win10 ] || host_restart
}

installer_restore_windows() {
    local saved="$WINEPREFIX/brisalen-windows-version" version=""
    [ -s "$saved" ] && version="$(cat "$saved")"
    wine winecfg -v "${version:-win7}" >/dev/null 2>&1 || true
    rm -f "$saved"
    # A session host still takes Windows for 10; the next scenario's hosts,
    # started afresh, would see the version it goes back to.
    [ "${version:-win7}" = win10 ] || host_restart
}
