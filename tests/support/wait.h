#pragma once
// Waiting in tests for a condition, polled every 10 ms up to a limit: never a fixed sleep.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/temp_tree.h"

namespace ferretta::test {

// True as soon as the condition holds; false when it still does not after `limit`.
template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// True when the process is gone, or only a zombie its parent has not reaped.
inline bool processEnded(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    return stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z";
}

}  // namespace ferretta::test
