// Fuzzes the parser of the documents' XML parts against expat's own namespace mode: for any
// input, the same elements with the same namespace URIs, local names and attributes, the same
// text, and a refusal exactly where expat's namespace mode refuses; with expat alone, and with
// the scanner in front of it fed the whole input or in pieces of a few sizes (its tokens cut
// anywhere), and the same byte offset of each start tag. Nothing may crash or hang.
#include <expat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "documents/xml_parser.h"

namespace {

using namespace ferretta::documents;

// The events of a parse in one string: "<uri|local a=uri|local:value ...>", "</uri|local>",
// the text between, and "!" where the parse failed.
class Recorder final : public XmlHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& attributes) override {
        m_events += "<" + std::to_string(m_parser->byteIndex()) + "@" + std::string(name.uri) +
                    "|" + std::string(name.local);
        attributes.forEach([&](const XmlName& attribute, std::string_view value) {
            m_events += " " + std::string(attribute.uri) + "|" + std::string(attribute.local) +
                        ":" + std::string(value);
        });
        m_events += ">";
    }
    void endElement(const XmlName& name) override {
        m_events += "</" + std::string(name.uri) + "|" + std::string(name.local) + ">";
    }
    void characters(std::string_view text) override { m_events += text; }
    std::string m_events;
    const XmlParser* m_parser = nullptr;
};

// expat in namespace mode, its names split at the separator as the parser splits them.
struct Reference {
    XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
    std::string events;
    bool stopped = false;

    static std::string name(const char* expanded) {
        const std::string_view whole(expanded);
        const std::size_t at = whole.find('\x01');
        if (at == std::string_view::npos)
            return "|" + std::string(whole);
        return std::string(whole.substr(0, at)) + "|" + std::string(whole.substr(at + 1));
    }
    static void onStart(void* self, const char* element, const char** attributes) {
        auto& reference = *static_cast<Reference*>(self);
        if (reference.stopped)
            return;
        reference.events +=
            "<" + std::to_string(XML_GetCurrentByteIndex(reference.parser)) + "@" + name(element);
        for (const char** p = attributes; *p != nullptr; p += 2)
            reference.events += " " + name(p[0]) + ":" + p[1];
        reference.events += ">";
    }
    static void onEnd(void* self, const char* element) {
        auto& reference = *static_cast<Reference*>(self);
        if (!reference.stopped)
            reference.events += "</" + name(element) + ">";
    }
    static void onCharacters(void* self, const char* text, int length) {
        auto& reference = *static_cast<Reference*>(self);
        if (!reference.stopped && length > 0)
            reference.events.append(text, static_cast<std::size_t>(length));
    }
    // The parser refuses document types and entity declarations.
    static void refuse(void* self) {
        auto& reference = *static_cast<Reference*>(self);
        reference.stopped = true;
        XML_StopParser(reference.parser, XML_FALSE);
    }
    static void onDoctype(void* self, const char*, const char*, const char*, int) { refuse(self); }
    static void onEntity(void* self, const char*, int, const char*, int, const char*, const char*,
                         const char*, const char*) {
        refuse(self);
    }

    std::string parse(std::string_view bytes) {
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &onStart, &onEnd);
        XML_SetCharacterDataHandler(parser, &onCharacters);
        XML_SetStartDoctypeDeclHandler(parser, &onDoctype);
        XML_SetEntityDeclHandler(parser, &onEntity);
        XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
        if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_OK)
            events += "!";
        XML_ParserFree(parser);
        return events;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (std::size_t{1} << 20))
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string expected = Reference().parse(bytes);
    // Expat alone, then the scanner on the whole input and on pieces (0: the whole).
    constexpr std::pair<bool, std::size_t> kRuns[] = {
        {true, 0}, {false, 0}, {false, 1}, {false, 7}, {false, 300}};
    for (const auto& [expatOnly, piece] : kRuns) {
        ReadLimits limits;
        limits.maxDepth = std::numeric_limits<std::size_t>::max();
        limits.expatOnly = expatOnly;
        Recorder recorder;
        XmlParser parser(recorder, limits);
        recorder.m_parser = &parser;
        bool read = true;
        std::string_view rest = bytes;
        while (read && piece != 0 && rest.size() > piece) {
            read = parser.feed(rest.substr(0, piece), false);
            rest.remove_prefix(piece);
        }
        if (!read || !parser.feed(rest, true))
            recorder.m_events += "!";
        if (recorder.m_events != expected)
            std::abort();
    }
    return 0;
}
