#!/usr/bin/env python3
"""Checks that every command line the documents show for skerrow or
skerrowctl is one the programs take, so that an operator who copies one
from a guide never meets "unknown command" on the vehicle.

    python3 scripts/lib/docs_commands.py --skerrowctl PATH [--root DIR] [--list]

Reads README.md, docs/*.md and packaging/README-Windows.txt (when present).
A command line is one inside a code block: a fenced block in Markdown, a
line indented by four spaces or more in the text file. Each skerrowctl line
is handed to `skerrowctl --check-args`, the program's own parser, which
connects to nothing. Each skerrow line may have no argument, one of
--version, --help, -h and /?, or one configuration path. Shell and batch
comments, redirections and a leading prompt are dropped; a usage synopsis
(a word in square brackets, or a block that starts with "usage:") is
skipped. Prints every line found and its verdict; exits 1 naming the file
and line of each one that does not parse, 2 when the check cannot run.
"""

import argparse
import glob
import os
import re
import shlex
import subprocess
import sys

SERVER_NAMES = {"skerrow", "skerrow.exe"}
CLIENT_NAMES = {"skerrowctl", "skerrowctl.exe"}
SERVER_OPTIONS = {"--version", "--help", "-h", "/?"}
# The server refuses a longer configuration path.
MAX_CONFIG_PATH = 255
# A document is a few hundred lines; a larger one is no guide of ours.
MAX_DOC_BYTES = 1 << 20
CHECK_TIMEOUT_S = 30


def doc_files(root):
    files = [os.path.join(root, "README.md")]
    files += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    windows = os.path.join(root, "packaging", "README-Windows.txt")
    if os.path.isfile(windows):
        files.append(windows)
    return [f for f in files if os.path.isfile(f)]


def read_lines(path):
    with open(path, "rb") as handle:
        data = handle.read(MAX_DOC_BYTES + 1)
    if len(data) > MAX_DOC_BYTES:
        raise ValueError(f"{path}: larger than {MAX_DOC_BYTES} bytes")
    return data.decode("utf-8", errors="replace").splitlines()


def markdown_blocks(lines):
    """Yields (line number, text, first line of its block?) for each line
    inside a fenced block."""
    fence = None
    first = False
    for number, line in enumerate(lines, 1):
        stripped = line.strip()
        if fence is None:
            match = re.match(r"^\s*(```+|~~~+)", line)
            if match:
                fence = match.group(1)
                first = True
            continue
        if stripped.startswith(fence):
            fence = None
            continue
        yield number, line, first
        first = False


def indented_blocks(lines):
    previous_indented = False
    for number, line in enumerate(lines, 1):
        indented = line.startswith("    ") and line.strip() != ""
        if indented:
            yield number, line, not previous_indented
        previous_indented = indented


def strip_comment(text):
    # Batch: "... & rem ...", a "rem" or "::" line; shell: " # ...".
    text = re.split(r"\s&\s*rem\b", text, maxsplit=1, flags=re.IGNORECASE)[0]
    if re.match(r"^\s*(rem\b|::)", text, flags=re.IGNORECASE):
        return ""
    return re.split(r"(?:^|\s)#", text, maxsplit=1)[0]


def strip_prompt(text):
    text = text.strip()
    # "$ cmd", "> cmd", "C:\Skerrow> cmd", "ExecStart=cmd"
    text = re.sub(r"^(?:[$>]\s+|[A-Za-z]:\\[^>]*>\s*)", "", text)
    return re.sub(r"^ExecStart=", "", text)


def words_of(text):
    """The command's words, without redirections and anything after a pipe
    or a command separator; None when the line cannot be split."""
    text = re.split(r"\s(?:\|\|?|&&?|;)\s", " " + text + " ", maxsplit=1)[0]
    # "2>&1", ">> console.txt", "> out", "< in"
    text = re.sub(r"\s[0-9]*>>?&[0-9]+(?=\s)", " ", text)
    text = re.sub(r"\s[0-9]*(?:>>?|<)\s*\S+", " ", text)
    try:
        lexer = shlex.shlex(text, posix=True)
        lexer.whitespace_split = True
        lexer.escape = ""  # Windows paths keep their backslashes
        return list(lexer)
    except ValueError:
        return None


