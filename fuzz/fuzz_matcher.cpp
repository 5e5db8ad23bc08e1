// Fuzzes the matcher: the first byte picks the mode, the rest is QUERY NUL TEXT. Every form
// of the matcher must answer without crashing, and the CP932 and UTF-8 entry points must
// agree where the text's CP932 form is its own bytes; UTF-8 must answer as its UTF-16 form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/cp932.h"
#include "platform/unicode.h"
#include "search/ansi_fold_table.h"
#include "search/query.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const bool regular = (data[0] & 1) != 0;
    const bool strict = (data[0] & 2) != 0;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t split = rest.find('\0');
    std::string_view query = rest.substr(0, split);
    std::string_view text =
        split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);
    if (query.size() > 256 || text.size() > 4096)
        return 0;

    ferretta::search::Matcher matcher(regular, strict);
    matcher.targetStrsSplit(query);
    std::int32_t utf8 = matcher.smartFind(text);
    std::int32_t ansi = matcher.smartFindCp932(text);
    if (utf8 < 0 || ansi < 0)
        std::abort();
    // The exact pass reads UTF-8 without decoding it first: the answer must be the decoded
    // text's, broken bytes and four-byte characters included.
    if (utf8 != matcher.smartFindUtf16(ferretta::platform::utf8ToUtf16(text)))
        std::abort();

    // A text that is CP932 and survives the round trip must give the same answer both ways.
    std::string decoded = ferretta::platform::cp932ToUtf8(text);
    if (!regular && ferretta::platform::utf8ToCp932(decoded) == text &&
        matcher.smartFind(decoded) != ansi) {
        std::abort();
    }
    std::string folded;
    ferretta::search::foldCp932(text, folded);
    if (folded.size() > text.size())
        std::abort();
    return 0;
}
