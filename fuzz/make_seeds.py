#!/usr/bin/env python3
"""Writes the seed inputs of the structure-aware fuzz targets into fuzz/corpus/.

The inputs describe what each target builds (see the comment at the top of each target's
source), so they stay small even where the target makes members over 1 MB. Run it again after
changing an input layout: python3 fuzz/make_seeds.py
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def text(s):
    b = s.encode("latin-1") if isinstance(s, str) else s
    assert len(b) < 256
    return bytes([len(b)]) + b


# ---- fuzz_archive_files --------------------------------------------------------------------

def member(name, data=b"", directory=False):
    return bytes([1 if directory else 0]) + text(name) + struct.pack("<H", len(data)) + data


def repeated(name, pattern, size):
    return bytes([2]) + text(name) + bytes([len(pattern) - 1]) + pattern + struct.pack("<I", size)[:3]


def archive_input(options, members, damage=(), archives=(), folders=(), queries=b""):
    out = bytes([options, len(members)]) + b"".join(members)
    out += bytes([len(damage)]) + b"".join(struct.pack("<I", at)[:3] + bytes([x]) for at, x in damage)
    out += bytes([len(archives)]) + b"".join(bytes([which]) + text(prefix) for which, prefix in archives)
    out += bytes([len(folders)]) + bytes(folders)
    return out + queries


def raw(flags, name, preset=False, open_anyway=False):
    return bytes([flags | (0x40 if preset else 0) | (0x80 if open_anyway else 0)]) + text(name)


def pick(flags, form, index, variation):
    return bytes([flags | form << 4, index, variation])


MEDIA = [
    member("Media\\Fonts\\64font.fs", b"Name = \"Sylfaen\"; Size = 64;"),
    member("Media\\Scenes", directory=True),
    member("Media\\Scenes\\sky.zwf", b"ZWF Binary 1.0"),
    member("readme.txt", b"in the fuzzed archive"),
]
QUERIES = b"".join([
    raw(3, "media/fonts/64FONT.fs"),
    raw(2, "Fonts\\64font.fs"),
    raw(2, "scenes", preset=True),
    raw(3, "/\\Media/Scenes/sky.zwf"),
    raw(1, "readme.txt"),
    raw(3, "missing.txt", open_anyway=True),
    raw(8, "memory"),
    pick(2, 1, 0, 0x80),  # a fuzzed member without its first folder: found through a prefix
    pick(3, 1, 2, 0x15),  # upper case, "\\" separators, one leading "/"
    pick(1, 2, 0, 0x06),  # the disk font in lower case with '\'
    pick(1, 2, 1, 0x80),  # a disk file found in the "MEDIA" folder entry
    pick(3, 2, 5, 0x00),  # a folder: not opened
    pick(2, 3, 0, 0x80),  # a member of the archive on disk through the "Media" prefix
    pick(3, 3, 3, 0x41),
])
ARCHIVES = [(0, ""), (0, "Media"), (1, "Media\\"), (1, "")]
FOLDERS = [0, 3, 5]

write("fuzz_archive_files", "stored", archive_input(0x08, MEDIA, archives=ARCHIVES, folders=FOLDERS, queries=QUERIES))
write("fuzz_archive_files", "solid", archive_input(0x09, MEDIA, archives=ARCHIVES, folders=FOLDERS, queries=QUERIES))
write("fuzz_archive_files", "copied_v13_end_block", archive_input(0x1E, MEDIA, archives=ARCHIVES, folders=[1, 2, 4], queries=QUERIES))
write("fuzz_archive_files", "over_1mb_solid", archive_input(
    0x49,
    [member("a.txt", b"before"), repeated("big.bin", b"0123456789abcdef", 0x100007), member("z.txt", b"after")],
    archives=[(0, ""), (0, "x")], folders=[0],
    queries=b"".join([raw(2, "big.bin"), raw(2, "Z.TXT"), raw(2, "a.txt"), pick(2, 1, 1, 0x02)])))
write("fuzz_archive_files", "damaged", archive_input(
    0x08, MEDIA, damage=[(60, 0x01)], archives=ARCHIVES, folders=FOLDERS, queries=QUERIES))
write("fuzz_archive_files", "version29", archive_input(0x38, MEDIA, archives=ARCHIVES, folders=FOLDERS, queries=QUERIES))


# ---- fuzz_script_include -------------------------------------------------------------------

def script_seed(name, options, body):
    write("fuzz_script_include", name, bytes([options]) + body.encode("latin-1"))


script_seed("includes", 0, 'include("a.fs"); include("Sub/c.fs"); x = object(y = a); include("SELF.FS");')
script_seed("include_twice", 4, 'include("b.fs"); include("b.fs"); copy2 = copy;')
script_seed("include_many", 0, 'using Top; include("many.fs"); t = Styles;')
script_seed("include_missing", 0, 'include("nothing.fs"); include(); include("empty.fs"); include("\\\\/a.fs");')
script_seed("line_include", 1, 'Title = Settings\ninclude("a.fs")\nArr = array(1, include("b.fs"))\n')
script_seed("copied_archive", 2, 'include("other.fs"); include("settings.txt"); s = Title;')
for seed in ("font.fs", "charset.css", "texture.ts"):
    with open(os.path.join(ROOT, "fuzz_script", seed), "rb") as f:
        write("fuzz_script_include", seed, bytes([0]) + f.read())


# ---- fuzz_zwf_stages -----------------------------------------------------------------------

NO_CHILDREN, ONE_LEVEL, EXPAND, WHOLE, FROM_PARENT, KEEP, BORROW = 1, 4, 8, 0x10, 0x20, 0x40, 0x80


def leaf(data):
    assert len(data) < 0x40
    return bytes([len(data)]) + data


def ints(*values):
    return bytes([0x40 | len(values)]) + b"".join(struct.pack("<i", v) for v in values)


OPEN, CLOSE = b"\x80", b"\xc0"


def link(index):
    return bytes([0xE0, index])


TREE = (leaf(b"hello") + OPEN + leaf(b"grp leaf") + ints(1, 2, 3) + OPEN + leaf(b"deep") + CLOSE
        + link(0) + CLOSE + OPEN + leaf(b"") + link(2) + leaf(b"last") + CLOSE + ints(7))


def stages(name, plan, tree=TREE, mode=0):
    write("fuzz_zwf_stages", name, bytes([mode]) + bytes(plan) + tree)


stages("keep_then_from_parent", [KEEP, FROM_PARENT | KEEP | NO_CHILDREN, FROM_PARENT | BORROW, 0x08 | 0x10])
stages("borrow_all", [KEEP, FROM_PARENT | BORROW | KEEP, BORROW, 0x08 | 0x40 | 0x10])
stages("plain_then_keep", [0, NO_CHILDREN, KEEP | NO_CHILDREN, 0x08 | 0x20 | 0x80])
stages("whole_blocks_slack", [WHOLE, WHOLE | ONE_LEVEL, FROM_PARENT, 0x08 | 0x60 | 0x10], mode=0x40)
stages("expand", [EXPAND | KEEP, EXPAND | FROM_PARENT | BORROW, EXPAND, 0x01 | 0x02 | 0x08 | 0x10])
for seed in ("camera.cam", "small_tree.zwf", "types.zwf"):
    with open(os.path.join(ROOT, "fuzz_zwf", seed), "rb") as f:
        body = f.read()
    write("fuzz_zwf_stages", "raw_" + seed, bytes([0x80, KEEP, FROM_PARENT | BORROW, KEEP | NO_CHILDREN, 0x08 | 0x10 | 0x01]) + body)


# ---- fuzz_dialog_template ------------------------------------------------------------------

def utf16z(s):
    return s.encode("utf-16-le") + b"\0\0"


def name_field(value):
    if isinstance(value, int):
        return struct.pack("<HH", 0xFFFF, value)
    return utf16z(value)


def dialog(style, items, caption="", font=None, menu="", cls="", ex=0, rect=(0, 0, 275, 73)):
    out = struct.pack("<IIHhhhh", style | (0x40 if font else 0), ex, len(items), *rect)
    out += name_field(menu) + name_field(cls) + utf16z(caption)
    if font:
        out += struct.pack("<H", font[0]) + utf16z(font[1])
    for style_, ex_, rect_, ident, cls_, title, extra in items:
        out += b"\0" * (-len(out) % 4)
        out += struct.pack("<IIhhhhH", style_, ex_, *rect_, ident)
        out += name_field(cls_) + name_field(title)
        out += struct.pack("<H", len(extra) + 2) + extra if extra else b"\0\0"
    return out


write("fuzz_dialog_template", "error_dialog", dialog(
    0x80C80080, [
        (0x50020000, 0, (7, 7, 205, 36), 0xFFFF, 0x82, "DirectX 9 is required", b""),
        (0x50010001, 0, (40, 50, 90, 16), 1, 0x80, "Download", b""),
        (0x50010000, 0, (140, 50, 60, 16), 2, 0x80, "Cancel", b""),
    ], caption="Error", font=(8, "MS Shell Dlg")))
write("fuzz_dialog_template", "named_classes", dialog(
    0x80880000, [
        (0x5000000E, 0x200, (0, 0, 40, -40), 1053, "Static", 1053, b""),
        (0x50010010, 0, (7, 7, 100, 15), 1046, "msctls_trackbar32", "", b"\x01\x02\x03"),
    ], menu=5, cls="MyClass", caption="Settings", ex=1, rect=(-10, 20, 300, 200)))
write("fuzz_dialog_template", "empty", dialog(0, []))


# ---- fuzz_version_info ---------------------------------------------------------------------

def version_block(length=None, value_length=52, signature=0xFEEF04BD, tail=b""):
    body = struct.pack("<HHH", 0, value_length, 0) + utf16z("VS_VERSION_INFO") + b"\0\0"
    body += struct.pack("<I", signature) + struct.pack("<I", 0x10000) + struct.pack("<IIII", 0x10002, 0x30004, 0x10002, 0x30004)
    body += b"\0" * (40 + 52 - len(body)) + tail
    stated = len(body) if length is None else length
    return struct.pack("<H", stated) + body[2:]


def version_seed(name, filler, pad, short, content):
    write("fuzz_version_info", name, bytes([filler]) + struct.pack("<I", pad)[:3] + bytes([short]) + content)


version_seed("plain", 0, 100, 40, version_block(tail=b"StringFileInfo"))
version_seed("across_chunk", 0x56, 65536 - 50, 200, version_block())
version_seed("at_chunk_end", 0, 65536 - 92, 0, version_block())
version_seed("cut_by_file_end", 0x20, 3, 90, version_block(length=4000))
version_seed("false_then_true", 0, 7, 1, version_block(value_length=50) + version_block(signature=0xFEEF04BC) + version_block())


# ---- fuzz_image ----------------------------------------------------------------------------
# Small pictures of every kind the decoders read, written here by hand; the JPEGs come from
# ImageMagick's convert (apt-get install imagemagick) when it is there.

import subprocess
import zlib


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, depth, color_type, rows, interlace=0, extra=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color_type, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + extra +
            png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


def tga(kind, width, height, bits, descriptor, data, cmap=b"", cmap_first=0, cmap_len=0, cmap_bits=0):
    header = struct.pack("<BBBHHBHHHHBB", 0, 1 if cmap else 0, kind, cmap_first, cmap_len, cmap_bits,
                         0, 0, width, height, bits, descriptor)
    return header + cmap + data


def bmp(width, height, bits, compression, pixels, palette=b"", masks=b""):
    offset = 14 + 40 + len(masks) + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels), 0, 0,
                       len(palette) // 4, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + masks + palette + pixels


def dds(width, height, mips, pixel_format, data, caps2=0):
    flags = 0x1007 | (0x20000 if mips > 1 else 0)
    header = struct.pack("<IIIIIII", 124, flags, height, width, 0, 0, mips) + b"\0" * 44
    caps = 0x1000 | (0x400008 if mips > 1 else 0) | (0x8 if caps2 else 0)
    return b"DDS " + header + pixel_format + struct.pack("<IIIII", caps, caps2, 0, 0, 0) + data


def fourcc(code):
    return struct.pack("<II4sIIIII", 32, 4, code, 0, 0, 0, 0, 0)


def masked(flags, bits, r, g, b, a):
    return struct.pack("<IIIIIIII", 32, flags, 0, bits, r, g, b, a)


def dxt1_block(i):
    return struct.pack("<HHI", 0xF800 ^ (i * 0x1111), 0x001F + i, 0xE4E4E4E4 ^ i)


def dxt5_block(i):
    return bytes([200, 20 + i]) + bytes([0x88, 0xC6, 0xFA, 0x24, 0x49, 0x92]) + dxt1_block(i)


rgba_rows = b"".join(b"\0" + bytes((x * 60 + y * 20 + c * 7) & 255 for x in range(4) for c in range(4)) for y in range(3))
write("fuzz_image", "rgba.png", png(4, 3, 8, 6, rgba_rows))
write("fuzz_image", "palette_trns_interlaced.png", png(
    5, 5, 1, 3, b"".join(b"\0" + bytes([0b10100000 >> (y % 2)]) for y in range(15)), interlace=1,
    extra=png_chunk(b"PLTE", bytes([255, 0, 0, 0, 0, 255])) + png_chunk(b"tRNS", bytes([128]))))
write("fuzz_image", "grey16.png", png(2, 2, 16, 0, b"\0\x12\x34\xff\xff\0\0\0\x80\x01"))
write("fuzz_image", "bgr.tga", tga(2, 3, 2, 24, 0, bytes(range(18))))
write("fuzz_image", "rle32_top.tga", tga(10, 4, 2, 32, 0x28, bytes([0x82, 1, 2, 3, 4, 0x04]) + bytes(range(20))))
write("fuzz_image", "mapped_rle.tga", tga(9, 4, 2, 8, 0x00, bytes([0x83, 5, 0x03, 5, 6, 5, 6]),
                                         cmap=bytes(range(6)), cmap_first=5, cmap_len=2, cmap_bits=24))
write("fuzz_image", "rgb24.bmp", bmp(3, 2, 24, 0, bytes(range(24))))
write("fuzz_image", "rle8.bmp", bmp(5, 3, 8, 1, bytes([3, 1, 0, 3, 2, 0, 1, 0, 0, 0, 0, 2, 1, 1, 2, 1, 0, 1]),
                                    palette=bytes([0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0])))
write("fuzz_image", "rle4.bmp", bmp(6, 2, 4, 2, bytes([4, 0x12, 0, 0, 0, 3, 0x12, 0x30, 0, 1]),
                                    palette=bytes(range(16))))
write("fuzz_image", "rgb565_top.bmp", bmp(3, -2, 16, 3, bytes(range(16)),
                                          masks=struct.pack("<III", 0xF800, 0x07E0, 0x001F)))
write("fuzz_image", "dxt1_mips.dds", dds(8, 8, 4, fourcc(b"DXT1"), b"".join(dxt1_block(i) for i in range(7))))
write("fuzz_image", "dxt5.dds", dds(6, 4, 1, fourcc(b"DXT5"), b"".join(dxt5_block(i) for i in range(2))))
write("fuzz_image", "dxt3_cube.dds", dds(4, 4, 1, fourcc(b"DXT3"), bytes(range(96)), caps2=0xFE00))
write("fuzz_image", "argb_mips.dds", dds(2, 2, 2, masked(0x41, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000), bytes(range(20))))
write("fuzz_image", "a8l8.dds", dds(3, 1, 1, masked(0x20001, 16, 0xFF, 0, 0, 0xFF00), bytes(range(6))))
write("fuzz_image", "odd_masks.dds", dds(2, 1, 1, masked(0x41, 32, 0xFF00, 0xFF, 0xFF000000, 0xFF0000), bytes(range(8))))

for name, options in (("baseline.jpg", ["-sampling-factor", "2x2"]), ("progressive.jpg", ["-interlace", "Plane"]),
                      ("grey.jpg", ["-colorspace", "Gray"])):
    try:
        jpeg = subprocess.run(["convert", "-size", "9x7", "gradient:red-blue", "-quality", "50"] + options + ["jpg:-"],
                              check=True, capture_output=True).stdout
        write("fuzz_image", name, jpeg)
    except (OSError, subprocess.CalledProcessError):
        print("convert not found: no JPEG seeds written")
