#!/usr/bin/env python3
"""Cross-checks a Torvik instruction table against GNU binutils for z80.

--march names the CPU as binutils does (z80+full, z180, r800, z80n, gbz80,
ez80). Where binutils encodes a form otherwise than the CPU runs it, the
form is listed in HARDWARE with the bytes the CPU runs and how that is
known; such a form must give those bytes, and binutils must still differ
(an exception that binutils no longer needs is reported). Spellings that
binutils writes otherwise (GNU_SPELLING) are rewritten for it.

For every row of the table the script builds source statements with a
spread of operand values (immediates, index displacements, bit numbers,
relative jump distances), assembles them with Torvik and with
z80-unknown-coff-as, and compares the bytes statement by statement.

Torvik always reads "tkinstr.tab" from the directory of its executable,
so the script runs it through a symlink placed in a private directory
next to a copy of the table under test. --launcher runs it through
another program, such as wine64 for the Windows Torvik.exe.

Bytes are mapped back to statements through the line table of the Torvik
object file and through one label per statement on the binutils side,
so that a few thousand statements cost only a handful of processes.

Index displacements are written with their sign, (IX+5), (IX-5), and
(IX) for 0, and compared with binutils' (ix+5), (ix-5), (ix+0).

Typed rows (a lower-case type letter in the pattern, the opcode column in
emitted order) are read the same way: each operand gets the values of its
type, a signed byte one step past either end of its range must draw
error 226, and a high-page address just outside $FF00..$FFFF and 0..$FF
error 227.

Besides the byte comparison it checks that:
  * the table loads without any diagnostic and has at most 599 rows;
  * no pattern holds a subtracted wildcard such as (IX-*), nor (IX+*),
    which would refuse (IX-5): a displacement row is written (IX*);
  * no fixed (IX)/(IY) row with displacement 0 duplicates an (IX*) row;
  * a relative jump one step past either end of its range draws error 213;
  * a signed byte (d, e) one step past either end of -128..127 draws
    error 226 and nothing else, a high-page address (h) outside the page
    error 227;
  * a form that has only a fixed (IX)/(IY) row with displacement 0
    (BIT b,(IX), RLC (IX), LD (IX),n, ...) refuses (IX+5) and (IX-5)
    with error 405 and writes no object file.

Exit status: 0 when everything matches, 1 on any difference, 2 when a
tool fails to run properly, 77 when a binutils tool is not installed.
"""

import argparse
import bisect
import concurrent.futures
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

MAX_ROWS = 599
CHUNK = 2500              # statements per tool run; at most 4 bytes each

IMM8 = [0, 1, 127, 128, 255, -1]
IMM16 = [0, 1, 127, 128, 255, 0x1234, 0xFFFF, -1]
# Displacements as Torvik text and value: (IX) is displacement 0, and the
# older spellings (IX+0) and (IX+-5) must still give the same bytes.
DISP = [('', 0), ('+5', 5), ('+127', 127), ('-1', -1), ('-5', -5),
        ('-128', -128), ('+0', 0), ('+-5', -5)]
DISP_OUT = [('+128', 128), ('-129', -129)]
SIGNED = [-128, -1, 0, 127]
SIGNED_OUT = [128, -129]
HIGH = [0, 0x40, 0xFF, 0xFF00, 0xFF40, 0xFFFF]
HIGH_OUT = [0x100, 0xFEFF, 0x10000, -1]
# The type each letter of a typed row names, as the oracle's value kind,
# and the bytes of its own (0: added to the fixed byte before it).
TYPES = {'n': ('imm8', 1), 'd': ('disp', 1), 'e': ('signed', 1),
         'w': ('imm16', 2), 'm': ('imm16be', 2), 'r': ('rel', 1),
         'b': ('bit', 0), 'h': ('high', 1)}
# Values one step out of each kind's range, and the error they draw.
OUT_OF_RANGE = {'disp': (DISP_OUT, 226), 'signed': (SIGNED_OUT, 226),
                'high': (HIGH_OUT, 227)}

