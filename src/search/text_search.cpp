#include "search/text_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <emmintrin.h>
#include <limits>
#include <memory>

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
constexpr std::size_t kSniffSize = 64 * 1024;

bool isTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

// The start of each line of the block (after every line end, but not at the block's end).
void findLineStarts(std::string_view block, std::vector<std::size_t>& starts) {
    starts.clear();
    starts.push_back(0);
    const char* data = block.data();
    const std::size_t n = block.size();
    auto consider = [&](std::size_t j) {
        if (data[j] == '\r' && j + 1 < n && data[j + 1] == '\n') return;  // the LF ends it
        if (j + 1 < n) starts.push_back(j + 1);
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
        if (data[i] == '\n' || data[i] == '\r') consider(i);
    }
}

// The line [start, next start) without its line end.
std::string_view lineAt(std::string_view block, const std::vector<std::size_t>& starts, std::size_t i) {
    std::size_t begin = starts[i];
    std::size_t end = i + 1 < starts.size() ? starts[i + 1] : block.size();
    if (end > begin && block[end - 1] == '\n') --end;
    if (end > begin && block[end - 1] == '\r') --end;
    return block.substr(begin, end - begin);
}

// The index of the line holding the offset.
std::size_t lineIndexOf(const std::vector<std::size_t>& starts, std::size_t offset) {
    return static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin()) - 1;
}

// Every line of the block that holds an occurrence of the needle.
void collectLines(std::string_view block, std::string_view needle, const std::vector<std::size_t>& starts,
                  std::vector<std::size_t>& lines) {
    if (needle.empty()) return;
    std::size_t from = 0;
    while (from + needle.size() <= block.size()) {
        const void* hit = memmem(block.data() + from, block.size() - from, needle.data(), needle.size());
        if (!hit) break;
        auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - block.data());
        std::size_t line = lineIndexOf(starts, at);
        lines.push_back(line);
        // Go on with the next line: one report per line.
        from = line + 1 < starts.size() ? starts[line + 1] : block.size();
    }
}

// The number of characters before the first occurrence of the needle that starts on a
// character boundary of the CP932 text; nullopt when there is none.
std::optional<std::size_t> firstAlignedMatch(std::string_view text, std::string_view needle) {
    std::size_t from = 0;
    std::size_t boundary = 0;
    std::size_t chars = 0;
    while (from + needle.size() <= text.size()) {
        const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
        if (!hit) return std::nullopt;
        auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        while (boundary < at) {
            auto b = static_cast<unsigned char>(text[boundary]);
            boundary += (platform::isCp932LeadByte(b) && boundary + 1 < text.size() &&
                         isTrailByte(static_cast<unsigned char>(text[boundary + 1])))
                            ? 2
                            : 1;
            ++chars;
        }
        if (boundary == at) return chars;
        from = at + 1;
    }
    return std::nullopt;
}

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
        count += static_cast<std::size_t>(__builtin_popcount(ends));
    }
    for (; i < n; ++i) {
        if (data[i] == '\n') ++count;
        if (data[i] == '\r' && !(i + 1 < n && data[i + 1] == '\n')) ++count;
    }
    return count;
}

// Reads a file in blocks that end at a line end, so no line is ever split between blocks.
class TextSearcher::Reader {
public:
    explicit Reader(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0) {
            throw Error(Error::Kind::FileOpen, path + ": " + std::strerror(errno));
        }
        m_path = path;
    }
    ~Reader() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The first bytes of the file without consuming them (for telling the encoding).
    std::string_view head() {
        while (!m_eof && m_end - m_begin < kSniffSize) readMore(kSniffSize);
        return std::string_view(m_buffer.data() + m_begin, std::min(m_end - m_begin, kSniffSize));
    }

    void skip(std::size_t bytes) { m_begin += std::min(bytes, m_end - m_begin); }

    // The next block of whole lines; false at the end of the file.
    bool nextBlock(std::string_view& block) {
        for (;;) {
            if (m_begin == m_end && m_eof) return false;
            std::size_t cut = lastLineEnd();
            if (cut != 0 || m_eof) {
                std::size_t length = m_eof && cut == 0 ? m_end - m_begin : cut;
                block = std::string_view(m_buffer.data() + m_begin, length);
                m_begin += length;
                return true;
            }
            readMore(kReadSize);
        }
    }

    bool atEnd() const { return m_eof && m_begin == m_end; }

