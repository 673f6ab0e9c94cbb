#!/usr/bin/env python3
"""Checks of the C-host scenario: what brisalen_c_host.exe and
brisalen_msvc_host.exe printed against what brisalen.exe (the C++ host)
reported for the same machine, and the two C hosts against each other.

usage: c_hosts.py REFERENCE_DIR PROJECT_VERSION GCC_OUTPUT MSVC_OUTPUT [--deep]

REFERENCE_DIR holds brisalen.exe's --json answers: itunes.json,
products.json, check.json and scan.json, and with --deep scan-deep.json.
Each C host output holds one "begin"/"end" section per command, in the
order the scenario runs them (see COMMANDS; with --deep a deep scan follows
the quick one).
"""
import json
import ntpath
import os
import sys

# The command line the scenario gives both hosts, "+" between commands. The
# hostile installer folders go to preview-repair, which searches a folder
# and what lies below it: a package it finds must lie there, and in the
# Windows folder (holding the installer's cached packages under other
# names), through a link to it or in a name of dots it must find none.
HOSTILE_FOLDERS = [("C:\\", True), ("C:\\Windows", False), ("C:\\Tarnwick\\packages\\..", True), ("...", False),
                   ("C:\\Tarnwick\\c-hosts\\to-windows", False)]
COMMANDS = ([["version"], ["products"], ["check"], ["preview-repair", "C:\\Tarnwick\\packages"],
             ["preview-repair", "--bad"]] + [["preview-repair", f] for f, _ in HOSTILE_FOLDERS] +
            [["preview-uninstall"], ["preview-uninstall", "--user-data"], ["scan"],
             ["preview-delete", "1", "18", "--backups"]])
PACKAGE_FOLDER = "c:\\tarnwick\\packages"
CHECK_STATES = {2: "sound", 3: "not verifiable", 4: "missing", 5: "damaged"}
REINSTALL, INSTALL = 1, 2
KIND_DAMAGED, KIND_MISSING = 2, 3
# Folders no preview may list, nor anything below the first one.
WINDOWS = "c:\\windows"
PROTECTED = {"c:\\", "c:\\program files", "c:\\program files (x86)", "c:\\programdata", "c:\\users",
             "c:\\program files\\common files", "c:\\program files (x86)\\common files"}

problems = []


def problem(text):
    problems.append(text)


def parse(path):
    """The output as [(command, exit, [(kind, fields)])]; repeated keys
    become lists."""
    sections, current = [], None
    for line in open(path, encoding="utf-8").read().splitlines():
        kind, *rest = line.split("\t")
        fields = {}
        for item in rest:
            key, _, value = item.partition("=")
            if key in fields:
                if not isinstance(fields[key], list):
                    fields[key] = [fields[key]]
                fields[key].append(value)
            else:
                fields[key] = value
        if kind == "begin":
            current = (fields.get("command", ""), [])
        elif kind == "end":
            if current is None:
                problem("%s: an end without a begin" % path)
                continue
            sections.append((current[0], int(fields.get("exit", "-1")), current[1]))
            current = None
        elif current is not None:
            current[1].append((kind, fields))
        else:
            problem("%s: a record outside any command: %r" % (path, line))
    if current is not None:
        problem("%s: %s has no end (the host stopped)" % (path, current[0]))
    return sections


def as_list(value):
    if value is None:
        return []
    return value if isinstance(value, list) else [value]


def records(section, kind):
    return [fields for k, fields in section[2] if k == kind]


def one(section, kind):
    found = records(section, kind)
    if len(found) != 1:
        problem("%s: %d %s records, expected 1" % (section[0], len(found), kind))
        return {}
    return found[0]


def norm(path):
    return path.lower().rstrip("\\")


def under(path, folder):
    path, folder = norm(path), norm(folder)
    return path == folder or path.startswith(folder + "\\")


def load(name):
    return json.load(open(os.path.join(reference, name), encoding="utf-8"))


def check_version(section):
    record = one(section, "version")
    itunes = load("itunes.json")
    if record.get("library") != version:
        problem("version: library %r, the build is %s" % (record.get("library"), version))
    if record.get("itunes") != itunes["version"]:
        problem("version: iTunes %r, brisalen.exe reads %r" % (record.get("itunes"), itunes["version"]))
    if record.get("itunes64") != str(int(itunes["itunes_64bit"])):
        problem("version: itunes64 %r, brisalen.exe says %r" % (record.get("itunes64"), itunes["itunes_64bit"]))
    if record.get("os64") != "1":
        problem("version: os64 %r on a 64-bit prefix" % record.get("os64"))


