#pragma once
// Parsing one XML part of a zip package: the part is inflated in chunks into the streaming
// parser, so that a large part never sits in memory whole.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "documents/read_limits.h"
#include "documents/xml_parser.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// A handler that may give up on the part: refuse() ends the parse with a reason.
class PartHandler : public XmlHandler {
  public:
    // Ends the parse after the current callback; the first reason given is kept.
    void refuse(std::string why);
    const std::string& refusal() const { return m_refusal; }

  private:
    template <class Feed>
    friend std::string parseWith(std::string_view, PartHandler&, const ReadLimits&, Feed&&);
    XmlParser* m_parser = nullptr;
    std::string m_refusal;
};

// A handler that keeps a context of its own for each open element: an element's context
// follows from its parent's (Context::Document for the root) and its own name. Once the
// handler refused the part, no more contexts are asked for.
template <class Context>
class ContextHandler : public PartHandler {
  public:
    void startElement(const XmlName& name, const XmlAttributes& attributes) final {
        m_stack.push_back(childContext(current(), name, attributes));
    }
    void endElement(const XmlName& /*name*/) final {
        const Context ending = m_stack.back();
        m_stack.pop_back();
        if (refusal().empty())
            ended(ending);
    }

  protected:
    virtual Context childContext(Context parent, const XmlName& name,
                                 const XmlAttributes& attributes) = 0;
    // The element of the context ends.
    virtual void ended(Context /*context*/) {}
    Context current() const { return m_stack.empty() ? Context::Document : m_stack.back(); }
    // Refuses the part for an element met where it is not read; answers the context of an
    // element whose content is not read.
    Context unexpected(const XmlName& name, std::string_view where) {
        refuse("the element " + std::string(name.local) + " " + std::string(where));
        return Context::Skip;
    }

  private:
    std::vector<Context> m_stack;
};

// Parses the entry `name` through `handler`. Empty when the whole part was read; otherwise why
// not: the handler's refusal, the parser's complaint (malformed, a document type, too deep) or
// the archive's (missing, damaged, over a bound), with the part's name.
std::string parsePart(ZipArchive& archive, std::string_view name, PartHandler& handler,
                      const ReadLimits& limits);

// Parses the pieces, one after the other, as the part `name` held in memory; the same answers.
std::string parsePieces(std::initializer_list<std::string_view> pieces, std::string_view name,
                        PartHandler& handler, const ReadLimits& limits);

}  // namespace ferretta::documents
