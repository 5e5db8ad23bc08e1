"""The sheet documents of the Office corpus (see ../make_office_corpus.py): workbooks made by
openpyxl (inline strings, formulas without stored values, numbers, dates, percentages, merged
cells, several, hidden and very hidden sheets, Japanese sheet names), by LibreOffice (each
workbook and a flat OpenDocument spreadsheet saved as .xlsx and .ods: shared strings, stored
values), and
a few written here as Excel writes them (shared formulas with stored values, inline strings,
phonetic runs, escaped control characters). Japanese text everywhere: kanji, kana, full- and
half-width forms, ASCII and numbers.

A document whose name ends in "-office" holds a construct the native reader leaves to the
office (an array formula).

make_office_corpus.py OUTDIR --kinds sheet --big writes big/big.xlsx instead: one sheet of a
million cells, about 50 MB, for the reader's speed and memory.
"""
import datetime
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zipfile

STORES = ["東京本店", "大阪支店", "ﾅｺﾞﾔ支店", "札幌営業所", "福岡ｾﾝﾀｰ", "Ｋｙｏｔｏ店"]
ITEMS = ["ノートＰＣ", "ﾏｳｽ", "ＵＳＢメモリ", "キーボード", "ﾓﾆﾀｰ 24型", "ケーブル(1m)",
         "プリンタ用紙Ａ４", "電卓"]
NOTES = ["至急", "03-1234-5678", "〒100-0001 東京都千代田区", "ABC-123", "ｺｰﾄﾞ：XY_01",
         "備考なし", "再見積（２回目）", "担当：山田太郎", "Ver.1.2", "No.5", "1-2", "090-1234-5678",
         "2024年4月1日", "第3四半期", "ＡＢＣ", "abc def", "ﾃｽﾄ ﾃﾞｰﾀ", "１２３", "¥1,000"]
NOTE_TEXTS = ["一行目\n二行目", "  前後に空白  ", "'引用符で始まる", "a\tb", "123", "-5", "1,234",
              "12%", "TRUE", "1/15", "12:30", "99-1-1", "$100", "(5)", "1e5", "00123",
              "全角　空白", "ｶﾀｶﾅ ﾊﾝｶｸ", "混在ＭＩＸ mix ﾐｯｸｽ ミックス", "記号！？＃＄％＆"]


def have(module):
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def soffice():
    return shutil.which("soffice")


def convert(sources, extensions, outdir, prefix):
    """Saves each source through LibreOffice as each of `extensions` into outdir, named prefix
    + its base name; one office profile for all, 20 documents a run. Answers False when the
    office failed."""
    with tempfile.TemporaryDirectory() as work:
        profile = os.path.join(work, "profile")
        out = os.path.join(work, "out")
        for extension in extensions:
            for first in range(0, len(sources), 20):
                batch = sources[first:first + 20]
                command = [soffice(), f"-env:UserInstallation=file://{profile}", "--headless",
                           "--norestore", "--convert-to", extension, "--outdir", out] + batch
                result = subprocess.run(command, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, timeout=900, check=False)
                if result.returncode != 0:
                    return False
                for source in batch:
                    base = os.path.splitext(os.path.basename(source))[0]
                    made = os.path.join(out, f"{base}.{extension}")
                    if not os.path.exists(made):
                        return False
                    shutil.move(made, os.path.join(outdir, f"{prefix}{base}.{extension}"))
    return True


