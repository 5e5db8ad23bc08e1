#include "hits/text_editor.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <mutex>

#include <unistd.h>

#include "app/settings.h"
#include "platform/cp932.h"
#include "platform/desktop.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/process.h"
#include "platform/unicode.h"

namespace ferretta::hits {
namespace {

std::string replacePlaceholders(std::string_view word, std::string_view path, std::string_view line,
                                std::string_view column) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size()) {
            char next = word[i + 1];
            if (next == '1' || next == '2' || next == '3') {
                out += next == '1' ? path : next == '2' ? line : column;
                ++i;
                continue;
            }
        }
        out += word[i];
    }
    return out;
}

struct KnownEditor {
    std::string_view desktopEntry;
    std::string_view command;
    ColumnCount column;
    std::string_view cp932Option;
};

// Each editor's own way to be told a line, a column and an encoding. The column counts differ:
// GTK's editors and kate count characters from 1, mousepad the columns before the hit (tabs
// expanded), geany the UTF-8 bytes before it, emacs display columns (a wide character two).
constexpr std::array kKnownEditors{
    KnownEditor{"org.gnome.gedit", "gedit +%2:%3 %1", ColumnCount::Characters,
                "--encoding=SHIFT_JIS"},
    KnownEditor{"gedit", "gedit +%2:%3 %1", ColumnCount::Characters, "--encoding=SHIFT_JIS"},
    KnownEditor{"org.gnome.TextEditor", "gnome-text-editor +%2:%3 %1", ColumnCount::Characters, ""},
    KnownEditor{"org.kde.kate", "kate --line %2 --column %3 %1", ColumnCount::Characters,
                "--encoding Shift_JIS"},
    KnownEditor{"org.kde.kwrite", "kwrite --line %2 --column %3 %1", ColumnCount::Characters,
                "--encoding Shift_JIS"},
    KnownEditor{"org.xfce.mousepad", "mousepad --line %2 --column %3 %1",
                ColumnCount::ColumnsFromZero, "--encoding=SHIFT_JIS"},
    KnownEditor{"mousepad", "mousepad --line %2 --column %3 %1", ColumnCount::ColumnsFromZero,
                "--encoding=SHIFT_JIS"},
    KnownEditor{"geany", "geany --line %2 --column %3 %1", ColumnCount::Utf8BytesFromZero, ""},
    KnownEditor{"org.geany.Geany", "geany --line %2 --column %3 %1", ColumnCount::Utf8BytesFromZero,
                ""},
    KnownEditor{"code", "code -g %1:%2:%3", ColumnCount::Characters, ""},
    KnownEditor{"emacs", "emacs +%2:%3 %1", ColumnCount::AnsiBytes, ""},
    KnownEditor{"emacsclient", "emacsclient -c -a emacs +%2:%3 %1", ColumnCount::AnsiBytes, ""},
};

constexpr int kTabWidth = 8;
// How far into a file the first non-ASCII byte is looked for.
constexpr std::size_t kEncodingScanBytes = 1u << 20;

}  // namespace

EditorTemplate editorForDesktopEntry(std::string_view desktopEntry,
                                     const std::function<bool(std::string_view)>& isStartable) {
    constexpr std::string_view suffix = ".desktop";
    if (desktopEntry.size() > suffix.size() && desktopEntry.ends_with(suffix))
        desktopEntry.remove_suffix(suffix.size());
    for (const KnownEditor& known : kKnownEditors) {
        if (known.desktopEntry != desktopEntry)
            continue;
        const std::string_view program = known.command.substr(0, known.command.find(' '));
        if (isStartable(program)) {
            return {std::string(known.command), known.column, std::string(known.cp932Option)};
        }
        break;
    }
    return {std::string(app::defaultEditor), ColumnCount::AnsiBytes, ""};
}

std::int64_t editorColumn(std::string_view lineUtf8, std::int64_t ansiColumn, ColumnCount count) {
    if (count == ColumnCount::AnsiBytes)
        return ansiColumn;
    const std::u16string line = platform::utf8ToUtf16(lineUtf8);
    std::int64_t ansiBefore = 0;
    std::int64_t characters = 0;
    std::int64_t columns = 0;
    std::int64_t utf8Bytes = 0;
    for (std::size_t i = 0; i < line.size() && ansiBefore < ansiColumn - 1;) {
        const bool pair = i + 1 < line.size() && (line[i] & 0xfc00u) == 0xd800u &&
                          (line[i + 1] & 0xfc00u) == 0xdc00u;
        const std::u16string_view unit(line.data() + i, pair ? 2 : 1);
        ansiBefore += static_cast<std::int64_t>(
            platform::cp932Length(unit, platform::Cp932Fallback::BestFit));
        utf8Bytes += static_cast<std::int64_t>(platform::utf16ToUtf8(unit).size());
        columns = line[i] == u'\t' ? (columns / kTabWidth + 1) * kTabWidth : columns + 1;
        ++characters;
        i += unit.size();
    }
    switch (count) {
        case ColumnCount::Characters:
            return characters + 1;
        case ColumnCount::ColumnsFromZero:
            return columns;
        case ColumnCount::Utf8BytesFromZero:
            return utf8Bytes;
        case ColumnCount::AnsiBytes:
            break;
    }
    return ansiColumn;
}

