#include "search/text_search.h"

#include <unistd.h>

#include <emmintrin.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/cp932.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/unicode.h"
#include "search/ansi_fold_table.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::search {
namespace {

constexpr std::size_t kReadSize = 1 << 20;

bool isTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// The start of each line of the block (after every line end, but not at the block's end).
void findLineStarts(std::string_view block, std::vector<std::size_t>& starts) {
    starts.clear();
    starts.push_back(0);
    const char* data = block.data();
    const std::size_t n = block.size();
    auto consider = [&](std::size_t j) {
        if (data[j] == '\r' && j + 1 < n && data[j + 1] == '\n')
            return;  // the LF ends it
        if (j + 1 < n)
            starts.push_back(j + 1);
    };
    std::size_t i = 0;
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        while (mask) {
            consider(i + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
    for (; i < n; ++i) {
        if (data[i] == '\n' || data[i] == '\r')
            consider(i);
    }
}

// The line [start, next start) without its line end.
std::string_view lineAt(std::string_view block, const std::vector<std::size_t>& starts,
                        std::size_t i) {
    std::size_t begin = starts[i];
    std::size_t end = i + 1 < starts.size() ? starts[i + 1] : block.size();
    if (end > begin && block[end - 1] == '\n')
        --end;
    if (end > begin && block[end - 1] == '\r')
        --end;
    return block.substr(begin, end - begin);
}

// The index of the line holding the offset.
std::size_t lineIndexOf(const std::vector<std::size_t>& starts, std::size_t offset) {
    return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), offset) -
                                    starts.begin()) -
           1;
}

// Every line of the block that holds an occurrence of the needle.
void collectLines(std::string_view block, std::string_view needle,
                  const std::vector<std::size_t>& starts, std::vector<std::size_t>& lines) {
    if (needle.empty())
        return;
    std::size_t from = 0;
    while (from + needle.size() <= block.size()) {
        const void* hit =
            memmem(block.data() + from, block.size() - from, needle.data(), needle.size());
        if (!hit)
            break;
        auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - block.data());
        std::size_t line = lineIndexOf(starts, at);
        lines.push_back(line);
        // Go on with the next line: one report per line.
        from = line + 1 < starts.size() ? starts[line + 1] : block.size();
    }
}

// Where each character of a CP932 text starts, walking from a character boundary.
std::size_t cp932CharLength(std::string_view text, std::size_t at) {
    auto b = static_cast<unsigned char>(text[at]);
    return (platform::isCp932LeadByte(b) && at + 1 < text.size() &&
            isTrailByte(static_cast<unsigned char>(text[at + 1])))
               ? 2
               : 1;
}

// The first CR or LF at or after `from`; the block's size when there is none.
std::size_t lineEndFrom(std::string_view block, std::size_t from) {
    const char* data = block.data();
    const std::size_t n = block.size();
    std::size_t i = from;
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        if (mask)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    while (i < n && data[i] != '\n' && data[i] != '\r')
        ++i;
    return i;
}

// Bits set in a 16-bit mask, without a library call on processors the compiler may not assume
// have a population-count instruction.
inline std::size_t bitCount16(unsigned x) {
    x = x - ((x >> 1) & 0x5555u);
    x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
    x = (x + (x >> 4)) & 0x0F0Fu;
    return (x + (x >> 8)) & 0x1Fu;
}

// Blocks bigger than this hold a few very long lines: they are matched line by line, without a
// folded copy of the block.
constexpr std::size_t kHugeBlock = 16u << 20;

}  // namespace

