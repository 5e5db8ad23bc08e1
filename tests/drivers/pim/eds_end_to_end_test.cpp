// Tasks, an event, a memo and a contact made in EDS through its client libraries, then found by
// ferretta-cli and shown through the desktop store. Runs for real only under eds_check.sh (a
// session bus of its own); skipped elsewhere.
#include <libebook/libebook.h>
#include <libecal/libecal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drivers/pim/desktop_store.h"
#include "support/temp_tree.h"
#include "support/wait.h"

namespace ferretta::platform::pim {
namespace {

namespace fs = std::filesystem;

class EdsEndToEndTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::getenv("FERRETTA_EDS_SESSION"))
            return;
        registry = e_source_registry_new_sync(nullptr, nullptr);
        ASSERT_TRUE(registry);
        taskUid = createComponent(
            e_source_registry_ref_default_task_list(registry), E_CAL_CLIENT_SOURCE_TYPE_TASKS,
            "BEGIN:VTODO\r\nSUMMARY:予算会議の準備\r\nDESCRIPTION:資料を集める\\n"
            "会議室を予約する\r\nCATEGORIES:仕事\r\nEND:VTODO\r\n");
        eventUid = createComponent(e_source_registry_ref_default_calendar(registry),
                                   E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                   "BEGIN:VEVENT\r\nSUMMARY:打ち合わせ\r\nLOCATION:第３会議室\r\n"
                                   "DTSTART:20260105T010000Z\r\nDTEND:20260105T020000Z\r\n"
                                   "END:VEVENT\r\n");
        createComponent(e_source_registry_ref_default_memo_list(registry),
                        E_CAL_CLIENT_SOURCE_TYPE_MEMOS,
                        "BEGIN:VJOURNAL\r\nSUMMARY:議事録\r\nDESCRIPTION:次回の会議は来月\r\n"
                        "END:VJOURNAL\r\n");
        ESource* book = e_source_registry_ref_default_address_book(registry);
        EClient* client =
            e_book_client_connect_sync(book, static_cast<guint32>(-1), nullptr, nullptr);
        ASSERT_TRUE(client);
        EContact* contact = e_contact_new_from_vcard(
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:会議 太郎\r\nORG:会議株式会社\r\n"
            "EMAIL:kaigi@example.jp\r\nNOTE:受付で会議と伝える\r\nEND:VCARD\r\n");
        gchar* uid = nullptr;
        ASSERT_TRUE(e_book_client_add_contact_sync(
            E_BOOK_CLIENT(client), contact, E_BOOK_OPERATION_FLAG_NONE, &uid, nullptr, nullptr));
        g_free(uid);
        g_object_unref(contact);
        g_object_unref(client);
        g_object_unref(book);
    }

    static std::string createComponent(ESource* source, ECalClientSourceType type,
                                       const char* text) {
        EClient* client =
            e_cal_client_connect_sync(source, type, static_cast<guint32>(-1), nullptr, nullptr);
        g_object_unref(source);
        EXPECT_TRUE(client);
        if (!client)
            return {};
        ICalComponent* component = i_cal_component_new_from_string(text);
        gchar* uid = nullptr;
        EXPECT_TRUE(e_cal_client_create_object_sync(
            E_CAL_CLIENT(client), component, E_CAL_OPERATION_FLAG_NONE, &uid, nullptr, nullptr));
        std::string made = uid ? uid : "";
        g_free(uid);
        g_object_unref(component);
        g_object_unref(client);
        return made;
    }

    void SetUp() override {
        if (!std::getenv("FERRETTA_EDS_SESSION"))
            GTEST_SKIP() << "runs under eds_check.sh, on a session bus of its own";
    }

    static inline ESourceRegistry* registry = nullptr;
    static inline std::string taskUid;
    static inline std::string eventUid;
};

