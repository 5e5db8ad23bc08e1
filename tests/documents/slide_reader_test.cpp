// The presentation reader's own rules, on packages spelt out here. What a rule expects is what
// Impress was seen to hand out for such a document; the equivalence test checks the same
// against the real office on a corpus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "documents/native_reader.h"
#include "documents/pptx_slides.h"
#include "support/zip_builder.h"

namespace ferretta::documents {
namespace {

using test::ZipEntry;

const std::string kPml =
    R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main")";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string slide(const std::string& shapes, const std::string& attributes = "") {
    return "<p:sld " + kPml + " " + attributes + "><p:cSld><p:spTree><p:nvGrpSpPr/><p:grpSpPr/>" +
           shapes + "</p:spTree></p:cSld></p:sld>";
}

std::string para(const std::string& text) {
    return "<a:p><a:r><a:t>" + text + "</a:t></a:r></a:p>";
}

std::string field(const std::string& type) {
    return "<a:fld id=\"{1}\" type=\"" + type + "\"><a:t>x</a:t></a:fld>";
}

std::string shape(const std::string& body, const std::string& placeholder = "") {
    const std::string nv =
        placeholder.empty() ? "<p:nvPr/>" : "<p:nvPr><p:ph " + placeholder + "/></p:nvPr>";
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"\"/><p:cNvSpPr/>" + nv +
           "</p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/>" + body + "</p:txBody></p:sp>";
}

std::string group(const std::string& members) {
    return "<p:grpSp><p:nvGrpSpPr/><p:grpSpPr/>" + members + "</p:grpSp>";
}

std::string frame(const std::string& uri, const std::string& data = "") {
    return "<p:graphicFrame><p:nvGraphicFramePr/><p:xfrm/><a:graphic><a:graphicData uri=\"" + uri +
           "\">" + data + "</a:graphicData></a:graphic></p:graphicFrame>";
}

// A presentation package of the slides, listed in the order given (the parts are named in the
// reverse order, so that the list and not the names decides).
std::string pptx(const std::vector<std::string>& slides) {
    std::string list;
    std::string relationships;
    std::vector<ZipEntry> entries = {
        {"[Content_Types].xml", "<Types/>"},
        {"_rels/.rels",
         R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
         R"(<Relationship Id="rId1" Type=")" +
             kRel + R"(officeDocument" Target="ppt/presentation.xml"/></Relationships>)"}};
    for (std::size_t i = 0; i < slides.size(); ++i) {
        const std::string number = std::to_string(slides.size() - i);
        list += "<p:sldId r:id=\"rId" + std::to_string(i + 1) + "\"/>";
        relationships += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Type=\"" + kRel +
                         "slide\" Target=\"slides/slide" + number + ".xml\"/>";
        entries.push_back({"ppt/slides/slide" + number + ".xml", slides[i]});
    }
    entries.push_back({"ppt/presentation.xml", "<p:presentation " + kPml + "><p:sldIdLst>" + list +
                                                   "</p:sldIdLst></p:presentation>"});
    entries.push_back({"ppt/_rels/presentation.xml.rels",
                       R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/)"
                       R"(relationships">)" +
                           relationships + "</Relationships>"});
    return test::zipArchive(entries);
}

const std::string kOdfNamespaces =
    R"(xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
    R"(xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" )"
    R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
    R"(xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" )"
    R"(xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0" )"
    R"(xmlns:xlink="http://www.w3.org/1999/xlink")";

// An OpenDocument presentation of the pages (each the XML inside a draw:page).
// An OpenDocument presentation of the content part given.
std::string odpWith(const std::string& content,
                    const std::string& mimetype = "application/vnd.oasis.opendocument.presentation",
                    const std::string& manifestEntry = "") {
    return test::zipArchive(
        {{"mimetype", mimetype, false},
         {"content.xml", content},
         {"Pictures/a.png", "png"},
         {"META-INF/manifest.xml",
          R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:)"
          R"(manifest:1.0">)" +
              manifestEntry + "</manifest:manifest>"}});
}

// The content part of the pages (each the XML inside a draw:page), `head` before the body.
std::string content(const std::vector<std::string>& pages, const std::string& head = "") {
    std::string body;
    for (const std::string& page : pages)
        body += "<draw:page>" + page + "</draw:page>";
    return "<office:document-content " + kOdfNamespaces + ">" + head +
           "<office:body><office:presentation>" + body +
           "</office:presentation></office:body></office:document-content>";
}

