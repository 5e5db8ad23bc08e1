#!/usr/bin/env python3
"""Writes src/pdf/engine/fonts/glyph_list.inc: the Adobe Glyph List and the six base encodings of
simple PDF fonts, as the PDF engine's font decoding looks them up.

Run from the repository root whenever the glyph list changes (the output is committed):

    python3 tools/gen_glyph_list.py > src/pdf/engine/fonts/glyph_list.inc

Glyph names come from Adobe's glyphlist.txt (the Adobe Glyph List 2.0) and aglfn.txt (the AGL
for New Fonts, whose names are all in the AGL today; it only adds names the AGL might lack). The
BSD-licensed copy of Debian's package aglfn is preferred; TeX Live's copy is the same list.

Search-minded changes to the AGL: names the AGL gives a code point in Adobe's private use area
for a glyph variant of an ordinary character take that character, so that text set with expert
fonts can be found: "Asmall" (a small capital) -> "a", "oneoldstyle" -> "1", "asuperior" -> "a",
"dollarinferior" -> "$", "registersans" -> "®", "Acute" -> "´". Glyph pieces (brace parts,
radical extenders, "apple") keep their private-use values.

The encoding tables are those of the PDF Reference's appendix on character sets: Standard,
MacRoman (the Latin set only, so not the fifteen Mac OS Roman symbols such as U+2260 at 0xAD,
and 0xDB is the currency sign, not the euro), WinAnsi (with the bullet at every unused code from
0x7F on, space at 0xA0 and hyphen at 0xAD), PDFDoc, Symbol and MacExpert. Codes are given by
glyph name and resolved through the list above; a private-use result becomes "no character" in
the tables. The Symbol font's Greek letters are taken as Greek (Delta U+0394, Omega U+03A9,
mu U+03BC), not as the AGL's increment, ohm and micro signs.

Exit status: 0 success, 2 bad data, 77 no glyphlist.txt found.
"""

import os
import re
import sys

EXIT_SKIP = 77
GLYPH_LISTS = ["/usr/share/aglfn/glyphlist.txt",
               "/usr/share/texlive/texmf-dist/fonts/map/glyphlist/glyphlist.txt"]
AGLFN = "/usr/share/aglfn/aglfn.txt"

# Longest name in the list is 39 bytes; entries store the length in a byte.
MAX_NAME = 255


def is_private(cp):
    return 0xE000 <= cp <= 0xF8FF


def read_agl(path):
    names = {}
    header = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("#"):
                if not names:
                    header.append(line)
                continue
            if not line.strip():
                continue
            name, value = line.split(";")[:2]
            if not re.fullmatch(r"[A-Za-z0-9_.]+", name) or len(name) > MAX_NAME:
                raise ValueError("bad glyph name %r" % name)
            names.setdefault(name, [int(v, 16) for v in value.split()])
    return names, header


def read_aglfn(path, names):
    if not os.path.exists(path):
        return
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            value, name = line.split(";")[:2]
            names.setdefault(name, [int(value, 16)])


VARIANT = re.compile(r"^(.+?)(small|oldstyle|superior|inferior|sans|serif|fitted)$")


def plain_forms(names):
    """Private-use values of ordinary characters' variants -> the character (see above)."""
    def plain(name):
        name = {"register": "registered"}.get(name, name)  # "registersans", "registerserif"
        for candidate in (name, name[0].lower() + name[1:]):
            value = names.get(candidate)
            if value and not any(is_private(cp) for cp in value):
                return value
        return None

    changed = {}
    for name, value in names.items():
        if not any(is_private(cp) for cp in value):
            continue
        m = VARIANT.match(name)
        base = plain(m.group(1)) if m else None
        if base is not None and m.group(2) == "small":
            base = [ord(c) for c in "".join(chr(cp) for cp in base).lower()]
        if base is None and name[0].isupper():
            base = plain(name)  # "Acute", "Caron": capital-height accents
        if base is not None:
            changed[name] = base
    names.update(changed)


ASCII_NAMES = (
    "space exclam quotedbl numbersign dollar percent ampersand quotesingle parenleft parenright "
    "asterisk plus comma hyphen period slash zero one two three four five six seven eight nine "
    "colon semicolon less equal greater question at A B C D E F G H I J K L M N O P Q R S T U V "
    "W X Y Z bracketleft backslash bracketright asciicircum underscore grave a b c d e f g h i j "
    "k l m n o p q r s t u v w x y z braceleft bar braceright asciitilde").split()


