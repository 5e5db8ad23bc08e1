#include "documents/xml_parser.h"

#include <expat.h>

#include <cstring>
#include <limits>

namespace ferretta::documents {
namespace {

// Separates the namespace URI from the local name in the names expat hands over.
constexpr char kSeparator = '\x01';

}  // namespace

XmlName XmlAttributes::split(const char* name) {
    const std::string_view whole(name);
    const std::size_t at = whole.find(kSeparator);
    if (at == std::string_view::npos)
        return {{}, whole};
    return {whole.substr(0, at), whole.substr(at + 1)};
}

std::string_view XmlAttributes::value(std::string_view uri, std::string_view local) const {
    for (const char** p = m_pairs; p != nullptr && *p != nullptr; p += 2) {
        const XmlName name = split(p[0]);
        if (name.local == local && name.uri == uri)
            return p[1];
    }
    return {};
}

bool XmlAttributes::has(std::string_view uri, std::string_view local) const {
    for (const char** p = m_pairs; p != nullptr && *p != nullptr; p += 2) {
        const XmlName name = split(p[0]);
        if (name.local == local && name.uri == uri)
            return true;
    }
    return false;
}

XmlParser::XmlParser(XmlHandler& handler, const ReadLimits& limits)
    : m_handler(handler), m_limits(limits), m_parser(XML_ParserCreateNS(nullptr, kSeparator)) {
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlParser::onStart, &XmlParser::onEnd);
    XML_SetCharacterDataHandler(m_parser, &XmlParser::onCharacters);
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlParser::onDoctype);
    XML_SetEntityDeclHandler(m_parser, &XmlParser::onEntity);
    // Neither the external subset nor parameter entities are ever read.
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
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

void XmlParser::onStart(void* self, const char* name, const char** attributes) {
    auto& parser = *static_cast<XmlParser*>(self);
    ++parser.m_depth;
    if (!parser.m_error.empty() || parser.m_stopped)
        return;
    if (parser.m_depth > parser.m_limits.maxDepth) {
        parser.refuse("XML nested deeper than " + std::to_string(parser.m_limits.maxDepth));
        return;
    }
    parser.m_handler.startElement(XmlAttributes::split(name), XmlAttributes(attributes));
}

void XmlParser::onEnd(void* self, const char* name) {
    auto& parser = *static_cast<XmlParser*>(self);
    if (parser.m_depth > 0)
        --parser.m_depth;
    if (!parser.m_error.empty() || parser.m_stopped)
        return;
    parser.m_handler.endElement(XmlAttributes::split(name));
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