# Forms whose bytes on the CPU differ from binutils', by CPU (the -march
# value before any +extension): the statement as generated, upper case
# with single blanks, and the bytes the CPU runs.
HARDWARE = {
    # STOP is two bytes on the SM83: Nintendo's Game Boy programming manual
    # encodes it 10 00, and the CPU skips the byte after the opcode (Pan
    # Docs, and the emulators that pass the test ROMs); binutils emits 10
    # alone.
    'gbz80': {'STOP': '10 00'},
    # MULUB A,r is ED C1+8r on the R800 (11 rrr 001: the MSX turbo R
    # technical documentation and the MSX emulators agree); binutils
    # encodes ED C5+8r.
    'r800': {'MULUB A,B': 'ED C1', 'MULUB A,C': 'ED C9',
             'MULUB A,D': 'ED D1', 'MULUB A,E': 'ED D9'},
}

# Spellings of the tables that binutils writes otherwise, by CPU: regular
# expressions over the lower-case binutils statement, applied in order.
GNU_SPELLING = {
    'gbz80': [(r'\[', '('), (r'\]', ')'),
              (r'\(hli\)', '(hl+)'), (r'\(hld\)', '(hl-)'),
              (r'\(65280\+c\)', '(c)'),
              (r'^ld (a,\(c\)|\(c\),a)$', r'ldh \1'),
              (r'^ld hl,sp\+', 'ldhl sp,'), (r'^jp hl$', 'jp (hl)'),
              (r'^(and|xor|or|cp) a,', r'\1 '),
              (r'^(add|adc|sub|sbc) ([^,]*)$', r'\1 a,\2')],
    'z80n': [(r'^mirror a$', 'mirror')],
}
FIXED_DISP = ['+5', '-5']
INDEX_RE = re.compile(r'\(I[XY]\)')
BITS = list(range(8))
REL_IN = [-128, -127, -2, -1, 0, 1, 2, 126, 127]
REL_OUT = [-129, 128]

MSG_RE = re.compile(r'^(Error|Warning) #(\d+) in (.*), line (\d+): (.*)$')


class Row:
    def __init__(self, lineno, mnemonic, pattern, opcode, length):
        self.lineno = lineno
        self.mnemonic = mnemonic
        self.pattern = pattern
        self.opcode = opcode            # bytes in table order
        self.length = length
        self.typed = any(c in TYPES for c in pattern)

    @property
    def operand_bytes(self):
        return self.length - len(self.opcode)

    def __str__(self):
        return 'row %d "%s %s"' % (self.lineno, self.mnemonic,
                                   self.pattern or '""')


class Form:
    """One source statement in both syntaxes."""

    def __init__(self, row, torvik, gnu, error=None):
        self.row = row
        self.torvik = torvik
        self.gnu = gnu
        self.error = error              # the error a refused form draws


def parse_int(text):
    """The "%i" conversion: decimal, 0x hex, leading-0 octal."""
    m = re.match(r'[+-]?(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)', text)
    if not m:
        raise ValueError(text)
    return int(m.group(0), 0)


def parse_opcode(text):
    out = []
    i = 0
    while i < len(text):
        m = re.match(r'[0-9a-fA-F]{1,2}', text[i:i + 2])
        if not m:
            break
        out.append(int(m.group(0), 16))
        i += 2
    return out


def typed_length(row, column):
    """The bytes a typed row's opcode column gives, or None when the
    column cannot be read or does not place each operand once."""
    letters = sorted(c for c in row.pattern if c in TYPES)
    placed, total = [], 0
    for m in re.finditer(r'([0-9A-F]{2})(\+([a-z]))?|([a-z])|(.)', column):
        if m.group(5):
            return None
        if m.group(1):
            total += 1
            if m.group(3):
                if TYPES.get(m.group(3), ('', 1))[1] != 0:
                    return None
                placed.append(m.group(3))
        else:
            if TYPES.get(m.group(4), ('', 0))[1] == 0:
                return None
            placed.append(m.group(4))
            total += TYPES[m.group(4)][1]
    return total if sorted(placed) == letters else None


