#include "platform/restore_journal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <iterator>

#include "support/temp_tree.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

using test::readFile;
using test::writeFile;

MovedAside identityOf(const fs::path& original, const fs::path& aside) {
    struct stat info {};
    EXPECT_EQ(::lstat(aside.c_str(), &info), 0);
    return {original.string(), aside.string(), static_cast<std::uint64_t>(info.st_dev),
            static_cast<std::uint64_t>(info.st_ino)};
}

class RestoreJournalTest : public ::testing::Test {
  protected:
    // An entry as a dead run leaves it.
    fs::path writeEntry(const MovedAside& entry, const std::string& name = "1-2-3.restore") {
        fs::create_directories(m_journal);
        writeFile(m_journal / name, journalText(entry));
        return m_journal / name;
    }
    std::size_t entries() const {
        std::error_code ec;  // no folder: no entries
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_journal, ec), {}));
    }

    const test::TempTree m_tree;
    const fs::path m_dir = m_tree.root(), m_journal = m_dir / "restore",
                   m_original = m_dir / "report.txt", m_aside = m_dir / "ferrettatmp.txt";
};

TEST(JournalTextTest, RoundTripsAnyPathAndRefusesAnythingElse) {
    const MovedAside entry{"/d/a\nb \"c\".txt", "/d/ferrettatmp.txt", 66306, 1234567890123};
    const std::string text = journalText(entry);
    EXPECT_EQ(parseJournalText(text), entry);

    const std::string broken[] = {
        std::string(),
        text.substr(0, text.size() - 1),
        text + "x",
        "x" + text.substr(1),
        journalText({"", "/d/t", 1, 2}),
        journalText({"/d/a", "/d/a", 1, 2}),
        journalText({std::string("/d/a\0b", 5), "/d/t", 1, 2}),
        "ferretta restore 1\ndevice=1\ninode=2\noriginal=99:/d/a\naside=4:/d/t\n",
        "ferretta restore 1\ndevice=-1\ninode=2\noriginal=4:/d/a\naside=4:/d/t\n",
        "ferretta restore 1\ndevice=01\ninode=2\noriginal=4:/d/a\naside=4:/d/t\n",
        "ferretta restore 1\ndevice=99999999999999999999\ninode=2\noriginal=4:/d/a\n"
        "aside=4:/d/t\n"};
    for (const std::string& bad : broken)
        EXPECT_FALSE(parseJournalText(bad)) << bad;
}

// What the next start does with an entry a dead run left, for each state the files can be in.
TEST_F(RestoreJournalTest, ReplayPutsBackOnlyTheFileThatWasMovedAside) {
    struct Case {
        const char* name;
        // Prepares the files and answers the entry to write.
        std::function<MovedAside()> prepare;
        std::string originalAfter;  // empty: nothing there
        bool asideLeft;             // the entry goes in every case
    };
    auto userFileAside = [this] {
        writeFile(m_aside, "mine");
        return identityOf(m_original, m_aside);
    };
    const Case cases[] = {
        {"the filter's output over the user's name",
         [&] {
             writeFile(m_original, "filter output");
             return userFileAside();
         },
         "mine", false},
        {"killed before the filter ran", userFileAside, "mine", false},
        {"a folder the filter made",
         [&] {
             writeFile(m_original / "sub" / "x", "x");
             return userFileAside();
         },
         "mine", false},
        {"already put back",
         [&] {
             writeFile(m_original, "mine");
             return MovedAside{m_original.string(), m_aside.string(), 1, 2};
         },
         "mine", false},
        {"another file under the temporary name",
         [&] {
             writeFile(m_original, "filter output");
             MovedAside entry = userFileAside();
             fs::rename(m_aside, m_dir / "moved-on");  // still alive: its inode is not reused
             writeFile(m_aside, "someone else's");
             return entry;
         },
         "filter output", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_original);
        fs::remove_all(m_aside);
        writeEntry(c.prepare());
        EXPECT_TRUE(replayRestoreJournal(m_journal).empty());
        EXPECT_EQ(fs::exists(m_original) ? readFile(m_original) : "", c.originalAfter);
        EXPECT_EQ(fs::exists(m_aside), c.asideLeft);
        EXPECT_EQ(entries(), 0u);
    }
}

TEST_F(RestoreJournalTest, ReplayLeavesRunningProcessesAndBrokenEntriesAlone) {
    writeFile(m_aside, "mine");
    const fs::path entry = writeEntry(identityOf(m_original, m_aside));
    // A live run holds its entry's lock.
    const int holder = ::open(entry.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_TRUE(replayRestoreJournal(m_journal).empty());
    EXPECT_TRUE(fs::exists(m_aside));
    ::close(holder);

    // Garbage is dropped; files of other names are not the journal's.
    writeFile(m_journal / "junk.restore", "not an entry");
    writeFile(m_journal / ".4-5-6.tmp", "half written");
    EXPECT_TRUE(replayRestoreJournal(m_journal).empty());
    EXPECT_EQ(readFile(m_original), "mine");
    EXPECT_FALSE(fs::exists(m_journal / "junk.restore"));
    EXPECT_TRUE(fs::exists(m_journal / ".4-5-6.tmp"));

    EXPECT_TRUE(replayRestoreJournal(m_dir / "missing").empty());
}

TEST_F(RestoreJournalTest, AFileThatCannotGoBackIsToldAndTriedAgain) {
    // A place on another file system: the file cannot be renamed there.
    struct stat here {
    }, there{};
    if (::stat(m_dir.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
        here.st_dev == there.st_dev) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const fs::path elsewhere = fs::path("/dev/shm") / m_dir.filename();
    writeFile(m_aside, "mine");
    writeEntry(identityOf(elsewhere, m_aside));
    const auto problems = replayRestoreJournal(m_journal);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].entry.aside, m_aside.string());
    EXPECT_FALSE(problems[0].reason.empty());
    EXPECT_EQ(entries(), 1u);
    EXPECT_EQ(readFile(m_aside), "mine");

    writeEntry(identityOf(m_original, m_aside));  // the same entry, now with a reachable place
    EXPECT_TRUE(replayRestoreJournal(m_journal).empty());
    EXPECT_EQ(readFile(m_original), "mine");
    EXPECT_EQ(entries(), 0u);
}

}  // namespace
}  // namespace ferretta::platform
