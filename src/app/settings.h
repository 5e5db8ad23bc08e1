#pragma once
// The user's settings: read once at start-up from frtta.ini, written once at shutdown. In
// between the program works on this structure only.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_types.h"
#include "platform/ini_file.h"

namespace ferretta::app {

inline constexpr std::string_view settingsFileName = "frtta.ini";
// The settings a new user starts from, shipped with the program's data files.
inline constexpr std::string_view defaultSettingsFileName = "frtta-default.ini";
// Linux has no notepad; the desktop's default handler opens a text file in the user's editor.
inline constexpr std::string_view defaultEditor = "xdg-open %1";
inline constexpr int folderHistorySize = 11;
inline constexpr int keywordHistoryKeys = 101;
inline constexpr int defaultDocumentTimeLimit = 60;
inline constexpr int maxDocumentTimeLimit = 24 * 60 * 60;
// The keys of the section "Outlook": where the items of the types 4..8 (tasks, inbox, calendar,
// contacts, notes) are read from.
inline constexpr std::array<std::string_view, 5> outlookPlaceKeys = {"Tasks", "Inbox", "Calendar",
                                                                     "Contacts", "Notes"};

struct Settings {
    std::string dir;                                     // "Dir": current search folder
    std::array<std::string, folderHistorySize> dirList;  // "Dir0".."Dir10", most recent first
    std::vector<std::string> keywords;                   // "keyword0".."keyword100"
    std::string editor;                                  // "Editor": editor command template
    bool subFolder = true;
    bool fileNameOnly = false;
    bool strict = false;
    bool regular = false;
    bool statusBar = true;
    bool preview = true;  // "Preview" (section Form): the preview pane below the results
    bool topMost = false;
    bool fixed = true;
    // The window's Left and Top in twips; read only when the window is not pinned.
    std::optional<float> lastX;
    std::optional<float> lastY;
    // "NormalWidth", "NormalHeight" (section "Form"): the size the user gave the normal window,
    // frame included, in twips; unset until they resize it.
    std::optional<int> normalWidth;
    std::optional<int> normalHeight;
    // "SaveFolder" (section "Other"): the folder the results were last saved in.
    std::string saveFolder;
    FileTypeTable fileTypes = initialFileTypeTable();  // "targetFileType0".."20"
    std::string textTags = "TXT";
    bool pdfOwnEngine = false;
    std::string pdfFilterPath;
    std::string pdfFilterPause;
    bool noJump = false;
    bool wordFast = false;
    // "DocumentTimeLimit" (section "Office"): seconds one Word, Excel or PowerPoint document may
    // take before its office is ended and the document fails; 0: none beyond a minute a call.
    int documentTimeLimit = defaultDocumentTimeLimit;
    // "NativeReaders" (section "Office"): Open XML and OpenDocument files are read without the
    // office, which reads only what they cannot; "0" has the office read every Office document
    // (to compare the two). On unless the settings file says "0".
    bool officeNative = true;
    // "[Outlook]": a file or folder path per type 4..8 (index type - 4); empty for the
    // desktop's own store.
    std::array<std::string, 5> outlookPlaces;
    // "Workers": threads that read and search files ahead of the search; 0 (or absent): one per
    // core, 1: none, the search on one thread alone.
    int workers = 0;
    // "AllFiles" (both): a walk includes hidden entries and the program's own folders, and the
    // text search reads files that are no text (a NUL among the first bytes). ferretta-cli's
    // --hidden and --binary switch one each for a search.
    bool hiddenFiles = false;
    bool binaryFiles = false;
    // "TextCache": keep what the PDF and Office searchers read in the document cache and
    // search it there again while the document is unchanged. On unless the settings file says
    // "0" (loadConfigFile reads an absent key as on); off in a structure made without it.
    bool textCache = false;
    // Not a key of the file: set for one search (ferretta-cli --no-cache). Nothing is answered
    // from the document cache, and what the search reads replaces what the cache holds for the
    // same documents.
    bool textCacheRefreshOnly = false;
};

// Reads every setting from the document into `settings`, which holds the start-up values
// (initialFileTypeTable, "TXT"). Absent keys give the defaults of the settings table: the
// file-type switches all off and textTags empty, SubFolder and StatusBar on, Fixed on. A value
// that cannot be read as a number counts as absent. Never fails.
void loadConfigFile(const platform::IniFile& ini, Settings& settings);

// Writes every setting into the document; keys are overwritten, never deleted, so a key not
// written now (an emptied history slot) keeps its old value. An empty item place is written
// only over a key that exists, so that the section appears only for a user who set one.
// windowLeft/windowTop are the window's current position in twips.
void saveConfigFile(const Settings& settings, float windowLeft, float windowTop,
                    platform::IniFile& ini);

// Writes the settings into the settings file at `path` with the window at (windowLeft,
// windowTop) in twips. The file is read again first, so that whatever else it holds stays as it
// is, byte for byte. Answers nullopt when the file holds the settings now; otherwise the message
// for the user: "設定を保存できませんでした", CR, the path, CR, why (the file is read-only, it
// could not be read whole, the write failed); the file is then as it was.
std::optional<std::string> saveSettingsFile(const Settings& settings, float windowLeft,
                                            float windowTop, const std::filesystem::path& path);

// Whether a settings document says anything to this program: it has one of the sections the
// settings are kept in. An empty file, or one that is something else entirely, does not; read
// as settings it would switch every file type off without a word.
bool holdsSettings(const platform::IniFile& ini);

// Reads frtta.ini from the folder (a missing file gives the defaults).
Settings loadSettingsFrom(const std::filesystem::path& iniPath);

// The shipped defaults (`shippedFile`, read by the rules of any settings file) with the
// search folder set to `home` when they name none. An empty document when the file cannot be
// read: the settings then start as from no file at all.
platform::IniFile defaultSettingsDocument(const std::filesystem::path& shippedFile,
                                          std::string_view home);

// A first start: when nothing is at `settingsFile`, the shipped defaults are written there, so
// that the window and ferretta-cli start from the same values and the window saves over them.
// Anything already there (even a file that cannot be read) is left alone. False when the copy
// was due but could not be written.
bool installDefaultSettings(const std::filesystem::path& settingsFile,
                            const std::filesystem::path& shippedFile, std::string_view home);

// Makes the folder the current search folder and the most recent history entry; a folder
// already in the history moves to the front; at most 11 entries are kept.
void addFolderHistory(Settings& settings, std::string_view folder);

// Reads a setting's numeric text the way the settings file has always been read: the leading
// numeric part, blanks ignored; 0 when there is none. nullopt when it is not a finite number,
// or, with `sixteenBit`, when it does not fit a 16-bit integer after rounding (the flags are
// 16-bit; window positions are not).
std::optional<double> leadingNumber(std::string_view text, bool sixteenBit = true);

// "rounds to 1": the leading number rounded half to even equals 1.
std::optional<bool> roundsToOne(std::string_view text);

// The shortest decimal text that reads back as the same single-precision number.
std::string singleToText(float value);

}  // namespace ferretta::app
