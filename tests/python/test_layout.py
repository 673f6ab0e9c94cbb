"""The binding against the header: every record's size and field offsets as
the C compiler lays them out, and every export bound with its argument
count and a pointer result where the header returns one."""
import ctypes
import json
import os
import re
import subprocess
import unittest

import machine  # noqa: F401  (puts the binding on the path)
import brisalen

HEADER = os.path.join(machine.HERE, "..", "..", "include", "BrisalenC.h")


class RecordLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        program = os.environ["BRISALEN_RECORD_LAYOUT"]
        cls.c_layout = json.loads(subprocess.run([program], capture_output=True, text=True, check=True).stdout)

    def test_every_record_is_mirrored(self):
        self.assertEqual(sorted(r.c_name for r in brisalen.RECORDS), sorted(self.c_layout))
        with open(HEADER, encoding="utf-8") as f:
            declared = set(re.findall(r"typedef struct (BRISALEN_\w+)", f.read()))
        self.assertEqual(declared, set(self.c_layout))

    def test_sizes_and_offsets(self):
        for record in brisalen.RECORDS:
            with self.subTest(record=record.c_name):
                want = self.c_layout[record.c_name]
                self.assertEqual(ctypes.sizeof(record), want["size"])
                got = {name: getattr(record, name).offset for name, _ in record._fields_}
                self.assertEqual(got, want["fields"])


class Exports(unittest.TestCase):
    def test_every_function_bound(self):
        with open(HEADER, encoding="utf-8") as f:
            text = f.read()
        declared = {}
        for result, name, params in re.findall(r"BRISALEN_C_API\s+([^;]*?)\s*BRISALEN_CALL\s+(Brisalen\w+)\s*"
                                               r"\(([^)]*)\)", text):
            params = params.strip()
            declared[name] = (result.strip().endswith("*"), 0 if params == "void" else params.count(",") + 1)
        self.assertEqual(set(declared), set(brisalen.FUNCTIONS))
        for name, (returns_pointer, count) in declared.items():
            with self.subTest(function=name):
                restype, argtypes = brisalen.FUNCTIONS[name]
                self.assertEqual(len(argtypes), count)
                is_pointer = restype is ctypes.c_void_p or issubclass(restype, ctypes._Pointer)
                self.assertEqual(is_pointer, returns_pointer)


if __name__ == "__main__":
    unittest.main()
