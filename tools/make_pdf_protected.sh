#!/usr/bin/env bash
# Remakes the protected rewrites in tests/data/pdf/corpus from the corpus's own documents:
# encrypted with qpdf for an empty user password (what "protected against copying" PDFs are),
# in each of the standard security handler's forms, one that needs a real password, one whose
# crypt filters are /Identity, and one with % comments between the objects of its object
# streams (qpdf's QDF form). Every rewrite gets its base's NAME.expected; the one with a real
# password gets an empty list (it is only searched).
#
# Packages (only to remake the files): qpdf python3. Encryption draws random salts, so the
# bytes differ on every run; the text does not.
#
# Usage: tools/make_pdf_protected.sh [CORPUS_FOLDER]   (default: tests/data/pdf/corpus)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus=$(realpath -m "${1:-$here/tests/data/pdf/corpus}")
for tool in qpdf python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

protect() {  # base suffix qpdf-options...
    local base=$1 suffix=$2
    shift 2
    qpdf --allow-weak-crypto "$@" "$corpus/$base.pdf" "$corpus/${base}_$suffix.pdf"
    cp "$corpus/$base.expected" "$corpus/${base}_$suffix.expected"
}

# The four forms pdftotext opens without asking, over documents with object streams (their
# objects' strings are not encrypted on their own) and without (every string is).
for base in tex_ja gs_en; do
    protect "$base" aes256 --encrypt "" owner 256 --
    protect "$base" aes128 --encrypt "" owner 128 --use-aes=y --
    protect "$base" rc4_128 --encrypt "" owner 128 --use-aes=n --
    protect "$base" rc4_40 --encrypt "" owner 40 --
done
# Ghostscript's /H font is Japan1 only by its /CIDSystemInfo's /Ordering string, which is
# encrypted here; and /EncryptMetadata false changes the key.
protect gs_ja_jis aes128_strings --object-streams=disable \
    --encrypt "" owner 128 --use-aes=y --cleartext-metadata --
# Opening needs the user password "ferretta": only searched, never read.
protect gs_en password --encrypt ferretta owner 256 --
: >"$corpus/gs_en_password.expected"
# Comments between the objects of the object streams.
qpdf --qdf --object-streams=generate "$corpus/tex_ja.pdf" "$corpus/tex_ja_qdf_objstm.pdf"
cp "$corpus/tex_ja.expected" "$corpus/tex_ja_qdf_objstm.expected"

# An encryption dictionary whose stream and string filters are /Identity (the data stays as it
# is), with one content stream naming its own /Crypt filter: gs_en's uncompressed rewrite with
# the dictionary and /ID of an AES-128 rewrite (so the empty password opens it).
qpdf --encrypt "" owner 128 --use-aes=y -- "$corpus/gs_en_uncompressed.pdf" "$corpus/identity.tmp"
python3 - "$corpus" <<'PY'
import re, sys
corpus = sys.argv[1]
enc = open(f"{corpus}/identity.tmp", "rb").read()
o = re.search(rb"/O <([0-9a-f]+)>", enc).group(1)
u = re.search(rb"/U <([0-9a-f]+)>", enc).group(1)
p = re.search(rb"/P (-?\d+)", enc).group(1)
ids = re.search(rb"/ID \[ ?<([0-9a-f]+)> ?<([0-9a-f]+)> ?\]", enc).groups()
src = open(f"{corpus}/gs_en_uncompressed.pdf", "rb").read()
# The objects of the source as they stand ("n 0 obj ... endobj").
objects = {int(m.group(1)): m.group(0)
           for m in re.finditer(rb"(?s)(\d+) 0 obj.*?endobj", src)}
root = int(re.search(rb"/Root (\d+) 0 R", src).group(1))
# The first content stream names its crypt filter itself.
for n, body in objects.items():
    if b"/Length" in body and b"BT" in body and b"/Filter" not in body:
        objects[n] = body.replace(b"/Length", b"/Filter /Crypt /DecodeParms << /Name /Identity >> /Length", 1)
        break
enc_number = max(objects) + 1
objects[enc_number] = (b"%d 0 obj\n<< /Filter /Standard /V 4 /R 4 /Length 128 /P " % enc_number + p +
                       b" /O <" + o + b"> /U <" + u + b"> /CF << /StdCF << /CFM /AESV2 /Length 16 >> >>"
                       b" /StmF /Identity /StrF /Identity >>\nendobj")
out = b"%PDF-1.6\n"
offsets = {}
for n in sorted(objects):
    offsets[n] = len(out)
    out += objects[n] + b"\n"
xref = len(out)
size = max(objects) + 1
out += b"xref\n0 %d\n0000000000 65535 f \n" % size
for n in range(1, size):
    out += (b"%010d 00000 n \n" % offsets[n]) if n in offsets else b"0000000000 65535 f \n"
out += (b"trailer\n<< /Size %d /Root %d 0 R /Encrypt %d 0 R /ID [<%s><%s>] >>\nstartxref\n%d\n%%%%EOF\n"
        % (size, root, enc_number, ids[0], ids[1], xref))
open(f"{corpus}/gs_en_identity.pdf", "wb").write(out)
PY
rm "$corpus/identity.tmp"
cp "$corpus/gs_en.expected" "$corpus/gs_en_identity.expected"

# pdftotext reads every rewrite but the one with a password like its base.
for pair in tex_ja:tex_ja_{aes256,aes128,rc4_128,rc4_40,qdf_objstm} gs_en:gs_en_{aes256,aes128,rc4_128,rc4_40,identity} \
    gs_ja_jis:gs_ja_jis_aes128_strings; do
    base=${pair%%:*} file=${pair#*:}
    cmp -s <(pdftotext -q "$corpus/$file.pdf" -) <(pdftotext -q "$corpus/$base.pdf" -) ||
        echo "pdftotext reads $file.pdf differently from $base.pdf" >&2
done
pdftotext -q "$corpus/gs_en_password.pdf" - >/dev/null 2>&1 &&
    echo "gs_en_password.pdf opens without a password" >&2
ls -l "$corpus"/*_{aes256,aes128,rc4_128,rc4_40,aes128_strings,password,identity,qdf_objstm}.pdf
