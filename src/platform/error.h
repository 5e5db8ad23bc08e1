#pragma once
// The project's one exception type: a run-time failure that travels up to the caller that the
// program lets handle it (for the search, the search command ends the search with its message).
#include <stdexcept>
#include <string>

namespace ferretta {

class Error : public std::runtime_error {
  public:
    enum class Kind { FileOpen, FileRead, FolderList, InvalidPattern, Other };
    Error(Kind kind, const std::string& what) : std::runtime_error(what), m_kind(kind) {}
    Kind kind() const noexcept { return m_kind; }

  private:
    Kind m_kind;
};

}  // namespace ferretta
