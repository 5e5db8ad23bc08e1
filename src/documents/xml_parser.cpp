#include "documents/xml_parser.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_set>

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

// The first colon of a name (names are short: a loop, not a call to memchr).
std::size_t colonIn(std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == ':')
            return i;
    }
    return std::string_view::npos;
}

// The namespace URIs bound so far in this process. A document declares the same few dozen
// URIs in each of its parts, and every document of a kind the same ones: kept once rather than
// copied for every declaration of every part. Bounded, so that hostile documents cannot grow
// it; a URI it has no room for is kept by its parser. Null for those.
constexpr std::size_t kInternedUris = 512;
constexpr std::size_t kInternedUriLength = 256;

struct UriHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view uri) const {
        return std::hash<std::string_view>()(uri);
    }
};

const std::string* internedUri(std::string_view uri) {
    static std::mutex mutex;
    // Never destroyed: a parser on a thread that outlives main may still hold its URIs.
    static auto& interned = *new std::unordered_set<std::string, UriHash, std::equal_to<>>();
    std::lock_guard lock(mutex);
    if (const auto found = interned.find(uri); found != interned.end())
        return &*found;
    if (interned.size() >= kInternedUris || uri.size() > kInternedUriLength)
        return nullptr;
    return &*interned.emplace(uri).first;
}

}  // namespace

XmlParser::XmlParser(XmlHandler& handler, const ReadLimits& limits)
    : m_handler(handler), m_limits(limits), m_parser(nullptr) {
    // Room for what the parts of Office documents hold, so that a part's first elements do not
    // grow these one by one.
    m_bindings.reserve(64);
    m_openUris.reserve(32);
    m_attributes.reserve(16);
    m_rawAttributes.reserve(16);
    m_openNames.reserve(32);
    m_openTags.reserve(1024);
    m_bindings.push_back({"xml", kXmlNamespace, 0});
}

XmlParser::~XmlParser() {
    if (m_parser != nullptr)
        XML_ParserFree(m_parser);
}

// Expat is made only when the scanner hands over: most parts never need it.
bool XmlParser::makeExpat() {
    m_parser = XML_ParserCreate(nullptr);
    if (m_parser == nullptr)
        return false;
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlParser::onStart, &XmlParser::onEnd);
    XML_SetCharacterDataHandler(m_parser, &XmlParser::onCharacters);
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlParser::onDoctype);
    XML_SetEntityDeclHandler(m_parser, &XmlParser::onEntity);
    XML_SetProcessingInstructionHandler(m_parser, &XmlParser::onInstruction);
    // Neither the external subset nor parameter entities are ever read.
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
    return true;
}

bool XmlParser::feed(std::string_view bytes, bool last) {
    if (m_stopped || !m_error.empty())
        return false;
    if (!m_scanning)
        return feedExpat(bytes, last);
    if (m_limits.expatOnly)
        return fallBack(bytes, last);
    std::string_view buffer = bytes;
    if (!m_pending.empty()) {
        m_pending.append(bytes);
        buffer = m_pending;
    }
    std::size_t at = 0;
    Scanned scanned = scan(buffer, last, at);
    // A token longer than this (a text of megabytes without markup) is left to expat rather
    // than kept for the next piece.
    constexpr std::size_t kMaxPending = std::size_t{4} << 20;
    if (scanned == Scanned::More && buffer.size() - at > kMaxPending)
        scanned = Scanned::Expat;
    // (An empty piece has no data pointer to hand memchr.)
    for (const char* line = buffer.data();
         at > 0 && (line = static_cast<const char*>(
                        std::memchr(line, '\n', buffer.data() + at - line))) != nullptr;
         ++line)
        ++m_lines;
    m_offset += static_cast<std::int64_t>(at);
    switch (scanned) {
        case Scanned::Ended:
            m_pending.clear();
            return false;
        case Scanned::Expat: {
            const std::string rest(buffer.substr(at));
            m_pending.clear();
            return fallBack(rest, last);
        }
        case Scanned::Read:
        case Scanned::More:
            break;
    }
    if (buffer.data() == m_pending.data())
        m_pending.erase(0, at);
    else
        m_pending.assign(buffer.substr(at));
    return true;
}

