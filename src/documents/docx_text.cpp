// WordprocessingML (.docx .docm) as the office reads it: the main document part's paragraphs
// and table cells in order, run text with deleted text kept (the office shows tracked changes),
// ruby bases without their readings; text boxes ordered as the office orders its draw page
// (anchored ones by relativeHeight, later ones first among equals).
#include <algorithm>
#include <array>
#include <charconv>
#include <memory>

#include "documents/word_content.h"
#include "documents/xml_part.h"

namespace ferretta::documents {
namespace {

constexpr std::string_view kW = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr std::string_view kWp =
    "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
constexpr std::string_view kWps =
    "http://schemas.microsoft.com/office/word/2010/wordprocessingShape";
constexpr std::string_view kWpg =
    "http://schemas.microsoft.com/office/word/2010/wordprocessingGroup";
constexpr std::string_view kPic = "http://schemas.openxmlformats.org/drawingml/2006/picture";
constexpr std::string_view kMc = "http://schemas.openxmlformats.org/markup-compatibility/2006";
constexpr std::string_view kRelationships =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";

// The main document part named by the package relationships.
class PackageRelationships final : public XmlPartHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (name.is(kRelationships, "Relationship") && m_target.empty() &&
            attributes.value({}, "Type") == kOfficeDocument) {
            m_target = attributes.value({}, "Target");
        }
    }
    std::string m_target;
};

// Drawings in a header, footer or note: they join the body's shapes in an order not known here.
class DrawingFinder final : public XmlPartHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& /*attributes*/) override {
        if (name.uri == kW && oneOf(name.local, {"drawing", "pict", "object"}))
            refuse("a drawing outside the body");
    }
};

struct Shape {
    bool inlined = false;
    std::int64_t relativeHeight = 0;
    std::size_t order = 0;
    std::string text;
};

// How notes are numbered: the document's settings, which a section may only repeat. Numbers
// restarting by section or page, or starting elsewhere than 1, are not reproduced.
struct NoteNumbering {
    NoteFormat format = NoteFormat::Unknown;
    int count = 0;

    bool setting(std::string_view name, std::string_view value, std::string& why) {
        if (name == "numStart" && value != "1") {
            why = "notes starting at " + std::string(value);
            return false;
        }
        if (name == "numRestart" && value != "continuous") {
            why = "notes restarting by " + std::string(value);
            return false;
        }
        if (name != "numFmt")
            return true;
        const NoteFormat given = value == "decimal"      ? NoteFormat::Decimal
                                 : value == "lowerRoman" ? NoteFormat::LowerRoman
                                                         : NoteFormat::Unknown;
        if (given == NoteFormat::Unknown || (format != NoteFormat::Unknown && given != format)) {
            why = "notes numbered as " + std::string(value);
            return false;
        }
        format = given;
        return true;
    }
};

// The note settings of the document (settings.xml).
class NoteSettings final : public XmlPartHandler {
  public:
    NoteSettings() { footnotes.format = NoteFormat::Decimal; }
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (name.uri != kW)
            return;
        if (name.local == "footnotePr" || name.local == "endnotePr") {
            m_current = name.local == "footnotePr" ? &footnotes : &endnotes;
        } else if (m_current != nullptr &&
                   oneOf(name.local, {"numFmt", "numStart", "numRestart"})) {
            std::string why;
            if (!m_current->setting(name.local, attributes.value(kW, "val"), why))
                refuse(why);
        }
    }
    void endElement(const XmlName& name) override {
        if (name.uri == kW && (name.local == "footnotePr" || name.local == "endnotePr"))
            m_current = nullptr;
    }
    NoteNumbering footnotes;  // decimal unless the settings say otherwise
    NoteNumbering endnotes;   // only as the settings say

  private:
    NoteNumbering* m_current = nullptr;
};

struct Drawing {
    Shape shape;
    std::size_t from = 0;   // the depth of its w:drawing
    std::size_t parts = 0;  // text boxes and pictures met in it
    std::unique_ptr<StoryText> box;
    std::size_t boxFrom = 0;
    // The paragraph it is anchored in, as it was when the text box began.
    std::array<bool, 3> outerParagraph{};
};