std::string odp(const std::vector<std::string>& pages,
                const std::string& mimetype = "application/vnd.oasis.opendocument.presentation",
                const std::string& manifestEntry = "") {
    return odpWith(content(pages), mimetype, manifestEntry);
}

std::string box(const std::string& paragraphs) {
    return "<draw:frame><draw:text-box>" + paragraphs + "</draw:text-box></draw:frame>";
}

class Collect final : public UnitSink {
  public:
    explicit Collect(std::size_t stopAfter = 0) : m_stopAfter(stopAfter) {}
    bool unit(const UnitView& unit) override {
        units.push_back(std::to_string(unit.place) + ":" + std::string(unit.text));
        return m_stopAfter == 0 || units.size() < m_stopAfter;
    }
    std::vector<std::string> units;

  private:
    std::size_t m_stopAfter;
};

struct Read {
    ReadResult result;
    std::vector<std::string> units;
};

Read read(const std::string& bytes, Format format, const ReadLimits& limits = {},
          Kind kind = Kind::PowerPoint) {
    Collect sink;
    Read out{readDocumentBytes(bytes, format, kind, sink, limits), {}};
    out.units = sink.units;
    return out;
}

using Units = std::vector<std::string>;

struct TextCase {
    const char* what;
    std::string document;
    Units expected;
};

void expectUnits(const std::vector<TextCase>& cases, Format format) {
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Read got = read(c.document, format);
        EXPECT_EQ(got.result.status, ReadStatus::Complete) << got.result.reason;
        EXPECT_EQ(got.units, c.expected);
    }
}

struct OfficeCase {
    const char* what;
    std::string document;
    std::string reason;  // a part of the reason given
    ReadLimits limits = {};
};

void expectForOffice(const std::vector<OfficeCase>& cases, Format format) {
    for (const OfficeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Read got = read(c.document, format, c.limits);
        EXPECT_EQ(got.result.status, ReadStatus::ForOffice);
        EXPECT_NE(got.result.reason.find(c.reason), std::string::npos) << got.result.reason;
        EXPECT_TRUE(got.units.empty());
    }
}

const std::string kTable = "http://schemas.openxmlformats.org/drawingml/2006/table";

TEST(SlideReaderTest, pptxShapesGiveTheirTextAsImpressReadsIt) {
    const std::string picture = "<p:pic><p:nvPicPr/><p:blipFill/><p:spPr/></p:pic>";
    expectUnits(
        {
            {"paragraphs and breaks are removed, spaces and escapes kept",
             pptx({slide(shape(para(" 一 ") + "<a:p><a:r><a:t>二</a:t></a:r><a:br/>"
                                              "<a:r><a:t>&#10;三_x000D_\t</a:t></a:r></a:p>"))}),
             {"1: 一 二三_x000D_\t"}},
            {"a shape of line ends only is kept empty, of one empty paragraph not at all",
             pptx({slide(shape("<a:p/><a:p/>") + shape("<a:p><a:br/></a:p>") + shape("<a:p/>") +
                         shape(para("")))}),
             {"1:", "1:"}},
            {"a group's members one level deep; tables and pictures give nothing",
             pptx({slide(group(shape(para("一")) + group(shape(para("入れ子"))) +
                               frame(kTable, "<a:tbl><a:tr><a:tc><a:txBody>" + para("表") +
                                                 "</a:txBody></a:tc></a:tr></a:tbl>") +
                               picture + shape(para("二"))) +
                         picture)}),
             {"1:一", "1:二"}},
            {"footer placeholders that become settings are dropped, text placeholders kept",
             pptx({slide(
                 shape("<a:p>" + field("slidenum") + "</a:p>", "type=\"sldNum\"") +
                 shape("<a:p>" + field("datetime13") + "</a:p>", "type=\"dt\"") +
                 shape(para("社外秘"), "type=\"ftr\"") + shape(para("固定の日付"), "type=\"dt\"") +
                 shape(para("番号"), "type=\"sldNum\"") + shape(para("題"), "type=\"ctrTitle\"") +
                 shape(para("本文"), "idx=\"1\"") + shape("<a:p/>", "type=\"pic\""))}),
             {"1:固定の日付", "1:番号", "1:題", "1:本文"}},
        },
        Format::PresentationML);
}

