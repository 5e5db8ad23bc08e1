#include "pdf/engine/cid_map.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/cp932.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::string compress(std::string_view text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string out(size, '\0');
    EXPECT_EQ(
        compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9),
        Z_OK);
    out.resize(size);
    return out;
}

// `count` CR LF lines; line k (from 1) is "k", except the lines given.
std::string numberedLines(int count, const std::vector<std::pair<int, std::string>>& special = {}) {
    std::string text;
    for (int k = 1; k <= count; ++k) {
        std::string line = std::to_string(k);
        for (const auto& [at, replacement] : special) {
            if (at == k)
                line = replacement;
        }
        text += line + "\r\n";
    }
    return text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CidTableTest : public testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() /
                 ("ferretta-cid-" + std::to_string(getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root / "temp");
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path write(std::string_view bytes) {
        const fs::path path = m_root / "AdobeCID.dat";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    fs::path temp() const { return m_root / "temp"; }
    std::size_t tempFiles() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(temp()), fs::directory_iterator()));
    }

    fs::path m_root;
};

TEST_F(CidTableTest, LoadsLinesAsCidsAndConvertsCp932) {
    const std::string text = numberedLines(
        cidTableLastCid + 2, {{1, " "}, {842, "\x82\x9F"}, {1125, "\x88\x9F"}, {2, ""}});
    CidTable table;
    ASSERT_TRUE(table.p2tCIDInit(write(compress(text)), temp()));
    EXPECT_TRUE(table.loaded());
    EXPECT_EQ(table.p2tCID2Str(1), " ");
    EXPECT_EQ(table.p2tCID2Str(2), "");
    EXPECT_EQ(table.p2tCID2Str(3), "3");
    EXPECT_EQ(table.p2tCID2Str(842), "ぁ");
    EXPECT_EQ(table.p2tCID2Str(1125), "亜");
    EXPECT_EQ(table.p2tCID2Str(cidTableLastCid), std::to_string(cidTableLastCid));
    for (const std::int32_t outside : {0, -1, cidTableLastCid + 1, INT32_MIN, INT32_MAX})
        EXPECT_EQ(table.p2tCID2Str(outside), "") << outside;
    EXPECT_EQ(tempFiles(), 0u);  // the temporary file is gone
}

