#!/usr/bin/env python3
"""Damaged installer packages against the real brisalen host.

A simulated machine gets the fixture family installed. Then, one damaged
copy at a time, a product's cached package under C:\\Windows\\Installer is
replaced by a damaged copy of itself and one of the product's files is
deleted (so that repair-bad has work when the damaged package still reads),
and `products`, `verify`, `check` and `repair-bad` run on the machine. All
but the random copies then have the product uninstalled and `repair FOLDER`
install it again from an installer folder that holds the damaged copy.
Each damaged copy is also installed with `machine install` on a fresh
machine.

Every run must end by itself (not by a signal) within the time limit. The
reproducers of tests/data must be refused as invalid packages (1620), and
installs of packages that are no packages must fail.

    damaged_packages.py --host build/linux/bin/brisalen \\
        --fixtures build/linux/fixtures --data tests/data
"""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Compound file header fields (offsets into the first 512 bytes).
HEADER_DAMAGE = {
    "signature": (0, b"\0" * 8),
    "byte-order": (28, b"\xff\xff"),
    "sector-shift": (30, b"\x3f\x00"),
    "fat-sectors": (44, b"\xff\xff\xff\x7f"),
    "first-directory": (48, b"\xfe\xff\xff\xff"),
    "mini-cutoff": (56, b"\x00\x00\x00\x00"),
    "first-difat": (76, b"\x00\x00\x00\x00\x00\x00\x00\x00"),
}
# Single bytes of Bonjour64.msi whose change made libmsi fault when this
# test was written: (offset, new value). The fixtures are rebuilt by every
# build, with the same layout, so these should keep hitting the same spots.
BONJOUR_FAULTS = [(28844, 0x5D), (30197, 0xB9), (28796, 0x7E), (27318, 0xEB), (28964, 0x14), (27081, 0x9A),
                  (27078, 0x66)]


class Failure(Exception):
    pass


def run(host, machine, args, limit):
    """Runs the host; returns (exit code, output). Fails on a signal or hang."""
    command = [host, "--machine", machine] + args
    try:
        done = subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=limit)
    except subprocess.TimeoutExpired:
        raise Failure(f"{' '.join(args)}: still running after {limit}s")
    if done.returncode < 0:
        name = signal.Signals(-done.returncode).name
        raise Failure(f"{' '.join(args)}: killed by {name}\n{done.stderr[-2000:]}")
    return done.returncode, done.stdout + done.stderr


# What --small keeps of the structured copies.
SMALL = {"zero-length", "header-signature", "header-first-directory", "truncated-512", "truncated-half"}
# ... and of the known single-byte faults, which all reach libmsi the same way.
SMALL_BONJOUR_FAULTS = 3


