#include "search/hit_spans.h"

#include <algorithm>
#include <string>

#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::search {
namespace {

bool isHighSurrogate(char16_t c) {
    return (c & 0xfc00u) == 0xd800u;
}
bool isLowSurrogate(char16_t c) {
    return (c & 0xfc00u) == 0xdc00u;
}

// The text in its folded form, and for each folded unit the original units it came from.
struct FoldedText {
    std::u16string text;
    std::vector<std::size_t> from;   // first original unit of the character
    std::vector<std::size_t> until;  // one past its last original unit
};

FoldedText foldWithMap(std::u16string_view text) {
    FoldedText folded;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t units =
            isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1]) ? 2 : 1;
        const std::u16string one = platform::foldForMatch(text.substr(i, units));
        for (char16_t unit : one) {
            folded.text.push_back(unit);
            folded.from.push_back(i);
            folded.until.push_back(i + units);
        }
        i += units;
    }
    return folded;
}

std::vector<TextSpan> merged(std::vector<TextSpan> spans, std::size_t limit) {
    std::sort(spans.begin(), spans.end(),
              [](const TextSpan& a, const TextSpan& b) { return a.start < b.start; });
    std::vector<TextSpan> out;
    for (const TextSpan& span : spans) {
        if (!out.empty() && span.start <= out.back().end) {
            out.back().end = std::max(out.back().end, span.end);
        } else if (out.size() < limit) {
            out.push_back(span);
        }
    }
    return out;
}

}  // namespace

std::vector<TextSpan> hitSpans(const Matcher& matcher, std::u16string_view text,
                               std::size_t limit) {
    std::vector<TextSpan> spans;
    if (matcher.regular()) {
        const platform::Regex* regex = matcher.regex();
        for (std::size_t at = 0; regex != nullptr && at <= text.size();) {
            const auto found = regex->match(text, at);
            if (!found)
                break;
            if (found->second > found->first)
                spans.push_back({found->first, found->second});
            at = std::max(found->second, found->first + 1);
        }
        return merged(std::move(spans), limit);
    }
    const FoldedText folded = matcher.strict() ? FoldedText{} : foldWithMap(text);
    for (int i = 0; i < matcher.targetStrsNumber(); ++i) {
        const Word& word = matcher.word(i);
        if (matcher.strict()) {
            const std::u16string typed = platform::utf8ToUtf16(word.typed);
            for (std::size_t at = typed.empty() ? std::u16string_view::npos : text.find(typed);
                 at != std::u16string_view::npos; at = text.find(typed, at + 1)) {
                spans.push_back({at, at + typed.size()});
            }
            continue;
        }
        const std::u16string_view wanted = word.folded;
        for (std::size_t at = wanted.empty() ? std::u16string::npos : folded.text.find(wanted);
             at != std::u16string::npos; at = folded.text.find(wanted, at + 1)) {
            spans.push_back({folded.from[at], folded.until[at + wanted.size() - 1]});
        }
    }
    return merged(std::move(spans), limit);
}

}  // namespace ferretta::search
