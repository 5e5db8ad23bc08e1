#include "drivers/pim/vcard_file.h"

#include <libebook-contacts/libebook-contacts.h>

#include <cstdio>
#include <mutex>

#include "drivers/pim/mail_charsets.h"
#include "drivers/pim/text_file.h"
#include "platform/unicode.h"

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPlace = "outlook::vCard";

std::vector<std::string_view> physicalLines(std::string_view text) {
    std::vector<std::string_view> lines;
    forEachLine(text,
                [&](std::string_view line, std::size_t, std::size_t) { lines.push_back(line); });
    return lines;
}

// The parameters of a property line: the part before its first ':' outside quotes.
std::size_t valueColon(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i;
    }
    return std::string_view::npos;
}

struct Parameters {
    std::string name;
    std::vector<std::string> kept;  // parameters other than CHARSET and quoted-printable
    std::string charset;
    bool quotedPrintable = false;
    bool binary = false;  // BASE64 / b: left as it is
};

Parameters parseParameters(std::string_view head) {
    Parameters parameters;
    std::size_t start = 0;
    bool first = true;
    while (start <= head.size()) {
        std::size_t end = head.find(';', start);
        if (end == std::string_view::npos)
            end = head.size();
        const std::string_view part = head.substr(start, end - start);
        const std::string key = asciiUpper(part.substr(0, part.find('=')));
        const std::string value = part.find('=') == std::string_view::npos
                                      ? ""
                                      : asciiUpper(part.substr(part.find('=') + 1));
        if (first) {
            parameters.name = std::string(part);
            first = false;
        } else if (key == "CHARSET") {
            parameters.charset = std::string(part.substr(part.find('=') + 1));
        } else if (key == "QUOTED-PRINTABLE" ||
                   (key == "ENCODING" && value == "QUOTED-PRINTABLE")) {
            parameters.quotedPrintable = true;
        } else {
            if ((key == "ENCODING" && (value == "BASE64" || value == "B")) || key == "BASE64")
                parameters.binary = true;
            parameters.kept.emplace_back(part);
        }
        start = end + 1;
    }
    return parameters;
}

bool isQuotedPrintableLine(std::string_view line) {
    const std::size_t colon = valueColon(line);
    return colon != std::string_view::npos &&
           parseParameters(line.substr(0, colon)).quotedPrintable;
}

// A decoded value as one line: its line breaks become the escape "\n".
std::string oneLine(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
            out += "\\n";
        } else {
            out += value[i];
        }
    }
    return out;
}

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object)
            g_object_unref(object);
    }
};

std::string stringField(EContact* contact, EContactField field) {
    const auto* value = static_cast<const char*>(e_contact_get_const(contact, field));
    return value ? value : "";
}

std::string addressText(EContact* contact, EContactField label, EContactField structured) {
    std::string text = stringField(contact, label);
    if (!text.empty())
        return text;
    auto* address = static_cast<EContactAddress*>(e_contact_get(contact, structured));
    if (!address)
        return {};
    for (const char* part : {address->code, address->region, address->locality, address->street,
                             address->ext, address->po, address->country}) {
        if (!part || !*part)
            continue;
        if (!text.empty())
            text += ' ';
        text += part;
    }
    e_contact_address_free(address);
    return text;
}

void quietCardWarnings() {
    // EVCard warns on stderr about every escape it does not know (a backslash in a Windows
    // path, a yen sign): harmless for reading, and not the user's concern.
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_handler(
            "libebook-contacts", G_LOG_LEVEL_WARNING,
            [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    });
}

// The normalised cards of a text with their raw texts.
struct Card {
    std::string raw;
    std::string normalised;
};

std::vector<Card> cardsOf(std::string_view text, std::vector<std::string>* problems) {
    std::vector<Card> cards;
    for (auto& raw : splitVCards(text, problems)) {
        std::string normalised = normaliseVCard(raw);
        cards.push_back({std::move(raw), std::move(normalised)});
    }
    return cards;
}

}  // namespace

std::vector<std::string> splitVCards(std::string_view text, std::vector<std::string>* problems) {
    std::vector<std::string> cards;
    int depth = 0;
    std::size_t cardStart = 0;
    forEachLine(text, [&](std::string_view raw, std::size_t lineStart, std::size_t next) {
        const std::string line = asciiUpper(raw);
        const auto trimmedEquals = [&](std::string_view wanted) {
            std::string_view view = line;
            while (!view.empty() && (view.back() == ' ' || view.back() == '\t'))
                view.remove_suffix(1);
            return view == wanted;
        };
        if (trimmedEquals("BEGIN:VCARD")) {
            if (depth == 0)
                cardStart = lineStart;
            ++depth;
        } else if (trimmedEquals("END:VCARD") && depth > 0) {
            if (--depth == 0)
                cards.emplace_back(text.substr(cardStart, next - cardStart));
        }
    });
    if (depth > 0 && problems)
        problems->push_back("終わりのない VCARD を飛ばしました");
    return cards;
}

