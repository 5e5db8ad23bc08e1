#include "platform/line_reader.h"

#include <emmintrin.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/cp932.h"
#include "platform/error.h"
#include "platform/unicode.h"

namespace ferretta::platform {
namespace {

// How much one read asks for, and how much of one line the buffer holds before the line is
// handed on in pieces; together they bound the reader's own memory at about 1.1 MiB.
constexpr std::size_t kReadChunk = 128 * 1024;
constexpr std::size_t kMaxBuffered = 1024 * 1024;

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isUtf16(TextEncoding e) {
    return e == TextEncoding::Utf16Le || e == TextEncoding::Utf16Be;
}

std::size_t utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0) {
        return 4;
    }
    if (lead >= 0xE0) {
        return 3;
    }
    return lead >= 0xC0 ? 2 : 1;
}

std::string errorText(int error) {
    return std::strerror(error);
}

// Where the bytes of a line go: stored as they are (readRawLine) or decoded to UTF-8 piece by
// piece (readLine), so that a line longer than the buffer is never held twice.
class RawSink {
  public:
    explicit RawSink(std::string& out) : m_out(out) {}
    void reserve(std::size_t bytes) { m_out.reserve(bytes); }
    void add(std::string_view piece) { m_out.append(piece); }
    void finish(std::string_view lastPiece) { m_out.append(lastPiece); }

  private:
    std::string& m_out;
};

class DecodingSink {
  public:
    DecodingSink(std::string& out, TextEncoding encoding) : m_out(out), m_encoding(encoding) {}

    // UTF-8 from CP932 or UTF-16 is up to 1.5 times as long (3 bytes for 2); ASCII 1:1.
    void reserve(std::size_t bytes) {
        m_out.reserve(m_encoding == TextEncoding::Utf8 || m_encoding == TextEncoding::Utf8Bom
                          ? bytes
                          : bytes + bytes / 2);
    }

    void add(std::string_view piece) { addPiece(piece, false); }

    // Most lines fit the buffer and arrive here whole, decoded in one go.
    void finish(std::string_view lastPiece) { addPiece(lastPiece, true); }

  private:
    // Decodes the longest prefix that ends on a character boundary; keeps the rest for the
    // next piece unless this is the end of the line.
    void addPiece(std::string_view piece, bool last) {
        std::string pending;
        if (!m_carry.empty()) {
            pending.swap(m_carry);
            pending.append(piece);
            piece = pending;
        }
        const std::size_t cut = last ? piece.size() : boundary(piece);
        decode(piece.substr(0, cut));
        m_carry.assign(piece.substr(cut));
    }

    std::size_t boundary(std::string_view bytes) const {
        switch (m_encoding) {
            case TextEncoding::Cp932: {
                std::size_t i = 0;
                while (i < bytes.size()) {
                    if (isCp932LeadByte(static_cast<unsigned char>(bytes[i]))) {
                        if (i + 1 == bytes.size()) {
                            return i;
                        }
                        ++i;
                    }
                    ++i;
                }
                return bytes.size();
            }
            case TextEncoding::Utf8:
            case TextEncoding::Utf8Bom: {
                // A sequence is at most 4 bytes, so its lead is among the last 3.
                const std::size_t n = bytes.size();
                for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
                    const auto c = static_cast<unsigned char>(bytes[n - back]);
                    if (c >= 0xC0) {
                        return utf8SequenceLength(c) > back ? n - back : n;
                    }
                    if (c < 0x80) {
                        return n;
                    }
                }
                return n;
            }
            case TextEncoding::Utf16Le:
            case TextEncoding::Utf16Be: {
                std::size_t n = bytes.size() & ~std::size_t{1};
                if (n >= 2) {
                    const char16_t unit = unitAt(bytes, n - 2);
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        n -= 2;  // its low surrogate is in the next piece
                    }
                }
                return n;
            }
        }
        return bytes.size();
    }

    char16_t unitAt(std::string_view bytes, std::size_t i) const {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        return m_encoding == TextEncoding::Utf16Be ? static_cast<char16_t>(b0 << 8 | b1)
                                                   : static_cast<char16_t>(b1 << 8 | b0);
    }

    void decode(std::string_view bytes) {
        if (bytes.empty()) {
            return;
        }
        switch (m_encoding) {
            case TextEncoding::Cp932:
                m_out.append(cp932ToUtf8(bytes));
                return;
            case TextEncoding::Utf8:
            case TextEncoding::Utf8Bom:
                if (isValidUtf8(bytes)) {
                    m_out.append(bytes);
                } else {
                    m_out.append(utf16ToUtf8(utf8ToUtf16(bytes)));
                }
                return;
            case TextEncoding::Utf16Le:
            case TextEncoding::Utf16Be: {
                std::u16string units(bytes.size() / 2, u'\0');
                for (std::size_t i = 0; i < units.size(); ++i) {
                    units[i] = unitAt(bytes, 2 * i);
                }
                m_out.append(utf16ToUtf8(units));
                if (bytes.size() % 2 != 0) {
                    m_out.append(kReplacementCharacter);  // half a code unit at the file's end
                }
                return;
            }
        }
    }

    std::string& m_out;
    TextEncoding m_encoding;
    std::string m_carry;
};

}  // namespace

