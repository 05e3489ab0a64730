#!/usr/bin/env python3
"""Benchmark workloads for Torvik and three other Z80 assemblers.

Every workload is built once as an abstract program (labels, assignments,
instructions, data, comments, include files) and then written out in the
source syntax of each assembler:

    torvik   name = expr, .db/.dw, #include "f", @local labels, (ix+-5)
    pasmo    name: equ expr, defb/defw, include "f"
    z80asm   as pasmo (its CB-prefixed (ix) forms need an explicit +0)
    gnu      name = expr, .db/.dw, .include "f"  (GNU as for z80, COFF)

The generator also encodes the program itself, so each workload comes with
the code bytes every assembler has to produce (expected.bin) and the
addresses of the 16-bit fields that hold a module address (expected.relocs,
one decimal address a line, the order Torvik records them in).

Workloads, all within Torvik's module limits (16384 symbols, 16384 code
bytes, 65534 intermediate lines, 8192 relocations):

    symbols       about 16200 names: 3/4 assignments, 1/4 labels on
                  one-byte instructions, referenced through ld hl,nn,
                  .dw lists and the assignments themselves
    code          close to 16384 bytes of varied instructions
    lines         about 60000 lines over 25 files, mostly comments
    scale-NNNNN   the symbol-heavy shape at 1000 .. 16000 symbols
    names-NNNNN   the same shape at 4000 and 16000 symbols named in schemes
                  that defeat a weak hash: numbered, common prefixes, a long
                  shared prefix, one character apart

Usage:
    gen.py OUTDIR            OUTDIR/<workload>/main.asm (Torvik), main.pasmo,
                             main.z80asm, main.s (GNU as), their includes
                             (part01.asm, part01.pasmo, ...) and
                             expected.bin, expected.relocs
    gen.py --check DIR       the same with the Torvik sources only
    gen.py --list            print the workload names

Output depends only on the fixed seeds below: two runs write identical files.
"""

import argparse
import os
import random
import sys

DIALECTS = ("torvik", "pasmo", "z80asm", "gnu")
# The four sources of a workload stand side by side in one directory, told
# apart by their suffixes.
SUFFIX = {"torvik": ".asm", "pasmo": ".pasmo", "z80asm": ".z80asm", "gnu": ".s"}

# Module limits the workloads must respect.
MAX_CODE = 16384
MAX_SYMBOLS = 16384
MAX_LINES = 65534
MAX_RELOCS = 8192
MAX_LINE_LENGTH = 1022

SCALE_SIZES = (1000, 2000, 4000, 8000, 16000)
NAMES_SIZES = (4000, 16000)
SYMBOLS_SIZE = 16200

INDENT = "        "


# ---------------------------------------------------------------------------
# Expressions


class Num:
    """A number written in one of the notations all four assemblers read."""

    def __init__(self, value, fmt="dec"):
        self.value = value
        self.fmt = fmt

    def render(self, dialect):
        v = self.value
        if self.fmt == "hex":
            return "$%X" % v
        if self.fmt == "bin":
            return "%" + format(v, "b")
        if self.fmt == "chr":
            return "'%c'" % v
        return str(v)


class Sym:
    """A reference to a symbol; a local label carries the label it lives under."""

    def __init__(self, name, scope=None):
        self.name = name
        self.scope = scope

    @property
    def key(self):
        return "%s__%s" % (self.scope, self.name) if self.scope else self.name

    def render(self, dialect):
        if self.scope and dialect == "torvik":
            return "@" + self.name
        return self.key


class Expr:
    """A sum of terms, each added or subtracted. Only + and - are used, so the
    value is the same whether an assembler reads left to right or by
    precedence."""

    def __init__(self, terms, spaced=False):
        self.terms = terms  # list of (sign, Num | Sym)
        self.spaced = spaced

    @staticmethod
    def of(term, spaced=False):
        return Expr([(1, term)], spaced)

    def render(self, dialect):
        out = []
        for i, (sign, term) in enumerate(self.terms):
            text = term.render(dialect)
            if i == 0:
                out.append(("-" if sign < 0 else "") + text)
            else:
                op = "+" if sign > 0 else "-"
                out.append((" %s " % op if self.spaced else op) + text)
        return "".join(out)

    def value(self, env):
        total = 0
        for sign, term in self.terms:
            total += sign * (term.value if isinstance(term, Num) else env.value(term.key))
        return total

    def degree(self, env):
        """How many times the module's own address enters the value."""
        return sum(sign * env.degree(term.key) for sign, term in self.terms if isinstance(term, Sym))


class Disp:
    """An index displacement: (ix+5), and (ix+-5) or (ix-5) for a negative one."""

    def __init__(self, d):
        self.d = d

    def render(self, dialect):
        if self.d >= 0:
            return "+%d" % self.d
        return ("+-%d" if dialect == "torvik" else "-%d") % -self.d


class IdxZero:
    """(ix) with no displacement; z80asm drops the displacement byte of the
    CB-prefixed forms unless it is written out."""

    def __init__(self, reg):
        self.reg = reg

    def render(self, dialect):
        return "(%s)" % self.reg if dialect == "torvik" else "(%s+0)" % self.reg


def render_parts(parts, dialect):
    return "".join(p if isinstance(p, str) else p.render(dialect) for p in parts)


# ---------------------------------------------------------------------------
# Program items. Each item renders one source line per dialect and, if it
# lays down code, encodes itself against the symbol environment.


class Comment:
    def __init__(self, text, indented=False):
        self.text = text
        self.indented = indented

    def render(self, dialect):
        return (INDENT if self.indented else "") + ";" + self.text


