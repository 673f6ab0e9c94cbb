#!/usr/bin/env python3
"""brisalen backups on a simulated machine: generated backups in both
property-list forms are listed with their device fields, a backup named on
the command line is taken itself, hostile property lists cost nothing but
their fields, and hostile folder arguments (a drive root, "..", a name of
dots, a link back up the tree) end cleanly without listing anything twice.

usage: backups_test.py BRISALEN GENERATOR
"""
import json
import os
import subprocess
import sys
import tempfile

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def backups(host, machine, *folders):
    run = subprocess.run([host, "--machine", machine, "backups", *folders, "--json"],
                         capture_output=True, text=True, timeout=60)
    check(run.returncode == 0, "backups %s: exit %d: %s" % (folders, run.returncode, run.stderr.strip()))
    try:
        return json.loads(run.stdout)["backups"]
    except (ValueError, KeyError):
        problems.append("backups %s: no JSON answer: %r" % (folders, run.stdout[:200]))
        return []


def main():
    host, generator = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        machine = os.path.join(scratch, "machine")
        subprocess.run([host, "--machine", machine, "info"], capture_output=True, check=True, timeout=60)
        drive = os.path.join(machine, "drives", "C")
        users = os.path.join(drive, "Users")
        # The one user's profile: Public and the junctions Windows keeps
        # for old names ("All Users") are none.
        profile = next(os.path.join(users, name) for name in sorted(os.listdir(users))
                       if name != "Public" and not os.path.islink(os.path.join(users, name)))
        root = os.path.join(profile, "AppData", "Roaming", "Apple Computer", "MobileSync", "Backup")
        subprocess.run([sys.executable, generator, "backups", root, "--count", "3", "--hostile"],
                       capture_output=True, check=True)
        expected = {b["device_id"]: b for b in json.load(open(os.path.join(root, "user-data.json")))["backups"]}
        # A hostile list in a folder the walk takes for a backup: its fields
        # stay empty, the backup is still listed.
        hostile = os.path.join(root, "hostile-with-probe")
        os.makedirs(hostile)
        for i in range(12):
            os.makedirs(os.path.join(hostile, "%02x" % i))
        open(os.path.join(hostile, "Manifest.db"), "wb").close()
        with open(os.path.join(hostile, "Manifest.plist"), "wb") as f:
            f.write(b'<?xml version="1.0"?><!DOCTYPE plist [<!ENTITY x SYSTEM "file:///etc/hostname">]>'
                    b'<plist version="1.0"><dict><key>Lockdown</key><dict><key>DeviceName</key>'
                    b'<string>&x;</string></dict></dict></plist>')
        # A link from inside the tree back to the drive root.
        os.symlink(drive, os.path.join(root, "loop"))
        os.makedirs(os.path.join(drive, "..."))

        found = backups(host, machine)
        by_id = {b["device_id"]: b for b in found}
        for device_id, want in expected.items():
            got = by_id.get(device_id)
            check(got is not None, "default root: %s missing" % device_id)
            if got:
                check((got["device_name"], got["ios_version"], got["size"], got["date_seconds"]) ==
                      (want["device_name"], want["version"], want["size"], want["date_unix"]),
                      "default root: %s read as %r" % (device_id, got))
        blank = [b for b in found if b["path"].endswith("hostile-with-probe")]
        check(len(blank) == 1 and blank[0]["device_name"] == "" and blank[0]["device_id"] == "",
              "the hostile backup: %r" % blank)
        check(len(found) == len(expected) + 1, "default root: %d backups listed" % len(found))

        one = next(iter(expected.values()))
        windows_path = "C:\\" + os.path.relpath(one["path"], drive).replace("/", "\\")
        named = backups(host, machine, windows_path)
        check([b["device_id"] for b in named] == [one["device_id"]], "a backup named itself: %r" % named)

        # Each of these reaches the same tree at most once; the link is never followed.
        for hostile_arg in ("C:\\", "C:\\..\\..", "C:\\...", "C:\\Users\\..\\Users\\.", "C:\\nowhere\\..\\.."):
            listed = backups(host, machine, hostile_arg)
            ids = [b["device_id"] for b in listed]
            check(len(ids) == len(set(ids)), "%s listed a backup twice" % hostile_arg)
            # Win32 reads "C:\..." as C:\ itself, as every form here names the drive.
            check(len(listed) == len(expected) + 1, "%s: %d backups listed" % (hostile_arg, len(listed)))
        check(os.path.isdir(root) and len(os.listdir(root)) > len(expected), "the backups were changed")

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
