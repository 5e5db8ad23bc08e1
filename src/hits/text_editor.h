#pragma once
// Opening a text hit in the user's editor.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"

namespace ferretta::hits {

// The argument vector for the editor: the template is split into words by shell quoting
// rules, then in each word %1 becomes the path, %2 the line and %3 the column (each
// placeholder replaced once, so a "%2" inside a file name stays as it is). Without %1 in the
// template the path is added as a last word. An empty position counts as "0,0". nullopt when
// the template has an unclosed quote or no words.
std::optional<std::vector<std::string>> editorCommand(std::string_view editorTemplate,
                                                      std::string_view path,
                                                      std::string_view position);

// How an editor counts the column it is told.
enum class ColumnCount {
    // The hit's own column: bytes of the line's CP932 form, from 1. A user's template gets it,
    // as the settings have always meant; emacs counts a wide character as two columns as well.
    AnsiBytes,
    // Characters from 1 (gedit, kate, code).
    Characters,
    // The columns before the hit, a tab reaching the next multiple of 8 (mousepad).
    ColumnsFromZero,
    // The bytes of the line's UTF-8 form before the hit (geany).
    Utf8BytesFromZero,
};

// An editor's way to be told a hit: its template (%1 path, %2 line, %3 column), how it counts
// the column, and its option that reads a file as CP932 (the words go right after the program;
// empty when it has none).
struct EditorTemplate {
    std::string command;
    ColumnCount column = ColumnCount::AnsiBytes;
    std::string cp932Option;
};

// The column as the editor counts it, for a hit at `ansiColumn`, the 1-based byte of the line's
// CP932 form where the hit starts (what the search reports). A column before the line counts
// as its start, one past its end as its end.
std::int64_t editorColumn(std::string_view lineUtf8, std::int64_t ansiColumn, ColumnCount count);

// The editor's words for a hit at `position` ("line,column" as the search reports it) on the
// line `lineUtf8`, with the CP932 option when `cp932` is set. nullopt as for editorCommand.
std::optional<std::vector<std::string>> editorArguments(const EditorTemplate& editor,
                                                        std::string_view path,
                                                        std::string_view position,
                                                        std::string_view lineUtf8, bool cp932);

// The editor for a desktop entry (as `xdg-mime query default text/plain` names it, with or
// without ".desktop") of a common text editor, in that editor's own syntax for a line and a
// column: gedit and gnome-text-editor "+%2:%3", kate, kwrite, mousepad and geany
// "--line %2 --column %3", code "-g %1:%2:%3", emacs "+%2:%3". The program must be startable
// (`isStartable` asks about the template's first word); otherwise, and for any other entry,
// the desktop's opener app::defaultEditor ("xdg-open %1"), which opens the file without a
// line.
EditorTemplate editorForDesktopEntry(std::string_view desktopEntry,
                                     const std::function<bool(std::string_view)>& isStartable);

// Whether the text file is read as CP932: no byte-order mark, and its first non-ASCII bytes
// are not UTF-8 (as the search decides). False for a file that cannot be read or that holds
// only ASCII in its first megabyte.
bool isCp932TextFile(const std::filesystem::path& path);

// Starts the editor for the hit on the line `lineUtf8` (the hit's content) and returns at once.
// The template app::defaultEditor (the setting's default) stands for the desktop's default text
// editor, found at the first opening (editorForDesktopEntry), which is told the column in its
// own count and, for a CP932 file, the encoding. When the editor cannot be started the user is
// told to check the editor setting.
void openInEditor(app::Host& host, std::string_view editorTemplate, std::string_view path,
                  std::string_view position, std::string_view lineUtf8 = {});

}  // namespace ferretta::hits
