#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

// CP932 bytes of a few characters, with their UTF-8 forms.
const std::string kA = "\x82\xA0";  // あ
const std::string kAUtf8 = "\xE3\x81\x82";
const std::string kSo = "\x83\x5C";  // ソ: its trail byte is '\'
const std::string kZo = "\x83\x5D";  // ゾ: its trail byte is ']'
const std::string kZoUtf8 = "\xE3\x82\xBE";
const std::string kKataA = "\x83\x41";  // ア: its trail byte is 'A'
const std::string kDi = "\x83\x61";     // ヂ: its trail byte is 'a'
const std::string kDiUtf8 = "\xE3\x83\x82";

struct GetCase {
    const char* name;
    std::string text;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
};

void PrintTo(const GetCase& c, std::ostream* os) {
    *os << c.name;
}

class IniGetTest : public testing::TestWithParam<GetCase> {};

TEST_P(IniGetTest, ReadsValue) {
    const GetCase& c = GetParam();
    EXPECT_EQ(IniFile::parse(c.text).get(c.section, c.key), c.expected);
}

const std::string kLong300(300, 'a');

INSTANTIATE_TEST_SUITE_P(
    Lookups, IniGetTest,
    testing::Values(
        GetCase{"Plain", "[S]\r\nk=v\r\n", "S", "k", "v"},
        GetCase{"SectionCaseInsensitive", "[Main]\nKey=1\n", "mAIN", "key", "1"},
        GetCase{"KeyCaseInsensitive", "[s]\nFileNameOnly=1\n", "s", "FILENAMEONLY", "1"},
        GetCase{"MissingKey", "[s]\na=1\n", "s", "b", std::nullopt},
        GetCase{"MissingSection", "[s]\na=1\n", "t", "a", std::nullopt},
        GetCase{"EmptyValueIsPresent", "[s]\na=\n", "s", "a", ""},
        GetCase{"FirstKeyWins", "[s]\na=1\nA=2\n", "s", "a", "1"},
        GetCase{"FirstSectionWins", "[s]\na=1\n[S]\na=2\n", "s", "a", "1"},
        GetCase{"SecondSectionOfSameNameUnseen", "[s]\nx=1\n[S]\na=2\n", "s", "a", std::nullopt},
        GetCase{"KeysBeforeFirstSectionBelongNowhere", "a=0\n[s]\nb=1\n", "", "a", std::nullopt},
        GetCase{"EmptySectionName", "[]\na=1\n", "", "a", "1"},
        GetCase{"BlanksAroundNames", "  [ s ]  \n \t a \t= v \t\n", "s", "a", "v"},
        GetCase{"EqualsInValue", "[s]\na=b=c\n", "s", "a", "b=c"},
        GetCase{"TextAfterHeader", "[s] trailing\na=1\n", "s", "a", "1"},
        GetCase{"CommentIsNoKey", "[s]\n;a=1\na=2\n", "s", "a", "2"},
        GetCase{"IndentedComment", "[s]\n  ;a=1\n", "s", ";a", std::nullopt},
        GetCase{"LineWithoutEqualsIsNoKey", "[s]\na\na=2\n", "s", "a", "2"},
        GetCase{"UnclosedHeaderIsNoSection", "[s]\n[t\na=1\n", "s", "a", "1"},
        GetCase{"DoubleQuotes", "[s]\na=\" x \"\n", "s", "a", " x "},
        GetCase{"SingleQuotes", "[s]\na='x'\n", "s", "a", "x"},
        GetCase{"MismatchedQuotesKept", "[s]\na=\"x'\n", "s", "a", "\"x'"},
        GetCase{"OneQuoteKept", "[s]\na=\"\n", "s", "a", "\""},
        GetCase{"EmptyQuotes", "[s]\na=\"\"\n", "s", "a", ""},
        GetCase{"OnlyOnePairRemoved", "[s]\na=\"\"x\"\"\n", "s", "a", "\"x\""},
        GetCase{"QuoteInside", "[s]\na=x\"y\n", "s", "a", "x\"y"},
        GetCase{"LoneCrEndsLines", "[s]\ra=1\rb=2", "s", "b", "2"},
        GetCase{"MixedLineEnds", "[s]\r\na=1\nb=2\rc=3\r\n", "s", "c", "3"},
        GetCase{"LastLineWithoutEnd", "[s]\na=1", "s", "a", "1"},
        GetCase{"NulCut", std::string("[s]\na=ab\0cd\n", 12), "s", "a", "ab"},
        GetCase{"NulInKeyLineStillParses", std::string("[s]\n\0=1\na=2\n", 12), "s", "a", "2"},
        GetCase{"AsciiCutAt255", "[s]\na=" + kLong300 + "\n", "s", "a", kLong300.substr(0, 255)},
        GetCase{"QuotesRemovedBeforeCut", "[s]\na=\"" + kLong300 + "\"\n", "s", "a",
                kLong300.substr(0, 255)},
        GetCase{"DoubleByteStraddling255", "[s]\na=" + std::string(254, 'b') + kA + "\n", "s", "a",
                std::string(254, 'b')},
        GetCase{"DoubleByteEndingAt255", "[s]\na=" + std::string(253, 'b') + kA + "c\n", "s", "a",
                std::string(253, 'b') + kAUtf8},
        GetCase{"JapaneseValueAsUtf8", "[s]\na=" + kA + kA + "\n", "s", "a", kAUtf8 + kAUtf8},
        GetCase{"JapaneseNames", "[" + kZo + "]\n" + kDi + "=1\n", kZoUtf8, kDiUtf8, "1"},
        GetCase{"TrailByteBracketInSectionName", "[" + kZo + "x]\na=1\n", kZoUtf8 + "x", "a", "1"},
        GetCase{"TrailByteLetterNotFolded", "[s]\n" + kKataA + "=1\n", "s", kDiUtf8, std::nullopt},
        GetCase{"BackslashTrailByteInValue", "[s]\na=" + kSo + "\n", "s", "a", "\xE3\x82\xBD"},
        GetCase{"Utf16LeWithBom", std::string("\xFF\xFE[\0s\0]\0\r\0\n\0a\0=\0B\x30\n\0", 20), "s",
                "a", kAUtf8},
        GetCase{"Utf16BeWithBom", std::string("\xFE\xFF\0[\0s\0]\0\n\0a\0=\x30\x42", 16), "s", "a",
                kAUtf8},
        GetCase{"Utf8WithBom", "\xEF\xBB\xBF[s]\na=" + kAUtf8 + "\n", "s", "a", kAUtf8},
        GetCase{"Garbage", "\xFF\xFE\xFD\x81\n\x80]]][[[==\n", "s", "a", std::nullopt},
        GetCase{"LeadByteAtEndOfSectionLine", "[s\x81\n]\na=1\n", "s", "a", std::nullopt}),
    [](const testing::TestParamInfo<GetCase>& p) { return std::string(p.param.name); });