def business_workbook(path, rng, planted):
    import openpyxl
    from openpyxl.styles import Alignment

    book = openpyxl.Workbook()
    sales = book.active
    sales.title = "売上一覧"
    sales.append(["日付", "店舗", "商品", "数量", "単価", "金額", "備考", "税率"])
    for row in range(2, 32):
        sales.append([
            datetime.datetime(2024, 4, 1) + datetime.timedelta(days=rng.randrange(365),
                                                               minutes=rng.randrange(1440)),
            rng.choice(STORES), rng.choice(ITEMS), rng.randrange(1, 50),
            round(rng.uniform(100, 50000), rng.choice([0, 1, 2])), f"=D{row}*E{row}",
            rng.choice(NOTES), 0.1 if row % 3 else 0.08])
        sales.cell(row=row, column=8).number_format = "0%"
        sales.cell(row=row, column=1).number_format = "yyyy/mm/dd hh:mm"
    sales["I2"] = planted
    sales["J5"] = True
    sales["J6"] = False
    sales["K3"] = 1 / 3
    sales["K4"] = 0.1 + 0.2
    sales["K5"] = -1234567.891
    sales["K6"] = 1e-7
    sales["K7"] = 123456789012345678
    sales["K8"] = datetime.time(12, 30, 45)
    sales["K9"] = datetime.date(1999, 12, 31)

    summary = book.create_sheet("集計")
    formulas = [
        ("合計", "=SUM('売上一覧'!F2:F31)"), ("平均", "=AVERAGE(売上一覧!E2:E31)"),
        ("東京件数", '=COUNTIF(売上一覧!B2:B31,"東京本店")'),
        ("判定", '=IF(B2>100000,"目標達成","未達")'), ("表示", '=TEXT(B2,"#,##0")'),
        ("連結", '=CONCATENATE("合計：",B2,"円")'), ("税込", "=ROUND(B2*1.1,0)"),
        ("検索", '=VLOOKUP("ﾏｳｽ",売上一覧!C2:F31,4,FALSE)'), ("今日", "=TODAY()"),
        ("エラー", '=IFERROR(1/0,"エラー")'), ("左", "=LEFT(A1,2)"), ("長さ", '=LEN("全角ＡＢＣ")'),
        ("日付", "=DATE(2024,4,1)"), ("敬称", '=A1&"様"'), ("比率", "=B3/B2%"),
        ("範囲", "=MAX(売上一覧!D:D)-MIN(売上一覧!D2:D31)"), ("真偽", "=AND(B2>0,B3>0)"),
        ("文字", '="全角""引用""ｶﾅ"'), ("件数", "=COUNTA(売上一覧!A2:A31)"),
        ("絶対", "=$B$2+B$3+$B4"), ("空白", "=SUM( B2 , B3 )"), ("指数", "=2^10*1.5E3"),
    ]
    for label, formula in formulas:
        summary.append([label, formula])

    memo = book.create_sheet("ﾒﾓ")
    for i, text in enumerate(NOTE_TEXTS, start=1):
        memo.cell(row=i, column=1, value=text)
    memo["A4"].number_format = "@"
    memo["B1"] = "=式ではない文字"
    memo["B1"].data_type = "s"
    memo["B2"] = planted + "（メモ）"
    memo["C3"].alignment = Alignment(wrap_text=True)
    memo["C3"] = "折り返し\nテキスト\n三行目"

    hidden = book.create_sheet("非表示")
    hidden["A1"] = "隠しシートの内容"
    hidden["B2"] = 42
    hidden.sheet_state = "hidden"
    book.create_sheet("空")
    merged = book.create_sheet("結合")
    merged["A1"] = "結合セル（Ａ１：Ｃ１）"
    merged.merge_cells("A1:C1")
    merged["B3"] = "縦結合"
    merged.merge_cells("B3:B5")
    merged["D6"] = "結合の後"
    secret = book.create_sheet("秘密")
    secret["C3"] = "とても隠れたシート"
    secret.sheet_state = "veryHidden"
    book.save(path)


