#include "searchers/office/office_readers.h"

namespace ferretta::searchers::office {

pipeline::Extraction OfficeExtractor::extract(const std::string& path, pipeline::UnitSink& sink) {
    pipeline::Extraction unavailable;
    unavailable.outcome = pipeline::Outcome::Failed;
    // The office is driven from the user-interface thread only: a worker hands the file over.
    if (m_context.toUserInterfaceThread) {
        m_context.toUserInterfaceThread();
        return unavailable;
    }
    const app::FileType type = m_kind == documents::Kind::Excel        ? app::FileType::Excel
                               : m_kind == documents::Kind::PowerPoint ? app::FileType::PowerPoint
                                                                       : app::FileType::Word;
    if (m_reading.startApplication && !m_reading.startApplication(type))
        return unavailable;  // the user has been told
    switch (m_kind) {
        case documents::Kind::WordNormal:
        case documents::Kind::WordFast:
            return pipeline::readWordThroughOffice(m_session.wordApp.get(), path,
                                                   m_kind == documents::Kind::WordFast, sink);
        case documents::Kind::Excel:
            return pipeline::readWorkbookThroughOffice(m_session.excel.app.get(), path, sink);
        case documents::Kind::PowerPoint:
            break;
    }
    return pipeline::readPresentationThroughOffice(m_session.powerPoint.app.get(), path, sink);
}

OfficeSearcher::OfficeSearcher(OfficeSession& session, const search::SearchContext& context,
                               OfficeReading reading,
                               std::unique_ptr<pipeline::UnitMatcher> matcher)
    : m_context(context),
      m_session(session),
      m_reading(std::move(reading)),
      m_matcher(std::move(matcher)) {}

OfficeSearcher::~OfficeSearcher() = default;

bool OfficeSearcher::search(const std::string& path, documents::Kind kind) {
    pipeline::NativeExtractor native(kind, m_session.nativeReader);
    OfficeExtractor office(m_session, m_context, m_reading, kind);
    pipeline::Extractor* const both[] = {&native, &office};
    // The Excel search looks its words up as they are, in every mode.
    const pipeline::CacheUse use{m_reading.cache, pipeline::officeKey(kind, m_reading.native),
                                 kind == documents::Kind::Excel};
    return pipeline::searchFile(
        path, use, std::span<pipeline::Extractor* const>(both).subspan(m_reading.native ? 0 : 1),
        *m_matcher, m_context.host);
}

}  // namespace ferretta::searchers::office
