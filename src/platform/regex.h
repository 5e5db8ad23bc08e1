#pragma once
// Regular expressions with the syntax of the VBScript/JScript engine, on PCRE2.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::platform {

class Regex {
  public:
    // Compiles a pattern (UTF-8), case-insensitively. Answers nullopt and fills errorText when
    // the pattern is invalid.
    static std::optional<Regex> compile(std::string_view pattern, std::string* errorText = nullptr);

    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;
    ~Regex();

    // The 0-based index, in UTF-16 code units, of the start of the first match in the text;
    // nullopt when there is no match or the engine gives up (match limit reached). Several
    // threads may match with one pattern at once.
    std::optional<std::size_t> firstIndex(std::u16string_view text) const;

  private:
    struct Impl;
    explicit Regex(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace ferretta::platform