def numbers_workbook(path):
    import openpyxl

    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "数値"
    values = [0, 1, -1, 42, 3.5, -0.25, 1 / 3, 2 / 3, 1e15, 1.5e15, 123456789012345,
              9007199254740993, 0.0001, 0.00001, 1.5e-7, 2.5e-15, 1.7e20, 45306.520833333336,
              99999999999999.95, 1234.5678901234567]
    formats = ["General", "0.00", "#,##0", "0.0%", '"¥"#,##0', "0.00E+00", "@"]
    for r, value in enumerate(values, start=1):
        for c, number_format in enumerate(formats, start=1):
            sheet.cell(row=r, column=c, value=value).number_format = number_format
    sheet.cell(row=1, column=11, value="数値と書式")
    dates = book.create_sheet("日時")
    moments = [datetime.datetime(2024, 1, 15, 12, 30, 45), datetime.date(1999, 12, 31),
               datetime.time(23, 59, 59), datetime.datetime(1900, 3, 1, 0, 0, 1)]
    for r, moment in enumerate(moments, start=1):
        for c, number_format in enumerate(["yyyy/mm/dd", "h:mm:ss", "yyyy年m月d日", "General"],
                                          start=1):
            dates.cell(row=r, column=c, value=moment).number_format = number_format
    sums = book.create_sheet("計算")
    for r in range(1, 21):
        sums.append([f"=数値!A{r}*2", f"=SUM(数値!A1:A{r})", f"=数値!A{r}/7",
                     f'=IF(数値!A{r}>0,"正","負以下")', f'="値："&数値!A{r}',
                     f"=ROUND(数値!A{r}*1.08,2)", f"=LEN(数値!A{r})"])
    book.save(path)


