// The workbook reader on archives built here: its own rules (what it hands out, when it leaves
// a workbook to the office) and hostile input. What the office itself yields for real
// producers' workbooks and for the corpus's hand-written ones is the equivalence test's.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "documents/native_reader.h"
#include "support/zip_builder.h"

namespace ferretta::documents {
namespace {

using Entries = test::ZipEntries;
using test::makeZip;

constexpr const char* kMain =
    R"(xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships")";
constexpr const char* kType =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

struct Sheet {
    std::string name;
    std::string data;  // sheetData's content; "chart" for a chart sheet
    std::string state;
};

// A workbook package as Excel writes one, written by `application`.
Entries xlsx(const std::vector<Sheet>& sheets, const std::vector<std::string>& shared = {},
             const std::string& application = "Microsoft Excel") {
    Entries out;
    std::string list;
    std::string relationships;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        const bool chart = sheets[i].data == "chart";
        const std::string part =
            chart ? "chartsheets/sheet" + n + ".xml" : "worksheets/sheet" + n + ".xml";
        list += "<sheet name=\"" + sheets[i].name + "\" sheetId=\"" + n + "\" r:id=\"rId" + n +
                "\"" + (sheets[i].state.empty() ? "" : " state=\"" + sheets[i].state + "\"") + "/>";
        relationships += "<Relationship Id=\"rId" + n + "\" Type=\"" + kType +
                         (chart ? "chartsheet" : "worksheet") + "\" Target=\"" + part + "\"/>";
        out.push_back({"xl/" + part, chart ? "<chartsheet " + std::string(kMain) + "/>"
                                           : "<worksheet " + std::string(kMain) + "><sheetData>" +
                                                 sheets[i].data + "</sheetData></worksheet>"});
    }
    std::string items;
    for (const auto& s : shared)
        items += "<si>" + s + "</si>";
    relationships += std::string("<Relationship Id=\"rS\" Type=\"") + kType +
                     "sharedStrings\" Target=\"sharedStrings.xml\"/>";
    out.push_back({"xl/sharedStrings.xml", "<sst " + std::string(kMain) + ">" + items + "</sst>"});
    out.push_back({"xl/workbook.xml", "<workbook " + std::string(kMain) + "><sheets>" + list +
                                          "</sheets></workbook>"});
    out.push_back({"xl/_rels/workbook.xml.rels",
                   "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                   "relationships\">" +
                       relationships + "</Relationships>"});
    out.push_back({"docProps/app.xml",
                   "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                   "extended-properties\"><Application>" +
                       application + "</Application></Properties>"});
    out.push_back({"_rels/.rels",
                   std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/"
                               "2006/relationships\"><Relationship Id=\"rId1\" Type=\"") +
                       kType + "officeDocument\" Target=\"xl/workbook.xml\"/>" +
                       "<Relationship Id=\"rId2\" Type=\"" + kType +
                       "extended-properties\" Target=\"docProps/app.xml\"/></Relationships>"});
    return out;
}

// An OpenDocument spreadsheet whose office:spreadsheet holds `tables`.
Entries ods(const std::string& tables) {
    return {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
            {"content.xml",
             "<office:document-content "
             "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
             "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
             "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
             "<office:body><office:spreadsheet>" +
                 tables + "</office:spreadsheet></office:body></office:document-content>"}};
}

// What a reading handed out, one line a unit ("sheet,row,column text<TAB>shown"; "?" for a
// shown value the reader could not tell), and how it ended.
struct Reading {
    std::vector<std::string> lines;
    ReadResult result;
};

class LineSink final : public UnitSink {
  public:
    explicit LineSink(std::vector<std::string>& lines, std::size_t stopAfter)
        : m_lines(lines), m_stopAfter(stopAfter) {}
    void sheet(std::string_view name) override { m_lines.push_back("sheet " + std::string(name)); }
    bool unit(const UnitView& u) override {
        std::string line = std::to_string(u.place) + "," + std::to_string(u.row) + "," +
                           std::to_string(u.column) + " " + std::string(u.text);
        if (!u.shownKnown)
            line += "\t?";
        else if (!u.shown.empty())
            line += "\t" + std::string(u.shown);
        m_lines.push_back(line);
        return ++m_units < m_stopAfter;
    }

