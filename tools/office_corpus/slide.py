"""The slide documents of the Office corpus (see ../make_office_corpus.py).

Three producers, each copy with its own planted words:
- slides-lo-N.pptx, slides-lo-N.odp: LibreOffice's own, converted from a flat .fodp written here
  (title and outline placeholders, empty placeholders, bullets, line breaks, spaces and tabs,
  text boxes, custom shapes, groups with a group inside, a table, a picture, hyperlinks,
  notes, a hidden slide);
- slides-pp-N.pptx: a package laid out as PowerPoint writes one (master, layout, placeholders
  taking their place from the layout, the footer, date and slide-number placeholders that
  Impress turns into the slide's settings, groups, a table, a picture, a notes page, a hidden
  slide), and slides-pp-N.odp, LibreOffice's conversion of it;
- slides-odf-N.odp: OpenDocument as another program may write it (white space left to the
  reader to collapse, empty paragraphs, nested lists, text in a picture's frame).
With one copy (the test corpus) LibreOffice's .ppt of the first deck comes too; with more
(a benchmark's folder) only documents read without the office.
"""
import base64
import os
import shutil
import subprocess
import tempfile
import zipfile
import zlib
import struct

WORDS = ["検索", "会議", "予算", "報告", "計画", "顧客", "品質", "納期", "設計", "試験",
         "ﾃｽﾄ", "ＡＢＣ", "ｶﾀｶﾅ", "ひらがな", "Ferretta", "１２３", "456", "東京", "大阪", "札幌"]


def word(copy, index):
    return WORDS[(copy * 7 + index) % len(WORDS)] + str(copy)


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def tiny_png():
    """A 2x2 grey PNG."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\x00" + b"\x80\x80\x80" * 2 for _ in range(2))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# ---- LibreOffice: a flat presentation converted by soffice ----

FODP_HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:automatic-styles>
  <style:page-layout style:name="PM1"><style:page-layout-properties fo:page-width="28cm" fo:page-height="15.75cm"/></style:page-layout>
  <style:style style:name="dpHidden" style:family="drawing-page"><style:drawing-page-properties presentation:visibility="hidden"/></style:style>
  <style:style style:name="prTitle" style:family="presentation" style:parent-style-name="Default-title"/>
  <style:style style:name="prOutline" style:family="presentation" style:parent-style-name="Default-outline1"/>
  <style:style style:name="prSubtitle" style:family="presentation" style:parent-style-name="Default-subtitle"/>
 </office:automatic-styles>
 <office:master-styles>
  <style:master-page style:name="Default" style:page-layout-name="PM1">
   <draw:frame svg:x="1cm" svg:y="14cm" svg:width="10cm" svg:height="1cm"><draw:text-box><text:p>マスターの文字は読まない</text:p></draw:text-box></draw:frame>
  </style:master-page>
 </office:master-styles>
 <office:body><office:presentation>
"""