def check_products(section, products):
    got = {r["code"]: r for r in records(section, "product")}
    want = {p["code"]: p for p in products}
    if sorted(got) != sorted(want):
        problem("products: codes %r, brisalen.exe lists %r" % (sorted(got), sorted(want)))
    if [r["code"] for r in records(section, "product")] != sorted(got):
        problem("products: not in ascending product code")
    properties = {}
    for r in records(section, "property"):
        properties.setdefault(r["code"], {})[r["name"]] = r["value"]
    for code in set(got) & set(want):
        if int(got[code]["type"]) != want[code]["type"]:
            problem("products: %s is type %s, brisalen.exe says %d" % (code, got[code]["type"], want[code]["type"]))
        mine = properties.get(code, {})
        if int(got[code]["properties"]) != len(mine):
            problem("products: %s announces %s properties, printed %d" % (code, got[code]["properties"], len(mine)))
        for name, key in (("ProductName", "name"), ("VersionString", "version"),
                          ("InstallLocation", "install_location"), ("LocalPackage", "local_package")):
            if mine.get(name, "") != want[code][key]:
                problem("products: %s %s %r, brisalen.exe %r" % (code, name, mine.get(name), want[code][key]))


def check_check(section):
    want = load("check.json")["check"]
    verdicts = {}
    for r in records(section, "check"):
        state = int(r["state"])
        if state == 6 or state == 1:
            continue
        if r["type"] in verdicts:
            problem("check: type %s judged twice" % r["type"])
        verdicts[int(r["type"])] = r
    theirs = {item["type"]: item for item in want["items"]}
    if sorted(verdicts) != sorted(theirs):
        problem("check: types %r, brisalen.exe %r" % (sorted(verdicts), sorted(theirs)))
    for kind in set(verdicts) & set(theirs):
        mine, item = verdicts[kind], theirs[kind]
        state = CHECK_STATES.get(int(mine["state"]), mine["state"])
        if state != item["state"]:
            problem("check: type %d %s, brisalen.exe %s" % (kind, state, item["state"]))
        if int(mine["checked_files"]) != item["checked_files"]:
            problem("check: type %d checked %s files, brisalen.exe %d" % (kind, mine["checked_files"],
                                                                         item["checked_files"]))
        files = sorted(f.lower() for f in as_list(mine.get("file")))
        if files != sorted(f.lower() for f in item["files"]) or int(mine["files"]) != len(files):
            problem("check: type %d files %r, brisalen.exe %r" % (kind, files, item["files"]))
        for key, theirs_key in (("product", "product"), ("version", "version"), ("services", "services")):
            if mine.get(key, "") != item[theirs_key]:
                problem("check: type %d %s %r, brisalen.exe %r" % (kind, key, mine.get(key), item[theirs_key]))
    final = [r for r in records(section, "check") if r["state"] == "6"]
    if len(final) != 1:
        problem("check: %d final records" % len(final))
    elif (int(final[0]["to_repair"]), final[0]["need_package"] == "1") != (want["summary"]["to_repair"],
                                                                           want["summary"]["package_needed"]):
        problem("check: summary %r, brisalen.exe %r" % (final[0], want["summary"]))
    return {kind: item["state"] for kind, item in theirs.items()}


def repair_steps(section):
    steps = records(section, "repair_step")
    if int(one(section, "repair_preview").get("steps", -1)) != len(steps):
        problem("%s: the preview's count is not its steps" % section[0])
    return {int(s["type"]): s for s in steps}


def check_repair(section, verdicts, products, folder):
    steps = repair_steps(section)
    unsound = {t for t, state in verdicts.items() if state in ("missing", "damaged")}
    wanted = unsound if folder else {t for t in unsound if verdicts[t] == "damaged"}
    if set(steps) != wanted:
        problem("%s: steps for types %r, the check leaves %r to repair" % (section[0], sorted(steps), sorted(wanted)))
    cached = {p["type"]: p["local_package"] for p in products}
    codes = {p["type"]: p["code"] for p in products}
    for kind, step in steps.items():
        if verdicts.get(kind) == "damaged":
            if (int(step["kind"]), int(step["action"])) != (KIND_DAMAGED, REINSTALL):
                problem("%s: damaged type %d gets %r" % (section[0], kind, step))
            if norm(step["package"]) != norm(cached.get(kind, "?")) or step["code"] != codes.get(kind):
                problem("%s: type %d reinstalled from %r, not its cached package %r" %
                        (section[0], kind, step["package"], cached.get(kind)))
        elif verdicts.get(kind) == "missing":
            if (int(step["kind"]), int(step["action"])) != (KIND_MISSING, INSTALL):
                problem("%s: missing type %d gets %r" % (section[0], kind, step))
            if not under(step["package"], PACKAGE_FOLDER) or not step["package"].lower().endswith(".msi"):
                problem("%s: type %d installed from %r" % (section[0], kind, step["package"]))


