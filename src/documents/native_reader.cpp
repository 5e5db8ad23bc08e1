#include "documents/native_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

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
    // (Through the system's calls: a stream's opening alone cost as much as a small document's
    // XML.)
    constexpr off_t kReadWhole = 4 << 20;
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (file >= 0 && ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size <= kReadWhole) {
        const auto size = static_cast<std::size_t>(status.st_size);
        // Kept for the thread's next document (at most kReadWhole bytes): a fresh buffer cost
        // an allocation and new pages for each. Nothing read here reads another document.
        thread_local std::unique_ptr<char[]> bytes;
        thread_local std::size_t capacity = 0;
        if (size > capacity || !bytes) {
            bytes = std::make_unique_for_overwrite<char[]>(std::max<std::size_t>(size, 1));
            capacity = size;
        }
        std::size_t read = 0;
        while (read < size) {
            const ssize_t got = ::read(file, bytes.get() + read, size - read);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            read += static_cast<std::size_t>(got);
        }
        ::close(file);
        if (read == size)
            return readDocumentBytes({bytes.get(), size}, format, kind, sink, limits);
    } else if (file >= 0) {
        ::close(file);
    }
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
