#pragma once
// The units of one Office document as each reader hands them out: the office (LibreOffice over
// UNO, read through the automation as the Office searchers read it) and the native readers.
// The equivalence tests and the dump_units tool compare the two.
#include <cstdint>
#include <string>
#include <string_view>

#include "cache/units.h"
#include "documents/native_reader.h"
#include "pipeline/office_extractors.h"
#include "pipeline/unit_pipeline.h"
#include "platform/error.h"
#include "platform/office/automation.h"

namespace ferretta::test {

namespace po = platform::office;

// Collects what a reader hands out, in the cache's form.
class ExtractSink final : public pipeline::UnitSink {
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

// The extraction's units, or ferretta::Error when the office could not read the document.
inline cache::Extract unitsOf(ExtractSink& sink, const pipeline::Extraction& read,
                              const std::string& path) {
    if (read.failure) {
        throw Error(Error::Kind::Automation,
                    path + ": the office cannot read it (step " +
                        std::to_string(read.failure->position) + ", error " +
                        std::to_string(read.failure->errorNumber) + ")",
                    read.failure->errorNumber);
    }
    sink.extract.count = read.count;
    return std::move(sink.extract);
}

}  // namespace detail

// The units of a Word document read through a running Word, as the Word searcher reads them in
// either mode (an equivalence test reads many documents through one Word). Throws
// ferretta::Error when the office cannot open the document.
inline cache::Extract officeWordUnits(po::WordApplication& word, const std::string& path,
                                      documents::Kind kind) {
    ExtractSink sink;
    const auto read =
        pipeline::readWordThroughOffice(&word, path, kind == documents::Kind::WordFast, sink);
    return detail::unitsOf(sink, read, path);
}

// The units the Office searchers read through the automation (the office's extractors), in the
// cache's form. Throws ferretta::Error when the office cannot open the document.
inline cache::Extract officeUnits(po::Automation& automation, const std::string& path,
                                  documents::Kind kind) {
    ExtractSink sink;
    pipeline::Extraction read;
    switch (kind) {
        case documents::Kind::WordNormal:
        case documents::Kind::WordFast: {
            auto word = automation.createWord(po::Purpose::Search);
            read = pipeline::readWordThroughOffice(word.get(), path,
                                                   kind == documents::Kind::WordFast, sink);
            word->quit();
            break;
        }
        case documents::Kind::Excel: {
            auto excel = automation.createExcel(po::Purpose::Search);
            read = pipeline::readWorkbookThroughOffice(excel.get(), path, sink);
            excel->quit();
            break;
        }
        case documents::Kind::PowerPoint: {
            auto powerPoint = automation.createPowerPoint(po::Purpose::Search);
            read = pipeline::readPresentationThroughOffice(powerPoint.get(), path, sink);
            powerPoint->quit();
            break;
        }
    }
    return detail::unitsOf(sink, read, path);
}

}  // namespace ferretta::test
