#include "search/hit.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/file_types.h"
#include "support/recording_host.h"

namespace ferretta::search {
namespace {

using app::Hit;
using Kind = OpenAction::Kind;

TEST(AddResultTest, ReportsOneRowWithTheContentCut) {
    test::RecordingHost host;
    EXPECT_EQ(addResult(host, app::FileType::Pdf, "a.pdf", "line one\r\nline two", "/d/a.pdf", "4"),
              0u);
    EXPECT_EQ(addResult(host, app::FileType::Text, "b.txt", "plain", "/d/b.txt", "2,3"), 1u);
    ASSERT_EQ(host.rows.size(), 2u);
    const Hit& row = host.rows[0];
    EXPECT_EQ(std::tie(row.fileType, row.name, row.content, row.location, row.position),
              std::make_tuple(app::FileType::Pdf, "a.pdf", "line one", "/d/a.pdf", "4"));
}

Hit sampleHit(int fileType) {
    return Hit{static_cast<app::FileType>(fileType), "book.xls[Sheet1]", "found text",
               "/d/book.xls", "12,5"};
}

// Outlook Express (10, 11) and Access (15) have no opener, nor have unknown numbers.
TEST(OpenActionTest, EveryFileTypeNumberGoesToItsOpener) {
    const std::map<int, Kind> openers = {
        {1, Kind::TextEditor}, {2, Kind::Word},       {3, Kind::Excel},   {4, Kind::Outlook},
        {5, Kind::Outlook},    {6, Kind::Outlook},    {7, Kind::Outlook}, {8, Kind::Outlook},
        {13, Kind::Pdf},       {16, Kind::PowerPoint}};
    std::vector<int> types = {-1, 255, 32767};
    for (int type = 0; type <= app::fileTypeSlots; ++type)
        types.push_back(type);
    for (int type : types) {
        OpenAction action = openActionFor(sampleHit(type));
        const auto opener = openers.find(type);
        EXPECT_EQ(action.kind, opener == openers.end() ? Kind::None : opener->second) << type;
        if (action.kind != Kind::None) {
            EXPECT_EQ(static_cast<int>(action.fileType), type);
            EXPECT_EQ(action.location, "/d/book.xls") << "type " << type;
        }
    }
    EXPECT_EQ(openActionFor(sampleHit(1)).position, "12,5");
    EXPECT_EQ(openActionFor(sampleHit(2)).search, "found text");
    EXPECT_EQ(openActionFor(Hit{app::FileType::PowerPoint, "deck.ppt", "title", "/d/deck.ppt", "7"})
                  .position,
              "7");
    OpenAction outlook =
        openActionFor(Hit{app::FileType::OutlookMail, "件名", "本文", "outlook:5:12:Body", "3"});
    EXPECT_EQ(outlook.fileType, app::FileType::OutlookMail);
    EXPECT_EQ(outlook.location, "outlook:5:12:Body");
}

TEST(OpenActionTest, ExcelSheetComesFromTheName) {
    // The sheet is the text between the last "[" and the closing "]". A hit on the file name
    // opens the workbook with no sheet and no position, also when the name holds brackets.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"book.xls[Sheet1]", "Sheet1", "3,4"},
        {"見積[改].xls[売上 2024]", "売上 2024", "3,4"},
        {"book.xls[]", "", "3,4"},
        {"a[b[c]", "c", "3,4"},
        {"見積[改].xls", "", ""},
    };
    for (const auto& [name, sheet, position] : cases) {
        OpenAction action =
            openActionFor(Hit{app::FileType::Excel, name, "x", "/d/book.xls", "3,4"});
        EXPECT_EQ(action.kind, Kind::Excel);
        EXPECT_EQ(action.sheet, sheet) << name;
        EXPECT_EQ(action.position, position) << name;
        EXPECT_EQ(action.location, "/d/book.xls");
    }
}

TEST(OpenActionTest, PdfPageFromThePosition) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"3", 3},    {"2147483647", 2147483647}, {"", 1}, {"abc", 1}, {"0", 1}, {"-2", 1},
        {"12,5", 1}, {"2147483648", 1}};
    for (const auto& [position, page] : cases) {
        OpenAction action =
            openActionFor(Hit{app::FileType::Pdf, "a.pdf", "", "/d/a.pdf", position});
        EXPECT_EQ(action.kind, Kind::Pdf);
        EXPECT_EQ(action.page, page) << "'" << position << "'";
    }
}

}  // namespace
}  // namespace ferretta::search