def table(entries):
    """256 glyph names (None: no character) from {first code: 'name name ...'}."""
    codes = [None] * 256
    for first, names in entries.items():
        for i, name in enumerate(names.split()):
            if name != "-":
                codes[first + i] = name
    return codes


LATIN1_UPPER = (
    "exclamdown cent sterling currency yen brokenbar section dieresis copyright ordfeminine "
    "guillemotleft logicalnot hyphen registered macron degree plusminus twosuperior threesuperior "
    "acute mu paragraph periodcentered cedilla onesuperior ordmasculine guillemotright onequarter "
    "onehalf threequarters questiondown Agrave Aacute Acircumflex Atilde Adieresis Aring AE "
    "Ccedilla Egrave Eacute Ecircumflex Edieresis Igrave Iacute Icircumflex Idieresis Eth Ntilde "
    "Ograve Oacute Ocircumflex Otilde Odieresis multiply Oslash Ugrave Uacute Ucircumflex "
    "Udieresis Yacute Thorn germandbls agrave aacute acircumflex atilde adieresis aring ae "
    "ccedilla egrave eacute ecircumflex edieresis igrave iacute icircumflex idieresis eth ntilde "
    "ograve oacute ocircumflex otilde odieresis divide oslash ugrave uacute ucircumflex "
    "udieresis yacute thorn ydieresis")

STANDARD = table({
    0x20: " ".join(ASCII_NAMES),
    0x27: "quoteright", 0x60: "quoteleft",
    0xA1: "exclamdown cent sterling fraction yen florin section currency quotesingle "
          "quotedblleft guillemotleft guilsinglleft guilsinglright fi fl",
    0xB1: "endash dagger daggerdbl periodcentered - paragraph bullet quotesinglbase "
          "quotedblbase quotedblright guillemotright ellipsis perthousand - questiondown",
    0xC1: "grave acute circumflex tilde macron breve dotaccent dieresis - ring cedilla - "
          "hungarumlaut ogonek caron emdash",
    0xE1: "AE - ordfeminine - - - - Lslash Oslash OE ordmasculine",
    0xF1: "ae - - - dotlessi - - lslash oslash oe germandbls",
})

WIN_ANSI = table({
    0x20: " ".join(ASCII_NAMES) + " bullet",
    0x80: "Euro bullet quotesinglbase florin quotedblbase ellipsis dagger daggerdbl circumflex "
          "perthousand Scaron guilsinglleft OE bullet Zcaron bullet bullet quoteleft quoteright "
          "quotedblleft quotedblright bullet endash emdash tilde trademark scaron guilsinglright "
          "oe bullet zcaron Ydieresis space " + LATIN1_UPPER,
})

MAC_ROMAN = table({
    0x20: " ".join(ASCII_NAMES),
    0x80: "Adieresis Aring Ccedilla Eacute Ntilde Odieresis Udieresis aacute agrave acircumflex "
          "adieresis atilde aring ccedilla eacute egrave ecircumflex edieresis iacute igrave "
          "icircumflex idieresis ntilde oacute ograve ocircumflex odieresis otilde uacute ugrave "
          "ucircumflex udieresis dagger degree cent sterling section bullet paragraph germandbls "
          "registered copyright trademark acute dieresis - AE Oslash - plusminus - - yen mu - - - "
          "- - ordfeminine ordmasculine - ae oslash questiondown exclamdown logicalnot - florin - "
          "- guillemotleft guillemotright ellipsis space Agrave Atilde Otilde OE oe endash emdash "
          "quotedblleft quotedblright quoteleft quoteright divide - ydieresis Ydieresis fraction "
          "currency guilsinglleft guilsinglright fi fl daggerdbl periodcentered quotesinglbase "
          "quotedblbase perthousand Acircumflex Ecircumflex Aacute Edieresis Egrave Iacute "
          "Icircumflex Idieresis Igrave Oacute Ocircumflex - Ograve Uacute Ucircumflex Ugrave "
          "dotlessi circumflex tilde macron breve dotaccent ring cedilla hungarumlaut ogonek caron",
})

PDF_DOC = table({
    0x18: "breve caron circumflex dotaccent hungarumlaut ogonek ring tilde " + " ".join(ASCII_NAMES),
    0x80: "bullet dagger daggerdbl ellipsis emdash endash florin fraction guilsinglleft "
          "guilsinglright minus perthousand quotedblbase quotedblleft quotedblright quoteleft "
          "quoteright quotesinglbase trademark fi fl Lslash OE Scaron Ydieresis Zcaron dotlessi "
          "lslash oe scaron zcaron - Euro " + LATIN1_UPPER.replace(" hyphen ", " - "),
})