private:
    // The length of the data up to and including its last certain line end; 0 when none. A CR
    // as the very last byte is not certain while more may follow (it may be half of CR LF).
    std::size_t lastLineEnd() const {
        const char* data = m_buffer.data() + m_begin;
        std::size_t n = m_end - m_begin;
        if (n == 0) return 0;
        const void* lf = memrchr(data, '\n', n);
        std::size_t crSpan = m_eof ? n : n - 1;
        const void* cr = crSpan ? memrchr(data, '\r', crSpan) : nullptr;
        std::size_t best = 0;
        if (lf) best = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
        if (cr) best = std::max(best, static_cast<std::size_t>(static_cast<const char*>(cr) - data) + 1);
        return best;
    }

    void readMore(std::size_t want) {
        if (m_begin > 0) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_buffer.size() < m_end + want) {
            // A line longer than the buffer makes it grow to hold the line, once.
            m_buffer.resize(std::max(m_end + want, m_buffer.size() * 2));
        }
        for (;;) {
            ssize_t got = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw Error(Error::Kind::FileRead, m_path + ": " + std::strerror(errno));
            if (got == 0) m_eof = true;
            m_end += static_cast<std::size_t>(got);
            return;
        }
    }

    int m_fd = -1;
    std::string m_path;
    std::string m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
};

void TextSearcher::report(const std::string& path, std::int64_t lineNumber, std::string_view contentUtf8,
                          std::int32_t column) {
    std::string position = std::to_string(lineNumber) + "," + std::to_string(column);
    addResult(m_host, app::fileType::text, m_fileName, contentUtf8, path, position);
}

bool TextSearcher::stopRequested() {
    m_host.doEvents();
    if (!m_flags.isAbort) return false;
    m_host.setStatusText("");
    m_host.showMessage("中断ボタンが押されました", app::MessageStyle::Information);
    return true;
}

std::int32_t TextSearcher::foldedPosition(std::string_view rawLine, std::string_view foldedLine) const {
    const int words = m_matcher.targetStrsNumber();
    std::optional<std::size_t> chars;
    if (m_matcher.isAndCondition()) {
        for (int i = words - 1; i >= 0; --i) {
            chars = firstAlignedMatch(foldedLine, m_matcher.wordFoldedAnsi(i));
            if (!chars) return 0;
        }
    } else {
        for (int i = 0; i < words && !chars; ++i) chars = firstAlignedMatch(foldedLine, m_matcher.wordFoldedAnsi(i));
        if (!chars) return 0;
    }
    // The character position in the folded text applied to the original text: add the
    // double-byte characters among that many characters of the original.
    std::int64_t position = static_cast<std::int64_t>(*chars) + 1;
    std::size_t at = 0;
    for (std::size_t c = 0; c < *chars && at < rawLine.size(); ++c) {
        AnsiCharInfo info = cp932CharAt(rawLine, at);
        position += info.reencoded - 1;
        at += info.length;
    }
    if (position <= 0 || position > std::numeric_limits<std::int32_t>::max()) return 0;
    return static_cast<std::int32_t>(position);
}

void TextSearcher::scanCp932Block(std::string_view block, const std::string& path, std::int64_t firstLine) {
    if (m_matcher.strict()) {
        scanCp932BlockStrict(block, path, firstLine);
    } else {
        scanCp932BlockFolded(block, path, firstLine);
    }
}

void TextSearcher::scanCp932BlockStrict(std::string_view block, const std::string& path, std::int64_t firstLine) {
    // Only lines holding a word (all words: the first one) can match; find those with a
    // byte search over the whole block and look at the lines around the finds alone.
    const int words = m_matcher.isAndCondition() ? 1 : m_matcher.targetStrsNumber();
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
                const std::string& needle = m_matcher.wordAnsi(w);
                const void* hit = needle.size() <= block.size() - from
                                      ? memmem(block.data() + from, block.size() - from, needle.data(), needle.size())
                                      : nullptr;
                nextAt[wi] = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - block.data())
                                 : std::string_view::npos;
                fresh[wi] = true;
            }
            best = std::min(best, nextAt[wi]);
        }
        if (best == std::string_view::npos) break;
        // The line around the find.
        std::size_t begin = best;
        while (begin > 0 && block[begin - 1] != '\n' && block[begin - 1] != '\r') --begin;
        std::size_t end = best;
        while (end < block.size() && block[end] != '\n' && block[end] != '\r') ++end;
        lineNumber += static_cast<std::int64_t>(countLineEnds(block.substr(counted, begin - counted)));
        counted = begin;
        std::string_view line = block.substr(begin, end - begin);
        if (std::int32_t column = m_matcher.exactPass(line)) {
            report(path, lineNumber + 1, platform::cp932ToUtf8(line), column);
        }
        from = end + 1;
    }
}

