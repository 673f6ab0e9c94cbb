#!/usr/bin/env python3
"""brisalen machine seed-user-data on a fresh simulated machine: the
manifest's per-category counts and bytes agree with the files found on the
machine's folder (recounted here), both backups are listed by
`brisalen backups` with the manifest's fields, the library file is an XML
property list whose locations are the manifest's, a second seeding over the
first is refused without writing anything, and the same seed gives the same
manifest while --files scales the layout.

usage: seed_user_data_test.py BRISALEN
"""
import json
import os
import plistlib
import subprocess
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e", "lib"))
import nocase_path  # noqa: E402

problems = []

MEDIA = "\\iTunes\\iTunes Media\\"
# Registered folders per category, in the order the scan tests them.
TABLE = [(1, "M", MEDIA + "Music"), (1, "M", MEDIA + "Apple Music"), (2, "M", MEDIA + "Movies"),
         (3, "M", MEDIA + "Home Videos"), (4, "M", MEDIA + "TV Shows"), (5, "M", MEDIA + "Podcasts"),
         (6, "M", MEDIA + "Audiobooks"), (7, "M", MEDIA + "iTunes U"), (8, "M", MEDIA + "Voice Memos"),
         (9, "M", MEDIA + "Books"), (10, "M", MEDIA + "Tones"), (11, "M", MEDIA + "Downloads"),
         (13, "L", "\\Apple\\Apple Software Update"),
         (14, "A", "\\Apple Computer\\iTunes\\iPhone Software Updates"),
         (14, "A", "\\Apple Computer\\iTunes\\iPad Software Updates"),
         (14, "A", "\\Apple Computer\\iTunes\\iPod Software Updates"), (14, "P", "\\Apple Computer\\iTunes"),
         (15, "M", MEDIA + "Mobile Applications"), (16, "P", "\\Apple\\Installer Cache"),
         (16, "P", "\\Apple Computer\\Installer Cache"), (16, "M", "\\iTunes\\Album Artwork\\Cache"),
         (17, "A", "\\Apple Computer\\iTunes\\Cookies"), (18, "A", "\\Apple Computer\\Logs"),
         (18, "A", "\\Apple Computer\\iTunes\\iPhone Updater Logs"),
         (18, "A", "\\Apple Computer\\iTunes\\iPad Updater Logs"),
         (18, "A", "\\Apple Computer\\iTunes\\iPod Updater Logs"), (20, "M", "\\iTunes"),
         (20, "P", "\\Apple\\Lockdown")]
ROOTS = [("A", "\\Apple Computer"), ("L", "\\Apple"), ("L", "\\Apple Computer"), ("P", "\\Apple"),
         ("P", "\\Apple Computer"), ("M", "\\iTunes")]


def check(condition, message):
    if not condition:
        problems.append(message)


def run(host, machine, *args):
    return subprocess.run([host, "--machine", machine, *args], capture_output=True, text=True, timeout=300)


def host_path(machine, windows_path):
    """The machine folder's file for a Windows path, names matched without regard to case."""
    return nocase_path.below(os.path.join(machine, "drives", windows_path[0].upper()), windows_path)


def is_backup(folder):
    names = os.listdir(folder)
    short = [n for n in names if len(n) == 2 and os.path.isdir(os.path.join(folder, n))]
    return any(n.lower() in ("manifest.db", "manifest.mbdb") for n in names) and len(short) >= 10


def recount(machine, folders):
    """Per category (count, bytes) and the junk paths, from the files on the machine."""
    bases = {"M": folders["my_music"], "A": folders["app_data"], "L": folders["local_app_data"],
             "P": folders["program_data"]}
    registered = [(code, (bases[b] + rest).lower() + "\\") for code, b, rest in TABLE]
    totals = {code: [0, 0] for code in range(1, 21)}
    junk = set()
    for base, rest in ROOTS:
        root = bases[base] + rest
        top = host_path(machine, root)
        for dirpath, dirnames, filenames in os.walk(top):
            dirnames[:] = [d for d in dirnames if not is_backup(os.path.join(dirpath, d))]
            rel = os.path.relpath(dirpath, top)
            windows_dir = root + ("" if rel == "." else "\\" + rel.replace("/", "\\"))
            code = next((c for c, r in registered if r in windows_dir.lower() + "\\"), 19)
            for name in filenames:
                totals[code][0] += 1
                totals[code][1] += os.path.getsize(os.path.join(dirpath, name))
                if code == 19:
                    junk.add((windows_dir + "\\" + name).lower())
    return totals, junk


def seed(host, machine, *args):
    answer = run(host, machine, "machine", "seed-user-data", *args)
    check(answer.returncode == 0, "seed %s: exit %d: %s" % (args, answer.returncode, answer.stderr.strip()))
    return answer


def fresh_machine(scratch, name, host):
    machine = os.path.join(scratch, name)
    subprocess.run([host, "--machine", machine, "info"], capture_output=True, check=True, timeout=60)
    return machine


