#pragma once
// An in-memory Office for tests: the documents, workbooks and presentations a test describes,
// applications that run or cannot be started, and calls that fail with a chosen error number.
// Every call is recorded as a short text, in order, so that tests check what was called:
//
//   automation   "createWord Search", "runningExcel Open", ...
//   application  "Word.Visible=false", "Word.DisplayAlerts", "Word.DisplayAlerts=0",
//                "Word.Quit", "Word.Open <path> ro=1 win=1", "Word.Documents.Count",
//                "Word.Documents(2)", "Word.Selection.Text", "Word.Find <text>",
//                "Excel.Visible=true", "Excel.DisplayAlerts=false", "Excel.Quit",
//                "Excel.Open <path> ro=1 win=0", "PowerPoint.Visible=false", ...
//   document     "<path>: Sentences.Count", "<path>: Shapes.Count", "<path>: Sentences.Text",
//                "<path>: Shapes(3).Text", "<path>: FullName", "<path>: Characters.Count",
//                "<path>: Range(0,12).Select", "<path>: Close", "<path>: Worksheets.Count",
//                "<path>: Worksheets(2)", "<path>: Worksheets(Sheet2)", "<path>: Slides.Count",
//                "<path>: Slides(1)"
//   sheet        "<path>[Sheet1]: Name", "<path>[Sheet1]: Find <word>", "... Activate",
//                "<path>[Sheet1]: Cells(3,2).Select"
//   slide        "<path> slide 2: Shapes.Count", "<path> slide 2: Shapes(1)",
//                "<path> slide 2: Select"
//   shape        "<path> slide 2 shape 1.3: HasTextFrame" (member 3 of group shape 1), "... Text",
//                "... GroupItems.Count", "... GroupItems(3)"
//
// A failure is a recorded call text mapped to an error number in `failures`: that call throws
// ferretta::Error (kind Automation) with the number, after being recorded.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/debug_log.h"
#include "platform/cp932.h"
#include "platform/error.h"
#include "platform/office/automation.h"
#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::test {

namespace po = platform::office;

// ---- What a test describes ----------------------------------------------------------------

struct FakeWordFile {
    // Word's sentences, each with its own ending ("\r" at a paragraph's end).
    std::vector<std::string> sentences;
    // Shapes in order; nullopt is a shape without text (its text cannot be read).
    std::vector<std::optional<std::string>> shapes;
    // The name Word reports for the open document; the path it was opened with when empty.
    std::optional<std::string> fullName;
};

struct FakeSheet {
    std::string name;
    std::vector<std::vector<std::string>> cells;  // rows of cells, from A1
};
using FakeWorkbookFile = std::vector<FakeSheet>;

// A PowerPoint shape: text in a text frame, none (a picture), or a group of shapes.
struct FakeShape {
    std::optional<std::string> text;  // nullopt: no text frame
    bool isGroup = false;
    std::vector<FakeShape> members;

    static FakeShape textBox(std::string content) {
        return FakeShape{std::move(content), false, {}};
    }
    static FakeShape picture() { return FakeShape{std::nullopt, false, {}}; }
    static FakeShape group(std::vector<FakeShape> shapes) {
        return FakeShape{std::nullopt, true, std::move(shapes)};
    }
};
using FakeSlide = std::vector<FakeShape>;
using FakePresentationFile = std::vector<FakeSlide>;

// The error numbers the fake gives where a test names none.
inline constexpr long kFakeMissingFile = 5174;
inline constexpr long kFakeNotAGroup = -2147024809;
inline constexpr long kFakeOutOfRange = 9;

class FakeOffice;

namespace fake_detail {

inline std::string boolText(bool value) {
    return value ? "true" : "false";
}

}  // namespace fake_detail

