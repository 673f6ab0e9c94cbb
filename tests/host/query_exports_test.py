#!/usr/bin/env python3
"""The host's export commands on a simulated machine: a fixture package
installed and uninstalled through the library's InstallProduct and
UninstallProduct exports and listed through GetAllInstallProductInfo and
QueryItunesService, its files judged by the check behind verify, the
service lists QueryProductService hands out,
and the group map GetAllItunesTypeInfoMap shows after a scan, which must
agree with the scan's own report.

usage: query_exports_test.py BRISALEN FIXTURES_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def run(host, machine, *args):
    answer = subprocess.run([host, "--machine", machine, "--json", *args], capture_output=True, text=True,
                            timeout=300)
    try:
        return answer.returncode, json.loads(answer.stdout) if answer.stdout.strip() else {}
    except ValueError:
        problems.append("%s: no JSON: %r" % (args, answer.stdout[:200]))
        return answer.returncode, {}


def windows_to_host(machine, path):
    return os.path.join(machine, "drives", path[0], *path[3:].split("\\"))


# verify is the library's check: sound files first, then one file deleted
# and one cut short, each named under the right heading and nothing else.
def verify_files(host, machine, package):
    rc, out = run(host, machine, "verify")
    entry = next((v for v in out.get("verify", []) if v.get("type") == 4), {})
    check(rc == 0 and entry.get("code", "").lower() == package["productCode"].lower() and
          entry.get("package_read") is True and entry.get("checked", 0) > 0 and
          entry.get("bad") == [] and entry.get("missing") == [], "verify, sound: %d %s" % (rc, out))
    gone, short = (f["x64WindowsPath"] for f in package["files"][:2])
    os.remove(windows_to_host(machine, gone))
    with open(windows_to_host(machine, short), "r+b") as f:
        f.truncate(10)
    rc, out = run(host, machine, "verify")
    entry = next((v for v in out.get("verify", []) if v.get("type") == 4), {})
    check(rc == 1 and [p.lower() for p in entry.get("missing", [])] == [gone.lower()] and
          [p.lower() for p in entry.get("bad", [])] == [short.lower()], "verify, damaged: %d %s" % (rc, out))


def main():
    host, fixtures = sys.argv[1], sys.argv[2]
    with open(os.path.join(fixtures, "fixtures.json"), encoding="utf-8") as f:
        bonjour = next(p for p in json.load(f)["packages"] if p["file"] == "Bonjour64.msi")
    with tempfile.TemporaryDirectory() as machine:
        run(host, machine, "info")
        packages = os.path.join(machine, "drives", "C", "Packages")
        os.makedirs(packages)
        shutil.copy(os.path.join(fixtures, "Bonjour64.msi"), packages)

        rc, out = run(host, machine, "install", "C:\\Packages\\Bonjour64.msi")
        check(rc == 0 and out.get("install") == {"success": True, "error": 0}, "install: %d %s" % (rc, out))
        rc, out = run(host, machine, "products")
        listed = {p.get("code", "").lower(): p for p in out.get("products", [])}
        mine = listed.get(bonjour["productCode"].lower(), {})
        check((mine.get("type"), mine.get("services"), mine.get("install_location", "").lower()) ==
              (4, bonjour["services"], bonjour["installDirX64Windows"].lower()),
              "the family list: %s" % listed)
        rc, out = run(host, machine, "products", "--all")
        listed = {p.get("code", "").lower(): p for p in out.get("products", [])}
        check(listed.get(bonjour["productCode"].lower(), {}).get("type") == 0, "the unclassified list: %s" % listed)
        verify_files(host, machine, bonjour)
        rc, out = run(host, machine, "install", "C:\\Packages\\missing.msi")
        check(rc == 1 and out["install"]["success"] is False and out["install"]["error"] != 0,
              "missing package: %d %s" % (rc, out))

        rc, out = run(host, machine, "uninstall", "4", bonjour["productCode"])
        check(rc == 0 and out.get("uninstall") == {"success": True, "error": 0}, "uninstall: %d %s" % (rc, out))
        rc, out = run(host, machine, "uninstall", "4", "{00000000-1111-2222-3333-444444444444}")
        check(rc == 0 and out.get("uninstall") == {"success": True, "error": 1605}, "not installed: %d %s" % (rc, out))
        for bad in (["uninstall", "7", "{X}"], ["uninstall", "x", "{X}"], ["install"], ["product-services"]):
            rc, _ = run(host, machine, *bad)
            check(rc == 2, "%s: exit %d, not 2" % (bad, rc))

        rc, out = run(host, machine, "product-services", "3")
        check(rc == 0 and out.get("services") == ["Apple Mobile Device Service"], "type 3: %s" % out)
        for type_ in ("2", "0", "9"):
            rc, out = run(host, machine, "product-services", type_)
            check(rc == 1 and out.get("listed") is False, "type %s: %d %s" % (type_, rc, out))

        rc, out = run(host, machine, "machine", "seed-user-data")
        rc, scan = run(host, machine, "scan")
        rc, groups = run(host, machine, "groups")
        check(rc == 0, "groups: exit %d" % rc)
        by_map = {(g["group"], c["category"]): (c["files"], c["bytes"])
                  for g in groups.get("groups", []) for c in g["categories"]}
        by_scan = {(g["group"], c["category"]): (c["files"], c["bytes"])
                   for g in scan.get("scan", {}).get("groups", []) for c in g["categories"]}
        check(len(by_map) == 20 and by_map == by_scan, "group map %s differs from the scan %s" % (by_map, by_scan))
        music = next((c for g in groups.get("groups", []) for c in g["categories"] if c["category"] == 1), {})
        check(len(music.get("folders", [])) == 2 and all(f == f.lower() for f in music.get("folders", [])),
              "music folders: %s" % music)

    for problem in problems:
        print("FAIL:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
