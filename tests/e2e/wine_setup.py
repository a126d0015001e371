"""Choosing and starting Wine for the tests that run Windows programs: the
end-to-end cases of the stub (run_case.py) and the tests of vellicor.exe
(tests/windows/run_windows_tool.py).

Three ways to run Windows programs here, chosen per machine by `which_way`:
- 'i686': the kernel executes 32-bit code, so Debian's 32-bit Wine runs as
  it is (`wine`, a 32-bit prefix).
- 'i686-qemu': the kernel refuses 32-bit programs. Wine then runs in its
  old-style WoW64 arrangement: a 64-bit prefix, every 64-bit Wine process
  (wineserver, services, explorer, 64-bit tools) native, and only the 32-bit
  Wine loader (an i386 ELF program) under qemu-i386 user-mode emulation.
  Wine finds its loaders beside the running one (from /proc/self/exe), so a
  private loader folder (`wow64_loaders`) holds a copy of the 64-bit
  loader, a copy of the 32-bit one and a `wine` script that starts the
  latter under qemu; every start of a 32-bit process, from a 64-bit one or
  a 32-bit one, then goes through qemu. qemu must be version 8 or later
  (7.2 ignores MAP_FIXED_NOREPLACE, and every 32-bit Wine process then
  spends most of a minute in mmap at start).
- 'x86_64': 64-bit Wine only (`/usr/lib/wine/wine64`, WINEARCH=win64,
  WINELOADER and a prefix of its own). Debian's plain `wine` wrapper
  prefers the 32-bit loader whenever it is installed, even on machines that
  cannot execute 32-bit code, so the 64-bit loader is named.
"""
import fcntl
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
WINE32_LOADER = '/usr/lib/wine/wine'      # Debian's wine32:i386
WINE64_LOADER = '/usr/lib/wine/wine64'    # Debian's wine64
QEMU_MIN_VERSION = (8, 0)

# What each way is called in logs and in ctest's labels.
WAY_LABELS = {
    'i686': 'wine32-native',
    'i686-qemu': 'wine32-qemu-i386',
    'x86_64': 'wine64-test-build',
}


def machine_runs_32bit():
    """True when the kernel executes 32-bit x86 programs: runs a tiny i386
    ELF program that exits with code 7 (some kernels refuse every i386
    program with "Exec format error", and 32-bit Wine with them)."""
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


def qemu_i386():
    """(path, version) of the qemu-i386 user-mode emulator on PATH (or in
    /usr/bin), with version a tuple; (None, None) when there is none, and
    (path, version) with a version below QEMU_MIN_VERSION when it is too old."""
    path = shutil.which('qemu-i386') or ('/usr/bin/qemu-i386' if os.access('/usr/bin/qemu-i386', os.X_OK) else None)
    if not path:
        return None, None
    try:
        out = subprocess.run([path, '--version'], capture_output=True, text=True, timeout=30).stdout
    except OSError:
        return None, None
    m = re.search(r'version (\d+)\.(\d+)', out)
    return path, (int(m.group(1)), int(m.group(2))) if m else (0, 0)


WAYS = ('i686', 'i686-qemu', 'x86_64')


def which_way():
    """'i686', 'i686-qemu' or 'x86_64' (see above): the one that
    VELLICOR_E2E_WAY names, else the best this machine has (the product
    stub's ways first); None when no Wine can run here. The variable lets a
    machine that executes 32-bit code run the emulated way too, and a
    developer the fast 64-bit test build."""
    forced = os.environ.get('VELLICOR_E2E_WAY', '')
    if forced:
        if forced not in WAYS:
            raise SystemExit(f'VELLICOR_E2E_WAY={forced}: not one of {", ".join(WAYS)}')
        return forced
    if os.access(WINE32_LOADER, os.X_OK) and machine_runs_32bit():
        return 'i686'
    if os.access(WINE32_LOADER, os.X_OK) and os.access(WINE64_LOADER, os.X_OK):
        path, version = qemu_i386()
        if path and version >= QEMU_MIN_VERSION:
            return 'i686-qemu'
    if os.access(WINE64_LOADER, os.X_OK):
        return 'x86_64'
    return None


def way_unavailable(way):
    """Why `way` cannot run on this machine, or None when it can."""
    if way == 'i686':
        if not os.access(WINE32_LOADER, os.X_OK):
            return f'no 32-bit Wine ({WINE32_LOADER}, Debian package wine32:i386)'
        if not machine_runs_32bit():
            return 'this kernel does not execute 32-bit code'
    elif way == 'i686-qemu':
        for loader, pkg in ((WINE32_LOADER, 'wine32:i386'), (WINE64_LOADER, 'wine64')):
            if not os.access(loader, os.X_OK):
                return f'no {loader} (Debian package {pkg})'
        path, version = qemu_i386()
        if not path:
            return 'no qemu-i386 (Debian package qemu-user, version 8 or later)'
        if version < QEMU_MIN_VERSION:
            return (f'{path} is qemu {version[0]}.{version[1]}; version 8 or later is needed '
                    '(bookworm-backports has 10.0; scripts/setup.sh installs it)')
    elif not os.access(WINE64_LOADER, os.X_OK):
        return f'no 64-bit Wine ({WINE64_LOADER}, Debian package wine64)'
    return None


