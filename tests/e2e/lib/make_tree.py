#!/usr/bin/env python3
"""Writes a folder tree for the folder walker to walk, deterministic for a seed.

  make_tree.py ROOT --entries N [--fanout F] [--depth D] [--awkward]

About a fifth of the N entries are folders, made breadth first with F
sub-folders each down to depth D; the files (sparse, 0 to 8 KiB) are dealt
out over all folders. With --awkward the tree also holds what a walker
must get right on Windows: one folder of 320 files (more than one search
buffer), a chain of eight nested folders whose names hold blanks and
letters outside ASCII, and a chain of long names that takes the deepest
file's full path past 260 characters. The caller counts the result on its
own (find), so a mistake here cannot hide one in the walker.
"""
import argparse
import os
import random

AWKWARD_NAMES = ["Zoé's Music", "Ünïcode Földer", "with  two  blanks", "Ελληνικά", "Русский",
                 "日本語のフォルダ", "a blank before x", "ça et là"]


def make_file(path, rng):
    with open(path, "wb") as f:
        f.truncate(rng.randrange(0, 8193))


def make_regular(root, entries, fanout, depth, rng):
    wanted = max(1, entries // 5)
    folders = [root]
    frontier = [root]
    for _ in range(depth):
        frontier = [os.path.join(parent, "d%03d" % i) for parent in frontier for i in range(fanout)]
        frontier = frontier[: max(0, wanted - (len(folders) - 1))]
        if not frontier:
            break
        folders.extend(frontier)
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    for i in range(max(0, entries - (len(folders) - 1))):
        make_file(os.path.join(folders[i % len(folders)], "f%06d.dat" % i), rng)


def make_awkward(root, rng):
    wide = os.path.join(root, "wide folder")
    os.makedirs(wide, exist_ok=True)
    for i in range(320):
        make_file(os.path.join(wide, "entry %03d.bin" % i), rng)

    deep = root
    for level, name in enumerate(AWKWARD_NAMES):
        deep = os.path.join(deep, name)
        os.makedirs(deep, exist_ok=True)
        make_file(os.path.join(deep, "level %d – Ärger.txt" % level), rng)

    long_chain = os.path.join(root, "long")
    for level in range(6):
        long_chain = os.path.join(long_chain, "a-rather-long-folder-name-number-%d-%s" % (level, "x" * 20))
    os.makedirs(long_chain, exist_ok=True)
    make_file(os.path.join(long_chain, "beyond the old path limit %s.dat" % ("y" * 30)), rng)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root")
    parser.add_argument("--entries", type=int, required=True)
    parser.add_argument("--fanout", type=int, default=10)
    parser.add_argument("--depth", type=int, default=4)
    parser.add_argument("--awkward", action="store_true")
    parser.add_argument("--seed", type=int, default=20261206)
    options = parser.parse_args()
    rng = random.Random(options.seed)
    os.makedirs(options.root, exist_ok=True)
    make_regular(options.root, options.entries, options.fanout, options.depth, rng)
    if options.awkward:
        make_awkward(options.root, rng)


if __name__ == "__main__":
    main()
