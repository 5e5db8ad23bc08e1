#pragma once
// Reading Office documents without the office: the Open XML formats (.docx .docm .xlsx .xlsm
// .pptx) and the OpenDocument formats (.odt .ods .odp), unzipped and parsed here, handed out as
// the units the searcher of the document's type matches (documents/unit_sink.h). A document
// the readers cannot reproduce exactly as the office reads it is left to the office.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "documents/read_limits.h"
#include "documents/unit_sink.h"

namespace ferretta::documents {

enum class Format : std::uint8_t {
    None,
    WordprocessingML,  // .docx .docm
    OdfText,           // .odt
    SpreadsheetML,     // .xlsx .xlsm
    OdfSpreadsheet,    // .ods
    PresentationML,    // .pptx
    OdfPresentation,   // .odp
};

// The units wanted: which searcher will match them.
enum class Kind : std::uint8_t { WordNormal, WordFast, Excel, PowerPoint };

enum class ReadStatus : std::uint8_t {
    Complete,   // every unit was handed out
    Stopped,    // the sink asked to stop
    ForOffice,  // leave the document to the office (reason says why)
};

struct ReadResult {
    ReadStatus status = ReadStatus::Complete;
    std::string reason;      // ForOffice: what the reader met, for the debug log
    std::int32_t count = 0;  // PowerPoint: the number of slides
};

// The native format of an extension (upper case, no dot); None for any other.
Format formatOfExtension(std::string_view extension);

// Reads the document at `path` (or held in `bytes`) of the given format as units of `kind`.
// Never throws. ForOffice when the file is not a document of the format that the reader can
// reproduce exactly: missing, damaged, encrypted (an Open XML file inside an OLE compound file),
// over a bound of `limits`, of another kind than asked, or holding a construct the reader does
// not read as the office does. The Word and PowerPoint readers answer ForOffice only before
// their first unit; the Excel reader may answer it after handing out units, which the caller
// then discards.
ReadResult readDocument(const std::string& path, Format format, Kind kind, UnitSink& sink,
                        const ReadLimits& limits = {});
ReadResult readDocumentBytes(std::span<const char> bytes, Format format, Kind kind, UnitSink& sink,
                             const ReadLimits& limits = {});

}  // namespace ferretta::documents
