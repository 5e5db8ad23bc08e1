#include "documents/slide_texts.h"

namespace ferretta::documents {

void SlideTexts::beginShape() {
    m_shapeStart = m_text.size();
    m_lineEnds = 0;
}

void SlideTexts::append(std::string_view utf8) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        std::size_t length = 0;
        if (c == '\r' || c == '\n') {
            length = 1;
        } else if (c == '\xE2' && i + 2 < utf8.size() && utf8[i + 1] == '\x80' &&
                   (utf8[i + 2] == '\xA8' || utf8[i + 2] == '\xA9')) {
            length = 3;  // U+2028 LINE SEPARATOR, U+2029 PARAGRAPH SEPARATOR
        }
        if (length == 0)
            continue;
        m_text.append(utf8.substr(from, i - from));
        ++m_lineEnds;
        i += length - 1;
        from = i + 1;
    }
    m_text.append(utf8.substr(from));
}

void SlideTexts::endShape(bool keep) {
    if (keep && shapeHasText()) {
        m_units.push_back({m_slides, m_shapeStart, m_text.size() - m_shapeStart});
    } else {
        m_text.resize(m_shapeStart);
    }
    m_shapeStart = m_text.size();
    m_lineEnds = 0;
}

ReadResult SlideTexts::handOut(UnitSink& sink) const {
    ReadResult result;
    result.count = m_slides;
    for (const Unit& unit : m_units) {
        UnitView view;
        view.place = unit.slide;
        view.text = std::string_view(m_text).substr(unit.start, unit.size);
        if (!sink.unit(view)) {
            result.status = ReadStatus::Stopped;
            break;
        }
    }
    return result;
}

}  // namespace ferretta::documents
