#include "documents/part_parser.h"

namespace ferretta::documents {

void PartHandler::refuse(std::string why) {
    if (m_refusal.empty())
        m_refusal = std::move(why);
    if (m_parser != nullptr)
        m_parser->stop();
}

std::string parsePart(ZipArchive& archive, std::string_view name, PartHandler& handler,
                      const ReadLimits& limits) {
    XmlParser parser(handler, limits);
    handler.m_parser = &parser;
    handler.m_refusal.clear();
    std::string why;
    const bool streamed = archive.stream(
        name, [&](std::string_view chunk) { return parser.feed(chunk, false); }, why);
    if (streamed && parser.error().empty() && !parser.stopped())
        parser.feed({}, true);
    handler.m_parser = nullptr;
    if (!handler.refusal().empty())
        return std::string(name) + ": " + handler.refusal();
    if (!parser.error().empty())
        return std::string(name) + ": " + parser.error();
    if (!streamed)
        return why;
    return {};
}

}  // namespace ferretta::documents
