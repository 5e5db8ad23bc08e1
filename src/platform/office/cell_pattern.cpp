#include "platform/office/cell_pattern.h"

#include "platform/width_fold.h"

namespace ferretta::platform::office {

CellPattern::CellPattern(std::u16string_view word) {
    const std::u16string what = foldForMatch(word);
    for (std::size_t i = 0; i < what.size(); ++i) {
        const char16_t c = what[i];
        if (c == u'~' && i + 1 < what.size() &&
            (what[i + 1] == u'*' || what[i + 1] == u'?' || what[i + 1] == u'~')) {
            m_units.push_back({what[++i], Unit::Kind::Literal});
        } else if (c == u'*') {
            m_units.push_back({c, Unit::Kind::AnyRun});
        } else if (c == u'?') {
            m_units.push_back({c, Unit::Kind::AnyOne});
        } else {
            m_units.push_back({c, Unit::Kind::Literal});
        }
    }
}

bool CellPattern::foundIn(std::u16string_view cellText) const {
    if (m_units.empty() || cellText.empty())
        return false;
    const std::u16string text = foldForMatch(cellText);
    // Classic glob matching with one remembered star, the leading and trailing ones implicit
    // (containment): O(text x pattern) at worst, and cells are short.
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starP = 0;  // the pattern position after the last star (0 = the implicit one)
    std::size_t starT = 0;
    bool explicitStar = false;
    while (p < m_units.size() || t < text.size()) {
        if (p == m_units.size())
            return true;  // implicit trailing star
        if (m_units[p].kind == Unit::Kind::AnyRun) {
            ++p;
            starP = p;
            starT = t;
            explicitStar = true;
            continue;
        }
        if (t < text.size() &&
            (m_units[p].kind == Unit::Kind::AnyOne || m_units[p].unit == text[t])) {
            ++p;
            ++t;
            continue;
        }
        if (t >= text.size())
            return false;
        // Back off to the last star (explicit or the implicit leading one).
        p = explicitStar ? starP : 0;
        t = ++starT;
        if (t > text.size())
            return false;
    }
    return true;
}

std::vector<std::u16string> CellPattern::literalRuns() const {
    std::vector<std::u16string> runs(1);
    for (const Unit& unit : m_units) {
        if (unit.kind == Unit::Kind::Literal)
            runs.back() += unit.unit;
        else if (!runs.back().empty())
            runs.emplace_back();
    }
    if (runs.back().empty())
        runs.pop_back();
    return runs;
}

bool CellPattern::keepsItself(char16_t unit) {
    // Hiragana letters and iteration marks (not the voicing marks U+3099-U+309C, which fold to
    // half width), and the CJK ideographs of the BMP: the half-width conversion makes ASCII,
    // blanks and half-width katakana and marks, and no case mapping reaches these blocks.
    return (unit >= 0x3041 && unit <= 0x3096) || (unit >= 0x309D && unit <= 0x309F) ||
           (unit >= 0x3400 && unit <= 0x4DBF) || (unit >= 0x4E00 && unit <= 0x9FFF);
}

std::u16string CellPattern::plainRun() const {
    std::u16string best;
    std::u16string run;
    for (const Unit& unit : m_units) {
        if (unit.kind == Unit::Kind::Literal && keepsItself(unit.unit)) {
            run += unit.unit;
            if (run.size() > best.size())
                best = run;
        } else {
            run.clear();
        }
    }
    return best;
}

}  // namespace ferretta::platform::office