def fodp_deck(copy):
    w = lambda i: escape(word(copy, i))
    at = lambda y, h=2: f'svg:x="2cm" svg:y="{y}cm" svg:width="20cm" svg:height="{h}cm"'
    png = base64.b64encode(tiny_png()).decode()

    def placeholder(kind, style, y, inner):
        empty = ' presentation:placeholder="true"' if not inner else ""
        return (f'<draw:frame presentation:class="{kind}" presentation:style-name="{style}"{empty} {at(y, 3)}>'
                f'<draw:text-box>{inner}</draw:text-box></draw:frame>')

    def page(inner, attributes=""):
        return f'<draw:page draw:master-page-name="Default" {attributes}>{inner}</draw:page>\n'

    pages = [
        page(placeholder("title", "prTitle", 1, f"<text:p>{w(0)}の資料　第{copy + 1}版</text:p>") +
             placeholder("subtitle", "prSubtitle", 5, f"<text:p>ﾊﾝｶｸ ｶﾀｶﾅ と ＺＥＮＫＡＫＵ ２０２４年 {w(1)}</text:p>")),
        page(placeholder("title", "prTitle", 1, f"<text:p>箇条書き {w(2)}</text:p>") +
             placeholder("outline", "prOutline", 4,
                         f"<text:list><text:list-item><text:p>一つ目の項目 {w(3)}</text:p>"
                         f"<text:list><text:list-item><text:p>入れ子の項目 abc</text:p></text:list-item></text:list></text:list-item>"
                         f"<text:list-item><text:p>二つ目<text:line-break/>改行の後 {w(4)}</text:p></text:list-item></text:list>") +
             f'<draw:frame {at(12)}><draw:text-box><text:p>空白<text:s text:c="3"/>三つ<text:tab/>タブ {w(5)}</text:p>'
             f"<text:p/><text:p>空の段落の後</text:p></draw:text-box></draw:frame>"),
        page(f'<draw:g><draw:rect {at(1)}><text:p>グループの一 {w(6)}</text:p></draw:rect>'
             f'<draw:g><draw:rect {at(3)}><text:p>入れ子のグループ {w(7)}</text:p></draw:rect>'
             f'<draw:ellipse {at(5)}><text:p>読まれない楕円</text:p></draw:ellipse></draw:g>'
             f'<draw:custom-shape {at(7)}><text:p>グループの図形 {w(8)}</text:p>'
             f'<draw:enhanced-geometry svg:viewBox="0 0 21600 21600" draw:type="round-rectangle"/></draw:custom-shape></draw:g>'
             f'<draw:frame {at(9, 3)}><table:table><table:table-column/><table:table-column/>'
             f'<table:table-row><table:table-cell><text:p>表の見出し {w(9)}</text:p></table:table-cell>'
             f'<table:table-cell><text:p>値</text:p></table:table-cell></table:table-row>'
             f'<table:table-row><table:table-cell><text:p>１２３</text:p></table:table-cell><table:table-cell/></table:table-row>'
             f'</table:table></draw:frame>'
             f'<draw:custom-shape {at(12)}><text:p>笑顔の図形 {w(10)}</text:p>'
             f'<draw:enhanced-geometry svg:viewBox="0 0 21600 21600" draw:type="smiley"/></draw:custom-shape>'
             f'<draw:ellipse {at(13)}><text:p>楕円の文字</text:p></draw:ellipse>'
             f'<draw:line svg:x1="2cm" svg:y1="14cm" svg:x2="20cm" svg:y2="15cm"><text:p>線の文字 {w(11)}</text:p></draw:line>'),
        page(f'<draw:frame {at(1)}><draw:text-box><text:p>隠したスライド {w(12)}</text:p></draw:text-box></draw:frame>'
             f'<presentation:notes><draw:frame presentation:class="notes" {at(10)}><draw:text-box>'
             f'<text:p>ノートは検索しない {w(13)}</text:p></draw:text-box></draw:frame></presentation:notes>',
             'draw:style-name="dpHidden"'),
        page(placeholder("title", "prTitle", 1, "") + placeholder("outline", "prOutline", 4, "") +
             f'<draw:frame {at(12)}><draw:text-box><text:p>空の枠の後 {w(14)}</text:p></draw:text-box></draw:frame>'),
        page(f'<draw:a xlink:href="https://example.com/"><draw:frame {at(1)}><draw:text-box>'
             f'<text:p>リンクの枠 {w(15)}</text:p></draw:text-box></draw:frame></draw:a>'
             f'<draw:frame {at(4)}><draw:text-box><text:p>文中の<text:a xlink:href="https://example.com/">リンク</text:a>と'
             f'<text:span>分けた</text:span><text:span>文字</text:span> {w(16)}</text:p></draw:text-box></draw:frame>'
             f'<draw:frame {at(7, 3)}><draw:image><office:binary-data>{png}</office:binary-data></draw:image></draw:frame>'
             f'<draw:frame {at(11)}><draw:text-box><text:p>ﾃｽﾄ ＴＥＳＴ　テスト test ①② 〜～ ￥¥ {w(17)}</text:p></draw:text-box></draw:frame>'),
        page(""),
    ]
    return FODP_HEAD + "".join(pages) + "</office:presentation></office:body></office:document>\n"


