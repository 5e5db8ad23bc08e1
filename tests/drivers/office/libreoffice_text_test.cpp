// The local text work of the LibreOffice automation: file URLs and Excel's cell find over a
// sheet read in bulk.
#include <gtest/gtest.h>

#ifdef FERRETTA_HAVE_LIBREOFFICE

#include <string>
#include <vector>

#include "drivers/office/libreoffice_text.h"
#include "platform/unicode.h"

namespace ferretta::platform::office::lo {
namespace {

TEST(FileUrlTest, RoundTripsAnyPath) {
    const struct {
        const char* path;
        const char* url;
    } cases[] = {
        {"/tmp/a.doc", "file:///tmp/a.doc"},
        {"/tmp/with blank#and%.doc", "file:///tmp/with%20blank%23and%25.doc"},
        {"/データ/文書.doc", "file:///%E3%83%87%E3%83%BC%E3%82%BF/%E6%96%87%E6%9B%B8.doc"},
        {"/tmp/../tmp/./x;y?.xls", "file:///tmp/x%3By%3F.xls"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(fileUrlFromPath(c.path), c.url);
        const auto back = pathFromFileUrl(c.url);
        ASSERT_TRUE(back);
        EXPECT_EQ(fileUrlFromPath(*back), c.url);
    }
    // Bytes that are not UTF-8 survive too.
    EXPECT_EQ(pathFromFileUrl(fileUrlFromPath("/tmp/\x82\xa0.doc")), "/tmp/\x82\xa0.doc");
    EXPECT_EQ(pathFromFileUrl("file://localhost/x"), "/x");
    for (const char* bad : {"http://x/y", "file://", "file:///a%2", "file:///a%zz", "file:x"}) {
        EXPECT_FALSE(pathFromFileUrl(bad)) << bad;
    }
}

CellGrid grid(std::vector<std::vector<std::u16string>> rows, std::int32_t row = 0,
              std::int32_t column = 0) {
    return CellGrid{std::move(rows), row, column};
}

TEST(FindInGridTest, VisitsCellsInExcelsOrder) {
    const CellGrid sheet =
        grid({{u"key A1", u"", u"x"}, {u"", u"ＫＥＹ b2", u"key c2"}, {u"Key a3", u"", u""}});
    const struct {
        const char16_t* what;
        std::int32_t row, column;  // 0: not found
    } cases[] = {
        {u"key", 2, 2},                                            // by rows; A1 waits for the end
        {u"a1", 1, 1},                                             // A1 alone: found last
        {u"A3", 3, 1},      {u"ｋｅｙ ｃ", 2, 3},                  // full width in the word
        {u"ｷｰ", 0, 0},      {u"", 0, 0},          {u"k*2", 2, 2},  // Excel's wildcards
        {u"key ??3", 0, 0},                                        // "?" is exactly one character
        {u"key ?3", 3, 1},  {u"key a?", 3, 1},    {u"~*", 0, 0},   // an escaped star is a star
        {u"x", 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf16ToUtf8(c.what));
        const auto hit = findInGrid(sheet, c.what);
        if (c.row == 0) {
            EXPECT_FALSE(hit);
            continue;
        }
        ASSERT_TRUE(hit);
        EXPECT_EQ(hit->row, c.row);
        EXPECT_EQ(hit->column, c.column);
    }
}

TEST(FindInGridTest, AGridAwayFromA1IsSearchedPlainlyByRows) {
    // The used area starts at C5: its first cell is not A1 and comes first.
    const CellGrid sheet = grid({{u"word", u"word"}, {u"word", u""}}, 4, 2);
    const auto hit = findInGrid(sheet, u"WORD");
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->row, 5);
    EXPECT_EQ(hit->column, 3);
    EXPECT_EQ(hit->text, u"word");
    EXPECT_FALSE(findInGrid(grid({}), u"word"));
}

TEST(FindInGridTest, WildcardsStayLinearEnoughOnLongCells) {
    const std::u16string cell(20000, u'a');
    const CellGrid sheet = grid({{u"", cell + u"b"}});
    EXPECT_TRUE(findInGrid(sheet, u"a*a*a*a*b"));
    EXPECT_FALSE(findInGrid(sheet, u"a*a*a*a*c"));
}

}  // namespace
}  // namespace ferretta::platform::office::lo

#else
TEST(LibreOfficeTextTest, NeedsTheLibreOfficeBuild) {
    GTEST_SKIP() << "built without LibreOffice";
}
#endif
