#include "drivers/pim/eds_store.h"

#include <libebook/libebook.h>
#include <libecal/libecal.h>

#include <algorithm>
#include <array>

#include "drivers/pim/calendar_file.h"
#include "drivers/pim/vcard_file.h"
#include "platform/error.h"
#include "platform/pim/item_list_folder.h"

namespace ferretta::platform::pim {

namespace {

constexpr std::string_view kPlace = "outlook::EDS";
// Connect without waiting for the backend's "connected" notification: it arrives through a
// GLib main loop, which neither the command line nor the search's thread runs, and the wait
// would last its whole timeout. A local backend is usable at once.
constexpr guint32 kNoWait = static_cast<guint32>(-1);

struct GErrorFree {
    void operator()(GError* error) const {
        if (error)
            g_error_free(error);
    }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

std::string messageOf(const GError* error) {
    return error && error->message ? error->message : "unknown error";
}

std::size_t slotOf(FolderKind kind) {
    return static_cast<std::size_t>(kind);
}

}  // namespace

struct EdsStore::Connection {
    ESourceRegistry* registry = nullptr;
    std::array<EClient*, 5> clients{};
    std::array<std::string, 5> sourceUids;

    ~Connection() {
        for (EClient* client : clients) {
            if (client)
                g_object_unref(client);
        }
        if (registry)
            g_object_unref(registry);
    }

    void dropClient(FolderKind kind) {
        if (EClient*& client = clients[slotOf(kind)]) {
            g_object_unref(client);
            client = nullptr;
        }
    }
};

EdsStore::EdsStore(PimLog log) : m_log(std::move(log)) {}
EdsStore::~EdsStore() = default;

void EdsStore::disconnect() {
    m_connection.reset();
}

namespace {

ESource* defaultSource(ESourceRegistry* registry, FolderKind kind) {
    switch (kind) {
        case FolderKind::Tasks:
            return e_source_registry_ref_default_task_list(registry);
        case FolderKind::Calendar:
            return e_source_registry_ref_default_calendar(registry);
        case FolderKind::Notes:
            return e_source_registry_ref_default_memo_list(registry);
        case FolderKind::Contacts:
            return e_source_registry_ref_default_address_book(registry);
        case FolderKind::Inbox:
            break;
    }
    return nullptr;
}

ECalClientSourceType calendarType(FolderKind kind) {
    switch (kind) {
        case FolderKind::Tasks:
            return E_CAL_CLIENT_SOURCE_TYPE_TASKS;
        case FolderKind::Notes:
            return E_CAL_CLIENT_SOURCE_TYPE_MEMOS;
        default:
            return E_CAL_CLIENT_SOURCE_TYPE_EVENTS;
    }
}

// The client of the kind's default source, connected on first use; nullptr when EDS cannot be
// reached (the reason logged).
EClient* clientOf(std::unique_ptr<EdsStore::Connection>& connection, FolderKind kind,
                  const PimLog& log) {
    if (!connection) {
        GError* raw = nullptr;
        ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &raw);
        ErrorPtr error(raw);
        if (!registry) {
            if (log)
                log(kPlace, "EDSに接続できません: " + messageOf(error.get()));
            return nullptr;
        }
        connection = std::make_unique<EdsStore::Connection>();
        connection->registry = registry;
    }
    EClient*& client = connection->clients[slotOf(kind)];
    if (client)
        return client;
    ESource* source = defaultSource(connection->registry, kind);
    if (!source) {
        if (log)
            log(kPlace, "EDSに既定のソースがありません");
        return nullptr;
    }
    GError* raw = nullptr;
    client = kind == FolderKind::Contacts
                 ? e_book_client_connect_sync(source, kNoWait, nullptr, &raw)
                 : e_cal_client_connect_sync(source, calendarType(kind), kNoWait, nullptr, &raw);
    ErrorPtr error(raw);
    if (client)
        connection->sourceUids[slotOf(kind)] = e_source_get_uid(source);
    else if (log)
        log(kPlace, "EDSのソースに接続できません: " + messageOf(error.get()));
    g_object_unref(source);
    return client;
}

bool lessCreated(const CalendarEntry& a, const CalendarEntry& b) {
    if (a.created != b.created)
        return a.created < b.created;
    return a.item.ref.id < b.item.ref.id;
}

// The items of a connected client; nullopt with the error when EDS answered with one.
std::optional<std::vector<Item>> listItems(EClient* client, FolderKind kind,
                                           const std::string& sourceUid, const PimLog& log,
                                           std::string& failure) {
    GError* raw = nullptr;
    std::vector<Item> items;
    if (kind == FolderKind::Contacts) {
        EBookQuery* all = e_book_query_any_field_contains("");
        gchar* query = e_book_query_to_string(all);
        e_book_query_unref(all);
        GSList* contacts = nullptr;
        const bool ok =
            e_book_client_get_contacts_sync(E_BOOK_CLIENT(client), query, &contacts, nullptr, &raw);
        g_free(query);
        ErrorPtr error(raw);
        if (!ok) {
            failure = messageOf(error.get());
            return std::nullopt;
        }
        for (GSList* link = contacts; link; link = link->next) {
            gchar* card = e_vcard_to_string(E_VCARD(link->data), EVC_FORMAT_VCARD_30);
            Item item = contactItem(normaliseVCard(card));
            g_free(card);
            item.ref.origin = Origin::Eds;
            item.ref.container = sourceUid;
            items.push_back(std::move(item));
        }
        g_slist_free_full(contacts, g_object_unref);
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
            return a.subject != b.subject ? a.subject < b.subject : a.ref.id < b.ref.id;
        });
        return items;
    }
    GSList* components = nullptr;
    const bool ok = e_cal_client_get_object_list_as_comps_sync(E_CAL_CLIENT(client), "#t",
                                                               &components, nullptr, &raw);
    ErrorPtr error(raw);
    if (!ok) {
        failure = messageOf(error.get());
        return std::nullopt;
    }
    std::vector<CalendarEntry> entries;
    for (GSList* link = components; link; link = link->next) {
        gchar* text = e_cal_component_get_as_string(E_CAL_COMPONENT(link->data));
        for (auto& entry :
             readCalendarEntries(text ? text : "", kind, Origin::Eds, sourceUid, log, "EDS"))
            entries.push_back(std::move(entry));
        g_free(text);
    }
    g_slist_free_full(components, g_object_unref);
    std::stable_sort(entries.begin(), entries.end(), lessCreated);
    for (auto& entry : entries)
        items.push_back(std::move(entry.item));
    return items;
}

