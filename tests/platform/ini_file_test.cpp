#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
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

const std::string kLong300(300, 'a');

// Reads key "a" of section "s" unless the case names others.
TEST(IniFileTest, ReadsValues) {
    struct Case {
        std::string text;
        std::optional<std::string> expected;
        std::string section = "s";
        std::string key = "a";
    };
    const Case cases[] = {
        {"[Main]\nKey=1\n", "1", "mAIN", "key"},  // names are case-insensitive
        {"[s]\na=1\n", std::nullopt, "s", "b"},
        {"[s]\na=1\n", std::nullopt, "t"},
        {"[s]\na=\n", ""},
        {"[s]\na=1\nA=2\n", "1"},  // the first key and the first section of a name win
        {"[s]\na=1\n[S]\na=2\n", "1"},
        {"[s]\nx=1\n[S]\na=2\n", std::nullopt},
        {"a=0\n[s]\nb=1\n", std::nullopt, ""},  // keys before the first section belong nowhere
        {"[]\na=1\n", "1", ""},
        {"  [ s ]  \n \t a \t= v \t\n", "v"},
        {"[s]\na=b=c\n", "b=c"},
        {"[s] trailing\na=1\n", "1"},
        {"[s]\n;a=1\na=2\n", "2"},
        {"[s]\n  ;a=1\n", std::nullopt, "s", ";a"},
        {"[s]\na\na=2\n", "2"},
        {"[s]\n[t\na=1\n", "1"},  // an unclosed header is no section
        {"[s]\na=\" x \"\n", " x "},
        {"[s]\na='x'\n", "x"},
        {"[s]\na=\"x'\n", "\"x'"},
        {"[s]\na=\"\"\n", ""},
        {"[s]\na=\"\"x\"\"\n", "\"x\""},  // one pair only
        {"[s]\na=x\"y\n", "x\"y"},
        {"[s]\ra=1\rb=2", "2", "s", "b"},
        {"[s]\r\na=1\nb=2\rc=3\r\n", "3", "s", "c"},
        {"[s]\na=1", "1"},
        {std::string("[s]\na=ab\0cd\n", 12), "ab"},
        {std::string("[s]\n\0=1\na=2\n", 12), "2"},
        // Values are cut at 255 bytes, after the quotes go and never inside a character.
        {"[s]\na=" + kLong300 + "\n", kLong300.substr(0, 255)},
        {"[s]\na=\"" + kLong300 + "\"\n", kLong300.substr(0, 255)},
        {"[s]\na=" + std::string(254, 'b') + kA + "\n", std::string(254, 'b')},
        {"[s]\na=" + std::string(253, 'b') + kA + "c\n", std::string(253, 'b') + kAUtf8},
        {"[s]\na=" + kA + kA + "\n", kAUtf8 + kAUtf8},
        {"[" + kZo + "]\n" + kDi + "=1\n", "1", kZoUtf8, kDiUtf8},
        {"[" + kZo + "x]\na=1\n", "1", kZoUtf8 + "x"},            // a trail byte ']' ends no name
        {"[s]\n" + kKataA + "=1\n", std::nullopt, "s", kDiUtf8},  // nor is 'A' folded
        {"[s]\na=" + kSo + "\n", "\xE3\x82\xBD"},
        {std::string("\xFF\xFE[\0s\0]\0\r\0\n\0a\0=\0B\x30\n\0", 20), kAUtf8},
        {std::string("\xFE\xFF\0[\0s\0]\0\n\0a\0=\x30\x42", 16), kAUtf8},
        {"\xEF\xBB\xBF[s]\na=" + kAUtf8 + "\n", kAUtf8},
        {"\xFF\xFE\xFD\x81\n\x80]]][[[==\n", std::nullopt},
        {"[s\x81\n]\na=1\n", std::nullopt}};
    for (const Case& c : cases) {
        EXPECT_EQ(IniFile::parse(c.text).get(c.section, c.key), c.expected)
            << testing::PrintToString(c.text);
    }
}

// Sets key "a" of section "s" unless the case names others; compares the whole document.
TEST(IniFileTest, SetPlacesValues) {
    struct Case {
        std::string text;
        std::string value;
        std::string expected;
        std::string section = "s";
        std::string key = "a";
    };
    const Case cases[] = {
        // A replaced key keeps its spelling and place, the first of duplicates replaced.
        {"[S]\n  A = old \nz=1\n", "new", "[S]\r\nA=new\r\nz=1\r\n"},
        {"[s]\na=1\na=2\n", "3", "[s]\r\na=3\r\na=2\r\n", "s", "A"},
        // A new key goes after the last key of the first section of that name.
        {"[s]\nb=1\n\n\n[t]\nb=2\n", "3", "[s]\r\nb=1\r\na=3\r\n\r\n\r\n[t]\r\nb=2\r\n"},
        {"[s]\nb=1\n;note\n\n[t]\n", "3", "[s]\r\nb=1\r\na=3\r\n;note\r\n\r\n[t]\r\n"},
        {"[s]\n\n[t]\n", "3", "[s]\r\na=3\r\n\r\n[t]\r\n"},
        {"[s]\nb=1\n[t]\n[S]\nb=2\n", "3", "[s]\r\nb=1\r\na=3\r\n[t]\r\n[S]\r\nb=2\r\n"},
        {";top\n[s]\nb=1\n", "2", ";top\r\n[s]\r\nb=1\r\n[t]\r\na=2\r\n", "t"},
        {"", "1", "[s]\r\na=1\r\n"},
        {"a=0\n[s]\n", "1", "a=0\r\n[s]\r\na=1\r\n"},
        {"[s]\nb=1", "2", "[s]\r\nb=1\r\na=2\r\n"},
        // Blanks at the ends and enclosing quotes are protected by quotes.
        {"[s]\n", " x ", "[s]\r\na=\" x \"\r\n"},
        {"[s]\n", "'x'", "[s]\r\na=\"'x'\"\r\n"},
        {"[s]\n", "x\"y", "[s]\r\na=x\"y\r\n"},
        {"[s]\n", "x\r\n[t]", "[s]\r\na=x\r\n"},
        {"", kAUtf8, "[s]\r\na=" + kA + "\r\n"},
        {"", "\xF0\x9F\x98\x80", "[s]\r\na=?\r\n"},
        {"", "1", "[" + kZo + "]\r\nk=1\r\n", kZoUtf8, "k"},  // a trail byte ']' is allowed
        {"", "1", "", "a]b", "k"}};  // a name that could not be read back is refused
    for (const Case& c : cases) {
        IniFile ini = IniFile::parse(c.text);
        ini.set(c.section, c.key, c.value);
        EXPECT_EQ(ini.serialize(), c.expected) << testing::PrintToString(c.text) << " " << c.key;
    }
    for (const char* key : {"a=b", ";a", "[a]", " a", "", "a\nb"}) {
        IniFile ini = IniFile::parse("[s]\n");
        ini.set("s", key, "1");
        EXPECT_EQ(ini.serialize(), "[s]\r\n") << key;
    }
}

