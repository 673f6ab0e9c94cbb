#!/usr/bin/env python3
"""brisalen delete, repair, repair-bad and uninstall-all with --dry-run on a
machine with the family installed and a seeded profile: each exits 0,
leaves the machine folder as it was byte for byte (the library's own log
folder and the simulator's own lock and package memo aside), and what it prints is what the real command then does:
the same paths removed, the same products repaired. A category folder that
is a junction to the Windows folder shows nothing behind the junction.

usage: dry_run_test.py BRISALEN FIXTURES_DIR
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e", "lib"))
import nocase_path  # noqa: E402
from host_calls import check, problems, run, run_json  # noqa: E402


def run_json_code(host, machine, *args):
    answer, data = run_json(host, machine, *args)
    return answer.returncode, data

# The library's log and scan settings, rewritten by every run; and two files
# of the simulator itself, not of the Windows it plays: the store's lock,
# whose first bytes count every transaction, and the memo of the package
# check program, written the first time any process reads a package file.
OWN_FOLDER = os.path.join("drives", "C", "Tarnwick")
SIMULATOR_FILES = {"machine.lock", "package-checks.json"}


def snapshot(machine):
    """Every entry of the machine folder: relative path -> content digest, link target or folder."""
    entries = {}
    for dirpath, dirnames, filenames in os.walk(machine):
        rel = os.path.relpath(dirpath, machine)
        if rel == OWN_FOLDER:
            dirnames[:] = []
            continue
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            if rel == "." and name in SIMULATOR_FILES:
                continue
            if os.path.islink(full):
                entries[os.path.join(rel, name)] = "-> " + os.readlink(full)
            elif name in filenames:
                with open(full, "rb") as f:
                    entries[os.path.join(rel, name)] = hashlib.sha256(f.read()).hexdigest()
            else:
                entries[os.path.join(rel, name)] = "folder"
    return entries


def drive_entries(machine):
    """The drives' entries as lower-cased paths below drives/, for comparing with printed paths."""
    return {os.path.relpath(os.path.join(machine, p), os.path.join(machine, "drives")).lower()
            for p in snapshot(machine) if p.startswith("drives" + os.sep)}


def key(machine, windows_path):
    host_path = nocase_path.below(os.path.join(machine, "drives", windows_path[0].upper()), windows_path.rstrip("\\"))
    return os.path.relpath(host_path, os.path.join(machine, "drives")).lower()


def dry_run(host, machine, label, *args):
    """Runs the command with --dry-run, as text and as JSON; the JSON answer."""
    before = snapshot(machine)
    text = run(host, machine, *args, "--dry-run")
    check(text.returncode == 0 and "dry run: nothing changed" in text.stdout,
          "%s --dry-run: exit %d: %r %r" % (label, text.returncode, text.stdout[-300:], text.stderr[-300:]))
    rc, answer = run_json_code(host, machine, *args, "--dry-run")
    check(rc == 0, "%s --dry-run --json: exit %d" % (label, rc))
    after = snapshot(machine)
    changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
    check(not changed, "%s --dry-run changed the machine: %r" % (label, changed[:5]))
    return text.stdout, answer


def check_paths_go(host, machine, label, printed, text, *args):
    """The real command removes exactly the printed paths."""
    for entry in printed:
        check(entry["path"] in text, "%s --dry-run text lacks %s" % (label, entry["path"]))
    previewed = {key(machine, e["path"]) for e in printed}
    before = drive_entries(machine)
    answer = run(host, machine, *args)
    check(answer.returncode == 0, "%s: exit %d: %s" % (label, answer.returncode, answer.stderr[-300:]))
    # Windows Installer's cache of the packages is its own, not listed.
    cache = os.path.join("c", "windows", "installer", "")
    removed = {p for p in before - drive_entries(machine) if not p.startswith(cache)}
    check(previewed, "%s --dry-run named no path" % label)
    check(removed == previewed, "%s removed what was not shown: %r; shown but kept: %r" %
          (label, sorted(removed - previewed)[:5], sorted(previewed - removed)[:5]))


