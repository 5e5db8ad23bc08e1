#pragma once
// The search of the mail program's items (tasks, inbox, calendar, contacts, notes) and the
// opening of an item's hit, over an item store (platform/pim/item_store.h).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/file_types.h"
#include "app/host.h"
#include "cache/search_cache.h"
#include "platform/pim/item_store.h"
#include "search/search_context.h"

namespace ferretta::searchers::outlook {

// The label tag of a hit in the business address (the other fields' tags are fixed).
inline constexpr std::string_view kBusinessAddressTag = ")-勤務先住所";

// The store, and which item each index of the last search's labels meant, kept for the life
// of the process: a double-click opens that item even when its folder changed meanwhile.
class OutlookSession {
  public:
    explicit OutlookSession(std::unique_ptr<platform::pim::ItemStore> store);

    platform::pim::ItemStore& store() { return *m_store; }

    // Drops the store's connections and forgets the remembered items.
    void initOutlookValues();

    // The item that index `index` of type `type` meant in the last search of that type;
    // nullptr when there is none (another type, an index never read).
    const platform::pim::ItemRef* remembered(app::FileType type, std::int64_t index) const;

    // What reads again, on any thread, the item a hit's label names (the row's type and path
    // column) for the hit's context; empty when the label names no item of the last search.
    // The reader answers nullopt when the item is gone or its store cannot read one item
    // alone; it must not outlive the session.
    std::function<std::optional<platform::pim::Item>()> itemReader(app::FileType type,
                                                                   std::string_view label) const;

    // Used by the search: forgets the type's items, then records them one by one.
    void forget(app::FileType type);
    void remember(app::FileType type, std::size_t index, platform::pim::ItemRef ref);

  private:
    // Shared with the item readers handed out, which may still run on another thread.
    std::shared_ptr<platform::pim::ItemStore> m_store;
    std::array<std::vector<platform::pim::ItemRef>, 5> m_items;
};

class OutlookSearcher {
  public:
    // The session, the context and the cache must outlive the object. With a cache, a folder
    // that can name the files its items come from (a mailbox on disk) is kept, and searched
    // again from what was kept while those files stay unchanged.
    OutlookSearcher(OutlookSession& session, const search::SearchContext& context,
                    cache::SearchCache* cache = nullptr);

    // Searches the items of one type (tasks .. notes) from the place the settings give it.
    // Answers the number of items searched: the folder's count, or the index reached when a
    // stop was requested (checked every 10 items, and while a folder is opened or an item
    // read); 0 for another type or when the folder cannot be reached. When the store says why
    // (a mailbox missing, unreadable, or neither a file nor a folder), the user is told
    // "Outlookに接続できませんでした", the type's name and the reason. An item that cannot be
    // read is skipped and told (noteUnreadable). Failures of the store itself travel to the
    // caller as ferretta::Error.
    std::int64_t findOutlookObjects(app::FileType type);

  private:
    class FolderRun;
    class ItemMatcher;
    class NoteOnce;
    // Shows the progress at item `index`; true when a stop was requested there (the events
    // run every 10 items).
    bool progress(app::FileType type, std::int64_t index, std::int64_t count);
    void searchItem(app::FileType type, std::int64_t index, const platform::pim::Item& item);

    OutlookSession& m_session;
    search::SearchContext m_context;
    cache::SearchCache* m_cache;
};

// Opens the item a hit's label names (the row's type and path column): the one the last
// search meant by that index. Tells the user "Outlookに接続できませんでした" when its store
// cannot be reached and "オブジェクトを開けませんでした No=<index>" when it is gone or cannot be
// shown. Another type does nothing.
void openOutlookItem(OutlookSession& session, app::Host& host, app::FileType type,
                     std::string_view label);

// "Outlookメール(12)-表題": the type's display name, "(", the index, and the tag (which starts
// with ")").
std::string itemLabel(std::string_view displayName, std::int64_t index, std::string_view tag);

// The index in a label: the digits between its first "(" and the next ")"; nullopt when that
// is not a number.
std::optional<std::int64_t> labelIndex(std::string_view label);

// Whether the type is one of the mail program's item types (tasks .. notes).
bool isItemType(app::FileType type);

// The fields of an item searched besides its subject and body, with their label tags, in the
// order their hits are reported.
struct ItemField {
    std::string_view tag;
    const std::string* text;
};
std::vector<ItemField> itemFields(app::FileType type, const platform::pim::Item& item);

// A body's lines, split at CR LF, LF or CR.
std::vector<std::string_view> bodyLines(std::string_view body);

}  // namespace ferretta::searchers::outlook
