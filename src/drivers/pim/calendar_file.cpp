#include "drivers/pim/calendar_file.h"

#include <libical/ical.h>

#include <algorithm>
#include <mutex>

#include "drivers/pim/mail_charsets.h"
#include "drivers/pim/text_file.h"
#include "platform/unicode.h"

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPlace = "outlook::iCalendar";

struct Component {
    std::string name;  // VEVENT, VTODO, VJOURNAL
    std::string text;  // from its BEGIN line to its END line
    std::size_t calendar = 0;
};

struct Calendar {
    std::vector<std::string> timezones;
};

struct Split {
    std::vector<Calendar> calendars;
    std::vector<Component> components;
    std::vector<std::string> problems;
};

bool isItemComponent(std::string_view name) {
    return name == "VEVENT" || name == "VTODO" || name == "VJOURNAL";
}

// Finds the components by their BEGIN and END lines, so that one broken component cannot take
// the others with it (libical gives up on a whole text whose component is unterminated).
Split splitCalendarText(std::string_view text) {
    struct Open {
        std::string name;
        std::size_t begin;
    };
    Split split;
    std::vector<Open> stack;
    split.calendars.emplace_back();  // components outside any VCALENDAR
    std::size_t calendar = 0;
    const auto unterminated = [&](const Open& open) {
        if (isItemComponent(open.name))
            split.problems.push_back("終わりのない " + open.name + " を飛ばしました");
    };
    forEachLine(text, [&](std::string_view raw, std::size_t lineStart, std::size_t next) {
        const std::string line = asciiUpper(raw);
        if (line.starts_with("BEGIN:")) {
            std::string name = line.substr(6);
            if (isItemComponent(name)) {
                // Item components never nest: an open one was never ended.
                while (std::any_of(stack.begin(), stack.end(),
                                   [](const Open& o) { return isItemComponent(o.name); })) {
                    unterminated(stack.back());
                    stack.pop_back();
                }
            }
            if (name == "VCALENDAR") {
                split.calendars.emplace_back();
                calendar = split.calendars.size() - 1;
            }
            stack.push_back({std::move(name), lineStart});
        } else if (line.starts_with("END:")) {
            const std::string name = line.substr(4);
            const auto open = std::find_if(stack.rbegin(), stack.rend(),
                                           [&](const Open& o) { return o.name == name; });
            if (open != stack.rend()) {
                while (stack.back().name != name) {
                    unterminated(stack.back());
                    stack.pop_back();
                }
                const std::string blockText(
                    text.substr(stack.back().begin, next - stack.back().begin));
                if (isItemComponent(name))
                    split.components.push_back({name, blockText, calendar});
                else if (name == "VTIMEZONE")
                    split.calendars[calendar].timezones.push_back(blockText);
                else if (name == "VCALENDAR")
                    calendar = 0;
                stack.pop_back();
            }
        }
    });
    for (const auto& open : stack)
        unterminated(open);
    return split;
}

void initialiseLibical() {
    static std::once_flag once;
    std::call_once(once, [] { icalerror_set_errors_are_fatal(0); });
}

struct ParsedComponent {
    icalcomponent* root = nullptr;
    explicit ParsedComponent(const std::string& text)
        : root(icalparser_parse_string(text.c_str())) {}
    ~ParsedComponent() {
        if (root)
            icalcomponent_free(root);
    }
    ParsedComponent(const ParsedComponent&) = delete;
    ParsedComponent& operator=(const ParsedComponent&) = delete;
};

std::string joinedProperties(icalcomponent* component, icalproperty_kind kind,
                             const char* (*value)(const icalproperty*),
                             std::string_view separator) {
    std::string out;
    for (icalproperty* p = icalcomponent_get_first_property(component, kind); p;
         p = icalcomponent_get_next_property(component, kind)) {
        const char* text = value(p);
        if (!text || !*text)
            continue;
        if (!out.empty())
            out += separator;
        out += text;
    }
    return out;
}

std::string timeProperty(icalcomponent* component, icalproperty_kind kind) {
    icalproperty* property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return {};
    const icaltimetype time = icalvalue_get_datetime(icalproperty_get_value(property));
    if (icaltime_is_null_time(time))
        return {};
    const char* text = icaltime_as_ical_string(time);
    return text ? text : "";
}

// The id of a component: its UID, with the RECURRENCE-ID after a line feed; "#n" (its number
// among the components of its kind) when it has no UID.
std::string idOf(icalcomponent* component, std::size_t ordinal) {
    const char* uid = icalcomponent_get_uid(component);
    std::string id = uid && *uid ? uid : "#" + std::to_string(ordinal);
    const std::string recurrence = timeProperty(component, ICAL_RECURRENCEID_PROPERTY);
    if (!recurrence.empty())
        id += "\n" + recurrence;
    return id;
}

