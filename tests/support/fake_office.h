#pragma once
// An in-memory Office for tests: the files a test describes, applications that run or cannot be
// started, and calls that fail with a chosen error number. Every call is recorded as a short
// text, in order: "createWord Search", "runningExcel Open", "Word.Visible=false",
// "Word.Open <path> ro=1 win=1", "<path>: Sentences.Count", "<path>: Shapes(3).Text",
// "<path>[Sheet1]: Find <word>", "<path> slide 2: Select", "<path> slide 2 shape 1.3: Text"
// (member 3 of group shape 1). A call whose text is a key of `failures` throws ferretta::Error
// (kind Automation) with that number after being recorded.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/error.h"
#include "platform/office/automation.h"
#include "platform/unicode.h"
#include "searchers/office/office_session.h"
#include "support/recording_host.h"
#include "support/temp_tree.h"
#include "support/test_context.h"

namespace ferretta::test {

namespace po = platform::office;

struct FakeWordFile {
    std::vector<std::string> sentences;              // each with its ending ("\r")
    std::vector<std::optional<std::string>> shapes;  // nullopt: a shape without text
    std::optional<std::string> fullName;             // the opened path when empty
};

struct FakeSheet {
    std::string name;
    std::vector<std::vector<std::string>> cells;  // rows of cells, from A1
};

// A PowerPoint shape: text in a text frame, none (a picture), or a group of shapes.
struct FakeShape {
    std::optional<std::string> text;
    bool isGroup = false;
    std::vector<FakeShape> members;

    static FakeShape textBox(std::string content) { return {std::move(content), false, {}}; }
    static FakeShape picture() { return {}; }
    static FakeShape group(std::vector<FakeShape> shapes) {
        return {std::nullopt, true, std::move(shapes)};
    }
};
using FakeSlide = std::vector<FakeShape>;

// The error numbers the fake gives where a test names none.
inline constexpr long kFakeMissingFile = 5174;
inline constexpr long kFakeNotAGroup = -2147024809;
inline constexpr long kFakeOutOfRange = 9;

class FakeOffice : public po::Automation {
  public:
    std::map<std::string, FakeWordFile> wordFiles;
    std::map<std::string, std::vector<FakeSheet>> excelFiles;
    std::map<std::string, std::vector<FakeSlide>> powerPointFiles;
    bool wordRunning = false, excelRunning = false, powerPointRunning = false;
    std::int32_t wordDisplayAlerts = -1;  // as Word starts
    std::map<std::string, long> failures;
    std::vector<std::string> calls;
    // Word's state shared by its application and documents.
    std::vector<std::string> openWordDocuments;
    std::string wordSelection;

    // Called with every call's text before it is answered (a user acting meanwhile).
    std::function<void(const std::string&)> onCall;

    void call(std::string text) {
        calls.push_back(text);
        if (onCall)
            onCall(text);
        if (auto failure = failures.find(text); failure != failures.end())
            throw Error(Error::Kind::Automation, "fake failure: " + text, failure->second);
    }
    std::vector<std::string> callsStartingWith(std::string_view prefix) const {
        std::vector<std::string> out;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                     [&](const std::string& text) { return text.starts_with(prefix); });
        return out;
    }
    bool called(std::string_view text) const {
        return std::find(calls.begin(), calls.end(), text) != calls.end();
    }

    std::unique_ptr<po::WordApplication> createWord(po::Purpose p) override {
        return start<po::WordApplication>("createWord", p);
    }
    std::unique_ptr<po::WordApplication> runningWord(po::Purpose p) override {
        return start<po::WordApplication>("runningWord", p, wordRunning);
    }
    std::unique_ptr<po::ExcelApplication> createExcel(po::Purpose p) override {
        return start<po::ExcelApplication>("createExcel", p);
    }
    std::unique_ptr<po::ExcelApplication> runningExcel(po::Purpose p) override {
        return start<po::ExcelApplication>("runningExcel", p, excelRunning);
    }
    std::unique_ptr<po::PowerPointApplication> createPowerPoint(po::Purpose p) override {
        return start<po::PowerPointApplication>("createPowerPoint", p);
    }
    std::unique_ptr<po::PowerPointApplication> runningPowerPoint(po::Purpose p) override {
        return start<po::PowerPointApplication>("runningPowerPoint", p, powerPointRunning);
    }
    std::string missingPart(po::Application) const override { return {}; }

