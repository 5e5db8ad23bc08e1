#pragma once
// An item store in memory for the mail-program searcher's tests: folders as item lists that a
// test may change between a search and a double-click, a kind without a folder counting as not
// connected, every open and display recorded.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pim/item_list_folder.h"
#include "platform/pim/item_store.h"

namespace ferretta::test {

namespace pim = platform::pim;

// An item whose ref names it by `id`; the texts as given.
inline pim::Item memoryItem(std::string id, std::string subject, std::string body = {},
                            std::string categories = {}) {
    pim::Item item;
    item.ref = {pim::Origin::Eds, "memory", std::move(id), {}};
    item.subject = std::move(subject);
    item.body = std::move(body);
    item.categories = std::move(categories);
    return item;
}

class MemoryItemStore : public pim::ItemStore {
  public:
    std::unique_ptr<pim::ItemFolder> openFolder(pim::FolderKind kind,
                                                const std::string& place) override {
        opened.emplace_back(kind, place);
        const auto found = folders.find(kind);
        if (found == folders.end())
            return nullptr;
        return std::make_unique<pim::ItemListFolder>(found->second);
    }

    // Shown when the item is still in its folder, NotConnected when the folder is gone.
    pim::DisplayResult display(pim::FolderKind kind, const pim::ItemRef& ref) override {
        if (folders.count(kind) == 0)
            return pim::DisplayResult::NotConnected;
        if (!readItem(kind, ref))
            return pim::DisplayResult::Failed;
        displayed.push_back(ref.id);
        return pim::DisplayResult::Shown;
    }

    void disconnect() override { ++disconnects; }

    // The item as its folder holds it now.
    std::optional<pim::Item> readItem(pim::FolderKind kind,
                                      const pim::ItemRef& ref) const override {
        const auto found = folders.find(kind);
        if (found != folders.end()) {
            for (const auto& item : found->second) {
                if (item.ref == ref)
                    return item;
            }
        }
        return std::nullopt;
    }

    std::map<pim::FolderKind, std::vector<pim::Item>> folders;
    std::vector<std::pair<pim::FolderKind, std::string>> opened;
    std::vector<std::string> displayed;  // the ids shown
    int disconnects = 0;
};

}  // namespace ferretta::test
