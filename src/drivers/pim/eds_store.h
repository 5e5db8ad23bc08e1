#pragma once
// The default task list, calendar, address book and memo list of Evolution Data Server, the
// personal-information service of the GNOME desktop, over its client libraries on the D-Bus
// session bus. Calls are synchronous and need no running GLib main loop: clients are connected
// without waiting for their backend's "connected" state, which only a main loop would deliver.
#include <memory>
#include <optional>
#include <string>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

class EdsStore {
  public:
    explicit EdsStore(PimLog log);
    ~EdsStore();
    EdsStore(const EdsStore&) = delete;
    EdsStore& operator=(const EdsStore&) = delete;

    // The items of the default source of a kind (not the inbox): calendar items by creation
    // time then id, contacts by name then UID. nullptr (and a log line) when there is no
    // session bus, no EDS or no such source. Throws ferretta::Error when EDS answers the
    // listing with an error also after connecting again.
    std::unique_ptr<ItemFolder> openDefault(FolderKind kind);

    enum class Lookup { Found, Gone, NotConnected };
    // Finds an item again. For calendar kinds `text` becomes a calendar holding it with the
    // time zones it uses, for contacts a vCard.
    Lookup lookup(FolderKind kind, const ItemRef& ref, std::string& text);

    // Drops the registry and the clients.
    void disconnect();

    // The registry and the clients (opaque: GLib types stay out of this header).
    struct Connection;

  private:
    std::unique_ptr<Connection> m_connection;
    PimLog m_log;
};

}  // namespace ferretta::platform::pim