def wow64_loaders(base):
    """Makes (once) and returns the private loader folder of the 'i686-qemu'
    way below `base`: <base>/wow64/lib/wine holding copies of the two
    loaders, the `wine` script that runs the 32-bit one under qemu-i386, and
    links to the rest of Wine. Wine finds its libraries and data relative to
    its loader's folder (../x86_64-linux-gnu/wine, ../i386-linux-gnu/wine,
    ../../share/wine), so those are links too. The loaders are copies, not
    links: /proc/self/exe names the file itself, and a link would lead Wine
    back to Debian's folder and its 32-bit loader, which the kernel refuses."""
    qemu, version = qemu_i386()
    root = os.path.join(os.path.abspath(base), 'wow64')
    bindir = os.path.join(root, 'lib', 'wine')
    stamp = os.path.join(bindir, '.ready')
    want = f'{qemu} {version}\n'
    try:
        with open(stamp) as f:
            if f.read() == want:
                return bindir
    except OSError:
        pass
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(bindir)
    for arch_dir in ('x86_64-linux-gnu', 'i386-linux-gnu'):
        os.makedirs(os.path.join(root, 'lib', arch_dir))
        os.symlink(f'/usr/lib/{arch_dir}/wine', os.path.join(root, 'lib', arch_dir, 'wine'))
    os.makedirs(os.path.join(root, 'share'))
    os.symlink('/usr/share/wine', os.path.join(root, 'share', 'wine'))
    shutil.copy2(WINE64_LOADER, os.path.join(bindir, 'wine64'))
    shutil.copy2(WINE32_LOADER, os.path.join(bindir, 'wine-i386'))
    for name in ('wineserver', 'wineserver32', 'wineserver64'):
        if os.path.exists(f'/usr/lib/wine/{name}'):
            os.symlink(f'/usr/lib/wine/{name}', os.path.join(bindir, name))
    script = os.path.join(bindir, 'wine')
    with open(script, 'w') as f:
        f.write('#!/bin/sh\n'
                '# The 32-bit Wine loader under qemu-i386 user-mode emulation: this\n'
                '# kernel does not execute 32-bit code. "-0 $0" keeps the loader\'s\n'
                '# argv[0], from which Wine finds the loaders beside it.\n'
                f'exec {qemu} -0 "$0" "$(dirname "$0")/wine-i386" "$@"\n')
    os.chmod(script, 0o755)
    with open(stamp, 'w') as f:
        f.write(want)
    return bindir


def wine_environment(prefix, arch, lang='ja_JP.UTF-8', base=None):
    """(wine command, environment) for running programs under Wine of `arch`
    ('i686', 'i686-qemu' or 'x86_64', see above) in `prefix`. `lang` is the
    locale, which sets Wine's ANSI code page (932 for Japanese). The
    'i686-qemu' way keeps its loader folder below `base`."""
    env = dict(os.environ)
    env.update({
        'WINEPREFIX': prefix,
        'WINEDEBUG': '-all',
        'WINEARCH': 'win32' if arch == 'i686' else 'win64',
        # Mono and Gecko installers would open dialogs and wait.
        'WINEDLLOVERRIDES': 'mscoree,mshtml=',
        'LANG': lang,
        'LC_ALL': lang,
    })
    if arch == 'x86_64':
        env['WINELOADER'] = WINE64_LOADER
        return WINE64_LOADER, env
    if arch == 'i686-qemu':
        loader = os.path.join(wow64_loaders(base or os.path.dirname(prefix)), 'wine64')
        env['WINELOADER'] = loader
        return loader, env
    return 'wine', env


def loud_skip(what, advice):
    """Ends the test as skipped (exit code 77), loudly; with
    VELLICOR_REQUIRE_E2E=1 in the environment (CI) as failed."""
    bar = '!' * 72
    required = os.environ.get('VELLICOR_REQUIRE_E2E') == '1'
    print(f'{bar}\n!! {what}\n!! {advice}\n'
          + ('!! VELLICOR_REQUIRE_E2E=1: a skipped test counts as FAILED.\n' if required else '')
          + bar, flush=True)
    sys.exit(1 if required else SKIP)


def ensure_prefix(wine, env, prefix, lock_dir, log, after_create=None):
    """Creates the Wine prefix once; a lock keeps parallel runs from racing.
    `after_create(quiet)` may adjust the fresh prefix (registry settings)."""
    ready = os.path.join(prefix, '.vellicor-ready')
    os.makedirs(lock_dir, exist_ok=True)
    with open(os.path.join(lock_dir, os.path.basename(prefix) + '.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(ready):
            return
        log(f'creating the Wine prefix {prefix} (first run only)')
        shutil.rmtree(prefix, ignore_errors=True)
        t0 = time.time()
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        r = subprocess.run([wine, 'wineboot', '-i'], env=env, timeout=300, **quiet)
        subprocess.run(['wineserver', '-w'], env=env, timeout=300, **quiet)
        if r.returncode != 0 or not os.path.exists(os.path.join(prefix, 'system.reg')):
            raise SystemExit('wineboot failed to create the prefix ' + prefix)
        if after_create:
            after_create(quiet)
            subprocess.run(['wineserver', '-w'], env=env, timeout=300, **quiet)
        open(ready, 'w').close()
        log(f'Wine prefix ready in {time.time() - t0:.1f} s')


def winpath(path):
    """Unix path -> the path Wine's Z: drive gives it."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


if __name__ == '__main__':
    # `wine_setup.py available WAY`: prints "yes" when WAY can run here
    # (the build uses it to decide which ways its tests take).
    if len(sys.argv) == 3 and sys.argv[1] == 'available':
        why = way_unavailable(sys.argv[2])
        print('yes' if why is None else f'no: {why}')
        sys.exit(0)
    sys.exit('usage: wine_setup.py available WAY')
