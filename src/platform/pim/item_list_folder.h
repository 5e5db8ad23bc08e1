#pragma once
// A folder whose items were all read when it was opened (calendar and card files, EDS).
#include <utility>
#include <vector>

#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

class ItemListFolder : public ItemFolder {
  public:
    explicit ItemListFolder(std::vector<Item> items) : m_items(std::move(items)) {}
    std::size_t count() const override { return m_items.size(); }
    std::optional<Item> item(std::size_t index) override {
        if (index == 0 || index > m_items.size())
            return std::nullopt;
        return m_items[index - 1];
    }

  private:
    std::vector<Item> m_items;
};

}  // namespace ferretta::platform::pim