std::optional<TextEncoding> encodingFromByteOrderMark(std::string_view head) {
    if (head.starts_with("\xEF\xBB\xBF"))
        return TextEncoding::Utf8Bom;
    if (head.starts_with("\xFF\xFE"))
        return TextEncoding::Utf16Le;
    if (head.starts_with("\xFE\xFF"))
        return TextEncoding::Utf16Be;
    return std::nullopt;
}

namespace {

// How far the bytes are ASCII and the plain three-byte sequences of most Japanese text (a lead
// E1-EC, EE or EF and two continuation bytes), sixteen bytes at a time: the place where the
// first chunk holding anything else begins (at the start of a character), or where the last
// whole chunk ends. `multiByte` is set when a whole sequence lies before that place.
std::size_t plainUtf8Prefix(const unsigned char* bytes, std::size_t n, bool& multiByte) {
    const __m128i top2 = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i top4 = _mm_set1_epi8(static_cast<char>(0xF0));
    const __m128i continuation = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i lead3 = _mm_set1_epi8(static_cast<char>(0xE0));
    const __m128i e0 = _mm_set1_epi8(static_cast<char>(0xE0));
    const __m128i ed = _mm_set1_epi8(static_cast<char>(0xED));
    unsigned owed = 0;  // bits 0 and 1: continuation bytes the last chunk's leads ask of this one
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(v));
        const auto follow = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, top2), continuation)));
        const auto lead = static_cast<unsigned>(
                              _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, top4), lead3))) &
                          ~static_cast<unsigned>(_mm_movemask_epi8(
                              _mm_or_si128(_mm_cmpeq_epi8(v, e0), _mm_cmpeq_epi8(v, ed))));
        const unsigned expected = ((lead << 1) | (lead << 2) | owed) & 0xFFFFu;
        if ((high & ~(follow | lead)) != 0 || follow != expected)
            break;
        multiByte = multiByte || owed != 0 || (lead & 0x3FFFu) != 0;
        owed = ((lead >> 15) & 1u) * 3u | ((lead >> 14) & 1u);
    }
    // Back to the lead of a sequence the chunk where the loop stopped was to end.
    return i - (owed == 3 ? 1 : owed == 1 ? 2 : 0);
}

}  // namespace

TextEncoding encodingFromFirstNonAscii(std::string_view sample) {
    // Well-formed UTF-8 (no over-long form, no surrogate, nothing past U+10FFFF), a sequence
    // cut off by the end of the sample allowed; only a whole multi-byte sequence tells UTF-8.
    const auto* bytes = reinterpret_cast<const unsigned char*>(sample.data());
    const std::size_t n = sample.size();
    bool multiByte = false;
    for (std::size_t i = plainUtf8Prefix(bytes, n, multiByte); i < n;) {
        const unsigned char c = bytes[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // Most of Japanese text: a three-byte sequence whose second byte may be any
        // continuation byte (not after E0 or ED).
        if (c >= 0xE1 && c <= 0xEF && c != 0xED && i + 2 < n && (bytes[i + 1] & 0xC0) == 0x80 &&
            (bytes[i + 2] & 0xC0) == 0x80) {
            multiByte = true;
            i += 3;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;  // the range of the second byte
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return TextEncoding::Cp932;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k == n)
                return multiByte ? TextEncoding::Utf8 : TextEncoding::Cp932;
            const unsigned char d = bytes[i + k];
            if (d < (k == 1 ? low : 0x80) || d > (k == 1 ? high : 0xBF))
                return TextEncoding::Cp932;
        }
        multiByte = true;
        i += length;
    }
    return multiByte ? TextEncoding::Utf8 : TextEncoding::Cp932;
}

std::optional<TextEncoding> detectTextEncoding(std::string_view head) {
    if (auto marked = encodingFromByteOrderMark(head))
        return marked;
    const std::size_t at = firstNonAscii(head);
    if (at == std::string_view::npos)
        return std::nullopt;
    return encodingFromFirstNonAscii(head.substr(at, kEncodingSampleBytes));
}

std::size_t firstNonAscii(std::string_view bytes) {
    const char* data = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0)
            break;
    }
    for (; i < n; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return i;
    }
    return std::string_view::npos;
}

