#include "drivers/pim/desktop_store.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drivers/pim/item_viewer.h"
#include "support/temp_tree.h"
#include "support/wait.h"

namespace ferretta::platform::pim {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(FERRETTA_TEST_DATA) / "pim";

class DesktopStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config.home = root / "home";
        config.dataHome = root / "home/.local/share";
        config.viewerFolder = root / "opened";
        // Programs started for the viewer are stand-ins that write down what they were given.
        fs::create_directories(root / "bin");
        for (const char* program : {"xdg-open", "evolution"}) {
            const fs::path script = root / "bin" / program;
            const std::string shownFile = (root / "shown").string();
            std::ofstream(script)
                << "#!/bin/sh\n{ /bin/cat \"$1\" 2>/dev/null || printf '%s' \"$1\"; } > \""
                << shownFile << ".new\" && /bin/mv \"" << shownFile << ".new\" \"" << shownFile
                << "\"\n";
            fs::permissions(script, fs::perms::owner_all);
        }
        savedPath = std::getenv("PATH");
        ::setenv("PATH", (root / "bin").c_str(), 1);
    }
    void TearDown() override { ::setenv("PATH", savedPath.c_str(), 1); }

    // What the stand-in viewer was handed, once it has run.
    std::string shown() {
        test::waitUntil([&] { return fs::exists(root / "shown"); });
        return test::readFile(root / "shown");
    }

    const test::TempTree tree;
    const fs::path root = tree.root();
    DesktopStoreConfig config;
    std::string savedPath;
};

TEST_F(DesktopStoreTest, AutomaticInboxIsEvolutionsElseThunderbirdsDefaultProfile) {
    EXPECT_EQ(defaultInbox(config.home, config.dataHome), std::nullopt);
    const fs::path tb = config.home / ".thunderbird";
    test::writeFile(tb / "profiles.ini",
                    "[Profile1]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
                    "[Profile0]\nName=new\nIsRelative=1\nPath=new.default-release\n\n"
                    "[Install4F96D1932A9F858E]\nDefault=new.default-release\nLocked=1\n");
    test::writeFile(tb / "old.default/Mail/Local Folders/Inbox", "");
    test::writeFile(tb / "new.default-release/ImapMail/b.example.jp/INBOX", "");
    test::writeFile(tb / "new.default-release/ImapMail/a.example.jp/INBOX", "");
    EXPECT_EQ(defaultInbox(config.home, config.dataHome),
              tb / "new.default-release/ImapMail/a.example.jp/INBOX");
    test::writeFile(tb / "new.default-release/Mail/Local Folders/Inbox", "");
    EXPECT_EQ(defaultInbox(config.home, config.dataHome),
              tb / "new.default-release/Mail/Local Folders/Inbox");
    fs::create_directories(config.dataHome / "evolution/mail/local/cur");
    EXPECT_EQ(defaultInbox(config.home, config.dataHome), config.dataHome / "evolution/mail/local");

    EXPECT_EQ(placePath("", "/h"), std::nullopt);
    EXPECT_EQ(placePath(" 自動 ", "/h"), std::nullopt);
    EXPECT_EQ(placePath("~/Mail/Inbox", "/h"), fs::path("/h/Mail/Inbox"));
    EXPECT_EQ(placePath(" /x/y.ics", "/h"), fs::path("/x/y.ics"));
}

TEST_F(DesktopStoreTest, ItemsAreShownAsCopiesRemovedAtTheEnd) {
    fs::path copies;
    {
        auto store = makeDesktopItemStore(config);
        auto inbox = store->openFolder(FolderKind::Inbox, (kData / "Inbox").string());
        ASSERT_TRUE(inbox);
        const auto mail = inbox->item(2);
        ASSERT_EQ(store->display(FolderKind::Inbox, mail->ref), DisplayResult::Shown);
        const std::string eml = shown();
        EXPECT_TRUE(eml.starts_with("X-Mozilla-Status: 0001\n")) << eml.substr(0, 80);
        EXPECT_NE(eml.find("Message-ID: <fixture-2@example.jp>"), std::string::npos);
        EXPECT_EQ(eml.find("From - "), std::string::npos);
        copies = config.viewerFolder / std::to_string(::getpid());
        EXPECT_EQ(fs::status(copies).permissions() & fs::perms::all, fs::perms::owner_all);

        fs::remove(root / "shown");
        auto contacts = store->openFolder(FolderKind::Contacts, (kData / "phone21.vcf").string());
        ASSERT_EQ(store->display(FolderKind::Contacts, contacts->item(1)->ref),
                  DisplayResult::Shown);
        EXPECT_TRUE(shown().starts_with("BEGIN:VCARD\r\nVERSION:2.1\r\n"));

        pim::ItemRef gone = mail->ref;
        gone.check = "someone-else@example.jp";
        EXPECT_EQ(store->display(FolderKind::Inbox, gone), DisplayResult::Failed);
        EXPECT_EQ(store->openFolder(FolderKind::Tasks, (root / "none.ics").string()), nullptr);
    }
    EXPECT_FALSE(fs::exists(copies));
}

TEST_F(DesktopStoreTest, CopiesOfProcessesThatDiedAreRemoved) {
    fs::create_directories(config.viewerFolder / "999999999");  // no such process
    fs::create_directories(config.viewerFolder / "1");          // init is alive
    ItemViewer viewer(config.viewerFolder);
    EXPECT_FALSE(fs::exists(config.viewerFolder / "999999999"));
    EXPECT_TRUE(fs::exists(config.viewerFolder / "1"));
    EXPECT_EQ(evolutionUri("task", "system-task-list", "a b&c", "20260101T000000"),
              "task:///?source-uid=system-task-list&comp-uid=a%20b%26c&comp-rid=20260101T000000");
}

TEST_F(DesktopStoreTest, WithoutASessionBusEdsIsNotConnected) {
    const char* saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string address = "unix:path=" + (root / "no-bus").string();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    auto store = makeDesktopItemStore(config);
    EXPECT_EQ(store->openFolder(FolderKind::Calendar, ""), nullptr);
    EXPECT_EQ(store->display(FolderKind::Calendar, {Origin::Eds, "system-calendar", "x", {}}),
              DisplayResult::NotConnected);
    if (saved)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", saved, 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace ferretta::platform::pim
