#include "searchers/outlook/outlook_search.h"

#include <array>
#include <charconv>
#include <chrono>
#include <span>

#include "app/file_types.h"
#include "search/hit.h"

namespace ferretta::searchers::outlook {

using app::FileType;
namespace pim = platform::pim;

namespace {

constexpr std::uint32_t kSubjectColor = app::rgb(0, 0, 255);
constexpr std::int64_t kEventsEvery = 10;

bool isItemType(FileType type) {
    return type >= FileType::OutlookTask && type <= FileType::OutlookNote;
}

// The item types' place in the settings' list and the store's kinds: tasks 0 .. notes 4.
std::size_t itemSlot(FileType type) {
    return app::slotOf(type) - app::slotOf(FileType::OutlookTask);
}

pim::FolderKind kindOf(FileType type) {
    return static_cast<pim::FolderKind>(itemSlot(type));
}

// A mail folder kept in the cache: for each item read, a unit for its reference (row 0: the
// id, then the container and the check after a NUL, the origin as the column) and one for
// each field that is not empty (the row says which), all at the item's index.
enum Field : std::int32_t {
    Reference,
    Subject,
    Body,
    Categories,
    To,
    SenderName,
    Cc,
    Location,
    Companies,
    JobTitle,
    Email1,
    Email2,
    Email3,
    HomeAddress,
    BusinessAddress,
    WebPage,
    FieldEnd
};

std::string* fieldOf(pim::Item& item, std::int32_t field) {
    const std::array<std::string*, FieldEnd> fields = {nullptr,
                                                       &item.subject,
                                                       &item.body,
                                                       &item.categories,
                                                       &item.to,
                                                       &item.senderName,
                                                       &item.cc,
                                                       &item.location,
                                                       &item.companies,
                                                       &item.jobTitle,
                                                       &item.emailAddress[0],
                                                       &item.emailAddress[1],
                                                       &item.emailAddress[2],
                                                       &item.homeAddress,
                                                       &item.businessAddress,
                                                       &item.webPage};
    return field > Reference && field < FieldEnd ? fields[static_cast<std::size_t>(field)]
                                                 : nullptr;
}

void keepItem(cache::Extract& kept, std::int32_t index, pim::Item item) {
    kept.units.push_back({index, Reference, static_cast<std::int32_t>(item.ref.origin),
                          std::move(item.ref.id), item.ref.container + '\0' + item.ref.check});
    for (std::int32_t field = Subject; field < FieldEnd; ++field) {
        if (std::string* text = fieldOf(item, field); !text->empty())
            kept.units.push_back({index, field, 0, std::move(*text), {}});
    }
}

// The item kept in units (its reference first), their texts moved out; nullopt for units that
// were not written so.
std::optional<pim::Item> keptItem(std::span<cache::Unit> units) {
    if (units.empty() || units.front().row != Reference)
        return std::nullopt;
    cache::Unit& reference = units.front();
    pim::Item item;
    if (reference.column > 0 && reference.column <= static_cast<std::int32_t>(pim::Origin::VCard))
        item.ref.origin = static_cast<pim::Origin>(reference.column);
    item.ref.id = std::move(reference.text);
    const std::size_t nul = reference.shown.find('\0');
    item.ref.container = reference.shown.substr(0, nul);
    if (nul != std::string::npos)
        item.ref.check = reference.shown.substr(nul + 1);
    for (cache::Unit& unit : units.subspan(1)) {
        if (std::string* text = fieldOf(item, unit.row))
            *text = std::move(unit.text);
    }
    return item;
}

// A folder is kept in runs of this many items, each a document of the cache: the index skips
// the runs that cannot hold the words, and a search holds one run's text at a time.
constexpr std::int64_t kRunItems = 500;
// A run with more text than this (huge mails) is read on every search.
constexpr std::size_t kMostKeptBytes = std::size_t{64} << 20;
// Files changed this shortly before the folder was opened may have changed while it was read
// (a mailbox's messages are found when it is opened, read later): such a folder is not kept.
constexpr std::int64_t kSettledNs = 2'000'000'000;

std::int64_t wallClockNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

// One identity for the files a folder's items come from; nullopt when one of them is gone or
// changed after `settledBefore`.
std::optional<cache::Identity> folderIdentity(const std::vector<std::string>& files,
                                              std::int64_t settledBefore) {
    if (files.empty())
        return std::nullopt;
    cache::Identity folder;
    std::uint64_t mix = 14695981039346656037u;  // FNV-1a over the parts' stamps
    for (const std::string& file : files) {
        const auto identity = cache::identityOf(file);
        if (!identity || identity->mtimeNs >= settledBefore)
            return std::nullopt;
        if (files.size() == 1)
            return identity;
        if (folder.path.empty())
            folder.inode = identity->inode;
        folder.path += (folder.path.empty() ? "" : "\n") + file;
        folder.size += identity->size;
        for (const std::uint64_t part :
             {static_cast<std::uint64_t>(identity->size),
              static_cast<std::uint64_t>(identity->mtimeNs),
              static_cast<std::uint64_t>(identity->ctimeNs), identity->inode}) {
            for (int shift = 0; shift < 64; shift += 8)
                mix = (mix ^ ((part >> shift) & 0xFF)) * 1099511628211u;
        }
    }
    folder.mtimeNs = static_cast<std::int64_t>(mix);
    return folder;
}

}  // namespace

OutlookSession::OutlookSession(std::unique_ptr<pim::ItemStore> store) : m_store(std::move(store)) {}

void OutlookSession::initOutlookValues() {
    m_store->disconnect();
    for (auto& items : m_items)
        items.clear();
}

const pim::ItemRef* OutlookSession::remembered(FileType type, std::int64_t index) const {
    if (!isItemType(type) || index < 1)
        return nullptr;
    const auto& items = m_items[itemSlot(type)];
    if (static_cast<std::uint64_t>(index) > items.size())
        return nullptr;
    const pim::ItemRef& ref = items[static_cast<std::size_t>(index - 1)];
    return ref.valid() ? &ref : nullptr;
}

void OutlookSession::forget(FileType type) {
    if (isItemType(type))
        m_items[itemSlot(type)].clear();
}

void OutlookSession::remember(FileType type, std::size_t index, pim::ItemRef ref) {
    if (!isItemType(type) || index == 0)
        return;
    auto& items = m_items[itemSlot(type)];
    if (items.size() < index)
        items.resize(index);
    items[index - 1] = std::move(ref);
}

OutlookSearcher::OutlookSearcher(OutlookSession& session, const search::SearchContext& context,
                                 cache::SearchCache* cache)
    : m_session(session), m_context(context), m_cache(cache) {}

bool OutlookSearcher::progress(const std::string& displayName, std::int64_t index,
                               std::int64_t count) {
    m_context.host.showProgress(displayName + "の検索中...(" + std::to_string(index) + "/" +
                                std::to_string(count) + ")");
    if (index % kEventsEvery != 0)
        return false;
    m_context.host.doEvents();
    return m_context.flags.isAbort;
}

// One run of a folder's items as the cache has it: answered from what was kept (Found), known
// not to hold the words (CannotMatch), or read now and kept when it is complete (Miss).
struct OutlookSearcher::Run {
    cache::SearchCache::Entry entry;
    std::size_t next = 0;  // Found: the first unit not yet used
    cache::Extract kept;   // Miss: what was read
    std::size_t keptBytes = 0;
    bool keeping = false;

