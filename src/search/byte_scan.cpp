#include "search/byte_scan.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace ferretta::search {

bool haveAvx2() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    }();
    return have;
}

namespace {

constexpr std::size_t npos = std::string_view::npos;

inline __m128i load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

#define FERRETTA_AVX2 __attribute__((target("avx2,popcnt")))

FERRETTA_AVX2 inline __m256i load32(const char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Line ends among the bytes from `i` on, one at a time (the tail of the vector loops).
std::size_t countLineEndsTail(const char* data, std::size_t i, std::size_t n) {
    std::size_t count = 0;
    for (; i < n; ++i) {
        if (data[i] == '\n')
            ++count;
        else if (data[i] == '\r' && !(i + 1 < n && data[i + 1] == '\n'))
            ++count;
    }
    return count;
}

// The vector loops count in byte lanes: each lane gains at most one per round (a byte is an LF
// or a CR), so 255 rounds fit before the lanes are summed.
constexpr std::size_t kRoundsPerSum = 255;

std::size_t countLineEndsSse2(const char* data, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i crs = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    while (i + 17 <= n) {
        __m128i lanes = zero;
        for (std::size_t round = 0; round < kRoundsPerSum && i + 17 <= n; ++round, i += 16) {
            const __m128i v = load16(data + i);
            // LF and CR each end a line, except a CR right before an LF (the pair ends one);
            // a compare's match is -1 in its lane.
            const __m128i lf = _mm_cmpeq_epi8(v, lfs);
            const __m128i loneCr =
                _mm_andnot_si128(_mm_cmpeq_epi8(load16(data + i + 1), lfs), _mm_cmpeq_epi8(v, crs));
            lanes = _mm_sub_epi8(_mm_sub_epi8(lanes, lf), loneCr);
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
    return count + countLineEndsTail(data, i, n);
}

FERRETTA_AVX2 std::size_t countLineEndsAvx2(const char* data, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
    const __m256i lfs = _mm256_set1_epi8('\n');
    const __m256i crs = _mm256_set1_epi8('\r');
    const __m256i zero = _mm256_setzero_si256();
    while (i + 33 <= n) {
        __m256i lanes = zero;
        for (std::size_t round = 0; round < kRoundsPerSum && i + 33 <= n; ++round, i += 32) {
            const __m256i v = load32(data + i);
            const __m256i lf = _mm256_cmpeq_epi8(v, lfs);
            const __m256i loneCr = _mm256_andnot_si256(_mm256_cmpeq_epi8(load32(data + i + 1), lfs),
                                                       _mm256_cmpeq_epi8(v, crs));
            lanes = _mm256_sub_epi8(_mm256_sub_epi8(lanes, lf), loneCr);
        }
        const __m256i sums = _mm256_sad_epu8(lanes, zero);
        count += static_cast<std::size_t>(_mm256_extract_epi64(sums, 0)) +
                 static_cast<std::size_t>(_mm256_extract_epi64(sums, 1)) +
                 static_cast<std::size_t>(_mm256_extract_epi64(sums, 2)) +
                 static_cast<std::size_t>(_mm256_extract_epi64(sums, 3));
    }
    return count + countLineEndsTail(data, i, n);
}

std::size_t lineEndSse2(const char* data, std::size_t from, std::size_t n) {
    std::size_t i = from;
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i crs = _mm_set1_epi8('\r');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = load16(data + i);
        const auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lfs), _mm_cmpeq_epi8(v, crs))));
        if (mask)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    while (i < n && data[i] != '\n' && data[i] != '\r')
        ++i;
    return i;
}

FERRETTA_AVX2 std::size_t lineEndAvx2(const char* data, std::size_t from, std::size_t n) {
    std::size_t i = from;
    const __m256i lfs = _mm256_set1_epi8('\n');
    const __m256i crs = _mm256_set1_epi8('\r');
    for (; i + 32 <= n; i += 32) {
        const __m256i v = load32(data + i);
        const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, lfs), _mm256_cmpeq_epi8(v, crs))));
        if (mask)
            return i + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    while (i < n && data[i] != '\n' && data[i] != '\r')
        ++i;
    return i;
}

