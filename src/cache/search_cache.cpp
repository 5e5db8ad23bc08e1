#include "cache/search_cache.h"

namespace ferretta::cache {

SearchCache::SearchCache(DocumentCache& cache, const std::optional<IndexQuery>& words,
                         const std::optional<IndexQuery>& literalWords, Mode mode,
                         std::string_view folder)
    : m_cache(cache), m_mode(mode) {
    if (mode == Mode::Use) {
        m_candidates = cache.candidates(words);
        m_literalCandidates = cache.candidates(literalWords);
    } else if (!folder.empty() && !cache.holdsUnder(folder)) {
        m_nothingUnder = folder;
    }
}

SearchCache::Entry SearchCache::lookup(const std::string& path, std::string_view key,
                                       bool literal) {
    // Nothing to replace: not even the file's identity is needed.
    if (!m_nothingUnder.empty() && path.starts_with(m_nothingUnder))
        return {};
    const std::optional<Identity> identity = identityOf(path);
    if (!identity)
        return {};
    return find(*identity, key, literal ? m_literalCandidates : m_candidates);
}

SearchCache::Entry SearchCache::lookup(const Identity& identity, std::string_view key) {
    return find(identity, key, m_candidates);
}

SearchCache::Entry SearchCache::find(const Identity& identity, std::string_view key,
                                     const Candidates& candidates) {
    Entry entry;
    entry.identity = identity;
    if (m_mode == Mode::Refresh) {
        entry.kept = m_cache.holds(identity.path, key);
        return entry;
    }
    Lookup found = m_cache.lookup(identity, key, candidates);
    entry.state = found.state;
    entry.extract = std::move(found.extract);
    entry.outcome = found.outcome;
    return entry;
}

void SearchCache::store(const Entry& looked, std::string_view key, Extract extract) {
    if (keeps(looked))
        m_cache.store(*looked.identity, key, std::move(extract));
}

}  // namespace ferretta::cache
