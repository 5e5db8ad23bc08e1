#include "search/finder.h"

#include <memory>
#include <utility>
#include <vector>

#include "app/debug_log.h"
#include "platform/error.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::search {

Finder::Finder(const SearchContext& context, const SearcherRegistry& registry,
               ReadAheadOptions readAhead)
    : m_context(context),
      m_dispatch(context, registry),
      m_registry(registry),
      m_readAhead(std::move(readAhead)) {}

void Finder::checkFileName(const std::string& path) {
    std::string name = fileNameOf(path);
    if (m_context.matcher.smartFind(name) > 0) {
        const app::FileType type = fileTypeOf(extensionOf(name), m_context.settings.textTags);
        auto row = addResult(m_context.host, type, name, "(ファイル名にヒット)", path, "");
        m_context.host.setContentColor(row, app::rgb(0, 0, 255));
    }
}

void Finder::skipUnreadable(const std::string& path, const std::string& reason) {
    ++m_unreadable;
    app::logWrite("findInDir", path + ": " + reason);
    m_context.host.noteUnreadable(path, reason);
}

bool Finder::searchFile(const std::string& path, ReadAhead* ahead, ReadAhead::Job* job) {
    try {
        return job != nullptr ? ahead->replay(*job, m_context) : m_dispatch.findInFile(path);
    } catch (const Error& failure) {
        if (failure.kind() != Error::Kind::FileOpen && failure.kind() != Error::Kind::FileRead)
            throw;
        // The searchers' complaints start with the path, which the skip names already.
        std::string_view reason = failure.what();
        if (reason.substr(0, path.size() + 2) == path + ": ")
            reason.remove_prefix(path.size() + 2);
        skipUnreadable(path, std::string(reason));
        return false;
    }
}

std::int64_t Finder::findInDir(std::string& folder) {
    app::Host& host = m_context.host;
    SearchFlags& flags = m_context.flags;
    if (folder.empty()) {
        flags.isAbort = true;
        m_folderUnusable = true;
        host.showMessage("検索対象フォルダを指定してください", app::MessageStyle::Information);
        return 0;
    }
    if (folder.back() != pathSeparator)
        folder += pathSeparator;

    // How many sub-folders each open folder has still to enter: after a stop, every folder
    // on the way up that has some left lets events run once more before it gives up, as the
    // loops of a recursive walk would.
    std::vector<std::size_t> remaining;
    auto unwind = [&] {
        for (auto level = remaining.rbegin(); level != remaining.rend(); ++level) {
            if (*level > 0)
                host.doEvents();
        }
    };
    std::int64_t count = 0;
    FolderWalk walk(folder, walkRulesFor(m_context.settings));
    std::unique_ptr<ReadAhead> ahead;
    if (m_readAhead.workers > 1 && ReadAhead::worthwhile(m_context.settings, m_registry))
        ahead = std::make_unique<ReadAhead>(folder, m_context.settings, m_registry, m_readAhead);
    WalkStep step;
    ReadAhead::Job* job = nullptr;
    while (ahead ? ahead->next(step, job, m_context) : walk.next(step)) {
        switch (step.kind) {
            case WalkStep::Kind::TopUnusable:
                app::logWrite("findInDir", step.path + ": " + step.reason);
                flags.isAbort = true;
                m_folderUnusable = true;
                host.showMessage("検索フォルダが無効です\r正しいフォルダを指定してください",
                                 app::MessageStyle::Information);
                return 0;
            case WalkStep::Kind::Folder:
                remaining.push_back(step.subFolders);
                break;
            case WalkStep::Kind::File:
                checkFileName(step.path);
                if (m_context.settings.fileNameOnly) {
                    ++count;
                    break;
                }
                // A file the stop cut short was looked at too: its hits are listed.
                if (searchFile(step.path, ahead.get(), job) || flags.isAbort)
                    ++count;
                host.doEvents();
                if (flags.isAbort) {
                    unwind();
                    return count;
                }
                break;
            case WalkStep::Kind::SubFolder:
                --remaining.back();
                host.doEvents();
                if (flags.isAbort) {
                    remaining.pop_back();
                    unwind();
                    return count;
                }
                break;
            case WalkStep::Kind::Unreadable:
                skipUnreadable(step.path, step.reason);
                break;
            case WalkStep::Kind::Leave:
                remaining.pop_back();
                break;
        }
    }
    return count;
}

}  // namespace ferretta::search
