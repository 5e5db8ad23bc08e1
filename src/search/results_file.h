#pragma once
// The saved results list: one line per row, the four column texts each in double quotes,
// separated by commas, CR LF, in CP932. Quotes inside a text are written as they are.
#include <filesystem>
#include <span>
#include <string>

#include "app/host.h"

namespace ferretta::search {

// The line for one row, without its line end, as UTF-8.
std::string resultLine(const app::Hit& hit);

// The whole file's bytes: CP932 lines with CR LF.
std::string resultFileBytes(std::span<const app::Hit> rows);

// Saves the rows in their list order. When the file exists the host is asked whether to
// overwrite it; without a Yes nothing happens. The old file is replaced only once the new one
// is completely written, so a failure never leaves the user with half a file. Reports
// "検索結果が保存されました" or, on any failure, "検索結果の保存に失敗しました". Answers whether
// the file was written.
bool saveResults(app::Host& host, const std::filesystem::path& path,
                 std::span<const app::Hit> rows);

}  // namespace ferretta::search