std::string normaliseVCard(std::string_view card) {
    // Logical lines: folded lines joined; a quoted-printable value ending in '=' continues on
    // the next line whatever that line starts with.
    std::vector<std::string> logical;
    bool softBreak = false;
    for (std::string_view line : physicalLines(card)) {
        if (!logical.empty() && softBreak) {
            logical.back().pop_back();  // the '='
            logical.back() += line;
        } else if (!logical.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            logical.back() += line.substr(1);
        } else if (!line.empty()) {
            logical.emplace_back(line);
        }
        softBreak = !logical.empty() && logical.back().ends_with('=') &&
                    isQuotedPrintableLine(logical.back());
    }
    std::string out;
    for (const auto& line : logical) {
        const std::size_t colon = valueColon(line);
        if (colon == std::string::npos) {
            out += line + "\r\n";
            continue;
        }
        const Parameters parameters = parseParameters(std::string_view(line).substr(0, colon));
        std::string value = line.substr(colon + 1);
        if (parameters.binary ||
            (!parameters.quotedPrintable && parameters.charset.empty() && isValidUtf8(value))) {
            out += line + "\r\n";
            continue;
        }
        if (parameters.quotedPrintable)
            value = decodeQuotedPrintable(value);
        value = decodeCharset(value, parameters.charset);
        out += parameters.name;
        for (const auto& kept : parameters.kept)
            out += ";" + kept;
        out += ":" + oneLine(value) + "\r\n";
    }
    return out;
}

Item contactItem(const std::string& normalisedCard) {
    quietCardWarnings();
    Item item;
    std::unique_ptr<EContact, GObjectUnref> contact(
        e_contact_new_from_vcard(normalisedCard.c_str()));
    if (!contact)
        return item;
    EContact* c = contact.get();
    item.ref.id = stringField(c, E_CONTACT_UID);
    // EContact makes up a missing FN from N in the Western order; a Japanese card without FN
    // reads family name first.
    if (e_vcard_get_attribute(E_VCARD(c), EVC_FN))
        item.subject = stringField(c, E_CONTACT_FULL_NAME);
    if (item.subject.empty()) {
        if (auto* name = static_cast<EContactName*>(e_contact_get(c, E_CONTACT_NAME))) {
            for (const char* part : {name->family, name->given}) {
                if (part && *part)
                    item.subject += (item.subject.empty() ? "" : " ") + std::string(part);
            }
            e_contact_name_free(name);
        }
    }
    item.body = stringField(c, E_CONTACT_NOTE);
    item.companies = stringField(c, E_CONTACT_ORG);
    item.jobTitle = stringField(c, E_CONTACT_TITLE);
    auto* emails = static_cast<GList*>(e_contact_get(c, E_CONTACT_EMAIL));
    std::size_t n = 0;
    for (GList* link = emails; link && n < item.emailAddress.size(); link = link->next)
        item.emailAddress[n++] = static_cast<const char*>(link->data);
    g_list_free_full(emails, g_free);
    if (item.subject.empty())
        item.subject = !item.companies.empty() ? item.companies : item.emailAddress[0];
    item.homeAddress = addressText(c, E_CONTACT_ADDRESS_LABEL_HOME, E_CONTACT_ADDRESS_HOME);
    item.businessAddress = addressText(c, E_CONTACT_ADDRESS_LABEL_WORK, E_CONTACT_ADDRESS_WORK);
    item.webPage = stringField(c, E_CONTACT_HOMEPAGE_URL);
    // EContact joins categories with ","; the other stores' lists read ", ".
    const std::string categories = stringField(c, E_CONTACT_CATEGORIES);
    for (std::size_t start = 0; start <= categories.size();) {
        std::size_t comma = categories.find(',', start);
        if (comma == std::string::npos)
            comma = categories.size();
        std::string part = categories.substr(start, comma - start);
        if (!part.empty())
            item.categories += (item.categories.empty() ? "" : ", ") + part;
        start = comma + 1;
    }
    return item;
}

std::unique_ptr<ItemFolder> openContactsPlace(const fs::path& place, const PimLog& log,
                                              std::string* why) {
    return openFilesPlace(
        place, {".vcf", ".vcard"}, log, kPlace,
        [&](const std::string& text, const fs::path& file, std::vector<Item>& items) {
            std::vector<std::string> problems;
            const auto cards = cardsOf(text, &problems);
            for (const auto& problem : problems) {
                if (log)
                    log(kPlace, file.string() + ": " + problem);
            }
            for (std::size_t i = 0; i < cards.size(); ++i) {
                Item item = contactItem(cards[i].normalised);
                item.ref.origin = Origin::VCard;
                item.ref.container = file.string();
                if (item.ref.id.empty()) {
                    item.ref.id = "#" + std::to_string(i + 1);
                    item.ref.check = digestOf(cards[i].normalised);
                }
                items.push_back(std::move(item));
            }
        },
        why);
}

std::optional<std::string> contactCardFile(const ItemRef& ref) {
    auto text = readTextFile(ref.container, nullptr, kPlace);
    if (!text)
        return std::nullopt;
    const auto cards = cardsOf(*text, nullptr);
    for (std::size_t i = 0; i < cards.size(); ++i) {
        const bool hasUid = !ref.id.starts_with('#');
        if (hasUid ? contactItem(cards[i].normalised).ref.id == ref.id
                   : digestOf(cards[i].normalised) == ref.check)
            return cards[i].raw;
    }
    return std::nullopt;
}

std::optional<Item> contactCard(const ItemRef& ref) {
    const std::optional<std::string> card = contactCardFile(ref);
    if (!card)
        return std::nullopt;
    Item item = contactItem(normaliseVCard(*card));
    item.ref = ref;
    return item;
}

}  // namespace ferretta::platform::pim
