"""Hostile inputs for end-to-end runs: crafted EXIF heads and awkward file names."""

import os
import struct

TAG_MAKE, TAG_MODEL, TAG_DATETIME, TAG_EXIF_IFD = 0x010F, 0x0110, 0x0132, 0x8769
TAG_TAKEN, TAG_DIGITIZED = 0x9003, 0x9004


def Tiff(ifd0, exif=(), little=True, ifd0_offset=None):
    """A TIFF block. ifd0 and exif: (tag, bytes-or-None, count-or-None, raw-value-or-None).

    Values with bytes are stored in a data area behind the IFDs and pointed at; a raw value is
    written into the value field as it is.
    """
    o = "<" if little else ">"
    entries0 = list(ifd0)
    if exif:
        entries0.append((TAG_EXIF_IFD, None, 1, "exif"))
    ifd0_pos = 8
    exif_pos = ifd0_pos + 2 + 12 * len(entries0) + 4
    data_pos = exif_pos + (2 + 12 * len(exif) + 4 if exif else 0)
    out = bytearray(data_pos)
    out[0:2] = b"II" if little else b"MM"
    struct.pack_into(o + "H", out, 2, 42)
    struct.pack_into(o + "I", out, 4, ifd0_pos if ifd0_offset is None else ifd0_offset)

    def write_ifd(pos, entries):
        nonlocal data_pos
        struct.pack_into(o + "H", out, pos, len(entries))
        for i, (tag, data, count, raw) in enumerate(entries):
            at = pos + 2 + 12 * i
            if raw == "exif":
                value = exif_pos
            elif data is None:
                value = raw
            else:
                value = data_pos
                out.extend(data)
                data_pos += len(data)
            if count is None:
                count = len(data) if data is not None else 1
            struct.pack_into(o + "HHII", out, at, tag, 2, count & 0xFFFFFFFF,
                             value & 0xFFFFFFFF)
        struct.pack_into(o + "I", out, pos + 2 + 12 * len(entries), 0)

    write_ifd(ifd0_pos, entries0)
    if exif:
        write_ifd(exif_pos, list(exif))
    return bytes(out)


def Ascii(tag, text, count=None):
    data = (text if isinstance(text, bytes) else text.encode("latin-1")) + b"\0"
    return (tag, data, count, None)


def RawEntry(tag, count, value):
    return (tag, None, count, value)


def Jpeg(tiff, app0_length=None, body=4096):
    """FF D8, an optional APP0 of the given length field, the APP1 Exif segment, a body."""
    out = bytearray(b"\xff\xd8")
    if app0_length is not None:
        out += b"\xff\xe0" + struct.pack(">H", app0_length)
        out += (b"JFIF\0" + bytes(max(0, app0_length - 7)))[: max(0, app0_length - 2)]
    length = 2 + 6 + len(tiff)
    out += b"\xff\xe1" + struct.pack(">H", length & 0xFFFF) + b"Exif\0\0" + tiff
    out += bytes((i * 7) & 0xFF for i in range(body)) + b"\xff\xd9"
    return bytes(out)


DATE = "2004:04:26 10:35:23"


