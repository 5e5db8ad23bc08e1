#include "search/query.h"

#include <cstring>
#include <limits>

#include "platform/cp932.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::search {
namespace {

// 0-based byte offset of needle in haystack, or npos.
std::size_t findBytes(std::string_view haystack, std::string_view needle) {
    if (needle.empty() || needle.size() > haystack.size())
        return std::string_view::npos;
    const void* hit = memmem(haystack.data(), haystack.size(), needle.data(), needle.size());
    if (!hit)
        return std::string_view::npos;
    return static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data());
}

std::int32_t toPosition(std::size_t oneBased) {
    if (oneBased > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    return static_cast<std::int32_t>(oneBased);
}

// The byte position of the character that follows the first `chars` characters of the text.
std::int32_t characterToBytePosition(std::u16string_view text, std::size_t oneBased) {
    std::size_t before = oneBased - 1;
    if (before > text.size())
        before = text.size();  // a folded text may be longer
    std::int64_t position =
        static_cast<std::int64_t>(oneBased) + countDoubleByteChars(text.substr(0, before));
    if (position <= 0 || position > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(position);
}

}  // namespace

std::int32_t countDoubleByteChars(std::u16string_view text) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(platform::cp932Length(text)) -
                                     static_cast<std::int64_t>(text.size()));
}

void Matcher::targetStrsSplit(std::string_view query) {
    if (m_regular) {
        m_targetStrs[0] = std::string(query);
        m_number = 1;
        m_patternError.clear();
        m_regex = platform::Regex::compile(query, &m_patternError);
        return;
    }
    // Ideographic space (U+3000, E3 80 80 in UTF-8) counts as a blank.
    constexpr std::string_view ideographicSpace = "\xE3\x80\x80";
    std::string text;
    text.reserve(query.size());
    for (std::size_t i = 0; i < query.size();) {
        if (query.substr(i, ideographicSpace.size()) == ideographicSpace) {
            text += ' ';
            i += ideographicSpace.size();
        } else {
            text += query[i++];
        }
    }
    m_isAndCondition = text.rfind("&& ", 0) == 0;
    if (m_isAndCondition)
        text.erase(0, 3);

    m_number = 0;
    std::size_t start = 0;
    while (m_number < maxWords && start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start) {
            auto i = static_cast<std::size_t>(m_number);
            m_targetStrs[i] = text.substr(start, end - start);
            std::u16string word16 = platform::utf8ToUtf16(m_targetStrs[i]);
            m_targetStrsConv[i] = platform::foldForMatch(word16);
            m_wordAnsi[i] = platform::utf16ToCp932(word16);
            m_wordFoldedAnsi[i] = platform::utf16ToCp932(m_targetStrsConv[i]);
            ++m_number;
        }
        start = end + 1;
    }
}

std::int32_t Matcher::exactPass(std::string_view ansi) const {
    if (m_isAndCondition) {
        std::size_t firstWordAt = std::string_view::npos;
        for (int i = m_number - 1; i >= 0; --i) {
            std::size_t at = findBytes(ansi, wordAnsi(i));
            if (at == std::string_view::npos)
                return 0;
            firstWordAt = at;
        }
        return toPosition(firstWordAt + 1);
    }
    for (int i = 0; i < m_number; ++i) {
        std::size_t at = findBytes(ansi, wordAnsi(i));
        if (at != std::string_view::npos)
            return toPosition(at + 1);
    }
    return 0;
}

std::int32_t Matcher::foldedPass(std::u16string_view text) const {
    const std::u16string folded = platform::foldForMatch(text);
    std::u16string_view view(folded);
    std::size_t foundAt = std::u16string_view::npos;
    if (m_isAndCondition) {
        for (int i = m_number - 1; i >= 0; --i) {
            foundAt = view.find(wordFolded(i));
            if (foundAt == std::u16string_view::npos || wordFolded(i).empty())
                return 0;
        }
    } else {
        for (int i = 0; i < m_number && foundAt == std::u16string_view::npos; ++i) {
            if (!wordFolded(i).empty())
                foundAt = view.find(wordFolded(i));
        }
        if (foundAt == std::u16string_view::npos)
            return 0;
    }
    return characterToBytePosition(text, foundAt + 1);
}

std::int32_t Matcher::smartFindAnsi(std::string_view ansi, std::u16string_view text) const {
    if (text.empty() || m_number == 0)
        return 0;
    if (m_regular)
        return regFind(text);
    if (std::int32_t exact = exactPass(ansi))
        return exact;
    if (m_strict)
        return 0;
    return foldedPass(text);
}

std::int32_t Matcher::smartFindCp932(std::string_view ansi) const {
    if (ansi.empty() || m_number == 0)
        return 0;
    if (!m_regular) {
        if (std::int32_t exact = exactPass(ansi))
            return exact;
        if (m_strict)
            return 0;
    }
    const std::u16string text = platform::cp932ToUtf16(ansi);
    return m_regular ? regFind(text) : foldedPass(text);
}

std::int32_t Matcher::smartFind(std::string_view text) const {
    if (text.empty() || m_number == 0)
        return 0;
    const std::u16string text16 = platform::utf8ToUtf16(text);
    if (m_regular)
        return regFind(text16);
    return smartFindAnsi(platform::utf16ToCp932(text16), text16);
}

std::int32_t Matcher::regFind(std::u16string_view text) const {
    if (!m_regex)
        return 0;
    auto index = m_regex->firstIndex(text);
    if (!index)
        return 0;
    return characterToBytePosition(text, *index + 1);
}

}  // namespace ferretta::search
