#!/usr/bin/env python3
"""Writes resources/AdobeCID.dat, the CID character table of the PDF engine.

The source is Adobe's public Adobe-Japan1 -> Unicode CMap as Debian ships it in the package
poppler-data (BSD licence, notice kept in resources/AdobeCID.NOTICE). Run from the repository
root whenever that mapping changes (the output is committed):

    python3 tools/gen_adobe_cid.py resources/AdobeCID.dat
    python3 tools/gen_adobe_cid.py --check resources/AdobeCID.dat   # 0 same text, 1 differs

The output is one zlib stream (zlib.compress, level 9) of CP932 text with one CR LF line per CID
1..23059 (the last CID of Adobe-Japan1-7), and no line for CID 0. Tables written before the
collection's supplements 5 to 7 were added stopped at CID 15443; their lines are the first 15443
lines of this one, byte for byte, and the program still loads them. A CID the CMap maps to several code points gives that whole
string. Text is encoded as the program's own CP932 codec does, i.e. with Windows' choices (U+2170
-> 0xFA40, no form for U+301C or U+00A5), not with Python's "cp932" encoder, which differs. The
encoding table is built from tools/gen_cp932_tables.py: its decoding (LEADS, TRAILS, decode) is
imported and its rule for duplicate codes is repeated in cp932_encoder() below; keep the two in
step.

Text with no CP932 form: variation selectors (U+FE00-FE0F, U+E0100-E01EF) are dropped first,
since they only choose a glyph of the character before them; what still has no form is replaced
by its NFKC normalization when that has one (U+337B -> "平成"), and otherwise the line is empty.

Exit status: 0 success (or --check identical), 1 --check differs, 2 bad arguments or bad CMap,
77 poppler-data (or the CMap) is missing.
"""

import os
import re
import sys
import unicodedata
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_cp932_tables as cp932  # noqa: E402

CMAP = "/usr/share/poppler/cMap/Adobe-Japan1/Adobe-Japan1-UCS2"
LAST_CID = 23059  # the last CID of Adobe-Japan1-7; cidTableLastCid in cid_map.h is the same
MAX_INFLATED = 500001  # the most the program inflates
EXIT_SKIP = 77

TOKEN = re.compile(r"<([0-9A-Fa-f]*)>|\[|\]|begin(bfchar|bfrange)\b|end(bfchar|bfrange)\b")


def cp932_encoder():
    """Character -> CP932 bytes, with Windows' choice among duplicate codes: the lowest code
    wins, except that a NEC-selected IBM code (0xED40-0xEEFC) loses to any other."""
    codes = []
    for b in range(256):
        if b not in cp932.LEADS:
            u = cp932.decode(bytes([b]))
            if u != cp932.NONE:
                codes.append((b, u))
    for lead in cp932.LEADS:
        for trail in cp932.TRAILS:
            u = cp932.decode(bytes([lead, trail]))
            if u != cp932.NONE:
                codes.append((lead << 8 | trail, u))

    def rank(code):
        return (1 if 0xED40 <= code <= 0xEEFC else 0, code)

    best = {}
    for code, u in codes:
        if u not in best or rank(code) < rank(best[u]):
            best[u] = code
    return {chr(u): bytes([code]) if code < 0x100 else bytes([code >> 8, code & 0xFF])
            for u, code in best.items()}


def utf16be(hexdigits):
    if len(hexdigits) % 4:
        raise ValueError("destination <%s> is not whole UTF-16 units" % hexdigits)
    return bytes.fromhex(hexdigits).decode("utf-16-be")


def read_cmap(text):
    """CID -> Unicode string from the bfchar and bfrange sections of a ToUnicode-style CMap."""
    mapping = {}
    section = None
    operands = []

    def put(cid, value):
        # The CMap lists every CID once; should one repeat, the first entry stands.
        mapping.setdefault(cid, value)

    for m in TOKEN.finditer(text):
        if m.group(2):
            section, operands = m.group(2), []
            continue
        if m.group(3):
            section = None
            continue
        if section is None:
            continue
        if m.group(1) is None:
            # A bfrange with an array of destinations; Adobe's file has none.
            raise ValueError("bfrange arrays are not supported")
        operands.append(m.group(1))
        if section == "bfchar" and len(operands) == 2:
            put(int(operands[0], 16), utf16be(operands[1]))
            operands = []
        elif section == "bfrange" and len(operands) == 3:
            low, high = int(operands[0], 16), int(operands[1], 16)
            units = bytes.fromhex(operands[2])
            if len(units) < 2 or len(units) % 2:
                raise ValueError("bfrange <%s> has a bad destination" % operands[0])
            last = int.from_bytes(units[-2:], "big")
            if high < low or last + (high - low) > 0xFFFF:
                raise ValueError("bfrange <%s> runs past its last unit" % operands[0])
            for i in range(high - low + 1):
                put(low + i, (units[:-2] + (last + i).to_bytes(2, "big")).decode("utf-16-be"))
            operands = []
    return mapping


