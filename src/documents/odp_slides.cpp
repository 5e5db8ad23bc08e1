// OpenDocument presentations, read as Impress imports them (learnt by experiment on documents
// made to show one construct each):
// - every draw:page is a slide, hidden ones included; notes, masters and comments are not;
// - rectangles, ellipses, circles, custom shapes, lines and polylines hold their paragraphs;
//   a frame holds the text of its first content (a text box, or the paragraphs of an image),
//   nothing for a table or an object, and passes over the rest; draw:a around a shape is no
//   shape of its own; a group has no text of its own, its members are read, a group among
//   them not entered;
// - white space as the text import handles it: a run of spaces, tabs and line ends in the XML
//   is one space, none at a paragraph's start; text:s, text:tab and text:line-break are kept
//   as they are and end such a run;
// - paragraphs are joined by line ends, and a trailing empty paragraph is dropped (so two
//   empty paragraphs make no text, three make one line end).
// Fields (page numbers, dates, names) show what the view and the day give them; bookmarks
// and notes keep Impress from opening the file, and so does a picture missing from the
// package; polygons, paths and captions show their text otherwise or not at all, a measure
// shows its length, a connector's text depends on its geometry: a document holding any of
// these, or anything not named here, goes to the office.
#include "documents/odp_slides.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "documents/part_parser.h"

namespace ferretta::documents {
namespace {

constexpr std::string_view kOffice = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kDraw = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
constexpr std::string_view kText = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view kTable = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kPresentation = "urn:oasis:names:tc:opendocument:xmlns:presentation:1.0";
constexpr std::string_view kSvg = "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0";
constexpr std::string_view kDr3d = "urn:oasis:names:tc:opendocument:xmlns:dr3d:1.0";
constexpr std::string_view kAnimation = "urn:oasis:names:tc:opendocument:xmlns:animation:1.0";
constexpr std::string_view kXlink = "http://www.w3.org/1999/xlink";
constexpr std::string_view kManifest = "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";
constexpr std::string_view kPresentationMime = "application/vnd.oasis.opendocument.presentation";

// The longest run of text:s spaces read here; Impress reads more, a document wanting more is
// left to it.
constexpr int kMaxSpaces = 9999;

// A content part up to this size is read into memory whole.
constexpr std::size_t kWholeContent = 16 << 20;

bool isAnyOf(std::string_view local, std::initializer_list<std::string_view> names) {
    for (const std::string_view name : names) {
        if (local == name)
            return true;
    }
    return false;
}

// Finds the root's office:automatic-styles, which comes before the body.
class StylesFinder final : public XmlHandler {
  public:
    explicit StylesFinder(const ReadLimits& limits) : parser(*this, limits) {}
    XmlParser parser;
    std::optional<std::size_t> begin;

    void startElement(const XmlName& name, const XmlAttributes& /*attributes*/) override {
        if (parser.depth() != 2)
            return;
        if (name.is(kOffice, "automatic-styles"))
            begin = static_cast<std::size_t>(parser.byteIndex());
        if (begin || name.is(kOffice, "body"))
            parser.stop();
    }
};

// The bytes [first, second) of the root's office:automatic-styles element in a content part,
// or nothing when there is none before the body or where its end cannot be told from the bytes
// for certain: its content must hold no comment, CDATA section, processing instruction or
// element of its own name, so that the first end tag of its name is its own. The content
// passed over is not checked to be well-formed XML.
std::optional<std::pair<std::size_t, std::size_t>> automaticStyles(std::string_view content,
                                                                   const ReadLimits& limits) {
    StylesFinder finder(limits);
    finder.parser.feed(content, true);
    if (!finder.begin || *finder.begin >= content.size() || content[*finder.begin] != '<')
        return std::nullopt;
    const std::size_t begin = *finder.begin;
    const std::size_t nameEnd = content.find_first_of(" \t\r\n/>", begin + 1);
    if (nameEnd == std::string_view::npos)
        return std::nullopt;
    const std::string_view name = content.substr(begin + 1, nameEnd - begin - 1);
    // The start tag ends at the first '>' outside its attributes' quotes.
    std::size_t at = nameEnd;
    char quote = 0;
    for (; at < content.size(); ++at) {
        const char c = content[at];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            break;
        }
    }
    if (at >= content.size() || content[at - 1] == '/')
        return std::nullopt;
    const auto delimited = [&](std::size_t position) {
        return position < content.size() &&
               std::string_view(" \t\r\n/>").find(content[position]) != std::string_view::npos;
    };
    for (std::size_t open = content.find('<', at); open != std::string_view::npos;
         open = content.find('<', open + 1)) {
        const std::string_view rest = content.substr(open + 1);
        if (rest.empty() || rest.front() == '!' || rest.front() == '?')
            return std::nullopt;
        if (rest.substr(0, name.size()) == name && delimited(open + 1 + name.size()))
            return std::nullopt;
        if (rest.front() == '/' && rest.substr(1, name.size()) == name &&
            delimited(open + 2 + name.size())) {
            const std::size_t close = content.find('>', open);
            if (close == std::string_view::npos ||
                content.substr(open + 2 + name.size(), close - open - 2 - name.size())
                        .find_first_not_of(" \t\r\n") != std::string_view::npos) {
                return std::nullopt;
            }
            return std::make_pair(begin, close + 1);
        }
    }
    return std::nullopt;
}

class ManifestHandler final : public PartHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& /*attributes*/) override {
        if (name.is(kManifest, "encryption-data"))
            refuse("encrypted");
    }
};

