# An install location that leads out of the product's own folder: the
# family goes in with msiexec, Bonjour's InstallLocation is bent where
# Windows Installer keeps it, one Bonjour file is deleted, and repair-bad
# uninstalls and reinstalls Bonjour, which deletes its install folder on the
# way. Nothing outside Bonjour's own files may go: sentinel files in the
# Windows folder, System32, another product's folder, ProgramData and the
# root of C:, the other products' files, and every other file that was on C:
# before the repair (logs, temporary files and the Installer's package cache
# aside, which the repair itself renews).
#
# A library that follows the bent path deletes most of C:. Only C: is ever
# named, C: is the prefix's own drive_c, and wine_env has made C:'s links to
# the home folder into plain folders, so the damage stays in the prefix; the
# prefix is then marked, and the next scenario's wine_env makes it anew.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"

escaping_sentinels=('C:\brisalen-sentinel.txt' 'C:\windows\brisalen-sentinel.txt'
                    'C:\windows\system32\brisalen-sentinel.txt' 'C:\Program Files\iTunes\brisalen-sentinel.txt'
                    'C:\ProgramData\brisalen-sentinel.txt')

# The unix path of a C: path of the prefix.
escaping_unix() {
    local rest="${1:3}"
    printf '%s/drive_c/%s\n' "$WINEPREFIX" "${rest//\\//}"
}

# Windows Installer's key of a product: its code with each of the first
# three groups reversed and each byte of the last two swapped.
escaping_properties_key() {
    local packed
    packed="$(python3 - "$1" <<'PY'
import sys
g = sys.argv[1].strip("{}").split("-")
swap = lambda s: "".join(s[i + 1] + s[i] for i in range(0, len(s), 2))
print(g[0][::-1] + g[1][::-1] + g[2][::-1] + swap(g[3]) + swap(g[4]))
PY
)"
    printf 'HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\%s\\InstallProperties' \
        "$packed"
}

# Every file on C: with its unix path, less the places the repair renews.
escaping_snapshot() {
    python3 - "$WINEPREFIX/drive_c" "$1" <<'PY'
import os, sys
root = sys.argv[1]
renewed = ("tarnwick/", "windows/installer/", "windows/temp/", "windows/logs/", "users/")
with open(sys.argv[2], "w") as out:
    for folder, dirs, files in os.walk(root):
        for name in files:
            rel = os.path.relpath(os.path.join(folder, name), root)
            if not rel.lower().startswith(renewed): out.write(rel + "\n")
PY
}

