#include "pdf/engine/operators.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace ferretta::pdf {
namespace {

// Operators are one to three bytes: each is looked up as one number, in a table sorted once.
constexpr std::uint32_t keyOf(std::string_view text) {
    std::uint32_t key = 0;
    for (const char c : text)
        key = key << 8 | static_cast<unsigned char>(c);
    return key | static_cast<std::uint32_t>(text.size()) << 24;
}

struct Entry {
    std::uint32_t key;
    Operator op;
};

constexpr std::size_t operatorCount = std::size(operatorNames);

constexpr std::array<Entry, operatorCount> sortedOperators() {
    std::array<Entry, operatorCount> entries{};
    for (std::size_t i = 0; i < operatorCount; ++i)
        entries[i] = {keyOf(operatorNames[i].text), operatorNames[i].op};
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    return entries;
}

constexpr std::array<Entry, operatorCount> byKey = sortedOperators();

}  // namespace

Operator operatorOf(std::string_view keyword) {
    if (keyword.empty() || keyword.size() > 3)
        return Operator::Other;
    const std::uint32_t key = keyOf(keyword);
    const auto* found = std::lower_bound(byKey.begin(), byKey.end(), key,
                                         [](const Entry& e, std::uint32_t k) { return e.key < k; });
    return found != byKey.end() && found->key == key ? found->op : Operator::Other;
}

}  // namespace ferretta::pdf
