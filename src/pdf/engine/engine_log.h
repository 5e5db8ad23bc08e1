#pragma once
// The engine's debug-log lines are built only while the log is open: the engine logs per
// object and per stream, and a closed log must cost nothing.
#include <string>
#include <string_view>

#include "app/debug_log.h"

namespace ferretta::pdf {

inline bool traceOn() {
    return app::debugLog().isLogOpen();
}

template <typename MakeMessage>
void trace(std::string_view place, MakeMessage&& makeMessage) {
    if (traceOn())
        app::logWrite(place, std::string(makeMessage()));
}

}  // namespace ferretta::pdf
