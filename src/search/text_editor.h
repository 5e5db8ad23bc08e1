#pragma once
// Opening a text hit in the user's editor.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"

namespace ferretta::search {

// The argument vector for the editor: the template is split into words by shell quoting
// rules, then in each word %1 becomes the path, %2 the line and %3 the column (each
// placeholder replaced once, so a "%2" inside a file name stays as it is). Without %1 in the
// template the path is added as a last word. An empty position counts as "0,0". nullopt when
// the template has an unclosed quote or no words.
std::optional<std::vector<std::string>> editorCommand(std::string_view editorTemplate,
                                                      std::string_view path,
                                                      std::string_view position);

// Starts the editor for the hit and returns at once. When it cannot be started the user is
// told to check the editor setting.
void openInEditor(app::Host& host, std::string_view editorTemplate, std::string_view path,
                  std::string_view position);

}  // namespace ferretta::search
