#include "run/document_cache_use.h"

#include <mutex>

#include "app/debug_log.h"
#include "platform/data_folder.h"

namespace ferretta::run {
namespace {

std::mutex g_cacheMutex;
// Never destroyed at exit: the front ends close it while the debug log still exists; a process
// that ends otherwise loses only what was still waiting to be written.
std::unique_ptr<cache::DocumentCache>& g_cache = *new std::unique_ptr<cache::DocumentCache>();

}  // namespace

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

}  // namespace ferretta::run