TEST_F(CidTableTest, LineCountBoundary) {
    struct Case {
        const char* name;
        std::string text;
        bool loads;
        std::int32_t lastWithText;  // the CIDs after it read empty
    };
    const std::string oldTable = numberedLines(cidTableMinLines);
    const std::string oneShort = numberedLines(cidTableMinLines - 1);
    const std::vector<Case> cases = {
        {"a table up to supplement 4: 15443 lines", oldTable, true, cidTableMinLines},
        {"15442 lines", oneShort, false, 0},
        {"last line without its ending", oneShort + std::to_string(cidTableMinLines), true,
         cidTableMinLines},
        {"one line past the old table", numberedLines(cidTableMinLines + 1), true,
         cidTableMinLines + 1},
        {"the full table", numberedLines(cidTableLastCid), true, cidTableLastCid},
        {"the full table, last line without ending",
         numberedLines(cidTableLastCid - 1) + std::to_string(cidTableLastCid), true,
         cidTableLastCid},
        {"lines past the last CID are not read", numberedLines(cidTableLastCid + 3), true,
         cidTableLastCid},
        {"LF and lone CR endings", std::string(cidTableMinLines - 1, '\n') + "\r", true, 0},
        {"one byte", "x", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CidTable table;
        EXPECT_EQ(table.p2tCIDInit(write(compress(c.text)), temp()), c.loads);
        EXPECT_EQ(table.loaded(), c.loads);
        EXPECT_EQ(tempFiles(), 0u);
        if (c.lastWithText > 0) {
            EXPECT_EQ(table.p2tCID2Str(c.lastWithText), std::to_string(c.lastWithText));
        }
        for (const std::int32_t cid :
             {c.lastWithText + 1, cidTableMinLines + 1, cidTableLastCid, cidTableLastCid + 1}) {
            if (cid > c.lastWithText) {
                EXPECT_EQ(table.p2tCID2Str(cid), "") << cid;
            }
        }
    }

    // Exactly the largest text the table may have, 500,001 bytes, and one byte more.
    std::string longest = oneShort;
    longest += std::string(500001 - longest.size(), 'y');
    CidTable big;
    ASSERT_TRUE(big.p2tCIDInit(write(compress(longest)), temp()));
    EXPECT_EQ(big.p2tCID2Str(cidTableMinLines).size(), 500001 - oneShort.size());
    EXPECT_EQ(big.p2tCID2Str(cidTableMinLines + 1), "");
    CidTable tooBig;
    EXPECT_TRUE(tooBig.p2tCIDInit(write(compress(longest + "y")), temp()));
    EXPECT_EQ(tooBig.p2tCID2Str(1), "");
}

TEST_F(CidTableTest, DataThatIsNotTheTableMapsEverythingToEmptyText) {
    const std::string good = compress(numberedLines(cidTableLastCid));
    for (const std::string& bytes : {"not zlib at all"s, good.substr(0, good.size() / 2),
                                     good.substr(0, good.size() - 1) + "\x00"s}) {
        CidTable table;
        EXPECT_TRUE(table.p2tCIDInit(write(bytes), temp()));
        EXPECT_TRUE(table.loaded());
        EXPECT_EQ(table.p2tCID2Str(1), "");
        EXPECT_EQ(table.p2tCID2Str(cidTableLastCid), "");
    }
    // A table loaded before stays as it was.
    CidTable table;
    ASSERT_TRUE(table.p2tCIDInit(write(good), temp()));
    EXPECT_TRUE(table.p2tCIDInit(write("garbage"), temp()));
    EXPECT_EQ(table.p2tCID2Str(7), "7");
}

TEST_F(CidTableTest, Failures) {
    CidTable table;
    EXPECT_FALSE(table.p2tCIDInit(m_root / "missing.dat", temp()));
    EXPECT_FALSE(table.p2tCIDInit(write(""), temp()));
    EXPECT_FALSE(table.p2tCIDInit(m_root, temp()));  // a folder
    const fs::path dat = write(compress(numberedLines(cidTableLastCid)));
    EXPECT_FALSE(table.p2tCIDInit(dat, m_root / "no such folder"));
    EXPECT_FALSE(table.loaded());
}

// Creates data-<time>-NNN.dat for NNN in [0, count) for each second from `from` to `until`.
std::vector<fs::path> occupyTempNames(const fs::path& folder, int count, std::time_t from,
                                      std::time_t until) {
    std::vector<fs::path> made;
    for (std::time_t t = from; t <= until; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        std::array<char, 32> base{};
        std::strftime(base.data(), base.size(), "data-%Y%m%d-%H%M%S", &local);
        for (int k = 0; k < count; ++k) {
            std::array<char, 48> name{};
            std::snprintf(name.data(), name.size(), "%s-%03d.dat", base.data(), k);
            made.push_back(folder / name.data());
            std::ofstream(made.back()) << "mine";
        }
    }
    return made;
}

// The names of the files created in the folder while `action` runs.
template <typename Action>
std::vector<std::string> createdDuring(const fs::path& folder, Action action) {
    const int fd = inotify_init1(IN_NONBLOCK);
    EXPECT_GE(fd, 0);
    EXPECT_GE(inotify_add_watch(fd, folder.c_str(), IN_CREATE), 0);
    action();
    std::vector<std::string> names;
    alignas(inotify_event) std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            inotify_event event;
            std::memcpy(&event, buffer.data() + at, sizeof event);
            names.emplace_back(buffer.data() + at + sizeof event);
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    close(fd);
    return names;
}

TEST_F(CidTableTest, TemporaryNameTakesTheFirstFreeNumber) {
    const fs::path dat = write(compress(numberedLines(cidTableLastCid)));
    const std::time_t from = std::time(nullptr);
    const std::vector<fs::path> taken = occupyTempNames(temp(), 2, from, from + 5);
    CidTable table;
    const std::vector<std::string> created =
        createdDuring(temp(), [&] { EXPECT_TRUE(table.p2tCIDInit(dat, temp())); });
    if (std::time(nullptr) > from + 5) {
        GTEST_SKIP() << "this machine is too slow to set up the names in time";
    }
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].size(), std::string("data-yyyymmdd-hhmmss-NNN.dat").size());
    EXPECT_EQ(created[0].substr(0, 5), "data-");
    EXPECT_EQ(created[0].substr(created[0].size() - 8), "-002.dat");
    EXPECT_EQ(tempFiles(), taken.size());  // removed again
    for (const fs::path& path : taken)
        EXPECT_EQ(readFile(path), "mine") << path;
}

