#pragma once
// Contacts in vCard text (2.1, 3.0, 4.0, as phones and mail programs export them), read with
// libebook-contacts' EContact, which needs no server.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/pim/pim_log.h"
#include "platform/pim/item_store.h"

namespace ferretta::platform::pim {

// The cards of a text, each from its BEGIN:VCARD line to its END:VCARD line (a card inside
// another, a 2.1 AGENT, stays part of its card). An unterminated card is left out and named in
// `problems`.
std::vector<std::string> splitVCards(std::string_view text, std::vector<std::string>* problems);

// A card rewritten as UTF-8 lines that EContact reads faithfully: folded lines joined,
// quoted-printable values (with their soft line breaks) decoded, every value in a CHARSET (or,
// undeclared, not UTF-8) decoded as decodeCharset does and the CHARSET and ENCODING parameters
// dropped. EContact alone would keep raw Shift_JIS bytes, and would take a Shift_JIS trail byte
// 0x5C (as in 表 and ソ) for an escape.
std::string normaliseVCard(std::string_view card);

// The fields of a normalised card: the full name (else the name, the company, the first
// address) as the subject, NOTE as the body, ORG, TITLE, the first three EMAIL, the home and
// work addresses (their LABEL, else their parts, postal code first), URL and CATEGORIES. The
// ref's id is the UID (empty when the card has none).
Item contactItem(const std::string& normalisedCard);

// The contacts of a .vcf file or of the .vcf files of a folder (by name), in file order. A card
// without UID gets the id "#n" (its number in its file) and a digest of its text as check.
// nullptr (a log line, and the reason in `why`) when the place does not exist.
std::unique_ptr<ItemFolder> openContactsPlace(const std::filesystem::path& place, const PimLog& log,
                                              std::string* why = nullptr);

// The card an item read by openContactsPlace names, as its file holds it; nullopt when gone.
std::optional<std::string> contactCardFile(const ItemRef& ref);

// The contact itself, read again as the search read it; nullopt when it is gone.
std::optional<Item> contactCard(const ItemRef& ref);

}  // namespace ferretta::platform::pim