  private:
    // Records "<verb> <purpose>"; an application that does not run gives nullptr.
    template <typename App>
    std::unique_ptr<App> start(const char* verb, po::Purpose purpose, bool running = true);
};

namespace fake_detail {

[[noreturn]] inline void missing(const std::string& what, long code) {
    throw Error(Error::Kind::Automation, "fake: no such " + what, code);
}

// The 1-based item of a collection, or the error Office gives for an index out of range.
template <typename T>
const T& item(const std::vector<T>& items, std::int32_t index, const char* what) {
    if (index < 1 || index > static_cast<std::int32_t>(items.size()))
        missing(what, kFakeOutOfRange);
    return items[static_cast<std::size_t>(index - 1)];
}

inline std::string n(std::int32_t value) {
    return std::to_string(value);
}
inline std::string b(bool value) {
    return value ? "true" : "false";
}
inline std::string openText(const char* app, const std::string& path,
                            const po::OpenOptions& options) {
    return std::string(app) + ".Open " + path + " ro=" + (options.readOnly ? "1" : "0") +
           " win=" + (options.withWindow ? "1" : "0");
}

// Records "<label>: <what>" on the office.
struct Recorder {
    FakeOffice& office;
    std::string label;
    void rec(const std::string& what) const { office.call(label + ": " + what); }
};

class WordDocument final : public po::WordDocument, Recorder {
  public:
    WordDocument(FakeOffice& o, std::string path) : Recorder{o, std::move(path)} {}

    std::int32_t sentenceCount() override { return rec("Sentences.Count"), size(file().sentences); }
    std::int32_t shapeCount() override { return rec("Shapes.Count"), size(file().shapes); }
    std::vector<std::string> sentenceTexts() override {
        return rec("Sentences.Text"), file().sentences;
    }
    std::string shapeText(std::int32_t j) override {
        rec("Shapes(" + n(j) + ").Text");
        const auto& text = item(file().shapes, j, "shape");
        if (!text)
            missing("text frame", kFakeNotAGroup);
        return *text;
    }
    std::string fullName() override { return rec("FullName"), file().fullName.value_or(label); }
    std::int32_t characterCount() override {
        return rec("Characters.Count"), static_cast<std::int32_t>(text().size());
    }
    void selectRange(std::int32_t start, std::int32_t end) override {
        rec("Range(" + n(start) + "," + n(end) + ").Select");
        const std::u16string all = text();
        const auto from = std::min(static_cast<std::size_t>(std::max(start, 0)), all.size());
        const auto to = std::clamp(static_cast<std::size_t>(std::max(end, 0)), from, all.size());
        office.wordSelection = platform::utf16ToUtf8(all.substr(from, to - from));
    }
    void close() override {
        rec("Close");
        auto& open = office.openWordDocuments;
        if (auto at = std::find(open.begin(), open.end(), label); at != open.end())
            open.erase(at);
    }

  private:
    template <typename V>
    static std::int32_t size(const V& items) {
        return static_cast<std::int32_t>(items.size());
    }
    const FakeWordFile& file() const { return office.wordFiles.at(label); }
    std::u16string text() const {
        std::string joined;
        for (const auto& sentence : file().sentences)
            joined += sentence;
        return platform::utf8ToUtf16(joined);
    }
};

class WordApplication final : public po::WordApplication, Recorder {
  public:
    explicit WordApplication(FakeOffice& o) : Recorder{o, {}} {}

