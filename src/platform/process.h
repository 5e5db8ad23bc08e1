#pragma once
// Starting programs without a shell, and waiting for them.
#include <sys/types.h>
#include <functional>
#include <optional>
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
// says why. Children that ended are reaped on later calls, so none stays a zombie for long.
std::optional<pid_t> startProcess(const std::vector<std::string>& argv,
                                  std::string* errorText = nullptr);

// Waits until the process has ended, calling pumpEvents between short sleeps (a few ms) so the
// user interface stays alive. Answers the exit status (as from waitpid), or nullopt when the
// process was not ours or could not be waited for; the wait then ends at once.
std::optional<int> waitForProcess(pid_t pid, const std::function<void()>& pumpEvents);

}  // namespace ferretta::platform
