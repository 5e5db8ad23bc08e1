// PowerPoint's object model over Impress. A slide's shapes, with the members of its groups, are
// read in one call when the slide is first asked about; the Shape objects answer from that
// reading. A shape has a text frame when it offers the drawing Text service (Impress's text
// boxes, placeholders and autoshapes); groups are GroupShapes.
#include "drivers/office/libreoffice_impress.h"

#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/drawing/XDrawView.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/text/XText.hpp>

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

// Groups are read this deep and no deeper; a hostile file cannot make the reading recurse
// without end.
constexpr int kMaxGroupDepth = 16;

struct ShapeInfo {
    bool hasText = false;
    std::u16string text;
    bool isGroup = false;
    std::vector<ShapeInfo> items;
};

ShapeInfo readShape(const Reference<css::uno::XInterface>& shape, int depth) {
    ShapeInfo info;
    Reference<css::lang::XServiceInfo> services(shape, UNO_QUERY);
    if (!services.is())
        return info;
    const auto names = services->getSupportedServiceNames();
    for (const auto& name : names) {
        if (name == "com.sun.star.drawing.Text")
            info.hasText = true;
        if (name == "com.sun.star.drawing.GroupShape")
            info.isGroup = true;
    }
    if (info.hasText) {
        Reference<css::text::XText> text(shape, UNO_QUERY);
        if (text.is()) {
            info.text = documents::breaksToCr(toU16(text->getString()));
        } else {
            info.hasText = false;
        }
    }
    if (info.isGroup && depth < kMaxGroupDepth) {
        Reference<css::container::XIndexAccess> items(shape, UNO_QUERY);
        const sal_Int32 count = items.is() ? items->getCount() : 0;
        for (sal_Int32 i = 0; i < count; ++i) {
            info.items.push_back(readShape(
                Reference<css::uno::XInterface>(items->getByIndex(i), UNO_QUERY), depth + 1));
        }
    }
    return info;
}

class ImpressShape final : public Shape {
  public:
    explicit ImpressShape(ShapeInfo info) : m_info(std::move(info)) {}

    bool hasTextFrame() override { return m_info.hasText; }
    std::string text() override {
        if (!m_info.hasText)
            fail(kCallRefused, "The shape has no text frame");
        return utf16ToUtf8(m_info.text);
    }
    std::int32_t groupItemCount() override {
        if (!m_info.isGroup)
            fail(kCallRefused, "The shape is not a group");
        return static_cast<std::int32_t>(m_info.items.size());
    }
    std::unique_ptr<Shape> groupItem(std::int32_t index) override {
        if (!m_info.isGroup)
            fail(kCallRefused, "The shape is not a group");
        if (index < 1 || static_cast<std::size_t>(index) > m_info.items.size()) {
            fail(kBadIndex, "No group item " + std::to_string(index));
        }
        return std::make_unique<ImpressShape>(m_info.items[static_cast<std::size_t>(index - 1)]);
    }

  private:
    ShapeInfo m_info;
};

class ImpressSlide final : public Slide {
  public:
    ImpressSlide(std::shared_ptr<Office> office, std::uint64_t generation,
                 Reference<css::lang::XComponent> document, Reference<css::drawing::XDrawPage> page)
        : m_office(std::move(office)),
          m_generation(generation),
          m_document(std::move(document)),
          m_page(std::move(page)) {}

    std::int32_t shapeCount() override { return static_cast<std::int32_t>(shapes().size()); }

    std::unique_ptr<Shape> shape(std::int32_t index) override {
        const auto& all = shapes();
        if (index < 1 || static_cast<std::size_t>(index) > all.size()) {
            fail(kBadIndex, "No shape " + std::to_string(index));
        }
        return std::make_unique<ImpressShape>(all[static_cast<std::size_t>(index - 1)]);
    }