std::size_t countLineEnds(std::string_view bytes) {
    const char* data = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t count = 0;
    std::size_t i = 0;
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    // LF and CR each end a line, except a CR directly followed by LF (the pair ends one).
    for (; i + 17 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        __m128i isLf = _mm_cmpeq_epi8(v, lf);
        __m128i isCr = _mm_cmpeq_epi8(v, cr);
        __m128i crlf = _mm_and_si128(isCr, _mm_cmpeq_epi8(next, lf));
        unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(isLf, isCr))) &
                        ~static_cast<unsigned>(_mm_movemask_epi8(crlf));
        count += bitCount16(ends);
    }
    for (; i < n; ++i) {
        if (data[i] == '\n')
            ++count;
        if (data[i] == '\r' && !(i + 1 < n && data[i + 1] == '\n'))
            ++count;
    }
    return count;
}

// Reads a file in blocks that end at a line end, so no line is ever split between blocks. A
// line longer than the buffer makes the buffer grow to hold it; the buffer is malloc'ed so that
// growing a big one remaps pages instead of copying them, and only bytes read are ever touched.
class TextSearcher::Reader {
  public:
    Reader(const std::string& path, ReadBuffer& store, std::function<bool()> stopRequested)
        : m_path(path),
          m_buffer(store.data),
          m_capacity(store.capacity),
          m_stopRequested(std::move(stopRequested)) {
        std::uint64_t size = 0;
        m_fd = platform::openRegularFile(path, &size);
        m_sizeHint = static_cast<std::size_t>(size);
    }
    ~Reader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Up to the first `size` bytes of the file without consuming them (a byte-order mark).
    std::string_view head(std::size_t size) {
        while (!m_eof && m_end - m_begin < size)
            readMore();
        return {m_buffer + m_begin, std::min(m_end - m_begin, size)};
    }

    void skip(std::size_t bytes) { m_begin += std::min(bytes, m_end - m_begin); }

    // The next block of whole lines; false at the end of the file. A line longer than
    // platform::kMaxLineBytes comes as a block of its first kMaxLineBytes bytes alone, with
    // `cut` set; the rest of it is passed over.
    bool nextBlock(std::string_view& block, bool& cut) {
        cut = false;
        if (m_skipLine) {
            skipRestOfLine();
            m_skipLine = false;
        }
        for (;;) {
            if (m_begin == m_end && m_eof)
                return false;
            const std::size_t lineEnd = lastLineEnd();
            if (lineEnd == 0 && m_end - m_begin > platform::kMaxLineBytes) {
                block = std::string_view(m_buffer + m_begin, platform::kMaxLineBytes);
                m_blockOffset = static_cast<std::int64_t>(m_read - (m_end - m_begin));
                m_begin += platform::kMaxLineBytes;
                m_scanFrom = 0;
                m_skipLine = true;
                cut = true;
                return true;
            }
            if (lineEnd != 0 || m_eof) {
                std::size_t length = lineEnd != 0 ? lineEnd : m_end - m_begin;
                block = std::string_view(m_buffer + m_begin, length);
                m_blockOffset = static_cast<std::int64_t>(m_read - (m_end - m_begin));
                m_begin += length;
                m_scanFrom = 0;
                return true;
            }
            // No certain line end yet: next time only the new bytes need looking at (less the
            // last one, which may be the CR of a CR LF).
            m_scanFrom = m_end - m_begin > 0 ? m_end - m_begin - 1 : 0;
            readMore();
        }
    }

    bool atEnd() const { return m_eof && m_begin == m_end; }

    // Where the block handed out last begins in the file.
    std::int64_t blockOffset() const { return m_blockOffset; }

  private:
    // Passes over the bytes up to and including the next line end, reading as it goes.
    void skipRestOfLine() {
        for (;;) {
            const char* data = m_buffer + m_begin;
            const std::size_t n = m_end - m_begin;
            const void* lf = std::memchr(data, '\n', n);
            const void* cr = std::memchr(data, '\r', n);
            const char* end = static_cast<const char*>(lf);
            if (cr && (!end || static_cast<const char*>(cr) < end))
                end = static_cast<const char*>(cr);
            if (!end) {
                m_begin = m_end;
                if (m_eof)
                    return;
                readMore();
                continue;
            }
            if (*end == '\r' && end + 1 == m_buffer + m_end && !m_eof) {
                m_begin = static_cast<std::size_t>(end - m_buffer);
                readMore();  // whether a LF follows the CR
                continue;
            }
            m_begin = static_cast<std::size_t>(end - m_buffer) + 1;
            if (*end == '\r' && m_begin < m_end && m_buffer[m_begin] == '\n')
                ++m_begin;
            m_scanFrom = 0;
            return;
        }
    }

