#pragma once
// Parsing one XML part of a zip package: the part is inflated in chunks into the streaming
// parser, so that a large part never sits in memory whole.
#include <string>
#include <string_view>

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
    friend std::string parsePart(ZipArchive&, std::string_view, PartHandler&, const ReadLimits&);
    XmlParser* m_parser = nullptr;
    std::string m_refusal;
};

// Parses the entry `name` through `handler`. Empty when the whole part was read; otherwise why
// not: the handler's refusal, the parser's complaint (malformed, a document type, too deep) or
// the archive's (missing, damaged, over a bound), with the part's name.
std::string parsePart(ZipArchive& archive, std::string_view name, PartHandler& handler,
                      const ReadLimits& limits);

}  // namespace ferretta::documents