def load_table(path):
    rows, problems = [], []
    with open(path, newline=None) as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip('\n').split(';', 1)[0]
            if not line:
                continue
            fields = line.split()
            if len(fields) < 5:
                problems.append('line %d: fewer than five fields' % lineno)
                continue
            try:
                length = parse_int(fields[3])
                parse_int(fields[4])
            except ValueError:
                problems.append('line %d: bad number' % lineno)
                continue
            pattern = '' if fields[1].startswith('"') else fields[1]
            opcode = parse_opcode(fields[2])
            row = Row(lineno, fields[0], pattern, opcode, length)
            if row.typed:
                row.opcode = []
                if typed_length(row, fields[2]) != length:
                    problems.append('%s: opcode column "%s" does not give '
                                    '%d bytes' % (row, fields[2], length))
            else:
                n = row.operand_bytes
                relative = '@' in pattern
                if not 1 <= length <= 8 or not opcode or n < 0 or n > 2 \
                        or (relative and n != 1):
                    problems.append('%s: length %d does not fit %d opcode '
                                    'bytes' % (row, length, len(opcode)))
            if re.search(r'-[*!@a-z]', pattern):
                problems.append('%s: subtracted wildcard' % row)
            if re.search(r'\(I[XY]\+[*!@a-z]', pattern):
                problems.append('%s: (IX+*) refuses (IX-5); write (IXd)'
                                % row)
            if re.search(r'[a-z]', re.sub('[%s]' % ''.join(TYPES), '',
                                          pattern)):
                problems.append('%s: lower-case letter names no type' % row)
            rows.append(row)
    if len(rows) > MAX_ROWS:
        problems.append('%d rows, at most %d load' % (len(rows), MAX_ROWS))
    general = {(r.mnemonic.upper(), r.pattern) for r in rows}
    for row in rows:
        for letter in '*d':
            if is_fixed_disp(row) and (row.mnemonic.upper(), INDEX_RE.sub(
                    lambda m: m.group(0)[:-1] + letter + ')',
                    row.pattern)) in general:
                problems.append('%s: duplicates the (IX%s) row'
                                % (row, letter))
    return rows, problems


def is_fixed_disp(row):
    """A row with a fixed (IX)/(IY) whose opcode holds displacement 0."""
    emitted = row.opcode[::-1]
    return not row.typed and bool(INDEX_RE.search(row.pattern)) \
        and len(emitted) >= 3 \
        and emitted[0] in (0xDD, 0xFD) and emitted[2] == 0


NUM_RE = re.compile(r'\$[0-9A-F]+|\b[0-9][0-9A-F]*H\b|\b0X[0-9A-F]+\b|\b[0-9]+\b')


def gnu_fixed(text):
    """Fixed pattern text in binutils syntax: lower case, decimal numbers."""
    def num(m):
        s = m.group(0)
        if s.startswith('$'):
            v = int(s[1:], 16)
        elif s.endswith('H'):
            v = int(s[:-1], 16)
        elif s.startswith('0X'):
            v = int(s[2:], 16)
        else:
            v = int(s, 10)
        return str(v)
    return NUM_RE.sub(num, text).lower()


def torvik_num(v):
    if v in (0x1234, 0xFFFF):
        return '$%X' % v
    return str(v)


CAPTURES = '*!@' + ''.join(TYPES)


def split_pattern(pattern):
    """Pattern as a list of fixed strings and capture characters."""
    return [p for p in re.split('([%s])' % re.escape(CAPTURES), pattern)
            if p != '']


def wildcard_kind(parts, i, row):
    w = parts[i]
    if row.typed:
        return TYPES[w][0]
    if w == '!':
        return 'bit'
    if w == '@':
        return 'rel'
    before = parts[i - 1] if i else ''
    if re.search(r'\(I[XY]$', before):
        return 'disp'
    return 'imm16' if row.operand_bytes == 2 else 'imm8'


def instantiate(row, parts, values):
    """Builds (torvik, gnu) operand texts from one value per wildcard."""
    t, g = [], []
    vi = iter(values)
    for i, p in enumerate(parts):
        if p not in CAPTURES:
            t.append(p)
            g.append(gnu_fixed(p))
            continue
        kind = wildcard_kind(parts, i, row)
        v = next(vi)
        if kind == 'disp':
            text, v = v
            t.append(text)
            g.append('%+d' % v)             # (ix+0), (ix+5), (ix-5)
        elif kind == 'imm16be':
            t.append(torvik_num(v))
            g.append(str(v))
        elif kind == 'high':
            t.append('$%X' % v if v >= 0 else str(v))
            g.append(str(v & 0xFF))         # binutils takes the byte only
        elif kind == 'rel':
            dist = v + row.length           # $ is the statement's first byte
            t.append('$%+d' % dist)
            g.append('.%+d' % dist)
        else:
            t.append(torvik_num(v))
            g.append(str(v))
    return ''.join(t), ''.join(g)


