#pragma once
// The saved results list: one line per row, the four column texts each in double quotes,
// separated by commas, CR LF, in CP932. Quotes inside a text are written as they are; a line
// break inside a text (a file name may hold one) is written as the two characters \n (line
// feed) or \r (carriage return), so that every row stays one line. A backslash is written as
// it is, so a name that itself holds "\n" reads the same as one with a line break there.
#include <filesystem>
#include <span>
#include <string>

#include "app/host.h"

namespace ferretta::hits {

// The line for one row, without its line end, as UTF-8 (names that are no valid UTF-8 keep
// their bytes).
std::string resultLine(const app::Hit& hit);

// The same line in CP932. A name, or a folder of a path, that is no valid UTF-8 but is CP932
// text (a file from an old archive named on a Japanese Windows system) keeps its own bytes, so
// that the path in the line still names the file; anything else is converted, a character
// without a CP932 form becoming '?'.
std::string ansiResultLine(const app::Hit& hit);

// The whole file's bytes: CP932 lines with CR LF.
std::string resultFileBytes(std::span<const app::Hit> rows);

// Saves the rows in their list order. When the file exists the host is asked whether to
// overwrite it; without a Yes nothing happens. The old file is replaced only once the new one
// is completely written, so a failure never leaves the user with half a file. Reports
// "検索結果が保存されました" or, on any failure, "検索結果の保存に失敗しました". Answers whether
// the file was written.
bool saveResults(app::Host& host, const std::filesystem::path& path,
                 std::span<const app::Hit> rows);

}  // namespace ferretta::hits
