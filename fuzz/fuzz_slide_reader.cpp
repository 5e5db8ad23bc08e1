// Fuzzes the presentation reader. The first byte chooses what the rest is: 0, a .pptx file;
// 1, an .odp file; 2, the XML of a slide, put into a .pptx of that one slide; 3, the content
// XML of an .odp (the last two let the fuzzer change the XML itself rather than its deflated
// bytes). Any answer is allowed but a crash, a hang or memory past the bounds; the units
// handed out must be in slide order, and none when the document goes to the office; and the
// same with the XML parts read by expat alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "../tests/support/zip_builder.h"
#include "documents/native_reader.h"

namespace {

using namespace ferretta::documents;

class CheckedSink final : public UnitSink {
  public:
    bool unit(const UnitView& unit) override {
        if (unit.place < last || unit.place < 1)
            std::abort();
        last = unit.place;
        read += std::to_string(unit.place) + ":" + std::string(unit.text) + "\n";
        return true;
    }
    std::int32_t last = 0;
    std::string read;  // the units handed out
};

const std::string kRelationships = "http://schemas.openxmlformats.org/officeDocument/2006/";

std::string slidePackage(const std::string& slide) {
    return ferretta::test::zipArchive(
        {{"[Content_Types].xml", "<Types/>", false},
         {"_rels/.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"1\" Type=\"" +
              kRelationships + "relationships/officeDocument\" Target=\"p.xml\"/></Relationships>",
          false},
         {"p.xml",
          "<p:presentation xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" "
          "xmlns:r=\"" +
              kRelationships +
              "relationships\"><p:sldIdLst><p:sldId r:id=\"1\"/></p:sldIdLst></p:presentation>",
          false},
         {"_rels/p.xml.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"1\" Type=\"" +
              kRelationships + "relationships/slide\" Target=\"s.xml\"/></Relationships>",
          false},
         {"s.xml", slide, false}});
}

std::string contentPackage(const std::string& content) {
    return ferretta::test::zipArchive(
        {{"mimetype", "application/vnd.oasis.opendocument.presentation", false},
         {"META-INF/manifest.xml", "<m/>", false},
         {"content.xml", content, false}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string document;
    Format format = Format::PresentationML;
    switch (data[0] & 3) {
        case 0:
            document = rest;
            break;
        case 1:
            document = rest;
            format = Format::OdfPresentation;
            break;
        case 2:
            document = slidePackage(rest);
            break;
        default:
            document = contentPackage(rest);
            format = Format::OdfPresentation;
            break;
    }
    ReadLimits limits;
    limits.maxEntryBytes = 8 << 20;
    limits.maxDocumentBytes = 16 << 20;
    limits.ratioFloor = 1 << 20;
    limits.maxTextBytes = 4 << 20;
    std::string read[2];
    for (const bool expatOnly : {false, true}) {
        limits.expatOnly = expatOnly;
        CheckedSink sink;
        const ReadResult result =
            readDocumentBytes(document, format, Kind::PowerPoint, sink, limits);
        if (result.status == ReadStatus::Complete && sink.last > result.count)
            std::abort();
        if (result.status == ReadStatus::ForOffice && sink.last != 0)
            std::abort();
        read[expatOnly] = sink.read + "=" + std::to_string(static_cast<int>(result.status)) + "," +
                          std::to_string(result.count);
    }
    if (read[0] != read[1])
        std::abort();
    return 0;
}
