#include "search/text_search.h"

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
#include "platform/line_reader.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/test_context.h"

namespace ferretta::search {
namespace {

namespace fs = std::filesystem;

using TempDir = test::TempTree;

// The rows of a search as "content@line,column", one after the other, separated by " | ".
std::string search(const Matcher& matcher, const std::string& path, test::RecordingHost& host,
                   bool* answer = nullptr, std::size_t foldWindow = std::size_t{1} << 20) {
    SearchFlags flags;
    TextSearcher searcher(test::contextOf(host, matcher, flags), foldWindow);
    const bool result = searcher.findText(path);
    if (answer)
        *answer = result;
    std::string rows;
    for (const auto& hit : host.rows) {
        EXPECT_EQ(hit.fileType, app::FileType::Text);
        EXPECT_EQ(hit.location, path);
        rows += (rows.empty() ? "" : " | ") + hit.content + "@" + hit.position;
    }
    return rows;
}

// The plain line-by-line reading the fast scanner must agree with, in the same form.
std::string reference(const Matcher& matcher, const std::string& bytes, bool cp932) {
    std::string rows;
    std::int64_t line = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        end = end == std::string::npos ? bytes.size() : end;
        ++line;
        const std::string text = bytes.substr(start, end - start);
        const std::int32_t column = text.empty() ? 0
                                    : cp932      ? matcher.smartFindCp932(text)
                                                 : matcher.smartFind(text);
        if (column) {
            rows += (rows.empty() ? "" : " | ") + (cp932 ? platform::cp932ToUtf8(text) : text) +
                    "@" + std::to_string(line) + "," + std::to_string(column);
        }
        end += bytes.compare(end, 2, "\r\n") == 0 ? 1 : 0;
        start = end + 1;
    }
    return rows;
}

// Whole files as other tools write them; each row once failed.
TEST(FindText, FilesFromOtherTools) {
    std::string log;  // UTF-8 without BOM whose first 64 KiB are ASCII
    while (log.size() < 70000)
        log += "2024-06-01 12:00:00 INFO nothing to see\n";
    const std::string logLines = std::to_string(countLineEnds(log) + 1);
    const std::string utf16 = std::string("\xFF\xFE\x00\x4E\n\x00\x8C\x4E\x1C\x69\x22\x7D", 12);
    const std::string longLine(70000, 'x');
    const std::tuple<const char*, bool, std::string, std::string> cases[] = {
        {"abc", false, platform::utf8ToCp932("abc\r\n\r\n日本語のabc\nxyz\rABC"),
         "abc@1,1 | 日本語のabc@3,9 | ABC@5,1"},
        // Python's cp932 codec writes the NEC-selected IBM code of 髙 (0xEEE0), Windows 0xFBFC.
        {"髙橋", true, "x\n\x82\xA8\xEE\xE0\x8B\xB4\r\n\xFB\xFC\x8B\xB4", "お髙橋@2,3 | 髙橋@3,1"},
        {"髙橋", false, "\x83\x4B\xEE\xE0\x8B\xB4\n", "ガ髙橋@1,3"},  // a byte column
        {"∵", true, "\x87\x9A\n\xFA\x5B\n\x81\xE6\n", "∵@1,1 | ∵@2,1 | ∵@3,1"},
        {"検索", false, log + "二行目で検索\n", "二行目で検索@" + logLines + ",9"},
        {"検索", false, "\xEF\xBB\xBF一行目\r\n二行目で検索", "二行目で検索@2,9"},
        {"検索", false, utf16, "二検索@2,3"},
        // A wave dash typed in a Unicode input method; an emoji that has no CP932 form.
        {"〜", true, "10\x81\x60", "10～@1,3"},
        {"a😀", false, "a?\n", ""},
        {"a😀", false, "a?\na😀\n", "a😀@2,1"},
        {"NEEDLE", false, longLine + "needle\n", longLine + "needle@1,70001"},
    };
    TempDir dir;
    for (const auto& [query, strict, bytes, expected] : cases) {
        Matcher matcher(false, strict);
        matcher.targetStrsSplit(query);
        test::RecordingHost host;
        const std::string path = dir.write("f.txt", bytes);
        bool answer = false;
        EXPECT_EQ(search(matcher, path, host, &answer), expected) << query;
        EXPECT_TRUE(answer);
        EXPECT_EQ(host.captions, std::vector<std::string>{path});
        EXPECT_TRUE(host.rows.empty() || host.rows[0].name == "f.txt");
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
    EXPECT_EQ(search(matcher, dir.write("empty.txt", ""), host, &answer), "");
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

// A file of one endless line (300 MB of a sparse file's zeros, CP932 or UTF-16, read as the
// settings ask for files that are no text) is searched within 256 MB of address space: a line
// is kept up to its cut only, and the line after it keeps its number. Without that setting the
// CP932 one is left alone as no text.
TEST(FindText, EndlessLinesStayUnderAMemoryLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
    TempDir dir;
    auto sparse = [&](const std::string& name, const std::string& head, const std::string& tail) {
        const std::string path = dir.write(name, head);
        fs::resize_file(path, std::uintmax_t{300} << 20);
        std::ofstream(path, std::ios::binary | std::ios::app) << tail;
        return path;
    };
    const std::string files[] = {
        sparse("huge.txt", "needle\n", "\nneedle\n"),
        sparse("huge16.txt", std::string("\xFF\xFEn\0e\0e\0d\0l\0e\0\n\0", 16),
               std::string("\n\0n\0e\0e\0d\0l\0e\0", 14))};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The bound is on what the search adds: when this runs after other tests in one
        // process, their threads' malloc arenas already hold hundreds of MB of address space.
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t bound = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (256u << 20);
        const rlimit limit{bound, bound};
        ::setrlimit(RLIMIT_AS, &limit);
        int status = 0;
        try {
            Matcher matcher(false, false);
            matcher.targetStrsSplit("needle");
            app::Settings binary;
            binary.binaryFiles = true;
            for (const std::string& path : files) {
                test::RecordingHost host;
                SearchFlags flags;
                TextSearcher searcher(test::contextOf(host, matcher, flags, binary));
                if (!searcher.findText(path) || host.rows.size() != 2 ||
                    host.rows[1].position != "3,1")
                    status = 1;
            }
            test::RecordingHost host;
            SearchFlags flags;
            TextSearcher textOnly(test::contextOf(host, matcher, flags));
            if (textOnly.findText(files[0]) || !host.rows.empty())
                status = 1;
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

// A line longer than its cut, with the hit megabytes into it: the row shows whole characters
// around the hit only, the column still counts from the line's start, and the next line keeps
// its number.
TEST(FindText, CutLineRowShowsTheHitsSurroundings) {
    const std::size_t chars = (5u << 20) / 6;  // a prefix of about 5 MB of あ
    // Per encoding: how many あ the row shows before the hit (whole characters only).
    const std::pair<bool, std::size_t> cases[] = {{true, kCutLineContext / 2},
                                                  {false, kCutLineContext / 3}};
    TempDir dir;
    for (const auto& [cp932, shown] : cases) {
        const std::string a = cp932 ? platform::utf8ToCp932("あ") : "あ";
        std::string bytes;
        bytes.reserve(platform::kMaxLineBytes + (2u << 20));
        for (std::size_t i = 0; i < chars; ++i)
            bytes += a;
        bytes += "needle";
        bytes.resize(platform::kMaxLineBytes + (1u << 20), 'x');
        bytes += "\nneedle\n";
        Matcher matcher(false, false);
        matcher.targetStrsSplit("needle");
        test::RecordingHost host;
        std::string expected;
        for (std::size_t i = 0; i < shown; ++i)
            expected += "あ";
        expected += "needle" + std::string(kCutLineContext - 6, 'x') + "@1," +
                    std::to_string(2 * chars + 1) + " | needle@2,1";
        EXPECT_EQ(search(matcher, dir.write("cut.txt", bytes), host), expected)
            << (cp932 ? "CP932" : "UTF-8");
    }
}

TEST(FindText, StopDuringLargeFileKeepsRowsAndTellsOnce) {
    TempDir dir;
    std::string bytes;
    while (bytes.size() < (3u << 20))
        bytes += "needle in a line\r\n";
    const std::string path = dir.write("big.txt", bytes);
    Matcher matcher(false, true);
    matcher.targetStrsSplit("needle");
    test::RecordingHost host;
    SearchFlags flags;
    host.onDoEvents = [&] { flags.isAbort = true; };
    TextSearcher searcher(test::contextOf(host, matcher, flags));
    EXPECT_FALSE(searcher.findText(path));
    EXPECT_FALSE(host.rows.empty());
    EXPECT_LT(host.rows.size(), bytes.size() / 18);
    test::expectOneMessage(host, "中断ボタンが押されました", app::MessageStyle::Information);
    ASSERT_FALSE(host.statusTexts.empty());
    EXPECT_EQ(host.statusTexts.back(), "");
}

// Random text from pieces that exercise folding, double-byte boundaries, duplicate codes,
// best-fit forms and every kind of line end, as CP932 and as UTF-8: the block scanner, with
// its required literals, must report exactly what a line-by-line reading reports (folding in
// windows of a few bytes for odd rounds puts many seams inside words).
TEST(FindText, BlockScannerAgreesWithLineByLineReading) {
    const std::vector<std::string> pieces = {
        "a",  "b",  "A",  "ab",     "AB",   "ｱ",   "ｶﾞ",   "ガ",    "カ",       "ア",
        "パ", "ﾊﾟ", "ａ", "Ａ",     "ｂ",   "検",  "索",   "検索",  "ひら",     "　",
        " ",  "?",  "・", "ー",     "ｰ",    "α",   "Α",    "ⅰ",     "Ⅰ",        "ｘ",
        "x",  "é",  "〜", "～",     "😀",    "ｆ",  "Ｆ",   "ferr",  "ＦＥＲＲ", "\u212A",
        "デ", "ﾃﾞ", "テ", "ﾃ",      "ﾞ",    "゛",  "タ",   "ﾀ",     "ダ",       "ｅ",
        "Ｒ", "r",  "è",  "ベース", "ﾍﾞｰｽ", "ヘﾞ", "デｰﾀ", "ﾃﾞータ"};
    // Bytes a CP932 file may hold besides: a lone lead byte, Windows' extra single bytes,
    // duplicate codes of 髙 (NEC-selected IBM, IBM) and ∵ (NEC row 13, IBM, JIS), and a lead
    // byte that takes the half-width ﾃ after it as its trail byte (ﾃﾞｰﾀ there is no word).
    const std::vector<std::string> cp932Only = {
        "\x81",     "\x80",     "\xA0",     "\xFD",     "\xEE\xE0",
        "\xFB\xFC", "\x87\x9A", "\xFA\x5B", "\x81\xE6", "\x89\xC3\xDE\xB0\xC0"};
    const std::vector<std::string> ends = {"\r\n", "\n", "\r", "\r\n\r\n", "\n\n"};
    const std::vector<std::string> queries = {
        "a",    "AB",       "ｶﾞ", "ガa",      "検索", "&& a 検",      "b ア",      "ⅰ",
        "α",    "x?",       "ｰ",  "&& ｂ ａ", "・",   "髙",           "∵a",        "a髙",
        "ferr", "ＦＥＲＲ", "é",  "〜",       "a😀",   "&& ferr 検",   "検索 ferr", "データ",
        "ﾃﾞｰﾀ", "ータ",     "ﾀﾞ", "ｅｒ",     "rè",   "データベース", "ﾃﾞｰﾀﾍﾞｰｽ",  "データヘ"};
    const std::vector<std::string> patterns = {"a.b", "[ｱ-ﾝ]ﾞ", "・",   "\\?", "^ア",
                                               "ｘ$", "検.*索", "fe+r", "k",   "\\u212A"};
    std::mt19937 random(12345);
    TempDir dir;
    for (int round = 0; round < 24; ++round) {
        // Two files cross the reader's 1 MiB block boundary; the rest are small.
        const bool big = round < 2;
        std::string cp932;
        std::string utf8;
        while (cp932.size() < (big ? (1u << 20) + 3000 : 3000)) {
            for (int i = static_cast<int>(random() % 12); i > 0; --i) {
                const std::size_t k = random() % (pieces.size() + cp932Only.size());
                cp932 += k < pieces.size() ? platform::utf8ToCp932(pieces[k])
                                           : cp932Only[k - pieces.size()];
                utf8 += k < pieces.size() ? pieces[k] : "";
            }
            const std::string& end = ends[random() % ends.size()];
            cp932 += end;
            utf8 += end;
        }
        if (round % 3 == 0)
            cp932 += "\xE0";  // a last line without its end, ending in a lone lead byte
        const std::size_t window = round % 2 == 0 ? std::size_t{1} << 20 : 1 + round % 5;
        for (const bool isCp932 : {true, false}) {
            if (big && !isCp932)
                continue;
            const std::string& bytes = isCp932 ? cp932 : utf8;
            const std::string path = dir.write("r.txt", bytes);
            auto check = [&](const Matcher& matcher, const std::string& query) {
                test::RecordingHost host;
                ASSERT_EQ(search(matcher, path, host, nullptr, window),
                          reference(matcher, bytes, isCp932))
                    << "round " << round << (isCp932 ? " CP932" : " UTF-8") << " query " << query
                    << " strict " << matcher.strict() << " regex " << matcher.regular();
                // Each hit knows where its line begins, so its context can be read again.
                for (const app::Hit& hit : host.rows) {
                    const auto at = static_cast<std::size_t>(hit.lineOffset);
                    ASSERT_TRUE(hit.lineOffset >= 0 && at <= bytes.size()) << hit.position;
                    ASSERT_TRUE(at == 0 || bytes[at - 1] == '\n' || bytes[at - 1] == '\r');
                    const std::string line = bytes.substr(at, bytes.find_first_of("\r\n", at) - at);
                    EXPECT_EQ(hit.utf8 ? line : platform::cp932ToUtf8(line), hit.content);
                }
            };
            for (const std::string& query : queries) {
                for (const bool strict : {false, true}) {
                    if (big && query != "ガa" && query != "&& a 検" && query != "ferr")
                        continue;
                    Matcher matcher(false, strict);
                    matcher.targetStrsSplit(query);
                    check(matcher, query);
                }
            }
            for (const std::string& pattern : big ? std::vector<std::string>{} : patterns) {
                Matcher matcher(true, false);
                matcher.targetStrsSplit(pattern);
                check(matcher, pattern);
            }
        }
    }
}

}  // namespace
}  // namespace ferretta::search