bool XmlParser::fallBack(std::string_view rest, bool last) {
    if (!makeExpat()) {
        refuse("out of memory for the XML parser");
        return false;
    }
    m_scanning = false;
    // Expat is led to the scanner's place: before the root, by the bytes read so far; inside
    // it, by the open elements' start tags; after it, by an element of its own.
    std::string priming = m_openNames.empty()
                              ? (m_phase == Phase::Epilogue ? std::string("<r/>") : m_prolog)
                              : m_openTags;
    m_indexShift = m_offset - static_cast<std::int64_t>(priming.size());
    m_lineShift = m_lines - std::count(priming.begin(), priming.end(), '\n');
    m_priming = true;
    const XML_Status primed =
        XML_Parse(m_parser, priming.data(), static_cast<int>(priming.size()), 0);
    m_priming = false;
    m_openTags = std::string();
    m_prolog = std::string();
    m_openNames = {};
    if (primed != XML_STATUS_OK) {
        // The scanner read only what expat reads: this is not expected.
        refuse("malformed XML at line " + std::to_string(lineNumber()) + ": " +
               XML_ErrorString(XML_GetErrorCode(m_parser)));
        return false;
    }
    return feedExpat(rest, last);
}

std::uint64_t XmlParser::lineNumber() const {
    return static_cast<std::uint64_t>(
        static_cast<std::int64_t>(XML_GetCurrentLineNumber(m_parser)) + m_lineShift);
}

bool XmlParser::feedExpat(std::string_view bytes, bool last) {
    while (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) {
        if (!feedExpat(bytes.substr(0, std::numeric_limits<int>::max() / 2), false))
            return false;
        bytes.remove_prefix(std::numeric_limits<int>::max() / 2);
    }
    const XML_Status status =
        XML_Parse(m_parser, bytes.data(), static_cast<int>(bytes.size()), last ? 1 : 0);
    if (status == XML_STATUS_OK)
        return !m_stopped && m_error.empty();
    if (m_error.empty() && !m_stopped) {
        m_error = std::string("malformed XML at line ") + std::to_string(lineNumber()) + ": " +
                  XML_ErrorString(XML_GetErrorCode(m_parser));
    }
    return false;
}

std::int64_t XmlParser::byteIndex() const {
    return m_scanning ? m_tagIndex : XML_GetCurrentByteIndex(m_parser) + m_indexShift;
}

void XmlParser::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    if (!m_scanning)
        XML_StopParser(m_parser, XML_FALSE);
}

void XmlParser::refuse(std::string why) {
    if (m_error.empty())
        m_error = std::move(why);
    if (!m_scanning)
        XML_StopParser(m_parser, XML_FALSE);
}

void XmlParser::malformed(int expatError) {
    // The scanner leaves the tag to expat, which refuses it with its own words.
    if (m_scanning) {
        m_unsure = true;
        return;
    }
    refuse("malformed XML at line " + std::to_string(lineNumber()) + ": " +
           XML_ErrorString(static_cast<XML_Error>(expatError)));
}