void TextSearcher::scanCp932BlockFolded(std::string_view block, const std::string& path, std::int64_t firstLine) {
    foldCp932(block, m_folded);
    std::string_view folded(m_folded);
    findLineStarts(block, m_rawStarts);
    findLineStarts(folded, m_foldedStarts);
    m_candidates.clear();
    const int words = m_matcher.isAndCondition() ? 1 : m_matcher.targetStrsNumber();
    for (int w = 0; w < words; ++w) {
        collectLines(block, m_matcher.wordAnsi(w), m_rawStarts, m_candidates);
        collectLines(folded, m_matcher.wordFoldedAnsi(w), m_foldedStarts, m_candidates);
    }
    if (m_candidates.empty()) return;
    std::sort(m_candidates.begin(), m_candidates.end());
    m_candidates.erase(std::unique(m_candidates.begin(), m_candidates.end()), m_candidates.end());
    for (std::size_t index : m_candidates) {
        if (index >= m_foldedStarts.size()) break;  // cannot happen: both have the same lines
        std::string_view raw = lineAt(block, m_rawStarts, index);
        std::int32_t column = m_matcher.exactPass(raw);
        if (column == 0) column = foldedPosition(raw, lineAt(folded, m_foldedStarts, index));
        if (column != 0) {
            report(path, firstLine + static_cast<std::int64_t>(index) + 1, platform::cp932ToUtf8(raw), column);
        }
    }
}

bool TextSearcher::searchLineByLine(const std::string& path) {
    // UTF-16 files: the line reader decodes them; the stop check runs every 500 lines.
    platform::LineReader reader(path);
    std::int64_t lineNumber = 0;
    while (!reader.atEndOfStream()) {
        std::string line = reader.readLine();
        ++lineNumber;
        if (line.empty()) continue;
        if (std::int32_t column = m_matcher.smartFind(line)) report(path, lineNumber, line, column);
        if (lineNumber % 500 == 0 && stopRequested()) return false;
    }
    return true;
}

bool TextSearcher::findText(const std::string& path) {
    m_host.setCaptionOnSearching(path);
    m_fileName = fileNameOf(path);
    if (m_matcher.targetStrsNumber() == 0) return !m_flags.isAbort;

    Reader reader(path);
    const platform::TextEncoding encoding = platform::detectTextEncoding(reader.head());
    if (encoding == platform::TextEncoding::Utf16Le || encoding == platform::TextEncoding::Utf16Be) {
        return searchLineByLine(path) && !m_flags.isAbort;
    }
    reader.skip(platform::byteOrderMarkLength(encoding));
    const bool cp932 = encoding == platform::TextEncoding::Cp932;
    const bool wholeBlock = cp932 && !m_matcher.regular();

    std::int64_t firstLine = 0;
    std::string_view block;
    while (reader.nextBlock(block)) {
        if (wholeBlock) {
            scanCp932Block(block, path, firstLine);
            firstLine += static_cast<std::int64_t>(countLineEnds(block));
        } else {
            // Regular expressions and UTF-8 text: line by line.
            std::size_t start = 0;
            while (start < block.size()) {
                std::size_t end = start;
                while (end < block.size() && block[end] != '\n' && block[end] != '\r') ++end;
                ++firstLine;
                std::string_view line = block.substr(start, end - start);
                if (!line.empty()) {
                    std::int32_t column = 0;
                    std::string content;
                    if (cp932) {
                        column = m_matcher.smartFindCp932(line);
                        if (column) content = platform::cp932ToUtf8(line);
                    } else {
                        column = m_matcher.smartFind(line);
                        if (column) content = std::string(line);
                    }
                    if (column) report(path, firstLine, content, column);
                }
                if (end < block.size() && block[end] == '\r' && end + 1 < block.size() && block[end + 1] == '\n') ++end;
                start = end + 1;
            }
        }
        if (!reader.atEnd() && stopRequested()) return false;
    }
    return !m_flags.isAbort;
}

}  // namespace ferretta::search
