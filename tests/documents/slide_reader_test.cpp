// The presentation reader's own rules on packages spelt out here: what it leaves to the office
// and why, hostile input under lowered bounds, slide order, the moment it decides. The text it
// hands out is checked against the real office by the equivalence test.
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
const std::string kRels =
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";

std::string slide(const std::string& shapes, const std::string& attributes = "") {
    return "<p:sld " + kPml + " " + attributes + "><p:cSld><p:spTree>" + shapes +
           "</p:spTree></p:cSld></p:sld>";
}

std::string para(const std::string& text) {
    return "<a:p><a:r><a:t>" + text + "</a:t></a:r></a:p>";
}

std::string field(const std::string& type) {
    return "<a:p><a:fld id=\"{1}\" type=\"" + type + "\"><a:t>x</a:t></a:fld></a:p>";
}

std::string shape(const std::string& body, const std::string& placeholder = "") {
    return "<p:sp><p:nvSpPr><p:nvPr>" + (placeholder.empty() ? "" : "<p:ph " + placeholder + "/>") +
           "</p:nvPr></p:nvSpPr><p:txBody>" + body + "</p:txBody></p:sp>";
}

std::string relationship(const std::string& id, const std::string& type,
                         const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRel + type + "\" Target=\"" + target +
           "\"/>";
}

// A package of the main part p.xml with its relationships, and the parts given.
std::string package(const std::string& main, const std::string& relationships,
                    std::vector<ZipEntry> parts = {}) {
    parts.push_back({"[Content_Types].xml", "<Types/>"});
    parts.push_back(
        {"_rels/.rels", kRels + relationship("1", "officeDocument", "p.xml") + "</Relationships>"});
    parts.push_back({"p.xml", main});
    parts.push_back({"_rels/p.xml.rels", kRels + relationships + "</Relationships>"});
    return test::zipArchive(parts);
}

// A presentation of the slides, listed in the order given; the parts are named the other way
// round, so that the list and not the names decides.
std::string pptx(const std::vector<std::string>& slides) {
    std::string list;
    std::string relationships;
    std::vector<ZipEntry> parts;
    for (std::size_t i = 0; i < slides.size(); ++i) {
        const std::string id = std::to_string(i + 1);
        const std::string part = "s" + std::to_string(slides.size() - i) + ".xml";
        list += "<p:sldId r:id=\"" + id + "\"/>";
        relationships += relationship(id, "slide", part);
        parts.push_back({part, slides[i]});
    }
    return package(
        "<p:presentation " + kPml + "><p:sldIdLst>" + list + "</p:sldIdLst></p:presentation>",
        relationships, parts);
}

// An OpenDocument presentation with the content part given.
std::string odpWith(const std::string& content,
                    const std::string& mimetype = "application/vnd.oasis.opendocument.presentation",
                    const std::string& manifest = "") {
    return test::zipArchive({{"mimetype", mimetype, false},
                             {"content.xml", content},
                             {"Pictures/a.png", "png"},
                             {"META-INF/manifest.xml",
                              "<manifest:manifest xmlns:manifest=\"urn:"
                              "oasis:names:tc:opendocument:xmlns:manifest:"
                              "1.0\">" +
                                  manifest + "</manifest:manifest>"}});
}

// The content part of one page holding `page`, with `head` before the body.
std::string content(const std::string& page, const std::string& head = "") {
    return "<office:document-content "
           "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\">" +
           head + "<office:body><office:presentation><draw:page>" + page +
           "</draw:page></office:presentation></office:body></office:document-content>";
}

std::string odp(const std::string& page) {
    return odpWith(content(page));
}

std::string box(const std::string& paragraphs) {
    return "<draw:frame><draw:text-box>" + paragraphs + "</draw:text-box></draw:frame>";
}

class Collect final : public UnitSink {
  public:
    explicit Collect(std::size_t stopAfter = 0) : m_stopAfter(stopAfter) {}
    bool unit(const UnitView& unit) override {
        units.push_back(std::to_string(unit.place) + ":" + std::string(unit.text));
        return units.size() != m_stopAfter;
    }
    std::vector<std::string> units;

  private:
    std::size_t m_stopAfter;
};

struct OfficeCase {
    const char* what;
    std::string document;
    std::string reason;  // a part of the reason given
    ReadLimits limits = {};
};

void expectForOffice(const std::vector<OfficeCase>& cases, Format format) {
    for (const OfficeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Collect sink;
        const ReadResult result =
            readDocumentBytes(c.document, format, Kind::PowerPoint, sink, c.limits);
        EXPECT_EQ(result.status, ReadStatus::ForOffice);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_TRUE(sink.units.empty());
    }
}

