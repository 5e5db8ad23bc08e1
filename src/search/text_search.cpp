#include "search/text_search.h"

#include <unistd.h>

#include <emmintrin.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
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

// Blocks bigger than this hold a few very long lines: they are matched line by line, without a
// folded copy of the block.
constexpr std::size_t kHugeBlock = 4u << 20;

// What one read asks for: small enough that the bytes are still in the processor's cache when
// they are searched, big enough that reading costs few calls. Measured on the text benchmark's
// corpus (one thread, CPU time): 256 KiB 150 ms, 128 KiB 140 ms, 64 KiB 110 ms, 32 KiB 115 ms;
// the kernel's copy is what differs (a small buffer stays in the cache from read to search).
constexpr std::size_t kReadSize = 64u << 10;

// How many bytes are read between two looks at the stop flag.
constexpr std::size_t kStopCheckBytes = 1u << 20;

}  // namespace

// Reads a file in blocks of whole lines, so that no line is ever split between blocks. The
// buffer holds about one read; a line longer than that makes it grow to hold the line, up to
// the line's cut. The buffer is malloc'ed so that growing a big one remaps pages instead of
// copying them, and only bytes read are ever touched.
class TextSearcher::Reader {
  public:
    // `stopRequested` is asked every kStopCheckBytes read (and between reads while the rest of
    // a cut line is passed over); when it answers true the reading ends there.
    Reader(const std::string& path, ReadBuffer& store, std::function<bool()> stopRequested)
        : m_path(path),
          m_buffer(store.data),
          m_capacity(store.capacity),
          m_stopRequested(std::move(stopRequested)) {
        m_fd = platform::openRegularFile(path, &m_size);
    }
    ~Reader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Up to the first `size` bytes of the file without consuming them (a byte-order mark, what
    // tells text from other files).
    std::string_view head(std::size_t size) {
        while (!m_eof && !m_stopped && m_end - m_begin < size)
            readMore();
        return {m_buffer + m_begin, std::min(m_end - m_begin, size)};
    }

    void skip(std::size_t bytes) { m_begin += std::min(bytes, m_end - m_begin); }

    // The next block of whole lines; false at the end of the file or when stopped. A line
    // longer than platform::kMaxLineBytes comes as a block of its first kMaxLineBytes bytes
    // alone, with `cut` set; the rest of it is passed over. The block stays valid until the
    // next call of nextBlock or lookAhead.
    bool nextBlock(std::string_view& block, bool& cut) {
        cut = false;
        m_blockBegin = m_blockEnd = m_begin;
        if (m_skipLine) {
            skipRestOfLine();
            m_skipLine = false;
        }
        for (;;) {
            if (m_stopped || (m_begin == m_end && m_eof))
                return false;
            if (!m_eof && !m_probedEnd && m_read >= m_size) {
                // All the file's bytes are in: one more read tells whether that is its end, so
                // that the block is known to be the last (no line ends are then counted past
                // its last hit: most files are one block). A file that grew is read on.
                m_probedEnd = true;
                readMore();
                continue;
            }
            const std::size_t lineEnd = lastLineEnd();
            if (lineEnd == 0 && m_end - m_begin >= platform::kMaxLineBytes) {
                setBlock(platform::kMaxLineBytes, block);
                m_skipLine = true;
                cut = true;
                return true;
            }
            if (lineEnd != 0 || m_eof) {
                setBlock(lineEnd != 0 ? lineEnd : m_end - m_begin, block);
                return true;
            }
            // No certain line end yet: next time only the new bytes need looking at (less the
            // last one, which may be the CR of a CR LF).
            m_scanFrom = m_end - m_begin > 0 ? m_end - m_begin - 1 : 0;
            readMore();
        }
    }

    // Up to `size` bytes that follow the last block, read as needed; `block` is pointed at the
    // last block again (the buffer may have moved).
    std::string_view lookAhead(std::size_t size, std::string_view& block) {
        while (!m_eof && !m_stopped && m_end - m_blockEnd < size) {
            if (m_end == m_capacity)
                grow(m_capacity + size);
            const std::size_t got = read(m_capacity - m_end);
            if (got == 0)
                m_eof = true;
            m_end += got;
        }
        block = std::string_view(m_buffer + m_blockBegin, m_blockEnd - m_blockBegin);
        return {m_buffer + m_blockEnd, std::min(m_end - m_blockEnd, size)};
    }

    bool atEnd() const { return m_eof && m_begin == m_end; }
    bool stopped() const { return m_stopped; }

    // Gives back a buffer that a long line made big.
    static void shrink(ReadBuffer& store) {
        if (store.capacity > 4 * kReadSize) {
            std::free(store.data);
            store.data = nullptr;
            store.capacity = 0;
        }
    }

    // Where the block handed out last begins in the file.
    std::int64_t blockOffset() const { return m_blockOffset; }

  private:
    void setBlock(std::size_t length, std::string_view& block) {
        m_blockOffset = static_cast<std::int64_t>(m_read - (m_end - m_begin));
        m_blockBegin = m_begin;
        m_blockEnd = m_begin + length;
        block = std::string_view(m_buffer + m_begin, length);
        m_begin += length;
        m_scanFrom = 0;
    }

    // Reads into the free end of the buffer; asks about a stop every kStopCheckBytes.
    std::size_t read(std::size_t wanted) {
        if (m_sinceCheck >= kStopCheckBytes) {
            m_sinceCheck = 0;
            if (m_stopRequested && m_stopRequested()) {
                m_stopped = true;
                return 0;
            }
        }
        const std::size_t got =
            platform::readSome(m_fd, m_buffer + m_end, std::min(wanted, kReadSize), m_path, {});
        m_sinceCheck += got;
        m_read += got;
        return got;
    }

    // Moves what is left to the start of the buffer (or grows a full one) and reads on.
    void readMore() {
        if (m_begin > 0) {
            std::memmove(m_buffer, m_buffer + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_capacity - m_end < kReadSize / 2)
            grow(std::max(m_capacity * 2, kReadSize));
        const std::size_t got = read(m_capacity - m_end);
        if (got == 0 && !m_stopped)
            m_eof = true;
        m_end += got;
    }

    void grow(std::size_t wanted) {
        // A line is kept up to its cut: never more than that and a read.
        wanted = std::min(wanted, platform::kMaxLineBytes + kReadSize);
        wanted = std::max(wanted, m_capacity + kReadSize / 2);
        void* grown = std::realloc(m_buffer, wanted);
        if (!grown)
            throw std::bad_alloc();
        m_buffer = static_cast<char*>(grown);
        m_capacity = wanted;
    }

    // Passes over the bytes up to and including the next line end, reading as it goes. Holes
    // of a sparse file hold no line end and are not read at all; a stop ends it.
    void skipRestOfLine() {
        for (;;) {
            const char* data = m_buffer + m_begin;
            const std::size_t n = m_end - m_begin;
            const std::size_t at = lineEndFrom(std::string_view(data, n), 0);
            if (at == n) {
                m_begin = m_end = 0;
                if (m_eof)
                    return;
                skipHole();
                m_sinceCheck = kStopCheckBytes;  // a look at the stop flag at every read
                readMore();
                if (m_stopped)
                    return;
                continue;
            }
            if (data[at] == '\r' && at + 1 == n && !m_eof) {
                m_begin += at;
                readMore();  // whether a LF follows the CR
                continue;
            }
            m_begin += at + 1;
            if (data[at] == '\r' && m_begin < m_end && m_buffer[m_begin] == '\n')
                ++m_begin;
            m_scanFrom = 0;
            return;
        }
    }

    // Moves the file position past a hole that starts there (the file system says where data
    // goes on; one that cannot tell answers the position itself).
    void skipHole() {
        const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
        if (at < 0)
            return;
        const off_t data = ::lseek(m_fd, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                m_eof = true;  // nothing but a hole up to the end
            ::lseek(m_fd, at, SEEK_SET);
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
        const char* last = static_cast<const char*>(lf);
        if (cr && (!last || static_cast<const char*>(cr) > last))
            last = static_cast<const char*>(cr);
        return last ? static_cast<std::size_t>(last - data) + 1 : 0;
    }

    int m_fd = -1;
    std::string m_path;
    // The searcher's buffer, kept from file to file: its pages are not faulted in anew for
    // every file.
    char*& m_buffer;
    std::size_t& m_capacity;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_scanFrom = 0;    // bytes after m_begin already known to hold no certain line end
    std::size_t m_blockBegin = 0;  // the last block handed out
    std::size_t m_blockEnd = 0;
    std::size_t m_sinceCheck = 0;  // bytes read since the last look at the stop flag
    std::uint64_t m_size = 0;      // the file's size when it was opened
    bool m_probedEnd = false;      // the read past the size was made
    bool m_eof = false;
    bool m_stopped = false;
    bool m_skipLine = false;  // the rest of a cut line is still to be passed over
    std::size_t m_read = 0;   // bytes read from the file so far
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
    char position[48];
    char* end = std::to_chars(position, position + 20, lineNumber).ptr;
    *end++ = ',';
    end = std::to_chars(end, position + sizeof position, column).ptr;
    hit.position.assign(position, end);
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

std::string TextSearcher::contentOf(std::string_view line, bool cp932, std::int32_t column) const {
    if (!m_cutLine || line.size() <= 2 * kCutLineContext)
        return cp932 ? platform::cp932ToUtf8(line) : std::string(line);
    // The byte of the line where the hit starts: the column counts CP932 bytes.
    const auto before = static_cast<std::size_t>(column > 0 ? column - 1 : 0);
    std::size_t hitAt = 0;
    if (cp932) {
        hitAt = std::min(before, line.size());
    } else {
        for (std::size_t ansi = 0; hitAt < line.size() && ansi < before;) {
            std::size_t length = 0;
            const char32_t c = utf8CharAt(line, hitAt, length);
            const std::uint16_t code =
                c < 0x80 || c > 0xFFFF
                    ? 0
                    : platform::unicodeToCp932Code(static_cast<char16_t>(c),
                                                   platform::Cp932Fallback::BestFit);
            ansi += code >= 0x100 && code != 0xFFFF ? 2 : 1;
            hitAt += length;
        }
    }
    // Whole characters from about kCutLineContext bytes before the hit to as many after it.
    const std::size_t from = hitAt > kCutLineContext ? hitAt - kCutLineContext : 0;
    const std::size_t to = std::min(line.size(), hitAt + kCutLineContext);
    std::size_t begin = 0;
    std::size_t end = 0;
    if (cp932) {
        while (begin < from)
            begin += cp932CharLength(line, begin);
        end = begin;
        while (end < to)
            end += cp932CharLength(line, end);
        return platform::cp932ToUtf8(line.substr(begin, end - begin));
    }
    auto boundary = [&](std::size_t at) {
        while (at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80)
            ++at;
        return at;
    };
    begin = boundary(from);
    end = boundary(to);
    return std::string(line.substr(begin, end - begin));
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
        const std::string_view start = exactPrefix(line);
        std::int32_t column = m_matcher.smartFind(start);
        if (!column && start.size() < line.size())
            column = m_matcher.smartFind(line);
        if (column)
            report(path, lineNumber, line, contentOf(line, false, column), column);
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
        report(path, lineNumber, line, contentOf(line, true, column), column);
}

std::string_view TextSearcher::exactPrefix(std::string_view line) const {
    // The exact pass answers the first place where the words' CP932 forms stand in the line's
    // CP932 form. Where each word stands in the line as typed, its form stands in the form of
    // the line's start up to there, and any earlier place lies inside that start too: the
    // matcher's answer for that start is its answer for the line, without decoding, converting
    // and folding the rest of it.
    if (m_matcher.regular())
        return line;
    const int words = m_matcher.isAndCondition() ? m_matcher.targetStrsNumber() : 1;
    std::size_t end = 0;
    for (int w = 0; w < words; ++w) {
        const std::string& typed = m_matcher.word(w).typed;
        const void* at = memmem(line.data(), line.size(), typed.data(), typed.size());
        if (!at)
            return line;
        end = std::max(end, static_cast<std::size_t>(static_cast<const char*>(at) - line.data()) +
                                typed.size());
    }
    return line.substr(0, end);
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
    // Line ends are counted only up to each such line.
    const LineFilter& lineFilter = filter(cp932);
    LineFilter::Scan scan(lineFilter, block);
    std::size_t from = 0;
    std::size_t counted = 0;
    std::int64_t lineNumber = firstLine;  // lines ended before `counted`
    while (from < block.size()) {
        const std::size_t at = scan.next(from);
        if (at == std::string_view::npos)
            break;
        const std::size_t begin = lineStartOf(block, at);
        const std::size_t end = lineEndFrom(block, at);
        lineNumber +=
            static_cast<std::int64_t>(countLineEnds(block.substr(counted, begin - counted)));
        counted = begin;
        const std::string_view line = block.substr(begin, end - begin);
        if (scan.lineMayMatch(line))
            matchLine(line, path, lineNumber + 1, cp932);
        from = end + 1;
    }
    // The line count of the last block of a file is of no use.
    if (lastBlock)
        return lineNumber;
    return lineNumber + static_cast<std::int64_t>(countLineEnds(block.substr(counted)));
}

bool TextSearcher::searchLineByLine(const std::string& path) {
    // UTF-16 files: the line reader decodes them; the stop check runs every 500 lines and
    // every megabyte read.
    platform::LineReader reader(path, [this] { return stopRequested(); });
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
        if (lineNumber % 500 == 0 && !reader.stopped() && stopRequested())
            return false;
    }
    return !reader.stopped();
}

bool TextSearcher::findText(const std::string& path) {
    m_host.setCaptionOnSearching(path);
    m_fileName = fileNameOf(path);
    m_blockOffset = -1;
    if (m_matcher.targetStrsNumber() == 0)
        return !m_flags.isAbort;

    bool searched = true;
    const bool finished = searchBlocks(path, searched);
    Reader::shrink(m_readBuffer);
    return finished && searched && !m_flags.isAbort;
}

bool TextSearcher::searchBlocks(const std::string& path, bool& searched) {
    Reader reader(path, m_readBuffer, [this] { return stopRequested(); });
    std::optional<platform::TextEncoding> encoding =
        platform::encodingFromByteOrderMark(reader.head(3));
    if (encoding == platform::TextEncoding::Utf16Le ||
        encoding == platform::TextEncoding::Utf16Be) {
        return searchLineByLine(path);
    }
    if (!m_binaryFiles && holdsNul(reader.head(kTextCheckBytes))) {
        searched = false;
        return true;
    }
    if (encoding)
        reader.skip(platform::byteOrderMarkLength(*encoding));

    std::int64_t firstLine = 0;
    std::string_view block;
    bool cut = false;
    while (reader.nextBlock(block, cut)) {
        if (!encoding) {
            // ASCII reads the same either way; the first other byte decides, wherever it is,
            // with the bytes after it (past the block where it ends early).
            const std::size_t at = platform::firstNonAscii(block);
            if (at != std::string_view::npos) {
                std::string sample(block.substr(at, platform::kEncodingSampleBytes));
                if (sample.size() < platform::kEncodingSampleBytes)
                    sample +=
                        reader.lookAhead(platform::kEncodingSampleBytes - sample.size(), block);
                encoding = platform::encodingFromFirstNonAscii(sample);
            }
        }
        const bool cp932 = !encoding || *encoding == platform::TextEncoding::Cp932;
        m_cutLine = cut;
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
    }
    return !reader.stopped();
}

}  // namespace ferretta::search