class Blank:
    def render(self, dialect):
        return ""


class Insn:
    """One instruction. `code` lists its bytes: an int is an opcode byte,
    ('b', Expr) an 8-bit value, ('w', Expr) a 16-bit value, ('r', Expr) a
    relative jump target, ('d', int) an index displacement."""

    def __init__(self, parts, code, comment=None):
        self.parts = parts
        self.code = code
        self.comment = comment
        self.size = sum(2 if isinstance(c, tuple) and c[0] == "w" else 1 for c in self.code)

    def text(self, dialect):
        return render_parts(self.parts, dialect)

    def render(self, dialect):
        line = INDENT + self.text(dialect)
        if self.comment:
            line += "  ;" + self.comment
        return line

    def encode(self, env, pc, out, relocs):
        start = pc
        for c in self.code:
            if isinstance(c, int):
                out.append(c)
                continue
            kind, arg = c
            if kind == "d":
                check(-128 <= arg <= 127, "displacement %d" % arg)
                out.append(arg & 0xFF)
            elif kind == "b":
                v = arg.value(env)
                check(0 <= v <= 255 and arg.degree(env) == 0, "8-bit operand %d" % v)
                out.append(v)
            elif kind == "r":
                d = arg.value(env) - (start + self.size)
                check(-128 <= d <= 127 and arg.degree(env) == 1, "relative jump %d" % d)
                out.append(d & 0xFF)
            elif kind == "w":
                v = arg.value(env)
                deg = arg.degree(env)
                check(0 <= v <= 65535 and deg in (0, 1), "16-bit operand %d" % v)
                if deg:
                    relocs.append(len(out))  # out holds the module's code so far
                out.append(v & 0xFF)
                out.append(v >> 8)


class Label:
    def __init__(self, sym, insn=None, comment=None):
        self.sym = sym
        self.insn = insn
        self.comment = comment

    def render(self, dialect):
        if self.sym.scope and dialect == "torvik":
            line = "@%s:" % self.sym.name
        else:
            line = "%s:" % self.sym.key
        if self.insn:
            line += " " + self.insn.text(dialect)
        if self.comment:
            line += "  ;" + self.comment
        return line


class Assign:
    def __init__(self, name, expr):
        self.name = name
        self.expr = expr

    def render(self, dialect):
        e = self.expr.render(dialect)
        if dialect in ("pasmo", "z80asm"):
            return "%s: equ %s" % (self.name, e)
        return "%s = %s" % (self.name, e)


class Words:
    def __init__(self, exprs, spaced=True):
        self.exprs = exprs
        self.spaced = spaced
        self.size = 2 * len(exprs)

    def render(self, dialect):
        word = "defw" if dialect in ("pasmo", "z80asm") else ".dw"
        sep = ", " if self.spaced else ","
        return INDENT + word + " " + sep.join(e.render(dialect) for e in self.exprs)


class Bytes:
    """A byte list: strings (printable ASCII without quotes, backslashes,
    semicolons or equals signs) and 8-bit expressions."""

    def __init__(self, items):
        self.items = [Expr.of(i) if isinstance(i, Num) else i for i in items]
        self.size = sum(len(i) if isinstance(i, str) else 1 for i in items)

    def render(self, dialect):
        word = "defb" if dialect in ("pasmo", "z80asm") else ".db"
        parts = ['"%s"' % i if isinstance(i, str) else i.render(dialect) for i in self.items]
        return INDENT + word + " " + ",".join(parts)


class Include:
    def __init__(self, filename):
        self.filename = filename

    def render(self, dialect):
        name = self.filename + SUFFIX[dialect]
        if dialect == "torvik":
            return '#include "%s"' % name
        if dialect == "gnu":
            return INDENT + '.include "%s"' % name
        return INDENT + 'include "%s"' % name


def check(cond, what):
    if not cond:
        raise SystemExit("gen.py: workload out of range: " + what)


# ---------------------------------------------------------------------------
# The program: files of items, laid out and encoded in include order.


class Env:
    def __init__(self):
        self.values = {}
        self.degrees = {}

    def define(self, key, value, degree):
        check(key not in self.values, "duplicate symbol " + key)
        self.values[key] = value
        self.degrees[key] = degree

    def value(self, key):
        check(key in self.values, "undefined symbol " + key)
        return self.values[key]

    def degree(self, key):
        return self.degrees[key]


