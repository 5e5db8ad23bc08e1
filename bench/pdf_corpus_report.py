#!/usr/bin/env python3
"""What the built-in PDF engine reads of a corpus of PDFs against pdftotext, per producer.

For every page: the words pdftotext finds (runs of at least two characters between blanks,
holding a letter, a digit or a CJK character), and how many of them are in the engine's text
of that page (`ferretta-cli --pdf-text`), both compared without blanks after NFKC. A page where
pdftotext finds a word and the engine none is listed by name.

    bench/pdf_corpus_report.py FERRETTA_CLI PATH... [--encrypt]

PATHs are PDF files or folders (searched recursively; a `.pdf.gz`, as Debian's documentation
packages ship some, is read unpacked). --encrypt adds, for every file, the
four copies qpdf makes for an empty user password (AES-256, AES-128, RC4 128, RC4 40), each
counted under its producer with the method added. Needs pdftotext, pdfinfo and qpdf.
"""
import collections
import gzip
import os
import subprocess
import sys
import tempfile
import unicodedata

ENCRYPTIONS = {
    "aes256": ["--encrypt", "", "owner", "256", "--"],
    "aes128": ["--encrypt", "", "owner", "128", "--use-aes=y", "--"],
    "rc4-128": ["--allow-weak-crypto", "--encrypt", "", "owner", "128", "--use-aes=n", "--"],
    "rc4-40": ["--allow-weak-crypto", "--encrypt", "", "owner", "40", "--"],
}


def pages_of(text: str):
    parts = text.split("\f")
    return parts[:-1] if parts and parts[-1].strip() == "" else parts


def squeeze(text: str) -> str:
    return "".join(unicodedata.normalize("NFKC", text).split())


def is_word(token: str) -> bool:
    return len(token) >= 2 and any(c.isalnum() for c in token)


def producer_of(path: str) -> str:
    info = subprocess.run(["pdfinfo", path], capture_output=True, text=True, errors="replace").stdout
    fields = dict(line.split(":", 1) for line in info.splitlines() if ":" in line)
    name = (fields.get("Producer", "") or fields.get("Creator", "")).strip() or "(none)"
    for known in ("pdfTeX", "LuaTeX", "XeTeX", "dvipdfmx", "xdvipdfmx", "Ghostscript", "LibreOffice",
                  "cairo", "Skia", "Qt", "MuPDF", "Tesseract", "qpdf", "Acrobat", "Word"):
        if known.lower() in name.lower():
            return known
    return name.split()[0][:24]


def measure(cli: str, path: str):
    """(pages, pages with words, engine pages with text, words, words found, missed pages)."""
    poppler = subprocess.run(["pdftotext", "-q", "-enc", "UTF-8", path, "-"], capture_output=True)
    engine = subprocess.run([cli, "--pdf-text", path], capture_output=True, timeout=300)
    p_pages = pages_of(poppler.stdout.decode("utf-8", "replace"))
    e_pages = [squeeze(page) for page in pages_of(engine.stdout.decode("utf-8", "replace"))]
    with_words = words = found = 0
    missed = []
    with_text = sum(1 for page in e_pages if page)
    for number, page in enumerate(p_pages, 1):
        tokens = [squeeze(t) for t in page.split() if is_word(t)]
        if not tokens:
            continue
        with_words += 1
        text = e_pages[number - 1] if number <= len(e_pages) else ""
        hits = sum(1 for t in tokens if t in text)
        words += len(tokens)
        found += hits
        if hits == 0:
            missed.append(number)
    return len(p_pages), with_words, with_text, words, found, missed


def main() -> int:
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(args) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    cli, paths = args[0], args[1:]
    files = []
    for path in paths:
        if os.path.isdir(path):
            for root, _, names in os.walk(path):
                files += [os.path.join(root, n) for n in sorted(names)
                          if n.lower().endswith((".pdf", ".pdf.gz"))]
        else:
            files.append(path)
    rows = collections.defaultdict(lambda: [0, 0, 0, 0, 0, 0, []])
    with tempfile.TemporaryDirectory() as work:
        for path in files:
            name = os.path.basename(path)
            if path.lower().endswith(".gz"):
                unpacked = os.path.join(work, "unpacked.pdf")
                with gzip.open(path) as packed, open(unpacked, "wb") as out:
                    out.write(packed.read())
                path = unpacked
            producer = producer_of(path)
            variants = [(producer, path)]
            if "--encrypt" in sys.argv:
                for method, options in ENCRYPTIONS.items():
                    copy = os.path.join(work, method + ".pdf")
                    done = subprocess.run(["qpdf", *options, path, copy], capture_output=True)
                    if done.returncode in (0, 3):
                        variants.append((f"{producer} ({method})", copy))
            for group, variant in variants:
                *counts, missed = measure(cli, variant)
                row = rows[group]
                row[0] += 1
                for i, count in enumerate(counts, 1):
                    row[i] += count
                row[6] += [f"{name} p.{n}" for n in missed]
    print("| producer | files | pages | pages with words (pdftotext) | pages with text (engine) | "
          "words/page pdftotext | words/page found by the engine | pages the engine misses |")
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    for group in sorted(rows):
        files_n, pages, with_words, with_text, words, found, missed = rows[group]
        per = with_words or 1
        shown = ", ".join(missed[:6]) + (f" (+{len(missed) - 6})" if len(missed) > 6 else "")
        print(f"| {group} | {files_n} | {pages} | {with_words} | {with_text} | {words / per:.1f} | "
              f"{found / per:.1f} ({100 * found / max(words, 1):.1f} %) | {len(missed)}"
              f"{': ' + shown if missed else ''} |")
    for group in sorted(rows):
        if rows[group][6]:
            print(f"\n{group}: the engine finds none of pdftotext's words on", ", ".join(rows[group][6]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
