#include "documents/xml_part.h"

namespace ferretta::documents {

bool parsePart(ZipArchive& archive, std::string_view name, XmlPartHandler& handler,
               const ReadLimits& limits, std::string& why) {
    XmlParser parser(handler, limits);
    handler.m_parser = &parser;
    const auto failed = [&] {
        if (handler.refused()) {
            why = handler.refusal();
            return true;
        }
        if (!parser.error().empty()) {
            why = std::string(name) + ": " + parser.error();
            return true;
        }
        return false;
    };
    const bool streamed = archive.stream(
        name, [&](std::string_view chunk) { return parser.feed(chunk, false); }, why);
    bool ok = streamed && !failed();
    if (ok && !parser.feed({}, true))
        ok = !failed();
    handler.m_parser = nullptr;
    return ok;
}

}  // namespace ferretta::documents
