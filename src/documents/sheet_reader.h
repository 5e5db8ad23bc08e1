#pragma once
#include <cstdint>

#include "documents/native_reader.h"
#include "documents/zip_archive.h"

namespace ferretta::documents {

// Workbooks: Open XML (.xlsx .xlsm) and OpenDocument spreadsheets (.ods).
ReadResult readWorkbook(ZipArchive& archive, Format format, UnitSink& sink,
                        const ReadLimits& limits);

}  // namespace ferretta::documents
