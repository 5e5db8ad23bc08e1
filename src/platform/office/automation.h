#pragma once
// The Office applications as the Word, Excel and PowerPoint searchers drive them: a small
// object model offering exactly the members those searchers call. The program ships one
// implementation over LibreOffice (Writer, Calc and Impress through UNO, in
// office/libreoffice_*.h); the unit tests use an in-memory one.
//
// Failures: every member may throw ferretta::Error of kind Automation whose code() is the
// automation error number (never 0): the file cannot be opened (missing, damaged, protected by
// a password), the office refused a call, or the office died or stopped answering (the
// implementation then ends it and starts a new one for the next call). The searchers catch it
// in their error trap. Objects handed out stay safe to call after such a failure; their calls
// then throw too. Texts are UTF-8; paragraph ends inside texts are CR ("\r"), as in Word.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ferretta::platform::office {

// The error number of a call abandoned because the search was stopped (E_ABORT, 0x80004004):
// the office was ended and the document counts as not searched.
inline constexpr long stoppedCallError = -2147467260L;

// Why an application is wanted. A search runs in a hidden office of its own that the user
// never sees; opening a hit uses a visible office that stays open for the user and is reused
// for later double-clicks.
enum class Purpose : std::uint8_t { Search, Open };

struct OpenOptions {
    bool readOnly = true;
    // Word's Visible and PowerPoint's WithWindow: the document gets a window of its own (in an
    // application that is itself hidden, that window stays unseen).
    bool withWindow = false;
};

// ---- Word ---------------------------------------------------------------------------------

class WordDocument {
  public:
    virtual ~WordDocument() = default;
    virtual std::int32_t sentenceCount() = 0;
    virtual std::int32_t shapeCount() = 0;
    // The texts of sentences 1..sentenceCount(), in order, read at once.
    virtual std::vector<std::string> sentenceTexts() = 0;
    // The text of the text frame of shape j (1-based); throws for a shape without text.
    virtual std::string shapeText(std::int32_t j) = 0;
    virtual std::string fullName() = 0;
    virtual std::int32_t characterCount() = 0;
    // Range(start, end).Select: the application's selection becomes that part of the text.
    virtual void selectRange(std::int32_t start, std::int32_t end) = 0;
    // Closes without saving.
    virtual void close() = 0;
};

class WordApplication {
  public:
    virtual ~WordApplication() = default;
    virtual void setVisible(bool visible) = 0;
    virtual std::int32_t displayAlerts() = 0;
    virtual void setDisplayAlerts(std::int32_t level) = 0;
    // Ends the application without saving anything.
    virtual void quit() = 0;
    // Documents.Open.
    virtual std::unique_ptr<WordDocument> open(const std::string& path,
                                               const OpenOptions& options) = 0;
    // The open documents (Documents.Count, Documents(index), 1-based).
    virtual std::int32_t documentCount() = 0;
    virtual std::unique_ptr<WordDocument> document(std::int32_t index) = 0;
    // Selection.Text.
    virtual std::string selectionText() = 0;
    // Selection.Find: ClearFormatting, Wrap = continue from the start, MatchFuzzy = True,
    // Execute with the text. Answers whether it was found (the selection moves to it).
    virtual bool findAndSelect(const std::string& text) = 0;
};

// ---- Excel --------------------------------------------------------------------------------

// A cell as the cell find sees it.
struct SheetCell {
    std::int32_t row = 0;  // 1-based
    std::int32_t column = 0;
    std::string text;   // what the find looks in: the formula for a formula, else the value
    std::string value;  // for a formula, the value the find reports; empty otherwise
};

struct FoundCell {
    std::string text;  // the cell's value as text
    std::int32_t row = 0;
    std::int32_t column = 0;
};

