#!/usr/bin/env python3
"""Checks of what export_probe.exe printed.

usage: exports.py steps OUT CHECK [CHECK ...]
       exports.py groups AFTER BEFORE MANIFEST

OUT is the probe's standard output. Each CHECK names a step by its position
in OUT (from 0) and what to check of it, fields separated by colons:

  N:services[:TYPE=NAME|NAME...]   the table is the library's initial one,
                                   but for the types given (names in any order)
  N:listed:CODE:TYPE               the list step's invariants, and CODE in both
  N:listed:CODE:absent             lists with TYPE, or in neither
  N:outcome:RESULT:ERR[,ERR...]    an install or uninstall step's answer
  N:verifyinfo                     true throughout, nothing written

`groups` compares the group map of a scan after seeding (AFTER) with the one
before (BEFORE) and the seeder's manifest.
"""
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import user_data  # noqa: E402

INITIAL_SERVICES = {1: ["iPod Service"], 3: ["Apple Mobile Device Service"], 4: ["Bonjour Service"]}
PROBED_TYPES = range(-1, 8)
# The group of each category code, as the scan registers them.
CATEGORY_GROUP = {**{c: 1 for c in range(1, 12)}, 12: 2, 13: 3, 14: 3,
                  **{c: 4 for c in range(15, 20)}, 20: 5}

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def steps(path):
    """[(name, [(key, value), ...]), ...] in the order the probe ran them."""
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            key, sep, value = line.partition("=")
            if not sep:
                continue
            if key == "step":
                out.append((value, []))
            elif out:
                out[-1][1].append((key, value))
    return out


def step(path, index, name):
    ran = steps(path)
    if index >= len(ran) or ran[index][0] != name:
        sys.exit("  step %d of %s is %r, expected %r" % (index, path, ran[index][0] if index < len(ran) else None, name))
    return ran[index][1]


def one(pairs, key):
    values = [v for k, v in pairs if k == key]
    check(len(values) == 1, "%r printed %d times" % (key, len(values)))
    return values[0] if values else None


def many(pairs, key):
    return [v for k, v in pairs if k == key]


def check_services(pairs, changes):
    want = {t: sorted(INITIAL_SERVICES.get(t, [])) or None for t in PROBED_TYPES}
    for change in changes:
        t, _, names = change.partition("=")
        want[int(t)] = sorted(names.split("|"))
    for t in PROBED_TYPES:
        key = "service.%d" % t
        if any(k == key for k, _ in pairs):
            got = None if one(pairs, key) == "null" else "not null"
        else:
            names = many(pairs, key + ".name")
            check(one(pairs, key + ".count") == str(len(names)), "type %d: count and names disagree" % t)
            got = sorted(names)
        check(got == want[t], "type %d: services %r, expected %r" % (t, got, want[t]))


def products(pairs, key):
    """{lower-cased code: (code, type, type copy, name)} of one map, and its own count."""
    rows = {}
    for line in many(pairs, key + ".product"):
        fields = line.split("\t")
        if len(fields) != 6:
            problems.append("%s: malformed line %r" % (key, line))
            continue
        map_key, code, kind, copy, name = fields[:5]
        check(map_key == code.lower(), "%s: key %r for code %r" % (key, map_key, code))
        check(map_key not in rows, "%s: %r listed twice" % (key, map_key))
        rows[map_key] = (code, int(kind), int(copy), name)
    count = one(pairs, key + ".count")
    check(count == str(len(rows)), "%s.count %r but %d products" % (key, count, len(rows)))
    return rows


def check_listed(pairs, code, kind):
    everything = products(pairs, "all")
    for key, (_, t, copy, _) in everything.items():
        check(t == 0 and copy == 0, "all: %s has type %d/%d, expected 0" % (key, t, copy))
    rebuilt = products(pairs, "all.rebuilt")
    check(rebuilt == everything, "the rebuilt map differs from the first: %r" % sorted(set(rebuilt) ^ set(everything)))
    check(one(pairs, "all.after_family.count") == "0", "the family load left %s products in the all-products map" %
          one(pairs, "all.after_family.count"))
    check(one(pairs, "all.same_address") == "true", "the all-products map moved")

    family = [line.split("\t") for line in many(pairs, "family.product")]
    check(one(pairs, "family.count") == str(len(family)), "family.count disagrees with its products")
    check(one(pairs, "family.result") == ("true" if family else "false"), "family.result %r with %d products" %
          (one(pairs, "family.result"), len(family)))
    codes = [f[0].lower() for f in family]
    check(codes == sorted(codes), "family not in ascending product code: %r" % codes)
    for f in family:
        check(f[0] != "{stale}", "the record the call was given survived")
        check(f[1] == f[2] and 1 <= int(f[1]) <= 6, "family: %s has type %s/%s" % (f[0], f[1], f[2]))
    by_code = {f[0].lower(): int(f[1]) for f in family}

    key = code.lower()
    if kind == "absent":
        check(key not in everything, "%s still among all products" % code)
        check(key not in by_code, "%s still in the family list" % code)
    else:
        check(key in everything, "%s not among all products (%d listed)" % (code, len(everything)))
        check(by_code.get(key) == int(kind), "%s in the family list as %r, expected type %s" %
              (code, by_code.get(key), kind))


