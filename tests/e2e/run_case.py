#!/usr/bin/env python3
"""Runs one end-to-end case of the real stub under Wine on a virtual X display.

    run_case.py --case FILE --build DIR --stub EXE --driver EXE --texts texts.h [--tool vellicor]
                [--stub64 EXE --driver64 EXE] [--arch auto|i686|i686-qemu|x86_64]
                [--named-archive make_named_archive]
    run_case.py --setup    --build DIR ...   (once per test run: Wine prefix, X display, Wine session)
    run_case.py --teardown --build DIR ...   (stops what --setup started)
    run_case.py --which                      (prints the way this machine runs the stub, or "none")

Which stub runs: always the 32-bit product stub (--stub, --driver), under
32-bit Wine wherever the machine executes 32-bit code ("i686"), else under
32-bit Wine whose loader runs under qemu-i386 ("i686-qemu"; see
wine_setup.py). Where neither can run, the cases are skipped loudly (and
fail under VELLICOR_REQUIRE_E2E=1). The 64-bit test build of the same
sources (--stub64, --driver64) runs only when asked for (--arch x86_64 or
VELLICOR_E2E_WAY=x86_64): it is faster to iterate with and proves nothing
about the product. VELLICOR_E2E_WAY=i686-qemu takes the emulated way on a
machine that could run 32-bit code natively. Every case's log says which
way ran, at its top.

A case file has runner lines starting with "%" (preparing the files of the
case) and driver lines (everything else; see README.md). The runner builds
the case's files in <build>/e2e/work/<case>/, starts the test driver under
Wine with the script, takes a PNG of the screen at each screenshot point into
<build>/e2e-shots/ and passes the driver's verdict on as its exit code.

Exit codes: 0 passed, 1 failed, 77 skipped (Wine, Xvfb or ImageMagick missing;
with VELLICOR_REQUIRE_E2E=1 in the environment, as CI sets it, a skip fails).
"""
import argparse
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from wine_setup import SKIP, ensure_prefix, wine_environment, winpath  # noqa: E402
import wine_setup  # noqa: E402
SCREEN = '1024x768x24'


def log(msg):
    print(f'e2e: {msg}', flush=True)


def loud_skip(what):
    wine_setup.loud_skip(f'END-TO-END TESTS SKIPPED: {what}',
                         'The real stub was NOT tested. Run scripts/setup.sh to install Wine, Xvfb and ImageMagick.')


def which_stub(arch='auto'):
    """The way this run takes (wine_setup.which_way): 'i686' (the 32-bit
    product stub under 32-bit Wine), 'i686-qemu' (the same stub under
    32-bit Wine with its loader under qemu-i386), 'x86_64' (the 64-bit test
    build under 64-bit Wine: only when asked for by --arch or
    VELLICOR_E2E_WAY, never chosen by itself), or None."""
    if arch != 'auto':
        return arch
    way = wine_setup.which_way()
    return way if way != 'x86_64' or os.environ.get('VELLICOR_E2E_WAY') == 'x86_64' else None


def describe(kind):
    """One line naming what runs, for logs and benchmark reports."""
    return {
        'i686': 'the 32-bit PRODUCT stub (i686, 26,112 bytes) under 32-bit Wine, natively',
        'i686-qemu': ('the 32-bit PRODUCT stub (i686, 26,112 bytes) under 32-bit Wine, its loader '
                      'EMULATED by qemu-i386'),
        'x86_64': 'the 64-bit TEST BUILD (x86_64) under 64-bit Wine: NOT the product stub',
    }[kind]


def announce(kind):
    bar = '=' * 72
    why = ''
    if kind == 'i686-qemu':
        why = ('\n== (asked for: this kernel could execute 32-bit code natively)' if wine_setup.machine_runs_32bit()
               else '\n== (this kernel does not execute 32-bit code)')
    print(f'{bar}\n== STUB UNDER TEST: {describe(kind)}{why}\n'
          f'== way: {kind} (label {wine_setup.WAY_LABELS[kind]})\n{bar}', flush=True)


def banner_from_texts(texts_h):
    """The product banner, decoded from the C literal in texts.h."""
    with open(texts_h, encoding='ascii', errors='replace') as f:
        src = f.read()
    m = re.search(r'kTextBanner\[\]\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);', src)
    if not m:
        raise SystemExit(f'e2e: no kTextBanner in {texts_h}')
    raw = bytearray()
    for lit in re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(1)):
        i = 0
        while i < len(lit):
            if lit[i] == '\\':
                n = lit[i + 1]
                if n == 'x':
                    j = i + 2
                    while j < len(lit) and lit[j] in '0123456789abcdefABCDEF':
                        j += 1
                    raw.append(int(lit[i + 2:j], 16) & 0xFF)
                    i = j
                    continue
                raw += {'n': b'\n', 'r': b'\r', 't': b'\t', '0': b'\0'}.get(n, n.encode())
                i += 2
            else:
                raw += lit[i].encode()
                i += 1
    return raw.decode('cp932')


