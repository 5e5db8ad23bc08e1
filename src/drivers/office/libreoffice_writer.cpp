// Word's object model over Writer. A document's text is read from the office in bulk, once:
// the body with its tables in one call, then (only when asked for) the shapes. Sentences
// are split here, not by Writer's sentence cursor, which is slow call by call and misses
// Japanese sentences that follow "。" without a blank.
#include "drivers/office/libreoffice_writer.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/drawing/XDrawPageSupplier.hpp>
#include <com/sun/star/drawing/XShape.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XSearchDescriptor.hpp>
#include <com/sun/star/util/XSearchable.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>

#include <algorithm>
#include <set>
#include <utility>

#include "documents/sentences.h"
#include "drivers/office/libreoffice_connection.h"
#include "drivers/office/libreoffice_text.h"
#include "platform/unicode.h"

namespace ferretta::platform::office::lo {
namespace {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

constexpr const char* kTextDocument = "com.sun.star.text.TextDocument";
// Word refuses longer find texts; the opener relies on that refusal.
constexpr std::size_t kMaxFindLength = 255;

// Selection.Text of the application: what the last selectRange or findAndSelect selected.
struct SelectionState {
    std::u16string text;
    // Set after a find in a document on screen: the selection is read from its view, where
    // the user may also have moved it since.
    Reference<css::frame::XModel> shownIn;
};

// The main text: body paragraphs and table cells in document order, each paragraph ended with
// CR, as Word's main story reads. One call: the body's string holds every paragraph and every
// table cell, each ended by a line feed but the last (walking the paragraphs one by one costs
// several calls each and is no more exact).
std::u16string readMainText(const Reference<css::text::XTextDocument>& document) {
    std::u16string text = documents::breaksToCr(toU16(document->getText()->getString()));
    text.push_back(u'\r');
    return text;
}

// The shapes as Word counts them: the draw page's shapes (a .doc's text boxes arrive there as
// drawing shapes), then the text frames not already among them. nullopt: a shape without text.
std::vector<std::optional<std::u16string>> readShapes(
    const Reference<css::text::XTextDocument>& document) {
    std::vector<std::optional<std::u16string>> shapes;
    std::set<rtl::OUString> namesSeen;
    const auto textOf =
        [](const Reference<css::uno::XInterface>& shape) -> std::optional<std::u16string> {
        Reference<css::text::XText> text(shape, UNO_QUERY);
        if (!text.is())
            return std::nullopt;
        return documents::breaksToCr(toU16(text->getString()));
    };
    Reference<css::drawing::XDrawPageSupplier> pageSupplier(document, UNO_QUERY);
    if (pageSupplier.is()) {
        // Marked deprecated in the SDK, yet Writer offers no other way to its one draw page.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Reference<css::container::XIndexAccess> page(pageSupplier->getDrawPage(), UNO_QUERY);
#pragma GCC diagnostic pop
        const sal_Int32 count = page.is() ? page->getCount() : 0;
        for (sal_Int32 i = 0; i < count; ++i) {
            Reference<css::uno::XInterface> shape(page->getByIndex(i), UNO_QUERY);
            Reference<css::container::XNamed> named(shape, UNO_QUERY);
            if (named.is())
                namesSeen.insert(named->getName());
            shapes.push_back(textOf(shape));
        }
    }
    Reference<css::text::XTextFramesSupplier> frameSupplier(document, UNO_QUERY);
    if (frameSupplier.is()) {
        const auto frames = frameSupplier->getTextFrames();
        for (const auto& name : frames->getElementNames()) {
            if (namesSeen.count(name) != 0)
                continue;
            Reference<css::uno::XInterface> frame(frames->getByName(name), UNO_QUERY);
            shapes.push_back(textOf(frame));
        }
    }
    return shapes;
}

std::string toUtf8(const std::u16string& text) {
    return utf16ToUtf8(text);
}

class WriterDocument final : public WordDocument {
  public:
    WriterDocument(std::shared_ptr<Office> office, std::uint64_t generation,
                   Reference<css::text::XTextDocument> document,
                   std::shared_ptr<SelectionState> selection)
        : m_office(std::move(office)),
          m_generation(generation),
          m_document(std::move(document)),
          m_selection(std::move(selection)) {}

