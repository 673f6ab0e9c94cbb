"""What the fixture manifest says the library's file check should judge.

A file is checked when its component has no condition or asks only for a
Windows version this one meets; components installed only on first install
(NOT Installed), only on older Windows, or only without the C runtime are
not judged.
"""
import json
import re

VERSION_NT = 1000  # Windows 10 as the library counts it


def judged(condition):
    if not condition:
        return True
    m = re.fullmatch(r"VersionNT\s*>=\s*(\d+)", condition)
    return bool(m) and int(m.group(1)) <= VERSION_NT


def checked_files(entry):
    return sum(1 for f in entry["files"] if judged(f["componentCondition"]))


def packages(path):
    """The manifest's packages by file name."""
    return {p["file"]: p for p in json.load(open(path))["packages"]}


# The product type the library gives each package the scenarios install.
PRODUCT_TYPES = {"iTunes64.msi": 1, "AppleSoftwareUpdate.msi": 2, "AppleMobileDeviceSupport64.msi": 3,
                 "Bonjour64.msi": 4, "AppleApplicationSupport.msi": 5, "AppleApplicationSupport64.msi": 6}
