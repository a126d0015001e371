#!/usr/bin/env python3
"""The stub's throughput case (bench/stub_throughput.case): its input and its report.

  stub_bench.py text FOLDER
      Puts the benchmark's text file into FOLDER: the single file of the
      corpus's text set when $VELLICOR_CORPUS/text holds one (the reference
      file of bench/README.md), otherwise a deterministic 16,000,000-byte
      English text made of the lines of the licence texts every Debian
      system has (/usr/share/common-licenses), drawn in a fixed pseudo-random
      order, so that every machine without the corpus times the same bytes.

  stub_bench.py report --tool VELLICOR --stub STUB --archive A.exe
                       --seconds FILE... --source FOLDER --extracted FOLDER...
      Checks that the stub extracted the file byte for byte in every run,
      times `vellicor extract` on the same archive (best of three, whole
      process), and prints the best times, both speeds and their ratio. A recording: it fails only when
      the extracted bytes are wrong or a program fails, never on speed.
"""
import argparse
import filecmp
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

TEXT_BYTES = 16_000_000


def text(folder):
    os.makedirs(folder, exist_ok=True)
    corpus = os.environ.get('VELLICOR_CORPUS')
    if corpus:
        reference = os.path.join(corpus, 'text')
        files = sorted(os.listdir(reference)) if os.path.isdir(reference) else []
        if len(files) == 1:
            shutil.copyfile(os.path.join(reference, files[0]), os.path.join(folder, files[0]))
            print(f'stub_bench: the corpus text {files[0]}')
            return
    pool = []
    licences = '/usr/share/common-licenses'
    if os.path.isdir(licences):
        for name in sorted(os.listdir(licences)):
            path = os.path.join(licences, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, 'rb') as f:
                    pool += [line.rstrip() + b'\n' for line in f if line.strip()]
    if not pool:  # not a Debian system: words of a fixed generator
        words = [bytes(random.Random(n).choices(b'etaoinshrdlucmfwyp', k=2 + n % 9)) for n in range(3000)]
        rng = random.Random(1)
        pool = [b' '.join(rng.choices(words, k=8 + i % 9)) + b'.\n' for i in range(20000)]
    rng = random.Random(20240611)
    out = bytearray()
    while len(out) < TEXT_BYTES:
        out += pool[rng.randrange(len(pool))]
    with open(os.path.join(folder, 'text.txt'), 'wb') as f:
        f.write(out[:TEXT_BYTES])
    print(f'stub_bench: a made text of {TEXT_BYTES} bytes from {len(pool)} lines')


def stub_kind(stub):
    with open(stub, 'rb') as f:
        image = f.read(512)
    pe = int.from_bytes(image[0x3c:0x40], 'little')
    machine = int.from_bytes(image[pe + 4:pe + 6], 'little')
    return {0x14c: '32-bit product stub', 0x8664: '64-bit test build of the stub'}.get(machine, 'stub')


def report(args):
    sources = sorted(os.listdir(args.source))
    size = 0
    for name in sources:
        original = os.path.join(args.source, name)
        for folder in args.extracted:
            extracted = os.path.join(folder, os.path.basename(args.source), name)
            if not filecmp.cmp(original, extracted, shallow=False):
                sys.exit(f'stub_bench: {extracted} differs from {original}')
        size += os.path.getsize(original)
    runs = []
    for path in args.seconds:
        with open(path) as f:
            runs.append(float(f.read()))
    stub_seconds = min(runs)
    best = None
    with tempfile.TemporaryDirectory() as target:
        for _ in range(3):
            start = time.perf_counter()
            subprocess.run([args.tool, 'extract', '-q', '--overwrite=all', '-o', target, args.archive], check=True)
            elapsed = time.perf_counter() - start
            best = elapsed if best is None else min(best, elapsed)
    mb = size / 1e6
    print(f'stub_bench: {mb:.2f} MB, {len(sources)} file(s)')
    print(f'stub_bench: {stub_kind(args.stub)} under Wine, Extract to completion message '
          f'(best of {len(runs)}: {", ".join(f"{r:.3f}" for r in runs)} s): {stub_seconds:.3f} s, '
          f'{mb / stub_seconds:.1f} MB/s')
    print(f'stub_bench: vellicor extract, same archive, same run (best of 3, whole process): '
          f'{best:.3f} s, {mb / best:.1f} MB/s')
    print(f'stub_bench: stub time / vellicor extract time = {stub_seconds / best:.2f}')
    if args.way:
        print(f'stub_bench: way: {args.way}')
        if args.way.startswith('i686-qemu'):
            print('stub_bench: the 32-bit code ran under qemu-i386 emulation: a trend figure, '
                  'not a Windows figure')


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest='what', required=True)
    t = sub.add_parser('text')
    t.add_argument('folder')
    r = sub.add_parser('report')
    for name in ('--tool', '--stub', '--archive', '--source'):
        r.add_argument(name, required=True)
    r.add_argument('--seconds', required=True, nargs='+', help="the stub's timed runs, one file each")
    r.add_argument('--extracted', required=True, nargs='+', help='the folders the stub extracted into')
    r.add_argument('--way', help='how the stub ran (the runner\'s ${WAY})')
    args = parser.parse_args()
    if args.what == 'text':
        text(args.folder)
    else:
        report(args)


if __name__ == '__main__':
    main()
