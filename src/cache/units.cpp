#include "cache/units.h"

#include <zlib.h>

#include <limits>

namespace ferretta::cache {
namespace {

constexpr char kMagic0 = 'F';
constexpr char kMagic1 = 'C';
constexpr char kFormatVersion = 2;
constexpr std::size_t kHeaderSize = 3;
// zlib never expands more than about 1032:1; a record claiming more is not ours.
constexpr std::uint64_t kMaxRatio = 1100;
constexpr std::uint64_t kMaxPayload = std::uint64_t{1} << 30;

void putVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

std::int64_t unzigzag(std::uint64_t value) {
    return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

void putBytes(std::string& out, std::string_view bytes) {
    putVarint(out, bytes.size());
    out += bytes;
}

class Reader {
  public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}

    bool varint(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_at >= m_bytes.size())
                return false;
            const auto byte = static_cast<unsigned char>(m_bytes[m_at++]);
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                return true;
        }
        return false;
    }

    bool int32(std::int32_t& value, std::int64_t base) {
        std::uint64_t raw = 0;
        if (!varint(raw))
            return false;
        const std::int64_t full = base + unzigzag(raw);
        if (full < std::numeric_limits<std::int32_t>::min() ||
            full > std::numeric_limits<std::int32_t>::max())
            return false;
        value = static_cast<std::int32_t>(full);
        return true;
    }

    bool bytes(std::string& value) {
        std::uint64_t length = 0;
        if (!varint(length) || length > m_bytes.size() - m_at)
            return false;
        value.assign(m_bytes.substr(m_at, length));
        m_at += length;
        return true;
    }

    // A count of items that each take at least `minimum` bytes: never more than what is left.
    bool count(std::uint64_t& value, std::size_t minimum) {
        return varint(value) && value <= (m_bytes.size() - m_at) / minimum;
    }

    bool atEnd() const { return m_at == m_bytes.size(); }
    std::size_t consumed() const { return m_at; }

  private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

}  // namespace

std::string encodeExtract(const Extract& extract) {
    std::string payload;
    putVarint(payload, zigzag(extract.outcome));
    putBytes(payload, extract.outcomeText);
    putVarint(payload, zigzag(extract.count));
    putVarint(payload, extract.names.size());
    for (const std::string& name : extract.names)
        putBytes(payload, name);
    putVarint(payload, extract.units.size());
    // Places and rows mostly grow by small steps: deltas keep them to a byte.
    std::int64_t place = 0;
    std::int64_t row = 0;
    for (const Unit& unit : extract.units) {
        putVarint(payload, zigzag(unit.place - place));
        putVarint(payload, zigzag(unit.row - row));
        putVarint(payload, zigzag(unit.column));
        putBytes(payload, unit.text);
        putBytes(payload, unit.shown);
        place = unit.place;
        row = unit.row;
    }

    uLongf packedSize = compressBound(static_cast<uLong>(payload.size()));
    std::string record(kHeaderSize, '\0');
    record[0] = kMagic0;
    record[1] = kMagic1;
    record[2] = kFormatVersion;
    putVarint(record, payload.size());
    const std::size_t at = record.size();
    record.resize(at + packedSize);
    // Level 1: the text of a document compresses nearly as well as with the default level, at
    // several times the speed, and storing must not slow the first search down.
    const int status = compress2(reinterpret_cast<Bytef*>(record.data() + at), &packedSize,
                                 reinterpret_cast<const Bytef*>(payload.data()),
                                 static_cast<uLong>(payload.size()), 1);
    if (status != Z_OK)
        return {};  // only on memory exhaustion; an empty record never decodes
    record.resize(at + packedSize);
    return record;
}

std::optional<Extract> decodeExtract(std::string_view record) {
    if (record.size() < kHeaderSize || record[0] != kMagic0 || record[1] != kMagic1 ||
        record[2] != kFormatVersion)
        return std::nullopt;
    Reader header(record.substr(kHeaderSize));
    std::uint64_t payloadSize = 0;
    if (!header.varint(payloadSize))
        return std::nullopt;
    const std::string_view packed = record.substr(kHeaderSize + header.consumed());
    if (payloadSize > kMaxPayload || payloadSize > (packed.size() + 64) * kMaxRatio)
        return std::nullopt;
    std::string payload(payloadSize, '\0');
    uLongf unpackedSize = static_cast<uLongf>(payloadSize);
    uLong packedSize = static_cast<uLong>(packed.size());
    const int status = uncompress2(reinterpret_cast<Bytef*>(payload.data()), &unpackedSize,
                                   reinterpret_cast<const Bytef*>(packed.data()), &packedSize);
    if (status != Z_OK || unpackedSize != payloadSize || packedSize != packed.size())
        return std::nullopt;

    Reader in(payload);
    Extract extract;
    std::uint64_t count = 0;
    if (!in.int32(extract.outcome, 0) || !in.bytes(extract.outcomeText) ||
        !in.int32(extract.count, 0) || !in.count(count, 1))
        return std::nullopt;
    extract.names.resize(count);
    for (std::string& name : extract.names) {
        if (!in.bytes(name))
            return std::nullopt;
    }
    // A unit takes at least five bytes: three numbers and two lengths.
    if (!in.count(count, 5))
        return std::nullopt;
    extract.units.resize(count);
    std::int64_t place = 0;
    std::int64_t row = 0;
    for (Unit& unit : extract.units) {
        if (!in.int32(unit.place, place) || !in.int32(unit.row, row) || !in.int32(unit.column, 0) ||
            !in.bytes(unit.text) || !in.bytes(unit.shown))
            return std::nullopt;
        place = unit.place;
        row = unit.row;
    }
    if (!in.atEnd())
        return std::nullopt;
    return extract;
}

std::size_t textBytes(const Extract& extract) {
    std::size_t bytes = 0;
    for (const Unit& unit : extract.units)
        bytes += unit.text.size() + unit.shown.size();
    return bytes;
}

}  // namespace ferretta::cache
