#!/usr/bin/env python3
"""Writes the small crafted decode seeds: headers that claim far more pixels
than the file holds (decompression bombs), truncated files, and photos that
carry an EXIF orientation (whole, or damaged), into fuzz/corpus/decode.
"""
import struct
import zlib
from pathlib import Path

OUT = Path(__file__).resolve().parent / "corpus" / "decode"


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, colour=2, depth=8, rows=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", zlib.compress(rows))
            + png_chunk(b"IEND", b""))


def png_first_pass(width, height):
    """A grey interlaced PNG whose data ends after Adam7's first pass."""
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 1)
    cols, rows = (width + 7) // 8, (height + 7) // 8
    data = zlib.compress((b"\x00" * (cols + 1)) * rows, 9)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", data) + png_chunk(b"IEND", b"")


def fax(width, height):
    """A bilevel TIFF in one CCITT G4 strip, every row white: a white row
    below a white one is a single bit."""
    strip = b"\xff" * (height // 8) + bytes([(0xFF00 >> (height % 8)) & 0xFF] if height % 8 else [])
    strip += b"\x00\x10\x01"  # end of facsimile block, two EOL codes
    entries = [
        (256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, 1), (259, 3, 1, 4), (262, 3, 1, 0),
        (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, height), (279, 4, 1, len(strip)), (293, 4, 1, 0),
    ]
    ifd_at = 8 + len(strip)
    out = b"II*\x00" + struct.pack("<I", ifd_at) + strip + struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value)
        out += struct.pack("<HHI", tag, kind, count) + packed
    return out + b"\0\0\0\0"


class Bits:
    """An entropy-coded segment: bits most significant first, 0xFF stuffed."""

    def __init__(self):
        self.out, self.byte, self.count = bytearray(), 0, 0

    def put(self, value, length):
        for i in range(length - 1, -1, -1):
            self.byte = self.byte << 1 | (value >> i) & 1
            self.count += 1
            if self.count == 8:
                self.out += b"\xff\x00" if self.byte == 0xFF else bytes([self.byte])
                self.byte, self.count = 0, 0

    def done(self):
        while self.count:
            self.put(1, 1)  # padding is one bits
        return bytes(self.out)


def progressive_jpeg(size, low_bit=13):
    """A grey progressive JPEG of an all-black image with one scan per AC
    coefficient and bit: 1 + 63 x 14 = 883 scans, each (but the DC one) a
    few end-of-band runs over every block."""
    def segment(marker, body):
        return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body

    blocks = ((size + 7) // 8) ** 2
    dqt = segment(0xDB, b"\x00" + bytes([1] * 64))
    sof = segment(0xC2, struct.pack(">BHHB", 8, size, size, 1) + b"\x01\x11\x00")
    # DC: category 0 is "0". AC: a run of 16384 to 32767 blocks (EOB14) is
    # "0" and 14 more bits, one of 32 to 63 blocks (EOB5) "10" and 5 bits.
    dht = segment(0xC4, b"\x00" + bytes([1] + [0] * 15) + b"\x00"
                  + b"\x10" + bytes([1, 1] + [0] * 14) + b"\xe0\x50")

    def scan(ss, ah, al):
        bits = Bits()
        if ss == 0:
            for _ in range(blocks):
                bits.put(0, 1)
        else:
            left = blocks
            while left >= 16384:
                run = min(left, 32767)
                bits.put(0, 1)
                bits.put(run - 16384, 14)
                left -= run
            if left:
                assert 32 <= left < 64
                bits.put(0b10, 2)
                bits.put(left - 32, 5)
        header = segment(0xDA, b"\x01\x01\x00" + bytes([ss, ss, ah << 4 | al]))
        return header + bits.done()

    out = b"\xff\xd8" + dqt + sof + dht + scan(0, 0, 0)
    for k in range(1, 64):
        out += scan(k, 0, low_bit)
        for a in range(low_bit, 0, -1):
            out += scan(k, a, a - 1)
    return out + b"\xff\xd9"


def jpeg_sof(width, height):
    # SOI, a quantisation table, SOF0 with three components, then nothing.
    dqt = b"\xff\xdb" + struct.pack(">H", 67) + b"\x00" + bytes([1] * 64)
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, height, width, 3)
    sof += b"\x01\x11\x00\x02\x11\x00\x03\x11\x00"
    return b"\xff\xd8" + dqt + sof + b"\xff\xd9"


