"""The word documents of the Office corpus (see ../make_office_corpus.py).

Two producers: LibreOffice saves flat OpenDocument texts written here as .odt and .docx, and
python-docx writes .docx files directly (its own template, raw WordprocessingML where it has no
API). Each document shows a few constructs, with Japanese text in every form (kanji, kana,
full- and half-width letters, digits and katakana, ASCII). A document named "...-office-..."
holds a construct that the native reader leaves to the office ("-office-docx-": only as .docx). Copy k of a document plants the word
"検索語k" in its text so that the copies differ.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

ODF_NAMESPACES = {
    "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
    "style": "urn:oasis:names:tc:opendocument:xmlns:style:1.0",
    "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
    "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "draw": "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0",
    "fo": "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0",
    "svg": "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0",
    "xlink": "http://www.w3.org/1999/xlink",
    "dc": "http://purl.org/dc/elements/1.1/",
    "meta": "urn:oasis:names:tc:opendocument:xmlns:meta:1.0",
    "loext": "urn:org:documentfoundation:names:experimental:office:xmlns:loext:1.0",
}

MIXED = "全角ＡＢＣと半角ABC、ｶﾀｶﾅとカタカナ、数字１２３と456。"


def odf_document(body, automatic_styles="", master="", meta=""):
    declarations = " ".join('xmlns:%s="%s"' % pair for pair in ODF_NAMESPACES.items())
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<office:document %s office:version="1.3" '
        'office:mimetype="application/vnd.oasis.opendocument.text">\n'
        "<office:meta>%s</office:meta>\n"
        "<office:styles>"
        '<style:style style:name="Standard" style:family="paragraph"/>'
        '<style:style style:name="Hidden" style:family="text">'
        '<style:text-properties text:display="none"/></style:style>'
        "</office:styles>\n"
        "<office:automatic-styles>%s</office:automatic-styles>\n"
        "<office:master-styles>%s</office:master-styles>\n"
        "<office:body><office:text>\n%s\n</office:text></office:body>\n"
        "</office:document>\n" % (declarations, meta, automatic_styles, master, body)
    )


def p(text, style=None):
    attribute = ' text:style-name="%s"' % style if style else ""
    return "<text:p%s>%s</text:p>" % (attribute, text)


def frame(name, z, content, kind="text-box"):
    return (
        '<draw:frame draw:name="%s" text:anchor-type="paragraph" svg:x="2cm" svg:y="%dcm" '
        'svg:width="6cm" svg:height="2cm" draw:z-index="%d"><draw:%s>%s</draw:%s></draw:frame>'
        % (name, 1 + 3 * z, z, kind, content, kind)
    )


def custom_shape(name, z, content):
    return (
        '<draw:custom-shape draw:name="%s" text:anchor-type="paragraph" svg:x="9cm" '
        'svg:y="%dcm" svg:width="5cm" svg:height="2cm" draw:z-index="%d">%s'
        '<draw:enhanced-geometry draw:type="rectangle" svg:viewBox="0 0 21600 21600" '
        'draw:enhanced-path="M 0 0 L 21600 0 21600 21600 0 21600 Z N"/></draw:custom-shape>'
        % (name, 1 + 3 * z, z, content)
    )


def table(name, rows):
    cells = "".join(
        "<table:table-row>%s</table:table-row>"
        % "".join(
            '<table:table-cell office:value-type="string">%s</table:table-cell>' % cell
            for cell in row
        )
        for row in rows
    )
    columns = max(len(row) for row in rows)
    return (
        '<table:table table:name="%s"><table:table-column table:number-columns-repeated="%d"/>'
        "%s</table:table>" % (name, columns, cells)
    )


def odf_texts(word):
    """The flat OpenDocument texts: name -> document."""
    docs = {}
    docs["sentences"] = odf_document(
        p("これは最初の文です。二番目の文は%sを含みます。Hello world. This is English." % word)
        + p("")
        + p(MIXED + "最後に句点なし")
        + p("感嘆符！疑問符？それから…終わり。 空白の後。")
        + p("  先頭の空白と 途中の空白 ")
        + p("")
        + p("")
        + p("Mr. Smith went to Washington. He said: \"ok.\" (Really.) Yes!")
    )
    docs["tables"] = odf_document(
        p("表の前の段落。")
        + table(
            "Table1",
            [
                [p("表のセル一"), p("cell two") + p("二つ目の段落")],
                [p(""), p("表の中の%s。次の文。" % word)],
            ],
        )
        + table(
            "Table2",
            [
                [
                    p("外側")
                    + table("Inner", [[p("入れ子のセル"), p("ｲﾚｺ")]])
                    + p("外側の後"),
                    p("右"),
                ]
            ],
        )
        + p("表の後の段落。")
    )
    docs["shapes"] = odf_document(
        p(
            "図形の前。"
            + frame("Frame1", 0, p("枠の中の文章。%s。" % word) + p("枠の二段落目"))
            + custom_shape("Shape1", 1, p("図形の文字列") + p("二行目"))
        )
        + p("")
        + p(
            '<draw:line draw:name="Line1" text:anchor-type="paragraph" svg:x1="1cm" '
            'svg:y1="10cm" svg:x2="5cm" svg:y2="12cm" draw:z-index="2"/>'
            + custom_shape("Empty", 3, "")
            + '<draw:g draw:name="Group1" text:anchor-type="paragraph" draw:z-index="4">'
            + custom_shape("InGroupA", 5, p("グループの中Ａ"))
            + custom_shape("InGroupB", 6, p("グループの中Ｂ"))
            + "</draw:g>"
            + "本文の続き。"
        )
    )
    # Saved as .docx, a frame in the text becomes a picture in the text, whose place among the
    # anchored shapes the reader does not know.
    docs["office-docx-as-char"] = odf_document(
        p("前の%s。" % word + frame("Anchored", 1, p("段落の枠")))
        + p(
            "文字として"
            + frame("AsChar", 7, p("文字扱いの枠")).replace(
                'text:anchor-type="paragraph"', 'text:anchor-type="as-char"'
            )
            + "の枠。"
        )
    )
    docs["office-fields"] = odf_document(
        p('ページ <text:page-number text:select-page="current">1</text:page-number> です。')
        + p("全 <text:page-count>1</text:page-count> ページ。")
        + p('日付 <text:date text:fixed="true" text:date-value="2024-03-05">2024/03/05</text:date>。')
        + p("作成者 <text:initial-creator>山田太郎</text:initial-creator>。")
        + p("題名 <text:title>題名の%s</text:title>。" % word),
        meta="<dc:title>題名の%s</dc:title><meta:initial-creator>山田太郎</meta:initial-creator>"
        % word,
    )
    docs["notes"] = odf_document(
        p(
            "脚注つきの文"
            '<text:note text:id="ftn1" text:note-class="footnote"><text:note-citation>1'
            "</text:note-citation><text:note-body>"
            + p("脚注の本文。%s" % word)
            + "</text:note-body></text:note>です。次の文"
            '<text:note text:id="ftn2" text:note-class="footnote"><text:note-citation>2'
            "</text:note-citation><text:note-body>"
            + p("二つ目の脚注")
            + "</text:note-body></text:note>。"
        )
        + p(
            "文末脚注"
            '<text:note text:id="edn1" text:note-class="endnote"><text:note-citation>i'
            "</text:note-citation><text:note-body>"
            + p("文末脚注の本文")
            + "</text:note-body></text:note>の後。"
        )
    )
    docs["ruby"] = odf_document(
        p(
            "<text:ruby><text:ruby-base>漢字</text:ruby-base><text:ruby-text>かんじ</text:ruby-text>"
            "</text:ruby>に振り仮名。<text:ruby><text:ruby-base>%s</text:ruby-base>"
            "<text:ruby-text>けんさくご</text:ruby-text></text:ruby>も。" % word
        )
    )
    docs["breaks"] = odf_document(
        p("タブ<text:tab/>の後<text:tab/>タブ二つ。")
        + p("改行の前<text:line-break/>改行の後。同じ段落<text:line-break/><text:line-break/>空行の後")
        + p("空白<text:s text:c=\"3\"/>三つ。%s" % word)
        + p("ソフト\u00adハイフン、改行しない\u2011ハイフン、改行しない\u00a0空白。")
        + p("<text:soft-page-break/>改ページの後。")
    )
    docs["lists"] = odf_document(
        '<text:list><text:list-item>'
        + p("箇条書き一")
        + "</text:list-item><text:list-item>"
        + p("箇条書き二。%s" % word)
        + "</text:list-item></text:list>"
        + '<text:list><text:list-header>'
        + p("見出し行")
        + "</text:list-header><text:list-item>"
        + p("番号一")
        + "<text:list><text:list-item>"
        + p("入れ子")
        + "</text:list-item></text:list></text:list-item></text:list>"
    )
    docs["hidden"] = odf_document(
        p("見える文。<text:span text:style-name=\"Hidden\">隠し文字。</text:span>次の文。")
        + p(
            '隠し<text:hidden-text text:condition="ooow:1" text:string-value="隠しテキスト" '
            'text:is-hidden="true"/>フィールド。'
        )
        + '<text:section text:name="HiddenSection" text:display="none">'
        + p("隠しセクションの%s。" % word)
        + "</text:section>"
        + p("最後。")
    )
    docs["changes"] = odf_document(
        "<text:tracked-changes>"
        '<text:changed-region text:id="ct1"><text:insertion><office:change-info>'
        "<dc:creator>A</dc:creator><dc:date>2024-01-01T00:00:00</dc:date>"
        "</office:change-info></text:insertion></text:changed-region>"
        '<text:changed-region text:id="ct2"><text:deletion><office:change-info>'
        "<dc:creator>A</dc:creator><dc:date>2024-01-01T00:00:00</dc:date>"
        "</office:change-info>" + p("削除された文字") + "</text:deletion></text:changed-region>"
        "</text:tracked-changes>"
        + p(
            '変更<text:change-start text:change-id="ct1"/>挿入した%s<text:change-end '
            'text:change-id="ct1"/>と<text:change text:change-id="ct2"/>削除。' % word
        )
    )
    docs["sections"] = odf_document(
        p("セクションの前。")
        + '<text:section text:name="Section1">'
        + p("セクション一の文。")
        + p("二段落目の%s。" % word)
        + "</text:section>"
        + '<text:section text:name="Section2">'
        + p("セクション二。")
        + "</text:section>"
    )
    docs["marks"] = odf_document(
        p(
            '<text:bookmark-start text:name="b1"/>しおり<text:bookmark-end text:name="b1"/>と'
            '<text:a xlink:type="simple" xlink:href="https://example.com/">リンク</text:a>と'
            "<text:span>飾り</text:span>の%s。" % word
        )
        + p(
            "注釈<office:annotation><dc:creator>B</dc:creator><dc:date>2024-01-01T00:00:00"
            "</dc:date>" + p("注釈の本文") + "</office:annotation>の後。"
        ),
        master='<style:master-page style:name="Standard"><style:header>'
        + p("ヘッダーの文字")
        + "</style:header><style:footer>"
        + p("フッターの文字")
        + "</style:footer></style:master-page>",
    )
    docs["order"] = odf_document(
        p(
            "前。"
            + frame("FrameB", 5, p("枠B"))
            + picture_frame("Picture", 1)
            + custom_shape("ShapeZ", 3, p("図形Z"))
            + frame("FrameA", 0, p("枠A。%s" % word))
            + custom_shape("ShapeY", 2, p("図形Y"))
            + "後。"
        )
        + p("前。" + frame("Outer", 6, p("外" + frame("Inner", 7, p("内")))) + "後。")
    )
    docs["spaces"] = odf_document(
        p("<text:span>a</text:span> <text:span>b</text:span>  c\n d。%s" % word)
        + p("   先頭 <text:s/>x<text:tab/> y")
        + "<text:h text:outline-level=\"1\">見出し  の文</text:h>"
    )
    docs["table-last"] = odf_document(p("表で終わる。") + table("T", [[p("セル%s" % word)]]))
    return docs


PICTURE = (
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg=="
)


def picture_frame(name, z):
    return (
        '<draw:frame draw:name="%s" text:anchor-type="paragraph" svg:x="1cm" svg:y="1cm" '
        'svg:width="1cm" svg:height="1cm" draw:z-index="%d"><draw:image><office:binary-data>%s'
        "</office:binary-data></draw:image></draw:frame>" % (name, z, PICTURE)
    )


# python-docx --------------------------------------------------------------------------------

W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
DOCX_NAMESPACES = (
    'xmlns:w="%s" '
    'xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" '
    'xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" '
    'xmlns:wps="http://schemas.microsoft.com/office/word/2010/wordprocessingShape" '
    'xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006" '
    'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"' % W
)


def raw_paragraph(document, inner):
    from docx.oxml import parse_xml

    element = parse_xml("<w:p %s>%s</w:p>" % (DOCX_NAMESPACES, inner))
    body = document.element.body
    body.insert(len(body) - 1, element)


def run(text, properties=""):
    return '<w:r>%s<w:t xml:space="preserve">%s</w:t></w:r>' % (
        "<w:rPr>%s</w:rPr>" % properties if properties else "",
        escape(text),
    )


def text_box(identifier, z, text):
    return (
        "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing>"
        '<wp:anchor distT="0" distB="0" distL="0" distR="0" simplePos="0" relativeHeight="%d" '
        'behindDoc="0" locked="0" layoutInCell="1" allowOverlap="1">'
        '<wp:simplePos x="0" y="0"/><wp:positionH relativeFrom="column"><wp:posOffset>0'
        '</wp:posOffset></wp:positionH><wp:positionV relativeFrom="paragraph"><wp:posOffset>'
        '%d</wp:posOffset></wp:positionV><wp:extent cx="1828800" cy="457200"/>'
        '<wp:effectExtent l="0" t="0" r="0" b="0"/><wp:wrapNone/>'
        '<wp:docPr id="%d" name="Text Box %d"/><wp:cNvGraphicFramePr/><a:graphic>'
        '<a:graphicData uri="http://schemas.microsoft.com/office/word/2010/wordprocessingShape">'
        '<wps:wsp><wps:cNvSpPr txBox="1"/><wps:spPr><a:xfrm><a:off x="0" y="0"/>'
        '<a:ext cx="1828800" cy="457200"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/>'
        "</a:prstGeom></wps:spPr><wps:txbx><w:txbxContent><w:p>%s</w:p></w:txbxContent>"
        "</wps:txbx><wps:bodyPr/></wps:wsp></a:graphicData></a:graphic></wp:anchor>"
        "</w:drawing></mc:Choice></mc:AlternateContent></w:r>"
        % (251659264 + z, 500000 * z, identifier, identifier, run(text))
    )


def docx_documents(word):
    """python-docx documents: name -> function(document)."""

    def plain(document):
        document.add_heading("見出しの%s" % word, level=1)
        document.add_paragraph("これは最初の文です。二番目の文。Hello world. End.")
        document.add_paragraph("")
        paragraph = document.add_paragraph("太字")
        paragraph.runs[0].bold = True
        paragraph.add_run("と普通の")
        paragraph.add_run("ｶﾀｶﾅ").italic = True
        paragraph.add_run("。" + MIXED)
        document.add_paragraph("箇条書きの項目", style="List Bullet")
        document.add_paragraph("番号つきの項目", style="List Number")

    def tables(document):
        document.add_paragraph("表の前。")
        grid = document.add_table(rows=3, cols=3)
        for r, row in enumerate(grid.rows):
            for c, cell in enumerate(row.cells):
                cell.text = "セル%d-%d" % (r + 1, c + 1)
        grid.cell(0, 0).add_paragraph("二段落目の%s" % word)
        grid.cell(1, 0).merge(grid.cell(1, 1))
        grid.cell(2, 2).text = ""
        inner = grid.cell(2, 0).add_table(rows=1, cols=2)
        inner.cell(0, 0).text = "入れ子"
        inner.cell(0, 1).text = "ﾈｽﾄ"
        document.add_paragraph("表の後。")

    def vertical_merge(document):
        grid = document.add_table(rows=3, cols=2)
        for r, row in enumerate(grid.rows):
            for c, cell in enumerate(row.cells):
                cell.text = "縦%d%d" % (r + 1, c + 1)
        grid.cell(0, 0).merge(grid.cell(2, 0))
        document.add_paragraph("結合の後の%s。" % word)

    def headers(document):
        section = document.sections[0]
        section.header.paragraphs[0].text = "ヘッダーの%s" % word
        section.footer.paragraphs[0].text = "フッターの文字"
        document.add_paragraph("本文だけが読まれる。")

    def breaks(document):
        paragraph = document.add_paragraph("改行の前")
        paragraph.runs[0].add_break()
        paragraph.add_run("改行の後。\tタブの後。%s" % word)
        document.add_paragraph("ページの前")
        from docx.enum.text import WD_BREAK

        paragraph = document.add_paragraph("段落の途中で")
        paragraph.runs[0].add_break(WD_BREAK.PAGE)
        paragraph.add_run("改ページ。")
        document.add_page_break()
        document.add_paragraph("次のページ。")

    def raw(document):
        document.add_paragraph("特殊な文字の%s。" % word)
        raw_paragraph(
            document,
            run("ソフト") + "<w:r><w:softHyphen/></w:r>" + run("ハイフンと改行しない")
            + "<w:r><w:noBreakHyphen/></w:r>" + run("ハイフン。"),
        )
        raw_paragraph(document, run("見える") + run("隠し文字", "<w:vanish/>") + run("と見える。"))
        raw_paragraph(
            document,
            run("変更")
            + '<w:ins w:id="1" w:author="A" w:date="2024-01-01T00:00:00Z">' + run("挿入") + "</w:ins>"
            + '<w:del w:id="2" w:author="A" w:date="2024-01-01T00:00:00Z"><w:r>'
            '<w:delText>削除</w:delText></w:r></w:del>' + run("の後。"),
        )
        raw_paragraph(
            document,
            "<w:r><w:ruby><w:rubyPr><w:rubyAlign w:val=\"distributeSpace\"/><w:hps w:val=\"10\"/>"
            '<w:hpsRaise w:val="18"/><w:hpsBaseText w:val="21"/><w:lid w:val="ja-JP"/></w:rubyPr>'
            "<w:rt>" + run("かんじ") + "</w:rt><w:rubyBase>" + run("漢字")
            + "</w:rubyBase></w:ruby></w:r>" + run("にルビ。"),
        )
        raw_paragraph(
            document,
            '<w:bookmarkStart w:id="0" w:name="mark"/>' + run("しおり")
            + '<w:bookmarkEnd w:id="0"/>' + run("の中。")
            + "<w:smartTag w:uri=\"urn:x\" w:element=\"place\">" + run("東京") + "</w:smartTag>"
            + run("。"),
        )
        raw_paragraph(
            document,
            "<w:sdt><w:sdtPr><w:alias w:val=\"c\"/></w:sdtPr><w:sdtContent>"
            + run("コンテンツ") + "</w:sdtContent></w:sdt>" + run("コントロール。"),
        )

    def symbol(document):
        document.add_paragraph("記号の%s。" % word)
        raw_paragraph(
            document,
            run("記号") + '<w:r><w:sym w:font="Wingdings" w:char="F04A"/></w:r>' + run("の後。"),
        )

    def fields(document):
        raw_paragraph(
            document,
            run("ページ")
            + '<w:fldSimple w:instr=" PAGE "><w:r><w:t>1</w:t></w:r></w:fldSimple>'
            + run("。"),
        )
        raw_paragraph(
            document,
            run("日付")
            + '<w:r><w:fldChar w:fldCharType="begin"/></w:r>'
            + '<w:r><w:instrText xml:space="preserve"> DATE \\@ "yyyy/MM/dd" </w:instrText></w:r>'
            + '<w:r><w:fldChar w:fldCharType="separate"/></w:r>'
            + run("2024/03/05")
            + '<w:r><w:fldChar w:fldCharType="end"/></w:r>'
            + run("。%s" % word),
        )

    def shapes(document):
        document.add_paragraph("テキストボックスの前。")
        raw_paragraph(document, run("錨") + text_box(10, 2, "箱の中の%s" % word))
        raw_paragraph(document, run("二つ目") + text_box(11, 1, "二つ目の箱"))
        raw_paragraph(document, run("三つ目") + text_box(12, 1, "同じ高さの箱"))
        document.add_paragraph("テキストボックスの後。")

    def hyperlink(document):
        raw_paragraph(
            document,
            run("前の文。")
            + '<w:hyperlink w:anchor="top">' + run("リンクの%s" % word) + "</w:hyperlink>"
            + run("後。"),
        )

    def order(document):
        import base64
        import io

        picture = io.BytesIO(base64.b64decode(PICTURE))
        document.add_paragraph("前。")
        document.add_picture(picture)
        raw_paragraph(document, run("錨A") + text_box(20, 7, "箱七"))
        raw_paragraph(document, run("錨B") + text_box(21, 3, "箱三の%s" % word))
        raw_paragraph(document, run("錨C") + text_box(22, 3, "箱三の二つ目"))
        picture.seek(0)
        document.add_picture(picture)

    def header_box(document):
        from docx.oxml import parse_xml

        document.add_paragraph("本文の%s。" % word)
        header = document.sections[0].header._element
        header.append(
            parse_xml("<w:p %s>%s</w:p>" % (DOCX_NAMESPACES, run("頭") + text_box(30, 9, "頭の箱")))
        )
        raw_paragraph(document, run("錨") + text_box(31, 2, "本文の箱"))

    def page_breaks(document):
        from docx.enum.text import WD_BREAK

        paragraph = document.add_paragraph("終わりに改ページ")
        paragraph.runs[0].add_break(WD_BREAK.PAGE)
        paragraph = document.add_paragraph("段の")
        paragraph.runs[0].add_break(WD_BREAK.COLUMN)
        paragraph.add_run("区切り")
        paragraph = document.add_paragraph("二つ")
        paragraph.runs[0].add_break(WD_BREAK.PAGE)
        paragraph.add_run("の")
        paragraph.runs[1].add_break(WD_BREAK.PAGE)
        paragraph.add_run("改ページ。%s" % word)
        raw_paragraph(
            document,
            run("前")
            + '<w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText xml:space="preserve">'
            ' HYPERLINK "https://example.com/" </w:instrText></w:r>'
            '<w:r><w:fldChar w:fldCharType="separate"/></w:r>' + run("リンク結果")
            + '<w:r><w:fldChar w:fldCharType="end"/></w:r>' + run("後。"),
        )

    def sections(document):
        from docx.enum.section import WD_SECTION

        document.add_paragraph("第一節の%s。" % word)
        document.add_section(WD_SECTION.NEW_PAGE)
        document.add_paragraph("第二節。")
        document.add_section(WD_SECTION.CONTINUOUS)
        document.add_paragraph("第三節。")

    def table_last(document):
        document.add_paragraph("表で終わる。")
        document.add_table(rows=1, cols=2).cell(0, 1).text = "最後のセル%s" % word

    return {
        "office-inline-order": order,
        "office-header-box": header_box,
        "page-breaks": page_breaks,
        "sections": sections,
        "table-last": table_last,
        "plain": plain,
        "tables": tables,
        "office-vmerge": vertical_merge,
        "headers": headers,
        "breaks": breaks,
        "raw": raw,
        "office-fields": fields,
        "office-symbol": symbol,
        "shapes": shapes,
        "hyperlink": hyperlink,
    }


def debian_python():
    """python-docx from Debian lives in the system's python3; a python3 first on the PATH (a
    virtual environment, pyenv) may not see it."""
    for candidate in ("/usr/bin/python3", sys.executable):
        if candidate and os.path.exists(candidate):
            probe = subprocess.run([candidate, "-c", "import docx"], capture_output=True)
            if probe.returncode == 0:
                return candidate
    return None


def write_docx(outdir, copies):
    """Writes the python-docx documents, in this interpreter when it has python-docx, else in
    the system's python3. False when none has it."""
    try:
        import docx  # noqa: F401
    except ImportError:
        python = debian_python()
        if python is None:
            return False
        script = (
            "import sys; sys.path.insert(0, %r); import word; word.write_docx(%r, %d)"
            % (os.path.dirname(os.path.abspath(__file__)), outdir, copies)
        )
        return subprocess.run([python, "-c", script]).returncode == 0
    import docx

    for copy in range(1, copies + 1):
        for name, build in docx_documents(word_of(copy)).items():
            document = docx.Document()
            build(document)
            document.save(os.path.join(outdir, "pd-%s%s.docx" % (name, suffix(copy))))
    return True


