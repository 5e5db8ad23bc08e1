// The byte reader: the seek rules, the window buffer and the token budget (its tokens are the
// lexer's, tested there).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pdf/engine/pdf_reader.h"
#include "pdf/engine/pdf_test_support.h"
#include "platform/error.h"

namespace ferretta::pdf {
namespace {

TEST(PdfReaderFile, SeekRules) {
    const std::string path = test::writeTemp("seek.bin", "0123456789");
    PdfReader reader;
    reader.open(path);
    std::int64_t pos = 0;
    EXPECT_TRUE(reader.p2tSeek(pos));
    EXPECT_EQ(pos, 1);  // offset 0 is never reachable
    EXPECT_EQ(reader.p2tGetByte(), '1');
    pos = 9;
    EXPECT_TRUE(reader.p2tSeek(pos));
    EXPECT_EQ(reader.p2tGetByte(), '9');
    EXPECT_TRUE(reader.p2tIsEOF());
    EXPECT_EQ(reader.p2tGetByte(), 0);  // past the end: 0, no failure
    pos = 10;
    EXPECT_FALSE(reader.p2tSeek(pos));
    pos = -1;
    EXPECT_FALSE(reader.p2tSeek(pos));
    EXPECT_EQ(reader.p2tGetPosition(), 10);  // unchanged by failed seeks

    pos = 3;
    reader.p2tSeek(pos);
    std::int64_t back = 100;
    EXPECT_TRUE(reader.p2tSeekBack(back));
    EXPECT_EQ(back, 1);
    EXPECT_EQ(reader.p2tGetPosition(), 1);
    EXPECT_TRUE(reader.p2tSeekLast());
    EXPECT_EQ(reader.p2tGetByte(), '9');
}

TEST(PdfReaderFile, TokenAtEndOfFileIsComplete) {
    const std::string path = test::writeTemp("eof.bin", "xx startxref\n1234");
    PdfReader reader;
    reader.open(path);
    std::int64_t pos = 3;
    reader.p2tSeek(pos);
    EXPECT_EQ(reader.p2tGetToken(), "startxref");
    EXPECT_EQ(reader.p2tGetToken(), "1234");
    EXPECT_TRUE(reader.p2tIsEOF());
    EXPECT_EQ(reader.p2tGetToken(), "");
}

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

TEST(PdfReaderFile, SavedPositionsRememberTheirSource) {
    const std::string path = test::writeTemp("source.bin", "%file tokens here");
    PdfReader reader;
    reader.open(path);
    std::int64_t pos = 1;
    reader.p2tSeek(pos);
    EXPECT_EQ(reader.p2tGetToken(), "file");
    const PdfReader::Position inFile = reader.save();
    auto memory = std::make_shared<const std::string>("skip 7 0 R tail");
    reader.useMemory(memory, 5, 10);  // "7 0 R"
    EXPECT_EQ(reader.p2tGetToken(), "7");
    const PdfReader::Position inMemory = reader.save();
    EXPECT_EQ(reader.p2tGetToken(), "0");
    EXPECT_EQ(reader.p2tGetToken(), "R");
    EXPECT_TRUE(reader.p2tIsEOF());  // limited to the object's bytes
    reader.restore(inFile);
    EXPECT_EQ(reader.p2tGetToken(), "tokens");
    reader.restore(inMemory);
    EXPECT_EQ(reader.p2tGetToken(), "0");
}

TEST(PdfNumbers, TokenToInt) {
    EXPECT_EQ(tokenToInt32("42"), 42);
    EXPECT_EQ(tokenToInt32("-7"), -7);
    EXPECT_EQ(tokenToInt32("+7"), 7);
    for (const char* bad : {"", "R", "obj", "1.5", "-", "2147483648", "99999999999999999999999"}) {
        EXPECT_THROW(tokenToInt32(bad), Error) << bad;
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