TEST(IniFileTest, RoundTripKeepsEverythingElse) {
    const std::string text =
        "; settings\r\ngarbage line\r\n[Unknown]\r\n  odd = spacing  \r\n\r\n"
        "[Main]\r\nDir=C:\\x\r\n[" +
        kZo + "]\r\n\x81\r\n";
    IniFile ini = IniFile::parse(text);
    EXPECT_EQ(ini.serialize(), text);
    ini.set("main", "dir", "/home");
    std::string expected = text;
    expected.replace(expected.find("Dir=C:\\x"), 8, "Dir=/home");
    EXPECT_EQ(ini.serialize(), expected);
}

TEST(IniFileTest, SetValuesReadBack) {
    IniFile ini;
    for (const std::string& v :
         std::vector<std::string>{"", " ", "  a  ", "\"", "\"\"", "'a'", "\"a'", "a=b", ";x",
                                  kAUtf8 + " " + kAUtf8, std::string(300, 'x')}) {
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

// A save replaces the file keeping its mode, writes through links and leaves no temporary.
TEST_F(IniFileOnDisk, SaveReplacesTheFile) {
    fs::create_directories(m_dir / "real");
    const fs::path file = m_dir / "real" / "frtta.ini";
    writeAll(file, "[s]\na=1\n");
    ::chmod(file.c_str(), 0640);
    IniFile ini = IniFile::load(file);
    ini.set("s", "a", "2");
    ASSERT_TRUE(ini.save(file));
    EXPECT_EQ(readAll(file), "[s]\r\na=2\r\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
    ASSERT_TRUE(ini.save(m_dir / "new.ini"));
    EXPECT_EQ(IniFile::load(m_dir / "new.ini").get("s", "a"), "2");

    fs::create_symlink("real/frtta.ini", m_dir / "link.ini");  // relative to the link's folder
    fs::create_symlink("real/later.ini", m_dir / "dangling.ini");
    ini.set("s", "a", "3");
    ASSERT_TRUE(ini.save(m_dir / "link.ini"));
    ASSERT_TRUE(ini.save(m_dir / "dangling.ini"));  // gets its target created
    EXPECT_TRUE(fs::is_symlink(m_dir / "link.ini") && fs::is_symlink(m_dir / "dangling.ini"));
    EXPECT_EQ(readAll(file), "[s]\r\na=3\r\n");
    EXPECT_EQ(readAll(m_dir / "real" / "later.ini"), "[s]\r\na=3\r\n");
    fs::create_symlink("loop.ini", m_dir / "loop.ini");
    EXPECT_FALSE(ini.save(m_dir / "loop.ini"));
    EXPECT_EQ(entryCount(), 5u);  // real, new.ini and the three links
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir / "real"), {}), 2);
}

TEST_F(IniFileOnDisk, FailedSaveLeavesOldFileAndNoTemporary) {
    const IniFile ini = IniFile::parse("[s]\na=2\n");
    // The target is a folder: the final rename fails.
    fs::create_directories(m_dir / "frtta.ini");
    EXPECT_FALSE(ini.save(m_dir / "frtta.ini"));
    EXPECT_TRUE(fs::is_directory(m_dir / "frtta.ini"));
    EXPECT_EQ(entryCount(), 1u);
    EXPECT_FALSE(ini.save(m_dir / "no such folder" / "frtta.ini"));

    if (::geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions";
    }
    const fs::path file = m_dir / "old.ini";
    writeAll(file, "[s]\na=1\n");
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(ini.save(file));
    EXPECT_EQ(readAll(file), "[s]\na=1\n");
}

TEST_F(IniFileOnDisk, LoadReadsOnlyTheFirst16MiBOfAFile) {
    const fs::path file = m_dir / "big.ini";
    std::string text = "[s]\na=1\n";
    text.resize(16 * 1024 * 1024, '\n');
    text += "b=2\n";
    writeAll(file, text);
    const IniFile ini = IniFile::load(file);
    EXPECT_EQ(ini.get("s", "a"), "1");
    EXPECT_EQ(ini.get("s", "b"), std::nullopt);
    // A missing or unreadable file gives an empty document.
    EXPECT_EQ(IniFile::load(m_dir / "none.ini").serialize(), "");
    EXPECT_EQ(IniFile::load(m_dir).serialize(), "");
}

}  // namespace
}  // namespace ferretta::platform
