#pragma once
// What the Word reader takes from a document before it hands out units: the main text and the
// shapes, as the office path reads them (the body's text with every paragraph ended by CR,
// then each shape's text in the order the office counts shapes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "documents/read_limits.h"
#include "documents/word_reader.h"
#include "documents/xml_part.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

struct WordContent {
    // Paragraphs and table cells in document order, each paragraph (and each line break)
    // ended by CR; tabs as tabs. A document without a paragraph has the one empty paragraph
    // the office gives it ("\r").
    std::string body;
    // Normal mode only: each shape's text in the office's order, its paragraphs separated by
    // CR (no CR at the end); empty for a shape without text (a picture, a line), which still
    // takes its place in the count.
    std::vector<std::string> shapes;
};

// Collects the text of one story (the body or one shape) paragraph by paragraph.
class StoryText {
  public:
    explicit StoryText(std::uint64_t maxBytes) : m_maxBytes(maxBytes) {}
    void append(std::string_view text) { m_text.append(text); }
    void endParagraph() {
        m_text.push_back('\r');
        ++m_paragraphs;
    }
    bool overLimit() const { return m_text.size() > m_maxBytes; }
    std::size_t paragraphs() const { return m_paragraphs; }
    // The body as the office reads it: every paragraph ended by CR, at least one paragraph.
    std::string asBody() && {
        if (m_paragraphs == 0)
            return "\r";
        return std::move(m_text);
    }
    // A shape's text: its paragraphs separated by CR.
    std::string asShape() && {
        if (!m_text.empty() && m_text.back() == '\r')
            m_text.pop_back();
        return std::move(m_text);
    }

  private:
    std::string m_text;
    std::size_t m_paragraphs = 0;
    std::uint64_t m_maxBytes;
};

// Hands a reader's body and shapes to `content`, the shapes in the office's order (stable, by
// `before`). False, with `why` = `unordered`, when the reader does not know that order.
template <class Shape, class Before>
bool takeContent(StoryText&& body, std::vector<Shape>& shapes, bool inOrder, const char* unordered,
                 Before before, WordContent& content, std::string& why) {
    if (!inOrder) {
        why = unordered;
        return false;
    }
    content.body = std::move(body).asBody();
    std::stable_sort(shapes.begin(), shapes.end(), before);
    for (Shape& shape : shapes)
        content.shapes.push_back(std::move(shape.text));
    return true;
}

// Reads the part `main` through a handler that make(notes) gives, first with the default
// numbering of notes; when that reading met notes, again with the numbering read from
// `notesPart` (most documents have no notes, and the part that numbers them may be larger than
// the text). The handler answers metNotes() and take(content, why).
template <class Notes, class Make>
bool readWithNotes(ZipArchive& archive, const std::string& main, const std::string& notesPart,
                   const ReadLimits& limits, Make make, WordContent& content, std::string& why) {
    Notes notes;
    auto handler = make(notes);
    const bool read = parsePart(archive, main, *handler, limits, why);
    if (!handler->metNotes() || !archive.has(notesPart))
        return read && std::move(*handler).take(content, why);
    if (!parsePart(archive, notesPart, notes, limits, why))
        return false;
    auto again = make(notes);
    return parsePart(archive, main, *again, limits, why) && std::move(*again).take(content, why);
}

// How the office numbers footnotes and endnotes in the text (a note's anchor shows its number).
enum class NoteFormat : std::uint8_t { Unknown, Decimal, LowerRoman };

// The anchor text of note `number` (1-based) in the format; "1", "i", "iv", ...
std::string noteNumber(int number, NoteFormat format);

// Reads a WordprocessingML (.docx .docm) or OpenDocument text (.odt) package. False, with
// `why` for the debug log, when the document holds anything the reader cannot read exactly as
// the office does (fields, notes, constructs whose place among the shapes is unknown, ...), is
// malformed or over a limit. Shapes are read only for WordMode::Normal.
bool readWordprocessingMl(ZipArchive& archive, WordMode mode, const ReadLimits& limits,
                          WordContent& content, std::string& why);
bool readOdfText(ZipArchive& archive, WordMode mode, const ReadLimits& limits, WordContent& content,
                 std::string& why);

}  // namespace ferretta::documents
