#pragma once
// A millisecond clock for timing searches. Steady: never jumps with the wall clock.
#include <chrono>
#include <cstdint>

namespace ferretta::platform {

inline std::int64_t steadyMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace ferretta::platform
