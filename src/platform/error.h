#pragma once
// The project's one exception type: a run-time failure that travels up to the caller that the
// program lets handle it (for the search, the search command ends the search with its message).
#include <stdexcept>
#include <string>

namespace ferretta {

class Error : public std::runtime_error {
  public:
    // Automation: a call into an Office application failed; code() is its error number.
    enum class Kind { FileOpen, FileRead, FolderList, InvalidPattern, Automation, Other };
    Error(Kind kind, const std::string& what, long code = 0)
        : std::runtime_error(what), m_kind(kind), m_code(code) {}
    Kind kind() const noexcept { return m_kind; }
    // The error number the failing component gave (0 when it gave none).
    long code() const noexcept { return m_code; }

  private:
    Kind m_kind;
    long m_code;
};

}  // namespace ferretta