def word_of(copy):
    return "検索語%d" % copy


def suffix(copy):
    return "" if copy == 1 else "-%d" % copy


def write_odf(outdir, copies):
    """Writes the flat OpenDocument texts and has LibreOffice save them as .odt and .docx.
    False when soffice is missing or fails."""
    soffice = shutil.which("soffice")
    if soffice is None:
        return False
    with tempfile.TemporaryDirectory(prefix="ferretta-word-corpus-") as scratch:
        sources = []
        for copy in range(1, copies + 1):
            for name, text in odf_texts(word_of(copy)).items():
                source = os.path.join(scratch, "lo-%s%s.fodt" % (name, suffix(copy)))
                with open(source, "w", encoding="utf-8") as out:
                    out.write(text)
                sources.append(source)
        profile = os.path.join(scratch, "profile")
        for extension in ("odt", "docx"):
            done = subprocess.run(
                [soffice, "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                 "--convert-to", extension, "--outdir", outdir] + sources,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600,
            )
            if done.returncode != 0:
                return False
        return len(glob.glob(os.path.join(outdir, "lo-*"))) == 2 * len(sources)


def make(outdir, copies):
    """Writes the documents into outdir; answers a process exit status (0, or 77 when a
    producer is missing)."""
    if not write_docx(outdir, copies):
        print("python-docx is missing", file=sys.stderr)
        return 77
    if not write_odf(outdir, copies):
        print("soffice is missing or failed", file=sys.stderr)
        return 77
    return 0
