#include "pipeline/office_extractors.h"

#include <algorithm>
#include <vector>

#include "app/debug_log.h"
#include "platform/error.h"
#include "search/path_helpers.h"

namespace ferretta::pipeline {

namespace po = platform::office;

namespace {

constexpr std::string_view kWordPlace = "find_doc";
constexpr std::string_view kPowerPointPlace = "find_ppt";

Extraction failedAt(int position, long errorNumber) {
    Extraction failed;
    failed.outcome = Outcome::Failed;
    failed.failure = Failure{position, errorNumber};
    return failed;
}

Extraction ended(bool stopped, std::int32_t count = 0) {
    Extraction extraction;
    extraction.outcome = stopped ? Outcome::Stopped : Outcome::Complete;
    extraction.count = count;
    return extraction;
}

bool handOut(UnitSink& sink, std::int32_t place, std::string_view text) {
    return sink.unit({place, 0, 0, text, {}, true});
}

// Calls `visit(line)` for each line of the text split at CR.
template <class Visit>
void forEachLine(std::string_view text, Visit&& visit) {
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\r', start);
        visit(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (end == std::string_view::npos)
            return;
        start = end + 1;
    }
}

// Steps 1 to 4 of both Word modes: the document opened read-only in the run's Word.
std::unique_ptr<po::WordDocument> openForSearch(po::WordApplication* word, const std::string& path,
                                                int& position) {
    position = 0;
    if (word == nullptr)
        throw Error(Error::Kind::Automation, "Word is not running", kNoObjectError);
    word->setVisible(false);
    auto document = word->open(path, po::OpenOptions{true, true});
    position = 1;
    return document;
}

Extraction readSentencesAndShapes(po::WordApplication* word, const std::string& path,
                                  UnitSink& sink) {
    int position = 0;
    std::vector<std::string> sentences;
    std::vector<std::string> shapes;
    std::int64_t sentenceCount = 0;
    try {
        auto document = openForSearch(word, path, position);
        sentenceCount = std::max<std::int32_t>(document->sentenceCount(), 0);
        app::logWrite(kWordPlace, "sNum=" + std::to_string(sentenceCount));
        position = 2;
        const std::int32_t shapeCount = std::max<std::int32_t>(document->shapeCount(), 0);
        app::logWrite(kWordPlace, "aNum=" + std::to_string(shapeCount));
        position = 3;
        // Sizing the element list; a count a damaged file makes huge must not reserve memory.
        shapes.reserve(static_cast<std::size_t>(std::min<std::int32_t>(shapeCount, 4096)));
        position = 4;
        sentences = document->sentenceTexts();
        // Sentences past the count are not Word's; missing ones are empty elements.
        if (static_cast<std::int64_t>(sentences.size()) > sentenceCount)
            sentences.resize(static_cast<std::size_t>(sentenceCount));
        position = 5;
        for (std::int32_t j = 1; j <= shapeCount; ++j) {
            // A shape without text (a picture, a line) leaves its element empty.
            try {
                shapes.push_back(document->shapeText(j));
            } catch (const Error&) {
                shapes.emplace_back();
            }
        }
        position = 7;
        document->close();
    } catch (const Error& failure) {
        return failedAt(position, failure.code());
    }
    // The elements that are not empty, with their indexes: sentences 1..n, shape j as n + j.
    for (std::size_t i = 0; i < sentences.size(); ++i) {
        if (!sentences[i].empty() && !handOut(sink, static_cast<std::int32_t>(i + 1), sentences[i]))
            return ended(true);
    }
    for (std::size_t j = 0; j < shapes.size(); ++j) {
        const auto index =
            static_cast<std::int32_t>(sentenceCount + static_cast<std::int64_t>(j) + 1);
        if (!shapes[j].empty() && !handOut(sink, index, shapes[j]))
            return ended(true);
    }
    return ended(false);
}

Extraction readMainText(po::WordApplication* word, const std::string& path, UnitSink& sink) {
    int position = 0;
    std::string text;
    try {
        auto opened = openForSearch(word, path, position);
        // The document is looked up again among the open ones by its full name, as Word knows
        // it; the handle that Open gave is not used further.
        opened.reset();
        std::unique_ptr<po::WordDocument> document;
        const std::int32_t count = word->documentCount();
        for (std::int32_t i = 1; i <= count && !document; ++i) {
            auto candidate = word->document(i);
            if (candidate->fullName() == path)
                document = std::move(candidate);
        }
        position = 2;
        if (!document)
            return failedAt(position, 0);  // not an automation failure: no error number
        position = 3;
        const std::int32_t characters = document->characterCount();
        document->selectRange(0, characters);
        position = 4;
        text = word->selectionText();
        position = 5;
        document->close();
        position = 6;
    } catch (const Error& failure) {
        return failedAt(position, failure.code());
    }
    // The lines that are not empty, with their 0-based indexes.
    std::int32_t index = 0;
    bool stopped = false;
    forEachLine(text, [&](std::string_view line) {
        stopped = stopped || (!line.empty() && !handOut(sink, index, line));
        ++index;
    });
    return ended(stopped);
}

// Runs one step whose failure is to be passed over; answers whether it succeeded. The failure
// is written to the debug log, as nobody else hears of it.
template <class Step>
bool skipping(Step&& step) {
    try {
        step();
        return true;
    } catch (const Error& failure) {
        app::logWrite(kPowerPointPlace, failure.what());
        return false;
    }
}

// The shape's text without CR and LF, when it has one, as a unit of the slide.
bool readShape(po::Shape& shape, std::int32_t slide, UnitSink& sink) {
    std::string text;
    bool hasText = false;
    skipping([&] { hasText = shape.hasTextFrame(); });
    if (!hasText || !skipping([&] { text = shape.text(); }) || text.empty())
        return true;
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return handOut(sink, slide, text);
}

// The texts of one slide's shapes, each group's members after the group. False: stop.
bool readSlide(po::Presentation& presentation, std::int32_t s, UnitSink& sink) {
    std::unique_ptr<po::Slide> slide;
    std::int32_t shapes = 0;
    if (skipping([&] { slide = presentation.slide(s); }))
        skipping([&] { shapes = slide->shapeCount(); });
    for (std::int32_t i = 1; i <= shapes; ++i) {
        std::unique_ptr<po::Shape> shape;
        if (!skipping([&] { shape = slide->shape(i); }))
            continue;
        if (!readShape(*shape, s, sink))
            return false;
        std::int32_t members = 0;
        try {
            members = shape->groupItemCount();
        } catch (const Error&) {
            continue;  // not a group: the usual case, not worth a log line
        }
        for (std::int32_t j = 1; j <= members; ++j) {
            std::unique_ptr<po::Shape> member;
            // A group inside the group is read for its own text only, never descended.
            if (skipping([&] { member = shape->groupItem(j); }) && !readShape(*member, s, sink))
                return false;
        }
    }
    return true;
}

}  // namespace

std::string officeKey(documents::Kind kind, bool native) {
    // An updated office may split sentences or read cells otherwise.
    static const std::string stamps =
        cache::programStamp() + " " +
        cache::fileStamp("/usr/lib/libreoffice/program/libmergedlo.so") + " " +
        cache::fileStamp("/usr/lib/libreoffice/program/soffice.bin");
    static constexpr std::string_view kinds[] = {"word", "word-fast", "excel", "powerpoint"};
    return std::string(kinds[static_cast<std::size_t>(kind)]) + (native ? " " : " office-only ") +
           stamps;
}

Extraction readWordThroughOffice(po::WordApplication* word, const std::string& path, bool fast,
                                 UnitSink& sink) {
    return fast ? readMainText(word, path, sink) : readSentencesAndShapes(word, path, sink);
}

Extraction readWorkbookThroughOffice(po::ExcelApplication* excel, const std::string& path,
                                     UnitSink& sink) {
    int position = 0;
    std::unique_ptr<po::Workbook> workbook;
    try {
        if (excel == nullptr)
            throw Error(Error::Kind::Automation, "Excel is not running", kNoObjectError);
        workbook = excel->open(path, po::OpenOptions{true, false});
        position = 1;
        bool stopped = false;
        const std::int32_t sheets = workbook->worksheetCount();
        for (std::int32_t i = 1; i <= sheets && !stopped; ++i) {
            auto sheet = workbook->worksheet(i);
            sink.sheet(sheet->name());
            try {
                sheet->cells([&](std::vector<po::SheetCell>& block) {
                    for (const po::SheetCell& cell : block) {
                        if (!sink.unit({i, cell.row, cell.column, cell.text, cell.value, true})) {
                            stopped = true;
                            return false;
                        }
                    }
                    return true;
                });
            } catch (const Error& failure) {
                // A stop ended the office: nothing more can be read.
                if (failure.code() == po::stoppedCallError)
                    throw;
                // As a failing find always was: nothing found on this sheet.
                app::logWrite("isExistStrInSheet", failure.what());
            }
        }
        position = 2;
        auto closing = std::move(workbook);
        closing->close();
        return ended(stopped);
    } catch (const Error& failure) {
        if (workbook) {
            try {
                workbook->close();
            } catch (const Error& closeFailure) {
                // The workbook stays open in the run's Excel, which discards it when it quits.
                app::logWrite("find_exl", closeFailure.what());
            }
        }
        return failedAt(position, failure.code());
    }
}

Extraction readPresentationThroughOffice(po::PowerPointApplication* powerPoint,
                                         const std::string& path, UnitSink& sink) {
    if (powerPoint == nullptr)
        throw Error(Error::Kind::Automation, "PowerPoint is not running", kNoObjectError);
    std::unique_ptr<po::Presentation> presentation;
    try {
        presentation = powerPoint->open(path, po::OpenOptions{true, false});
    } catch (const Error& failure) {
        if (failure.kind() != Error::Kind::Automation)
            throw;
        return failedAt(0, failure.code());
    }
    std::int32_t slides = 0;
    skipping([&] { slides = presentation->slideCount(); });
    bool stopped = false;
    for (std::int32_t s = 1; s <= slides && !stopped; ++s)
        stopped = !sink.place(s) || !readSlide(*presentation, s, sink);
    skipping([&] { presentation->close(); });
    return ended(stopped, slides);
}

Extraction NativeExtractor::extract(const std::string& path, UnitSink& sink) {
    Extraction extraction;
    const documents::Format format =
        documents::formatOfExtension(search::extensionOf(search::fileNameOf(path)));
    if (format == documents::Format::None) {
        extraction.outcome = Outcome::ForOffice;
        return extraction;
    }
    const documents::ReadResult read = m_reader(path, format, m_kind, sink);
    extraction.count = read.count;
    switch (read.status) {
        case documents::ReadStatus::Complete:
            break;
        case documents::ReadStatus::Stopped:
            extraction.outcome = Outcome::Stopped;
            break;
        case documents::ReadStatus::ForOffice:
            app::logWrite("readDocument", "LibreOfficeで読みます " + path + ": " + read.reason);
            extraction.outcome = Outcome::ForOffice;
            extraction.reason = read.reason;
            break;
    }
    return extraction;
}

}  // namespace ferretta::pipeline
