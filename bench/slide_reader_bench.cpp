// The presentation reader over a folder of .pptx and .odp files (such as
// `tools/make_office_corpus.py DIR --kinds slide --copies 20`): documents per second and the
// time per document, each read from its file and matched for one word as a search does; then
// `ugrep -z` (which inflates the same archives) over the same folder for the same word, and the
// ratio of the two. Single-threaded, no cache.
//
//   slide_reader_bench FOLDER [--rounds 10] [--word 会議]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "documents/native_reader.h"

namespace fs = std::filesystem;
using namespace ferretta::documents;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class MatchSink final : public UnitSink {
  public:
    explicit MatchSink(const std::string& word) : m_word(word) {}
    bool unit(const UnitView& unit) override {
        if (unit.text.find(m_word) != std::string_view::npos)
            ++hits;
        return true;
    }
    long hits = 0;

  private:
    const std::string& m_word;
};

// CPU time of the process: on a machine shared with other work the wall time of one document
// is mostly waiting for a core.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: slide_reader_bench FOLDER [--rounds N] [--word W]\n");
        return 2;
    }
    const fs::path folder = argv[1];
    int rounds = 10;
    std::string word = "会議";
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--word")
            word = argv[i + 1];
    }
    std::vector<std::pair<std::string, Format>> documents;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".pptx")
            documents.emplace_back(entry.path().string(), Format::PresentationML);
        else if (extension == ".odp")
            documents.emplace_back(entry.path().string(), Format::OdfPresentation);
    }
    if (documents.empty()) {
        std::fprintf(stderr, "no .pptx or .odp under %s\n", folder.c_str());
        return 1;
    }

    std::vector<double> roundSeconds;
    std::vector<double> documentSeconds;
    std::vector<double> documentCpu;
    long hits = 0;
    int forOffice = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto roundStart = Clock::now();
        hits = 0;
        forOffice = 0;
        for (const auto& [path, format] : documents) {
            const auto start = Clock::now();
            const double cpuStart = cpuSeconds();
            MatchSink sink(word);
            if (readDocument(path, format, Kind::PowerPoint, sink).status == ReadStatus::ForOffice)
                ++forOffice;
            hits += sink.hits;
            documentSeconds.push_back(secondsSince(start));
            documentCpu.push_back(cpuSeconds() - cpuStart);
        }
        roundSeconds.push_back(secondsSince(roundStart));
    }
    const double best = *std::min_element(roundSeconds.begin(), roundSeconds.end());
    const double typical = median(roundSeconds);
    std::printf("documents: %zu (%d for the office), %ld units with \"%s\"\n", documents.size(),
                forOffice, hits, word.c_str());
    std::printf("reader:    %.1f ms a round (median of %d; best %.1f ms), %.0f documents/s\n",
                typical * 1e3, rounds, best * 1e3, documents.size() / typical);
    for (auto* times : {&documentSeconds, &documentCpu}) {
        std::sort(times->begin(), times->end());
        std::printf("per document, %s: median %.0f us, 90th %.0f us, max %.0f us\n",
                    times == &documentCpu ? "CPU " : "wall", (*times)[times->size() / 2] * 1e6,
                    (*times)[times->size() * 9 / 10] * 1e6, times->back() * 1e6);
    }

    const std::string ugrep =
        "ugrep -z -r -l -F -- '" + word + "' '" + folder.string() + "' > /dev/null 2>&1";
    if (std::system("command -v ugrep > /dev/null 2>&1") != 0) {
        std::printf("ugrep -z: not installed, no ratio\n");
        return 0;
    }
    std::vector<double> ugrepSeconds;
    for (int round = 0; round < std::min(rounds, 5); ++round) {
        const auto start = Clock::now();
        if (std::system(ugrep.c_str()) == -1)
            return 1;
        ugrepSeconds.push_back(secondsSince(start));
    }
    const double peer = median(ugrepSeconds);
    std::printf("ugrep -z:  %.1f ms (median of %zu)\nratio:     %.3f (reader / ugrep -z)\n",
                peer * 1e3, ugrepSeconds.size(), typical / peer);
    return 0;
}
