#!/usr/bin/env python3
"""Makes a corpus of Office documents as real producers write them: LibreOffice (each format,
converted headless), python-docx and openpyxl, with the constructs the native readers must read
as the office does (tables, text boxes, grouped shapes, headers and footers, fields, ruby,
full- and half-width text; shared and inline strings, formulas with and without stored values,
numbers, dates, percentages, merged cells, several and hidden sheets).

    make_office_corpus.py OUTDIR [--kinds word,sheet,slide] [--copies N] [--big]

--copies N writes N variants of each document (different words planted), for benchmarks.
Options a kind reads itself pass through (sheet: --big, one large workbook instead).
Exits 77 when a producer is missing (python-docx, openpyxl, soffice).
"""
import argparse
import importlib
import os
import sys

KINDS = ("word", "sheet", "slide")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--kinds", default=",".join(KINDS))
    parser.add_argument("--copies", type=int, default=1)
    args, _ = parser.parse_known_args()
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "office_corpus"))
    os.makedirs(args.outdir, exist_ok=True)
    for kind in args.kinds.split(","):
        module = importlib.import_module(kind)
        status = module.make(args.outdir, args.copies)
        if status:
            return status
    return 0


if __name__ == "__main__":
    sys.exit(main())
