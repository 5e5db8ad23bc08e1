#include "documents/word_reader.h"

#include <utility>

#include "documents/sentences.h"
#include "documents/word_content.h"
#include "platform/unicode.h"

namespace ferretta::documents {
namespace {

ReadResult forOffice(std::string why) {
    return {ReadStatus::ForOffice, std::move(why), 0};
}

bool handOut(UnitSink& sink, std::int32_t place, std::string_view text) {
    UnitView unit;
    unit.place = place;
    unit.text = text;
    return sink.unit(unit);
}

// Normal mode: the sentences of the main text at 1..n, then shape j at n + j.
ReadResult normalUnits(const WordContent& content, UnitSink& sink) {
    const std::vector<std::u16string> sentences =
        sentencesOfText(platform::utf8ToUtf16(content.body));
    std::int32_t place = 0;
    std::string text;
    for (const std::u16string& sentence : sentences) {
        ++place;
        if (sentence.empty())
            continue;
        text = platform::utf16ToUtf8(sentence);
        if (!handOut(sink, place, text))
            return {ReadStatus::Stopped, {}, 0};
    }
    for (const std::string& shape : content.shapes) {
        ++place;
        if (!shape.empty() && !handOut(sink, place, shape))
            return {ReadStatus::Stopped, {}, 0};
    }
    return {};
}

// Fast mode: the lines of the main text split at CR, each non-empty one at its 0-based index.
ReadResult fastUnits(const WordContent& content, UnitSink& sink) {
    const std::string_view body = content.body;
    std::int32_t index = 0;
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\r', start);
        if (end == std::string_view::npos)
            end = body.size();
        if (end > start && !handOut(sink, index, body.substr(start, end - start)))
            return {ReadStatus::Stopped, {}, 0};
        ++index;
        start = end + 1;
    }
    return {};
}

// The office path turns line and paragraph separators (U+2028, U+2029) into CR as well.
void separatorsToCr(std::string& text) {
    if (text.find("\xE2\x80") == std::string::npos)
        return;
    std::size_t out = 0;
    for (std::size_t in = 0; in < text.size(); ++in) {
        if (text[in] == '\xE2' && in + 2 < text.size() && text[in + 1] == '\x80' &&
            (text[in + 2] == '\xA8' || text[in + 2] == '\xA9')) {
            text[out++] = '\r';
            in += 2;
        } else {
            text[out++] = text[in];
        }
    }
    text.resize(out);
}

}  // namespace

std::string noteNumber(int number, NoteFormat format) {
    if (format != NoteFormat::LowerRoman || number <= 0 || number >= 4000)
        return std::to_string(number);
    static constexpr std::pair<int, const char*> kNumerals[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    std::string out;
    for (const auto& [value, numeral] : kNumerals) {
        for (; number >= value; number -= value)
            out += numeral;
    }
    return out;
}

ReadResult readWordDocument(ZipArchive& archive, Format format, WordMode mode, UnitSink& sink,
                            const ReadLimits& limits) {
    WordContent content;
    std::string why;
    const bool read = format == Format::OdfText
                          ? readOdfText(archive, mode, limits, content, why)
                          : readWordprocessingMl(archive, mode, limits, content, why);
    if (!read)
        return forOffice(why);
    separatorsToCr(content.body);
    for (std::string& shape : content.shapes)
        separatorsToCr(shape);
    return mode == WordMode::Fast ? fastUnits(content, sink) : normalUnits(content, sink);
}

}  // namespace ferretta::documents