struct SetCase {
    const char* name;
    std::string text;
    std::string section;
    std::string key;
    std::string value;
    std::string expected;  // serialized
};

void PrintTo(const SetCase& c, std::ostream* os) {
    *os << c.name;
}

class IniSetTest : public testing::TestWithParam<SetCase> {};

TEST_P(IniSetTest, PlacesValue) {
    const SetCase& c = GetParam();
    IniFile ini = IniFile::parse(c.text);
    ini.set(c.section, c.key, c.value);
    EXPECT_EQ(ini.serialize(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, IniSetTest,
    testing::Values(
        SetCase{"ReplaceKeepsSpellingAndPlace", "[S]\n  MyKey = old \nz=1\n", "s", "mykey", "new",
                "[S]\r\nMyKey=new\r\nz=1\r\n"},
        SetCase{"ReplaceFirstOfDuplicates", "[s]\na=1\na=2\n", "s", "A", "3",
                "[s]\r\na=3\r\na=2\r\n"},
        SetCase{"NewKeyAfterLastKeyBeforeBlankLines", "[s]\na=1\n\n\n[t]\nb=2\n", "s", "c", "3",
                "[s]\r\na=1\r\nc=3\r\n\r\n\r\n[t]\r\nb=2\r\n"},
        SetCase{"NewKeyBeforeTrailingComment", "[s]\na=1\n;note\n\n[t]\n", "s", "c", "3",
                "[s]\r\na=1\r\nc=3\r\n;note\r\n\r\n[t]\r\n"},
        SetCase{"NewKeyInSectionWithoutKeys", "[s]\n\n[t]\n", "s", "c", "3",
                "[s]\r\nc=3\r\n\r\n[t]\r\n"},
        SetCase{"NewKeyGoesToFirstSectionOfName", "[s]\na=1\n[t]\n[S]\nb=2\n", "s", "c", "3",
                "[s]\r\na=1\r\nc=3\r\n[t]\r\n[S]\r\nb=2\r\n"},
        SetCase{"NewSectionAtEnd", ";top\n[s]\na=1\n", "t", "b", "2",
                ";top\r\n[s]\r\na=1\r\n[t]\r\nb=2\r\n"},
        SetCase{"NewSectionInEmptyDocument", "", "s", "a", "1", "[s]\r\na=1\r\n"},
        SetCase{"KeyAboveFirstSectionNotReplaced", "a=0\n[s]\n", "s", "a", "1",
                "a=0\r\n[s]\r\na=1\r\n"},
        SetCase{"LastLineWithoutEndGetsOne", "[s]\na=1", "s", "b", "2", "[s]\r\na=1\r\nb=2\r\n"},
        SetCase{"BlanksAtEndsQuoted", "[s]\n", "s", "a", " x ", "[s]\r\na=\" x \"\r\n"},
        SetCase{"EnclosingQuotesQuoted", "[s]\n", "s", "a", "'x'", "[s]\r\na=\"'x'\"\r\n"},
        SetCase{"InnerQuotesNotQuoted", "[s]\n", "s", "a", "x\"y", "[s]\r\na=x\"y\r\n"},
        SetCase{"ValueCutAtLineBreak", "[s]\n", "s", "a", "x\r\n[t]", "[s]\r\na=x\r\n"},
        SetCase{"ValueAsCp932", "", "s", "a", kAUtf8, "[s]\r\na=" + kA + "\r\n"},
        SetCase{"UnmappableBecomesQuestionMark", "", "s", "a", "\xF0\x9F\x98\x80",
                "[s]\r\na=?\r\n"},
        SetCase{"RefusedKeyWithEquals", "[s]\n", "s", "a=b", "1", "[s]\r\n"},
        SetCase{"RefusedKeyComment", "[s]\n", "s", ";a", "1", "[s]\r\n"},
        SetCase{"RefusedKeyBracket", "[s]\n", "s", "[a]", "1", "[s]\r\n"},
        SetCase{"RefusedKeyBlank", "[s]\n", "s", " a", "1", "[s]\r\n"},
        SetCase{"RefusedKeyEmpty", "[s]\n", "s", "", "1", "[s]\r\n"},
        SetCase{"RefusedKeyLineBreak", "[s]\n", "s", "a\nb", "1", "[s]\r\n"},
        SetCase{"RefusedSectionBracket", "", "a]b", "k", "1", ""},
        SetCase{"TrailBracketSectionAllowed", "", kZoUtf8, "k", "1", "[" + kZo + "]\r\nk=1\r\n"}),
    [](const testing::TestParamInfo<SetCase>& p) { return std::string(p.param.name); });

TEST(IniFileTest, RoundTripKeepsEverythingElse) {
    const std::string text =
        "; settings\r\n"
        "garbage line\r\n"
        "[Unknown]\r\n"
        "  odd = spacing  \r\n"
        "\r\n"
        "[Main]\r\n"
        "Dir=C:\\x\r\n"
        "[" +
        kZo +
        "]\r\n"
        "\x81\r\n";
    IniFile ini = IniFile::parse(text);
    EXPECT_EQ(ini.serialize(), text);
    ini.set("main", "dir", "/home");
    std::string expected = text;
    expected.replace(expected.find("Dir=C:\\x"), 8, "Dir=/home");
    EXPECT_EQ(ini.serialize(), expected);
}

TEST(IniFileTest, SetValuesReadBack) {
    const std::string values[] = {"",
                                  " ",
                                  "  a  ",
                                  "\"",
                                  "\"\"",
                                  "'a'",
                                  "\"a'",
                                  "a=b",
                                  ";x",
                                  kAUtf8 + " " + kAUtf8,
                                  std::string(300, 'x')};
    IniFile ini;
    for (const std::string& v : values) {
        ini.set("s", "k", v);
        const IniFile reread = IniFile::parse(ini.serialize());
        EXPECT_EQ(reread.get("S", "K"), v.substr(0, 255)) << v;
    }
}

TEST(IniFileTest, HugeAndGarbageLinesAreCutNotFatal) {
    std::string text = "[s]\na=" + std::string(10 * 1024 * 1024, 'v') + "\nb=2\n";
    const IniFile ini = IniFile::parse(text);
    EXPECT_EQ(ini.get("s", "a"), std::string(255, 'v'));
    EXPECT_EQ(ini.get("s", "b"), "2");
    // Cut at 64 KiB, the rest of that line dropped: the serialized size tells.
    EXPECT_EQ(ini.serialize().size(), 5 + 65536 + 2 + 5);

    // A cut never leaves half a double-byte character.
    std::string dbcs = "[s]\n" + std::string(65535 - 4, 'x');
    const IniFile cut = IniFile::parse(dbcs + "b=" + kA + kA + "\n");
    // The second line reaches 64 KiB with the lead byte of the second あ; that byte goes.
    EXPECT_EQ(cut.serialize().size(), 5 + 65535 + 2);
}

class IniFileOnDisk : public testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("ini_file_test_" + std::to_string(::getpid()) + "_" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }
    static std::string readAll(const fs::path& p) {
        // Sized read: g++ 12 at -O3 misreports istreambuf_iterator as a null dereference.
        std::ifstream in(p, std::ios::binary | std::ios::ate);
        if (!in) {
            return {};
        }
        std::string data(static_cast<std::size_t>(in.tellg()), '\0');
        in.seekg(0);
        in.read(data.data(), static_cast<std::streamsize>(data.size()));
        return data;
    }
    static void writeAll(const fs::path& p, const std::string& data) {
        std::ofstream(p, std::ios::binary) << data;
    }
    std::size_t entryCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_dir), {}));
    }
    fs::path m_dir;
};

