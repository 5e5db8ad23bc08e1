#include "platform/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "support/temp_tree.h"
#include "support/wait.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;
using test::readFile;
using namespace std::chrono_literals;

TEST(SplitCommandLineTest, SplitsLikeAShellWithoutExpansion) {
    const std::pair<const char*, std::optional<Words>> cases[] = {
        {"gedit +%2:%3 \"%1\"", Words{"gedit", "+%2:%3", "%1"}},
        {"  a \t b\t\tc  ", Words{"a", "b", "c"}},
        {"", Words{}},
        {"a\"b c\"'d'", Words{"ab cd"}},
        {"\"\"", Words{""}},
        {"a '' b", Words{"a", "", "b"}},
        {"'a \"b\" \\c'", Words{"a \"b\" \\c"}},
        {"\"a \\\" \\\\ \\$ \\` \\x\"", Words{"a \" \\ $ ` \\x"}},
        {"a\\ b", Words{"a b"}},
        {"a\\", Words{"a\\"}},
        {"a\\\nb", Words{"ab"}},
        {"\"a\\\nb\"", Words{"ab"}},
        {"\"$(rm -rf ~)\" `id` $HOME *", Words{"$(rm -rf ~)", "`id`", "$HOME", "*"}},
        {"a;b|c&d>e", Words{"a;b|c&d>e"}},
        {"a\r\nb", Words{"a", "b"}},
        {"\"\xe3\x81\x82 x\"", Words{"\xe3\x81\x82 x"}},
        {"\"abc", std::nullopt},
        {"'abc", std::nullopt},
        {"a \"b\\\"", std::nullopt},
    };
    for (const auto& [line, words] : cases)
        EXPECT_EQ(splitCommandLine(line), words) << "line: " << line;
}

class ProcessTest : public ::testing::Test {
  protected:
    // Starts argv and waits for it; the exit code, or -1 when it did not exit normally.
    static int run(const std::vector<std::string>& argv) {
        std::string error;
        const auto pid = startProcess(argv, &error);
        EXPECT_TRUE(pid.has_value()) << error;
        const auto status = pid ? waitForProcess(*pid, [] {}) : std::nullopt;
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    const test::TempTree m_tree;
    const fs::path& m_folder = m_tree.root();
};

// No shell comes between: a name full of shell syntax is one argument, never evaluated.
TEST_F(ProcessTest, HostileFileNameStaysOneArgumentAndStatusComesBack) {
    const std::string file = m_folder.string() + "/$(touch PWNED) `touch PWNED`;touch PWNED";
    EXPECT_EQ(run({"sh", "-c", "cd \"$2\" && printf '%s|%s' $# \"$1\" > out", "sh", file,
                   m_folder.string()}),
              0);
    EXPECT_EQ(readFile(m_folder / "out"), "2|" + file);
    EXPECT_FALSE(fs::exists(m_folder / "PWNED") || fs::exists("PWNED"));

    EXPECT_EQ(run({"true"}), 0);  // looked up on PATH
    EXPECT_EQ(run({"sh", "-c", "exit 3"}), 3);
    const auto pid = startProcess({"sh", "-c", "kill -9 $$"});
    ASSERT_TRUE(pid);
    const auto status = waitForProcess(*pid, {});  // an empty pump is allowed
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status));
}

