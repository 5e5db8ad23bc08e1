#pragma once
// The units of one Office document as each reader hands them out: the office (LibreOffice over
// UNO, read through the automation as the Office searchers read it) and the native readers.
// The equivalence tests and the dump_units tool compare the two.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/units.h"
#include "documents/native_reader.h"
#include "platform/error.h"
#include "platform/office/automation.h"

namespace ferretta::test {

namespace po = platform::office;

// Collects what a native reader hands out, in the cache's form.
class ExtractSink final : public documents::UnitSink {
  public:
    void sheet(std::string_view name) override { extract.names.emplace_back(name); }
    bool unit(const documents::UnitView& unit) override {
        extract.units.push_back({unit.place, unit.row, unit.column, std::string(unit.text),
                                 unit.shownKnown ? std::string(unit.shown) : "\x01unknown"});
        return true;
    }
    cache::Extract extract;
};

inline cache::Extract nativeUnits(const std::string& path, documents::Kind kind,
                                  documents::ReadResult& result) {
    ExtractSink sink;
    const std::string extension = path.substr(path.rfind('.') + 1);
    std::string upper;
    for (char c : extension)
        upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    result = documents::readDocument(path, documents::formatOfExtension(upper), kind, sink);
    sink.extract.count = result.count;
    return sink.extract;
}

namespace detail {

template <class Step>
bool passOver(Step&& step) {
    try {
        step();
        return true;
    } catch (const Error&) {
        return false;
    }
}

inline std::string withoutNewlines(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n')
            out += c;
    }
    return out;
}

inline void forEachLine(std::string_view text, bool crLfIsOneBreak,
                        const std::function<void(std::string_view)>& visit) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\r', start);
        visit(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (end == std::string_view::npos)
            return;
        start = end + 1;
        if (crLfIsOneBreak && start < text.size() && text[start] == '\n')
            ++start;
    }
}

inline void pptShape(po::Shape& shape, std::int32_t slide, cache::Extract& out) {
    bool hasText = false;
    std::string text;
    passOver([&] { hasText = shape.hasTextFrame(); });
    if (!hasText || !passOver([&] { text = shape.text(); }) || text.empty())
        return;
    out.units.push_back({slide, 0, 0, withoutNewlines(text), ""});
}

}  // namespace detail

// The units of a Word document read through a running Word, as the Word searcher reads them in
// either mode (an equivalence test reads many documents through one Word). Throws
// ferretta::Error when the office cannot open the document.
inline cache::Extract officeWordUnits(po::WordApplication& word, const std::string& path,
                                      documents::Kind kind) {
    cache::Extract out;
    auto document = word.open(path, po::OpenOptions{true, true});
    if (kind == documents::Kind::WordNormal) {
        const std::int32_t sentences = document->sentenceCount();
        const std::int32_t shapes = document->shapeCount();
        const auto texts = document->sentenceTexts();
        for (std::size_t i = 0; i < texts.size() && i < static_cast<std::size_t>(sentences); ++i) {
            if (!texts[i].empty())
                out.units.push_back({static_cast<std::int32_t>(i + 1), 0, 0, texts[i], ""});
        }
        for (std::int32_t j = 1; j <= shapes; ++j) {
            std::string text;
            detail::passOver([&] { text = document->shapeText(j); });
            if (!text.empty())
                out.units.push_back({sentences + j, 0, 0, text, ""});
        }
    } else {
        document->selectRange(0, document->characterCount());
        const std::string text = word.selectionText();
        std::int32_t index = 0;
        detail::forEachLine(text, false, [&](std::string_view line) {
            if (!line.empty())
                out.units.push_back({index, 0, 0, std::string(line), ""});
            ++index;
        });
    }
    document->close();
    return out;
}

// The units the Office searchers read through the automation, in the cache's form. Throws
// ferretta::Error when the office cannot open the document.
inline cache::Extract officeUnits(po::Automation& automation, const std::string& path,
                                  documents::Kind kind) {
    cache::Extract out;
    const po::OpenOptions search{
        true, kind == documents::Kind::WordNormal || kind == documents::Kind::WordFast};
    switch (kind) {
        case documents::Kind::WordNormal:
        case documents::Kind::WordFast: {
            auto word = automation.createWord(po::Purpose::Search);
            out = officeWordUnits(*word, path, kind);
            word->quit();
            break;
        }
        case documents::Kind::Excel: {
            auto excel = automation.createExcel(po::Purpose::Search);
            auto workbook = excel->open(path, search);
            const std::int32_t sheets = workbook->worksheetCount();
            for (std::int32_t i = 1; i <= sheets; ++i) {
                auto sheet = workbook->worksheet(i);
                out.names.push_back(sheet->name());
                for (auto& cell : sheet->cells())
                    out.units.push_back({i, cell.row, cell.column, cell.text, cell.value});
            }
            workbook->close();
            excel->quit();
            break;
        }
        case documents::Kind::PowerPoint: {
            auto powerPoint = automation.createPowerPoint(po::Purpose::Search);
            auto presentation = powerPoint->open(path, search);
            std::int32_t slides = 0;
            detail::passOver([&] { slides = presentation->slideCount(); });
            for (std::int32_t s = 1; s <= slides; ++s) {
                std::unique_ptr<po::Slide> slide;
                std::int32_t shapes = 0;
                if (detail::passOver([&] { slide = presentation->slide(s); }))
                    detail::passOver([&] { shapes = slide->shapeCount(); });
                for (std::int32_t i = 1; i <= shapes; ++i) {
                    std::unique_ptr<po::Shape> shape;
                    if (!detail::passOver([&] { shape = slide->shape(i); }))
                        continue;
                    detail::pptShape(*shape, s, out);
                    std::int32_t members = 0;
                    if (!detail::passOver([&] { members = shape->groupItemCount(); }))
                        continue;
                    for (std::int32_t j = 1; j <= members; ++j) {
                        std::unique_ptr<po::Shape> member;
                        if (detail::passOver([&] { member = shape->groupItem(j); }))
                            detail::pptShape(*member, s, out);
                    }
                }
            }
            out.count = slides;
            detail::passOver([&] { presentation->close(); });
            powerPoint->quit();
            break;
        }
    }
    return out;
}

}  // namespace ferretta::test