    std::int32_t sentenceCount() override { return static_cast<std::int32_t>(sentences().size()); }
    std::int32_t shapeCount() override { return static_cast<std::int32_t>(shapes().size()); }

    std::vector<std::string> sentenceTexts() override {
        std::vector<std::string> texts;
        texts.reserve(sentences().size());
        for (const auto& sentence : sentences())
            texts.push_back(toUtf8(sentence));
        return texts;
    }

    std::string shapeText(std::int32_t j) override {
        const auto& all = shapes();
        if (j < 1 || static_cast<std::size_t>(j) > all.size()) {
            fail(kBadIndex, "No shape " + std::to_string(j));
        }
        const auto& text = all[static_cast<std::size_t>(j - 1)];
        if (!text)
            fail(kCallRefused, "Shape " + std::to_string(j) + " has no text frame");
        return toUtf8(*text);
    }

    std::string fullName() override {
        return m_office->callOn(m_generation, [&] {
            Reference<css::frame::XModel> model(m_document, UNO_QUERY_THROW);
            return m_office->pathOfUrl(lo::toUtf8(model->getURL()));
        });
    }

    std::int32_t characterCount() override {
        return static_cast<std::int32_t>(
            std::min<std::size_t>(mainText().size(), std::numeric_limits<std::int32_t>::max()));
    }

    void selectRange(std::int32_t start, std::int32_t end) override {
        const auto& text = mainText();
        const auto clamp = [&](std::int32_t at) {
            return std::min<std::size_t>(static_cast<std::size_t>(std::max(at, 0)), text.size());
        };
        std::size_t from = clamp(start);
        std::size_t to = clamp(end);
        if (from > to)
            std::swap(from, to);
        m_selection->text = text.substr(from, to - from);
        m_selection->shownIn.clear();
    }

    void close() override {
        m_office->callOn(m_generation, [&] {
            Reference<css::lang::XComponent> component(m_document, UNO_QUERY_THROW);
            closeDocument(component);
        });
    }

  private:
    const std::u16string& mainText() {
        if (!m_mainText) {
            m_mainText = m_office->callOn(m_generation, [&] { return readMainText(m_document); });
        }
        return *m_mainText;
    }
    const std::vector<std::u16string>& sentences() {
        if (!m_sentences)
            m_sentences = documents::sentencesOfText(mainText());
        return *m_sentences;
    }
    const std::vector<std::optional<std::u16string>>& shapes() {
        if (!m_shapes) {
            m_shapes = m_office->callOn(m_generation, [&] { return readShapes(m_document); });
        }
        return *m_shapes;
    }

    std::shared_ptr<Office> m_office;
    std::uint64_t m_generation;
    Reference<css::text::XTextDocument> m_document;
    std::shared_ptr<SelectionState> m_selection;
    std::optional<std::u16string> m_mainText;
    std::optional<std::vector<std::u16string>> m_sentences;
    std::optional<std::vector<std::optional<std::u16string>>> m_shapes;
};

class WriterApplication final : public WordApplication {
  public:
    explicit WriterApplication(std::shared_ptr<Office> office)
        : m_hold(std::move(office), kTextDocument, "Word") {}

    void setVisible(bool visible) override { m_hold.setVisible(visible); }
    std::int32_t displayAlerts() override { return m_displayAlerts; }
    void setDisplayAlerts(std::int32_t level) override { m_displayAlerts = level; }

    void quit() override { m_hold.quit(); }

    std::unique_ptr<WordDocument> open(const std::string& path,
                                       const OpenOptions& options) override {
        Office& lo = office();
        const bool forUser = lo.purpose() == Purpose::Open;
        lo.startDocumentClock();
        return lo.call([&]() -> std::unique_ptr<WordDocument> {
            bool reused = false;
            const auto component = loadDocument(lo, path, !forUser, options.readOnly, &reused);
            Reference<css::text::XTextDocument> text(component, UNO_QUERY);
            if (!text.is()) {
                if (!reused)
                    closeDocument(component);
                fail(kCannotOpen, "Not a text document: " + path);
            }
            m_active = text;
            return std::make_unique<WriterDocument>(m_hold.shared(), lo.generation(), text,
                                                    m_selection);
        });
    }

