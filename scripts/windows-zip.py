#!/usr/bin/env python3
"""Writes the Windows download: both modules, the licence and a README.txt.

usage: windows-zip.py OUT.zip VERSION WIN32.8bf WIN64.8bf

README.txt is the README's "Installing the plug-in" section as plain text
with Windows line ends. Every entry carries the time SOURCE_DATE_EPOCH names
(or 1980-01-01), so the same inputs always give the same archive.
"""
import os
import re
import sys
import time
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SECTION = "Installing the plug-in"


def plain_text(markdown, version):
    """The section, with markup a text editor would show literally taken out."""
    match = re.search(rf"^## {re.escape(SECTION)}\n(.*?)(?=^## |\Z)", markdown, re.S | re.M)
    if not match:
        raise SystemExit(f"windows-zip: README.md has no section '{SECTION}'")
    source = match.group(1).strip().splitlines()
    rule = re.compile(r"\|[\s|:-]+\|")
    lines = [f"GlyphMosaic {version}: {SECTION.lower()}", ""]
    for i, line in enumerate(source):
        line = line.replace("**", "").replace("`", "").replace("VERSION", version).replace("\u203a", ">")
        if rule.fullmatch(line) or (i + 1 < len(source) and rule.fullmatch(source[i + 1])):
            continue  # a table's rule and its heading
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip("|").split("|")]
            line = "  " + cells[0].ljust(24) + "  ".join(cells[1:])
        lines.append(line.rstrip())
    return "\r\n".join(lines) + "\r\n"


def main():
    out, version, win32, win64 = sys.argv[1:5]
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        readme = plain_text(f.read(), version)
    with open(os.path.join(ROOT, "LICENSE"), "rb") as f:
        license_text = f.read()
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "0")), 315532800)  # zip cannot go before 1980
    stamp = time.gmtime(epoch)[:6]
    entries = [("LICENSE", license_text), ("README.txt", readme.encode("utf-8"))]
    for name, path in (("win32/GlyphMosaic.8bf", win32), ("win64/GlyphMosaic.8bf", win64)):
        with open(path, "rb") as f:
            entries.append((name, f.read()))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)


if __name__ == "__main__":
    main()
