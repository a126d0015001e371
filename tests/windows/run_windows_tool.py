#!/usr/bin/env python3
"""Tests of vellicor.exe, the Windows build of the command-line program,
under 64-bit Wine, side by side with the Linux build of the same sources.

    run_windows_tool.py --build DIR --tool vellicor --exe vellicor.exe --e2e tests/e2e GROUP

GROUP is one of:
  setup       creates the Wine prefix and starts its session (once per run),
              checks that the program needs no DLL beyond the system's, and
              runs the checks of the Windows names (wide_names_check.exe)
  teardown    ends the session
  archives    the same trees packed on both: the same archive, byte for byte
              but for the creation times; list and test print the same
  features    pack -j, --exclude, --files-from; several archives, names and
              patterns, extract -c, a signed archive, --version: the same
  extract     extract gives the same tree, bytes and times as on Linux,
              also below a folder whose paths pass 260 characters
  console     on a console: Japanese names, the password prompt without
              echo, the overwrite question, Ctrl-C at a question
  interrupt   Ctrl-C while extract writes a file or pack writes the archive
              removes the partial file
  errors      refusals and failures: the same messages and exit codes

The Windows program runs in its own prefix (<build>/wintool/wineprefix64)
with the ANSI code page 1252 (LANG=C.UTF-8), so Japanese names must come
through code page 932 named explicitly; `archives` packs once more with the
code page 932 (LANG=ja_JP.UTF-8) and expects the same bytes. Wine, started
from a terminal, hands the program a console; `console` gives it one on a
pseudo-terminal in raw mode, whose keys Wine passes on as a console's.

Exit codes: 0 passed, 1 failed, 77 skipped (no 64-bit Wine; with
VELLICOR_REQUIRE_E2E=1 in the environment, as CI sets it, a skip fails).
"""
import argparse
import json
import os
import pty
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
STUB_SIZE = 26112
BLOCK = 4096
TZ = 'Asia/Tokyo'   # local times with an offset, and no summer time since 1951


class Failure(Exception):
    pass


def log(msg):
    print(f'windows-tool: {msg}', flush=True)


def check(condition, what):
    if not condition:
        raise Failure(what)


