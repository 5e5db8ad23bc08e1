#include "app/settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace ferretta::app {
namespace {

constexpr std::string_view kSearch = "Search";
constexpr std::string_view kOther = "Other";
constexpr std::string_view kForm = "Form";
constexpr std::string_view kOffice = "Office";
constexpr std::string_view kOutlook = "Outlook";

std::string numberedKey(std::string_view stem, int n) {
    return std::string(stem) + std::to_string(n);
}

std::string readString(const platform::IniFile& ini, std::string_view section, std::string_view key,
                       std::string_view fallback = {}) {
    auto value = ini.get(section, key);
    return value ? *value : std::string(fallback);
}

bool readTextFlag(const platform::IniFile& ini, std::string_view section, std::string_view key) {
    return readString(ini, section, key) == "True";
}

bool readRoundsToOne(const platform::IniFile& ini, std::string_view section, std::string_view key,
                     std::string_view fallback) {
    auto flag = roundsToOne(readString(ini, section, key, fallback));
    if (!flag)
        flag = roundsToOne(fallback);  // unreadable number: as if the key were absent
    return flag.value_or(false);
}

std::optional<float> readPosition(const platform::IniFile& ini, std::string_view key) {
    auto number = leadingNumber(readString(ini, kForm, key), false);
    return static_cast<float>(number.value_or(0.0));
}

// A window size in twips: a positive whole number below a screen of some 100,000 pixels;
// anything else counts as absent.
std::optional<int> readSize(const platform::IniFile& ini, std::string_view key) {
    const auto value = ini.get(kForm, key);
    if (!value || value->find_first_of("0123456789") == std::string::npos)
        return std::nullopt;
    const auto number = leadingNumber(*value, false);
    if (!number || *number < 1 || *number > 1.5e6)
        return std::nullopt;
    return static_cast<int>(std::nearbyint(*number));
}

const char* numericFlag(bool flag) {
    return flag ? "1" : "0";
}
const char* textFlag(bool flag) {
    return flag ? "True" : "False";
}

}  // namespace

