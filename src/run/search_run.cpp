#include "run/search_run.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "app/debug_log.h"
#include "app/file_types.h"
#include "pdf/engine/fonts/cid_map.h"
#include "pdf/engine/pdf_engine.h"
#include "pdf/frontends/pdf_filter_search.h"
#include "platform/clock.h"
#include "platform/data_folder.h"
#include "run/document_cache_use.h"
#include "search/path_helpers.h"
#include "search/query.h"
#include "searchers/office/office_run.h"
#include "searchers/outlook/outlook_search.h"

namespace ferretta::run {

std::string summaryText(std::int64_t files, std::int64_t hits,
                        std::optional<std::int64_t> elapsedMs, std::int64_t unreadable,
                        std::int64_t fromCache, bool stopped) {
    std::string text = std::to_string(files) + "ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、" + std::to_string(hits) +
                       (stopped ? "件ヒットしたところで中止しました。" : "件ヒットしました。");
    if (elapsedMs && *elapsedMs > 0) {
        char seconds[48];
        std::snprintf(seconds, sizeof seconds, "(%lld.%03lld秒)",
                      static_cast<long long>(*elapsedMs / 1000),
                      static_cast<long long>(*elapsedMs % 1000));
        text += seconds;
    }
    if (unreadable > 0)
        text += "（読めないファイル" + std::to_string(unreadable) + "件）";
    if (fromCache > 0)
        text += "（キャッシュから" + std::to_string(fromCache) + "ﾌｧｲﾙ）";
    return text;
}

std::vector<std::string> updateKeywordHistory(const std::vector<std::string>& items,
                                              std::string_view text) {
    if (text.empty())
        return items;
    std::vector<std::string> list{std::string(text)};
    for (const auto& item : items) {
        if (!item.empty() && item != text)
            list.push_back(item);
    }
    return list;
}

bool loadCidTable(app::Host& host) {
    if (pdf::cidTable().loaded())
        return true;
    if (pdf::cidTable().p2tCIDInit(platform::findDataFile("AdobeCID.dat"))) {
        return true;
    }
    host.showMessage(std::string("AdobeCID.dat") + "の読み込みでエラーが発生しました",
                     app::MessageStyle::Critical);
    return false;
}

std::int64_t runSearch(app::Host& host, app::Settings& settings, search::Finder& finder,
                       const search::SearcherRegistry& registry, search::SearchFlags& flags,
                       bool* failed) {
    std::int64_t count = 0;
    try {
        const auto& types = settings.fileTypes;
        if (types.isTarget(app::FileType::Text) || types.isTarget(app::FileType::Word) ||
            types.isTarget(app::FileType::Excel) || types.isTarget(app::FileType::Pdf) ||
            types.isTarget(app::FileType::Access) || types.isTarget(app::FileType::PowerPoint)) {
            count = finder.findInDir(settings.dir);
        }
        if (flags.isAbort)
            return count;
        for (app::FileType type : app::outlookItemTypes) {
            if (types.isTarget(type)) {
                if (const auto* search = registry.itemSearcher(type))
                    count += (*search)();
            }
            // After the notes, the last type, there is nothing left to stop.
            if (flags.isAbort && type != app::FileType::OutlookNote)
                return count;
        }
    } catch (const std::exception& failure) {
        // Whatever no searcher handled (a folder that cannot be listed midway, an Office
        // document that cannot be opened, memory) ends the whole search here, with the hits
        // found so far kept.
        app::logWrite("mainForm::runSearch", failure.what());
        flags.isAbort = true;
        if (failed != nullptr)
            *failed = true;
        host.showMessage("検索中にエラーが発生しました.", app::MessageStyle::Critical);
    }
    return count;
}

namespace {

using search::SearcherRegistry;

// The front end's host with the documents that came from the document cache counted as the
// user-interface thread meets them: a file searched ahead and again after a stop counts once,
// what the workers found past a stop not at all. The front end sees the count grow.
class CacheCountingHost final : public app::Host {
  public:
    explicit CacheCountingHost(app::Host& real) : m_real(real) { m_real.showFromCache(0); }
    std::int64_t fromCache() const { return m_fromCache; }

