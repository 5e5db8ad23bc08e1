#include "platform/pim/text_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {
constexpr std::uintmax_t kLargestTextFile = 64u << 20;
}

std::optional<std::string> readTextFile(const fs::path& path, const PimLog& log,
                                        std::string_view place) {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kLargestTextFile) {
        if (log)
            log(place,
                (ec ? "読めないファイルを飛ばしました: " : "大きすぎるファイルを飛ばしました: ") +
                    path.string());
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        if (log)
            log(place, "読めないファイルを飛ばしました: " + path.string());
        return std::nullopt;
    }
    return text;
}

std::optional<std::vector<fs::path>> filesOfPlace(
    const fs::path& place, std::initializer_list<std::string_view> extensions, const PimLog& log,
    std::string_view logPlace) {
    std::error_code ec;
    if (!fs::exists(place, ec)) {
        if (log)
            log(logPlace, "場所がありません: " + place.string());
        return std::nullopt;
    }
    if (!fs::is_directory(place, ec))
        return std::vector<fs::path>{place};
    std::vector<fs::path> files;
    for (fs::directory_iterator it(place, ec), end; !ec && it != end; it.increment(ec)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
            return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        });
        std::error_code typeError;
        if (it->is_regular_file(typeError) &&
            std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace ferretta::platform::pim
