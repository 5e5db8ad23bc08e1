#pragma once
// Regular expressions with the syntax of the VBScript/JScript engine, on PCRE2.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ferretta::platform {

// What a pattern in the JScript syntax is made of, element by element, in order: what the one
// reader of that syntax (the one that translates patterns for the engine) tells whoever else
// needs to know the pattern's shape. Each element is ignored unless overridden.
class PatternVisitor {
  public:
    virtual ~PatternVisitor() = default;
    // A character the pattern matches as it is (letters in either case).
    virtual void literal(char32_t /*c*/) {}
    // An atom that is no one character: '.', a class, a class escape, a back-reference, a
    // character that can never be in a text.
    virtual void otherAtom() {}
    // A zero-width assertion: ^ $ \b \B.
    virtual void assertion() {}
    // The atom before repeats at least `least` times.
    virtual void quantifier(std::size_t /*least*/) {}
    // A group of any kind (lookarounds too) opens or closes.
    virtual void groupOpen() {}
    virtual void groupClose() {}
    // '|' between alternatives.
    virtual void alternative() {}
};

// Reads the pattern (UTF-16) and tells the visitor its elements. False, with `errorText` filled
// when given, when the reader finds the pattern broken (the engine refuses more, such as a
// group never closed); the visitor has then heard the elements up to the fault.
bool scanPattern(std::u16string_view pattern, PatternVisitor& visitor,
                 std::string* errorText = nullptr);

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