class Program:
    def __init__(self, name):
        self.name = name
        self.files = {"main": []}  # file name without suffix -> items
        self.order = ["main"]

    def file(self, name):
        if name not in self.files:
            self.files[name] = []
            self.order.append(name)
        return self.files[name]

    def walk(self, fname="main"):
        for item in self.files[fname]:
            if isinstance(item, Include):
                yield from self.walk(item.filename)
            else:
                yield item

    def build(self):
        """Lay the program out, define every symbol, encode the code and check
        the module limits. Returns (code bytes, relocation addresses)."""
        env = Env()
        pc = 0
        lines = 0
        for item in self.walk():
            lines += 1
            if isinstance(item, Label):
                env.define(item.sym.key, pc, 1)
                if item.insn:
                    pc += item.insn.size
            elif isinstance(item, Assign):
                env.define(item.name, item.expr.value(env), item.expr.degree(env))
                v = env.values[item.name]
                check(0 <= v <= 65535 and env.degrees[item.name] in (0, 1), "assignment %s" % item.name)
            elif isinstance(item, (Insn, Words, Bytes)):
                pc += item.size
        code = []
        relocs = []
        for item in self.walk():
            insn = item.insn if isinstance(item, Label) else item
            if isinstance(insn, Insn):
                insn.encode(env, len(code), code, relocs)
            elif isinstance(item, Words):
                for e in item.exprs:
                    v = e.value(env)
                    deg = e.degree(env)
                    check(0 <= v <= 65535 and deg in (0, 1), "word %d" % v)
                    if deg:
                        relocs.append(len(code))
                    code += [v & 0xFF, v >> 8]
            elif isinstance(item, Bytes):
                for i in item.items:
                    if isinstance(i, str):
                        code += [ord(c) for c in i]
                    else:
                        v = i.value(env)
                        check(0 <= v <= 255 and i.degree(env) == 0, "byte %d" % v)
                        code.append(v)
        check(len(code) == pc, "layout and encoding disagree")
        check(len(code) <= MAX_CODE, "%d code bytes" % len(code))
        check(len(env.values) <= MAX_SYMBOLS, "%d symbols" % len(env.values))
        check(lines <= MAX_LINES, "%d lines" % lines)
        check(len(relocs) <= MAX_RELOCS, "%d relocations" % len(relocs))
        self.stats = {"code": len(code), "symbols": len(env.values), "lines": lines, "relocs": len(relocs)}
        return bytes(code), relocs

    def write(self, directory, dialect):
        os.makedirs(directory, exist_ok=True)
        for fname in self.order:
            text = []
            for item in self.files[fname]:
                line = item.render(dialect)
                check(len(line) <= MAX_LINE_LENGTH, "line of %d characters" % len(line))
                text.append(line + "\n")
            with open(os.path.join(directory, fname + SUFFIX[dialect]), "w", newline="\n") as f:
                f.write("".join(text))


# ---------------------------------------------------------------------------
# Instruction vocabulary

R8 = ["b", "c", "d", "e", "h", "l", "(hl)", "a"]
R8_NOHL = [0, 1, 2, 3, 4, 5, 7]
RP = ["bc", "de", "hl", "sp"]
QQ = ["bc", "de", "hl", "af"]
CC = ["nz", "z", "nc", "c", "po", "pe", "p", "m"]
ALU = [("add a,", 0), ("adc a,", 1), ("sub ", 2), ("sbc a,", 3), ("and ", 4), ("xor ", 5), ("or ", 6), ("cp ", 7)]
ROT = [("rlc", 0), ("rrc", 1), ("rl", 2), ("rr", 3), ("sla", 4), ("sra", 5), ("srl", 7)]
BITOPS = [("bit", 0x40), ("res", 0x80), ("set", 0xC0)]
IDX = [("ix", 0xDD), ("iy", 0xFD)]

ONE_BYTE = [
    ("nop", 0x00), ("ex de,hl", 0xEB), ("ex af,af'", 0x08), ("exx", 0xD9), ("daa", 0x27),
    ("cpl", 0x2F), ("scf", 0x37), ("ccf", 0x3F), ("rlca", 0x07), ("rrca", 0x0F), ("rla", 0x17),
    ("rra", 0x1F), ("di", 0xF3), ("ei", 0xFB), ("ld sp,hl", 0xF9), ("ex (sp),hl", 0xE3),
    ("ld a,(bc)", 0x0A), ("ld a,(de)", 0x1A), ("ld (bc),a", 0x02), ("ld (de),a", 0x12),
]
ED_OPS = [
    ("ldir", 0xB0), ("lddr", 0xB8), ("ldi", 0xA0), ("ldd", 0xA8), ("cpir", 0xB1), ("cpi", 0xA1),
    ("neg", 0x44), ("rld", 0x6F), ("rrd", 0x67), ("reti", 0x4D), ("retn", 0x45), ("ld a,i", 0x57),
    ("ld i,a", 0x47), ("ld a,r", 0x5F), ("im 0", 0x46), ("im 1", 0x56), ("im 2", 0x5E), ("otir", 0xB3),
    ("inir", 0xB2), ("outi", 0xA3),
]


def one_byte_insn(rnd):
    """A random one-byte instruction, for label lines and filler."""
    k = rnd.randrange(6)
    if k == 0:
        d, s = rnd.choice(R8_NOHL), rnd.choice(R8_NOHL)
        return Insn(["ld %s,%s" % (R8[d], R8[s])], [0x40 | d << 3 | s])
    if k == 1:
        name, op = rnd.choice(ALU)
        r = rnd.randrange(8)
        return Insn([name + R8[r]], [0x80 | op << 3 | r])
    if k == 2:
        r = rnd.randrange(8)
        if rnd.random() < 0.5:
            return Insn(["inc " + R8[r]], [0x04 | r << 3])
        return Insn(["dec " + R8[r]], [0x05 | r << 3])
    if k == 3:
        q = rnd.randrange(4)
        if rnd.random() < 0.5:
            return Insn(["push " + QQ[q]], [0xC5 | q << 4])
        return Insn(["pop " + QQ[q]], [0xC1 | q << 4])
    if k == 4:
        p = rnd.randrange(4)
        return rnd.choice([
            Insn(["inc " + RP[p]], [0x03 | p << 4]),
            Insn(["dec " + RP[p]], [0x0B | p << 4]),
            Insn(["add hl," + RP[p]], [0x09 | p << 4]),
        ])
    text, op = rnd.choice(ONE_BYTE)
    return Insn([text], [op])


# ---------------------------------------------------------------------------
# Names and comments