std::size_t lineStartSse2(const char* data, std::size_t at) {
    // Backwards, sixteen bytes at a time, over the bytes before `at`.
    std::size_t end = at;
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i crs = _mm_set1_epi8('\r');
    while (end >= 16) {
        const __m128i v = load16(data + end - 16);
        const auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lfs), _mm_cmpeq_epi8(v, crs))));
        if (mask)
            return end - 16 + static_cast<std::size_t>(31 - __builtin_clz(mask)) + 1;
        end -= 16;
    }
    while (end > 0 && data[end - 1] != '\n' && data[end - 1] != '\r')
        --end;
    return end;
}

FERRETTA_AVX2 std::size_t lineStartAvx2(const char* data, std::size_t at) {
    std::size_t end = at;
    const __m256i lfs = _mm256_set1_epi8('\n');
    const __m256i crs = _mm256_set1_epi8('\r');
    while (end >= 32) {
        const __m256i v = load32(data + end - 32);
        const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, lfs), _mm256_cmpeq_epi8(v, crs))));
        if (mask)
            return end - 32 + static_cast<std::size_t>(31 - __builtin_clz(mask)) + 1;
        end -= 32;
    }
    while (end > 0 && data[end - 1] != '\n' && data[end - 1] != '\r')
        --end;
    return end;
}

// How often a byte turns up in Japanese text, CP932 or UTF-8, roughly: a literal is found by
// its rarer bytes.
int commonness(unsigned char b) {
    if (b == ' ' || b == '\t')
        return 8;
    if (b < 0x80)
        return ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') ? 4 : 3;
    if (b <= 0x83 || b == 0xE3)
        return 9;  // CP932 kana and signs; UTF-8 kana
    if (b == 0xEF)
        return 7;  // UTF-8 full-width and half-width forms
    if (b >= 0xE4 && b <= 0xE9)
        return 6;  // UTF-8 ideographs
    return b <= 0xBF ? 4 : 5;
}

// The commonest kana and signs of Japanese text: a fingerprint or anchor on one of them is
// met at nearly every line.
constexpr char32_t kCommonCharacters[] = {
    U'、', U'。', U'「', U'」', U'・', U'ー', U'ン', U'ス', U'ル', U'ト', U'イ',
    U'ク', U'リ', U'ラ', U'タ', U'の', U'に', U'は', U'を', U'た', U'が', U'し',
    U'て', U'と', U'で', U'い', U'る', U'す', U'な', U'か', U'ま', U'っ', U'こ',
    U'れ', U'さ', U'も', U'う', U'く', U'ん', U'ｰ',  U'ﾞ',  U'ﾟ'};

// As commonness(), for the byte at `k` of a UTF-8 literal. The last byte of a character is
// what tells it apart: as common as a kana lead byte for the commonest characters, rare for
// the others whatever its value.
int commonnessInUtf8(const std::string& bytes, std::size_t k) {
    std::size_t start = k;
    while (start > 0 && k - start < 3 && (static_cast<unsigned char>(bytes[start]) & 0xC0) == 0x80)
        --start;
    std::size_t length = 0;
    const char32_t c = utf8CharAt(bytes, start, length);
    if (length < 2 || start + length - 1 != k)
        return commonness(static_cast<unsigned char>(bytes[k]));
    const bool common = std::find(std::begin(kCommonCharacters), std::end(kCommonCharacters), c) !=
                        std::end(kCommonCharacters);
    return common ? 8 : 4;
}

bool isAsciiLetter(unsigned char b) {
    return (b | 0x20) >= 'a' && (b | 0x20) <= 'z';
}

bool sameCaseless(unsigned char x, unsigned char y) {
    return x == y || (isAsciiLetter(x) && isAsciiLetter(y) && (x | 0x20) == (y | 0x20));
}

}  // namespace

std::size_t countLineEnds(std::string_view bytes) {
    return haveAvx2() ? countLineEndsAvx2(bytes.data(), bytes.size())
                      : countLineEndsSse2(bytes.data(), bytes.size());
}

std::size_t lineEndFrom(std::string_view bytes, std::size_t from) {
    if (from >= bytes.size())
        return bytes.size();
    return haveAvx2() ? lineEndAvx2(bytes.data(), from, bytes.size())
                      : lineEndSse2(bytes.data(), from, bytes.size());
}

