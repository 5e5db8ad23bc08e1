// The native workbook reader's speed and memory: every .xlsx/.xlsm/.ods below the folders (or
// the files) named is read, as the Excel search reads it, `--repeat` times; the program prints
// the documents per second, the time per document (median and slowest), the units handed out
// and the peak resident memory. With ugrep installed it also times `ugrep -z` over the same
// folders in the same run (the peer tool of the Office search's target) and prints the ratio.
//
//     sheet_read_bench [--repeat N] FOLDER|FILE...
//
// Workbooks: tools/make_office_corpus.py OUT --kinds sheet --copies 100, or --big for one of a
// million cells.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "documents/native_reader.h"

namespace {

namespace fs = std::filesystem;
using namespace ferretta::documents;
using Clock = std::chrono::steady_clock;

class CountingSink final : public UnitSink {
  public:
    bool unit(const UnitView& unit) override {
        ++units;
        bytes += unit.text.size() + unit.shown.size();
        return true;
    }
    std::uint64_t units = 0;
    std::uint64_t bytes = 0;
};

Format formatOf(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return extension.size() > 1 ? formatOfExtension(extension.substr(1)) : Format::None;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Wall time of `ugrep -z -r -c WORD FOLDER...`; negative when ugrep is missing.
double ugrepSeconds(const std::vector<std::string>& folders) {
    if (std::system("command -v ugrep >/dev/null 2>&1") != 0 || folders.empty())
        return -1;
    std::vector<std::string> args = {"ugrep", "-z", "-r", "-c", "鍵語"};
    args.insert(args.end(), folders.begin(), folders.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    std::vector<fs::path> files;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (fs::is_directory(arg)) {
            folders.push_back(arg);
            for (const auto& entry : fs::recursive_directory_iterator(arg)) {
                if (entry.is_regular_file() && formatOf(entry.path()) != Format::None)
                    files.push_back(entry.path());
            }
        } else {
            files.emplace_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: sheet_read_bench [--repeat N] FOLDER|FILE...\n");
        return 2;
    }
    std::sort(files.begin(), files.end());
    std::vector<double> times;
    std::uint64_t units = 0;
    std::uint64_t bytes = 0;
    int forOffice = 0;
    const auto start = Clock::now();
    for (int r = 0; r < repeat; ++r) {
        for (const fs::path& file : files) {
            CountingSink sink;
            const auto begin = Clock::now();
            const ReadResult result = readDocument(file, formatOf(file), Kind::Excel, sink);
            times.push_back(seconds(Clock::now() - begin));
            if (r == 0) {
                units += sink.units;
                bytes += sink.bytes;
                if (result.status != ReadStatus::Complete) {
                    ++forOffice;
                    std::printf("for the office: %s: %s\n", file.c_str(), result.reason.c_str());
                }
            }
        }
    }
    const double total = seconds(Clock::now() - start);
    std::sort(times.begin(), times.end());
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    rusage mainThread{};
    ::getrusage(RUSAGE_THREAD, &mainThread);
    const auto cpu = [](const rusage& u) {
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    std::printf(
        "%zu workbooks x %d: %.3f s, %.0f workbooks/s; per workbook median %.0f us, "
        "slowest %.0f us\n",
        files.size(), repeat, total, static_cast<double>(times.size()) / total,
        times[times.size() / 2] * 1e6, times.back() * 1e6);
    std::printf("%llu units, %.1f MB of text, %d left to the office; peak RSS %ld MB\n",
                static_cast<unsigned long long>(units), static_cast<double>(bytes) / 1e6, forOffice,
                usage.ru_maxrss / 1024);
    // On a loaded machine the wall time says little; the main thread's CPU time is what the
    // reading costs on the thread that parses (a large part is inflated on a helper thread).
    std::printf("CPU %.3f s, of which the main thread %.3f s\n", cpu(usage), cpu(mainThread));
    const double ugrep = ugrepSeconds(folders);
    if (ugrep > 0) {
        std::printf("ugrep -z over the same folders: %.3f s; native reading once: %.3f s (%.2fx)\n",
                    ugrep, total / repeat, total / repeat / ugrep);
    }
    return 0;
}