class FakeOffice : public po::Automation {
  public:
    std::map<std::string, FakeWordFile> wordFiles;
    std::map<std::string, FakeWorkbookFile> excelFiles;
    std::map<std::string, FakePresentationFile> powerPointFiles;
    // Whether an application counts as already running (for either purpose).
    bool wordRunning = false;
    bool excelRunning = false;
    bool powerPointRunning = false;
    // Word's DisplayAlerts as the application starts.
    std::int32_t wordDisplayAlerts = -1;
    // Calls that fail: recorded call text -> error number.
    std::map<std::string, long> failures;
    // Every call, in order.
    std::vector<std::string> calls;

    // Records a call and throws when the test asked it to fail.
    void call(std::string text) {
        calls.push_back(text);
        auto failure = failures.find(text);
        if (failure != failures.end()) {
            throw Error(Error::Kind::Automation, "fake failure: " + text, failure->second);
        }
    }

    // The recorded calls that start with the prefix, in order.
    std::vector<std::string> callsStartingWith(std::string_view prefix) const {
        std::vector<std::string> out;
        for (const auto& text : calls) {
            if (text.compare(0, prefix.size(), prefix) == 0)
                out.push_back(text);
        }
        return out;
    }
    bool called(std::string_view text) const {
        return std::find(calls.begin(), calls.end(), text) != calls.end();
    }

    std::unique_ptr<po::WordApplication> createWord(po::Purpose purpose) override;
    std::unique_ptr<po::WordApplication> runningWord(po::Purpose purpose) override;
    std::unique_ptr<po::ExcelApplication> createExcel(po::Purpose purpose) override;
    std::unique_ptr<po::ExcelApplication> runningExcel(po::Purpose purpose) override;
    std::unique_ptr<po::PowerPointApplication> createPowerPoint(po::Purpose purpose) override;
    std::unique_ptr<po::PowerPointApplication> runningPowerPoint(po::Purpose purpose) override;

    // Word's state shared by its application and documents.
    std::vector<std::string> openWordDocuments;
    std::string wordSelection;
};

namespace fake_detail {

inline const char* purposeText(po::Purpose purpose) {
    return purpose == po::Purpose::Search ? "Search" : "Open";
}

inline std::string openText(std::string_view app, const std::string& path,
                            const po::OpenOptions& options) {
    return std::string(app) + ".Open " + path + " ro=" + (options.readOnly ? "1" : "0") +
           " win=" + (options.withWindow ? "1" : "0");
}

[[noreturn]] inline void missing(const std::string& what, long code) {
    throw Error(Error::Kind::Automation, "fake: no such " + what, code);
}

// ---- Word -----------------------------------------------------------------------------------

inline std::string joinedText(const FakeWordFile& file) {
    std::string text;
    for (const auto& sentence : file.sentences)
        text += sentence;
    return text;
}

class WordDocument final : public po::WordDocument {
  public:
    WordDocument(FakeOffice& office, std::string path)
        : m_office(office), m_path(std::move(path)) {}

