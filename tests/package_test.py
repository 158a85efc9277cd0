#!/usr/bin/env python3
"""What the packages ship, checked against the build.

usage: package_test.py man TOOL PAGE.scd PAGE.1
       package_test.py install BUILD_DIR LICENSE VERSION

man: every option the tool's --help lists must be described in the page's
OPTIONS section, and every option described there must be one --help lists,
so that neither can change without the other; the roff page must render
without a warning from man.

install: installs the build's `tool` component under a fresh prefix and
checks the tree: exactly the three files the package ships, an executable
tool that runs and reports VERSION, a compressed manual page of this
version, and the licence.

Prints one line per fault and exits 1 if there is any.
"""
import gzip
import os
import re
import subprocess
import sys
import tempfile

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


def check_man(tool, scd, page):
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
    return faults


EXPECTED = {"bin/glyphmosaic", "share/man/man1/glyphmosaic.1.gz", "share/doc/glyphmosaic/copyright"}


def check_install(build, license_path, version):
    faults = []
    with tempfile.TemporaryDirectory() as prefix:
        run = subprocess.run(["cmake", "--install", build, "--prefix", prefix, "--component", "tool"],
                             capture_output=True, text=True)
        if run.returncode != 0:
            faults.append(f"cmake --install failed: {run.stderr.strip()}")
        files = {os.path.relpath(os.path.join(d, f), prefix) for d, _, fs in os.walk(prefix) for f in fs}
        if files != EXPECTED:
            faults.append(f"installed {sorted(files)}, expected {sorted(EXPECTED)}")
        tool = os.path.join(prefix, "bin/glyphmosaic")
        if os.path.exists(tool):
            run = subprocess.run([tool, "--version"], capture_output=True, text=True)
            if run.returncode != 0 or run.stdout != f"glyphmosaic {version}\n":
                faults.append(f"installed tool says {run.stdout!r} (exit {run.returncode}), expected version {version}")
        page = os.path.join(prefix, "share/man/man1/glyphmosaic.1.gz")
        if os.path.exists(page):
            with gzip.open(page, "rt", encoding="utf-8") as f:
                text = f.read()
            if ".SH NAME" not in text or f"GlyphMosaic {version}" not in text:
                faults.append("the installed manual page is not the roff page of this version")
        copyright_path = os.path.join(prefix, "share/doc/glyphmosaic/copyright")
        if os.path.exists(copyright_path):
            with open(copyright_path, encoding="utf-8") as f, open(license_path, encoding="utf-8") as g:
                if g.read() not in f.read():
                    faults.append("the installed copyright file does not hold the licence")
    return faults


def main():
    checks = {"man": check_man, "install": check_install}
    if len(sys.argv) != 5 or sys.argv[1] not in checks:
        print(__doc__.split("\n\n")[1])
        return 2
    faults = checks[sys.argv[1]](*sys.argv[2:])
    for fault in faults:
        print(f"package_test {sys.argv[1]}: {fault}")
    print(f"package_test {sys.argv[1]}: {'ok' if not faults else f'{len(faults)} faults'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