escaping_prepare() {
    # C: must be the prefix's own folder, with no link out of it, before
    # anything is aimed at it.
    [ "$(readlink "$WINEPREFIX/dosdevices/c:")" = ../drive_c ] || { echo "  C: is not the prefix's drive_c"; return 1; }
    local link outside=0 prefix
    prefix="$(realpath -m -- "$WINEPREFIX")"
    while IFS= read -r -d '' link; do
        case "$(realpath -m -- "$link")" in
            "$prefix"/*) ;;
            *) echo "  $link leads out of the prefix"; outside=1 ;;
        esac
    done < <(find "$WINEPREFIX/drive_c" -type l -print0)
    [ "$outside" = 0 ] || return 1
    installer_windows10
    installer_install || return 1
    local sentinel
    for sentinel in "${escaping_sentinels[@]}"; do
        echo "must survive" >"$(escaping_unix "$sentinel")" || return 1
    done
}

# Bends Bonjour's InstallLocation to BENT, makes sure the library sees it,
# damages Bonjour and runs repair-bad; then looks at what is left on C:.
escaping_repair() {
    local bent="$1"
    case "$bent" in
        [Cc]:\\*) ;;
        *) echo "  $bent is not on C:"; return 1 ;;
    esac
    local code key gone
    code="$(installer_code_of Bonjour64.msi)"
    key="$(escaping_properties_key "$code")"
    wine reg query "$key" /v InstallLocation /reg:64 </dev/null >/dev/null 2>&1 ||
        { echo "  no InstallLocation under $key"; return 1; }
    wine reg add "$key" /v InstallLocation /t REG_SZ /d "$bent" /f /reg:64 </dev/null >/dev/null 2>&1 || return 1
    installer_host products.json products || return 1
    python3 - "$app/products.json" "$code" "$bent" <<'PY' || return 1
import json, sys
listed = {p["code"].upper(): p for p in json.load(open(sys.argv[1]))["products"]}
got = listed.get(sys.argv[2].upper(), {}).get("install_location")
if got != sys.argv[3]: print("  the library reads the install location as %r, not the bent %r" % (got, sys.argv[3])); sys.exit(1)
PY
    gone="$(installer_file Bonjour64.msi mdnsNSP.dll)"
    [ -f "$gone" ] || { echo "  $gone not installed"; return 1; }
    rm -f "$gone"

    escaping_snapshot "$WINEPREFIX/brisalen-before.txt"
    local rc=0
    (cd "$app" && timeout 600 wine 'C:\Tarnwick\brisalen.exe' repair-bad --json) </dev/null >/dev/null 2>&1 || rc=$?
    local problems=0
    python3 - "$WINEPREFIX" "$here/lib" "$installer_fx/fixtures.json" "$WINEPREFIX/brisalen-before.txt" \
        "$rc" "${escaping_sentinels[@]}" <<'PY' || problems=1
import os, sys
prefix, lib, manifest_path, before_path, rc = sys.argv[1:6]
sentinels = sys.argv[6:]
sys.path.insert(0, lib)
from manifest import judged, packages
drive = os.path.join(prefix, "drive_c")
def unix(windows_path):
    return os.path.join(drive, windows_path[3:].replace("\\", "/"))
manifest = packages(manifest_path)
own = {f["x64WindowsPath"].lower() for f in manifest["Bonjour64.msi"]["files"]}
own_folder = manifest["Bonjour64.msi"]["installDirX64Windows"].lower()
def bonjours(rel):
    path = "c:\\" + rel.replace("/", "\\").lower()
    return path in own or path.startswith(own_folder)

problems = []
for s in sentinels:
    if not os.path.isfile(unix(s)): problems.append("sentinel %s deleted" % s)
others = [name for name in manifest if name != "Bonjour64.msi" and name in
          ("iTunes64.msi", "AppleSoftwareUpdate.msi", "AppleMobileDeviceSupport64.msi",
           "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi")]
for name in others:
    lost = [f["x64WindowsPath"] for f in manifest[name]["files"]
            if judged(f["componentCondition"]) and not os.path.isfile(unix(f["x64WindowsPath"]))]
    if lost: problems.append("%s lost %d file(s), e.g. %s" % (name, len(lost), lost[0]))
vanished = [rel for rel in open(before_path).read().splitlines()
            if not bonjours(rel) and not os.path.lexists(os.path.join(drive, rel))]
if vanished:
    problems.append("%d other file(s) on C: deleted, e.g. %s" % (len(vanished), ", ".join(vanished[:3])))
if problems: print("  repair-bad exit %s" % rc)
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
    rm -f "$WINEPREFIX/brisalen-before.txt"
    if [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
        # The prefix is beyond use: wine_env makes it anew next time.
        rm -f "$WINEPREFIX/.brisalen-prefix"
        echo "  the prefix's Windows folder is damaged; it will be made anew"
        escaping_wrecked=1
    fi
    return "$problems"
}

escaping_cleanup() {
    [ "$escaping_wrecked" = 0 ] || return 0
    local sentinel
    for sentinel in "${escaping_sentinels[@]}"; do rm -f "$(escaping_unix "$sentinel")"; done
    installer_uninstall >/dev/null || true
    installer_restore_windows
}

escaping_scenarios() {
    installer_fixtures || { echo "FAIL [$label] escaping install location: fixture packages"; failures=$((failures + 1)); return; }
    local started before prepared=1 bent name
    started=$(date +%s)
    escaping_wrecked=0
    before=$failures
    scenario "escaping install location: C: is the prefix's own, the family installed, sentinels placed" escaping_prepare
    [ "$failures" -eq "$before" ] || prepared=0
    for bent in 'C:\Program Files\Bonjour\..\..\' 'C:\windows\'; do
        name="escaping install location: repair-bad with $bent deletes nothing outside Bonjour"
        if [ "$prepared" = 0 ]; then
            echo "FAIL [$label] $name (not run: nothing prepared)"; failures=$((failures + 1))
        elif [ "$escaping_wrecked" = 1 ]; then
            echo "FAIL [$label] $name (not run: the prefix is wrecked)"; failures=$((failures + 1))
        else
            scenario "$name" escaping_repair "$bent"
        fi
    done
    escaping_cleanup
    echo "  escaping install location scenarios took $(($(date +%s) - started)) s"
}
escaping_scenarios