// The item's text for a viewer: a calendar holding it with its time zones, or its vCard.
bool fetchItem(EClient* client, FolderKind kind, const ItemRef& ref, std::string& text,
               std::string& failure) {
    GError* raw = nullptr;
    if (kind == FolderKind::Contacts) {
        EContact* contact = nullptr;
        const bool ok = e_book_client_get_contact_sync(E_BOOK_CLIENT(client), ref.id.c_str(),
                                                       &contact, nullptr, &raw);
        ErrorPtr error(raw);
        if (!ok || !contact) {
            failure = messageOf(error.get());
            return false;
        }
        gchar* card = e_vcard_to_string(E_VCARD(contact), EVC_FORMAT_VCARD_30);
        text = card ? card : "";
        g_free(card);
        g_object_unref(contact);
        return true;
    }
    const std::string uid = ref.uid();
    const std::string recurrence = ref.recurrenceId();
    ICalComponent* component = nullptr;
    const bool ok = e_cal_client_get_object_sync(E_CAL_CLIENT(client), uid.c_str(),
                                                 recurrence.empty() ? nullptr : recurrence.c_str(),
                                                 &component, nullptr, &raw);
    ErrorPtr error(raw);
    if (!ok || !component) {
        failure = messageOf(error.get());
        return false;
    }
    gchar* calendar = e_cal_client_get_component_as_string(E_CAL_CLIENT(client), component);
    text = calendar ? calendar : "";
    g_free(calendar);
    g_object_unref(component);
    return true;
}

}  // namespace

std::unique_ptr<ItemFolder> EdsStore::openDefault(FolderKind kind) {
    if (kind == FolderKind::Inbox)
        return nullptr;
    std::string failure;
    // A client kept from an earlier search may belong to a server that has restarted since:
    // on an error the listing is tried once more over a new connection.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EClient* client = clientOf(m_connection, kind, m_log);
        if (!client)
            return nullptr;
        auto items =
            listItems(client, kind, m_connection->sourceUids[slotOf(kind)], m_log, failure);
        if (items)
            return std::make_unique<ItemListFolder>(std::move(*items));
        m_connection.reset();
    }
    throw Error(Error::Kind::Other, "EDS: " + failure);
}

EdsStore::Lookup EdsStore::lookup(FolderKind kind, const ItemRef& ref, std::string& text) {
    // As for a listing: a client kept from before may have lost its server; one new try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EClient* client = clientOf(m_connection, kind, m_log);
        if (!client)
            return Lookup::NotConnected;
        if (ref.container != m_connection->sourceUids[slotOf(kind)])
            return Lookup::Gone;
        std::string failure;
        if (fetchItem(client, kind, ref, text, failure))
            return Lookup::Found;
        if (m_log)
            m_log(kPlace, "項目が見つかりません: " + failure);
        m_connection.reset();
    }
    return Lookup::Gone;
}

}  // namespace ferretta::platform::pim
