#include "platform/line_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/cp932.h"
#include "platform/error.h"
#include "platform/unicode.h"
#include "support/encodings.h"
#include "support/temp_tree.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

// The file form of UTF-8 text in an encoding.
std::string encode(const std::string& utf8, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Cp932:
            return utf8ToCp932(utf8);
        case TextEncoding::Utf8:
            return utf8;
        case TextEncoding::Utf8Bom:
            return "\xEF\xBB\xBF" + utf8;
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be:
            return test::utf16Bytes(utf8ToUtf16(utf8), encoding == TextEncoding::Utf16Be);
    }
    return {};
}

std::vector<std::string> readAllLines(const fs::path& p) {
    LineReader reader(p);
    std::vector<std::string> lines;
    while (!reader.atEndOfStream())
        lines.push_back(reader.readLine());
    EXPECT_EQ(reader.readLine(), "");  // past the end: nothing, no throw
    return lines;
}

using Lines = std::vector<std::string>;

struct TerminatorCase {
    const char* name;
    std::string text;  // UTF-8
    Lines expected;
    bool cp932 = true;  // the text has a CP932 form
};

const TerminatorCase kTerminatorCases[] = {
    {"Empty", "", {}},
    {"NoTerminator", "a", {"a"}},
    {"Lf", "a\n", {"a"}},
    {"TwoCr", "\r\r", {"", ""}},
    {"LfCrLf", "a\n\r\n", {"a", ""}},
    {"Mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
    // U+010A and U+0D0A hold the bytes of LF and CR in UTF-16; they end no line.
    {"Utf16UnitsNotBytes", "\u010A\u0D0A\n\u0D0D", {"\u010A\u0D0A", "\u0D0D"}, false}};

const TextEncoding kEncodings[] = {TextEncoding::Cp932, TextEncoding::Utf8, TextEncoding::Utf8Bom,
                                   TextEncoding::Utf16Le, TextEncoding::Utf16Be};

TEST(LineReaderTest, TerminatorsInEveryEncoding) {
    const test::TempTree folder;
    for (const TextEncoding encoding : kEncodings) {
        for (const TerminatorCase& c : kTerminatorCases) {
            if (encoding == TextEncoding::Cp932 && !c.cp932)
                continue;
            SCOPED_TRACE(std::string(c.name) + " encoding " +
                         std::to_string(static_cast<int>(encoding)));
            const fs::path p = folder.write("t.txt", encode(c.text, encoding));
            EXPECT_EQ(readAllLines(p), c.expected);
        }
    }
}

// The encoding is decided at the first non-ASCII byte, however far into the file; a BOM decides
// at once. encoding() tells it after the first line is read.
TEST(LineReaderTest, EncodingAndRawLines) {
    const test::TempTree folder;
    const std::string asciiLines = std::string(100000, 'a') + "\n";
    const std::tuple<std::string, TextEncoding, std::string> cases[] = {
        {"\xE6\x97\xA5\n", TextEncoding::Utf8, "\xE6\x97\xA5"},
        {"\xEF\xBB\xBF", TextEncoding::Utf8Bom, ""},
        {std::string("\xFF\xFEx\0\n\0", 6), TextEncoding::Utf16Le, std::string("x\0", 2)},
        {std::string("\xFE\xFF\0x\0\r\0\n", 8), TextEncoding::Utf16Be, std::string("\0x", 2)}};
    for (const auto& [bytes, encoding, firstRaw] : cases) {
        LineReader reader(folder.write("e.txt", bytes));
        EXPECT_EQ(reader.readRawLine(), firstRaw);
        EXPECT_EQ(reader.encoding(), encoding);
        EXPECT_TRUE(reader.atEndOfStream());
    }
    // 100 KB of ASCII lines first: the Japanese after them is UTF-8 all the same, or CP932.
    for (const auto& [japanese, encoding] :
         {std::pair{std::string("日本語\n"), TextEncoding::Utf8},
          std::pair{utf8ToCp932("日本語\n"), TextEncoding::Cp932}}) {
        const fs::path late = folder.write("late.txt", asciiLines + japanese);
        EXPECT_EQ(readAllLines(late), (Lines{asciiLines.substr(0, 100000), "日本語"}));
        LineReader reader(late);
        reader.readLine();
        EXPECT_EQ(reader.encoding(), TextEncoding::Cp932);  // not decided yet: ASCII so far
        reader.readLine();
        EXPECT_EQ(reader.encoding(), encoding);
    }
    // An odd byte at the end of UTF-16 is one U+FFFD.
    const fs::path odd = folder.write("odd.txt", std::string("\xFF\xFEx\0\n\0y", 7));
    EXPECT_EQ(readAllLines(odd), (Lines{"x", "\xEF\xBF\xBD"}));
}

// A CR at the end of one read and its LF at the start of the next must still be one line end;
// the same for a CR that ends the buffered part of a line longer than the buffer.
TEST(LineReaderTest, CrLfAcrossBufferBoundaries) {
    const test::TempTree folder;
    for (const std::size_t boundary : {128u << 10, 1u << 20, 2u << 20}) {
        for (const int shift : {-2, -1, 0, 1}) {
            const std::size_t crAt = boundary + static_cast<std::size_t>(shift + 4) - 5;
            SCOPED_TRACE("CR at " + std::to_string(crAt));
            const std::string first(crAt, 'x');
            const fs::path p8 = folder.write("b8.txt", first + "\r\ny\r\n");
            EXPECT_EQ(readAllLines(p8), (Lines{first, "y"}));
            const std::string half((crAt - 2) / 2, 'x');
            const fs::path p16 =
                folder.write("b16.txt", encode(half + "\r\ny\r\n", TextEncoding::Utf16Le));
            const Lines lines = readAllLines(p16);
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[0].size(), half.size());
        }
    }
}

