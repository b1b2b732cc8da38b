"""Checks Windows packages of Skerrow.

usage: package_check.py CONFIG_CPP ZIP...

For each zip: its name, the exact file list under its top folder, each
program and module a PE file of the zip's machine (0x14C x86, 0x8664 x64)
that needs no compiler runtime DLL, each program carrying the zip's version,
Skerrow.ini naming every key the server reads (CONFIG_CPP) and no other,
each commented out, and the texts plain ASCII with CRLF line ends.
Exit 0 when every zip passes, 1 otherwise.
"""
import os
import re
import sys
import zipfile

from package_keys import ini_keys, server_keys
from package_layout import ARCHES, MODULES, PROGRAMS, TEXTS, ZIP_NAME, members, top_folder
from package_pe import IMAGE_FILE_DLL, imported_dlls, read_header

# No program in the package is near this; a larger member is not read whole.
MEMBER_LIMIT = 64 * 1024 * 1024
PLACEHOLDER = re.compile(rb'@[A-Z]+@')


def check_program(archive, name, member, arch, version):
    problems = []
    with archive.open(member) as stream:
        header, error = read_header(stream)
    if error:
        return [f'{name}: {error}']
    machine, characteristics = header
    wanted = ARCHES[arch]['machine']
    if machine != wanted:
        problems.append(f'{name}: machine {machine:#x}, not {wanted:#x} ({arch})')
    is_dll = bool(characteristics & IMAGE_FILE_DLL)
    if is_dll != (name in MODULES):
        problems.append(f'{name}: ' + ('a DLL, not a program' if is_dll else 'not a DLL'))
    if archive.getinfo(member).file_size > MEMBER_LIMIT:
        return problems + [f'{name}: larger than {MEMBER_LIMIT} bytes']
    data = archive.read(member)
    dlls, error = imported_dlls(data)
    if error:
        problems.append(f'{name}: imports: {error}')
    else:
        # The compiler's runtime DLLs (libstdc++-6.dll, libgcc_s_*.dll,
        # libwinpthread-1.dll) are on no field PC: everything links statically.
        runtime = [dll for dll in dlls if dll.lower().startswith('lib')]
        if runtime:
            problems.append(f'{name}: needs {", ".join(runtime)}; not linked statically')
    if name not in MODULES and version.encode() not in data:
        problems.append(f'{name}: does not carry the version {version}')
    return problems


def check_text(name, data):
    problems = []
    try:
        data.decode('ascii')
    except UnicodeDecodeError:
        problems.append(f'{name}: not plain ASCII')
    if data.count(b'\n') != data.count(b'\r\n') or data.count(b'\r') != data.count(b'\r\n'):
        problems.append(f'{name}: line ends not all CRLF')
    if not data.endswith(b'\r\n'):
        problems.append(f'{name}: last line without its CRLF')
    left = sorted(set(PLACEHOLDER.findall(data)))
    if left:
        problems.append(f'{name}: placeholders left: {b", ".join(left).decode()}')
    return problems


def check_ini(data, wanted):
    keys, active = ini_keys(data.decode('ascii', 'replace'))
    problems = []
    for section, key in sorted(wanted - keys):
        problems.append(f'Skerrow.ini: [{section}] {key} missing')
    for section, key in sorted(keys - wanted):
        problems.append(f'Skerrow.ini: [{section}] {key} is not read by the server')
    for line in active:
        problems.append(f'Skerrow.ini: not commented out: {line}')
    return problems


def check_zip(path, wanted_keys):
    match = ZIP_NAME.match(os.path.basename(path))
    if not match:
        return ['name not skerrow-<version>-windows-<x86|x64>.zip']
    version, arch = match.group('version'), match.group('arch')
    top = top_folder(version, arch)
    with zipfile.ZipFile(path) as archive:
        broken = archive.testzip()
        if broken:
            return [f'{broken}: damaged (CRC)']
        names = [n for n in archive.namelist() if not n.endswith('/')]
        expected = members(version, arch)
        if sorted(names) != expected:
            extra = sorted(set(names) - set(expected))
            missing = sorted(set(expected) - set(names))
            duplicated = len(names) != len(set(names))
            return [f'file list: missing {missing}, unexpected {extra}' +
                    (', duplicated names' if duplicated else '')]
        problems = []
        for name in sorted(PROGRAMS):
            problems += check_program(archive, name, f'{top}/{name}', arch, version)
        for name in sorted(TEXTS):
            data = archive.read(f'{top}/{name}')
            problems += check_text(name, data)
            if name == 'Skerrow.ini':
                problems += check_ini(data, wanted_keys)
    return problems


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding='utf-8') as f:
        wanted = server_keys(f.read())
    if not wanted:
        print(f'package check: no configuration keys found in {argv[1]}', file=sys.stderr)
        return 1
    failed = 0
    for path in argv[2:]:
        if not os.path.isfile(path):
            problems = ['no such file']
        else:
            problems = check_zip(path, wanted)
        if problems:
            failed += 1
            for problem in problems:
                print(f'FAIL {path}: {problem}')
        else:
            print(f'ok   {path}')
    print(f'{len(argv) - 2 - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