def value_lists(row, parts):
    kinds = [wildcard_kind(parts, i, row)
             for i, p in enumerate(parts) if p in CAPTURES]
    pools = {'bit': BITS, 'rel': REL_IN, 'disp': DISP, 'signed': SIGNED,
             'imm8': IMM8, 'imm16': IMM16, 'imm16be': IMM16, 'high': HIGH}
    combos = [[]]
    for k in kinds:
        combos = [c + [v] for c in combos for v in pools[k]]
    return kinds, combos


def statement(mnemonic, operand, sep=' '):
    return (mnemonic + sep + operand) if operand else mnemonic


def gnu_spelling(text, rules):
    for pattern, replacement in rules:
        text = re.sub(pattern, replacement, text)
    return text


def normalized(text):
    """A statement as HARDWARE names it: upper case, single blanks."""
    return ' '.join(text.split()).upper()


def out_of_range(row, parts, kinds, first):
    """Statements with one operand one step out of its type's range, the
    other operands at their first values. Untyped rows wrap as they always
    did."""
    out = []
    for k, kind in enumerate(kinds if row.typed else []):
        values_out, error = OUT_OF_RANGE.get(kind, ([], None))
        for v in values_out:
            values = list(first)
            values[k] = v
            t, _ = instantiate(row, parts, values)
            out.append(Form(row, statement(row.mnemonic, t), None, error))
    return out


def build_forms(rows, spelling):
    """Returns (forms to compare, out-of-range jumps, refused (IX+d),
    out-of-range typed operands)."""
    forms, rel_out, refused, wide = [], [], [], []
    for row in rows:
        parts = split_pattern(row.pattern)
        kinds, combos = value_lists(row, parts)
        for n, values in enumerate(combos):
            t, g = instantiate(row, parts, values)
            g = gnu_spelling(statement(row.mnemonic.lower(), g), spelling)
            forms.append(Form(row, statement(row.mnemonic, t), g))
            if n == 0:
                # The same statement in lower case with a tab after the
                # mnemonic: mnemonics and fixed letters ignore case.
                forms.append(Form(row, statement(row.mnemonic.lower(),
                                                 t.lower(), '\t'), g))
        wide += out_of_range(row, parts, kinds, combos[0])
        if 'rel' in kinds:
            for d in REL_OUT:
                t, _ = instantiate(row, parts, [d])
                rel_out.append(Form(row, statement(row.mnemonic, t), None))
        if is_fixed_disp(row):
            t, _ = instantiate(row, parts, combos[-1])
            for d in FIXED_DISP:
                text = INDEX_RE.sub(lambda m: m.group(0)[:-1] + d + ')', t)
                refused.append(Form(row, statement(row.mnemonic, text), None))
    return forms, rel_out, refused, wide


def run(cmd, cwd, timeout=120):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True,
                          timeout=timeout)


# ----------------------------------------------------------------------
# binutils side


def gnu_run(batch, tools, workdir):
    """One binutils run over the forms of `batch`: (bytes per form, or None
    when the run failed; notes by position, only the errors of a failed
    run)."""
    src = os.path.join(workdir, 'g.s')
    obj = os.path.join(workdir, 'g.o')
    binf = os.path.join(workdir, 'g.bin')
    with open(src, 'w') as f:
        for k, form in enumerate(batch):
            f.write('L%d: %s\n' % (k, form.gnu))
        f.write('Lend:\n')
    p = run([tools.gas, '-march=' + tools.march, '-o', obj, src], workdir)
    notes, errors = {}, {}
    for line in p.stderr.splitlines():
        m = re.match(r'.*?:(\d+): (Error|Warning): (.*)', line)
        if m and 1 <= int(m.group(1)) <= len(batch):
            k = int(m.group(1)) - 1
            notes[k] = '; '.join(filter(None, [notes.get(k),
                                               'binutils: ' + m.group(3)]))
            if m.group(2) == 'Error':
                errors[k] = notes[k]
    if p.returncode != 0:
        if not errors:
            raise RuntimeError('binutils failed:\n' + p.stderr)
        return None, errors
    p = run([tools.objcopy, '-O', 'binary', obj, binf], workdir)
    if p.returncode != 0:
        raise RuntimeError('objcopy failed:\n' + p.stderr)
    with open(binf, 'rb') as f:
        code = f.read()
    p = run([tools.nm, obj], workdir)
    if p.returncode != 0:
        raise RuntimeError('nm failed:\n' + p.stderr)
    addr = {}
    for line in p.stdout.splitlines():
        m = re.match(r'([0-9a-fA-F]+) \w (L\d+|Lend)$', line.strip())
        if m:
            addr[m.group(2)] = int(m.group(1), 16)
    ends = ['L%d' % k for k in range(1, len(batch))] + ['Lend']
    return [code[addr['L%d' % k]:addr[end]] for k, end in enumerate(ends)], \
        notes


