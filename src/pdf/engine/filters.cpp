#include "pdf/engine/filters.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <utility>

#include "pdf/engine/lexer.h"
#include "platform/hex_digit.h"

namespace ferretta::pdf {
namespace {

// Collects one filter's output, never beyond the limit. The string's capacity only takes the
// values limit >> k, each at least double the one before: libstdc++ rounds a smaller request
// up to double the old capacity, which would otherwise let a buffer grow to twice the limit.
class Output {
  public:
    Output(std::size_t limit, std::size_t expected) : m_limit(limit) {
        expected = std::min(std::max(expected, std::size_t{4096}), limit);
        while (m_shift < 63 && (m_limit >> (m_shift + 1)) >= expected) {
            ++m_shift;
        }
        m_data.reserve(m_limit >> m_shift);
    }

    // Appends as much as fits; false when not all of it did (the limit is reached).
    bool append(const char* bytes, std::size_t count) {
        const std::size_t room = m_limit - m_data.size();
        const bool fits = count <= room;
        count = std::min(count, room);
        makeRoom(count);
        m_data.append(bytes, count);
        return fits;
    }

    bool appendRepeated(char byte, std::size_t count) {
        const std::size_t room = m_limit - m_data.size();
        const bool fits = count <= room;
        count = std::min(count, room);
        makeRoom(count);
        m_data.append(count, byte);
        return fits;
    }

    bool push(char byte) {
        if (m_data.size() == m_data.capacity()) {
            if (m_data.size() >= m_limit) {
                return false;
            }
            makeRoom(1);
        }
        m_data.push_back(byte);
        return true;
    }

    std::string take() { return std::move(m_data); }

  private:
    void makeRoom(std::size_t count) {
        const std::size_t needed = m_data.size() + count;  // never above m_limit
        if (needed <= m_data.capacity()) {
            return;
        }
        while (m_shift > 0 && (m_limit >> m_shift) < needed) {
            --m_shift;
        }
        m_data.reserve(m_limit >> m_shift);
    }

    std::size_t m_limit;
    unsigned m_shift = 0;
    std::string m_data;
};

DecodeStatus worse(DecodeStatus a, DecodeStatus b) {
    auto rank = [](DecodeStatus s) {
        switch (s) {
            case DecodeStatus::Ok:
                return 0;
            case DecodeStatus::Truncated:
                return 1;
            case DecodeStatus::TooLarge:
                return 2;
            case DecodeStatus::Unsupported:
                return 3;
        }
        return 3;
    };
    return rank(a) >= rank(b) ? a : b;
}

std::size_t saturatingTimes(std::size_t value, std::size_t factor) {
    return value > SIZE_MAX / factor ? SIZE_MAX : value * factor;
}

// ---- FlateDecode -------------------------------------------------------------------------

bool hasZlibHeader(std::string_view in) {
    if (in.size() < 2) {
        return false;
    }
    const unsigned cmf = static_cast<unsigned char>(in[0]);
    const unsigned flg = static_cast<unsigned char>(in[1]);
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf << 8 | flg) % 31 == 0;
}

DecodeResult inflateStream(std::string_view in, std::size_t limit) {
    // A few writers store bare deflate data; a stream whose first two bytes cannot be a zlib
    // header is read that way rather than given up.
    z_stream zs{};
    if (inflateInit2(&zs, hasZlibHeader(in) ? MAX_WBITS : -MAX_WBITS) != Z_OK) {
        return {DecodeStatus::Truncated, {}};
    }
    Output out(limit, saturatingTimes(in.size(), 4));
    std::array<unsigned char, 32768> chunk;
    std::size_t fed = 0;
    DecodeStatus status = DecodeStatus::Truncated;
    for (;;) {
        if (zs.avail_in == 0 && fed < in.size()) {
            const std::size_t count = std::min<std::size_t>(in.size() - fed, UINT_MAX);
            // zlib takes a non-const pointer for its input but never writes through it.
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + fed));
            zs.avail_in = static_cast<uInt>(count);
            fed += count;
        }
        zs.next_out = chunk.data();
        zs.avail_out = static_cast<uInt>(chunk.size());
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = chunk.size() - zs.avail_out;
        if (!out.append(reinterpret_cast<const char*>(chunk.data()), produced)) {
            status = DecodeStatus::TooLarge;
            break;
        }
        if (rc == Z_STREAM_END) {
            status = DecodeStatus::Ok;
            break;
        }
        // Z_BUF_ERROR here means the input is used up before the end of the stream; any other
        // code is damage. Either way the output so far is kept.
        if (rc != Z_OK) {
            break;
        }
    }
    inflateEnd(&zs);
    return {status, out.take()};
}