WORDS = [
    "port", "buf", "ptr", "len", "cnt", "tmp", "key", "scr", "tile", "map", "spr", "snd", "ram",
    "rom", "vec", "tbl", "msg", "str", "flag", "mask", "row", "col", "pos", "vel", "ink", "paper",
    "beep", "joy", "life", "score", "level", "timer", "frame", "font", "char", "attr",
]
TEXT_WORDS = [
    "load", "the", "next", "byte", "from", "table", "into", "register", "pair", "and", "check",
    "carry", "flag", "before", "loop", "back", "to", "start", "of", "screen", "row", "update",
    "sprite", "position", "keep", "counter", "in", "memory", "save", "restore", "interrupt",
    "handler", "clear", "buffer", "copy", "block", "compare", "result", "with", "zero", "set",
    "bit", "port", "value", "read", "keyboard", "wait", "for", "frame", "sync", "draw", "tile",
]


def make_name(rnd, i, prefix):
    return "%s_%s%d" % (rnd.choice(WORDS), prefix, i)


# Names as generated tables and numbered code name things, in four schemes
# taken in turn: numbered (sym00000 for assignments, lab00000 for labels),
# a few common prefixes, one long shared prefix, and names that differ from
# one base name in a single character. A table's hash must spread them all.
MODULES = ["player", "enemy", "screen", "sound", "input", "level"]
LONG_PREFIX = "level_data_generated_table_entry_"
ONE_CHAR_BASES = {"k": "spritepatterntable", "l": "interruptvectorslot"}
ALPHABET = "abcdefghijklmnopqrstuvwxyz"


