#pragma once
#include <cstdint>

#include "documents/native_reader.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// Presentations: Open XML (.pptx) and OpenDocument presentations (.odp).
ReadResult readPresentation(ZipArchive& archive, Format format, UnitSink& sink,
                            const ReadLimits& limits);

}  // namespace ferretta::documents
