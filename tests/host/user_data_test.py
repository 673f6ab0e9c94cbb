#!/usr/bin/env python3
"""brisalen scan and delete on a seeded simulated machine: the quick and
the deep scan report the seeder's expected files and bytes per category
and find the backups each pass should find; hostile deletion arguments are
refused without touching a file; deleting the music category and the quick
backup removes exactly the files below those folders, reports the bytes it
removed, and leaves the library file holding only the entries whose file is
still there (the previous file kept as .bak); deleting category 20, which
is never deleted, removes nothing; a folder behind a link and a refused
backup are reported as left, not as success.

usage: user_data_test.py BRISALEN
"""
import json
import os
import plistlib
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e", "lib"))
import nocase_path  # noqa: E402
from host_calls import check, problems, run, run_json  # noqa: E402


# The library's own folder on the simulated machine (log, scan settings):
# it changes with every run and is no user data.
OWN_FOLDER = os.path.join("C", "Tarnwick")
MUSIC_FOLDERS = ("\\iTunes\\iTunes Media\\Music", "\\iTunes\\iTunes Media\\Apple Music")


def host_path(machine, windows_path):
    """The machine folder's file for a Windows path, names matched without regard to case."""
    return nocase_path.below(os.path.join(machine, "drives", windows_path[0].upper()), windows_path)


def listing(machine):
    """Every file on the machine's drives: lower-cased relative path -> (size, modification time)."""
    drives = os.path.join(machine, "drives")
    files = {}
    for dirpath, dirnames, filenames in os.walk(drives):
        rel_dir = os.path.relpath(dirpath, drives)
        if rel_dir == OWN_FOLDER:
            dirnames[:] = []
            continue
        for name in filenames:
            info = os.lstat(os.path.join(dirpath, name))
            files[os.path.normpath(os.path.join(rel_dir, name)).lower()] = (info.st_size, info.st_mtime_ns)
    return files


def relative(machine, windows_path):
    return os.path.relpath(host_path(machine, windows_path), os.path.join(machine, "drives")).lower()


def scan_categories(scan):
    return {c["category"]: (c["files"], c["bytes"]) for g in scan.get("groups", []) for c in g["categories"]}


def check_scan(scan, manifest, deep):
    label = "deep scan" if deep else "quick scan"
    check(scan.get("deep") is deep and scan.get("cancelled") is False, "%s flags: %r" % (label, scan))
    got = scan_categories(scan)
    want = {c["code"]: (c["count"], c["size"]) for c in manifest["categories"]}
    if deep:
        want[12] = (0, manifest["deep_scan"]["category_12_size"])
    check(sorted(got) == list(range(1, 21)), "%s reported categories %r" % (label, sorted(got)))
    for code, expected in sorted(want.items()):
        check(got.get(code) == expected, "%s category %d: %r, expected %r" % (label, code, got.get(code), expected))
    groups = {g["group"]: (g["files"], g["bytes"]) for g in scan.get("groups", [])}
    want_groups = {g["code"]: (g["count"], g["size"]) for g in manifest["groups"]}
    if deep:
        want_groups[2] = (0, manifest["deep_scan"]["group_2_size"])
    check(groups == want_groups, "%s groups %r, expected %r" % (label, groups, want_groups))
    expected_backups = [b for b in manifest["backups"] if deep or b["found_by"] == "quick"]
    found = {b["device_id"]: b for b in scan.get("backups", [])}
    check(len(scan.get("backups", [])) == len(expected_backups),
          "%s found %d backups, expected %d" % (label, len(scan.get("backups", [])), len(expected_backups)))
    for want_backup in expected_backups:
        got_backup = found.get(want_backup["device_id"])
        if got_backup is None:
            problems.append("%s: the %s backup %s not found" % (label, want_backup["found_by"], want_backup["path"]))
            continue
        check((got_backup["path"], got_backup["device_name"], got_backup["ios_version"], got_backup["size"],
               got_backup["date_seconds"]) ==
              (want_backup["path"].lower(), want_backup["device_name"], want_backup["version"], want_backup["size"],
               want_backup["date_unix"]), "%s: backup read as %r" % (label, got_backup))
    return {b["device_id"]: b["id"] for b in scan.get("backups", [])}


