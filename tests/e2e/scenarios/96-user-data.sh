# Wine builds: i686 x86_64
# The user-data scan and deletion on the real file system: a profile seeded
# by the host is counted per category by the quick and the deep scan (the
# deep one also finds the backup outside the profile), hostile backup names
# are refused without a file changing, deleting the music category and the
# quick backup removes exactly the files below those folders, and the
# library file loses exactly the entries whose files are gone. Everything
# the scenario seeded is removed again at its end.
#
# All folders come from the manifest the seeder writes, so the i686 and the
# x86_64 build run the same checks. The Z: drive Wine maps to the Linux root
# is set aside while the scenario runs: the deep scan searches every fixed
# drive, and that one would take it through the whole build machine.

# shellcheck source=SCRIPTDIR/../lib/z_drive.sh
source "$here/lib/z_drive.sh"
ud_check="$here/lib/user_data.py"
ud_out="$app/user-data"
ud_drive="$WINEPREFIX/drive_c"
# The drive's state before seeding; kept until the clean-up has run, so a
# run that died half-way is cleaned up by the next one.
ud_snapshot="$WINEPREFIX/.brisalen-user-data-snapshot.json"
ud_manifest="$ud_out/manifest.json"
# The second drive the moved-media step maps as D:.
ud_drive_d="$WINEPREFIX/.brisalen-drive-d"

# Runs the host, its standard output (without the CRs) in $ud_out/NAME.
ud_host() {
    local name="$1"; shift
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' "$@" 2>"$ud_out/$name.err") | tr -d '\r' >"$ud_out/$name"
}

ud_listing() { python3 "$ud_check" listing "$ud_drive" "$ud_out/$1"; }

ud_cleanup() {
    if [ -f "$ud_snapshot" ]; then
        python3 "$ud_check" cleanup "$ud_snapshot" "$ud_drive" && rm -f -- "$ud_snapshot"
    fi
    z_drive_restore
}

# A clean start: what an earlier run left is removed, Z: is set aside, and
# the drive and both scans are recorded as they are before seeding.
ud_prepare() {
    ud_cleanup
    rm -rf -- "$ud_out"
    mkdir -p "$ud_out"
    z_drive_set_aside
    python3 "$ud_check" listing "$ud_drive" "$ud_snapshot" || return 1
    ud_host baseline-quick.json scan --json || { echo "  scan before seeding failed"; return 1; }
    ud_host baseline-deep.json scan --deep --json || { echo "  deep scan before seeding failed"; return 1; }
}

ud_seed() {
    local rc=0
    ud_host seed.txt machine seed-user-data --seed 96 --manifest 'C:\Tarnwick\user-data\manifest.json' || rc=$?
    [ "$rc" -eq 0 ] && [ -s "$ud_manifest" ] || { echo "  seed-user-data exit $rc"; sed 's/^/  /' "$ud_out/seed.txt.err"; return 1; }
}

ud_scan() {
    local kind="$1" rc=0
    if [ "$kind" = deep ]; then ud_host deep.json scan --deep --json || rc=$?
    else ud_host quick.json scan --json || rc=$?; fi
    [ "$rc" -eq 0 ] || { echo "  scan ($kind) exit $rc"; sed 's/^/  /' "$ud_out/$kind.json.err"; return 1; }
    python3 "$ud_check" scan "$ud_out/$kind.json" "$ud_out/baseline-$kind.json" "$ud_manifest" "$kind"
}

# Names that are no backup, folders the deletion guard protects: each ends
# the command with exit 2 and not a file changes. ("..", from C:\Tarnwick,
# is the drive root.) Each costs a quick and a deep scan, so the simulated
# machine's host test takes the longer list.
ud_refusals() {
    local name rc failed=0
    ud_listing refusals-before.json || return 1
    for name in 'C:\Windows' '..'; do
        rc=0
        ud_host refused.json delete --backup "$name" --json || rc=$?
        [ "$rc" -eq 2 ] || { echo "  delete --backup '$name': exit $rc, expected 2"; failed=1; }
        ud_listing refusals-after.json || return 1
        python3 "$ud_check" unchanged "$ud_out/refusals-before.json" "$ud_out/refusals-after.json" ||
            { echo "  ... after delete --backup '$name'"; failed=1; }
    done
    return "$failed"
}

