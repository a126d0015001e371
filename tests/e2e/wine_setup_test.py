#!/usr/bin/env python3
"""Checks of the way choice and the emulated way's loader folder
(wine_setup.py), runnable without Wine starting a program."""
import os
import sys
import tempfile
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import wine_setup  # noqa: E402
import run_case  # noqa: E402


class WayChoice(unittest.TestCase):
    def test_named_way_wins_and_others_are_refused(self):
        for way in wine_setup.WAYS:
            with mock.patch.dict(os.environ, {'VELLICOR_E2E_WAY': way}):
                self.assertEqual(wine_setup.which_way(), way)
        with mock.patch.dict(os.environ, {'VELLICOR_E2E_WAY': 'i386'}):
            with self.assertRaises(SystemExit):
                wine_setup.which_way()

    def test_product_ways_come_first_and_the_test_build_only_when_asked_for(self):
        env = {k: v for k, v in os.environ.items() if k != 'VELLICOR_E2E_WAY'}
        cases = [
            # runs 32-bit, qemu (path, version), expected way
            (True, ('/usr/bin/qemu-i386', (10, 0)), 'i686'),
            (False, ('/usr/bin/qemu-i386', (10, 0)), 'i686-qemu'),
            (False, ('/usr/bin/qemu-i386', (8, 0)), 'i686-qemu'),
            (False, ('/usr/bin/qemu-i386', (7, 2)), None),   # 7.2 cannot serve
            (False, (None, None), None),
        ]
        for runs32, qemu, expected in cases:
            with mock.patch.dict(os.environ, env, clear=True), \
                 mock.patch.object(wine_setup, 'machine_runs_32bit', return_value=runs32), \
                 mock.patch.object(wine_setup, 'qemu_i386', return_value=qemu), \
                 mock.patch.object(os, 'access', return_value=True):
                self.assertEqual(run_case.which_stub('auto'), expected, (runs32, qemu))
                if expected is None:
                    # 64-bit Wine alone gives the test build only when it is named.
                    self.assertEqual(wine_setup.which_way(), 'x86_64')
                    self.assertIsNotNone(wine_setup.way_unavailable('i686-qemu'))


class LoaderFolder(unittest.TestCase):
    def test_loaders_are_copies_beside_the_qemu_script_and_wine_is_reachable(self):
        if not (os.access(wine_setup.WINE32_LOADER, os.X_OK) and os.access(wine_setup.WINE64_LOADER, os.X_OK)):
            self.skipTest('32-bit and 64-bit Wine are not installed')
        with tempfile.TemporaryDirectory() as base, \
             mock.patch.object(wine_setup, 'qemu_i386', return_value=('/opt/q/qemu-i386', (10, 0))):
            bindir = wine_setup.wow64_loaders(base)
            # Copies: /proc/self/exe of a link names Debian's folder, whose
            # 32-bit loader the kernel may refuse (or, worse, run natively).
            for name, source in (('wine64', wine_setup.WINE64_LOADER), ('wine-i386', wine_setup.WINE32_LOADER)):
                path = os.path.join(bindir, name)
                self.assertFalse(os.path.islink(path), name)
                with open(path, 'rb') as a, open(source, 'rb') as b:
                    self.assertEqual(a.read(), b.read(), name)
            with open(os.path.join(bindir, 'wine')) as f:
                script = f.read()
            self.assertIn('exec /opt/q/qemu-i386 -0 "$0" "$(dirname "$0")/wine-i386" "$@"', script)
            self.assertTrue(os.access(os.path.join(bindir, 'wine'), os.X_OK))
            # Wine's libraries and data at the places relative to the loaders.
            for rel, target in (('../x86_64-linux-gnu/wine', '/usr/lib/x86_64-linux-gnu/wine'),
                                ('../i386-linux-gnu/wine', '/usr/lib/i386-linux-gnu/wine'),
                                ('../../share/wine', '/usr/share/wine')):
                self.assertEqual(os.path.realpath(os.path.join(bindir, rel)), os.path.realpath(target), rel)
            self.assertTrue(os.path.exists(os.path.join(bindir, 'wineserver')))
            # Made once: a second call keeps the folder; another qemu remakes it.
            stamp = os.path.join(bindir, '.ready')
            before = os.stat(stamp).st_mtime_ns
            self.assertEqual(wine_setup.wow64_loaders(base), bindir)
            self.assertEqual(os.stat(stamp).st_mtime_ns, before)
            with mock.patch.object(wine_setup, 'qemu_i386', return_value=('/opt/r/qemu-i386', (9, 1))):
                wine_setup.wow64_loaders(base)
            with open(os.path.join(bindir, 'wine')) as f:
                self.assertIn('/opt/r/qemu-i386', f.read())


if __name__ == '__main__':
    unittest.main()