SYMBOL = table({
    0x20: "space exclam universal numbersign existential percent ampersand suchthat parenleft "
          "parenright asteriskmath plus comma minus period slash zero one two three four five six "
          "seven eight nine colon semicolon less equal greater question congruent Alpha Beta Chi "
          "Delta Epsilon Phi Gamma Eta Iota theta1 Kappa Lambda Mu Nu Omicron Pi Theta Rho Sigma "
          "Tau Upsilon sigma1 Omega Xi Psi Zeta bracketleft therefore bracketright perpendicular "
          "underscore radicalex alpha beta chi delta epsilon phi gamma eta iota phi1 kappa lambda "
          "mu nu omicron pi theta rho sigma tau upsilon omega1 omega xi psi zeta braceleft bar "
          "braceright similar",
    0xA0: "Euro Upsilon1 minute lessequal fraction infinity florin club diamond heart spade "
          "arrowboth arrowleft arrowup arrowright arrowdown degree plusminus second greaterequal "
          "multiply proportional partialdiff bullet divide notequal equivalence approxequal "
          "ellipsis arrowvertex arrowhorizex carriagereturn aleph Ifraktur Rfraktur weierstrass "
          "circlemultiply circleplus emptyset intersection union propersuperset reflexsuperset "
          "notsubset propersubset reflexsubset element notelement angle gradient registerserif "
          "copyrightserif trademarkserif product radical dotmath logicalnot logicaland logicalor "
          "arrowdblboth arrowdblleft arrowdblup arrowdblright arrowdbldown lozenge angleleft "
          "registersans copyrightsans trademarksans summation parenlefttp parenleftex parenleftbt "
          "bracketlefttp bracketleftex bracketleftbt bracelefttp braceleftmid braceleftbt braceex "
          "- angleright integral integraltp integralex integralbt parenrighttp parenrightex "
          "parenrightbt bracketrighttp bracketrightex bracketrightbt bracerighttp bracerightmid "
          "bracerightbt",
})
SYMBOL_GREEK = {"Delta": [0x0394], "Omega": [0x03A9], "mu": [0x03BC]}

MAC_EXPERT = table({
    0x20: "space exclamsmall Hungarumlautsmall centoldstyle dollaroldstyle dollarsuperior "
          "ampersandsmall Acutesmall parenleftsuperior parenrightsuperior twodotenleader "
          "onedotenleader comma hyphen period fraction zerooldstyle oneoldstyle twooldstyle "
          "threeoldstyle fouroldstyle fiveoldstyle sixoldstyle sevenoldstyle eightoldstyle "
          "nineoldstyle colon semicolon - threequartersemdash - questionsmall - - - - Ethsmall - - "
          "onequarter onehalf threequarters oneeighth threeeighths fiveeighths seveneighths "
          "onethird twothirds - - - - - - ff fi fl ffi ffl parenleftinferior - parenrightinferior "
          "Circumflexsmall hypheninferior Gravesmall Asmall Bsmall Csmall Dsmall Esmall Fsmall "
          "Gsmall Hsmall Ismall Jsmall Ksmall Lsmall Msmall Nsmall Osmall Psmall Qsmall Rsmall "
          "Ssmall Tsmall Usmall Vsmall Wsmall Xsmall Ysmall Zsmall colonmonetary onefitted rupiah "
          "Tildesmall - - asuperior centsuperior - - - - Aacutesmall Agravesmall Acircumflexsmall "
          "Adieresissmall Atildesmall Aringsmall Ccedillasmall Eacutesmall Egravesmall "
          "Ecircumflexsmall Edieresissmall Iacutesmall Igravesmall Icircumflexsmall "
          "Idieresissmall Ntildesmall Oacutesmall Ogravesmall Ocircumflexsmall Odieresissmall "
          "Otildesmall Uacutesmall Ugravesmall Ucircumflexsmall Udieresissmall - eightsuperior "
          "fourinferior threeinferior sixinferior eightinferior seveninferior Scaronsmall - "
          "centinferior twoinferior - Dieresissmall - Caronsmall osuperior fiveinferior - "
          "commainferior periodinferior Yacutesmall - dollarinferior - - Thornsmall - "
          "nineinferior zeroinferior Zcaronsmall AEsmall Oslashsmall questiondownsmall "
          "oneinferior Lslashsmall - - - - - - Cedillasmall - - - - - OEsmall figuredash "
          "hyphensuperior - - - - exclamdownsmall - Ydieresissmall - onesuperior twosuperior "
          "threesuperior foursuperior fivesuperior sixsuperior sevensuperior ninesuperior "
          "zerosuperior - esuperior rsuperior tsuperior - - isuperior ssuperior dsuperior - - - - "
          "- lsuperior Ogoneksmall Brevesmall Macronsmall bsuperior nsuperior msuperior "
          "commasuperior periodsuperior Dotaccentsmall Ringsmall",
})

