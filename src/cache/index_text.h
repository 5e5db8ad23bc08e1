#pragma once
// What the trigram index holds for a document, and the index query for the search words.
//
// The index narrows a search: it answers which documents can hold the words, and every
// document it lets through is then matched as a live search would match it. So it must never
// leave out a document that the matcher would find something in. The matcher finds a word in
// two ways: byte for byte in the texts' CP932 forms (also from the second byte of a double-byte
// character), and in their half-width, upper-case folded forms. The index holds the folded form
// of each text; where it differs, the folded form of the text as its CP932 form decodes; and
// the trigrams that a double-byte character's second byte makes with two single-byte
// characters after it. The query asks, for each word, for any of the forms in which a match
// could show there.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/units.h"

namespace ferretta::cache {

struct IndexForms {
    std::string folded;     // the units' folded texts, one a line
    std::string roundTrip;  // other forms: decoded CP932 where it differs, shifted trigrams
};

IndexForms indexForms(const Extract& extract);

struct IndexQuery {
    std::vector<std::string> words;  // as typed (UTF-8)
    bool all = false;                // every word (AND) rather than any (OR)
    // The words are Excel's cell-find patterns (wildcards, no byte-wise matching).
    bool cellPatterns = false;
};

// The FTS5 query that lets through every document in which the matcher can find the words,
// or nullopt when the index cannot narrow the search: no words, or a word with no form of
// three characters or more (any such word in OR mode; in AND mode, only when every word is so).
std::optional<std::string> matchExpression(const IndexQuery& query);

// A digest of the conversions the index relies on (folding, CP932 encoding and decoding). An
// index built while they behaved differently can no longer be trusted to leave nothing out.
std::uint64_t conversionFingerprint();

}  // namespace ferretta::cache
