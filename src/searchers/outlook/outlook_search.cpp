#include "searchers/outlook/outlook_search.h"

#include <array>
#include <charconv>
#include <chrono>
#include <functional>
#include <utility>

#include "app/file_types.h"
#include "pipeline/unit_pipeline.h"
#include "search/hit.h"

namespace ferretta::searchers::outlook {

using app::FileType;
namespace pim = platform::pim;

namespace {

constexpr std::uint32_t kSubjectColor = app::rgb(0, 0, 255);
constexpr std::int64_t kEventsEvery = 10;

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

// The item's units: its reference first, then each field that is not empty. False: stop.
bool handOutItem(std::int32_t index, pim::Item& item, pipeline::UnitSink& sink) {
    const std::string where = item.ref.container + '\0' + item.ref.check;
    if (!sink.unit({index, Reference, static_cast<std::int32_t>(item.ref.origin), item.ref.id,
                    where, true}))
        return false;
    for (std::int32_t field = Subject; field < FieldEnd; ++field) {
        const std::string* text = fieldOf(item, field);
        if (!text->empty() && !sink.unit({index, field, 0, *text, {}, true}))
            return false;
    }
    return true;
}

// Puts a unit of an item back into the item.
void takeUnit(const documents::UnitView& unit, pim::Item& item) {
    if (unit.row != Reference) {
        if (std::string* text = fieldOf(item, unit.row))
            *text = unit.text;
        return;
    }
    if (unit.column > 0 && unit.column <= static_cast<std::int32_t>(pim::Origin::VCard))
        item.ref.origin = static_cast<pim::Origin>(unit.column);
    item.ref.id = unit.text;
    const std::size_t nul = unit.shown.find('\0');
    item.ref.container = unit.shown.substr(0, nul);
    if (nul != std::string_view::npos)
        item.ref.check = unit.shown.substr(nul + 1);
}

// A folder is kept in runs of this many items, each a document of the cache: the index skips
// the runs that cannot hold the words, and a search holds one run's text at a time.
constexpr std::int64_t kRunItems = 500;
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

bool isItemType(FileType type) {
    return type >= FileType::OutlookTask && type <= FileType::OutlookNote;
}

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

// A run of a folder's items as an extractor: each item (its index the place) as its units; an
// item that cannot be read gives none. Kept only when the folder's files did not change while
// the run was read.
class OutlookSearcher::FolderRun final : public pipeline::Extractor {
  public:
    FolderRun(pim::ItemFolder& folder, std::int64_t first, std::int64_t last,
              std::function<bool()> unchanged, const search::SearchContext& context)
        : m_folder(folder),
          m_first(first),
          m_last(last),
          m_unchanged(std::move(unchanged)),
          m_context(context) {}

    pipeline::Extraction extract(const std::string&, pipeline::UnitSink& sink) override {
        pipeline::Extraction read;
        read.outcome = pipeline::Outcome::Stopped;
        for (std::int64_t i = m_first; i <= m_last; ++i) {
            const auto index = static_cast<std::int32_t>(i);
            if (!sink.place(index))
                return read;
            std::optional<pim::Item> item = m_folder.item(static_cast<std::size_t>(i));
            if (!item && m_context.flags.isAbort)
                return read;
            if (const auto skipped = m_folder.skipped(); !item && skipped)
                m_context.host.noteUnreadable(skipped->where, skipped->why);
            if (item && !handOutItem(index, *item, sink))
                return read;
        }
        read.outcome = pipeline::Outcome::Complete;
        read.keep = m_unchanged();
        return read;
    }

  private:
    pim::ItemFolder& m_folder;
    std::int64_t m_first;
    std::int64_t m_last;
    std::function<bool()> m_unchanged;
    const search::SearchContext& m_context;
};

// The items of one type, run by run, whether read or kept: the progress for every index (events
// every 10 items, where a stop ends the type), then each item remembered for a double-click and
// matched.
class OutlookSearcher::ItemMatcher final : public pipeline::UnitMatcher {
  public:
    ItemMatcher(OutlookSearcher& searcher, FileType type, std::int64_t count)
        : m_searcher(searcher), m_type(type), m_count(count) {}

    // The next run: items first..last.
    void nextRun(std::int64_t last) { m_last = last; }
    bool stopped() const { return m_stopped; }
    std::int64_t reached() const { return m_reached; }

    void begin(const std::string&) override {}
    bool place(std::int32_t index) override {
        endItem();
        return progressThrough(index);
    }
    bool unit(const documents::UnitView& unit) override {
        if (!m_item)
            m_item.emplace();
        takeUnit(unit, *m_item);
        return true;
    }
    bool finish(const pipeline::Extraction&) override {
        endItem();
        return progressThrough(m_last);
    }