def assemble_dropping_refused(forms, attempt, tries):
    """Assembles `forms` with `attempt`, which makes one run over a list of
    forms and gives (bytes per form, or None when the run gave no code;
    notes by position in the list). When a run gives no code, the forms it
    named are dropped and the rest assembled again, at most `tries` runs.
    Returns (bytes or None per form, notes per form index)."""
    result = [None] * len(forms)
    notes = {}
    pending = list(range(len(forms)))
    for _attempt in range(tries):
        if not pending:
            break
        got, found = attempt([forms[i] for i in pending])
        for k, note in found.items():
            notes[pending[k]] = note
        if got is None:
            pending = [i for k, i in enumerate(pending) if k not in found]
            continue
        for k, idx in enumerate(pending):
            result[idx] = got[k]
        pending = []
    return result, notes


def gnu_assemble(forms, tools, workdir):
    """Returns (list of byte strings or None per form, messages)."""
    return assemble_dropping_refused(
        forms, lambda batch: gnu_run(batch, tools, workdir), 3)


# ----------------------------------------------------------------------
# Torvik side


def read_object(path):
    """Returns (code, [(line, address), ...]) of a Torvik object file."""
    with open(path, 'rb') as f:
        data = f.read()
    pos = 0

    def u16():
        nonlocal pos
        v = struct.unpack_from('<H', data, pos)[0]
        pos += 2
        return v

    size = u16()
    code = data[pos:pos + size]
    pos += size
    for _ in range(u16()):              # local relocations
        u16()
    for _ in range(u16()):              # external symbols
        pos += data[pos] + 2
        for _ in range(u16()):
            u16()
    for _ in range(u16()):              # public symbols
        pos += data[pos] + 2
        u16()
    lines = [(u16(), u16()) for _ in range(u16())]
    if pos != len(data):
        raise RuntimeError('%s: %d bytes after the line table'
                           % (path, len(data) - pos))
    return code, lines


def unix_path(path):
    """A path as a Windows program under Wine prints it (Z:\\dir\\file),
    back on the file system it names; others stay as they are."""
    if re.match(r'^[A-Za-z]:\\', path):
        return path[2:].replace('\\', '/')
    return path