std::string asUtf8(std::string_view text) {
    return isValidUtf8(text) ? std::string(text) : decodeUndeclared(text);
}

}  // namespace

std::string_view componentNameOf(FolderKind kind) {
    switch (kind) {
        case FolderKind::Tasks:
            return "VTODO";
        case FolderKind::Calendar:
            return "VEVENT";
        case FolderKind::Notes:
            return "VJOURNAL";
        default:
            return {};
    }
}

std::vector<CalendarEntry> readCalendarEntries(std::string_view rawText, FolderKind kind,
                                               Origin origin, const std::string& container,
                                               const PimLog& log, std::string_view source) {
    initialiseLibical();
    const std::string text = asUtf8(rawText);
    const Split split = splitCalendarText(text);
    if (log) {
        for (const auto& problem : split.problems)
            log(kPlace, std::string(source) + ": " + problem);
    }
    const std::string_view wanted = componentNameOf(kind);
    std::vector<CalendarEntry> entries;
    std::size_t ordinal = 0;
    for (const auto& block : split.components) {
        if (block.name != wanted)
            continue;
        ++ordinal;
        ParsedComponent parsed(block.text);
        icalcomponent* component = parsed.root;
        if (!component ||
            icalcomponent_isa(component) != icalcomponent_string_to_kind(block.name.c_str())) {
            if (log)
                log(kPlace, std::string(source) + ": 読めない " + block.name + " を飛ばしました");
            continue;
        }
        CalendarEntry entry;
        Item& item = entry.item;
        item.ref = {origin, container, idOf(component, ordinal), {}};
        const char* summary = icalcomponent_get_summary(component);
        item.subject = summary ? summary : "";
        item.body = joinedProperties(component, ICAL_DESCRIPTION_PROPERTY,
                                     icalproperty_get_description, "\n");
        const char* location = icalcomponent_get_location(component);
        item.location = location ? location : "";
        item.categories = joinedProperties(component, ICAL_CATEGORIES_PROPERTY,
                                           icalproperty_get_categories, ", ");
        entry.created = timeProperty(component, ICAL_CREATED_PROPERTY);
        if (entry.created.empty())
            entry.created = timeProperty(component, ICAL_DTSTAMP_PROPERTY);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::unique_ptr<ItemFolder> openCalendarPlace(const fs::path& place, FolderKind kind,
                                              const PimLog& log, std::string* why) {
    return openFilesPlace(
        place, {".ics", ".ical", ".ifb", ".icalendar"}, log, kPlace,
        [&](const std::string& text, const fs::path& file, std::vector<Item>& items) {
            for (auto& entry : readCalendarEntries(text, kind, Origin::ICalendar, file.string(),
                                                   log, file.string()))
                items.push_back(std::move(entry.item));
        },
        why);
}

std::optional<std::string> standaloneCalendar(std::string_view rawText, std::string_view id) {
    initialiseLibical();
    const std::string text = asUtf8(rawText);
    const Split split = splitCalendarText(text);
    std::vector<std::size_t> ordinals(3, 0);
    for (const auto& block : split.components) {
        const std::size_t slot = block.name == "VTODO" ? 0 : block.name == "VEVENT" ? 1 : 2;
        const std::size_t ordinal = ++ordinals[slot];
        ParsedComponent parsed(block.text);
        if (!parsed.root || idOf(parsed.root, ordinal) != id)
            continue;
        std::string out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Ferretta//Ferretta//JA\r\n";
        for (const auto& timezone : split.calendars[block.calendar].timezones)
            out += timezone;
        out += block.text;
        if (!out.ends_with('\n'))
            out += "\r\n";
        out += "END:VCALENDAR\r\n";
        return out;
    }
    return std::nullopt;
}

std::optional<std::string> calendarItemFile(const ItemRef& ref) {
    auto text = readTextFile(ref.container, nullptr, kPlace);
    if (!text)
        return std::nullopt;
    return standaloneCalendar(*text, ref.id);
}

std::optional<Item> calendarItem(FolderKind kind, const ItemRef& ref) {
    const std::optional<std::string> text = calendarItemFile(ref);
    if (!text)
        return std::nullopt;
    const PimLog quiet = [](std::string_view, std::string_view) {};
    for (CalendarEntry& entry :
         readCalendarEntries(*text, kind, ref.origin, ref.container, quiet, ref.container)) {
        if (entry.item.ref.id == ref.id)
            return std::move(entry.item);
    }
    return std::nullopt;
}

}  // namespace ferretta::platform::pim
