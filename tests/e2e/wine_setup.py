"""Choosing and starting Wine for the tests that run Windows programs: the
end-to-end cases of the stub (run_case.py) and the tests of vellicor.exe
(tests/windows/run_windows_tool.py).

Debian's plain `wine` wrapper prefers the 32-bit loader whenever it is
installed, even on machines that cannot execute 32-bit code; the 64-bit
loader is therefore named, together with WINEARCH=win64, WINELOADER and a
prefix of its own (a 64-bit prefix cannot serve 32-bit Wine).
"""
import fcntl
import os
import shutil
import subprocess
import sys
import time

SKIP = 77
WINE32_LOADER = '/usr/lib/wine/wine'      # Debian's wine32:i386
WINE64_LOADER = '/usr/lib/wine/wine64'    # Debian's wine64


def wine_environment(prefix, arch, lang='ja_JP.UTF-8'):
    """(wine command, environment) for running programs under Wine of `arch`
    ('i686' or 'x86_64') in `prefix`. `lang` is the locale, which sets
    Wine's ANSI code page (932 for Japanese)."""
    env = dict(os.environ)
    env.update({
        'WINEPREFIX': prefix,
        'WINEDEBUG': '-all',
        'WINEARCH': 'win64' if arch == 'x86_64' else 'win32',
        # Mono and Gecko installers would open dialogs and wait.
        'WINEDLLOVERRIDES': 'mscoree,mshtml=',
        'LANG': lang,
        'LC_ALL': lang,
    })
    if arch == 'x86_64':
        env['WINELOADER'] = WINE64_LOADER
        return WINE64_LOADER, env
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
