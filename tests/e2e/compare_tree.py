#!/usr/bin/env python3
"""Stamps and compares extracted trees for the end-to-end cases.

    compare_tree.py stamp [--seed N] PATH...
        gives every file below each PATH (or the file PATH itself) a fixed
        last-write and last-access time that depends only on the file's path
        relative to PATH and on N: distinct for distinct names, with
        sub-second parts down to 100 ns. Stamping two trees of the same
        shape with the same seed gives their files the same times.

    compare_tree.py same [--no-atime] REF OTHER...
        each OTHER (a folder or a file) must equal REF: the same folders and
        files, every file with the same bytes, the same last-write time and
        (unless --no-atime) the same last-access time, to the 100 ns of a
        Windows FILETIME. Folder times are not compared (the archive stores
        none), nor creation times (Linux keeps no settable one).

    compare_tree.py names LISTING ROOT
        the folders and files below ROOT are exactly the entries of LISTING
        (the output of `vellicor list --json`), by their Unicode names as
        the listing shows them, character for character.

The times of every tree are read before any file's content: reading a file
may move its last-access time (relatime).

Exit code 0 when everything matched, 1 with a list of the differences.
"""
import os
import sys
import zlib

# Stamps fall in the 2**32 seconds (136 years) after 1960-01-01 00:00:00 UTC,
# so they include times before 1970 and after 2038.
BASE_NS = -315619200 * 10**9


def files_below(path):
    """{relative path: 'dir'|'file'} of PATH, with '' standing for a file PATH itself."""
    if not os.path.isdir(path):
        return {'': 'file'} if os.path.isfile(path) else {}
    found = {}
    for root, dirs, files in os.walk(path):
        rel = os.path.relpath(root, path)
        for d in dirs:
            found[os.path.normpath(os.path.join(rel, d))] = 'dir'
        for f in files:
            found[os.path.normpath(os.path.join(rel, f))] = 'file'
    return found


def stamp(paths, seed):
    for top in paths:
        for rel, kind in sorted(files_below(top).items()):
            if kind != 'file':
                continue
            h = zlib.crc32(f'{seed}:{rel}'.encode())
            mtime = BASE_NS + h * 10**9 + (h % 9999999) * 100
            atime = mtime + ((h >> 7) % 86400 + 1) * 10**9 + 1234500
            os.utime(os.path.join(top, rel) if rel else top, ns=(atime, mtime))


def snapshot(path):
    """(kind, size, mtime, atime) of everything below PATH, times in 100 ns units."""
    snap = {}
    for rel, kind in files_below(path).items():
        st = os.stat(os.path.join(path, rel) if rel else path)
        snap[rel] = (kind, st.st_size, st.st_mtime_ns // 100, st.st_atime_ns // 100)
    return snap


def same(ref, others, atime):
    snaps = [snapshot(p) for p in [ref] + others]  # all times before any read
    problems = []
    if not snaps[0]:
        problems.append(f'{ref}: nothing there')
    for other, snap in zip(others, snaps[1:]):
        where = lambda rel: os.path.join(other, rel) if rel else other
        for rel in sorted(set(snaps[0]) - set(snap)):
            problems.append(f'{where(rel)}: missing ({snaps[0][rel][0]})')
        for rel in sorted(set(snap) - set(snaps[0])):
            problems.append(f'{where(rel)}: not in {ref}')
        for rel in sorted(set(snap) & set(snaps[0])):
            want, got = snaps[0][rel], snap[rel]
            if want[0] != got[0]:
                problems.append(f'{where(rel)}: is a {got[0]}, not a {want[0]}')
                continue
            if want[0] != 'file':
                continue
            if want[2] != got[2]:
                problems.append(f'{where(rel)}: last-write time {got[2]}, want {want[2]} (100 ns units)')
            if atime and want[3] != got[3]:
                problems.append(f'{where(rel)}: last-access time {got[3]}, want {want[3]} (100 ns units)')
            if want[1] != got[1]:
                problems.append(f'{where(rel)}: {got[1]} bytes, want {want[1]}')
                continue
            with open(os.path.join(ref, rel) if rel else ref, 'rb') as a, open(where(rel), 'rb') as b:
                da, db = a.read(), b.read()
            if da != db:
                at = next(i for i in range(len(da)) if da[i] != db[i])
                problems.append(f'{where(rel)}: content differs from byte {at}')
    for p in problems:
        print(f'compare_tree: {p}')
    if not problems:
        count = sum(1 for k in snaps[0].values() if k[0] == 'file')
        print(f'compare_tree: {len(others)} × {count} files and '
              f'{len(snaps[0]) - count} folders match {ref}')
    return 1 if problems else 0


def names(listing, root):
    import json
    with open(listing, encoding='utf-8') as f:
        want = {e['name'].rstrip('/') for e in json.load(f)['entries']}
    got = set()
    for folder, dirs, files in os.walk(root):
        for n in dirs + files:
            got.add(os.path.relpath(os.path.join(folder, n), root).replace(os.sep, '/'))
    for n in sorted(want - got):
        print(f'compare_tree: missing below {root}: {n!r}')
    for n in sorted(got - want):
        print(f'compare_tree: not in the archive, below {root}: {n!r}')
    if want == got:
        print(f'compare_tree: the {len(got)} names below {root} are the listed ones')
    return 0 if want == got else 1


def main(argv):
    if len(argv) >= 2 and argv[0] == 'stamp':
        seed = 0
        if argv[1] == '--seed':
            seed, argv = int(argv[2]), argv[2:]
        stamp(argv[1:], seed)
        return 0
    if len(argv) >= 3 and argv[0] == 'same':
        atime = argv[1] != '--no-atime'
        rest = argv[1:] if atime else argv[2:]
        if len(rest) >= 2:
            return same(rest[0], rest[1:], atime)
    if len(argv) == 3 and argv[0] == 'names':
        return names(argv[1], argv[2])
    sys.exit(__doc__)


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
