// Open XML presentations, read as Impress imports them (learnt by experiment on documents made
// to show one construct each):
// - slides in the order of the presentation's slide list, hidden ones included; notes, masters,
//   layouts and comments are not slides' shapes;
// - a shape (p:sp) has a text frame; its text is its paragraphs joined by line ends,
//   a:br a line end, a:t taken literally (spaces kept, "_x000D_" not decoded);
// - a group (p:grpSp) has no text of its own; its members are read, a group among them is not
//   entered; pictures and tables (whose cells Impress does not hand out as the frame's text)
//   have none;
// - footer placeholders on a slide become the slide's header-and-footer settings: "ftr"
//   always, "sldNum" holding just a slide-number field, "dt" holding just a date field.
// What Impress makes of a field elsewhere depends on the view and the day, of a connector's
// text on its geometry; diagrams, alternate content and the rarer placeholders are read in
// ways not tried here: all of those go to the office.
#include "documents/pptx_slides.h"

#include <cstdint>
#include <set>
#include <unordered_map>
#include <vector>

#include "documents/part_parser.h"

namespace ferretta::documents {
namespace {

constexpr std::string_view kP = "http://schemas.openxmlformats.org/presentationml/2006/main";
constexpr std::string_view kA = "http://schemas.openxmlformats.org/drawingml/2006/main";
constexpr std::string_view kR =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kRels = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kRelOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr std::string_view kRelSlide =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide";

constexpr std::string_view kTableData = "http://schemas.openxmlformats.org/drawingml/2006/table";
constexpr std::string_view kChartData = "http://schemas.openxmlformats.org/drawingml/2006/chart";
constexpr std::string_view kOleData = "http://schemas.openxmlformats.org/presentationml/2006/ole";

std::string relsPartOf(std::string_view part) {
    const std::size_t slash = part.rfind('/');
    if (slash == std::string_view::npos)
        return "_rels/" + std::string(part) + ".rels";
    return std::string(part.substr(0, slash + 1)) + "_rels/" + std::string(part.substr(slash + 1)) +
           ".rels";
}

struct Relationship {
    std::string type;
    std::string target;
    bool external = false;
};

class RelationshipsHandler final : public PartHandler {
  public:
    std::unordered_map<std::string, Relationship> byId;

    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (!name.is(kRels, "Relationship"))
            return;
        Relationship relationship{std::string(attributes.value({}, "Type")),
                                  std::string(attributes.value({}, "Target")),
                                  attributes.value({}, "TargetMode") == "External"};
        // Which of two relationships of one name the office follows is not known here.
        if (!byId.emplace(attributes.value({}, "Id"), std::move(relationship)).second)
            refuse("two relationships named " + std::string(attributes.value({}, "Id")));
    }
};

class PresentationHandler final : public PartHandler {
  public:
    // Every slide is a part of its own: a list longer than the archive is refused.
    explicit PresentationHandler(std::size_t parts) : m_parts(parts) {}
    std::vector<std::string> slideIds;
    bool isPresentation = false;

    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        if (m_depth++ == 0)
            isPresentation = name.is(kP, "presentation");
        if (name.is(kP, "sldId") && m_inList) {
            slideIds.emplace_back(attributes.value(kR, "id"));
            if (slideIds.size() > m_parts)
                refuse("more slides than parts in the package");
        }
        if (name.is(kP, "sldIdLst"))
            m_inList = true;
    }
    void endElement(const XmlName& name) override {
        --m_depth;
        if (name.is(kP, "sldIdLst"))
            m_inList = false;
    }

  private:
    std::size_t m_parts;
    int m_depth = 0;
    bool m_inList = false;
};

