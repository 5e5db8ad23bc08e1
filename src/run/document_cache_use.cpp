#include "run/document_cache_use.h"

#include <mutex>

#include "app/debug_log.h"
#include "platform/cp932.h"
#include "platform/data_folder.h"
#include "platform/unicode.h"

namespace ferretta::run {
namespace {

std::mutex g_cacheMutex;
// Never destroyed at exit: the front ends close it while the debug log still exists; a process
// that ends otherwise loses only what was still waiting to be written.
std::unique_ptr<cache::DocumentCache>& g_cache = *new std::unique_ptr<cache::DocumentCache>();

std::string pdfEngineKey() {
    // The engine reads text through the character table and the CMaps beside the program.
    static const std::string key =
        "pdf-engine " + cache::programStamp() + " " +
        cache::fileStamp(platform::findDataFile("AdobeCID.dat").string()) + " " +
        cache::fileStamp(platform::findDataFile("JapanCMaps.dat").string());
    return key;
}

std::string pdfFilterKey(const app::Settings& settings) {
    return "pdf-filter " + cache::programStamp() + " " + settings.pdfFilterPath + "\n" +
           settings.pdfFilterPause;
}

// A line kept only when matching its decoded text finds what matching its own bytes finds:
// its bytes must be what encoding the decoded text gives.
bool readsBackTheSame(std::string_view ansi, std::string_view text) {
    std::string normalized;
    const std::string_view own =
        platform::normalizeCp932Duplicates(ansi, normalized) ? std::string_view(normalized) : ansi;
    return platform::utf8ToCp932(text, platform::Cp932Fallback::BestFit) == own;
}

}  // namespace

cache::DocumentCache* documentCache(const app::Settings& settings) {
    if (!settings.textCache)
        return nullptr;
    std::lock_guard lock(g_cacheMutex);
    if (!g_cache || !g_cache->usable()) {
        g_cache.reset();  // sets a damaged database aside first
        cache::CacheOptions options;
        options.log = [](std::string_view line) { app::logWrite("DocumentCache", line); };
        g_cache = std::make_unique<cache::DocumentCache>(std::move(options));
    }
    return g_cache->usable() ? g_cache.get() : nullptr;
}

void closeDocumentCache() {
    std::lock_guard lock(g_cacheMutex);
    g_cache.reset();
}

bool clearDocumentCache() {
    app::Settings on;
    on.textCache = true;
    cache::DocumentCache* cache = documentCache(on);
    if (cache == nullptr)
        return false;
    cache->clear();
    return cache->usable();
}

std::optional<cache::IndexQuery> indexQueryOf(const search::Matcher& matcher) {
    if (matcher.regular())
        return std::nullopt;
    cache::IndexQuery query = literalQueryOf(matcher);
    query.cellPatterns = false;
    return query;
}

cache::IndexQuery literalQueryOf(const search::Matcher& matcher) {
    cache::IndexQuery query;
    query.all = matcher.isAndCondition();
    query.cellPatterns = true;
    for (int i = 0; i < matcher.targetStrsNumber(); ++i)
        query.words.push_back(matcher.targetStr(i));
    return query;
}

search::SearcherRegistry::FileSearch cachedPdfEngine(std::shared_ptr<pdf::PdfEngine> engine,
                                                     cache::SearchCache& cache,
                                                     const search::SearchContext& context) {
    return [engine, &cache, &context](const std::string& path) {
        const std::string& key = pdfEngineKey();
        auto entry = cache.lookup(path, key);
        if (entry.state != cache::Lookup::State::Miss)
            context.host.noteFromCache();
        if (entry.state == cache::Lookup::State::CannotMatch) {
            context.host.setCaptionOnSearching(path);
            return entry.outcome == 0 && !context.flags.isAbort;
        }
        if (entry.state == cache::Lookup::State::Found) {
            return engine->matchStreamTexts(path, entry.extract.units, entry.extract.count,
                                            entry.extract.outcome == 0);
        }
        cache::Extract extract;
        engine->setStreamTexts([&extract](std::int32_t page, const std::string& text) {
            extract.units.push_back({page, 0, 0, text, ""});
        });
        bool walked = false;
        try {
            walked = engine->p2tMain(path);
        } catch (...) {
            engine->setStreamTexts({});
            throw;  // a file that cannot be read is not kept
        }
        engine->setStreamTexts({});
        // A stopped reading is incomplete.
        if (!context.flags.isAbort) {
            extract.outcome = walked ? 0 : 1;
            extract.count = engine->pageTotal();
            cache.store(entry, key, std::move(extract));
        }
        return walked;
    };
}

search::SearcherRegistry::FileSearch cachedPdfFilter(std::shared_ptr<pdf::PdfFilterSearcher> filter,
                                                     cache::SearchCache& cache,
                                                     const search::SearchContext& context) {
    return [filter, &cache, &context](const std::string& path) {
        const std::string key = pdfFilterKey(context.settings);
        auto entry = cache.lookup(path, key);
        if (entry.state != cache::Lookup::State::Miss)
            context.host.noteFromCache();
        if (entry.state == cache::Lookup::State::CannotMatch) {
            context.host.setCaptionOnSearching(path);
            return !context.flags.isAbort;
        }
        if (entry.state == cache::Lookup::State::Found)
            return filter->matchLines(path, entry.extract.units);
        cache::Extract extract;
        bool keep = true;
        filter->setLines([&](std::int32_t page, std::string_view text, std::string_view ansi) {
            keep = keep && (ansi.empty() || readsBackTheSame(ansi, text));
            extract.units.push_back({page, 0, 0, std::string(text), std::string(ansi)});
        });
        const bool searched = filter->find_pdfFilter(path);
        filter->setLines({});
        // Only a complete run is kept: a failure is told again next time.
        if (searched && keep && !context.flags.isAbort)
            cache.store(entry, key, std::move(extract));
        return searched;
    };
}

}  // namespace ferretta::run