def main():
    host, fixtures = sys.argv[1], sys.argv[2]
    with open(os.path.join(fixtures, "fixtures.json"), encoding="utf-8") as f:
        bonjour = next(p for p in json.load(f)["packages"] if p["file"] == "Bonjour64.msi")
    with tempfile.TemporaryDirectory() as scratch:
        machine = os.path.join(scratch, "machine")
        run(host, machine, "info")
        # The profile first: the seeder writes nothing where a file of its exists.
        manifest_file = os.path.join(scratch, "manifest.json")
        run(host, machine, "machine", "seed-user-data", "--seed", "31", "--files", "60", "--manifest", manifest_file)
        run(host, machine, "machine", "install-family", fixtures, "--exclude", "iTunes.msi")
        manifest = json.load(open(manifest_file, encoding="utf-8"))
        setup = os.path.join(machine, "drives", "C", "Setup")
        os.makedirs(setup)
        for name in os.listdir(fixtures):
            if name.endswith(".msi") and name != "iTunes.msi":
                shutil.copy(os.path.join(fixtures, name), setup)

        # The user data: music, logs and the quick backup.
        quick = next(b["path"] for b in manifest["backups"] if b["found_by"] == "quick")
        selection = ["delete", "--category", "1", "--category", "18", "--backup", quick]
        text, answer = dry_run(host, machine, "delete", *selection)
        paths = answer.get("delete", {}).get("paths", [])
        sizes = sum(p["size"] for p in paths if not p["folder"])
        check(answer.get("delete", {}).get("total_bytes") == sizes > 0, "delete preview sizes: %r" % answer)
        check_paths_go(host, machine, "delete", paths, text, *selection)

        # A category folder that is a junction to the Windows folder.
        movies = nocase_path.below(os.path.join(machine, "drives", "C"),
                                   manifest["folders"]["my_music"] + "\\iTunes\\iTunes Media\\Movies")
        shutil.rmtree(movies)
        os.symlink(os.path.join(machine, "drives", "C", "Windows"), movies)
        _, answer = dry_run(host, machine, "delete movies", "delete", "--category", "2")
        inside = os.path.join(key(machine, manifest["folders"]["my_music"] + "\\iTunes\\iTunes Media\\Movies"), "")
        behind = [p["path"] for p in answer.get("delete", {}).get("paths", []) if key(machine, p["path"])
                  .startswith(inside) or key(machine, p["path"]).startswith(os.path.join("c", "windows"))]
        check(behind == [], "delete --dry-run shows paths behind the junction: %r" % behind[:5])

        # A damaged Bonjour: the bad-only repair reinstalls it from its cache.
        gone, short = (f["x64WindowsPath"] for f in bonjour["files"][:2])
        os.remove(nocase_path.below(os.path.join(machine, "drives", "C"), gone))
        with open(nocase_path.below(os.path.join(machine, "drives", "C"), short), "r+b") as f:
            f.truncate(10)
        text, answer = dry_run(host, machine, "repair-bad", "repair-bad")
        steps = [(s["type"], s["kind"], s["action"]) for s in answer.get("repair", {}).get("steps", [])]
        check(steps == [(4, "damaged", "reinstall")], "repair-bad --dry-run steps: %r" % steps)
        rc, answer = run_json_code(host, machine, "repair-bad")
        done = [(i["type"], i["kind"]) for i in answer.get("repair", {}).get("items", []) if i["state"] == "repaired"]
        check(rc == 0 and done == [(4, "damaged")], "repair-bad after its dry run: %d %r" % (rc, done))

        # A missing Bonjour: the repair installs it from the installer folder.
        run(host, machine, "uninstall", "4", bonjour["productCode"])
        # Folders no package should come from: a preview or a refusal, never a change.
        for folder in ("C:\\Windows", "C:\\Windows\\Installer", "..", "...", "\\\\.\\C:\\Windows", ""):
            before = snapshot(machine)
            answer = run(host, machine, "repair", folder, "--dry-run", "--json")
            rc = answer.returncode
            steps = json.loads(answer.stdout)["repair"]["steps"] if rc == 0 else []
            packages = [s["package"] for s in steps if s["package"]]
            check(rc in (0, 2) and packages == [], "repair %r --dry-run: exit %d, %r" % (folder, rc, packages))
            check(snapshot(machine) == before, "repair %r --dry-run changed the machine" % folder)
        text, answer = dry_run(host, machine, "repair", "repair", "C:\\Setup")
        steps = [(s["type"], s["kind"], s["action"], s["package"].lower())
                 for s in answer.get("repair", {}).get("steps", [])]
        check(steps == [(4, "missing", "install", "c:\\setup\\bonjour64.msi")], "repair --dry-run steps: %r" % steps)
        rc, answer = run_json_code(host, machine, "repair", "C:\\Setup")
        done = [(i["type"], i["kind"]) for i in answer.get("repair", {}).get("items", []) if i["state"] == "repaired"]
        check(rc == 0 and done == [(4, "missing")], "repair after its dry run: %d %r" % (rc, done))

        # Everything away, a running iTunes and the user data included.
        run(host, machine, "machine", "add-process", "C:\\Program Files\\iTunes\\iTunes.exe")
        text, answer = dry_run(host, machine, "uninstall-all", "uninstall-all", "--user-data")
        preview = answer.get("uninstall_all", {})
        check(len(preview.get("steps", [])) == 6, "uninstall-all --dry-run steps: %r" % preview.get("steps"))
        check_paths_go(host, machine, "uninstall-all", preview.get("paths", []), text, "uninstall-all", "--user-data")

    for problem in problems:
        print("FAIL:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