def check_hostile_repair(section, folder, packages_below):
    for step in repair_steps(section).values():
        if int(step["action"]) != INSTALL:
            continue
        package = ntpath.normpath(step["package"])
        if not packages_below or not under(package, ntpath.normpath(folder)) or not under(package, PACKAGE_FOLDER):
            problem("%s %s: installs from %r" % (section[0], folder, step["package"]))


def listed_paths(section):
    paths = records(section, "path")
    for p in paths:
        path = p["path"]
        if under(path, WINDOWS) or norm(path) in PROTECTED or norm(path) + "\\" in PROTECTED:
            problem("%s lists a protected path: %s" % (section[0], path))
        if "\\escape\\" in path.lower():
            problem("%s lists a path behind a link: %s" % (section[0], path))
    return paths


def check_uninstall(section, products, user_data):
    steps = records(section, "step")
    summary = one(section, "uninstall_preview")
    codes = {p["code"]: p for p in products}
    if sorted(s["code"] for s in steps) != sorted(codes):
        problem("%s: steps %r, brisalen.exe lists %r" % (section[0], [s["code"] for s in steps], sorted(codes)))
    for s in steps:
        product = codes.get(s["code"])
        if product is None:
            continue
        if int(s["type"]) != product["type"] or s["action"] != "1" or s["product"] != product["name"]:
            problem("%s: step %r for %r" % (section[0], s, product))
        if norm(s["location"]) != norm(product["install_location"]):
            problem("%s: %s at %r, installed at %r" % (section[0], s["code"], s["location"],
                                                       product["install_location"]))
    paths = listed_paths(section)
    listed = {norm(p["path"]) for p in paths}
    for r in records(section, "residual"):
        if not any(under(path, r["path"]) for path in listed):
            problem("%s: residual folder %s, nothing of it in the paths" % (section[0], r["path"]))
    for kind, key in (("residual", "residual"), ("program", "programs"), ("user_data_folder", "user_data_folders"),
                      ("path", "paths")):
        if int(summary.get(key, -1)) != len(records(section, kind)):
            problem("%s: %s %s, printed %d" % (section[0], key, summary.get(key), len(records(section, kind))))
    folders = records(section, "user_data_folder")
    if bool(folders) != user_data:
        problem("%s: %d user-data folders" % (section[0], len(folders)))
    return listed


def check_scan(section, reference_file):
    scan = load(reference_file)["scan"]
    theirs = {c["category"]: c for g in scan["groups"] for c in g["categories"]}
    mine = {int(r["category"]): r for r in records(section, "category")}
    for code, category in theirs.items():
        got = mine.get(code)
        if got is None or (int(got["count"]), int(got["size"])) != (category["files"], category["bytes"]):
            problem("scan: category %d %r, brisalen.exe %d files, %d bytes" % (code, got, category["files"],
                                                                                category["bytes"]))
    for code in set(mine) - set(theirs):
        if mine[code]["count"] != "0" or mine[code]["size"] != "0":
            problem("scan: category %d counted only by the C host: %r" % (code, mine[code]))
    total = one(section, "groups")
    files = sum(g["files"] for g in scan["groups"])
    size = sum(g["bytes"] for g in scan["groups"])
    if (int(total.get("files", -1)), int(total.get("bytes", -1))) != (files, size):
        problem("scan: totals %r, brisalen.exe %d files, %d bytes" % (total, files, size))
    for g in records(section, "group"):
        inside = [c for c in mine.values() if c["group"] == g["group"]]
        if (int(g["count"]), int(g["size"])) != (sum(int(c["count"]) for c in inside),
                                                 sum(int(c["size"]) for c in inside)):
            problem("scan: group %s totals %r are not its categories'" % (g["group"], g))
    backups = {r["device_id"]: r for r in records(section, "enum") if "device_id" in r}
    want = {b["device_id"]: b for b in scan["backups"]}
    if sorted(backups) != sorted(want):
        problem("scan: backups %r, brisalen.exe %r" % (sorted(backups), sorted(want)))
    for device in set(backups) & set(want):
        got, b = backups[device], want[device]
        if (got["path"], int(got["backup_size"]), int(got["backup_seconds"]), got["device_name"],
                got["ios_version"]) != (b["path"], b["size"], b["date_seconds"], b["device_name"], b["ios_version"]):
            problem("scan: backup %s %r, brisalen.exe %r" % (device, got, b))
    ends = [r for r in records(section, "enum") if r["state"] == "4"]
    if len(ends) != 1:
        problem("scan: %d end records" % len(ends))
    return mine, scan