class Env:
    def __init__(self, build, kind):
        self.kind = kind
        self.base = os.path.join(os.path.abspath(build), 'e2e')
        # One prefix per way: a 32-bit prefix cannot serve 64-bit Wine, and
        # the emulated way needs a 64-bit (WoW64) one.
        self.prefix = os.path.join(self.base, {'i686': 'wineprefix', 'i686-qemu': 'wineprefix-wow64',
                                               'x86_64': 'wineprefix64'}.get(kind, 'wineprefix'))
        # Each way's fixture has its own display, so that two ways can be
        # set up and torn down in one run without ending each other's.
        self.display_file = os.path.join(self.base, f'display-{kind}')
        os.makedirs(self.base, exist_ok=True)
        self.wine, self.env = 'wine', dict(os.environ)
        if kind:
            unavailable = wine_setup.way_unavailable(kind)
            if unavailable:
                loud_skip(f'the way {kind} cannot run here: {unavailable}')
            # Japanese locale: Wine's ANSI code page is then 932.
            self.wine, self.env = wine_environment(self.prefix, kind, 'ja_JP.UTF-8', self.base)
        self.xvfb = None  # our own Xvfb, when no shared one is running

    def check_tools(self):
        if self.kind is None:
            loud_skip('no way here to run the 32-bit product stub: 32-bit Wine needs a machine that '
                      'executes 32-bit code, or 32-bit and 64-bit Wine with qemu-i386 8 or later '
                      f'({wine_setup.way_unavailable("i686-qemu")}). VELLICOR_E2E_WAY=x86_64 runs '
                      'the 64-bit test build instead, which proves nothing about the product')
        if (self.kind == 'x86_64' and not getattr(self, 'windows_program', False)
                and os.environ.get('VELLICOR_REQUIRE_E2E') == '1'):
            print('e2e: VELLICOR_REQUIRE_E2E=1 requires the 32-bit product stub; the 64-bit test '
                  'build does not count', flush=True)
            sys.exit(1)
        missing = [t for t in (self.wine, 'wineserver', 'Xvfb', 'import') if not shutil.which(t)]
        if missing:
            loud_skip('missing ' + ', '.join(missing))
        r = subprocess.run([self.wine, '--version'], capture_output=True, env=self.env)
        if r.returncode != 0:
            loud_skip('wine does not run: ' + r.stderr.decode(errors='replace').strip())

    # --- X display ---------------------------------------------------------
    def start_xvfb(self):
        """Starts Xvfb on a free display (it picks one itself) and returns (proc, display)."""
        rfd, wfd = os.pipe()
        proc = subprocess.Popen(['Xvfb', '-displayfd', str(wfd), '-screen', '0', SCREEN, '-nolisten', 'tcp'],
                                pass_fds=(wfd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(wfd)
        digits = b''
        deadline = time.time() + 30
        while time.time() < deadline:
            chunk = os.read(rfd, 16)
            if not chunk:
                break
            digits += chunk
            if b'\n' in digits:
                break
        os.close(rfd)
        if not digits.strip():
            proc.kill()
            raise SystemExit('e2e: Xvfb did not start')
        return proc, ':' + digits.strip().decode()

    def shared_display(self):
        """The display started by --setup, when it is still running."""
        try:
            with open(self.display_file) as f:
                display, pid = f.read().split()
            with open(f'/proc/{pid}/cmdline', 'rb') as f:
                if b'Xvfb' not in f.read():
                    return None
            return display
        except (OSError, ValueError):
            return None

    def use_display(self):
        display = self.shared_display()
        if not display:
            self.xvfb, display = self.start_xvfb()
        self.env['DISPLAY'] = display
        return display

    def release_display(self):
        if self.xvfb:
            # Let Wine's session end before its display goes away.
            subprocess.run(['wineserver', '-w'], env=self.env, timeout=60,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.xvfb.terminate()
            self.xvfb.wait(10)
            self.xvfb = None

    # --- Wine prefix -------------------------------------------------------
    def use_dpi(self, dpi):
        self.dpi = dpi
        self.prefix += f'-dpi{dpi}'
        self.env['WINEPREFIX'] = self.prefix

    def ensure_prefix(self):
        """Creates the Wine prefix once (shared with other runs through a lock)."""
        def virtual_desktop(quiet):
            # A virtual desktop: Wine then draws every window with its frame
            # and caption itself (there is no window manager on the display),
            # so the screenshots show what a user sees.
            for key, name, value in (('HKCU\\Software\\Wine\\Explorer', 'Desktop', 'Default'),
                                     ('HKCU\\Software\\Wine\\Explorer\\Desktops', 'Default',
                                      SCREEN.rsplit('x', 1)[0])):
                subprocess.run([self.wine, 'reg', 'add', key, '/v', name, '/d', value, '/f'],
                               env=self.env, timeout=120, **quiet)
            if getattr(self, 'dpi', None):
                subprocess.run([self.wine, 'reg', 'add', 'HKCU\\Control Panel\\Desktop', '/v', 'LogPixels',
                                '/t', 'REG_DWORD', '/d', str(self.dpi), '/f'], env=self.env, timeout=120, **quiet)
        ensure_prefix(self.wine, self.env, self.prefix, self.base, log, virtual_desktop)


def setup(env):
    env.check_tools()
    display = env.shared_display()
    if not display:
        proc, display = env.start_xvfb()
        with open(env.display_file, 'w') as f:
            f.write(f'{display} {proc.pid}\n')
    env.env['DISPLAY'] = display
    t0 = time.time()
    env.ensure_prefix()
    # One Wine session for the whole run: the server stays (-p) until the
    # teardown ends it, so that no case pays for starting the session's own
    # processes again (seconds each where the loader is emulated). The
    # session is started here by a program with no output streams, since
    # the session's processes keep those of the program that started them.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(['wineserver', '-p'], env=env.env, timeout=60, **quiet)
    subprocess.run([env.wine, 'cmd', '/c', 'exit'], env=env.env, timeout=300, **quiet)
    log(f'X display {display}, Wine prefix {env.prefix}, session ready in {time.time() - t0:.1f} s')
    return 0


def teardown(env):
    if not shutil.which('wineserver'):
        return SKIP
    display = env.shared_display()
    if display:
        env.env['DISPLAY'] = display
    if os.path.isdir(env.prefix):
        # Ends the session that --setup kept alive (it would wait forever).
        subprocess.run(['wineserver', '-k'], env=env.env, timeout=60, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if display:
        with open(env.display_file) as f:
            pid = int(f.read().split()[1])
        os.kill(pid, signal.SIGTERM)
        log(f'stopped Xvfb {display}')
    try:
        os.remove(env.display_file)
    except OSError:
        pass
    return 0


def prepare_case(args, env, case, lines, work):
    """Runs the case's % lines; returns the driver script (same line numbers)
    and the %after commands, which run once the driver has passed."""
    script = []
    after = []
    variables = {
        'STUB': os.path.abspath(args.stub), 'WORK': work, 'E2E': HERE,
        'PY': sys.executable, 'TOOL': args.tool or '',
        'NAMED_ARCHIVE': args.named_archive or '',
        # Built beside the driver (driver.cmake).
        'MARKER': os.path.join(os.path.dirname(args.driver), 'e2e_marker.exe'),
        # How the stub ran, for the benchmark cases' reports.
        'WAY': (f'{env.kind}: {describe(env.kind)}' if env.kind and not getattr(env, 'windows_program', False)
                else 'x86_64: a 64-bit Windows program under 64-bit Wine' if env.kind else 'none'),
    }
    for number, line in enumerate(lines, 1):
        text = line.rstrip('\r\n')
        if not text.startswith('%'):
            script.append(text)
            continue
        script.append('#')
        words = shlex.split(text[1:])
        if not words:
            continue
        words = [re.sub(r'\$\{(\w+)\}', lambda m: variables[m.group(1)], w) for w in words]
        cmd, rest = words[0], words[1:]
        if cmd == 'payload':
            if not rest or rest[0].startswith('-'):
                raise SystemExit(f'e2e: {case}:{number}: %payload OUT.exe [options]')
            run = [sys.executable, os.path.join(HERE, 'make_payload.py'), args.stub,
                   os.path.join(work, rest[0])] + rest[1:]
        elif cmd == 'copy-stub':
            shutil.copyfile(args.stub, os.path.join(work, rest[0] if rest else 'case.exe'))
            continue
        elif cmd == 'lang':
            # The case's locale (Wine's ANSI code page follows it): e.g.
            # en_US.UTF-8 for 1252, zh_CN.UTF-8 for 936.
            env.env['LANG'] = env.env['LC_ALL'] = rest[0]
            continue
        elif cmd == 'dpi':
            # A display of N dots per inch: a prefix of its own, made once
            # with Wine's LogPixels setting, so that other cases keep 96.
            env.use_dpi(int(rest[0]))
            continue
        elif cmd == 'mkdir':
            for d in rest:
                os.makedirs(os.path.join(work, d), exist_ok=True)
            continue
        elif cmd in ('run', 'after'):
            if re.search(r'\$\{TOOL\}\s+pack\b', text) and '--stub' not in text:
                raise SystemExit(f'e2e: {case}:{number}: "${{TOOL}} pack" without "--stub ${{STUB}}": every '
                                 'archive of a case is made with the stub under test, not the one the tool embeds')
            if 'TOOL' in text and not args.tool:
                raise SystemExit(f'e2e: {case}:{number}: needs the vellicor tool (--tool)')
            if '${NAMED_ARCHIVE}' in text and not args.named_archive:
                raise SystemExit(f'e2e: {case}:{number}: needs make_named_archive (--named-archive)')
            if cmd == 'after':
                after.append((number, rest))
                continue
            run = rest
        else:
            raise SystemExit(f'e2e: {case}:{number}: unknown runner line {cmd}')
        r = subprocess.run(run, cwd=work, capture_output=True, text=True)
        if r.returncode != 0:
            raise SystemExit(f'e2e: {case}:{number}: {" ".join(run)} failed:\n{r.stdout}{r.stderr}')
    return script, after


def run_after(case, after, work):
    """The %after commands, in order, in the work folder; False at the first failure."""
    for number, run in after:
        r = subprocess.run(run, cwd=work, capture_output=True, text=True)
        for line in (r.stdout + r.stderr).splitlines():
            print(f'  {line}', flush=True)
        if r.returncode != 0:
            log(f'case {case}:{number}: %after {" ".join(run)} failed (exit {r.returncode})')
            return False
    return True


def run_case(args, env):
    case = os.path.splitext(os.path.basename(args.case))[0]
    if args.tag:
        # A second way in the same run keeps its files and screenshots apart.
        case = f'{args.tag}.{case}'
    work = os.path.join(env.base, 'work', case)
    shots = os.path.join(os.path.dirname(env.base), 'e2e-shots')
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, 'cwd'))
    os.makedirs(os.path.join(work, 'ack'))
    os.makedirs(shots, exist_ok=True)
    for old in os.listdir(shots):
        if old == case + '.png' or old.startswith(case + '-'):
            os.remove(os.path.join(shots, old))
    for tool in (args.stub, args.driver):
        if not os.path.isfile(tool):
            raise SystemExit(f'e2e: {tool} is missing (build first)')

    with open(args.case, encoding='utf-8') as f:
        lines = f.readlines()
    script, after = prepare_case(args, env, case, lines, work)
    script_path = os.path.join(work, 'script.txt')
    with open(script_path, 'w', encoding='utf-8') as f:
        f.write('\n'.join(script) + '\n')

    display = env.use_display()
    env.ensure_prefix()
    driver_cmd = [env.wine, args.driver, '--ack-dir', winpath(os.path.join(work, 'ack')),
                  '-D', f'EXE={winpath(os.path.join(work, "case.exe"))}',
                  '-D', f'WORK={winpath(work)}',
                  '-D', f'CWD={winpath(os.path.join(work, "cwd"))}',
                  '-D', f'CASE={case}',
                  '-D', f'E2E={winpath(HERE)}',
                  '-D', f'BANNER={banner_from_texts(args.texts)}',
                  winpath(script_path)]
    log(f'case {case} on display {display}')
    t0 = time.time()
    proc = subprocess.Popen(driver_cmd, env=env.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, start_new_session=True)
    shots_taken = []
    verdict = []

    def reader():
        for raw in proc.stdout:
            line = raw.decode('utf-8', errors='replace').rstrip('\r\n')
            print(f'  {line}', flush=True)
            if line.startswith('@@screenshot'):
                point = line.split(None, 1)[1].strip() if len(line.split(None, 1)) > 1 else ''
                name = case if point in ('', case) else f'{case}-{point}'
                png = os.path.join(shots, name + '.png')
                r = subprocess.run(['import', '-display', display, '-window', 'root', png],
                                   capture_output=True, text=True, env=env.env)
                if r.returncode == 0 and os.path.exists(png):
                    shots_taken.append(png)
                    print(f'  screenshot {png}', flush=True)
                else:
                    print(f'  screenshot FAILED: {r.stderr.strip()}', flush=True)
                open(os.path.join(work, 'ack', (point or case) + '.done'), 'w').close()
            elif line in ('PASS', 'FAIL'):
                verdict.append(line)

    t = threading.Thread(target=reader, daemon=True)
    t.start()
    # Where the loader is emulated, the driver's own process must end up as
    # qemu-i386 running the 32-bit loader: proof that the 32-bit programs
    # of the case did run that way, and not some other Wine.
    emulated = []
    if env.kind == 'i686-qemu':
        def watch():
            driver_name = os.path.basename(args.driver).encode()
            deadline = time.time() + 60
            while time.time() < deadline and proc.poll() is None:
                for pid in os.listdir('/proc'):
                    if not pid.isdigit():
                        continue
                    try:
                        with open(f'/proc/{pid}/cmdline', 'rb') as f:
                            argv = f.read().split(b'\0')
                    except OSError:
                        continue
                    if (b'qemu-i386' in os.path.basename(argv[0]) and len(argv) > 4
                            and argv[3].endswith(b'/wine-i386') and argv[4].endswith(driver_name)):
                        emulated.append(argv[0].decode(errors='replace'))
                        return
                time.sleep(0.1)
        w = threading.Thread(target=watch, daemon=True)
        w.start()
    try:
        rc = proc.wait(timeout=args.timeout)
    except subprocess.TimeoutExpired:
        log(f'case {case}: no result after {args.timeout} s; stopping the driver and the stub')
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        # The stub may have been started outside the driver's process group.
        subprocess.run(['wineserver', '-k'], env=env.env, timeout=60)
        rc = -1
    t.join(10)
    env.release_display()
    took = time.time() - t0

    if env.kind == 'i686-qemu':
        w.join(5)
        if not emulated:
            log(f'case {case}: FAILED: the driver did not run under qemu-i386')
            return 1
        log(f'case {case}: the driver ran under {emulated[0]} (the 32-bit loader emulated)')
    if rc == 0 and verdict == ['PASS'] and not shots_taken:
        log(f'case {case}: FAILED: it saved no screenshot (every case takes at least one)')
        return 1
    if rc == 0 and verdict == ['PASS'] and not run_after(case, after, work):
        log(f'case {case}: FAILED after the driver; files in {work}')
        return 1
    if rc == 0 and verdict == ['PASS']:
        log(f'case {case}: PASSED in {took:.1f} s')
        return 0
    log(f'case {case}: FAILED (driver exit {rc}) in {took:.1f} s; files in {work}')
    return 1


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    mode = ap.add_mutually_exclusive_group(required=True)
    mode.add_argument('--case', help='case file to run')
    mode.add_argument('--setup', action='store_true')
    mode.add_argument('--teardown', action='store_true')
    mode.add_argument('--which', action='store_true')
    ap.add_argument('--build')
    ap.add_argument('--stub')
    ap.add_argument('--driver')
    ap.add_argument('--stub64')
    ap.add_argument('--driver64')
    ap.add_argument('--arch', choices=('auto',) + wine_setup.WAYS, default='auto')
    ap.add_argument('--texts')
    ap.add_argument('--tool')
    ap.add_argument('--named-archive')
    ap.add_argument('--timeout', type=int, default=150)
    ap.add_argument('--tag', help='prefix of the work folder and screenshot names (a second way in one run)')
    ap.add_argument('--windows-program', action='store_true',
                    help='the case drives a 64-bit Windows program of ours (the maker), not the stub: '
                         '64-bit Wine with the 64-bit driver; ${STUB} stays the product stub')
    args = ap.parse_args()
    kind = 'x86_64' if args.windows_program else which_stub(args.arch)
    if args.which:
        print(kind or 'none')
        return 0
    if not args.build:
        ap.error('--build is needed')
    for name in ('case', 'stub', 'driver', 'stub64', 'driver64', 'texts', 'tool', 'named_archive'):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    if args.windows_program:
        if not args.driver64:
            loud_skip('a 64-bit Windows program is to be driven, but no 64-bit driver was given (--driver64)')
        args.driver = args.driver64
    elif kind == 'x86_64':
        if not (args.stub64 and args.driver64):
            loud_skip('the 64-bit test build was asked for, but not given (--stub64, --driver64)')
        args.stub, args.driver = args.stub64, args.driver64
    env = Env(args.build, kind)
    env.windows_program = args.windows_program
    if args.teardown:
        return teardown(env)
    if args.windows_program:
        bar = '=' * 72
        print(f'{bar}\n== PROGRAM UNDER TEST: a 64-bit Windows program of ours under 64-bit Wine '
              f'(not the stub)\n{bar}', flush=True)
    elif kind:
        announce(kind)
    if args.setup:
        return setup(env)
    env.check_tools()
    try:
        return run_case(args, env)
    finally:
        env.release_display()


if __name__ == '__main__':
    sys.exit(main())
