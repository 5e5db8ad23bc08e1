#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>

#include "platform/cp932.h"
#include "support/encodings.h"
#include "support/temp_tree.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;
using Reason = IniFile::SaveFailure::Reason;

// CP932 bytes of a few characters, with their UTF-8 forms.
const std::string kA = "\x82\xA0";  // あ
const std::string kAUtf8 = "\xE3\x81\x82";
// ゾ, ヂ and ア: trail bytes ']', 'a' and 'A' in CP932.
const std::string kZoUtf8 = "\xE3\x82\xBE";
const std::string kDiUtf8 = "\xE3\x83\x82";
const std::string kKataAUtf8 = "\xE3\x82\xA2";
const std::string kCafe = "Caf\xC3\xA9";  // é has no CP932 form

const std::string kLong300(300, 'a');

using test::utf16Bytes;

// Reads key "a" of section "s" unless the case names others.
TEST(IniFileTest, ReadsValues) {
    struct Case {
        std::string text;
        std::optional<std::string> expected;
        std::string section = "s";
        std::string key = "a";
    };
    const Case cases[] = {
        {"[s]\na=1\n", std::nullopt, "s", "b"},
        {"[s]\na=\n", ""},
        {"[s]\na=1\nA=2\n", "1"},  // the first key and the first section of a name win
        {"[s]\na=1\n[S]\na=2\n", "1"},
        {"a=0\n[s]\nb=1\n", std::nullopt, ""},  // keys before the first section belong nowhere
        {"[]\na=1\n", "1", ""},
        {"  [ s ]  \n \t a \t= v \t\n", "v"},
        {"[s]\na=b=c\n", "b=c"},
        {"[s] trailing\na=1\n", "1"},
        {"[s]\n;a=1\na=2\n", "2"},
        {"[s]\n[t\na=1\n", "1"},  // an unclosed header is no section
        {"[s]\na=\" x \"\n", " x "},
        {"[s]\na=\"x'\n", "\"x'"},
        {"[s]\na=\"\"x\"\"\n", "\"x\""},  // one pair only
        {"[s]\r\na=1\nb=2\rc=3\r\n", "3", "s", "c"},
        {std::string("[s]\na=ab\0cd\n", 12), "ab"},
        {std::string("[s]\n\0=1\na=2\n", 12), "2"},
        // Values are cut at 255 bytes of CP932 (never inside a character), or 255 UTF-16
        // units of a Unicode file, after the quotes go.
        {"[s]\na=" + kLong300 + "\n", kLong300.substr(0, 255)},
        {"[s]\na=" + std::string(254, 'b') + kA + "\n", std::string(254, 'b')},
        {"[s]\na=" + std::string(253, 'b') + kA + "c\n", std::string(253, 'b') + kAUtf8},
        {"\xEF\xBB\xBF[s]\na=" + std::string(254, 'b') + kAUtf8 + "c\n",
         std::string(254, 'b') + kAUtf8},
        {"\xEF\xBB\xBF[s]\na=" + std::string(254, 'b') + "\xF0\x9F\x98\x80\n",
         std::string(254, 'b')},
        {"\xEF\xBB\xBF[s]\na=\xFF\n", "\xEF\xBF\xBD"},
        {"[s\x81\n]\na=1\n", std::nullopt}};
    for (const Case& c : cases) {
        EXPECT_EQ(IniFile::parse(c.text).get(c.section, c.key), c.expected)
            << testing::PrintToString(c.text);
    }
}