enum class ContentContext : std::uint8_t {
    Document,
    Root,
    Body,
    Presentation,
    Page,
    PageLink,  // draw:a among a slide's shapes
    Group,
    GroupLink,
    TextShape,   // a shape whose children are its paragraphs
    Frame,       // draw:frame: its first content holds the text
    TextHolder,  // a frame's text box or image
    List,
    ListItem,
    Paragraph,
    Span,
    Skip,         // nothing below is read
    SkipChecked,  // nothing below is read, and text there goes to the office
};

class ContentHandler final : public ContextHandler<ContentContext> {
  public:
    ContentHandler(const ZipArchive& archive, SlideTexts& texts)
        : m_archive(archive), m_texts(texts) {}

    void characters(std::string_view text) override {
        if (current() != Context::Paragraph && current() != Context::Span)
            return;
        m_run.clear();
        for (const char c : text) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                if (!m_ignoreSpace)
                    m_run.push_back(' ');
                m_ignoreSpace = true;
            } else {
                m_run.push_back(c);
                m_ignoreSpace = false;
            }
        }
        addText(m_run);
    }

  private:
    using Context = ContentContext;

    void ended(Context context) override {
        switch (context) {
            case Context::Paragraph:
                m_lastParagraphEmpty = !m_paragraphContent;
                break;
            case Context::ListItem:
                if (!m_itemContent)
                    refuse("an empty list item");
                break;
            case Context::TextShape:
            case Context::Frame:
                endShape();
                break;
            default:
                break;
        }
    }

    Context childContext(Context parent, const XmlName& name,
                         const XmlAttributes& attributes) override {
        switch (parent) {
            case Context::Document:
                if (!name.is(kOffice, "document-content"))
                    refuse("not the content of an OpenDocument file");
                return Context::Root;
            case Context::Root:
                return name.is(kOffice, "body") ? Context::Body : Context::Skip;
            case Context::Body:
                if (!name.is(kOffice, "presentation"))
                    refuse("not a presentation");
                return Context::Presentation;
            case Context::Presentation:
                if (name.is(kDraw, "page")) {
                    m_texts.beginSlide();
                    return Context::Page;
                }
                return Context::Skip;
            case Context::Page:
            case Context::PageLink:
                return shapeContext(false, name);
            case Context::Group:
            case Context::GroupLink:
                return shapeContext(true, name);
            case Context::TextShape:
            case Context::TextHolder:
                return textContext(name);
            case Context::Frame:
                return frameContent(name, attributes);
            case Context::List:
                if (name.is(kText, "list-item") || name.is(kText, "list-header")) {
                    m_itemContent = false;
                    return Context::ListItem;
                }
                break;
            case Context::ListItem:
                m_itemContent = true;
                if (name.is(kText, "p") || name.is(kText, "h") || name.is(kText, "list"))
                    return textContext(name);
                break;
            case Context::Paragraph:
            case Context::Span:
                return spanContent(name, attributes);
            case Context::Skip:
                return Context::Skip;
            case Context::SkipChecked:
                if (name.uri == kText)
                    refuse("text in " + std::string(name.local) + " where it is not read");
                return Context::SkipChecked;
        }
        return unexpected(name, "in a shape's text");
    }

    Context shapeContext(bool inGroup, const XmlName& name) {
        if (name.uri == kDraw) {
            if (name.local == "a")
                return inGroup ? Context::GroupLink : Context::PageLink;
            if (isAnyOf(name.local, {"rect", "ellipse", "circle", "custom-shape", "line",
                                     "polyline", "connector"})) {
                beginShape();
                m_connector = name.local == "connector";
                return Context::TextShape;
            }
            if (name.local == "frame") {
                beginShape();
                m_frameContentSeen = false;
                return Context::Frame;
            }
            // A group inside a group is not entered: it has no text of its own.
            if (name.local == "g")
                return inGroup ? Context::Skip : Context::Group;
            // Shapes seen to show no text of their own.
            if (isAnyOf(name.local, {"polygon", "path", "regular-polygon", "caption", "control",
                                     "page-thumbnail"})) {
                return Context::SkipChecked;
            }
        }
        if (name.is(kDr3d, "scene"))
            return Context::SkipChecked;
        if (name.is(kPresentation, "notes") || name.uri == kAnimation ||
            name.is(kOffice, "forms") || name.local == "annotation" ||
            name.local == "annotation-end" || name.uri == kSvg) {
            return Context::Skip;
        }
        // Among them a measure, which shows its length as its text.
        refuse("the shape " + std::string(name.local) + ", not read here");
        return Context::Skip;
    }

    Context frameContent(const XmlName& name, const XmlAttributes& attributes) {
        const bool decorative =
            name.uri == kSvg || name.is(kOffice, "event-listeners") ||
            (name.uri == kDraw &&
             isAnyOf(name.local, {"contour-polygon", "contour-path", "image-map", "glue-point"}));
        if (decorative)
            return Context::Skip;
        if (name.uri == kDraw && isAnyOf(name.local, {"image", "object", "object-ole"}) &&
            !inPackage(attributes.value(kXlink, "href"), name.local != "image")) {
            // Impress refuses to open some documents whose picture is missing from the package.
            refuse("the " + std::string(name.local) + " " +
                   std::string(attributes.value(kXlink, "href")) + " is missing from the package");
        }
        // Impress takes the frame's first content and passes over the rest (the replacement
        // picture of a table or an object, another text box).
        if (m_frameContentSeen)
            return Context::Skip;
        m_frameContentSeen = true;
        if (name.is(kDraw, "text-box") || name.is(kDraw, "image"))
            return Context::TextHolder;
        if (name.is(kTable, "table") ||
            (name.uri == kDraw &&
             isAnyOf(name.local, {"object", "object-ole", "plugin", "applet", "floating-frame"}))) {
            return Context::Skip;
        }
        return Context::SkipChecked;
    }

    Context textContext(const XmlName& name) {
        if (name.uri == kText) {
            if (name.local == "p" || name.local == "h") {
                if (m_paragraphs++ > 0)
                    m_texts.lineEnd();
                m_ignoreSpace = true;
                m_paragraphContent = false;
                return Context::Paragraph;
            }
            if (name.local == "list")
                return Context::List;
            return unexpected(name, "in a shape's text");
        }
        if (name.uri == kSvg || name.is(kOffice, "binary-data"))
            return Context::Skip;
        return Context::SkipChecked;
    }

    Context spanContent(const XmlName& name, const XmlAttributes& attributes) {
        if (name.uri == kText) {
            if (name.local == "span" || name.local == "a")
                return Context::Span;
            if (name.local == "s") {
                const int count = spaceCount(attributes.value(kText, "c"));
                if (count == 0) {
                    refuse("a run of spaces of the length \"" +
                           std::string(attributes.value(kText, "c")) + "\"");
                } else {
                    addText(std::string(static_cast<std::size_t>(count), ' '));
                    m_ignoreSpace = false;
                }
                return Context::Skip;
            }
            if (name.local == "tab") {
                addText("\t");
                m_ignoreSpace = false;
                return Context::Skip;
            }
            if (name.local == "line-break") {
                m_texts.lineEnd();
                m_ignoreSpace = false;
                m_paragraphContent = true;
                return Context::Skip;
            }
            if (name.local == "soft-page-break")
                return Context::Skip;
        }
        return unexpected(name, "in a shape's text");
    }

    // Whether a link of a frame's content is found: a link outside the package (a URL, an
    // absolute path) or none (the content is in the XML) is; a link into the package is when
    // it names an entry, or for an object a folder of entries.
    bool inPackage(std::string_view link, bool folder) const {
        if (link.empty() || link.front() == '/' || link.find(':') != std::string_view::npos)
            return true;
        while (link.substr(0, 2) == "./")
            link.remove_prefix(2);
        if (!folder)
            return !link.empty() && m_archive.has(link);
        const std::string prefix = std::string(link) + "/";
        for (const std::string_view entry : m_archive.names()) {
            if (entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0)
                return true;
        }
        return false;
    }

    // The spaces of text:s: its count (1 when absent), or 0 for a count not read here.
    static int spaceCount(std::string_view value) {
        if (value.empty())
            return 1;
        if (value.size() > 4 || value.find_first_not_of("0123456789") != std::string_view::npos)
            return 0;
        const int count = std::stoi(std::string(value));
        return count <= kMaxSpaces ? count : 0;
    }

    void addText(std::string_view text) {
        if (text.empty())
            return;
        m_texts.append(text);
        m_paragraphContent = true;
        if (!m_texts.withinLimits())
            refuse(std::string(SlideTexts::kOverLimit));
    }

    void beginShape() {
        m_texts.beginShape();
        m_connector = false;
        m_paragraphs = 0;
        m_lastParagraphEmpty = false;
    }

    void endShape() {
        if (m_paragraphs >= 2 && m_lastParagraphEmpty)
            m_texts.dropLineEnd();
        if (m_connector && m_texts.shapeHasText()) {
            // A connector of no length loses its text in Impress; where it is glued to shapes,
            // its length is theirs to give.
            refuse("text on a connector");
            return;
        }
        m_texts.endShape();
        if (!m_texts.withinLimits())
            refuse(std::string(SlideTexts::kOverLimit));
    }

    const ZipArchive& m_archive;
    SlideTexts& m_texts;
    std::string m_run;
    int m_paragraphs = 0;
    bool m_ignoreSpace = true;
    bool m_paragraphContent = false;
    bool m_lastParagraphEmpty = false;
    bool m_itemContent = false;
    bool m_frameContentSeen = false;
    bool m_connector = false;
};

}  // namespace

