#include "app/debug_log.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/cp932.h"

namespace ferretta::app {
namespace {

namespace fs = std::filesystem;

std::tm moment(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(DebugLogFormatTest, DateBlankTimeThenPlaceAndMessage) {
    struct Case {
        std::tm when;
        const char* place;
        const char* message;
        const char* line;
    };
    const Case cases[] = {
        {moment(2026, 12, 7, 9, 5, 3), "find_doc", "x", "2026/12/07 9:05:03 - find_doc - x"},
        {moment(2000, 1, 1, 0, 0, 0), "logOpen", "----[ログ書き込み開始]----",
         "2000/01/01 0:00:00 - logOpen - ----[ログ書き込み開始]----"},
        {moment(1999, 12, 31, 23, 59, 59), "mainForm::Command2_Click", "検索処理開始",
         "1999/12/31 23:59:59 - mainForm::Command2_Click - 検索処理開始"},
        {moment(2024, 2, 29, 12, 0, 9), "", "", "2024/02/29 12:00:09 -  - "},
        {moment(2024, 6, 1, 10, 30, 0), "p", "a - b", "2024/06/01 10:30:00 - p - a - b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DebugLog::formatLine(c.when, c.place, c.message), c.line);
    }
}

class DebugLogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ferretta-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_folder = pattern;
        m_path = m_folder / "debug.log";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_folder, ec);
    }

    std::string bytes() const {
        std::ifstream in(m_path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The file's lines as UTF-8. Every line must end with CR LF; no other line break may occur.
    std::vector<std::string> lines() const {
        std::string all = bytes();
        std::vector<std::string> out;
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t end = all.find("\r\n", start);
            if (end == std::string::npos) {
                ADD_FAILURE() << "last line without CR LF";
                end = all.size();
            }
            std::string line = all.substr(start, end - start);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line break";
            out.push_back(platform::cp932ToUtf8(line));
            start = end + 2;
        }
        return out;
    }

    fs::path m_folder;
    fs::path m_path;
};

// "yyyy/MM/dd H:mm:ss - place - message" with the given place and message.
void expectLine(const std::string& line, const std::string& place, const std::string& message) {
    static const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{1,2}:\d{2}:\d{2})");
    std::size_t cut = line.find(" - ");
    ASSERT_NE(cut, std::string::npos) << line;
    EXPECT_TRUE(std::regex_match(line.substr(0, cut), stamp)) << line;
    EXPECT_EQ(line.substr(cut), " - " + place + " - " + message);
}

const std::string kOpenMarker = "----[ログ書き込み開始]----";
const std::string kCloseMarker = "----[ログ書き込み終了]----";

TEST_F(DebugLogFile, WriteWhileClosedDoesNothing) {
    DebugLog log(m_path);
    EXPECT_FALSE(log.isLogOpen());
    EXPECT_FALSE(log.logWrite("find_doc", "x"));
    EXPECT_FALSE(log.logClose());
    EXPECT_FALSE(fs::exists(m_path));
}

TEST_F(DebugLogFile, OpenWriteCloseGivesThreeLines) {
    DebugLog log(m_path);
    ASSERT_TRUE(log.logOpen());
    EXPECT_TRUE(log.isLogOpen());
    EXPECT_TRUE(log.logWrite("find_doc", "x"));
    ASSERT_TRUE(log.logClose());
    EXPECT_FALSE(log.isLogOpen());

    auto got = lines();
    ASSERT_EQ(got.size(), 3u);
    expectLine(got[0], "logOpen", kOpenMarker);
    expectLine(got[1], "find_doc", "x");
    expectLine(got[2], "logClose", kCloseMarker);
}

TEST_F(DebugLogFile, LinesAreWrittenInCp932) {
    DebugLog log(m_path);
    ASSERT_TRUE(log.logOpen());
    EXPECT_TRUE(log.logWrite("検索", "ヒット"));
    ASSERT_TRUE(log.logClose());
    // ヒ 83 71, ッ 83 62, ト 83 67 in CP932.
    EXPECT_NE(bytes().find("\x83\x71\x83\x62\x83\x67\r\n"), std::string::npos);
    EXPECT_EQ(bytes().find("ヒット"), std::string::npos) << "written as UTF-8";
    expectLine(lines().at(1), "検索", "ヒット");
}

TEST_F(DebugLogFile, SecondOpenAndSecondCloseAreRefused) {
    DebugLog log(m_path);
    ASSERT_TRUE(log.logOpen());
    EXPECT_FALSE(log.logOpen());
    EXPECT_TRUE(log.isLogOpen());
    EXPECT_EQ(lines().size(), 1u) << "the second open wrote a marker";
    ASSERT_TRUE(log.logClose());
    const std::string closed = bytes();
    EXPECT_FALSE(log.logClose());
    EXPECT_FALSE(log.logWrite("place", "after close"));
    EXPECT_EQ(bytes(), closed);
}

TEST_F(DebugLogFile, ReopeningAppends) {
    {
        std::ofstream old(m_path, std::ios::binary);
        old << "older line\r\n";
    }
    DebugLog log(m_path);
    ASSERT_TRUE(log.logOpen());
    ASSERT_TRUE(log.logWrite("first", "1"));
    ASSERT_TRUE(log.logClose());
    ASSERT_TRUE(log.logOpen());
    ASSERT_TRUE(log.logWrite("second", "2"));
    ASSERT_TRUE(log.logClose());

    auto got = lines();
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[0], "older line");
    expectLine(got[1], "logOpen", kOpenMarker);
    expectLine(got[2], "first", "1");
    expectLine(got[3], "logClose", kCloseMarker);
    expectLine(got[4], "logOpen", kOpenMarker);
    expectLine(got[5], "second", "2");
    expectLine(got[6], "logClose", kCloseMarker);
}

TEST_F(DebugLogFile, LinesAreOnDiskBeforeClose) {
    DebugLog log(m_path);
    ASSERT_TRUE(log.logOpen());
    ASSERT_TRUE(log.logWrite("place", "message"));
    // A crash after this point must not lose the trace that explains it.
    auto got = lines();
    ASSERT_EQ(got.size(), 2u);
    expectLine(got[1], "place", "message");
}

TEST_F(DebugLogFile, UnopenableFileLeavesTheLogClosed) {
    const fs::path unopenable[] = {m_folder / "missing-folder" / "debug.log", m_folder};
    for (const fs::path& path : unopenable) {
        DebugLog log(path);
        EXPECT_FALSE(log.logOpen()) << path;
        EXPECT_FALSE(log.isLogOpen());
        EXPECT_FALSE(log.logWrite("place", "message"));
        EXPECT_FALSE(log.logClose());
    }
    EXPECT_FALSE(fs::exists(m_folder / "missing-folder"));
}

TEST_F(DebugLogFile, DestroyingAnOpenLogKeepsItsLines) {
    {
        DebugLog log(m_path);
        ASSERT_TRUE(log.logOpen());
        ASSERT_TRUE(log.logWrite("place", "message"));
    }
    EXPECT_EQ(lines().size(), 2u);
}

TEST(ProcessLogTest, IsClosedAtStartUp) {
    EXPECT_FALSE(debugLog().isLogOpen());
    EXPECT_FALSE(logWrite("place", "message"));
    EXPECT_EQ(debugLog().path().filename(), "debug.log");
}

}  // namespace
}  // namespace ferretta::app
