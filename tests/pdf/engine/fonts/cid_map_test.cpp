#include "pdf/engine/fonts/cid_map.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pdf/engine/pdf_test_support.h"
#include "platform/cp932.h"
#include "support/temp_tree.h"

namespace ferretta::pdf {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

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

class CidTableTest : public testing::Test {
  protected:
    fs::path write(std::string_view bytes) {
        const fs::path path = m_root / "AdobeCID.dat";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    test::TempTree m_tree;
    fs::path m_root = m_tree.root();
};

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
        EXPECT_EQ(table.p2tCIDInit(write(test::deflate(c.text))), c.loads);
        EXPECT_EQ(table.loaded(), c.loads);
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
    ASSERT_TRUE(big.p2tCIDInit(write(test::deflate(longest))));
    EXPECT_EQ(big.p2tCID2Str(cidTableMinLines).size(), 500001 - oneShort.size());
    EXPECT_EQ(big.p2tCID2Str(cidTableMinLines + 1), "");
    CidTable tooBig;
    EXPECT_TRUE(tooBig.p2tCIDInit(write(test::deflate(longest + "y"))));
    EXPECT_EQ(tooBig.p2tCID2Str(1), "");
}

TEST_F(CidTableTest, BrokenOrMissingTables) {
    const std::string good = test::deflate(numberedLines(cidTableLastCid));
    for (const std::string& bytes : {"not zlib at all"s, good.substr(0, good.size() / 2),
                                     good.substr(0, good.size() - 1) + "\x00"s}) {
        CidTable table;
        EXPECT_TRUE(table.p2tCIDInit(write(bytes)));
        EXPECT_TRUE(table.loaded());
        EXPECT_EQ(table.p2tCID2Str(1), "");
        EXPECT_EQ(table.p2tCID2Str(cidTableLastCid), "");
    }
    // A table loaded before stays as it was.
    CidTable table;
    ASSERT_TRUE(table.p2tCIDInit(write(good)));
    EXPECT_TRUE(table.p2tCIDInit(write("garbage")));
    EXPECT_EQ(table.p2tCID2Str(7), "7");
    // No table at all: a missing or empty file, a folder.
    CidTable none;
    for (const fs::path& path : {m_root / "missing.dat", write(""), m_root})
        EXPECT_FALSE(none.p2tCIDInit(path)) << path;
    EXPECT_FALSE(none.loaded());
}

// A full disk (here: no file may grow past 0 bytes) does not stop the load: nothing is
// written, and nothing is left behind.
TEST_F(CidTableTest, LoadsWithoutWritingAnything) {
    const fs::path dat = write(test::deflate(numberedLines(cidTableLastCid)));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        std::signal(SIGXFSZ, SIG_IGN);
        CidTable table;
        _exit(setrlimit(RLIMIT_FSIZE, &none) == 0 && table.p2tCIDInit(dat) &&
                      table.p2tCID2Str(2) == "2"
                  ? 0
                  : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The shipped table: it loads, its well-known CIDs read right, and every line is text the
// program's codec writes back to the same bytes (so the generator encodes as the program does).
TEST_F(CidTableTest, ShippedTable) {
    const fs::path dat = fs::path(FERRETTA_SOURCE_DIR) / "resources" / "AdobeCID.dat";
    CidTable table;
    ASSERT_TRUE(table.p2tCIDInit(dat));
    const std::vector<std::pair<std::int32_t, std::string>> known = {
        {1, " "},
        {842, "ぁ"},
        {1125, "亜"},
        {7887, "、"},
        {12000, "パスカル"},
        {61, ""} /* U+00A5: no CP932 form */,
        {231, " "} /* en space, by NFKC */,
        {20317, ""} /* U+0384 Greek tonos: no CP932 form, not even by NFKC */,
        {cidTableLastCid, "令和"} /* U+32FF, the era name as one character, by NFKC */,
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
    const std::string packed = test::readFile(dat);
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
