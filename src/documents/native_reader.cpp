#include "documents/native_reader.h"

#include <fstream>
#include <memory>
#include <vector>

#include "documents/sheet_reader.h"
#include "documents/slide_reader.h"
#include "documents/word_reader.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {
namespace {

ReadResult forOffice(std::string reason) {
    return {ReadStatus::ForOffice, std::move(reason), 0};
}

ReadResult readArchive(ZipArchive& archive, Format format, Kind kind, UnitSink& sink,
                       const ReadLimits& limits) {
    switch (format) {
        case Format::WordprocessingML:
        case Format::OdfText:
            if (kind != Kind::WordNormal && kind != Kind::WordFast)
                break;
            return readWordDocument(archive, format,
                                    kind == Kind::WordFast ? WordMode::Fast : WordMode::Normal,
                                    sink, limits);
        case Format::SpreadsheetML:
        case Format::OdfSpreadsheet:
            if (kind != Kind::Excel)
                break;
            return readWorkbook(archive, format, sink, limits);
        case Format::PresentationML:
        case Format::OdfPresentation:
            if (kind != Kind::PowerPoint)
                break;
            return readPresentation(archive, format, sink, limits);
        case Format::None:
            break;
    }
    return forOffice("not a format read here for this kind of search");
}

}  // namespace

Format formatOfExtension(std::string_view extension) {
    if (extension == "DOCX" || extension == "DOCM")
        return Format::WordprocessingML;
    if (extension == "ODT")
        return Format::OdfText;
    if (extension == "XLSX" || extension == "XLSM")
        return Format::SpreadsheetML;
    if (extension == "ODS")
        return Format::OdfSpreadsheet;
    if (extension == "PPTX")
        return Format::PresentationML;
    if (extension == "ODP")
        return Format::OdfPresentation;
    return Format::None;
}

ReadResult readDocument(const std::string& path, Format format, Kind kind, UnitSink& sink,
                        const ReadLimits& limits) {
    if (format == Format::None)
        return forOffice("not a format read here");
    // A small document is read in one go: libzip reading a file seeks, reads and asks for the
    // file's state again for every entry, which costs a typical document more than its XML.
    constexpr std::streamoff kReadWhole = 4 << 20;
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
    if (size >= 0 && size <= kReadWhole) {
        std::vector<char> bytes(static_cast<std::size_t>(size));
        file.seekg(0);
        if (file.read(bytes.data(), size))
            return readDocumentBytes(bytes, format, kind, sink, limits);
    }
    file.close();
    std::string why;
    auto archive = ZipArchive::open(path, limits, why);
    if (!archive)
        return forOffice(why);
    return readArchive(*archive, format, kind, sink, limits);
}

ReadResult readDocumentBytes(std::span<const char> bytes, Format format, Kind kind, UnitSink& sink,
                             const ReadLimits& limits) {
    if (format == Format::None)
        return forOffice("not a format read here");
    std::string why;
    auto archive = ZipArchive::openMemory(bytes, limits, why);
    if (!archive)
        return forOffice(why);
    return readArchive(*archive, format, kind, sink, limits);
}

}  // namespace ferretta::documents