    std::int32_t sentenceCount() override {
        m_office.call(m_path + ": Sentences.Count");
        return static_cast<std::int32_t>(file().sentences.size());
    }
    std::int32_t shapeCount() override {
        m_office.call(m_path + ": Shapes.Count");
        return static_cast<std::int32_t>(file().shapes.size());
    }
    std::vector<std::string> sentenceTexts() override {
        m_office.call(m_path + ": Sentences.Text");
        return file().sentences;
    }
    std::string shapeText(std::int32_t j) override {
        m_office.call(m_path + ": Shapes(" + std::to_string(j) + ").Text");
        const auto& shapes = file().shapes;
        if (j < 1 || j > static_cast<std::int32_t>(shapes.size()))
            missing("shape", kFakeOutOfRange);
        const auto& text = shapes[static_cast<std::size_t>(j - 1)];
        if (!text)
            missing("text frame", kFakeNotAGroup);
        return *text;
    }
    std::string fullName() override {
        m_office.call(m_path + ": FullName");
        return file().fullName.value_or(m_path);
    }
    std::int32_t characterCount() override {
        m_office.call(m_path + ": Characters.Count");
        return static_cast<std::int32_t>(platform::utf8ToUtf16(joinedText(file())).size());
    }
    void selectRange(std::int32_t start, std::int32_t end) override {
        m_office.call(m_path + ": Range(" + std::to_string(start) + "," + std::to_string(end) +
                      ").Select");
        std::u16string text = platform::utf8ToUtf16(joinedText(file()));
        auto from = static_cast<std::size_t>(std::clamp<std::int32_t>(start, 0, INT32_MAX));
        auto to = static_cast<std::size_t>(std::clamp<std::int32_t>(end, 0, INT32_MAX));
        from = std::min(from, text.size());
        to = std::clamp(to, from, text.size());
        m_office.wordSelection = platform::utf16ToUtf8(text.substr(from, to - from));
    }
    void close() override {
        m_office.call(m_path + ": Close");
        auto& open = m_office.openWordDocuments;
        auto at = std::find(open.begin(), open.end(), m_path);
        if (at != open.end())
            open.erase(at);
    }

  private:
    const FakeWordFile& file() const { return m_office.wordFiles.at(m_path); }

    FakeOffice& m_office;
    std::string m_path;
};

class WordApplication final : public po::WordApplication {
  public:
    explicit WordApplication(FakeOffice& office) : m_office(office) {}

    void setVisible(bool visible) override { m_office.call("Word.Visible=" + boolText(visible)); }
    std::int32_t displayAlerts() override {
        m_office.call("Word.DisplayAlerts");
        return m_office.wordDisplayAlerts;
    }
    void setDisplayAlerts(std::int32_t level) override {
        m_office.call("Word.DisplayAlerts=" + std::to_string(level));
        m_office.wordDisplayAlerts = level;
    }
    void quit() override { m_office.call("Word.Quit"); }
    std::unique_ptr<po::WordDocument> open(const std::string& path,
                                           const po::OpenOptions& options) override {
        m_office.call(openText("Word", path, options));
        if (m_office.wordFiles.count(path) == 0)
            missing("document " + path, kFakeMissingFile);
        m_office.openWordDocuments.push_back(path);
        return std::make_unique<WordDocument>(m_office, path);
    }
    std::int32_t documentCount() override {
        m_office.call("Word.Documents.Count");
        return static_cast<std::int32_t>(m_office.openWordDocuments.size());
    }
    std::unique_ptr<po::WordDocument> document(std::int32_t index) override {
        m_office.call("Word.Documents(" + std::to_string(index) + ")");
        const auto& open = m_office.openWordDocuments;
        if (index < 1 || index > static_cast<std::int32_t>(open.size()))
            missing("document index", kFakeOutOfRange);
        return std::make_unique<WordDocument>(m_office, open[static_cast<std::size_t>(index - 1)]);
    }
    std::string selectionText() override {
        m_office.call("Word.Selection.Text");
        return m_office.wordSelection;
    }
    bool findAndSelect(const std::string& text) override {
        m_office.call("Word.Find " + text);
        return true;
    }

  private:
    FakeOffice& m_office;
};

// ---- Excel ----------------------------------------------------------------------------------

inline std::u16string folded(std::string_view text) {
    return platform::foldForMatch(platform::utf8ToUtf16(text));
}

class Worksheet final : public po::Worksheet {
  public:
    Worksheet(FakeOffice& office, std::string path, const FakeSheet& sheet)
        : m_office(office), m_label(path + "[" + sheet.name + "]"), m_sheet(sheet) {}

