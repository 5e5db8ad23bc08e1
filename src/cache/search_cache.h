#pragma once
// One search's use of the document cache: the documents its words can be in, taken once at its
// start and the identity of each document as the search met it. Searchers call lookup() before
// reading a document and store() after reading it live; both are safe from any thread. A
// searcher that answers from the cache tells its host (noteFromCache), which counts.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cache/document_cache.h"

namespace ferretta::cache {

class SearchCache {
  public:
    // Use: documents are answered from the cache while they are unchanged. Refresh: nothing is
    // answered from it, and what the search reads replaces what the cache holds for the same
    // documents (nothing new is added), so that a cache that missed a change (a file system
    // without change times) is right again afterwards.
    enum class Mode { Use, Refresh };

    // `words`: the query as the matcher looks for it (nullopt: the index cannot help, e.g. a
    // regular expression); `literalWords`: the words as the Excel search looks for them, as
    // they are in every mode. `folder` (ending with a separator): the folder the search walks;
    // when refreshing, the files under it are not looked up one by one if the cache holds
    // nothing under it. The cache must outlive this object.
    SearchCache(DocumentCache& cache, const std::optional<IndexQuery>& words,
                const std::optional<IndexQuery>& literalWords, Mode mode = Mode::Use,
                std::string_view folder = {});

    struct Entry {
        Lookup::State state = Lookup::State::Miss;
        Extract extract;                   // Found: the stored units
        std::int32_t outcome = 0;          // Found, CannotMatch: how the extraction ended
        std::optional<Identity> identity;  // as the file was when looked up
        bool kept = false;                 // Refresh: the cache holds something to replace
    };

    // What the cache holds for the file under the extraction key. `literal` chooses the Excel
    // search's reading of the words for the index.
    Entry lookup(const std::string& path, std::string_view key, bool literal = false);
    // The same for something that is not one file (a mail folder), under an identity the
    // caller made of it.
    Entry lookup(const Identity& identity, std::string_view key);

    // Keeps what was read live for a document looked up before (under the identity it had
    // then, so a file changed while it was read is read again next time).
    void store(const Entry& looked, std::string_view key, Extract extract);
    // Whether store() would keep anything for the entry: a searcher need not gather the units
    // of a document the cache will not take.
    bool keeps(const Entry& looked) const {
        return looked.identity && (m_mode == Mode::Use || looked.kept);
    }

  private:
    Entry find(const Identity& identity, std::string_view key, const Candidates& candidates);

    DocumentCache& m_cache;
    Mode m_mode;
    std::string m_nothingUnder;  // Refresh: a folder the cache holds nothing under
    Candidates m_candidates;
    Candidates m_literalCandidates;
};

}  // namespace ferretta::cache
