"""The user-data manager through the binding on a seeded profile: the scans
against the seeder's manifest, the deletion preview against what the
deletion then removes, hostile selections and folders the guard must keep,
and BrisalenFree's refusals."""
import ctypes
import os
import threading
import time
import unittest

from machine import TIMEOUT, Machine  # first: it puts the binding on the path
import brisalen  # noqa: E402

WINDOWS = os.path.join("c", "windows")
env = {}


def setUpModule():
    env["machine"] = Machine()
    env["manifest"] = env["machine"].seed_user_data(seed=21, files=60)
    env["lib"] = env["machine"].load()


def tearDownModule():
    env["machine"].close()


def keys(machine, paths):
    return {machine.relative(p.rstrip("\\")) for p in paths}


class SeededProfile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.m, cls.manifest, cls.lib = env["machine"], env["manifest"], env["lib"]
        # Before any test changes the profile.
        cls.quick = cls.lib.scan(deep=False, timeout=TIMEOUT)
        cls.deep = cls.lib.scan(deep=True, timeout=TIMEOUT)
        cls.groups = cls.lib.group_map()

    def test_scans_count_the_seed(self):
        want = {c["code"]: (c["count"], c["size"]) for c in self.manifest["categories"]}
        self.assertEqual(self.quick.categories, want)
        self.assertEqual(self.quick.groups, {g["code"]: (g["count"], g["size"]) for g in self.manifest["groups"]})
        want[12] = (0, self.manifest["deep_scan"]["category_12_size"])
        self.assertEqual(self.deep.categories, want)
        self.assertEqual([r.state for r in (self.quick.records[0], self.quick.records[-1])],
                         [brisalen.ENUM_BEGIN, brisalen.ENUM_END])
        self.assertIn(brisalen.ENUM_DEEP_SCAN_BEGIN, {r.state for r in self.deep.records})
        for scan, passes in ((self.quick, {"quick"}), (self.deep, {"quick", "deep"})):
            expected = {(b["path"].lower(), b["device_name"], b["version"], b["size"], b["date_unix"])
                        for b in self.manifest["backups"] if b["found_by"] in passes}
            got = {(b.path.lower(), b.device_name, b.version, b.size, b.date_seconds) for b in scan.backups}
            self.assertEqual(got, expected)

    def test_group_map_is_the_last_scan(self):
        by_map = {c.category: (c.count, c.size) for g in self.groups for c in g.categories}
        self.assertEqual(by_map, self.deep.categories)
        music = next(c for g in self.groups for c in g.categories if c.category == 1)
        self.assertEqual(len(music.folders), 2)
        self.assertTrue(all(f == f.lower() for f in music.folders))

    def test_deletion_goes_as_previewed(self):
        scan = self.lib.scan(deep=False, timeout=TIMEOUT)
        backup = next(b for b in scan.backups)
        before = self.m.listing()
        preview = self.lib.preview_deletion([1, 18], [backup.id])
        self.assertEqual(self.m.listing(), before, "the preview changed the machine")
        files = [p for p in preview.paths if not p.folder]
        want_bytes = scan.categories[1][1] + scan.categories[18][1] + backup.size
        self.assertEqual(preview.total_size, want_bytes)
        self.assertEqual(sum(p.size for p in files), want_bytes)
        self.assertEqual(len(files), scan.categories[1][0] + scan.categories[18][0] + self._files_below(backup.path))
        previewed = keys(self.m, [p.path for p in preview.paths])

        records = self.lib.delete([1, 18], [backup.id], timeout=TIMEOUT)
        final = records[-1]
        self.assertEqual((final.state, final.success, final.residual), (brisalen.DELETE_COMPLETE, True, []))
        self.assertEqual((final.deleted_size, final.total_size), (want_bytes, want_bytes))
        removed = set(before) - set(self.m.listing())
        self.assertEqual(removed, previewed)

    def _files_below(self, windows_path):
        return sum(len(names) for _, _, names in os.walk(self.m.path(windows_path)))

    def test_selection_outside_the_codes_deletes_nothing(self):
        self.lib.scan(deep=False, timeout=TIMEOUT)
        before = self.m.listing()
        for categories, items in (([0], []), ([21], []), ([-1], []), ([2 ** 31 - 1], []), ([], [-5]),
                                  ([], [987654]), ([20], [])):
            with self.subTest(categories=categories, items=items):
                try:
                    preview = self.lib.preview_deletion(categories, items)
                    self.assertEqual((preview.total_size, preview.paths), (0, []))
                except brisalen.BrisalenError as e:
                    self.assertEqual(e.function, "BrisalenPreviewUserDataDeletion")
                try:
                    final = self.lib.delete(categories, items, timeout=TIMEOUT)[-1]
                    self.assertEqual(final.deleted_size, 0)
                except brisalen.BrisalenError as e:
                    self.assertEqual(e.function, "BrisalenDeleteItunesUserData")
                self.assertEqual(self.m.listing(), before)

    def test_category_folder_that_is_a_junction_to_windows(self):
        movies = self.m.path(self.manifest["folders"]["my_music"] + "\\iTunes\\iTunes Media\\Movies")
        windows = os.path.join(self.m.folder, "drives", "C", "Windows")
        os.makedirs(os.path.join(windows, "Media"), exist_ok=True)
        with open(os.path.join(windows, "Media", "keep.wav"), "wb") as f:
            f.write(b"RIFF" * 64)
        os.rename(movies, movies + ".seeded")
        os.symlink(windows, movies)
        try:
            self.lib.scan(deep=False, timeout=TIMEOUT)
            below = os.path.join(os.path.relpath(movies, os.path.join(self.m.folder, "drives")).lower(), "")
            kept = {k: v for k, v in self.m.listing().items() if k.startswith(WINDOWS + os.sep)}
            preview = self.lib.preview_deletion([2], [])
            reached = sorted(k for k in keys(self.m, [p.path for p in preview.paths]) if k.startswith(below))
            self.assertEqual(reached, [], "the preview goes through the junction")
            self.lib.delete([2], [], timeout=TIMEOUT)
            after = {k: v for k, v in self.m.listing().items() if k.startswith(WINDOWS + os.sep)}
            self.assertEqual(after, kept, "the deletion reached the Windows folder")
        finally:
            if os.path.islink(movies):
                os.remove(movies)
            os.rename(movies + ".seeded", movies)

    def test_backup_planted_in_the_windows_folder(self):
        planted = "C:\\Windows\\Fonts\\3d0d7e5fb2ce288813306e4d4636395e047a3d28"
        folder = self.m.path(planted)
        for i in range(10):
            os.makedirs(os.path.join(folder, "%02d" % i), exist_ok=True)
            with open(os.path.join(folder, "%02d" % i, "f"), "w") as f:
                f.write("x" * 10)
        with open(os.path.join(folder, "Manifest.db"), "w") as f:
            f.write("x" * 50)
        scan = self.lib.scan(deep=True, timeout=TIMEOUT)
        found = [b for b in scan.backups if b.path.lower() == planted.lower()]
        self.assertEqual(len(found), 1, "the deep scan did not report the planted backup")
        before = self.m.listing()
        preview = self.lib.preview_deletion([], [found[0].id])
        self.assertFalse([k for k in keys(self.m, [p.path for p in preview.paths]) if k.startswith(WINDOWS)])
        final = self.lib.delete([], [found[0].id], timeout=TIMEOUT)[-1]
        self.assertEqual((final.success, final.deleted_size, final.residual), (False, 0, [planted.lower() + "\\"]))
        self.assertEqual(self.m.listing(), before)