std::size_t lineStartOf(std::string_view bytes, std::size_t at) {
    at = std::min(at, bytes.size());
    return haveAvx2() ? lineStartAvx2(bytes.data(), at) : lineStartSse2(bytes.data(), at);
}

char32_t utf8CharAt(std::string_view text, std::size_t at, std::size_t& length) {
    const auto b = static_cast<unsigned char>(text[at]);
    length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (b < 0x80)
        return b;
    if (b < 0xC0 || at + length > text.size()) {
        length = 1;
        return 0xFFFD;
    }
    char32_t c = b & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            return 0xFFFD;
        }
        c = c << 6 | (next & 0x3Fu);
    }
    return c;
}

bool holdsNul(std::string_view bytes) {
    return std::memchr(bytes.data(), 0, bytes.size()) != nullptr;
}

// ----- LiteralFinder ------------------------------------------------------------------------

namespace {

// Up to this many literals are found one by one by their anchors; more by fingerprints (with
// AVX2; without it every literal is found by its anchors).
constexpr std::size_t kMaxAnchored = 2;

}  // namespace

LiteralFinder::LiteralFinder(std::vector<Literal> literals, Text text) {
    for (Literal& l : literals) {
        if (!l.bytes.empty())
            m_literals.push_back(std::move(l));
    }
    if (m_literals.empty())
        return;
    // How common each byte of each literal is.
    std::vector<std::vector<int>> scores;
    for (const Literal& l : m_literals) {
        std::vector<int>& score = scores.emplace_back(l.bytes.size());
        for (std::size_t k = 0; k < l.bytes.size(); ++k)
            score[k] = text == Text::Utf8 ? commonnessInUtf8(l.bytes, k)
                                          : commonness(static_cast<unsigned char>(l.bytes[k]));
    }
    {
        for (std::size_t i = 0; i < m_literals.size(); ++i) {
            const std::string& bytes = m_literals[i].bytes;
            const std::vector<int>& score = scores[i];
            // The rarest byte, and the rarest of those at least half the literal away from it.
            std::vector<std::size_t> order(bytes.size());
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t x, std::size_t y) { return score[x] < score[y]; });
            Anchored a{i, order[0], order[0]};
            const std::size_t apart = std::max<std::size_t>(1, order.size() / 2);
            for (std::size_t k = 1; k < order.size(); ++k) {
                const std::size_t distance =
                    order[k] > order[0] ? order[k] - order[0] : order[0] - order[k];
                if (a.anchor2 == order[0] || distance >= apart) {
                    a.anchor2 = order[k];
                    if (distance >= apart)
                        break;
                }
            }
            if (a.anchor1 > a.anchor2)
                std::swap(a.anchor1, a.anchor2);
            m_anchored.push_back(a);
        }
        if (m_literals.size() <= kMaxAnchored || !haveAvx2())
            return;
    }

    // Fingerprints: the rarest run of up to four bytes of each literal. In UTF-8 text the
    // last two bytes of a three-byte character all but name it: when every literal holds a
    // character that is not among the commonest, its fingerprint is those two bytes of its
    // rarest one, and the scan tests two bytes a place instead of four.
    std::vector<std::size_t> characterAt;
    for (std::size_t i = 0; text == Text::Utf8 && i < m_literals.size(); ++i) {
        const std::string& bytes = m_literals[i].bytes;
        std::size_t best = npos;
        int bestScore = 1 << 30;
        for (std::size_t at = 0; at + 3 <= bytes.size(); ++at) {
            std::size_t length = 0;
            utf8CharAt(bytes, at, length);
            const int score = scores[i][at + 1] + scores[i][at + 2];
            if (length == 3 && scores[i][at + 2] < 8 && score < bestScore) {
                bestScore = score;
                best = at + 1;
            }
        }
        if (best == npos) {
            characterAt.clear();
            break;
        }
        characterAt.push_back(best);
    }
    std::size_t shortest = m_literals[0].bytes.size();
    for (const Literal& l : m_literals)
        shortest = std::min(shortest, l.bytes.size());
    m_fingerprintLength = characterAt.empty() ? std::min<std::size_t>(4, shortest) : 2;
    const std::size_t m = m_fingerprintLength;
    std::vector<std::string> prints;
    for (std::size_t i = 0; i < m_literals.size(); ++i) {
        const Literal& l = m_literals[i];
        std::size_t best = characterAt.empty() ? 0 : characterAt[i];
        int bestScore = 1 << 30;
        for (std::size_t at = 0; characterAt.empty() && at + m <= l.bytes.size(); ++at) {
            int score = 0;
            for (std::size_t j = 0; j < m; ++j)
                score += scores[i][at + j];
            if (score < bestScore) {
                bestScore = score;
                best = at;
            }
        }
        m_fingerprintAt.push_back(best);
        m_longestOffset = std::max(m_longestOffset, best);
        std::string print = l.bytes.substr(best, m);
        if (l.caseless) {
            for (char& c : print)
                c = isAsciiLetter(static_cast<unsigned char>(c)) ? static_cast<char>(c | 0x20) : c;
        }
        prints.push_back(print + (l.caseless ? "i" : "s"));
    }
    // Literals with the same fingerprint share a bucket; the distinct ones, in order, are
    // spread over the eight buckets in runs (neighbours in order share leading bytes).
    std::vector<std::string> distinct = prints;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    for (std::size_t i = 0; i < m_literals.size(); ++i) {
        const auto rank = static_cast<std::size_t>(
            std::lower_bound(distinct.begin(), distinct.end(), prints[i]) - distinct.begin());
        const std::size_t bucket = rank * 8 / distinct.size();
        m_bucket[bucket].push_back(i);
        const Literal& l = m_literals[i];
        for (std::size_t j = 0; j < m; ++j) {
            const auto b = static_cast<unsigned char>(l.bytes[m_fingerprintAt[i] + j]);
            const auto bit = static_cast<std::uint8_t>(1u << bucket);
            m_low[j][b & 0x0F] |= bit;
            m_high[j][b >> 4] |= bit;
            if (l.caseless && isAsciiLetter(b)) {
                const unsigned char other = b ^ 0x20;
                m_low[j][other & 0x0F] |= bit;
                m_high[j][other >> 4] |= bit;
            }
        }
    }
}

