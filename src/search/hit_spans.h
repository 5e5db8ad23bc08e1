#pragma once
// Where the query occurs in a hit's text: what the results list marks.
#include <cstddef>
#include <string_view>
#include <vector>

#include "search/query.h"

namespace ferretta::search {

// A part of a text, [start, end) in UTF-16 code units.
struct TextSpan {
    std::size_t start = 0;
    std::size_t end = 0;
    friend bool operator==(const TextSpan&, const TextSpan&) = default;
};

// Every place of the text where one of the query's words occurs, or its pattern matches, in
// order and merged where they touch or overlap. Words are found as the matcher finds them:
// exactly when strict, else with full/half width and letter case ignored (a word that ends
// inside a character of two folded halves, ｶ in ガ, marks the whole character). Empty without
// words or with an invalid pattern. At most `limit` places are answered.
std::vector<TextSpan> hitSpans(const Matcher& matcher, std::u16string_view text,
                               std::size_t limit = 256);

}  // namespace ferretta::search