TEST(SlideReaderTest, pptxConstructsImpressReadsOtherwiseGoToTheOffice) {
    const std::string listing = "<p:presentation " + kPml +
                                "><p:sldIdLst><p:sldId r:id=\"1\"/><p:sldId r:id=\"1\"/>"
                                "</p:sldIdLst></p:presentation>";
    const std::string toSlide = relationship("1", "slide", "s.xml");
    expectForOffice(
        {
            {"a field on the last slide",
             pptx({slide(shape(para("a"))), slide(shape(field("slidenum")))}), "field (slidenum)"},
            {"a slide-number placeholder with more than its field",
             pptx({slide(shape(field("slidenum") + para("枚"), "type=\"sldNum\""))}), "field"},
            {"a date placeholder with another field",
             pptx({slide(shape(field("datetime14"), "type=\"dt\""))}), "datetime14"},
            {"text in a picture placeholder", pptx({slide(shape(para("写真"), "type=\"pic\""))}),
             "type pic"},
            {"a placeholder in a group",
             pptx({slide("<p:grpSp>" + shape(para("a"), "type=\"body\"") + "</p:grpSp>")}),
             "inside a group"},
            {"text on a connector",
             pptx({slide("<p:cxnSp><p:txBody>" + para("線") + "</p:txBody></p:cxnSp>")}),
             "connector"},
            {"a NEXT LINE character", pptx({slide(shape(para("a\xC2\x85")))}), "NEXT LINE"},
            {"alternate content among the shapes",
             pptx({slide(
                 "<mc:AlternateContent "
                 "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\"/>")}),
             "AlternateContent"},
            {"an element unknown in a paragraph", pptx({slide(shape("<a:p><a:m/></a:p>"))}),
             "the element m"},
            {"a diagram",
             pptx({slide("<p:graphicFrame><a:graphic><a:graphicData uri=\"http://schemas."
                         "openxmlformats.org/drawingml/2006/diagram\"/></a:graphic>"
                         "</p:graphicFrame>")}),
             "diagram"},
            {"a Word document",
             package("<w:document xmlns:w=\"http://schemas.openxmlformats.org/"
                     "wordprocessingml/2006/main\"/>",
                     ""),
             "not a presentation"},
            {"a slide missing from the package", package(listing, ""), "not a slide part"},
            {"a slide listed twice", package(listing, toSlide, {{"s.xml", slide("")}}),
             "listed twice"},
            {"two relationships of one name", package(listing, toSlide + toSlide),
             "two relationships"},
        },
        Format::PresentationML);
}

TEST(SlideReaderTest, odpConstructsImpressReadsOtherwiseGoToTheOffice) {
    expectForOffice(
        {
            {"a page number", odp(box("<text:p><text:page-number>1</text:page-number></text:p>")),
             "page-number"},
            {"a bookmark", odp(box("<text:p>a<text:bookmark text:name=\"b\"/></text:p>")),
             "bookmark"},
            {"a measure, which shows its length", odp("<draw:measure/>"), "measure"},
            {"text on a connector", odp("<draw:connector><text:p>線</text:p></draw:connector>"),
             "connector"},
            {"text on a polygon", odp("<draw:polygon><text:p>多角形</text:p></draw:polygon>"),
             "text in p"},
            {"a picture missing from the package",
             odp("<draw:frame><draw:image xlink:href=\"b.png\"/></draw:frame>"), "missing"},
            {"an empty list item", odp(box("<text:list><text:list-item/></text:list>")),
             "empty list item"},
            {"a run of spaces of no length", odp(box("<text:p>a<text:s text:c=\"0\"/></text:p>")),
             "spaces"},
            {"a text document", odpWith(content(""), "application/vnd.oasis.opendocument.text"),
             "not a presentation"},
            {"an encrypted one",
             odpWith(content(""), "application/vnd.oasis.opendocument.presentation",
                     "<manifest:encryption-data/>"),
             "encrypted"},
        },
        Format::OdfPresentation);
}