class Torvik:
    def __init__(self, binary, table, root, launcher=()):
        self.root = root
        self.table = table
        self.launcher = list(launcher)
        self.exe = os.path.join(root, 'Torvik')
        os.symlink(os.path.abspath(binary), self.exe)
        shutil.copyfile(table, os.path.join(root, 'tkinstr.tab'))
        self.serial = 0

    def assemble(self, lines):
        """Assembles source lines; returns (object or None, messages, out).

        messages maps a source line number to the diagnostics on it."""
        self.serial += 1
        cwd = os.path.join(self.root, 'run%d' % self.serial)
        os.mkdir(cwd)
        with open(os.path.join(cwd, 'src.asm'), 'w') as f:
            for line in lines:
                f.write(' ' + line + '\n')
        p = run(self.launcher + [self.exe, 'src.asm', 'out.otk'], cwd)
        msgs = {}
        for line in p.stdout.splitlines():
            m = MSG_RE.match(line)
            if m:
                key = int(m.group(4)) if m.group(3) == 'src.asm' else 0
                msgs.setdefault(key, []).append(
                    (m.group(1), int(m.group(2)), m.group(5), m.group(3)))
        objpath = os.path.join(cwd, 'out.otk')
        obj = read_object(objpath) if os.path.exists(objpath) else None
        return obj, msgs, p.stdout

    def check_load(self):
        """The table must load silently, from the copy beside the symlink."""
        obj, msgs, out = self.assemble(['NOP'])
        problems = []
        m = re.search(r'Loading instruction table "(.*)"', out)
        if not m:
            problems.append('no "Loading instruction table" line:\n' + out)
        else:
            loaded = unix_path(m.group(1))
            if not os.path.isabs(loaded):
                loaded = os.path.join(self.root, 'run%d' % self.serial, loaded)
            if not os.path.exists(loaded) or \
                    open(loaded, 'rb').read() != open(self.table, 'rb').read():
                problems.append('Torvik loaded "%s", not the table under test'
                                % m.group(1))
        for key, items in sorted(msgs.items()):
            for kind, code, text, fname in items:
                problems.append('table load: %s #%d in %s: %s'
                                % (kind, code, fname, text))
        if obj is None or obj[0] != b'\x00':
            problems.append('" NOP" did not assemble to 00:\n' + out)
        return problems

    def run_forms(self, batch):
        """One run over the forms of `batch`: (bytes per form, or None when
        no object file was written; notes by position)."""
        obj, msgs, out = self.assemble([form.torvik for form in batch])
        notes = {line - 1: '; '.join('%s #%d: %s' % (k, c, t)
                                     for k, c, t, _ in items)
                 for line, items in msgs.items() if 1 <= line <= len(batch)}
        if obj is None:
            if not notes:
                raise RuntimeError('Torvik wrote no object file and '
                                   'named no statement:\n' + out)
            return None, notes
        code, lines = obj
        starts = {}
        for line, address in lines:
            starts.setdefault(line, address)
        order = sorted(starts.values()) + [len(code)]
        got = []
        for k in range(len(batch)):
            if k + 1 in starts:
                a = starts[k + 1]
                got.append(code[a:order[bisect.bisect_right(order, a)]])
            else:
                got.append(None)
                notes.setdefault(k, 'no line record')
        return got, notes

    def assemble_forms(self, forms):
        """Returns (bytes or None per form, notes per form index)."""
        return assemble_dropping_refused(forms, self.run_forms, 4)


# ----------------------------------------------------------------------


def hexs(b):
    return ' '.join('%02X' % x for x in b) if b is not None else '(none)'


def chunks(seq, n):
    for i in range(0, len(seq), n):
        yield seq[i:i + n]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--torvik', help='path of the Torvik binary')
    ap.add_argument('--table', required=True, help='instruction table to check')
    ap.add_argument('--launcher', default='',
                    help='command words to start Torvik with (e.g. wine64)')
    ap.add_argument('--as', dest='gas', default='z80-unknown-coff-as')
    ap.add_argument('--objcopy', default='z80-unknown-coff-objcopy')
    ap.add_argument('--nm', default=None,
                    help='symbol lister (default: derived from --objcopy)')
    ap.add_argument('--march', default='z80+full',
                    help='binutils -march value (default z80+full)')
    ap.add_argument('--workdir', help='keep the work files in this directory')
    ap.add_argument('--binutils-only', action='store_true',
                    help='only check that binutils takes every generated form')
    tools = ap.parse_args()
    if tools.nm is None:
        tools.nm = re.sub(r'objcopy$', 'nm', tools.objcopy)
    if not tools.binutils_only and not tools.torvik:
        ap.error('--torvik is required')
    for tool in [tools.gas, tools.objcopy, tools.nm]:
        if shutil.which(tool) is None:
            print('oracle: cannot find %s' % tool)
            return 77

    cpu = tools.march.split('+')[0]
    rows, problems = load_table(tools.table)
    failures = ['table: ' + p for p in problems]
    forms, rel_out, refused, wide = build_forms(rows,
                                                GNU_SPELLING.get(cpu, []))

    if tools.workdir:
        os.makedirs(tools.workdir, exist_ok=True)
        root = tempfile.mkdtemp(prefix='oracle-', dir=tools.workdir)
    else:
        root = tempfile.mkdtemp(prefix='torvik-oracle-')
    try:
        failures += check(tools, root, forms, rel_out, refused, wide,
                          HARDWARE.get(cpu, {}))
    finally:
        if not tools.workdir:
            shutil.rmtree(root, ignore_errors=True)

    checked = len(forms) + (0 if tools.binutils_only
                            else len(rel_out) + len(refused) + len(wide))
    for f in failures:
        print(f)
    print('%s: %d rows, %d forms checked, %d difference(s)'
          % (tools.table, len(rows), checked, len(failures)))
    return 1 if failures else 0