std::optional<std::vector<std::string>> editorArguments(const EditorTemplate& editor,
                                                        std::string_view path,
                                                        std::string_view position,
                                                        std::string_view lineUtf8, bool cp932) {
    std::string told(position);
    const std::size_t comma = position.find(',');
    std::int64_t ansiColumn = 0;
    if (editor.column != ColumnCount::AnsiBytes && comma != std::string_view::npos) {
        const std::string_view column = position.substr(comma + 1);
        const auto [end, error] =
            std::from_chars(column.data(), column.data() + column.size(), ansiColumn);
        if (error == std::errc() && end == column.data() + column.size() && ansiColumn > 0) {
            told = std::string(position.substr(0, comma + 1)) +
                   std::to_string(editorColumn(lineUtf8, ansiColumn, editor.column));
        }
    }
    auto argv = editorCommand(editor.command, path, told);
    if (!argv || !cp932 || editor.cp932Option.empty())
        return argv;
    auto option = platform::splitCommandLine(editor.cp932Option);
    if (option)
        argv->insert(argv->begin() + 1, option->begin(), option->end());
    return argv;
}

bool isCp932TextFile(const std::filesystem::path& path) {
    std::string head(kEncodingScanBytes + platform::kEncodingSampleBytes, '\0');
    try {
        // Never waits: a FIFO or a device put in the file's place is refused.
        const int fd = platform::openRegularFile(path);
        std::size_t got = 0;
        try {
            while (got < head.size()) {
                const std::size_t n =
                    platform::readSome(fd, head.data() + got, head.size() - got, path, {});
                if (n == 0)
                    break;
                got += n;
            }
        } catch (const Error&) {
            ::close(fd);
            throw;
        }
        ::close(fd);
        head.resize(got);
    } catch (const Error&) {
        return false;
    }
    if (platform::encodingFromByteOrderMark(head))
        return false;
    const std::size_t first = platform::firstNonAscii(head);
    if (first == std::string::npos || first >= kEncodingScanBytes)
        return false;
    return platform::encodingFromFirstNonAscii(std::string_view(head).substr(
               first, platform::kEncodingSampleBytes)) == platform::TextEncoding::Cp932;
}

std::optional<std::vector<std::string>> editorCommand(std::string_view editorTemplate,
                                                      std::string_view path,
                                                      std::string_view position) {
    if (position.empty())
        position = "0,0";
    std::size_t comma = position.find(',');
    std::string_view line = position.substr(0, comma);
    std::string_view column =
        comma == std::string_view::npos ? std::string_view() : position.substr(comma + 1);
    column = column.substr(0, column.find(','));

    auto words = platform::splitCommandLine(editorTemplate);
    if (!words || words->empty())
        return std::nullopt;
    const bool hasPath = editorTemplate.find("%1") != std::string_view::npos;
    std::vector<std::string> argv;
    for (const auto& word : *words)
        argv.push_back(replacePlaceholders(word, path, line, column));
    if (!hasPath)
        argv.emplace_back(path);
    return argv;
}

void openInEditor(app::Host& host, std::string_view editorTemplate, std::string_view path,
                  std::string_view position, std::string_view lineUtf8) {
    EditorTemplate editor{std::string(editorTemplate), ColumnCount::AnsiBytes, ""};
    if (editorTemplate == app::defaultEditor) {
        // Asked once: xdg-mime takes a while, and the answer rarely changes while we run.
        static std::once_flag asked;
        static EditorTemplate answer;
        std::call_once(asked, [] {
            answer = editorForDesktopEntry(platform::defaultApplicationFor("text/plain"),
                                           platform::isExecutableProgram);
        });
        editor = answer;
    }
    const bool cp932 = !editor.cp932Option.empty() && isCp932TextFile(std::string(path));
    auto argv = editorArguments(editor, path, position, lineUtf8, cp932);
    if (!argv || !platform::startProcess(*argv)) {
        host.showMessage(
            "テキストエディタが開けませんでした。\rオプションでエディタパスの設定を確認してくださ"
            "い",
            app::MessageStyle::Information);
    }
}

}  // namespace ferretta::hits