// Sets key "a" of section "s" unless the case names others; compares the whole document.
TEST(IniFileTest, SetChangesOnlyItsLine) {
    struct Case {
        std::string text;
        std::string value;
        std::string expected;
        std::string section = "s";
        std::string key = "a";
    };
    const Case cases[] = {
        // A replaced key keeps its spelling and place, the first of duplicates replaced; every
        // other byte stays, line ends included.
        {"[S]\n  A = old \nz=1\n", "new", "[S]\nA=new\nz=1\n"},
        {"[s]\r\na=1\na=2\r", "3", "[s]\r\na=3\na=2\r", "s", "A"},
        // A new key goes after the last key of the first section of that name, ended like the
        // document's first line.
        {"[s]\nb=1\n\n\n[t]\nb=2\n", "3", "[s]\nb=1\na=3\n\n\n[t]\nb=2\n"},
        {"[s]\r\nb=1\n;note\n\n[t]\n", "3", "[s]\r\nb=1\na=3\r\n;note\n\n[t]\n"},
        {"[s]\rb=1\r[t]\r[S]\rb=2\r", "3", "[s]\rb=1\ra=3\r[t]\r[S]\rb=2\r"},
        {";top\n[s]\nb=1\n", "2", ";top\n[s]\nb=1\n[t]\na=2\n", "t"},
        {"", "1", "[s]\r\na=1\r\n"},
        {"[s]\nb=1", "2", "[s]\nb=1\na=2\n"},
        {"[s]", "2", "[s]\r\na=2\r\n"},
        {"[s]\n", "x\r\n[t]", "[s]\na=x\n"},
        // A character CP932 lacks turns the document into UTF-8; its other lines keep their
        // text. Bytes that are no clean CP932 keep the document CP932, with '?'.
        {";" + kA + "\r\n", kCafe, "\xEF\xBB\xBF;" + kAUtf8 + "\r\n[s]\r\na=" + kCafe + "\r\n"},
        {";\x81\r\n", kCafe, ";\x81\r\n[s]\r\na=Caf?\r\n"},
        {"[s]\na=1\n" + std::string(70000, 'x') + "\n", "2",
         "[s]\na=2\n" + std::string(70000, 'x') + "\n"},  // no line is ever cut
        {"", "1", "", "a]b", "k"}};  // a name that could not be read back is refused
    for (const Case& c : cases) {
        IniFile ini = IniFile::parse(c.text);
        ini.set(c.section, c.key, c.value);
        EXPECT_EQ(ini.serialize(), c.expected) << testing::PrintToString(c.text) << " " << c.key;
    }
    for (const char* key : {"a=b", ";a", "[a]", " a", "", "a\nb"}) {
        IniFile ini = IniFile::parse("[s]\n");
        ini.set("s", key, "1");
        EXPECT_EQ(ini.serialize(), "[s]\n") << key;
    }
}

// Generated documents: in every encoding, whatever the names and values, each value set reads
// back as set under any case of its names (and names that differ only inside a double-byte
// character are other names); the document's first line keeps its text.
TEST(IniFileTest, GeneratedSettingsReadBackAsSet) {
    const std::string names[] = {"a", "B", "key", kAUtf8, kZoUtf8, kDiUtf8, kKataAUtf8, "7"};
    const std::string values[] = {"x", " ", "\"", "'", "=", ";", "[", kAUtf8, "\\", "ｶﾅ"};
    const std::string notCp932[] = {"", kCafe, "\xF0\x9F\x98\x80"};
    const std::string starts[] = {"", ";" + kA + "\r\n", "\xEF\xBB\xBF;" + kAUtf8 + "\n",
                                  utf16Bytes(u";\u3042\r", false), utf16Bytes(u";\u3042\n", true)};
    std::mt19937 random(24);
    const auto any = [&](const auto& list) { return list[random() % std::size(list)]; };
    const auto anyCase = [&](std::string name) {
        for (char& c : name) {
            if (std::isalpha(static_cast<unsigned char>(c)) && random() % 2 == 0)
                c = static_cast<char>(c ^ 0x20);
        }
        return name;
    };
    for (int round = 0; round < 300; ++round) {
        const std::string& start = starts[round % std::size(starts)];
        IniFile ini = IniFile::parse(start);
        std::map<std::pair<std::string, std::string>, std::string> set;  // by upper-case names
        const auto upper = [](std::string name) {
            for (char& c : name)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return name;
        };
        for (int k = 0; k < 6; ++k) {
            const std::string section = any(names) + any(names), key = any(names) + any(names);
            std::string value = any(values) + any(values) + any(values);
            if (random() % 8 == 0)
                value += any(notCp932);
            ini.set(anyCase(section), anyCase(key), value);
            set[{upper(section), upper(key)}] = value;
        }
        const IniFile back = IniFile::parse(ini.serialize());
        SCOPED_TRACE(testing::PrintToString(ini.serialize()));
        for (const auto& [name, value] : set)
            EXPECT_EQ(back.get(anyCase(name.first), anyCase(name.second)), value);
        EXPECT_EQ(back.get(any(names), "absent"), std::nullopt);
        // A character CP932 lacks turns a CP932 document into UTF-8.
        const bool converted = IniFile::parse(start).encoding() != back.encoding();
        EXPECT_TRUE(back.serialize().starts_with(
            converted ? "\xEF\xBB\xBF" + platform::cp932ToUtf8(start) : start));
    }
}