    // The length of the data up to and including its last certain line end; 0 when none. A CR
    // as the very last byte is not certain while more may follow (it may be half of CR LF).
    std::size_t lastLineEnd() const {
        const char* data = m_buffer + m_begin;
        const std::size_t n = m_end - m_begin;
        if (n <= m_scanFrom)
            return 0;
        const char* from = data + m_scanFrom;
        const std::size_t span = n - m_scanFrom;
        const void* lf = memrchr(from, '\n', span);
        const std::size_t crSpan = m_eof ? span : span - 1;
        const void* cr = crSpan ? memrchr(from, '\r', crSpan) : nullptr;
        std::size_t best = 0;
        if (lf)
            best = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
        if (cr)
            best =
                std::max(best, static_cast<std::size_t>(static_cast<const char*>(cr) - data) + 1);
        return best;
    }

    void readMore() {
        if (m_begin > 0 && m_begin == m_end) {
            m_begin = m_end = 0;
        } else if (m_begin > 0 && m_end - m_begin < m_capacity / 2) {
            std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_capacity - m_end < kReadSize / 4 || m_capacity == 0)
            grow();
        const std::size_t got =
            platform::readSome(m_fd, m_buffer + m_end, std::min(m_capacity - m_end, kReadSize * 16),
                               m_path, m_stopRequested);
        if (got == 0)
            m_eof = true;
        m_end += got;
        m_read += got;
    }

    void grow() {
        // A file up to a few megabytes comes whole in one block: its line ends need no count.
        std::size_t wanted = std::max(m_capacity * 2, m_end + kReadSize);
        // Never much more than what is left of the file (plus room to see its end).
        if (m_sizeHint > m_read)
            wanted = std::min(wanted, std::max(m_end + (m_sizeHint - m_read) + 4096, m_end + 4096));
        wanted = std::max(wanted, m_end + 4096);
        // A line is kept up to its cut: never more than that and a read.
        wanted = std::min(wanted, std::max(platform::kMaxLineBytes + 2 * kReadSize, m_end + 4096));
        void* grown = std::realloc(m_buffer, wanted);
        if (!grown)
            throw std::bad_alloc();
        m_buffer = static_cast<char*>(grown);
        m_capacity = wanted;
    }

    int m_fd = -1;
    std::string m_path;
    // The searcher's buffer, kept from file to file: its pages are not faulted in anew for
    // every file.
    char*& m_buffer;
    std::size_t& m_capacity;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_scanFrom = 0;  // bytes after m_begin already known to hold no certain line end
    std::size_t m_read = 0;
    std::size_t m_sizeHint = 0;
    bool m_eof = false;
    bool m_skipLine = false;  // the rest of a cut line is still to be passed over
    std::int64_t m_blockOffset = 0;
    std::function<bool()> m_stopRequested;
};

void TextSearcher::report(const std::string& path, std::int64_t lineNumber,
                          std::string_view rawLine, std::string contentUtf8, std::int32_t column) {
    app::Hit hit;
    if (m_blockOffset >= 0 && rawLine.data() >= m_block.data() &&
        rawLine.data() <= m_block.data() + m_block.size()) {
        hit.lineOffset = m_blockOffset + (rawLine.data() - m_block.data());
        hit.utf8 = m_utf8;
    }
    hit.fileType = app::FileType::Text;
    hit.name = m_fileName;
    hit.content = std::move(contentUtf8);  // a long line is not copied again
    hit.location = path;
    hit.position = std::to_string(lineNumber) + "," + std::to_string(column);
    addResult(m_host, std::move(hit));
}

