// Fuzzes the line filter: the first byte picks the mode (regular expression, strict, UTF-8),
// the rest is QUERY NUL TEXT. Every line of the text that the matcher matches must be one the
// filter points at; the pattern analysis must not crash on any pattern.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/unicode.h"
#include "search/line_filter.h"
#include "search/query.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::search;
    if (size < 1)
        return 0;
    const bool regular = (data[0] & 1) != 0;
    const bool strict = (data[0] & 2) != 0;
    const TextForm form = (data[0] & 4) != 0 ? TextForm::Utf8 : TextForm::Cp932;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t split = rest.find('\0');
    const std::string_view query = rest.substr(0, split);
    const std::string_view text =
        split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);
    if (query.size() > 256 || text.size() > 4096)
        return 0;
    (void)requiredPatternRuns(ferretta::platform::utf8ToUtf16(query));

    Matcher matcher(regular, strict);
    matcher.targetStrsSplit(query);
    const LineFilter filter(matcher, form);
    if (!filter.active())
        return 0;
    LineFilter::Scan scan(filter, text);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const bool matches = form == TextForm::Cp932 ? matcher.smartFindCp932(line) != 0
                                                     : matcher.smartFind(line) != 0;
        const std::size_t at = scan.next(start);
        if (matches && (at == std::string_view::npos || at > end || !scan.lineMayMatch(line)))
            std::abort();  // a matching line the filter passed over
        start = end + 1;
    }
    return 0;
}
