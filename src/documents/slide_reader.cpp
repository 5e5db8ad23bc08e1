#include "documents/slide_reader.h"

#include "documents/odp_slides.h"
#include "documents/pptx_slides.h"
#include "documents/slide_texts.h"

namespace ferretta::documents {

ReadResult readPresentation(ZipArchive& archive, Format format, UnitSink& sink,
                            const ReadLimits& limits) {
    SlideTexts texts(limits);
    std::string why;
    if (format == Format::PresentationML)
        why = readPptxSlides(archive, texts, limits);
    else if (format == Format::OdfPresentation)
        why = readOdpSlides(archive, texts, limits);
    else
        why = "not a presentation format";
    if (!why.empty())
        return {ReadStatus::ForOffice, std::move(why), 0};
    return texts.handOut(sink);
}

}  // namespace ferretta::documents