def check_deletion(section, categories, scan):
    summary = one(section, "deletion_preview")
    registered = [f for code in (1, 18) for f in as_list(categories.get(code, {}).get("folder"))]
    backups = [b["path"] for b in scan["backups"]]
    theirs = {c["category"]: c for g in scan["groups"] for c in g["categories"]}
    want = sum(theirs.get(code, {"bytes": 0})["bytes"] for code in (1, 18)) + sum(b["size"] for b in scan["backups"])
    if int(summary.get("total", -1)) != want:
        problem("preview-delete: total %s, brisalen.exe's scan counts %d" % (summary.get("total"), want))
    if int(summary.get("backups", -1)) != len(backups):
        problem("preview-delete: %s backups picked, the scan found %d" % (summary.get("backups"), len(backups)))
    paths = listed_paths(section)
    if not paths:
        problem("preview-delete: no paths")
    for p in paths:
        if not any(under(p["path"], folder) for folder in registered + backups):
            problem("preview-delete: %s lies in no picked category's folder nor backup" % p["path"])
        if p["folder"] == "1" and p["size"] != "0":
            problem("preview-delete: folder %s with size %s" % (p["path"], p["size"]))
    if int(summary.get("bytes", -1)) != sum(int(p["size"]) for p in paths) or int(summary["bytes"]) != want:
        problem("preview-delete: the files listed hold %s bytes, the scan counted %d" % (summary.get("bytes"), want))
    for backup in backups:
        if not any(norm(p["path"]) == norm(backup) and p["folder"] == "1" for p in paths):
            problem("preview-delete: the backup folder %s is not listed" % backup)


def check_host(path):
    sections = parse(path)
    names = [s[0] for s in sections]
    if names != [c[0] for c in COMMANDS]:
        problem("%s: commands %r, expected %r" % (path, names, [c[0] for c in COMMANDS]))
        return sections
    for section, command in zip(sections, COMMANDS):
        if section[1] != 0:
            problem("%s: %s exited %d" % (path, " ".join(command), section[1]))
    products = load("products.json")["products"]
    by = dict(enumerate(sections))
    check_version(by[0])
    check_products(by[1], products)
    verdicts = check_check(by[2])
    check_repair(by[3], verdicts, products, True)
    check_repair(by[4], verdicts, products, False)
    for i, (folder, packages_below) in enumerate(HOSTILE_FOLDERS):
        check_hostile_repair(by[5 + i], folder, packages_below)
    at = 5 + len(HOSTILE_FOLDERS)
    without = check_uninstall(by[at], products, False)
    with_data = check_uninstall(by[at + 1], products, True)
    if not without <= with_data:
        problem("preview-uninstall --user-data drops paths: %r" % sorted(without - with_data)[:5])
    categories, scan = check_scan(by[at + 2], "scan.json")
    if deep:
        check_scan(by[at + 3], "scan-deep.json")
    check_deletion(sections[-1], categories, scan)
    return sections


reference, version, gcc_output, msvc_output = sys.argv[1:5]
deep = sys.argv[5:] == ["--deep"]
if deep:
    COMMANDS.insert(-1, ["scan", "--deep"])
gcc = check_host(gcc_output)
msvc = check_host(msvc_output)
# The two builds of one source must agree on every record but the scan's
# progress, which follows the timing of the walk.
for mine, theirs in zip(gcc, msvc):
    a = [r for r in mine[2] if r[0] != "enum"]
    b = [r for r in theirs[2] if r[0] != "enum"]
    if a != b:
        diff = next(((x, y) for x, y in zip(a, b) if x != y), (len(a), len(b)))
        problem("%s: the gcc and MSVC-ABI hosts differ: %r" % (mine[0], diff))
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