    void setVisible(bool visible) override { office.call("Word.Visible=" + b(visible)); }
    std::int32_t displayAlerts() override {
        return office.call("Word.DisplayAlerts"), office.wordDisplayAlerts;
    }
    void setDisplayAlerts(std::int32_t level) override {
        office.call("Word.DisplayAlerts=" + n(level));
        office.wordDisplayAlerts = level;
    }
    void quit() override { office.call("Word.Quit"); }
    std::unique_ptr<po::WordDocument> open(const std::string& path,
                                           const po::OpenOptions& options) override {
        office.call(openText("Word", path, options));
        if (office.wordFiles.count(path) == 0)
            missing("document " + path, kFakeMissingFile);
        office.openWordDocuments.push_back(path);
        return std::make_unique<WordDocument>(office, path);
    }
    std::int32_t documentCount() override {
        office.call("Word.Documents.Count");
        return static_cast<std::int32_t>(office.openWordDocuments.size());
    }
    std::unique_ptr<po::WordDocument> document(std::int32_t index) override {
        office.call("Word.Documents(" + n(index) + ")");
        return std::make_unique<WordDocument>(office,
                                              item(office.openWordDocuments, index, "document"));
    }
    std::string selectionText() override {
        return office.call("Word.Selection.Text"), office.wordSelection;
    }
    bool findAndSelect(const std::string& text) override {
        return office.call("Word.Find " + text), true;
    }
};

class Worksheet final : public po::Worksheet, Recorder {
  public:
    Worksheet(FakeOffice& o, const std::string& path, const FakeSheet& sheet)
        : Recorder{o, path + "[" + sheet.name + "]"}, m_sheet(sheet) {}

    std::string name() override { return rec("Name"), m_sheet.name; }
    // The searchers read a sheet's cells; finding one is the office driver's own tests'.
    std::optional<po::FoundCell> findCell(const std::string&) override { return std::nullopt; }
    // One block: the whole sheet.
    void cells(const std::function<bool(std::vector<po::SheetCell>&)>& take) override {
        rec("Cells");
        std::vector<po::SheetCell> cells;
        for (std::size_t r = 0; r < m_sheet.cells.size(); ++r) {
            for (std::size_t c = 0; c < m_sheet.cells[r].size(); ++c) {
                // The fake reports a formula's text as its value.
                const std::string& text = m_sheet.cells[r][c];
                if (!text.empty())
                    cells.push_back({static_cast<std::int32_t>(r + 1),
                                     static_cast<std::int32_t>(c + 1), text,
                                     text.front() == '=' ? text : ""});
            }
        }
        take(cells);
    }
    void activate() override { rec("Activate"); }
    void selectCell(std::int32_t row, std::int32_t column) override {
        rec("Cells(" + n(row) + "," + n(column) + ").Select");
        if (row < 1 || column < 1)
            missing("cell", 1004);
    }

  private:
    const FakeSheet& m_sheet;
};

class Workbook final : public po::Workbook, Recorder {
  public:
    Workbook(FakeOffice& o, std::string path) : Recorder{o, std::move(path)} {}

    std::int32_t worksheetCount() override {
        return rec("Worksheets.Count"), static_cast<std::int32_t>(sheets().size());
    }
    std::unique_ptr<po::Worksheet> worksheet(std::int32_t index) override {
        rec("Worksheets(" + n(index) + ")");
        return std::make_unique<Worksheet>(office, label, item(sheets(), index, "sheet"));
    }
    std::unique_ptr<po::Worksheet> worksheetNamed(const std::string& name) override {
        rec("Worksheets(" + name + ")");
        for (const auto& sheet : sheets()) {
            if (sheet.name == name)
                return std::make_unique<Worksheet>(office, label, sheet);
        }
        missing("sheet " + name, kFakeOutOfRange);
    }
    void close() override { rec("Close"); }

  private:
    const std::vector<FakeSheet>& sheets() const { return office.excelFiles.at(label); }
};

class ExcelApplication final : public po::ExcelApplication, Recorder {
  public:
    explicit ExcelApplication(FakeOffice& o) : Recorder{o, {}} {}