TEST_F(IniFileOnDisk, MissingOrUnreadableGivesEmptyDocument) {
    EXPECT_EQ(IniFile::load(m_dir / "none.ini").serialize(), "");
    EXPECT_EQ(IniFile::load(m_dir).serialize(), "");
}

TEST_F(IniFileOnDisk, SaveWritesAndReplaces) {
    const fs::path file = m_dir / "frtta.ini";
    writeAll(file, "[s]\na=1\n");
    ::chmod(file.c_str(), 0640);
    IniFile ini = IniFile::load(file);
    ini.set("s", "a", "2");
    ASSERT_TRUE(ini.save(file));
    EXPECT_EQ(readAll(file), "[s]\r\na=2\r\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entryCount(), 1u);  // no temporary left

    ASSERT_TRUE(ini.save(m_dir / "new.ini"));
    EXPECT_EQ(IniFile::load(m_dir / "new.ini").get("s", "a"), "2");
}

TEST_F(IniFileOnDisk, SaveThroughSymbolicLinkKeepsLink) {
    fs::create_directories(m_dir / "real");
    const fs::path target = m_dir / "real" / "frtta.ini";
    writeAll(target, "[s]\na=1\n");
    const fs::path link = m_dir / "link.ini";
    fs::create_symlink(fs::path("real") / "frtta.ini", link);
    IniFile ini = IniFile::load(link);
    ini.set("s", "a", "2");
    ASSERT_TRUE(ini.save(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(target), "[s]\r\na=2\r\n");

    // A dangling link gets its target created.
    const fs::path dangling = m_dir / "dangling.ini";
    fs::create_symlink("real/later.ini", dangling);
    ASSERT_TRUE(ini.save(dangling));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(readAll(m_dir / "real" / "later.ini"), "[s]\r\na=2\r\n");

    const fs::path loop = m_dir / "loop.ini";
    fs::create_symlink("loop.ini", loop);
    EXPECT_FALSE(ini.save(loop));
}

TEST_F(IniFileOnDisk, FailedSaveLeavesOldFileAndNoTemporary) {
    const IniFile ini = IniFile::parse("[s]\na=2\n");
    // The target is a folder: the final rename fails.
    fs::create_directories(m_dir / "frtta.ini");
    EXPECT_FALSE(ini.save(m_dir / "frtta.ini"));
    EXPECT_TRUE(fs::is_directory(m_dir / "frtta.ini"));
    EXPECT_EQ(entryCount(), 1u);
    EXPECT_FALSE(ini.save(m_dir / "no such folder" / "frtta.ini"));
}

TEST_F(IniFileOnDisk, ReadOnlyFolderLeavesOldFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions";
    }
    const fs::path file = m_dir / "frtta.ini";
    writeAll(file, "[s]\na=1\n");
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(IniFile::parse("[s]\na=2\n").save(file));
    EXPECT_EQ(readAll(file), "[s]\na=1\n");
}

TEST_F(IniFileOnDisk, LoadReadsOnlyTheFirst16MiB) {
    const fs::path file = m_dir / "big.ini";
    std::string text = "[s]\na=1\n";
    text.resize(16 * 1024 * 1024, '\n');
    text += "b=2\n";
    writeAll(file, text);
    const IniFile ini = IniFile::load(file);
    EXPECT_EQ(ini.get("s", "a"), "1");
    EXPECT_EQ(ini.get("s", "b"), std::nullopt);
}

}  // namespace
}  // namespace ferretta::platform
