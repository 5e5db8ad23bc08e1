#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace ferretta::platform {

std::optional<std::vector<std::string>> splitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    // A word exists once any part of it was seen, so that "" yields an empty word.
    bool inWord = false;
    const std::size_t n = commandLine.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = commandLine[i];
        // CR and LF separate words too: a template read from a settings file may carry them.
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            ++i;
        } else if (c == '\\') {
            inWord = true;
            if (i + 1 >= n) {
                // Nothing left to escape: the backslash stays, as bash does with `echo a\`.
                word.push_back('\\');
                ++i;
            } else if (commandLine[i + 1] == '\n') {
                i += 2;  // line continuation
            } else {
                word.push_back(commandLine[i + 1]);
                i += 2;
            }
        } else if (c == '\'') {
            const std::size_t close = commandLine.find('\'', i + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            word.append(commandLine.substr(i + 1, close - i - 1));
            inWord = true;
            i = close + 1;
        } else if (c == '"') {
            inWord = true;
            ++i;
            bool closed = false;
            while (i < n) {
                const char d = commandLine[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < n) {
                    const char next = commandLine[i + 1];
                    if (next == '\n') {
                        i += 2;
                        continue;
                    }
                    if (next == '"' || next == '\\' || next == '$' || next == '`') {
                        word.push_back(next);
                        i += 2;
                        continue;
                    }
                }
                word.push_back(d);
                ++i;
            }
            if (!closed)
                return std::nullopt;
        } else {
            word.push_back(c);
            inWord = true;
            ++i;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

namespace {

// The children this module started and has not reaped yet, and the statuses of those that
// ended (so that a later waitForProcess still learns how they ended). Each child has a thread
// of its own that waits for it and reaps it the moment it ends: an editor or a viewer closed by
// the user must not stay a zombie until the next start. Other code of the process may start
// children of its own; those are never waited for here.
struct Children {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<pid_t> running;
    // Children whose reaper thread could not be started: reaped by the next start or wait.
    std::vector<pid_t> unwatched;
    std::deque<std::pair<pid_t, int>> ended;
};

// Bounds the statuses kept for children nobody waits for.
constexpr std::size_t kMaxEndedKept = 64;

Children& children() {
    // Never destroyed: reaper threads may still use it while the program exits.
    static auto* instance = new Children;
    return *instance;
}

void rememberEnded(Children& state, pid_t pid, int status) {
    state.ended.emplace_back(pid, status);
    if (state.ended.size() > kMaxEndedKept)
        state.ended.pop_front();
}

void forgetRunning(Children& state, pid_t pid) {
    auto& running = state.running;
    running.erase(std::remove(running.begin(), running.end(), pid), running.end());
}

// Reaps the unwatched children that have ended, without blocking. Needs state.mutex held.
void reapUnwatched(Children& state) {
    auto& unwatched = state.unwatched;
    for (auto it = unwatched.begin(); it != unwatched.end();) {
        int status = 0;
        const pid_t rc = waitpid(*it, &status, WNOHANG);
        if (rc == *it || (rc < 0 && errno == ECHILD)) {
            if (rc == *it)
                rememberEnded(state, *it, status);
            forgetRunning(state, *it);
            it = unwatched.erase(it);
        } else {
            ++it;
        }
    }
    state.changed.notify_all();
}

// Waits for the child on a thread of its own and records how it ended.
void watchChild(Children& state, pid_t pid) {
    try {
        std::thread([&state, pid] {
            int status = 0;
            pid_t rc = 0;
            do {
                rc = waitpid(pid, &status, 0);
            } while (rc < 0 && errno == EINTR);
            std::lock_guard lock(state.mutex);
            forgetRunning(state, pid);
            if (rc == pid)
                rememberEnded(state, pid, status);
            state.changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: reaped at the next start or wait instead.
        std::lock_guard lock(state.mutex);
        state.unwatched.push_back(pid);
    }
}

std::string errorMessage(int code) {
    return std::error_code(code, std::generic_category()).message();
}

// posix_spawn objects that are destroyed on every way out.
class SpawnSetup {
  public:
    SpawnSetup() {
        m_actionsOk = posix_spawn_file_actions_init(&m_actions) == 0;
        m_attributesOk = posix_spawnattr_init(&m_attributes) == 0;
    }
    ~SpawnSetup() {
        if (m_actionsOk)
            posix_spawn_file_actions_destroy(&m_actions);
        if (m_attributesOk)
            posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Answers 0 or the error number of the first step that failed.
    int prepare() {
        if (!m_actionsOk || !m_attributesOk)
            return ENOMEM;
        int rc =
            posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // The editor must not inherit the files this program has open (the file being
        // searched, the log); most are opened without O_CLOEXEC by libraries.
        if (rc == 0)
            rc = posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1);
#endif
        // A new session, so that closing our terminal or our process group does not take the
        // editor with it; default signal handling and an empty mask, whatever this program set.
        sigset_t allSignals;
        sigset_t noSignals;
        sigfillset(&allSignals);
        sigemptyset(&noSignals);
        if (rc == 0)
            rc = posix_spawnattr_setsigdefault(&m_attributes, &allSignals);
        if (rc == 0)
            rc = posix_spawnattr_setsigmask(&m_attributes, &noSignals);
        if (rc == 0) {
            rc = posix_spawnattr_setflags(
                &m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        }
        return rc;
    }

    const posix_spawn_file_actions_t* actions() const {
        return &m_actions;
    }
    const posix_spawnattr_t* attributes() const {
        return &m_attributes;
    }

  private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attributes{};
    bool m_actionsOk = false;
    bool m_attributesOk = false;
};

}  // namespace

std::optional<pid_t> startProcess(const std::vector<std::string>& argv, std::string* errorText) {
    auto setError = [errorText](const std::string& message) {
        if (errorText != nullptr)
            *errorText = message;
    };
    Children& state = children();
    {
        std::lock_guard lock(state.mutex);
        reapUnwatched(state);
    }
    if (argv.empty() || argv.front().empty()) {
        setError("no program to start");
        return std::nullopt;
    }

    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv) {
        // posix_spawnp takes char* const[] for historical reasons; it does not write to them.
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);

    SpawnSetup setup;
    int rc = setup.prepare();
    if (rc != 0) {
        setError("cannot start " + argv.front() + ": " + errorMessage(rc));
        return std::nullopt;
    }
    pid_t pid = 0;
    // glibc's posix_spawnp waits until the child has called exec, so "not found" and "not
    // executable" come back here instead of as an exit status of 127.
    rc = posix_spawnp(&pid, arguments.front(), setup.actions(), setup.attributes(),
                      arguments.data(), environ);
    if (rc != 0) {
        setError("cannot start " + argv.front() + ": " + errorMessage(rc));
        return std::nullopt;
    }
    {
        std::lock_guard lock(state.mutex);
        state.running.push_back(pid);
    }
    watchChild(state, pid);
    return pid;
}

namespace {

// The status of an ended child, taken out of the list. Needs state.mutex held.
std::optional<int> takeEnded(Children& state, pid_t pid) {
    reapUnwatched(state);
    auto ended = std::find_if(state.ended.begin(), state.ended.end(),
                              [pid](const auto& entry) { return entry.first == pid; });
    if (ended == state.ended.end())
        return std::nullopt;
    const int status = ended->second;
    state.ended.erase(ended);
    return status;
}

}  // namespace

std::optional<int> takeEndedStatus(pid_t pid) {
    Children& state = children();
    std::lock_guard lock(state.mutex);
    return takeEnded(state, pid);
}

std::optional<int> waitForProcess(pid_t pid, const std::function<void()>& pumpEvents) {
    Children& state = children();
    auto delay = std::chrono::milliseconds(1);
    std::unique_lock lock(state.mutex);
    for (;;) {
        if (const auto status = takeEnded(state, pid))
            return status;
        // pid <= 0 would wait for a whole group, and another pid may belong to code that
        // waits for it itself.
        if (std::find(state.running.begin(), state.running.end(), pid) == state.running.end())
            return std::nullopt;
        if (pumpEvents) {
            lock.unlock();
            pumpEvents();
            lock.lock();
        }
        state.changed.wait_for(lock, delay);
        delay = std::min(delay * 2, std::chrono::milliseconds(10));
    }
}

void closeDescriptorsExcept(std::span<const int> keep) {
    // The kept descriptors in ascending order, without allocating: a few passes over a few.
    unsigned first = 3;
    for (;;) {
        int next = -1;
        for (const int fd : keep) {
            if (fd >= static_cast<int>(first) && (next < 0 || fd < next))
                next = fd;
        }
        if (next < 0)
            break;
        if (static_cast<unsigned>(next) > first)
            ::close_range(first, static_cast<unsigned>(next) - 1, 0);
        first = static_cast<unsigned>(next) + 1;
    }
    ::close_range(first, ~0U, 0);
}

std::string programSearchPath() {
    if (const char* path = std::getenv("PATH"); path != nullptr)
        return path;
    const std::size_t size = ::confstr(_CS_PATH, nullptr, 0);
    if (size == 0)
        return "/bin:/usr/bin";
    std::string path(size, '\0');
    ::confstr(_CS_PATH, path.data(), size);
    path.resize(size - 1);  // the terminating NUL
    return path;
}

std::string findOnPath(std::string_view name, std::string_view searchPath) {
    if (name.empty() || name.find('/') != std::string_view::npos)
        return {};
    std::size_t at = 0;
    for (;;) {
        const std::size_t colon = searchPath.find(':', at);
        std::string folder(
            searchPath.substr(at, colon == std::string_view::npos ? colon : colon - at));
        if (folder.empty())
            folder = ".";
        std::string candidate = folder + (folder.back() == '/' ? "" : "/") + std::string(name);
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos)
            return {};
        at = colon + 1;
    }
}

namespace {

// Commands of the guardian's socket: end the group gently, or at once. The end of the pipe (our
// program has gone) counts as the second.
constexpr char kTerminateGroup = 't';
constexpr char kKillGroup = 'k';

void closeIfOpen(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Default handling and no blocked signal, as a freshly started program expects.
void resetSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &action, nullptr);  // fails harmlessly for KILL, STOP, RT slots
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

bool writeWhole(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

struct GuardianFds {
    int commandRead;
    int statusWrite;
    int execErrorWrite;
    int devNull;
};

// SIGKILL to every child of this process, as the kernel lists them
// (/proc/self/task/<tid>/children; the guardian has one thread). Async-signal-safe.
void killChildren() {
    char path[64] = "/proc/self/task/";
    char digits[24];
    int length = 0;
    for (pid_t self = ::getpid(); self > 0; self /= 10)
        digits[length++] = static_cast<char>('0' + self % 10);
    std::size_t at = std::strlen(path);
    while (length > 0)
        path[at++] = digits[--length];
    std::memcpy(path + at, "/children", sizeof "/children");
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char buffer[512];
    pid_t pid = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] >= '0' && buffer[i] <= '9') {
                pid = pid * 10 + (buffer[i] - '0');
            } else if (pid > 0) {
                ::kill(pid, SIGKILL);
                pid = 0;
            }
        }
    }
    if (pid > 0)
        ::kill(pid, SIGKILL);
    ::close(fd);
}

// Ends the program's group and then everything else still running below this process, and
// reaps them all. The guardian is a subreaper, so whatever the program left behind in a
// session or group of its own (setsid, a double fork) became its child when its parent ended;
// every round kills the children there are, whose own children then come here in turn.
// Answers whether the program was reaped here; its status then is in `programStatus`.
bool endEverything(pid_t program, int& programStatus) {
    // Not reaped yet, so its number still names its group and nothing else.
    ::kill(-program, SIGKILL);
    bool reaped = false;
    for (;;) {
        killChildren();
        int status = 0;
        pid_t rc = 0;
        while ((rc = ::waitpid(-1, &status, WNOHANG)) > 0) {
            if (rc == program) {
                programStatus = status;
                reaped = true;
            }
        }
        if (rc < 0 && errno == ECHILD)
            return reaped;
        const timespec pause{0, 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

// The forked guardian. It is a copy of a possibly threaded process, so it makes
// async-signal-safe calls only. It leads a new session, starts the program there in a group of
// its own, and then waits for whichever comes first: a command, the end of the command pipe,
// or the end of the program. Every way ends the program's group and everything the program
// started (endEverything) before the guardian goes; the program's status, when there is one,
// is written last, so that whoever reads it knows nothing of the program runs any more.
[[noreturn]] void guardianMain(const GuardianFds& fds, const char* path, char* const* argv,
                               char* const* envp) {
    resetSignals();
    ::signal(SIGTERM, SIG_IGN);  // the session's SIGTERM is for the program, not for us
    ::setsid();
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    // Nothing of ours but these stays open in the group (and stdin, stdout, stderr).
    const int keep[] = {fds.commandRead, fds.statusWrite, fds.execErrorWrite, fds.devNull};
    closeDescriptorsExcept(keep);

    const pid_t program = ::fork();
    if (program == 0) {
        ::setpgid(0, 0);
        ::signal(SIGTERM, SIG_DFL);
        ::dup2(fds.devNull, STDIN_FILENO);
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        ::execve(path, argv, envp);
        const int error = errno;
        writeWhole(fds.execErrorWrite, &error, sizeof error);
        ::_exit(127);
    }
    if (program < 0) {
        const int error = errno;
        writeWhole(fds.execErrorWrite, &error, sizeof error);
        ::_exit(126);
    }
    ::setpgid(program, program);  // as the program does, whichever comes first
    ::close(fds.execErrorWrite);  // the program's exec closes the other copy

    auto finish = [&](int exitCode) {
        int status = 0;
        if (endEverything(program, status))
            writeWhole(fds.statusWrite, &status, sizeof status);
        ::_exit(exitCode);
    };
    // A descriptor that becomes readable when the program ends; without one (old kernels),
    // the program is looked at every few milliseconds.
    const int programFd = static_cast<int>(::syscall(SYS_pidfd_open, program, 0));
    for (;;) {
        pollfd watched[2] = {{fds.commandRead, POLLIN, 0}, {programFd, POLLIN, 0}};
        const int ready = ::poll(watched, programFd >= 0 ? 2 : 1, programFd >= 0 ? -1 : 5);
        if (ready > 0 && watched[0].revents != 0) {
            char command = 0;
            const ssize_t n = ::read(fds.commandRead, &command, 1);
            if (n == 1 && command == kTerminateGroup) {
                ::kill(-program, SIGTERM);
            } else if (n == 0 || (n == 1 && command == kKillGroup) || (n < 0 && errno != EINTR)) {
                finish(1);
            }
        }
        // Seen without reaping it: until it is reaped its number cannot name another group.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(program), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == program) {
            finish(0);
        }
    }
}

}  // namespace

std::optional<GuardedProcess> GuardedProcess::start(const std::vector<std::string>& argv,
                                                    std::string* errorText) {
    auto failure = [errorText](const std::string& message) {
        if (errorText != nullptr)
            *errorText = message;
        return std::nullopt;
    };
    if (argv.empty() || argv.front().empty())
        return failure("no program to start");
    std::string path = argv.front();
    if (path.find('/') == std::string::npos) {
        path = findOnPath(path, programSearchPath());
        if (path.empty())
            return failure("cannot start " + argv.front() + ": " + errorMessage(ENOENT));
    }
    std::vector<char*> arguments;
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));  // execve does not write
    arguments.push_back(nullptr);

    int command[2] = {-1, -1};
    int status[2] = {-1, -1};
    int execError[2] = {-1, -1};
    int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    auto closeAll = [&] {
        for (int* pipe : {command, status, execError}) {
            closeIfOpen(pipe[0]);
            closeIfOpen(pipe[1]);
        }
        closeIfOpen(devNull);
    };
    // A socket rather than a pipe for the commands: sending to a guardian that has gone must
    // not raise SIGPIPE in this program.
    if (devNull < 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, command) != 0 ||
        ::pipe2(status, O_CLOEXEC) != 0 || ::pipe2(execError, O_CLOEXEC) != 0) {
        const int error = errno;
        closeAll();
        return failure("cannot start " + argv.front() + ": " + errorMessage(error));
    }
    const pid_t guardian = ::fork();
    if (guardian == 0) {
        guardianMain({command[0], status[1], execError[1], devNull}, path.c_str(), arguments.data(),
                     environ);
    }
    const int forkError = errno;
    closeIfOpen(command[0]);
    closeIfOpen(status[1]);
    closeIfOpen(execError[1]);
    closeIfOpen(devNull);
    if (guardian < 0) {
        closeAll();
        return failure("cannot start " + argv.front() + ": " + errorMessage(forkError));
    }
    // Nothing to read means the program is running; an error number means it never started.
    GuardedProcess process(guardian, command[1], status[0]);
    command[1] = status[0] = -1;
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(execError[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    closeIfOpen(execError[0]);
    if (got > 0) {
        process.wait({});
        return failure("cannot start " + argv.front() + ": " + errorMessage(error));
    }
    return process;
}

GuardedProcess::GuardedProcess(GuardedProcess&& other) noexcept
    : m_guardian(std::exchange(other.m_guardian, -1)),
      m_commandFd(std::exchange(other.m_commandFd, -1)),
      m_statusFd(std::exchange(other.m_statusFd, -1)),
      m_status(other.m_status) {}

GuardedProcess& GuardedProcess::operator=(GuardedProcess&& other) noexcept {
    if (this != &other) {
        release();
        m_guardian = std::exchange(other.m_guardian, -1);
        m_commandFd = std::exchange(other.m_commandFd, -1);
        m_statusFd = std::exchange(other.m_statusFd, -1);
        m_status = other.m_status;
    }
    return *this;
}

GuardedProcess::~GuardedProcess() {
    release();
}

void GuardedProcess::release() {
    if (m_guardian > 0) {
        send(kKillGroup);
        closeIfOpen(m_commandFd);
        int status = 0;
        while (::waitpid(m_guardian, &status, 0) < 0 && errno == EINTR) {
        }
        m_guardian = -1;
    }
    closeIfOpen(m_commandFd);
    closeIfOpen(m_statusFd);
}

void GuardedProcess::send(char command) {
    if (m_commandFd >= 0)
        ::send(m_commandFd, &command, 1, MSG_NOSIGNAL);
}

void GuardedProcess::terminate() {
    send(kTerminateGroup);
}

void GuardedProcess::kill() {
    send(kKillGroup);
}

std::optional<int> GuardedProcess::wait(const std::function<void()>& pumpEvents) {
    auto delay = std::chrono::milliseconds(1);
    while (m_guardian > 0) {
        int guardianStatus = 0;
        const pid_t rc = ::waitpid(m_guardian, &guardianStatus, WNOHANG);
        if (rc == m_guardian || (rc < 0 && errno != EINTR)) {
            m_guardian = -1;
            closeIfOpen(m_commandFd);
            int status = 0;
            ssize_t got = 0;
            do {
                got = ::read(m_statusFd, &status, sizeof status);
            } while (got < 0 && errno == EINTR);
            closeIfOpen(m_statusFd);
            if (got == static_cast<ssize_t>(sizeof status))
                m_status = status;
            break;
        }
        if (rc == 0) {
            if (pumpEvents)
                pumpEvents();
            std::this_thread::sleep_for(delay);
            delay = std::min(delay * 2, std::chrono::milliseconds(10));
        }
    }
    return m_status;
}

}  // namespace ferretta::platform