TEST(SlideReaderTest, pptxConstructsImpressReadsOtherwiseAreLeftToTheOffice) {
    expectForOffice(
        {
            {"a field outside a footer placeholder",
             pptx({slide(shape(para("a"))), slide(shape("<a:p>" + field("slidenum") + "</a:p>"))}),
             "field (slidenum)"},
            {"a slide-number placeholder with more than its field",
             pptx({slide(shape("<a:p>" + field("slidenum") + "<a:r><a:t>枚</a:t></a:r></a:p>",
                               "type=\"sldNum\""))}),
             "field"},
            {"a date that is not one of the date fields",
             pptx({slide(shape("<a:p>" + field("datetime14") + "</a:p>", "type=\"dt\""))}),
             "datetime14"},
            {"text in a picture placeholder", pptx({slide(shape(para("写真"), "type=\"pic\""))}),
             "type pic"},
            {"a placeholder in a group", pptx({slide(group(shape(para("a"), "type=\"body\"")))}),
             "inside a group"},
            {"text on a connector",
             pptx({slide("<p:cxnSp><p:nvCxnSpPr/><p:spPr/><p:txBody>" + para("線") +
                         "</p:txBody></p:cxnSp>")}),
             "connector"},
            {"a NEXT LINE character", pptx({slide(shape(para("a\xC2\x85")))}), "NEXT LINE"},
            {"alternate content among the shapes",
             pptx({slide("<mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/"
                         "markup-compatibility/2006\"/>")}),
             "AlternateContent"},
            {"an element unknown in a paragraph", pptx({slide(shape("<a:p><a:m/></a:p>"))}),
             "the element m"},
            {"a diagram",
             pptx({slide(frame("http://schemas.openxmlformats.org/drawingml/2006/diagram"))}),
             "diagram"},
        },
        Format::PresentationML);
}

TEST(SlideReaderTest, slidesComeInTheOrderOfTheSlideList) {
    const Read got = read(
        pptx({slide(shape(para("最初"))), slide(""), slide(shape(para("隠し")), "show=\"0\"")}),
        Format::PresentationML);
    EXPECT_EQ(got.result.status, ReadStatus::Complete);
    EXPECT_EQ(got.units, (Units{"1:最初", "3:隠し"}));
    EXPECT_EQ(got.result.count, 3);
}

TEST(SlideReaderTest, odpShapesGiveTheirTextAsImpressReadsIt) {
    expectUnits(
        {
            {"white space collapses, none at a paragraph's start; text:s, tab and break kept",
             odp({box("<text:p>  a \n\t b <text:s text:c=\"2\"/> c <text:tab/> d<text:line-break/>"
                      " e <text:span> f</text:span></text:p><text:p> g </text:p>")}),
             {"1:a b    c \t d e fg "}},
            {"a trailing empty paragraph is dropped",
             odp({box("<text:p/><text:p/>") + box("<text:p/><text:p/><text:p/>") +
                  box("<text:p><text:line-break/></text:p>") + box("<text:p> </text:p>")}),
             {"1:", "1:"}},
            {"lists, headings, links; an image's text; a table's none; the first content only",
             odp({box("<text:h>見出し</text:h><text:list><text:list-item><text:p>項目</text:p>"
                      "<text:list><text:list-item><text:p><text:a>深い</text:a></text:p>"
                      "</text:list-item></text:list></text:list-item></text:list>") +
                  "<draw:frame><draw:image xlink:href=\"Pictures/a.png\"><text:p>画像</text:p>"
                  "</draw:image></draw:frame>"
                  "<draw:frame><table:table><table:table-row><table:table-cell><text:p>表"
                  "</text:p></table:table-cell></table:table-row></table:table></draw:frame>"
                  "<draw:frame><draw:text-box><text:p>先</text:p></draw:text-box><draw:text-box/>"
                  "</draw:frame>"}),
             {"1:見出し項目深い", "1:画像", "1:先"}},
            {"groups one level deep, links around shapes, notes",
             odp({"<draw:g><draw:rect><text:p>群</text:p></draw:rect><draw:g><draw:rect><text:p>"
                  "入れ子</text:p></draw:rect></draw:g><draw:a><draw:ellipse><text:p>リンク"
                  "</text:p></draw:ellipse></draw:a></draw:g><presentation:notes>" +
                      box("<text:p>ノート</text:p>") + "</presentation:notes>",
                  ""}),
             {"1:群", "1:リンク"}},
        },
        Format::OdfPresentation);
}

