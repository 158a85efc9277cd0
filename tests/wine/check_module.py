#!/usr/bin/env python3
"""Structural checks of a built .8bf that need no Windows to run.

usage: check_module.py --target win32|win64 --texts PRODUCT.json MODULE

Reads the PE file with its own small reader: machine and DLL flag, the
export names, the imported DLLs, and every resource, byte for byte where the
format is fixed. The product's own texts (about texts, address buttons,
version strings, the About message) are compared with PRODUCT.json, which the
build writes from the same definitions the module is built from. Prints one
line per failed check and exits 1 if any failed.
"""
import argparse
import json
import re
import struct
import sys

MACHINES = {"win32": 0x14C, "win64": 0x8664}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll",
               "comctl32.dll", "comdlg32.dll", "ole32.dll", "oleaut32.dll", "version.dll", "ntdll.dll"}
US_ENGLISH = 1033
RT_DIALOG, RT_STRING, RT_VERSION = 5, 6, 16


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, rsize), raw))

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not rva:
            return []
        at = self.offset(rva)
        names, table = struct.unpack_from("<I", self.data, at + 24)[0], struct.unpack_from("<I", self.data, at + 32)[0]
        return [self.cstring(struct.unpack_from("<I", self.data, self.offset(table) + 4 * i)[0])
                for i in range(names)]

    def imports(self):
        rva, _ = self.directories[1]
        dlls = []
        at = self.offset(rva) if rva else None
        while at is not None:
            descriptor = struct.unpack_from("<5I", self.data, at)
            if not any(descriptor):
                break
            dlls.append(self.cstring(descriptor[3]))
            at += 20
        return dlls

    def resources(self):
        """{(type, name, language): bytes}; types and names are ints or strings."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        found = {}

        def label(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return entry_name

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + [label(name)])
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[tuple(path + [label(name)])] = self.data[start:start + size]

        walk(base, [])
        return found


# --- what the resources must hold ------------------------------------------------------

def property_list(win64):
    def record(key, data):
        return b"MIB8" + key + struct.pack("<iI", 0, len(data)) + data
    entry = b"PluginMain\0\0"
    records = [
        record(b"dnik", b"MFB8"),
        record(b"eman", b"\x0bGlyphMosaic\0\0\0\0"),
        record(b"gtac", b"\x0aOrbFilters\0"),
        record(b"srev", bytes([0, 0, 4, 0])),
        record(b"68xw", entry),
    ] + ([record(b"4668", entry)] if win64 else []) + [
        record(b"edom", bytes([0x10, 0, 0, 0])),
        record(b"lbne", b"in (PSHOP_ImageMode, RGBMode)\0\0\0"),
        record(b"23sm", bytes([0x80, 0x84, 0x1E, 0x00]) * 2),
        record(b"icif", bytes([1, 1, 0, 0]) * 7),
    ]
    return struct.pack("<HII", 1, 0, len(records)) + b"".join(records)


BUTTON, STATIC = 0x80, 0x82
DIALOGS = {
    101: dict(style=0x80C800C0, box=(0, 0, 186, 95), caption="Dialog", items=[
        (1, BUTTON, "OK", 0x50010001, (129, 7, 50, 14)),
        (2, BUTTON, "Cancel", 0x50010000, (129, 24, 50, 14)),
    ]),
    16000: dict(style=0x80C000C0, box=(0, 0, 189, 120), caption="", items=[
        (1, BUTTON, "OK", 0x48010001, (171, 7, 11, 14)),
        (2, BUTTON, "Cancel", 0x48010000, (172, 24, 10, 14)),
        (3, STATIC, "Static", 0x50020000, (16, 7, 148, 83)),
        (4, BUTTON, None, 0x50010000, (13, 100, 67, 13)),   # the project's host names
        (5, BUTTON, None, 0x50010000, (91, 100, 76, 13)),
    ]),
}

FIXED_STRINGS = {
    16990: "An integer is required between ^1 and ^2.",
    16991: "A decimal number is required between ^1 and ^2.",
    16992: "This plug-in requires Adobe Photoshop\u00ae ^1 or later functionality.",
    16993: "This plug-in is incompatible with this version of the host program.",
    16994: "the required suite \\'^0\\' is unavailable",
}
STRING_LENGTHS = {16000: 166, 16002: 178, 16990: 41, 16991: 47, 16992: 65, 16993: 67, 16994: 40}

VERSION_KEYS = ["Comments", "CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                "LegalTrademarks", "OriginalFilename", "PrivateBuild", "ProductName", "ProductVersion",
                "SpecialBuild"]


class Reader:
    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def u16(self):
        self.at += 2
        return struct.unpack_from("<H", self.data, self.at - 2)[0]

    def u32(self):
        self.at += 4
        return struct.unpack_from("<I", self.data, self.at - 4)[0]

    def sz(self):
        end = self.at
        while struct.unpack_from("<H", self.data, end)[0]:
            end += 2
        text = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return text

    def sz_or_ord(self):
        if struct.unpack_from("<H", self.data, self.at)[0] == 0xFFFF:
            self.at += 2
            return self.u16()
        return self.sz()

    def align(self):
        self.at = (self.at + 3) & ~3


def parse_dialog(data):
    r = Reader(data)
    style, exstyle, count = r.u32(), r.u32(), r.u16()
    box = tuple(r.u16() for _ in range(4))
    menu, cls, caption = r.sz_or_ord(), r.sz_or_ord(), r.sz()
    font = (r.u16(), r.sz()) if style & 0x40 else None
    items = []
    for _ in range(count):
        r.align()
        istyle, iexstyle = r.u32(), r.u32()
        ibox = tuple(r.u16() for _ in range(4))
        ident, icls, text, extra = r.u16(), r.sz_or_ord(), r.sz_or_ord(), r.u16()
        r.at += extra
        items.append((ident, icls, text, istyle, ibox, iexstyle))
    return dict(style=style, exstyle=exstyle, box=box, menu=menu, cls=cls, caption=caption, font=font,
                items=items)


def parse_strings(data):
    r, out = Reader(data), []
    for _ in range(16):
        n = r.u16()
        out.append(data[r.at:r.at + 2 * n].decode("utf-16-le"))
        r.at += 2 * n
    return out


def parse_version_node(data, at):
    """(key, value bytes, children, total length) of one version-block node."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    r = Reader(data, at + 6)
    key = r.sz()
    r.align()
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[r.at:r.at + value_bytes]
    r.at += value_bytes
    children = []
    while True:
        r.align()
        if r.at >= at + length:
            break
        child = parse_version_node(data, r.at)
        children.append(child)
        r.at += child[3]
    return key, value, children, length