// Lines longer than the buffer are handed on in pieces; a character cut between two pieces
// must decode as it does whole.
TEST(LineReaderTest, LongLinesDecodeAcrossPieces) {
    const test::TempTree folder;
    std::string utf8;
    for (int i = 0; i < 400000; ++i) {
        utf8 += "a\xE3\x81\x82\xF0\x9F\x98\x80";  // 1, 3 and 4 bytes; 2 and 3 units in UTF-16
    }
    for (const TextEncoding encoding : kEncodings) {
        SCOPED_TRACE(static_cast<int>(encoding));
        const std::string bytes = encode(utf8, encoding);
        const std::string expected = encoding == TextEncoding::Cp932 ? cp932ToUtf8(bytes) : utf8;
        const fs::path p = folder.write("long.txt", encode(utf8 + "\r\nend", encoding));
        LineReader reader(p);
        const std::string line = reader.readLine();
        EXPECT_TRUE(line == expected) << "line of " << line.size() << " bytes differs";
        EXPECT_EQ(reader.readLine(), "end");
        EXPECT_TRUE(reader.atEndOfStream());
    }
    // Invalid UTF-8 past the detection sample is replaced the same way in pieces.
    std::string broken = "\xE3\x81\x82" + std::string(70000, 'a');
    for (int i = 0; i < 300000; ++i)
        broken += "\xE3\x81\xFF\x80";
    const fs::path p = folder.write("broken.txt", broken);
    LineReader reader(p);
    EXPECT_TRUE(reader.readLine() == utf16ToUtf8(utf8ToUtf16(broken)));
    EXPECT_EQ(reader.encoding(), TextEncoding::Utf8);
}

// A line longer than kMaxLineBytes is cut there (the rest passed over, the next line read as
// usual); one nearly as long is sized ahead, not grown by doubling to twice its size.
TEST(LineReaderTest, LongLinesAreSizedAheadAndCut) {
    const test::TempTree folder;
    const std::string big(kMaxLineBytes - 100, 'q');
    const fs::path p = folder.write("big.txt", "short\n" + big + "\n" + big + big + "\r\nz");
    LineReader reader(p);
    EXPECT_EQ(reader.readRawLine(), "short");
    const std::string line = reader.readRawLine();
    EXPECT_TRUE(line == big);
    EXPECT_FALSE(reader.lineWasCut());
    EXPECT_LT(line.capacity(), big.size() + (1u << 20));
    EXPECT_EQ(reader.readLine().size(), kMaxLineBytes);
    EXPECT_TRUE(reader.lineWasCut());
    EXPECT_EQ(reader.readRawLine(), "z");
}

// The edges of the decision the reader tests above do not reach.
TEST(LineReaderTest, DetectsEncoding) {
    struct Case {
        const char* name;
        std::string head;
        std::optional<TextEncoding> expected;
    };
    std::string kana;  // more than a few chunks of the vector loop
    for (int i = 0; i < 21; ++i)
        kana += "あ";
    const Case cases[] = {
        {"Cp932Japanese", "\x93\xFA\x96\x7B\x8C\xEA", TextEncoding::Cp932},
        {"LongUtf8CutAtSampleEnd", "x" + kana + "\xE3\x81", TextEncoding::Utf8},
        {"CutInsideALongRun", kana + "\xE3\x81x" + kana, TextEncoding::Cp932},
        {"OverlongAfterALongRun", kana + "\xE0\x80\x80", TextEncoding::Cp932},
        {"Utf8CutAtSampleEnd", "\xE3\x81\x82\xE3\x81", TextEncoding::Utf8},
        {"OnlyACutSequence", "abc\xE3\x81", TextEncoding::Cp932},
        {"InvalidUtf8", "\xE3\x81\x82\xFF", TextEncoding::Cp932},
        {"HalfABom", "\xFF", TextEncoding::Cp932},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detectTextEncoding(c.head), c.expected) << c.name;
}

// A missing file, a folder, a FIFO without a writer and a device (which must neither block the
// open nor feed an endless line) are refused with an error that names the file.
TEST(LineReaderTest, OpenFailuresThrow) {
    const test::TempTree folder;
    const fs::path fifo = folder.root() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& path :
         {folder.root() / "missing.txt", folder.root(), fifo, fs::path("/dev/zero")}) {
        try {
            LineReader reader(path);
            ADD_FAILURE() << "no exception for " << path;
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), Error::Kind::FileOpen) << path;
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace ferretta::platform