def check_library(machine, manifest):
    library = manifest["library"]
    with open(host_path(machine, library["path"]), "rb") as f:
        document = plistlib.load(f)
    tracks = document["Tracks"]
    check(all(int(key) == track["Track ID"] for key, track in tracks.items()), "track keys differ from their ids")
    stored = sorted(t["Location"] for t in tracks.values())
    check(stored == sorted(e["location"] for e in library["entries"]), "library locations differ from the manifest")
    kinds = {"remote": 0, "missing": 0, "encoded": 0}
    for entry in library["entries"]:
        location = entry["location"]
        if entry["remote"]:
            kinds["remote"] += 1
            check(location.startswith("http") and entry["remains_after_music_delete"], "remote entry %r" % entry)
            continue
        check(location.startswith("file://localhost/"), "local entry %r" % location)
        path = urllib.parse.unquote(location[len("file://localhost/"):]).replace("/", "\\")
        check(path == entry["path"], "%s decodes to %s, not %s" % (location, path, entry["path"]))
        there = os.path.isfile(host_path(machine, path))
        check(there == entry["exists"], "%s exists: %s, manifest says %s" % (path, there, entry["exists"]))
        in_music = any(path.lower().startswith((manifest["folders"]["my_music"] + MEDIA + sub + "\\").lower())
                       for sub in ("Music", "Apple Music"))
        check(entry["remains_after_music_delete"] == (there and not in_music), "remains of %s" % path)
        kinds["missing"] += not there
        kinds["encoded"] += "%20" in location and "%C3" in location
    check(all(kinds.values()), "library lacks a kind of entry: %r" % kinds)


def main():
    host = sys.argv[1]
    with tempfile.TemporaryDirectory() as scratch:
        machine = fresh_machine(scratch, "one", host)
        manifest_file = os.path.join(scratch, "one.json")
        printed = seed(host, machine, "--seed", "7", "--manifest", manifest_file, "--json")
        manifest = json.load(open(manifest_file, encoding="utf-8"))
        check(json.loads(printed.stdout) == manifest, "--json and --manifest differ")

        totals, junk = recount(machine, manifest["folders"])
        for category in manifest["categories"]:
            code = category["code"]
            if code == 12:
                quick = [b for b in manifest["backups"] if b["found_by"] == "quick"]
                check(category["count"] == 0 and category["size"] == sum(b["size"] for b in quick),
                      "category 12: %r" % category)
                continue
            check(totals[code][0] > 0, "category %d has no files" % code)
            check([category["count"], category["size"]] == totals[code],
                  "category %d: manifest %d files %d bytes, machine %r" % (code, category["count"],
                                                                           category["size"], totals[code]))
        for group in manifest["groups"]:
            members = [c for c in manifest["categories"] if c["group"] == group["code"]]
            check(group["count"] == sum(c["count"] for c in members) and
                  group["size"] == sum(c["size"] for c in members), "group %d totals" % group["code"])
        check(junk == {p.lower() for p in manifest["junk_files"]}, "junk files differ: %r" %
              (junk ^ {p.lower() for p in manifest["junk_files"]}))

        # Each backup is a backup to the library's reader, with the seeded fields.
        deep = [b for b in manifest["backups"] if b["found_by"] == "deep"]
        check(len(deep) == 1 and len(manifest["backups"]) == 2, "backups: %r" % manifest["backups"])
        for want in manifest["backups"]:
            where = [] if want["found_by"] == "quick" else [want["path"].rsplit("\\", 1)[0]]
            listed = run(host, machine, "backups", *where, "--json")
            found = json.loads(listed.stdout or '{"backups": []}')["backups"]
            got = [(b["path"].lower(), b["device_name"], b["ios_version"], b["device_id"], b["size"],
                    b["date_seconds"]) for b in found]
            check(got == [(want["path"].lower(), want["device_name"], want["version"], want["device_id"],
                           want["size"], want["date_unix"])], "%s backup listed as %r" % (want["form"], found))
        check(manifest["deep_scan"]["category_12_size"] == sum(b["size"] for b in manifest["backups"]),
              "deep-scan backup bytes")

        check_library(machine, manifest)

        # Seeding again over the same files writes nothing and says why.
        before = sum(len(f) for _, _, f in os.walk(machine))
        again = run(host, machine, "machine", "seed-user-data", "--seed", "7")
        check(again.returncode == 2 and "exist" in again.stderr, "second seeding: exit %d: %s" %
              (again.returncode, again.stderr.strip()))
        check(sum(len(f) for _, _, f in os.walk(machine)) == before, "the refused seeding changed files")

        # The same seed gives the same layout; --files scales it.
        twin = fresh_machine(scratch, "two", host)
        check(json.loads(seed(host, twin, "--seed", "7", "--json").stdout) == manifest, "same seed, other manifest")
        bigger = fresh_machine(scratch, "three", host)
        scaled = json.loads(seed(host, bigger, "--seed", "7", "--files", "1000", "--json").stdout)
        check(scaled["written"]["files"] - manifest["written"]["files"] == 1000 - manifest["bulk_files"],
              "--files 1000 wrote %d files" % scaled["written"]["files"])

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
