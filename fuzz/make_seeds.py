#!/usr/bin/env python3
"""Writes the small crafted decode seeds: headers that claim far more pixels
than the file holds (decompression bombs), truncated files, and photos that
carry an EXIF orientation (whole, or damaged), into fuzz/corpus/decode; and
small files of each layout of the formats read through their own libraries,
made by those formats' own encoders (cwebp, img2webp, ImageMagick, heif-enc,
avifenc, cjxl), some of them then damaged on purpose."""
import struct
import subprocess
import tempfile
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


def riff(chunks):
    body = b"WEBP" + b"".join(kind + struct.pack("<I", len(data)) + data + b"\0" * (len(data) & 1)
                             for kind, data in chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def webp_lossless(width, height):
    """A VP8L header claiming the size, then a few bytes of nothing."""
    bits = (width - 1) | (height - 1) << 14
    return riff([(b"VP8L", b"\x2f" + struct.pack("<I", bits) + b"\0" * 8)])


def webp_animation(width, height, frame):
    """A canvas of the size with one frame: `frame`'s chunk at the top left."""
    vp8x = struct.pack("<I", 0x02)[:1] + b"\0\0\0" + struct.pack("<I", width - 1)[:3] + struct.pack("<I", height - 1)[:3]
    anim = struct.pack("<IH", 0, 0)
    inner = frame[12:]  # the frame's own chunk, without the RIFF header
    anmf = b"\0" * 6 + struct.pack("<I", 0)[:3] + struct.pack("<I", 0)[:3] + struct.pack("<I", 100)[:3] + b"\0" + inner
    return riff([(b"VP8X", vp8x), (b"ANIM", anim), (b"ANMF", anmf)])


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
    # A lossless WebP of 16383 x 16383 with no pixels, alone and as an animation's canvas.
    "bomb.webp": webp_lossless(16383, 16383),
    "bomb-animation.webp": webp_animation(16383, 16383, webp_lossless(1, 1)),
}

for name, data in FILES.items():
    (OUT / name).write_bytes(data)


