#include "platform/desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

#include "platform/process.h"

extern char** environ;

namespace ferretta::platform {

namespace {

constexpr auto kQueryTimeout = std::chrono::seconds(2);
constexpr std::size_t kMaxAnswer = 4096;

// Closes a descriptor on every way out.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd;
};

// Runs argv (looked up on PATH) in a process group of its own, with no input and its errors
// discarded, and answers what it wrote to its output. A program that does not end within the
// timeout is killed with its group; the answer is then empty.
std::string outputOf(const std::array<const char*, 5>& argv) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return {};
    Descriptor readEnd(fds[0]);
    Descriptor writeEnd(fds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return {};
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return {};
    }
    int rc = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (rc == 0)
        rc = posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    if (rc == 0)
        rc = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (rc == 0)
        rc = posix_spawnattr_setpgroup(&attributes, 0);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    if (rc == 0) {
        rc = posix_spawnp(&pid, argv[0], &actions, &attributes,
                          const_cast<char* const*>(argv.data()), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0)
        return {};
    writeEnd.reset();  // the child holds the only writer now: its end ends the reading

    std::string answer;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + kQueryTimeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd poller{readEnd.get(), POLLIN, 0};
        const int ready = poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buffer[512];
        const ssize_t got = read(readEnd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (answer.size() < kMaxAnswer)
            answer.append(buffer, static_cast<std::size_t>(got));
    }
    if (timedOut)
        kill(-pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return answer;
}

}  // namespace

std::string defaultApplicationFor(std::string_view mimeType) {
    const std::string type(mimeType);
    std::string answer = outputOf({"xdg-mime", "query", "default", type.c_str(), nullptr});
    // One line: the entry's name.
    answer = answer.substr(0, answer.find('\n'));
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r'))
        answer.pop_back();
    return answer;
}

bool isExecutableProgram(std::string_view program) {
    if (program.find('/') != std::string_view::npos)
        return access(std::string(program).c_str(), X_OK) == 0;
    return !findOnPath(program, programSearchPath()).empty();
}

}  // namespace ferretta::platform