TEST(SlideReaderTest, hostileDocumentsAreRefusedWithinBounds) {
    const auto repeated = [](const std::string& piece, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += piece;
        return out;
    };
    const std::string good = pptx({slide(shape(para("a")))});
    std::vector<ZipEntry> many;
    for (int i = 0; i < 51; ++i)
        many.push_back({"e" + std::to_string(i), "x"});
    expectForOffice(
        {
            {"a truncated archive", good.substr(0, good.size() / 2), "zip"},
            {"an OLE compound file (an encrypted document)",
             std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(512, '\0'),
             "compound file"},
            {"thousands of entries", test::zipArchive(many), "entries",
             ReadLimits{.maxEntries = 50}},
            {"an entry inflating past its bound",
             pptx({slide(shape(para(std::string(2 << 20, 'a'))))}), "bound",
             ReadLimits{.maxEntryBytes = 1 << 20}},
            {"an entry inflating a thousand times its size",
             pptx({slide(shape(para(std::string(2 << 20, ' '))))}), "times its size",
             ReadLimits{.ratioFloor = 1 << 20}},
            {"more text than a document may give",
             pptx({slide(repeated(shape(para(std::string(600 << 10, 'a'))), 2))}), "more text",
             ReadLimits{.maxTextBytes = 1 << 20}},
            {"shapes of line ends only, past the bound of text",
             pptx({slide(repeated(shape("<a:p><a:br/></a:p>"), 100))}), "more text",
             ReadLimits{.maxTextBytes = 1000}},
            {"an entity expansion",
             pptx({"<!DOCTYPE p:sld [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>" +
                   slide(shape(para("&b;")))}),
             "document type"},
            {"an external entity",
             pptx({"<!DOCTYPE p:sld [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" +
                   slide(shape(para("&e;")))}),
             "document type"},
            {"nesting without end", pptx({slide(repeated("<p:grpSp>", 100))}), "nested deeper",
             ReadLimits{.maxDepth = 64}},
        },
        Format::PresentationML);
}

TEST(SlideReaderTest, slidesComeInListOrderAfterTheReaderHasDecided) {
    const std::string deck = pptx({slide(shape(para("一")) + shape(para("二"))), slide(""),
                                   slide(shape(para("隠し")), "show=\"0\"")});
    Collect all;
    const ReadResult read = readDocumentBytes(deck, Format::PresentationML, Kind::PowerPoint, all);
    EXPECT_EQ(read.status, ReadStatus::Complete);
    EXPECT_EQ(all.units, (std::vector<std::string>{"1:一", "1:二", "3:隠し"}));
    EXPECT_EQ(read.count, 3);

    Collect first(1);
    EXPECT_EQ(readDocumentBytes(deck, Format::PresentationML, Kind::PowerPoint, first).status,
              ReadStatus::Stopped);
    EXPECT_EQ(first.units, (std::vector<std::string>{"1:一"}));
    Collect none;
    EXPECT_EQ(readDocumentBytes(deck, Format::PresentationML, Kind::WordNormal, none).status,
              ReadStatus::ForOffice);
}

TEST(SlideReaderTest, automaticStylesArePassedOverUnparsedWhereTheirEndIsCertain) {
    const std::string page = box("<text:p>本文</text:p>");
    const auto styles = [&](const std::string& inside, const std::string& end) {
        return odpWith(content(page, "<office:automatic-styles>" + inside + end));
    };
    const std::string closing = "</office:automatic-styles>";
    const std::string otherPrefix =
        "<o:document-content xmlns:o=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><o:automatic-styles><a>"
        "</b></o:automatic-styles><o:body><o:presentation><draw:page>" +
        page + "</draw:page></o:presentation></o:body></o:document-content>";
    const std::string documents[] = {
        // Passed over, so that even a malformed style is not noticed (the office would refuse
        // the file).
        styles("<s a=\"x>y/>\"><a></b>", "</office:automatic-styles >"),
        odpWith(otherPrefix),
        // Parsed, for a comment or an element of the same name would end the styles too early.
        styles("<!-- " + closing + " -->", closing),
        styles("<office:automatic-styles>" + closing, closing),
    };
    for (const std::string& document : documents) {
        Collect sink;
        EXPECT_EQ(
            readDocumentBytes(document, Format::OdfPresentation, Kind::PowerPoint, sink).status,
            ReadStatus::Complete);
        EXPECT_EQ(sink.units, std::vector<std::string>{"1:本文"});
    }
}

TEST(SlideReaderTest, relationshipTargetsResolveInsideThePackage) {
    const struct {
        const char* source;
        const char* target;
        const char* part;
    } cases[] = {
        {"ppt/presentation.xml", "slides/slide1.xml", "ppt/slides/slide1.xml"},
        {"ppt/slides/slide1.xml", "/ppt/media/../slides/./s.xml", "ppt/slides/s.xml"},
        {"ppt/presentation.xml", "../../outside.xml", ""},
        {"ppt/presentation.xml", "http://example.com/s.xml", ""},
        {"ppt/presentation.xml", "slides/slide%31.xml", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolvePartTarget(c.source, c.target), c.part) << c.source << " " << c.target;
}

}  // namespace
}  // namespace ferretta::documents
