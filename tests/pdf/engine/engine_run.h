#pragma once
// Runs the engine over a real PDF with the shipped character table, for the corpus tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/pdf_engine.h"
#include "search/query.h"
#include "search/search_flags.h"
#include "support/recording_host.h"
#include "support/test_context.h"

namespace ferretta::pdf {

// resources/AdobeCID.dat, loaded once for all files of a test program.
inline const CidTable& shippedCidTable() {
    static const CidTable table = [] {
        namespace fs = std::filesystem;
        CidTable loaded;
        EXPECT_TRUE(loaded.p2tCIDInit(fs::path(FERRETTA_SOURCE_DIR) / "resources" / "AdobeCID.dat"))
            << "resources/AdobeCID.dat could not be loaded";
        return loaded;
    }();
    return table;
}

struct EngineRun {
    bool completed = false;
    std::int32_t pages = 0;
    test::RecordingHost host;
};

inline void runEngine(const std::string& path, const search::Matcher& matcher, EngineRun& run) {
    search::SearchFlags flags;
    PdfEngine engine(test::contextOf(run.host, matcher, flags), shippedCidTable());
    run.completed = engine.p2tMain(path);
    run.pages = engine.pageCounter();
}

}  // namespace ferretta::pdf
