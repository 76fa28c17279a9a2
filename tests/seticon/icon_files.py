"""Files for the seticon tests, made at test time: a PE laid out as the
launcher is (icon group 1 with one 128x128 24-bit image, nothing else) or
with a chosen fault, ICO files with BMP and PNG images, and the icon read
back out of an exe."""

import os
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "cmake"))
import make_icon  # noqa: E402

RT_ICON, RT_GROUP_ICON, RT_VERSION = 3, 14, 16
SIDE = 128
IMAGE_SIZE = 40 + SIDE * SIDE * 3 + SIDE * SIDE // 8  # 51,240
SHIPPED_ICON = make_icon.iconBytes(make_icon.drawPixels())[6 + 16:]


def groupBytes(entries):
    """RT_GROUP_ICON data for [(width, bits, size, id)]."""
    data = struct.pack("<HHH", 0, 1, len(entries))
    for width, bits, size, iconId in entries:
        data += struct.pack("<BBBBHHIH", width % 256, width % 256, 0, 0, 1, bits, size, iconId)
    return data


def resourceSection(tree, rva):
    """A .rsrc section for {type: {name: data}} (one language each), at rva."""
    dirs = bytearray()
    # Directories first (root, types, names), then data entries, then data.
    layout = [("root", sorted(tree))]
    for t in sorted(tree):
        layout.append(("type", t, sorted(tree[t])))
        for n in sorted(tree[t]):
            layout.append(("name", t, n))
    sizes = [16 + 8 * (len(item[-1]) if item[0] != "name" else 1) for item in layout]
    offsets, at = [], 0
    for size in sizes:
        offsets.append(at)
        at += size
    dataEntryAt = at
    names = [(item[1], item[2]) for item in layout if item[0] == "name"]
    dataAt = dataEntryAt + 16 * len(names)
    blobs = []
    for t, n in names:
        blobs.append((dataAt, tree[t][n]))
        dataAt += (len(tree[t][n]) + 7) // 8 * 8

    def dirOffset(kind, *key):
        for i, item in enumerate(layout):
            if item[0] == kind and item[1:1 + len(key)] == key:
                return offsets[i]
        raise KeyError(key)

    for item in layout:
        children = item[-1] if item[0] != "name" else [0x409]
        dirs += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(children))
        for child in children:
            if item[0] == "root":
                target = dirOffset("type", child) | 0x80000000
            elif item[0] == "type":
                target = dirOffset("name", item[1], child) | 0x80000000
            else:
                target = dataEntryAt + 16 * names.index((item[1], item[2]))
            dirs += struct.pack("<II", child, target)
    for (at, blob) in blobs:
        dirs += struct.pack("<IIII", rva + at, len(blob), 0, 0)
    for at, blob in blobs:
        dirs += b"\0" * (at - len(dirs)) + blob
    return bytes(dirs)


def launcherPe(tree=None, signed=False, amd64=False):
    """A PE32 (or PE32+) file with one .rsrc section holding tree, by default
    the launcher's icon; signed adds a certificate table entry."""
    if tree is None:
        tree = {RT_ICON: {1: SHIPPED_ICON}, RT_GROUP_ICON: {1: groupBytes([(128, 24, IMAGE_SIZE, 1)])}}
    rva, fileAlign = 0x1000, 0x200
    rsrc = resourceSection(tree, rva) if tree else b""
    raw = (len(rsrc) + fileAlign - 1) // fileAlign * fileAlign
    optionalSize = 240 if amd64 else 224
    header = bytearray(b"MZ" + b"\0" * 58 + struct.pack("<I", 64))
    header += b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664 if amd64 else 0x14c, 1, 0, 0, 0, optionalSize, 0x102)
    optional = bytearray(optionalSize)
    struct.pack_into("<H", optional, 0, 0x20b if amd64 else 0x10b)
    struct.pack_into("<II", optional, 32, 0x1000, fileAlign)
    struct.pack_into("<II", optional, 56, rva + max(0x1000, raw), fileAlign)  # SizeOfImage, SizeOfHeaders
    struct.pack_into("<H", optional, 68, 2)  # GUI subsystem
    directories = 112 if amd64 else 96
    struct.pack_into("<I", optional, directories - 4, 16)
    if tree:
        struct.pack_into("<II", optional, directories + 16, rva, len(rsrc))
    if signed:
        struct.pack_into("<II", optional, directories + 32, fileAlign + raw, 8)
    header += optional
    header += struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), rva, raw, fileAlign, 0, 0, 0, 0, 0x40000040)
    data = bytes(header) + b"\0" * (fileAlign - len(header)) + rsrc + b"\0" * (raw - len(rsrc))
    return data + (struct.pack("<IHH", 8, 0x200, 2) if signed else b"")


