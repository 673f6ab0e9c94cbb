# Wine builds: i686 x86_64
# iOS device backups on the real file system: generated backups in binary
# and XML property lists are found with their device fields, date and size,
# one of them below a path longer than MAX_PATH, and a folder that only
# looks like a backup is not taken for one. A folder outside the iTunes
# ones is reached by the deep scan, so Z: is set aside meanwhile.
# shellcheck source=SCRIPTDIR/../lib/z_drive.sh
source "$here/lib/z_drive.sh"
backups_found() {
    local root="$WINEPREFIX/drive_c/BackupScan" deep out="$app/backups.json"
    rm -rf "$root"
    # Nine 28-character folders put the last backup's files past 300
    # characters from C:\.
    deep="$root/deep"
    for i in 1 2 3 4 5 6 7 8 9; do deep="$deep/folder-of-the-long-path-$i$i$i"; done
    python3 "$here/../gen/make_user_data.py" backups "$root/near" --count 2 --files-per-backup 30 \
        >/dev/null || return 1
    python3 "$here/../gen/make_user_data.py" --seed 7 backups "$deep" --count 1 \
        --files-per-backup 30 >/dev/null || return 1
    # A manifest and plists but no hashed layout.
    mkdir -p "$root/near/lookalike"
    cp "$root/near/user-data.json" "$root/near/lookalike/Manifest.db"
    z_drive_set_aside
    local rc=0
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' backups 'C:\BackupScan' --json) | tr -d '\r' >"$out" || rc=$?
    z_drive_restore
    [ "$rc" -eq 0 ] || return 1
    python3 - "$out" "$root/near/user-data.json" "$deep/user-data.json" <<'PY'
import datetime, json, sys
found = {b["device_id"]: b for b in json.load(open(sys.argv[1]))["backups"]}
expected = []
for summary in sys.argv[2:]:
    expected += json.load(open(summary))["backups"]
problems = []
if len(found) != len(expected):
    problems.append("found %d backups, expected %d: %s" % (len(found), len(expected), sorted(found)))
for want in expected:
    got = found.get(want["device_id"])
    if got is None:
        problems.append("missing %s (%s)" % (want["device_id"], want["path"])); continue
    day = datetime.datetime.fromtimestamp(want["date_unix"], datetime.timezone.utc).strftime("%Y-%m-%d")
    for key, value in (("device_name", want["device_name"]), ("ios_version", want["version"]),
                       ("date", day), ("date_seconds", want["date_unix"]), ("size", want["size"])):
        if got[key] != value:
            problems.append("%s: %s is %r, expected %r" % (want["device_id"], key, got[key], value))
    if len(got["path"]) <= 260 and "long-path" in want["path"]:
        problems.append("the deep backup's path is only %d characters" % len(got["path"]))
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
PY
}
scenario "backups: binary, XML and a long-path backup found with device, date and size" backups_found
