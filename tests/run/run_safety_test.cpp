// ferretta-cli ended by a signal at each stage of a PDF filter run: the user's <base>.txt that
// the run moved aside is back, the filter and everything it started are gone, and a run killed
// outright is put right by the next start.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_tree.h"
#include "support/wait.h"

extern char** environ;

namespace ferretta::run {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kNotes = "the user's own notes\n";

using test::readFile;

using test::waitUntil;

enum class Stage { FilterRunning, ReadingOutput };

class StopSignalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(m_dir / "docs");
        fs::create_directories(m_dir / "home");
        std::ofstream(m_dir / "docs" / "a.pdf") << "%PDF";
        // The filter writes its text where the user's a.txt belongs, then either stays (with a
        // child of its own) until it is ended, or leaves a long text of hits to read.
        std::ofstream(m_dir / "filter.sh")
            << "if [ \"$2\" = running ]; then echo alpha > \"${1%.*}.txt\"; "
               "sleep 300 & echo $! > '"
            << (m_dir / "sleeper").string()
            << "'; wait; else seq -f 'alpha %g' 40000 > \"${1%.*}.txt\"; fi\n";
    }

    void configure(Stage stage) {
        std::ofstream(m_dir / "home" / "frtta.ini")
            << "[Search]\r\ntargetFileType13=True\r\npdfOwnEngine=0\r\npdfFilterPath=sh '"
            << (m_dir / "filter.sh").string() << "' %1 "
            << (stage == Stage::FilterRunning ? "running" : "reading") << "\r\n";
    }

    // Starts ferretta-cli on the folder; its standard output comes through m_out.
    pid_t startCli(const std::string& types) {
        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (m_dir / "err").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        const std::string home = "FERRETTA_HOME=" + (m_dir / "home").string();
        std::vector<std::string> env = {home, "LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (auto& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = {FERRETTA_CLI_PATH, "--types=" + types,
                                         (m_dir / "docs").string(), "alpha"};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = ::fdopen(out[0], "r");
        return pid;
    }

    // Reads the output to its end; answers the exit status.
    int finish(pid_t pid) {
        char buffer[65536];
        while (std::fread(buffer, 1, sizeof buffer, m_out) > 0) {
        }
        std::fclose(m_out);
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        return status;
    }

    test::TempTree m_tree;
    fs::path m_dir = m_tree.root();
    std::FILE* m_out = nullptr;
};

TEST_F(StopSignalTest, TheUsersFileIsBackWhateverEndsTheRun) {
    for (const Stage stage : {Stage::FilterRunning, Stage::ReadingOutput}) {
        configure(stage);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGKILL}) {
            SCOPED_TRACE(std::string(stage == Stage::FilterRunning ? "filter running, "
                                                                   : "reading output, ") +
                         strsignal(signal));
            std::ofstream(m_dir / "docs" / "a.txt") << kNotes;
            fs::remove(m_dir / "sleeper");
            const pid_t cli = startCli("pdf");
            if (stage == Stage::FilterRunning) {
                ASSERT_TRUE(waitUntil([&] { return !readFile(m_dir / "sleeper").empty(); }, 10s));
            } else {
                // A first hit has come, so the filter has ended and its text is being read;
                // the output is not read meanwhile, so the program waits in the middle.
                char line[256];
                ASSERT_NE(std::fgets(line, sizeof line, m_out), nullptr);
            }
            EXPECT_NE(readFile(m_dir / "docs" / "a.txt"), kNotes);  // really moved aside
            ASSERT_EQ(::kill(cli, signal), 0);
            const int status = finish(cli);
            if (signal == SIGKILL) {
                ASSERT_TRUE(WIFSIGNALED(status));
                // The next start of the program puts the file back.
                EXPECT_NE(readFile(m_dir / "docs" / "a.txt"), kNotes);
                EXPECT_EQ(WEXITSTATUS(finish(startCli("text"))), 1);
            } else {
                // The search unwound and the program ended of its own accord.
                EXPECT_TRUE(WIFEXITED(status)) << status;
            }
            EXPECT_EQ(readFile(m_dir / "docs" / "a.txt"), kNotes);
            for (const auto& entry : fs::directory_iterator(m_dir / "docs"))
                EXPECT_EQ(entry.path().filename().string().rfind("ferrettatmp", 0),
                          std::string::npos);
            EXPECT_TRUE(fs::is_empty(m_dir / "home" / "restore"));
            if (stage == Stage::FilterRunning) {
                const pid_t sleeper = std::stoi(readFile(m_dir / "sleeper"));
                EXPECT_TRUE(waitUntil([&] { return test::processEnded(sleeper); }, 3s));
            }
        }
    }
}

}  // namespace
}  // namespace ferretta::run
