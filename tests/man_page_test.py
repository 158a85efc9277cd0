#!/usr/bin/env python3
"""The manual page against the tool it describes.

usage: man_page_test.py TOOL PAGE.scd PAGE.1

Every option the tool's --help lists must be described in the page's OPTIONS
section, and every option described there must be one --help lists, so that
neither can change without the other. The roff page must render without a
warning from man. Prints one line per fault and exits 1 if there is any.
"""
import os
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")


def help_options(help_text):
    """Options named on the lines of --help that introduce an option."""
    found = set()
    for line in help_text.splitlines():
        match = re.match(r"\s+(-\S.*?)(?:\s{2,}|$)", line)
        if match:
            found.update(OPTION.findall(match.group(1)))
    return found


def page_options(scd_text):
    """Options that head an item of the page's OPTIONS section."""
    section = re.search(r"^# OPTIONS\n(.*?)(?=^# )", scd_text, re.S | re.M)
    if not section:
        return set()
    found = set()
    for line in section.group(1).splitlines():
        if line.startswith("*-"):
            found.update(OPTION.findall(line))
    return found


def render_warnings(page):
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    run = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=env, capture_output=True, text=True)
    problems = [line for line in run.stderr.splitlines() if line.strip()]
    if run.returncode != 0:
        problems.append(f"man exited with {run.returncode}")
    if "NAME" not in run.stdout:
        problems.append("the page renders without a NAME section")
    return problems


def main():
    tool, scd, page = sys.argv[1:4]
    faults = []
    run = subprocess.run([tool, "--help"], capture_output=True, text=True)
    in_help = help_options(run.stdout)
    if run.returncode != 0 or not in_help:
        faults.append(f"{tool} --help exited with {run.returncode} and listed {sorted(in_help)}")
    with open(scd, encoding="utf-8") as f:
        in_page = page_options(f.read())
    for option in sorted(in_help - in_page):
        faults.append(f"{scd}: --help lists {option}, the OPTIONS section does not describe it")
    for option in sorted(in_page - in_help):
        faults.append(f"{scd}: OPTIONS describes {option}, --help does not list it")
    faults += [f"{page}: {problem}" for problem in render_warnings(page)]
    for fault in faults:
        print(f"man_page_test: {fault}")
    print(f"man page: {len(in_page)} options; {'ok' if not faults else f'{len(faults)} faults'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