class IniFileOnDisk : public testing::Test {
  protected:
    static std::optional<Reason> failure(const IniFile& ini, const fs::path& path) {
        const auto result = ini.save(path);
        return result ? std::optional(result->reason) : std::nullopt;
    }
    static void writeAll(const fs::path& p, const std::string& data) {
        std::ofstream(p, std::ios::binary) << data;
    }
    std::size_t entryCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_dir), {}));
    }
    const test::TempTree m_tree;
    const fs::path& m_dir = m_tree.root();
};

// A save replaces the file keeping its mode, writes through links and leaves no temporary.
TEST_F(IniFileOnDisk, SaveReplacesTheFile) {
    fs::create_directories(m_dir / "real");
    const fs::path file = m_dir / "real" / "frtta.ini";
    writeAll(file, "[s]\na=1\n");
    ::chmod(file.c_str(), 0640);
    IniFile ini = IniFile::load(file);
    ini.set("s", "a", "2");
    ASSERT_EQ(failure(ini, file), std::nullopt);
    EXPECT_EQ(test::readFile(file), "[s]\na=2\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0640));
    ASSERT_EQ(failure(ini, m_dir / "new.ini"), std::nullopt);
    EXPECT_EQ(IniFile::load(m_dir / "new.ini").get("s", "a"), "2");

    fs::create_symlink("real/frtta.ini", m_dir / "link.ini");  // relative to the link's folder
    fs::create_symlink("real/later.ini", m_dir / "dangling.ini");
    ini.set("s", "a", "3");
    ASSERT_EQ(failure(ini, m_dir / "link.ini"), std::nullopt);
    ASSERT_EQ(failure(ini, m_dir / "dangling.ini"), std::nullopt);  // gets its target created
    EXPECT_TRUE(fs::is_symlink(m_dir / "link.ini") && fs::is_symlink(m_dir / "dangling.ini"));
    EXPECT_EQ(test::readFile(file), "[s]\na=3\n");
    EXPECT_EQ(test::readFile(m_dir / "real" / "later.ini"), "[s]\na=3\n");
    fs::create_symlink("loop.ini", m_dir / "loop.ini");
    EXPECT_EQ(failure(ini, m_dir / "loop.ini"), Reason::WriteFailed);
    EXPECT_EQ(entryCount(), 5u);  // real, new.ini and the three links
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir / "real"), {}), 2);
}

// Files a save must not touch: read-only ones, ones not read whole; a failed write leaves the
// old file and no temporary.
TEST_F(IniFileOnDisk, WhatASaveLeavesAlone) {
    const fs::path file = m_dir / "frtta.ini";
    const std::string big = "[s]\na=1\n" + std::string(16 * 1024 * 1024, '\n') + "[t]\nb=2\n";
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::optional<Reason> expected;
    };
    const Case cases[] = {
        {"read-only",
         [&] {
             writeAll(file, "[s]\na=1\n");
             ::chmod(file.c_str(), 0444);
         },
         Reason::ReadOnly},
        {"larger than 16 MiB", [&] { writeAll(file, big); }, Reason::NotReadWhole},
        {"not a file", [&] { fs::create_directory(file); }, Reason::NotReadWhole},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(file);
        c.prepare();
        const std::string before = fs::is_regular_file(file) ? test::readFile(file) : "";
        IniFile ini = IniFile::load(file);
        EXPECT_EQ(ini.get("s", "a"), fs::is_regular_file(file) ? std::optional("1") : std::nullopt);
        ini.set("s", "a", "2");
        EXPECT_EQ(failure(ini, file), c.expected);
        EXPECT_EQ(fs::is_regular_file(file) ? test::readFile(file) : "", before);
        EXPECT_EQ(entryCount(), 1u);
    }
    // A read-only file whose settings did not change is left alone without complaint.
    fs::remove_all(file);
    writeAll(file, "[s]\na=1\n");
    ::chmod(file.c_str(), 0444);
    IniFile same = IniFile::load(file);
    same.set("s", "a", "1");
    EXPECT_EQ(failure(same, file), std::nullopt);

    EXPECT_EQ(failure(IniFile(), m_dir / "no such folder" / "frtta.ini"), Reason::WriteFailed);
    EXPECT_EQ(IniFile::load(m_dir / "none.ini").serialize(), "");
}

}  // namespace
}  // namespace ferretta::platform