TEST_F(ProcessTest, ProgramsThatCannotStartFail) {
    const fs::path notExecutable = m_tree.write("script.sh", "#!/bin/sh\nexit 0\n");
    fs::permissions(notExecutable, fs::perms::owner_read | fs::perms::owner_write);
    const Words cases[] = {{"ferretta-no-such-program-here"},
                           {"/nonexistent/folder/program"},
                           {notExecutable.string()},
                           {m_folder.string()},
                           {},
                           {""}};
    for (const auto& argv : cases) {
        std::string error, guardedError;
        EXPECT_FALSE(startProcess(argv, &error).has_value()) << (argv.empty() ? "" : argv[0]);
        EXPECT_FALSE(GuardedProcess::start(argv, &guardedError));
        EXPECT_FALSE(error.empty() || guardedError.empty());
    }
    std::string error;
    EXPECT_FALSE(startProcess({"ferretta-no-such-program-here"}, &error));
    EXPECT_NE(error.find("ferretta-no-such-program-here"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(startProcess({"/nonexistent"}));  // no error text wanted
}

TEST_F(ProcessTest, ChildGetsNullStdinOwnSessionAndNoStrayFiles) {
    const int leaked = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 0);
    const std::string script = "readlink /proc/$$/fd/0; test -e /proc/$$/fd/" +
                               std::to_string(leaked) +
                               " && echo leaked; cut -d' ' -f6 /proc/$$/stat";
    const auto pid =
        startProcess({"sh", "-c", "{ " + script + "; } > \"$1\"", "sh", m_folder / "out"});
    ::close(leaked);
    ASSERT_TRUE(pid && waitForProcess(*pid, {}));
    EXPECT_EQ(readFile(m_folder / "out"), "/dev/null\n" + std::to_string(*pid) + "\n");
}

TEST_F(ProcessTest, WaitingPumpsEventsWithoutSpinning) {
    const auto pid = startProcess({"sleep", "0.2"});
    ASSERT_TRUE(pid);
    int pumps = 0;
    const auto status = waitForProcess(*pid, [&pumps] { ++pumps; });
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_GE(pumps, 5);
    // Sleeping at most 10 ms between polls gives about 25 rounds in 200 ms; a busy loop
    // gives millions.
    EXPECT_LE(pumps, 200);
}

TEST_F(ProcessTest, OnlyOwnChildrenAreWaitedFor) {
    int pumps = 0;
    const auto pump = [&pumps] { ++pumps; };
    for (pid_t pid : {getpid(), 0, -1, 1})
        EXPECT_FALSE(waitForProcess(pid, pump)) << pid;

    // A child that other code started (fork here) is left for that code to reap.
    const pid_t foreign = fork();
    ASSERT_GE(foreign, 0);
    if (foreign == 0)
        _exit(7);
    EXPECT_FALSE(waitForProcess(foreign, pump));
    EXPECT_EQ(pumps, 0);
    // Starting a process reaps our own ended children only.
    ASSERT_TRUE(startProcess({"/bin/true"}));
    int status = 0;
    ASSERT_EQ(waitpid(foreign, &status, 0), foreign);
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(ProcessTest, AnEndedChildIsReapedAtOnceAndItsStatusKept) {
    const auto first = startProcess({"sh", "-c", "exit 5"});
    ASSERT_TRUE(first);
    // No zombie left behind, without any later start: the kernel soon no longer knows it as
    // our child (looked at without reaping it).
    EXPECT_TRUE(test::waitUntil([&] {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(*first), &info, WEXITED | WNOHANG | WNOWAIT) < 0 &&
               errno == ECHILD;
    }));
    const auto kept = waitForProcess(*first, {});
    ASSERT_TRUE(kept);
    EXPECT_EQ(WEXITSTATUS(*kept), 5);
    EXPECT_FALSE(waitForProcess(*first, {}));  // answered once
}

// The process id the file will hold; 0 when it stays empty.
pid_t readPid(const fs::path& file) {
    test::waitUntil([&] { return !readFile(file).empty(); });
    return static_cast<pid_t>(std::stol("0" + readFile(file)));
}

// Leaves sleepers behind, their ids in the files $2, $3 and $4: one in the background, one in
// a session of its own and one set apart by a double fork.
constexpr const char* kLeaveSleepers =
    "sleep 300 & echo $! > \"$2\"; "
    "setsid sh -c 'echo $$ > \"$1\"; exec sleep 300' sh \"$3\" & "
    "(setsid sh -c 'echo $$ > \"$1\"; exec sleep 300' sh \"$4\" &); "
    "while [ ! -s \"$3\" ] || [ ! -s \"$4\" ]; do sleep 0.01; done; ";

TEST_F(ProcessTest, AGuardedProgramRunsApartAndLeavesNothingBehind) {
    const fs::path session = m_folder / "session";
    const std::vector<fs::path> sleepers = {m_folder / "s1", m_folder / "s2", m_folder / "s3"};
    // Copies stdin to stdout, reports its session, leaves sleepers behind and ends with 4.
    const std::string script = "cat; echo on-stdout; cut -d' ' -f6 /proc/$$/stat > \"$1\"; " +
                               std::string(kLeaveSleepers) + "exit 4";
    testing::internal::CaptureStderr();
    std::string error;
    auto process =
        GuardedProcess::start({"sh", "-c", script, "sh", session.string(), sleepers[0].string(),
                               sleepers[1].string(), sleepers[2].string()},
                              &error);
    int pumps = 0;
    const auto status = process ? process->wait([&pumps] { ++pumps; }) : std::nullopt;
    const std::string stderrText = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(status) << error;
    EXPECT_EQ(WEXITSTATUS(*status), 4);
    EXPECT_GE(pumps, 1);
    EXPECT_EQ(stderrText, "on-stdout\n");  // its stdout is our stderr; its stdin is empty
    EXPECT_NE(std::stol("0" + readFile(session)), static_cast<long>(::getsid(0)));
    for (const fs::path& sleeper : sleepers)
        EXPECT_TRUE(test::processEnded(readPid(sleeper))) << sleeper;
}

// However this program ends, SIGKILL included, the program and what it left end with it.
TEST_F(ProcessTest, AGuardedProgramEndsWithItsCaller) {
    const std::vector<fs::path> sleepers = {m_folder / "s1", m_folder / "s2", m_folder / "s3"};
    const pid_t caller = fork();
    ASSERT_GE(caller, 0);
    if (caller == 0) {
        auto process = GuardedProcess::start({"sh", "-c", std::string(kLeaveSleepers) + "wait",
                                              "sh", "-", sleepers[0].string(), sleepers[1].string(),
                                              sleepers[2].string()});
        for (const fs::path& sleeper : sleepers)
            readPid(sleeper);
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(caller, &status, 0), caller);
    ASSERT_TRUE(WIFSIGNALED(status));
    for (const fs::path& sleeper : sleepers) {
        const pid_t pid = readPid(sleeper);
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(test::waitUntil([pid] { return test::processEnded(pid); }, 2s)) << sleeper;
    }
}

}  // namespace
}  // namespace ferretta::platform