class BodyHandler final : public XmlPartHandler {
  public:
    BodyHandler(WordMode mode, const ReadLimits& limits, const NoteNumbering& footnotes,
                const NoteNumbering& endnotes)
        : m_mode(mode),
          m_limits(limits),
          m_body(limits.maxTextBytes),
          m_footnotes(footnotes),
          m_endnotes(endnotes) {}

    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (!enter())
            return;
        if (m_propertiesFrom != 0) {
            properties(name, attributes);
            return;
        }
        if (name.uri == kMc) {
            alternateContent(name, attributes);
            return;
        }
        if (inDrawingMarkup())
            drawing(name, attributes);
        else if (name.uri == kW)
            wordElement(name, attributes);
        else if (m_inBody)
            refuse("an element " + std::string(name.local) + " of another namespace");
    }

    void endElement(const XmlName& name) override {
        std::size_t depth = 0;
        if (!leave(depth))
            return;
        if (m_propertiesFrom != 0) {
            if (depth == m_propertiesFrom)
                m_propertiesFrom = 0;
            return;
        }
        if (!m_drawings.empty()) {
            Drawing& top = *m_drawings.back();
            if (top.box && depth == top.boxFrom) {
                endTextBox();
                return;
            }
            if (!top.box) {
                if (depth == top.from)
                    endDrawing();
                return;
            }
        }
        if (name.uri != kW)
            return;
        if (name.local == "p") {
            endParagraph();
        } else if (name.local == "t" || name.local == "delText") {
            m_capturing = false;
        } else if (name.local == "instrText") {
            m_instruction = false;
        } else if (name.local == "body") {
            m_inBody = false;
        } else if (name.local == "tc") {
            // A cell must end with a paragraph; a cell ending with a table is made up by the
            // office in a way not reproduced here.
            if (m_lastWasTable)
                refuse("a table cell ending with a table");
        } else if (name.local == "tbl") {
            m_lastWasTable = true;
            return;
        }
        if (name.local == "p")
            m_lastWasTable = false;
    }

    void characters(std::string_view text) override {
        if (skipping() || m_propertiesFrom != 0)
            return;
        if (m_instruction) {
            m_fieldInstruction.append(text);
            return;
        }
        if (!m_capturing)
            return;
        if (text.find_first_of("\r\n") != std::string_view::npos) {
            refuse("a line end inside run text");
            return;
        }
        content(text);
    }

    // Where inline objects (pictures in the text) fall among anchored ones on the office's draw
    // page is not known here; it matters only when a shape has text.
    bool shapesInOrder() const {
        const bool anyInline = std::any_of(m_shapes.begin(), m_shapes.end(),
                                           [](const Shape& shape) { return shape.inlined; });
        const bool anyText = std::any_of(m_shapes.begin(), m_shapes.end(),
                                         [](const Shape& shape) { return !shape.text.empty(); });
        return m_shapes.size() < 2 || !anyInline || !anyText;
    }

    bool metNotes() const { return m_metNotes; }

    // The content read; false when the office's order of the shapes is not known.
    bool take(WordContent& content, std::string& why) && {
        return takeContent(
            std::move(m_body), m_shapes, shapesInOrder(),
            "pictures in the text beside shapes with text",
            [](const Shape& a, const Shape& b) {
                if (a.inlined != b.inlined)
                    return a.inlined;
                if (a.inlined)
                    return a.order < b.order;
                if (a.relativeHeight != b.relativeHeight)
                    return a.relativeHeight < b.relativeHeight;
                return a.order > b.order;
            },
            content, why);
    }

  private:
    StoryText& story() {
        return !m_drawings.empty() && m_drawings.back()->box ? *m_drawings.back()->box : m_body;
    }
    bool inTextBox() const { return !m_drawings.empty(); }
    // Inside a drawing but not in its text box's paragraphs.
    bool inDrawingMarkup() const { return !m_drawings.empty() && !m_drawings.back()->box; }

    // Text, tabs and line breaks of the current paragraph.
    void content(std::string_view text) {
        if (m_splitPending) {
            // A page or column break after text ends the paragraph there when more follows.
            story().endParagraph();
            m_splitPending = false;
        }
        story().append(text);
        m_paragraphHasContent = true;
        if (story().overLimit())
            refuse("more text than the bound of a document");
    }

    void endParagraph() {
        if (m_fieldDepth != 0) {
            refuse("a field across paragraphs");
            return;
        }
        const bool emptySectionBreak = m_sectionBreak && !m_paragraphHasContent;
        m_splitPending = false;
        m_paragraphHasContent = false;
        m_sectionBreak = false;
        // An empty paragraph that only carries a section break is not one for the office.
        if (!emptySectionBreak || inTextBox())
            story().endParagraph();
    }

    void properties(const XmlName& name, const XmlAttributes& attributes) {
        if (name.uri != kW)
            return;
        if (name.local == "footnotePr" || name.local == "endnotePr") {
            m_notes = name.local == "footnotePr" ? &m_footnotes : &m_endnotes;
            return;
        }
        if (m_notes != nullptr && oneOf(name.local, {"numFmt", "numStart", "numRestart"})) {
            std::string why;
            if (!m_notes->setting(name.local, attributes.value(kW, "val"), why))
                refuse(why);
            return;
        }
        if (name.local == "framePr")
            refuse("a frame made of paragraph properties");
        else if (name.local == "vMerge")
            refuse("vertically merged table cells");
        else if (name.local == "sectPr" && m_propertiesOfParagraph)
            m_sectionBreak = true;
    }

    void wordElement(const XmlName& name, const XmlAttributes& attributes) {
        const std::string_view local = name.local;
        if (local == "body") {
            m_inBody = true;
            return;
        }
        if (!m_inBody)
            return;
        if (oneOf(local, {"pPr", "rPr", "tblPr", "trPr", "tcPr", "sectPr", "tblGrid", "tblPrEx",
                          "sdtEndPr", "rubyPr"})) {
            m_propertiesFrom = level();
            m_propertiesOfParagraph = local == "pPr";
            m_notes = nullptr;
            return;
        }
        if (oneOf(local, {"sdtPr", "rt"})) {
            // A content control's settings; a ruby's reading, which the office does not read
            // into the text.
            skipSubtree();
            return;
        }
        if (local == "t" || local == "delText") {
            m_capturing = !fieldInstructionPending();
            if (!m_capturing)
                refuse("field text before the field's result");
            return;
        }
        if (local == "tab" || local == "noBreakHyphen" || local == "softHyphen") {
            content(local == "tab" ? "\t" : local == "noBreakHyphen" ? "\u2011" : "\u00AD");
            return;
        }
        if (local == "br") {
            lineBreak(attributes.value(kW, "type"));
            return;
        }
        if (local == "footnoteReference" || local == "endnoteReference") {
            m_metNotes = true;
            NoteNumbering& notes = local == "footnoteReference" ? m_footnotes : m_endnotes;
            if (attributes.value(kW, "customMarkFollows") == "1" ||
                attributes.value(kW, "customMarkFollows") == "true") {
                refuse("a note with a mark of its own");
            } else if (inTextBox()) {
                refuse("a note in a text box");
            } else if (notes.format == NoteFormat::Unknown) {
                refuse("notes numbered in a format not read here");
            } else {
                content(noteNumber(++notes.count, notes.format));
            }
            return;
        }
        if (local == "fldChar") {
            fieldCharacter(attributes.value(kW, "fldCharType"));
            return;
        }
        if (local == "instrText") {
            if (m_fieldDepth == 0 || m_fieldSeparated)
                refuse("a field instruction outside a field");
            m_instruction = true;
            return;
        }
        if (local == "drawing" || local == "pict" || local == "object") {
            if (m_mode == WordMode::Fast) {
                // The main text holds nothing of an object anchored in it.
                skipSubtree();
                return;
            }
            if (local != "drawing") {
                refuse("a " + std::string(local) + " object");
                return;
            }
            auto drawing = std::make_unique<Drawing>();
            drawing->shape.order = m_drawingCount++;
            drawing->from = level();
            m_drawings.push_back(std::move(drawing));
            return;
        }
        if (local == "p") {
            m_paragraphHasContent = false;
            m_splitPending = false;
            m_sectionBreak = false;
            return;
        }
        if (oneOf(local, {"tbl",
                          "tr",
                          "tc",
                          "r",
                          "hyperlink",
                          "ins",
                          "del",
                          "moveFrom",
                          "moveTo",
                          "smartTag",
                          "customXml",
                          "sdt",
                          "sdtContent",
                          "ruby",
                          "rubyBase",
                          "txbxContent",
                          "bookmarkStart",
                          "bookmarkEnd",
                          "commentRangeStart",
                          "commentRangeEnd",
                          "commentReference",
                          "proofErr",
                          "permStart",
                          "permEnd",
                          "lastRenderedPageBreak",
                          "moveFromRangeStart",
                          "moveFromRangeEnd",
                          "moveToRangeStart",
                          "moveToRangeEnd",
                          "bdo",
                          "dir",
                          "customXmlInsRangeStart",
                          "customXmlInsRangeEnd",
                          "customXmlDelRangeStart",
                          "customXmlDelRangeEnd"})) {
            return;
        }
        refuse("an element " + std::string(local));
    }

    bool fieldInstructionPending() const { return m_fieldDepth != 0 && !m_fieldSeparated; }

    void lineBreak(std::string_view type) {
        if (type.empty() || type == "textWrapping") {
            content("\r");
            return;
        }
        if (type != "page" && type != "column") {
            refuse("a break of type " + std::string(type));
            return;
        }
        if (inTextBox()) {
            refuse("a page break in a text box");
            return;
        }
        // At the start of a paragraph the break is the paragraph's; after text it splits the
        // paragraph, unless nothing follows.
        if (m_paragraphHasContent)
            m_splitPending = true;
    }

    // Complex fields: only a hyperlink is read (its result is the text the office shows);
    // other fields show what the office computes (page numbers, dates, references).
    void fieldCharacter(std::string_view type) {
        if (type == "begin") {
            if (m_fieldDepth != 0) {
                refuse("a field inside a field");
                return;
            }
            m_fieldDepth = 1;
            m_fieldSeparated = false;
            m_fieldInstruction.clear();
        } else if (type == "separate") {
            if (m_fieldDepth == 0 || m_fieldSeparated) {
                refuse("a field separator outside a field");
                return;
            }
            m_fieldSeparated = true;
            const std::size_t start = m_fieldInstruction.find_first_not_of(' ');
            const std::string_view instruction =
                start == std::string::npos ? std::string_view()
                                           : std::string_view(m_fieldInstruction).substr(start);
            if (instruction.substr(0, 10) != "HYPERLINK ")
                refuse("a field (" + std::string(instruction.substr(0, 40)) + ")");
        } else if (type == "end") {
            if (m_fieldDepth == 0 || !m_fieldSeparated) {
                refuse("a field without a result");
                return;
            }
            m_fieldDepth = 0;
        } else {
            refuse("a field character of type " + std::string(type));
        }
    }

    void alternateContent(const XmlName& name, const XmlAttributes& attributes) {
        if (name.local == "AlternateContent") {
            if (!m_inBody)
                refuse("alternate content outside a run");
            return;
        }
        if (name.local == "Choice") {
            // Text boxes of Word 2010 and later; the office reads the choice, not the
            // fallback (the same box as VML).
            const std::string_view needs = attributes.value({}, "Requires");
            if (m_mode == WordMode::Fast && oneOf(needs, {"wps", "wpg", "wpc"}))
                skipSubtree();  // a drawing: nothing of it is in the main text
            else if (needs != "wps" && needs != "wpg")
                refuse("alternate content for " + std::string(needs));
            return;
        }
        if (name.local == "Fallback") {
            skipSubtree();
            return;
        }
        refuse("markup compatibility element " + std::string(name.local));
    }

    // Inside w:drawing (normal mode): an inline or anchored text box or picture.
    void drawing(const XmlName& name, const XmlAttributes& attributes) {
        Drawing& current = *m_drawings.back();
        Shape& shape = current.shape;
        if (name.uri == kWp && name.local == "inline") {
            shape.inlined = true;
        } else if (name.uri == kWp && name.local == "anchor") {
            const std::string_view height = attributes.value({}, "relativeHeight");
            const auto parsed =
                std::from_chars(height.data(), height.data() + height.size(), shape.relativeHeight);
            if (height.empty() || parsed.ec != std::errc() ||
                parsed.ptr != height.data() + height.size()) {
                refuse("an anchored drawing without its height");
            }
        } else if (name.uri == kWps && name.local == "wsp") {
            ++current.parts;
        } else if ((name.uri == kPic && name.local == "pic") ||
                   (name.uri == kWpg && name.local == "wgp")) {
            // A picture, or a group: one shape without text for the office, whose members'
            // texts are not read.
            ++current.parts;
            skipSubtree();
        } else if (name.uri == kWps && name.local == "txbx") {
            current.box = std::make_unique<StoryText>(m_limits.maxTextBytes);
            current.boxFrom = level();
            current.outerParagraph = {m_paragraphHasContent, m_splitPending, m_sectionBreak};
        } else if (name.uri == kWps && name.local == "linkedTxbx") {
            refuse("a linked text box");
        } else if (name.uri == kWp || name.uri == kWps) {
            if (!oneOf(name.local, {"simplePos",
                                    "positionH",
                                    "positionV",
                                    "posOffset",
                                    "align",
                                    "extent",
                                    "effectExtent",
                                    "wrapNone",
                                    "wrapSquare",
                                    "wrapTopAndBottom",
                                    "wrapTight",
                                    "wrapThrough",
                                    "wrapPolygon",
                                    "start",
                                    "lineTo",
                                    "docPr",
                                    "cNvGraphicFramePr",
                                    "cNvSpPr",
                                    "cNvCnPr",
                                    "cNvPr",
                                    "spPr",
                                    "style",
                                    "bodyPr"})) {
                refuse("a drawing element " + std::string(name.local));
            }
        } else if (name.local == "graphicData") {
            const std::string_view uri = attributes.value({}, "uri");
            if (uri != kWps && uri != kPic && uri != kWpg)
                refuse("a drawing of another kind");
        }
    }

    void endDrawing() {
        Drawing& done = *m_drawings.back();
        if (done.parts != 1)
            refuse("a drawing that is not one text box or picture");
        m_shapes.push_back(std::move(done.shape));
        m_drawings.pop_back();
    }

    void endTextBox() {
        Drawing& current = *m_drawings.back();
        current.shape.text = std::move(*current.box).asShape();
        current.box.reset();
        m_paragraphHasContent = current.outerParagraph[0];
        m_splitPending = current.outerParagraph[1];
        m_sectionBreak = current.outerParagraph[2];
    }

    WordMode m_mode;
    ReadLimits m_limits;
    StoryText m_body;
    // The drawings being read, the innermost last (a text box may hold drawings itself).
    std::vector<std::unique_ptr<Drawing>> m_drawings;
    std::size_t m_drawingCount = 0;
    std::vector<Shape> m_shapes;
    std::size_t m_propertiesFrom = 0;
    bool m_inBody = false;
    bool m_capturing = false;
    bool m_instruction = false;
    bool m_paragraphHasContent = false;
    bool m_splitPending = false;
    bool m_lastWasTable = false;
    bool m_propertiesOfParagraph = false;
    bool m_sectionBreak = false;
    NoteNumbering m_footnotes;
    NoteNumbering m_endnotes;
    NoteNumbering* m_notes = nullptr;  // the note properties being read
    bool m_metNotes = false;
    int m_fieldDepth = 0;
    bool m_fieldSeparated = false;
    std::string m_fieldInstruction;
};

}  // namespace

