#!/usr/bin/env python3
"""The editors' patterns for Torvik's messages, applied to a real run.

Torvik assembles a faulty source that includes a file from a directory
whose names hold a blank and a comma, so that the file named differs from
line to line. Each editor must find exactly the messages in EXPECTED, with
file, line, kind and message, and nothing in the other lines:

  * VS Code: the problem matcher's regexp from vscode/tasks.json, a
    JavaScript regexp that uses only syntax Python's re reads alike;
  * Vim: the real vim -es runs :make with compiler/torvik.vim and writes
    out its quickfix list;
  * Emacs: the regexp of the compilation entry in emacs/torvik-compile.el,
    translated from Emacs syntax to Python's (groups, alternatives and
    literal parentheses and braces; anything else is refused).

    editor_patterns.py --torvik TORVIK --editors tools/editors --vim VIM

Exit status 0 when all agree, 1 otherwise, 77 when VIM is not given.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

INCLUDE = "sub dir/defs, v2.inc"
SOURCES = {
    "main.asm": "start:\n        ld a,300\n#include \"" + INCLUDE + "\"\n        ld b,1\n"
                "        .db 256\n        call nowhere\n        jr far\n",
    INCLUDE: "value = 5\n        ld bc,$12345\n        jp missing\n",
}
EXPECTED = [
    ("main.asm", 5, "warning", "Value truncated to 8 bits"),
    ("main.asm", 2, "warning", "Argument value truncated to 8 bits"),
    (INCLUDE, 2, "warning", "Argument value truncated to 16 bits"),
    (INCLUDE, 3, "error", 'Symbol not defined: "missing"'),
    ("main.asm", 5, "warning", "Value truncated to 8 bits"),
    ("main.asm", 6, "error", 'Symbol not defined: "nowhere"'),
    ("main.asm", 7, "error", 'Symbol not defined: "far"'),
]


def vscode(output, editors, _):
    with open(os.path.join(editors, "vscode", "tasks.json"), encoding="utf-8") as file:
        matcher = json.load(file)["tasks"][0]["problemMatcher"]["pattern"]
    found = []
    for line in output.splitlines():
        match = re.search(matcher["regexp"], line)
        if match:
            found.append((match[matcher["file"]], int(match[matcher["line"]]),
                          match[matcher["severity"]].lower(), match[matcher["message"]]))
    return found


def vim(_, editors, context):
    qf = os.path.join(context["dir"], "qf.json")
    commands = ["compiler torvik", "silent make!",
                "call writefile(map(getqflist(), {_, e -> json_encode("
                "[bufname(e.bufnr), e.lnum, e.type, e.text, e.valid])}), '" + qf + "')", "qa!"]
    argv = [context["vim"], "-es", "-N", "-u", "NONE", "-i", "NONE",
            "--cmd", "set rtp^=" + os.path.join(editors, "vim")]
    for command in commands:
        argv += ["-c", command]
    env = dict(os.environ, PATH=os.path.dirname(context["torvik"]) + os.pathsep + os.environ["PATH"])
    subprocess.run(argv + ["main.asm"], cwd=context["dir"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, timeout=60, check=True)
    kinds = {"E": "error", "W": "warning"}
    with open(qf, encoding="utf-8") as file:
        entries = [json.loads(line) for line in file]
    return [(name, line, kinds.get(kind, kind), text) for name, line, kind, text, valid in entries if valid]


def elisp_string(text):
    """The characters of an Emacs Lisp string literal's body."""
    def unescape(match):
        if match[1] not in '\\"':
            raise ValueError("no translation for the string escape \\" + match[1])
        return match[1]
    return re.sub(r'\\(.)', unescape, text)


def emacs_to_python(regexp):
    out, i = [], 0
    while i < len(regexp):
        c = regexp[i]
        if regexp.startswith("\\(?:", i):
            out.append("(?:")
            i += 4
        elif c == "\\":
            if regexp[i + 1] not in "()|{}":
                raise ValueError("no translation for \\" + regexp[i + 1])
            out.append(regexp[i + 1])
            i += 2
        elif c == "[":
            end = regexp.index("]", i + 2 if regexp.startswith("[^", i) else i + 1)
            body = regexp[i:end + 1]
            if "[:" in body:
                raise ValueError("no translation for character classes")
            out.append(body.replace("\\", "\\\\"))
            i = end + 1
        else:
            out.append("\\" + c if c in "(){}|" else c)
            i += 1
    return "".join(out)


def emacs(output, editors, _):
    with open(os.path.join(editors, "emacs", "torvik-compile.el"), encoding="utf-8") as file:
        entry = re.search(r"'\(torvik\s+\"((?:[^\"\\]|\\.)*)\"\s+(\d+)\s+(\d+)\s+nil\s+\((\d+)\)\)", file.read())
    regexp = re.compile(emacs_to_python(elisp_string(entry[1])))
    file_group, line_group, warning_group = int(entry[2]), int(entry[3]), int(entry[4])
    found = []
    for line in output.splitlines():
        match = regexp.search(line)
        if match:
            kind = "warning" if match[warning_group] is not None else "error"
            found.append((match[file_group], int(match[line_group]), kind, line[match.end():]))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--torvik", required=True)
    parser.add_argument("--editors", required=True)
    parser.add_argument("--vim", default="")
    args = parser.parse_args()
    if not args.vim:
        print("vim is not installed")
        return 77
    with tempfile.TemporaryDirectory() as directory:
        for name, text in SOURCES.items():
            os.makedirs(os.path.dirname(os.path.join(directory, name)), exist_ok=True)
            with open(os.path.join(directory, name), "w", encoding="utf-8") as file:
                file.write(text)
        torvik = os.path.abspath(args.torvik)
        run = subprocess.run([torvik, "main.asm", "main.otk"], cwd=directory, capture_output=True,
                             text=True, timeout=60, check=False)
        context = {"dir": directory, "torvik": torvik, "vim": args.vim}
        failed = 0
        for editor, find in (("VS Code", vscode), ("Vim", vim), ("Emacs", emacs)):
            found = find(run.stdout, os.path.abspath(args.editors), context)
            if found != EXPECTED:
                failed += 1
                print(f"{editor} found:\n" + "\n".join(map(repr, found)))
    if failed:
        print("Torvik printed:\n" + run.stdout)
    print(f"{3 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