def one_char_name(base, j):
    """The j-th name that differs from base in one character (then from base
    with a number after it, once every position and letter is used)."""
    pos = j % len(base)
    others = [c for c in ALPHABET if c != base[pos]]
    letter = others[(j // len(base)) % len(others)]
    round_ = j // (len(base) * len(others))
    return base[:pos] + letter + base[pos + 1:] + (str(round_) if round_ else "")


def scheme_name(rnd, i, prefix):
    # Each run of four takes every scheme once, rotated from run to run so
    # that labels, every fourth of which is local and unnamed here, get all.
    j = i // 4
    scheme = (i + j) % 4
    if scheme == 0:
        return "%s%05d" % ("lab" if prefix == "l" else "sym", j)
    if scheme == 1:
        return "%s_%s_%s%d" % (rnd.choice(MODULES), rnd.choice(WORDS), prefix, j)
    if scheme == 2:
        return "%s%s%05d" % (LONG_PREFIX, prefix, j)
    return one_char_name(ONE_CHAR_BASES[prefix], j)


def sentence(rnd, lo, hi):
    words = []
    length = rnd.randint(lo, hi)
    while sum(len(w) + 1 for w in words) < length:
        words.append(rnd.choice(TEXT_WORDS))
    return " ".join(words)


def number(rnd, value):
    """value as a Num in a random notation that suits its size."""
    r = rnd.random()
    if value < 256 and 65 <= value <= 90 and r < 0.15:
        return Num(value, "chr")
    if value < 64 and r < 0.3:
        return Num(value, "bin")
    if r < 0.6:
        return Num(value, "hex")
    return Num(value)


# ---------------------------------------------------------------------------
# (a) and (d): symbol-heavy


def symbols_program(name, nsyms, seed, namer=make_name):
    """nsyms names: a quarter labels, each on a one-byte instruction (every
    fourth one a local label), the rest assignments built from earlier names.
    References: an ld hl,nn for every 16 names and a .dw item for every 4.
    namer(rnd, i, "l" or "k") names the i-th label or assignment."""
    rnd = random.Random(seed)
    prog = Program(name)
    main = prog.files["main"]
    main.append(Comment(" symbol-heavy workload, %d names" % nsyms))
    nlabels = nsyms // 4
    nassign = nsyms - nlabels
    n_ld = nsyms // 16
    n_dw = nsyms // 4

    earlier = []  # global names defined so far (assignments may use them)
    labels = []  # top-level labels defined so far
    top = None
    locals_here = []  # Sym of the locals defined under the current label

    # Plan: the order of definitions, labels spread evenly among assignments.
    kinds = ["L"] * nlabels + ["A"] * nassign
    rnd.shuffle(kinds)
    kinds[0] = "L"  # a top-level label first
    # All global names are fixed up front so that code may refer forward.
    plan = []
    nl = na = 0
    for k in kinds:
        if k == "L":
            local = top is not None and nl % 4 == 3
            plan.append(("L", "lp%d" % nl if local else namer(rnd, nl, "l"), local))
            nl += 1
            if not local:
                top = plan[-1][1]
        else:
            plan.append(("A", namer(rnd, na, "k"), False))
            na += 1
    top = None
    all_globals = [nm for _, nm, local in plan if not local]  # code may refer forward

    # References are spread over the definitions in proportion.
    refs_per_def_ld = n_ld / len(plan)
    refs_per_def_dw = n_dw / len(plan)
    acc_ld = acc_dw = 0.0
    dw_pending = []

    def pick_earlier():
        """A name defined above: half the time a recent one."""
        if rnd.random() < 0.5:
            return earlier[-rnd.randint(1, min(len(earlier), 64))]
        return earlier[rnd.randrange(len(earlier))]

    def ref_expr(spaced):
        """A reference for ld hl,nn or .dw: any global name (also one defined
        further down), a local of the current label, now and then plus a small
        constant."""
        r = rnd.random()
        if r < 0.15 and locals_here:
            sym = rnd.choice(locals_here)
        else:
            sym = Sym(rnd.choice(all_globals))
        if rnd.random() < 0.2:
            return Expr([(1, sym), (1, Num(rnd.randint(1, 30)))], spaced)
        return Expr.of(sym)

    for kind, nm, local in plan:
        if kind == "L":
            sym = Sym(nm, top if local else None)
            if not local and dw_pending:
                # a pending list may name locals of the label that ends here
                main.append(Words(dw_pending, spaced=rnd.random() < 0.5))
                dw_pending = []
            main.append(Label(sym, one_byte_insn(rnd)))
            if local:
                locals_here.append(sym)
            else:
                top = nm
                labels.append(nm)
                earlier.append(nm)
                locals_here = []
        else:
            r = rnd.random()
            spaced = rnd.random() < 0.5
            if r < 0.25 or not earlier:
                expr = Expr.of(number(rnd, rnd.randint(0, 60000)))
            elif r < 0.70:
                d = rnd.randint(1, 200)
                sign = 1 if rnd.random() < 0.6 else -1
                expr = Expr([(1, Sym(pick_earlier())), (sign, number(rnd, d))], spaced)
            elif r < 0.90:
                a, b = pick_earlier(), pick_earlier()
                expr = Expr([(1, Sym(a)), (-1, Sym(b)), (1, number(rnd, rnd.randint(0, 99)))], spaced)
            else:
                lab = rnd.choice(labels)
                expr = Expr([(1, Sym(lab)), (1, Num(rnd.randint(0, 99)))], spaced)
            main.append(Assign(nm, expr))
            earlier.append(nm)

        acc_ld += refs_per_def_ld
        acc_dw += refs_per_def_dw
        while acc_ld >= 1:
            acc_ld -= 1
            e = ref_expr(False)
            main.append(Insn(["ld hl,", e], [0x21, ("w", e)]))
        while acc_dw >= 1:
            acc_dw -= 1
            dw_pending.append(ref_expr(True))
            if len(dw_pending) == 8:
                main.append(Words(dw_pending, spaced=rnd.random() < 0.5))
                dw_pending = []
    if dw_pending:
        main.append(Words(dw_pending))
    main.append(Insn(["ret"], [0xC9]))
    fix_ranges(prog)
    return prog


def fix_ranges(prog):
    """Expressions are drawn from names alone; once the layout is known, make
    every value fit 0..65535 with an address degree of 0 or 1 by ordering the
    two names of a difference and by choosing the sign of the constant.
    Assignments are settled in order (each sees the final values of the names
    above it), then the 16-bit references, which may name symbols further on."""
    pc = 0
    val = {}
    deg = {}
    for item in prog.walk():
        if isinstance(item, Label):
            val[item.sym.key] = pc
            deg[item.sym.key] = 1
            pc += item.insn.size if item.insn else 0
        elif isinstance(item, (Insn, Words, Bytes)):
            pc += item.size

    def evaluate(terms):
        v = d = 0
        for s, t in terms:
            v += s * (t.value if isinstance(t, Num) else val[t.key])
            d += s * (0 if isinstance(t, Num) else deg[t.key])
        return v, d

    def fits(terms):
        v, d = evaluate(terms)
        return 0 <= v <= 65535 and d in (0, 1)

    def settle(e):
        syms = [t for _, t in e.terms if isinstance(t, Sym)]
        nums = [t for _, t in e.terms if isinstance(t, Num)]
        tries = []
        if len(syms) == 2:
            a, b = syms
            tries = [[(1, a), (-1, b)] + [(1, n) for n in nums], [(1, b), (-1, a)] + [(1, n) for n in nums]]
            syms = [a]
        if len(syms) == 1:
            tries += [[(1, syms[0])] + [(1, n) for n in nums], [(1, syms[0])] + [(-1, n) for n in nums]]
        for terms in [e.terms] + tries:
            if fits(terms):
                e.terms = terms
                return evaluate(terms)
        raise SystemExit("gen.py: no fitting form for " + e.render("torvik"))

    for item in prog.walk():
        if isinstance(item, Assign):
            val[item.name], deg[item.name] = settle(item.expr)
    for item in prog.walk():
        insn = item.insn if isinstance(item, Label) else item
        if isinstance(insn, Insn):
            for c in insn.code:
                if isinstance(c, tuple) and c[0] == "w":
                    settle(c[1])
        elif isinstance(item, Words):
            for e in item.exprs:
                settle(e)


# ---------------------------------------------------------------------------
# (b): code-heavy


class CodeGen:
    """Random instructions over a set of constants and block labels."""

    def __init__(self, rnd, consts, labels, data_labels):
        self.rnd = rnd
        self.consts = consts  # (name, value) with value < 256
        self.labels = labels  # global code labels, any may be named
        self.data_labels = data_labels

    def imm8(self):
        rnd = self.rnd
        r = rnd.random()
        if r < 0.25:
            name, v = rnd.choice(self.consts)
            if rnd.random() < 0.3 and v < 200:
                return Expr([(1, Sym(name)), (1, Num(rnd.randint(1, 55)))])
            return Expr.of(Sym(name))
        return Expr.of(number(rnd, rnd.randint(0, 255)))

    def imm16(self):
        rnd = self.rnd
        r = rnd.random()
        if r < 0.45:
            e = Expr.of(Sym(rnd.choice(self.labels)))
        elif r < 0.6:
            e = Expr.of(Sym(rnd.choice(self.data_labels)))
        elif r < 0.75:
            name, _ = rnd.choice(self.consts)
            e = Expr([(1, Sym(name)), (1, number(rnd, rnd.randint(256, 60000)))])
        else:
            return Expr.of(number(rnd, rnd.randint(0, 65535)))
        if rnd.random() < 0.15:
            e.terms.append((1, Num(rnd.randint(1, 9))))
        return e

    def addr16(self):
        rnd = self.rnd
        if rnd.random() < 0.7:
            return Expr.of(Sym(rnd.choice(self.data_labels)))
        return Expr.of(number(rnd, rnd.randint(0x4000, 0xFFFF)))

    def disp(self):
        return Disp(self.rnd.randint(-128, 127))

    def insn(self):
        rnd = self.rnd
        k = rnd.randrange(24)
        if k < 3:
            return one_byte_insn(rnd)
        if k == 3:
            r = rnd.randrange(8)
            e = self.imm8()
            return Insn(["ld %s," % R8[r], e], [0x06 | r << 3, ("b", e)])
        if k == 4:
            name, op = rnd.choice(ALU)
            e = self.imm8()
            return Insn([name, e], [0xC6 | op << 3, ("b", e)])
        if k == 5:
            (reg, pfx), (name, op), d = rnd.choice(IDX), rnd.choice(ALU), self.disp()
            return Insn([name + "(%s" % reg, d, ")"], [pfx, 0x86 | op << 3, ("d", d.d)])
        if k == 6:
            (reg, pfx), r, d = rnd.choice(IDX), rnd.choice(R8_NOHL), self.disp()
            if rnd.random() < 0.5:
                return Insn(["ld %s,(%s" % (R8[r], reg), d, ")"], [pfx, 0x46 | r << 3, ("d", d.d)])
            return Insn(["ld (%s" % reg, d, "),%s" % R8[r]], [pfx, 0x70 | r, ("d", d.d)])
        if k == 7:
            (reg, pfx), d = rnd.choice(IDX), self.disp()
            inc = rnd.random() < 0.5
            return Insn(["inc (%s" % reg if inc else "dec (%s" % reg, d, ")"], [pfx, 0x34 if inc else 0x35, ("d", d.d)])
        if k == 8:
            p, e = rnd.randrange(4), self.imm16()
            return Insn(["ld %s," % RP[p], e], [0x01 | p << 4, ("w", e)])
        if k == 9:
            (reg, pfx), e = rnd.choice(IDX), self.imm16()
            return Insn(["ld %s," % reg, e], [pfx, 0x21, ("w", e)])
        if k == 10:
            a = self.addr16()
            c = rnd.randrange(8)
            if c == 0:
                return Insn(["ld hl,(", a, ")"], [0x2A, ("w", a)])
            if c == 1:
                return Insn(["ld (", a, "),hl"], [0x22, ("w", a)])
            if c == 2:
                return Insn(["ld a,(", a, ")"], [0x3A, ("w", a)])
            if c == 3:
                return Insn(["ld (", a, "),a"], [0x32, ("w", a)])
            if c == 4:
                p = rnd.choice([0, 1, 3])
                return Insn(["ld %s,(" % RP[p], a, ")"], [0xED, 0x4B | p << 4, ("w", a)])
            if c == 5:
                p = rnd.choice([0, 1, 3])
                return Insn(["ld (", a, "),%s" % RP[p]], [0xED, 0x43 | p << 4, ("w", a)])
            reg, pfx = rnd.choice(IDX)
            if c == 6:
                return Insn(["ld %s,(" % reg, a, ")"], [pfx, 0x2A, ("w", a)])
            return Insn(["ld (", a, "),%s" % reg], [pfx, 0x22, ("w", a)])
        if k == 11:
            p = rnd.randrange(4)
            return rnd.choice([
                Insn(["adc hl," + RP[p]], [0xED, 0x4A | p << 4]),
                Insn(["sbc hl," + RP[p]], [0xED, 0x42 | p << 4]),
            ])
        if k == 12:
            reg, pfx = rnd.choice(IDX)
            p = rnd.randrange(4)
            other = ["bc", "de", reg, "sp"][p]
            return rnd.choice([
                Insn(["add %s,%s" % (reg, other)], [pfx, 0x09 | p << 4]),
                Insn(["inc " + reg], [pfx, 0x23]),
                Insn(["dec " + reg], [pfx, 0x2B]),
                Insn(["push " + reg], [pfx, 0xE5]),
                Insn(["pop " + reg], [pfx, 0xE1]),
                Insn(["ex (sp)," + reg], [pfx, 0xE3]),
                Insn(["ld sp," + reg], [pfx, 0xF9]),
                Insn(["jp (%s)" % reg], [pfx, 0xE9]),
            ])
        if k == 13:
            (name, op), r = rnd.choice(ROT), rnd.randrange(8)
            return Insn(["%s %s" % (name, R8[r])], [0xCB, op << 3 | r])
        if k == 14:
            (name, base), b, r = rnd.choice(BITOPS), rnd.randrange(8), rnd.randrange(8)
            return Insn(["%s %d,%s" % (name, b, R8[r])], [0xCB, base | b << 3 | r])
        if k == 15:
            reg, pfx = rnd.choice(IDX)
            if rnd.random() < 0.6:
                (name, base), b = rnd.choice(BITOPS), rnd.randrange(8)
                return Insn(["%s %d," % (name, b), IdxZero(reg)], [pfx, 0xCB, 0x00, base | b << 3 | 6])
            name, op = rnd.choice(ROT)
            return Insn([name + " ", IdxZero(reg)], [pfx, 0xCB, 0x00, op << 3 | 6])
        if k == 16:
            e = Expr.of(Sym(rnd.choice(self.labels)))
            c = rnd.randrange(4)
            if c == 0:
                return Insn(["jp ", e], [0xC3, ("w", e)])
            if c == 1:
                return Insn(["call ", e], [0xCD, ("w", e)])
            cc = rnd.randrange(8)
            if c == 2:
                return Insn(["jp %s," % CC[cc], e], [0xC2 | cc << 3, ("w", e)])
            return Insn(["call %s," % CC[cc], e], [0xC4 | cc << 3, ("w", e)])
        if k == 17:
            if rnd.random() < 0.3:
                return Insn(["ret"], [0xC9])
            cc = rnd.randrange(8)
            return Insn(["ret " + CC[cc]], [0xC0 | cc << 3])
        if k == 18:
            t = rnd.randrange(8)
            return Insn(["rst $%02X" % (t * 8)], [0xC7 | t << 3])
        if k == 19:
            text, op = rnd.choice(ED_OPS)
            return Insn([text], [0xED, op])
        if k == 20:
            e = self.imm8()
            if rnd.random() < 0.5:
                return Insn(["in a,(", e, ")"], [0xDB, ("b", e)])
            return Insn(["out (", e, "),a"], [0xD3, ("b", e)])
        if k == 21:
            r = rnd.choice(R8_NOHL)
            if rnd.random() < 0.5:
                return Insn(["in %s,(c)" % R8[r]], [0xED, 0x40 | r << 3])
            return Insn(["out (c),%s" % R8[r]], [0xED, 0x41 | r << 3])
        if k == 22:
            e = self.imm8()
            return Insn(["ld (hl),", e], [0x36, ("b", e)])
        return None  # a relative jump, placed by the block builder


def code_program(name, seed):
    """Blocks of 12 to 30 instructions (at most about 105 bytes each) under a
    top-level label, with local labels as targets of jr and djnz inside the
    block; jp and call name any block. Constants first, one-byte filler up to
    the code limit, and a data area of labelled words, bytes and strings."""
    rnd = random.Random(seed)
    prog = Program(name)
    main = prog.files["main"]
    main.append(Comment(" code-heavy workload"))
    consts = []
    for i in range(48):
        nm = make_name(rnd, i, "c")
        v = rnd.randint(0, 255)
        consts.append((nm, v))
        main.append(Assign(nm, Expr.of(number(rnd, v))))
    ndata = 40
    data_labels = ["dat_%d" % i for i in range(ndata)]
    tail = [Bytes(["Torvik code-heavy workload", Num(13), Num(10), Num(0)]),
            Bytes([Num(rnd.randint(0, 255), "hex") for _ in range(31)])]
    data_size = ndata * 8 + sum(t.size for t in tail)
    budget = MAX_CODE - 24 - data_size
    block_labels = ["blk_%d" % i for i in range(1000)]
    gen = CodeGen(rnd, consts, block_labels, data_labels)
    used = nblk = 0
    while True:
        items, size = code_block(rnd, gen, block_labels[nblk])
        if used + size > budget:
            break
        main.extend(items)
        used += size
        nblk += 1
    while used < budget:
        main.append(one_byte_insn(rnd))
        used += 1
    for nm in data_labels:
        words = [Expr.of(Sym(rnd.choice(block_labels[:nblk]))) for _ in range(3)]
        main.append(Label(Sym(nm)))
        main.append(Words(words + [Expr.of(number(rnd, rnd.randint(0, 65535)))]))
    main.extend(tail)
    # Jumps were drawn from a list longer than the blocks that fit: point
    # the ones past the end at blocks that exist.
    existing = set(block_labels[:nblk])
    for item in prog.walk():
        if isinstance(item, Insn):
            for c in item.code:
                if isinstance(c, tuple) and c[0] in ("w", "b", "r"):
                    for _, t in c[1].terms:
                        if isinstance(t, Sym) and t.name.startswith("blk_") and t.name not in existing:
                            t.name = block_labels[int(t.name[4:]) % nblk]
    fix_ranges(prog)
    return prog


def code_block(rnd, gen, label):
    items = [Label(Sym(label))]
    size = 0
    n = rnd.randint(12, 30)
    locals_ = []  # (Sym, address offset in block)
    pending_fwd = []  # (index into items, insn) of forward jumps to fix
    body = []
    for i in range(n):
        if rnd.random() < 0.2:
            sym = Sym("l%d" % len(locals_), label)
            locals_.append(sym)
            body.append(("label", sym))
        ins = gen.insn()
        if ins is None:
            body.append(("jump", None))
            size += 2
        else:
            body.append(("insn", ins))
            size += ins.size
        if size > 100:
            break
    if not locals_:
        sym = Sym("l0", label)
        locals_.append(sym)
        body.insert(0, ("label", sym))
    for kind, x in body:
        if kind == "label":
            items.append(Label(x))
        elif kind == "insn":
            items.append(x)
        else:
            e = Expr.of(rnd.choice(locals_))
            c = rnd.randrange(6)
            if c == 0:
                items.append(Insn(["djnz ", e], [0x10, ("r", e)]))
            elif c == 1:
                items.append(Insn(["jr ", e], [0x18, ("r", e)]))
            else:
                cc = rnd.randrange(4)
                items.append(Insn(["jr %s," % CC[cc], e], [0x20 | cc << 3, ("r", e)]))
    return items, size


# ---------------------------------------------------------------------------
# (c): line-heavy


def lines_program(name, seed, total_lines=60000, nfiles=24):
    """About total_lines lines over a main file and nfiles include files (some
    included from other includes): comment-only and blank lines, short
    instructions with trailing comments, labels, assignments, jp/call and
    data. Directive lines do not count towards the total."""
    rnd = random.Random(seed)
    prog = Program(name)
    counts = {"comment": 35600, "blank": 8000, "insn": 11000, "assign": 3000, "label": 1500, "data": 300, "far": 600}
    scale = total_lines / sum(counts.values())
    kinds = []
    for k, n in counts.items():
        kinds += [k] * int(n * scale)
    rnd.shuffle(kinds)
    # Labels are planned first so that jp and call may name any of them.
    label_names = ["%s_%d" % (rnd.choice(WORDS), i) for i in range(kinds.count("label"))]
    consts = []
    nlab = nassign = 0
    # Split the line stream into 1 + nfiles pieces.
    cuts = sorted(rnd.sample(range(1, len(kinds)), nfiles))
    pieces = [kinds[a:b] for a, b in zip([0] + cuts, cuts + [len(kinds)])]
    file_names = ["part%02d" % i for i in range(1, nfiles + 1)]
    # Every fifth include file is included from the previous include file.
    includer = {}
    for i, fn in enumerate(file_names):
        includer[fn] = file_names[i - 1] if i % 5 == 4 else "main"
    order = ["main"] + file_names
    # The items of each file; names are drawn from those generated so far,
    # and fix_constant_order settles uses that the include order puts first.
    per_file = {}
    for fn, piece in zip(order, pieces):
        items = [Comment(" %s - line-heavy workload" % fn)]
        for k in piece:
            if k == "comment":
                items.append(Comment(" " + sentence(rnd, 8, 70), indented=rnd.random() < 0.3))
            elif k == "blank":
                items.append(Blank())
            elif k == "insn":
                ins = one_byte_insn(rnd) if rnd.random() < 0.92 else None
                if ins is None:
                    r = rnd.randrange(8)
                    if consts and rnd.random() < 0.5:
                        e = Expr.of(Sym(rnd.choice(consts)))
                    else:
                        e = Expr.of(number(rnd, rnd.randint(0, 255)))
                    ins = Insn(["ld %s," % R8[r], e], [0x06 | r << 3, ("b", e)])
                if rnd.random() < 0.6:
                    ins.comment = " " + sentence(rnd, 5, 40)
                items.append(ins)
            elif k == "assign":
                nm = "%s_k%d" % (rnd.choice(WORDS), nassign)
                nassign += 1
                if consts and rnd.random() < 0.5:
                    e = Expr([(1, Sym(rnd.choice(consts))), (1, Num(0))], spaced=True)
                else:
                    e = Expr.of(number(rnd, rnd.randint(0, 255)))
                consts.append(nm)
                items.append(Assign(nm, e))
            elif k == "label":
                items.append(Label(Sym(label_names[nlab]), comment=" " + sentence(rnd, 5, 30) if rnd.random() < 0.5 else None))
                nlab += 1
            elif k == "far":
                e = Expr.of(Sym(rnd.choice(label_names)))
                op = rnd.choice([("jp ", 0xC3), ("call ", 0xCD), ("ld hl,", 0x21), ("ld de,", 0x11)])
                items.append(Insn([op[0], e], [op[1], ("w", e)], comment=" " + sentence(rnd, 5, 30)))
            else:
                items.append(Bytes([sentence(rnd, 1, 3), Num(0)]))
        per_file[fn] = items
    # Each include directive goes at a random point of its includer.
    for fn in order:
        prog.file(fn).extend(per_file[fn])
    for fn in file_names:
        host = prog.files[includer[fn]]
        host.insert(rnd.randint(1, len(host)), Include(fn))
    fix_constant_order(prog)
    prog.files["main"].append(Insn(["ret"], [0xC9]))
    return prog


def fix_constant_order(prog):
    """Assignments are evaluated where they stand, and 8-bit operands may not
    name a symbol that is defined further on either (it would be undefined in
    a one-pass reading of the value). Once the includes are placed, replace
    every such use that the include order puts above its definition by a
    number."""
    defined = set()

    def settle(e, number):
        if any(isinstance(t, Sym) and t.key not in defined for _, t in e.terms):
            e.terms = [(1, Num(number))]

    for item in prog.walk():
        if isinstance(item, Assign):
            settle(item.expr, 7)
            defined.add(item.name)
        elif isinstance(item, Insn):
            for c in item.code:
                if isinstance(c, tuple) and c[0] == "b":
                    settle(c[1], 42)


# ---------------------------------------------------------------------------


def workloads():
    progs = [
        symbols_program("symbols", SYMBOLS_SIZE, seed=16200),
        code_program("code", seed=4242),
        lines_program("lines", seed=6000),
    ]
    for n in SCALE_SIZES:
        progs.append(symbols_program("scale-%05d" % n, n, seed=1000 + n))
    for n in NAMES_SIZES:
        progs.append(symbols_program("names-%05d" % n, n, seed=2000 + n, namer=scheme_name))
    return progs


def write_expected(directory, code, relocs):
    with open(os.path.join(directory, "expected.bin"), "wb") as f:
        f.write(code)
    with open(os.path.join(directory, "expected.relocs"), "w", newline="\n") as f:
        f.write("".join("%d\n" % a for a in relocs))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("outdir", nargs="?")
    ap.add_argument("--check", metavar="DIR", help="write only the Torvik sources and expected bytes to DIR")
    ap.add_argument("--list", action="store_true", help="print the workload names")
    ap.add_argument("--only", metavar="NAME", action="append", help="generate only this workload (repeatable)")
    args = ap.parse_args(argv)
    if args.list:
        for p in workloads():
            print(p.name)
        return 0
    target = args.check or args.outdir
    if not target:
        ap.error("an output directory is needed")
    for prog in workloads():
        if args.only and prog.name not in args.only:
            continue
        code, relocs = prog.build()
        base = os.path.join(target, prog.name)
        for d in ("torvik",) if args.check else DIALECTS:
            prog.write(base, d)
        write_expected(base, code, relocs)
        s = prog.stats
        print("%-12s %6d lines %6d symbols %6d code bytes %5d relocations" % (prog.name, s["lines"], s["symbols"], s["code"], s["relocs"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