VARIATION_SELECTOR = re.compile("[\uFE00-\uFE0F\U000E0100-\U000E01EF]")


def to_cp932(text, table):
    """CP932 bytes of the text, or None when some character has no form."""
    out = bytearray()
    for ch in text:
        code = table.get(ch)
        if code is None:
            return None
        out += code
    return bytes(out)


def line_for(text, table):
    text = VARIATION_SELECTOR.sub("", text)
    for candidate in (text, unicodedata.normalize("NFKC", text)):
        encoded = to_cp932(candidate, table)
        if encoded is not None and b"\r" not in encoded and b"\n" not in encoded:
            return encoded
    return b""


def generate(cmap_text):
    """Answers (compressed bytes, inflated text, number of empty lines)."""
    mapping = read_cmap(cmap_text)
    if len(mapping) < LAST_CID // 2:
        raise ValueError("only %d CIDs mapped; not the Adobe-Japan1 CMap?" % len(mapping))
    if max(mapping) > LAST_CID:
        # A later supplement: the program's table must grow with it (cidTableLastCid).
        raise ValueError("CIDs up to %d mapped, past the last CID %d" % (max(mapping), LAST_CID))
    table = cp932_encoder()
    lines = [line_for(mapping.get(cid, ""), table) for cid in range(1, LAST_CID + 1)]
    text = b"".join(line + b"\r\n" for line in lines)
    if len(text) > MAX_INFLATED:
        raise ValueError("table text is %d bytes, more than %d" % (len(text), MAX_INFLATED))
    return zlib.compress(text, 9), text, sum(1 for line in lines if not line)


def main(argv):
    check = len(argv) == 3 and argv[1] == "--check"
    if not (check or len(argv) == 2) or argv[-1].startswith("-"):
        sys.stderr.write("usage: gen_adobe_cid.py [--check] AdobeCID.dat\n")
        return 2
    target = argv[-1]
    try:
        with open(CMAP, encoding="latin-1") as f:
            cmap_text = f.read()
    except FileNotFoundError:
        sys.stderr.write("%s is missing: apt-get install poppler-data\n" % CMAP)
        return EXIT_SKIP
    try:
        data, text, empty = generate(cmap_text)
    except ValueError as e:
        sys.stderr.write("%s: %s\n" % (CMAP, e))
        return 2
    if not check:
        with open(target, "wb") as f:
            f.write(data)
        print("%s: %d bytes (%d inflated), %d of %d CIDs empty" % (
            target, len(data), len(text), empty, LAST_CID))
        return 0
    try:
        with open(target, "rb") as f:
            existing = f.read()
    except OSError as e:
        sys.stderr.write("%s\n" % e)
        return 1
    if existing == data:
        return 0
    # Another zlib build may compress the same text to other bytes; only the text counts.
    inflater = zlib.decompressobj()
    try:
        old_text = inflater.decompress(existing, MAX_INFLATED + 1)
    except zlib.error:
        old_text = None
    if old_text is None or not inflater.eof or inflater.unused_data:
        sys.stderr.write("%s is not one complete zlib stream of at most %d bytes\n" % (
            target, MAX_INFLATED))
        return 1
    if old_text == text:
        return 0
    old_lines, new_lines = old_text.split(b"\r\n"), text.split(b"\r\n")
    for cid, (old, new) in enumerate(zip(old_lines, new_lines), start=1):
        if old != new:
            sys.stderr.write("%s differs first at CID %d: %r, regenerated %r\n" % (
                target, cid, old, new))
            return 1
    sys.stderr.write("%s differs in its number of lines\n" % target)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
