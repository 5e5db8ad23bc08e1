#pragma once
// Small helpers over path texts. The separator is '/'. Paths are byte strings as the file
// system gives them (normally UTF-8).
#include <string>
#include <string_view>

namespace ferretta::search {

inline constexpr char pathSeparator = '/';

// The text after the last separator; the whole text when there is none; empty when the path
// ends with a separator.
std::string fileNameOf(std::string_view path);

// The text after the last dot, in upper case (full-width letters too); empty when there is no
// dot. Applied to a whole path, a dot in a folder name counts: "a.b/c" answers "B/C".
std::string extensionOf(std::string_view name);

// The path without its last element and the separator before it; empty when there is no
// separator.
std::string folderOf(std::string_view path);

// The file name without its extension and the dot before it; the whole name when it has no
// dot.
std::string baseNameOf(std::string_view path);

}  // namespace ferretta::search