ud_delete() {
    local quick rc=0
    quick="$(python3 -c 'import json,sys; print(next(b["path"] for b in json.load(open(sys.argv[1]))["backups"] if b["found_by"] == "quick"))' "$ud_manifest")"
    ud_listing delete-before.json || return 1
    ud_host delete.json delete --category 1 --backup "$quick" --json || rc=$?
    ud_listing delete-after.json || return 1
    [ "$rc" -eq 0 ] || { echo "  delete exit $rc"; sed 's/^/  /' "$ud_out/delete.json" "$ud_out/delete.json.err"; return 1; }
    python3 "$ud_check" deletion "$ud_out/delete-before.json" "$ud_out/delete-after.json" "$ud_out/delete.json" \
        "$ud_manifest" "$ud_drive"
}

# The iTunes Media folder moved to a second drive and reached through a link
# in its old place (Wine shows a Unix symbolic link as a reparse point of
# unknown tag, which the library takes for a link): the quick scan counts
# what it counted in place, and deleting the movies category through the
# link removes exactly what was counted. The folder is put back after.
ud_moved_media() {
    local media moved rc=0 failed=0
    media="$(python3 "$ud_check" unix "$ud_drive" "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["folders"]["my_music"] + "\\iTunes\\iTunes Media")' "$ud_manifest")")"
    moved="$ud_drive_d/Media"
    ud_host moved-in-place.json scan --json || { echo "  scan in place failed"; return 1; }
    rm -rf -- "$ud_drive_d" && mkdir -p "$ud_drive_d" && ln -sfn "$ud_drive_d" "$WINEPREFIX/dosdevices/d:" &&
        host_restart || { echo "  mapping drive D: failed"; return 1; }
    mv -- "$media" "$moved" && ln -s "$moved" "$media" || { echo "  moving the media folder failed"; return 1; }
    ud_host moved-scan.json scan --json || rc=$?
    [ "$rc" -eq 0 ] || { echo "  scan of the moved media exit $rc"; failed=1; }
    if [ "$failed" -eq 0 ]; then
        ud_host moved-delete.json delete --category 2 --json || rc=$?
        [ "$rc" -eq 0 ] || { echo "  delete of the moved movies exit $rc"; failed=1; }
    fi
    [ "$failed" -eq 0 ] && { python3 "$ud_check" moved "$ud_out/moved-in-place.json" "$ud_out/moved-scan.json" \
        "$ud_out/moved-delete.json" "$moved/Movies" || failed=1; }
    rm -f -- "$media" && mv -- "$moved" "$media"
    rm -f -- "$WINEPREFIX/dosdevices/d:"
    rm -rf -- "$ud_drive_d"
    return "$failed"
}

user_data_scenarios() {
    local started
    started=$(date +%s)
    if ! ud_prepare; then
        echo "FAIL [$label] user data: preparing the prefix"; failures=$((failures + 1))
        ud_cleanup
        return
    fi
    scenario "user data: seed-user-data lays out a profile and writes its manifest" ud_seed
    scenario "user data: the quick scan counts every category and finds the profile's backup" ud_scan quick
    scenario "user data: the deep scan adds the backup outside the profile" ud_scan deep
    scenario "user data: hostile backup names are refused and change nothing" ud_refusals
    scenario "user data: deleting music and a backup removes exactly their files" ud_delete
    scenario "user data: the library file loses exactly the entries of deleted files" \
        python3 "$ud_check" library "$ud_manifest" "$ud_drive"
    scenario "user data: media moved to another drive behind a link scans and deletes to its totals" ud_moved_media
    ud_cleanup
    echo "  user-data scenarios took $(($(date +%s) - started)) s"
}
user_data_scenarios
