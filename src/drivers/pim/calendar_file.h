#pragma once
// Tasks, calendar entries and notes in iCalendar (RFC 5545) text, through libical: a file, a
// folder of files, or what EDS hands out.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

// The component that holds the items of a kind: VTODO, VEVENT or VJOURNAL (empty for the
// inbox and contacts).
std::string_view componentNameOf(FolderKind kind);

struct CalendarEntry {
    Item item;
    std::string created;  // CREATED (else DTSTAMP) as iCalendar writes it; empty when absent
};

// The components of a kind in an iCalendar text, in text order. Each component is read on its
// own, so an unterminated or broken one is skipped (with a log line naming `source`) and the
// rest still read. The refs get `origin` and `container`; their id is the UID, followed by a
// line feed and the RECURRENCE-ID for a changed occurrence of a repeated item. Text that is not
// UTF-8 is read as CP932.
std::vector<CalendarEntry> readCalendarEntries(std::string_view text, FolderKind kind,
                                               Origin origin, const std::string& container,
                                               const PimLog& log, std::string_view source);

// The items of a kind in an .ics file, or in the .ics files of a folder (by name). nullptr
// (a log line, and the reason in `why`) when the path does not exist.
std::unique_ptr<ItemFolder> openCalendarPlace(const std::filesystem::path& place, FolderKind kind,
                                              const PimLog& log, std::string* why = nullptr);

// The component an id names in an iCalendar text, as a calendar of its own (with the time
// zones of its calendar) for a viewer; nullopt when it is not there.
std::optional<std::string> standaloneCalendar(std::string_view text, std::string_view id);

// The same for an item read by openCalendarPlace: the file is read again; nullopt when the
// item is gone.
std::optional<std::string> calendarItemFile(const ItemRef& ref);

// The item itself, read again as the search read it; nullopt when it is gone.
std::optional<Item> calendarItem(FolderKind kind, const ItemRef& ref);

}  // namespace ferretta::platform::pim