bool TextSearcher::stopRequested() {
    m_host.doEvents();
    if (!m_flags.isAbort)
        return false;
    m_host.setStatusText("");
    m_host.showMessage("中断ボタンが押されました", app::MessageStyle::Information);
    return true;
}

std::int32_t TextSearcher::foldedPosition(std::string_view rawLine) {
    // The line is folded a window at a time, so even a line of hundreds of megabytes costs no
    // folded copy of itself. A word found across the seam of two windows is found because
    // each window is searched together with the tail of the one before.
    const int words = m_matcher.targetStrsNumber();
    std::size_t longest = 1;
    for (int i = 0; i < words; ++i)
        longest = std::max(longest, m_matcher.word(i).foldedAnsi.size());
    std::array<std::optional<std::size_t>, maxWords> found{};  // folded characters before it

    std::string tail;  // the last whole characters of the window before
    std::size_t tailChars = 0;
    std::size_t charsBefore = 0;  // folded characters before the current window
    std::size_t at = 0;
    std::string& chunk = m_foldChunk;
    while (at < rawLine.size()) {
        std::size_t end = rawLine.size() - at <= m_foldWindow ? rawLine.size() : at;
        while (end < rawLine.size() && end - at < m_foldWindow)
            end += cp932CharLength(rawLine, end);
        foldCp932(rawLine.substr(at, end - at), chunk, end == rawLine.size());
        at = end;
        if (tail.empty()) {
            m_window.swap(chunk);
        } else {
            m_window = tail;
            m_window += chunk;
        }

        // Character boundaries of the window, from its start (the tail starts on one).
        const std::size_t windowStart = charsBefore - tailChars;
        bool resolved = true;
        for (int i = 0; i < words; ++i) {
            auto wi = static_cast<std::size_t>(i);
            if (found[wi])
                continue;
            if (!m_matcher.word(i).foldedInCp932)
                continue;  // can never occur in CP932 text
            const std::string& needle = m_matcher.word(i).foldedAnsi;
            std::size_t from = 0;
            std::size_t boundary = 0;
            std::size_t chars = 0;
            while (from + needle.size() <= m_window.size()) {
                const void* hit = memmem(m_window.data() + from, m_window.size() - from,
                                         needle.data(), needle.size());
                if (!hit)
                    break;
                auto offset =
                    static_cast<std::size_t>(static_cast<const char*>(hit) - m_window.data());
                while (boundary < offset) {
                    boundary += cp932CharLength(m_window, boundary);
                    ++chars;
                }
                if (boundary == offset) {
                    found[wi] = windowStart + chars;
                    break;
                }
                from = offset + 1;
            }
            resolved = resolved && found[wi].has_value();
        }
        if (resolved || (!m_matcher.isAndCondition() && found[0]) || at >= rawLine.size())
            break;

        // Keep the last whole characters holding at least longest - 1 bytes (all of a window
        // that is shorter than that).
        std::size_t boundary = 0;
        m_tailStarts.clear();
        while (boundary < m_window.size()) {
            m_tailStarts.push_back(boundary);
            boundary += cp932CharLength(m_window, boundary);
        }
        charsBefore = windowStart + m_tailStarts.size();
        std::size_t keep = m_tailStarts.size();
        while (keep > 0 && m_window.size() - m_tailStarts[keep - 1] < longest - 1)
            --keep;
        if (longest <= 1) {
            tail.clear();
            tailChars = 0;
        } else {
            std::size_t first = keep == 0 ? 0 : keep - 1;
            tail = m_window.substr(m_tailStarts.empty() ? 0 : m_tailStarts[first]);
            tailChars = m_tailStarts.size() - first;
        }
    }

    std::optional<std::size_t> chars;
    if (m_matcher.isAndCondition()) {
        for (int i = words - 1; i >= 0; --i) {
            chars = found[static_cast<std::size_t>(i)];
            if (!chars)
                return 0;
        }
    } else {
        for (int i = 0; i < words && !chars; ++i)
            chars = found[static_cast<std::size_t>(i)];
        if (!chars)
            return 0;
    }
    // The character position in the folded text applied to the original text: add the
    // double-byte characters among that many characters of the original.
    std::int64_t position = static_cast<std::int64_t>(*chars) + 1;
    std::size_t rawAt = 0;
    for (std::size_t c = 0; c < *chars && rawAt < rawLine.size(); ++c) {
        AnsiCharInfo info = cp932CharAt(rawLine, rawAt);
        position += info.reencoded - 1;
        rawAt += info.length;
    }
    if (position <= 0 || position > std::numeric_limits<std::int32_t>::max())
        return 0;
    return static_cast<std::int32_t>(position);
}

