// Fuzzes the standard security handler: the input's first line is an encryption dictionary
// (and, after a tab, the file's first identifier), the rest the data of a string and of a
// stream. Whatever they hold, opening and decrypting must answer without a crash, a hang or a
// leak, and decryption never makes the data longer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/pdf_objects.h"
#include "pdf/engine/pdf_reader.h"
#include "pdf/engine/security_handler.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace ferretta;
    using namespace ferretta::pdf;
    const std::string_view input(reinterpret_cast<const char*>(bytes), size);
    const std::size_t lineEnd = std::min(input.find('\n'), input.size());
    std::string_view line = input.substr(0, lineEnd);
    const std::string_view rest = input.substr(std::min(lineEnd + 1, input.size()));
    std::string_view id;
    if (const std::size_t tab = line.find('\t'); tab != std::string_view::npos) {
        id = line.substr(tab + 1);
        line = line.substr(0, tab);
    }

    PdfReader reader;
    reader.openMemory(line);
    PdfObjects objects(reader);
    PdfValue dict;
    try {
        dict = objects.parseValue();
    } catch (const Error& failure) {
        if (failure.kind() != Error::Kind::Other)
            std::abort();
        return 0;
    }
    SecurityHandler handler;
    if (handler.open(dict, id) != SecurityHandler::Status::Opened)
        return 0;
    (void)handler.describe();
    std::string string(rest);
    handler.decryptString(7, 0, string);
    std::string stream(rest);
    std::vector<Filter> filters = {{"/Crypt", {}}, {"/FlateDecode", {}}};
    filters[0].params.cryptFilter = rest.empty() ? "StdCF" : std::string(rest.substr(0, 5));
    handler.decryptStream(12, 3, stream, filters);
    if (string.size() > rest.size() || stream.size() > rest.size() || filters.size() != 1)
        std::abort();
    return 0;
}
