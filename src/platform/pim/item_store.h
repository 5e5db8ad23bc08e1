#pragma once
// The user's personal-information items (tasks, mail of the inbox, calendar entries, contacts,
// notes) as the mail-program searcher reads them: five default folders of items with named
// fields. The program ships one store over the Linux desktop's own data (Evolution Data Server,
// mailboxes on disk, iCalendar and vCard files; drivers/pim/desktop_store.h); the unit tests
// use an in-memory one. Texts are UTF-8.
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ferretta::platform::pim {

// The default folders, in the order of their file-type numbers (4..8).
enum class FolderKind { Tasks, Inbox, Calendar, Contacts, Notes };

// Which reader an item came from.
enum class Origin { None, Eds, Mbox, Maildir, MessageFile, ICalendar, VCard };

// What finds an item again after the search, however its folder changed meanwhile.
struct ItemRef {
    Origin origin = Origin::None;
    // The mailbox, message folder or file it was read from; for EDS the source's UID.
    std::string container;
    // mbox: the byte offset of its "From " line; Maildir: the unique part of the file name;
    // message folders: the file name; iCalendar and EDS: the UID, with the recurrence id after
    // a line feed; vCard: the UID, or the card's number in its file when it has none.
    std::string id;
    // What must still match there: the Message-ID (or a digest of the head) of a mail, a
    // digest of a card without UID; empty when the id alone identifies the item.
    std::string check;

    bool valid() const { return origin != Origin::None; }
    // A calendar item's id as its UID and recurrence id (empty for the item itself).
    std::string uid() const { return id.substr(0, id.find('\n')); }
    std::string recurrenceId() const {
        const std::size_t newline = id.find('\n');
        return newline == std::string::npos ? std::string() : id.substr(newline + 1);
    }
    bool operator==(const ItemRef&) const = default;
};

struct Item {
    ItemRef ref;
    std::string subject;     // SUMMARY; the mail's Subject; the contact's full name
    std::string body;        // DESCRIPTION; the mail's text; the contact's note
    std::string categories;  // CATEGORIES joined with ", "; the mail's Keywords
    // Mail: display forms of the decoded addresses.
    std::string to;
    std::string senderName;
    std::string cc;
    // Calendar.
    std::string location;
    // Contacts.
    std::string companies;
    std::string jobTitle;
    std::array<std::string, 3> emailAddress;
    std::string homeAddress;
    std::string businessAddress;
    std::string webPage;
};

// Called often while a folder is opened and its items are read, on the thread that calls
// openFolder and item(): lets the user interface run and answers false once the search was
// asked to stop. The store then gives up what it is reading at once.
using KeepGoing = std::function<bool()>;

// A folder as it was when opened: its items in a stable order (mail in the order of the
// mailbox or of delivery, calendar items by creation time then UID, contacts in file order or
// by UID).
class ItemFolder {
  public:
    virtual ~ItemFolder() = default;
    virtual std::size_t count() const = 0;
    // The item at a 1-based index (1..count()). nullopt for an item that cannot be read (a
    // broken or vanished message): the reason goes to the debug log and the caller goes on.
    // Throws ferretta::Error when the store itself fails.
    virtual std::optional<Item> item(std::size_t index) = 0;

    // Why the last item() answered nullopt: the file (or place in it) and the reason, for the
    // user; nullopt when it did not, when the search was stopped, or when the folder cannot say.
    struct Skipped {
        std::string where;
        std::string why;
    };
    virtual std::optional<Skipped> skipped() const { return std::nullopt; }

    // What lets a cache keep the folder's items: the files (or folders) whose identities
    // together change whenever an item does, and a stamp of the code that made items of them
    // (a rebuilt reader may read the same mail otherwise). No files: the folder cannot tell (a
    // server's items, a folder of message files that may be edited in place), so nothing of
    // it is kept.
    struct Sources {
        std::vector<std::string> files;
        std::string reader;
    };
    virtual Sources sources() const { return {}; }
};

// Failed: the item is gone, or no program could be started to show it.
enum class DisplayResult { Shown, NotConnected, Failed };

class ItemStore {
  public:
    virtual ~ItemStore() = default;
    // The folder of a kind, read from a place: the path of a file or folder, or empty for the
    // desktop's default (EDS's default source; the mail program's local inbox). nullptr when
    // there is nothing to read (no EDS, no mailbox found, the place does not exist): the kind
    // then counts as not connected.
    virtual std::unique_ptr<ItemFolder> openFolder(FolderKind kind, const std::string& place) = 0;
    // Why the last openFolder answered nullptr, for the user (a mailbox that is missing,
    // unreadable, or neither a file nor a folder); empty when there was simply nothing to
    // connect to (no EDS) or the search was stopped.
    virtual std::string openProblem() const { return {}; }
    // Set by each search before it opens a folder; kept for the folders it opens. Empty: never
    // stop.
    virtual void setKeepGoing(KeepGoing /*keepGoing*/) {}
    // Shows the item in the desktop's program for it (its editor, a mail viewer). Failed when
    // the item is no longer there or cannot be shown; NotConnected when its store cannot be
    // reached.
    virtual DisplayResult display(FolderKind kind, const ItemRef& ref) = 0;
    // Drops every connection; the next openFolder connects again.
    virtual void disconnect() = 0;
    // The item a ref names, read again from its file for the context of a hit. Safe to call on
    // any thread, also while a search reads the store: it keeps nothing between calls. nullopt
    // when the item is gone or is no longer the same (a mail with another Message-ID at its
    // place), and for the items a server keeps (EDS), which only the search's thread may ask.
    virtual std::optional<Item> readItem(FolderKind /*kind*/, const ItemRef& /*ref*/) const {
        return std::nullopt;
    }
};

}  // namespace ferretta::platform::pim
