#include "hits/hit_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "search/query.h"
#include "search/search_flags.h"
#include "search/text_search.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/test_context.h"
#include "support/zip_builder.h"

namespace ferretta::hits {
namespace {

// A context as "label:text" lines joined by " | ", the hit's line starred.
std::string render(const std::vector<ContextLine>& lines) {
    std::string out;
    for (const ContextLine& line : lines)
        out += (out.empty() ? "" : " | ") + std::string(line.isHit ? "*" : "") + line.label + ":" +
               line.text;
    return out;
}

std::string render(const HitContext& context) {
    return (context.heading.empty() ? "" : "[" + context.heading + "] ") + render(context.lines) +
           (context.hitTextOnly ? " (hit only)" : "");
}

ReadAt memoryReader(const std::string& bytes) {
    return [&bytes](std::int64_t offset, char* out, std::size_t size) {
        const auto at = static_cast<std::size_t>(offset);
        const std::size_t n = at < bytes.size() ? std::min(size, bytes.size() - at) : 0;
        std::memcpy(out, bytes.data() + at, n);
        return n;
    };
}

TEST(ReadTextLines, LinesAroundTheHitInEveryLineEndAndEncoding) {
    struct Case {
        std::string bytes;
        std::string hitLine;  // the hit's line starts at its first occurrence
        std::int64_t lineNumber;
        bool utf8;
        int around;
        std::string expected;
    };
    const std::string sjis = platform::utf8ToCp932("前の行\r\n見積書\r\n次の行\r\n");
    const std::vector<Case> cases = {
        {"a\r\nb\r\nhit\r\nc\r\nd\r\n", "hit", 3, false, 1, "2:b | *3:hit | 4:c"},
        {"a\nb\nhit\nc\n", "hit", 3, false, 5, "1:a | 2:b | *3:hit | 4:c"},
        {"a\rb\rhit\rc", "hit", 3, false, 1, "2:b | *3:hit | 4:c"},
        {"a\r\n\r\nhit\n\nc", "hit", 3, false, 2, "1:a | 2: | *3:hit | 4: | 5:c"},
        {"hit\nb", "hit", 1, false, 2, "*1:hit | 2:b"},
        {"a\nhit", "hit", 2, false, 2, "1:a | *2:hit"},
        {"a\nhit\n", "hit", 2, false, 2, "1:a | *2:hit"},
        {sjis, platform::utf8ToCp932("見積書"), 2, false, 1, "1:前の行 | *2:見積書 | 3:次の行"},
        {"\xEF\xBB\xBF先頭\nhit\n", "hit", 2, true, 1, "1:先頭 | *2:hit"},
        {"a\nhit\nb", "hit", 2, false, 0, "*2:hit"},
    };
    for (const Case& c : cases) {
        const auto offset = static_cast<std::int64_t>(c.bytes.find(c.hitLine));
        EXPECT_EQ(
            render(readTextLines(memoryReader(c.bytes), static_cast<std::int64_t>(c.bytes.size()),
                                 offset, c.lineNumber, c.utf8, c.around)),
            c.expected)
            << c.bytes;
    }
}

TEST(ReadTextLines, LongLinesAreCutAndTheHitStaysInView) {
    const std::string before(300 * 1024, 'x');  // longer than is read back
    const std::string longLine(5000, 'y');
    const std::string hitLine = std::string(8000, 'z') + "見積" + std::string(8000, 'z');
    const std::string bytes = "first\n" + before + "\n" + longLine + "\n" + hitLine + "\nlast\n";
    const auto offset = static_cast<std::int64_t>(bytes.find("zzz"));
    const std::vector<ContextLine> lines = readTextLines(
        memoryReader(bytes), static_cast<std::int64_t>(bytes.size()), offset, 4, true, 5, 8001);
    ASSERT_EQ(lines.size(), 3u);  // the line read back only in part is left out, with its elders
    EXPECT_EQ(lines[0].label, "3");
    EXPECT_EQ(lines[0].text, std::string(kContextLineBytes, 'y') + std::string(kEllipsis));
    EXPECT_TRUE(lines[1].isHit);
    EXPECT_TRUE(lines[1].text.starts_with(kEllipsis) && lines[1].text.ends_with(kEllipsis));
    EXPECT_NE(lines[1].text.find("見積"), std::string::npos);
    EXPECT_EQ(lines[2].text, "last");
}

TEST(ReadTextLines, ReadsAFixedAmountOfAHugeFile) {
    // A file of a gigabyte of short lines, made up as it is read.
    const std::int64_t size = std::int64_t{1} << 30;
    std::int64_t bytesRead = 0;
    ReadAt read = [&bytesRead](std::int64_t offset, char* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = (offset + static_cast<std::int64_t>(i)) % 10 == 9 ? '\n' : 'a';
        bytesRead += static_cast<std::int64_t>(count);
        return count;
    };
    const std::vector<ContextLine> lines =
        readTextLines(read, size, 500'000'000, 50'000'001, false, 5);
    EXPECT_EQ(render(lines).substr(0, 24), "49999996:aaaaaaaaa | 499");
    EXPECT_EQ(lines.size(), 11u);
    EXPECT_LE(bytesRead, 1 << 20);
}

class ContextReaderTest : public ::testing::Test {
  protected:
    // The hits a search for `query` reports in the file.
    std::vector<app::Hit> searchText(const std::string& path, const std::string& query) {
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit(query);
        test::RecordingHost host;
        search::SearchFlags flags;
        search::TextSearcher(test::contextOf(host, matcher, flags)).findText(path);
        return host.rows;
    }
    test::TempTree m_dir;
    ContextReader m_reader;
};

TEST_F(ContextReaderTest, TextHitsFromTheSearchAndAChangedFile) {
    const std::string path =
        m_dir.write("見積.txt", platform::utf8ToCp932("件名\r\n見積書 A\r\n金額\r\n見積書 B\r\n"));
    const std::vector<app::Hit> hits = searchText(path, "見積");
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(render(m_reader.read(hits[0], 1)), "1:件名 | *2:見積書 A | 3:金額");
    EXPECT_EQ(render(m_reader.read(hits[1], 1)), "3:金額 | *4:見積書 B");
    // Changed since the search: the hit's own text, not some other line.
    m_dir.write("見積.txt", "other\n");
    EXPECT_EQ(render(m_reader.read(hits[1], 1)), "*4,1:見積書 B (hit only)");
    std::filesystem::remove(path);
    EXPECT_EQ(render(m_reader.read(hits[0], 1)), "*2,1:見積書 A (hit only)");
}

std::string odf(const std::string& mime, const std::string& body) {
    return test::makeZip(
        {{"mimetype", mime},
         {"META-INF/manifest.xml",
          "<manifest:manifest "
          "xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\"/>"},
         {"content.xml",
          "<office:document-content "
          "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
          "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
          "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\"><office:body>" +
              body + "</office:body></office:document-content>"}},
        false);
}

std::string row(const std::string& first, const std::string& second) {
    std::string cells;
    for (const std::string& text : {first, second})
        cells += "<table:table-cell office:value-type=\"string\"><text:p>" + text +
                 "</text:p></table:table-cell>";
    return "<table:table-row>" + cells + "</table:table-row>";
}

std::string frame(const std::string& text) {
    return "<draw:frame><draw:text-box><text:p>" + text + "</text:p></draw:text-box></draw:frame>";
}

TEST_F(ContextReaderTest, DocumentHitsFromTheirOwnReaders) {
    const std::string odt =
        m_dir.write("a.odt", odf("application/vnd.oasis.opendocument.text",
                                 "<office:text><text:p>一つ目。二つ目の見積。三つ目。</text:p>"
                                 "<text:p>四つ目。</text:p></office:text>"));
    const std::string ods = m_dir.write(
        "b.ods", odf("application/vnd.oasis.opendocument.spreadsheet",
                     "<office:spreadsheet><table:table table:name=\"表1\">" + row("品名", "数") +
                         row("見積", "個") + "</table:table></office:spreadsheet>"));
    const std::string odp =
        m_dir.write("c.odp", odf("application/vnd.oasis.opendocument.presentation",
                                 "<office:presentation><draw:page>" + frame("表紙") +
                                     "</draw:page><draw:page>" + frame("題") + frame("見積の話") +
                                     frame("結び") + "</draw:page></office:presentation>"));
    const std::string pdf = FERRETTA_TEST_DATA "/pdf/handmade/nested_pages.pdf";
    struct Case {
        app::Hit hit;
        std::string expected;
    };
    // The context of a hit in each of these documents, as the preview pane shows it, is the
    // X-server scenario's preview step (the same documents); here what it cannot reach.
    const std::vector<Case> cases = {
        {{app::FileType::Pdf, "nested_pages.pdf", "Delta", pdf, "3"}, "[ページ 3] *3:Delta"},
        // A sheet or a slide that is not there, a hit on the file name, a type of its own.
        {{app::FileType::Excel, "b.ods[表9]", "見積", ods, "2,1"}, "*2,1:見積 (hit only)"},
        {{app::FileType::PowerPoint, "c.odp", "見積の話", odp, "1"}, "*1:見積の話 (hit only)"},
        {{app::FileType::Word, "a.odt", "(ファイル名にヒット)", odt, ""},
         "*:(ファイル名にヒット) (hit only)"},
        {{app::FileType::OutlookMail, "件名", "本文", "mail:1", "3"}, "*3:本文 (hit only)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(m_reader.read(c.hit, 1)), c.expected) << c.hit.location;
    // A long paragraph (or a PDF page's one stream) is cut where the words are.
    const std::string longText = std::string(3000, 'x') + "見積";
    const std::string longOdt = m_dir.write(
        "long.odt", odf("application/vnd.oasis.opendocument.text",
                        "<office:text><text:p>" + longText + "</text:p></office:text>"));
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("見積");
    const HitContext cut =
        m_reader.read({app::FileType::Word, "long.odt", longText, longOdt, "1,3001"}, 1, &matcher);
    ASSERT_EQ(cut.lines.size(), 1u);
    EXPECT_TRUE(cut.lines[0].text.starts_with(kEllipsis));
    EXPECT_NE(cut.lines[0].text.find("見積"), std::string::npos);
}

}  // namespace
}  // namespace ferretta::hits