bool XmlParser::split(std::string_view qualified, std::string_view& prefix,
                      std::string_view& local) const {
    const std::size_t colon = colonIn(qualified);
    if (colon == std::string_view::npos) {
        prefix = {};
        local = qualified;
        return true;
    }
    // The scanner took only names of ASCII name characters with at most one colon, between
    // two of them.
    if (m_scanning) {
        prefix = qualified.substr(0, colon);
        local = qualified.substr(colon + 1);
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

const std::string_view* XmlParser::lookup(std::string_view prefix) const {
    // A slot for each prefix by its length and end bytes: those of a part's usual names (a
    // dozen in an OpenDocument part) fall into slots of their own.
    const std::size_t slot = prefix.empty()
                                 ? 0
                                 : (prefix.size() * 2 + static_cast<unsigned char>(prefix.front()) +
                                    static_cast<unsigned char>(prefix.back()) * 28) %
                                       m_found.size();
    const Binding*& found = m_found[slot];
    if (found != nullptr && sameName(found->prefix, prefix))
        return &found->uri;
    for (auto binding = m_bindings.rbegin(); binding != m_bindings.rend(); ++binding) {
        if (sameName(binding->prefix, prefix)) {
            found = &*binding;
            return &binding->uri;
        }
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
    std::string_view kept = uri;
    if (!uri.empty()) {
        const std::string* interned = internedUri(uri);
        kept = interned != nullptr ? std::string_view(*interned) : m_ownUris.emplace_back(uri);
    }
    // (resolveStart forgets the bindings found once the declarations are bound.)
    m_bindings.push_back({std::string(prefix), kept, m_depth});
    return true;
}

bool XmlParser::resolveStart(std::string_view name, std::span<const RawAttribute> attributes) {
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
    const std::size_t bindings = m_bindings.size();
    for (const RawAttribute& raw : attributes) {
        if (!split(raw.name, prefix, local)) {
            malformed(XML_ERROR_INVALID_TOKEN);
            return false;
        }
        if (prefix.empty() && local == "xmlns") {
            if (!bind({}, raw.value))
                return false;
        } else if (prefix == "xmlns") {
            if (!bind(local, raw.value))
                return false;
        } else {
            m_attributes.push_back({{prefix, local}, raw.value});
            prefixed = prefixed || !prefix.empty();
        }
    }
    if (m_bindings.size() != bindings)
        m_found.fill(nullptr);
    if (prefixed) {
        for (std::size_t i = 0; i < m_attributes.size(); ++i) {
            XmlName& attribute = m_attributes[i].name;
            if (attribute.uri.empty())
                continue;  // no namespace: an attribute is not in the default one
            const std::string_view* uri = lookup(attribute.uri);
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
    const std::string_view* uri = lookup(m_name.uri);
    if (uri == nullptr && !m_name.uri.empty()) {
        malformed(XML_ERROR_UNBOUND_PREFIX);
        return false;
    }
    m_name.uri = uri != nullptr ? *uri : std::string_view();
    m_openUris.push_back(m_name.uri);
    return true;
}

bool XmlParser::startTag(std::string_view name, std::span<const RawAttribute> attributes,
                         bool scanning) {
    ++m_depth;
    const std::size_t bindings = m_bindings.size();
    if (!resolveStart(name, attributes)) {
        if (scanning) {
            --m_depth;
            while (m_bindings.size() > bindings)
                m_bindings.pop_back();
            m_found.fill(nullptr);
            m_unsure = false;
        }
        return false;
    }
    if (m_depth > m_limits.maxDepth) {
        refuse("XML nested deeper than " + std::to_string(m_limits.maxDepth));
        return false;
    }
    m_handler.startElement(m_name, XmlAttributes(m_attributes));
    return true;
}

void XmlParser::endTag(std::string_view qualified) {
    // The start tag had the same name, split and resolved then.
    const std::size_t colon = colonIn(qualified);
    const std::string_view local =
        colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
    const std::string_view uri = m_openUris.back();
    m_openUris.pop_back();
    m_handler.endElement({uri, local});
    if (m_bindings.back().depth != m_depth || m_depth == 0)
        return;
    while (m_bindings.back().depth == m_depth)
        m_bindings.pop_back();
    m_found.fill(nullptr);
}

void XmlParser::onStart(void* self, const char* name, const char** attributes) {
    auto& parser = *static_cast<XmlParser*>(self);
    if (parser.m_priming)
        return;
    if (!parser.m_error.empty() || parser.m_stopped) {
        ++parser.m_depth;
        return;
    }
    parser.m_rawAttributes.clear();
    for (const char** p = attributes; *p != nullptr; p += 2)
        parser.m_rawAttributes.push_back({p[0], p[1]});
    parser.startTag(name, parser.m_rawAttributes, false);
}

void XmlParser::onEnd(void* self, const char* name) {
    auto& parser = *static_cast<XmlParser*>(self);
    if (parser.m_priming)
        return;
    if (parser.m_error.empty() && !parser.m_stopped)
        parser.endTag(name);
    if (parser.m_depth > 0)
        --parser.m_depth;
}

void XmlParser::onInstruction(void* self, const char* target, const char* /*data*/) {
    if (static_cast<XmlParser*>(self)->m_priming)
        return;
    // A colon in a target is malformed to expat's namespace mode.
    if (std::strchr(target, ':') != nullptr)
        static_cast<XmlParser*>(self)->malformed(XML_ERROR_INVALID_TOKEN);
}

void XmlParser::onCharacters(void* self, const char* text, int length) {
    auto& parser = *static_cast<XmlParser*>(self);
    if (parser.m_priming || !parser.m_error.empty() || parser.m_stopped || length <= 0)
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
