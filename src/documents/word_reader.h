#pragma once
#include <cstdint>

#include "documents/native_reader.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// Word documents: Open XML (.docx .docm) and OpenDocument text (.odt), in either mode.
enum class WordMode : std::uint8_t { Normal, Fast };

ReadResult readWordDocument(ZipArchive& archive, Format format, WordMode mode, UnitSink& sink,
                            const ReadLimits& limits);

}  // namespace ferretta::documents
