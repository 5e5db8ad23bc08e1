#pragma once
// Starting programs without a shell, and waiting for them.
#include <sys/types.h>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform {

// Splits a command line into words the way a POSIX shell splits a simple command, without any
// expansion: blanks and tabs separate words; '...' keeps everything literally; "..." keeps
// everything but lets backslash escape " \ $ ` and newline; an unquoted backslash escapes the
// next character. No variable, command, glob or tilde expansion ever happens: `$(x)` stays the
// text `$(x)`. Answers nullopt when a quote is left open.
std::optional<std::vector<std::string>> splitCommandLine(std::string_view commandLine);

// Starts argv[0] (looked up on PATH when it holds no '/') with the given arguments, in a new
// session of its own, stdin from /dev/null, and returns at once. Answers the process id, or
// nullopt when the program could not be started (not found, not executable); errorText then
// says why. The child is reaped as soon as it ends (its status kept for waitForProcess), so
// none stays a zombie.
std::optional<pid_t> startProcess(const std::vector<std::string>& argv,
                                  std::string* errorText = nullptr);

// Waits until the process has ended, calling pumpEvents between short sleeps (a few ms) so the
// user interface stays alive. Answers the exit status (as from waitpid), or nullopt when the
// process was not ours or could not be waited for; the wait then ends at once.
std::optional<int> waitForProcess(pid_t pid, const std::function<void()>& pumpEvents);

// Without waiting: the exit status of a process startProcess started that has ended (answered
// once, as waitForProcess would); nullopt while it runs, or for any other pid.
std::optional<int> takeEndedStatus(pid_t pid);

// Closes every descriptor from 3 up but those given. Async-signal-safe: for a forked child of
// a threaded program, before it runs another program.
void closeDescriptorsExcept(std::span<const int> keep);

// $PATH, or the PATH a shell uses when the environment has none.
std::string programSearchPath();

// The full path of an executable regular file called `name` in the first folder of the
// colon-separated list that holds one (an empty entry is the current folder, as for a shell).
// Empty when there is none or the name is empty or holds a '/'.
std::string findOnPath(std::string_view name, std::string_view searchPath);

// A program that works for this one and must not outlive it. It runs in a session of its own,
// watched by a small guardian process that ends the program and everything it started (also
// what it set apart in a session or process group of its own: the guardian is their
// subreaper) as soon as this program ends, however it ends (SIGKILL included), and as soon as
// the program's main process ends, so nothing it left in the background goes on writing.
// stdin is /dev/null; its standard output goes to our standard error, so it can never mix with
// our own output.
class GuardedProcess {
  public:
    // Starts argv[0] (looked up on PATH when it holds no '/'). nullopt when it cannot be started
    // (not found, not executable, no processes left); errorText then says why.
    static std::optional<GuardedProcess> start(const std::vector<std::string>& argv,
                                               std::string* errorText = nullptr);

    GuardedProcess(GuardedProcess&& other) noexcept;
    GuardedProcess& operator=(GuardedProcess&& other) noexcept;
    GuardedProcess(const GuardedProcess&) = delete;
    GuardedProcess& operator=(const GuardedProcess&) = delete;
    // Kills the group when it still runs, and reaps the guardian.
    ~GuardedProcess();

    // Waits until the program's main process has ended and everything it started has been
    // killed and reaped, calling pumpEvents between short sleeps. Answers its status as from
    // waitpid; nullopt when the guardian could not say (it was killed itself).
    std::optional<int> wait(const std::function<void()>& pumpEvents);
    // SIGTERM to the program's process group. Does nothing once it has ended.
    void terminate();
    // SIGKILL to the program and everything it started. Does nothing once it has ended.
    void kill();

  private:
    GuardedProcess(pid_t guardian, int commandFd, int statusFd)
        : m_guardian(guardian), m_commandFd(commandFd), m_statusFd(statusFd) {}
    void send(char command);
    void release();

    pid_t m_guardian = -1;
    int m_commandFd = -1;  // our end of the guardian's command socket; closing it ends the group
    int m_statusFd = -1;   // the guardian writes the program's status here before it goes
    std::optional<int> m_status;
};

}  // namespace ferretta::platform
