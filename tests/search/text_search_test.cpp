#include "search/text_search.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/error.h"
#include "support/recording_host.h"
#include "support/test_context.h"

namespace ferretta::search {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        m_path = fs::temp_directory_path() /
                 ("ferretta-text-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string write(const std::string& name, const std::string& bytes) const {
        fs::path file = m_path / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }

  private:
    static inline int counter = 0;
    fs::path m_path;
};

struct Row {
    std::string content;
    std::string position;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << "{" << row.content << " @ " << row.position << "}";
}

std::vector<Row> search(const Matcher& matcher, const std::string& path, test::RecordingHost& host,
                        bool* answer = nullptr, std::size_t foldWindow = std::size_t{1} << 20) {
    SearchFlags flags;
    TextSearcher searcher(test::contextOf(host, matcher, flags), foldWindow);
    bool result = searcher.findText(path);
    if (answer)
        *answer = result;
    std::vector<Row> rows;
    for (const auto& hit : host.rows) {
        EXPECT_EQ(hit.fileType, app::FileType::Text);
        EXPECT_EQ(hit.location, path);
        rows.push_back({hit.content, hit.position});
    }
    return rows;
}

// The plain line-by-line reading the fast scanner must agree with.
std::vector<Row> reference(const Matcher& matcher, const std::string& bytes, bool cp932) {
    std::vector<Row> rows;
    std::size_t start = 0;
    std::int64_t line = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        ++line;
        std::string text = bytes.substr(start, end - start);
        if (!text.empty()) {
            if (std::int32_t column =
                    cp932 ? matcher.smartFindCp932(text) : matcher.smartFind(text)) {
                rows.push_back({cp932 ? platform::cp932ToUtf8(text) : text,
                                std::to_string(line) + "," + std::to_string(column)});
            }
        }
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
            bytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return rows;
}

TEST(FindText, ReportsLinesWithLineAndColumn) {
    TempDir dir;
    std::string bytes = platform::utf8ToCp932("abc\r\n\r\n日本語のabc\nxyz\rABC");
    std::string path = dir.write("a.txt", bytes);
    Matcher matcher(false, false);
    matcher.targetStrsSplit("abc");
    test::RecordingHost host;
    bool answer = false;
    auto rows = search(matcher, path, host, &answer);
    EXPECT_TRUE(answer);
    std::vector<Row> expected = {{"abc", "1,1"}, {"日本語のabc", "3,9"}, {"ABC", "5,1"}};
    EXPECT_EQ(rows, expected);
    ASSERT_EQ(host.captions.size(), 1u);
    EXPECT_EQ(host.captions[0], path);
    EXPECT_EQ(host.rows[0].name, "a.txt");
}

