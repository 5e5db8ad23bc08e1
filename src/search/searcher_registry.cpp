#include "search/searcher_registry.h"

#include <memory>
#include <utility>

#include "search/text_search.h"

namespace ferretta::search {

void SearcherRegistry::setFileSearcher(app::FileType type, MakeFileSearch make, Threads threads) {
    m_files[app::slotOf(type)] = {std::move(make), threads};
}

void SearcherRegistry::setItemSearcher(app::FileType type, ItemSearch search) {
    m_items[app::slotOf(type)] = std::move(search);
}

const SearcherRegistry::FileEntry* SearcherRegistry::fileSearcher(app::FileType type) const {
    const FileEntry& entry = m_files[app::slotOf(type)];
    return entry.make ? &entry : nullptr;
}

const SearcherRegistry::ItemSearch* SearcherRegistry::itemSearcher(app::FileType type) const {
    const ItemSearch& search = m_items[app::slotOf(type)];
    return search ? &search : nullptr;
}

void registerTextSearcher(SearcherRegistry& registry) {
    registry.setFileSearcher(
        app::FileType::Text,
        [](const SearchContext& context) -> SearcherRegistry::FileSearch {
            auto searcher = std::make_shared<TextSearcher>(context);
            return [searcher](const std::string& path) { return searcher->findText(path); };
        },
        SearcherRegistry::Threads::Any);
}

}  // namespace ferretta::search