# ---- A package laid out as PowerPoint writes one ----

NS_A = "http://schemas.openxmlformats.org/drawingml/2006/main"
NS_R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
NS_P = "http://schemas.openxmlformats.org/presentationml/2006/main"
PML = f'xmlns:a="{NS_A}" xmlns:r="{NS_R}" xmlns:p="{NS_P}"'
XML = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
CT = "application/vnd.openxmlformats-officedocument."


def relationships(items):
    return (XML + '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">' +
            "".join(f'<Relationship Id="{i}" Type="{t if "://" in t else NS_R + "/" + t}" Target="{g}"/>'
                    for i, t, g in items) +
            "</Relationships>")


def shape_tree(shapes):
    return ('<p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>'
            '<p:grpSpPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="0" cy="0"/><a:chOff x="0" y="0"/>'
            '<a:chExt cx="0" cy="0"/></a:xfrm></p:grpSpPr>' + "".join(shapes) + "</p:spTree></p:cSld>")


def xfrm(y, cy=600000):
    return f'<a:xfrm><a:off x="457200" y="{y}"/><a:ext cx="8229600" cy="{cy}"/></a:xfrm>'


def run(text):
    return f'<a:r><a:rPr lang="ja-JP" altLang="en-US" dirty="0"/><a:t>{escape(text)}</a:t></a:r>'


def paragraph(*runs):
    return "<a:p>" + "".join(runs) + '<a:endParaRPr lang="ja-JP" altLang="en-US" dirty="0"/></a:p>'


def field(kind, text):
    return (f'<a:fld id="{{B5D9E9F4-0F2C-4E6B-9C1E-1A2B3C4D5E6F}}" type="{kind}">'
            f'<a:rPr lang="ja-JP" altLang="en-US"/><a:t>{text}</a:t></a:fld>')


def text_body(paragraphs):
    return "<p:txBody><a:bodyPr/><a:lstStyle/>" + ("".join(paragraphs) or paragraph()) + "</p:txBody>"


def placeholder(shape_id, kind, index, paragraphs, y=None):
    attributes = (f' type="{kind}"' if kind else "") + (f' idx="{index}"' if index is not None else "")
    properties = f"<p:spPr>{xfrm(y)}</p:spPr>" if y is not None else "<p:spPr/>"
    return (f'<p:sp><p:nvSpPr><p:cNvPr id="{shape_id}" name="Placeholder {shape_id}"/>'
            f'<p:cNvSpPr><a:spLocks noGrp="1"/></p:cNvSpPr><p:nvPr><p:ph{attributes}/></p:nvPr></p:nvSpPr>'
            f"{properties}{text_body(paragraphs)}</p:sp>")


def text_box(shape_id, y, paragraphs, geometry="rect"):
    return (f'<p:sp><p:nvSpPr><p:cNvPr id="{shape_id}" name="TextBox {shape_id}"/><p:cNvSpPr txBox="1"/><p:nvPr/></p:nvSpPr>'
            f'<p:spPr>{xfrm(y)}<a:prstGeom prst="{geometry}"><a:avLst/></a:prstGeom></p:spPr>'
            f"{text_body(paragraphs)}</p:sp>")


def group(shape_id, members):
    return (f'<p:grpSp><p:nvGrpSpPr><p:cNvPr id="{shape_id}" name="Group {shape_id}"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>'
            f'<p:grpSpPr><a:xfrm><a:off x="457200" y="457200"/><a:ext cx="8229600" cy="3000000"/>'
            f'<a:chOff x="457200" y="457200"/><a:chExt cx="8229600" cy="3000000"/></a:xfrm></p:grpSpPr>'
            + "".join(members) + "</p:grpSp>")