bool LiteralFinder::matchesAt(const Literal& literal, std::string_view block,
                              std::size_t at) const {
    const std::size_t length = literal.bytes.size();
    if (at > block.size() || block.size() - at < length)
        return false;
    const char* p = block.data() + at;
    if (!literal.caseless)
        return std::memcmp(p, literal.bytes.data(), length) == 0;
    for (std::size_t k = 0; k < length; ++k) {
        if (!sameCaseless(static_cast<unsigned char>(p[k]),
                          static_cast<unsigned char>(literal.bytes[k])))
            return false;
    }
    return true;
}

namespace {

// The anchor compares of a literal: a letter of a caseless literal with its case bit set.
struct AnchorByte {
    char value;
    char mask;
};

AnchorByte anchorByte(const std::string& bytes, std::size_t k, bool caseless) {
    const auto b = static_cast<unsigned char>(bytes[k]);
    const bool letter = caseless && isAsciiLetter(b);
    return {static_cast<char>(letter ? (b | 0x20) : b), static_cast<char>(letter ? 0x20 : 0)};
}

template <typename Verify>
std::size_t anchoredSse2(const char* data, std::size_t n, std::size_t from, std::size_t last,
                         AnchorByte b1, AnchorByte b2, std::size_t a1, std::size_t a2,
                         Verify&& verify) {
    const __m128i v1 = _mm_set1_epi8(b1.value);
    const __m128i m1 = _mm_set1_epi8(b1.mask);
    const __m128i v2 = _mm_set1_epi8(b2.value);
    const __m128i m2 = _mm_set1_epi8(b2.mask);
    std::size_t at = from;
    for (; at + a2 + 16 <= n && at <= last; at += 16) {
        const __m128i e1 = _mm_cmpeq_epi8(_mm_or_si128(load16(data + at + a1), m1), v1);
        const __m128i e2 = _mm_cmpeq_epi8(_mm_or_si128(load16(data + at + a2), m2), v2);
        auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(e1, e2)));
        while (bits) {
            const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctz(bits));
            if (candidate <= last && verify(candidate))
                return candidate;
            bits &= bits - 1;
        }
    }
    for (; at <= last; ++at) {
        if (verify(at))
            return at;
    }
    return npos;
}

