#include "searchers/outlook/outlook_search.h"

#include <charconv>

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

OutlookSearcher::OutlookSearcher(OutlookSession& session, const search::SearchContext& context)
    : m_session(session), m_context(context) {}

std::int64_t OutlookSearcher::findOutlookObjects(FileType type) {
    if (!isItemType(type))
        return 0;
    auto folder = m_session.store().openFolder(kindOf(type),
                                               m_context.settings.outlookPlaces[itemSlot(type)]);
    if (!folder)
        return 0;
    m_session.forget(type);
    const std::string& displayName = m_context.settings.fileTypes.fileTypeName[app::slotOf(type)];
    const auto count = static_cast<std::int64_t>(folder->count());
    std::int64_t i = 1;
    for (; i <= count; ++i) {
        m_context.host.showProgress(displayName + "の検索中...(" + std::to_string(i) + "/" +
                                    std::to_string(folder->count()) + ")");
        if (i % kEventsEvery == 0) {
            m_context.host.doEvents();
            if (m_context.flags.isAbort)
                return i;
        }
        auto item = folder->item(static_cast<std::size_t>(i));
        if (!item)
            continue;
        m_session.remember(type, static_cast<std::size_t>(i), item->ref);
        searchItem(type, i, *item);
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