// ---- Predictors ----------------------------------------------------------------------------

struct RowShape {
    std::size_t rowBytes;
    std::size_t pixelBytes;  // bytes per pixel, at least 1 (PNG's left neighbour distance)
};

bool rowShape(const DecodeParams& p, RowShape& shape) {
    const int bpc = p.bitsPerComponent;
    if (p.colors < 1 || p.colors > 32 || p.columns < 1 ||
        !(bpc == 1 || bpc == 2 || bpc == 4 || bpc == 8 || bpc == 16)) {
        return false;
    }
    const auto bitsPerPixel = static_cast<std::uint64_t>(p.colors) * static_cast<unsigned>(bpc);
    const std::uint64_t rowBits = bitsPerPixel * static_cast<unsigned>(p.columns);
    shape.rowBytes = static_cast<std::size_t>((rowBits + 7) / 8);
    shape.pixelBytes = static_cast<std::size_t>((bitsPerPixel + 7) / 8);
    return true;
}

// Undoes the PNG row filters in place: every row of the input is one filter-type byte and
// rowBytes data bytes; the output rows are written over the input, always behind the read
// position, and the row above is read back from the output already written.
DecodeStatus undoPng(std::string& data, const RowShape& shape) {
    auto* d = reinterpret_cast<unsigned char*>(data.data());
    const std::size_t n = data.size();
    const std::size_t rb = shape.rowBytes;
    const std::size_t bpp = shape.pixelBytes;
    std::size_t in = 0;
    std::size_t out = 0;
    bool partial = false;
    while (in < n) {
        const unsigned type = d[in++];
        const std::size_t len = std::min(rb, n - in);
        partial = len < rb;
        const unsigned char* src = d + in;
        unsigned char* dst = d + out;
        const unsigned char* up = out >= rb ? dst - rb : nullptr;  // none on the first row
        switch (type) {
            case 1:  // Sub
                for (std::size_t i = 0; i < len; ++i) {
                    dst[i] = static_cast<unsigned char>(src[i] + (i >= bpp ? dst[i - bpp] : 0));
                }
                break;
            case 2:  // Up
                for (std::size_t i = 0; i < len; ++i) {
                    dst[i] = static_cast<unsigned char>(src[i] + (up ? up[i] : 0));
                }
                break;
            case 3:  // Average
                for (std::size_t i = 0; i < len; ++i) {
                    const unsigned left = i >= bpp ? dst[i - bpp] : 0;
                    const unsigned above = up ? up[i] : 0;
                    dst[i] = static_cast<unsigned char>(src[i] + (left + above) / 2);
                }
                break;
            case 4:  // Paeth
                for (std::size_t i = 0; i < len; ++i) {
                    const int a = i >= bpp ? dst[i - bpp] : 0;
                    const int b = up ? up[i] : 0;
                    const int c = up && i >= bpp ? up[i - bpp] : 0;
                    const int p = a + b - c;
                    const int pa = p > a ? p - a : a - p;
                    const int pb = p > b ? p - b : b - p;
                    const int pc = p > c ? p - c : c - p;
                    const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
                    dst[i] = static_cast<unsigned char>(src[i] + pred);
                }
                break;
            default:
                // None, and also an unknown type: such a row is taken as it is, as other
                // readers do, instead of losing the rest of the stream.
                for (std::size_t i = 0; i < len; ++i) {
                    dst[i] = src[i];
                }
                break;
        }
        in += len;
        out += len;
    }
    data.resize(out);
    return partial ? DecodeStatus::Truncated : DecodeStatus::Ok;
}