def iconImage(exe):
    """(offset, bytes) of the single RT_ICON image of a PE, read with pefile."""
    import pefile
    pe = pefile.PE(data=exe)
    for typeEntry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if typeEntry.id == RT_ICON:
            data = typeEntry.directory.entries[0].directory.entries[0].data.struct
            return pe.get_offset_from_rva(data.OffsetToData), exe[pe.get_offset_from_rva(data.OffsetToData):][:data.Size]
    raise AssertionError("no icon image")


def iconPixels(image):
    """RGBA rows top to bottom of a 128x128 24-bit icon image; alpha 0 where
    the AND mask is set, else 255."""
    colour, mask = image[40:40 + SIDE * SIDE * 3], image[40 + SIDE * SIDE * 3:]
    out = bytearray()
    for y in range(SIDE):
        row = SIDE - 1 - y
        for x in range(SIDE):
            b, g, r = colour[(row * SIDE + x) * 3:(row * SIDE + x) * 3 + 3]
            transparent = mask[row * SIDE // 8 + x // 8] >> (7 - x % 8) & 1
            out += bytes((r, g, b, 0 if transparent else 255))
    return bytes(out)


def rawRgba(path, size=None, filterName=None):
    """RGBA bytes of an image as ImageMagick reads it, optionally fitted into
    size x size (centred on transparency) with the named filter."""
    args = ["convert", path, "-depth", "8"]
    if size:
        args += ["-filter", filterName, "-resize", "%dx%d" % (size, size), "-background", "none",
                 "-gravity", "center", "-extent", "%dx%d" % (size, size)]
    return subprocess.run(args + ["rgba:-"], check=True, capture_output=True).stdout


def bmpEntry(rgba, side, bits):
    """An ICO's BMP image of bits (1, 4, 8, 24 or 32) for side x side RGBA
    pixels: palette colours by nearest match, the AND mask from alpha < 128."""
    pixels = [tuple(rgba[i:i + 4]) for i in range(0, len(rgba), 4)]
    if bits == 1:
        palette = [(0, 0, 0), (255, 255, 255)]
    elif bits == 4:
        palette = [(r, g, b) for r in (0, 255) for g in (0, 128, 255) for b in (0, 255)] + [(128, 128, 128)] * 4
    elif bits == 8:
        palette = [(r * 255 // 7, g * 255 // 7, b * 255 // 3) for r in range(8) for g in range(8) for b in range(4)]
    else:
        palette = []

    def index(p):
        return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(p[:3], palette[i])))

    stride = (side * bits + 31) // 32 * 4
    maskStride = (side + 31) // 32 * 4
    colour, mask = bytearray(), bytearray()
    for y in reversed(range(side)):
        row, bitsRow, maskRow = bytearray(), 0, bytearray(maskStride)
        indices = []
        for x in range(side):
            r, g, b, a = pixels[y * side + x]
            if a < 128:
                maskRow[x // 8] |= 0x80 >> (x % 8)
            if bits == 32:
                row += bytes((b, g, r, a))
            elif bits == 24:
                row += bytes((b, g, r))
            else:
                indices.append(index((r, g, b)))
        if bits <= 8:
            bitsRow = 0
            for i in indices:
                bitsRow = bitsRow << bits | i
            bitsRow <<= stride * 8 - len(indices) * bits
            row = bytearray(bitsRow.to_bytes(stride, "big"))
        colour += row + b"\0" * (stride - len(row))
        mask += maskRow
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, bits, 0, len(colour) + len(mask), 0, 0,
                         len(palette), 0)
    return header + b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + bytes(colour) + bytes(mask)


def icoFile(images):
    """An ICO file of [(side, bits, data)]."""
    out = struct.pack("<HHH", 0, 1, len(images))
    at = 6 + 16 * len(images)
    for side, bits, data in images:
        out += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, bits, len(data), at)
        at += len(data)
    return out + b"".join(data for _, _, data in images)
