"""Simulated machines for the binding's tests, set up by the host's own
machine commands, and the binding loaded over one of them.

The library keeps one machine per process (the folder BRISALEN_MACHINE
names when it first reaches it), so each test module runs in a process of
its own with one machine, made in setUpModule.
"""
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bindings", "python"))
sys.path.insert(0, os.path.join(HERE, "..", "e2e", "lib"))
import brisalen  # noqa: E402
import nocase_path  # noqa: E402

HOST = os.environ.get("BRISALEN_HOST", "")
FIXTURES = os.environ.get("BRISALEN_FIXTURES_DIR", "")
# The library's own folder (log, scan settings) changes with every run.
OWN_FOLDER = os.path.join("C", "Tarnwick")
TIMEOUT = 240


class Machine:
    def __init__(self):
        self._scratch = tempfile.TemporaryDirectory(prefix="brisalen-py-")
        self.folder = os.path.join(self._scratch.name, "machine")
        self.host("info")

    def close(self):
        self._scratch.cleanup()

    def host(self, *args):
        answer = subprocess.run([HOST, "--machine", self.folder, *args], capture_output=True, text=True,
                                timeout=TIMEOUT)
        if answer.returncode != 0:
            raise RuntimeError("brisalen %s: exit %d: %s" % (" ".join(args), answer.returncode, answer.stderr))
        return answer.stdout

    def seed_user_data(self, seed, files):
        manifest = os.path.join(self._scratch.name, "manifest.json")
        self.host("machine", "seed-user-data", "--seed", str(seed), "--files", str(files), "--manifest", manifest)
        with open(manifest, encoding="utf-8") as f:
            return json.load(f)

    def install_family(self):
        self.host("machine", "install-family", FIXTURES)

    def path(self, windows_path):
        """The machine folder's file for a Windows path, names matched as Windows matches them."""
        return nocase_path.below(os.path.join(self.folder, "drives", windows_path[0].upper()), windows_path)

    def relative(self, windows_path):
        return os.path.relpath(self.path(windows_path), os.path.join(self.folder, "drives")).lower()

    def listing(self):
        """Every file and folder of the drives but the library's own: lower-cased path -> (size, mtime, bytes)."""
        drives = os.path.join(self.folder, "drives")
        entries = {}
        for dirpath, dirnames, filenames in os.walk(drives):
            rel = os.path.relpath(dirpath, drives)
            if rel == OWN_FOLDER:
                dirnames[:] = []
                continue
            for name in dirnames + filenames:
                full = os.path.join(dirpath, name)
                info = os.lstat(full)
                key = os.path.normpath(os.path.join(rel, name)).lower()
                entries[key] = (info.st_size, info.st_mtime_ns, name in filenames)
        return entries

    def load(self):
        return brisalen.load(machine=self.folder)