def check_table(text, manifest, backup_ids):
    """The text form: a line per category with its file count, a line per backup and the total."""
    rows = {int(m.group(1)): int(m.group(2)) for m in re.finditer(r"^\s+(\d+) .+?\s+(\d+)\s+\S+ \S+$", text, re.M)}
    want = {c["code"]: c["count"] for c in manifest["categories"]}
    check(rows == want, "scan table rows %r, expected %r" % (rows, want))
    for name in ("Media", "Backups", "Updates", "Junk", "Library"):
        check(re.search(r"^%s\s+\d+" % name, text, re.M) is not None, "scan table lacks the %s group" % name)
    for backup in manifest["backups"]:
        if backup["found_by"] == "quick":
            check("backup %d: %s," % (backup_ids.get(backup["device_id"], -1), backup["device_name"]) in text and
                  backup["path"].lower() in text, "scan table lacks the quick backup")
    total = re.search(r"^total: (\d+) files", text, re.M)
    check(total is not None and int(total.group(1)) == sum(want.values()), "scan table total: %r" %
          (total and total.group(0)))


def check_refusals(host, machine, manifest):
    """Arguments that must be refused before anything is deleted."""
    before = listing(machine)
    profile = manifest["folders"]["my_music"].rsplit("\\", 1)[0]
    deep_backup = next(b["path"] for b in manifest["backups"] if b["found_by"] == "deep")
    hostile = [["--backup", "C:\\Windows"], ["--backup", "C:\\"], ["--backup", "C:"], ["--backup", ".."],
               ["--backup", "..."], ["--backup", manifest["folders"]["my_music"]], ["--backup", profile],
               # The folder that holds a backup is no backup itself.
               ["--backup", deep_backup.rsplit("\\", 1)[0]], ["--backup", deep_backup + "\\.."],
               ["--backup", "C:\\Windows\\..\\..\\.."], ["--backup", deep_backup + "\\..\\..\\Windows"],
               # One good and one hostile name: nothing at all is deleted.
               ["--category", "1", "--backup", "C:\\Windows"],
               ["--category", "0"], ["--category", "21"], ["--category", "abc"], ["--category", "-1"], []]
    for args in hostile:
        answer = run(host, machine, "delete", *args)
        check(answer.returncode == 2, "delete %s: exit %d, expected 2 (%s)" % (args, answer.returncode,
                                                                             answer.stderr.strip()[:200]))
        after = listing(machine)
        if after != before:
            changed = sorted(set(before.items()) ^ set(after.items()))[:5]
            problems.append("delete %s changed files: %r" % (args, changed))
            before = after


def check_library(machine, manifest):
    library = manifest["library"]
    with open(host_path(machine, library["path"]), "rb") as f:
        kept = sorted(t["Location"] for t in plistlib.load(f)["Tracks"].values())
    want = sorted(e["location"] for e in library["entries"] if e["remains_after_music_delete"])
    check(kept == want, "library after the deletion: %d entries, expected %d; extra %r, missing %r" %
          (len(kept), len(want), sorted(set(kept) - set(want))[:3], sorted(set(want) - set(kept))[:3]))
    backup = host_path(machine, library["path"] + ".bak")
    if not os.path.isfile(backup):
        problems.append("no %s.bak after the library was rewritten" % library["path"])
        return
    with open(backup, "rb") as f:
        previous = sorted(t["Location"] for t in plistlib.load(f)["Tracks"].values())
    check(previous == sorted(e["location"] for e in library["entries"]), "the .bak is not the seeded library")