def compare(form, tres, gres, why, hardware, used):
    """The failure for one form, or None: Torvik must give binutils' bytes,
    or the CPU's where HARDWARE says that binutils differs from it."""
    key = normalized(form.torvik)
    shown = '%s: "%s": torvik %s, binutils "%s" %s' % (
        form.row, form.torvik.replace('\t', ' '), hexs(tres), form.gnu,
        hexs(gres))
    why = ' (' + why + ')' if why else ''
    if key in hardware:
        used.add(key)
        cpu = bytes.fromhex(hardware[key])
        if gres == cpu:
            return shown + ': binutils now gives the bytes the CPU runs, ' \
                'the exception is not needed' + why
        return None if tres == cpu else \
            shown + ', the CPU runs %s%s' % (hexs(cpu), why)
    return None if tres is not None and tres == gres else shown + why


def check(tools, root, forms, rel_out, refused, wide, hardware):
    failures = []
    batches = list(chunks(forms, CHUNK))
    gdirs = []
    for n in range(len(batches)):
        d = os.path.join(root, 'gnu%d' % n)
        os.mkdir(d)
        gdirs.append(d)
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        gjobs = [pool.submit(gnu_assemble, b, tools, d)
                 for b, d in zip(batches, gdirs)]
        if tools.binutils_only:
            for b, job in zip(batches, gjobs):
                res, notes = job.result()
                for i, form in enumerate(b):
                    if res[i] is None:
                        failures.append('%s: "%s": %s' % (
                            form.row, form.gnu, notes.get(i, 'no bytes')))
            return failures

        tv = Torvik(tools.torvik, tools.table, root, tools.launcher.split())
        problems = tv.check_load()
        if problems:
            return problems
        used = set()
        for b, job in zip(batches, gjobs):
            tres, tnotes = tv.assemble_forms(b)
            gres, gnotes = job.result()
            for i, form in enumerate(b):
                why = '; '.join(x for x in (tnotes.get(i), gnotes.get(i)) if x)
                failure = compare(form, tres[i], gres[i], why, hardware, used)
                if failure:
                    failures.append(failure)
        failures += ['"%s": a hardware exception that names no form of the '
                     'table' % key for key in sorted(set(hardware) - used)]

    # Jumps one step out of range: each alone, so that every one of them
    # must draw its own error 213.
    for form in rel_out:
        obj, msgs, _ = tv.assemble([form.torvik])
        codes = [c for _, c, _, _ in msgs.get(1, [])]
        if obj is not None or 213 not in codes:
            failures.append('%s: "%s": expected error 213, got %s%s' % (
                form.row, form.torvik, codes or 'none',
                ' and an object file' if obj is not None else ''))

    # Typed operands one step out of range, one statement a line: each line
    # draws its type's error (226, 227) alone, and no object file is written.
    if wide:
        obj, msgs, _ = tv.assemble([form.torvik for form in wide])
        if obj is not None:
            failures.append('operands out of range: an object file '
                            'was written')
        for n, form in enumerate(wide, 1):
            got = [(k, c) for k, c, _, _ in msgs.get(n, [])]
            if got != [('Error', form.error)]:
                failures.append('%s: "%s": expected only error %d, got %s'
                                % (form.row, form.torvik, form.error,
                                   got or 'none'))

    # A nonzero displacement where only the displacement-0 row exists:
    # one error 405 naming the mnemonic, and no object file.
    for form in refused:
        obj, msgs, _ = tv.assemble([form.torvik])
        items = msgs.get(1, []) + msgs.get(0, [])
        expected = [('Error', 405, 'Unrecognized argument format for "%s"'
                     ' instruction' % form.row.mnemonic)]
        got = [(k, c, t) for k, c, t, _ in items]
        if obj is not None or got != expected:
            failures.append('%s: "%s": expected only error 405, got %s%s' % (
                form.row, form.torvik,
                ['%s #%d: %s' % g for g in got] or 'none',
                ' and an object file' if obj is not None else ''))
    return failures


if __name__ == '__main__':
    try:
        sys.exit(main())
    except (RuntimeError, OSError, subprocess.TimeoutExpired) as e:
        print('oracle: %s' % e)
        sys.exit(2)