std::string_view TextSearcher::exactNeedle(const Word& word) const {
    return m_normalized.empty() ? requiredCp932Bytes(word) : std::string_view(word.ansi);
}

std::string_view TextSearcher::exactHaystack(std::string_view block) {
    // A word of which no part is certain to stand in the line as it is (duplicate codes) is
    // looked for in a copy of the block with those codes rewritten.
    m_normalized.clear();
    const int words = m_matcher.isAndCondition() ? 1 : m_matcher.targetStrsNumber();
    for (int w = 0; w < words; ++w) {
        if (requiredCp932Bytes(m_matcher.word(w)).empty()) {
            if (!platform::normalizeCp932Duplicates(block, m_normalized))
                m_normalized.assign(block);
            return m_normalized;
        }
    }
    return block;
}

std::int32_t TextSearcher::matchCp932Line(std::string_view line) {
    if (std::int32_t column = m_matcher.exactPassCp932(line))
        return column;
    return m_matcher.strict() ? 0 : foldedPosition(line);
}

void TextSearcher::scanCp932BlockStrict(std::string_view block, const std::string& path,
                                        std::int64_t firstLine) {
    // Only lines holding a word (all words: the first one) can match; find those with a
    // byte search over the whole block and look at the lines around the finds alone.
    const int words = m_matcher.isAndCondition() ? 1 : m_matcher.targetStrsNumber();
    const std::string_view haystack = exactHaystack(block);
    std::array<std::size_t, maxWords> nextAt{};
    nextAt.fill(0);
    std::array<bool, maxWords> fresh{};
    fresh.fill(false);
    std::size_t from = 0;
    std::size_t counted = 0;
    std::int64_t lineNumber = firstLine;  // lines ended before `counted`
    while (from < block.size()) {
        std::size_t best = std::string_view::npos;
        for (int w = 0; w < words; ++w) {
            auto wi = static_cast<std::size_t>(w);
            if (!fresh[wi] || (nextAt[wi] != std::string_view::npos && nextAt[wi] < from)) {
                const std::string_view needle = exactNeedle(m_matcher.word(w));
                const void* hit = needle.size() <= block.size() - from
                                      ? memmem(haystack.data() + from, block.size() - from,
                                               needle.data(), needle.size())
                                      : nullptr;
                nextAt[wi] =
                    hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - haystack.data())
                        : std::string_view::npos;
                fresh[wi] = true;
            }
            best = std::min(best, nextAt[wi]);
        }
        if (best == std::string_view::npos)
            break;
        // The line around the find.
        std::size_t begin = best;
        while (begin > 0 && block[begin - 1] != '\n' && block[begin - 1] != '\r')
            --begin;
        std::size_t end = best;
        while (end < block.size() && block[end] != '\n' && block[end] != '\r')
            ++end;
        lineNumber +=
            static_cast<std::int64_t>(countLineEnds(block.substr(counted, begin - counted)));
        counted = begin;
        std::string_view line = block.substr(begin, end - begin);
        if (std::int32_t column = m_matcher.exactPassCp932(line)) {
            report(path, lineNumber + 1, line, platform::cp932ToUtf8(line), column);
        }
        from = end + 1;
    }
}