std::string readOdpSlides(ZipArchive& archive, SlideTexts& texts, const ReadLimits& limits) {
    // The first bytes of the type are enough to tell it.
    std::string mimetype;
    std::string why;
    const bool read = archive.stream(
        "mimetype",
        [&](std::string_view chunk) {
            mimetype.append(chunk.substr(0, kPresentationMime.size() + 1 - mimetype.size()));
            return mimetype.size() <= kPresentationMime.size();
        },
        why);
    if (!read)
        return why;
    if (mimetype != kPresentationMime)
        return "of the type \"" + mimetype + "\", not a presentation";
    ManifestHandler manifest;
    if (why = parsePart(archive, "META-INF/manifest.xml", manifest, limits); !why.empty())
        return why;
    ContentHandler content(archive, texts);
    // A content part of ordinary size is read whole, so that its automatic styles (most of
    // what LibreOffice writes there, and nothing the text depends on) can be passed over.
    std::string whole;
    bool fits = true;
    if (!archive.stream(
            "content.xml",
            [&](std::string_view chunk) {
                fits = whole.size() + chunk.size() <= kWholeContent;
                if (fits)
                    whole.append(chunk);
                return fits;
            },
            why)) {
        return why;
    }
    if (!fits)
        return parsePart(archive, "content.xml", content, limits);
    const std::string_view bytes(whole);
    if (const auto styles = automaticStyles(bytes, limits)) {
        return parsePieces({bytes.substr(0, styles->first), bytes.substr(styles->second)},
                           "content.xml", content, limits);
    }
    return parsePieces({bytes}, "content.xml", content, limits);
}

}  // namespace ferretta::documents
