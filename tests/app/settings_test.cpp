#include "app/settings.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/cp932.h"
#include "platform/ini_file.h"

namespace ferretta::app {
namespace {

namespace fs = std::filesystem;
using platform::IniFile;

Settings loadFrom(std::string_view iniText, Settings start = {}) {
    loadConfigFile(IniFile::parse(iniText), start);
    return start;
}

std::vector<std::string> nonEmpty(const std::array<std::string, folderHistorySize>& list) {
    std::vector<std::string> out;
    for (const auto& entry : list) {
        if (!entry.empty())
            out.push_back(entry);
    }
    return out;
}

TEST(LoadConfigTest, EmptyDocumentGivesTheDefaultsOfTheTable) {
    Settings s = loadFrom("");
    EXPECT_EQ(s.dir, "");
    EXPECT_EQ(nonEmpty(s.dirList), std::vector<std::string>{});
    EXPECT_TRUE(s.keywords.empty());
    EXPECT_EQ(s.editor, "xdg-open %1");
    EXPECT_TRUE(s.subFolder);
    EXPECT_FALSE(s.fileNameOnly);
    EXPECT_FALSE(s.strict);
    EXPECT_FALSE(s.regular);
    EXPECT_TRUE(s.statusBar);
    EXPECT_FALSE(s.topMost);
    EXPECT_TRUE(s.fixed);
    EXPECT_FALSE(s.lastX.has_value());
    EXPECT_FALSE(s.lastY.has_value());
    // The start-up table has text files on and "TXT"; an absent key switches each type off.
    for (int n = 0; n < fileType::slotCount; ++n) {
        EXPECT_FALSE(s.fileTypes.targetFileType[n]) << "type " << n;
    }
    EXPECT_EQ(s.fileTypes.fileTypeName[fileType::pdf], "Adobe PDF");
    EXPECT_EQ(s.textTags, "");
    EXPECT_FALSE(s.pdfOwnEngine);
    EXPECT_EQ(s.pdfFilterPath, "");
    EXPECT_EQ(s.pdfFilterPause, "");
    EXPECT_FALSE(s.noJump);
    EXPECT_FALSE(s.wordFast);
}

TEST(LoadConfigTest, MissingFileGivesTheDefaults) {
    Settings s = loadSettingsFrom("/nonexistent-ferretta-folder/frtta.ini");
    EXPECT_EQ(s.editor, "xdg-open %1");
    EXPECT_TRUE(s.subFolder);
    EXPECT_TRUE(s.fixed);
    EXPECT_EQ(s.textTags, "");
    EXPECT_FALSE(s.fileTypes.targetFileType[fileType::text]);
}

// The numeric flags read by rounding: SubFolder, FileNameOnly, Strict, StatusBar.
struct RoundingKey {
    const char* section;
    const char* key;
    bool Settings::*member;
    bool absent;  // the value an absent key gives
};
constexpr RoundingKey kRoundingKeys[] = {
    {"Search", "SubFolder", &Settings::subFolder, true},
    {"Search", "FileNameOnly", &Settings::fileNameOnly, false},
    {"Search", "Strict", &Settings::strict, false},
    {"Form", "StatusBar", &Settings::statusBar, true},
};

// nullopt as the expected value: the key counts as absent.
struct FlagCase {
    std::optional<std::string> value;  // nullopt: the key is not in the file
    std::optional<bool> expected;
};

std::string keyLine(const char* section, const char* key, const std::string& value) {
    return std::string("[") + section + "]\r\n" + key + "=" + value + "\r\n";
}

TEST(LoadConfigTest, RoundingFlagsReadTheLeadingNumberRoundedHalfToEven) {
    const FlagCase cases[] = {
        {std::nullopt, std::nullopt},
        {"1", true},
        {"1.2", true},
        {"0.6", true},
        {"1.49", true},
        {"0", false},
        {"0.5", false},  // half to even: 0
        {"1.5", false},  // half to even: 2
        {"2", false},
        {"-1", false},
        {"abc", false},
        {"", false},
        {" 1", true},      // blanks around a value are the INI reader's to drop
        {"\" 1\"", true},  // a quoted blank reaches the number reader, which skips it
        {"1abc", true},    // only the leading numeric part counts
        {"1 x", true},
        {"+1", true},
        {"1e0", true},
        {"true", false},
        {"True", false},
        {"32767", false},
        {"32768", std::nullopt},  // beyond 16 bits: as if absent
        {"-32769", std::nullopt},
        {"1e9", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const RoundingKey& key : kRoundingKeys) {
        for (const FlagCase& c : cases) {
            std::string text = c.value ? keyLine(key.section, key.key, *c.value) : "";
            Settings start;
            start.*key.member = !key.absent;  // so that an untouched member would show
            Settings s = loadFrom(text, start);
            EXPECT_EQ(s.*key.member, c.expected.value_or(key.absent))
                << key.key << "=" << c.value.value_or("(absent)");
        }
    }
}

// Regular, TopMost and pdfOwnEngine are on only for exactly "1".
TEST(LoadConfigTest, ExactOneFlagsAreOnOnlyForTheTextOne) {
    struct ExactKey {
        const char* section;
        const char* key;
        bool Settings::*member;
    };
    const ExactKey keys[] = {
        {"Search", "Regular", &Settings::regular},
        {"Form", "TopMost", &Settings::topMost},
        {"Search", "pdfOwnEngine", &Settings::pdfOwnEngine},
    };
    const FlagCase cases[] = {
        {std::nullopt, false}, {"1", true},    {" 1 ", true}, {"\"1\"", true},
        {"\" 1\"", false},     {"1.0", false}, {"01", false}, {"2", false},
        {"True", false},       {"", false},    {"0", false},  {"1.2", false},
    };
    for (const ExactKey& key : keys) {
        for (const FlagCase& c : cases) {
            std::string text = c.value ? keyLine(key.section, key.key, *c.value) : "";
            Settings start;
            start.*key.member = true;
            Settings s = loadFrom(text, start);
            EXPECT_EQ(s.*key.member, *c.expected) << key.key << "=" << c.value.value_or("(absent)");
        }
    }
}

TEST(LoadConfigTest, FixedIsOffOnlyForExactlyZero) {
    const FlagCase cases[] = {
        {std::nullopt, true}, {"0", false},  {"x", true},  {"1", true},
        {"00", true},         {"0.0", true}, {"-0", true}, {"", true},
    };
    for (const FlagCase& c : cases) {
        std::string text = c.value ? keyLine("Form", "Fixed", *c.value) : "";
        Settings s = loadFrom(text);
        EXPECT_EQ(s.fixed, *c.expected) << "Fixed=" << c.value.value_or("(absent)");
    }
}

TEST(LoadConfigTest, WindowPositionIsReadOnlyWhenNotFixed) {
    struct Case {
        const char* fixedLine;
        const char* lastX;  // nullptr: key absent
        const char* lastY;
        std::optional<float> x;
        std::optional<float> y;
    };
    const Case cases[] = {
        {"Fixed=0", "120", "240", 120.0f, 240.0f},
        {"Fixed=0", nullptr, nullptr, 0.0f, 0.0f},
        {"Fixed=0", "", "", 0.0f, 0.0f},
        {"Fixed=0", "abc", "12abc", 0.0f, 12.0f},
        {"Fixed=0", "12.5", "-1500", 12.5f, -1500.0f},
        {"Fixed=1", "120", "240", std::nullopt, std::nullopt},
        {"Fixed=x", "120", "240", std::nullopt, std::nullopt},
        {"", "120", "240", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        std::string text = std::string("[Form]\r\n") + c.fixedLine + "\r\n";
        if (c.lastX)
            text += std::string("lastX=") + c.lastX + "\r\n";
        if (c.lastY)
            text += std::string("lastY=") + c.lastY + "\r\n";
        Settings start;
        start.lastX = 7.0f;  // a value left from before must not survive
        start.lastY = 7.0f;
        Settings s = loadFrom(text, start);
        EXPECT_EQ(s.lastX, c.x) << text;
        EXPECT_EQ(s.lastY, c.y) << text;
    }
}

// The 16-bit limit is for the numeric flags only: a window saved right of about 2184 pixels
// (32767 twips: a second monitor, a 4K screen) must come back where it was.
TEST(LoadConfigTest, WindowPositionBeyond16BitsIsKept) {
    Settings s = loadFrom("[Form]\r\nFixed=0\r\nlastX=40000\r\nlastY=-33000\r\n");
    EXPECT_EQ(s.lastX, 40000.0f);
    EXPECT_EQ(s.lastY, -33000.0f);
}

TEST(LoadConfigTest, TextFlagsAreOnOnlyForExactlyTrue) {
    const FlagCase cases[] = {
        {std::nullopt, false}, {"True", true},   {"\"True\"", true}, {"true", false},
        {"TRUE", false},       {"1", false},     {"", false},        {"\"True \"", false},
        {"Truex", false},      {"False", false},
    };
    for (const FlagCase& c : cases) {
        const std::string value = c.value.value_or("");
        const std::string label = c.value.value_or("(absent)");
        for (const char* key : {"NoJump", "WordFast"}) {
            Settings start;
            start.noJump = start.wordFast = !*c.expected;
            Settings s = loadFrom(c.value ? keyLine("Office", key, value) : "", start);
            EXPECT_EQ(std::string(key) == "NoJump" ? s.noJump : s.wordFast, *c.expected)
                << key << "=" << label;
        }
        for (int n : {0, 1, 13, 20}) {
            std::string key = "targetFileType" + std::to_string(n);
            Settings s = loadFrom(c.value ? keyLine("Search", key.c_str(), value) : "");
            EXPECT_EQ(s.fileTypes.targetFileType[n], *c.expected) << key << "=" << label;
        }
    }
}

TEST(LoadConfigTest, EveryFileTypeSlotHasItsOwnKey) {
    std::string text = "[Search]\r\n";
    for (int n = 0; n < fileType::slotCount; n += 3) {
        text += "targetFileType" + std::to_string(n) + "=True\r\n";
    }
    text += "targetFileType21=True\r\ntargetFileType01=False\r\n";
    Settings s = loadFrom(text);
    for (int n = 0; n < fileType::slotCount; ++n) {
        EXPECT_EQ(s.fileTypes.targetFileType[n], n % 3 == 0) << "slot " << n;
    }
}

TEST(LoadConfigTest, FolderHistoryIsPackedInKeyOrder) {
    struct Case {
        const char* text;
        std::vector<std::string> history;
    };
    const Case cases[] = {
        {"[Search]\r\nDir7=/seven\r\nDir3=/three\r\n", {"/three", "/seven"}},
        {"[Search]\r\nDir=/current\r\n", {}},
        {"[Search]\r\nDir0=\r\nDir1=/one\r\nDir11=/eleven\r\nDir01=/zero-one\r\n", {"/one"}},
        {"[Search]\r\nDir0=/a\r\nDir1=/b\r\nDir2=/c\r\nDir3=/d\r\nDir4=/e\r\nDir5=/f\r\n"
         "Dir6=/g\r\nDir7=/h\r\nDir8=/i\r\nDir9=/j\r\nDir10=/k\r\n",
         {"/a", "/b", "/c", "/d", "/e", "/f", "/g", "/h", "/i", "/j", "/k"}},
        {"[search]\r\ndir2=/lower-case-names\r\n", {"/lower-case-names"}},
        {"[Other]\r\nDir0=/wrong-section\r\n", {}},
    };
    for (const Case& c : cases) {
        Settings start;
        start.dirList.fill("/stale");
        start.dir = "/stale";
        Settings s = loadFrom(c.text, start);
        EXPECT_EQ(nonEmpty(s.dirList), c.history) << c.text;
        // The plain "Dir" key is never read: the current folder is the newest history entry.
        EXPECT_EQ(s.dir, c.history.empty() ? "" : c.history.front()) << c.text;
    }
}

TEST(LoadConfigTest, KeywordsAreReadInKeyOrderUpTo100) {
    Settings start;
    start.keywords = {"stale"};
    Settings s = loadFrom(
        "[Search]\r\nkeyword5=five\r\nkeyword0=zero\r\nkeyword1=\r\nkeyword100=hundred\r\n"
        "keyword101=beyond\r\nkeyword07=padded\r\n");
    EXPECT_EQ(s.keywords, (std::vector<std::string>{"zero", "five", "hundred"}));
}

TEST(LoadConfigTest, StringSettings) {
    const std::string japanese = "C:/ユーザー/エディタ %1";
    Settings s = loadFrom("[Other]\r\nEditor=" + platform::utf8ToCp932(japanese) +
                          "\r\n[Search]\r\ntextTags=TXT;CSV;LOG\r\npdfFilterPath=pdftotext %1\r\n"
                          "pdfFilterPause=----\r\n");
    EXPECT_EQ(s.editor, japanese);
    EXPECT_EQ(s.textTags, "TXT;CSV;LOG");
    EXPECT_EQ(s.pdfFilterPath, "pdftotext %1");
    EXPECT_EQ(s.pdfFilterPause, "----");
}

TEST(LoadConfigTest, AnEmptyEditorLeavesTheEditorAsItWas) {
    Settings start;
    start.editor = "gedit %1";
    EXPECT_EQ(loadFrom("[Other]\r\nEditor=\r\n", start).editor, "gedit %1");
    EXPECT_EQ(loadFrom("[Other]\r\nEditor=kate %1\r\n", start).editor, "kate %1");
    EXPECT_EQ(loadFrom("", start).editor, "xdg-open %1");
}

TEST(LoadConfigTest, ReadsAFileOnDisk) {
    std::string pattern = (fs::temp_directory_path() / "ferretta-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    {
        std::ofstream out(folder / "frtta.ini", std::ios::binary);
        out << "[Search]\r\nDir0=" << platform::utf8ToCp932("/home/山田/文書")
            << "\r\nStrict=1\r\ntargetFileType1=True\r\n";
    }
    Settings s = loadSettingsFrom(folder / "frtta.ini");
    EXPECT_EQ(s.dir, "/home/山田/文書");
    EXPECT_TRUE(s.strict);
    EXPECT_TRUE(s.fileTypes.targetFileType[fileType::text]);
    fs::remove_all(folder);
}

// A settings structure in which every value differs from its default.
Settings everythingChanged() {
    Settings s;
    s.dir = "/srv/検索/";
    s.dirList = {"/srv/検索", "/home/b", "/home/c with blank"};
    s.keywords = {"&& foo bar", "日本語", "x"};
    s.editor = "\"/opt/my editor/ed\" +%2:%3 \"%1\"";
    s.subFolder = false;
    s.fileNameOnly = true;
    s.strict = true;
    s.regular = true;
    s.statusBar = false;
    s.topMost = true;
    s.fixed = false;
    s.fileTypes.targetFileType.fill(false);
    for (int n : {1, 2, 3, 13, 16, 20})
        s.fileTypes.targetFileType[n] = true;
    s.textTags = "TXT;CSV";
    s.pdfOwnEngine = true;
    s.pdfFilterPath = "pdftotext -layout %1";
    s.pdfFilterPause = " -- ";
    s.noJump = true;
    s.wordFast = true;
    return s;
}

TEST(SaveConfigTest, EverySettingSurvivesSaveAndLoad) {
    const Settings saved = everythingChanged();
    IniFile ini;
    saveConfigFile(saved, 1234.5f, -60.0f, ini);
    // Through the bytes, as the file would be written and read at the next start.
    Settings loaded = loadFrom(ini.serialize());

    EXPECT_EQ(loaded.dir, "/srv/検索");  // from the history, not from "Dir"
    EXPECT_EQ(loaded.dirList, saved.dirList);
    EXPECT_EQ(loaded.keywords, saved.keywords);
    EXPECT_EQ(loaded.editor, saved.editor);
    EXPECT_EQ(loaded.subFolder, saved.subFolder);
    EXPECT_EQ(loaded.fileNameOnly, saved.fileNameOnly);
    EXPECT_EQ(loaded.strict, saved.strict);
    EXPECT_EQ(loaded.regular, saved.regular);
    EXPECT_EQ(loaded.statusBar, saved.statusBar);
    EXPECT_EQ(loaded.topMost, saved.topMost);
    EXPECT_EQ(loaded.fixed, saved.fixed);
    EXPECT_EQ(loaded.lastX, 1234.5f);
    EXPECT_EQ(loaded.lastY, -60.0f);
    EXPECT_EQ(loaded.fileTypes.targetFileType, saved.fileTypes.targetFileType);
    EXPECT_EQ(loaded.textTags, saved.textTags);
    EXPECT_EQ(loaded.pdfOwnEngine, saved.pdfOwnEngine);
    EXPECT_EQ(loaded.pdfFilterPath, saved.pdfFilterPath);
    EXPECT_EQ(loaded.pdfFilterPause, saved.pdfFilterPause);
    EXPECT_EQ(loaded.noJump, saved.noJump);
    EXPECT_EQ(loaded.wordFast, saved.wordFast);
}

TEST(SaveConfigTest, DefaultsSurviveSaveAndLoad) {
    Settings saved = loadFrom("");
    IniFile ini;
    saveConfigFile(saved, 0.0f, 0.0f, ini);
    Settings loaded = loadFrom(ini.serialize(), everythingChanged());
    EXPECT_EQ(loaded.editor, "xdg-open %1");
    EXPECT_TRUE(loaded.subFolder);
    EXPECT_FALSE(loaded.fileNameOnly);
    EXPECT_FALSE(loaded.strict);
    EXPECT_FALSE(loaded.regular);
    EXPECT_TRUE(loaded.statusBar);
    EXPECT_FALSE(loaded.topMost);
    EXPECT_TRUE(loaded.fixed);
    EXPECT_FALSE(loaded.lastX.has_value());
    EXPECT_EQ(loaded.fileTypes.targetFileType, saved.fileTypes.targetFileType);
    EXPECT_FALSE(loaded.pdfOwnEngine);
    EXPECT_FALSE(loaded.noJump);
    EXPECT_FALSE(loaded.wordFast);
}

TEST(SaveConfigTest, WritesTheValueTextsOfTheFile) {
    Settings s = everythingChanged();
    s.fixed = true;  // the position is written all the same
    IniFile ini;
    saveConfigFile(s, 1234.5f, 0.1f, ini);
    struct Expected {
        const char* section;
        const char* key;
        const char* value;
    };
    const Expected expected[] = {
        {"Search", "Dir", "/srv/検索/"},
        {"Search", "Dir0", "/srv/検索"},
        {"Search", "Dir2", "/home/c with blank"},
        {"Search", "keyword0", "&& foo bar"},
        {"Search", "keyword2", "x"},
        {"Other", "Editor", "\"/opt/my editor/ed\" +%2:%3 \"%1\""},
        {"Search", "SubFolder", "0"},
        {"Search", "FileNameOnly", "1"},
        {"Search", "Strict", "1"},
        {"Search", "Regular", "1"},
        {"Form", "StatusBar", "0"},
        {"Form", "TopMost", "1"},
        {"Form", "Fixed", "1"},
        {"Form", "lastX", "1234.5"},
        {"Form", "lastY", "0.1"},
        {"Search", "targetFileType0", "False"},
        {"Search", "targetFileType13", "True"},
        {"Search", "targetFileType20", "True"},
        {"Search", "textTags", "TXT;CSV"},
        {"Search", "pdfOwnEngine", "1"},
        {"Search", "pdfFilterPath", "pdftotext -layout %1"},
        {"Office", "NoJump", "True"},
        {"Office", "WordFast", "True"},
    };
    for (const Expected& e : expected) {
        EXPECT_EQ(ini.get(e.section, e.key), std::optional<std::string>(e.value)) << e.key;
    }
    // Empty history slots are not written.
    EXPECT_EQ(ini.get("Search", "Dir3"), std::nullopt);
    EXPECT_EQ(ini.get("Search", "keyword3"), std::nullopt);
}

TEST(SaveConfigTest, KeysAreNeverDeleted) {
    Settings s;
    for (int i = 0; i < 10; ++i)
        s.keywords.push_back("word" + std::to_string(i));
    s.dirList[0] = "/a";
    s.dirList[1] = "/b";
    s.dirList[2] = "/c";
    IniFile ini;
    saveConfigFile(s, 0.0f, 0.0f, ini);

    s.keywords = {"new0", "new1", "new2", "new3", "new4", "new5"};
    s.dirList.fill({});
    s.dirList[0] = "/z";
    saveConfigFile(s, 0.0f, 0.0f, ini);

    Settings loaded = loadFrom(ini.serialize());
    EXPECT_EQ(loaded.keywords,
              (std::vector<std::string>{"new0", "new1", "new2", "new3", "new4", "new5", "word6",
                                        "word7", "word8", "word9"}));
    EXPECT_EQ(nonEmpty(loaded.dirList), (std::vector<std::string>{"/z", "/b", "/c"}));
}

TEST(SaveConfigTest, KeepsWhatElseTheFileHolds) {
    IniFile ini = IniFile::parse("; my notes\r\n[Search]\r\nUnknown=kept\r\n[Mine]\r\na=b\r\n");
    saveConfigFile(Settings{}, 0.0f, 0.0f, ini);
    EXPECT_EQ(ini.get("Search", "Unknown"), "kept");
    EXPECT_EQ(ini.get("Mine", "a"), "b");
    EXPECT_NE(ini.serialize().find("; my notes\r\n"), std::string::npos);
}

TEST(FolderHistoryTest, AddsToTheFrontWithoutDuplicates) {
    struct Case {
        std::vector<std::string> before;
        const char* folder;
        std::vector<std::string> after;
    };
    const std::vector<std::string> eleven = {"/1", "/2", "/3", "/4",  "/5", "/6",
                                             "/7", "/8", "/9", "/10", "/11"};
    const Case cases[] = {
        {{}, "/a", {"/a"}},
        {{"/a", "/b", "/c"}, "/b", {"/b", "/a", "/c"}},
        {{"/a", "/b", "/c"}, "/a", {"/a", "/b", "/c"}},
        {{"/a", "/b", "/c"}, "/d", {"/d", "/a", "/b", "/c"}},
        {{"/a", "/b"}, "/A", {"/A", "/a", "/b"}},  // case-sensitive
        {{"/a", "/b"}, "/a/", {"/a/", "/a", "/b"}},
        {eleven, "/new", {"/new", "/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10"}},
        {eleven, "/11", {"/11", "/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10"}},
        {{"/a", "", "/c"}, "/d", {"/d", "/a", "/c"}},
    };
    for (const Case& c : cases) {
        Settings s;
        for (std::size_t i = 0; i < c.before.size(); ++i)
            s.dirList[i] = c.before[i];
        s.dir = "/old";
        addFolderHistory(s, c.folder);
        std::vector<std::string> expected = c.after;
        expected.resize(folderHistorySize);
        EXPECT_EQ(std::vector<std::string>(s.dirList.begin(), s.dirList.end()), expected)
            << "adding " << c.folder;
        EXPECT_EQ(s.dir, c.folder);
    }
}

TEST(NumberReadingTest, LeadingNumber) {
    struct Case {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"12abc", 12.0},
        {"  -3.5x", -3.5},
        {"abc", 0.0},
        {"", 0.0},
        {".", 0.0},
        {"-", 0.0},
        {".5", 0.5},
        {"1 2", 12.0},
        {"1e3", 1000.0},
        {"1D2", 100.0},
        {"1e", 1.0},
        {"1e+x", 1.0},
        {"32767.4", 32767.4},
        {"32767.5", std::nullopt},
        {"-32768.5", -32768.5},
        {"-32769", std::nullopt},
        {"1e400", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(leadingNumber(c.text), c.value) << "'" << c.text << "'";
    }
}

TEST(NumberReadingTest, SingleToTextIsShortestAndReadsBack) {
    const float values[] = {0.0f, 1234.5f, -60.0f, 0.1f, 15.0f, 14400.0f, 1.0f / 3.0f};
    for (float v : values) {
        std::string text = singleToText(v);
        EXPECT_EQ(static_cast<float>(std::stod(text)), v) << text;
    }
    EXPECT_EQ(singleToText(1234.5f), "1234.5");
    EXPECT_EQ(singleToText(0.1f), "0.1");
    EXPECT_EQ(singleToText(-60.0f), "-60");
}

}  // namespace
}  // namespace ferretta::app
