#!/usr/bin/env python3
"""Writes the seed inputs of the structure-aware fuzz targets into fuzz/corpus/.

The inputs describe what each target builds (see the comment at the top of each target's
source), so they stay small even where the target makes members over 1 MB. Run it again after
changing an input layout: python3 fuzz/make_seeds.py

The archives with packed members for fuzz_archive are made by the archive writer itself
(tools/rarwrite), from made-up text, program, picture and sound bytes: the tool is taken from
$RH_RARWRITE, else from .build/release; without it those seeds are left as they are.
"""
import math
import os
import shutil
import pathlib
import struct
import subprocess
import tempfile

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


# ---- Made-up content, the same bytes every run ---------------------------------------------

class Lcg:
    def __init__(self, seed):
        self.state = seed

    def next(self, below):
        self.state = (self.state * 1103515245 + 12345) & 0xFFFFFFFF
        return (self.state >> 16) * below >> 16


WORDS = ("the of and stone river light under over a to in is was glass cold north winter star "
         "snow field tower gate wind long night morning").split()


def prose(size, seed):
    rng, out, line = Lcg(seed), bytearray(), 0
    while len(out) < size:
        word = WORDS[min(rng.next(len(WORDS)), rng.next(len(WORDS)))]
        out += word.encode() + (b".\r\n" if rng.next(12) == 0 else b" ")
    return bytes(out[:size])


def program(size, seed):
    rng, out = Lcg(seed), bytearray()
    ops = [bytes(Lcg(seed + i).next(256) for _ in range(1 + i % 3)) for i in range(24)]
    while len(out) < size:
        out += ops[min(rng.next(24), rng.next(24))] + bytes([rng.next(16)])
        if rng.next(40) == 0:
            out += bytes(rng.next(40))
    return bytes(out[:size])


def wave(phase):
    """A tone of amplitude 32767 over 65536 phase steps, in two parabolic halves."""
    x = phase & 0x7FFF
    y = 4 * x * (0x8000 - x) * 32767 // (0x8000 * 0x8000)
    return -y if phase & 0x8000 else y