TEST_F(CidTableTest, AllThousandTemporaryNamesTaken) {
    const fs::path dat = write(compress(numberedLines(cidTableLastCid)));
    // Rather than overwrite a file, the load fails. The names are made for a second a little
    // ahead (making a thousand files can take a second), and the load waits for it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        fs::remove_all(temp());
        fs::create_directories(temp());
        const std::time_t second = std::time(nullptr) + 3;
        const std::vector<fs::path> taken = occupyTempNames(temp(), 1000, second, second);
        if (std::time(nullptr) >= second)
            continue;
        while (std::time(nullptr) < second)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CidTable table;
        const bool loaded = table.p2tCIDInit(dat, temp());
        if (std::time(nullptr) != second)
            continue;
        EXPECT_FALSE(loaded);
        EXPECT_EQ(tempFiles(), taken.size());
        EXPECT_EQ(readFile(taken.back()), "mine");
        return;
    }
    GTEST_SKIP() << "this machine is too slow to set up the names in time";
}

// The shipped table: it loads, its well-known CIDs read right, and every line is text the
// program's codec writes back to the same bytes (so the generator encodes as the program does).
TEST_F(CidTableTest, ShippedTable) {
    const fs::path dat = fs::path(FERRETTA_SOURCE_DIR) / "resources" / "AdobeCID.dat";
    CidTable table;
    ASSERT_TRUE(table.p2tCIDInit(dat, temp()));
    const std::vector<std::pair<std::int32_t, std::string>> known = {
        {1, " "},
        {34, "A"},
        {842, "ぁ"},
        {843, "あ"},
        {1125, "亜"},
        {7887, "、"},
        {12000, "パスカル"},
        {61, ""} /* U+00A5: no CP932 form */,
        {231, " "} /* en space, by NFKC */,
        {20317, ""} /* U+0384 Greek tonos: no CP932 form, not even by NFKC */,
        {cidTableLastCid - 1, "令和"} /* U+32FF, the era name as one character, by NFKC */,
        {cidTableLastCid, "令和"},
    };
    for (const auto& [cid, text] : known)
        EXPECT_EQ(table.p2tCID2Str(cid), text) << cid;
    // Supplements 5 to 7 are mostly glyph variants and characters outside CP932, so more of
    // their CIDs are empty than of the first 15443.
    int empty = 0;
    for (std::int32_t cid = 1; cid <= cidTableLastCid; ++cid) {
        empty += table.p2tCID2Str(cid).empty() ? 1 : 0;
        if (cid == cidTableMinLines) {
            EXPECT_LT(empty, cidTableMinLines / 4);
        }
    }
    EXPECT_LT(empty, cidTableLastCid / 2);

    // Exactly one line per CID, each of which the program's codec writes back to the same bytes.
    const std::string packed = readFile(dat);
    std::string text(500001, '\0');
    uLongf size = static_cast<uLongf>(text.size());
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(text.data()), &size,
                         reinterpret_cast<const Bytef*>(packed.data()),
                         static_cast<uLong>(packed.size())),
              Z_OK);
    text.resize(size);
    std::size_t pos = 0;
    for (std::int32_t cid = 1; cid <= cidTableLastCid; ++cid) {
        const std::size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << cid;
        const std::string line = text.substr(pos, end - pos);
        ASSERT_EQ(platform::utf8ToCp932(platform::cp932ToUtf8(line)), line) << cid;
        pos = end + 2;
    }
    EXPECT_EQ(pos, text.size());
}

}  // namespace
}  // namespace ferretta::pdf
