#include "app/settings.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/cp932.h"
#include "platform/ini_file.h"
#include "support/temp_tree.h"

namespace ferretta::app {
namespace {

namespace fs = std::filesystem;
using platform::IniFile;
using Strings = std::vector<std::string>;

Settings loadFrom(std::string_view iniText, Settings start = {}) {
    loadConfigFile(IniFile::parse(iniText), start);
    return start;
}

Strings nonEmpty(const std::array<std::string, folderHistorySize>& list) {
    Strings out;
    for (const auto& entry : list) {
        if (!entry.empty())
            out.push_back(entry);
    }
    return out;
}

// Every setting the file holds, for comparing whole structures.
auto fields(const Settings& s) {
    return std::tie(s.dir, s.dirList, s.keywords, s.editor, s.subFolder, s.fileNameOnly, s.strict,
                    s.regular, s.statusBar, s.preview, s.topMost, s.fixed, s.lastX, s.lastY,
                    s.fileTypes.targetFileType, s.textTags, s.pdfOwnEngine, s.pdfFilterPath,
                    s.pdfFilterPause, s.noJump, s.wordFast, s.documentTimeLimit, s.workers,
                    s.hiddenFiles, s.binaryFiles, s.officeNative, s.normalWidth, s.normalHeight,
                    s.saveFolder);
}

// A settings structure in which every value differs from its default.
Settings everythingChanged() {
    Settings s;
    s.dir = "/srv/検索/";
    s.dirList = {"/srv/検索", "/home/b", "/home/c with blank"};
    s.keywords = {"&& foo bar", "日本語", "x"};
    s.editor = "\"/opt/my editor/ed\" +%2:%3 \"%1\"";
    s.subFolder = s.statusBar = s.preview = false;
    s.fileNameOnly = s.strict = s.regular = s.topMost = s.pdfOwnEngine = true;
    s.fixed = false;
    s.fileTypes.targetFileType.fill(false);
    for (int n : {1, 2, 3, 13, 16, 20})
        s.fileTypes.targetFileType[n] = true;
    s.textTags = "TXT;CSV";
    s.pdfFilterPath = "pdftotext -layout %1";
    s.pdfFilterPause = " -- ";
    s.noJump = s.wordFast = true;
    s.documentTimeLimit = 5;
    s.workers = 3;
    s.hiddenFiles = s.binaryFiles = true;
    s.officeNative = false;
    s.normalWidth = 15360;
    s.normalHeight = 7200;
    s.saveFolder = "/home/b/結果";
    return s;
}

// An empty document resets every setting, whatever the structure held before.
TEST(LoadConfigTest, EmptyDocumentGivesTheDefaults) {
    const Settings s = loadFrom("", everythingChanged());
    EXPECT_EQ(std::tie(s.dir, s.editor, s.textTags, s.pdfFilterPath, s.pdfFilterPause),
              std::make_tuple("", "xdg-open %1", "", "", ""));
    EXPECT_EQ(nonEmpty(s.dirList), Strings{});
    EXPECT_TRUE(s.keywords.empty());
    EXPECT_EQ(std::make_tuple(s.subFolder, s.fileNameOnly, s.strict, s.regular, s.statusBar,
                              s.topMost, s.fixed, s.pdfOwnEngine, s.noJump, s.wordFast),
              std::make_tuple(true, false, false, false, true, false, true, false, false, false));
    EXPECT_FALSE(s.lastX.has_value() || s.lastY.has_value());
    EXPECT_FALSE(s.hiddenFiles || s.binaryFiles);
    EXPECT_EQ(s.documentTimeLimit, 60);
    for (const auto& [text, seconds] : {std::pair{"90", 90}, {"-5", 0}, {"x", 60}, {"1e9", 86400}})
        EXPECT_EQ(loadFrom("[Office]\r\nDocumentTimeLimit=" + std::string(text)).documentTimeLimit,
                  seconds)
            << text;
    EXPECT_EQ(s.workers, 0);  // one per core; then what a hand-edited key may hold
    const std::pair<const char*, int> workers[] = {{"4", 4}, {"-2", 0}, {"abc", 0}, {"100", 64}};
    for (const auto& [text, count] : workers)
        EXPECT_EQ(loadFrom(std::string("[Search]\r\nWorkers=") + text).workers, count) << text;
    // The start-up table has text files on; an absent key switches each type off.
    EXPECT_EQ(s.fileTypes.targetFileType, decltype(s.fileTypes.targetFileType){});
    EXPECT_EQ(s.fileTypes.fileTypeName[slotOf(FileType::Pdf)], "Adobe PDF");
}

struct FlagGroup {
    std::optional<bool> expected;  // nullopt: as if the key were absent
    std::vector<std::string> values;
};

// Reads each value of each group through the key; get gives the flag (a member or a lambda).
template <typename Get>
void expectFlag(const char* section, const std::string& key, Get get, bool absent,
                const std::vector<FlagGroup>& groups) {
    for (bool before : {false, true}) {  // so that an untouched flag would show
        Settings start;
        std::invoke(get, start) = before;
        Settings s = loadFrom("", start);
        EXPECT_EQ(std::invoke(get, s), absent) << key << " absent";
        for (const FlagGroup& group : groups) {
            for (const std::string& value : group.values) {
                s = loadFrom("[" + std::string(section) + "]\r\n" + key + "=" + value + "\r\n",
                             start);
                EXPECT_EQ(std::invoke(get, s), group.expected.value_or(absent))
                    << key << "=" << value;
            }
        }
    }
}

// SubFolder, FileNameOnly, Strict, StatusBar, Preview and NativeReaders read the leading number
// rounded half to even. Blanks around a value are the INI reader's to drop; a quoted blank
// reaches the number reader, which skips it. Beyond 16 bits a value counts as absent.
TEST(LoadConfigTest, RoundingFlags) {
    const std::vector<FlagGroup> groups = {
        {true, {"1", "1.2", "0.6", "1.49", " 1", "\" 1\"", "1abc", "1 x", "+1", "1e0"}},
        {false, {"0", "0.5", "1.5", "2", "-1", "abc", "", "true", "True", "32767"}},
        {std::nullopt, {"32768", "-32769", "1e9", "99999999999999999999999"}}};
    expectFlag("Search", "SubFolder", &Settings::subFolder, true, groups);
    expectFlag("Search", "FileNameOnly", &Settings::fileNameOnly, false, groups);
    expectFlag("Search", "Strict", &Settings::strict, false, groups);
    expectFlag("Form", "StatusBar", &Settings::statusBar, true, groups);
    expectFlag("Form", "Preview", &Settings::preview, true, groups);
    expectFlag("Office", "NativeReaders", &Settings::officeNative, true, groups);
}

// Regular, TopMost and pdfOwnEngine are on only for exactly "1", Fixed off only for exactly "0",
// NoJump, WordFast and the file types on only for exactly "True".
TEST(LoadConfigTest, ExactTextFlags) {
    const std::vector<FlagGroup> exactOne = {
        {true, {"1", " 1 ", "\"1\""}},
        {false, {"\" 1\"", "1.0", "01", "2", "True", "", "0", "1.2"}}};
    expectFlag("Search", "Regular", &Settings::regular, false, exactOne);
    expectFlag("Form", "TopMost", &Settings::topMost, false, exactOne);
    expectFlag("Search", "pdfOwnEngine", &Settings::pdfOwnEngine, false, exactOne);
    expectFlag("Form", "Fixed", &Settings::fixed, true,
               {{false, {"0"}}, {true, {"x", "1", "00", "0.0", "-0", ""}}});

    const std::vector<FlagGroup> exactTrue = {
        {true, {"True", "\"True\""}},
        {false, {"true", "TRUE", "1", "", "\"True \"", "Truex", "False"}}};
    expectFlag("Office", "NoJump", &Settings::noJump, false, exactTrue);
    expectFlag("Office", "WordFast", &Settings::wordFast, false, exactTrue);
    for (int n : {0, 1, 13, 20}) {
        auto type = [n](Settings& s) -> bool& { return s.fileTypes.targetFileType[n]; };
        expectFlag("Search", "targetFileType" + std::to_string(n), type, false, exactTrue);
    }
    // Every slot has its own key, without padding or keys beyond the last slot.
    std::string text = "[Search]\r\ntargetFileType21=True\r\ntargetFileType01=False\r\n";
    for (int n = 0; n < fileTypeSlots; n += 3)
        text += "targetFileType" + std::to_string(n) + "=True\r\n";
    Settings s = loadFrom(text);
    for (int n = 0; n < fileTypeSlots; ++n)
        EXPECT_EQ(s.fileTypes.targetFileType[n], n % 3 == 0) << "slot " << n;
}

// The position is read only when the window is not fixed; the normal window's size, a positive
// number, whether it is or not.
TEST(LoadConfigTest, WindowPositionIsReadOnlyWhenNotFixedAndTheSizeWhenPositive) {
    struct Case {
        const char* text;
        std::optional<float> x;
        std::optional<float> y;
        const char* width;
        std::optional<int> normalWidth;
    };
    const Case cases[] = {
        {"Fixed=0\r\nlastX=120\r\nlastY=240", 120.0f, 240.0f, "0", std::nullopt},
        {"Fixed=0", 0.0f, 0.0f, "-300", std::nullopt},
        {"Fixed=0\r\nlastX=abc\r\nlastY=12abc", 0.0f, 12.0f, "abc", std::nullopt},
        {"Fixed=0\r\nlastX=12.5\r\nlastY=-1500", 12.5f, -1500.0f, "", std::nullopt},
        // The 16-bit limit is for the numeric flags only: a window saved right of about 2184
        // pixels (32767 twips: a second monitor, a 4K screen) must come back where it was.
        {"Fixed=0\r\nlastX=40000\r\nlastY=-33000", 40000.0f, -33000.0f, "1e9", std::nullopt},
        {"Fixed=1\r\nlastX=120\r\nlastY=240", std::nullopt, std::nullopt, "9600", 9600},
        {"lastX=120\r\nlastY=240", std::nullopt, std::nullopt, "9600.4", 9600},
    };
    for (const Case& c : cases) {
        Settings start;
        start.lastX = start.lastY = 7.0f;  // a value left from before must not survive
        Settings s = loadFrom(
            std::string("[Form]\r\n") + c.text + "\r\nNormalWidth=" + c.width + "\r\n", start);
        EXPECT_EQ(s.lastX, c.x) << c.text;
        EXPECT_EQ(s.lastY, c.y) << c.text;
        EXPECT_EQ(s.normalWidth, c.normalWidth) << c.width;
    }
}

TEST(LoadConfigTest, FolderHistoryIsPackedInKeyOrder) {
    struct Case {
        const char* text;
        Strings history;
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

TEST(LoadConfigTest, KeywordsAndTexts) {
    Settings start;
    start.keywords = {"stale"};
    start.editor = "gedit %1";
    const std::string japanese = "C:/ユーザー/エディタ %1";
    Settings s = loadFrom(
        "[Search]\r\nkeyword5=five\r\nkeyword0=zero\r\nkeyword1=\r\nkeyword100=hundred\r\n"
        "keyword101=beyond\r\nkeyword07=padded\r\ntextTags=TXT;CSV;LOG\r\n"
        "pdfFilterPath=pdftotext %1\r\npdfFilterPause=----\r\n[Other]\r\nEditor=" +
            platform::utf8ToCp932(japanese) + "\r\n",
        start);
    EXPECT_EQ(s.keywords, (Strings{"zero", "five", "hundred"}));
    EXPECT_EQ(std::tie(s.editor, s.textTags, s.pdfFilterPath, s.pdfFilterPause),
              std::make_tuple(japanese, "TXT;CSV;LOG", "pdftotext %1", "----"));
    // An empty editor leaves the editor as it was; an absent one gives the default.
    EXPECT_EQ(loadFrom("[Other]\r\nEditor=\r\n", start).editor, "gedit %1");
    EXPECT_EQ(loadFrom("", start).editor, "xdg-open %1");
}

// A first start copies the shipped defaults with the home as the search folder, through the
// file's CP932; an existing file (even an empty one) or a missing shipped one changes nothing.
TEST(LoadConfigTest, ANewUserStartsFromTheShippedFile) {
    const fs::path shipped = fs::path(FERRETTA_SOURCE_DIR) / "resources" / defaultSettingsFileName;
    const test::TempTree folder;
    const fs::path file = folder.root() / settingsFileName;

    ASSERT_TRUE(installDefaultSettings(file, shipped, "/home/山田"));
    const Settings s = loadSettingsFrom(file);
    auto types = decltype(s.fileTypes.targetFileType){};
    for (int n : {1, 2, 3, 13, 16})
        types[n] = true;
    EXPECT_EQ(s.fileTypes.targetFileType, types);
    EXPECT_EQ(std::tie(s.textTags, s.dir, s.pdfOwnEngine, s.subFolder),
              std::make_tuple("TXT;CSV;LOG;MD", "/home/山田", true, true));
    std::ofstream(file, std::ios::trunc) << "[Search]\r\n";
    EXPECT_TRUE(installDefaultSettings(file, shipped, "/home/other"));
    EXPECT_EQ(fields(loadSettingsFrom(file)), fields(loadFrom("")));
    fs::remove(file);
    EXPECT_TRUE(installDefaultSettings(file, folder.root() / "missing.ini", "/home/u"));
    EXPECT_EQ(fields(loadSettingsFrom(file)), fields(loadFrom("")));  // nothing written
    EXPECT_FALSE(
        installDefaultSettings(folder.root() / "no-such-folder" / "frtta.ini", shipped, "/h"));
}

TEST(SaveConfigTest, EverySettingSurvivesSaveAndLoad) {
    Settings saved = everythingChanged();
    IniFile ini;
    saveConfigFile(saved, 1234.5f, -60.0f, ini);
    // Through the bytes, as the file would be written and read at the next start.
    Settings loaded = loadFrom(ini.serialize());
    saved.dir = "/srv/検索";  // from the history, not from "Dir"
    saved.lastX = 1234.5f;
    saved.lastY = -60.0f;
    EXPECT_EQ(fields(loaded), fields(saved));
}

TEST(SaveConfigTest, KeysAreNeverDeletedAndOtherTextIsKept) {
    IniFile ini = IniFile::parse("; my notes\r\n[Search]\r\nUnknown=kept\r\n[Mine]\r\na=b\r\n");
    Settings s;
    for (int i = 0; i < 10; ++i)
        s.keywords.push_back("word" + std::to_string(i));
    s.dirList = {"/a", "/b", "/c"};
    saveConfigFile(s, 0.0f, 0.0f, ini);
    s.keywords = {"new0", "new1", "new2", "new3", "new4", "new5"};
    s.dirList = {"/z"};
    saveConfigFile(s, 0.0f, 0.0f, ini);

    Settings loaded = loadFrom(ini.serialize());
    EXPECT_EQ(loaded.keywords, (Strings{"new0", "new1", "new2", "new3", "new4", "new5", "word6",
                                        "word7", "word8", "word9"}));
    EXPECT_EQ(nonEmpty(loaded.dirList), (Strings{"/z", "/b", "/c"}));
    EXPECT_EQ(ini.get("Search", "Unknown"), "kept");
    EXPECT_EQ(ini.get("Mine", "a"), "b");
    EXPECT_NE(ini.serialize().find("; my notes\r\n"), std::string::npos);
}

// What a save keeps of the file and when it leaves it alone are the INI file's tests; here the
// words the user is told.
TEST(SaveConfigTest, AFileThatCannotBeWrittenIsNamedWithTheReason) {
    const test::TempTree folder;
    const fs::path file = folder.root() / "frtta.ini";
    std::ofstream(file, std::ios::binary) << "[Search]\r\n";
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(saveSettingsFile(everythingChanged(), 0.0f, 0.0f, file),
              "設定を保存できませんでした\r" + file.string() + "\rファイルが読み取り専用です");
}

TEST(FolderHistoryTest, AddsToTheFrontWithoutDuplicates) {
    struct Case {
        Strings before;
        const char* folder;
        Strings after;
    };
    const Strings eleven = {"/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10", "/11"};
    const Strings tenAfter = {"/1", "/2", "/3", "/4", "/5", "/6", "/7", "/8", "/9", "/10"};
    auto front = [](const char* first, Strings rest) {
        rest.insert(rest.begin(), first);
        return rest;
    };
    const Case cases[] = {
        {{}, "/a", {"/a"}},
        {{"/a", "/b", "/c"}, "/b", {"/b", "/a", "/c"}},
        {{"/a", "/b"}, "/A", {"/A", "/a", "/b"}},  // case-sensitive
        {eleven, "/new", front("/new", tenAfter)},
        {eleven, "/11", front("/11", tenAfter)},
        {{"/a", "", "/c"}, "/d", {"/d", "/a", "/c"}},
    };
    for (const Case& c : cases) {
        Settings s;
        std::copy(c.before.begin(), c.before.end(), s.dirList.begin());
        s.dir = "/old";
        addFolderHistory(s, c.folder);
        Strings expected = c.after;
        expected.resize(folderHistorySize);
        EXPECT_EQ(Strings(s.dirList.begin(), s.dirList.end()), expected) << "adding " << c.folder;
        EXPECT_EQ(s.dir, c.folder);
    }
}

TEST(NumberReadingTest, LeadingNumberAndSingleToText) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {{"12abc", 12.0}, {"  -3.5x", -3.5},    {"abc", 0.0},
                          {"", 0.0},       {".5", 0.5},          {"1 2", 12.0},
                          {"1e3", 1000.0}, {"1D2", 100.0},       {"1e", 1.0},
                          {"1e+x", 1.0},   {"32767.4", 32767.4}, {"-32768.5", -32768.5}};
    for (const Case& c : cases)
        EXPECT_EQ(leadingNumber(c.text), c.value) << "'" << c.text << "'";
    for (const char* beyond16Bits : {"32767.5", "-32769", "1e400"})
        EXPECT_EQ(leadingNumber(beyond16Bits), std::nullopt) << beyond16Bits;

    for (float v : {0.0f, 1234.5f, -60.0f, 0.1f, 15.0f, 14400.0f, 1.0f / 3.0f}) {
        std::string text = singleToText(v);
        EXPECT_EQ(static_cast<float>(std::stod(text)), v) << text;
    }
    EXPECT_EQ(singleToText(-60.0f), "-60");
}

}  // namespace
}  // namespace ferretta::app
