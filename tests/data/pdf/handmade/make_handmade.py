#!/usr/bin/env python3
"""Writes the hand-made PDFs of this folder. Each one exercises one thing the engine must get
right; its .expected lists "page<TAB>word" for every word that must be found on that page
and "-<TAB>word" for every word that must not be found anywhere."""
import os
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def build(objects, root=1, extra_trailer=b"", header=b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"):
    """objects: list of (number, body bytes). Answers the file bytes and the offsets."""
    out = bytearray(header)
    offsets = {}
    for number, body in objects:
        offsets[number] = len(out)
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    size = max(offsets) + 1
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for n in range(1, size):
        if n in offsets:
            out += b"%010d 00000 n \n" % offsets[n]
        else:
            out += b"0000000000 00000 f \n"
    out += b"trailer\n<< /Size %d /Root %d 0 R%s >>\nstartxref\n%d\n%%%%EOF\n" % (size, root, extra_trailer, xref)
    return bytes(out), offsets, xref


def stream(data, extra=b""):
    return b"<< /Length %d%s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def page(number, contents, parent=2):
    return (number, b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Contents %s >>" % (parent, contents))


def write(name, data, expected):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)
    with open(os.path.join(HERE, name.replace(".pdf", ".expected")), "w", encoding="utf-8") as f:
        f.write(expected)


def incremental():
    objs = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        page(3, b"4 0 R"),
        (4, stream(b"BT /F1 12 Tf 72 700 Td (OldWording) Tj ET")),
    ]
    base, offsets, xref = build(objs)
    update = bytearray(base)
    new4 = len(update)
    update += b"4 0 obj\n" + stream(b"BT /F1 12 Tf 72 700 Td (NewWording) Tj ET") + b"\nendobj\n"
    xref2 = len(update)
    update += b"xref\n0 1\n0000000000 65535 f \n4 1\n%010d 00000 n \n" % new4
    update += b"trailer\n<< /Size 5 /Root 1 0 R /Prev %d >>\nstartxref\n%d\n%%%%EOF\n" % (xref, xref2)
    write("incremental_update.pdf", bytes(update), "1\tNewWording\n-\tOldWording\n")


def indirect_length():
    data = zlib.compress(b"BT /F1 12 Tf 72 700 Td [(Indi) -20 (rect)] TJ ET\n")
    objs = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        page(3, b"4 0 R"),
        (4, b"<< /Length 5 0 R /Filter /FlateDecode >>\nstream\n" + data + b"\nendstream"),
        (5, b"%d" % len(data)),
    ]
    write("indirect_length.pdf", build(objs)[0], "1\tIndirect\n")


def nested_pages():
    objs = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 3 >>"),
        (3, b"<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 5 0 R] /Count 2 >>"),
        page(4, b"7 0 R", 3),
        page(5, b"[8 0 R 9 0 R]", 3),
        page(6, b"10 0 R"),
        (7, stream(b"BT (Alpha) Tj ET")),
        (8, stream(b"BT (Bravo) Tj ET")),
        (9, stream(b"BT (Charlie) Tj ET")),
        (10, stream(b"BT (Delta) Tj ET")),
    ]
    write("nested_pages.pdf", build(objs)[0], "1\tAlpha\n2\tBravo\n2\tCharlie\n3\tDelta\n")


def endstream_inside():
    data = b"BT (before) Tj (endstream) Tj\nendstream\n(after the fake end) Tj ET"
    objs = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        page(3, b"4 0 R"),
        (4, stream(data)),
    ]
    write("endstream_in_data.pdf", build(objs)[0], "1\tbeforeendstream\n1\tfake end\n")


def japanese():
    # A CP932 literal string, and a hex string of Adobe-Japan1 CIDs (843 = あ, 845 = い).
    data = b"BT /F1 12 Tf (\x93\xfa\x96\x7b\x8c\xea) Tj /F2 12 Tf <034B034D> Tj ET"
    objs = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        page(3, b"4 0 R"),
        (4, stream(data)),
    ]
    write("japanese_strings.pdf", build(objs)[0], "1\t日本語\n1\tあい\n")


def broken_xref():
    objs = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        page(3, b"4 0 R"),
        (4, stream(b"BT (Rebuilt) Tj ET")),
    ]
    data, offsets, xref = build(objs)
    # Every offset of the table points 7 bytes too far, as after an editor's "repair".
    head, tail = data[:xref], data[xref:]
    for n, off in offsets.items():
        tail = tail.replace(b"%010d 00000 n" % off, b"%010d 00000 n" % (off + 7))
    write("broken_xref.pdf", head + tail, "1\tRebuilt\n")


def object_streams():
    # PDF 1.5: the page tree inside an object stream, a cross-reference stream for the index.
    members = [
        (1, b"<< /Type /Catalog /Pages 2 0 R >>"),
        (2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>"),
        (3, b"<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>"),
    ]
    header = b""
    body = b""
    for n, text in members:
        header += b"%d %d " % (n, len(body))
        body += text + b"\n"
    objstm = zlib.compress(header + body)
    out = bytearray(b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    offsets[4] = len(out)
    content = zlib.compress(b"BT (Compressed objects) Tj ET")
    out += b"4 0 obj\n<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(content) + content + b"\nendstream\nendobj\n"
    offsets[5] = len(out)
    out += b"5 0 obj\n<< /Type /ObjStm /N 3 /First %d /Length %d /Filter /FlateDecode >>\nstream\n" % (len(header), len(objstm))
    out += objstm + b"\nendstream\nendobj\n"
    offsets[6] = len(out)
    rows = [(0, 0, 65535), (2, 5, 0), (2, 5, 1), (2, 5, 2), (1, offsets[4], 0), (1, offsets[5], 0), (1, offsets[6], 0)]
    raw = b"".join(bytes([t]) + f.to_bytes(4, "big") + g.to_bytes(2, "big") for t, f, g in rows)
    out += b"6 0 obj\n<< /Type /XRef /Size 7 /W [1 4 2] /Root 1 0 R /Length %d >>\nstream\n" % len(raw)
    out += raw + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % offsets[6]
    write("object_streams.pdf", bytes(out), "1\tCompressed objects\n")


if __name__ == "__main__":
    incremental()
    indirect_length()
    nested_pages()
    endstream_inside()
    japanese()
    broken_xref()
    object_streams()