// Whole files as other tools write them; each row once failed.
TEST(FindText, FilesFromOtherTools) {
    struct Case {
        const char* name;
        const char* query;
        bool strict;
        std::string bytes;
        std::vector<Row> expected;
    };
    const std::string asciiLines = [] {
        std::string lines;
        while (lines.size() < 70000)
            lines += "2024-06-01 12:00:00 INFO nothing to see\n";
        return lines;
    }();
    const std::string asciiLineCount = std::to_string(countLineEnds(asciiLines) + 1);
    const Case cases[] = {
        // Python's cp932 codec writes the NEC-selected IBM code of 髙 (0xEEE0), Windows 0xFBFC.
        {"duplicate code, strict",
         "髙橋",
         true,
         "x\n\x82\xA8\xEE\xE0\x8B\xB4\r\n\xFB\xFC\x8B\xB4",
         {{"お髙橋", "2,3"}, {"髙橋", "3,1"}}},
        {"duplicate code after a voiced kana, folded",
         "髙橋",
         false,
         "\x83\x4B\xEE\xE0\x8B\xB4\n",
         {{"ガ髙橋", "1,3"}}},
        {"NEC row 13 and IBM duplicates",
         "∵",
         true,
         "\x87\x9A\n\xFA\x5B\n\x81\xE6\n",
         {{"∵", "1,1"}, {"∵", "2,1"}, {"∵", "3,1"}}},
        // UTF-8 without BOM whose first 64 KiB are ASCII (a log).
        {"UTF-8 after 70 KB of ASCII",
         "検索",
         false,
         asciiLines + "二行目で検索\n",
         {{"二行目で検索", asciiLineCount + ",9"}}},
        {"UTF-8 with BOM",
         "検索",
         false,
         "\xEF\xBB\xBF一行目\r\n二行目で検索",
         {{"二行目で検索", "2,9"}}},
        {"UTF-16",
         "検索",
         false,
         std::string("\xFF\xFE", 2) + std::string("\x00\x4E\n\x00\x8C\x4E\x1C\x69\x22\x7D", 10),
         {{"二検索", "2,3"}}},
        // A wave dash typed in a Unicode input method; an emoji that has no CP932 form.
        {"wave dash in CP932",
         "〜",
         true,
         "10\x81\x60"
         "20\n",
         {{"10～20", "1,3"}}},
        {"emoji never matches a question mark", "a😀", false, "a?\n", {}},
        {"emoji in UTF-8", "a😀", false, "a?\na😀\n", {{"a😀", "2,1"}}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        Matcher matcher(false, c.strict);
        matcher.targetStrsSplit(c.query);
        test::RecordingHost host;
        EXPECT_EQ(search(matcher, dir.write("f.txt", c.bytes), host), c.expected) << c.name;
    }
}

// Nothing to read, nothing there, and what is no file: a FIFO put in a file's place and a
// device are refused at once instead of blocking the search or feeding it without end.
TEST(FindText, EmptyFileAndWhatCannotBeRead) {
    TempDir dir;
    Matcher matcher(false, false);
    matcher.targetStrsSplit("a");
    test::RecordingHost host;
    bool answer = false;
    EXPECT_TRUE(search(matcher, dir.write("empty.txt", ""), host, &answer).empty());
    EXPECT_TRUE(answer);
    const std::string fifo = dir.write("fifo.txt", "");
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    SearchFlags flags;
    TextSearcher searcher(test::contextOf(host, matcher, flags));
    for (const std::string& path :
         {std::string("/nonexistent/file.txt"), fifo, std::string("/dev/zero")})
        EXPECT_THROW(searcher.findText(path), Error) << path;
}

// A file of one endless line (300 MB of a sparse file's zeros, CP932 or UTF-16) is searched
// within 256 MB of address space: a line is kept up to its cut only, and the line after it
// keeps its number.
TEST(FindText, EndlessLinesStayUnderAMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
    TempDir dir;
    auto sparse = [&](const std::string& name, const std::string& head, const std::string& tail) {
        const std::string path = dir.write(name, head);
        const int fd = ::open(path.c_str(), O_WRONLY);
        EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(), off_t{300} << 20),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
        return path;
    };
    const std::string files[] = {
        sparse("huge.txt", "needle\n", "\nneedle\n"),
        sparse("huge16.txt", std::string("\xFF\xFEn\0e\0e\0d\0l\0e\0\n\0", 16),
               std::string("\n\0n\0e\0e\0d\0l\0e\0", 14))};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{256u << 20, 256u << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        int status = 0;
        try {
            Matcher matcher(false, false);
            matcher.targetStrsSplit("needle");
            for (const std::string& path : files) {
                test::RecordingHost host;
                SearchFlags flags;
                TextSearcher searcher(test::contextOf(host, matcher, flags));
                if (!searcher.findText(path) || host.rows.size() != 2 ||
                    host.rows[1].position != "3,1")
                    status = 1;
            }
        } catch (const std::exception&) {
            status = 2;  // out of memory
        }
        std::_Exit(status);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong rows, 2: out of memory";
}

TEST(FindText, StopDuringLargeFileKeepsRowsAndTellsOnce) {
    TempDir dir;
    std::string bytes;
    while (bytes.size() < (3u << 20))
        bytes += "needle in a line\r\n";
    std::string path = dir.write("big.txt", bytes);
    Matcher matcher(false, true);
    matcher.targetStrsSplit("needle");
    test::RecordingHost host;
    SearchFlags flags;
    host.onDoEvents = [&] { flags.isAbort = true; };
    TextSearcher searcher(test::contextOf(host, matcher, flags));
    EXPECT_FALSE(searcher.findText(path));
    EXPECT_FALSE(host.rows.empty());
    EXPECT_LT(host.rows.size(), bytes.size() / 18);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "中断ボタンが押されました");
    EXPECT_EQ(host.messages[0].style, app::MessageStyle::Information);
    ASSERT_FALSE(host.statusTexts.empty());
    EXPECT_EQ(host.statusTexts.back(), "");
}

TEST(FindText, HitFarIntoALongLineKeepsItsPosition) {
    TempDir dir;
    std::string bytes = std::string(70000, 'x') + "needle\n";
    Matcher matcher(false, false);
    matcher.targetStrsSplit("NEEDLE");
    test::RecordingHost host;
    auto rows = search(matcher, dir.write("long.txt", bytes), host);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].position, "1,70001");
}

// Runs the searcher (folding in windows of a few bytes for odd rounds, which puts many seams
// inside words) and compares its rows with the line-by-line reading.
void checkAgainstReference(const Matcher& matcher, const std::string& path,
                           const std::string& bytes, bool cp932, int round,
                           const std::string& query) {
    test::RecordingHost host;
    const std::size_t window = round % 2 == 0 ? std::size_t{1} << 20 : 1 + round % 5;
    auto rows = search(matcher, path, host, nullptr, window);
    auto expected = reference(matcher, bytes, cp932);
    std::size_t same = 0;
    while (same < rows.size() && same < expected.size() && rows[same] == expected[same])
        ++same;
    ASSERT_EQ(same < rows.size() ? rows[same] : Row{},
              same < expected.size() ? expected[same] : Row{})
        << "round " << round << (cp932 ? " CP932" : " UTF-8") << " query " << query << " strict "
        << matcher.strict() << " regex " << matcher.regular() << " window " << window;
    ASSERT_EQ(rows.size(), expected.size());
}