def program_of(word, variables):
    """"server", "client" or None for a command's first word: a program
    name or path, or a shell variable that holds one."""
    match = re.fullmatch(r"\$\{?(\w+)\}?", word)
    if match:
        return variables.get(match.group(1))
    if "=" in word:
        return None
    base = re.split(r"[\\/]", word)[-1]
    if base in SERVER_NAMES:
        return "server"
    if base in CLIENT_NAMES:
        return "client"
    return None


def check_server(args):
    if not args:
        return None
    if len(args) > 1:
        return "the server takes one argument, not " + str(len(args))
    arg = args[0]
    if arg in SERVER_OPTIONS:
        return None
    if arg.startswith("-"):
        return f"the server has no option '{arg}'"
    if len(arg) > MAX_CONFIG_PATH:
        return f"a configuration path longer than {MAX_CONFIG_PATH} characters"
    return None


def check_client(skerrowctl, args):
    try:
        run = subprocess.run([skerrowctl, "--check-args"] + args, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True, timeout=CHECK_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return "skerrowctl --check-args did not end"
    if run.returncode == 0:
        return None
    reason = run.stderr.strip().splitlines()
    return reason[0] if reason else f"exit status {run.returncode}"


def joined(blocks):
    """Joins continued lines (a trailing backslash, or ^ in batch files)."""
    pending = None
    for number, line, first in blocks:
        if pending is not None:
            number, text, first = pending[0], pending[1] + " " + line.strip(), pending[2]
            pending = None
        else:
            text = line
        if re.search(r"(\\|\^)\s*$", text):
            pending = (number, re.sub(r"(\\|\^)\s*$", "", text), first)
            continue
        yield number, text, first
    if pending is not None:
        yield pending


ASSIGNMENT = re.compile(r"^([A-Za-z_]\w*)=(.*)$")


def command_lines(path):
    """Yields (line number, text, program, arguments) for each skerrow or
    skerrowctl command of the document's code blocks."""
    lines = read_lines(path)
    blocks = indented_blocks(lines) if path.endswith(".txt") else markdown_blocks(lines)
    in_usage = False
    variables = {}
    for number, line, first in joined(blocks):
        if first:
            in_usage = re.match(r"^\s*usage:", line, flags=re.IGNORECASE) is not None
        if in_usage:
            continue
        text = strip_prompt(strip_comment(line))
        words = words_of(text) if text else None
        if not words:
            continue
        # "S=path/skerrowctl" names the program for later "$S ..." lines;
        # "NAME=value program ..." sets the program's environment.
        while words and ASSIGNMENT.match(words[0]):
            name, value = ASSIGNMENT.match(words[0]).groups()
            if len(words) == 1:
                program = program_of(value, variables)
                if program is not None:
                    variables[name] = program
            words = words[1:]
        if not words:
            continue
        program = program_of(words[0], variables)
        if program is not None:
            yield number, text, program, words[1:]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--skerrowctl", required=True, help="the skerrowctl program to ask")
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", ".."))
    parser.add_argument("--list", action="store_true", help="print every line found")
    options = parser.parse_args()
    if not os.access(options.skerrowctl, os.X_OK):
        print(f"docs check: {options.skerrowctl} is not a program", file=sys.stderr)
        return 2
    root = os.path.normpath(options.root)
    found = 0
    bad = 0
    skipped = 0
    for path in doc_files(root):
        name = os.path.relpath(path, root)
        try:
            entries = list(command_lines(path))
        except (OSError, ValueError) as error:
            print(f"docs check: {error}", file=sys.stderr)
            return 2
        for number, text, program, args in entries:
            if any(re.fullmatch(r"\[.*\]?|.*\]", arg) for arg in args):
                skipped += 1
                if options.list:
                    print(f"{name}:{number}: synopsis, skipped: {text}")
                continue
            found += 1
            if program == "server":
                reason = check_server(args)
            else:
                reason = check_client(options.skerrowctl, args)
            if reason is None:
                if options.list:
                    print(f"{name}:{number}: ok: {text}")
            else:
                bad += 1
                print(f"{name}:{number}: does not parse: {text}\n    {reason}")
    print(f"{found} command lines in the documents, {bad} that do not parse"
          f" ({skipped} synopses skipped)")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
