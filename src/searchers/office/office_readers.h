#pragma once
// How the Word, Excel and PowerPoint searchers get a document's units: the native reader first
// (for Open XML and OpenDocument files), then the office of the run (pipeline/office_extractors.h).
#include <functional>
#include <memory>
#include <string>

#include "app/file_types.h"
#include "cache/search_cache.h"
#include "pipeline/office_extractors.h"
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

// The run's office as an extractor, its application started when a document needs it. On a
// worker thread of the read-ahead the document is handed to the user-interface thread instead.
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

// What the Word, Excel and PowerPoint searchers share: a document through the pipeline, from
// the native reader or the office to the searcher's matcher.
class OfficeSearcher {
  public:
    // The session and the context's references must outlive the searcher.
    OfficeSearcher(OfficeSession& session, const search::SearchContext& context,
                   OfficeReading reading, std::unique_ptr<pipeline::UnitMatcher> matcher);
    ~OfficeSearcher();

  protected:
    // The matcher's answer for the document read as `kind`.
    bool search(const std::string& path, documents::Kind kind);

    const search::SearchContext m_context;

  private:
    OfficeSession& m_session;
    const OfficeReading m_reading;
    std::unique_ptr<pipeline::UnitMatcher> m_matcher;
};

}  // namespace ferretta::searchers::office