// Random text from pieces that exercise folding, double-byte boundaries, duplicate codes,
// best-fit forms and every kind of line end, as CP932 and as UTF-8: the block scanner, with
// its required literals, must report exactly what a line-by-line reading reports.
TEST(FindText, BlockScannerAgreesWithLineByLineReading) {
    const std::vector<std::string> pieces = {
        "a",  "b",  "A",  "B",  "ab", "AB",   "ｱ",        "ｶﾞ",    "ガ",   "カ", "ア",
        "パ", "ﾊﾟ", "ａ", "Ａ", "ｂ", "検",   "索",       "検索",  "ひら", "　", " ",
        "?",  "・", "ー", "ｰ",  "α",  "Α",    "ⅰ",        "Ⅰ",     "ｘ",   "x",  "é",
        "〜", "～", "😀",  "ｆ", "Ｆ", "ferr", "ＦＥＲＲ", "\u212A"};
    // Bytes a CP932 file may hold besides: a lone lead byte, Windows' extra single bytes, and
    // duplicate codes of 髙 (NEC-selected IBM, IBM) and ∵ (NEC row 13, IBM, JIS).
    const std::vector<std::string> cp932Only = {
        "\x81", "\x80", "\xA0", "\xFD", "\xEE\xE0", "\xFB\xFC", "\x87\x9A", "\xFA\x5B", "\x81\xE6"};
    const std::vector<std::string> ends = {"\r\n", "\n", "\r", "\r\n\r\n", "\n\n"};
    const std::vector<std::string> queries = {
        "a",    "AB",       "ｶﾞ", "ガa",      "検索", "&& a 検",    "b ア",     "ⅰ",
        "α",    "x?",       "ｰ",  "&& ｂ ａ", "・",   "髙",         "∵a",       "a髙",
        "ferr", "ＦＥＲＲ", "é",  "〜",       "a😀",   "&& ferr 検", "検索 ferr"};
    const std::vector<std::string> patterns = {"a.b", "[ｱ-ﾝ]ﾞ", "・",   "\\?", "^ア",
                                               "ｘ$", "検.*索", "fe+r", "k",   "\\u212A"};
    std::mt19937 random(12345);
    TempDir dir;
    for (int round = 0; round < 24; ++round) {
        // Two files cross the reader's 1 MiB block boundary; the rest are small.
        const bool big = round < 2;
        const std::size_t target = big ? (1u << 20) + 3000 : 3000;
        std::string cp932;
        std::string utf8;
        while (cp932.size() < target) {
            for (int i = static_cast<int>(random() % 12); i > 0; --i) {
                const std::size_t k = random() % (pieces.size() + cp932Only.size());
                if (k < pieces.size()) {
                    cp932 += platform::utf8ToCp932(pieces[k]);
                    utf8 += pieces[k];
                } else {
                    cp932 += cp932Only[k - pieces.size()];
                }
            }
            const std::string& end = ends[random() % ends.size()];
            cp932 += end;
            utf8 += end;
        }
        if (round % 3 == 0)
            cp932 += "\xE0";  // a last line without its end, ending in a lone lead byte
        for (const bool isCp932 : {true, false}) {
            if (big && !isCp932)
                continue;
            const std::string& bytes = isCp932 ? cp932 : utf8;
            const std::string path = dir.write("r" + std::to_string(round) + ".txt", bytes);
            for (const std::string& query : queries) {
                if (big && query != "ガa" && query != "&& a 検" && query != "ferr")
                    continue;
                for (bool strict : {false, true}) {
                    Matcher matcher(false, strict);
                    matcher.targetStrsSplit(query);
                    checkAgainstReference(matcher, path, bytes, isCp932, round, query);
                }
            }
            for (const std::string& pattern : patterns) {
                if (big)
                    continue;
                Matcher matcher(true, false);
                matcher.targetStrsSplit(pattern);
                checkAgainstReference(matcher, path, bytes, isCp932, round, pattern);
            }
        }
    }
}

TEST(CountLineEnds, EveryKindOfLineEnd) {
    EXPECT_EQ(countLineEnds(""), 0u);
    EXPECT_EQ(countLineEnds("a\r\nb\nc\rd"), 3u);
    EXPECT_EQ(countLineEnds("\r"), 1u);
    EXPECT_EQ(countLineEnds("\r\r\n\n"), 3u);
    std::string longText;
    for (int i = 0; i < 100; ++i)
        longText += "0123456789abcd\r\nxx\ryy\n";
    EXPECT_EQ(countLineEnds(longText), 300u);
}

}  // namespace
}  // namespace ferretta::search
