#include "pipeline/unit_pipeline.h"

#include "app/debug_log.h"
#include "search/path_helpers.h"

namespace ferretta::pipeline {
namespace {

// What a fresh extraction gave, in the cache's form, while it stays within kMostKeptBytes and
// every unit is known as the office would give it.
class Collector final : public UnitSink {
  public:
    void sheet(std::string_view name) override {
        if (add(name.size()))
            m_kept.names.emplace_back(name);
    }
    bool unit(const documents::UnitView& unit) override {
        if (!unit.shownKnown)
            m_keepable = false;
        if (add(unit.text.size() + unit.shown.size() + sizeof(cache::Unit)))
            m_kept.units.push_back({unit.place, unit.row, unit.column, std::string(unit.text),
                                    std::string(unit.shown)});
        return true;
    }
    void count(std::int32_t places) override { m_kept.count = places; }

    bool keepable() const { return m_keepable; }
    void clear() {
        m_kept = {};
        m_bytes = 0;
        m_keepable = true;
    }
    cache::Extract take(const Extraction& extraction) {
        m_kept.outcome = extraction.outcome == Outcome::Complete ? 0 : 1;
        if (extraction.count != 0)
            m_kept.count = extraction.count;
        return std::move(m_kept);
    }

  private:
    bool add(std::size_t bytes) {
        if (!m_keepable)
            return false;
        m_bytes += bytes;
        if (m_bytes <= kMostKeptBytes)
            return true;
        m_keepable = false;  // too much to keep: what was collected goes at once
        m_kept = {};
        return false;
    }

    cache::Extract m_kept;
    std::size_t m_bytes = 0;
    bool m_keepable = true;
};

// The extractor's units to the matcher and to the collector (when the document may be kept).
class Tee final : public UnitSink {
  public:
    Tee(UnitMatcher& matcher, Collector* collector) : m_matcher(matcher), m_collector(collector) {}

    void sheet(std::string_view name) override {
        if (m_collector != nullptr)
            m_collector->sheet(name);
        m_matcher.sheet(name);
    }
    bool unit(const documents::UnitView& unit) override {
        if (m_collector != nullptr)
            m_collector->unit(unit);
        return m_matcher.unit(unit);
    }
    void count(std::int32_t places) override {
        if (m_collector != nullptr)
            m_collector->count(places);
        m_matcher.count(places);
    }
    bool place(std::int32_t place) override { return m_matcher.place(place); }

  private:
    UnitMatcher& m_matcher;
    Collector* m_collector;
};

bool searchLooked(const std::optional<cache::SearchCache::Entry>& entry, const std::string& name,
                  const CacheUse& use, std::span<Extractor* const> extractors, UnitMatcher& matcher,
                  app::Host& host) {
    if (entry && entry->state != cache::Lookup::State::Miss) {
        host.noteFromCache();
        matcher.begin(name);
        Extraction kept;
        kept.outcome = entry->outcome == 0 ? Outcome::Complete : Outcome::Partial;
        if (entry->state == cache::Lookup::State::Found) {
            kept.count = entry->extract.count;
            if (!replay(entry->extract, matcher))
                kept.outcome = Outcome::Stopped;
        }
        matcher.unitsEnded();
        return matcher.finish(kept);
    }
    matcher.begin(name);
    std::optional<Collector> collector;
    if (entry && use.cache->keeps(*entry))
        collector.emplace();
    Extraction extraction;
    for (std::size_t i = 0; i < extractors.size(); ++i) {
        Tee tee(matcher, collector ? &*collector : nullptr);
        extraction = extractors[i]->extract(name, tee);
        const bool answered = extraction.outcome != Outcome::ForOffice && matcher.unitsEnded();
        if (answered || i + 1 == extractors.size())
            break;
        matcher.restart();
        if (collector)
            collector->clear();
    }
    const bool read =
        extraction.outcome == Outcome::Complete || extraction.outcome == Outcome::Partial;
    if (collector && read && extraction.keep && collector->keepable())
        use.cache->store(*entry, use.key, collector->take(extraction));
    return matcher.finish(extraction);
}

}  // namespace

void DocumentMatcher::begin(const std::string& path) {
    m_path = path;
    m_name = search::fileNameOf(path);
    m_context.host.setCaptionOnSearching(path);
}

bool DocumentMatcher::finish(const Extraction& extraction) {
    if (m_context.flags.isAbort)
        return false;
    // A damaged document was searched as far as it can be read: it counts, and the log and
    // the host name it.
    if (extraction.outcome == Outcome::Partial) {
        // Kept documents come back without the reader's words.
        const std::string reason =
            extraction.reason.empty() ? "一部だけ読めました" : extraction.reason;
        app::logWrite("DocumentMatcher::finish", m_path + ": " + reason);
        m_context.host.noteDamaged(m_path, reason);
    }
    return extraction.outcome == Outcome::Complete || extraction.outcome == Outcome::Partial;
}

bool searchFile(const std::string& path, const CacheUse& use,
                std::span<Extractor* const> extractors, UnitMatcher& matcher, app::Host& host) {
    std::optional<cache::SearchCache::Entry> entry;
    if (use.cache != nullptr)
        entry = use.cache->lookup(path, use.key, use.literalWords);
    return searchLooked(entry, path, use, extractors, matcher, host);
}

bool searchPart(const std::optional<cache::Identity>& identity, const std::string& name,
                const CacheUse& use, std::span<Extractor* const> extractors, UnitMatcher& matcher,
                app::Host& host) {
    std::optional<cache::SearchCache::Entry> entry;
    if (use.cache != nullptr && identity)
        entry = use.cache->lookup(*identity, use.key);
    return searchLooked(entry, name, use, extractors, matcher, host);
}

bool replay(const cache::Extract& kept, UnitSink& sink) {
    sink.count(kept.count);
    const auto view = [](const cache::Unit& unit) {
        return documents::UnitView{unit.place, unit.row, unit.column, unit.text, unit.shown};
    };
    if (!kept.names.empty()) {
        // A workbook: its units are its sheets' cells, sheet by sheet.
        std::size_t next = 0;
        for (std::size_t sheet = 0; sheet < kept.names.size(); ++sheet) {
            sink.sheet(kept.names[sheet]);
            const auto index = static_cast<std::int32_t>(sheet + 1);
            for (; next < kept.units.size() && kept.units[next].place == index; ++next) {
                if (!sink.unit(view(kept.units[next])))
                    return false;
            }
        }
        return true;
    }
    bool first = true;
    std::int32_t place = 0;
    for (const cache::Unit& unit : kept.units) {
        if (first || unit.place != place) {
            first = false;
            place = unit.place;
            if (!sink.place(place))
                return false;
        }
        if (!sink.unit(view(unit)))
            return false;
    }
    return true;
}

}  // namespace ferretta::pipeline
