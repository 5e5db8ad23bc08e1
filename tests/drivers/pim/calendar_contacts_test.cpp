#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "drivers/pim/calendar_file.h"
#include "drivers/pim/vcard_file.h"
#include "support/temp_tree.h"

namespace ferretta::platform::pim {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(FERRETTA_TEST_DATA) / "pim";

std::vector<std::string> logLines;
const PimLog kLog = [](std::string_view, std::string_view message) {
    logLines.emplace_back(message);
};

// The entries of a calendar file's text, as the file "f" holds them.
std::vector<CalendarEntry> entriesOf(std::string_view text, FolderKind kind) {
    return readCalendarEntries(text, kind, Origin::ICalendar, "f", kLog, "f");
}

std::vector<Item> allItems(std::unique_ptr<ItemFolder> folder) {
    std::vector<Item> items;
    for (std::size_t i = 1; folder && i <= folder->count(); ++i)
        items.push_back(*folder->item(i));
    return items;
}

TEST(CalendarFileTest, EachKindReadsItsComponentsWithTheirFields) {
    const auto events =
        allItems(openCalendarPlace(kData / "events.ics", FolderKind::Calendar, kLog));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].subject, "週次定例会議");
    EXPECT_EQ(events[0].location, "本社 第２会議室");
    EXPECT_EQ(events[0].categories, "仕事, 会議");
    // Escaped line breaks become lines; folded lines are joined, also inside a character.
    EXPECT_EQ(events[0].body,
              "議題は毎週の進捗確認です。\n資料は前日までに共有してください。長い行は折り返されて書"
              "かれるので読み手が元に戻さなければなりません。");
    EXPECT_EQ(events[0].ref.id, "event-weekly@example.jp");
    EXPECT_EQ(events[0].ref.container, (kData / "events.ics").string());

    const struct {
        const char* file;
        FolderKind kind;
        std::vector<std::string> subjects;
    } cases[] = {
        {"tasks.ics", FolderKind::Tasks, {"月次報告書の作成", "買い物"}},
        {"notes.ics", FolderKind::Notes, {"新製品のアイデア"}},
        {"events.ics", FolderKind::Tasks, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> subjects;
        for (const auto& item : allItems(openCalendarPlace(kData / c.file, c.kind, kLog)))
            subjects.push_back(item.subject);
        EXPECT_EQ(subjects, c.subjects) << c.file;
    }
    // A folder place reads its calendar files in name order.
    EXPECT_EQ(allItems(openCalendarPlace(kData, FolderKind::Tasks, kLog)).size(), 1u + 2u);
}

TEST(CalendarFileTest, BrokenComponentsAreSkippedAndTheRestRead) {
    logLines.clear();
    const auto tasks = allItems(openCalendarPlace(kData / "broken.ics", FolderKind::Tasks, kLog));
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].ref.id, "task-after@example.jp");
    EXPECT_EQ(logLines.size(), 1u);

    const struct {
        const char* text;
        std::size_t items;
    } cases[] = {
        {"BEGIN:VTODO\r\nUID:a\r\nSUMMARY:a\r\n", 0},  // never ended
        {"BEGIN:VTODO\nUID:a\nBEGIN:VTODO\nUID:b\nEND:VTODO\n", 1},
        {"BEGIN:VCALENDAR\nBEGIN:VTODO\nUID:a\nEND:VCALENDAR\nBEGIN:VTODO\nUID:c\nEND:VTODO\n", 1},
        {"END:VTODO\nBEGIN:VTODO\nUID:a\nSUMMARY:\x89\xEF\x8B\x63\nEND:VTODO\n", 1},  // CP932
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(entriesOf(c.text, FolderKind::Tasks).size(), c.items) << c.text;
    EXPECT_EQ(entriesOf(cases[3].text, FolderKind::Tasks)[0].item.subject, "会議");
    EXPECT_EQ(openCalendarPlace(kData / "missing.ics", FolderKind::Tasks, kLog), nullptr);
}

TEST(CalendarFileTest, OneItemBecomesACalendarOfItsOwn) {
    const std::string text =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VTIMEZONE\r\nTZID:Asia/Tokyo\r\nEND:VTIMEZONE\r\n"
        "BEGIN:VEVENT\r\nUID:r\r\nSUMMARY:master\r\nDTSTAMP:20260105T000000Z\r\n"
        "CREATED:20260101T000000Z\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:r\r\nRECURRENCE-ID;TZID=Asia/Tokyo:20260112T100000\r\n"
        "SUMMARY:moved\r\nDTSTAMP:20260106T000000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    const auto entries = entriesOf(text, FolderKind::Calendar);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].item.ref.id, "r\n20260112T100000");
    // The order of the desktop store's items: CREATED, else DTSTAMP.
    EXPECT_EQ(entries[0].created, "20260101T000000Z");
    EXPECT_EQ(entries[1].created, "20260106T000000Z");
    const auto single = standaloneCalendar(text, entries[1].item.ref.id);
    ASSERT_TRUE(single);
    EXPECT_NE(single->find("TZID:Asia/Tokyo"), std::string::npos);
    EXPECT_NE(single->find("SUMMARY:moved"), std::string::npos);
    EXPECT_EQ(single->find("SUMMARY:master"), std::string::npos);
    EXPECT_FALSE(standaloneCalendar(text, "other"));
    // Read back, it is that one item.
    EXPECT_EQ(entriesOf(*single, FolderKind::Calendar).size(), 1u);
}