class Worksheet {
  public:
    virtual ~Worksheet() = default;
    virtual std::string name() = 0;
    // Every cell of the used area that is not empty, by rows, handed to `take` a block of rows
    // at a time, so that memory stays bounded whatever the sheet holds; `take` answers false to
    // stop the reading.
    virtual void cells(const std::function<bool(std::vector<SheetCell>& block)>& take) = 0;
    // Cells.Find(What, next, MatchCase = False, MatchByte = False): the first cell, in
    // Excel's order (by rows, starting after A1 and coming back to A1 last), whose text
    // contains `what` ignoring letter case and full/half width; nullopt when none does.
    virtual std::optional<FoundCell> findCell(const std::string& what) = 0;
    virtual void activate() = 0;
    // Cells(row, column).Select; throws for a cell outside the sheet.
    virtual void selectCell(std::int32_t row, std::int32_t column) = 0;
};

class Workbook {
  public:
    virtual ~Workbook() = default;
    virtual std::int32_t worksheetCount() = 0;
    virtual std::unique_ptr<Worksheet> worksheet(std::int32_t index) = 0;  // 1-based
    // Worksheets(name); throws when the workbook has no sheet of that name.
    virtual std::unique_ptr<Worksheet> worksheetNamed(const std::string& name) = 0;
    virtual void close() = 0;
};

class ExcelApplication {
  public:
    virtual ~ExcelApplication() = default;
    virtual void setVisible(bool visible) = 0;
    virtual void setDisplayAlerts(bool on) = 0;
    virtual void quit() = 0;
    // Workbooks.Open.
    virtual std::unique_ptr<Workbook> open(const std::string& path, const OpenOptions& options) = 0;
};

// ---- PowerPoint ---------------------------------------------------------------------------

class Shape {
  public:
    virtual ~Shape() = default;
    virtual bool hasTextFrame() = 0;
    // TextFrame.TextRange.Text.
    virtual std::string text() = 0;
    // GroupItems.Count; throws when the shape is not a group.
    virtual std::int32_t groupItemCount() = 0;
    virtual std::unique_ptr<Shape> groupItem(std::int32_t index) = 0;  // 1-based
};

class Slide {
  public:
    virtual ~Slide() = default;
    virtual std::int32_t shapeCount() = 0;
    virtual std::unique_ptr<Shape> shape(std::int32_t index) = 0;  // 1-based
    virtual void select() = 0;
};

class Presentation {
  public:
    virtual ~Presentation() = default;
    virtual std::int32_t slideCount() = 0;
    virtual std::unique_ptr<Slide> slide(std::int32_t index) = 0;  // 1-based
    virtual void close() = 0;
};

class PowerPointApplication {
  public:
    virtual ~PowerPointApplication() = default;
    virtual void setVisible(bool visible) = 0;
    virtual void quit() = 0;
    // Presentations.Open.
    virtual std::unique_ptr<Presentation> open(const std::string& path,
                                               const OpenOptions& options) = 0;
};

// ---- The automation service ---------------------------------------------------------------

// The Office applications, by the file types they serve.
enum class Application : std::uint8_t { Word, Excel, PowerPoint };

// Creates applications and attaches to running ones. create* throw ferretta::Error (kind
// Automation) when the application cannot be started (for example the office is not
// installed); running* answer null when none runs. For Purpose::Search no application counts
// as running, so a search always works in its own hidden one.
class Automation {
  public:
    virtual ~Automation() = default;
    virtual std::unique_ptr<WordApplication> createWord(Purpose purpose) = 0;
    virtual std::unique_ptr<WordApplication> runningWord(Purpose purpose) = 0;
    virtual std::unique_ptr<ExcelApplication> createExcel(Purpose purpose) = 0;
    virtual std::unique_ptr<ExcelApplication> runningExcel(Purpose purpose) = 0;
    virtual std::unique_ptr<PowerPointApplication> createPowerPoint(Purpose purpose) = 0;
    virtual std::unique_ptr<PowerPointApplication> runningPowerPoint(Purpose purpose) = 0;
    // After a create* failed: the part of the office that is not installed, as one sentence
    // for the user naming what to install; empty when nothing is known to be missing.
    virtual std::string missingPart(Application) const { return {}; }
    // A message about an application that failed, with what is missing on a line of its own.
    std::string withMissingPart(Application application, std::string text) const {
        if (const std::string missing = missingPart(application); !missing.empty())
            text += "\r" + missing;
        return text;
    }
};

}  // namespace ferretta::platform::office