int openRegularFile(const std::filesystem::path& path, std::uint64_t* size) {
    // O_NONBLOCK: opening a FIFO put in a file's place must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        throw Error(Error::Kind::FileOpen,
                    "cannot open " + path.string() + ": " + errorText(error));
    }
    struct stat st {};
    const bool statOk = ::fstat(fd, &st) == 0;
    const int statError = errno;
    if (!statOk || !S_ISREG(st.st_mode)) {
        // A FIFO, a device or a folder could block a read, feed an endless line or fail.
        ::close(fd);
        throw Error(Error::Kind::FileOpen,
                    "cannot open " + path.string() + ": " +
                        (statOk ? "not a regular file" : errorText(statError)));
    }
    if (size != nullptr)
        *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

std::size_t readSome(int fd, char* buffer, std::size_t size, const std::filesystem::path& path,
                     const std::function<bool()>& stopRequested) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        const int error = errno;
        if (error == EINTR) {
            if (stopRequested && stopRequested())
                return 0;
            continue;
        }
        if (error == EAGAIN || error == EWOULDBLOCK)
            return 0;  // nothing now (a kernel message file): never wait for more
        throw Error(Error::Kind::FileRead,
                    "cannot read " + path.string() + ": " + errorText(error));
    }
}

std::size_t byteOrderMarkLength(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Utf8Bom:
            return 3;
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be:
            return 2;
        case TextEncoding::Cp932:
        case TextEncoding::Utf8:
            return 0;
    }
    return 0;
}

LineReader::LineReader(const std::filesystem::path& path, std::function<bool()> stopRequested)
    : m_path(path), m_stopRequested(std::move(stopRequested)) {
    m_fd = openRegularFile(path);
    try {
        m_buffer.reserve(kReadChunk);
        while (m_buffer.size() < 3 && fill()) {
        }
    } catch (const Error&) {
        // The destructor does not run for a constructor that throws.
        ::close(m_fd);
        m_fd = -1;
        throw;
    }
    if (auto marked = encodingFromByteOrderMark(m_buffer)) {
        m_encoding = *marked;
        m_decided = true;
        m_pos = byteOrderMarkLength(m_encoding);
    }
}

LineReader::~LineReader() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool LineReader::fill() {
    if (m_eof) {
        return false;
    }
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    if (m_sinceCheck >= kStopCheckBytes) {
        m_sinceCheck = 0;
        if (m_stopRequested && m_stopRequested()) {
            m_stopped = true;
            m_eof = true;
            return false;
        }
    }
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + kReadChunk);
    std::size_t got = 0;
    try {
        got = readSome(m_fd, m_buffer.data() + old, kReadChunk, m_path, {});
    } catch (const Error&) {
        m_buffer.resize(old);
        throw;
    }
    m_buffer.resize(old + got);
    m_eof = got == 0;
    m_sinceCheck += got;
    return got > 0;
}

bool LineReader::atEndOfStream() {
    while (m_pos >= m_buffer.size()) {
        if (m_eof || !fill()) {
            return true;
        }
    }
    return false;
}

namespace {

// The bytes from `offset` on in the file up to the next line end (or the file's end, or
// `limit`), found without keeping them: the size a line too long for the buffer is to be given
// at once.
std::size_t measureRestOfLine(int fd, off_t offset, std::size_t unit, bool bigEndian,
                              std::size_t limit) {
    std::vector<char> scratch(kReadChunk);
    std::size_t total = 0;
    while (total < limit) {
        const ssize_t got = ::pread(fd, scratch.data(), scratch.size(), offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return total;  // a read error shows again when the line is read for real
        }
        const auto n = static_cast<std::size_t>(got) / unit * unit;
        if (n == 0) {
            return total + static_cast<std::size_t>(got);
        }
        for (std::size_t i = 0; i < n; i += unit) {
            unsigned value = static_cast<unsigned char>(scratch[i]);
            if (unit == 2) {
                const unsigned other = static_cast<unsigned char>(scratch[i + 1]);
                value = bigEndian ? (value << 8 | other) : (other << 8 | value);
            }
            if (value == '\n' || value == '\r') {
                return total + i;
            }
        }
        total += n;
        offset += static_cast<off_t>(n);
    }
    return total;
}

}  // namespace

namespace {

// Moves the file position past a hole of a sparse file that starts there (to the end when
// nothing but a hole follows); a file system that cannot tell leaves it.
void skipHole(int fd) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0)
        return;
    if (::lseek(fd, at, SEEK_DATA) < 0)
        ::lseek(fd, errno == ENXIO ? 0 : at, errno == ENXIO ? SEEK_END : SEEK_SET);
}

