#pragma once
// What the desktop knows about the user's programs.
#include <string>
#include <string_view>

namespace ferretta::platform {

// The desktop entry of the user's default application for a MIME type (for example
// "org.gnome.gedit.desktop"), as `xdg-mime query default` answers it. Empty when xdg-mime is
// missing, fails, answers nothing or takes longer than two seconds (it is ended then).
std::string defaultApplicationFor(std::string_view mimeType);

// True when the program can be started by its name: a name without '/' names an executable
// file in one of the folders of PATH; a name with '/' must be executable itself.
bool isExecutableProgram(std::string_view program);

}  // namespace ferretta::platform
