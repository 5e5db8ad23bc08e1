// Every item the desktop store's folders give is read again alone, on another thread (as the
// preview pane does), exactly as the search read it.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>
#include <tuple>

#include "drivers/pim/desktop_store.h"
#include "support/temp_tree.h"

namespace ferretta::platform::pim {
namespace {

namespace fs = std::filesystem;

auto fieldsOf(const Item& item) {
    return std::tie(item.ref, item.subject, item.body, item.categories, item.to, item.senderName,
                    item.cc, item.location, item.companies, item.jobTitle, item.emailAddress,
                    item.homeAddress, item.businessAddress, item.webPage);
}

TEST(ItemReadBackTest, EveryItemOfEveryFileStoreIsReadAgainAsTheSearchReadIt) {
    const test::TempTree tree;
    const fs::path data = fs::path(FERRETTA_TEST_DATA) / "pim";
    fs::copy(data, tree.root() / "pim", fs::copy_options::recursive);
    const fs::path pim = tree.root() / "pim";
    DesktopStoreConfig config;
    config.home = config.dataHome = config.viewerFolder = tree.root() / "home";
    config.log = [](std::string_view, std::string_view) {};
    const auto store = makeDesktopItemStore(config);

    const struct {
        FolderKind kind;
        const char* place;
    } places[] = {{FolderKind::Inbox, "Inbox"},
                  {FolderKind::Inbox, "Maildir"},
                  {FolderKind::Calendar, "events.ics"},
                  {FolderKind::Tasks, "tasks.ics"},
                  {FolderKind::Notes, "notes.ics"},
                  {FolderKind::Contacts, "contacts30.vcf"},
                  {FolderKind::Contacts, "contacts40.vcf"},
                  {FolderKind::Contacts, "phone21.vcf"}};
    for (const auto& [kind, place] : places) {
        SCOPED_TRACE(place);
        const auto folder = store->openFolder(kind, (pim / place).string());
        ASSERT_TRUE(folder);
        ASSERT_GT(folder->count(), 0u);
        for (std::size_t i = 1; i <= folder->count(); ++i) {
            const std::optional<Item> item = folder->item(i);
            if (!item)
                continue;  // a broken message, skipped by the search too
            const std::optional<Item> again = std::async(std::launch::async, [&] {
                                                  return store->readItem(kind, item->ref);
                                              }).get();
            ASSERT_TRUE(again) << "item " << i;
            EXPECT_TRUE(fieldsOf(*again) == fieldsOf(*item))
                << "item " << i << ": " << again->subject << " / " << item->subject;
        }
    }

    // Gone: the message file of a Maildir deleted, the mailbox emptied.
    const auto maildir = store->openFolder(FolderKind::Inbox, (pim / "Maildir").string());
    const std::optional<Item> first = maildir->item(1);
    ASSERT_TRUE(first);
    for (const auto& entry : fs::recursive_directory_iterator(pim / "Maildir"))
        if (entry.is_regular_file())
            fs::remove(entry.path());
    EXPECT_FALSE(store->readItem(FolderKind::Inbox, first->ref));
}

}  // namespace
}  // namespace ferretta::platform::pim
