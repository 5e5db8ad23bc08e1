// The Office object model over a real LibreOffice: Excel's find, failing cleanly on broken files,
// surviving a stuck office, and leaving no office process behind. What Word and PowerPoint read
// through it is compared with the native readers over whole corpora (the equivalence tests of
// tests/documents). Skipped where LibreOffice is not installed.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "drivers/office/libreoffice.h"
#include "drivers/office/office_test_support.h"
#include "platform/error.h"
#include "support/temp_tree.h"

namespace ferretta::platform::office {
namespace {

namespace fs = std::filesystem;
using test::office::converted;
using test::office::fixture;

class LibreOfficeTest : public test::office::AutomationTest {
  protected:
    // The fixture in a format; the test is skipped when soffice cannot convert it.
    fs::path need(const std::string& source, const std::string& extension) {
        if (extension == fs::path(source).extension().string().substr(1))
            return fixture(source);
        const fs::path path = converted(source, extension);
        if (path.empty())
            ADD_FAILURE() << "cannot convert " << source << " to " << extension;
        return path;
    }
};

using test::office::automationCode;

TEST_F(LibreOfficeTest, BrokenFilesFailAndTheNextFileOpens) {
    auto word = m_automation->createWord(Purpose::Search);
    const fs::path good = need("writer.fodt", "doc");
    ASSERT_FALSE(good.empty());
    const fs::path scratch = test::office::scratchRoot() / ("broken-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    // A .doc cut off in the middle of its allocation tables.
    const fs::path truncated = scratch / "truncated.doc";
    std::ofstream(truncated, std::ios::binary) << test::readFile(good).substr(0, 1536);
    const fs::path sheet = need("calc.fods", "xls");
    const struct {
        const char* name;
        fs::path path;
    } cases[] = {
        {"password", fixture("protected.odt")},
        {"truncated", truncated},
        {"missing", scratch / "missing.doc"},
        {"a workbook", sheet},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto started = std::chrono::steady_clock::now();
        automationCode([&] { word->open(c.path.string(), OpenOptions{}); });
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20))
            << "a prompt or a hang instead of a failure";
        auto next = word->open(good.string(), OpenOptions{});
        EXPECT_GT(next->sentenceCount(), 3);
        next->close();
    }
    fs::remove_all(scratch);
}

TEST_F(LibreOfficeTest, OneHiddenOfficePerSearchRunEndedByTheLastQuit) {
    EXPECT_FALSE(m_automation->runningWord(Purpose::Search));
    EXPECT_FALSE(m_automation->runningExcel(Purpose::Open));
    auto word = m_automation->createWord(Purpose::Search);
    const auto pids = test::office::ourOfficePids("search");
    EXPECT_FALSE(pids.empty());
    auto excel = m_automation->createExcel(Purpose::Search);
    auto powerPoint = m_automation->createPowerPoint(Purpose::Search);
    EXPECT_EQ(test::office::ourOfficePids("search"), pids) << "the run shares one office";
    EXPECT_FALSE(m_automation->runningPowerPoint(Purpose::Search));
    word->quit();
    excel->quit();
    EXPECT_EQ(test::office::ourOfficePids("search"), pids);
    powerPoint->quit();
    EXPECT_TRUE(test::office::noOfficeLeft());
    // A new run starts a new office; a document left open in it (what fast mode reads of one
    // is the equivalence test's) does not keep the office up past the automation's end.
    auto again = m_automation->createWord(Purpose::Search);
    auto document = again->open(need("writer.fodt", "doc").string(), OpenOptions{});
    EXPECT_EQ(again->documentCount(), 1);
}

TEST_F(LibreOfficeTest, NoOfficeInstalledMeansCreateThrows) {
    ::setenv("FERRETTA_SOFFICE", "/nonexistent/soffice", 1);
    auto automation = makeLibreOfficeAutomation(m_config);
    automationCode([&] { automation->createWord(Purpose::Search); });
    automationCode([&] { automation->createPowerPoint(Purpose::Open); });
    EXPECT_FALSE(automation->runningExcel(Purpose::Open));
    ::unsetenv("FERRETTA_SOFFICE");
}

class StuckOfficeTest : public LibreOfficeTest {
  protected:
    int callTimeoutMs() const override { return 4000; }
};

TEST_F(StuckOfficeTest, AStoppedOfficeIsEndedWithinTheTimeoutAndReplaced) {
    auto word = m_automation->createWord(Purpose::Search);
    const fs::path path = need("writer.fodt", "fodt");
    auto stale = word->open(path.string(), OpenOptions{});
    const auto pids = test::office::ourOfficePids("search");
    ASSERT_TRUE(test::office::hasOfficeProcess(pids));
    for (const pid_t pid : pids)
        ::kill(pid, SIGSTOP);

    const auto started = std::chrono::steady_clock::now();
    // The code of a lost server, as RPC_S_CALL_FAILED.
    EXPECT_EQ(automationCode([&] { stale->sentenceTexts(); }), -2147023170L);  // 0x800706BE
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(3500));
    // The bound leaves room for a loaded machine; a call that waited for the office would
    // never return.
    EXPECT_LT(took, std::chrono::milliseconds(4000 + 20000));
    const auto stoppedLeft = [&] {
        const auto left = test::office::ourOfficePids("search");
        return std::any_of(pids.begin(), pids.end(), [&](pid_t pid) {
            return std::count(left.begin(), left.end(), pid) > 0;
        });
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (stoppedLeft() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(stoppedLeft()) << "stopped office still there";

    // The object from the ended office keeps failing; the application starts a new office.
    automationCode([&] { stale->shapeCount(); });
    auto fresh = word->open(path.string(), OpenOptions{});
    EXPECT_GT(fresh->sentenceCount(), 3);
    EXPECT_NE(test::office::ourOfficePids("search"), pids);
    fresh->close();
    word->quit();
}

// A .docx of 300,000 short paragraphs: 0.8 MB that take the office a minute or more to load,
// made once per user.
fs::path slowDocx() {
    const fs::path path = test::office::scratchRoot() / "slow-300000.docx";
    if (!fs::exists(path)) {
        fs::create_directories(path.parent_path());
        const std::string command =
            "python3 '" FERRETTA_SOURCE_DIR "/tests/drivers/office/slow_docx.py' '" +
            path.string() + ".tmp' && mv '" + path.string() + ".tmp' '" + path.string() + "'";
        if (std::system(command.c_str()) != 0)
            return {};
    }
    return path;
}

// The slow document read with a stop request, then with a time limit: either ends the office
// within two seconds (or at the limit), the document fails, and the next document gets a new
// office.
TEST_F(LibreOfficeTest, AStopOrTheTimeLimitEndsALongDocument) {
    const fs::path slow = slowDocx();
    if (slow.empty())
        GTEST_SKIP() << "python3 cannot make the slow document";
    const fs::path small = need("writer.fodt", "fodt");
    std::atomic<bool> stopRequested = false;
    LibreOfficeConfig config = m_config;
    config.documentTimeoutMs = 4000;
    config.keepWaiting = [&] { return !stopRequested.load(); };
    auto automation = makeLibreOfficeAutomation(config);
    auto word = automation->createWord(Purpose::Search);
    struct Case {
        const char* name;
        bool stop;  // a stop request 1.5 s into the document
        long code;
        std::chrono::milliseconds limit;  // from the stop, or from the opening
    };
    const Case cases[] = {
        {"stop", true, stoppedCallError, std::chrono::milliseconds(2000)},
        {"time limit", false, -2147023170L /* 0x800706BE */, std::chrono::milliseconds(7000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stopRequested = false;
        // The office is up (a new one after the last case ended its office).
        EXPECT_GT(word->open(small.string(), OpenOptions{})->sentenceCount(), 3);
        const auto pids = test::office::ourOfficePids("search");
        auto from = std::chrono::steady_clock::now();
        std::thread stopper([&] {
            if (!c.stop)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            from = std::chrono::steady_clock::now();
            stopRequested = true;
        });
        EXPECT_EQ(
            automationCode([&] { word->open(slow.string(), OpenOptions{})->sentenceTexts(); }),
            c.code);
        const auto took = std::chrono::steady_clock::now() - from;
        stopper.join();
        EXPECT_LT(took, c.limit);
        const auto left = test::office::ourOfficePids("search");
        for (const pid_t pid : pids)
            EXPECT_EQ(std::count(left.begin(), left.end(), pid), 0) << "the office was not ended";
    }
}

}  // namespace
}  // namespace ferretta::platform::office