  private:
    std::vector<std::string>& m_lines;
    std::size_t m_stopAfter;
    std::size_t m_units = 0;
};

Reading read(const std::string& bytes, Format format, const ReadLimits& limits = {},
             std::size_t stopAfter = SIZE_MAX) {
    Reading reading;
    LineSink sink(reading.lines, stopAfter);
    reading.result = readDocumentBytes(bytes, format, Kind::Excel, sink, limits);
    return reading;
}

// What the equivalence corpus's workbooks do not hold: texts that look like a number or a
// formula, a chart sheet and a very hidden one, which keep their places. Phonetic runs, rich
// and inline strings, escapes, shared formulas, errors and booleans are read there by both
// readers and compared, and so is every construct of an OpenDocument spreadsheet.
TEST(SheetReader, SpreadsheetMlAsTheOfficeReadsIt) {
    const Reading reading = read(
        makeZip(xlsx({{"一枚目",
                       R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c t="s"><v>1</v></c></row>)", ""},
                      {"グラフ", "chart", ""},
                      {"隠し", R"(<row r="2"><c r="B2"><v>-7</v></c></row>)", "veryHidden"}},
                     {"<t>123</t>", "<t>=文字</t>"})),
        Format::SpreadsheetML);
    EXPECT_EQ(reading.result.status, ReadStatus::Complete) << reading.result.reason;
    const std::vector<std::string> expected = {
        "sheet 一枚目", "1,1,1 '123", "1,1,2 =文字\t=文字",
        "sheet グラフ", "sheet 隠し", "3,2,2 -7",
    };
    EXPECT_EQ(reading.lines, expected);
}

// A stored value is what the office shows unless the office computes the formula again.
TEST(SheetReader, StoredValuesTheOfficeComputesAgainAreUnknown) {
    const std::string cells = R"(<row r="1"><c r="A1"><v>5</v></c>)"
                              R"(<c r="B1"><f>A1+1</f><v>6</v></c>)"
                              R"(<c r="C1" t="str"><f>A1&amp;"x"</f><v>5x</v></c>)"
                              R"(<c r="D1"><f>1+1</f><v>2</v></c></row>)";
    const auto shownOf = [&](const std::vector<Sheet>& sheets, const std::string& application) {
        const Reading r = read(makeZip(xlsx(sheets, {}, application)), Format::SpreadsheetML);
        EXPECT_EQ(r.result.status, ReadStatus::Complete) << r.result.reason;
        std::string shown;
        for (const auto& line : r.lines)
            shown +=
                line.substr(line.find('\t') == std::string::npos ? line.size() : line.find('\t'));
        return shown;
    };
    EXPECT_EQ(shownOf({{"S", cells, ""}}, "Microsoft Excel"), "\t6\t5x\t2");
    // Texts are computed again for other writers.
    EXPECT_EQ(shownOf({{"S", cells, ""}}, "openpyxl"), "\t6\t?\t2");
    // A volatile function anywhere (here on a later sheet) may change every referring formula.
    EXPECT_EQ(shownOf({{"S", cells, ""},
                       {"T", R"(<row r="1"><c r="A1"><f>TODAY()</f><v>1</v></c></row>)", ""}},
                      "Microsoft Excel"),
              "\t?\t?\t2\t?");
}

