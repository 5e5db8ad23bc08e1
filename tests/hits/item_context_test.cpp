// The context of hits in the mail program's items, from the search to the item read again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hits/hit_context.h"
#include "searchers/outlook/outlook_search.h"
#include "support/memory_item_store.h"
#include "support/recording_host.h"

namespace ferretta::hits {
namespace {

using app::FileType;
namespace pim = platform::pim;

std::string render(const HitContext& context) {
    std::string out = "[" + context.heading + "]";
    for (const ContextLine& line : context.lines)
        out += " " + std::string(line.isHit ? "*" : "") + line.label + ":" + line.text;
    return out + (context.hitTextOnly ? " (hit only)" : "");
}

class ItemContextTest : public ::testing::Test {
  protected:
    ItemContextTest() {
        auto owned = std::make_unique<test::MemoryItemStore>();
        store = owned.get();
        session = std::make_unique<searchers::outlook::OutlookSession>(std::move(owned));
    }

    // The contexts of the hits a search for the words reports in the items of the type.
    std::vector<std::string> contexts(FileType type, const std::string& words, int around) {
        search::Matcher matcher(false, false);
        matcher.targetStrsSplit(words);
        test::RecordingHost host;
        search::SearchFlags flags;
        app::Settings settings;
        searchers::outlook::OutlookSearcher(*session, {host, settings, matcher, flags})
            .findOutlookObjects(type);
        std::vector<std::string> out;
        for (const app::Hit& hit : host.rows)
            out.push_back(render(reader.read(hit, around, &matcher,
                                             session->itemReader(hit.fileType, hit.location))));
        return out;
    }

    test::MemoryItemStore* store;
    std::unique_ptr<searchers::outlook::OutlookSession> session;
    ContextReader reader;
};

TEST_F(ItemContextTest, FieldsAndTheBodyAroundEachHit) {
    pim::Item mail =
        test::memoryItem("m", "会議の件", "本日の会議は\r\n中止\r\n改行\n次の会議は未定", "仕事");
    mail.to = "会議室係";
    mail.senderName = "山田";
    store->folders[pim::FolderKind::Inbox] = {test::memoryItem("x", "無関係"), mail};
    pim::Item contact = test::memoryItem("c", "佐藤", "メモ");
    contact.homeAddress = "〒100-0001\r\n東京都 会議町1";  // the row holds its first line
    store->folders[pim::FolderKind::Contacts] = {contact};

    const std::string fields = "表題:会議の件 宛先(To):会議室係 送信者(SenderName):山田 分類:仕事";
    EXPECT_EQ(contexts(FileType::OutlookMail, "会議", 1),
              (std::vector<std::string>{
                  // The subject: the fields, then the body's first lines.
                  "[Outlookメール(2)] *" + fields + " 1:本日の会議は 2:中止 3:改行",
                  "[Outlookメール(2)] " + fields + " *1:本日の会議は 2:中止",
                  "[Outlookメール(2)] " + fields + " 3:改行 *4:次の会議は未定",
                  "[Outlookメール(2)] 表題:会議の件 *宛先(To):会議室係 送信者(SenderName):山田 "
                  "分類:仕事 1:本日の会議は 2:中止 3:改行",
              }));
    EXPECT_EQ(contexts(FileType::OutlookContact, "会議", 0),
              (std::vector<std::string>{
                  "[Outlook連絡先(1)] 表題:佐藤 *自宅住所:〒100-0001  東京都 会議町1 "
                  "1:メモ"}));
}

// What the item holds now is no longer what was found: the hit's text alone, as for a changed
// file; so too for an item gone, and without a reader.
TEST_F(ItemContextTest, AChangedOrVanishedItemShowsTheHitAlone) {
    store->folders[pim::FolderKind::Inbox] = {test::memoryItem("m", "件", "一行目\n会議\n三行目")};
    search::Matcher matcher(false, false);
    matcher.targetStrsSplit("会議");
    test::RecordingHost host;
    search::SearchFlags flags;
    app::Settings settings;
    searchers::outlook::OutlookSearcher(*session, {host, settings, matcher, flags})
        .findOutlookObjects(FileType::OutlookMail);
    ASSERT_EQ(host.rows.size(), 1u);
    const app::Hit hit = host.rows[0];
    const auto readAgain = [&] {
        return render(
            reader.read(hit, 1, &matcher, session->itemReader(hit.fileType, hit.location)));
    };
    EXPECT_EQ(readAgain(), "[Outlookメール(1)] 表題:件 1:一行目 *2:会議 3:三行目");
    store->folders[pim::FolderKind::Inbox][0].body = "会議\n二行目";
    EXPECT_EQ(readAgain(), "[] *2,1:会議 (hit only)");
    store->folders[pim::FolderKind::Inbox].clear();
    EXPECT_EQ(readAgain(), "[] *2,1:会議 (hit only)");
    EXPECT_EQ(render(reader.read(hit, 1, &matcher)), "[] *2,1:会議 (hit only)");
}

}  // namespace
}  // namespace ferretta::hits