template <typename Verify>
FERRETTA_AVX2 std::size_t anchoredAvx2(const char* data, std::size_t n, std::size_t from,
                                       std::size_t last, AnchorByte b1, AnchorByte b2,
                                       std::size_t a1, std::size_t a2, Verify&& verify) {
    const __m256i v1 = _mm256_set1_epi8(b1.value);
    const __m256i m1 = _mm256_set1_epi8(b1.mask);
    const __m256i v2 = _mm256_set1_epi8(b2.value);
    const __m256i m2 = _mm256_set1_epi8(b2.mask);
    std::size_t at = from;
    // Two chunks a round while both fit: one branch for 64 places.
    for (; at + a2 + 64 <= n && at + 32 <= last; at += 64) {
        const __m256i e1 = _mm256_cmpeq_epi8(_mm256_or_si256(load32(data + at + a1), m1), v1);
        const __m256i e2 = _mm256_cmpeq_epi8(_mm256_or_si256(load32(data + at + a2), m2), v2);
        const __m256i f1 = _mm256_cmpeq_epi8(_mm256_or_si256(load32(data + at + 32 + a1), m1), v1);
        const __m256i f2 = _mm256_cmpeq_epi8(_mm256_or_si256(load32(data + at + 32 + a2), m2), v2);
        auto bits = static_cast<std::uint64_t>(static_cast<std::uint32_t>(
                        _mm256_movemask_epi8(_mm256_and_si256(e1, e2)))) |
                    static_cast<std::uint64_t>(
                        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(f1, f2))))
                        << 32;
        while (bits) {
            const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctzll(bits));
            if (candidate <= last && verify(candidate))
                return candidate;
            bits &= bits - 1;
        }
    }
    for (; at + a2 + 32 <= n && at <= last; at += 32) {
        const __m256i e1 = _mm256_cmpeq_epi8(_mm256_or_si256(load32(data + at + a1), m1), v1);
        const __m256i e2 = _mm256_cmpeq_epi8(_mm256_or_si256(load32(data + at + a2), m2), v2);
        auto bits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(e1, e2)));
        while (bits) {
            const std::size_t candidate = at + static_cast<std::size_t>(__builtin_ctz(bits));
            if (candidate <= last && verify(candidate))
                return candidate;
            bits &= bits - 1;
        }
    }
    for (; at <= last; ++at) {
        if (verify(at))
            return at;
    }
    return npos;
}

}  // namespace

std::size_t LiteralFinder::findAnchored(const Anchored& a, std::string_view block,
                                        std::size_t from) const {
    const Literal& literal = m_literals[a.literal];
    const std::size_t length = literal.bytes.size();
    if (from > block.size() || block.size() - from < length)
        return npos;
    const std::size_t last = block.size() - length;
    const AnchorByte b1 = anchorByte(literal.bytes, a.anchor1, literal.caseless);
    const AnchorByte b2 = anchorByte(literal.bytes, a.anchor2, literal.caseless);
    auto verify = [&](std::size_t at) { return matchesAt(literal, block, at); };
    return haveAvx2() ? anchoredAvx2(block.data(), block.size(), from, last, b1, b2, a.anchor1,
                                     a.anchor2, verify)
                      : anchoredSse2(block.data(), block.size(), from, last, b1, b2, a.anchor1,
                                     a.anchor2, verify);
}

namespace {

// The fingerprint search over [from, n) for fingerprints of `m` bytes: the candidates of each
// 32-byte chunk of fingerprint places, in order, handed to `consider` (place, buckets), while
// `wanted` (place) answers true. Answers where it stopped. The length is a template argument
// so that the loop over the fingerprint's bytes unrolls and its tables stay in registers.
template <std::size_t m, typename Consider, typename Wanted>
FERRETTA_AVX2 std::size_t fingerprintsAvx2(const char* data, std::size_t from, std::size_t n,
                                           const std::uint8_t (&low)[4][16],
                                           const std::uint8_t (&high)[4][16], Consider&& consider,
                                           Wanted&& wanted) {
    __m256i lowTable[4];
    __m256i highTable[4];
    for (std::size_t j = 0; j < m; ++j) {
        lowTable[j] =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low[j])));
        highTable[j] =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(high[j])));
    }
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    std::size_t at = from;
    for (; at + 32 + m - 1 <= n && wanted(at); at += 32) {
        __m256i buckets = _mm256_set1_epi8(static_cast<char>(0xFF));
        for (std::size_t j = 0; j < m; ++j) {
            const __m256i v = load32(data + at + j);
            const __m256i lo = _mm256_and_si256(v, nibble);
            const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
            buckets =
                _mm256_and_si256(buckets, _mm256_and_si256(_mm256_shuffle_epi8(lowTable[j], lo),
                                                           _mm256_shuffle_epi8(highTable[j], hi)));
        }
        auto bits = ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(buckets, zero)));
        if (bits == 0)
            continue;
        alignas(32) std::uint8_t lanes[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), buckets);
        while (bits) {
            const auto k = static_cast<std::size_t>(__builtin_ctz(bits));
            consider(at + k, lanes[k]);
            bits &= bits - 1;
        }
    }
    return at;
}

}  // namespace

