#pragma once
// The item store of the Linux desktop: each default folder read from its place in the
// settings (a file or folder) or, left automatic, from EDS (tasks, calendar, contacts, notes)
// and the mail programs' local inbox (Evolution's, else Thunderbird's default profile's).
#include <filesystem>
#include <memory>
#include <optional>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

struct DesktopStoreConfig {
    std::filesystem::path home;          // the user's home folder (Thunderbird's profiles)
    std::filesystem::path dataHome;      // $XDG_DATA_HOME (Evolution's local mail)
    std::filesystem::path viewerFolder;  // where copies handed to viewers go
    PimLog log;
};

// The configuration from the environment ($HOME, $XDG_DATA_HOME), with the copies in the data
// folder's "opened".
DesktopStoreConfig desktopStoreConfig(const std::filesystem::path& dataFolder, PimLog log);

std::unique_ptr<ItemStore> makeDesktopItemStore(DesktopStoreConfig config);

// The local inbox the automatic place reads: Evolution's local Maildir when it exists, else
// the "Inbox" of the Local Folders of Thunderbird's default profile (the installation's
// default, else the profile marked Default=1, else the first), else that profile's first IMAP
// cache INBOX; Thunderbird as installed by Debian, Flatpak or Snap. nullopt when none exists.
std::optional<std::filesystem::path> defaultInbox(const std::filesystem::path& home,
                                                  const std::filesystem::path& dataHome);

// A place as the user wrote it: "~/" expanded; empty, blank or "自動" for automatic (nullopt).
std::optional<std::filesystem::path> placePath(const std::string& place,
                                               const std::filesystem::path& home);

}  // namespace ferretta::platform::pim