// TIFF predictor 2: each component is stored as the difference to the same component of the
// pixel to its left, modulo 2^bitsPerComponent.
DecodeStatus undoTiff(std::string& data, const DecodeParams& p, const RowShape& shape) {
    auto* d = reinterpret_cast<unsigned char*>(data.data());
    const std::size_t n = data.size();
    const std::size_t rb = shape.rowBytes;
    const auto colors = static_cast<std::size_t>(p.colors);
    const auto bpc = static_cast<unsigned>(p.bitsPerComponent);
    for (std::size_t row = 0; row < n; row += rb) {
        unsigned char* r = d + row;
        const std::size_t len = std::min(rb, n - row);
        if (bpc == 8) {
            for (std::size_t i = colors; i < len; ++i) {
                r[i] = static_cast<unsigned char>(r[i] + r[i - colors]);
            }
        } else if (bpc == 16) {
            for (std::size_t s = colors; 2 * s + 1 < len; ++s) {
                const unsigned left = r[2 * (s - colors)] << 8 | r[2 * (s - colors) + 1];
                const unsigned value = (r[2 * s] << 8 | r[2 * s + 1]) + left;
                r[2 * s] = static_cast<unsigned char>(value >> 8);
                r[2 * s + 1] = static_cast<unsigned char>(value);
            }
        } else {
            const unsigned mask = (1u << bpc) - 1;
            auto get = [&](std::size_t s) {
                const std::size_t bit = s * bpc;
                return (r[bit / 8] >> (8 - bpc - bit % 8)) & mask;
            };
            const std::size_t samples = len * 8 / bpc;
            for (std::size_t s = colors; s < samples; ++s) {
                const std::size_t bit = s * bpc;
                const unsigned shift = static_cast<unsigned>(8 - bpc - bit % 8);
                const unsigned value = (get(s) + get(s - colors)) & mask;
                r[bit / 8] =
                    static_cast<unsigned char>((r[bit / 8] & ~(mask << shift)) | (value << shift));
            }
        }
    }
    return n % rb == 0 ? DecodeStatus::Ok : DecodeStatus::Truncated;
}

// Applies the predictor of /DecodeParms to the output of Flate or LZW. A predictor or shape
// this engine does not know makes the stream Unsupported rather than guessed at.
DecodeStatus undoPredictor(std::string& data, const DecodeParams& p) {
    if (p.predictor <= 1) {
        return DecodeStatus::Ok;
    }
    RowShape shape{};
    if (!(p.predictor == 2 || (p.predictor >= 10 && p.predictor <= 15)) || !rowShape(p, shape)) {
        return DecodeStatus::Unsupported;
    }
    if (data.empty()) {
        return DecodeStatus::Ok;
    }
    return p.predictor == 2 ? undoTiff(data, p, shape) : undoPng(data, shape);
}

// ---- LZWDecode -----------------------------------------------------------------------------