std::size_t LiteralFinder::findByFingerprint(std::string_view block, std::size_t from) const {
    const char* data = block.data();
    const std::size_t n = block.size();
    const std::size_t m = m_fingerprintLength;
    std::size_t best = npos;
    // A literal whose fingerprint lies further in may still start before the best found.
    auto wanted = [&](std::size_t place) {
        return best == npos || place <= best + m_longestOffset;
    };
    // A fingerprint at `place`: the literals of its buckets that start where it says.
    auto consider = [&](std::size_t place, std::uint8_t buckets) {
        for (unsigned b = 0; b < 8; ++b) {
            if (!(buckets & (1u << b)))
                continue;
            for (std::size_t i : m_bucket[b]) {
                const std::size_t offset = m_fingerprintAt[i];
                if (place < offset || place - offset < from)
                    continue;
                const std::size_t start = place - offset;
                if ((best == npos || start < best) && matchesAt(m_literals[i], block, start))
                    best = start;
            }
        }
    };
    std::size_t place = from;
    switch (m) {
        case 1:
            place = fingerprintsAvx2<1>(data, from, n, m_low, m_high, consider, wanted);
            break;
        case 2:
            place = fingerprintsAvx2<2>(data, from, n, m_low, m_high, consider, wanted);
            break;
        case 3:
            place = fingerprintsAvx2<3>(data, from, n, m_low, m_high, consider, wanted);
            break;
        default:
            place = fingerprintsAvx2<4>(data, from, n, m_low, m_high, consider, wanted);
            break;
    }
    // The places the vector loop leaves, one at a time through the same tables.
    for (; place + m <= n && wanted(place); ++place) {
        std::uint8_t buckets = 0xFF;
        for (std::size_t j = 0; j < m; ++j) {
            const auto b = static_cast<unsigned char>(data[place + j]);
            buckets &= static_cast<std::uint8_t>(m_low[j][b & 0x0F] & m_high[j][b >> 4]);
        }
        if (buckets != 0)
            consider(place, buckets);
    }
    return best;
}

std::size_t LiteralFinder::parts() const {
    return m_fingerprintLength > 0 ? 1 : m_anchored.size();
}

std::size_t LiteralFinder::findPart(std::size_t part, std::string_view block,
                                    std::size_t from) const {
    if (from >= block.size())
        return npos;
    return m_fingerprintLength > 0 ? findByFingerprint(block, from)
                                   : findAnchored(m_anchored[part], block, from);
}

std::size_t LiteralFinder::find(std::string_view block, std::size_t from) const {
    std::size_t best = npos;
    for (std::size_t part = 0; part < parts(); ++part)
        best = std::min(best, findPart(part, block, from));
    return best;
}

namespace {
constexpr std::size_t kUnknown = npos - 1;
}  // namespace

LiteralFinder::Scan::Scan(const LiteralFinder& finder, std::string_view block)
    : m_finder(finder), m_block(block), m_nextAt(finder.parts(), kUnknown) {}

std::size_t LiteralFinder::Scan::next(std::size_t from) {
    std::size_t best = npos;
    for (std::size_t part = 0; part < m_nextAt.size(); ++part) {
        std::size_t& at = m_nextAt[part];
        if (at == kUnknown || (at != npos && at < from))
            at = m_finder.findPart(part, m_block, from);
        best = std::min(best, at);
    }
    return best;
}

}  // namespace ferretta::search