class Refusals(unittest.TestCase):
    def test_calls_refused_while_a_scan_runs_raise(self):
        """A scan held in its first report: a second scan, the deletion
        preview and the group map are refused, and the binding raises."""
        lib, raw = env["lib"], env["lib"].raw
        gate, ended = threading.Event(), threading.Event()

        def on_enum(user, state, info):
            gate.wait(TIMEOUT)
            if state == brisalen.ENUM_END:
                ended.set()
            return 1

        callback = brisalen.EnumCallback(on_enum)
        self.assertEqual(raw.BrisalenEnumItunesUserData(callback, None, 0, None), 1)
        try:
            for call, name in ((lambda: lib.scan(timeout=TIMEOUT), "BrisalenEnumItunesUserData"),
                               (lambda: lib.preview_deletion([1]), "BrisalenPreviewUserDataDeletion"),
                               (lib.group_map, "BrisalenGetAllItunesTypeInfo")):
                with self.assertRaises(brisalen.BrisalenError) as raised:
                    call()
                self.assertEqual(raised.exception.function, name)
        finally:
            gate.set()
            self.assertTrue(ended.wait(TIMEOUT))
        # The worker is gone once the group map is handed out again.
        deadline = time.monotonic() + 5
        groups = raw.BrisalenGetAllItunesTypeInfo()
        while not groups and time.monotonic() < deadline:
            time.sleep(0.01)
            groups = raw.BrisalenGetAllItunesTypeInfo()
        self.assertEqual(raw.BrisalenFree(groups), 1)

    def test_free_takes_only_what_the_library_handed_out_once(self):
        raw = env["lib"].raw
        self.assertEqual(raw.BrisalenFree(None), 0)
        foreign = ctypes.create_string_buffer(64)
        self.assertEqual(raw.BrisalenFree(foreign), 0)
        groups = raw.BrisalenGetAllItunesTypeInfo()
        self.assertTrue(groups)
        inner = groups.contents.pItems
        self.assertEqual(raw.BrisalenFree(inner), 0, "a pointer inside a list is not the list")
        self.assertEqual(raw.BrisalenFree(groups), 1)
        self.assertEqual(raw.BrisalenFree(groups), 0, "freed twice")
        version = raw.BrisalenGetItunesVersion()
        self.assertEqual((raw.BrisalenFree(version), raw.BrisalenFree(version)), (1, 0))


if __name__ == "__main__":
    unittest.main()