void TextSearcher::scanCp932BlockFolded(std::string_view block, const std::string& path,
                                        std::int64_t firstLine) {
    foldCp932(block, m_folded);
    std::string_view folded(m_folded);
    findLineStarts(block, m_rawStarts);
    findLineStarts(folded, m_foldedStarts);
    m_candidates.clear();
    const int words = m_matcher.isAndCondition() ? 1 : m_matcher.targetStrsNumber();
    const std::string_view haystack = exactHaystack(block);
    for (int w = 0; w < words; ++w) {
        const Word& word = m_matcher.word(w);
        collectLines(haystack, exactNeedle(word), m_rawStarts, m_candidates);
        if (word.foldedInCp932)
            collectLines(folded, word.foldedAnsi, m_foldedStarts, m_candidates);
    }
    if (m_candidates.empty())
        return;
    std::sort(m_candidates.begin(), m_candidates.end());
    m_candidates.erase(std::unique(m_candidates.begin(), m_candidates.end()), m_candidates.end());
    for (std::size_t index : m_candidates) {
        if (index >= m_foldedStarts.size())
            break;  // cannot happen: both have the same lines
        std::string_view raw = lineAt(block, m_rawStarts, index);
        if (std::int32_t column = matchCp932Line(raw)) {
            report(path, firstLine + static_cast<std::int64_t>(index) + 1, raw,
                   platform::cp932ToUtf8(raw), column);
        }
    }
}

void TextSearcher::matchLine(std::string_view line, const std::string& path,
                             std::int64_t lineNumber, bool cp932) {
    if (line.empty())
        return;
    if (!cp932) {
        if (std::int32_t column = m_matcher.smartFind(line))
            report(path, lineNumber, line, std::string(line), column);
        return;
    }
    std::int32_t column = 0;
    if (m_matcher.regular()) {
        decodeCp932(line, m_decoded);
        column = m_matcher.regFind(m_decoded);
    } else {
        column = matchCp932Line(line);
    }
    if (column)
        report(path, lineNumber, line, platform::cp932ToUtf8(line), column);
}

