#include "documents/xml_parser.h"

#include <expat.h>

#include <cstring>
#include <limits>

namespace ferretta::documents {
namespace {

// The two URIs that only their own prefixes may be bound to.
constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

// Whether the character at the start of `text` (well-formed UTF-8: expat checked the name) may
// start a name, by expat's own tables: beyond ASCII, a document of one empty element of that
// name tells.
bool startsName(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text.front());
    if (lead < 0x80)
        return (lead >= 'a' && lead <= 'z') || (lead >= 'A' && lead <= 'Z') || lead == '_';
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const std::string element = "<" + std::string(text.substr(0, length)) + "/>";
    XML_Parser probe = XML_ParserCreate("UTF-8");
    const bool named =
        XML_Parse(probe, element.data(), static_cast<int>(element.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(probe);
    return named;
}

}  // namespace

XmlParser::XmlParser(XmlHandler& handler, const ReadLimits& limits)
    : m_handler(handler), m_limits(limits), m_parser(XML_ParserCreate(nullptr)) {
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlParser::onStart, &XmlParser::onEnd);
    XML_SetCharacterDataHandler(m_parser, &XmlParser::onCharacters);
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlParser::onDoctype);
    XML_SetEntityDeclHandler(m_parser, &XmlParser::onEntity);
    XML_SetProcessingInstructionHandler(m_parser, &XmlParser::onInstruction);
    // Neither the external subset nor parameter entities are ever read.
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
    m_bindings.push_back({"xml", std::string(kXmlNamespace), 0});
}

XmlParser::~XmlParser() {
    XML_ParserFree(m_parser);
}

bool XmlParser::feed(std::string_view bytes, bool last) {
    if (m_stopped || !m_error.empty())
        return false;
    while (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) {
        if (!feed(bytes.substr(0, std::numeric_limits<int>::max() / 2), false))
            return false;
        bytes.remove_prefix(std::numeric_limits<int>::max() / 2);
    }
    const XML_Status status =
        XML_Parse(m_parser, bytes.data(), static_cast<int>(bytes.size()), last ? 1 : 0);
    if (status == XML_STATUS_OK)
        return !m_stopped && m_error.empty();
    if (m_error.empty() && !m_stopped) {
        m_error = std::string("malformed XML at line ") +
                  std::to_string(XML_GetCurrentLineNumber(m_parser)) + ": " +
                  XML_ErrorString(XML_GetErrorCode(m_parser));
    }
    return false;
}

std::int64_t XmlParser::byteIndex() const {
    return XML_GetCurrentByteIndex(m_parser);
}

void XmlParser::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    XML_StopParser(m_parser, XML_FALSE);
}

void XmlParser::refuse(std::string why) {
    if (m_error.empty())
        m_error = std::move(why);
    XML_StopParser(m_parser, XML_FALSE);
}

void XmlParser::malformed(int expatError) {
    refuse("malformed XML at line " + std::to_string(XML_GetCurrentLineNumber(m_parser)) + ": " +
           XML_ErrorString(static_cast<XML_Error>(expatError)));
}

bool XmlParser::split(std::string_view qualified, std::string_view& prefix,
                      std::string_view& local) const {
    const std::size_t colon = qualified.find(':');
    if (colon == std::string_view::npos) {
        prefix = {};
        local = qualified;
        return true;
    }
    // One colon, between a prefix and a local name that starts as a name does.
    if (colon == 0 || colon + 1 == qualified.size() ||
        qualified.find(':', colon + 1) != std::string_view::npos ||
        !startsName(qualified.substr(colon + 1)))
        return false;
    prefix = qualified.substr(0, colon);
    local = qualified.substr(colon + 1);
    return true;
}

const std::string* XmlParser::lookup(std::string_view prefix) const {
    for (auto binding = m_bindings.rbegin(); binding != m_bindings.rend(); ++binding) {
        if (binding->prefix.size() == prefix.size() && binding->prefix == prefix)
            return &binding->uri;
    }
    return nullptr;
}

bool XmlParser::bind(std::string_view prefix, std::string_view uri) {
    // The checks and their order are those of the namespaces recommendation as expat applies
    // them; an empty URI undeclares the default namespace only.
    if (uri.empty() && !prefix.empty()) {
        malformed(XML_ERROR_UNDECLARING_PREFIX);
        return false;
    }
    if (prefix == "xmlns") {
        malformed(XML_ERROR_RESERVED_PREFIX_XMLNS);
        return false;
    }
    const bool mustBeXml = prefix == "xml";
    const bool isXml = uri == kXmlNamespace;
    if (mustBeXml != isXml || uri == kXmlnsNamespace) {
        malformed(mustBeXml ? XML_ERROR_RESERVED_PREFIX_XML : XML_ERROR_RESERVED_NAMESPACE_URI);
        return false;
    }
    m_bindings.push_back({std::string(prefix), std::string(uri), m_depth});
    return true;
}

