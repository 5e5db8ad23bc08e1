// The reading half of bench/office_bench.sh: opens every file of a folder through the
// automation (one hidden office for the run, as a search does), reads all its text the way the
// searchers do, and prints "<kind> <files> <seconds> <bytes> <failures>" lines on stdout.
//
//     office_read_bench FOLDER [PROFILE]
//
// Exits 1 when a file could not be read, 2 on wrong arguments.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "drivers/office/libreoffice.h"
#include "platform/error.h"

namespace {

namespace fs = std::filesystem;
using namespace ferretta;
using namespace ferretta::platform::office;

std::vector<fs::path> filesOf(const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == extension)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::size_t readShape(Shape& shape) {
    std::size_t bytes = shape.hasTextFrame() ? shape.text().size() : 0;
    try {
        for (std::int32_t j = 1, n = shape.groupItemCount(); j <= n; ++j) {
            auto item = shape.groupItem(j);
            if (item->hasTextFrame())
                bytes += item->text().size();
        }
    } catch (const Error&) {
        // Not a group, as the searcher finds out the same way.
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: office_read_bench FOLDER [PROFILE]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    LibreOfficeConfig config;
    if (argc == 3)
        config.profileRoot = argv[2];
    auto automation = makeLibreOfficeAutomation(config);
    auto word = automation->createWord(Purpose::Search);
    auto excel = automation->createExcel(Purpose::Search);
    auto powerPoint = automation->createPowerPoint(Purpose::Search);
    int allFailures = 0;
    const auto timed = [&](const char* kind, const std::string& extension, auto&& read) {
        const auto files = filesOf(folder, extension);
        std::size_t bytes = 0;
        int failures = 0;
        const auto started = std::chrono::steady_clock::now();
        for (const auto& file : files) {
            try {
                bytes += read(file.string());
            } catch (const Error& error) {
                ++failures;
                std::fprintf(stderr, "%s: %s\n", file.c_str(), error.what());
            }
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        std::printf("%s %zu %.3f %zu %d\n", kind, files.size(), took.count(), bytes, failures);
        std::fflush(stdout);
        allFailures += failures;
    };
    timed("word", ".doc", [&](const std::string& path) {
        auto document = word->open(path, OpenOptions{});
        std::size_t bytes = 0;
        for (const auto& sentence : document->sentenceTexts())
            bytes += sentence.size();
        for (std::int32_t j = 1, n = document->shapeCount(); j <= n; ++j) {
            try {
                bytes += document->shapeText(j).size();
            } catch (const Error&) {
                // A shape without text: the searcher leaves its element empty.
            }
        }
        document->close();
        return bytes;
    });
    timed("excel", ".xls", [&](const std::string& path) {
        auto book = excel->open(path, OpenOptions{});
        std::size_t found = 0;
        for (std::int32_t i = 1, n = book->worksheetCount(); i <= n; ++i) {
            // A word that is nowhere makes the find read and visit every cell.
            found += book->worksheet(i)->findCell("存在しない語").has_value() ? 1 : 0;
        }
        book->close();
        return found;
    });
    timed("powerpoint", ".ppt", [&](const std::string& path) {
        auto presentation = powerPoint->open(path, OpenOptions{});
        std::size_t bytes = 0;
        for (std::int32_t i = 1, n = presentation->slideCount(); i <= n; ++i) {
            auto slide = presentation->slide(i);
            for (std::int32_t j = 1, m = slide->shapeCount(); j <= m; ++j)
                bytes += readShape(*slide->shape(j));
        }
        presentation->close();
        return bytes;
    });
    word->quit();
    excel->quit();
    powerPoint->quit();
    return allFailures == 0 ? 0 : 1;
}
