#pragma once
// A streaming XML parser (expat) for the parts of Office documents. Namespaces are resolved:
// handlers see an element's namespace URI and local name, whatever prefix the file used. The
// resolution is done here rather than by expat's namespace mode, which copied every URI into
// every name and took close to half of the parse; a document is refused exactly where expat's
// namespace mode refuses it (an unbound or reserved prefix, a colon out of place in a name, an
// attribute twice under two prefixes of one URI).
// The common forms of a part (UTF-8, elements, attributes, the predefined entities and character
// references, CDATA sections, comments) are read by a scanner of our own, some times faster than
// expat; at the first construct it does not know for certain, expat is led to the same place
// (the open elements' start tags, their events dropped) and reads the rest, so that events and
// refusals are exactly expat's (a fuzz target compares the two).
// Hostile input is refused rather than expanded: a document type declaration (no Office part
// has one, and entity bombs need one) stops the parse, no external entity is ever fetched, and
// nesting deeper than ReadLimits::maxDepth stops the parse.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "documents/read_limits.h"

typedef struct XML_ParserStruct* XML_Parser;

namespace ferretta::documents {

// Whether two names (or prefixes) are the same bytes. They are a few bytes long: a loop, not a
// call to memcmp for each.
inline bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

struct XmlName {
    std::string_view uri;    // empty for no namespace
    std::string_view local;  // the name without its prefix
    bool is(std::string_view u, std::string_view l) const { return sameName(local, l) && uri == u; }
};

struct XmlAttribute {
    XmlName name;
    std::string_view value;
};

// An element's attributes, namespace declarations left out; views valid during the call only.
class XmlAttributes {
  public:
    explicit XmlAttributes(std::span<const XmlAttribute> list) : m_list(list) {}
    // The value of an attribute; empty when the element does not have it.
    std::string_view value(std::string_view uri, std::string_view local) const {
        const XmlAttribute* found = find(uri, local);
        return found != nullptr ? found->value : std::string_view();
    }
    bool has(std::string_view uri, std::string_view local) const {
        return find(uri, local) != nullptr;
    }
    // Calls visit(name, value) for each attribute, in document order.
    template <class Visit>
    void forEach(Visit&& visit) const {
        for (const XmlAttribute& attribute : m_list)
            visit(attribute.name, attribute.value);
    }

  private:
    const XmlAttribute* find(std::string_view uri, std::string_view local) const {
        for (const XmlAttribute& attribute : m_list) {
            if (attribute.name.is(uri, local))
                return &attribute;
        }
        return nullptr;
    }
    std::span<const XmlAttribute> m_list;
};

class XmlHandler {
  public:
    virtual ~XmlHandler() = default;
    virtual void startElement(const XmlName& /*name*/, const XmlAttributes& /*attributes*/) {}
    virtual void endElement(const XmlName& /*name*/) {}
    // Character data, in pieces of any size (one text node may arrive in several calls).
    virtual void characters(std::string_view /*text*/) {}
};

class XmlParser {
  public:
    XmlParser(XmlHandler& handler, const ReadLimits& limits);
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Parses the next piece of the document (`last` for the final one, which may be empty).
    // False once the document is malformed, refused, or stopped; error() says why.
    bool feed(std::string_view bytes, bool last);

    // Called from a handler: ends the parse after the current callback (feed answers false,
    // stopped() true).
    void stop();
    bool stopped() const { return m_stopped; }
    const std::string& error() const { return m_error; }
    std::size_t depth() const { return m_depth; }
    // Called from a handler: the offset, in all the bytes fed so far, of the start of what is
    // being reported (the '<' of an element's start tag).
    std::int64_t byteIndex() const;

  private:
    struct RawAttribute {
        std::string_view name;   // qualified
        std::string_view value;  // decoded
    };
    enum class Scanned {
        Read,   // up to `at`
        More,   // up to `at`; the rest is kept for more bytes
        Expat,  // expat reads on from `at`
        Ended,  // stopped or refused
    };
    // The scanner (xml_scanner.cpp): reads `bytes` from `at` as far as it can.
    Scanned scan(std::string_view bytes, bool last, std::size_t& at);
    Scanned scanStartTag(std::string_view bytes, bool last, std::size_t& at);
    Scanned scanEndTag(std::string_view bytes, bool last, std::size_t& at);
    Scanned scanMarkup(std::string_view bytes, bool last, std::size_t& at);
    Scanned scanProlog(std::string_view bytes, bool last, std::size_t& at);
    // Hands out character data the scanner has checked, its `references` resolved; false
    // once stopped.
    bool text(std::string_view run, bool references);
    bool makeExpat();
    // Hands the rest to expat, led first to the scanner's place.
    bool fallBack(std::string_view rest, bool last);
    bool feedExpat(std::string_view bytes, bool last);
    std::uint64_t lineNumber() const;