class Runner:
    def __init__(self, args):
        sys.path.insert(0, args.e2e)
        import wine_setup
        self.ws = wine_setup
        self.compare_tree = os.path.join(args.e2e, 'compare_tree.py')
        self.tool = os.path.abspath(args.tool)
        self.stub = os.path.abspath(args.stub)
        self.named_archive = os.path.abspath(args.named_archive)
        self.exe = os.path.abspath(args.exe)
        self.base = os.path.join(os.path.abspath(args.build), 'wintool')
        self.prefix = os.path.join(self.base, 'wineprefix64')
        self.wine, self.env = wine_setup.wine_environment(self.prefix, 'x86_64', 'C.UTF-8')
        self.env['TZ'] = TZ
        self.env.pop('VELLICOR_PASSWORD', None)

    # --- the two programs -------------------------------------------------
    def check_wine(self):
        if not os.access(self.ws.WINE64_LOADER, os.X_OK) or not shutil.which('wineserver'):
            self.ws.loud_skip('WINDOWS PROGRAM TESTS SKIPPED: no 64-bit Wine '
                              f'({self.ws.WINE64_LOADER}, Debian package wine64)',
                              'vellicor.exe was NOT tested. Run scripts/setup.sh to install Wine.')
        r = subprocess.run([self.wine, '--version'], capture_output=True, env=self.env)
        if r.returncode != 0:
            self.ws.loud_skip('WINDOWS PROGRAM TESTS SKIPPED: wine64 does not run: '
                              + r.stderr.decode(errors='replace').strip(),
                              'vellicor.exe was NOT tested.')
        if not os.path.isfile(self.exe):
            raise Failure(f'{self.exe} is missing (build first)')

    def check_names(self):
        """The name and path forms of the Windows side (wide_names_check.exe)."""
        program = os.path.join(os.path.dirname(self.exe), 'wide_names_check.exe')
        c = subprocess.run([self.wine, program], capture_output=True, env=self.env, timeout=300)
        print(show(c.stdout), end='', flush=True)
        check(c.returncode == 0, f'wide_names_check.exe failed ({c.returncode}): {show(c.stderr)}')

    def check_imports(self):
        """One file that runs on a bare Windows: no DLL beyond the system's."""
        r = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', self.exe], capture_output=True, text=True)
        check(r.returncode == 0, f'objdump -p {self.exe} failed: {r.stderr}')
        dlls = sorted({m.lower() for m in re.findall(r'DLL Name: (\S+)', r.stdout)})
        check(dlls == ['kernel32.dll', 'msvcrt.dll', 'shell32.dll'],
              f'{self.exe} imports {", ".join(dlls)}; the runtime must be linked in')
        log(f'{os.path.basename(self.exe)} imports only {", ".join(dlls)}')

    def ensure_prefix(self):
        self.ws.ensure_prefix(self.wine, self.env, self.prefix, self.base, log)
        # One Wine session for the whole run (not one per program started),
        # kept for two minutes after its last program; the teardown ends it.
        # Its first program starts the session's own processes, which keep
        # that program's output streams open as long as they live: it is
        # started here with none, so that no test waits for them.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(['wineserver', '-p120'], env=self.env, **quiet)
        subprocess.run([self.wine, 'cmd', '/c', 'exit'], env=self.env, timeout=300, **quiet)

    def teardown(self):
        if os.path.isdir(self.prefix) and shutil.which('wineserver'):
            subprocess.run(['wineserver', '-k'], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def environment(self, lang='C.UTF-8', extra=None):
        env = dict(self.env, LANG=lang, LC_ALL=lang)
        env.update(extra or {})
        return env

    def run(self, windows, args, cwd, lang='C.UTF-8', extra=None, stdin=b''):
        """(exit code, stdout bytes, stderr bytes) of one build of vellicor."""
        command = [self.wine, self.exe] if windows else [self.tool]
        r = subprocess.run(command + args, cwd=cwd, input=stdin, capture_output=True,
                           env=self.environment(lang, extra), timeout=300)
        return r.returncode, r.stdout, r.stderr

    def both(self, args, cwd, lang='C.UTF-8', extra=None, stdin=b'', reset=None):
        """Runs both builds (each after `reset()`, when given, for runs that
        change files); fails unless exit code, stdout and stderr are the same."""
        if reset:
            reset()
        lin = self.run(False, args, cwd, lang, extra, stdin)
        if reset:
            reset()
        win = self.run(True, args, cwd, lang, extra, stdin)
        for what, a, b in (('exit code', lin[0], win[0]), ('standard output', lin[1], win[1]),
                           ('standard error', lin[2], win[2])):
            if a != b:
                raise Failure(f'vellicor {" ".join(args)}: the {what} differs between the builds\n'
                              f'--- Linux:\n{show(a)}\n--- Windows:\n{show(b)}')
        return lin

    def stamp(self, path, seed=0):
        subprocess.run([sys.executable, self.compare_tree, 'stamp', '--seed', str(seed), path], check=True)

    def same_trees(self, ref, others):
        """Every tree of `others` is `ref`: names, bytes, last-write and
        last-access times (all read before any content is)."""
        r = subprocess.run([sys.executable, self.compare_tree, 'same', ref] + others, capture_output=True, text=True)
        print(r.stdout, end='', flush=True)
        check(r.returncode == 0, f'{", ".join(others)} differ from {ref}')

    def work(self, name):
        path = os.path.join(self.base, 'work', name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path


def show(data):
    return data.decode('utf-8', errors='replace') if isinstance(data, bytes) else str(data)


# ---- trees ---------------------------------------------------------------

# Filetime values (100 ns since 1601) of the fixed old and new times.
def ns_of(year, month, day, hour=12, minute=0, second=0, fraction=0):
    import calendar
    return calendar.timegm((year, month, day, hour, minute, second)) * 10**9 + fraction * 100


def japanese_tree(root):
    """Japanese names (among them characters whose second byte is the
    backslash: ソ, 表, 能), nested and empty folders, empty and large files,
    a name with spaces, and times before 1970, before 1980 and after 2038."""
    rnd = random.Random(13)
    files = {
        'readme.txt': b'plain ASCII\r\n' * 40,
        '資料/表.txt': '表計算の表\n'.encode('utf-8') * 300,
        '資料/ソフト/設定.ini': b'[main]\r\nlevel=4\r\n',
        '資料/ソフト/能力 一覧.txt': '能力\n'.encode('cp932') * 1000,
        '資料/空.txt': b'',
        'データ/乱数.bin': rnd.randbytes(70000),
        'データ/文章.txt': ('吾輩は猫である。名前はまだ無い。\n' * 2000).encode('utf-8'),
        'データ/古い/1975年.txt': b'from 1975\n',
        'データ/古い/1965年.txt': b'from 1965\n',
        'データ/未来/2040年.txt': b'from 2040\n',
        'データ/未来/2100年.txt': b'from 2100\n',
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
    for empty in ('空のフォルダ', '資料/空のフォルダ/その下も空'):
        os.makedirs(os.path.join(root, empty), exist_ok=True)


def fixed_times(root):
    """The old and new files get their own times (after any stamping)."""
    for rel, (write, access) in {
            'データ/古い/1975年.txt': (ns_of(1975, 3, 4, 5, 6, 7, 1234567), ns_of(1979, 12, 31, 23, 59, 59)),
            'データ/古い/1965年.txt': (ns_of(1965, 6, 1, 0, 0, 1, 5), ns_of(1969, 12, 31, 23, 59, 59, 9999999)),
            'データ/未来/2040年.txt': (ns_of(2040, 1, 2, 3, 4, 5, 600), ns_of(2038, 1, 19, 3, 14, 8)),
            'データ/未来/2100年.txt': (ns_of(2100, 2, 28, 23, 0, 0, 1), ns_of(2099, 1, 1)),
    }.items():
        os.utime(os.path.join(root, rel), ns=(access, write))


def prepare_source(r, work, which):
    """A fresh copy of the tree to pack, with fixed times; returns its name."""
    src = os.path.join(work, which)
    if which == 'sample':
        shutil.copytree(os.path.join(os.path.dirname(os.path.dirname(HERE)), 'examples', 'sample'), src)
    else:
        japanese_tree(src)
    restamp(r, src)
    return which


def restamp(r, src):
    # Reading a file may move its last-access time (relatime), so the times
    # are set again before every run that reads them.
    r.stamp(src, 7)
    if os.path.basename(src) != 'sample':
        fixed_times(src)


# ---- archives ------------------------------------------------------------

def block_stream(path, key):
    """The data bytes of an archive's block stream (check bytes left out,
    unmasked with `key`) and where each came from in the file."""
    with open(path, 'rb') as f:
        data = f.read()
    at = STUB_SIZE + 4
    for _ in range(2):                      # comment and launch file
        at = data.index(b'\0', at) + 1
    flags = data[at]
    at += 1 + (2 if flags else 0)
    stream = bytearray()
    while at < len(data):
        block = data[at:at + BLOCK + 2]
        stream += block[:-2]
        at += len(block)
    if flags:
        for j in range(len(stream)):
            stream[j] ^= key[j % len(key)]
    return data[:STUB_SIZE + 4], bytes(stream)


def list_json(r, archive, cwd, password=None):
    extra = {'VELLICOR_PASSWORD': password} if password else None
    code, out, err = r.run(False, ['list', '--json', archive], cwd, extra=extra)
    check(code == 0, f'list --json {archive} failed: {show(err)}')
    return json.loads(out)


def compare_archives(r, lin, win, cwd, password=None):
    """The two archives must be the same byte for byte, but for the stored
    creation times, which are the systems' own: Linux reports a file's birth,
    Wine the last-write time. Returns how many creation times differed."""
    ja, jb = list_json(r, lin, cwd, password), list_json(r, win, cwd, password)
    strip = lambda doc: [{k: v for k, v in e.items() if not k.startswith('created')} for e in doc['entries']]
    check(strip(ja) == strip(jb),
          f'{lin} and {win} hold different entries:\n{json.dumps(strip(ja), ensure_ascii=False)}\n'
          f'{json.dumps(strip(jb), ensure_ascii=False)}')
    key = password.encode('cp932') if password else b''
    head_a, sa = block_stream(os.path.join(cwd, lin), key)
    head_b, sb = block_stream(os.path.join(cwd, win), key)
    check(len(sa) == len(sb), f'{lin} and {win}: block streams of {len(sa)} and {len(sb)} bytes')
    with open(os.path.join(cwd, lin), 'rb') as a, open(os.path.join(cwd, win), 'rb') as b:
        fa, fb = a.read(), b.read()
    header_end = len(fa) - (len(sa) + 2 * ((len(sa) + BLOCK - 1) // BLOCK))
    check(fa[:header_end] == fb[:header_end], f'{lin} and {win}: the stubs or headers differ')
    # Find each file's three times in stream order; only the creation time
    # may differ.
    masked_a, masked_b = bytearray(sa), bytearray(sb)
    at, differing = 0, 0
    for ea, eb in zip(ja['entries'], jb['entries']):
        if ea['kind'] != 'file':
            continue
        times_a = struct.pack('<QQQ', int(ea['createdFiletime']), int(ea['accessedFiletime']),
                              int(ea['modifiedFiletime']))
        found = sa.find(times_a, at)
        check(found >= 0, f'{lin}: the times of {ea["name"]} are not where the records are')
        times_b = struct.pack('<QQQ', int(eb['createdFiletime']), int(eb['accessedFiletime']),
                              int(eb['modifiedFiletime']))
        check(sb[found:found + 24] == times_b, f'{win}: the record of {eb["name"]} is elsewhere or different')
        masked_a[found:found + 8] = masked_b[found:found + 8] = bytes(8)
        differing += times_a[:8] != times_b[:8]
        at = found + 24
    if masked_a != masked_b:
        first = next(i for i in range(len(sa)) if masked_a[i] != masked_b[i])
        raise Failure(f'{lin} and {win} differ at data byte {first} of the block stream, '
                      'outside any creation time')
    if differing == 0:
        check(fa == fb, f'{lin} and {win}: the same entries but not the same bytes')
    return differing


def group_archives(r):
    for which in ('sample', 'japanese'):
        work = r.work('archives-' + which)
        src = prepare_source(r, work, which)
        variants = [('plain', [], None)]
        if which == 'japanese':
            # The wave dash and the minus sign of JIS, which code page 932
            # writes as its fullwidth tilde and minus: the same bytes on both.
            with open(os.path.join(work, src, '資料', '波\u301cと\u2212.txt'), 'wb') as f:
                f.write(b'JIS forms')
            with open(os.path.join(work, 'comment.txt'), 'w', encoding='utf-8') as f:
                f.write('日本語の説明\n二行目\n')
            with open(os.path.join(work, 'pw.txt'), 'w', encoding='utf-8') as f:
                f.write('秘密の合言葉\n')
            variants.append(('password', ['--comment-file', 'comment.txt', '--launch', f'{src}/資料/表.txt',
                                          '--password-file', 'pw.txt', '--mask', '--level', '2'], '秘密の合言葉'))
        for name, options, password in variants:
            runs = [('lin', False, 'C.UTF-8'), ('win', True, 'C.UTF-8'), ('win932', True, 'ja_JP.UTF-8')]
            for tag, windows, lang in runs:
                restamp(r, os.path.join(work, src))
                out = f'{name}-{tag}.exe'
                code, _, err = r.run(windows, ['pack', '-q', '-o', out] + options + [src], work, lang)
                check(code == 0, f'pack {out} failed ({code}): {show(err)}')
            for tag in ('win', 'win932'):
                differing = compare_archives(r, f'{name}-lin.exe', f'{name}-{tag}.exe', work, password)
                log(f'{which}/{name}: the archive of vellicor.exe ({tag}) is the Linux one, byte for byte'
                    + (f' but for {differing} creation times' if differing else ''))
            # Both builds read the archive alike: text and JSON listings, the test.
            extra = {'VELLICOR_PASSWORD': password} if password else None
            for lang in ('C.UTF-8', 'ja_JP.UTF-8'):
                for args in (['list'], ['list', '--json'], ['test']):
                    r.both(args + [f'{name}-lin.exe'], work, lang, extra)
            log(f'{which}/{name}: list, list --json and test print the same on both, in English and Japanese')


def group_features(r):
    work = r.work('features')
    src = prepare_source(r, work, 'japanese')

    def pack_each(runs, options):
        for out, windows in runs:
            restamp(r, os.path.join(work, src))
            code, _, err = r.run(windows, ['pack', '-q', '-o', out] + options(out), work)
            check(code == 0, f'pack {out} failed ({code}): {show(err)}')

    # Threads: the same archive from any number of them, on both systems.
    threads = {'j-lin.exe': '1', 'j1-win.exe': '1', 'j2-win.exe': '2', 'j4-win.exe': '4'}
    pack_each([(out, 'win' in out) for out in threads], lambda out: ['-j', threads[out], src])
    for out in list(threads)[1:]:
        compare_archives(r, 'j-lin.exe', out, work)
    log('features: pack -j 1, 2 and 4 on Windows make the Linux archive (std::thread of the posix runtime)')

    # Selections while packing: exclusions and a list of paths.
    with open(os.path.join(work, 'paths.txt'), 'w', encoding='utf-8') as f:
        f.write(f'{src}/資料/表.txt\r\n{src}/データ/古い\r\n{src}/空のフォルダ\r\n')
    selected = lambda out: ['--exclude', '*.bin', '--exclude', 'データ/未来', src] if out.startswith('ex') \
        else ['--files-from', 'paths.txt']
    pack_each([('ex-lin.exe', False), ('ex-win.exe', True), ('fl-lin.exe', False), ('fl-win.exe', True)], selected)
    compare_archives(r, 'ex-lin.exe', 'ex-win.exe', work)
    compare_archives(r, 'fl-lin.exe', 'fl-win.exe', work)
    log('features: pack --exclude and --files-from select the same entries on both')

    # Several archives on one command line (each read by a process of its
    # own), names and patterns, standard output.
    with open(os.path.join(work, 'j-lin.exe'), 'rb') as f:
        damaged = bytearray(f.read())
    damaged[STUB_SIZE + 300] ^= 0x55
    with open(os.path.join(work, 'damaged.exe'), 'wb') as f:
        f.write(damaged)
    for args in (['list', 'ex-lin.exe', 'fl-lin.exe'], ['list', '--json', 'ex-lin.exe', 'damaged.exe', 'fl-lin.exe'],
                 ['test', 'j-lin.exe', 'damaged.exe', 'fl-lin.exe'], ['list', 'j-lin.exe', '*.txt'],
                 ['test', '-v', 'j-lin.exe', 'fl-lin.exe', f'{src}/データ'],
                 ['extract', '-c', 'j-lin.exe', f'{src}/資料/表.txt', '*/古い/*'],
                 ['list', 'j-lin.exe', 'no-such-name'], ['--version']):
        for lang in ('C.UTF-8', 'ja_JP.UTF-8'):
            r.both(args, work, lang)
    trees = []
    for tag, windows in (('lin', False), ('win', True)):
        shutil.rmtree(os.path.join(work, 'sel'), ignore_errors=True)
        code, _, err = r.run(windows, ['extract', '-q', '-o', 'sel', 'j-lin.exe', '*/資料/ソ*', '*年.txt'], work)
        check(code == 0, f'extract of selected names ({tag}) failed: {show(err)}')
        os.rename(os.path.join(work, 'sel'), os.path.join(work, 'sel-' + tag))
        trees.append(os.path.join(work, 'sel-' + tag))
    r.same_trees(trees[0], trees[1:])
    log('features: several archives, names and patterns, extract -c: the same output and exit codes on both')

    # A signed archive (a certificate table behind the archive).
    for command in (['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'key.pem', '-out',
                     'cert.pem', '-days', '2', '-subj', '/CN=Vellicor-windows-test'],
                    ['osslsigncode', 'sign', '-certs', 'cert.pem', '-key', 'key.pem', '-in', 'ex-lin.exe',
                     '-out', 'signed.exe']):
        s = subprocess.run(command, cwd=work, capture_output=True)
        check(s.returncode == 0, f'{command[0]} failed: {show(s.stderr)}')
    for args in (['list', '--json', 'signed.exe'], ['test', 'signed.exe']):
        code, out, _ = r.both(args, work)
        check(code == 0, f'vellicor {" ".join(args)}: exit code {code}')
    log('features: a signed archive reads the same on both')


# ---- extraction ----------------------------------------------------------

def group_extract(r):
    work = r.work('extract')
    src = prepare_source(r, work, 'japanese')
    code, _, err = r.run(False, ['pack', '-q', '-o', 'tree.exe', src], work)
    check(code == 0, f'pack failed: {show(err)}')
    long_folder = os.path.join('long', *(['長いフォルダ名' * 3 + '-' + str(i) for i in range(16)]))
    targets = {'lin': 'out-lin', 'win': 'out-win', 'win932': 'out-win932', 'long': long_folder}
    for tag, target in targets.items():
        windows = tag != 'lin'
        code, out, err = r.run(windows, ['extract', '-q', 'tree.exe', '-o', target], work,
                               'ja_JP.UTF-8' if tag == 'win932' else 'C.UTF-8')
        check(code == 0, f'extract with {tag} failed ({code}): {show(err)}')
    deepest = max(len(os.path.join(work, long_folder, dirpath, f))
                  for dirpath, _, fs in os.walk(os.path.join(work, long_folder)) for f in fs)
    check(deepest > 400, f'the long-path case reaches only {deepest} characters')
    restamp(r, os.path.join(work, src))
    r.same_trees(os.path.join(work, src), [os.path.join(work, target, src) for target in targets.values()])
    log(f'extract: both builds give the source tree (names, empty folders, bytes, last-write and '
        f'last-access times to 100 ns), also below a path of {deepest} characters')
    # What Wine keeps of the creation time that SetFileTime was given: the
    # Windows program reads the extracted tree back.
    stored = {e['name']: int(e['createdFiletime']) for e in list_json(r, 'tree.exe', work)['entries']
              if e['kind'] == 'file'}
    code, _, err = r.run(True, ['pack', '-q', '-o', 'again.exe', src], os.path.join(work, 'out-win'))
    check(code == 0, f'pack of the extracted tree failed: {show(err)}')
    again = list_json(r, os.path.join('out-win', 'again.exe'), work)['entries']
    kept = [e for e in again if e['kind'] == 'file' and int(e['createdFiletime']) == stored[e['name']]]
    written = [e for e in again if e['kind'] == 'file' and e['createdFiletime'] == e['modifiedFiletime']]
    files = len(stored)
    if len(kept) == files:
        log(f'extract: Wine keeps the creation times set by vellicor.exe ({files} files)')
    else:
        check(len(written) == files, 'the creation times read back are neither the stored ones nor '
                                     'the last-write times')
        log('extract: Wine keeps no creation time: it reports the last-write time as a file\'s creation '
            'time (SetFileTime\'s creation time is accepted and dropped); on Windows it is set')


# ---- console --------------------------------------------------------------

def strip_screen(raw):
    """The text a console wrote to the pseudo-terminal: Wine redraws the
    screen with cursor movements, of which only the moves to the right
    (blank cells) stand for text."""
    text = raw.decode('utf-8', errors='replace')
    text = re.sub(r'\x1b\[(\d*)C', lambda m: ' ' * int(m.group(1) or 1), text)
    return re.sub(r'\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07', '', text)


def on_console(r, args, cwd, steps, lang='C.UTF-8', timeout=60):
    """Runs vellicor.exe on a pseudo-terminal: `steps` are ('wait', text) and
    ('send', bytes). Returns (exit code, screen text)."""
    pid, fd = pty.fork()
    if pid == 0:
        try:
            os.chdir(cwd)
            # Raw, so that keys reach Wine's console unchanged (Enter is CR),
            # but Ctrl-C still interrupts, as it does on a user's terminal.
            tty.setraw(0)
            attributes = termios.tcgetattr(0)
            attributes[3] |= termios.ISIG
            termios.tcsetattr(0, termios.TCSANOW, attributes)
            env = r.environment(lang)
            os.execve(r.wine, [r.wine, r.exe] + args, env)
        finally:
            os._exit(127)
    raw = b''
    steps = list(steps)
    deadline = time.time() + timeout
    done = False
    while time.time() < deadline and not done:
        while steps and steps[0][0] == 'send':
            os.write(fd, steps.pop(0)[1])
        if steps and steps[0][0] == 'wait' and steps[0][1] in strip_screen(raw):
            steps.pop(0)
            continue
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b''
            if not chunk:
                done = True
            raw += chunk
    if not done:
        os.kill(pid, signal.SIGKILL)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    screen = strip_screen(raw)
    if steps:
        raise Failure(f'vellicor {" ".join(args)} on a console: still waiting for {steps[0]!r}; the screen:\n'
                      f'{screen}')
    return os.waitstatus_to_exitcode(status), screen


def group_console(r):
    work = r.work('console')
    src = prepare_source(r, work, 'sample')
    with open(os.path.join(work, 'pw.txt'), 'w') as f:
        f.write('himitsu\n')
    code, _, err = r.run(False, ['pack', '-q', '-o', 'pw.exe', '--password-file', 'pw.txt', src], work)
    check(code == 0, f'pack failed: {show(err)}')

    code, screen = on_console(r, ['list', 'pw.exe'], work,
                              [('wait', 'Password for "pw.exe": '), ('send', b'wrong\r'),
                               ('wait', 'wrong password'), ('wait', 'Password for "pw.exe": '),
                               ('send', b'himitsu\r'), ('wait', '5 files, 3 folders')])
    check(code == 0, f'list on a console ended with {code}:\n{screen}')
    check('wrong' not in screen.replace('wrong password', '') and 'himitsu' not in screen,
          f'the typed password was shown:\n{screen}')
    check('sample/資料/ソフト/設定.ini' in screen, f'the Japanese names are not on the console:\n{screen}')
    log('console: Japanese names shown, the password asked without echo, a wrong one asked again')

    code, screen = on_console(r, ['extract', 'pw.exe', '-o', 'out'], work,
                              [('wait', 'Password'), ('send', b'himitsu\r'), ('wait', 'Extracted 5 files')],
                              )
    check(code == 0, f'extract on a console ended with {code}:\n{screen}')
    marker = os.path.join(work, 'out', src, '資料', '表.txt')
    with open(marker, 'wb') as f:
        f.write(b'mine')
    code, screen = on_console(r, ['extract', 'pw.exe', '-o', 'out'], work,
                              [('wait', 'Password'), ('send', b'himitsu\r'),
                               ('wait', '"out/sample/license-words.txt" already exists. Replace it?'),
                               ('send', b'y\r'),
                               ('wait', '"out/sample/readme.txt" already exists. Replace it?'), ('send', b'n\r'),
                               ('wait', '"out/sample/資料/readme-copy.txt" already exists'), ('send', b'N\r'),
                               ('wait', 'kept')],
                              lang='C.UTF-8')
    check(code == 0, f'extract with questions ended with {code}:\n{screen}')
    with open(marker, 'rb') as f:
        check(f.read() == b'mine', 'the file answered with N (none) was replaced')
    log('console: the overwrite question, answered yes, no and none')

    code, screen = on_console(r, ['extract', 'pw.exe', '-o', 'out'], work,
                              [('wait', 'Password'), ('send', b'himitsu\r'),
                               ('wait', 'already exists. Replace it?'), ('send', b'\x03'),
                               ('wait', 'interrupted')])
    check(code == 6, f'Ctrl-C at the question: exit code {code}, want 6:\n{screen}')
    log('console: Ctrl-C at the question ends the run with exit code 6')


# ---- interruptions --------------------------------------------------------

def interrupt_when(r, args, cwd, ready, timeout=120):
    """Starts vellicor.exe, waits until ready() is true, sends SIGINT (which
    Wine delivers as Ctrl-C). Returns (exit code, stderr)."""
    err_path = os.path.join(cwd, 'interrupt.err')
    with open(err_path, 'wb') as err:
        proc = subprocess.Popen([r.wine, r.exe] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=err, env=r.environment())
        deadline = time.time() + timeout
        while time.time() < deadline and proc.poll() is None and not ready():
            time.sleep(0.005)
        check(proc.poll() is None, f'vellicor {" ".join(args)} ended before it could be interrupted')
        proc.send_signal(signal.SIGINT)
        code = proc.wait(timeout)
    with open(err_path, 'rb') as f:
        return code, f.read().decode('utf-8', errors='replace')


def group_interrupt(r):
    work = r.work('interrupt')
    src = os.path.join(work, 'src')
    os.makedirs(src)
    with open(os.path.join(src, 'a.txt'), 'wb') as f:
        f.write(b'small and first')
    with open(os.path.join(src, 'b.bin'), 'wb') as f:
        f.write(random.Random(5).randbytes(12000000))   # seconds of decoding
    with open(os.path.join(src, 'c.txt'), 'wb') as f:
        f.write(b'never reached')
    code, _, err = r.run(False, ['pack', '-q', '--level', '1', '-o', 'big.exe', 'src'], work)
    check(code == 0, f'pack failed: {show(err)}')

    partial = os.path.join(work, 'o', 'src', 'b.bin')
    code, err = interrupt_when(r, ['extract', 'big.exe', '-o', 'o'], work,
                               lambda: os.path.exists(partial) and os.path.getsize(partial) > 0)
    check(code == 6, f'extract interrupted: exit code {code}, want 6: {err}')
    check('the partly extracted file "o/src/b.bin" was removed' in err, f'no word of the removed file: {err}')
    check(not os.path.exists(partial), 'the partly extracted file is still there')
    check(not os.path.exists(os.path.join(work, 'o', 'src', 'c.txt')), 'extraction went on after Ctrl-C')
    with open(os.path.join(work, 'o', 'src', 'a.txt'), 'rb') as f:
        check(f.read() == b'small and first', 'the file finished before Ctrl-C was lost')
    log('interrupt: Ctrl-C during extract removes the partial file, keeps the finished one, exit code 6')

    before = set(os.listdir(work))
    code, err = interrupt_when(r, ['pack', '-o', 'out.exe', 'src'], work,
                               lambda: len(set(os.listdir(work)) - before) > 0)
    check(code == 6, f'pack interrupted: exit code {code}, want 6: {err}')
    check('interrupted; no output was written' in err, f'pack said: {err}')
    left = sorted(set(os.listdir(work)) - before - {'interrupt.err'})
    check(not left, f'pack left {left} behind')
    log('interrupt: Ctrl-C during pack leaves no file behind, exit code 6')


# ---- refusals and failures -------------------------------------------------

def group_errors(r):
    work = r.work('errors')
    src = prepare_source(r, work, 'sample')
    code, _, err = r.run(False, ['pack', '-q', '-o', 'good.exe', src], work)
    check(code == 0, f'pack failed: {show(err)}')
    with open(os.path.join(work, 'good.exe'), 'rb') as f:
        good = bytearray(f.read())
    damaged = bytearray(good)
    damaged[STUB_SIZE + 200] ^= 0x55
    for name, data in (('damaged.exe', damaged), ('short.exe', good[:-100]), ('stub.exe', good[:STUB_SIZE]),
                       ('longer.exe', good + b'x')):
        with open(os.path.join(work, name), 'wb') as f:
            f.write(data)
    with open(os.path.join(work, 'pw.txt'), 'w') as f:
        f.write('right\n')
    code, _, err = r.run(False, ['pack', '-q', '-o', 'pw.exe', '--password-file', 'pw.txt', src], work)
    check(code == 0, f'pack failed: {show(err)}')

    def existing():
        shutil.rmtree(os.path.join(work, 'existing'), ignore_errors=True)
        os.makedirs(os.path.join(work, 'existing', src))
        with open(os.path.join(work, 'existing', src, 'readme.txt'), 'wb') as f:
            f.write(b'keep me')
    os.makedirs(os.path.join(work, 'emoji'))
    with open(os.path.join(work, 'emoji', 'smile-\U0001F600.txt'), 'wb') as f:
        f.write(b':)')
    os.makedirs(os.path.join(work, 'yen'))
    with open(os.path.join(work, 'yen', 'price\u00a5100.txt'), 'wb') as f:
        f.write(b'a yen sign, which code page 932 writes as the folder separator')

    failing = [
        ['test', 'missing.exe'],
        ['test', 'damaged.exe'],
        ['test', 'short.exe'],
        ['test', 'stub.exe'],
        ['list', 'longer.exe'],
        ['test', 'pw.exe'],
        ['extract', 'good.exe', '-o', 'existing'],
        ['list', '--no-such-option', 'good.exe'],
        ['pack', '-o', 'x.exe', 'missing-folder'],
        ['pack', '-o', 'x.exe', 'emoji'],
        ['pack', '-o', 'x.exe', 'yen'],
        ['pack', '-q', '-o', src, 'pw.txt'],
    ]
    for args in failing + [['extract', 'good.exe', '-o', 'existing', '--overwrite=none']]:
        for lang in ('C.UTF-8', 'ja_JP.UTF-8'):
            code, _, _ = r.both(args, work, lang, reset=existing if args[0] == 'extract' else None)
        check((code != 0) == (args in failing), f'vellicor {" ".join(args)}: exit code {code}')
    code, _, _ = r.both(['test', 'pw.exe'], work, extra={'VELLICOR_PASSWORD': 'wrong'})
    check(code == 3, f'a wrong password: exit code {code}')
    with open(os.path.join(work, 'existing', src, 'readme.txt'), 'rb') as f:
        check(f.read() == b'keep me', 'an existing file was replaced without being asked')
    check(not os.path.exists(os.path.join(work, 'x.exe')), 'a refused pack left its output')

    # Names an archive from elsewhere may hold that Windows gives a meaning
    # of their own (a device) or cannot hold (a final dot): refused with a
    # message, never a write to a device; what came before them stays.
    for name in ('sub\\CON', 'sub\\nul.txt', 'dot.', 'space '):
        shutil.rmtree(os.path.join(work, 'odd'), ignore_errors=True)
        subprocess.run([r.named_archive, r.stub, 'odd.exe', 'ok.txt', 'fine', name, 'device'], cwd=work, check=True)
        code, _, err = r.run(True, ['extract', 'odd.exe', '-o', 'odd'], work)
        shown = name.replace('\\', '/')
        check(code == 4 and f'cannot write "odd/{shown}": Windows cannot hold this file name' in show(err),
              f'{shown}: exit code {code}: {show(err)}')
        check(sorted(os.listdir(os.path.join(work, 'odd'))) in (['ok.txt'], ['ok.txt', 'sub']),
              f'{shown}: extraction left {os.listdir(os.path.join(work, "odd"))}')
    log('errors: device names and names ending in a dot or space are refused on Windows, nothing written')
    log(f'errors: {len(failing) + 2} refusals and failures give the same messages and exit codes on both, '
        'in English and Japanese')


GROUPS = {'archives': group_archives, 'features': group_features, 'extract': group_extract, 'console': group_console,
          'interrupt': group_interrupt, 'errors': group_errors}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--build', required=True)
    ap.add_argument('--tool', required=True, help='the Linux vellicor')
    ap.add_argument('--exe', required=True, help='vellicor.exe')
    ap.add_argument('--e2e', required=True, help='tests/e2e (wine_setup.py, compare_tree.py)')
    ap.add_argument('--stub', required=True, help='the stub the tools embed')
    ap.add_argument('--named-archive', required=True, help='make_named_archive (entries of any name)')
    ap.add_argument('group', choices=['setup', 'teardown'] + sorted(GROUPS))
    args = ap.parse_args()
    r = Runner(args)
    if args.group == 'teardown':
        r.teardown()
        return 0
    r.check_wine()
    t0 = time.time()
    try:
        r.ensure_prefix()
        if args.group == 'setup':
            r.check_imports()
            r.check_names()
        else:
            GROUPS[args.group](r)
    except Failure as e:
        log(f'{args.group}: FAILED: {e}')
        return 1
    log(f'{args.group}: passed in {time.time() - t0:.1f} s')
    return 0


if __name__ == '__main__':
    sys.exit(main())
