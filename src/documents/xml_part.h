#pragma once
// One XML part of a package parsed by a handler that may refuse the document: the handler says
// why and the parse ends there.
#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "documents/read_limits.h"
#include "documents/xml_parser.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// Whether an element's local name is one of `names`.
inline bool oneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

class XmlPartHandler : public XmlHandler {
  public:
    const std::string& refusal() const { return m_refusal; }

  protected:
    // Ends the parse; the part (and so the document) is not read.
    void refuse(std::string why) {
        if (m_refusal.empty())
            m_refusal = std::move(why);
        if (m_parser != nullptr)
            m_parser->stop();
    }
    bool refused() const { return !m_refusal.empty(); }

    // Element depth and skipped subtrees. enter() at each start answers false inside a skipped
    // subtree; leave() at each end answers false inside one or at its end, `ended` the depth
    // of the element that ends.
    bool enter() {
        ++m_level;
        return m_skipFrom == 0;
    }
    bool leave(std::size_t& ended) {
        ended = m_level--;
        if (m_skipFrom == 0)
            return true;
        if (ended == m_skipFrom)
            m_skipFrom = 0;
        return false;
    }
    // Nothing below the element that just began is handed to the handler.
    void skipSubtree() { m_skipFrom = m_level; }
    bool skipping() const { return m_skipFrom != 0; }
    std::size_t level() const { return m_level; }

  private:
    friend bool parsePart(ZipArchive&, std::string_view, XmlPartHandler&, const ReadLimits&,
                          std::string&);
    XmlParser* m_parser = nullptr;
    std::string m_refusal;
    std::size_t m_level = 0;
    std::size_t m_skipFrom = 0;
};

// Streams the entry `name` through `handler`. False, with `why`, when the entry is missing,
// damaged, over a limit, malformed XML, or refused by the handler.
bool parsePart(ZipArchive& archive, std::string_view name, XmlPartHandler& handler,
               const ReadLimits& limits, std::string& why);

}  // namespace ferretta::documents
