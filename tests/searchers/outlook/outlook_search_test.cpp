#include "searchers/outlook/outlook_search.h"

#include <gtest/gtest.h>

#include "app/file_types.h"
#include "run/search_run.h"
#include "support/memory_item_store.h"
#include "support/recording_host.h"

namespace ferretta::searchers::outlook {
namespace {

using app::FileType;
namespace pim = platform::pim;
using pim::FolderKind;
using test::memoryItem;

class OutlookSearchTest : public ::testing::Test {
  protected:
    OutlookSearchTest() {
        auto owned = std::make_unique<test::MemoryItemStore>();
        store = owned.get();
        session = std::make_unique<OutlookSession>(std::move(owned));
    }

    std::int64_t search(FileType type, const std::string& words = "会議") {
        matcher.targetStrsSplit(words);
        OutlookSearcher searcher(*session, {host, settings, matcher, flags});
        return searcher.findOutlookObjects(type);
    }

    std::vector<std::string> rows() const { return test::hitRows(host); }

    test::MemoryItemStore* store;
    std::unique_ptr<OutlookSession> session;
    test::RecordingHost host;
    app::Settings settings;
    search::Matcher matcher{false, false};
    search::SearchFlags flags;
};

TEST_F(OutlookSearchTest, SubjectAndBodyLinesAreHitsAndTheSubjectHitIsBlue) {
    store->folders[FolderKind::Inbox] = {
        memoryItem("a", "無関係", "なし"),
        memoryItem("b", "会議の件", "本日の会議は\r\n中止\r\n次の会議は未定", "仕事, 重要"),
    };
    EXPECT_EQ(search(FileType::OutlookMail), 2);
    const std::vector<std::string> expected = {
        "5|会議の件|(件名にヒット)|Outlookメール(2)-表題|仕事, 重要",
        "5|会議の件|本日の会議は|Outlookメール(2)-本文|1,7",
        "5|会議の件|次の会議は未定|Outlookメール(2)-本文|3,5",
    };
    EXPECT_EQ(rows(), expected);
    EXPECT_EQ(host.colors, (std::vector<std::uint32_t>{0x0000FF, 0, 0}));
}

// Bodies end their lines in any of the three ways; each line is counted from 1 and the column
// from its own start (no line keeps a line feed of the break before it).
TEST_F(OutlookSearchTest, BodyLinesAreSplitAtCrLfLfAndCr) {
    const struct {
        const char* body;
        const char* position;
    } cases[] = {
        {"x\r\ny\r\n会議", "3,1"},    {"x\ny\n会議", "3,1"}, {"x\ry\r会議", "3,1"},
        {"x\r\n\r\n\n\r会議", "5,1"}, {"ab\r会議", "2,1"},
    };
    for (const auto& c : cases) {
        host.rows.clear();
        store->folders[FolderKind::Notes] = {memoryItem("n", "メモ", c.body)};
        search(FileType::OutlookNote);
        ASSERT_EQ(host.rows.size(), 1u) << c.body;
        EXPECT_EQ(host.rows[0].position, c.position) << c.body;
    }
}

TEST_F(OutlookSearchTest, EachTypeSearchesItsOwnFieldsWithItsTags) {
    pim::Item mail = memoryItem("m", "x", "", "分類");
    mail.to = "会議室; 佐藤";
    mail.senderName = "会議太郎";
    mail.cc = "会議係";
    mail.location = "会議室";  // a mail's location is not one of its fields
    pim::Item event = memoryItem("e", "x");
    event.location = "第１会議室";
    event.to = "会議";  // nor is an event's To
    pim::Item contact = memoryItem("c", "x", "", "取引先");
    contact.companies = "会議社";
    contact.jobTitle = "会議係";
    contact.emailAddress = {"a@会議", "", "c@会議"};
    contact.homeAddress = "会議町";
    contact.businessAddress = "会議市";
    contact.webPage = "https://会議.jp";
    pim::Item task = memoryItem("t", "x");
    task.location = "会議";
    store->folders = {{FolderKind::Inbox, {mail}},
                      {FolderKind::Calendar, {event}},
                      {FolderKind::Contacts, {contact}},
                      {FolderKind::Tasks, {task}}};
    for (FileType type : {FileType::OutlookMail, FileType::OutlookCalendar,
                          FileType::OutlookContact, FileType::OutlookTask})
        search(type);
    const std::vector<std::string> expected = {
        "5|x|会議室; 佐藤|Outlookメール(1)-宛先(To)|分類",
        "5|x|会議太郎|Outlookメール(1)-送信者(SenderName)|分類",
        "5|x|会議係|Outlookメール(1)-同報(Cc)|分類",
        "6|x|第１会議室|Outlook予定表(1)-場所|",
        "7|x|会議社|Outlook連絡先(1)-会社名|取引先",
        "7|x|会議係|Outlook連絡先(1)-役職|取引先",
        "7|x|a@会議|Outlook連絡先(1)-メールアドレス1|取引先",
        "7|x|c@会議|Outlook連絡先(1)-メールアドレス3|取引先",
        "7|x|会議町|Outlook連絡先(1)-自宅住所|取引先",
        "7|x|会議市|Outlook連絡先(1)-勤務先住所|取引先",
        "7|x|https://会議.jp|Outlook連絡先(1)-WebPage|取引先",
    };
    EXPECT_EQ(rows(), expected);
}

TEST_F(OutlookSearchTest, FileNameOnlySearchesSubjectsAlone) {
    pim::Item mail = memoryItem("m", "会議", "会議の本文");
    mail.senderName = "会議太郎";
    store->folders[FolderKind::Inbox] = {mail};
    settings.fileNameOnly = true;
    search(FileType::OutlookMail);
    EXPECT_EQ(rows(), std::vector<std::string>{"5|会議|(件名にヒット)|Outlookメール(1)-表題|"});
}

// The whole-body look that spares most lines must not hide a pattern that only a single line
// matches.
TEST_F(OutlookSearchTest, AnchoredPatternStillFindsItsLine) {
    store->folders[FolderKind::Notes] = {memoryItem("n", "x", "前置き\n会議は十時")};
    matcher = search::Matcher(true, false);
    search(FileType::OutlookNote, "^会議");
    EXPECT_EQ(rows(), std::vector<std::string>{"8|x|会議は十時|Outlookメモ(1)-本文|2,1"});
}

TEST_F(OutlookSearchTest, ProgressNamesTheItemAndTheFolderCount) {
    store->folders[FolderKind::Inbox] = std::vector<pim::Item>(300, memoryItem("same", "x"));
    EXPECT_EQ(search(FileType::OutlookMail), 300);
    ASSERT_EQ(host.progressTexts.size(), 300u);
    EXPECT_EQ(host.progressTexts[24], "Outlookメールの検索中...(25/300)");
    EXPECT_EQ(host.doEventsCalls, 30);
}

// Through the search command both front ends run: the item types after the folder walk, in
// their order, their counts added; a stop ends the items within ten and skips the later types.
TEST_F(OutlookSearchTest, TheSearchCommandRunsTheTypesInOrderUntilAStop) {
    store->folders[FolderKind::Tasks] = {memoryItem("t", "会議")};
    store->folders[FolderKind::Inbox] = std::vector<pim::Item>(100, memoryItem("m", "会議"));
    store->folders[FolderKind::Calendar] = {memoryItem("e", "会議")};
    settings.fileTypes.setTarget(FileType::Text, false);
    for (FileType type : {FileType::OutlookCalendar, FileType::OutlookMail, FileType::OutlookTask})
        settings.fileTypes.setTarget(type, true);
    int calls = 0;
    host.onDoEvents = [&] {
        if (++calls == 2)  // the mail's second look, at item 20
            flags.isAbort = true;
    };
    run::SearchRunHooks hooks;
    hooks.outlookSession = [this]() -> OutlookSession& { return *session; };
    EXPECT_EQ(run::runSearchCommand(host, settings, flags, "会議", hooks).files, 1 + 20);
    EXPECT_EQ(host.rows.size(), 1u + 19u);  // the task, then mail 1..19
    EXPECT_EQ(store->opened.size(), 2u);    // the calendar was never opened
}

TEST_F(OutlookSearchTest, UnreachableFolderCountsNothingAndUnreadableItemsAreSkipped) {
    EXPECT_EQ(search(FileType::OutlookCalendar), 0);
    EXPECT_EQ(search(FileType::Excel), 0);  // not an item type
    struct BrokenFolder : pim::ItemListFolder {
        using ItemListFolder::ItemListFolder;
        std::optional<pim::Item> item(std::size_t index) override {
            return index == 1 ? std::nullopt : ItemListFolder::item(index);
        }
    };
    struct BrokenStore : test::MemoryItemStore {
        std::unique_ptr<pim::ItemFolder> openFolder(FolderKind, const std::string&) override {
            return std::make_unique<BrokenFolder>(
                std::vector<pim::Item>{memoryItem("1", "会議"), memoryItem("2", "会議")});
        }
    };
    OutlookSession brokenSession(std::make_unique<BrokenStore>());
    matcher.targetStrsSplit("会議");
    OutlookSearcher searcher(brokenSession, {host, settings, matcher, flags});
    EXPECT_EQ(searcher.findOutlookObjects(FileType::OutlookNote), 2);
    EXPECT_EQ(rows(), std::vector<std::string>{"8|会議|(件名にヒット)|Outlookメモ(2)-表題|"});
    EXPECT_EQ(brokenSession.remembered(FileType::OutlookNote, 1), nullptr);
}

TEST_F(OutlookSearchTest, PlacesComeFromTheSettingsPerType) {
    settings.outlookPlaces = {"/t.ics", "~/Mail/Inbox", "", "/c.vcf", "/n"};
    for (FileType type : app::outlookItemTypes)
        search(type);
    const std::vector<std::pair<FolderKind, std::string>> expected = {
        {FolderKind::Tasks, "/t.ics"},
        {FolderKind::Inbox, "~/Mail/Inbox"},
        {FolderKind::Calendar, ""},
        {FolderKind::Contacts, "/c.vcf"},
        {FolderKind::Notes, "/n"}};
    EXPECT_EQ(store->opened, expected);
}

// A double-click opens the item the search meant by the label's index, wherever it went.
TEST_F(OutlookSearchTest, OpeningFindsTheRememberedItemOrSaysItIsGone) {
    store->folders[FolderKind::Contacts] = {memoryItem("c1", "会議"), memoryItem("c2", "x"),
                                            memoryItem("c3", "会議")};
    search(FileType::OutlookContact);
    // The address book changed: the third contact is now the first, the first is gone.
    store->folders[FolderKind::Contacts] = {memoryItem("c3", "会議"), memoryItem("c2", "x")};
    openOutlookItem(*session, host, FileType::OutlookContact, "Outlook連絡先(3)-表題");
    EXPECT_EQ(store->displayed, std::vector<std::string>{"c3"});
    EXPECT_TRUE(host.messages.empty());

    const struct {
        FileType type;
        const char* label;
        const char* message;
    } failures[] = {
        {FileType::OutlookContact, "Outlook連絡先(1)-表題", "オブジェクトを開けませんでした No=1"},
        {FileType::OutlookContact, "Outlook連絡先(9)-表題", "オブジェクトを開けませんでした No=9"},
        {FileType::OutlookContact, "Outlook連絡先(x)-表題", "オブジェクトを開けませんでした No="},
        {FileType::OutlookMail, "Outlookメール(1)-表題", "オブジェクトを開けませんでした No=1"},
    };
    for (const auto& f : failures) {
        host.messages.clear();
        openOutlookItem(*session, host, f.type, f.label);
        SCOPED_TRACE(f.label);
        test::expectOneMessage(host, f.message, app::MessageStyle::Critical);
    }
    host.messages.clear();
    store->folders.erase(FolderKind::Contacts);
    openOutlookItem(*session, host, FileType::OutlookContact, "Outlook連絡先(3)-本文");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Outlookに接続できませんでした");
    host.messages.clear();
    openOutlookItem(*session, host, FileType::Text, "Outlook連絡先(3)-本文");
    EXPECT_TRUE(host.messages.empty());

    session->initOutlookValues();
    EXPECT_EQ(store->disconnects, 1);
    EXPECT_EQ(session->remembered(FileType::OutlookContact, 3), nullptr);
}

TEST(OutlookLabelTest, LabelsAndTheirIndex) {
    EXPECT_EQ(itemLabel("Outlookメール", 12, ")-表題"), "Outlookメール(12)-表題");
    EXPECT_EQ(labelIndex("Outlookメール(12)-表題"), 12);
    EXPECT_EQ(labelIndex("Outlookメール( 7 )-本文"), 7);
    EXPECT_EQ(labelIndex("Outlookメール(7-本文"), std::nullopt);
    EXPECT_EQ(labelIndex("no parenthesis"), std::nullopt);
    EXPECT_EQ(labelIndex("x()-表題"), std::nullopt);
}

}  // namespace
}  // namespace ferretta::searchers::outlook
