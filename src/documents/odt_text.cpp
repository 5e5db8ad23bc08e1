// OpenDocument text (.odt) as the office reads it: office:text's paragraphs, headings, lists,
// sections and table cells in order, white space collapsed as ODF wants it, deleted text of
// tracked changes at its place, ruby bases without their readings. The office counts drawing
// shapes first (by z-index), then frames (text boxes and pictures, by z-index); a group is one
// shape whose members are not read.
#include <algorithm>
#include <charconv>
#include <map>
#include <memory>

#include "documents/word_content.h"
#include "documents/xml_part.h"

namespace ferretta::documents {
namespace {

constexpr std::string_view kOffice = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kText = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view kTable = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kDraw = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
constexpr std::string_view kStyle = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";

bool isDrawingShape(std::string_view local) {
    return oneOf(local, {"custom-shape", "rect", "ellipse", "circle", "line", "polyline", "polygon",
                         "regular-polygon", "path", "connector", "measure", "caption", "g"});
}

struct Shape {
    bool frame = false;
    std::int64_t z = 0;
    std::string text;
};

// One story being read: the body, a deletion of a tracked change, or a shape's text.
struct Story {
    explicit Story(std::uint64_t maxBytes) : text(maxBytes) {}
    StoryText text;
    std::size_t from = 0;  // the depth of the element that holds it
    std::unique_ptr<Shape> shape;
    std::string changeId;  // a deletion's change
};

// How the office numbers the notes of each class: styles.xml's notes configuration, by default
// footnotes 1, 2, 3 and endnotes i, ii, iii through the whole document. Numbers with a prefix
// or suffix, restarting by chapter or page, or starting elsewhere are not reproduced.
struct NoteNumbering {
    NoteFormat format = NoteFormat::Unknown;
    int count = 0;
};

class NotesConfiguration final : public XmlPartHandler {
  public:
    NotesConfiguration() {
        footnotes.format = NoteFormat::Decimal;
        endnotes.format = NoteFormat::LowerRoman;
    }
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (!name.is(kText, "notes-configuration"))
            return;
        NoteNumbering& notes =
            attributes.value(kText, "note-class") == "endnote" ? endnotes : footnotes;
        const std::string_view format = attributes.value(kStyle, "num-format");
        notes.format = format == "1"   ? NoteFormat::Decimal
                       : format == "i" ? NoteFormat::LowerRoman
                                       : NoteFormat::Unknown;
        const std::string_view start = attributes.value(kText, "start-value");
        const std::string_view restart = attributes.value(kText, "start-numbering-at");
        if ((!start.empty() && start != "0") || (!restart.empty() && restart != "document") ||
            !attributes.value(kStyle, "num-prefix").empty() ||
            !attributes.value(kStyle, "num-suffix").empty()) {
            notes.format = NoteFormat::Unknown;
        }
    }
    NoteNumbering footnotes;
    NoteNumbering endnotes;
};

// A frame or drawing shape being read.
struct Holder {
    std::size_t depth = 0;
    bool frame = false;
    std::unique_ptr<Shape> shape;  // a frame's shape until its text box begins
    int parts = 0;
};

class ContentHandler final : public XmlPartHandler {
  public:
    ContentHandler(WordMode mode, const ReadLimits& limits, const NotesConfiguration& notes)
        : m_mode(mode),
          m_limits(limits),
          m_body(limits.maxTextBytes),
          m_footnotes(notes.footnotes),
          m_endnotes(notes.endnotes) {}

    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (!enter())
            return;
        if (m_textFrom == 0) {
            if (name.is(kOffice, "text"))
                m_textFrom = level();
            return;
        }
        if (m_coveredFrom != 0) {
            refuse("a covered table cell with content");
            return;
        }
        if (!m_holders.empty() && level() == m_holders.back().depth + 1)
            holderChild(name, attributes);
        else if (m_paragraphFrom != 0)
            inlineElement(name, attributes);
        else
            blockElement(name, attributes);
    }

