#include "search/search_command.h"

#include <cstdio>
#include <exception>

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/error.h"

namespace ferretta::search {

namespace ft = app::fileType;

std::string summaryText(std::int64_t files, std::int64_t hits,
                        std::optional<std::int64_t> elapsedMs) {
    std::string text = std::to_string(files) + "ﾌｧｲﾙ(ｵﾌﾞｼﾞｪｸﾄ)検索し、" + std::to_string(hits) +
                       "件ヒットしました。";
    if (elapsedMs && *elapsedMs > 0) {
        char seconds[48];
        std::snprintf(seconds, sizeof seconds, "(%lld.%03lld秒)",
                      static_cast<long long>(*elapsedMs / 1000),
                      static_cast<long long>(*elapsedMs % 1000));
        text += seconds;
    }
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

std::int64_t runSearch(app::Host& host, app::Settings& settings, Finder& finder, SearchFlags& flags,
                       const std::function<std::int64_t(int fileType)>& itemSearch) {
    std::int64_t count = 0;
    try {
        const auto& types = settings.fileTypes;
        if (types.isTarget(ft::text) || types.isTarget(ft::word) || types.isTarget(ft::excel) ||
            types.isTarget(ft::pdf) || types.isTarget(ft::access) ||
            types.isTarget(ft::powerPoint)) {
            count = finder.findInDir(settings.dir);
        }
        if (flags.isAbort)
            return count;
        for (int type :
             {ft::outlookTask, ft::outlookMail, ft::outlookCalendar, ft::outlookContact}) {
            if (types.isTarget(type) && itemSearch)
                count += itemSearch(type);
            if (flags.isAbort)
                return count;
        }
        if (types.isTarget(ft::outlookNote) && itemSearch)
            count += itemSearch(ft::outlookNote);
    } catch (const std::exception& failure) {
        // Whatever no searcher handled (an unreadable file, a folder that cannot be listed,
        // memory) ends the whole search here, with the hits found so far kept.
        app::logWrite("mainForm::runSearch", failure.what());
        flags.isAbort = true;
        host.showMessage("検索中にエラーが発生しました.", app::MessageStyle::Critical);
    }
    return count;
}

}  // namespace ferretta::search