def check_outcome(pairs, result, errors):
    name = pairs[0][0].split(".")[0] if pairs else "?"
    got_result, got_err = one(pairs, name + ".result"), one(pairs, name + ".err")
    check(got_result == result, "%s answered %r, expected %s" % (name, got_result, result))
    check(got_err in errors.split(","), "%s wrote err %r, expected one of %s" % (name, got_err, errors))


def check_verifyinfo(pairs):
    for key, want in (("verifyinfo.empty.result", "true"), ("verifyinfo.record.result", "true"),
                      ("verifyinfo.record.path_kept", "true"), ("verifyinfo.record.file_written", "false")):
        check(one(pairs, key) == want, "%s=%r, expected %s" % (key, one(pairs, key), want))


def group_map(pairs):
    """({group: (files, bytes)}, {category: (group, files, bytes)}) after checking the scan ended well."""
    states = (one(pairs, "scan.states") or "").split()
    check(states[:1] == ["1"] and states[-1:] == ["4"] and not any(s.split("x")[0] == "3" for s in states),
          "a quick scan's states %r" % states)
    check(one(pairs, "groups.before_scan.count") == "0", "the group map before this process's first scan: %r" %
          one(pairs, "groups.before_scan.count"))
    check(one(pairs, "groups.same_address") == "true", "the group map moved during the scan")
    groups = {int(k.split(".")[1]): tuple(int(x) for x in v.split("\t"))
              for k, v in pairs if k.startswith("group.")}
    categories = {int(k.split(".")[1]): tuple(int(x) for x in v.split("\t"))
                  for k, v in pairs if k.startswith("category.") and k.count(".") == 1}
    check(one(pairs, "groups.count") == str(len(groups)) == "5", "groups %r" % sorted(groups))
    check(sorted(categories) == list(range(1, 21)), "categories %r" % sorted(categories))
    for code, (group, _, _) in categories.items():
        check(CATEGORY_GROUP.get(code) == group, "category %d in group %d" % (code, group))
    for g, (files, size) in groups.items():
        inside = [c for c in categories.values() if c[0] == g]
        check((files, size) == (sum(c[1] for c in inside), sum(c[2] for c in inside)),
              "group %d: %r, its categories add up to %r" % (g, (files, size),
                                                            (sum(c[1] for c in inside), sum(c[2] for c in inside))))
    return groups, categories


def ascii_lower(text):
    """Lower case as the library makes it: ASCII letters only."""
    return "".join(c.lower() if c < "\x80" else c for c in text)


def check_groups(after, before, manifest):
    groups, categories = group_map(after)
    groups_before, categories_before = group_map(before)
    seeded = user_data.seeded_totals(manifest, deep=False)
    for code in range(1, 21):
        base = categories_before.get(code, (0, 0, 0))
        want = (CATEGORY_GROUP[code], base[1] + seeded[code][0], base[2] + seeded[code][1])
        check(categories.get(code) == want, "category %d: %r, expected %r (%r before seeding)" %
              (code, categories.get(code), want, base))
    for g in manifest["groups"]:
        base = groups_before.get(g["code"], (0, 0))
        want = (base[0] + g["count"], base[1] + g["size"])
        check(groups.get(g["code"]) == want, "group %d: %r, expected %r" % (g["code"], groups.get(g["code"]), want))
    music = [ascii_lower(manifest["folders"]["my_music"] + f) for f in user_data.MUSIC_FOLDERS]
    got = many(after, "category.1.folder")
    check(got == music, "category 1 folders %r, expected %r" % (got, music))


# Each check: the step it reads and how it reads the step's lines with the
# check's own fields.
CHECKS = {
    "services": (("services",), lambda pairs, fields: check_services(pairs, fields)),
    "listed": (("list",), lambda pairs, fields: check_listed(pairs, *fields)),
    "outcome": (("install", "uninstall"), lambda pairs, fields: check_outcome(pairs, *fields)),
    "verifyinfo": (("verifyinfo",), lambda pairs, fields: check_verifyinfo(pairs)),
}


def check_steps(path, specs):
    ran = steps(path)
    for spec in specs:
        index, kind, *fields = spec.split(":")
        names, run = CHECKS[kind]
        index = int(index)
        if index >= len(ran) or ran[index][0] not in names:
            problems.append("%s: step %d is %r" % (spec, index, ran[index][0] if index < len(ran) else None))
            continue
        before = len(problems)
        run(ran[index][1], fields)
        problems[before:] = ["%s (step %d)" % (p, index) for p in problems[before:]]


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "steps":
        check_steps(args[0], args[1:])
    elif command == "groups":
        with open(args[2], encoding="utf-8") as f:
            manifest = json.load(f)
        check_groups(step(args[0], 0, "groups"), step(args[1], 0, "groups"), manifest)
    else:
        sys.exit("unknown command " + command)
    for p in problems:
        print("  " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