void TextSearcher::scanLines(std::string_view block, const std::string& path,
                             std::int64_t firstLine, bool cp932) {
    // Every line, one at a time: when the query gives no required literal, and for very long
    // lines.
    std::size_t start = 0;
    std::int64_t lineNumber = firstLine;
    while (start < block.size()) {
        std::size_t end = lineEndFrom(block, start);
        matchLine(block.substr(start, end - start), path, ++lineNumber, cp932);
        if (end < block.size() && block[end] == '\r' && end + 1 < block.size() &&
            block[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
}

const LineFilter& TextSearcher::filter(bool cp932) {
    std::optional<LineFilter>& filter = cp932 ? m_cp932Filter : m_utf8Filter;
    if (!filter)
        filter.emplace(m_matcher, cp932 ? TextForm::Cp932 : TextForm::Utf8);
    return *filter;
}

std::int64_t TextSearcher::scanCandidates(std::string_view block, const std::string& path,
                                          std::int64_t firstLine, bool cp932, bool lastBlock) {
    // Only the lines holding the query's required literal (or one of its triggers) can match:
    // find those with a byte search over the whole block and match the lines around the finds.
    LineFilter::Scan scan(filter(cp932), block);
    std::size_t from = 0;
    std::size_t counted = 0;
    std::int64_t lineNumber = firstLine;  // lines ended before `counted`
    while (from < block.size()) {
        const std::size_t at = scan.next(from);
        if (at == std::string_view::npos)
            break;
        std::size_t begin = at;
        while (begin > 0 && block[begin - 1] != '\n' && block[begin - 1] != '\r')
            --begin;
        const std::size_t end = lineEndFrom(block, at);
        lineNumber +=
            static_cast<std::int64_t>(countLineEnds(block.substr(counted, begin - counted)));
        counted = begin;
        const std::string_view line = block.substr(begin, end - begin);
        if (filter(cp932).lineMayMatch(line))
            matchLine(line, path, lineNumber + 1, cp932);
        from = end + 1;
    }
    // The line count of the last block of a file is of no use.
    if (lastBlock)
        return lineNumber;
    return lineNumber + static_cast<std::int64_t>(countLineEnds(block.substr(counted)));
}

bool TextSearcher::searchLineByLine(const std::string& path) {
    // UTF-16 files: the line reader decodes them; the stop check runs every 500 lines.
    platform::LineReader reader(path, [this] { return m_flags.isAbort; });
    std::int64_t lineNumber = 0;
    while (!reader.atEndOfStream()) {
        std::string line = reader.readLine();
        ++lineNumber;
        if (reader.lineWasCut()) {
            app::logWrite("findText", path + ": line " + std::to_string(lineNumber) + " cut at " +
                                          std::to_string(platform::kMaxLineBytes) + " bytes");
        }
        if (line.empty())
            continue;
        if (std::int32_t column = m_matcher.smartFind(line))
            report(path, lineNumber, {}, std::move(line), column);
        if (lineNumber % 500 == 0 && stopRequested())
            return false;
    }
    return true;
}

bool TextSearcher::findText(const std::string& path) {
    m_host.setCaptionOnSearching(path);
    m_fileName = fileNameOf(path);
    m_blockOffset = -1;
    if (m_matcher.targetStrsNumber() == 0)
        return !m_flags.isAbort;

    Reader reader(path, m_readBuffer, [this] { return m_flags.isAbort; });
    std::optional<platform::TextEncoding> encoding =
        platform::encodingFromByteOrderMark(reader.head(3));
    if (encoding == platform::TextEncoding::Utf16Le ||
        encoding == platform::TextEncoding::Utf16Be) {
        return searchLineByLine(path) && !m_flags.isAbort;
    }
    if (encoding)
        reader.skip(platform::byteOrderMarkLength(*encoding));

    std::int64_t firstLine = 0;
    std::string_view block;
    bool cut = false;
    while (reader.nextBlock(block, cut)) {
        if (!encoding) {
            // ASCII reads the same either way; the first other byte decides, wherever it is.
            const std::size_t at = platform::firstNonAscii(block);
            if (at != std::string_view::npos)
                encoding = platform::encodingFromFirstNonAscii(
                    block.substr(at, platform::kEncodingSampleBytes));
        }
        const bool cp932 = !encoding || *encoding == platform::TextEncoding::Cp932;
        m_block = block;
        m_blockOffset = reader.blockOffset();
        m_utf8 = !cp932;
        if (filter(cp932).active()) {
            firstLine = scanCandidates(block, path, firstLine, cp932, reader.atEnd());
        } else {
            if (!cp932 || m_matcher.regular() || block.size() > kHugeBlock) {
                scanLines(block, path, firstLine, cp932);
            } else if (m_matcher.strict()) {
                scanCp932BlockStrict(block, path, firstLine);
            } else {
                scanCp932BlockFolded(block, path, firstLine);
            }
            firstLine += static_cast<std::int64_t>(countLineEnds(block));
        }
        if (cut) {
            // The line end of a cut line was passed over with the rest of it.
            ++firstLine;
            app::logWrite("findText", path + ": line " + std::to_string(firstLine) + " cut at " +
                                          std::to_string(block.size()) + " bytes");
        }
        if (!reader.atEnd() && stopRequested())
            return false;
    }
    return !m_flags.isAbort;
}

}  // namespace ferretta::search
