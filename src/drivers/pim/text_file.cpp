#include "drivers/pim/text_file.h"

#include "platform/pim/item_list_folder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {
constexpr std::uintmax_t kLargestTextFile = 64u << 20;
}

std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string digestOf(std::string_view text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
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

std::unique_ptr<ItemFolder> openFilesPlace(const fs::path& place,
                                           std::initializer_list<std::string_view> extensions,
                                           const PimLog& log, std::string_view logPlace,
                                           const FileItemsReader& read, std::string* why) {
    std::error_code ec;
    if (!fs::exists(place, ec)) {
        const std::string reason = "場所がありません: " + place.string();
        if (log)
            log(logPlace, reason);
        if (why != nullptr)
            *why = reason;
        return nullptr;
    }
    std::vector<fs::path> files;
    const bool folder = fs::is_directory(place, ec);
    if (!folder)
        files.push_back(place);
    for (fs::directory_iterator it(folder ? place : fs::path(), ec), end;
         folder && !ec && it != end; it.increment(ec)) {
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
    std::vector<Item> items;
    for (const auto& file : files) {
        if (auto text = readTextFile(file, log, logPlace))
            read(*text, file, items);
    }
    return std::make_unique<ItemListFolder>(std::move(items));
}

}  // namespace ferretta::platform::pim
