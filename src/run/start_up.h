#pragma once
// Small helpers of start-up shared by the front ends.
#include <functional>
#include <string>
#include <string_view>

#include "app/host.h"
#include "app/settings.h"

namespace ferretta::run {

// True when the path names an existing folder. Never fails: any error answers false.
bool isFolder(std::string_view path);

// Takes a folder named on a command line (one pair of enclosing double quotes is dropped),
// shows the window (`showWindow`, when given) and, when it is a folder, makes it the search
// folder and the newest history entry. The user is told either way.
void acceptFolderArgument(app::Host& host, app::Settings& settings, std::string_view text,
                          const std::function<void()>& showWindow = {});

}  // namespace ferretta::run
