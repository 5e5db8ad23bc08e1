// Fuzzes the vCard and iCalendar readers: the input is read as an iCalendar text for every kind
// of item and as a vCard file, each card rewritten for EContact and read. Nothing may crash,
// hang or leak, and every field must be valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drivers/pim/calendar_file.h"
#include "drivers/pim/vcard_file.h"
#include "platform/unicode.h"

// libebook-contacts loses a small buffer while it parses some malformed cards: its leak, not
// this program's, and the fuzzer would stop at it. The suppression needs the library's frame in
// the allocation's stack, which the fast unwinder loses inside GLib (built without frame
// pointers).
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libebook-contacts-1.2.so\n";
}
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace {

void checkItem(const ferretta::platform::pim::Item& item) {
    for (const auto* field :
         {&item.subject, &item.body, &item.categories, &item.location, &item.companies,
          &item.jobTitle, &item.homeAddress, &item.businessAddress, &item.webPage})
        if (!ferretta::platform::isValidUtf8(*field))
            std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::platform::pim;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (FolderKind kind : {FolderKind::Tasks, FolderKind::Calendar, FolderKind::Notes}) {
        for (const auto& entry : readCalendarEntries(text, kind, Origin::ICalendar, "f", {}, "f")) {
            checkItem(entry.item);
            if (!standaloneCalendar(text, entry.item.ref.id))
                std::abort();
        }
    }
    for (const auto& card : splitVCards(text, nullptr))
        checkItem(contactItem(normaliseVCard(card)));
    return 0;
}
