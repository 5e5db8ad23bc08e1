// The native Word reader over a folder of documents: every .docx, .docm and .odt read from
// disk in both modes, several rounds; prints documents per second and the time per document
// (median and slowest), and how many documents were left to the office.
//
//     word_reader_bench FOLDER [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "documents/native_reader.h"

namespace {

using namespace ferretta::documents;
using Clock = std::chrono::steady_clock;

class CountingSink final : public UnitSink {
  public:
    bool unit(const UnitView& unit) override {
        bytes += unit.text.size();
        return true;
    }
    std::size_t bytes = 0;
};

Format formatOf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return extension.empty() ? Format::None : formatOfExtension(extension.substr(1));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: word_reader_bench FOLDER [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<std::filesystem::path> documents;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1])) {
        const Format format = formatOf(entry.path());
        if (format == Format::WordprocessingML || format == Format::OdfText)
            documents.push_back(entry.path());
    }
    if (documents.empty()) {
        std::fprintf(stderr, "no Word documents in %s\n", argv[1]);
        return 1;
    }
    for (const Kind kind : {Kind::WordNormal, Kind::WordFast}) {
        std::vector<double> times;
        std::size_t forOffice = 0;
        std::size_t bytes = 0;
        const auto start = Clock::now();
        for (int round = 0; round < rounds; ++round) {
            for (const auto& path : documents) {
                CountingSink sink;
                const auto before = Clock::now();
                const ReadResult result = readDocument(path.string(), formatOf(path), kind, sink);
                times.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - before).count());
                forOffice += result.status == ReadStatus::ForOffice ? 1 : 0;
                bytes += sink.bytes;
            }
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::sort(times.begin(), times.end());
        std::printf(
            "%s: %zu documents x %d rounds: %.0f documents/s, median %.0f us, slowest "
            "%.0f us, %zu left to the office, %zu bytes of text\n",
            kind == Kind::WordFast ? "fast  " : "normal", documents.size(), rounds,
            static_cast<double>(times.size()) / seconds, times[times.size() / 2], times.back(),
            forOffice / static_cast<std::size_t>(rounds), bytes / static_cast<std::size_t>(rounds));
    }
    return 0;
}