def table(shape_id, rows):
    def cell(text):
        return f"<a:tc><a:txBody><a:bodyPr/><a:lstStyle/>{paragraph(run(text) if text else '')}</a:txBody><a:tcPr/></a:tc>"
    return (f'<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id="{shape_id}" name="Table {shape_id}"/>'
            f'<p:cNvGraphicFramePr><a:graphicFrameLocks noGrp="1"/></p:cNvGraphicFramePr><p:nvPr/></p:nvGraphicFramePr>'
            f'<p:xfrm><a:off x="457200" y="3500000"/><a:ext cx="8229600" cy="740000"/></p:xfrm>'
            f'<a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/table"><a:tbl>'
            f'<a:tblPr firstRow="1" bandRow="1"/><a:tblGrid><a:gridCol w="4114800"/><a:gridCol w="4114800"/></a:tblGrid>'
            + "".join('<a:tr h="370000">' + "".join(cell(c) for c in row) + "</a:tr>" for row in rows) +
            "</a:tbl></a:graphicData></a:graphic></p:graphicFrame>")


def picture(shape_id):
    return (f'<p:pic><p:nvPicPr><p:cNvPr id="{shape_id}" name="Picture {shape_id}" descr="説明は読まない"/>'
            f'<p:cNvPicPr><a:picLocks noChangeAspect="1"/></p:cNvPicPr><p:nvPr/></p:nvPicPr>'
            f'<p:blipFill><a:blip r:embed="rId2"/><a:stretch><a:fillRect/></a:stretch></p:blipFill>'
            f'<p:spPr>{xfrm(4500000, 400000)}<a:prstGeom prst="rect"><a:avLst/></a:prstGeom></p:spPr></p:pic>')


THEME = (XML + f'<a:theme xmlns:a="{NS_A}" name="Office"><a:themeElements>'
         '<a:clrScheme name="Office"><a:dk1><a:srgbClr val="000000"/></a:dk1><a:lt1><a:srgbClr val="FFFFFF"/></a:lt1>'
         '<a:dk2><a:srgbClr val="44546A"/></a:dk2><a:lt2><a:srgbClr val="E7E6E6"/></a:lt2>'
         + "".join(f'<a:accent{i}><a:srgbClr val="4472C4"/></a:accent{i}>' for i in range(1, 7)) +
         '<a:hlink><a:srgbClr val="0563C1"/></a:hlink><a:folHlink><a:srgbClr val="954F72"/></a:folHlink></a:clrScheme>'
         '<a:fontScheme name="Office"><a:majorFont><a:latin typeface="Calibri"/><a:ea typeface="游ゴシック"/><a:cs typeface=""/></a:majorFont>'
         '<a:minorFont><a:latin typeface="Calibri"/><a:ea typeface="游ゴシック"/><a:cs typeface=""/></a:minorFont></a:fontScheme>'
         '<a:fmtScheme name="Office"><a:fillStyleLst>' + '<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>' * 3 +
         '</a:fillStyleLst><a:lnStyleLst>' + '<a:ln w="6350"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill></a:ln>' * 3 +
         '</a:lnStyleLst><a:effectStyleLst>' + '<a:effectStyle><a:effectLst/></a:effectStyle>' * 3 +
         '</a:effectStyleLst><a:bgFillStyleLst>' + '<a:solidFill><a:schemeClr val="phClr"/></a:solidFill>' * 3 +
         '</a:bgFillStyleLst></a:fmtScheme></a:themeElements></a:theme>')


