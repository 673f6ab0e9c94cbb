#!/usr/bin/env python3
"""Checks of the user-data scenario on a Wine prefix's drive C.

usage: user_data.py listing DRIVE_C OUT
       user_data.py scan SCAN BASELINE MANIFEST quick|deep
       user_data.py deletion BEFORE AFTER REPORT MANIFEST DRIVE_C
       user_data.py unchanged BEFORE AFTER
       user_data.py library MANIFEST DRIVE_C
       user_data.py cleanup SNAPSHOT DRIVE_C

A listing holds every file and folder of drive C but the Windows folder and
the host's own folder (its log and scan settings change with every run),
keyed by the lower-cased path relative to drive C. The scan checks take the
scan made before seeding as the baseline, so whatever the prefix holds
already (other scenarios' backups, for one) is counted on both sides.
"""
import json
import os
import plistlib
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import nocase_path  # noqa: E402

SKIPPED = {"windows", "tarnwick"}
MUSIC_FOLDERS = ("\\iTunes\\iTunes Media\\Music", "\\iTunes\\iTunes Media\\Apple Music")

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def load(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def unix_path(drive_c, windows_path):
    """The prefix's file for a C: path, names matched without regard to case."""
    return nocase_path.below(drive_c, windows_path)


def relative(drive_c, windows_path):
    return os.path.relpath(unix_path(drive_c, windows_path), drive_c).lower()


def listing(drive_c):
    files, folders = {}, []
    for dirpath, dirnames, filenames in os.walk(drive_c):
        if dirpath == drive_c:
            dirnames[:] = [d for d in dirnames if d.lower() not in SKIPPED]
        rel = os.path.relpath(dirpath, drive_c)
        folders += [os.path.join(rel, d) for d in dirnames]
        for name in filenames:
            info = os.lstat(os.path.join(dirpath, name))
            files[os.path.normpath(os.path.join(rel, name)).lower()] = [info.st_size, info.st_mtime_ns]
    return {"files": files, "folders": sorted(os.path.normpath(f) for f in folders)}


def categories(scan):
    return {c["category"]: (c["files"], c["bytes"]) for g in scan["groups"] for c in g["categories"]}


def seeded_totals(manifest, deep):
    """{category: (files, bytes)} that seeding adds to a quick or a deep scan."""
    seeded = {c["code"]: (c["count"], c["size"]) for c in manifest["categories"]}
    if deep:
        seeded[12] = (0, manifest["deep_scan"]["category_12_size"])
    return seeded


def check_scan(scan, baseline, manifest, kind):
    deep = kind == "deep"
    check(scan["deep"] is deep and scan["cancelled"] is False, "%s scan flags: deep %r, cancelled %r" %
          (kind, scan["deep"], scan["cancelled"]))
    seeded = seeded_totals(manifest, deep)
    before = categories(baseline)
    got = categories(scan)
    for code in range(1, 21):
        base = before.get(code, (0, 0))
        want = (base[0] + seeded[code][0], base[1] + seeded[code][1])
        check(got.get(code) == want, "%s scan, category %d: %r, expected %r (%r before seeding)" %
              (kind, code, got.get(code), want, base))
    # Every backup of the baseline is found again, plus the seeded ones the pass reaches.
    expected = {b["path"].lower(): b for b in baseline["backups"]}
    for b in manifest["backups"]:
        if deep or b["found_by"] == "quick":
            expected[b["path"].lower()] = {"path": b["path"].lower(), "device_name": b["device_name"],
                                           "ios_version": b["version"], "size": b["size"],
                                           "date_seconds": b["date_unix"]}
    found = {b["path"]: b for b in scan["backups"]}
    check(sorted(found) == sorted(expected), "%s scan backups %r, expected %r" % (kind, sorted(found), sorted(expected)))
    for path, want in expected.items():
        got_backup = found.get(path, {})
        for key in ("device_name", "ios_version", "size", "date_seconds"):
            check(got_backup.get(key) == want[key], "%s scan, backup %s: %s %r, expected %r" %
                  (kind, path, key, got_backup.get(key), want[key]))


def check_unchanged(before, after):
    changed = sorted({(p, tuple(v)) for p, v in before["files"].items()} ^
                     {(p, tuple(v)) for p, v in after["files"].items()})
    check(not changed, "files changed: %r" % changed[:5])
    check(before["folders"] == after["folders"], "folders changed")


def check_deletion(before, after, report, manifest, drive_c):
    quick = next(b for b in manifest["backups"] if b["found_by"] == "quick")
    music_count, music_bytes = next((c["count"], c["size"]) for c in manifest["categories"] if c["code"] == 1)
    check(report["deleted_bytes"] == report["total_bytes"] == music_bytes + quick["size"],
          "deleted %r of %r bytes, expected %d" % (report["deleted_bytes"], report["total_bytes"],
                                                   music_bytes + quick["size"]))
    check(report["success"] is True and report["residual"] == [], "report: success %r, residual %r" %
          (report["success"], report["residual"][:5]))
    music = [relative(drive_c, manifest["folders"]["my_music"] + f) + os.sep for f in MUSIC_FOLDERS]
    folders = music + [relative(drive_c, quick["path"]) + os.sep]
    files_before, files_after = before["files"], after["files"]
    inside = {p for p in files_before if any(p.startswith(f) for f in folders)}
    check(sum(1 for p in inside if any(p.startswith(f) for f in music)) == music_count,
          "files in the music folders before the deletion differ from the seeded %d" % music_count)
    check(sum(files_before[p][0] for p in inside) == music_bytes + quick["size"], "bytes below the deleted folders")
    removed = set(files_before) - set(files_after)
    check(removed == inside, "removed outside the chosen folders: %r; left inside: %r" %
          (sorted(removed - inside)[:5], sorted(inside - removed)[:5]))
    for folder in folders:
        check(not os.path.lexists(os.path.join(drive_c, folder)), "%s is still there" % folder)
    library = relative(drive_c, manifest["library"]["path"])
    added = set(files_after) - set(files_before)
    check(added <= {library + ".bak"}, "files added by the deletion: %r" % sorted(added))
    changed = {p for p in set(files_before) & set(files_after) if files_before[p] != files_after[p]}
    check(changed <= {library}, "files changed by the deletion: %r" % sorted(changed))
    gone = [f for f in before["folders"] if f not in after["folders"]]
    check(all(any((f.lower() + os.sep).startswith(d) for d in folders) for f in gone),
          "folders removed outside the chosen ones: %r" % gone[:5])


def check_moved(before, after, report, moved_movies):
    """The media folder moved to another drive behind a link: the scan
    counts what it counted in place, and deleting the movies category
    through the link removes exactly the bytes the scan counted for it."""
    was, now = categories(before), categories(after)
    media = range(1, 12)
    check(all(was.get(c) == now.get(c) for c in media),
          "media categories moved behind a link: %r, in place %r" %
          ({c: now.get(c) for c in media}, {c: was.get(c) for c in media}))
    movies = now.get(2, (0, 0))[1]
    check(movies > 0, "the movies category is empty; the step proves nothing")
    check(report["deleted_bytes"] == report["total_bytes"] == movies,
          "deleted %r of %r bytes, the scan counted %d" % (report["deleted_bytes"], report["total_bytes"], movies))
    check(report["success"] is True, "report: success %r, residual %r" % (report["success"], report["residual"][:5]))
    check(not os.path.lexists(moved_movies), "%s is still there" % moved_movies)


def tracks(path):
    with open(path, "rb") as f:
        return sorted(t["Location"] for t in plistlib.load(f)["Tracks"].values())


def check_library(manifest, drive_c):
    library = manifest["library"]
    kept = tracks(unix_path(drive_c, library["path"]))
    want = sorted(e["location"] for e in library["entries"] if e["remains_after_music_delete"])
    check(kept == want, "library: %d entries, expected %d; extra %r" % (len(kept), len(want),
                                                                         sorted(set(kept) - set(want))[:3]))
    backup = unix_path(drive_c, library["path"] + ".bak")
    if not os.path.isfile(backup):
        problems.append("no .bak beside the rewritten library")
    else:
        check(tracks(backup) == sorted(e["location"] for e in library["entries"]), "the .bak is not the seeded library")


def cleanup(snapshot, drive_c):
    """Removes every file and folder the snapshot did not have; links are removed, never followed."""
    root = os.path.realpath(drive_c)
    now = listing(drive_c)
    kept_files = set(snapshot["files"])
    kept_folders = {f.lower() for f in snapshot["folders"]}
    for dirpath, dirnames, filenames in os.walk(drive_c):
        if dirpath == drive_c:
            dirnames[:] = [d for d in dirnames if d.lower() not in SKIPPED]
        for name in filenames:
            path = os.path.join(dirpath, name)
            if os.path.normpath(os.path.relpath(path, drive_c)).lower() not in kept_files:
                os.remove(path)
    for folder in sorted(now["folders"], key=len, reverse=True):
        path = os.path.join(drive_c, folder)
        if not os.path.lexists(path) or folder.lower() in kept_folders or not os.path.realpath(path).startswith(root + os.sep):
            continue
        if os.path.islink(path):
            os.remove(path)
        else:
            shutil.rmtree(path)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "listing":
        with open(args[1], "w", encoding="utf-8") as f:
            json.dump(listing(args[0]), f)
    elif command == "scan":
        check_scan(load(args[0])["scan"], load(args[1])["scan"], load(args[2]), args[3])
    elif command == "deletion":
        check_deletion(load(args[0]), load(args[1]), load(args[2])["delete"], load(args[3]), args[4])
    elif command == "unix":
        print(unix_path(args[0], args[1]))
    elif command == "moved":
        check_moved(load(args[0])["scan"], load(args[1])["scan"], load(args[2])["delete"], args[3])
    elif command == "unchanged":
        check_unchanged(load(args[0]), load(args[1]))
    elif command == "library":
        check_library(load(args[0]), args[1])
    elif command == "cleanup":
        cleanup(load(args[0]), args[1])
    else:
        sys.exit("unknown command " + command)
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
