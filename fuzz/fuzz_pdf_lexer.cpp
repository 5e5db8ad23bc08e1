// Fuzzes the lexer of PDF syntax, alone with both separator sets, through the byte reader's
// window (the object parser's way in) and through the content-stream reader: whatever the bytes,
// every token lies inside the data, the position only moves forward, and nothing crashes,
// hangs or leaks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "pdf/engine/content_stream.h"
#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/lexer.h"
#include "pdf/engine/pdf_reader.h"

namespace {

using namespace ferretta::pdf;

void lexAll(std::string_view data, Separators separators) {
    Lexer lexer(data, separators);
    lexer.setStringLimit(64);
    std::string strings;
    std::size_t last = 0;
    for (;;) {
        const Token token = lexer.next(&strings);
        if (lexer.position() < last || lexer.position() > data.size())
            std::abort();
        if (!token.text.empty() &&
            (token.text.data() < data.data() ||
             token.text.data() + token.text.size() > data.data() + data.size()))
            std::abort();
        if (token.kind == TokenKind::End)
            break;
        if (lexer.position() == last)
            std::abort();  // a token that takes no byte would loop for ever
        last = lexer.position();
        if (token.kind == TokenKind::Keyword && token.text == "ID")
            lexer.skipInlineImageData();
        if (strings.size() > 1 << 16)
            strings.clear();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view data(reinterpret_cast<const char*>(bytes), size);
    lexAll(data, Separators::Iso);
    lexAll(data, Separators::Design);

    PdfReader reader;
    reader.openMemory(data);
    for (std::int64_t previous = -1; reader.p2tGetPosition() > previous && !reader.p2tIsEOF();) {
        previous = reader.p2tGetPosition();
        std::string strings;
        (void)reader.nextToken(&strings);
        (void)reader.p2tGetToken();
        if (strings.size() > PdfReader::maxStringBytes)
            std::abort();
    }

    static const CidTable table;
    ContentTextExtractor extractor(table);
    extractor.beginPage(nullptr);
    (void)extractor.extract(data);
    return 0;
}