// Whether a field type is one of the date fields that a date placeholder gives to the slide's
// settings ("datetime", "datetime1" to "datetime13").
bool isDateFieldType(std::string_view type) {
    if (type.substr(0, 8) != "datetime")
        return false;
    const std::string_view number = type.substr(8);
    if (number.empty())
        return true;
    if (number.size() > 2 || number.front() == '0' ||
        number.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const int value = std::stoi(std::string(number));
    return value >= 1 && value <= 13;
}

// One slide part. Each element opens a context; the context of an element's children follows
// from its own and the child's name.
enum class SlideContext : std::uint8_t {
    Document,
    Slide,
    CommonSlide,
    ShapeTree,
    Group,
    Shape,   // a shape of the slide
    Member,  // a shape inside a group
    ShapeProperties,
    TextBody,
    Paragraph,
    Run,
    RunText,
    Field,
    GraphicFrame,
    Skip,  // nothing below is read
};

class SlideHandler final : public ContextHandler<SlideContext> {
  public:
    explicit SlideHandler(SlideTexts& texts) : m_texts(texts) {}

    void characters(std::string_view text) override {
        if (current() != Context::RunText)
            return;
        if (text.find("\xC2\x85") != std::string_view::npos) {
            // Impress drops NEXT LINE (U+0085) from such text in a way not worked out here.
            refuse("a NEXT LINE character in a shape's text");
            return;
        }
        m_texts.append(text);
        if (!m_texts.withinLimits())
            refuse(std::string(SlideTexts::kOverLimit));
    }

  private:
    using Context = SlideContext;

    void ended(Context context) override {
        if (context == Context::Shape || context == Context::Member)
            endShape();
    }

    Context childContext(Context parent, const XmlName& name,
                         const XmlAttributes& attributes) override {
        switch (parent) {
            case Context::Document:
                if (!name.is(kP, "sld"))
                    refuse("not a slide");
                return Context::Slide;
            case Context::Slide:
                return name.is(kP, "cSld") ? Context::CommonSlide : Context::Skip;
            case Context::CommonSlide:
                if (name.is(kP, "spTree"))
                    return Context::ShapeTree;
                if (name.is(kP, "controls"))
                    refuse("ActiveX controls on a slide");
                return Context::Skip;
            case Context::ShapeTree:
            case Context::Group:
                return shapeContext(parent == Context::Group, name);
            case Context::Shape:
            case Context::Member:
                if (name.uri == kP && (name.local == "nvSpPr" || name.local == "nvCxnSpPr"))
                    return Context::ShapeProperties;
                if (name.is(kP, "txBody"))
                    return Context::TextBody;
                return Context::Skip;
            case Context::ShapeProperties:
                if (name.is(kP, "ph")) {
                    const std::string_view type = attributes.value({}, "type");
                    m_placeholder = type.empty() ? "obj" : std::string(type);
                    if (m_member)
                        refuse("a placeholder inside a group");
                }
                return Context::ShapeProperties;
            case Context::TextBody:
                if (name.is(kA, "p")) {
                    if (m_paragraphs++ > 0)
                        m_texts.lineEnd();
                    return Context::Paragraph;
                }
                if (name.is(kA, "bodyPr") || name.is(kA, "lstStyle"))
                    return Context::Skip;
                break;
            case Context::Paragraph:
                if (name.is(kA, "r")) {
                    ++m_runs;
                    return Context::Run;
                }
                if (name.is(kA, "br")) {
                    ++m_runs;
                    m_texts.lineEnd();
                    return Context::Skip;
                }
                if (name.is(kA, "fld")) {
                    if (m_fields++ == 0)
                        m_fieldType = attributes.value({}, "type");
                    return Context::Field;
                }
                if (name.is(kA, "pPr") || name.is(kA, "endParaRPr"))
                    return Context::Skip;
                break;
            case Context::Run:
                if (name.is(kA, "t"))
                    return Context::RunText;
                if (name.is(kA, "rPr"))
                    return Context::Skip;
                break;
            case Context::Field:
                if (name.is(kA, "t") || name.is(kA, "rPr") || name.is(kA, "pPr"))
                    return Context::Skip;
                break;
            case Context::GraphicFrame:
                if (name.is(kA, "graphicData")) {
                    const std::string_view uri = attributes.value({}, "uri");
                    if (uri != kTableData && uri != kChartData && uri != kOleData)
                        refuse("a graphic frame of " + std::string(uri));
                    return Context::Skip;
                }
                if (name.local == "AlternateContent")
                    refuse("alternate content in a graphic frame");
                return Context::GraphicFrame;
            case Context::RunText:
                break;
            case Context::Skip:
                return Context::Skip;
        }
        return unexpected(name, "in a shape's text");
    }

    Context shapeContext(bool inGroup, const XmlName& name) {
        if (name.uri == kP) {
            if (name.local == "sp" || name.local == "cxnSp") {
                beginShape(inGroup);
                m_connector = name.local == "cxnSp";
                return inGroup ? Context::Member : Context::Shape;
            }
            if (name.local == "grpSp")
                // A group inside a group is not entered: it has no text of its own.
                return inGroup ? Context::Skip : Context::Group;
            if (name.local == "graphicFrame")
                return Context::GraphicFrame;
            if (name.local == "pic" || name.local == "contentPart" || name.local == "nvGrpSpPr" ||
                name.local == "grpSpPr" || name.local == "extLst") {
                return Context::Skip;
            }
        }
        return unexpected(name, "among a slide's shapes");
    }

    void beginShape(bool member) {
        m_texts.beginShape();
        m_member = member;
        m_placeholder.clear();
        m_paragraphs = 0;
        m_runs = 0;
        m_fields = 0;
        m_fieldType.clear();
    }

    void endShape() {
        // The footer placeholders that hold just their field become the slide's settings.
        const bool justOneField = m_paragraphs == 1 && m_fields == 1 && m_runs == 0;
        if (m_placeholder == "ftr" ||
            (m_placeholder == "sldNum" && justOneField && m_fieldType == "slidenum") ||
            (m_placeholder == "dt" && justOneField && isDateFieldType(m_fieldType))) {
            m_texts.endShape(false);
            return;
        }
        if (m_fields > 0) {
            refuse("a field (" + m_fieldType + ") in a shape's text");
            return;
        }
        static constexpr std::string_view kTextPlaceholders[] = {
            "", "title", "ctrTitle", "subTitle", "body", "obj", "hdr", "sldNum", "dt"};
        bool textPlaceholder = false;
        for (const std::string_view type : kTextPlaceholders)
            textPlaceholder = textPlaceholder || m_placeholder == type;
        if (!textPlaceholder && m_texts.shapeHasText()) {
            refuse("text in a placeholder of type " + m_placeholder);
            return;
        }
        if (m_connector && m_texts.shapeHasText()) {
            // Impress drops the text of a connector of no length.
            refuse("text on a connector");
            return;
        }
        m_texts.endShape();
        if (!m_texts.withinLimits())
            refuse(std::string(SlideTexts::kOverLimit));
    }

    SlideTexts& m_texts;
    bool m_member = false;
    bool m_connector = false;
    std::string m_placeholder;
    int m_paragraphs = 0;
    int m_runs = 0;
    int m_fields = 0;
    std::string m_fieldType;
};

}  // namespace

