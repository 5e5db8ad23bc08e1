#pragma once
// Word's sentences as the office path makes them from a document's main text: paragraph and
// line separators turned into CR, each paragraph split by ICU's Japanese sentence rules. Both
// the office driver and the native readers call these, so that the two give the same units.
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::documents {

// Turns the office's paragraph and line separators ("\r\n", "\n", U+2029 and U+2028) into CR,
// as Word writes paragraph ends.
std::u16string breaksToCr(std::u16string_view text);

// Splits one paragraph (no paragraph mark inside) into sentences by the Japanese sentence
// rules of ICU: a sentence ends after "。" or "." and the blanks that follow, with or without
// a blank before the next one. The pieces concatenate to the paragraph; an empty paragraph
// gives no piece. Should ICU fail, the whole paragraph is one sentence.
std::vector<std::u16string> splitSentences(std::u16string_view paragraph);

// Word's Sentences of a main text whose paragraphs end with CR: every sentence of every
// paragraph, the last one of a paragraph carrying its CR; an empty paragraph is a sentence
// of its own ("\r").
std::vector<std::u16string> sentencesOfText(std::u16string_view textWithCrs);

}  // namespace ferretta::documents
