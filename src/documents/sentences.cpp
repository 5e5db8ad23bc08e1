#include "documents/sentences.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <limits>
#include <memory>

namespace ferretta::documents {
namespace {

// Creating a break iterator loads ICU's rules; one per thread is kept and reused.
icu::BreakIterator* sentenceIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createSentenceInstance(icu::Locale::getJapan(), status));
        if (U_FAILURE(status))
            made.reset();
        return made;
    }();
    return iterator.get();
}

}  // namespace

std::u16string breaksToCr(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            out.push_back(u'\r');
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n' || c == u'\u2028' || c == u'\u2029') {
            out.push_back(u'\r');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<std::u16string> splitSentences(std::u16string_view paragraph) {
    std::vector<std::u16string> sentences;
    if (paragraph.empty())
        return sentences;
    icu::BreakIterator* iterator = sentenceIterator();
    if (iterator == nullptr ||
        paragraph.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
        sentences.emplace_back(paragraph);
        return sentences;
    }
    const icu::UnicodeString text(false, paragraph.data(), static_cast<int32_t>(paragraph.size()));
    iterator->setText(text);
    int32_t start = iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE;
         start = end, end = iterator->next()) {
        sentences.emplace_back(paragraph.substr(static_cast<std::size_t>(start),
                                                static_cast<std::size_t>(end - start)));
    }
    // The iterator aliases `text`; leave it pointing at nothing of ours.
    iterator->setText(icu::UnicodeString());
    if (sentences.empty())
        sentences.emplace_back(paragraph);
    return sentences;
}

std::vector<std::u16string> sentencesOfText(std::u16string_view textWithCrs) {
    std::vector<std::u16string> sentences;
    std::size_t start = 0;
    while (start < textWithCrs.size()) {
        std::size_t end = textWithCrs.find(u'\r', start);
        const bool hasMark = end != std::u16string_view::npos;
        if (!hasMark)
            end = textWithCrs.size();
        std::vector<std::u16string> pieces = splitSentences(textWithCrs.substr(start, end - start));
        if (pieces.empty())
            pieces.emplace_back();
        if (hasMark)
            pieces.back().push_back(u'\r');
        for (auto& piece : pieces)
            sentences.push_back(std::move(piece));
        start = end + 1;
    }
    return sentences;
}

}  // namespace ferretta::documents