    void setVisible(bool visible) override { office.call("Excel.Visible=" + b(visible)); }
    void setDisplayAlerts(bool on) override { office.call("Excel.DisplayAlerts=" + b(on)); }
    void quit() override { office.call("Excel.Quit"); }
    std::unique_ptr<po::Workbook> open(const std::string& path,
                                       const po::OpenOptions& options) override {
        office.call(openText("Excel", path, options));
        if (office.excelFiles.count(path) == 0)
            missing("workbook " + path, 1004);
        return std::make_unique<Workbook>(office, path);
    }
};

class Shape final : public po::Shape, Recorder {
  public:
    Shape(FakeOffice& o, std::string name, const FakeShape& shape)
        : Recorder{o, std::move(name)}, m_shape(shape) {}

    bool hasTextFrame() override { return rec("HasTextFrame"), m_shape.text.has_value(); }
    std::string text() override {
        rec("Text");
        if (!m_shape.text)
            missing("text frame", kFakeNotAGroup);
        return *m_shape.text;
    }
    std::int32_t groupItemCount() override {
        rec("GroupItems.Count");
        if (!m_shape.isGroup)
            missing("group", kFakeNotAGroup);
        return static_cast<std::int32_t>(m_shape.members.size());
    }
    std::unique_ptr<po::Shape> groupItem(std::int32_t index) override {
        rec("GroupItems(" + n(index) + ")");
        return std::make_unique<Shape>(office, label + "." + n(index),
                                       item(m_shape.members, index, "group item"));
    }

  private:
    const FakeShape& m_shape;
};

class Slide final : public po::Slide, Recorder {
  public:
    Slide(FakeOffice& o, std::string name, const FakeSlide& slide)
        : Recorder{o, std::move(name)}, m_slide(slide) {}

    std::int32_t shapeCount() override {
        return rec("Shapes.Count"), static_cast<std::int32_t>(m_slide.size());
    }
    std::unique_ptr<po::Shape> shape(std::int32_t index) override {
        rec("Shapes(" + n(index) + ")");
        return std::make_unique<Shape>(office, label + " shape " + n(index),
                                       item(m_slide, index, "shape"));
    }
    void select() override { rec("Select"); }

  private:
    const FakeSlide& m_slide;
};

class Presentation final : public po::Presentation, Recorder {
  public:
    Presentation(FakeOffice& o, std::string path) : Recorder{o, std::move(path)} {}

    std::int32_t slideCount() override {
        return rec("Slides.Count"), static_cast<std::int32_t>(slides().size());
    }
    std::unique_ptr<po::Slide> slide(std::int32_t index) override {
        rec("Slides(" + n(index) + ")");
        return std::make_unique<Slide>(office, label + " slide " + n(index),
                                       item(slides(), index, "slide"));
    }
    void close() override { rec("Close"); }

  private:
    const std::vector<FakeSlide>& slides() const { return office.powerPointFiles.at(label); }
};

class PowerPointApplication final : public po::PowerPointApplication, Recorder {
  public:
    explicit PowerPointApplication(FakeOffice& o) : Recorder{o, {}} {}

    void setVisible(bool visible) override { office.call("PowerPoint.Visible=" + b(visible)); }
    void quit() override { office.call("PowerPoint.Quit"); }
    std::unique_ptr<po::Presentation> open(const std::string& path,
                                           const po::OpenOptions& options) override {
        office.call(openText("PowerPoint", path, options));
        if (office.powerPointFiles.count(path) == 0)
            missing("presentation " + path, -2147467259);
        return std::make_unique<Presentation>(office, path);
    }
};

}  // namespace fake_detail

template <typename App>
std::unique_ptr<App> FakeOffice::start(const char* verb, po::Purpose purpose, bool running) {
    call(verb + std::string(purpose == po::Purpose::Search ? " Search" : " Open"));
    if (!running)
        return nullptr;
    if constexpr (std::is_same_v<App, po::WordApplication>)
        return std::make_unique<fake_detail::WordApplication>(*this);
    else if constexpr (std::is_same_v<App, po::ExcelApplication>)
        return std::make_unique<fake_detail::ExcelApplication>(*this);
    else
        return std::make_unique<fake_detail::PowerPointApplication>(*this);
}

}  // namespace ferretta::test