TEST(SlideReaderTest, automaticStylesArePassedOverUnparsedWhereTheirEndIsCertain) {
    const std::string page = box("<text:p>本文</text:p>");
    const auto styles = [&](const std::string& inside, const std::string& end) {
        return odpWith(content({page}, "<office:automatic-styles>" + inside + end));
    };
    const std::string closing = "</office:automatic-styles>";
    const std::string otherPrefix =
        "<o:document-content xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><o:automatic-styles><a>"
        "</b></o:automatic-styles><o:body><o:presentation><draw:page>" +
        page + "</draw:page></o:presentation></o:body></o:document-content>";
    // Passed over: even a malformed style is not noticed (the office would refuse the file).
    expectUnits({{"'>' in an attribute, space in the end tag",
                  styles("<s a=\"x>y/>\"><a></b>", "</office:automatic-styles >"),
                  {"1:本文"}},
                 {"the office namespace under another prefix", odpWith(otherPrefix), {"1:本文"}}},
                Format::OdfPresentation);
    // Parsed: where a comment or an element of the same name could hide the end.
    expectForOffice({{"a comment holding the end tag",
                      styles("<!-- " + closing + " --><a></b>", closing), "mismatched tag"},
                     {"an element of the same name inside",
                      styles("<office:automatic-styles/><a></b>", closing), "mismatched tag"}},
                    Format::OdfPresentation);
}

TEST(SlideReaderTest, odpConstructsImpressReadsOtherwiseAreLeftToTheOffice) {
    expectForOffice(
        {
            {"a page number", odp({box("<text:p><text:page-number>1</text:page-number></text:p>")}),
             "page-number"},
            {"a bookmark", odp({box("<text:p>a<text:bookmark text:name=\"b\"/></text:p>")}),
             "bookmark"},
            {"a measure, which shows its length", odp({"<draw:measure/>"}), "measure"},
            {"text on a connector", odp({"<draw:connector><text:p>線</text:p></draw:connector>"}),
             "connector"},
            {"text on a polygon", odp({"<draw:polygon><text:p>多角形</text:p></draw:polygon>"}),
             "text in p"},
            {"a picture missing from the package",
             odp({"<draw:frame><draw:image xlink:href=\"b.png\"/></draw:frame>"}), "missing"},
            {"an empty list item", odp({box("<text:list><text:list-item/></text:list>")}),
             "empty list item"},
            {"a run of spaces of no length", odp({box("<text:p>a<text:s text:c=\"0\"/></text:p>")}),
             "spaces"},
        },
        Format::OdfPresentation);
}

TEST(SlideReaderTest, documentsOfAnotherKindAreLeftToTheOffice) {
    expectForOffice({{"a text document", odp({}, "application/vnd.oasis.opendocument.text"),
                      "not a presentation"},
                     {"an encrypted one",
                      odp({}, "application/vnd.oasis.opendocument.presentation",
                          "<manifest:file-entry><manifest:encryption-data/></manifest:file-entry>"),
                      "encrypted"}},
                    Format::OdfPresentation);
    // A package whose main part is `main` (p.xml), with no relationships of its own.
    // A package whose main part is `main` (p.xml) with the relationships given, and one slide.
    const auto package = [](const std::string& main, const std::string& relationships = "") {
        const std::string open =
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
            "relationships\">";
        return test::zipArchive({{"[Content_Types].xml", "<Types/>"},
                                 {"_rels/.rels", open + "<Relationship Id=\"1\" Type=\"" + kRel +
                                                     "officeDocument\" Target=\"p.xml\"/>"
                                                     "</Relationships>"},
                                 {"p.xml", main},
                                 {"_rels/p.xml.rels", open + relationships + "</Relationships>"},
                                 {"s.xml", slide(shape(para("a")))}});
    };
    const std::string toSlide =
        "<Relationship Id=\"1\" Type=\"" + kRel + "slide\" Target=\"s.xml\"/>";
    const auto listing = [](const std::string& ids) {
        return "<p:presentation " + kPml + "><p:sldIdLst>" + ids + "</p:sldIdLst></p:presentation>";
    };
    expectForOffice(
        {{"a Word document",
          package("<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/"
                  "2006/main\"/>"),
          "not a presentation"},
         {"a slide missing from the package", package(listing("<p:sldId r:id=\"9\"/>")),
          "not a slide part"},
         {"a slide listed twice",
          package(listing("<p:sldId r:id=\"1\"/><p:sldId r:id=\"1\"/>"), toSlide), "listed twice"},
         {"two relationships of one name",
          package(listing("<p:sldId r:id=\"1\"/>"), toSlide + toSlide), "two relationships"}},
        Format::PresentationML);
    const Read word =
        read(pptx({slide(shape(para("a")))}), Format::PresentationML, {}, Kind::WordNormal);
    EXPECT_EQ(word.result.status, ReadStatus::ForOffice);
}