ENCODINGS = [("Standard", STANDARD, {}), ("WinAnsi", WIN_ANSI, {}), ("MacRoman", MAC_ROMAN, {}),
             ("MacExpert", MAC_EXPERT, {}), ("Symbol", SYMBOL, SYMBOL_GREEK),
             ("PdfDoc", PDF_DOC, {})]


def u32_literal(cps):
    out = []
    for cp in cps:
        if 0x20 <= cp < 0x7F and chr(cp) not in "\"\\?":
            out.append(chr(cp))
        elif cp <= 0xFFFF:
            out.append("\\u%04X" % cp)
        else:
            out.append("\\U%08X" % cp)
    return 'U"%s"' % "".join(out)


def encoding_texts(codes, names, overrides):
    texts = []
    for code, name in enumerate(codes):
        value = [] if name is None else overrides.get(name, names.get(name))
        if value is None:
            raise ValueError("glyph name %s (code 0x%02X) is not in the glyph list" % (name, code))
        texts.append([] if any(is_private(cp) for cp in value) else value)
    return texts


def emit(names, header, source, out):
    out.write("// Generated by tools/gen_glyph_list.py; do not edit.\n")
    out.write("// Source: %s, %d names. Its notice:\n//\n" % (source, len(names)))
    notice = [line.lstrip("#").rstrip() for line in header
              if line.strip("# -") and not line.startswith(("# Format", "#   ("))
              or line.strip() == "#"]
    while notice and not notice[-1].strip():
        notice.pop()
    for line in notice:
        out.write("//" + line + "\n")
    out.write("\n")
    ordered = sorted(names)  # byte order: all names are ASCII
    blob, texts, entries = [], [], []
    offset = 0
    for name in ordered:
        value = names[name]
        if len(value) > 255:
            raise ValueError("glyph %s has too long a text" % name)
        entries.append((offset, len(name), len(texts), len(value)))
        blob.append(name)
        offset += len(name)
        texts.extend(value)
    out.write("// All names, sorted and run together; kGlyphs gives each one's place.\n")
    out.write("constexpr char kGlyphNameChars[] =\n")
    joined = "".join(blob)
    for i in range(0, len(joined), 88):
        out.write('    "%s"%s\n' % (joined[i:i + 88], ";" if i + 88 >= len(joined) else ""))
    out.write("\n// The texts of the names, run together.\n")
    out.write("constexpr char32_t kGlyphTextChars[%d] = {\n" % len(texts))
    for i in range(0, len(texts), 10):
        out.write("    " + " ".join("0x%04X," % cp for cp in texts[i:i + 10]) + "\n")
    out.write("};\n\n")
    out.write("struct GlyphEntry {\n    std::uint32_t nameOffset;\n    std::uint8_t nameLength;\n"
              "    std::uint8_t textLength;\n    std::uint16_t textOffset;\n};\n\n")
    if offset >= 1 << 32 or len(texts) >= 1 << 16:
        raise ValueError("the glyph list outgrew its entry fields")
    out.write("constexpr GlyphEntry kGlyphs[%d] = {\n" % len(entries))
    for i in range(0, len(entries), 4):
        out.write("    " + " ".join("{%d, %d, %d, %d}," % (o, n, tl, t)
                                    for o, n, t, tl in entries[i:i + 4]) + "\n")
    out.write("};\n")
    for name, codes, overrides in ENCODINGS:
        texts = encoding_texts(codes, names, overrides)
        out.write("\nconstexpr std::array<std::u32string_view, 256> k%sEncoding = {\n" % name)
        for i in range(0, 256, 8):
            out.write("    " + " ".join(u32_literal(t) + "," for t in texts[i:i + 8]) + "\n")
        out.write("};\n")


def main(argv):
    source = next((p for p in GLYPH_LISTS if os.path.exists(p)), None)
    if source is None:
        sys.stderr.write("no glyphlist.txt: apt-get install aglfn (or texlive-base)\n")
        return EXIT_SKIP
    try:
        names, header = read_agl(source)
        read_aglfn(AGLFN, names)
        plain_forms(names)
        emit(names, header, source, sys.stdout)
    except (ValueError, IndexError) as e:
        sys.stderr.write("%s\n" % e)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
