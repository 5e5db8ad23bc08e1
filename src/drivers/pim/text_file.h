#pragma once
// Reading the small text files of the stores (calendars, cards) and listing a place's files.
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

// The text with a-z made A-Z (names in calendars and cards are ASCII, compared in any case).
std::string asciiUpper(std::string_view text);

// A short hexadecimal digest (64-bit FNV-1a) that tells texts apart, for items without an id.
std::string digestOf(std::string_view text);

// Calls visit(line, start, next) for each line of the text, ended by CR LF, LF or CR: the line
// without its end, the offset where it starts and the offset of the next line (the text's size
// after the last). A text ending with a line end has no empty last line.
template <typename Visit>
void forEachLine(std::string_view text, Visit&& visit) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        std::size_t next;
        if (end == std::string_view::npos) {
            end = next = text.size();
        } else {
            next = end + 1;
            if (text[end] == '\r' && next < text.size() && text[next] == '\n')
                ++next;
        }
        visit(text.substr(start, end - start), start, next);
        start = next;
    }
}

// The whole file; nullopt (and a log line when a log is given) when it cannot be read or is
// larger than 64 MiB (no calendar or address book is; a larger file is not one).
std::optional<std::string> readTextFile(const std::filesystem::path& path, const PimLog& log,
                                        std::string_view place);

// The items of a place's files, all read at once: a file place is itself; a folder place gives
// its regular files whose extension (any case) is one of `extensions`, by name. `read` adds the
// items of one file's text. A file that cannot be read is skipped with a log line; nullptr (a
// log line, and the reason in `why`) when the place does not exist.
using FileItemsReader = std::function<void(
    const std::string& text, const std::filesystem::path& file, std::vector<Item>& items)>;
std::unique_ptr<ItemFolder> openFilesPlace(const std::filesystem::path& place,
                                           std::initializer_list<std::string_view> extensions,
                                           const PimLog& log, std::string_view logPlace,
                                           const FileItemsReader& read, std::string* why = nullptr);

}  // namespace ferretta::platform::pim