    std::int32_t documentCount() override {
        Office& lo = office();
        return lo.call([&] {
            m_documents = openDocuments(lo, kTextDocument);
            return static_cast<std::int32_t>(m_documents.size());
        });
    }

    std::unique_ptr<WordDocument> document(std::int32_t index) override {
        Office& lo = office();
        if (index < 1 || static_cast<std::size_t>(index) > m_documents.size()) {
            // Answers the office as it is now, whether or not documentCount came first.
            documentCount();
        }
        if (index < 1 || static_cast<std::size_t>(index) > m_documents.size()) {
            fail(kBadIndex, "No document " + std::to_string(index));
        }
        Reference<css::text::XTextDocument> text(m_documents[static_cast<std::size_t>(index - 1)],
                                                 UNO_QUERY);
        if (!text.is())
            fail(kBadIndex, "No document " + std::to_string(index));
        return std::make_unique<WriterDocument>(m_hold.shared(), lo.generation(), text,
                                                m_selection);
    }

    std::string selectionText() override {
        if (!m_selection->shownIn.is())
            return utf16ToUtf8(m_selection->text);
        return office().call([&] {
            std::u16string text;
            Reference<css::view::XSelectionSupplier> view(
                m_selection->shownIn->getCurrentController(), UNO_QUERY_THROW);
            Reference<css::container::XIndexAccess> ranges(view->getSelection(), UNO_QUERY);
            const sal_Int32 count = ranges.is() ? ranges->getCount() : 0;
            for (sal_Int32 i = 0; i < count; ++i) {
                Reference<css::text::XTextRange> range(ranges->getByIndex(i), UNO_QUERY);
                if (range.is())
                    text += documents::breaksToCr(toU16(range->getString()));
            }
            return utf16ToUtf8(text);
        });
    }

    bool findAndSelect(const std::string& text) override {
        Office& lo = office();
        if (!m_active.is())
            fail(kCallRefused, "No document is open");
        const rtl::OUString wanted = toOUString(text);
        if (static_cast<std::size_t>(wanted.getLength()) > kMaxFindLength) {
            fail(kCallRefused, "The text to find is too long");
        }
        return lo.call([&] {
            Reference<css::util::XSearchable> searchable(m_active, UNO_QUERY_THROW);
            const auto descriptor = searchable->createSearchDescriptor();
            descriptor->setSearchString(wanted);
            // findFirst searches the whole text from its start: Word's wrap-around find
            // from the top of a freshly opened document finds the same place.
            Reference<css::text::XTextRange> found(searchable->findFirst(descriptor), UNO_QUERY);
            if (!found.is())
                return false;
            Reference<css::frame::XModel> model(m_active, UNO_QUERY_THROW);
            Reference<css::view::XSelectionSupplier> selection(model->getCurrentController(),
                                                               UNO_QUERY);
            if (selection.is())
                selection->select(css::uno::Any(found));
            m_selection->text = documents::breaksToCr(toU16(found->getString()));
            if (selection.is())
                m_selection->shownIn = model;
            return true;
        });
    }

  private:
    Office& office() { return m_hold.office(); }

    ApplicationHold m_hold;
    std::int32_t m_displayAlerts = -1;  // Word's wdAlertsAll
    std::shared_ptr<SelectionState> m_selection = std::make_shared<SelectionState>();
    std::vector<Reference<css::lang::XComponent>> m_documents;
    Reference<css::text::XTextDocument> m_active;
};

}  // namespace

std::unique_ptr<WordApplication> makeWriterApplication(std::shared_ptr<Office> office) {
    return std::make_unique<WriterApplication>(std::move(office));
}

}  // namespace ferretta::platform::office::lo
