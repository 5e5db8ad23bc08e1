#!/usr/bin/env python3
"""Writes resources/JapanCMaps.dat, the predefined Japanese CMaps of the PDF engine.

The sources are Adobe's public code -> CID CMaps of the Adobe-Japan1 collection (BSD licence,
notice kept in resources/JapanCMaps.NOTICE) as Debian ships them in the package poppler-data
(/usr/share/poppler/cMap/Adobe-Japan1/). Run from the repository root when they change (the
output is committed):

    python3 tools/gen_japan_cmaps.py resources/JapanCMaps.dat
    python3 tools/gen_japan_cmaps.py --check resources/JapanCMaps.dat   # 0 same, 1 differs

Which CMaps: every code -> CID CMap of the folder (H, V, the RKSJ, EUC, 78/83/90/Add/Ext/NWP
families and the Uni*JIS ones), not the CID -> Unicode and Unicode -> code ones (*-UCS2,
UCS2-*, Adobe-Japan1-*), nor the Adobe-Japan2 (Hojo) and the one-script helpers (Hankaku,
Hiragana, Katakana, Roman, WP-Symbol).

Format: one zlib stream (zlib.compress, level 9) of
    b"FJCM1\\n", then for every CMap, sorted by name:
    name b"\\n" length-in-bytes b"\\n" text
where text is the CMap reduced to what the engine reads: its "/Name usecmap" line and its
codespacerange, cidrange and cidchar sections, one entry a line, comments dropped. The engine
parses that text with its own CMap reader.

Exit status: 0 success (or --check identical), 1 --check differs, 2 bad arguments or bad CMap,
77 poppler-data is missing.
"""

import os
import re
import sys
import zlib

FOLDER = "/usr/share/poppler/cMap/Adobe-Japan1"
EXIT_SKIP = 77
MAGIC = b"FJCM1\n"
MAX_INFLATED = 16 << 20  # the most the program inflates

EXCLUDED = re.compile(r"^(Adobe-Japan1-.*|.*-UCS2C?|UCS2-.*|Hojo-.*|UniHojo-.*|Hankaku|Hiragana"
                      r"|Katakana|Roman|WP-Symbol)$")
SECTION = re.compile(r"begin(codespacerange|cidrange|cidchar)\b(.*?)\bend\1\b", re.S)
USECMAP = re.compile(r"/([^\s/\[\]<>()]+)\s+usecmap\b")
ENTRY = re.compile(r"<[0-9A-Fa-f]+>|\d+")


def reduce_cmap(text):
    text = "\n".join(line.split("%", 1)[0] for line in text.splitlines())
    if "begincmap" not in text:
        raise ValueError("not a CMap")
    out = []
    use = USECMAP.search(text)
    if use:
        out.append("/%s usecmap" % use.group(1))
    found = False
    for m in SECTION.finditer(text):
        kind, body = m.group(1), m.group(2)
        tokens = ENTRY.findall(body)
        arity = 3 if kind in ("codespacerange", "cidrange") else 2
        if kind == "codespacerange":
            arity = 2
        if len(tokens) % arity:
            raise ValueError("%s section with a broken entry" % kind)
        out.append("begin" + kind)
        for i in range(0, len(tokens), arity):
            out.append(" ".join(t.upper() if t.startswith("<") else t
                                for t in tokens[i:i + arity]))
        out.append("end" + kind)
        found = found or kind != "codespacerange"
    if not found and not use:
        raise ValueError("no CID mappings")
    return "\n".join(out) + "\n"


def names():
    return sorted(n for n in os.listdir(FOLDER)
                  if not EXCLUDED.match(n) and os.path.isfile(os.path.join(FOLDER, n)))


def generate():
    body = bytearray(MAGIC)
    count = 0
    for name in names():
        with open(os.path.join(FOLDER, name), encoding="latin-1") as f:
            try:
                text = reduce_cmap(f.read()).encode("ascii")
            except ValueError as e:
                raise ValueError("%s: %s" % (name, e))
        body += name.encode("ascii") + b"\n" + str(len(text)).encode("ascii") + b"\n" + text
        count += 1
    if len(body) > MAX_INFLATED:
        raise ValueError("%d bytes inflated, more than %d" % (len(body), MAX_INFLATED))
    return zlib.compress(bytes(body), 9), bytes(body), count


def main(argv):
    check = len(argv) == 3 and argv[1] == "--check"
    if not (check or len(argv) == 2) or argv[-1].startswith("-"):
        sys.stderr.write("usage: gen_japan_cmaps.py [--check] JapanCMaps.dat\n")
        return 2
    if not os.path.isdir(FOLDER):
        sys.stderr.write("%s is missing: apt-get install poppler-data\n" % FOLDER)
        return EXIT_SKIP
    try:
        data, body, count = generate()
    except (ValueError, OSError) as e:
        sys.stderr.write("%s\n" % e)
        return 2
    target = argv[-1]
    if not check:
        with open(target, "wb") as f:
            f.write(data)
        print("%s: %d CMaps, %d bytes (%d inflated)" % (target, count, len(data), len(body)))
        return 0
    try:
        with open(target, "rb") as f:
            existing = f.read()
        old = zlib.decompress(existing)
    except (OSError, zlib.error) as e:
        sys.stderr.write("%s: %s\n" % (target, e))
        return 1
    if old == body:
        return 0
    sys.stderr.write("%s differs from what poppler-data gives; regenerate it\n" % target)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
