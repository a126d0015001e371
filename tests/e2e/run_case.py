#!/usr/bin/env python3
"""Runs one end-to-end case of the real stub under Wine on a virtual X display.

    run_case.py --case FILE --build DIR --stub EXE --driver EXE --texts texts.h [--tool vellicor]
                [--stub64 EXE --driver64 EXE] [--arch auto|i686|x86_64]
                [--named-archive make_named_archive]
    run_case.py --setup    --build DIR ...   (once per test run: Wine prefix and X display)
    run_case.py --teardown --build DIR ...   (stops what --setup started)
    run_case.py --which                      (prints which stub this machine runs, or "none")

Which stub runs: the 32-bit product stub (--stub, --driver) under 32-bit Wine
wherever the machine can execute 32-bit code; otherwise the 64-bit test build
of the same sources (--stub64, --driver64) under 64-bit Wine. Every case's
log says which, at its top.

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
from wine_setup import SKIP, WINE32_LOADER, WINE64_LOADER, ensure_prefix, wine_environment, winpath  # noqa: E402
import wine_setup  # noqa: E402
SCREEN = '1024x768x24'


def log(msg):
    print(f'e2e: {msg}', flush=True)


def loud_skip(what):
    wine_setup.loud_skip(f'END-TO-END TESTS SKIPPED: {what}',
                         'The real stub was NOT tested. Run scripts/setup.sh to install Wine, Xvfb and ImageMagick.')


def machine_runs_32bit():
    """True when the kernel executes 32-bit x86 programs: runs a tiny i386
    ELF program that exits with code 7 (some kernels refuse every i386
    program with "Exec format error", and 32-bit Wine with them)."""
    import struct
    import tempfile
    code = bytes([0xb8, 1, 0, 0, 0, 0xbb, 7, 0, 0, 0, 0xcd, 0x80])   # exit(7)
    vaddr = 0x08048000
    header = (b'\x7fELF' + bytes([1, 1, 1, 0]) + bytes(8)
              + struct.pack('<HHIIIIIHHHHHH', 2, 3, 1, vaddr + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0))
    size = 84 + len(code)
    segment = struct.pack('<IIIIIIII', 1, 0, vaddr, vaddr, size, size, 5, 0x1000)
    fd, path = tempfile.mkstemp(prefix='vellicor-i386-probe-')
    try:
        os.write(fd, header + segment + code)
        os.close(fd)
        os.chmod(path, 0o755)
        try:
            return subprocess.run([path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=10).returncode == 7
        except OSError:
            return False
    finally:
        os.remove(path)


def which_stub(arch='auto'):
    """'i686' (the 32-bit product stub under 32-bit Wine), 'x86_64' (the
    64-bit test build under 64-bit Wine) or None (no Wine that can run)."""
    if arch != 'auto':
        return arch
    if machine_runs_32bit() and os.access(WINE32_LOADER, os.X_OK):
        return 'i686'
    if os.access(WINE64_LOADER, os.X_OK):
        return 'x86_64'
    return None


def announce(kind):
    bar = '=' * 72
    if kind == 'i686':
        what = ('STUB UNDER TEST: the 32-bit PRODUCT stub (i686, 26,112 bytes) under 32-bit Wine')
    else:
        what = ('STUB UNDER TEST: the 64-bit TEST BUILD (x86_64) under 64-bit Wine: this machine\n'
                '== cannot execute 32-bit code, so the 32-bit product stub itself is NOT run here')
    print(f'{bar}\n== {what}\n{bar}', flush=True)


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
        # One prefix per Wine: a 64-bit prefix cannot serve 32-bit Wine.
        self.prefix = os.path.join(self.base, 'wineprefix' if kind != 'x86_64' else 'wineprefix64')
        self.display_file = os.path.join(self.base, 'display')
        os.makedirs(self.base, exist_ok=True)
        # Japanese locale: Wine's ANSI code page is then 932.
        self.wine, self.env = wine_environment(self.prefix, kind, 'ja_JP.UTF-8')
        self.xvfb = None  # our own Xvfb, when no shared one is running

    def check_tools(self):
        if self.kind is None:
            loud_skip('no Wine here that can run: 32-bit Wine needs a machine that executes 32-bit code, '
                      f'64-bit Wine needs {WINE64_LOADER} (Debian package wine64)')
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
    env.ensure_prefix()
    log(f'X display {display}, Wine prefix {env.prefix}')
    return 0


def teardown(env):
    if not shutil.which('wineserver'):
        return SKIP
    display = env.shared_display()
    if display:
        env.env['DISPLAY'] = display
    if os.path.isdir(env.prefix):
        subprocess.run(['wineserver', '-w'], env=env.env, timeout=60, stdin=subprocess.DEVNULL,
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
    ap.add_argument('--arch', choices=('auto', 'i686', 'x86_64'), default='auto')
    ap.add_argument('--texts')
    ap.add_argument('--tool')
    ap.add_argument('--named-archive')
    ap.add_argument('--timeout', type=int, default=150)
    args = ap.parse_args()
    kind = which_stub(args.arch)
    if args.which:
        print(kind or 'none')
        return 0
    if not args.build:
        ap.error('--build is needed')
    for name in ('case', 'stub', 'driver', 'stub64', 'driver64', 'texts', 'tool', 'named_archive'):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    if kind == 'x86_64':
        if not (args.stub64 and args.driver64):
            loud_skip('this machine runs only 64-bit Wine, and no 64-bit test build was given (--stub64, --driver64)')
        args.stub, args.driver = args.stub64, args.driver64
    env = Env(args.build, kind)
    if args.teardown:
        return teardown(env)
    if kind:
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