DecodeResult lzwDecode(std::string_view in, int earlyChange, std::size_t limit) {
    constexpr unsigned kClear = 256;
    constexpr unsigned kEnd = 257;
    constexpr unsigned kTableSize = 4096;
    struct Entry {
        std::uint16_t prefix;
        std::uint16_t length;
        unsigned char last;
        unsigned char first;
    };
    std::array<Entry, kTableSize> table{};
    for (unsigned i = 0; i < 256; ++i) {
        table[i] = {0, 1, static_cast<unsigned char>(i), static_cast<unsigned char>(i)};
    }
    const unsigned early = earlyChange == 0 ? 0 : 1;
    std::array<char, kTableSize> text{};  // one code's string, written back to front

    Output out(limit, saturatingTimes(in.size(), 4));
    unsigned next = 258;
    unsigned width = 9;
    unsigned prev = kTableSize;  // none: just after the start or a clear code
    std::uint32_t bits = 0;
    unsigned bitCount = 0;
    std::size_t pos = 0;
    DecodeStatus status = DecodeStatus::Ok;  // data that just stops without the end code is fine
    for (;;) {
        while (bitCount < width && pos < in.size()) {
            bits = bits << 8 | static_cast<unsigned char>(in[pos++]);
            bitCount += 8;
        }
        if (bitCount < width) {
            break;
        }
        const unsigned code = (bits >> (bitCount - width)) & ((1u << width) - 1);
        bitCount -= width;
        if (code == kClear) {
            next = 258;
            width = 9;
            prev = kTableSize;
            continue;
        }
        if (code == kEnd) {
            break;
        }
        unsigned emit = code;
        if (prev == kTableSize) {
            if (code > 255) {
                status = DecodeStatus::Truncated;
                break;
            }
        } else if (code <= next) {
            if (next < kTableSize) {
                // For code == next (the string just being defined) the new entry is the
                // previous string plus its own first byte.
                const unsigned char first = code < next ? table[code].first : table[prev].first;
                table[next] = {static_cast<std::uint16_t>(prev),
                               static_cast<std::uint16_t>(table[prev].length + 1), first,
                               table[prev].first};
                ++next;
            }
            // A full table takes no more entries; 12-bit codes can then only name old ones.
        } else {
            status = DecodeStatus::Truncated;
            break;
        }
        const std::size_t length = table[emit].length;
        for (std::size_t i = length; i > 0; --i) {
            text[i - 1] = static_cast<char>(table[emit].last);
            emit = table[emit].prefix;
        }
        if (!out.append(text.data(), length)) {
            status = DecodeStatus::TooLarge;
            break;
        }
        prev = code;
        if (next + early >= 2048) {
            width = 12;
        } else if (next + early >= 1024) {
            width = 11;
        } else if (next + early >= 512) {
            width = 10;
        }
    }
    return {status, out.take()};
}

// ---- ASCII and run-length filters ----------------------------------------------------------

DecodeResult asciiHexDecode(std::string_view in, std::size_t limit) {
    Output out(limit, in.size() / 2 + 1);
    DecodeStatus status = DecodeStatus::Ok;  // a missing '>' is no loss
    int high = -1;
    for (const char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '>') {
            break;
        }
        if (isPdfWhiteSpace(c)) {
            continue;
        }
        const int value = platform::hexDigitValue(c);
        if (value < 0) {
            status = DecodeStatus::Truncated;
            break;
        }
        if (high < 0) {
            high = value;
        } else {
            if (!out.push(static_cast<char>(high << 4 | value))) {
                return {DecodeStatus::TooLarge, out.take()};
            }
            high = -1;
        }
    }
    if (high >= 0 && !out.push(static_cast<char>(high << 4))) {
        status = DecodeStatus::TooLarge;
    }
    return {status, out.take()};
}

DecodeResult ascii85Decode(std::string_view in, std::size_t limit) {
    Output out(limit, in.size());
    DecodeStatus status = DecodeStatus::Ok;  // a missing "~>" is no loss
    std::size_t pos = 0;
    while (pos < in.size() && isPdfWhiteSpace(static_cast<unsigned char>(in[pos]))) {
        ++pos;
    }
    // Not part of the filter, but some writers keep PostScript's opening bracket.
    if (in.substr(pos, 2) == "<~") {
        pos += 2;
    }
    std::uint64_t group = 0;
    int count = 0;
    auto flush = [&](int digits) {
        // digits - 1 bytes of a group of `digits` characters, padded with 'u' (84).
        for (int i = digits; i < 5; ++i) {
            group = group * 85 + 84;
        }
        if (group > 0xFFFFFFFFu) {
            return false;
        }
        const std::array<char, 4> bytes{static_cast<char>(group >> 24),
                                        static_cast<char>(group >> 16),
                                        static_cast<char>(group >> 8), static_cast<char>(group)};
        if (!out.append(bytes.data(), static_cast<std::size_t>(digits - 1))) {
            status = DecodeStatus::TooLarge;
        }
        group = 0;
        count = 0;
        return true;
    };
    for (; pos < in.size() && status == DecodeStatus::Ok; ++pos) {
        const auto c = static_cast<unsigned char>(in[pos]);
        if (c == '~') {
            break;
        }
        if (isPdfWhiteSpace(c)) {
            continue;
        }
        if (c == 'z' && count == 0) {
            if (!out.appendRepeated('\0', 4)) {
                status = DecodeStatus::TooLarge;
            }
            continue;
        }
        if (c < '!' || c > 'u') {
            status = DecodeStatus::Truncated;
            break;
        }
        group = group * 85 + (c - '!');
        if (++count == 5 && !flush(5)) {
            status = DecodeStatus::Truncated;
        }
    }
    if (status == DecodeStatus::Ok && count > 0) {
        // One lone character cannot carry a byte.
        if (count == 1 || !flush(count)) {
            status = DecodeStatus::Truncated;
        }
    }
    return {status, out.take()};
}

