#pragma once
// Regular expressions with the syntax of the VBScript/JScript engine, on PCRE2.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
    // The first match that starts at `from` or later, as [start, end) in UTF-16 code units
    // (start may equal end for a pattern that matches nothing); nullopt as for firstIndex.
    std::optional<std::pair<std::size_t, std::size_t>> match(std::u16string_view text,
                                                             std::size_t from) const;

  private:
    struct Impl;
    explicit Regex(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace ferretta::platform
