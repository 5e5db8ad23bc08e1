#include "drivers/office/libreoffice_text.h"

#include <limits>
#include <memory>
#include <system_error>

#include "platform/hex_digit.h"
#include "platform/office/cell_pattern.h"

namespace ferretta::platform::office::lo {
namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

}  // namespace

std::string fileUrlFromPath(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    const std::string bytes = absolute.lexically_normal().string();
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (isUnreserved(byte)) {
            url.push_back(c);
        } else {
            url.push_back('%');
            url.push_back(kHex[byte >> 4]);
            url.push_back(kHex[byte & 0x0F]);
        }
    }
    return url;
}

std::optional<std::string> pathFromFileUrl(std::string_view url) {
    constexpr std::string_view kPrefix = "file://";
    if (url.substr(0, kPrefix.size()) != kPrefix)
        return std::nullopt;
    url.remove_prefix(kPrefix.size());
    // "file://localhost/x" and "file:///x" name the same file.
    if (url.substr(0, 9) == "localhost")
        url.remove_prefix(9);
    if (url.empty() || url.front() != '/')
        return std::nullopt;
    std::string path;
    path.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        if (url[i] != '%') {
            path.push_back(url[i]);
            continue;
        }
        const std::optional<unsigned char> byte = platform::hexByteAt(url, i + 1);
        if (!byte)
            return std::nullopt;
        path.push_back(static_cast<char>(*byte));
        i += 2;
    }
    return path;
}

std::optional<GridHit> findInGrid(const CellGrid& grid, std::u16string_view what) {
    const CellPattern pattern(what);
    if (pattern.empty() || grid.rows.empty())
        return std::nullopt;
    const auto matches = [&](const std::u16string& cell) { return pattern.foundIn(cell); };
    const auto hit = [&](std::size_t r, std::size_t c) {
        return GridHit{grid.originRow + static_cast<std::int32_t>(r) + 1,
                       grid.originColumn + static_cast<std::int32_t>(c) + 1, grid.rows[r][c]};
    };
    // A1 is visited last when it lies inside the grid.
    const bool holdsA1 = grid.originRow == 0 && grid.originColumn == 0;
    for (std::size_t r = 0; r < grid.rows.size(); ++r) {
        const auto& row = grid.rows[r];
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (holdsA1 && r == 0 && c == 0)
                continue;
            if (matches(row[c]))
                return hit(r, c);
        }
    }
    if (holdsA1 && !grid.rows[0].empty() && matches(grid.rows[0][0]))
        return hit(0, 0);
    return std::nullopt;
}

}  // namespace ferretta::platform::office::lo
