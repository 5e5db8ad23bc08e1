#include "pdf/engine/text_dump.h"

#include "pdf/engine/engine_state.h"
#include "platform/data_folder.h"
#include "platform/error.h"

namespace ferretta::pdf {

bool dumpPdfText(const std::string& path, const CidTable& cidTable,
                 const std::function<void(std::string_view)>& write, const std::string_view* bytes,
                 const std::function<bool()>& enough) {
    search::SearchFlags flags;
    EngineState state(flags, cidTable);
    // The walk looks at the stop flag between pages.
    state.setTextSink([&](std::string_view page) {
        write(page);
        if (enough && enough())
            flags.isAbort = true;
    });
    return state.p2tMain(path, bytes ? std::optional<std::string_view>(*bytes) : std::nullopt);
}

int printPdfText(const std::string& path, std::FILE* out, std::FILE* err) {
    CidTable& table = cidTable();
    if (!table.loaded() && !table.p2tCIDInit(platform::findDataFile("AdobeCID.dat"))) {
        std::fputs("ferretta-cli: error: AdobeCID.datの読み込みでエラーが発生しました\n", err);
        return 2;
    }
    try {
        const bool complete = dumpPdfText(path, table, [out](std::string_view text) {
            std::fwrite(text.data(), 1, text.size(), out);
        });
        std::fflush(out);
        if (!complete) {
            std::fputs(("ferretta-cli: " + path + ": not every page could be read\n").c_str(), err);
            return 1;
        }
        return 0;
    } catch (const Error& failure) {
        std::fflush(out);
        std::fputs(("ferretta-cli: error: " + std::string(failure.what()) + "\n").c_str(), err);
        return 2;
    }
}

}  // namespace ferretta::pdf
