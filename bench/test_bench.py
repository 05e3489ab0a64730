#!/usr/bin/env python3
"""Checks of the benchmark tools themselves (no assembler needed):

    python3 -m unittest discover -s bench -p 'test_*.py'
"""

import filecmp
import io
import math
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gen  # noqa: E402
import objcheck  # noqa: E402
import report  # noqa: E402


def tree_equal(a, b):
    cmp = filecmp.dircmp(a, b)
    if cmp.left_only or cmp.right_only or cmp.diff_files or cmp.funny_files:
        return False
    return all(tree_equal(os.path.join(a, d), os.path.join(b, d)) for d in cmp.common_dirs)


class GeneratorTest(unittest.TestCase):
    def test_two_runs_write_identical_files(self):
        with tempfile.TemporaryDirectory() as a, tempfile.TemporaryDirectory() as b:
            for d in (a, b):
                with redirect_stdout(io.StringIO()):
                    gen.main(["--only", "code", "--only", "scale-01000", d])
            self.assertTrue(tree_equal(a, b))

    def test_check_mode_writes_torvik_sources_and_expected_bytes(self):
        with tempfile.TemporaryDirectory() as d:
            with redirect_stdout(io.StringIO()):
                gen.main(["--check", d, "--only", "lines"])
            files = sorted(os.listdir(os.path.join(d, "lines")))
            self.assertIn("main.asm", files)
            self.assertIn("expected.bin", files)
            self.assertIn("expected.relocs", files)
            self.assertEqual(len([f for f in files if f.startswith("part")]), 24)
            self.assertFalse([f for f in files if f.endswith((".s", ".pasmo", ".z80asm"))])

    def test_workloads_stay_inside_the_module_limits(self):
        sizes = {}
        for prog in gen.workloads():
            code, relocs = prog.build()
            sizes[prog.name] = prog.stats
            with self.subTest(prog.name):
                self.assertLessEqual(len(code), gen.MAX_CODE)
                self.assertLessEqual(prog.stats["symbols"], gen.MAX_SYMBOLS)
                self.assertLessEqual(prog.stats["lines"], gen.MAX_LINES)
                self.assertEqual(relocs, sorted(relocs))
                self.assertTrue(all(0 <= r <= len(code) - 2 for r in relocs))
        self.assertGreater(sizes["symbols"]["symbols"], 16000)
        self.assertGreater(sizes["code"]["code"], 16000)
        self.assertGreater(sizes["lines"]["lines"], 60000)
        for n in gen.SCALE_SIZES:
            self.assertEqual(sizes["scale-%05d" % n]["symbols"], n)
        for n in gen.NAMES_SIZES:
            self.assertEqual(sizes["names-%05d" % n]["symbols"], n)

    def test_dialects_differ_only_where_their_syntax_does(self):
        insn = gen.Insn(["ld a,(ix", gen.Disp(-5), ")"], [0xDD, 0x7E, ("d", -5)])
        self.assertEqual(insn.text("torvik"), "ld a,(ix+-5)")
        self.assertEqual(insn.text("gnu"), "ld a,(ix-5)")
        local = gen.Label(gen.Sym("l3", "blk_7"))
        self.assertEqual(local.render("torvik"), "@l3:")
        self.assertEqual(local.render("pasmo"), "blk_7__l3:")
        assign = gen.Assign("k", gen.Expr([(1, gen.Sym("a")), (-1, gen.Num(255, "hex"))]))
        self.assertEqual(assign.render("torvik"), "k = a-$FF")
        self.assertEqual(assign.render("z80asm"), "k: equ a-$FF")
        self.assertEqual(gen.Include("part01").render("torvik"), '#include "part01.asm"')
        self.assertEqual(gen.Include("part01").render("gnu"), '        .include "part01.s"')

    def test_encoding_of_a_small_program(self):
        prog = gen.Program("t")
        e = gen.Expr.of(gen.Sym("top"))
        prog.files["main"] += [
            gen.Assign("k", gen.Expr.of(gen.Num(7))),
            gen.Label(gen.Sym("top"), gen.Insn(["nop"], [0x00])),
            gen.Insn(["ld hl,", e], [0x21, ("w", e)]),
            gen.Insn(["jr ", e], [0x18, ("r", e)]),
            gen.Words([gen.Expr.of(gen.Sym("top")), gen.Expr.of(gen.Sym("k"))]),
            gen.Bytes(["AB", gen.Num(0)]),
        ]
        code, relocs = prog.build()
        self.assertEqual(code, bytes([0x00, 0x21, 0x00, 0x00, 0x18, 0xFA, 0x00, 0x00, 0x07, 0x00, 0x41, 0x42, 0x00]))
        self.assertEqual(relocs, [2, 6])

    def test_out_of_range_relative_jump_is_refused(self):
        prog = gen.Program("t")
        e = gen.Expr.of(gen.Sym("far"))
        prog.files["main"] += [gen.Insn(["jr ", e], [0x18, ("r", e)]), gen.Words([gen.Expr.of(gen.Num(0))] * 70),
                               gen.Label(gen.Sym("far"))]
        with self.assertRaises(SystemExit):
            prog.build()