    // An element's start and end, from either reader. startTag answers false, having changed
    // nothing, where the scanner must leave the tag to expat (`scanning`), and once refused.
    bool startTag(std::string_view name, std::span<const RawAttribute> attributes, bool scanning);
    void endTag(std::string_view name);

    static void onStart(void* self, const char* name, const char** attributes);
    static void onEnd(void* self, const char* name);
    static void onCharacters(void* self, const char* text, int length);
    static void onInstruction(void* self, const char* target, const char* data);
    static void onDoctype(void* self, const char* name, const char* sysid, const char* pubid,
                          int hasInternalSubset);
    static void onEntity(void* self, const char* name, int parameter, const char* value, int length,
                         const char* base, const char* sysid, const char* pubid,
                         const char* notation);
    void refuse(std::string why);
    // Refuses the document as expat does for a malformed start tag at the current position.
    void malformed(int expatError);
    // Binds the namespace declarations among the attributes and resolves the element's and the
    // other attributes' names into m_name and m_attributes. False once refused.
    bool resolveStart(std::string_view name, std::span<const RawAttribute> attributes);
    bool bind(std::string_view prefix, std::string_view uri);
    // The URI bound to `prefix` (the default namespace for an empty one); null when unbound.
    const std::string_view* lookup(std::string_view prefix) const;
    // The name as a namespace-aware parser reads it; false for one expat's namespace mode
    // takes for malformed.
    bool split(std::string_view qualified, std::string_view& prefix, std::string_view& local) const;

    struct Binding {
        std::string prefix;    // empty for the default namespace
        std::string_view uri;  // interned (see bind); empty when the default one is undeclared
        std::size_t depth;     // of the element that declared it
    };

    XmlHandler& m_handler;
    ReadLimits m_limits;
    XML_Parser m_parser;
    std::size_t m_depth = 0;
    // The innermost last. The URIs handed out live elsewhere (interned, or in m_ownUris), so
    // that they stay where they are while inner elements bind and unbind.
    std::vector<Binding> m_bindings;
    std::deque<std::string> m_ownUris;  // those the thread's table had no room for
    // The bindings lookup() found, by their prefix, until the bindings change: the names of a
    // part share a few prefixes, which a walk through the root's many declarations found each
    // time.
    mutable std::array<const Binding*, 64> m_found{};
    std::vector<std::string_view> m_openUris;  // of the elements open, the innermost last
    XmlName m_name;
    std::vector<XmlAttribute> m_attributes;
    bool m_stopped = false;
    std::string m_error;

    // The scanner's state.
    enum class Phase : std::uint8_t { Prolog, Content, Epilogue };
    bool m_scanning = true;  // false once expat reads
    bool m_priming = false;  // expat is being led to the scanner's place: no events
    bool m_unsure = false;   // a name or declaration the scanner leaves to expat
    bool m_started = false;  // the byte-order mark and XML declaration are read
    Phase m_phase = Phase::Prolog;
    std::string m_pending;   // bytes not read yet, kept for the next piece
    std::string m_prolog;    // the bytes read before the root element
    std::string m_openTags;  // the start tags of the open elements, as written
    std::vector<std::pair<std::size_t, std::size_t>> m_openNames;  // in m_openTags
    std::vector<RawAttribute> m_rawAttributes;
    std::vector<std::string> m_decoded;  // attribute values with references or white space
    std::vector<std::size_t> m_decodedOf;
    std::int64_t m_offset = 0;    // of the first byte not yet read, in all the bytes fed
    std::int64_t m_tagIndex = 0;  // byteIndex() while the scanner reads
    std::int64_t m_indexShift = 0;
    std::int64_t m_lines = 0;  // line breaks read by the scanner
    std::int64_t m_lineShift = 0;
};

}  // namespace ferretta::documents
