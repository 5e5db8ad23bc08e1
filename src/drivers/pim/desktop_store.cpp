#include "drivers/pim/desktop_store.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "drivers/pim/calendar_file.h"
#include "drivers/pim/eds_store.h"
#include "drivers/pim/item_viewer.h"
#include "drivers/pim/mailbox.h"
#include "drivers/pim/vcard_file.h"

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPlace = "outlook::store";

bool isFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

bool isFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// The default profile's folder under a Thunderbird root (the folder of profiles.ini).
std::optional<fs::path> thunderbirdProfile(const fs::path& root) {
    GKeyFile* file = g_key_file_new();
    std::optional<fs::path> profile;
    if (!g_key_file_load_from_file(file, (root / "profiles.ini").c_str(), G_KEY_FILE_NONE,
                                   nullptr)) {
        g_key_file_free(file);
        return std::nullopt;
    }
    const auto value = [&](const char* group, const char* key) {
        gchar* raw = g_key_file_get_string(file, group, key, nullptr);
        std::string text = raw ? raw : "";
        g_free(raw);
        return text;
    };
    const auto resolve = [&](const std::string& path, bool relative) {
        return relative || fs::path(path).is_relative() ? root / path : fs::path(path);
    };
    gsize count = 0;
    gchar** groups = g_key_file_get_groups(file, &count);
    std::vector<std::string> names(groups, groups + count);
    g_strfreev(groups);
    // The installation's default first (Thunderbird 68 and later), then Default=1, then the
    // first profile.
    for (const auto& group : names) {
        if (group.starts_with("Install") && !value(group.c_str(), "Default").empty()) {
            profile = resolve(value(group.c_str(), "Default"), false);
            break;
        }
    }
    for (int pass = 0; !profile && pass < 2; ++pass) {
        for (const auto& group : names) {
            if (!group.starts_with("Profile") || value(group.c_str(), "Path").empty())
                continue;
            if (pass == 0 && value(group.c_str(), "Default") != "1")
                continue;
            profile =
                resolve(value(group.c_str(), "Path"), value(group.c_str(), "IsRelative") == "1");
            break;
        }
    }
    g_key_file_free(file);
    return profile;
}

ItemViewer& viewerOf(std::unique_ptr<ItemViewer>& viewer, const fs::path& folder) {
    if (!viewer)
        viewer = std::make_unique<ItemViewer>(folder);
    return *viewer;
}

std::string_view evolutionScheme(FolderKind kind) {
    switch (kind) {
        case FolderKind::Tasks:
            return "task";
        case FolderKind::Notes:
            return "memo";
        case FolderKind::Calendar:
            return "calendar";
        default:
            return {};
    }
}

class DesktopItemStore : public ItemStore {
  public:
    explicit DesktopItemStore(DesktopStoreConfig config)
        : m_config(std::move(config)), m_eds(m_config.log) {}

    std::unique_ptr<ItemFolder> openFolder(FolderKind kind, const std::string& place) override {
        m_problem.clear();
        const auto path = placePath(place, m_config.home);
        if (!path) {
            if (kind != FolderKind::Inbox)
                return m_eds.openDefault(kind);
            const auto inbox = defaultInbox(m_config.home, m_config.dataHome);
            if (!inbox) {
                m_problem = "受信箱が見つかりません";
                if (m_config.log)
                    m_config.log(kPlace, m_problem);
                return nullptr;
            }
            return openMailbox(*inbox, m_config.log, m_keepGoing, &m_problem);
        }
        switch (kind) {
            case FolderKind::Inbox:
                return openMailbox(*path, m_config.log, m_keepGoing, &m_problem);
            case FolderKind::Contacts:
                return openContactsPlace(*path, m_config.log, &m_problem);
            default:
                return openCalendarPlace(*path, kind, m_config.log, &m_problem);
        }
    }

    std::string openProblem() const override { return m_problem; }

    void setKeepGoing(KeepGoing keepGoing) override { m_keepGoing = std::move(keepGoing); }

    DisplayResult display(FolderKind kind, const ItemRef& ref) override {
        std::optional<std::string> bytes;
        std::string_view extension;
        switch (ref.origin) {
            case Origin::Eds:
                return displayEds(kind, ref);
            case Origin::Mbox:
            case Origin::Maildir:
            case Origin::MessageFile:
                bytes = mailMessageBytes(ref);
                extension = ".eml";
                break;
            case Origin::ICalendar:
                bytes = calendarItemFile(ref);
                extension = ".ics";
                break;
            case Origin::VCard:
                bytes = contactCardFile(ref);
                extension = ".vcf";
                break;
            case Origin::None:
                break;
        }
        if (!bytes)
            return DisplayResult::Failed;
        return viewerOf(m_viewer, m_config.viewerFolder).showCopy(extension, *bytes)
                   ? DisplayResult::Shown
                   : DisplayResult::Failed;
    }

