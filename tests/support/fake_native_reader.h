#pragma once
// A native reader for tests, in the place of documents::readDocument: the units of each
// document a test describes, handed out as the readers hand them out, then the status it ends
// with. A document it was not told of is left to the office. Records what it was asked for and
// on which thread; safe to call from several threads.
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cache/units.h"
#include "documents/native_reader.h"
#include "searchers/office/office_session.h"

namespace ferretta::test {

struct FakeNativeDocument {
    std::vector<std::string> sheets;  // Excel: the sheet names; a unit's place is its sheet
    std::vector<cache::Unit> units;   // a unit whose shown is "?" has a value it cannot tell
    documents::ReadStatus status = documents::ReadStatus::Complete;  // after the units
    std::int32_t count = 0;                                          // PowerPoint: slides
};

class FakeNativeReader {
  public:
    std::map<std::string, FakeNativeDocument> documents;

    void install(searchers::office::OfficeSession& session) {
        session.nativeReader = [this](const std::string& path, documents::Format, documents::Kind,
                                      documents::UnitSink& sink) { return read(path, sink); };
    }

    std::vector<std::string> asked() const {
        const std::lock_guard lock(m_mutex);
        return m_asked;
    }
    // The documents read on the thread that made the reader.
    std::vector<std::string> askedOnMainThread() const {
        const std::lock_guard lock(m_mutex);
        return m_onMainThread;
    }

  private:
    documents::ReadResult read(const std::string& path, documents::UnitSink& sink) {
        {
            const std::lock_guard lock(m_mutex);
            m_asked.push_back(path);
            if (std::this_thread::get_id() == m_main)
                m_onMainThread.push_back(path);
        }
        const auto found = documents.find(path);
        if (found == documents.end())
            return {documents::ReadStatus::ForOffice, "not a zip archive", 0};
        const FakeNativeDocument& document = found->second;
        std::size_t next = 0;
        const auto handOut = [&](std::int32_t sheet) {
            for (; next < document.units.size() &&
                   (sheet == 0 || document.units[next].place == sheet);
                 ++next) {
                const cache::Unit& u = document.units[next];
                if (!sink.unit({u.place, u.row, u.column, u.text, u.shown, u.shown != "?"}))
                    return false;
            }
            return true;
        };
        for (std::size_t s = 0; s < document.sheets.size(); ++s) {
            sink.sheet(document.sheets[s]);
            if (!handOut(static_cast<std::int32_t>(s + 1)))
                return {documents::ReadStatus::Stopped, {}, 0};
        }
        if (!handOut(0))
            return {documents::ReadStatus::Stopped, {}, 0};
        return {document.status, "given up", document.count};
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_asked;
    std::thread::id m_main = std::this_thread::get_id();
    std::vector<std::string> m_onMainThread;
};

}  // namespace ferretta::test
