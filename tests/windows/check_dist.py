#!/usr/bin/env python3
"""Checks the Windows release zip: one top directory holding the README,
the programs (Windows executables) with the Z80 table beside Torvik.exe,
each other CPU's Torvik.exe beside its table, and a command for each.

    check_dist.py ZIP SOURCE_DIR
"""
import os
import sys
import zipfile

CPUS = ['z180', 'r800', 'z80n', 'sm83', 'ez80']


def main():
    path, source = sys.argv[1], sys.argv[2]
    archive = zipfile.ZipFile(path)
    names = {name.split('/', 1)[1] for name in archive.namelist() if '/' in name}
    top = {name.split('/', 1)[0] for name in archive.namelist()}
    problems = [] if len(top) == 1 else ['more than one top directory: %s' % sorted(top)]
    root = top.pop() + '/'

    def read(name):
        return archive.read(root + name) if name in names else None

    def table(cpu):
        with open(os.path.join(source, 'tables', cpu + '.tab'), 'rb') as f:
            return f.read()

    expected = {'README.md': None, 'bin/tkinstr.tab': table('z80')}
    for program in ['Torvik', 'otkdump', 'otklink', 'otkdeps']:
        expected['bin/%s.exe' % program] = b'MZ'
    for cpu in CPUS:
        expected['lib/torvik/%s/Torvik.exe' % cpu] = b'MZ'
        expected['lib/torvik/%s/tkinstr.tab' % cpu] = table(cpu)
        expected['bin/torvik-%s.cmd' % cpu] = b'@"%~dp0..\\lib\\torvik\\' + cpu.encode() + b'\\Torvik.exe" %*\r\n'
    for name, content in expected.items():
        found = read(name)
        if found is None:
            problems.append('missing: ' + name)
        elif content == b'MZ' and not found.startswith(b'MZ'):
            problems.append('not a Windows program: ' + name)
        elif content not in (None, b'MZ') and found != content:
            problems.append('not as expected: ' + name)
    for problem in problems:
        print(problem)
    print('%s: %d files checked, %d problem(s)' % (path, len(expected), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