    void endElement(const XmlName& name) override {
        std::size_t depth = 0;
        if (!leave(depth))
            return;
        if (m_textFrom == 0)
            return;
        if (depth == m_textFrom) {
            // The office ends a text that ends with a table with an empty paragraph.
            if (m_lastWasTable)
                m_body.endParagraph();
            m_textFrom = 0;
            return;
        }
        if (depth == m_coveredFrom) {
            m_coveredFrom = 0;
            return;
        }
        if (depth == m_paragraphFrom) {
            m_paragraphFrom = 0;
            m_lastWasTable = false;
            story().endParagraph();
            if (story().overLimit())
                refuse("more text than the bound of a document");
            return;
        }
        bool ended = false;
        if (!m_stories.empty() && depth == m_stories.back()->from) {
            endStory();
            ended = true;
        }
        if (!m_holders.empty() && depth == m_holders.back().depth) {
            endHolder();
            ended = true;
        }
        if (ended)
            return;
        if (name.is(kTable, "table")) {
            m_lastWasTable = true;
        } else if (m_lastWasTable && (name.is(kTable, "table-cell") || name.is(kText, "section"))) {
            refuse("a table cell or section ending with a table");
        }
    }

    void characters(std::string_view text) override {
        if (skipping() || m_paragraphFrom == 0)
            return;
        // White space collapsed: a run of blanks, tabs and line ends is one blank, and none at
        // the start of the paragraph (or after one already written).
        std::string& out = m_scratch;
        out.clear();
        for (const char c : text) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                if (!m_ignoreSpace) {
                    out.push_back(' ');
                    m_ignoreSpace = true;
                }
            } else {
                out.push_back(c);
                m_ignoreSpace = false;
            }
        }
        story().append(out);
        if (story().overLimit())
            refuse("more text than the bound of a document");
    }

    bool metNotes() const { return m_metNotes; }

    // The content read; false when the office's order of the shapes is not known.
    bool take(WordContent& content, std::string& why) && {
        return takeContent(
            std::move(m_body), m_shapes, shapesInOrder(), "two shapes of the same z-index",
            [](const Shape& a, const Shape& b) {
                if (a.frame != b.frame)
                    return !a.frame;
                return a.z < b.z;
            },
            content, why);
    }

    // Two shapes of the same z-index: their order is the office's to choose.
    bool shapesInOrder() const {
        for (std::size_t i = 0; i < m_shapes.size(); ++i) {
            for (std::size_t j = i + 1; j < m_shapes.size(); ++j) {
                if (m_shapes[i].frame == m_shapes[j].frame && m_shapes[i].z == m_shapes[j].z)
                    return false;
            }
        }
        return true;
    }

  private:
    StoryText& story() { return m_stories.empty() ? m_body : m_stories.back()->text; }

    void startParagraph() {
        m_paragraphFrom = level();
        m_ignoreSpace = true;
    }

    void blockElement(const XmlName& name, const XmlAttributes& attributes) {
        if (name.uri == kText) {
            if (name.local == "p" || name.local == "h") {
                startParagraph();
            } else if (oneOf(name.local, {"list", "list-item", "list-header", "numbered-paragraph",
                                          "soft-page-break"})) {
            } else if (name.local == "section") {
                if (attributes.has(kText, "protection-key"))
                    refuse("a protected section");
            } else if (oneOf(name.local, {"sequence-decls", "variable-decls", "user-field-decls",
                                          "dde-connection-decls", "number", "section-source"})) {
                if (name.local == "section-source")
                    refuse("a linked section");
                skipSubtree();
            } else if (name.local == "tracked-changes") {
            } else if (name.local == "changed-region") {
                m_changeId = std::string(attributes.value(kText, "id"));
            } else if (name.local == "deletion") {
                beginStory(nullptr);
                m_stories.back()->changeId = m_changeId;
            } else if (oneOf(name.local, {"insertion", "format-change"})) {
                skipSubtree();
            } else {
                refuse("an element text:" + std::string(name.local));
            }
            return;
        }
        if (name.uri == kTable) {
            if (name.local == "table" && attributes.value(kTable, "is-sub-table") == "true") {
                refuse("a sub-table");
            } else if (oneOf(name.local, {"table", "table-header-rows", "table-rows",
                                          "table-row-group", "table-row", "table-cell"})) {
                if (attributes.has(kTable, "number-rows-spanned") &&
                    attributes.value(kTable, "number-rows-spanned") != "1") {
                    refuse("vertically merged table cells");
                }
            } else if (name.local == "covered-table-cell") {
                // The place of a merged cell's neighbour: nothing for the office, when empty.
                m_coveredFrom = level();
            } else if (oneOf(name.local, {"table-column", "table-columns", "table-column-group",
                                          "table-header-columns", "title", "desc"})) {
                skipSubtree();
            } else {
                refuse("an element table:" + std::string(name.local));
            }
            return;
        }
        if (name.uri == kOffice && oneOf(name.local, {"forms", "change-info"})) {
            skipSubtree();
            return;
        }
        if (name.uri == kDraw) {
            drawElement(name, attributes);
            return;
        }
        refuse("an element " + std::string(name.local) + " in the text");
    }

    void inlineElement(const XmlName& name, const XmlAttributes& attributes) {
        if (name.uri == kText) {
            if (name.local == "s") {
                const std::string_view count = attributes.value(kText, "c");
                std::size_t spaces = 1;
                if (!count.empty()) {
                    const auto parsed =
                        std::from_chars(count.data(), count.data() + count.size(), spaces);
                    if (parsed.ec != std::errc() || spaces > 65535) {
                        refuse("a run of blanks of no known length");
                        return;
                    }
                }
                story().append(std::string(spaces, ' '));
                m_ignoreSpace = false;
                if (story().overLimit())
                    refuse("more text than the bound of a document");
            } else if (name.local == "tab") {
                story().append("\t");
                m_ignoreSpace = false;
            } else if (name.local == "line-break") {
                story().append("\r");
                m_ignoreSpace = false;
            } else if (name.local == "change") {
                const auto found =
                    m_deletions.find(std::string(attributes.value(kText, "change-id")));
                if (found == m_deletions.end())
                    refuse("a tracked change without its text");
                else
                    story().append(found->second);
            } else if (oneOf(name.local, {"span",
                                          "a",
                                          "ruby",
                                          "ruby-base",
                                          "meta",
                                          "bookmark",
                                          "bookmark-start",
                                          "bookmark-end",
                                          "reference-mark",
                                          "reference-mark-start",
                                          "reference-mark-end",
                                          "soft-page-break",
                                          "change-start",
                                          "change-end",
                                          "toc-mark-start",
                                          "toc-mark-end",
                                          "alphabetical-index-mark-start",
                                          "alphabetical-index-mark-end",
                                          "user-index-mark-start",
                                          "user-index-mark-end",
                                          "toc-mark",
                                          "alphabetical-index-mark",
                                          "user-index-mark"})) {
            } else if (name.local == "note") {
                m_metNotes = true;
                NoteNumbering& notes =
                    attributes.value(kText, "note-class") == "endnote" ? m_endnotes : m_footnotes;
                if (!m_stories.empty())
                    refuse("a note outside the body");
                else if (notes.format == NoteFormat::Unknown)
                    refuse("notes numbered in a way not read here");
                else
                    story().append(noteNumber(++notes.count, notes.format));
            } else if (name.local == "note-citation") {
                // The office shows its own number, unless the note has a label of its own.
                if (attributes.has(kText, "label"))
                    refuse("a note with a mark of its own");
                skipSubtree();
            } else if (oneOf(name.local, {"ruby-text", "number", "note-body"})) {
                // A ruby's reading, a list number and a note's text are not in the main text.
                skipSubtree();
            } else {
                refuse("an element text:" + std::string(name.local) + " in a paragraph");
            }
            return;
        }
        if (name.uri == kOffice && oneOf(name.local, {"annotation", "annotation-end"})) {
            skipSubtree();
            return;
        }
        if (name.uri == kDraw) {
            drawElement(name, attributes);
            return;
        }
        refuse("an element " + std::string(name.local) + " in a paragraph");
    }

    // A frame or drawing shape, anchored in a paragraph or to the page. In fast mode none is
    // read: nothing of it is in the main text.
    void drawElement(const XmlName& name, const XmlAttributes& attributes) {
        if (m_mode == WordMode::Fast) {
            skipSubtree();
            return;
        }
        if (!m_stories.empty() && !m_stories.back()->shape) {
            refuse("a shape in deleted text");
            return;
        }
        std::int64_t z = 0;
        const std::string_view zText = attributes.value(kDraw, "z-index");
        const auto parsed = std::from_chars(zText.data(), zText.data() + zText.size(), z);
        if (zText.empty() || parsed.ec != std::errc() ||
            parsed.ptr != zText.data() + zText.size()) {
            refuse("a shape without its z-index");
            return;
        }
        auto shape = std::make_unique<Shape>();
        shape->z = z;
        if (name.local == "frame") {
            shape->frame = true;
            m_holders.push_back({level(), true, std::move(shape), 0});
            return;
        }
        if (!isDrawingShape(name.local)) {
            refuse("a drawing object draw:" + std::string(name.local));
            return;
        }
        if (name.local == "g") {
            // One shape for the office; the members' texts are not read.
            m_shapes.push_back(std::move(*shape));
            skipSubtree();
            return;
        }
        // A drawing shape's paragraphs are its text.
        beginStory(std::move(shape));
        m_holders.push_back({level(), false, nullptr, 0});
    }

    // A direct child of a frame (its text box or picture) or of a drawing shape (its
    // paragraphs; the geometry and titles are not text).
    void holderChild(const XmlName& name, const XmlAttributes& attributes) {
        Holder& holder = m_holders.back();
        if (!holder.frame) {
            if (name.uri == kText &&
                (name.local == "p" || name.local == "h" || name.local == "list"))
                blockElement(name, attributes);
            else
                skipSubtree();
            return;
        }
        if (name.uri == kDraw && (name.local == "text-box" || name.local == "image")) {
            if (++holder.parts != 1) {
                refuse("a frame of several contents");
                return;
            }
            if (name.local == "image") {
                skipSubtree();
                return;
            }
            beginStory(std::move(holder.shape));
            return;
        }
        if (name.uri == kDraw &&
            oneOf(name.local, {"object", "object-ole", "plugin", "applet", "floating-frame"})) {
            refuse("a frame holding draw:" + std::string(name.local));
            return;
        }
        skipSubtree();
    }

    void endHolder() {
        Holder holder = std::move(m_holders.back());
        m_holders.pop_back();
        if (!holder.frame)
            return;
        if (holder.parts != 1)
            refuse("an empty frame");
        else if (holder.shape)  // a picture
            m_shapes.push_back(std::move(*holder.shape));
    }

    void beginStory(std::unique_ptr<Shape> shape) {
        auto story = std::make_unique<Story>(m_limits.maxTextBytes);
        story->from = level();
        story->shape = std::move(shape);
        m_stories.push_back(std::move(story));
        m_savedParagraph.push_back(m_paragraphFrom);
        m_savedSpace.push_back(m_ignoreSpace);
        m_paragraphFrom = 0;
        m_lastWasTable = false;
    }

    void endStory() {
        std::unique_ptr<Story> done = std::move(m_stories.back());
        m_stories.pop_back();
        m_paragraphFrom = m_savedParagraph.back();
        m_savedParagraph.pop_back();
        m_ignoreSpace = m_savedSpace.back();
        m_savedSpace.pop_back();
        if (m_lastWasTable)
            refuse("a text box ending with a table");
        m_lastWasTable = false;
        if (done->shape) {
            done->shape->text = std::move(done->text).asShape();
            m_shapes.push_back(std::move(*done->shape));
            return;
        }
        if (done->text.paragraphs() > 1) {
            refuse("a deletion of several paragraphs");
            return;
        }
        m_deletions[done->changeId] = std::move(done->text).asShape();
    }

    WordMode m_mode;
    ReadLimits m_limits;
    StoryText m_body;
    std::vector<std::unique_ptr<Story>> m_stories;
    std::vector<std::size_t> m_savedParagraph;
    std::vector<bool> m_savedSpace;
    std::vector<Shape> m_shapes;
    std::vector<Holder> m_holders;
    NoteNumbering m_footnotes;
    NoteNumbering m_endnotes;
    std::map<std::string, std::string> m_deletions;
    std::string m_changeId;
    std::string m_scratch;
    std::size_t m_textFrom = 0;
    std::size_t m_paragraphFrom = 0;
    std::size_t m_coveredFrom = 0;
    bool m_metNotes = false;
    bool m_ignoreSpace = true;
    bool m_lastWasTable = false;
};

}  // namespace

bool readOdfText(ZipArchive& archive, WordMode mode, const ReadLimits& limits, WordContent& content,
                 std::string& why) {
    return readWithNotes<NotesConfiguration>(
        archive, "content.xml", "styles.xml", limits,
        [&](const NotesConfiguration& notes) {
            return std::make_unique<ContentHandler>(mode, limits, notes);
        },
        content, why);
}

}  // namespace ferretta::documents