    void disconnect() override { m_eds.disconnect(); }

    std::optional<Item> readItem(FolderKind kind, const ItemRef& ref) const override {
        switch (ref.origin) {
            case Origin::Mbox:
            case Origin::Maildir:
            case Origin::MessageFile:
                return mailItem(ref);
            case Origin::ICalendar:
                return calendarItem(kind, ref);
            case Origin::VCard:
                return contactCard(ref);
            case Origin::Eds:
            case Origin::None:
                break;
        }
        return std::nullopt;
    }

  private:
    DisplayResult displayEds(FolderKind kind, const ItemRef& ref) {
        std::string text;
        switch (m_eds.lookup(kind, ref, text)) {
            case EdsStore::Lookup::NotConnected:
                return DisplayResult::NotConnected;
            case EdsStore::Lookup::Gone:
                return DisplayResult::Failed;
            case EdsStore::Lookup::Found:
                break;
        }
        // Evolution opens a calendar item's own editor; it has no such URI for contacts.
        const std::string_view scheme = evolutionScheme(kind);
        if (!scheme.empty() && ItemViewer::haveEvolution()) {
            return ItemViewer::showInEvolution(
                       evolutionUri(scheme, ref.container, ref.uid(), ref.recurrenceId()))
                       ? DisplayResult::Shown
                       : DisplayResult::Failed;
        }
        const std::string_view extension = kind == FolderKind::Contacts ? ".vcf" : ".ics";
        return viewerOf(m_viewer, m_config.viewerFolder).showCopy(extension, text)
                   ? DisplayResult::Shown
                   : DisplayResult::Failed;
    }

    DesktopStoreConfig m_config;
    KeepGoing m_keepGoing;
    std::string m_problem;  // why the last openFolder answered nothing
    EdsStore m_eds;
    std::unique_ptr<ItemViewer> m_viewer;
};

}  // namespace

DesktopStoreConfig desktopStoreConfig(const fs::path& dataFolder, PimLog log) {
    DesktopStoreConfig config;
    const char* home = std::getenv("HOME");
    config.home = home && *home ? fs::path(home) : fs::path(g_get_home_dir());
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    config.dataHome = dataHome && *dataHome && fs::path(dataHome).is_absolute()
                          ? fs::path(dataHome)
                          : config.home / ".local" / "share";
    config.viewerFolder = dataFolder / "opened";
    config.log = std::move(log);
    return config;
}

std::unique_ptr<ItemStore> makeDesktopItemStore(DesktopStoreConfig config) {
    return std::make_unique<DesktopItemStore>(std::move(config));
}

std::optional<fs::path> defaultInbox(const fs::path& home, const fs::path& dataHome) {
    const fs::path evolution = dataHome / "evolution" / "mail" / "local";
    if (isFolder(evolution / "cur"))
        return evolution;
    for (const fs::path& root :
         {home / ".thunderbird", home / ".var" / "app" / "org.mozilla.Thunderbird" / ".thunderbird",
          home / "snap" / "thunderbird" / "common" / ".thunderbird"}) {
        const auto profile = thunderbirdProfile(root);
        if (!profile)
            continue;
        const fs::path local = *profile / "Mail" / "Local Folders" / "Inbox";
        if (isFile(local))
            return local;
        std::vector<fs::path> servers;
        std::error_code ec;
        for (fs::directory_iterator it(*profile / "ImapMail", ec), end; !ec && it != end;
             it.increment(ec)) {
            if (isFile(it->path() / "INBOX"))
                servers.push_back(it->path() / "INBOX");
        }
        if (!servers.empty())
            return *std::min_element(servers.begin(), servers.end());
    }
    return std::nullopt;
}

std::optional<fs::path> placePath(const std::string& place, const fs::path& home) {
    const auto begin = place.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::nullopt;
    const std::string text = place.substr(begin, place.find_last_not_of(" \t") - begin + 1);
    if (text == "自動")
        return std::nullopt;
    if (text == "~")
        return home;
    if (text.starts_with("~/"))
        return home / text.substr(2);
    return fs::path(text);
}

}  // namespace ferretta::platform::pim