TEST(VCardFileTest, ContactsOfEveryVersionWithTheirFields) {
    const auto contacts = allItems(openContactsPlace(kData, kLog));
    ASSERT_EQ(contacts.size(), 2u + 1u + 3u);
    const Item& yamada = contacts[0];
    EXPECT_EQ(yamada.subject, "山田 太郎");
    EXPECT_EQ(yamada.body, "毎年年賀状を送る\n2025年に担当交代");
    EXPECT_EQ(yamada.companies, "株式会社サンプル");
    EXPECT_EQ(yamada.jobTitle, "課長");
    EXPECT_EQ(yamada.emailAddress,
              (std::array<std::string, 3>{"yamada@example.jp", "taro@example.net",
                                          "t.yamada@example.org"}));
    EXPECT_EQ(yamada.homeAddress, "100-0001 東京都 千代田区 千代田1-1 日本");
    EXPECT_EQ(yamada.businessAddress, "530-0001 大阪府 大阪市北区 梅田2-2 日本");
    EXPECT_EQ(yamada.webPage, "https://example.jp/yamada");
    EXPECT_EQ(yamada.categories, "取引先, 重要");
    EXPECT_EQ(yamada.ref.id, "contact-yamada@example.jp");

    const Item& sato = contacts[2];  // vCard 4.0
    EXPECT_EQ(sato.subject, "佐藤 花子");
    EXPECT_EQ(sato.businessAddress, "606-0001 京都府 京都市左京区 1-2-3 日本");
    // A folded line is joined without its folding blank.
    EXPECT_EQ(contactItem(normaliseVCard("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:a\r\nNOTE:一行の\r\n "
                                         "続き\r\nEND:VCARD\r\n"))
                  .body,
              "一行の続き");
}

// A phone's vCard 2.1: Shift_JIS raw and quoted-printable, trail bytes 0x5C, soft line breaks,
// a charset nobody knows; no UIDs.
TEST(VCardFileTest, JapanesePhoneExport) {
    const auto contacts = allItems(openContactsPlace(kData / "phone21.vcf", kLog));
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[0].subject, "表 ソ太郎");
    EXPECT_EQ(contacts[0].body, "予定表を送る");
    EXPECT_EQ(contacts[0].emailAddress[0], "sotaro@example.ne.jp");
    EXPECT_EQ(contacts[1].subject, "能登 表示");
    EXPECT_EQ(contacts[1].homeAddress, "金沢市①丁目");
    EXPECT_EQ(contacts[1].body, "一行目の備考で、改行のあとに\n二行目が続く");
    EXPECT_EQ(contacts[2].subject, "変な文字コード");
    EXPECT_EQ(contacts[0].ref.id, "#1");
    EXPECT_EQ(contacts[2].ref.id, "#3");
    EXPECT_FALSE(contacts[0].ref.check.empty());
}

TEST(VCardFileTest, CardsAreFoundAgainForTheViewer) {
    const test::TempTree folder;
    const fs::path file = folder.root() / "book.vcf";
    fs::copy_file(kData / "phone21.vcf", file);
    const auto contacts = allItems(openContactsPlace(file, kLog));
    const auto card = contactCardFile(contacts[1].ref);
    ASSERT_TRUE(card);
    EXPECT_TRUE(card->starts_with("BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS;"));
    // The first card deleted: the second (no UID) is found by its text, the first is gone.
    std::string text = test::readFile(file);
    text.erase(0, text.find("BEGIN:VCARD", 1));
    std::ofstream(file, std::ios::binary) << text;
    EXPECT_EQ(contactCardFile(contacts[1].ref), card);
    EXPECT_FALSE(contactCardFile(contacts[0].ref));

    std::vector<std::string> problems;
    EXPECT_EQ(splitVCards("BEGIN:VCARD\nFN:a\nEND:VCARD\nBEGIN:VCARD\nFN:b\n", &problems).size(),
              1u);
    EXPECT_EQ(problems.size(), 1u);
}

}  // namespace
}  // namespace ferretta::platform::pim