def tiff(width, height, strip_bytes=16, tile=None, bits=8, extra=()):
    entries = [
        (256, 4, 1, width),             # ImageWidth
        (257, 4, 1, height),            # ImageLength
        (258, 3, 1, bits),              # BitsPerSample
        (259, 3, 1, 1),                 # Compression: none
        (262, 3, 1, 2),                 # Photometric: RGB
        (273, 4, 1, 8),                 # StripOffsets: the header itself
        (277, 3, 1, 3),                 # SamplesPerPixel
        (278, 4, 1, height),            # RowsPerStrip: one strip
        (279, 4, 1, strip_bytes),       # StripByteCounts
    ]
    if tile:
        entries = [e for e in entries if e[0] not in (273, 278, 279)]
        entries += [(322, 4, 1, tile[0]), (323, 4, 1, tile[1]), (324, 4, 1, 8), (325, 4, 1, strip_bytes)]
    entries = sorted(entries + list(extra))
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        packed = struct.pack("<H", value) + b"\0\0" if kind == 3 else struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + packed
    ifd += struct.pack("<I", 0)
    return b"II*\x00" + struct.pack("<I", 8) + ifd


def exif(orientation, order=">", count=2):
    """A TIFF-structured EXIF block: a description entry and the orientation."""
    head = (b"MM" if order == ">" else b"II") + struct.pack(order + "HI", 42, 8)
    ifd = struct.pack(order + "H", count)
    ifd += struct.pack(order + "HHI", 0x010E, 2, 4) + b"GM\0\0"
    ifd += struct.pack(order + "HHIHH", 0x0112, 3, 1, orientation, 0)
    return head + ifd + struct.pack(order + "I", 0)


def jpeg_with_app1(data):
    jpeg = (OUT / "baseline.jpg").read_bytes()
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(data) + 2) + data + jpeg[2:]


def png_with_exif(data, after_pixels=False):
    """rgb.png with an eXIf chunk after IHDR or just before IEND."""
    png_file = (OUT / "rgb.png").read_bytes()
    at = len(png_file) - 12 if after_pixels else 8 + 25
    return png_file[:at] + png_chunk(b"eXIf", data) + png_file[at:]


FILES = {
    # Over any limit the tool has, in one direction or in bytes.
    "bomb-wide.png": png(100000, 1),
    "bomb-square.png": png(60000, 60000),
    "bomb-within-dimensions.png": png(9000, 9000),
    "bomb-grey-16bit.png": png(30000, 30000, colour=0, depth=16),
    "bomb.jpg": jpeg_sof(65500, 65500),
    "bomb-narrow.jpg": jpeg_sof(1, 65500),
    "bomb.tif": tiff(4000000, 4000000),
    "bomb-tall.tif": tiff(1, 3000000000),
    "bomb-tile.tif": tiff(16, 16, tile=(1 << 16, 1 << 16)),
    "bomb-wide-16bit.tif": tiff(2000000, 1, bits=16),  # read through libtiff's RGBA path
    # Within the tool's own limits (30000 x 30000 RGB is 2.5 GiB) yet nearly
    # empty: decoding must fail at the first missing row, not first commit
    # the whole image.
    "bomb-30000.png": png(30000, 30000),
    "bomb-30000.tif": tiff(30000, 30000),
    # An interlaced image fills its rows pass by pass: this one holds the
    # first pass only, one pixel in 64, in 19 KB.
    "bomb-interlaced-first-pass.png": png_first_pass(30000, 30000),
    # A white fax row costs one bit: 15000 x 15000 in 2 KB, 20000 x 20000 in 2.5 KB.
    "bomb-fax-15000.tif": fax(15000, 15000),
    "bomb-fax-20000.tif": fax(20000, 20000),
    # 883 scans, each a pass over every block of an 8192 x 8192 image, in 200 KB.
    "bomb-scans.jpg": progressive_jpeg(8192),
    # Thin images that --columns makes huge: a column 300 and a million rows tall, a pixel.
    "thin-300.png": png(1, 300, colour=0, rows=b"\x00\x80" * 300),
    "thin-1048577.png": png(1, 1048577, colour=0, rows=b"\x00\x80" * 1048577),
    "pixel.png": png(1, 1, colour=0, rows=b"\x00\x80"),
    # Small and honest about their size, but cut short.
    "truncated-rows.png": png(16, 16, rows=b"\x00" + b"\x80" * 48),
    "empty-header.jpg": jpeg_sof(0, 16),
    "short-strip.tif": tiff(16, 16, strip_bytes=4096),
    # Orientations to turn by, and EXIF blocks to ignore.
    "exif-orientation-6.jpg": jpeg_with_app1(b"Exif\0\0" + exif(6)),
    "exif-damaged.jpg": jpeg_with_app1(b"Exif\0\0" + exif(6, count=0xFFFF)),
    "exif-orientation-3.png": png_with_exif(exif(3, "<")),
    "exif-after-pixels.png": png_with_exif(exif(7), after_pixels=True),  # not looked for there
    "exif-absurd.png": png_with_exif(exif(40000, "<")),
    "exif-orientation-5.tif": tiff(4, 2, strip_bytes=24, extra=[(274, 3, 1, 5)]),
}

for name, data in FILES.items():
    (OUT / name).write_bytes(data)
