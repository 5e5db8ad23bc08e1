#pragma once
// The two extractors of Office documents' units (documents/unit_sink.h): the native readers for
// Open XML and OpenDocument files, and the office, read through its automation objects as the
// Word, Excel and PowerPoint searchers have always read it. The office is asked only for a
// document the native reader leaves to it.
#include <functional>
#include <string>

#include "documents/native_reader.h"
#include "pipeline/unit_pipeline.h"
#include "platform/office/automation.h"

namespace ferretta::pipeline {

// The error number that an automation call on a missing object gives ("object variable not
// set"); a reading without its application fails with it.
inline constexpr long kNoObjectError = 91;

// Reads an Open XML or OpenDocument file without the office. Called from any thread.
using NativeReader =
    std::function<documents::ReadResult(const std::string& path, documents::Format format,
                                        documents::Kind kind, documents::UnitSink& sink)>;

// The extraction key of a kind of Office document: the kind, how it is read, the program and
// the office that read it.
std::string officeKey(documents::Kind kind, bool native);

// The office's reading of one document, from the automation objects of a running application
// (null: not running, which fails at step 0). No host: the searchers report failures from the
// returned Failure, with the step reached in their Part's numbering.
// - Word, normal mode (steps 0 to 7): sentences 1..n, then text shapes as n + j; fast mode
//   (steps 0 to 6): the main text through the selection, split at CR, by 0-based line.
// - Excel (steps 0 opening, 1 sheets, 2 closing): each sheet's name, then its cells by rows; a
//   sheet whose cells cannot be read gives none (logged), as a failing find always did.
// - PowerPoint: each slide (place) with the texts of its shapes and of the members of its
//   groups, line breaks removed; failures after opening pass over what failed. A presentation
//   that cannot be opened fails at step 0; a failure of another kind than the automation's is
//   thrown.
// The workbook or document is closed on every way out once it was opened (Word fast mode:
// one opened under another name is left to the run's Quit).
Extraction readWordThroughOffice(platform::office::WordApplication* word, const std::string& path,
                                 bool fast, UnitSink& sink);
Extraction readWorkbookThroughOffice(platform::office::ExcelApplication* excel,
                                     const std::string& path, UnitSink& sink);
Extraction readPresentationThroughOffice(platform::office::PowerPointApplication* powerPoint,
                                         const std::string& path, UnitSink& sink);

// The native readers as an extractor: documents::readDocument by the file's extension. A file
// of another format (.doc .xls .ppt) and one the reader cannot reproduce exactly are left to
// the office (the reason goes to the debug log).
class NativeExtractor final : public Extractor {
  public:
    NativeExtractor(documents::Kind kind, NativeReader reader)
        : m_kind(kind), m_reader(std::move(reader)) {}
    Extraction extract(const std::string& path, UnitSink& sink) override;

  private:
    documents::Kind m_kind;
    NativeReader m_reader;
};

}  // namespace ferretta::pipeline