# Words a text of ours may use with a capital letter. A name of anyone else's
# company or product is capitalised too, so it shows up as a word not listed
# here; the host application kind may be named only as what we are compatible with.
OUR_CAPITALISED = {"GlyphMosaic", "Version", "Copyright", "Free", "A", "An", "This", "RGB", "OK", "Cancel",
                   "Static", "Dialog", "Photoshop-compatible"}
# Marks of someone else's ownership, looked for in the whole file.
FOREIGN_MARKS = ["adobe", "incorporated", "corporation", "inc.", "ltd", "gmbh", "(c)", "all rights reserved"]
# The one text that must name the host application (and its maker).
HOST_REQUIREMENT = 16992


def names_of_others(text, domain):
    """The words and addresses in text that are not ours."""
    words = re.findall(r"[A-Za-z][A-Za-z0-9-]*", text.replace("\\n", " "))
    found = [w for w in words if w[0].isupper() and w not in OUR_CAPITALISED]
    for host in re.findall(r"(?:[a-z0-9-]+\.)+[a-z]{2,}", text.lower()):
        if host != domain and not host.endswith("." + domain):
            found.append(host)
    return found


def check(target, path, texts):
    failures = []

    def expect(ok, what):
        if not ok:
            failures.append(what)

    data = open(path, "rb").read()
    pe = PE(data)
    win64 = target == "win64"
    expect(pe.machine == MACHINES[target], f"machine {pe.machine:#x}, expected {MACHINES[target]:#x}")
    expect(pe.characteristics & 0x2000, "not marked as a DLL")
    want_exports = sorted(["PluginMain", "GenericProc" if win64 else "_GenericProc@16"])
    expect(sorted(pe.exports()) == want_exports, f"exports {pe.exports()}, expected only {want_exports}")
    foreign = [d for d in pe.imports() if d.lower() not in SYSTEM_DLLS]
    expect(not foreign, f"imports non-system DLLs {foreign}")

    res = pe.resources()
    expected_keys = {("PIPL", 16000, US_ENGLISH), (RT_DIALOG, 101, US_ENGLISH), (RT_DIALOG, 16000, US_ENGLISH),
                     (RT_STRING, 1001, US_ENGLISH), (RT_STRING, 1062, US_ENGLISH), (RT_STRING, 1063, US_ENGLISH),
                     (RT_VERSION, 1, US_ENGLISH)}
    expect(set(res) == expected_keys, f"resources {sorted(map(str, res))}, expected {sorted(map(str, expected_keys))}")

    pipl = res.get(("PIPL", 16000, US_ENGLISH), b"")
    expect(pipl == property_list(win64), f"property list differs ({len(pipl)} bytes)")

    buttons = {int(k): v for k, v in texts["buttons"].items()}
    for ident, want in DIALOGS.items():
        raw = res.get((RT_DIALOG, ident, US_ENGLISH))
        if raw is None:
            continue
        got = parse_dialog(raw)
        expect(struct.unpack_from("<I", raw, 0)[0] != 0xFFFF0001, f"dialog {ident} is an extended template")
        expect((got["style"], got["exstyle"], got["box"]) == (want["style"], 0, want["box"]),
               f"dialog {ident}: style/box {got['style']:#x} {got['exstyle']:#x} {got['box']}")
        expect((got["menu"], got["cls"], got["caption"]) == ("", "", want["caption"]),
               f"dialog {ident}: menu/class/caption {got['menu']!r} {got['cls']!r} {got['caption']!r}")
        expect(got["font"] == (8, "MS Sans Serif"), f"dialog {ident}: font {got['font']}")
        expect(len(got["items"]) == len(want["items"]), f"dialog {ident}: {len(got['items'])} items")
        for (gi, gc, gt, gs, gb, gx), (wi, wc, wt, ws, wb) in zip(got["items"], want["items"]):
            text_ok = gt == (wt if wt is not None else buttons.get(gi))
            expect((gi, gc, gs, gb, gx) == (wi, wc, ws, wb, 0) and text_ok,
                   f"dialog {ident} item {gi}: {gc!r} {gt!r} {gs:#x} {gb} exstyle {gx:#x}")

    slots = {}
    for block in (1001, 1062, 1063):
        raw = res.get((RT_STRING, block, US_ENGLISH))
        if raw is not None:
            for i, text in enumerate(parse_strings(raw)):
                slots[(block - 1) * 16 + i] = text
    for ident, text in sorted(slots.items()):
        if ident in STRING_LENGTHS:
            expect(len(text) == STRING_LENGTHS[ident], f"string {ident}: {len(text)} units")
            fixed = FIXED_STRINGS.get(ident, texts["strings"].get(str(ident)))
            expect(text == fixed, f"string {ident}: {text!r}")
        else:
            expect(text == "", f"string {ident} should be empty: {text!r}")
    expect(len(slots) == 48, f"{len(slots)} string slots, expected 48")

    version = res.get((RT_VERSION, 1, US_ENGLISH), b"")
    expect(len(version) == 1012, f"version block is {len(version)} bytes, expected 1012")
    d = {}
    if version:
        key, fixed, children, _ = parse_version_node(version, 0)
        expect(key == "VS_VERSION_INFO", f"version key {key!r}")
        want_fixed = (0xFEEF04BD, 0x00010000, 0x00090000, 0, 0x00090000, 0, 0x3F, 0, 0x00040004, 2, 0, 0, 0)
        expect(struct.unpack("<13I", fixed) == want_fixed if len(fixed) == 52 else False,
               f"fixed version information {fixed.hex()}")
        names = [c[0] for c in children]
        expect(names == ["StringFileInfo", "VarFileInfo"], f"version children {names}")
        if names == ["StringFileInfo", "VarFileInfo"]:
            tables = children[0][2]
            expect([t[0] for t in tables] == ["040904b0"], f"string tables {[t[0] for t in tables]}")
            values = [(c[0], c[1].decode("utf-16-le").rstrip("\0")) for c in tables[0][2]] if tables else []
            expect([v[0] for v in values] == VERSION_KEYS, f"version strings {[v[0] for v in values]}")
            d = dict(values)
            for empty in ("Comments", "LegalTrademarks", "PrivateBuild", "SpecialBuild"):
                expect(d.get(empty) == "", f"{empty} should be empty: {d.get(empty)!r}")
            expect(d.get("FileVersion") == "9.0" and d.get("ProductVersion") == "9.0", "versions should be 9.0")
            for name, want in texts["version_block"].items():
                expect(d.get(name) == want, f"version string {name}: {d.get(name)!r}, expected {want!r}")
            translation = children[1][2]
            expect([(t[0], t[1]) for t in translation] == [("Translation", struct.pack("<HH", 0x0409, 0x04B0))],
                   f"translation {translation}")
    # The About message sits in the module's constant data as a C string.
    about = texts["about_message"].encode("ascii") + b"\0"
    expect(data.count(about) == 1, f"About message {texts['about_message']!r} not found once in the module")

    # What a user can be shown names us, and nobody else but where the host is required.
    domain = re.sub(r"^www\.", "", re.match(r"https?://([^/:]+)", texts["url"]).group(1))
    ours = [("About message", texts["about_message"])]
    ours += [(f"string {i}", slots.get(i, "")) for i in (16000, 16002)]
    ours += [(f"version string {n}", d.get(n, "")) for n in texts["version_block"]]
    for where, text in ours:
        expect(texts["product"] in text, f"{where} does not name {texts['product']}: {text!r}")
    shown = ours + [(f"string {i}", t) for i, t in slots.items() if i != HOST_REQUIREMENT]
    for ident in DIALOGS:
        raw = res.get((RT_DIALOG, ident, US_ENGLISH))
        if raw is not None:
            got = parse_dialog(raw)
            shown += [(f"dialog {ident} caption", got["caption"])]
            shown += [(f"dialog {ident} item {i[0]}", i[2]) for i in got["items"] if isinstance(i[2], str)]
    for where, text in shown:
        others = names_of_others(text, domain)
        expect(not others, f"{where} names {others}: {text!r}")
    host_text = slots.get(HOST_REQUIREMENT, "").lower().encode("utf-16-le")
    lowered = data.lower()
    for mark in FOREIGN_MARKS:
        wide = mark.encode("utf-16-le")
        allowed = host_text.count(wide)
        expect(lowered.count(mark.encode("ascii")) == 0 and lowered.count(wide) == allowed,
               f"the module holds {mark!r} outside string {HOST_REQUIREMENT}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", choices=sorted(MACHINES), required=True)
    parser.add_argument("--texts", required=True, help="the product's texts, as the build wrote them")
    parser.add_argument("module")
    args = parser.parse_args()
    try:
        with open(args.texts, encoding="utf-8") as f:
            texts = json.load(f)
        failures = check(args.target, args.module, texts)
    except (OSError, ValueError, KeyError, struct.error) as error:
        print(f"check_module: cannot read {args.module}: {error}")
        return 1
    for failure in failures:
        print(f"check_module: {args.module}: {failure}")
    print(f"{args.target} module: {'ok' if not failures else f'{len(failures)} checks failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
