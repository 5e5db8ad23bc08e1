#pragma once
// A streaming XML parser (expat) for the parts of Office documents. Namespaces are resolved:
// handlers see an element's namespace URI and local name, whatever prefix the file used.
// Hostile input is refused rather than expanded: a document type declaration (no Office part
// has one, and entity bombs need one) stops the parse, no external entity is ever fetched, and
// nesting deeper than ReadLimits::maxDepth stops the parse.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "documents/read_limits.h"

typedef struct XML_ParserStruct* XML_Parser;

namespace ferretta::documents {

struct XmlName {
    std::string_view uri;    // empty for no namespace
    std::string_view local;  // the name without its prefix
    bool is(std::string_view u, std::string_view l) const { return local == l && uri == u; }
};

// An element's attributes as expat hands them over; views valid during the call only.
class XmlAttributes {
  public:
    explicit XmlAttributes(const char** pairs) : m_pairs(pairs) {}
    // The value of an attribute; empty when the element does not have it.
    std::string_view value(std::string_view uri, std::string_view local) const;
    bool has(std::string_view uri, std::string_view local) const;
    // Calls visit(name, value) for each attribute, in document order.
    template <class Visit>
    void forEach(Visit&& visit) const {
        for (const char** p = m_pairs; p != nullptr && *p != nullptr; p += 2)
            visit(split(p[0]), std::string_view(p[1]));
    }
    static XmlName split(const char* name);

  private:
    const char** m_pairs;
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
    static void onStart(void* self, const char* name, const char** attributes);
    static void onEnd(void* self, const char* name);
    static void onCharacters(void* self, const char* text, int length);
    static void onDoctype(void* self, const char* name, const char* sysid, const char* pubid,
                          int hasInternalSubset);
    static void onEntity(void* self, const char* name, int parameter, const char* value, int length,
                         const char* base, const char* sysid, const char* pubid,
                         const char* notation);
    void refuse(std::string why);

    XmlHandler& m_handler;
    ReadLimits m_limits;
    XML_Parser m_parser;
    std::size_t m_depth = 0;
    bool m_stopped = false;
    std::string m_error;
};

}  // namespace ferretta::documents
