// The byte reader: the window buffer and the token budget (its tokens are the lexer's, tested
// there; its seeks, numbers and the objects it reads from memory, by every generated file).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pdf/engine/pdf_reader.h"
#include "pdf/engine/pdf_test_support.h"
#include "platform/error.h"

namespace ferretta::pdf {
namespace {

TEST(PdfReaderFile, TokensAcrossWindowBoundariesAndBigReads) {
    // Tokens that straddle the 64 KiB window, a string longer than the window, and a block
    // read larger than the window; from a file and from memory.
    std::string content;
    while (content.size() < 3 * PdfReader::windowSize)
        content += "/Name" + std::to_string(content.size()) + " ";
    const std::string longString = "(" + std::string(PdfReader::windowSize + 10, 'x') + ")";
    content += longString + " /End ";
    const std::string file = "%" + content;
    const std::string path = test::writeTemp("window.bin", file);
    for (const bool inMemory : {false, true}) {
        PdfReader reader;
        if (inMemory)
            reader.openMemory(file);
        else
            reader.open(path);
        std::int64_t pos = 1;
        reader.p2tSeek(pos);
        std::string joined;
        for (;;) {
            std::string_view token = reader.p2tGetToken();
            if (token.empty())
                break;
            joined +=
                (token.size() == PdfReader::maxTokenLength ? longString : std::string(token)) + " ";
        }
        EXPECT_EQ(joined, content) << inMemory;
        pos = 1;
        reader.p2tSeek(pos);
        EXPECT_EQ(reader.p2tGetBytes(static_cast<std::int64_t>(content.size()) + 100), content);
    }
}

TEST(PdfTokenizer, BudgetStopsEndlessReading) {
    PdfReader reader;
    const std::string input(1000, 'a');
    reader.useMemory(std::make_shared<const std::string>(input), 0, input.size());
    reader.setTokenBudget(2);
    reader.p2tGetToken();
    reader.p2tGetToken();
    EXPECT_THROW(reader.p2tGetToken(), Error);
}

}  // namespace
}  // namespace ferretta::pdf