    std::string name() override {
        m_office.call(m_label + ": Name");
        return m_sheet.name;
    }
    std::optional<po::FoundCell> findCell(const std::string& what) override {
        m_office.call(m_label + ": Find " + what);
        const std::u16string word = folded(what);
        // Excel's order: by rows, starting after A1, coming back to A1 last.
        std::optional<po::FoundCell> first;
        for (std::size_t r = 0; r < m_sheet.cells.size(); ++r) {
            const auto& row = m_sheet.cells[r];
            for (std::size_t c = 0; c < row.size(); ++c) {
                if (folded(row[c]).find(word) == std::u16string::npos)
                    continue;
                po::FoundCell cell{row[c], static_cast<std::int32_t>(r + 1),
                                   static_cast<std::int32_t>(c + 1)};
                if (r == 0 && c == 0) {
                    first = cell;
                    continue;
                }
                return cell;
            }
        }
        return first;
    }
    void activate() override { m_office.call(m_label + ": Activate"); }
    void selectCell(std::int32_t row, std::int32_t column) override {
        m_office.call(m_label + ": Cells(" + std::to_string(row) + "," + std::to_string(column) +
                      ").Select");
        if (row < 1 || column < 1)
            missing("cell", 1004);
    }

  private:
    FakeOffice& m_office;
    std::string m_label;
    const FakeSheet& m_sheet;
};

class Workbook final : public po::Workbook {
  public:
    Workbook(FakeOffice& office, std::string path) : m_office(office), m_path(std::move(path)) {}

    std::int32_t worksheetCount() override {
        m_office.call(m_path + ": Worksheets.Count");
        return static_cast<std::int32_t>(file().size());
    }
    std::unique_ptr<po::Worksheet> worksheet(std::int32_t index) override {
        m_office.call(m_path + ": Worksheets(" + std::to_string(index) + ")");
        if (index < 1 || index > static_cast<std::int32_t>(file().size()))
            missing("sheet index", kFakeOutOfRange);
        return std::make_unique<Worksheet>(m_office, m_path,
                                           file()[static_cast<std::size_t>(index - 1)]);
    }
    std::unique_ptr<po::Worksheet> worksheetNamed(const std::string& name) override {
        m_office.call(m_path + ": Worksheets(" + name + ")");
        for (const auto& sheet : file()) {
            if (sheet.name == name)
                return std::make_unique<Worksheet>(m_office, m_path, sheet);
        }
        missing("sheet " + name, kFakeOutOfRange);
    }
    void close() override { m_office.call(m_path + ": Close"); }

  private:
    const FakeWorkbookFile& file() const { return m_office.excelFiles.at(m_path); }

    FakeOffice& m_office;
    std::string m_path;
};

class ExcelApplication final : public po::ExcelApplication {
  public:
    explicit ExcelApplication(FakeOffice& office) : m_office(office) {}

    void setVisible(bool visible) override { m_office.call("Excel.Visible=" + boolText(visible)); }
    void setDisplayAlerts(bool on) override {
        m_office.call("Excel.DisplayAlerts=" + boolText(on));
    }
    void quit() override { m_office.call("Excel.Quit"); }
    std::unique_ptr<po::Workbook> open(const std::string& path,
                                       const po::OpenOptions& options) override {
        m_office.call(openText("Excel", path, options));
        if (m_office.excelFiles.count(path) == 0)
            missing("workbook " + path, 1004);
        return std::make_unique<Workbook>(m_office, path);
    }

  private:
    FakeOffice& m_office;
};

// ---- PowerPoint -----------------------------------------------------------------------------

class Shape final : public po::Shape {
  public:
    Shape(FakeOffice& office, std::string label, const FakeShape& shape)
        : m_office(office), m_label(std::move(label)), m_shape(shape) {}