def check_deletion(host, machine, manifest):
    quick = next(b for b in manifest["backups"] if b["found_by"] == "quick")
    before = listing(machine)
    answer, report = run_json(host, machine, "delete", "--category", "1", "--backup", quick["path"])
    report = report.get("delete", {})
    after = listing(machine)
    check(answer.returncode == 0, "delete music and backup: exit %d: %s" % (answer.returncode, answer.stderr.strip()))
    music_count, music_bytes = next((c["count"], c["size"]) for c in manifest["categories"] if c["code"] == 1)
    check(report.get("deleted_bytes") == report.get("total_bytes") == music_bytes + quick["size"],
          "deleted %r of %r bytes, expected %d" % (report.get("deleted_bytes"), report.get("total_bytes"),
                                                   music_bytes + quick["size"]))
    check(report.get("success") is True and report.get("residual") == [], "deletion report %r" % report)

    music = [relative(machine, manifest["folders"]["my_music"] + f) + os.sep for f in MUSIC_FOLDERS]
    folders = music + [relative(machine, quick["path"]) + os.sep]
    inside = {p for p in before if any(p.startswith(f) for f in folders)}
    in_music = [p for p in inside if any(p.startswith(f) for f in music)]
    check(len(in_music) == music_count, "%d files in the music folders, expected %d" % (len(in_music), music_count))
    check(sum(before[p][0] for p in inside) == music_bytes + quick["size"], "bytes below the deleted folders")
    removed = set(before) - set(after)
    check(removed == inside, "removed outside the folders: %r; left inside: %r" %
          (sorted(removed - inside)[:5], sorted(inside - removed)[:5]))
    for folder in folders:
        check(not os.path.exists(os.path.join(machine, "drives", folder)), "%s is still there" % folder)
    # The library file is rewritten and its previous form kept beside it.
    library = relative(machine, manifest["library"]["path"])
    added = set(after) - set(before)
    check(added == {library + ".bak"}, "files added by the deletion: %r" % sorted(added))
    changed = {p for p in set(before) & set(after) if before[p] != after[p]}
    check(changed == {library}, "files changed by the deletion: %r" % sorted(changed))
    check_library(machine, manifest)

    # Category 20 is counted but never deleted.
    before = listing(machine)
    answer, report = run_json(host, machine, "delete", "--category", "20")
    report = report.get("delete", {})
    check(answer.returncode == 0 and report.get("deleted_bytes") == 0 and report.get("success") is True,
          "delete category 20: exit %d, %r" % (answer.returncode, report))
    check(listing(machine) == before, "delete category 20 changed files")

    # A backup outside the iTunes folders, named without --deep: the command
    # looks for it with a deep scan before it gives up.
    # Named in another spelling of the same folder, as Windows resolves it.
    deep = next(b for b in manifest["backups"] if b["found_by"] == "deep")
    parent, name = deep["path"].rsplit("\\", 1)
    spelled = parent.replace("\\", "/").upper() + "/nowhere/../" + name.upper() + "/"
    answer, report = run_json(host, machine, "delete", "--backup", spelled)
    report = report.get("delete", {})
    check(answer.returncode == 0 and report.get("deleted_bytes") == deep["size"],
          "delete the deep backup: exit %d, %r" % (answer.returncode, report))
    removed = set(before) - set(listing(machine))
    gone = relative(machine, deep["path"]) + os.sep
    check(removed and all(p.startswith(gone) for p in removed), "removed beside the deep backup: %r" %
          sorted(p for p in removed if not p.startswith(gone))[:5])
    check(not os.path.exists(os.path.join(machine, "drives", gone)), "the deep backup is still there")


def check_links_kept_out(host, scratch):
    """Links inside the deleted folders lead to the user's documents and the
    Windows folder: the deletion removes the links and leaves their targets."""
    machine = os.path.join(scratch, "linked")
    subprocess.run([host, "--machine", machine, "info"], capture_output=True, check=True, timeout=60)
    manifest_file = os.path.join(scratch, "linked.json")
    run(host, machine, "machine", "seed-user-data", "--seed", "12", "--files", "40", "--manifest", manifest_file)
    manifest = json.load(open(manifest_file, encoding="utf-8"))
    quick = next(b for b in manifest["backups"] if b["found_by"] == "quick")
    profile = manifest["folders"]["my_music"].rsplit("\\", 1)[0]
    targets = [host_path(machine, profile) + "/Documents", os.path.join(machine, "drives", "C", "Windows")]
    kept = []
    for target in targets:
        os.makedirs(target, exist_ok=True)
        kept.append(os.path.join(target, "keep.txt"))
        with open(kept[-1], "w") as f:
            f.write("not user data")
    links = [host_path(machine, manifest["folders"]["my_music"] + MUSIC_FOLDERS[0]) + "/escape",
             host_path(machine, quick["path"]) + "/zz"]
    for link, target in zip(links, targets):
        os.symlink(target, link)
    answer = run(host, machine, "delete", "--category", "1", "--backup", quick["path"])
    check(answer.returncode in (0, 1), "delete with links: exit %d: %s" % (answer.returncode, answer.stderr.strip()))
    for path in kept:
        check(os.path.isfile(path), "a link's target lost %s" % path)
    for link in links:
        check(not os.path.lexists(link), "the link %s is still there" % link)


