"""The repair manager and the product queries through the binding on a
machine with the family installed from the fixture packages: the queries
against the packages, a check of a damaged product, the repair preview
against the repair it foretells, and the one-key uninstall preview against
what the uninstall then removes."""
import json
import os
import unittest

from machine import FIXTURES, TIMEOUT, Machine  # first: it puts the binding on the path
import brisalen  # noqa: E402

env = {}


def setUpModule():
    m = Machine()
    m.host("machine", "install-family", FIXTURES, "--exclude", "iTunes.msi")
    with open(os.path.join(FIXTURES, "fixtures.json"), encoding="utf-8") as f:
        packages = [p for p in json.load(f)["packages"] if p["file"] != "iTunes.msi"]
    env.update(machine=m, packages={p["file"]: p for p in packages}, lib=m.load())


def tearDownModule():
    env["machine"].close()


def verdicts(records):
    return {r.type: r for r in records if r.state not in (brisalen.CHECK_ITEM_CHECKING, brisalen.CHECK_ALL_COMPLETE)}


class Family(unittest.TestCase):
    """Ordered by name: the queries and the check on the sound family, the
    damage and its repair, the uninstall last."""

    @classmethod
    def setUpClass(cls):
        cls.m, cls.lib, cls.packages = env["machine"], env["lib"], env["packages"]

    def test_1_queries(self):
        lib = self.lib
        self.assertGreaterEqual(lib.version(), (1, 0, 0))
        self.assertTrue(lib.is_os_64bit())
        self.assertEqual(lib.itunes_version(), self.packages["iTunes64.msi"]["productVersion"])
        codes = {p["productCode"].upper() for p in self.packages.values()}
        family = lib.family_products()
        self.assertEqual({p.code.upper() for p in family}, codes)
        self.assertEqual(sorted(p.type for p in family), [1, 2, 3, 4, 5, 6])
        self.assertEqual([p.code for p in family], sorted(p.code for p in family))
        everything = lib.all_products()
        self.assertTrue(codes <= {p.code.upper() for p in everything})
        self.assertEqual({p.type for p in everything}, {0})
        self.assertEqual(lib.product_services(4), self.packages["Bonjour64.msi"]["services"])
        with self.assertRaises(brisalen.BrisalenError) as raised:
            lib.product_services(2)
        self.assertEqual(raised.exception.function, "BrisalenQueryProductService")
        self.assertEqual(lib.uninstall_product(4, "{00000000-1111-2222-3333-444444444444}"), 1605)
        with self.assertRaises(brisalen.BrisalenError) as raised:
            lib.install_product("C:\\Packages\\missing.msi")
        self.assertNotEqual(raised.exception.error, 0)

    def test_2_check_finds_the_damage_and_the_repair_goes_as_previewed(self):
        sound = self.lib.check(timeout=TIMEOUT)
        self.assertTrue(self.lib.is_itunes_64bit(), "the check found no 64-bit iTunes")
        self.assertEqual(sorted(verdicts(sound)), [1, 2, 3, 4, 5, 6])
        self.assertEqual((sound[-1].state, sound[-1].repair_count), (brisalen.CHECK_ALL_COMPLETE, 0))
        self.assertEqual(self.lib.preview_repair(True), [])

        bonjour = self.packages["Bonjour64.msi"]
        gone, short = (f["x64WindowsPath"] for f in bonjour["files"][:2])
        os.remove(self.m.path(gone))
        with open(self.m.path(short), "r+b") as f:
            f.truncate(10)
        damaged = self.lib.check(timeout=TIMEOUT)
        verdict = verdicts(damaged)[4]
        self.assertEqual(verdict.state, brisalen.CHECK_ITEM_FAIL_BAD)
        self.assertEqual(sorted(f.lower() for f in verdict.files), sorted([gone.lower(), short.lower()]))
        self.assertEqual(damaged[-1].repair_count, 1)
        self.assertEqual([r.type for r in verdicts(damaged).values() if r.state == brisalen.CHECK_ITEM_SUCCESS],
                         [1, 2, 3, 5, 6])

        before = self.m.listing()
        steps = self.lib.preview_repair(True)
        self.assertEqual(self.m.listing(), before, "the preview changed the machine")
        self.assertEqual([(s.type, s.kind, s.action, s.product_code.upper()) for s in steps],
                         [(4, brisalen.REPAIR_KIND_DAMAGED, brisalen.REPAIR_REINSTALL, bonjour["productCode"])])
        self.assertTrue(os.path.isfile(self.m.path(steps[0].package)), steps[0].package)

        repaired = self.lib.repair_bad(timeout=TIMEOUT)
        self.assertEqual([(r.state, r.type, r.success) for r in repaired if r.state == brisalen.REPAIR_ITEM_SUCCESS],
                         [(brisalen.REPAIR_ITEM_SUCCESS, 4, True)])
        self.assertTrue(repaired[-1].success)
        self.assertTrue(os.path.isfile(self.m.path(gone)))
        self.assertEqual(self.lib.check(timeout=TIMEOUT)[-1].repair_count, 0)

    def test_3_hostile_package_folders(self):
        """Package folders spelled as drive roots, the Windows folder, dots:
        the repair's preview and the repair agree on whether a package is
        found (C:\\ holds the fixtures' C:\\Packages below it), and neither
        removes a file; nor do such paths as a package or a product code."""
        bonjour = self.packages["Bonjour64.msi"]
        outcomes = set()
        for folder in ("C:\\", "C:\\Windows", "C:\\Windows\\Installer", "..", "...", "C:\\Program Files\\..\\..",
                       "\\\\.\\C:\\Windows", ""):
            with self.subTest(folder=folder):
                self.lib.uninstall_product(4, bonjour["productCode"])
                self.assertEqual(self.lib.check(timeout=TIMEOUT)[-1].repair_count, 1)
                before = self.m.listing()
                try:
                    steps = [(s.type, s.action) for s in self.lib.preview_repair(False, folder)]
                except brisalen.BrisalenError as e:
                    self.assertEqual(e.function, "BrisalenPreviewRepair")
                    steps = []
                self.assertEqual(self.m.listing(), before, "the preview changed the machine")
                try:
                    repaired = self.lib.repair_all(folder, timeout=TIMEOUT)[-1].success
                except brisalen.BrisalenError:
                    repaired = False
                self.assertEqual(repaired, steps == [(4, brisalen.REPAIR_INSTALL)], steps)
                outcomes.add(repaired)
                self.assertEqual(sorted(set(before) - set(self.m.listing())), [])
        self.assertEqual(outcomes, {True, False}, "every folder gave the same outcome")
        before = self.m.listing()
        for hostile in ("C:\\", "C:\\Windows", "C:\\Windows\\Installer", "..", "...", "\\\\.\\C:\\Windows", ""):
            with self.subTest(package=hostile):
                with self.assertRaises(brisalen.BrisalenError) as raised:
                    self.lib.install_product(hostile)
                self.assertNotEqual(raised.exception.error, 0)
                # C:\\ holds the packages below it: an install from there is no fault.
                try:
                    self.lib.one_key_install(hostile, timeout=TIMEOUT)
                except brisalen.BrisalenError as e:
                    self.assertEqual(e.function, "BrisalenOneKeyInstall")
                try:
                    self.lib.uninstall_product(4, hostile)
                except brisalen.BrisalenError as e:
                    self.assertEqual(e.function, "BrisalenUninstallProduct")
                self.assertEqual(sorted(set(before) - set(self.m.listing())), [])
                self.assertEqual(len(self.lib.family_products()), 6)
        if bonjour["productCode"].upper() not in {p.code.upper() for p in self.lib.family_products()}:
            self.m.host("machine", "install", os.path.join(FIXTURES, "Bonjour64.msi"))

    def test_4_uninstall_goes_as_previewed(self):
        self.m.host("machine", "add-process", "C:\\Program Files\\iTunes\\iTunes.exe")
        before = self.m.listing()
        preview = self.lib.preview_uninstall(False)
        self.assertEqual(self.m.listing(), before, "the preview changed the machine")
        codes = {p["productCode"].upper() for p in self.packages.values()}
        self.assertEqual({s.product_code.upper() for s in preview.steps}, codes)
        self.assertEqual({s.action for s in preview.steps}, {brisalen.STEP_UNINSTALL})
        self.assertIn("c:\\program files\\itunes\\itunes.exe", [p.lower() for p in preview.programs])
        previewed = {self.m.relative(p.path.rstrip("\\")) for p in preview.paths}

        records = self.lib.one_key_uninstall(False, timeout=TIMEOUT)
        self.assertEqual((records[-1].state, records[-1].success, records[-1].files),
                         (brisalen.UNINSTALL_ALL_COMPLETE, True, []))
        self.assertEqual(self.lib.family_products(), [])
        # Windows Installer's cache of the packages is its own, not listed.
        cache = os.path.join("c", "windows", "installer", "")
        removed = {p for p in set(before) - set(self.m.listing()) if not p.startswith(cache)}
        with self.subTest("paths"):
            self.assertEqual(sorted(removed - previewed), [], "removed without being previewed")
            self.assertEqual(sorted(previewed - removed), [], "previewed but still there")
        with self.subTest("residual folders"):
            folded = [f.rstrip("\\").lower() for f in preview.residual_folders]
            self.assertEqual(sorted(folded), sorted(set(folded)), "a folder listed twice")


if __name__ == "__main__":
    unittest.main()