    bool hasTextFrame() override {
        m_office.call(m_label + ": HasTextFrame");
        return m_shape.text.has_value();
    }
    std::string text() override {
        m_office.call(m_label + ": Text");
        if (!m_shape.text)
            missing("text frame", kFakeNotAGroup);
        return *m_shape.text;
    }
    std::int32_t groupItemCount() override {
        m_office.call(m_label + ": GroupItems.Count");
        if (!m_shape.isGroup)
            missing("group", kFakeNotAGroup);
        return static_cast<std::int32_t>(m_shape.members.size());
    }
    std::unique_ptr<po::Shape> groupItem(std::int32_t index) override {
        m_office.call(m_label + ": GroupItems(" + std::to_string(index) + ")");
        if (!m_shape.isGroup || index < 1 ||
            index > static_cast<std::int32_t>(m_shape.members.size()))
            missing("group item", kFakeOutOfRange);
        return std::make_unique<Shape>(m_office, m_label + "." + std::to_string(index),
                                       m_shape.members[static_cast<std::size_t>(index - 1)]);
    }

  private:
    FakeOffice& m_office;
    std::string m_label;
    const FakeShape& m_shape;
};

class Slide final : public po::Slide {
  public:
    Slide(FakeOffice& office, std::string label, const FakeSlide& slide)
        : m_office(office), m_label(std::move(label)), m_slide(slide) {}

    std::int32_t shapeCount() override {
        m_office.call(m_label + ": Shapes.Count");
        return static_cast<std::int32_t>(m_slide.size());
    }
    std::unique_ptr<po::Shape> shape(std::int32_t index) override {
        m_office.call(m_label + ": Shapes(" + std::to_string(index) + ")");
        if (index < 1 || index > static_cast<std::int32_t>(m_slide.size()))
            missing("shape", kFakeOutOfRange);
        return std::make_unique<Shape>(m_office, m_label + " shape " + std::to_string(index),
                                       m_slide[static_cast<std::size_t>(index - 1)]);
    }
    void select() override { m_office.call(m_label + ": Select"); }

  private:
    FakeOffice& m_office;
    std::string m_label;
    const FakeSlide& m_slide;
};

class Presentation final : public po::Presentation {
  public:
    Presentation(FakeOffice& office, std::string path)
        : m_office(office), m_path(std::move(path)) {}

    std::int32_t slideCount() override {
        m_office.call(m_path + ": Slides.Count");
        return static_cast<std::int32_t>(file().size());
    }
    std::unique_ptr<po::Slide> slide(std::int32_t index) override {
        m_office.call(m_path + ": Slides(" + std::to_string(index) + ")");
        if (index < 1 || index > static_cast<std::int32_t>(file().size()))
            missing("slide", kFakeOutOfRange);
        return std::make_unique<Slide>(m_office, m_path + " slide " + std::to_string(index),
                                       file()[static_cast<std::size_t>(index - 1)]);
    }
    void close() override { m_office.call(m_path + ": Close"); }

  private:
    const FakePresentationFile& file() const { return m_office.powerPointFiles.at(m_path); }

    FakeOffice& m_office;
    std::string m_path;
};

class PowerPointApplication final : public po::PowerPointApplication {
  public:
    explicit PowerPointApplication(FakeOffice& office) : m_office(office) {}

    void setVisible(bool visible) override {
        m_office.call("PowerPoint.Visible=" + boolText(visible));
    }
    void quit() override { m_office.call("PowerPoint.Quit"); }
    std::unique_ptr<po::Presentation> open(const std::string& path,
                                           const po::OpenOptions& options) override {
        m_office.call(openText("PowerPoint", path, options));
        if (m_office.powerPointFiles.count(path) == 0)
            missing("presentation " + path, -2147467259);
        return std::make_unique<Presentation>(m_office, path);
    }

  private:
    FakeOffice& m_office;
};

}  // namespace fake_detail