TEST(SlideReaderTest, hostileDocumentsAreRefusedWithinBounds) {
    const auto limited = [](auto&& set) {
        ReadLimits limits;
        set(limits);
        return limits;
    };
    const std::string good = pptx({slide(shape(para("a")))});
    std::vector<ZipEntry> many;
    for (int i = 0; i < 51; ++i)
        many.push_back({"e" + std::to_string(i), "x"});
    const auto repeated = [](const std::string& piece, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += piece;
        return out;
    };
    const std::string nested = repeated("<p:grpSp>", 100);
    expectForOffice(
        {
            {"a truncated archive", good.substr(0, good.size() / 2), "zip"},
            {"an OLE compound file (an encrypted document)",
             std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(512, '\0'),
             "compound file"},
            {"an empty file", "", "no entry"},
            {"thousands of entries", test::zipArchive(many), "entries",
             limited([](ReadLimits& l) { l.maxEntries = 50; })},
            {"an entry inflating past its bound",
             pptx({slide(shape(para(std::string(2 << 20, 'a'))))}), "bound",
             limited([](ReadLimits& l) { l.maxEntryBytes = 1 << 20; })},
            {"an entry inflating a thousand times its size",
             pptx({slide(shape(para(std::string(2 << 20, ' '))))}), "times its size",
             limited([](ReadLimits& l) { l.ratioFloor = 1 << 20; })},
            {"more text than a document may give",
             pptx({slide(shape(para(std::string(600 << 10, 'a'))) +
                         shape(para(std::string(600 << 10, 'b'))))}),
             "more text", limited([](ReadLimits& l) { l.maxTextBytes = 1 << 20; })},
            {"shapes of line ends only, past the bound of text",
             pptx({slide(repeated(shape("<a:p><a:br/></a:p>"), 100))}), "more text",
             limited([](ReadLimits& l) { l.maxTextBytes = 1000; })},
            {"an entity expansion",
             pptx({"<!DOCTYPE p:sld [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>" +
                   slide(shape(para("&b;")))}),
             "document type"},
            {"an external entity",
             pptx({"<!DOCTYPE p:sld [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" +
                   slide(shape(para("&e;")))}),
             "document type"},
            {"nesting without end", pptx({slide(nested)}), "nested deeper",
             limited([](ReadLimits& l) { l.maxDepth = 64; })},
        },
        Format::PresentationML);
}

TEST(SlideReaderTest, theReaderDecidesBeforeItsFirstUnit) {
    const std::string late =
        pptx({slide(shape(para("一"))), slide(shape("<a:p>" + field("slidenum") + "</a:p>"))});
    Collect all;
    EXPECT_EQ(readDocumentBytes(late, Format::PresentationML, Kind::PowerPoint, all).status,
              ReadStatus::ForOffice);
    EXPECT_TRUE(all.units.empty());

    Collect first(1);
    const ReadResult stopped =
        readDocumentBytes(pptx({slide(shape(para("一")) + shape(para("二")))}),
                          Format::PresentationML, Kind::PowerPoint, first);
    EXPECT_EQ(stopped.status, ReadStatus::Stopped);
    EXPECT_EQ(first.units, (Units{"1:一"}));
}

TEST(SlideReaderTest, relationshipTargetsResolveInsideThePackage) {
    const struct {
        const char* source;
        const char* target;
        const char* part;
    } cases[] = {
        {"ppt/presentation.xml", "slides/slide1.xml", "ppt/slides/slide1.xml"},
        {"ppt/presentation.xml", "/ppt/slides/s.xml", "ppt/slides/s.xml"},
        {"ppt/slides/slide1.xml", "../media/./a.png", "ppt/media/a.png"},
        {"", "ppt/presentation.xml", "ppt/presentation.xml"},
        {"ppt/presentation.xml", "../../outside.xml", ""},
        {"ppt/presentation.xml", "http://example.com/s.xml", ""},
        {"ppt/presentation.xml", "slides/slide%31.xml", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolvePartTarget(c.source, c.target), c.part) << c.source << " " << c.target;
}

}  // namespace
}  // namespace ferretta::documents
