#!/usr/bin/env python3
"""Test data that looks like what a media player leaves on a disk.

Deterministic for a given seed:

  backups ROOT [--count N] [--files-per-backup N]
      iOS device backups below ROOT: each a folder named by a 40-character
      device id, holding files with 40-character hashed names spread over
      two-character folders, a Manifest.plist with "Date" and "Lockdown",
      an Info.plist, a Status.plist and a manifest database. Backups
      alternate between binary and XML property lists. Add --hostile for
      the damaged forms a reader must survive (truncated, empty, huge,
      entity expansion, an external entity, a Manifest.plist that is a
      folder).

Large trees of ordinary folders and files come from tests/e2e/lib/make_tree.py.

A summary of what was written goes to ROOT/user-data.json, so a test can
compare what the library found with what is there.
"""
import argparse
import datetime
import hashlib
import json
import os
import plistlib
import random

APPLE_EPOCH = datetime.datetime(2001, 1, 1, tzinfo=datetime.timezone.utc)
DEVICES = [("iPhone", "17.5.1"), ("iPad", "16.7.8"), ("iPhone de Zoé", "18.0"), ("iPod touch", "15.8.2")]


def hashed_name(rng):
    return hashlib.sha1(rng.getrandbits(64).to_bytes(8, "little")).hexdigest()


def write_plist(path, value, binary):
    with open(path, "wb") as f:
        plistlib.dump(value, f, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML)


def make_backup(root, index, rng, files, binary):
    device_id = hashed_name(rng)
    folder = os.path.join(root, device_id)
    os.makedirs(folder)
    name, version = DEVICES[index % len(DEVICES)]
    date = datetime.datetime(2020 + index % 5, 1 + index % 12, 1 + index % 28, 12, 0, tzinfo=datetime.timezone.utc)
    lockdown = {"DeviceName": f"{name} {index}", "ProductVersion": version, "UniqueDeviceID": device_id}
    write_plist(os.path.join(folder, "Manifest.plist"),
                {"Date": date.replace(tzinfo=None), "Lockdown": lockdown, "IsEncrypted": False}, binary)
    # Info.plist has neither key the reader takes from Manifest.plist.
    write_plist(os.path.join(folder, "Info.plist"),
                {"Device Name": lockdown["DeviceName"], "Product Version": version, "Unique Identifier": device_id},
                not binary)
    write_plist(os.path.join(folder, "Status.plist"), {"IsFullBackup": False, "Version": "3.3"}, binary)
    with open(os.path.join(folder, "Manifest.db"), "wb") as f:
        f.write(b"SQLite format 3\0" + bytes(rng.getrandbits(8) for _ in range(4080)))
    size = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder))
    for _ in range(files):
        hashed = hashed_name(rng)
        sub = os.path.join(folder, hashed[:2])
        os.makedirs(sub, exist_ok=True)
        length = rng.randrange(1, 64 * 1024)
        with open(os.path.join(sub, hashed), "wb") as f:
            f.write(rng.randbytes(length))
        size += length
    seconds = int((date - APPLE_EPOCH).total_seconds())
    return {"path": folder, "device_id": device_id, "device_name": lockdown["DeviceName"], "version": version,
            "date_unix": seconds + 978307200, "size": size, "form": "binary" if binary else "xml"}


HOSTILE_XML = {
    "billion-laughs": (b'<?xml version="1.0"?>\n<!DOCTYPE plist [\n <!ENTITY a "aaaaaaaaaa">\n'
                       + b"".join(b' <!ENTITY %s "%s">\n' % (bytes([98 + i]), (b"&%s;" % bytes([97 + i])) * 10)
                                  for i in range(9))
                       + b']>\n<plist version="1.0"><dict><key>Lockdown</key><dict><key>DeviceName</key>'
                         b'<string>&j;</string></dict></dict></plist>\n'),
    "external-entity": (b'<?xml version="1.0"?>\n<!DOCTYPE plist [ <!ENTITY x SYSTEM "file:///etc/passwd"> ]>\n'
                        b'<plist version="1.0"><dict><key>Lockdown</key><dict><key>DeviceName</key>'
                        b'<string>&x;</string></dict></dict></plist>\n'),
}


def make_hostile(root, rng):
    """Backups whose property lists a reader must survive; each keeps the layout."""
    made = []

    def layout(label):
        folder = os.path.join(root, "hostile-" + label)
        for i in range(10):
            os.makedirs(os.path.join(folder, "%02x" % i))
        made.append({"path": folder, "hostile": label})
        return folder

    for label, body in HOSTILE_XML.items():
        with open(os.path.join(layout(label), "Manifest.plist"), "wb") as f:
            f.write(body)
    good = plistlib.dumps({"Lockdown": {"DeviceName": "x"}}, fmt=plistlib.FMT_BINARY)
    with open(os.path.join(layout("truncated"), "Manifest.plist"), "wb") as f:
        f.write(good[: len(good) // 2])
    open(os.path.join(layout("empty"), "Manifest.plist"), "wb").close()
    with open(os.path.join(layout("huge"), "Manifest.plist"), "wb") as f:
        f.write(b'<?xml version="1.0"?><plist version="1.0"><dict><key>Lockdown</key><dict><key>DeviceName</key><string>')
        chunk = b"z" * (1 << 20)
        for _ in range(64):
            f.write(chunk)
        f.write(b"</string></dict></dict></plist>")
    os.makedirs(os.path.join(layout("manifest-is-a-folder"), "Manifest.plist"))
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="kind", required=True)
    backups = sub.add_parser("backups")
    backups.add_argument("root")
    backups.add_argument("--count", type=int, default=4)
    backups.add_argument("--files-per-backup", type=int, default=40)
    backups.add_argument("--hostile", action="store_true")
    parser.add_argument("--seed", type=int, default=20261206)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    os.makedirs(options.root, exist_ok=True)

    summary = {"backups": [make_backup(options.root, i, rng, options.files_per_backup, i % 2 == 0)
                           for i in range(options.count)]}
    if options.hostile:
        summary["hostile"] = make_hostile(options.root, rng)
    with open(os.path.join(options.root, "user-data.json"), "w", encoding="utf-8") as f:
        json.dump(summary, f, indent=1, ensure_ascii=False)


if __name__ == "__main__":
    main()
