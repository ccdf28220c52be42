#!/usr/bin/env python3
"""Checks a PowerShell script where no PowerShell runs (Wine's powershell.exe
is a stub): that it parses as far as its strings, comments, brackets and line
continuations go; that every command it calls is one that Windows PowerShell
5.1 has (the ones known here: a new one is added once checked there); and
that every variable it reads is set, a parameter or PowerShell's own.

    tools/check_powershell.py SCRIPT...

Exit status 0 if all hold, 1 with each problem named ("SCRIPT:LINE: ...")."""

import re
import sys

# Windows PowerShell 5.1's, by module: Microsoft.PowerShell.Core, .Management,
# .Utility, and ScheduledTasks.
KNOWN_COMMANDS = {
    "ForEach-Object", "Where-Object",
    "Copy-Item", "Get-ChildItem", "Join-Path", "New-Item", "Remove-Item", "Rename-Item", "Test-Path",
    "Get-Date", "New-TimeSpan", "Out-Null", "Write-Host",
    "Get-ScheduledTask", "New-ScheduledTaskAction", "New-ScheduledTaskPrincipal", "New-ScheduledTaskSettingsSet",
    "New-ScheduledTaskTrigger", "Register-ScheduledTask", "Start-ScheduledTask", "Stop-ScheduledTask",
    "Unregister-ScheduledTask",
}
AUTOMATIC = {"_", "true", "false", "null", "PSScriptRoot", "PSCommandPath", "ErrorActionPreference", "args"}
COMMAND = re.compile(r"(?<![\w$-])([A-Z][a-z]+-[A-Z][A-Za-z]+)\b")
VARIABLE = re.compile(r"\$(\w+)(?![\w:])")
CLOSING = {"(": ")", "{": "}", "[": "]"}


def check(name, text):
    problems = []
    code = []  # the text outside strings and comments, as (line, text)
    variables = []  # (line, name) read anywhere but in single quotes
    stack = []
    line, i, n = 1, 0, len(text)

    def problem(what, at=None):
        problems.append("%s:%d: %s" % (name, at or line, what))

    def double_quoted(i):
        """From after an opening ", to after its closing one."""
        nonlocal line
        start = line
        while i < n and text[i] != '"':
            if text[i] == "`":
                i += 1
            elif text[i] == "$" and text[i + 1:i + 2] == "(":
                i = scan(i + 2, ")")
                continue
            elif text[i] == "$":
                match = VARIABLE.match(text, i)
                if match:
                    variables.append((line, match.group(1)))
            line += text[i] == "\n" if i < n else 0
            i += 1
        if i >= n:
            problem("a string not closed", start)
        return i + 1

    def scan(i, until=None):
        """Code from i, up to after the until bracket that closes it."""
        nonlocal line
        base = len(stack)
        while i < n:
            c = text[i]
            if c == "\n":
                line += 1
            elif text.startswith("<#", i):
                end = text.find("#>", i)
                if end < 0:
                    problem("a comment not closed")
                    return n
                line += text.count("\n", i, end)
                i = end + 2
                continue
            elif c == "#":
                while i < n and text[i] != "\n":
                    i += 1
                continue
            elif c == "'":
                end = i + 1
                while end < n and not (text[end] == "'" and text[end + 1:end + 2] != "'"):
                    end += 2 if text[end] == "'" else 1
                if end >= n:
                    problem("a string not closed")
                line += text.count("\n", i, end)
                code.append((line, "''"))
                i = end + 1
                continue
            elif c == '"':
                i = double_quoted(i + 1)
                continue
            elif c == "`" and text[i + 1:i + 2] != "\n":
                if re.match(r"`[ \t]+\r?\n", text[i:]):
                    problem("a backtick before spaces: it does not continue the line")
                i += 2
                continue
            elif c in CLOSING:
                stack.append((c, line))
            elif c in CLOSING.values():
                if c == until and len(stack) == base:
                    return i + 1
                if len(stack) == base or CLOSING[stack[-1][0]] != c:
                    problem("%s closes nothing open" % c)
                else:
                    stack.pop()
            code.append((line, c))
            i += 1
        return i

    scan(0)
    for opening, at in stack:
        problem("%s not closed" % opening, at)

    # Words and variables outside strings, line by line.
    lines = {}
    for at, piece in code:
        lines[at] = lines.get(at, "") + piece
    parameters = set(re.findall(r"\[\w+\]\$(\w+)", text))
    assigned = set(re.findall(r"\$(\w+)\s*=[^=]", text)) | set(re.findall(r"foreach\s*\(\$(\w+)\s+in", text))
    known = {v.lower() for v in parameters | assigned | AUTOMATIC}
    for at, words in sorted(lines.items()):
        for command in COMMAND.findall(words):
            if command not in KNOWN_COMMANDS:
                problem("%s: not among the Windows PowerShell 5.1 commands known here" % command, at)
        for variable in VARIABLE.findall(words):
            variables.append((at, variable))
    for at, variable in variables:
        if variable.lower() not in known:
            problem("$%s is read, but never set" % variable, at)
    return problems


def main():
    problems = []
    for name in sys.argv[1:]:
        with open(name, encoding="utf-8-sig") as f:
            problems += check(name, f.read())
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