def damaged_copies(fixtures, data, products, seed, random_copies, small):
    """(name, product index, bytes) for every damaged copy."""
    rng = random.Random(seed)
    copies = []

    def original(index):
        with open(os.path.join(fixtures, products[index]["package"]), "rb") as f:
            return f.read()

    count = len(products)
    copies.append(("zero-length", 0, b""))
    for i, (field, (offset, value)) in enumerate(sorted(HEADER_DAMAGE.items())):
        body = bytearray(original(i % count))
        body[offset:offset + len(value)] = value
        copies.append((f"header-{field}", i % count, bytes(body)))
    for i, keep in enumerate(["8", "512", "1024", "half", "-512", "-1"]):
        body = original(i % count)
        size = {"half": len(body) // 2, "-512": len(body) - 512, "-1": len(body) - 1}.get(keep)
        copies.append((f"truncated-{keep}", i % count, body[:int(keep) if size is None else size]))
    bonjour = next(i for i, p in enumerate(products) if p["package"] == "Bonjour64.msi")
    for offset, value in BONJOUR_FAULTS:
        body = bytearray(original(bonjour))
        body[offset] = value
        copies.append((f"bonjour-{offset}", bonjour, bytes(body)))
    for i in range(random_copies):
        index = i % count
        body = bytearray(original(index))
        changes = 1 if i < random_copies * 2 // 3 else 4
        # The table streams fill the last part of these small packages;
        # half the changes go there, where libmsi is most often thrown.
        low = 0 if i % 2 else len(body) * 2 // 3
        offsets = [rng.randrange(low, len(body)) for _ in range(changes)]
        for offset in offsets:
            body[offset] = (body[offset] + rng.randrange(1, 256)) % 256
        copies.append((f"random-{products[index]['package']}-{'-'.join(map(str, offsets))}", index, bytes(body)))
    if small:
        known_faults = {f"bonjour-{offset}" for offset, _ in BONJOUR_FAULTS[:SMALL_BONJOUR_FAULTS]}
        copies = [c for c in copies if c[0] in SMALL or c[0] in known_faults or c[0].endswith(".msi")]
    for name in ("open-crash.msi", "feature-query-crash.msi"):
        with open(os.path.join(data, name), "rb") as f:
            copies.append((name, bonjour, f.read()))
    return copies


def host_folder(machine, win_path):
    drive, rest = win_path.split(":", 1)
    return os.path.join(machine, "drives", drive.upper(), *[p for p in rest.split("\\") if p])


def damage_one_file(machine, product):
    """Deletes the first file below the product's install folder."""
    folder = host_folder(machine, product["install_location"])
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            os.remove(os.path.join(root, name))
            return
    raise Failure(f"no file below {folder}")


def copy_machine(base, machine):
    """Copies a machine folder. Its junctions are host links to absolute
    paths inside it (some lead back up the tree): they are copied as links
    and made to lead into the copy."""
    base = os.path.abspath(base)
    shutil.copytree(base, machine, symlinks=True)
    for root, dirs, files in os.walk(machine):
        for name in dirs + files:
            path = os.path.join(root, name)
            if not os.path.islink(path):
                continue
            target = os.readlink(path)
            if os.path.commonpath([base, target]) == base:
                os.remove(path)
                os.symlink(os.path.join(machine, os.path.relpath(target, base)), path)


def try_copy(host, base, fixtures, products, copy, limit, scratch):
    """Runs the product commands over one damaged cached package."""
    name, index, body = copy
    machine = os.path.join(scratch, "machine")
    copy_machine(base, machine)
    product = products[index]
    with open(host_folder(machine, product["local_package"]), "wb") as f:
        f.write(body)
    damage_one_file(machine, product)
    output = ""
    for args in (["products"], ["verify"], ["check"], ["repair-bad"]):
        output += run(host, machine, args, limit)[1]
    if not name.startswith("random-"):
        # The product gone, and an installer folder whose package of it is
        # the same damaged copy: repair installs it from there.
        run(host, machine, ["machine", "uninstall", product["code"]], limit)
        setup = host_folder(machine, "C:\\Setup")
        os.makedirs(setup)
        for other in products:
            shutil.copy(os.path.join(fixtures, other["package"]), setup)
        with open(os.path.join(setup, product["package"]), "wb") as f:
            f.write(body)
        output += run(host, machine, ["repair", "C:\\Setup"], limit)[1]

    # The same bytes installed as a new package on a fresh machine.
    package = os.path.join(scratch, product["package"])
    with open(package, "wb") as f:
        f.write(body)
    code, installed = run(host, os.path.join(scratch, "fresh"), ["machine", "install", package], limit)
    shutil.rmtree(scratch, ignore_errors=True)
    return name, output, code, installed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--time-limit", type=float, default=30, help="seconds per host run")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("--random-copies", type=int, default=30, help="copies with bytes changed at random")
    parser.add_argument("--small", action="store_true",
                        help="five structured copies, three known faults and the reproducers only")
    options = parser.parse_args()

    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="brisalen-corpus-")
    try:
        base = os.path.join(work, "base")
        code, output = run(options.host, base,
                           ["machine", "install-family", options.fixtures, "--exclude", "iTunes.msi"],
                           options.time_limit)
        if code != 0:
            raise Failure(f"installing the fixture family failed:\n{output}")
        code, output = run(options.host, base, ["products", "--json"], options.time_limit)
        products = json.loads(output[output.index("{"):output.rindex("}") + 1])["products"]
        if len(products) != 6:
            raise Failure(f"expected six products, got {len(products)}")

        copies = damaged_copies(options.fixtures, options.data, products, options.seed, options.random_copies,
                                options.small)
        refused = []
        results = {}
        with concurrent.futures.ThreadPoolExecutor(options.workers) as pool:
            jobs = [pool.submit(try_copy, options.host, base, options.fixtures, products, copy, options.time_limit,
                                os.path.join(work, f"copy{i}")) for i, copy in enumerate(copies)]
            for job in concurrent.futures.as_completed(jobs):
                name, output, code, installed = job.result()
                results[name] = (output, code, installed)
                if "the package check reading it" in output:
                    refused.append(name)

        problems = []
        for name in ("open-crash.msi", "zero-length", "header-signature", "truncated-8", "truncated-512"):
            if name not in results:
                continue
            output, code, installed = results[name]
            if code != 1 or "1620" not in installed:
                problems.append(f"{name}: machine install gave {code}:\n{installed}")
        if "the package check reading it died" not in results["open-crash.msi"][0]:
            problems.append("open-crash.msi: the product commands did not refuse it:\n" + results["open-crash.msi"][0])
        for name, (output, code, installed) in sorted(results.items()):
            if code not in (0, 1):
                problems.append(f"{name}: machine install ended with {code}:\n{installed}")
        if problems:
            raise Failure("\n".join(problems))
        repairs = sum(not name.startswith("random-") for name in results)
        print(f"{len(copies)} damaged packages, {4 * len(copies) + 2 * repairs} product runs and {len(copies)} installs "
              f"ended cleanly in {time.monotonic() - started:.1f}s; {len(refused)} refused after their "
              f"check failed: {', '.join(sorted(refused))}")
        return 0
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
