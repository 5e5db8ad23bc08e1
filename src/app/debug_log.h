#pragma once
// The developer's trace: off at start-up, switched on from the About box. While on, selected
// places append one line each: "<date> <time> - <place> - <message>", CP932, CR LF. Any thread
// may write; lines are never mixed.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace ferretta::app {

class DebugLog {
  public:
    explicit DebugLog(std::filesystem::path path) : m_path(std::move(path)) {}
    ~DebugLog();
    DebugLog(const DebugLog&) = delete;
    DebugLog& operator=(const DebugLog&) = delete;

    // Opens the file for appending (created when missing) and writes the opening marker.
    // False when the log is already open or the file cannot be opened; the log stays as it was.
    bool logOpen();

    // Writes the closing marker and closes the file. False when the log is not open.
    bool logClose();

    // Appends one line while the log is open (true); does nothing and answers false while it is
    // closed. A failed write is not reported: the trace must never disturb the search.
    bool logWrite(std::string_view place, std::string_view message);

    bool isLogOpen() const { return m_file.load() != nullptr; }
    const std::filesystem::path& path() const { return m_path; }

    // The line for a moment, without its CR LF: "2026/12/07 9:05:03 - place - message".
    static std::string formatLine(const std::tm& localTime, std::string_view place,
                                  std::string_view message);

  private:
    std::filesystem::path m_path;
    std::mutex m_mutex;
    std::atomic<std::FILE*> m_file = nullptr;
};

// The process's log, in the data folder.
DebugLog& debugLog();

// Shorthand for debugLog().logWrite(place, message).
bool logWrite(std::string_view place, std::string_view message);

}  // namespace ferretta::app
