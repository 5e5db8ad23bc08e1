#pragma once
// Where the stores tell why they skipped something (a broken message, a card or calendar file
// that cannot be read). The front ends pass the debug log's writer.
#include <functional>
#include <string_view>

namespace ferretta::platform::pim {

// (place, message): one debug-log line.
using PimLog = std::function<void(std::string_view place, std::string_view message)>;

}  // namespace ferretta::platform::pim