def sound(size, bytes_per_sample, channels, seed):
    rng, out, phases = Lcg(seed), bytearray(), [0] * channels
    steps = [300 + 200 * c for c in range(channels)]
    while len(out) < size:
        for c in range(channels):
            phases[c] = (phases[c] + steps[c]) & 0xFFFF
            v = wave(phases[c]) * 3 // 4 + rng.next(257) - 128
            out += bytes([128 + v // 256]) if bytes_per_sample == 1 else struct.pack("<h", v)
    return bytes(out[:size])


def picture(size, seed):
    rng, out = Lcg(seed), bytearray()
    while len(out) < size:
        i = len(out)
        x, y, c = i // 3 % 96, i // 288, i % 3
        v = 60 + x + 2 * y * (c + 1) + (90 if (x - 48) ** 2 + (y - 40) ** 2 < 400 else 0)
        out.append(max(0, min(255, v + rng.next(5) - 2)))
    return bytes(out[:size])


# ---- fuzz_archive ------------------------------------------------------------------------------

def rarwrite():
    tool = os.environ.get("RH_RARWRITE") or os.path.join(os.path.dirname(ROOT), "..", ".build", "release",
                                                         "tools", "rarwrite", "rh_rarwrite")
    return tool if os.access(tool, os.X_OK) else None


def packed_archive(tool, files, flags):
    """The archive the writer makes of the files (name with '/' -> bytes) with the flags."""
    with tempfile.TemporaryDirectory() as scratch:
        tree = os.path.join(scratch, "tree")
        for name, data in files.items():
            path = os.path.join(tree, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        out = os.path.join(scratch, "out.rar")
        subprocess.run([tool] + flags + [tree, out], check=True)
        with open(out, "rb") as f:
            return f.read()


# The names fuzz_archive asks for, with content of the kinds the multimedia mode takes or not.
PACKED = {
    "exe/test.exe": program(4000, 1),
    "jpg/test.jpg": picture(6000, 2),
    "????.txt": prose(6000, 3),
    "m.txt": sound(4000, 2, 2, 4),
}
tool = rarwrite()
if tool is None:
    print("make_seeds: no rh_rarwrite built; the packed archive seeds stay as they are")
else:
    write("fuzz_archive", "packed.rar", packed_archive(tool, PACKED, ["--pack"]))
    write("fuzz_archive", "packed_solid.rar", packed_archive(tool, PACKED, ["--pack", "--solid"]))
    # A member of several blocks: sound, then text, then 8-bit sound (new tables of either mode).
    write("fuzz_archive", "packed_blocks.rar", packed_archive(tool, {
        "exe/test.exe": program(3000, 5),
        "m.txt": sound(40000, 2, 2, 6) + prose(70000, 7) + sound(30000, 1, 1, 8),
    }, ["--pack", "--solid"]))


# ---- fuzz_archive_files --------------------------------------------------------------------

def member(name, data=b"", directory=False, kind=0):
    return bytes([kind | (1 if directory else 0)]) + text(name) + struct.pack("<H", len(data)) + data


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
# Packed (option 0x80), alone and solid, with each multimedia choice (kind bits 0x1C) and a
# member stored among packed ones (0x20).
AUTO, OFF, CHANNELS, STORED = 0x00, 0x04, 0x08, 0x20  # CHANNELS + 4 * (n - 1): n channels
PACKED_MEDIA = [
    member("Media\\Fonts\\64font.fs", prose(3000, 9)),
    member("Media\\Scenes", directory=True),
    member("Media\\Scenes\\sky.zwf", program(2000, 10), kind=OFF),
    member("Media\\sound.pcm", sound(3000, 2, 2, 11), kind=CHANNELS + 4 * 3),
    member("Media\\tiles.rgb", picture(3000, 12), kind=CHANNELS + 4 * 2),
    member("Media\\tone.pcm", sound(2000, 1, 1, 13), kind=AUTO),
    member("readme.txt", b"in the fuzzed archive", kind=STORED),
]
write("fuzz_archive_files", "packed", archive_input(0x88, PACKED_MEDIA, archives=ARCHIVES, folders=FOLDERS, queries=QUERIES))
write("fuzz_archive_files", "packed_solid", archive_input(0x89, PACKED_MEDIA, archives=ARCHIVES, folders=FOLDERS, queries=QUERIES))
write("fuzz_archive_files", "packed_solid_over_1mb", archive_input(
    0xC9,
    [member("a.txt", prose(2000, 14)), repeated("big.bin", b"0123456789abcdef", 0x100007),
     member("z.txt", prose(500, 15), kind=CHANNELS)],
    archives=[(0, ""), (0, "x")], folders=[0],
    queries=b"".join([raw(2, "big.bin"), raw(2, "Z.TXT"), raw(2, "a.txt"), pick(2, 1, 1, 0x02)])))


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


# ---- fuzz_camera_path ----------------------------------------------------------------------
# Whole camera-path files: the reader's own fixture, and the first path of the path maker when
# a build has made it ($RH_MEDIA_DIR, else .build/release/media).
with open(os.path.join(ROOT, "fuzz_zwf", "camera.cam"), "rb") as f:
    write("fuzz_camera_path", "camera.cam", f.read())
MEDIA = os.environ.get("RH_MEDIA_DIR", os.path.join(os.path.dirname(ROOT), "..", ".build", "release", "media"))
if os.path.exists(os.path.join(MEDIA, "Media", "c01.cam")):
    with open(os.path.join(MEDIA, "Media", "c01.cam"), "rb") as f:
        write("fuzz_camera_path", "c01.cam", f.read())

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


# ---- fuzz_vertex_copy ----------------------------------------------------------------------

def declaration(elements):
    out = bytes([len(elements)])
    for stream, offset, kind, method, usage, index in elements:
        out += struct.pack("<HHBBBB", stream, offset, kind, method, usage, index)
    return out


def vertex_seed(name, source, target, counts, indices, widths, room, flags, data):
    out = declaration(source) + declaration(target)
    out += struct.pack("<HHH", counts[0], counts[1], indices) + bytes(widths) + struct.pack("<H", room)
    write("fuzz_vertex_copy", name, out + bytes([flags]) + data)


FLOAT2, FLOAT3, FLOAT4, COLOUR = 1, 2, 3, 4
POSITION, NORMAL, TEXCOORD, COLOR = 0, 3, 5, 10
mesh = [(0, 0, FLOAT3, 0, POSITION, 0), (0, 12, FLOAT3, 0, NORMAL, 0), (0, 24, COLOUR, 0, COLOR, 0),
        (0, 28, FLOAT2, 0, TEXCOORD, 0), (0, 36, FLOAT2, 0, TEXCOORD, 1)]
split = [(0, 0, FLOAT3, 0, POSITION, 0), (1, 0, COLOUR, 0, COLOR, 0), (2, 4, FLOAT2, 0, TEXCOORD, 1)]
points = struct.pack("<12f", 1, 2, 3, -1, 0, 5, 4, 4, 4, 0.5, 9, -2)
vertex_seed("render_layout", mesh, mesh[:3], (3, 3), 6, (2, 2), 6, 0, points)
vertex_seed("streams_to_one", split, mesh, (4, 4), 40000, (4, 2), 40000, 6, points)
vertex_seed("too_little_room", mesh, split, (5, 2), 9, (4, 4), 3, 1, points)
vertex_seed("past_the_streams", [(9, 0, FLOAT4, 0, POSITION, 0), (0, 65520, FLOAT4, 0, NORMAL, 0)],
            [(0, 0, FLOAT4, 0, NORMAL, 0)], (2, 2), 0, (3, 2), 0, 0, b"")
# No vertices and so no stream memory: once formed pointers from null.
vertex_seed("no_vertices", mesh, mesh, (0, 0), 0, (2, 2), 0, 0, b"")

# ---- fuzz_key_tracks -----------------------------------------------------------------------

def key(target, time, values, c=0.0, t=0.0, b=0.0):
    return bytes([target]) + struct.pack("<8f", time, *values, c, t, b)


def key_tracks_seed(name, flags, keys, times, speed=1.0, tolerance=0.1, play=(0.0, 10.0), clocks=(1000, 6000)):
    head = bytes(flags) + struct.pack("<4f", speed, tolerance, *play) + struct.pack("<II", *clocks)
    body = bytes([len(keys)]) + b"".join(keys) + struct.pack("<%df" % len(times), *times)
    write("fuzz_key_tracks", name, head + body)


CIRCLE = []
for k in range(8):
    a = 2 * math.pi * k / 8
    CIRCLE.append(key(2, k, (30 * math.cos(a), 8, 30 * math.sin(a), 0)))
    CIRCLE.append(key(1, k, (0, math.sin(a / 2), 0, math.cos(a / 2)), 0.2, -0.1, 0.3))
key_tracks_seed("camera_circle", (0, 0, 0x10), CIRCLE, [0.5 * i for i in range(20)])
key_tracks_seed("every_track_looped", (1, 1, 2), [key(i % 5, i, (i, -i, 2 * i, 1), 0.5, 0.5, -0.5) for i in range(10)],
                [-1.0, 0.0, 3.3, 9.0, 12.5, float("nan"), float("inf")], speed=2.0)
key_tracks_seed("wrapped_linear_close_keys", (6, 6, 8), [key(3, 0, (0, 0, 0, 0)), key(3, 0.00005, (5, 5, 5, 0)),
                                                          key(4, 0, (0, 0, 0, 0)), key(4, 1, (0, -0.6, 0, -0.8))],
                [0.00002, 0.5, 7.0, -3.0])

# ---- fuzz_rar_unpack20 ---------------------------------------------------------------------

def u24(n):
    return struct.pack("<I", n)[:3]


def content_member(flags, data, size, damage=()):
    out = bytes([flags | 0x08]) + u24(len(data)) + data + u24(size) + bytes([len(damage)])
    for at, x in damage:
        out += u24(at) + bytes([x])
    return out


def packed_member(flags, packed, size):
    return bytes([flags & ~0x08]) + u24(len(packed)) + packed + u24(size)


def fixture_members():
    path = os.path.join(os.path.dirname(ROOT), "..", "tests", "fixtures", "rar", "Rar2.rar")
    with open(path, "rb") as f:
        d = f.read()
    at, found = 7, []
    while at + 7 <= len(d):
        kind, flags, size = d[at + 2], struct.unpack_from("<H", d, at + 3)[0], struct.unpack_from("<H", d, at + 5)[0]
        extra = struct.unpack_from("<I", d, at + 7)[0] if flags & 0x8000 else 0
        if kind == 0x74 and extra:
            found.append((d[at + size:at + size + extra], struct.unpack_from("<I", d, at + 11)[0]))
        at += size + extra
    return found


PROSE = b"The quick brown fox jumps over the lazy dog, 0123456789 times. "
WAVE = bytes(int(128 + 100 * ((i % 40) - 20) / 20 * (1 if (i // 40) % 2 else -1)) & 0xFF for i in range(400))
STEREO = bytes(b for i in range(200) for b in struct.pack("<hh", (i * 300) % 20000 - 10000, 5000 - (i * 170) % 10000))

write("fuzz_rar_unpack20", "text", bytes([0]) + content_member(0x02, PROSE, 200000))
write("fuzz_rar_unpack20", "text_smaller_block", bytes([0]) + content_member(0x06, PROSE * 3, 150000))
write("fuzz_rar_unpack20", "wave_auto", bytes([0]) + content_member(0x12, WAVE, 100000))
write("fuzz_rar_unpack20", "stereo_4_channels", bytes([0]) + content_member(0x34, STEREO, 120000))
write("fuzz_rar_unpack20", "solid_pair", bytes([1]) + content_member(0x10, WAVE + PROSE, 1200000) +
      content_member(0x03, PROSE, 50000))
write("fuzz_rar_unpack20", "damaged", bytes([0]) + content_member(0x02, PROSE + WAVE, 80000,
                                                                 [(100, 0x40), (2000, 0x01), (9000, 0xFF)]))
for i, (packed, size) in enumerate(fixture_members()):
    write("fuzz_rar_unpack20", "fixture_%d" % i, bytes([0]) + packed_member(0x02, packed, size))

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


# ---- Effects: sources for fuzz_effect_source, compiled binaries for fuzz_effect_binary -------

def effect_input(source, macros=()):
    """A macro count byte, name and definition of each ended by zero bytes, then the source."""
    out = bytes([len(macros)])
    for name, definition in macros:
        out += name.encode() + b"\0" + definition.encode() + b"\0"
    return out + source.encode()


EFFECT_LIT = """// A lit, textured effect with the preprocessor at work.
#define MAX_LIGHTS 3
#if NUMDIR + NUMPOINT > MAX_LIGHTS
#error too many lights
#endif
#define LIGHT(n) float4 Dir##n;
shared float4x4 WorldViewProj : WORLDVIEWPROJECTION;
shared float4 EyePosition;
float SpecularPower < string Ui = "power"; > = 16.0;
bool FogEnable = false;
int Count = NUMDIR;
texture DiffuseMap;
sampler2D DiffuseSampler = sampler_state {
    Texture = <DiffuseMap>; MinFilter = Linear; MagFilter = Linear; MipFilter = Linear;
    AddressU = Wrap; AddressV = Clamp;
};
glsl_vertex VS {
    varying vec2 uv;
    void main() {
        gl_Position = WorldViewProj * POSITION0;
        uv = TEXCOORD0.xy;
#ifdef DIR1
        FOG = 0.5;
#endif
    }
}
glsl_fragment PS {
    varying vec2 uv;
    void main() { gl_FragColor = texture2D(DiffuseSampler, uv) * (FogEnable ? 0.5 : 1.0); }
}
technique Lit < int DIR = NUMDIR; int POINT = NUMPOINT; > {
    pass P0 {
        VertexShader = compile vs_1_1 VS();
        PixelShader = compile PS_MODEL PS();
        ZWriteEnable = false; ZFunc = Equal; AlphaBlendEnable = true;
        SrcBlend = SrcAlpha; DestBlend = One; CullMode = CCW;
        MinFilter[1] = Point; Texture[1] = <DiffuseMap>;
    }
}
"""

write("fuzz_effect_source", "lit", effect_input(EFFECT_LIT, [("DIR1", ""), ("NUMDIR", "1"), ("NUMPOINT", "0"),
                                                               ]))
write("fuzz_effect_source", "lit_permutation", effect_input(EFFECT_LIT, [("NUMDIR", "0"), ("NUMPOINT", "2"),
                                                                          ("PS_MODEL", "ps_1_1")]))
write("fuzz_effect_source", "macros", effect_input(
    "#define A(x, y) ((x) << (y))\n#if A(1, 4) == 16 && defined(B) || !defined C\nfloat f = 1.5;\n#elif 0\n#else\n"
    "#endif\n#define B B + 1\nint i = 2; /* a\ncomment */ float2 v = float2(1, -2);\n"))
# The project's own parallax template, as the engine compiles it (one and three lights).
PARALLAX = (pathlib.Path(__file__).resolve().parent.parent / "media" / "Shaders" / "Parallax_T.fx").read_text()
write("fuzz_effect_source", "parallax_dir1", effect_input(PARALLAX, [
    ("DIR1", ""), ("NUMDIR", "1"), ("NUMPOINT", "0"), ("TEXCOORDS", ""), ("PS_MODEL", "ps_1_1")]))
write("fuzz_effect_source", "parallax_dir1_point2_point3", effect_input(PARALLAX, [
    ("DIR1", ""), ("NUMDIR", "1"), ("POINT2", ""), ("POINT3", ""), ("NUMPOINT", "2"), ("TEXCOORDS", ""),
    ("PS_MODEL", "ps_1_1")]))
write("fuzz_effect_source", "errors", effect_input(
    "technique T { pass { CullMode = Sideways; } }\n#include \"x\"\n\"open\n/* open"))


def fx_str(s):
    b = s.encode()
    return struct.pack("<I", len(b)) + b


def fx_annotations(items):
    out = struct.pack("<I", len(items))
    for name, kind, value in items:
        out += fx_str(name) + bytes([kind])
        if kind == 10:
            out += fx_str(value)
        else:
            out += struct.pack("<4f", float(value), 0, 0, 0) + struct.pack("<4i", int(value), 0, 0, 0)
    return out


def fx_fnv1a(data, h=0xCBF29CE484222325):
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def fx_binary(parameters, code, techniques):
    """Our compiled effect: magic, version 1, source hash, body size, body, FNV-1a checksum."""
    body = struct.pack("<I", len(parameters))
    for name, kind, shared, annotations, initial, texture, states in parameters:
        body += fx_str(name) + fx_str("") + bytes([kind, shared]) + fx_annotations(annotations)
        body += struct.pack("<I", len(initial)) + b"".join(struct.pack("<f", v) for v in initial)
        body += struct.pack("<II", texture, len(states)) + b"".join(struct.pack("<II", s, v) for s, v in states)
    body += struct.pack("<I", len(code))
    for name, stage, line, text in code:
        body += fx_str(name) + bytes([stage]) + struct.pack("<I", line) + fx_str(text)
    body += struct.pack("<I", len(techniques))
    for name, annotations, passes in techniques:
        body += fx_str(name) + fx_annotations(annotations) + struct.pack("<I", len(passes))
        for pass_name, pass_annotations, states, vs, ps in passes:
            body += fx_str(pass_name) + fx_annotations(pass_annotations) + struct.pack("<I", len(states))
            body += b"".join(bytes([k]) + struct.pack("<III", s, i, v) for k, s, i, v in states)
            body += struct.pack("<II", vs, ps)
    head = b"RHFX" + struct.pack("<IQI", 1, 0x1234567890ABCDEF, len(body))
    data = head + body
    return data + struct.pack("<Q", fx_fnv1a(data))


NONE = 0xFFFFFFFF
FX_BINARY = fx_binary(
    parameters=[("WorldViewProj", 6, 1, [], [], NONE, []),
                ("Colour", 5, 0, [("Ui", 10, "colour")], [1, 0.5, 0.25, 1], NONE, []),
                ("Flag", 0, 0, [], [1], NONE, []),
                ("Picture", 7, 0, [], [], NONE, []),
                ("PictureSampler", 8, 0, [], [], 3, [(6, 2), (5, 1), (1, 3)])],
    code=[("VS", 0, 12, " void main() { gl_Position = WorldViewProj * POSITION0; FOG = 1.0; } "),
          ("PS", 1, 15, " void main() { gl_FragColor = Colour * texture2D(PictureSampler, vec2(0.5)); } ")],
    techniques=[("Solid", [("DIR", 1, 2), ("POINT", 1, 1)],
                 [("P0", [("Extra", 0, 0)], [(0, 14, 0, 0), (0, 23, 0, 3), (0, 22, 0, 1), (1, 6, 1, 3), (2, 0, 2, 3)],
                   0, 1)]),
                ("Empty", [], [])])
write("fuzz_effect_binary", "effect", bytes([0]) + FX_BINARY)
write("fuzz_effect_binary", "effect_fixed_checksum", bytes([1]) + FX_BINARY)
write("fuzz_effect_binary", "truncated", bytes([1]) + FX_BINARY[:60])

# ---- fuzz_registry: the third value's type, a dword, text, the third value, then the file ----

def registry_seed(name, file, third_type=3, dword=b"\x1e\0\0\0", text=b"1", third=b"\x01\x02"):
    write("fuzz_registry", name, bytes([third_type]) + dword + bytes([len(text)]) + text +
          bytes([len(third)]) + third + file)


SAVER_VALUES = ("UseShaders SnowQuality UseDesktop ShowFps Width Height Depth Adapter Gamma Volume Music "
                "Sound ExitOnMM ShowTime TimeStyle").split()
registry_seed("saver.reg", b"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Larchmere Studio\\Rimeholt 3D Screensaver]\n" +
              b"".join(b'"%s"=dword:%08x\n' % (n.encode(), i * 37) for i, n in enumerate(SAVER_VALUES)) + b"\n")
registry_seed("forms.reg", (
    "\ufeffREGEDIT4\r\n\r\n; comment\r\n[HKEY_CURRENT_USER\\\\A\\B\\]\r\n"
    "\"Text\"=\"say \\\"caf\u00e9\\\" \\\\ \u20ac\"\r\n@=\"default\"\r\n\"Blob\"=hex:01,02,\\\r\n  03\r\n"
    "\"Multi\"=hex(7):41,00,00,00\r\n\"Short\"=dword:1e\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"Y\"=dword:00000001\r\n"
    "[-HKEY_CURRENT_USER\\Gone]\r\nbroken line\r\n[HKEY_CURRENT_USER\\a\\b]\r\n\"Empty\"=hex:\r\n").encode("utf-8"),
    third_type=1, text=b"caf\xe9", third=b"a\nb\0")
registry_seed("damaged.reg", b"REGEDIT5\n[HKEY_CURRENT_USER\\A]\n\"W\"=dword:00000001\n", third_type=7, third=b"")

# ---- fuzz_tokenizer, fuzz_markup ----------------------------------------------------------

def utf16(s):
    return s.encode("utf-16-le", "surrogatepass")


# Options byte: bit 0 the C-like preset, bit 1 a class for the next two bytes' character,
# bits 2-3 how often reads are peeked.
for name, options, extra, source in (
        ("markup_tags", 0x04, b"", "a b <B Size=20>c</B> x/> </RAW> <RAW><I></RAW>"),
        ("markup_lone_slash", 0x08, b"", "/ x /<B>y</B>"),
        ("clike_operators", 0x05, b"", "a<<=b x===y c!==d e>>=f ::=> ++--"),
        ("clike_numbers", 0x09, b"", "12.5) 12abc 12. 1.2.3 0x1F"),
        ("clike_strings", 0x0D, b"", "\"a\\\"b\" 'it\\'s' \"open"),
        ("clike_keywords", 0x01, b"", "return Return continue subclass"),
        ("other_class", 0x72, struct.pack("<H", ord("#")), "ab#cd # 12#"),
        ("surrogates", 0x06, struct.pack("<H", 0x2603), "\ud800x \udc00\u2603y\x00z")):
    write("fuzz_tokenizer", name, bytes([options]) + extra + utf16(source))

for name, source in (
        ("text", "Hello"),
        ("runs", "a b <B>c</B> d"),
        ("mismatch", "<B>x</I>y</B>"),
        ("raw", "<RAW><B></RAW> <RAW>open"),
        ("attributes", "<IMG Src=\"x.png\" Width=64 Height='20'/><P TextFloat Color=\"-16777216\">t</P>"),
        ("styles", "<B Size=20><N>n</N><I Bold Italic Normal>i</I></B>"),
        ("junk", "<B = Size=5 'q>t</B><>x>y</root>"),
        ("deep", "<B>" * 300 + "x" + "</B>" * 300)):
    write("fuzz_markup", name, utf16(source))


# ---- fuzz_font --------------------------------------------------------------------------------

# The font text, then "a.css" and "b.css", separated by zero bytes.
for name, font, a, b in (
        ("two_styles",
         'Name = "X";\nStyles[0].Size = 14; Styles[0].Charsets = array("a.css");\n'
         'Styles[1].Size = 64; Styles[1].Bold = 1; Styles[1].Charsets = array("b.css", "a.css");\n',
         'Name = "p.tga"; Format = "D3DFMT_A8R8G8B8"; CharsPerLine = 8; CharWidth = 8; CharHeight = 8;\n'
         'StartChar = 32; EndChar = 63;\nSizes = array(1, 2, 3, 4, 5, 6, 7, 8);\nSizes.a = 3;\n',
         'Name = "q.tga"; CharsPerLine = 16; CharWidth = 64; CharHeight = 64; StartChar = 0; EndChar = 65535;\n'
         'ColorKey = array(255, 0, 255);\nRects.a = array(0, 0, 299, 7);\n'
         'Rects.b = array(-2147483648, 0, 2147483647, 7);\n'),
        ("replaced",
         'Styles[0].Size = 14; Styles[0].Charsets = array("a.css");\n'
         'Styles[1].Size = 14; Styles[1].FontName = "Body"; Styles[1].Charsets = array("b.css");\n',
         'Name = "p.tga"; CharsPerLine = 4; StartChar = 48; EndChar = 58; ColorKey = 16711935;\n'
         'Format = "D3DFMT_R5G6B5";\n',
         'Name = "p.tga"; CharsPerLine = 1; CharWidth = 2147483647; CharHeight = -5; StartChar = 0;\n'
         'EndChar = 255;\nColorKey.r = 1; ColorKey.g = 2;\n')):
    write("fuzz_font", name, font.encode() + b"\0" + a.encode() + b"\0" + b.encode())
# ---- fuzz_audio_sample -------------------------------------------------------------------------

def ogg_vorbis(rate, channels, seconds, serial):
    """A tone encoded by oggenc (vorbis-tools) with a fixed stream serial."""
    pcm = sound(int(rate * seconds) * 2 * channels, 2, channels, serial)
    result = subprocess.run(["oggenc", "-Q", "-r", "-B", "16", "-C", str(channels), "-R", str(rate),
                             "-q", "0", "--serial", str(serial), "-o", "-", "-"],
                            input=pcm, capture_output=True, check=True)
    return result.stdout


# Options byte: bits 0-1 the output rate, bit 2 loop, bits 3-7 the volume / 4.
if shutil.which("oggenc"):
    for name, options, data in (
            ("mono_8k_loop", 0x04 | (25 << 3), ogg_vorbis(8000, 1, 0.3, 1)),
            ("stereo_22k_to_48k", 0x01 | (12 << 3), ogg_vorbis(22050, 2, 0.2, 2)),
            ("stereo_44k_loop_to_8k", 0x07 | (31 << 3), ogg_vorbis(44100, 2, 0.1, 3)),
            ("chained_rates", 0x04 | (25 << 3), ogg_vorbis(11025, 1, 0.1, 4) + ogg_vorbis(16000, 1, 0.1, 5)),
            ("chained_same", 0x00 | (25 << 3), ogg_vorbis(16000, 2, 0.1, 6) + ogg_vorbis(16000, 2, 0.1, 7)),
            ("three_channels", 0x00 | (25 << 3), ogg_vorbis(16000, 3, 0.1, 8))):
        write("fuzz_audio_sample", name, bytes([options]) + data)
# ---- fuzz_emitter ------------------------------------------------------------------------------

EMITTER_KEYS = ("Texture", "MaxParticles", "IterationAccuracy", "DirDeviation", "EmitDir", "Acceleration",
                "ParticleSize", "ParticleLife", "StartColor", "EndColor", "SpawnArea", "SpawnType",
                "StartSpeed", "GenPeriod", "TexGen")


def emitter_seed(values, seed=1, hand=10, steps=(20,) * 100):
    """values: key -> a text or a list of texts ("TexGen": a list of (name, weight) pairs)."""
    out = b""
    for key in EMITTER_KEYS:
        value = values.get(key)
        if value is None:
            out += b"\0"
        elif isinstance(value, str):
            out += b"\1" + text(value)
        else:
            out += bytes([len(value) + 2])
            for item in value:
                out += text(item[0]) + text(item[1]) if isinstance(item, tuple) else text(item)
    return out + struct.pack("<IB", seed, hand) + b"".join(struct.pack("<H", s) for s in steps)


SNOW = {"MaxParticles": "8000", "IterationAccuracy": "1", "GenPeriod": "2", "EmitDir": ["0", "-1", "0"],
        "DirDeviation": ["0", "10", "1.7", "5"], "Acceleration": ["-0.00001", "-0.00003", "0"],
        "ParticleSize": "0.75", "ParticleLife": "18000", "StartColor": ["0.3", "1", "1", "1"],
        "EndColor": ["1", "1", "1", "1"], "SpawnArea": ["0", "1", "300", "300"], "SpawnType": "1",
        "StartSpeed": ["0.01", "10", "0.02", "5"], "Texture": "flake.png"}
write("fuzz_emitter", "snow", emitter_seed(SNOW))
write("fuzz_emitter", "lamps_and_names",
      emitter_seed({"MaxParticles": "50", "ParticleLife": "-1", "GenPeriod": ["1", "3"],
                    "TexGen": [("a", "10"), ("b", "-3"), ("c", "0"), ("d", "99999999999")]}))
write("fuzz_emitter", "hostile",
      emitter_seed({"MaxParticles": "2147483647", "ParticleLife": "nan", "GenPeriod": "-1",
                    "ParticleSize": ["inf", "1", "-inf", "1", "nan", "1"], "StartSpeed": "1e38",
                    "EmitDir": "0", "DirDeviation": ["nan", "nan"], "SpawnArea": ["1e30", "-1", "2", "-1"]},
                   hand=255))
