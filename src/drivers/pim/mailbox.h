#pragma once
// Mail on disk as the inbox folder: an mbox file (Thunderbird's Inbox, an IMAP cache), a
// Maildir (Evolution's local inbox), a folder of message files (MH, saved .eml files) or one
// message file. Messages are read one at a time, so a mailbox of any size costs the memory of
// its largest message's text.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

// Whether a line (without its line end) starts a message of an mbox: "From ", a sender, then a
// date with a time (hh:mm) and a year. Right after a blank line (or at the start of the file)
// that is enough; elsewhere the date must be complete (weekday and month names too), so that
// a body line such as "From 10:00 on, 2026 is ..." does not split a message.
bool isMboxFromLine(std::string_view line, bool afterBlankLine);

// The byte offsets of the "From " lines of an mbox, in file order, read in blocks. A file that
// does not start with a "From " line answers nothing. nullopt when keepGoing (asked at every
// block) answers false. Throws ferretta::Error (FileRead) when the file cannot be read.
std::optional<std::vector<std::int64_t>> scanMboxOffsets(int fd, const KeepGoing& keepGoing = {});

// The inbox at a path: a file is an mbox when it starts with a "From " line and one message
// otherwise; a folder with cur/ or new/ is a Maildir, any other folder a folder of message
// files. Nothing is opened in a way that could block: a FIFO, a device or a socket is refused.
// nullptr, a log line and the reason in `why` when the path is missing, cannot be read or is
// neither a regular file nor a folder; nullptr and an empty `why` when keepGoing answered
// false. The folder asks keepGoing while it waits for an item, and gives up a message it is
// reading once it answers false.
std::unique_ptr<ItemFolder> openMailbox(const std::filesystem::path& place, const PimLog& log,
                                        const KeepGoing& keepGoing = {},
                                        std::string* why = nullptr);

// The message an item names as a message file holds it (an mbox's "From " line dropped and its
// escaping undone), after checking that it is still the same message (for an mbox, found
// again by its Message-ID when the mailbox was rewritten). nullopt when it is gone.
std::optional<std::string> mailMessageBytes(const ItemRef& ref);

// The same message as the item the search read from it; nullopt when it is gone.
std::optional<Item> mailItem(const ItemRef& ref);

}  // namespace ferretta::platform::pim
