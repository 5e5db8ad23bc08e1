#pragma once
// Runs the engine over a real PDF with the shipped character table, for the corpus tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "pdf/engine/cid_map.h"
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
        const fs::path temp =
            fs::temp_directory_path() / ("ferretta-cid-" + std::to_string(::getpid()));
        fs::create_directories(temp);
        const bool ok =
            loaded.p2tCIDInit(fs::path(FERRETTA_SOURCE_DIR) / "resources" / "AdobeCID.dat", temp);
        fs::remove_all(temp);
        EXPECT_TRUE(ok) << "resources/AdobeCID.dat could not be loaded";
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
