#pragma once
// What the presentation readers collect before they hand out anything: a presentation is read
// whole, so that a construct met on its last slide can still send it to the office before its
// first unit went out.
//
// The office reads a shape's text as one string, paragraphs and line breaks as line ends, and
// the searcher keeps the shape when that string is not empty, then removes every line end. So
// a shape of two empty paragraphs is kept with an empty text; a shape of one empty paragraph is
// not. A shape's text is gathered here without its line ends, which are only counted.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "documents/native_reader.h"
#include "documents/read_limits.h"
#include "documents/unit_sink.h"

namespace ferretta::documents {

class SlideTexts {
  public:
    explicit SlideTexts(const ReadLimits& limits) : m_limits(limits) {}

    // The next slide begins; its number is the count of slides begun.
    void beginSlide() { ++m_slides; }
    std::int32_t slides() const { return m_slides; }

    // A shape with a text frame begins; what follows until endShape is its text.
    void beginShape();
    // Text of the shape. Line ends in it (CR, LF, U+2028, U+2029) are counted, not kept.
    void append(std::string_view utf8);
    void append(char c) { m_text.push_back(c); }
    // A line end that the office puts into the string (a paragraph end, a line break).
    void lineEnd() { ++m_lineEnds; }
    // Takes back the last line end (the readers that drop a trailing empty paragraph).
    void dropLineEnd() { --m_lineEnds; }
    // Whether the current shape's string is not empty so far (text or a line end).
    bool shapeHasText() const { return m_text.size() > m_shapeStart || m_lineEnds > 0; }
    // Ends the shape: kept as a unit of the current slide when its string was not empty.
    // `keep` false drops it whatever it holds (a shape the office does not show as one).
    void endShape(bool keep = true);

    // False once the text of the document, with the units' own bookkeeping, went past
    // ReadLimits::maxTextBytes (so that a million shapes of no text are bounded too).
    bool withinLimits() const {
        return m_text.size() + m_units.size() * sizeof(Unit) <= m_limits.maxTextBytes;
    }
    static constexpr std::string_view kOverLimit = "more text than the bound of a document";

    // Hands every unit to the sink in order: Complete, or Stopped when the sink asked to stop.
    // The count is the number of slides.
    ReadResult handOut(UnitSink& sink) const;

  private:
    struct Unit {
        std::int32_t slide;
        std::size_t start;
        std::size_t size;
    };

    const ReadLimits& m_limits;
    std::int32_t m_slides = 0;
    std::string m_text;
    std::vector<Unit> m_units;
    std::size_t m_shapeStart = 0;
    std::int32_t m_lineEnds = 0;
};

}  // namespace ferretta::documents
