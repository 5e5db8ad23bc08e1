#include "documents/part_parser.h"

namespace ferretta::documents {

void PartHandler::refuse(std::string why) {
    if (m_refusal.empty())
        m_refusal = std::move(why);
    if (m_parser != nullptr)
        m_parser->stop();
}

// Feeds the handler's parser as `feed` does and answers why the part was not read whole.
template <class Feed>
std::string parseWith(std::string_view name, PartHandler& handler, const ReadLimits& limits,
                      Feed&& feed) {
    XmlParser parser(handler, limits);
    handler.m_parser = &parser;
    handler.m_refusal.clear();
    std::string why = feed(parser);
    handler.m_parser = nullptr;
    if (!handler.refusal().empty())
        return std::string(name) + ": " + handler.refusal();
    if (!parser.error().empty())
        return std::string(name) + ": " + parser.error();
    return why;
}

std::string parsePart(ZipArchive& archive, std::string_view name, PartHandler& handler,
                      const ReadLimits& limits) {
    return parseWith(name, handler, limits, [&](XmlParser& parser) {
        std::string why;
        const bool streamed = archive.stream(
            name, [&](std::string_view chunk) { return parser.feed(chunk, false); }, why);
        if (streamed && parser.error().empty() && !parser.stopped())
            parser.feed({}, true);
        return streamed ? std::string() : why;
    });
}

std::string parsePieces(std::initializer_list<std::string_view> pieces, std::string_view name,
                        PartHandler& handler, const ReadLimits& limits) {
    return parseWith(name, handler, limits, [&](XmlParser& parser) {
        std::size_t left = pieces.size();
        for (const std::string_view piece : pieces) {
            if (!parser.feed(piece, --left == 0))
                break;
        }
        return std::string();
    });
}

}  // namespace ferretta::documents