FODS = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet>
<table:table table:name="表計算"><table:table-row>
<table:table-cell office:value-type="float" office:value="1234.5"><text:p>1,234.50</text:p></table:table-cell>
<table:table-cell office:value-type="percentage" office:value="0.125"><text:p>12.5%</text:p></table:table-cell>
<table:table-cell office:value-type="currency" office:currency="JPY" office:value="1500"><text:p>¥1,500</text:p></table:table-cell>
<table:table-cell office:value-type="date" office:date-value="2024-01-15"><text:p>2024/01/15</text:p></table:table-cell>
<table:table-cell office:value-type="date" office:date-value="2024-01-15T12:30:45"><text:p>x</text:p></table:table-cell>
<table:table-cell office:value-type="time" office:time-value="PT12H30M45S"><text:p>x</text:p></table:table-cell>
<table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>
<table:table-cell office:value-type="time" office:time-value="PT36H00M00S"><text:p>x</text:p></table:table-cell>
</table:table-row><table:table-row>
<table:table-cell office:value-type="string"><text:p>全角<text:s/>と<text:s text:c="3"/>空白</text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p>タブ<text:tab/>入り</text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p>改行<text:line-break/>入り</text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p>段落一</text:p><text:p>段落二</text:p></table:table-cell>
<table:table-cell office:value-type="string"><office:annotation><dc:creator>山田</dc:creator><text:p>メモの中身</text:p></office:annotation><text:p>コメント付き</text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p><text:a xlink:href="https://example.jp/">リンク</text:a>と<text:span>装飾</text:span></text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p>１２３</text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p>123</text:p></table:table-cell>
<table:table-cell office:value-type="string"><text:p>'引用</text:p></table:table-cell>
</table:table-row><table:table-row table:number-rows-repeated="3">
<table:table-cell office:value-type="string" table:number-columns-repeated="2"><text:p>繰り返し</text:p></table:table-cell>
<table:table-cell table:number-columns-repeated="2"/>
<table:table-cell office:value-type="float" office:value="7"><text:p>7</text:p></table:table-cell>
</table:table-row><table:table-row>
<table:table-cell table:number-columns-spanned="2" office:value-type="string"><text:p>結合</text:p></table:table-cell>
<table:covered-table-cell/>
<table:table-cell office:value-type="string"><text:p>結合の後</text:p></table:table-cell>
</table:table-row>
<table:table-header-rows><table:table-row><table:table-cell office:value-type="string"><text:p>見出し行</text:p></table:table-cell></table:table-row></table:table-header-rows>
<table:table-row-group><table:table-row table:visibility="collapse"><table:table-cell office:value-type="string"><text:p>折りたたみ行</text:p></table:table-cell></table:table-row></table:table-row-group>
<table:table-row>
<table:table-cell table:formula="of:=SUM([.A1];[.E3:.E5])" office:value-type="float" office:value="1255.5"><text:p>1255.5</text:p></table:table-cell>
<table:table-cell table:formula="of:=&quot;合計：&quot;&amp;[.A1]" office:value-type="string" office:string-value="合計：1234.5"><text:p>合計：1234.5</text:p></table:table-cell>
<table:table-cell table:formula="of:=[$'別 シート'.A1]&amp;[$別表.B2]" office:value-type="string" office:string-value=""><text:p/></table:table-cell>
<table:table-cell table:formula="of:=IF([.A1]&gt;1000;&quot;大&quot;;&quot;小&quot;)" office:value-type="string" office:string-value="大"><text:p>大</text:p></table:table-cell>
<table:table-cell table:formula="of:=1=1" office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>
<table:table-cell table:formula="of:=ROUND([.A1]*1.08;0)" office:value-type="float" office:value="1333"><text:p>1333</text:p></table:table-cell>
</table:table-row>
</table:table>
<table:table table:name="別 シート"><table:table-row><table:table-cell office:value-type="string"><text:p>スペース入りの名前</text:p></table:table-cell></table:table-row></table:table>
<table:table table:name="別表"><table:table-row><table:table-cell/></table:table-row><table:table-row><table:table-cell/><table:table-cell office:value-type="string"><text:p>ｂ２</text:p></table:table-cell></table:table-row></table:table>
</office:spreadsheet></office:body></office:document>
"""

NS_MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
NS_REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
TYPE = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"


def written_xlsx(path, sheets, shared, styles=None, application="Microsoft Excel", names=""):
    """A workbook written part by part as Excel writes it: sheets are (name, state,
    sheetData XML); shared are the <si> items' XML. The application named in docProps/app.xml
    matters: the office trusts stored texts of formulas only from Excel and itself."""
    types = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
             '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
             'relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>'
             '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.'
             'openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
             '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.'
             'openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
             '<Override PartName="/xl/styles.xml" ContentType="application/vnd.'
             'openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
             '<Override PartName="/docProps/app.xml" ContentType="application/vnd.'
             'openxmlformats-officedocument.extended-properties+xml"/>']
    relations = []
    entries = []
    for i, (name, state, data) in enumerate(sheets, start=1):
        types.append(f'<Override PartName="/xl/worksheets/sheet{i}.xml" ContentType="application/'
                     'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>')
        relations.append(f'<Relationship Id="rId{i}" Type="{TYPE}worksheet" '
                         f'Target="worksheets/sheet{i}.xml"/>')
        state_attribute = f' state="{state}"' if state else ""
        entries.append(f'<sheet name="{name}" sheetId="{i}"{state_attribute} r:id="rId{i}"/>')
    n = len(sheets)
    relations.append(f'<Relationship Id="rId{n + 1}" Type="{TYPE}sharedStrings" '
                     'Target="sharedStrings.xml"/>')
    relations.append(f'<Relationship Id="rId{n + 2}" Type="{TYPE}styles" Target="styles.xml"/>')
    styles = styles or ('<fonts count="1"><font/></fonts><fills count="1"><fill/></fills>'
                        '<borders count="1"><border/></borders><cellXfs count="1"><xf numFmtId="0"/>'
                        '</cellXfs>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("[Content_Types].xml", "".join(types) + "</Types>")
        archive.writestr("_rels/.rels",
                         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                         '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/'
                         f'relationships"><Relationship Id="rId1" Type="{TYPE}officeDocument" '
                         'Target="xl/workbook.xml"/><Relationship Id="rId2" '
                         f'Type="{TYPE}extended-properties" Target="docProps/app.xml"/>'
                         '</Relationships>')
        archive.writestr("docProps/app.xml",
                         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Properties '
                         'xmlns="http://schemas.openxmlformats.org/officeDocument/2006/'
                         f'extended-properties"><Application>{application}</Application>'
                         '</Properties>')
        archive.writestr("xl/workbook.xml",
                         f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><workbook '
                         f'xmlns="{NS_MAIN}" xmlns:r="{NS_REL}"><sheets>{"".join(entries)}'
                         f'</sheets>{names}<calcPr calcId="191029"/></workbook>')
        archive.writestr("xl/_rels/workbook.xml.rels",
                         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships '
                         'xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                         + "".join(relations) + "</Relationships>")
        archive.writestr("xl/sharedStrings.xml",
                         f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><sst '
                         f'xmlns="{NS_MAIN}" count="{len(shared)}" uniqueCount="{len(shared)}">'
                         + "".join(f"<si>{s}</si>" for s in shared) + "</sst>")
        archive.writestr("xl/styles.xml",
                         f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><styleSheet '
                         f'xmlns="{NS_MAIN}">{styles}</styleSheet>')
        for i, (_, _, data) in enumerate(sheets, start=1):
            archive.writestr(f"xl/worksheets/sheet{i}.xml",
                             f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><worksheet '
                             f'xmlns="{NS_MAIN}" xmlns:r="{NS_REL}"><sheetData>{data}</sheetData>'
                             "</worksheet>")


def excel_like_workbook(path):
    """Shared formulas with stored values, phonetic runs, rich and inline strings, escapes."""
    shared = ["<t>氏名</t>", "<t>読み</t>",
              '<t>山田太郎</t><rPh sb="0" eb="2"><t>ヤマダ</t></rPh><rPh sb="2" eb="4"><t>タロウ'
              '</t></rPh><phoneticPr fontId="1"/>',
              '<t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh>',
              '<r><t>太字</t></r><r><rPr><b/></rPr><t xml:space="preserve">と普通 </t></r>',
              "<t>改行_x000D__x000A_入り</t>", "<t>タブ_x0009_入り</t>", "<t>下線_x005F_x0041_</t>",
              "<t>点数</t>", "<t>合計</t>"]
    names = ["", "", "山田太郎", "東京", "太字と普通 "]
    rows = ['<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c>'
            '<c r="C1" t="s"><v>8</v></c><c r="D1" t="s"><v>9</v></c></row>']
    for r in range(2, 8):
        score = 10 * r + 5
        formula = ('<f t="shared" ref="D2:D7" si="0">C2*2+$C$2</f>' if r == 2
                   else '<f t="shared" si="0"/>')
        rows.append(f'<row r="{r}"><c r="A{r}" t="s"><v>{2 + r % 4}</v></c>'
                    f'<c r="B{r}" t="inlineStr"><is><t>行{r}</t></is></c>'
                    f'<c r="C{r}"><v>{score}</v></c><c r="D{r}">{formula}<v>0</v></c></row>')
    rows.append('<row r="9"><c r="A9" t="s"><v>6</v></c><c r="B9" t="s"><v>7</v></c>'
                '<c r="C9"><f>SUM(C2:C7)</f><v>345</v></c><c r="D9" t="str"><f>A2&amp;"さん"</f>'
                f'<v>{names[2 + 2 % 4]}さん</v></c><c r="E9" t="b"><f>C9&gt;100</f><v>1</v></c>'
                '<c r="F9" t="e"><f>1/0</f><v>#DIV/0!</v></c><c r="G9"><f>C9/7</f>'
                '<v>49.285714285714285</v></c></row>')
    rows.append('<row r="11"><c r="A11" t="inlineStr"><is><r><t>インライン</t></r><r><t>リッチ'
                '</t></r></is></c><c r="B11" t="e"><v>#N/A</v></c><c r="C11" t="b"><v>0</v></c>'
                '<c r="E11" s="1"><f>C9/1000</f><v>0.345</v></c>'
                '<c r="F11"><f>点数合計*倍率+別シート!Local</f><v>692</v></c></row>')
    styles = ('<numFmts count="1"><numFmt numFmtId="164" formatCode="0.0%"/></numFmts>'
              '<fonts count="1"><font/></fonts><fills count="1"><fill/></fills>'
              '<borders count="1"><border/></borders>'
              '<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="164"/></cellXfs>')
    names = ('<definedNames><definedName name="点数合計">名簿!$C$9</definedName>'
             '<definedName name="倍率">2</definedName>'
             '<definedName name="Local" localSheetId="1">別シート!$B$2</definedName>'
             '<definedName name="_xlnm.Print_Area" localSheetId="0">名簿!$A$1:$D$9</definedName>'
             '</definedNames>')
    written_xlsx(path, [("名簿", None, "".join(rows)),
                        ("別シート", "hidden", '<row r="2"><c r="B2"><v>2</v></c></row>')],
                 shared, styles, names=names)


def array_workbook(path):
    written_xlsx(path, [("配列", None, '<row r="1"><c r="A1"><f t="array" ref="A1:B1">{1,2}</f>'
                                     '<v>1</v></c><c r="B1"><v>2</v></c></row>')], [])


def make(outdir, copies):
    """Writes the documents into outdir; answers a process exit status (0, or 77 when a
    producer is missing)."""
    if not have("openpyxl") or not soffice():
        print("sheet corpus: openpyxl or soffice is missing", file=sys.stderr)
        return 77
    if "--big" in sys.argv:
        return make_big(os.path.join(outdir, "big"))
    with tempfile.TemporaryDirectory() as work:
        sources = []
        for i in range(copies):
            suffix = f"-{i + 1}" if copies > 1 else ""
            rng = random.Random(i)
            path = os.path.join(work, f"business{suffix}.xlsx")
            business_workbook(path, rng, f"鍵語{i + 1}")
            sources.append(path)
        numbers = os.path.join(work, "numbers.xlsx")
        numbers_workbook(numbers)
        calc = os.path.join(work, "calc.fods")
        with open(calc, "w", encoding="utf-8") as out:
            out.write(FODS)
        for path in sources + [numbers]:
            shutil.copy(path, os.path.join(outdir, "op-" + os.path.basename(path)))
        # A macro-enabled workbook is the same package under another name.
        shutil.copy(numbers, os.path.join(outdir, "op-numbers.xlsm"))
        excel_like_workbook(os.path.join(outdir, "xl-names.xlsx"))
        array_workbook(os.path.join(outdir, "xl-array-office.xlsx"))
        if not convert(sources + [numbers, calc], ("xlsx", "ods"), outdir, "lo-"):
            print("sheet corpus: LibreOffice could not convert", file=sys.stderr)
            return 1
    return 0


def make_big(outdir):
    """One sheet of a million cells (100,000 rows of 10 columns), about 50 MB, as a system's
    export writes it: numbers and dates, names and places from pools (shared strings used many
    times), and in every row a remark and a code of random Japanese text written inline."""
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(20)
    kana = [chr(c) for c in range(0x3041, 0x3094)] + [chr(c) for c in range(0x30A1, 0x30F5)]
    kanji = [chr(c) for c in range(0x4E00, 0x9FA0, 7)]

    def words(count):
        return "".join(rng.choice(kanji if rng.random() < 0.6 else kana) for _ in range(count))

    names = [words(4) for _ in range(5000)]
    places = [words(10) for _ in range(20000)]
    shared = [f"<t>{text}</t>" for text in names + places]
    rows = []
    for r in range(1, 100001):
        cells = [f'<c r="A{r}"><v>{r}</v></c>',
                 f'<c r="B{r}"><v>{45000 + rng.randrange(3000)}</v></c>',
                 f'<c r="C{r}" t="s"><v>{rng.randrange(len(names))}</v></c>',
                 f'<c r="D{r}" t="s"><v>{len(names) + rng.randrange(len(places))}</v></c>',
                 f'<c r="E{r}"><v>{rng.randrange(1, 1000)}</v></c>',
                 f'<c r="F{r}"><v>{rng.uniform(0, 1e6)!r}</v></c>',
                 f'<c r="G{r}"><v>{rng.uniform(-1, 1)!r}</v></c>',
                 f'<c r="H{r}" t="inlineStr"><is><t>{words(rng.randrange(130, 190))}</t></is></c>',
                 f'<c r="I{r}"><v>{rng.random()!r}</v></c>',
                 f'<c r="J{r}" t="inlineStr"><is><t>{words(rng.randrange(20, 40))}</t></is></c>']
        rows.append(f'<row r="{r}">{"".join(cells)}</row>')
    written_xlsx(os.path.join(outdir, "big.xlsx"), [("大量", None, "".join(rows))], shared)
    return 0