std::string resolvePartTarget(std::string_view source, std::string_view target) {
    if (target.empty() || target.find_first_of("%\\:?#") != std::string_view::npos)
        return {};
    std::string path;
    if (target.front() != '/') {
        const std::size_t slash = source.rfind('/');
        if (slash != std::string_view::npos)
            path = source.substr(0, slash + 1);
    }
    path += target;
    std::vector<std::string_view> segments;
    const std::string_view whole(path);
    std::size_t start = 0;
    while (start <= whole.size()) {
        std::size_t end = whole.find('/', start);
        if (end == std::string_view::npos)
            end = whole.size();
        const std::string_view segment = whole.substr(start, end - start);
        if (segment == "..") {
            if (segments.empty())
                return {};
            segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string resolved;
    for (const std::string_view segment : segments) {
        if (!resolved.empty())
            resolved += '/';
        resolved += segment;
    }
    return resolved;
}

std::string readPptxSlides(ZipArchive& archive, SlideTexts& texts, const ReadLimits& limits) {
    RelationshipsHandler packageRelationships;
    if (std::string why = parsePart(archive, "_rels/.rels", packageRelationships, limits);
        !why.empty()) {
        return why;
    }
    std::string mainPart;
    for (const auto& [id, relationship] : packageRelationships.byId) {
        if (relationship.type == kRelOfficeDocument && !relationship.external)
            mainPart = resolvePartTarget("", relationship.target);
    }
    if (mainPart.empty())
        return "no main part of an Open XML presentation";

    // The main part's own root tells a presentation (the content types, a long list in
    // LibreOffice's packages, would cost more to read than a slide); Impress wants the list
    // there all the same.
    if (!archive.has("[Content_Types].xml"))
        return "no content types: not an Open XML package";

    PresentationHandler presentation(archive.names().size());
    if (std::string why = parsePart(archive, mainPart, presentation, limits); !why.empty())
        return why;
    if (!presentation.isPresentation)
        return "the main part is not a presentation";
    RelationshipsHandler relationships;
    if (std::string why = parsePart(archive, relsPartOf(mainPart), relationships, limits);
        !why.empty()) {
        return why;
    }

    std::set<std::string> parts;
    for (const std::string& id : presentation.slideIds) {
        const auto found = relationships.byId.find(id);
        if (found == relationships.byId.end() || found->second.type != kRelSlide ||
            found->second.external) {
            return "the slide " + id + " is not a slide part of the package";
        }
        const std::string part = resolvePartTarget(mainPart, found->second.target);
        if (part.empty())
            return "the slide " + id + " is not a slide part of the package";
        if (!parts.insert(part).second)
            return "the slide " + part + " is listed twice";
        texts.beginSlide();
        SlideHandler slide(texts);
        if (std::string why = parsePart(archive, part, slide, limits); !why.empty())
            return why;
    }
    return {};
}

}  // namespace ferretta::documents
