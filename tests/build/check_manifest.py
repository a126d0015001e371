#!/usr/bin/env python3
"""Checks the application manifest of a stub: check_manifest.py STUB.exe

The resource of type 24 (manifest), id 1, must be there and be well-formed
XML that asks for no elevation (requestedExecutionLevel asInvoker), names
Windows 7, 8, 8.1 and 10/11 as supported, declares system DPI awareness and
depends on the common controls 6. Exit code 0 when it does, 1 otherwise.
"""
import struct
import sys
import xml.etree.ElementTree as ET

ASM_V1 = '{urn:schemas-microsoft-com:asm.v1}'
ASM_V3 = '{urn:schemas-microsoft-com:asm.v3}'
COMPAT = '{urn:schemas-microsoft-com:compatibility.v1}'
SETTINGS = '{http://schemas.microsoft.com/SMI/2005/WindowsSettings}'
SUPPORTED_OS = {
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': 'Windows 7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': 'Windows 8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': 'Windows 8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': 'Windows 10 and 11',
}


def resource(image, wanted_type, wanted_id):
    """The bytes of resource (type, id) of a PE image, or None."""
    pe = struct.unpack_from('<I', image, 0x3C)[0]
    if image[pe:pe + 4] != b'PE\0\0':
        raise SystemExit('not a PE image')
    sections, optional_size = struct.unpack_from('<H12xH', image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from('<H', image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from('<II', image, directories + 2 * 8)
    if not rsrc_size:
        return None
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            vsize, vaddr, rsize, raw = struct.unpack_from('<IIII', image, table + 40 * i + 8)
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return raw + rva - vaddr
        raise SystemExit(f'RVA {rva:#x} is in no section')

    base = offset(rsrc_rva)

    def entry(directory, wanted):
        named, ids = struct.unpack_from('<HH', image, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from('<II', image, base + directory + 16 + 8 * i)
            if wanted is None or (not name & 0x80000000 and name == wanted):
                return target
        return None

    level = entry(0, wanted_type)
    if level is None or not level & 0x80000000:
        return None
    level = entry(level & 0x7FFFFFFF, wanted_id)
    if level is None or not level & 0x80000000:
        return None
    data = entry(level & 0x7FFFFFFF, None)  # the first language
    if data is None or data & 0x80000000:
        return None
    rva, size = struct.unpack_from('<II', image, base + data)
    return image[offset(rva):offset(rva) + size]


def check(manifest):
    problems = []
    try:
        root = ET.fromstring(manifest)
    except ET.ParseError as e:
        return [f'the manifest is not well-formed XML: {e}']
    if root.tag != ASM_V1 + 'assembly' or root.get('manifestVersion') != '1.0':
        problems.append('the root is not <assembly manifestVersion="1.0"> of asm.v1')
    levels = root.findall(f'{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/'
                          f'{ASM_V3}requestedExecutionLevel')
    if [e.get('level') for e in levels] != ['asInvoker']:
        problems.append(f'requestedExecutionLevel is {[e.get("level") for e in levels]}, not asInvoker')
    if any(e.get('uiAccess', 'false') != 'false' for e in levels):
        problems.append('uiAccess is asked for')
    found = {e.get('Id') for e in root.findall(f'{COMPAT}compatibility/{COMPAT}application/{COMPAT}supportedOS')}
    for guid, name in SUPPORTED_OS.items():
        if guid not in found:
            problems.append(f'{name} is not named as supported')
    aware = root.findall(f'{ASM_V3}application/{ASM_V3}windowsSettings/{SETTINGS}dpiAware')
    if [e.text for e in aware] != ['true']:
        problems.append('system DPI awareness (dpiAware true) is not declared')
    controls = [e for e in root.findall(f'{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity')
                if e.get('name') == 'Microsoft.Windows.Common-Controls']
    if not controls or controls[0].get('version') != '6.0.0.0' or \
            controls[0].get('publicKeyToken') != '6595b64144ccf1df' or controls[0].get('type') != 'win32':
        problems.append('the dependency on the common controls 6 is missing or incomplete')
    return problems


def main(argv):
    if len(argv) != 1:
        sys.exit(__doc__)
    with open(argv[0], 'rb') as f:
        image = f.read()
    manifest = resource(image, 24, 1)
    if manifest is None:
        print(f'{argv[0]}: no manifest resource (type 24, id 1)')
        return 1
    problems = check(manifest)
    for p in problems:
        print(f'{argv[0]}: {p}')
    if not problems:
        print(f'{argv[0]}: manifest of {len(manifest)} bytes: asInvoker, Windows 7 to 10/11, '
              'system DPI aware, common controls 6')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