inline std::unique_ptr<po::WordApplication> FakeOffice::createWord(po::Purpose purpose) {
    call(std::string("createWord ") + fake_detail::purposeText(purpose));
    return std::make_unique<fake_detail::WordApplication>(*this);
}
inline std::unique_ptr<po::WordApplication> FakeOffice::runningWord(po::Purpose purpose) {
    call(std::string("runningWord ") + fake_detail::purposeText(purpose));
    return wordRunning ? std::make_unique<fake_detail::WordApplication>(*this) : nullptr;
}
inline std::unique_ptr<po::ExcelApplication> FakeOffice::createExcel(po::Purpose purpose) {
    call(std::string("createExcel ") + fake_detail::purposeText(purpose));
    return std::make_unique<fake_detail::ExcelApplication>(*this);
}
inline std::unique_ptr<po::ExcelApplication> FakeOffice::runningExcel(po::Purpose purpose) {
    call(std::string("runningExcel ") + fake_detail::purposeText(purpose));
    return excelRunning ? std::make_unique<fake_detail::ExcelApplication>(*this) : nullptr;
}
inline std::unique_ptr<po::PowerPointApplication> FakeOffice::createPowerPoint(
    po::Purpose purpose) {
    call(std::string("createPowerPoint ") + fake_detail::purposeText(purpose));
    return std::make_unique<fake_detail::PowerPointApplication>(*this);
}
inline std::unique_ptr<po::PowerPointApplication> FakeOffice::runningPowerPoint(
    po::Purpose purpose) {
    call(std::string("runningPowerPoint ") + fake_detail::purposeText(purpose));
    return powerPointRunning ? std::make_unique<fake_detail::PowerPointApplication>(*this)
                             : nullptr;
}

// ---- The debug log ------------------------------------------------------------------------

// Opens the process's debug log in a folder of the test's own for as long as it lives, and
// reads back the lines written meanwhile as "place|message". Must be the first to touch the
// log in the test program (the log's folder is fixed on first use).
class DebugLogCapture {
  public:
    DebugLogCapture() {
        static const bool homeSet = [] {
            ::setenv("FERRETTA_HOME", homeFolder().c_str(), 1);
            std::filesystem::create_directories(homeFolder());
            // The folder goes when the test program ends (the log, made later, is closed by
            // then).
            std::atexit([] {
                std::error_code ignored;
                std::filesystem::remove_all(homeFolder(), ignored);
            });
            return true;
        }();
        (void)homeSet;
        app::debugLog().logClose();
        std::error_code ignored;
        std::filesystem::remove(app::debugLog().path(), ignored);
        app::debugLog().logOpen();
    }
    ~DebugLogCapture() {
        app::debugLog().logClose();
        std::error_code ignored;
        std::filesystem::remove(app::debugLog().path(), ignored);
    }
    DebugLogCapture(const DebugLogCapture&) = delete;
    DebugLogCapture& operator=(const DebugLogCapture&) = delete;

    // The "place|message" of every line written so far (the opening marker included).
    std::vector<std::string> lines() const {
        app::debugLog().logClose();
        std::ifstream in(app::debugLog().path(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        app::debugLog().logOpen();
        std::vector<std::string> out;
        std::string text = platform::cp932ToUtf8(bytes.str());
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            start = end + 2;
            // "<date> <time> - place - message"
            std::size_t first = line.find(" - ");
            std::size_t second = first == std::string::npos ? first : line.find(" - ", first + 3);
            if (second == std::string::npos)
                continue;
            out.push_back(line.substr(first + 3, second - first - 3) + "|" +
                          line.substr(second + 3));
        }
        return out;
    }

    static const std::filesystem::path& homeFolder() {
        static const std::filesystem::path folder =
            std::filesystem::temp_directory_path() /
            ("ferretta-office-log-" + std::to_string(::getpid()));
        return folder;
    }

    // The lines of one place, messages only.
    std::vector<std::string> messagesOf(std::string_view place) const {
        std::vector<std::string> out;
        const std::string prefix = std::string(place) + "|";
        for (const auto& line : lines()) {
            if (line.compare(0, prefix.size(), prefix) == 0)
                out.push_back(line.substr(prefix.size()));
        }
        return out;
    }
};

}  // namespace ferretta::test
