#pragma once
// One document through its searcher in two steps: an extractor reads the document into units
// (documents/unit_sink.h: a sentence, a line, a cell, a slide's text, a page's text, a mail
// field, each with its place), and the searcher's one matching loop (a UnitMatcher) matches
// them and reports hits. The document cache sits between the two, here and nowhere else: a
// document kept unchanged is replayed into the matcher (or passed over when the index shows
// that the words cannot be in it); any other is extracted, feeding the matcher and a collector
// at once, and what a complete extraction gave is kept.
//
// Several extractors may be tried in turn (the readers of Open XML and OpenDocument files,
// then the office): one that leaves the document to the next (ForOffice) has its units
// discarded by the matcher and the collector.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/host.h"
#include "cache/search_cache.h"
#include "documents/unit_sink.h"
#include "search/search_context.h"

namespace ferretta::pipeline {

// What a matcher is fed: the units, and for the searchers that follow a document's places
// (pages, slides, mail items) where each begins.
class UnitSink : public documents::UnitSink {
  public:
    // The number of places the document declares (a PDF's page count), once it is known and
    // before the units of those places.
    virtual void count(std::int32_t /*places*/) {}
    // A place begins, also one that gives no unit. False: stop the reading (a stop request).
    virtual bool place(std::int32_t /*place*/) { return true; }
};

// How an extraction ended.
enum class Outcome : std::uint8_t {
    Complete,   // every unit was handed out
    Partial,    // read as far as the document can be read (damaged, or cut by a bound of the
                // work): it counts as searched, and the debug log says why
    Stopped,    // the sink asked to stop
    ForOffice,  // this extractor leaves the document to the next one
    Failed,     // the document cannot be read (`failure` says where, unless already told)
};

// Where an extraction failed, for the searcher's message.
struct Failure {
    int position = 0;      // the step reached, in the searcher's numbering
    long errorNumber = 0;  // the automation's error number; 0 for a failure of another kind
};

struct Extraction {
    Outcome outcome = Outcome::Complete;
    std::string reason;              // ForOffice, Partial: what the extractor met, for the log
    std::int32_t count = 0;          // the searcher's own count (PowerPoint: slides, PDF: pages)
    std::optional<Failure> failure;  // Failed: none when the user was told already
    bool keep = true;                // false: not to be kept in the cache even when complete
};

class Extractor {
  public:
    virtual ~Extractor() = default;
    // Hands the document's units to the sink in document order. Failures that the searcher's
    // Part lets travel (a file that cannot be opened at all) are thrown as ferretta::Error.
    virtual Extraction extract(const std::string& path, UnitSink& sink) = 0;
};

// A searcher's matching loop over the units of one document at a time.
class UnitMatcher : public UnitSink {
  public:
    // A document begins: the progress shows it.
    virtual void begin(const std::string& path) = 0;
    // The units handed out since begin() are void: the extractor left the document to the next.
    virtual void restart() {}
    // Every unit is in. False when the matcher cannot answer from these units (a cell whose
    // shown value the reader could not tell would be reported): the next extractor reads it.
    virtual bool unitsEnded() { return true; }
    // The document ended: what waits is reported, a failure is told. Answers whether the
    // document counts as searched.
    virtual bool finish(const Extraction& extraction) = 0;
};

// The matcher of one searcher's documents: the context it reports through, and the document's
// path and file name, the path shown as the progress when the document begins.
class DocumentMatcher : public UnitMatcher {
  public:
    explicit DocumentMatcher(const search::SearchContext& context) : m_context(context) {}
    void begin(const std::string& path) override;
    // Searched to its end, and no stop requested.
    bool finish(const Extraction& extraction) override;

  protected:
    const search::SearchContext m_context;
    std::string m_path;
    std::string m_name;
};

// What a document is kept under, and how its words are looked up in the cache's index.
struct CacheUse {
    cache::SearchCache* cache = nullptr;  // null: every document is extracted
    std::string key;                      // the extraction key (what reads it, and how)
    bool literalWords = false;            // Excel: the words as its cell find looks for them
};

// The most bytes of units kept for one document (texts and a share for each unit); a document
// that gives more is searched but not kept.
inline constexpr std::size_t kMostKeptBytes = std::size_t{24} << 20;

// Searches the file: its kept units, or the extractors in turn. The host is told when the
// document came from the cache (noteFromCache) and of nothing else. Answers the matcher's
// answer.
bool searchFile(const std::string& path, const CacheUse& use,
                std::span<Extractor* const> extractors, UnitMatcher& matcher, app::Host& host);

// The same for something that is not one file (a run of a mail folder's items), kept under an
// identity the caller made of it (none: not kept); `name` is what the extractors and the
// matcher get as path.
bool searchPart(const std::optional<cache::Identity>& identity, const std::string& name,
                const CacheUse& use, std::span<Extractor* const> extractors, UnitMatcher& matcher,
                app::Host& host);

// Feeds kept units to a sink as an extractor would: the count, then for a workbook each
// sheet's name before its cells, otherwise each place before its units. False when the sink
// asked to stop.
bool replay(const cache::Extract& kept, UnitSink& sink);

}  // namespace ferretta::pipeline
