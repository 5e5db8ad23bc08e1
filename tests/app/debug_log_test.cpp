#include "app/debug_log.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/cp932.h"
#include "support/temp_tree.h"

namespace ferretta::app {
namespace {

namespace fs = std::filesystem;

TEST(DebugLogFormatTest, DateBlankTimeThenPlaceAndMessage) {
    // The time is the one the expected line starts with.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"find_doc", "x", "2026/12/07 9:05:03 - find_doc - x"},
        {"mainForm::Command2_Click", "検索処理開始",
         "1999/12/31 23:59:59 - mainForm::Command2_Click - 検索処理開始"},
        {"", "", "2024/02/29 12:00:09 -  - "},
        {"p", "a - b", "2024/06/01 10:30:00 - p - a - b"},
    };
    for (const auto& [place, message, line] : cases) {
        std::tm t{};
        std::istringstream(line) >> std::get_time(&t, "%Y/%m/%d %H:%M:%S");
        EXPECT_EQ(DebugLog::formatLine(t, place, message), line);
    }
}

class DebugLogFile : public ::testing::Test {
  protected:
    std::string bytes() const { return test::readFile(m_path); }

    // The file's lines as UTF-8. Every line must end with CR LF; no other line break may occur.
    std::vector<std::string> lines() const {
        const std::string all = bytes();
        std::vector<std::string> out;
        for (std::size_t start = 0, end = 0; start < all.size(); start = end + 2) {
            end = all.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "last line without CR LF";
            end = std::min(end, all.size());
            std::string line = all.substr(start, end - start);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line break";
            out.push_back(platform::cp932ToUtf8(line));
        }
        return out;
    }

    // Each line is "yyyy/MM/dd H:mm:ss - place - message"; expected holds "place - message".
    void expectLines(const std::vector<std::string>& expected) const {
        static const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{1,2}:\d{2}:\d{2} - (.*))");
        const std::vector<std::string> got = lines();
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (expected[i].find(" - ") == std::string::npos) {
                EXPECT_EQ(got[i], expected[i]);  // a line from before, as it was
                continue;
            }
            std::smatch match;
            ASSERT_TRUE(std::regex_match(got[i], match, stamp)) << got[i];
            EXPECT_EQ(match[1].str(), expected[i]);
        }
    }

    test::TempTree m_tree;
    fs::path m_folder = m_tree.root();
    fs::path m_path = m_folder / "debug.log";
};

const std::string kOpen = "logOpen - ----[ログ書き込み開始]----";
const std::string kClose = "logClose - ----[ログ書き込み終了]----";

TEST_F(DebugLogFile, WithoutAnOpenFileNothingIsWritten) {
    const fs::path paths[] = {m_path, m_folder / "missing-folder" / "debug.log", m_folder};
    for (const fs::path& path : paths) {
        DebugLog log(path);
        if (path != m_path) {
            EXPECT_FALSE(log.logOpen()) << path;
        }
        EXPECT_FALSE(log.isLogOpen());
        EXPECT_FALSE(log.logWrite("place", "message"));
        EXPECT_FALSE(log.logClose());
    }
    EXPECT_FALSE(fs::exists(m_path));
    EXPECT_FALSE(fs::exists(m_folder / "missing-folder"));
}

TEST_F(DebugLogFile, OpenWriteCloseAppendsCp932Lines) {
    std::ofstream(m_path, std::ios::binary) << "older line\r\n";
    DebugLog log(m_path);
    ASSERT_TRUE(log.logOpen());
    EXPECT_TRUE(log.isLogOpen());
    EXPECT_FALSE(log.logOpen());
    ASSERT_TRUE(log.logWrite("検索", "ヒット"));
    // On disk before the close: a crash after this point must not lose the trace that explains
    // it. The second open wrote no marker.
    expectLines({"older line", kOpen, "検索 - ヒット"});
    ASSERT_TRUE(log.logClose());
    EXPECT_FALSE(log.isLogOpen());
    const std::string closed = bytes();
    EXPECT_FALSE(log.logClose());
    EXPECT_FALSE(log.logWrite("place", "after close"));
    EXPECT_EQ(bytes(), closed);
    // ヒ 83 71, ッ 83 62, ト 83 67 in CP932, not UTF-8.
    EXPECT_NE(closed.find("\x83\x71\x83\x62\x83\x67\r\n"), std::string::npos);
    EXPECT_EQ(closed.find("ヒット"), std::string::npos);

    ASSERT_TRUE(log.logOpen());
    ASSERT_TRUE(log.logWrite("second", "2"));
    ASSERT_TRUE(log.logClose());
    expectLines({"older line", kOpen, "検索 - ヒット", kClose, kOpen, "second - 2", kClose});
}

TEST_F(DebugLogFile, DestroyingAnOpenLogKeepsItsLines) {
    {
        DebugLog log(m_path);
        ASSERT_TRUE(log.logOpen());
        ASSERT_TRUE(log.logWrite("place", "a - b"));
    }
    expectLines({kOpen, "place - a - b"});
}

TEST(ProcessLogTest, IsClosedAtStartUp) {
    EXPECT_FALSE(debugLog().isLogOpen());
    EXPECT_FALSE(logWrite("place", "message"));
    EXPECT_EQ(debugLog().path().filename(), "debug.log");
}

}  // namespace
}  // namespace ferretta::app