bool readWordprocessingMl(ZipArchive& archive, WordMode mode, const ReadLimits& limits,
                          WordContent& content, std::string& why) {
    PackageRelationships relationships;
    if (!parsePart(archive, "_rels/.rels", relationships, limits, why))
        return false;
    std::string main = relationships.m_target;
    if (!main.empty() && main.front() == '/')
        main.erase(0, 1);
    if (main.empty() || main.find("..") != std::string::npos) {
        why = "no main document part";
        return false;
    }
    const std::string folder = main.substr(0, main.rfind('/') + 1);
    if (mode == WordMode::Normal) {
        for (const std::string_view entry : archive.names()) {
            if (entry.compare(0, folder.size(), folder) != 0 || entry == main)
                continue;
            const std::string_view leaf = entry.substr(folder.size());
            const bool story = leaf.starts_with("header") || leaf.starts_with("footer") ||
                               leaf == "footnotes.xml" || leaf == "endnotes.xml" ||
                               leaf == "comments.xml";
            if (!story || !leaf.ends_with(".xml"))
                continue;
            DrawingFinder finder;
            if (!parsePart(archive, entry, finder, limits, why))
                return false;
        }
    }
    return readWithNotes<NoteSettings>(
        archive, main, folder + "settings.xml", limits,
        [&](const NoteSettings& notes) {
            return std::make_unique<BodyHandler>(mode, limits, notes.footnotes, notes.endnotes);
        },
        content, why);
}

}  // namespace ferretta::documents
