// ferretta-cli processes searching a folder's PDF through the filter beside the user's own
// <base>.txt: several at once, in every order, some ended by signals. The user's file stays as
// it is, every search that ends of its own accord reports the folder's hits and nothing else,
// and nothing is left beside the user's files. Each signal at each stage of a filter run (the
// filter's own children, the work folder after SIGKILL) is the X-server scenario's
// window_safety step, over the same run code.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_tree.h"
#include "support/wait.h"

extern char** environ;

namespace ferretta::run {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kNotes = "the user's own notes, alpha\n";

using test::readFile;
using test::waitUntil;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

// Starts ferretta-cli on `docs` for the word alpha in PDFs and text files; its output goes to
// <home>/out, its messages to <home>/err.
pid_t startCli(const fs::path& home, const fs::path& docs) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (home / "out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (home / "err").c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::vector<std::string> env = {"FERRETTA_HOME=" + home.string(), "LC_ALL=C.UTF-8",
                                    "PATH=/usr/bin:/bin",
                                    "XDG_CACHE_HOME=" + (home / "cache").string()};
    std::vector<std::string> args = {FERRETTA_CLI_PATH, "--types=pdf,text", docs.string(), "alpha"};
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int finish(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return status;
}

// Two and four searches at once (two windows, a window and ferretta-cli, two users of a shared
// folder: each a data folder of its own), their filters ending in every order, with one of
// them killed or stopped by a signal while its filter runs in two rounds of three.
TEST(FilterRunsTest, SearchesAtOnceKeepTheUsersFile) {
    const test::TempTree tree;
    const fs::path dir = tree.root(), docs = dir / "docs";
    fs::create_directories(docs);
    std::ofstream(docs / "report.pdf") << "%PDF";
    std::ofstream(docs / "report.txt") << kNotes;
    // Writes its text where report.txt would be beside the PDF it is given, marks that it runs
    // ($3), then waits $2 seconds.
    std::ofstream(dir / "filter.sh") << "echo 'alpha in the pdf' > \"${1%.*}.txt\"; : > '"
                                     << dir.string() << "'/running-\"$3\"; sleep \"$2\"\n";
    // A data folder of its own whose settings run the filter with these arguments after %1.
    const auto home = [&](const std::string& name, const std::string& filterArguments) {
        const fs::path folder = dir / name;
        fs::create_directories(folder);
        std::ofstream(folder / "frtta.ini")
            << "[Search]\r\ntextTags=TXT\r\nTextCache=0\r\npdfOwnEngine=0\r\npdfFilterPath=sh '"
            << (dir / "filter.sh").string() << "' %1 " << filterArguments << "\r\n";
        return folder;
    };
    const fs::path alone = home("alone", "0 alone");
    ASSERT_EQ(WEXITSTATUS(finish(startCli(alone, docs))), 0) << readFile(alone / "err");
    const std::string expected = sortedLines(readFile(alone / "out"));
    ASSERT_NE(expected.find("report.pdf\",\"alpha in the pdf\""), std::string::npos) << expected;
    ASSERT_NE(expected.find("report.txt\",\"the user's own notes, alpha\""), std::string::npos);

    const std::vector<int> signals = {0, SIGKILL, SIGTERM};
    int round = 0;
    for (const int count : {2, 4}) {
        std::vector<int> order(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            order[static_cast<std::size_t>(i)] = i;
        int orders = 0;
        do {
            // Every order of two with each signal; every order of four, the signals taking turns.
            const std::vector<int> chosen =
                count == 2 ? signals : std::vector<int>{signals[orders++ % signals.size()]};
            for (const int signal : chosen) {
                ++round;
                SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(count) +
                             " searches, signal " + std::to_string(signal));
                std::vector<fs::path> homes;
                std::vector<pid_t> pids;
                for (int i = 0; i < count; ++i) {
                    const std::string id = std::to_string(round) + "-" + std::to_string(i);
                    const double delay = 0.05 * (order[static_cast<std::size_t>(i)] + 1);
                    homes.push_back(home("home-" + id, std::to_string(delay) + " " + id));
                }
                for (const fs::path& folder : homes)
                    pids.push_back(startCli(folder, docs));
                const std::size_t signalled = signal == SIGKILL ? 0 : pids.size() - 1;
                if (signal != 0) {
                    const fs::path mark = dir / ("running-" + std::to_string(round) + "-" +
                                                 std::to_string(signalled));
                    ASSERT_TRUE(waitUntil([&] { return fs::exists(mark); }, 20s));
                    ::kill(pids[signalled], signal);
                }
                for (std::size_t i = 0; i < pids.size(); ++i) {
                    const int status = finish(pids[i]);
                    if (signal != 0 && i == signalled) {
                        EXPECT_EQ(signal == SIGKILL, WIFSIGNALED(status));
                        continue;
                    }
                    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                        << status << readFile(homes[i] / "err");
                    EXPECT_EQ(sortedLines(readFile(homes[i] / "out")), expected) << i;
                }
                // The user's folder as it was made: the PDF and the user's own text file.
                EXPECT_EQ(readFile(docs / "report.txt"), kNotes);
                EXPECT_EQ(namesIn(docs), (std::vector<std::string>{"report.pdf", "report.txt"}));
            }
        } while (std::next_permutation(order.begin(), order.end()));
    }
    EXPECT_EQ(round, 30);
}

}  // namespace
}  // namespace ferretta::run