def powerpoint_deck(copy):
    """The parts of a PowerPoint-like presentation: {name: bytes}."""
    w = lambda i: word(copy, i)
    footers = [placeholder(10, "dt", 10, [paragraph(field("datetime1", "2024/4/1"))]),
               placeholder(11, "ftr", 11, [paragraph(run(f"社外秘 {w(0)}"))]),
               placeholder(12, "sldNum", 12, [paragraph(field("slidenum", "‹#›"))])]
    slides = [
        ([placeholder(2, "ctrTitle", None, [paragraph(run(f"{w(1)}の報告　第{copy + 1}版"))]),
          placeholder(3, "subTitle", 1, [paragraph(run(f"ﾊﾝｶｸ ｶﾀｶﾅ ＺＥＮＫＡＫＵ {w(2)}"))])] + footers, ""),
        ([placeholder(2, "title", None, [paragraph(run(f"議題 {w(3)}"))]),
          placeholder(3, None, 1, [paragraph(run(f"一つ目の議題 {w(4)}")),
                                   paragraph(run("二つ目"), '<a:br><a:rPr lang="ja-JP"/></a:br>', run("改行の後")),
                                   '<a:p><a:pPr lvl="1"/>' + run(f"下の階層 {w(5)}") + "</a:p>"])] + footers, ""),
        ([placeholder(2, "title", None, []), placeholder(3, None, 1, []),
          text_box(4, 4800000, [paragraph(run(f"空の枠の後 {w(6)}"))]),
          placeholder(5, "dt", 10, [paragraph(run("2024年4月1日"))])], ""),
        ([group(20, [text_box(21, 500000, [paragraph(run(f"グループの一 {w(7)}"))]),
                     group(22, [text_box(23, 1200000, [paragraph(run("読まれない入れ子"))])]),
                     text_box(24, 1900000, [paragraph(run(f"グループの二 {w(8)}"))], "wedgeRectCallout"),
                     picture(25)]),
          table(30, [[f"表の見出し {w(9)}", "値"], ["１２３", ""]]),
          picture(31),
          text_box(32, 5200000, [paragraph(run(f"  空白　と\tタブ {w(10)}  "))], "ellipse")], ""),
        ([text_box(2, 500000, [paragraph(run(f"隠したスライド {w(11)}"))])], 'show="0"'),
        ([text_box(2, 500000, [paragraph(), paragraph()]),
          text_box(3, 1200000, [paragraph('<a:br><a:rPr lang="ja-JP"/></a:br>')]),
          text_box(4, 1900000, [paragraph(run("   "))]),
          text_box(5, 2600000, [paragraph(run(f"𠮷野家 ｶﾞｷﾞ 〜～ ＼¥ {w(12)}"))]),
          text_box(6, 3300000, [f"<a:p><a:r><a:t>改&#10;行と_x000D_は{escape(w(15))}</a:t></a:r></a:p>"])], ""),
        ([], ""),
    ]
    parts = {}
    count = len(slides)
    overrides = [("/ppt/presentation.xml", "presentationml.presentation.main+xml"),
                 ("/ppt/slideMasters/slideMaster1.xml", "presentationml.slideMaster+xml"),
                 ("/ppt/slideLayouts/slideLayout1.xml", "presentationml.slideLayout+xml"),
                 ("/ppt/notesMasters/notesMaster1.xml", "presentationml.notesMaster+xml"),
                 ("/ppt/notesSlides/notesSlide1.xml", "presentationml.notesSlide+xml"),
                 ("/ppt/theme/theme1.xml", "theme+xml"), ("/ppt/theme/theme2.xml", "theme+xml"),
                 ("/docProps/core.xml", None)]
    overrides += [(f"/ppt/slides/slide{i + 1}.xml", "presentationml.slide+xml") for i in range(count)]
    parts["[Content_Types].xml"] = (
        XML + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/><Default Extension="png" ContentType="image/png"/>'
        + "".join(f'<Override PartName="{n}" ContentType="'
                  + ("application/vnd.openxmlformats-package.core-properties+xml" if t is None else CT + t) + '"/>'
                  for n, t in overrides) + "</Types>")
    parts["_rels/.rels"] = relationships([
        ("rId1", "officeDocument", "ppt/presentation.xml"),
        ("rId2", "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
         "docProps/core.xml")])
    parts["docProps/core.xml"] = (
        XML + '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" '
        f'xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>題名は読まない {w(13)}</dc:title></cp:coreProperties>')
    parts["ppt/presentation.xml"] = (
        XML + f'<p:presentation {PML} saveSubsetFonts="1">'
        '<p:sldMasterIdLst><p:sldMasterId id="2147483648" r:id="rId1"/></p:sldMasterIdLst>'
        '<p:notesMasterIdLst><p:notesMasterId r:id="rId2"/></p:notesMasterIdLst><p:sldIdLst>'
        + "".join(f'<p:sldId id="{256 + i}" r:id="rId{i + 10}"/>' for i in range(count)) +
        '</p:sldIdLst><p:sldSz cx="9144000" cy="6858000" type="screen4x3"/><p:notesSz cx="6858000" cy="9144000"/>'
        "</p:presentation>")
    parts["ppt/_rels/presentation.xml.rels"] = relationships(
        [("rId1", "slideMaster", "slideMasters/slideMaster1.xml"), ("rId2", "notesMaster", "notesMasters/notesMaster1.xml"),
         ("rId3", "theme", "theme/theme1.xml")] +
        [(f"rId{i + 10}", "slide", f"slides/slide{i + 1}.xml") for i in range(count)])
    master_shapes = [placeholder(2, "title", None, [paragraph(run("マスターのタイトルの書式"))], 300000),
                     placeholder(3, "body", 1, [paragraph(run("マスターのテキストの書式"))], 1600000),
                     placeholder(4, "dt", 10, [paragraph(field("datetimeFigureOut", "2024/4/1"))], 6300000),
                     placeholder(5, "ftr", 11, [paragraph()], 6300000),
                     placeholder(6, "sldNum", 12, [paragraph(field("slidenum", "‹#›"))], 6300000),
                     text_box(7, 6000000, [paragraph(run("マスターの図形は読まない"))])]
    parts["ppt/slideMasters/slideMaster1.xml"] = (
        XML + f"<p:sldMaster {PML}>" + shape_tree(master_shapes) +
        '<p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" accent2="accent2" accent3="accent3" '
        'accent4="accent4" accent5="accent5" accent6="accent6" hlink="hlink" folHlink="folHlink"/>'
        '<p:sldLayoutIdLst><p:sldLayoutId id="2147483649" r:id="rId1"/></p:sldLayoutIdLst></p:sldMaster>')
    parts["ppt/slideMasters/_rels/slideMaster1.xml.rels"] = relationships(
        [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"), ("rId2", "theme", "../theme/theme1.xml")])
    layout_shapes = [placeholder(2, "title", None, [paragraph(run("タイトルを入力"))]),
                     placeholder(3, None, 1, [paragraph(run("テキストを入力"))]),
                     text_box(8, 5400000, [paragraph(run("レイアウトの図形は読まない"))])] + \
        [placeholder(4 + i, kind, 10 + i, []) for i, kind in enumerate(["dt", "ftr", "sldNum"])]
    parts["ppt/slideLayouts/slideLayout1.xml"] = (
        XML + f'<p:sldLayout {PML} type="obj" preserve="1">' + shape_tree(layout_shapes) +
        "<p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>")
    parts["ppt/slideLayouts/_rels/slideLayout1.xml.rels"] = relationships(
        [("rId1", "slideMaster", "../slideMasters/slideMaster1.xml")])
    parts["ppt/notesMasters/notesMaster1.xml"] = (
        XML + f"<p:notesMaster {PML}>" + shape_tree([placeholder(2, "body", 1, [paragraph()])]) +
        '<p:clrMap bg1="lt1" tx1="dk1" bg2="lt2" tx2="dk2" accent1="accent1" accent2="accent2" accent3="accent3" '
        'accent4="accent4" accent5="accent5" accent6="accent6" hlink="hlink" folHlink="folHlink"/></p:notesMaster>')
    parts["ppt/notesMasters/_rels/notesMaster1.xml.rels"] = relationships([("rId1", "theme", "../theme/theme2.xml")])
    parts["ppt/notesSlides/notesSlide1.xml"] = (
        XML + f"<p:notes {PML}>" + shape_tree([placeholder(2, "body", 1, [paragraph(run(f"ノートは検索しない {w(14)}"))])]) +
        "</p:notes>")
    parts["ppt/notesSlides/_rels/notesSlide1.xml.rels"] = relationships(
        [("rId1", "notesMaster", "../notesMasters/notesMaster1.xml"), ("rId2", "slide", "../slides/slide2.xml")])
    parts["ppt/theme/theme1.xml"] = THEME
    parts["ppt/theme/theme2.xml"] = THEME
    parts["ppt/media/image1.png"] = tiny_png()
    for i, (shapes, attributes) in enumerate(slides):
        parts[f"ppt/slides/slide{i + 1}.xml"] = (
            XML + f"<p:sld {PML} {attributes}>" + shape_tree(shapes) +
            "<p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>")
        links = [("rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"), ("rId2", "image", "../media/image1.png")]
        if i == 1:
            links.append(("rId3", "notesSlide", "../notesSlides/notesSlide1.xml"))
        parts[f"ppt/slides/_rels/slide{i + 1}.xml.rels"] = relationships(links)
    return parts


# ---- OpenDocument as another program writes it ----

ODF_NAMESPACES = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
                  'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
                  'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
                  'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
                  'xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" '
                  'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
                  'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
                  'xmlns:xlink="http://www.w3.org/1999/xlink"')
ODP_TYPE = "application/vnd.oasis.opendocument.presentation"


def odf_deck(copy):
    """The entries of an OpenDocument presentation: [(name, bytes)] in package order."""
    w = lambda i: escape(word(copy, i))
    at = lambda y: f'svg:x="1cm" svg:y="{y}cm" svg:width="20cm" svg:height="1.5cm"'
    box = lambda y, inner: f'<draw:frame {at(y)}><draw:text-box>{inner}</draw:text-box></draw:frame>\n'
    pages = [
        box(1, f"<text:p>  前後の空白  と   連続する空白 {w(0)}  </text:p>") +
        box(3, f"<text:p>\n      改行と\tタブは\n      一つの空白に {w(1)}\n    </text:p>") +
        box(5, f'<text:p>空白<text:s/> の後<text:s text:c="2"/>と<text:tab/> タブ<text:line-break/> 改行 {w(2)}</text:p>') +
        box(7, f"<text:p>段落</text:p><text:p/><text:p/><text:p>三つ目 {w(3)}</text:p>") +
        box(9, "<text:p/><text:p/>") +
        box(11, "<text:p/><text:p/><text:p/>") +
        box(13, f'<text:p><text:span>分けた</text:span> <text:span> 文字</text:span> {w(4)}</text:p>') +
        f'<draw:frame {at(15)}><draw:text-box><text:p>一つ目の枠 {w(10)}</text:p></draw:text-box>'
        f'<draw:text-box><text:p>読まれない二つ目</text:p></draw:text-box></draw:frame>\n',
        box(1, f"<text:h>見出し {w(5)}</text:h><text:list><text:list-header><text:p>一覧の頭</text:p></text:list-header>"
               f"<text:list-item><text:p>項目</text:p><text:list><text:list-item><text:p>深い項目 {w(6)}</text:p>"
               f"</text:list-item></text:list></text:list-item></text:list>") +
        f'<draw:frame {at(5)}><draw:image xlink:href="Pictures/image1.png"><text:p>画像の文字 {w(7)}</text:p></draw:image></draw:frame>\n'
        f'<draw:rect {at(8)}><text:p>ﾊﾝｶｸ　ＺＥＮＫＡＫＵ &#160;No-break {w(8)}</text:p></draw:rect>\n'
        f'<draw:g><draw:circle {at(10)}><text:p>円 {w(9)}</text:p></draw:circle>'
        f'<draw:a xlink:href="https://example.com/"><draw:ellipse {at(12)}><text:p>リンクの楕円</text:p></draw:ellipse></draw:a></draw:g>',
    ]
    content = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content {ODF_NAMESPACES} office:version="1.2">'
               "<office:body><office:presentation>\n" +
               "".join(f'<draw:page draw:name="page{i + 1}" draw:master-page-name="Default">\n{p}</draw:page>\n'
                       for i, p in enumerate(pages)) +
               "</office:presentation></office:body></office:document-content>\n")
    styles = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-styles {ODF_NAMESPACES} office:version="1.2">'
              '<office:automatic-styles><style:page-layout style:name="PM1"><style:page-layout-properties '
              'fo:page-width="28cm" fo:page-height="15.75cm"/></style:page-layout></office:automatic-styles>'
              '<office:master-styles><style:master-page style:name="Default" style:page-layout-name="PM1"/>'
              "</office:master-styles></office:document-styles>\n")
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>\n<manifest:manifest '
                'xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                f'<manifest:file-entry manifest:full-path="/" manifest:media-type="{ODP_TYPE}"/>'
                '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
                '<manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/>'
                '<manifest:file-entry manifest:full-path="Pictures/image1.png" manifest:media-type="image/png"/>'
                "</manifest:manifest>\n")
    return [("mimetype", ODP_TYPE), ("content.xml", content), ("styles.xml", styles),
            ("Pictures/image1.png", tiny_png()), ("META-INF/manifest.xml", manifest)]