// One line scan shared by readLine and readRawLine; the sink takes the line's bytes, at most
// `maxBytes` of them. Answers whether the line was longer (the rest is passed over).
template <typename Sink>
bool scanLine(int fd, std::string& buffer, std::size_t& pos, const bool& eof, TextEncoding encoding,
              Sink& sink, std::size_t maxBytes, auto&& fill) {
    const std::size_t unit = isUtf16(encoding) ? 2 : 1;
    const bool bigEndian = encoding == TextEncoding::Utf16Be;
    auto unitAt = [&](std::size_t i) -> unsigned {
        const unsigned b0 = static_cast<unsigned char>(buffer[i]);
        if (unit == 1) {
            return b0;
        }
        const unsigned b1 = static_cast<unsigned char>(buffer[i + 1]);
        return bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0);
    };
    std::size_t given = 0;
    bool cut = false;
    // Hands the bytes [from, to) of the buffer on, as far as the limit lets them.
    auto give = [&](std::size_t from, std::size_t to, bool last) {
        std::size_t n = cut ? 0 : to - from;
        if (given + n > maxBytes) {
            n = (maxBytes - given) / unit * unit;
            cut = true;
        }
        given += n;
        const std::string_view piece = std::string_view(buffer).substr(from, n);
        if (last) {
            sink.finish(piece);
        } else if (n > 0) {
            sink.add(piece);
        }
    };
    std::size_t scan = pos;
    bool spilled = false;
    for (;;) {
        while (scan + unit <= buffer.size()) {
            const unsigned value = unitAt(scan);
            if (value == '\n' || value == '\r') {
                std::size_t end = scan + unit;
                if (value == '\r') {
                    if (end + unit > buffer.size() && !eof) {
                        break;  // the LF that may follow is not read yet
                    }
                    if (end + unit <= buffer.size() && unitAt(end) == '\n') {
                        end += unit;
                    }
                }
                give(pos, scan, true);
                pos = end;
                return cut;
            }
            scan += unit;
        }
        if (eof) {
            // The last line has no terminator; a half code unit at the end belongs to it.
            give(pos, buffer.size(), true);
            pos = buffer.size();
            return cut;
        }
        if (scan - pos >= kMaxBuffered) {
            if (!spilled) {
                // Code units start at even offsets; an odd end splits one, so start before it.
                off_t fileOffset = ::lseek(fd, 0, SEEK_CUR);
                fileOffset -= fileOffset > 0 ? fileOffset % static_cast<off_t>(unit) : 0;
                const std::size_t known = scan - pos + (buffer.size() - scan);
                const std::size_t rest =
                    fileOffset < 0 || known >= maxBytes
                        ? 0
                        : measureRestOfLine(fd, fileOffset, unit, bigEndian, maxBytes - known);
                sink.reserve(std::min(maxBytes, known + rest));
                spilled = true;
            }
            give(pos, scan, false);
            pos = scan;
        }
        if (cut && scan == buffer.size())
            skipHole(fd);  // the rest of a cut line: a hole holds no line end
        const std::size_t consumed = pos;
        fill();
        scan -= consumed;
    }
}

}  // namespace

void LineReader::decideEncoding(std::string_view rawLine) {
    const std::size_t at = firstNonAscii(rawLine);
    if (at == std::string_view::npos)
        return;
    // The sample runs on past the line into what follows it.
    while (m_buffer.size() - m_pos < kEncodingSampleBytes && !m_eof && fill()) {
    }
    std::string sample(rawLine.substr(at, kEncodingSampleBytes));
    const std::size_t more =
        std::min(kEncodingSampleBytes - sample.size(), m_buffer.size() - m_pos);
    sample.append(m_buffer, m_pos, more);
    m_encoding = encodingFromFirstNonAscii(sample);
    m_decided = true;
}

std::string LineReader::readRawLine() {
    std::string line;
    if (atEndOfStream()) {
        return line;
    }
    RawSink sink(line);
    m_lineCut = scanLine(m_fd, m_buffer, m_pos, m_eof, m_encoding, sink, kMaxLineBytes,
                         [this] { return fill(); });
    if (!m_decided)
        decideEncoding(line);
    return line;
}

std::string LineReader::readLine() {
    std::string line;
    if (atEndOfStream()) {
        return line;
    }
    if (!m_decided) {
        // Up to here every line was ASCII: read this one as it is and decode it once its
        // bytes have decided the encoding.
        std::string raw = readRawLine();
        if (firstNonAscii(raw) == std::string_view::npos)
            return raw;
        DecodingSink sink(line, m_encoding);
        sink.finish(raw);
        return line;
    }
    DecodingSink sink(line, m_encoding);
    m_lineCut = scanLine(m_fd, m_buffer, m_pos, m_eof, m_encoding, sink, kMaxLineBytes,
                         [this] { return fill(); });
    return line;
}

}  // namespace ferretta::platform