def CraftedHeads():
    """(name, bytes) of crafted camera files that must neither crash the reader nor steer a path
    outside the destination."""
    heads = []

    def add(name, data):
        heads.append((name, data))

    good = [Ascii(TAG_MAKE, "Acme"), Ascii(TAG_MODEL, "Acme Z10")]
    add("plain.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, DATE)])))
    add("ifd0-offset-ffffffff.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, DATE)],
                                             ifd0_offset=0xFFFFFFFF)))
    add("taken-offset-ffffffff.jpg",
        Jpeg(Tiff(good, [RawEntry(TAG_TAKEN, 20, 0xFFFFFFFF)])))
    add("model-count-ffffffff.jpg",
        Jpeg(Tiff([Ascii(TAG_MODEL, "Acme Z10", count=0xFFFFFFFF)], [Ascii(TAG_TAKEN, DATE)])))
    add("model-offset-7fffffff.jpg",
        Jpeg(Tiff([RawEntry(TAG_MODEL, 9, 0x7FFFFFFF)], [Ascii(TAG_TAKEN, DATE)])))
    many = bytearray(Jpeg(Tiff(good, [Ascii(TAG_TAKEN, DATE)])))
    many[12 + 8:12 + 10] = b"\xff\xff"  # IFD0 count 0xFFFF
    add("ifd0-count-ffff.jpg", bytes(many))
    # The Exif sub-IFD pointer leading back to IFD0: a loop in the IFD chain.
    add("exif-ifd-loop-ifd0.jpg",
        Jpeg(Tiff([Ascii(TAG_MODEL, "Loop"), RawEntry(TAG_EXIF_IFD, 1, 8)])))
    for length in (0, 1, 2, 0xFFFF):
        add("app0-length-%d.jpg" % length,
            Jpeg(Tiff(good, [Ascii(TAG_TAKEN, DATE)]), app0_length=length))
    add("date-with-nul.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, b"2004:04:2\x006 10:35:23")])))
    add("date-with-slash.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, "2004:../26 10:35:23")])))
    add("date-dotdot.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, "1...:..:.. ..:..:..")])))
    add("date-dots-space.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, "1 ..:..:.. ..:..:..")])))
    add("date-high-bytes.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, b"2\xff\xfe\x80:\x85\xc0:26 10:35:23")])))
    add("model-slashes.jpg", Jpeg(Tiff([Ascii(TAG_MAKE, "../../etc"),
                                        Ascii(TAG_MODEL, "../../../tmp/x\0/y")],
                                       [Ascii(TAG_TAKEN, DATE)])))
    add("model-controls.jpg", Jpeg(Tiff([Ascii(TAG_MODEL, b"A\x01B\nC\rD\x7fE\x1b[31m")],
                                        [Ascii(TAG_TAKEN, DATE)])))
    add("model-high-bytes.jpg", Jpeg(Tiff([Ascii(TAG_MODEL, bytes(range(0x80, 0x100)))],
                                          [Ascii(TAG_TAKEN, DATE)])))
    add("model-300.jpg", Jpeg(Tiff([Ascii(TAG_MODEL, "M" * 300)], [Ascii(TAG_TAKEN, DATE)])))
    add("date-300.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, "2004:04:26 10:35:23" + "9" * 281)])))
    add("truncated.jpg", Jpeg(Tiff(good, [Ascii(TAG_TAKEN, DATE)]), body=0)[:40])
    add("raw-model-mismatch.pef",
        Tiff([Ascii(TAG_MODEL, "PENTAX *ist D      ")], little=False)[:-1] + b"X")
    return heads


def DotDates():
    """(name, bytes) of camera JPEGs whose picture date holds dots in its fields: none may make
    a folder or a name of dots (hidden in file managers)."""
    dates = ["1 ..:..:.. ..:..:..", "1...:..:.. ..:..:..", "....:..:.. ..:..:..",
             "2004:..:26 10:35:23", "2004:04:.. 10:35:23", "2004:04:26 ..:35:23",
             "2004:04:26 10:..:23", "2004:04:26 10:35:..", "..04:04:26 10:35:23",
             "2004:0.:2. 1.:3.:2.", ".:.:. .:.:."]
    good = [Ascii(TAG_MAKE, "Acme"), Ascii(TAG_MODEL, "Acme Z10")]
    return [("dots-%02d.jpg" % i, Jpeg(Tiff(good, [Ascii(TAG_TAKEN, date)])))
            for i, date in enumerate(dates)]


# The camera model texts above that make names longer than a file name may be.
TOO_LONG_MODELS = {"model-300.jpg", "model-high-bytes.jpg"}


def HostileNames():
    """Awkward but valid Linux file names (bytes)."""
    return [
        b"new\nline.jpg",
        b"\nstarts-with-newline.jpg",
        b"-leading-dash.jpg",
        b"--help",
        b"--move.jpg",
        b"-",
        b"bad-utf8-\xff\xfe\xc3(.jpg",
        b"tab\tand\rcr.jpg",
        b"space at end .jpg ",
        b"...jpg",
        b"..x",
        b"x" * 251 + b".jpg",  # 255 bytes
        "日本語の名前.jpg".encode("utf-8"),
        b"back\\slash.jpg",
        b"*?<>|\":.jpg",
        b"no-extension",
        b".hidden-is-not-listed.jpg",
    ]


def WriteHostileNames(folder, mtime):
    written = []
    for i, name in enumerate(HostileNames()):
        path = os.path.join(os.fsencode(folder), name)
        with open(path, "wb") as f:
            f.write(b"hostile name %d: " % i + name + b"\n")
        os.utime(path, (mtime, mtime))
        written.append(name)
    return written


def Box(kind, body):
    return struct.pack(">I", 8 + len(body)) + kind + body


def Nested(kind, head, levels):
    """levels boxes of one kind, each the only child of the one before (after head)."""
    out = bytearray()
    size = levels * (8 + len(head))
    for _ in range(levels):
        out += struct.pack(">I", size) + kind + head
        size -= 8 + len(head)
    return bytes(out)


CANON_UUID = bytes.fromhex("85c0b687820f11e08111f4ce462b6a48")


def NestedBoxes():
    """Box files that cost a box parser memory with the square of their depth: 20,000 nested
    Canon uuid boxes in a CR3, meta/iprp in a HEIC; and a CR3 with its date in the CMT boxes
    and a box nested 40 deep after them."""
    cmt2 = Tiff([Ascii(TAG_TAKEN, "2019:05:06 07:08:09")])
    cr3 = (Box(b"ftyp", b"crx \0\0\0\1crx isom") +
           Box(b"moov", Box(b"uuid", CANON_UUID + Box(b"CMT1", Tiff([Ascii(TAG_MAKE, "Canon")])) +
                            Box(b"CMT2", cmt2))) + Nested(b"moov", b"", 40))
    return [
        ("nested.cr3", Box(b"ftyp", b"crx \0\0\0\1") + Nested(b"uuid", CANON_UUID, 20000)),
        ("nested.heic", Box(b"ftyp", b"heic\0\0\0\0mif1") +
         Box(b"meta", b"\0\0\0\0" + Nested(b"iprp", b"", 20000))),
        ("deep.cr3", cr3),
    ]
