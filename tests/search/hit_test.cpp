#include "search/hit.h"

#include <gtest/gtest.h>

#include <string>

#include "app/file_types.h"
#include "support/recording_host.h"

namespace ferretta::search {
namespace {

using app::Hit;
using Kind = OpenAction::Kind;

TEST(CutAtCarriageReturnTest, KeepsTheTextBeforeTheFirstCr) {
    struct Case {
        std::string_view text;
        std::string_view expected;
    };
    const Case cases[] = {
        {"abc\r\ndef", "abc"},  {"abc", "abc"},           {"", ""}, {"\rabc", ""}, {"a\rb\rc", "a"},
        {"abc\r", "abc"},       {"abc\ndef", "abc\ndef"},  // only a carriage return cuts
        {"検索\r結果", "検索"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cutAtCarriageReturn(c.text), c.expected);
    }
}

TEST(AddResultTest, ReportsOneRowWithTheContentCut) {
    test::RecordingHost host;
    EXPECT_EQ(addResult(host, 13, "a.pdf", "line one\r\nline two", "/d/a.pdf", "4"), 0u);
    EXPECT_EQ(addResult(host, 1, "b.txt", "plain", "/d/b.txt", "2,3"), 1u);
    ASSERT_EQ(host.rows.size(), 2u);
    const Hit& first = host.rows[0];
    EXPECT_EQ(first.fileType, 13);
    EXPECT_EQ(first.name, "a.pdf");
    EXPECT_EQ(first.content, "line one");
    EXPECT_EQ(first.location, "/d/a.pdf");
    EXPECT_EQ(first.position, "4");
    EXPECT_EQ(host.rows[1].content, "plain");
    EXPECT_EQ(host.rows[1].position, "2,3");
}

Hit sampleHit(int fileType) {
    return Hit{fileType, "book.xls[Sheet1]", "found text", "/d/book.xls", "12,5"};
}

TEST(OpenActionTest, EveryFileTypeNumberGoesToItsOpener) {
    const Kind expected[app::fileType::slotCount] = {
        Kind::None,        // 0 unrecognised
        Kind::TextEditor,  // 1
        Kind::Word,        // 2
        Kind::Excel,       // 3
        Kind::Outlook,     // 4 tasks
        Kind::Outlook,     // 5 mail
        Kind::Outlook,     // 6 calendar
        Kind::Outlook,     // 7 contacts
        Kind::Outlook,     // 8 notes
        Kind::None,        // 9
        Kind::None,        // 10 Outlook Express mail: no opener
        Kind::None,        // 11 Outlook Express contacts
        Kind::None,        // 12
        Kind::Pdf,         // 13
        Kind::None,        // 14
        Kind::None,        // 15 Access: no opener
        Kind::PowerPoint,  // 16
        Kind::None,        // 17
        Kind::None,        // 18
        Kind::None,        // 19
        Kind::None,        // 20
    };
    for (int type = 0; type < app::fileType::slotCount; ++type) {
        OpenAction action = openActionFor(sampleHit(type));
        EXPECT_EQ(action.kind, expected[type]) << "type " << type;
        if (action.kind != Kind::None) {
            EXPECT_EQ(action.fileType, type);
            EXPECT_EQ(action.location, "/d/book.xls") << "type " << type;
        }
    }
    for (int type : {-1, 21, 255, 32767}) {
        EXPECT_EQ(openActionFor(sampleHit(type)).kind, Kind::None) << "type " << type;
    }
}

TEST(OpenActionTest, EachOpenerGetsItsArguments) {
    OpenAction text = openActionFor(sampleHit(app::fileType::text));
    EXPECT_EQ(text.position, "12,5");

    OpenAction word = openActionFor(sampleHit(app::fileType::word));
    EXPECT_EQ(word.search, "found text");

    OpenAction slides = openActionFor(Hit{16, "deck.ppt", "title", "/d/deck.ppt", "7"});
    EXPECT_EQ(slides.position, "7");

    OpenAction outlook = openActionFor(Hit{5, "件名", "本文", "outlook:5:12:Body", "3"});
    EXPECT_EQ(outlook.fileType, 5);
    EXPECT_EQ(outlook.location, "outlook:5:12:Body");
}

TEST(OpenActionTest, ExcelSheetComesFromTheName) {
    struct Case {
        const char* name;
        const char* sheet;
        const char* position;
    };
    const Case cases[] = {
        {"book.xls[Sheet1]", "Sheet1", "3,4"},
        {"book.xls[売上 2024]", "売上 2024", "3,4"},
        {"book.xls[]", "", "3,4"},
        // The second piece of the name split at "[", without its last character.
        {"a[b]c]", "b]c", "3,4"},
        {"a[b[c]", "", "3,4"},
        // A hit on the file name: the workbook opens with no sheet and no position.
        {"book.xls", "", ""},
    };
    for (const Case& c : cases) {
        OpenAction action = openActionFor(Hit{3, c.name, "x", "/d/book.xls", "3,4"});
        EXPECT_EQ(action.kind, Kind::Excel);
        EXPECT_EQ(action.sheet, c.sheet) << c.name;
        EXPECT_EQ(action.position, c.position) << c.name;
        EXPECT_EQ(action.location, "/d/book.xls");
    }
}

TEST(OpenActionTest, PdfPageFromThePosition) {
    struct Case {
        const char* position;
        std::int32_t page;
    };
    const Case cases[] = {
        {"3", 3},
        {"1", 1},
        {"2147483647", 2147483647},
        {"", 1},
        {"abc", 1},
        {"0", 1},
        {"-2", 1},
        {"12,5", 1},
        {"2147483648", 1},
        {"99999999999999999999", 1},
    };
    for (const Case& c : cases) {
        OpenAction action = openActionFor(Hit{13, "a.pdf", "", "/d/a.pdf", c.position});
        EXPECT_EQ(action.kind, Kind::Pdf);
        EXPECT_EQ(action.page, c.page) << "'" << c.position << "'";
    }
}

}  // namespace
}  // namespace ferretta::search
