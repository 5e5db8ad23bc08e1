#pragma once
// Reading the small text files of the stores (calendars, cards) and listing a place's files.
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pim/pim_log.h"

namespace ferretta::platform::pim {

// The whole file; nullopt (and a log line when a log is given) when it cannot be read or is
// larger than 64 MiB (no calendar or address book is; a larger file is not one).
std::optional<std::string> readTextFile(const std::filesystem::path& path, const PimLog& log,
                                        std::string_view place);

// A file place is itself; a folder place gives its regular files whose extension (any case) is
// one of `extensions`, sorted by name. nullopt (and a log line) when the place does not exist.
std::optional<std::vector<std::filesystem::path>> filesOfPlace(
    const std::filesystem::path& place, std::initializer_list<std::string_view> extensions,
    const PimLog& log, std::string_view logPlace);

}  // namespace ferretta::platform::pim