def picture(width, height, channels, seed):
    """Rows of a small picture with edges and gradients, ready for png()."""
    rows = b""
    for y in range(height):
        rows += b"\0"
        for x in range(width):
            v = [(x * 255 // width + seed * 40) & 255, (y * 255 // height) ^ (seed * 16), 255 if (x + y) % 5 else 40,
                 (x * 16 + y * 8) & 255]
            rows += bytes(v[:channels] if channels != 1 else v[:1])
    return rows


# Each made from the 16 x 12 sources below: "@rgb", "@rgba", "@grey", the
# frames "@f0" to "@f2", a JPEG "@turned" with EXIF orientation 6; "@out" is the seed.
ENCODED = {
    "webp-lossy.webp": ["cwebp", "-quiet", "-q", "80", "@rgb", "-o", "@out"],
    "webp-lossy-alpha.webp": ["cwebp", "-quiet", "-q", "80", "@rgba", "-o", "@out"],
    "webp-lossless.webp": ["cwebp", "-quiet", "-lossless", "@rgba", "-o", "@out"],
    "webp-exif-6.webp": ["cwebp", "-quiet", "-metadata", "exif", "@turned", "-o", "@out"],
    "webp-animated.webp": ["img2webp", "-loop", "2", "-lossy", "-d", "50", "@f0", "-lossless", "@f1", "@f2", "-o", "@out"],
    "gif-palette.gif": ["convert", "@rgb", "gif:@out"],
    "gif-transparent.gif": ["convert", "@rgba", "-alpha", "on", "gif:@out"],
    "gif-interlaced.gif": ["convert", "@rgb", "-interlace", "GIF", "gif:@out"],
    "gif-animated.gif": ["convert", "-delay", "5", "@f0", "@f1", "@f2", "-loop", "0", "-layers", "Optimize", "gif:@out"],
    "gif-disposed.gif": ["convert", "-dispose", "Background", "-delay", "5", "@f0", "-dispose", "Previous", "@f1",
                         "-page", "+3+2", "@grey", "gif:@out"],
    "heic-420.heic": ["heif-enc", "-q", "50", "@rgb", "-o", "@out"],
    "heic-422.heic": ["heif-enc", "-q", "50", "-p", "chroma=422", "@rgb", "-o", "@out"],
    "heic-444.heic": ["heif-enc", "-q", "50", "-p", "chroma=444", "@rgb", "-o", "@out"],
    "heic-monochrome.heic": ["heif-enc", "-q", "50", "@grey", "-o", "@out"],
    "heic-alpha.heic": ["heif-enc", "-q", "50", "@rgba", "-o", "@out"],
    "heic-two-images.heic": ["heif-enc", "-q", "50", "@rgb", "@grey", "-o", "@out"],
    "avif-420.avif": ["avifenc", "-s", "10", "-y", "420", "@rgb", "@out"],
    "avif-444.avif": ["heif-enc", "-A", "-q", "50", "@rgb", "-o", "@out"],
    "avif-10bit-420.avif": ["avifenc", "-s", "10", "-d", "10", "-y", "420", "@rgb", "@out"],
    "avif-12bit-444-alpha.avif": ["avifenc", "-s", "10", "-d", "12", "-y", "444", "@rgba", "@out"],
    "avif-monochrome.avif": ["avifenc", "-s", "10", "-y", "400", "@grey", "@out"],
    "avif-lossless.avif": ["avifenc", "-s", "10", "-l", "@rgb", "@out"],
    "jxl-lossless.jxl": ["cjxl", "-d", "0", "@rgba", "@out"],
    "jxl-lossy.jxl": ["cjxl", "-d", "2", "@rgb", "@out"],
    "jxl-grey.jxl": ["cjxl", "-d", "0", "@grey", "@out"],
    "jxl-orientation-6.jxl": ["cjxl", "-d", "0", "--lossless_jpeg=0", "@turned", "@out"],
    "jxl-animated.jxl": ["cjxl", "-d", "0", "@gif-animated.gif", "@out"],
}


def patched(data, at, value):
    return data[:at] + value + data[at + len(value):]


# Damaged on purpose, from the files above.
DAMAGED = {
    "gif-screen-huge.gif": ("gif-palette.gif", lambda d: patched(d, 6, b"\xff\xff\xff\xff")),
    "gif-no-trailer.gif": ("gif-animated.gif", lambda d: d[:-1]),
    "gif-cut.gif": ("gif-animated.gif", lambda d: d[:len(d) * 2 // 3]),
    "gif-no-colours.gif": ("gif-palette.gif", lambda d: patched(d, 10, bytes([d[10] & 0x7F]))),
    "webp-cut.webp": ("webp-lossless.webp", lambda d: d[:len(d) // 2]),
    "heic-cut.heic": ("heic-420.heic", lambda d: d[:len(d) * 3 // 4]),
    "avif-cut.avif": ("avif-420.avif", lambda d: d[:len(d) * 3 // 4]),
    "jxl-cut.jxl": ("jxl-lossy.jxl", lambda d: d[:len(d) // 2]),
}

with tempfile.TemporaryDirectory() as folder:
    tmp = Path(folder)
    sources = {"rgb": png(16, 12, 2, 8, picture(16, 12, 3, 0)), "rgba": png(16, 12, 6, 8, picture(16, 12, 4, 1)),
               "grey": png(16, 12, 0, 8, picture(16, 12, 1, 2))}
    sources.update({f"f{k}": png(16, 12, 2, 8, picture(16, 12, 3, 3 + k)) for k in range(3)})
    for name, data in sources.items():
        (tmp / f"{name}.png").write_bytes(data)
    jpeg = tmp / "plain.jpg"
    subprocess.run(["convert", tmp / "rgb.png", jpeg], check=True)
    turned = jpeg.read_bytes()
    app1 = b"Exif\0\0" + exif(6)
    (tmp / "turned.jpg").write_bytes(turned[:2] + b"\xff\xe1" + struct.pack(">H", len(app1) + 2) + app1 + turned[2:])
    for name, command in ENCODED.items():
        def place(argument):
            if argument.startswith("gif:@"):
                return "gif:" + place(argument[4:])
            if argument == "@out":
                return str(OUT / name)
            if argument == "@turned":
                return str(tmp / "turned.jpg")
            if argument.startswith("@") and argument.endswith(".gif"):
                return str(OUT / argument[1:])
            return str(tmp / f"{argument[1:]}.png") if argument.startswith("@") else argument
        subprocess.run([place(a) for a in command], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
for name, (source, damage) in DAMAGED.items():
    (OUT / name).write_bytes(damage((OUT / source).read_bytes()))