TEST(SheetReader, LeavesToTheOfficeWhatItCannotReproduce) {
    const std::pair<const char*, Entries> cases[] = {
        {"cells out of order",
         xlsx({{"S", R"(<row r="2"><c r="B2"><v>1</v></c><c r="A2"><v>2</v></c></row>)", ""}})},
        {"rows out of order",
         xlsx({{"S", R"(<row r="2"><c r="A2"><v>1</v></c></row><row r="1"/>)", ""}})},
        {"a column past the office's last",
         xlsx({{"S", R"(<row r="1"><c r="AMK1"><v>1</v></c></row>)", ""}})},
        {"an array formula",
         xlsx({{"S", R"(<row r="1"><c r="A1"><f t="array" ref="A1">{1}</f><v>1</v></c></row>)",
                ""}})},
        {"a text the office may read as a date of this year",
         xlsx({{"S", R"(<row r="1"><c r="A1" t="inlineStr"><is><t>2/29</t></is></c></row>)", ""}})},
        {"a missing shared string",
         xlsx({{"S", R"(<row r="1"><c r="A1" t="s"><v>9</v></c></row>)", ""}})},
        {"a number the office reads otherwise",
         xlsx({{"S", R"(<row r="1"><c r="A1"><v> 5</v></c></row>)", ""}})},
        {"two sheets of one name (the office renames one)", xlsx({{"表", "", ""}, {"表", "", ""}})},
        {"a sheet name the office drops", xlsx({{"a[1]", "", ""}})},
        {"a formula with a defined name",
         xlsx({{"S", R"(<row r="1"><c r="A1"><f>Rate*2</f></c></row>)", ""}})},
        {"a formula naming a sheet that is not there",
         ods(R"(<table:table table:name="a"><table:table-row><table:table-cell )"
             R"(table:formula="of:=[$b.A1]"/></table:table-row></table:table>)")},
        {"a field in a cell",
         ods(R"(<table:table table:name="a"><table:table-row><table:table-cell )"
             R"(office:value-type="string"><text:p><text:date>x</text:date></text:p>)"
             R"(</table:table-cell></table:table-row></table:table>)")},
    };
    for (const auto& [what, entries] : cases) {
        const Format format =
            entries.front().first == "mimetype" ? Format::OdfSpreadsheet : Format::SpreadsheetML;
        EXPECT_EQ(read(makeZip(entries), format).result.status, ReadStatus::ForOffice) << what;
    }
}

// A sheet part of several megabytes is inflated on a helper thread while it is parsed: every
// cell comes in order, and a stop in the middle ends the helper too.
TEST(SheetReader, LargeSheetsAheadOnAnotherThread) {
    std::string rows;
    for (int r = 1; r <= 60'000; ++r) {
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) +
                "\" t=\"inlineStr\"><is><t>行" + std::to_string(r) + " 全角テキスト、半角ﾃｷｽﾄ" +
                "</t></is></c><c r=\"B" + std::to_string(r) + "\"><v>" + std::to_string(r * 1.5) +
                "</v></c></row>";
    }
    ASSERT_GT(rows.size(), 4u << 20);
    const std::string bytes = makeZip(xlsx({{"S", rows, ""}}));
    const Reading whole = read(bytes, Format::SpreadsheetML);
    EXPECT_EQ(whole.result.status, ReadStatus::Complete) << whole.result.reason;
    ASSERT_EQ(whole.lines.size(), 120'001u);
    EXPECT_EQ(whole.lines[1], "1,1,1 行1 全角テキスト、半角ﾃｷｽﾄ");
    EXPECT_EQ(whole.lines.back(), "1,60000,2 90000");
    EXPECT_EQ(read(bytes, Format::SpreadsheetML, {}, 10).result.status, ReadStatus::Stopped);
}

