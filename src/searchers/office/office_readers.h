#pragma once
// The two ways the Word, Excel and PowerPoint searchers get a document's units
// (documents/unit_sink.h): the native readers for Open XML and OpenDocument files, and the
// office, read through its automation objects as the searchers have always read it. Both are
// extractors of the unit pipeline (pipeline/unit_pipeline.h); the office is asked only for a
// document the native reader leaves to it.
#include <array>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/file_types.h"
#include "cache/search_cache.h"
#include "documents/native_reader.h"
#include "pipeline/unit_pipeline.h"
#include "platform/office/automation.h"
#include "search/search_context.h"
#include "searchers/office/office_session.h"

namespace ferretta::searchers::office {

// How the Office searchers of one search get documents.
struct OfficeReading {
    cache::SearchCache* cache = nullptr;  // null: every document is read
    // Open XML and OpenDocument files go to the native reader first ([Office] NativeReaders).
    bool native = true;
    // Starts the type's application when the first document that needs it comes; false when
    // it cannot be started (the user has been told). Unset: the session's application is used
    // as it is (a search run that started it before the walk).
    std::function<bool(app::FileType)> startApplication;
};

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
pipeline::Extraction readWordThroughOffice(platform::office::WordApplication* word,
                                           const std::string& path, bool fast,
                                           pipeline::UnitSink& sink);
pipeline::Extraction readWorkbookThroughOffice(platform::office::ExcelApplication* excel,
                                               const std::string& path, pipeline::UnitSink& sink);
pipeline::Extraction readPresentationThroughOffice(
    platform::office::PowerPointApplication* powerPoint, const std::string& path,
    pipeline::UnitSink& sink);

// The native readers as an extractor: documents::readDocument by the file's extension. A file
// of another format (.doc .xls .ppt) and one the reader cannot reproduce exactly are left to
// the office (the reason goes to the debug log).
class NativeExtractor final : public pipeline::Extractor {
  public:
    NativeExtractor(documents::Kind kind, NativeReader reader)
        : m_kind(kind), m_reader(std::move(reader)) {}
    pipeline::Extraction extract(const std::string& path, pipeline::UnitSink& sink) override;

  private:
    documents::Kind m_kind;
    NativeReader m_reader;
};

// The office as an extractor, with its application started when a document needs it.
class OfficeExtractor final : public pipeline::Extractor {
  public:
    // The session, the context and the reading must outlive the extractor.
    OfficeExtractor(OfficeSession& session, const search::SearchContext& context,
                    const OfficeReading& reading, documents::Kind kind)
        : m_session(session), m_context(context), m_reading(reading), m_kind(kind) {}
    pipeline::Extraction extract(const std::string& path, pipeline::UnitSink& sink) override;

  private:
    OfficeSession& m_session;
    const search::SearchContext& m_context;
    const OfficeReading& m_reading;
    documents::Kind m_kind;
};

// The native reader (when the reading asks for it), then the office: a searcher's extractors.
class OfficeExtractors {
  public:
    OfficeExtractors(OfficeSession& session, const search::SearchContext& context,
                     const OfficeReading& reading, documents::Kind kind);
    std::span<pipeline::Extractor* const> list() const;

  private:
    NativeExtractor m_native;
    OfficeExtractor m_office;
    std::array<pipeline::Extractor*, 2> m_list;
    std::size_t m_first;
};

}  // namespace ferretta::searchers::office