def write_zip(path, entries):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            method = zipfile.ZIP_STORED if name == "mimetype" else zipfile.ZIP_DEFLATED
            archive.writestr(zipfile.ZipInfo(name, (2024, 4, 1, 0, 0, 0)), data, method)


def convert(soffice, work, jobs, outdir):
    """Runs soffice --convert-to for each (target, sources) of jobs at the same time, each office
    with a profile of its own; raises when one fails or leaves an output unwritten."""
    running = []
    for number, (target, sources) in enumerate(jobs):
        profile = os.path.join(work, f"profile-{number}")
        running.append(subprocess.Popen(
            [soffice, f"-env:UserInstallation=file://{profile}", "--headless", "--norestore",
             "--convert-to", target, "--outdir", outdir] + sources,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    try:
        for process in running:
            if process.wait(timeout=600) != 0:
                raise RuntimeError(f"soffice ended with {process.returncode}")
    finally:
        for process in running:
            if process.poll() is None:
                process.kill()
                process.wait()
    for target, sources in jobs:
        for source in sources:
            made = os.path.join(outdir, os.path.splitext(os.path.basename(source))[0] + "." + target)
            if not os.path.exists(made):
                raise RuntimeError(f"soffice did not write {made}")


def make(outdir, copies):
    """Writes the documents into outdir; answers a process exit status (0, or 77 when a
    producer is missing)."""
    soffice = shutil.which("soffice")
    if soffice is None:
        print("slide corpus: soffice is missing")
        return 77
    with tempfile.TemporaryDirectory(prefix="ferretta-slides-") as work:
        decks = []
        powerpoint = []
        for copy in range(copies):
            deck = os.path.join(work, f"slides-lo-{copy}.fodp")
            with open(deck, "w", encoding="utf-8") as out:
                out.write(fodp_deck(copy))
            decks.append(deck)
            package = os.path.join(outdir, f"slides-pp-{copy}.pptx")
            write_zip(package, sorted(powerpoint_deck(copy).items(),
                                      key=lambda item: item[0] != "[Content_Types].xml"))
            powerpoint.append(package)
            write_zip(os.path.join(outdir, f"slides-odf-{copy}.odp"), odf_deck(copy))
        jobs = [("pptx", decks), ("odp", decks + powerpoint)]
        if copies == 1:
            jobs.append(("ppt", decks[:1]))
        try:
            convert(soffice, work, jobs, outdir)
        except (subprocess.SubprocessError, RuntimeError) as failure:
            print(f"slide corpus: {failure}")
            return 1
    return 0