class ObjectFileTest(unittest.TestCase):
    # The object file of the format's worked example: code 21 00 00 CD 00 00 00,
    # a relocation at 1, the external print referred to at 4, the public
    # symbol start, two line records.
    EXAMPLE = bytes.fromhex(
        "0700" "210000cd000000" "0100" "0100" "0100" "05" "7072696e7400" "0100" "0400"
        "0100" "05" "737461727400" "0000" "0200" "02000000" "03000300")

    def test_reads_code_and_relocations(self):
        self.assertEqual(len(self.EXAMPLE), 47)
        code, relocs = objcheck.read_otk_bytes(self.EXAMPLE)
        self.assertEqual(code, bytes.fromhex("210000cd000000"))
        self.assertEqual(relocs, [1])

    def test_a_cut_file_is_refused(self):
        with self.assertRaises(ValueError):
            objcheck.read_otk_bytes(self.EXAMPLE[:5])
        with self.assertRaises(ValueError):
            objcheck.read_otk_bytes(self.EXAMPLE[:10])

    def test_comparison_with_expected_files(self):
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "expected.bin"), "wb") as f:
                f.write(bytes.fromhex("210000cd000000"))
            with open(os.path.join(d, "expected.relocs"), "w") as f:
                f.write("1\n")
            otk = os.path.join(d, "m.otk")
            with open(otk, "wb") as f:
                f.write(self.EXAMPLE)
            with redirect_stdout(io.StringIO()):
                self.assertEqual(objcheck.main(["otk", otk, d]), 0)
                with open(os.path.join(d, "expected.relocs"), "w") as f:
                    f.write("2\n")
                self.assertEqual(objcheck.main(["otk", otk, d]), 1)
            out = io.StringIO()
            bad = os.path.join(d, "bad.bin")
            with open(bad, "wb") as f:
                f.write(bytes.fromhex("210100cd000000"))
            with redirect_stdout(out):
                self.assertEqual(objcheck.main(["bin", bad, d]), 1)
            self.assertIn("offset 1", out.getvalue())


class ReportTest(unittest.TestCase):
    def test_slope_of_a_power_law(self):
        xs = [1000, 2000, 4000, 8000, 16000]
        self.assertAlmostEqual(report.slope(xs, [3.0 * x for x in xs]), 1.0)
        self.assertAlmostEqual(report.slope(xs, [x ** 2 for x in xs]), 2.0)
        self.assertAlmostEqual(report.slope(xs, [5.0 + 0 * x for x in xs]), 0.0)
        self.assertAlmostEqual(report.slope(xs, [math.sqrt(x) for x in xs]), 0.5)

    def write_result(self, d, workload, medians):
        import json

        results = [{"command": a, "times": [m, m * 0.9, m * 1.2], "user": m / 2, "system": m / 4}
                   for a, m in medians.items()]
        with open(os.path.join(d, workload + ".json"), "w") as f:
            json.dump({"results": results}, f)

    def test_verdicts(self):
        with tempfile.TemporaryDirectory() as d:
            self.write_result(d, "code", {"torvik": 1.0, "pasmo": 3.0, "z80asm": 2.0, "gnu": 2.5})
            self.write_result(d, "lines", {"torvik": 1.0, "pasmo": 3.0, "z80asm": 1.9, "gnu": 2.5})
            for n in (1000, 2000):
                self.write_result(d, "scale-%05d" % n, {"torvik": n / 1000.0, "pasmo": 9.0, "z80asm": 9.0, "gnu": 9.0})
            for n in (4000, 16000):
                self.write_result(d, "names-%05d" % n, {"torvik": (n / 4000.0) ** 2, "pasmo": 99.0, "z80asm": 99.0, "gnu": 99.0})
            out = io.StringIO()
            with redirect_stdout(out):
                self.assertEqual(report.main([d]), 0)
            text = out.getvalue()
            lines = {}
            for l in text.splitlines():
                if l.strip():
                    lines.setdefault(l.split()[0], l)  # the first table has the verdicts
            self.assertTrue(lines["code"].endswith("PASS"))
            self.assertTrue(lines["lines"].endswith("FAIL"))
            self.assertIn("1.000", lines["Torvik"])
            self.assertIn("Growth over the names series (4000, 16000 symbols)", text)
            self.assertRegex(text, r"Torvik +2\.000 +2\.000 +FAIL")
            self.assertIn("Overall: FAIL", text)

    def test_rounds_are_taken_together(self):
        import json

        with tempfile.TemporaryDirectory() as d:
            for k, (times, cpu) in enumerate((([1.0, 1.0, 1.0], 0.5), ([3.0, 3.0, 3.0, 3.0], 1.5)), 1):
                results = [{"command": "torvik", "times": times, "user": cpu, "system": 0.0}]
                with open(os.path.join(d, "code.round%d.json" % k), "w") as f:
                    json.dump({"results": results}, f)
            with open(os.path.join(d, "scale-01000.json"), "w") as f:
                json.dump({"results": [{"command": "torvik", "times": [2.0], "user": 1.0, "system": 1.0}]}, f)
            results = report.load(d)
            self.assertEqual(sorted(results), ["code", "scale-01000"])
            self.assertEqual(results["code"]["torvik"], 3.0)  # median of all seven runs
            self.assertAlmostEqual(report.cpu_results["code"]["torvik"], (3 * 0.5 + 4 * 1.5) / 7)
            self.assertEqual(results["scale-01000"]["torvik"], 2.0)

    def test_unreadable_results(self):
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "x.json"), "w") as f:
                f.write("{")
            with redirect_stdout(io.StringIO()):
                self.assertEqual(report.main([d]), 2)


if __name__ == "__main__":
    unittest.main()