// Hostile archives end in the office's hands quickly, within bounded memory.
TEST(SheetReader, HostileArchives) {
    ReadLimits small;
    small.ratioFloor = 1 << 20;
    small.maxEntries = 100;
    small.maxDepth = 64;
    small.maxCells = 100'000;
    small.maxBufferedBytes = 1 << 20;
    const std::string valid =
        makeZip(xlsx({{"S", R"(<row r="1"><c r="A1"><v>1</v></c></row>)", ""}}));
    Entries bomb = xlsx({{"S", "", ""}});
    bomb.front().second = "<worksheet " + std::string(kMain) + "><sheetData>" +
                          std::string(8 << 20, ' ') + "</sheetData></worksheet>";
    Entries entities = xlsx({{"S", "", ""}});
    entities.front().second = R"(<!DOCTYPE w [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>)"
                              "<worksheet " +
                              std::string(kMain) +
                              "><sheetData><row><c t=\"inlineStr\">"
                              "<is><t>&b;&b;&b;</t></is></c></row></sheetData></worksheet>";
    Entries external = xlsx({{"S", "", ""}});
    external.front().second = R"(<!DOCTYPE w [<!ENTITY x SYSTEM "file:///etc/passwd">]>)"
                              "<worksheet " +
                              std::string(kMain) +
                              "><sheetData><row><c t=\"inlineStr\">"
                              "<is><t>&x;</t></is></c></row></sheetData></worksheet>";
    Entries deep = xlsx({{"S", "", ""}});
    deep.front().second = "<worksheet " + std::string(kMain) + ">";
    for (int i = 0; i < 100'000; ++i)
        deep.front().second += "<x>";
    Entries many = xlsx({{"S", "", ""}});
    for (int i = 0; i < 3000; ++i)
        many.push_back({"filler/" + std::to_string(i), "x"});
    Entries truncatedXml = xlsx({{"S", R"(<row r="1"><c r="A1"><v>1</v></c></row>)", ""}});
    truncatedXml.front().second.resize(truncatedXml.front().second.size() - 20);
    const std::string repeated = makeZip(
        ods(R"(<table:table table:name="a"><table:table-row table:number-rows-repeated=)"
            R"("1048576"><table:table-cell table:number-columns-repeated="1024" )"
            R"(office:value-type="float" office:value="1"/></table:table-row></table:table>)"));
    std::vector<std::string> manyStrings;
    for (int i = 0; i < 150'000; ++i)
        manyStrings.push_back("<t>" + std::to_string(i * 7919) + "</t>");
    const Entries bigStrings =
        xlsx({{"S", R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row>)", ""}}, manyStrings);
    Entries encrypted = ods("<table:table table:name=\"a\"/>");
    encrypted.push_back({"META-INF/manifest.xml", "<manifest:encryption-data/>"});
    Entries notSpreadsheet = ods("");
    notSpreadsheet.front().second = "application/vnd.oasis.opendocument.text";

    const std::pair<const char*, std::string> xlsxCases[] = {
        {"a zip bomb", makeZip(bomb)},
        {"a zip bomb that claims a small size",
         makeZip(bomb, true, {"xl/worksheets/sheet1.xml", 4096, std::nullopt})},
        {"entity expansion", makeZip(entities)},
        {"an external entity", makeZip(external)},
        {"deep nesting", makeZip(deep)},
        {"thousands of entries", makeZip(many)},
        {"shared strings past the bound", makeZip(bigStrings)},
        {"a truncated archive", valid.substr(0, valid.size() / 2)},
        {"truncated XML", makeZip(truncatedXml)},
        {"an OLE compound file (encrypted Open XML)",
         std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4096, '\0')},
        {"not an archive", "PK\x03\x04 nothing more"},
        {"no workbook", makeZip({{"_rels/.rels", "<Relationships/>"}})},
    };
    for (const auto& [what, bytes] : xlsxCases)
        EXPECT_EQ(read(bytes, Format::SpreadsheetML, small).result.status, ReadStatus::ForOffice)
            << what;
    const std::pair<const char*, std::string> odsCases[] = {
        {"a billion repeated cells", repeated},
        {"an encrypted document", makeZip(encrypted)},
        {"a text document", makeZip(notSpreadsheet)},
    };
    for (const auto& [what, bytes] : odsCases)
        EXPECT_EQ(read(bytes, Format::OdfSpreadsheet, small).result.status, ReadStatus::ForOffice)
            << what;
    EXPECT_EQ(read(valid, Format::SpreadsheetML, small).result.status, ReadStatus::Complete);
}

}  // namespace
}  // namespace ferretta::documents