    void select() override {
        m_office->callOn(m_generation, [&] {
            Reference<css::frame::XModel> model(m_document, UNO_QUERY_THROW);
            Reference<css::drawing::XDrawView> view(model->getCurrentController(), UNO_QUERY_THROW);
            view->setCurrentPage(m_page);
            // Read back: an office that ignored the call must not count as having shown it.
            if (view->getCurrentPage() != m_page)
                throw css::uno::Exception("the slide did not become the current one", nullptr);
        });
    }

  private:
    const std::vector<ShapeInfo>& shapes() {
        if (!m_shapes) {
            m_shapes = m_office->callOn(m_generation, [&] {
                std::vector<ShapeInfo> read;
                const sal_Int32 count = m_page->getCount();
                for (sal_Int32 i = 0; i < count; ++i) {
                    read.push_back(readShape(
                        Reference<css::uno::XInterface>(m_page->getByIndex(i), UNO_QUERY), 0));
                }
                return read;
            });
        }
        return *m_shapes;
    }

    std::shared_ptr<Office> m_office;
    std::uint64_t m_generation;
    Reference<css::lang::XComponent> m_document;
    Reference<css::drawing::XDrawPage> m_page;
    std::optional<std::vector<ShapeInfo>> m_shapes;
};

class ImpressPresentation final : public Presentation {
  public:
    ImpressPresentation(std::shared_ptr<Office> office, std::uint64_t generation,
                        Reference<css::lang::XComponent> document)
        : m_office(std::move(office)), m_generation(generation), m_document(std::move(document)) {}

    std::int32_t slideCount() override {
        return m_office->callOn(m_generation, [&] { return pages()->getCount(); });
    }

    std::unique_ptr<Slide> slide(std::int32_t index) override {
        return m_office->callOn(m_generation, [&]() -> std::unique_ptr<Slide> {
            const auto all = pages();
            if (index < 1 || index > all->getCount()) {
                fail(kBadIndex, "No slide " + std::to_string(index));
            }
            Reference<css::drawing::XDrawPage> page(all->getByIndex(index - 1), UNO_QUERY_THROW);
            return std::make_unique<ImpressSlide>(m_office, m_generation, m_document, page);
        });
    }

    void close() override {
        m_office->callOn(m_generation, [&] { closeDocument(m_document); });
    }

  private:
    Reference<css::drawing::XDrawPages> pages() {
        Reference<css::drawing::XDrawPagesSupplier> supplier(m_document, UNO_QUERY_THROW);
        return supplier->getDrawPages();
    }

    std::shared_ptr<Office> m_office;
    std::uint64_t m_generation;
    Reference<css::lang::XComponent> m_document;
};

class ImpressApplication final : public PowerPointApplication {
  public:
    explicit ImpressApplication(std::shared_ptr<Office> office)
        : m_hold(std::move(office), "com.sun.star.presentation.PresentationDocument",
                 "PowerPoint") {}

    void setVisible(bool visible) override { m_hold.setVisible(visible); }
    void quit() override { m_hold.quit(); }

    std::unique_ptr<Presentation> open(const std::string& path,
                                       const OpenOptions& options) override {
        Office& lo = m_hold.office();
        lo.startDocumentClock();
        return lo.call([&]() -> std::unique_ptr<Presentation> {
            bool reused = false;
            const auto component =
                loadDocument(lo, path, lo.purpose() != Purpose::Open, options.readOnly, &reused);
            Reference<css::lang::XServiceInfo> info(component, UNO_QUERY);
            if (!info.is() ||
                !info->supportsService("com.sun.star.presentation.PresentationDocument")) {
                if (!reused)
                    closeDocument(component);
                fail(kCannotOpen, "Not a presentation: " + path);
            }
            return std::make_unique<ImpressPresentation>(m_hold.shared(), lo.generation(),
                                                         component);
        });
    }

  private:
    ApplicationHold m_hold;
};

}  // namespace

std::unique_ptr<PowerPointApplication> makeImpressApplication(std::shared_ptr<Office> office) {
    return std::make_unique<ImpressApplication>(std::move(office));
}

}  // namespace ferretta::platform::office::lo
