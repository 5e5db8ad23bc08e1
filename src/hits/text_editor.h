#pragma once
// Opening a text hit in the user's editor.
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

// The editor template for a desktop entry (as `xdg-mime query default text/plain` names it,
// with or without ".desktop") of a common text editor, in that editor's own syntax for a line
// and a column: gedit and gnome-text-editor "+%2:%3", kate, kwrite, mousepad and geany
// "--line %2 --column %3", code "-g %1:%2:%3", emacs "+%2:%3". The program must be startable
// (`isStartable` asks about the template's first word); otherwise, and for any other entry,
// the desktop's opener app::defaultEditor ("xdg-open %1"), which opens the file without a
// line.
std::string editorForDesktopEntry(std::string_view desktopEntry,
                                  const std::function<bool(std::string_view)>& isStartable);

// Starts the editor for the hit and returns at once. The template app::defaultEditor (the
// setting's default) stands for the desktop's default text editor, found at the first opening
// (editorForDesktopEntry). When the editor cannot be started the user is told to check the
// editor setting.
void openInEditor(app::Host& host, std::string_view editorTemplate, std::string_view path,
                  std::string_view position);

}  // namespace ferretta::hits