def check_left_overs_reported(host, scratch):
    """A media folder moved elsewhere and reached through a link, and a
    backup planted in the Windows folder: the moved media goes to exactly
    what the scan counted, the link stays, the guard's refusal stands and
    its verdict says what was left instead of success."""
    machine = os.path.join(scratch, "left")
    subprocess.run([host, "--machine", machine, "info"], capture_output=True, check=True, timeout=60)
    manifest_file = os.path.join(scratch, "left.json")
    run(host, machine, "machine", "seed-user-data", "--seed", "13", "--files", "40", "--manifest", manifest_file)
    manifest = json.load(open(manifest_file, encoding="utf-8"))
    media = host_path(machine, manifest["folders"]["my_music"] + "\\iTunes\\iTunes Media")
    shared = os.path.join(machine, "drives", "C", "Shared")
    os.rename(media, shared)
    os.symlink(shared, media)
    before = listing(machine)
    answer = run(host, machine, "delete", "--category", "1")
    check(answer.returncode == 0 and ": success" in answer.stdout,
          "delete music moved behind a link: exit %d: %r" % (answer.returncode, answer.stdout[-300:]))
    deleted = re.search(r"deleted (\S+ \w+) of (\S+ \w+)", answer.stdout)
    check(deleted is not None and deleted.group(1) == deleted.group(2),
          "moved music not deleted to its total: %r" % answer.stdout[-300:])
    library = relative(machine, manifest["library"]["path"])
    after = listing(machine)
    gone = sorted(p for p in set(before) - set(after) if not p.startswith(library))
    check(gone and all(p.startswith("c/shared/music/") or p.startswith("c/shared/apple music/") for p in gone),
          "delete music moved behind a link removed %r" % gone[:5])
    check(os.path.islink(media) and not os.path.exists(os.path.join(shared, "Music")),
          "the moved music folder or its link is not as it should be")

    planted = "C:\\Windows\\Fonts\\3d0d7e5fb2ce288813306e4d4636395e047a3d28"
    folder = host_path(machine, planted)
    for i in range(10):
        os.makedirs(os.path.join(folder, "%02d" % i), exist_ok=True)
        with open(os.path.join(folder, "%02d" % i, "f"), "w") as f:
            f.write("x" * 10)
    with open(os.path.join(folder, "Manifest.db"), "w") as f:
        f.write("x" * 50)
    answer, report = run_json(host, machine, "delete", "--backup", planted)
    report = report.get("delete", {})
    check(answer.returncode == 1 and report.get("success") is False and report.get("deleted_bytes") == 0 and
          report.get("residual") == [planted.lower() + "\\"],
          "delete a backup the guard refuses: exit %d, %r" % (answer.returncode, report))
    check(os.path.isfile(os.path.join(folder, "Manifest.db")), "the refused backup lost its files")


def main():
    host = sys.argv[1]
    with tempfile.TemporaryDirectory() as scratch:
        machine = os.path.join(scratch, "machine")
        subprocess.run([host, "--machine", machine, "info"], capture_output=True, check=True, timeout=60)
        manifest_file = os.path.join(scratch, "manifest.json")
        seeded = run(host, machine, "machine", "seed-user-data", "--seed", "11", "--manifest", manifest_file)
        if seeded.returncode != 0:
            print("seed-user-data: exit %d: %s" % (seeded.returncode, seeded.stderr.strip()))
            return 1
        manifest = json.load(open(manifest_file, encoding="utf-8"))

        answer, quick = run_json(host, machine, "scan")
        check(answer.returncode == 0, "scan: exit %d: %s" % (answer.returncode, answer.stderr.strip()))
        backup_ids = check_scan(quick.get("scan", {}), manifest, deep=False)
        answer, deep = run_json(host, machine, "scan", "--deep")
        check(answer.returncode == 0, "scan --deep: exit %d: %s" % (answer.returncode, answer.stderr.strip()))
        check_scan(deep.get("scan", {}), manifest, deep=True)
        text = run(host, machine, "scan")
        check(text.returncode == 0, "scan (text): exit %d" % text.returncode)
        check_table(text.stdout, manifest, backup_ids)

        check_refusals(host, machine, manifest)
        check_deletion(host, machine, manifest)
        check_links_kept_out(host, scratch)
        check_left_overs_reported(host, scratch)

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