    std::optional<pim::Item> item(std::int64_t index) {
        std::span<cache::Unit> units(entry.extract.units);
        while (next < units.size() && units[next].place < index)
            ++next;
        std::size_t end = next;
        while (end < units.size() && units[end].place == index)
            ++end;
        auto found = keptItem(units.subspan(next, end - next));
        next = end;
        return found;
    }

    void keep(std::int64_t index, pim::Item item) {
        const std::size_t first = kept.units.size();
        keepItem(kept, static_cast<std::int32_t>(index), std::move(item));
        for (std::size_t u = first; u < kept.units.size(); ++u)
            keptBytes += kept.units[u].text.size() + kept.units[u].shown.size();
        if (keptBytes > kMostKeptBytes) {
            keeping = false;
            kept = {};
        }
    }
};

std::int64_t OutlookSearcher::findOutlookObjects(FileType type) {
    if (!isItemType(type))
        return 0;
    const std::int64_t openedAt = wallClockNs();
    const std::string& displayName = m_context.settings.fileTypes.fileTypeName[app::slotOf(type)];
    pim::ItemStore& store = m_session.store();
    // Opening a mailbox and reading a message can take long (a mailbox of gigabytes, one
    // message of hundreds of megabytes): the store asks meanwhile whether to go on.
    store.setKeepGoing([this] {
        m_context.host.doEvents();
        return !m_context.flags.isAbort;
    });
    struct ForgetKeepGoing {
        pim::ItemStore& store;
        ~ForgetKeepGoing() { store.setKeepGoing({}); }
    } forget{store};
    auto folder = store.openFolder(kindOf(type), m_context.settings.outlookPlaces[itemSlot(type)]);
    if (!folder) {
        const std::string problem = store.openProblem();
        if (!problem.empty() && !m_context.flags.isAbort) {
            m_context.host.showMessage(
                "Outlookに接続できませんでした\r" + displayName + ": " + problem,
                app::MessageStyle::Critical);
        }
        return 0;
    }
    m_session.forget(type);
    const auto count = static_cast<std::int64_t>(folder->count());

    const pim::ItemFolder::Sources sources =
        m_cache ? folder->sources() : pim::ItemFolder::Sources{};
    const std::optional<cache::Identity> identity =
        folderIdentity(sources.files, openedAt - kSettledNs);
    const std::string key = "mail-" + std::to_string(itemSlot(type)) + " " + cache::programStamp() +
                            " " + sources.reader + " from ";
    Run run;
    bool noted = false;
    for (std::int64_t i = 1; i <= count; ++i) {
        if (progress(displayName, i, count))
            return i;
        if (identity && (i - 1) % kRunItems == 0) {
            run = Run();
            run.entry = m_cache->lookup(*identity, key + std::to_string(i));
            run.keeping = run.entry.state == cache::Lookup::State::Miss;
            if (!run.keeping && !noted) {
                m_context.host.noteFromCache();
                noted = true;
            }
        }
        std::optional<pim::Item> item;
        if (!identity || run.entry.state == cache::Lookup::State::Miss) {
            item = folder->item(static_cast<std::size_t>(i));
            if (!item && m_context.flags.isAbort)
                return i;
            if (const auto skipped = folder->skipped(); !item && skipped)
                m_context.host.noteUnreadable(skipped->where, skipped->why);
        } else if (run.entry.state == cache::Lookup::State::Found)
            item = run.item(i);
        if (item) {
            m_session.remember(type, static_cast<std::size_t>(i), item->ref);
            searchItem(type, i, *item);
            if (run.keeping)
                run.keep(i, std::move(*item));
        }
        // A run is kept once complete, and only when nothing changed while it was read.
        if (run.keeping && (i % kRunItems == 0 || i == count)) {
            run.keeping = false;
            if (folderIdentity(sources.files, openedAt - kSettledNs) == identity) {
                const std::int64_t first = (i - 1) / kRunItems * kRunItems + 1;
                m_cache->store(run.entry, key + std::to_string(first), std::move(run.kept));
            }
        }
    }
    return count;
}

void OutlookSearcher::searchItem(FileType type, std::int64_t index, const pim::Item& item) {
    const std::string& displayName = m_context.settings.fileTypes.fileTypeName[app::slotOf(type)];
    const auto report = [&](std::string_view content, std::string_view tag,
                            std::string_view position) {
        return search::addResult(m_context.host, type, item.subject, content,
                                 itemLabel(displayName, index, tag), position);
    };
    if (m_context.matcher.smartFind(item.subject) > 0) {
        const auto row = report("(件名にヒット)", ")-表題", item.categories);
        m_context.host.setContentColor(row, kSubjectColor);
    }
    if (m_context.settings.fileNameOnly)
        return;
    // A line can only hold the words when the whole body does, so one look at the body spares
    // most items the per-line matching. Not for a pattern: an anchor or a look-behind can match
    // in a line and not in the whole.
    if (m_context.matcher.regular() || m_context.matcher.smartFind(item.body) > 0) {
        const auto lines = bodyLines(item.body);
        for (std::size_t j = 0; j < lines.size(); ++j) {
            if (const std::int32_t r = m_context.matcher.smartFind(lines[j]); r > 0)
                report(lines[j], ")-本文", std::to_string(j + 1) + "," + std::to_string(r));
        }
    }
    const auto field = [&](const std::string& text, std::string_view tag) {
        if (m_context.matcher.smartFind(text) > 0)
            report(text, tag, item.categories);
    };
    switch (type) {
        case FileType::OutlookMail:
            field(item.to, ")-宛先(To)");
            field(item.senderName, ")-送信者(SenderName)");
            field(item.cc, ")-同報(Cc)");
            break;
        case FileType::OutlookCalendar:
            field(item.location, ")-場所");
            break;
        case FileType::OutlookContact:
            field(item.companies, ")-会社名");
            field(item.jobTitle, ")-役職");
            field(item.emailAddress[0], ")-メールアドレス1");
            field(item.emailAddress[1], ")-メールアドレス2");
            field(item.emailAddress[2], ")-メールアドレス3");
            field(item.homeAddress, ")-自宅住所");
            field(item.businessAddress, kBusinessAddressTag);
            field(item.webPage, ")-WebPage");
            break;
        default:
            break;
    }
}

void openOutlookItem(OutlookSession& session, app::Host& host, FileType type,
                     std::string_view label) {
    if (!isItemType(type))
        return;
    const auto index = labelIndex(label);
    const std::string notOpened =
        "オブジェクトを開けませんでした No=" + (index ? std::to_string(*index) : std::string());
    const pim::ItemRef* ref = index ? session.remembered(type, *index) : nullptr;
    if (!ref) {
        host.showMessage(notOpened, app::MessageStyle::Critical);
        return;
    }
    switch (session.store().display(kindOf(type), *ref)) {
        case pim::DisplayResult::Shown:
            break;
        case pim::DisplayResult::NotConnected:
            host.showMessage("Outlookに接続できませんでした", app::MessageStyle::Critical);
            break;
        case pim::DisplayResult::Failed:
            host.showMessage(notOpened, app::MessageStyle::Critical);
            break;
    }
}

std::string itemLabel(std::string_view displayName, std::int64_t index, std::string_view tag) {
    return std::string(displayName) + "(" + std::to_string(index) + std::string(tag);
}

std::optional<std::int64_t> labelIndex(std::string_view label) {
    const std::size_t open = label.find('(');
    if (open == std::string_view::npos)
        return std::nullopt;
    std::string_view inside = label.substr(open + 1);
    inside = inside.substr(0, inside.find(')'));
    while (!inside.empty() && inside.front() == ' ')
        inside.remove_prefix(1);
    while (!inside.empty() && inside.back() == ' ')
        inside.remove_suffix(1);
    std::int64_t index = 0;
    const auto [end, error] = std::from_chars(inside.data(), inside.data() + inside.size(), index);
    if (error != std::errc() || end != inside.data() + inside.size() || inside.empty())
        return std::nullopt;
    return index;
}

std::vector<std::string_view> bodyLines(std::string_view body) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = body.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(body.substr(start));
            return lines;
        }
        lines.push_back(body.substr(start, end - start));
        start = end + 1;
        if (body[end] == '\r' && start < body.size() && body[start] == '\n')
            ++start;
    }
}

}  // namespace ferretta::searchers::outlook