    RowHandle addResult(const app::Hit& hit) override { return m_real.addResult(hit); }
    void setContentColor(RowHandle row, std::uint32_t color) override {
        m_real.setContentColor(row, color);
    }
    void setCaptionOnSearching(std::string_view path) override {
        m_real.setCaptionOnSearching(path);
    }
    void showProgress(std::string_view text) override { m_real.showProgress(text); }
    void setStatusText(std::string_view text) override { m_real.setStatusText(text); }
    void noteFromCache() override { m_real.showFromCache(++m_fromCache); }
    void showFromCache(std::int64_t documents) override { m_real.showFromCache(documents); }
    void doEvents() override { m_real.doEvents(); }
    void showMessage(std::string_view text, app::MessageStyle style) override {
        m_real.showMessage(text, style);
    }
    bool askYesNo(std::string_view text, app::MessageStyle style) override {
        return m_real.askYesNo(text, style);
    }
    void noteUnreadable(std::string_view path, std::string_view reason) override {
        m_real.noteUnreadable(path, reason);
    }
    void noteDamaged(std::string_view path, std::string_view reason) override {
        m_real.noteDamaged(path, reason);
    }

  private:
    app::Host& m_real;
    std::int64_t m_fromCache = 0;
};

// The PDF searcher the settings ask for: the built-in engine (with its character table, which
// is loaded now if start-up did not load it) or the filter program. A filter without a command
// line is installed too: its first PDF tells the user once that the filter cannot start.
void registerPdfSearcher(app::Host& host, const app::Settings& settings, SearcherRegistry& registry,
                         cache::SearchCache* cache) {
    if (!settings.fileTypes.isTarget(app::FileType::Pdf))
        return;
    if (settings.pdfOwnEngine) {
        if (!loadCidTable(host))
            return;
        registry.setFileSearcher(
            app::FileType::Pdf,
            [cache](const search::SearchContext& context) -> SearcherRegistry::FileSearch {
                auto engine = std::make_shared<pdf::PdfEngine>(
                    context, pdf::cidTable(), pipeline::CacheUse{cache, pdfEngineKey()});
                return [engine](const std::string& path) { return engine->p2tMain(path); };
            },
            SearcherRegistry::Threads::Any);
        return;
    }
    registry.setFileSearcher(
        app::FileType::Pdf,
        [cache](const search::SearchContext& context) -> SearcherRegistry::FileSearch {
            auto filter = std::make_shared<pdf::PdfFilterSearcher>(
                context, pipeline::CacheUse{cache, pdfFilterKey(context.settings)});
            return [filter](const std::string& path) { return filter->find_pdfFilter(path); };
        });
}

// Waits while the cache writes what the search read: that is part of the search, and a
// search that ends before it would leave the writing to a program that seems idle (or, on
// the command line, to after the summary). Events run meanwhile; a stop ends the waiting.
void finishCacheWriting(app::Host& host, const app::Settings& settings,
                        const search::SearchFlags& flags) {
    cache::DocumentCache* documents = documentCache(settings);
    while (documents != nullptr && !flags.isAbort &&
           !documents->flushFor(std::chrono::milliseconds(50)))
        host.doEvents();
}

}  // namespace

SearchOutcome runSearchCommand(app::Host& host, app::Settings& settings, search::SearchFlags& flags,
                               std::string_view query, const SearchRunHooks& hooks) {
    SearchOutcome outcome;
    flags.isAbort = false;
    flags.isSearching = true;
    flags.stopRequestedAt.reset();

    search::Matcher matcher(settings.regular, settings.strict);
    matcher.targetStrsSplit(query);
    CacheCountingHost counted(host);
    const search::SearchContext context{counted, settings, matcher, flags};
    SearcherRegistry registry;
    search::registerTextSearcher(registry);

    // The document cache serves the searchers that read documents; a search of names reads none.
    std::optional<cache::SearchCache> searchCache;
    if (!settings.fileNameOnly) {
        if (cache::DocumentCache* documents = documentCache(settings)) {
            std::string folder = settings.dir;
            if (!folder.empty() && folder.back() != search::pathSeparator)
                folder += search::pathSeparator;
            searchCache.emplace(*documents, indexQueryOf(matcher), literalQueryOf(matcher),
                                settings.textCacheRefreshOnly ? cache::SearchCache::Mode::Refresh
                                                              : cache::SearchCache::Mode::Use,
                                folder);
        }
    }
    cache::SearchCache* cache = searchCache ? &*searchCache : nullptr;

    // The offices start at the first document that has to be read through one.
    const auto& types = settings.fileTypes;
    searchers::office::OfficeSession* officeSession = nullptr;
    std::optional<searchers::office::OfficeSearchers> officeSearchers;
    if ((types.isTarget(app::FileType::Word) || types.isTarget(app::FileType::Excel) ||
         types.isTarget(app::FileType::PowerPoint)) &&
        hooks.officeSession) {
        officeSession = &hooks.officeSession();
        officeSearchers.emplace(*officeSession, context, cache);
        officeSearchers->install(registry);
    }
    registerPdfSearcher(host, settings, registry, cache);
    std::optional<searchers::outlook::OutlookSearcher> outlookSearcher;
    for (app::FileType type : app::outlookItemTypes) {
        if (!types.isTarget(type) || !hooks.outlookSession)
            continue;
        if (!outlookSearcher)
            outlookSearcher.emplace(hooks.outlookSession(), context, cache);
        registry.setItemSearcher(
            type, [&outlookSearcher, type] { return outlookSearcher->findOutlookObjects(type); });
    }

    // Files whose searchers may run on any thread are read and searched ahead on workers.
    search::ReadAheadOptions readAhead;
    readAhead.workers = settings.workers > 0 ? settings.workers : search::defaultWorkerCount();
    readAhead.makeMatcher = [regular = settings.regular, strict = settings.strict,
                             words = std::string(query)] {
        auto workerMatcher = std::make_unique<search::Matcher>(regular, strict);
        workerMatcher->targetStrsSplit(words);
        return workerMatcher;
    };
    search::Finder finder(context, registry, std::move(readAhead));
    flags.filterErrorShown = false;
    const std::int64_t start = platform::steadyMilliseconds();
    std::int64_t end = start;
    outcome.files = runSearch(host, settings, finder, registry, flags, &outcome.failed);
    if (cache != nullptr)
        finishCacheWriting(host, settings, flags);
    if (!flags.isAbort)
        end = platform::steadyMilliseconds();
    // A stop request ends the time, also when it came before the searchers returned.
    if (flags.stopRequestedAt)
        end = *flags.stopRequestedAt;
    flags.isSearching = false;
    if (hooks.searchFinished)
        hooks.searchFinished();

    outcome.unreadable = finder.unreadableCount();
    outcome.folderUnusable = finder.folderUnusable();
    outcome.hits = hooks.hitCount ? hooks.hitCount() : 0;
    if (end > start)
        outcome.elapsedMs = end - start;
    outcome.fromCache = counted.fromCache();
    outcome.stopped = flags.isAbort && !outcome.folderUnusable;
    outcome.summary = summaryText(outcome.files, outcome.hits, outcome.elapsedMs,
                                  outcome.unreadable, outcome.fromCache, outcome.stopped);
    host.setStatusText(outcome.summary);
    if (officeSession != nullptr)
        searchers::office::endStartedOffices(*officeSession, host);
    return outcome;
}

}  // namespace ferretta::run