bool XmlParser::resolveStart(const char* name, const char** attributes) {
    std::string_view prefix;
    std::string_view local;
    if (!split(name, prefix, local)) {
        malformed(XML_ERROR_INVALID_TOKEN);
        return false;
    }
    m_name = {prefix, local};
    // The declarations first: they bind for the element's own name and attributes. Until they
    // are resolved, an attribute keeps its prefix where its URI goes.
    m_attributes.clear();
    bool prefixed = false;
    for (const char** p = attributes; *p != nullptr; p += 2) {
        if (!split(p[0], prefix, local)) {
            malformed(XML_ERROR_INVALID_TOKEN);
            return false;
        }
        if (prefix.empty() && local == "xmlns") {
            if (!bind({}, p[1]))
                return false;
        } else if (prefix == "xmlns") {
            if (!bind(local, p[1]))
                return false;
        } else {
            m_attributes.push_back({{prefix, local}, p[1]});
            prefixed = prefixed || !prefix.empty();
        }
    }
    if (prefixed) {
        for (std::size_t i = 0; i < m_attributes.size(); ++i) {
            XmlName& attribute = m_attributes[i].name;
            if (attribute.uri.empty())
                continue;  // no namespace: an attribute is not in the default one
            const std::string* uri = lookup(attribute.uri);
            if (uri == nullptr) {
                malformed(XML_ERROR_UNBOUND_PREFIX);
                return false;
            }
            attribute.uri = *uri;
            // The same name under two prefixes of one URI (one prefix twice is expat's own
            // find).
            for (std::size_t j = 0; j < i; ++j) {
                if (m_attributes[j].name.is(attribute.uri, attribute.local)) {
                    malformed(XML_ERROR_DUPLICATE_ATTRIBUTE);
                    return false;
                }
            }
        }
    }
    const std::string* uri = lookup(m_name.uri);
    if (uri == nullptr && !m_name.uri.empty()) {
        malformed(XML_ERROR_UNBOUND_PREFIX);
        return false;
    }
    m_name.uri = uri != nullptr ? std::string_view(*uri) : std::string_view();
    m_openUris.push_back(m_name.uri);
    return true;
}

void XmlParser::onStart(void* self, const char* name, const char** attributes) {
    auto& parser = *static_cast<XmlParser*>(self);
    ++parser.m_depth;
    if (!parser.m_error.empty() || parser.m_stopped)
        return;
    if (!parser.resolveStart(name, attributes))
        return;
    if (parser.m_depth > parser.m_limits.maxDepth) {
        parser.refuse("XML nested deeper than " + std::to_string(parser.m_limits.maxDepth));
        return;
    }
    parser.m_handler.startElement(parser.m_name, XmlAttributes(parser.m_attributes));
}

void XmlParser::onEnd(void* self, const char* name) {
    auto& parser = *static_cast<XmlParser*>(self);
    if (parser.m_error.empty() && !parser.m_stopped) {
        // The start tag had the same name, split and resolved then.
        const std::string_view qualified(name);
        const std::size_t colon = qualified.find(':');
        const std::string_view local =
            colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
        const std::string_view uri = parser.m_openUris.back();
        parser.m_openUris.pop_back();
        parser.m_handler.endElement({uri, local});
        while (parser.m_bindings.back().depth == parser.m_depth && parser.m_depth > 0)
            parser.m_bindings.pop_back();
    }
    if (parser.m_depth > 0)
        --parser.m_depth;
}

void XmlParser::onInstruction(void* self, const char* target, const char* /*data*/) {
    // A colon in a target is malformed to expat's namespace mode.
    if (std::strchr(target, ':') != nullptr)
        static_cast<XmlParser*>(self)->malformed(XML_ERROR_INVALID_TOKEN);
}

void XmlParser::onCharacters(void* self, const char* text, int length) {
    auto& parser = *static_cast<XmlParser*>(self);
    if (!parser.m_error.empty() || parser.m_stopped || length <= 0)
        return;
    parser.m_handler.characters(std::string_view(text, static_cast<std::size_t>(length)));
}

void XmlParser::onDoctype(void* self, const char* /*name*/, const char* /*sysid*/,
                          const char* /*pubid*/, int /*hasInternalSubset*/) {
    static_cast<XmlParser*>(self)->refuse("a document type declaration (refused)");
}

void XmlParser::onEntity(void* self, const char* /*name*/, int /*parameter*/, const char* /*value*/,
                         int /*length*/, const char* /*base*/, const char* /*sysid*/,
                         const char* /*pubid*/, const char* /*notation*/) {
    static_cast<XmlParser*>(self)->refuse("an entity declaration (refused)");
}

}  // namespace ferretta::documents