  private:
    bool progressThrough(std::int64_t index) {
        for (; m_next <= index && !m_stopped; ++m_next) {
            m_stopped = m_searcher.progress(m_type, m_next, m_count);
            m_reached = m_next;
        }
        return !m_stopped;
    }
    void endItem() {
        if (!m_item)
            return;
        m_searcher.m_session.remember(m_type, static_cast<std::size_t>(m_reached), m_item->ref);
        m_searcher.searchItem(m_type, m_reached, *m_item);
        m_item.reset();
    }

    OutlookSearcher& m_searcher;
    const FileType m_type;
    const std::int64_t m_count;
    std::int64_t m_last = 0;
    std::int64_t m_next = 1;     // the first index without progress yet
    std::int64_t m_reached = 0;  // the last index shown
    bool m_stopped = false;
    std::optional<pim::Item> m_item;  // the item at m_reached, while its units come
};

// The pipeline's note of a document from the cache, once per folder: the folder counts as one.
class OutlookSearcher::NoteOnce final : public app::Host {
  public:
    explicit NoteOnce(app::Host& real) : m_real(real) {}
    RowHandle addResult(const app::Hit& hit) override { return m_real.addResult(hit); }
    void noteFromCache() override {
        if (!std::exchange(m_noted, true))
            m_real.noteFromCache();
    }

  private:
    app::Host& m_real;
    bool m_noted = false;
};

OutlookSearcher::OutlookSearcher(OutlookSession& session, const search::SearchContext& context,
                                 cache::SearchCache* cache)
    : m_session(session), m_context(context), m_cache(cache) {}

bool OutlookSearcher::progress(FileType type, std::int64_t index, std::int64_t count) {
    const std::string& displayName = m_context.settings.fileTypes.fileTypeName[app::slotOf(type)];
    m_context.host.showProgress(displayName + "の検索中...(" + std::to_string(index) + "/" +
                                std::to_string(count) + ")");
    if (index % kEventsEvery != 0)
        return false;
    m_context.host.doEvents();
    return m_context.flags.isAbort;
}

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
    // A run is kept only when nothing changed while it was read.
    const auto unchanged = [&] {
        return folderIdentity(sources.files, openedAt - kSettledNs) == identity;
    };
    ItemMatcher matcher(*this, type, count);
    NoteOnce notes(m_context.host);
    // A stop while an item is read (inside a large message) ends the type there too.
    const auto stopped = [&] { return matcher.stopped() || m_context.flags.isAbort; };
    for (std::int64_t first = 1; first <= count && !stopped(); first += kRunItems) {
        const std::int64_t last = std::min(count, first + kRunItems - 1);
        FolderRun run(*folder, first, last, unchanged, m_context);
        pipeline::Extractor* const readers[] = {&run};
        matcher.nextRun(last);
        pipeline::searchPart(identity, {}, {m_cache, key + std::to_string(first)}, readers, matcher,
                             notes);
    }
    return stopped() ? matcher.reached() : count;
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
    for (const ItemField& field : itemFields(type, item)) {
        if (m_context.matcher.smartFind(*field.text) > 0)
            report(*field.text, field.tag, item.categories);
    }
}

std::vector<ItemField> itemFields(FileType type, const pim::Item& item) {
    switch (type) {
        case FileType::OutlookMail:
            return {{")-宛先(To)", &item.to},
                    {")-送信者(SenderName)", &item.senderName},
                    {")-同報(Cc)", &item.cc}};
        case FileType::OutlookCalendar:
            return {{")-場所", &item.location}};
        case FileType::OutlookContact:
            return {{")-会社名", &item.companies},
                    {")-役職", &item.jobTitle},
                    {")-メールアドレス1", &item.emailAddress[0]},
                    {")-メールアドレス2", &item.emailAddress[1]},
                    {")-メールアドレス3", &item.emailAddress[2]},
                    {")-自宅住所", &item.homeAddress},
                    {kBusinessAddressTag, &item.businessAddress},
                    {")-WebPage", &item.webPage}};
        default:
            return {};
    }
}

std::function<std::optional<pim::Item>()> OutlookSession::itemReader(FileType type,
                                                                     std::string_view label) const {
    const auto index = labelIndex(label);
    const pim::ItemRef* ref = index ? remembered(type, *index) : nullptr;
    if (!ref)
        return {};
    return
        [store = m_store, kind = kindOf(type), ref = *ref] { return store->readItem(kind, ref); };
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