DecodeResult runLengthDecode(std::string_view in, std::size_t limit) {
    Output out(limit, saturatingTimes(in.size(), 2));
    std::size_t pos = 0;
    while (pos < in.size()) {
        const auto length = static_cast<unsigned char>(in[pos++]);
        if (length == 128) {
            break;
        }
        bool fits = true;
        if (length < 128) {
            const std::size_t count = std::min<std::size_t>(length + 1u, in.size() - pos);
            fits = out.append(in.data() + pos, count);
            pos += count;
            if (fits && count < length + 1u) {
                return {DecodeStatus::Truncated, out.take()};
            }
        } else {
            if (pos == in.size()) {
                return {DecodeStatus::Truncated, out.take()};
            }
            fits = out.appendRepeated(in[pos++], 257u - length);
        }
        if (!fits) {
            return {DecodeStatus::TooLarge, out.take()};
        }
    }
    return {DecodeStatus::Ok, out.take()};
}

// ---- Dispatch ------------------------------------------------------------------------------

enum class Kind { Flate, AsciiHex, Ascii85, RunLength, Lzw, Crypt, Other };

Kind kindOf(std::string_view name) {
    if (!name.empty() && name.front() == '/') {
        name.remove_prefix(1);
    }
    if (name == "FlateDecode" || name == "Fl") {
        return Kind::Flate;
    }
    if (name == "ASCIIHexDecode" || name == "AHx") {
        return Kind::AsciiHex;
    }
    if (name == "ASCII85Decode" || name == "A85") {
        return Kind::Ascii85;
    }
    if (name == "RunLengthDecode" || name == "RL") {
        return Kind::RunLength;
    }
    if (name == "LZWDecode" || name == "LZW") {
        return Kind::Lzw;
    }
    if (name == "Crypt") {
        return Kind::Crypt;
    }
    return Kind::Other;  // DCT, JPX, CCITTFax, JBIG2 and names no reader knows
}

DecodeResult decodeOne(std::string_view in, const Filter& filter, std::size_t limit) {
    DecodeResult result;
    switch (kindOf(filter.name)) {
        case Kind::Flate:
            result = inflateStream(in, limit);
            break;
        case Kind::Lzw:
            result = lzwDecode(in, filter.params.earlyChange, limit);
            break;
        case Kind::AsciiHex:
            return asciiHexDecode(in, limit);
        case Kind::Ascii85:
            return ascii85Decode(in, limit);
        case Kind::RunLength:
            return runLengthDecode(in, limit);
        case Kind::Crypt:
            return {DecodeStatus::Ok, std::string(in.substr(0, limit))};
        case Kind::Other:
            return {DecodeStatus::Unsupported, {}};
    }
    const DecodeStatus predicted = undoPredictor(result.data, filter.params);
    if (predicted == DecodeStatus::Unsupported) {
        return {DecodeStatus::Unsupported, {}};
    }
    result.status = worse(result.status, predicted);
    return result;
}

}  // namespace

DecodeResult decodeStream(std::string_view data, std::span<const Filter> filters,
                          std::size_t limit) {
    if (filters.empty()) {
        return {DecodeStatus::Ok, std::string(data)};
    }
    DecodeStatus status = DecodeStatus::Ok;
    std::string held;  // the previous filter's output, the input of the next
    std::string_view current = data;
    for (const Filter& filter : filters) {
        DecodeResult stage = decodeOne(current, filter, limit);
        if (stage.status == DecodeStatus::Unsupported) {
            return {DecodeStatus::Unsupported, {}};
        }
        status = worse(status, stage.status);
        held = std::move(stage.data);
        current = held;
    }
    return {status, std::move(held)};
}

}  // namespace ferretta::pdf
