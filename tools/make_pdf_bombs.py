#!/usr/bin/env python3
"""Writes small PDF files built to make a PDF reader do huge work, one of each kind the engine
bounds: a stream shared by many pages that inflates to hundreds of megabytes, one string of
that size, a stream of numbers without an operator, many fonts over one huge ToUnicode CMap,
object streams and cross-reference streams that unfold into millions of entries, and forms
that show each other. Each file is a few hundred kilobytes at most.

Usage: tools/make_pdf_bombs.py FOLDER   (writes FOLDER/*.pdf; tests/pdf/engine/pdf_bombs_check.py
runs the engine over them under a memory limit)
"""
import os
import sys
import zlib


def deflate_repeated(chunk: bytes, total: int, prefix: bytes = b"", suffix: bytes = b"") -> bytes:
    """zlib data that inflates to `prefix`, `chunk` repeated up to `total` bytes, `suffix`,
    without holding them."""
    z = zlib.compressobj(9)
    out = [z.compress(prefix)]
    block = chunk * max(1, (1 << 20) // len(chunk))
    written = 0
    while written < total:
        piece = block[: total - written]
        out.append(z.compress(piece))
        written += len(piece)
    out.append(z.compress(suffix))
    out.append(z.flush())
    return b"".join(out)


def pdf(objects: dict, root: int = 1) -> bytes:
    """A PDF with a classic cross-reference table; `objects` maps numbers to bodies."""
    out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for number in sorted(objects):
        offsets[number] = len(out)
        out += b"%d 0 obj\n" % number + objects[number] + b"\nendobj\n"
    xref = len(out)
    size = max(objects) + 1
    out += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for number in range(1, size):
        out += (b"%010d 00000 n \n" % offsets[number]) if number in offsets else b"0000000000 65535 f \n"
    out += b"trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, root, xref)
    return bytes(out)


def stream(data: bytes, extra: bytes = b"") -> bytes:
    return b"<< /Length %d%s >>\nstream\n" % (len(data), extra) + data + b"\nendstream"


def pages(kids, resources=b"") -> dict:
    """Catalog 1 and page tree 2 over the page objects `kids` (their numbers)."""
    refs = b" ".join(b"%d 0 R" % k for k in kids)
    return {
        1: b"<< /Type /Catalog /Pages 2 0 R >>",
        2: b"<< /Type /Pages /Kids [" + refs + b"] /Count %d " % len(kids) + resources + b">>",
    }


def shared_stream() -> bytes:
    """20 pages whose one content stream inflates to 205 MB of text operators."""
    objs = pages(range(10, 30))
    for n in range(10, 30):
        objs[n] = b"<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>"
    objs[3] = stream(deflate_repeated(b"BT (ferretta shared bomb) Tj ET\n", 205 << 20),
                     b" /Filter /FlateDecode")
    return pdf(objs)


def one_string() -> bytes:
    """One page whose content is one literal string of 300 MB of Japanese text."""
    objs = pages([10])
    objs[10] = b"<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>"
    objs[3] = stream(deflate_repeated("あ".encode("cp932"), 300 << 20, b"BT (", b") Tj ET"),
                     b" /Filter /FlateDecode")
    return pdf(objs)


def numbers() -> bytes:
    """One page whose content is 60 million numbers and no operator."""
    objs = pages([10])
    objs[10] = b"<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>"
    objs[3] = stream(deflate_repeated(b"1 ", 120 << 20), b" /Filter /FlateDecode")
    return pdf(objs)


def fonts() -> bytes:
    """2,000 fonts over one ToUnicode CMap of 400,000 entries, all used on 50 pages."""
    entries = b"".join(b"<%04x> <%04x>\n" % (c, 0x4E00 + c % 20000) for c in range(400000 % 65536))
    cmap = (b"/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
            b"1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
            + b"".join(b"100 beginbfchar\n" + entries[i * 14 * 100:(i + 1) * 14 * 100] + b"endbfchar\n"
                       for i in range(655))
            + b"1 beginbfrange <0000> <FFFF> [" + b" ".join(b"<%04x>" % (0x4E00 + c % 20000) for c in range(65536))
            + b"] endbfrange\nendcmap end end\n")
    objs = {}
    font_count = 2000
    objs[3] = stream(zlib.compress(cmap, 9), b" /Filter /FlateDecode")
    font_refs = b" ".join(b"/F%d %d 0 R" % (i, 100 + i) for i in range(font_count))
    for i in range(font_count):
        objs[100 + i] = (b"<< /Type /Font /Subtype /Type0 /BaseFont /X /Encoding /Identity-H"
                         b" /DescendantFonts [4 0 R] /ToUnicode 3 0 R >>")
    objs[4] = b"<< /Type /Font /Subtype /CIDFontType2 /BaseFont /X /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> >>"
    objs[5] = b"<< /Font << " + font_refs + b" >> >>"
    content = b"".join(b"BT /F%d 12 Tf <4e004e01> Tj ET\n" % i for i in range(font_count))
    objs[6] = stream(zlib.compress(content, 9), b" /Filter /FlateDecode")
    kids = list(range(10, 60))
    objs.update(pages(kids, b"/Resources 5 0 R "))
    for n in kids:
        objs[n] = b"<< /Type /Page /Parent 2 0 R /Contents 6 0 R >>"
    return pdf(objs)


def xref_entries() -> bytes:
    """A cross-reference stream naming 16 million objects, each at the same offset."""
    count = 16 << 20
    row = b"\x01\x00\x00\x0f\x00"  # type 1, offset 15 (3 bytes), generation 0
    data = deflate_repeated(row, count * len(row))
    body = b"%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
    body += b"2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n"
    xref = len(body)
    body += (b"3 0 obj\n<< /Type /XRef /Size %d /W [1 3 1] /Root 1 0 R /Filter /FlateDecode /Length %d >>\nstream\n"
             % (count, len(data)) + data + b"\nendstream\nendobj\nstartxref\n%d\n%%%%EOF\n" % xref)
    return body


def forms() -> bytes:
    """Forms that show each other ten times over, eight deep, on 20 pages."""
    objs = pages(range(10, 30), b"/Resources 5 0 R ")
    for n in range(10, 30):
        objs[n] = b"<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>"
    objs[3] = stream(b"/X0 Do")
    names = b" ".join(b"/X%d %d 0 R" % (i, 200 + i) for i in range(8))
    objs[5] = b"<< /XObject << " + names + b" >> >>"
    for i in range(8):
        body = (b"/X%d Do " % (i + 1)) * 10 if i < 7 else b"BT (form bomb) Tj ET " * 1000
        objs[200 + i] = stream(body, b" /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources 5 0 R")
    return pdf(objs)


BOMBS = {
    "shared_stream": shared_stream,
    "one_string": one_string,
    "numbers": numbers,
    "fonts": fonts,
    "xref_entries": xref_entries,
    "forms": forms,
}


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, make in BOMBS.items():
        data = make()
        with open(os.path.join(folder, name + ".pdf"), "wb") as out:
            out.write(data)
        print(f"{name}.pdf {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