std::optional<double> leadingNumber(std::string_view text, bool sixteenBit) {
    std::string compact;
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            compact += c;
    }
    std::size_t i = 0;
    std::string number;
    if (i < compact.size() && (compact[i] == '+' || compact[i] == '-'))
        number += compact[i++];
    bool digits = false;
    while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9') {
        number += compact[i++];
        digits = true;
    }
    if (i < compact.size() && compact[i] == '.') {
        number += compact[i++];
        while (i < compact.size() && compact[i] >= '0' && compact[i] <= '9') {
            number += compact[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    if (i < compact.size() &&
        (compact[i] == 'e' || compact[i] == 'E' || compact[i] == 'd' || compact[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < compact.size() && (compact[j] == '+' || compact[j] == '-'))
            exponent += compact[j++];
        bool expDigits = false;
        while (j < compact.size() && compact[j] >= '0' && compact[j] <= '9') {
            exponent += compact[j++];
            expDigits = true;
        }
        if (expDigits)
            number += exponent;
    }
    double value = 0.0;
    const char* first = number.data();
    if (*first == '+')
        ++first;
    auto [ptr, ec] = std::from_chars(first, number.data() + number.size(), value);
    if (ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    double rounded = std::nearbyint(value);  // the default rounding mode: halves to even
    if (sixteenBit && (rounded < -32768.0 || rounded > 32767.0))
        return std::nullopt;
    return value;
}

std::optional<bool> roundsToOne(std::string_view text) {
    auto number = leadingNumber(text);
    if (!number)
        return std::nullopt;
    return std::nearbyint(*number) == 1.0;
}

std::string singleToText(float value) {
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc())
        return "0";
    return std::string(buffer, ptr);
}

void loadConfigFile(const platform::IniFile& ini, Settings& s) {
    // Only non-empty history entries count, packed to the front in key order.
    int next = 0;
    s.dirList.fill({});
    for (int n = 0; n < folderHistorySize; ++n) {
        std::string value = readString(ini, kSearch, numberedKey("Dir", n));
        if (!value.empty())
            s.dirList[next++] = value;
    }
    s.dir = s.dirList[0];

    std::string editor = readString(ini, kOther, "Editor", defaultEditor);
    if (!editor.empty())
        s.editor = editor;

    s.keywords.clear();
    for (int n = 0; n < keywordHistoryKeys; ++n) {
        std::string value = readString(ini, kSearch, numberedKey("keyword", n));
        if (!value.empty())
            s.keywords.push_back(value);
    }

    s.subFolder = readRoundsToOne(ini, kSearch, "SubFolder", "1");
    s.fileNameOnly = readRoundsToOne(ini, kSearch, "FileNameOnly", "0");
    s.strict = readRoundsToOne(ini, kSearch, "Strict", "0");
    s.regular = readString(ini, kSearch, "Regular") == "1";

    s.statusBar = readRoundsToOne(ini, kForm, "StatusBar", "1");
    s.preview = readRoundsToOne(ini, kForm, "Preview", "1");
    s.topMost = readString(ini, kForm, "TopMost") == "1";
    s.fixed = readString(ini, kForm, "Fixed") != "0";

    if (s.fixed) {
        s.lastX.reset();
        s.lastY.reset();
    } else {
        s.lastY = readPosition(ini, "lastY");
        s.lastX = readPosition(ini, "lastX");
    }

    s.normalWidth = readSize(ini, "NormalWidth");
    s.normalHeight = readSize(ini, "NormalHeight");
    s.saveFolder = readString(ini, kOther, "SaveFolder");

    for (int n = 0; n < fileTypeSlots; ++n) {
        s.fileTypes.targetFileType[n] =
            readTextFlag(ini, kSearch, numberedKey("targetFileType", n));
    }

    s.textTags = readString(ini, kSearch, "textTags");
    s.pdfOwnEngine = readString(ini, kSearch, "pdfOwnEngine") == "1";
    s.pdfFilterPath = readString(ini, kSearch, "pdfFilterPath");
    s.pdfFilterPause = readString(ini, kSearch, "pdfFilterPause");
    s.noJump = readTextFlag(ini, kOffice, "NoJump");
    s.wordFast = readTextFlag(ini, kOffice, "WordFast");
    // Whole seconds; a value without a number, or none, gives the default; a negative one none.
    s.documentTimeLimit = defaultDocumentTimeLimit;
    if (const auto limit = ini.get(kOffice, "DocumentTimeLimit");
        limit && limit->find_first_of("0123456789") != std::string::npos) {
        if (const auto seconds = leadingNumber(*limit, false)) {
            s.documentTimeLimit = static_cast<int>(
                std::clamp(std::nearbyint(*seconds), 0.0, double(maxDocumentTimeLimit)));
        }
    }
    s.officeNative = readRoundsToOne(ini, kOffice, "NativeReaders", "1");
    for (std::size_t i = 0; i < outlookPlaceKeys.size(); ++i)
        s.outlookPlaces[i] = readString(ini, kOutlook, outlookPlaceKeys[i]);
    const std::optional<double> workers = leadingNumber(readString(ini, kSearch, "Workers", "0"));
    s.workers = workers && *workers >= 1 ? static_cast<int>(std::min(*workers, 64.0)) : 0;
    s.textCache = readRoundsToOne(ini, kSearch, "TextCache", "1");
    s.hiddenFiles = s.binaryFiles = readRoundsToOne(ini, kSearch, "AllFiles", "0");
}

void saveConfigFile(const Settings& s, float windowLeft, float windowTop, platform::IniFile& ini) {
    ini.set(kSearch, "Dir", s.dir);
    for (std::size_t i = 0; i < s.keywords.size(); ++i) {
        if (!s.keywords[i].empty())
            ini.set(kSearch, numberedKey("keyword", static_cast<int>(i)), s.keywords[i]);
    }
    for (int n = 0; n < folderHistorySize; ++n) {
        if (!s.dirList[n].empty())
            ini.set(kSearch, numberedKey("Dir", n), s.dirList[n]);
    }
    ini.set(kOther, "Editor", s.editor);
    ini.set(kSearch, "SubFolder", numericFlag(s.subFolder));
    ini.set(kSearch, "FileNameOnly", numericFlag(s.fileNameOnly));
    ini.set(kSearch, "Strict", numericFlag(s.strict));
    ini.set(kSearch, "Regular", numericFlag(s.regular));
    ini.set(kForm, "StatusBar", numericFlag(s.statusBar));
    ini.set(kForm, "Preview", numericFlag(s.preview));
    ini.set(kForm, "TopMost", numericFlag(s.topMost));
    ini.set(kForm, "Fixed", numericFlag(s.fixed));
    ini.set(kForm, "lastX", singleToText(windowLeft));
    ini.set(kForm, "lastY", singleToText(windowTop));
    if (s.normalWidth && s.normalHeight) {
        ini.set(kForm, "NormalWidth", std::to_string(*s.normalWidth));
        ini.set(kForm, "NormalHeight", std::to_string(*s.normalHeight));
    }
    if (!s.saveFolder.empty())
        ini.set(kOther, "SaveFolder", s.saveFolder);
    for (int n = 0; n < fileTypeSlots; ++n) {
        ini.set(kSearch, numberedKey("targetFileType", n), textFlag(s.fileTypes.targetFileType[n]));
    }
    ini.set(kSearch, "textTags", s.textTags);
    ini.set(kSearch, "pdfOwnEngine", numericFlag(s.pdfOwnEngine));
    ini.set(kSearch, "pdfFilterPath", s.pdfFilterPath);
    ini.set(kSearch, "pdfFilterPause", s.pdfFilterPause);
    ini.set(kOffice, "NoJump", textFlag(s.noJump));
    ini.set(kOffice, "WordFast", textFlag(s.wordFast));
    ini.set(kOffice, "DocumentTimeLimit", std::to_string(s.documentTimeLimit));
    ini.set(kOffice, "NativeReaders", numericFlag(s.officeNative));
    for (std::size_t i = 0; i < outlookPlaceKeys.size(); ++i) {
        if (!s.outlookPlaces[i].empty() || ini.get(kOutlook, outlookPlaceKeys[i]))
            ini.set(kOutlook, outlookPlaceKeys[i], s.outlookPlaces[i]);
    }
    ini.set(kSearch, "Workers", std::to_string(s.workers));
    ini.set(kSearch, "TextCache", numericFlag(s.textCache));
    ini.set(kSearch, "AllFiles", numericFlag(s.hiddenFiles && s.binaryFiles));
}

std::optional<std::string> saveSettingsFile(const Settings& settings, float windowLeft,
                                            float windowTop, const std::filesystem::path& path) {
    platform::IniFile ini = platform::IniFile::load(path);
    saveConfigFile(settings, windowLeft, windowTop, ini);
    const auto failure = ini.save(path);
    if (!failure)
        return std::nullopt;
    using Reason = platform::IniFile::SaveFailure::Reason;
    std::string why;
    switch (failure->reason) {
        case Reason::ReadOnly:
            why = "ファイルが読み取り専用です";
            break;
        case Reason::NotReadWhole:
            why = "ファイルを最後まで読み込めなかったため、書き換えませんでした";
            break;
        case Reason::WriteFailed:
            why = "書き込みに失敗しました (" + std::string(std::strerror(failure->error)) + ")";
            break;
    }
    return "設定を保存できませんでした\r" + path.string() + "\r" + why;
}

bool holdsSettings(const platform::IniFile& ini) {
    return std::ranges::any_of(std::array{kSearch, kOther, kForm, kOffice, kOutlook},
                               [&](std::string_view section) { return ini.hasSection(section); });
}

Settings loadSettingsFrom(const std::filesystem::path& iniPath) {
    Settings settings;
    loadConfigFile(platform::IniFile::load(iniPath), settings);
    return settings;
}

platform::IniFile defaultSettingsDocument(const std::filesystem::path& shippedFile,
                                          std::string_view home) {
    platform::IniFile ini = platform::IniFile::load(shippedFile);
    if (!ini.get(kSearch, "Dir0") && !home.empty() && !ini.serialize().empty()) {
        ini.set(kSearch, "Dir", home);
        ini.set(kSearch, "Dir0", home);
    }
    return ini;
}

bool installDefaultSettings(const std::filesystem::path& settingsFile,
                            const std::filesystem::path& shippedFile, std::string_view home) {
    std::error_code error;
    if (std::filesystem::symlink_status(settingsFile, error).type() !=
        std::filesystem::file_type::not_found) {
        return true;
    }
    const platform::IniFile defaults = defaultSettingsDocument(shippedFile, home);
    if (defaults.serialize().empty())
        return true;  // nothing shipped: the settings start as from no file
    return !defaults.save(settingsFile);
}

void addFolderHistory(Settings& s, std::string_view folder) {
    std::vector<std::string> list{std::string(folder)};
    for (const auto& entry : s.dirList) {
        if (!entry.empty() && entry != folder)
            list.push_back(entry);
    }
    for (int n = 0; n < folderHistorySize; ++n) {
        s.dirList[n] = n < static_cast<int>(list.size()) ? list[n] : std::string();
    }
    s.dir = std::string(folder);
}

}  // namespace ferretta::app
