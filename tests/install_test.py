#!/usr/bin/env python3
"""What `cmake --install` puts in place for the tool component.

usage: install_test.py BUILD_DIR LICENSE VERSION

Installs the build's `tool` component under a fresh prefix and checks the
tree: exactly the three files a package ships, an executable tool that runs
and reports VERSION, a compressed manual page, and the licence. Prints one
line per fault and exits 1 if there is any.
"""
import gzip
import os
import subprocess
import sys
import tempfile

EXPECTED = {"bin/glyphmosaic", "share/man/man1/glyphmosaic.1.gz", "share/doc/glyphmosaic/copyright"}


def main():
    build, license_path, version = sys.argv[1:4]
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
    for fault in faults:
        print(f"install_test: {fault}")
    print(f"install tree: {'ok' if not faults else f'{len(faults)} faults'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