TEST_F(EdsEndToEndTest, FerrettaCliFindsTheItemsOfEveryDefaultSource) {
    const std::string command = std::string(FERRETTA_CLI_PATH) +
                                " --types=outlook-task,outlook-calendar,outlook-contact,"
                                "outlook-note . 会議 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    ::pclose(pipe);
    for (const char* line : {
             "\"予算会議の準備\",\"(件名にヒット)\",\"Outlook仕事(1)-表題\",\"仕事\"",
             "\"予算会議の準備\",\"会議室を予約する\",\"Outlook仕事(1)-本文\",\"2,1\"",
             "\"打ち合わせ\",\"第３会議室\",\"Outlook予定表(1)-場所\",\"\"",
             "\"会議 太郎\",\"(件名にヒット)\",\"Outlook連絡先(1)-表題\",\"\"",
             "\"会議 太郎\",\"受付で会議と伝える\",\"Outlook連絡先(1)-本文\",\"1,7\"",
             "\"会議 太郎\",\"会議株式会社\",\"Outlook連絡先(1)-会社名\",\"\"",
             "\"議事録\",\"次回の会議は来月\",\"Outlookメモ(1)-本文\",\"1,7\"",
             "4ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、7件ヒットしました。",
         }) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
}

TEST_F(EdsEndToEndTest, ItemsOpenInEvolutionOrAsCopiesAndAreGoneWhenDeleted) {
    const fs::path bin = fs::path(std::getenv("HOME")) / "bin";
    fs::create_directories(bin);
    const fs::path shown = bin / "shown";
    const auto standIn = [&](const char* program) {
        std::ofstream(bin / program) << "#!/bin/sh\nprintf '%s' \"$1\" > " << shown << ".new && "
                                     << "mv " << shown << ".new " << shown << "\n";
        fs::permissions(bin / program, fs::perms::owner_all);
    };
    const auto waitShown = [&] {
        test::waitUntil([&] { return fs::exists(shown); });
        std::string text = test::readFile(shown);
        fs::remove(shown);
        return text;
    };
    standIn("xdg-open");
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);

    auto store = makeDesktopItemStore(desktopStoreConfig(std::getenv("FERRETTA_HOME"), {}));
    auto tasks = store->openFolder(FolderKind::Tasks, "");
    ASSERT_TRUE(tasks);
    ASSERT_EQ(tasks->count(), 1u);
    const ItemRef task = tasks->item(1)->ref;
    EXPECT_EQ(task.id, taskUid);
    // Without Evolution: a calendar file holding the task.
    ASSERT_EQ(store->display(FolderKind::Tasks, task), DisplayResult::Shown);
    const fs::path copy = waitShown();
    const std::string ics = test::readFile(copy);
    EXPECT_NE(ics.find("BEGIN:VCALENDAR"), std::string::npos);
    EXPECT_NE(ics.find("SUMMARY:予算会議の準備"), std::string::npos);
    // With Evolution: its task editor through a task: URI.
    standIn("evolution");
    ASSERT_EQ(store->display(FolderKind::Tasks, task), DisplayResult::Shown);
    EXPECT_EQ(waitShown(), "task:///?source-uid=system-task-list&comp-uid=" + taskUid);
    // Contacts have no Evolution URI: a vCard copy.
    auto contacts = store->openFolder(FolderKind::Contacts, "");
    ASSERT_EQ(store->display(FolderKind::Contacts, contacts->item(1)->ref), DisplayResult::Shown);
    EXPECT_EQ(fs::path(waitShown()).extension(), ".vcf");

    // Deleted after the search: gone.
    ESource* source = e_source_registry_ref_default_calendar(registry);
    EClient* client = e_cal_client_connect_sync(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                                static_cast<guint32>(-1), nullptr, nullptr);
    auto events = store->openFolder(FolderKind::Calendar, "");
    ASSERT_TRUE(e_cal_client_remove_object_sync(E_CAL_CLIENT(client), eventUid.c_str(), nullptr,
                                                E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE,
                                                nullptr, nullptr));
    EXPECT_EQ(store->display(FolderKind::Calendar, events->item(1)->ref), DisplayResult::Failed);
    g_object_unref(client);
    g_object_unref(source);
    ::setenv("PATH", path.c_str(), 1);
}

}  // namespace
}  // namespace ferretta::platform::pim
