#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// The children this module started and has not reaped yet, and the statuses of those reaped
// in passing (so that a later waitForProcess still learns how they ended). Other code of the
// process may start children of its own; those are never waited for here.
struct Children {
    std::mutex mutex;
    std::vector<pid_t> running;
    std::deque<std::pair<pid_t, int>> ended;
};

// Bounds the statuses kept for children nobody waits for.
constexpr std::size_t kMaxEndedKept = 64;

Children& children() {
    static Children instance;
    return instance;
}

void rememberEnded(Children& state, pid_t pid, int status) {
    state.ended.emplace_back(pid, status);
    if (state.ended.size() > kMaxEndedKept)
        state.ended.pop_front();
}

// Reaps every started child that has ended, without blocking. Needs state.mutex held.
void reapEnded(Children& state) {
    auto& running = state.running;
    for (auto it = running.begin(); it != running.end();) {
        int status = 0;
        const pid_t rc = waitpid(*it, &status, WNOHANG);
        if (rc == *it) {
            rememberEnded(state, *it, status);
            it = running.erase(it);
        } else if (rc < 0 && errno == ECHILD) {
            it = running.erase(it);  // someone else reaped it; nothing to remember
        } else {
            ++it;
        }
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
        reapEnded(state);
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
    std::lock_guard lock(state.mutex);
    state.running.push_back(pid);
    return pid;
}

std::optional<int> waitForProcess(pid_t pid, const std::function<void()>& pumpEvents) {
    Children& state = children();
    {
        std::lock_guard lock(state.mutex);
        auto ended = std::find_if(state.ended.begin(), state.ended.end(),
                                  [pid](const auto& entry) { return entry.first == pid; });
        if (ended != state.ended.end()) {
            const int status = ended->second;
            state.ended.erase(ended);
            return status;
        }
        // pid <= 0 would wait for a whole group, and another pid may belong to code that
        // waits for it itself.
        if (std::find(state.running.begin(), state.running.end(), pid) == state.running.end()) {
            return std::nullopt;
        }
    }

    auto delay = std::chrono::milliseconds(1);
    while (true) {
        int status = 0;
        const pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid || (rc < 0 && errno != EINTR)) {
            std::lock_guard lock(state.mutex);
            auto& running = state.running;
            running.erase(std::remove(running.begin(), running.end(), pid), running.end());
            if (rc == pid)
                return status;
            // Reaped meanwhile by another thread's startProcess: its status may be recorded.
            auto ended = std::find_if(state.ended.begin(), state.ended.end(),
                                      [pid](const auto& entry) { return entry.first == pid; });
            if (ended == state.ended.end())
                return std::nullopt;
            const int endedStatus = ended->second;
            state.ended.erase(ended);
            return endedStatus;
        }
        if (rc == 0) {
            if (pumpEvents)
                pumpEvents();
            std::this_thread::sleep_for(delay);
            delay = std::min(delay * 2, std::chrono::milliseconds(10));
        }
    }
}

}  // namespace ferretta::platform
