#include "pdf/engine/fonts/cmap.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "pdf/engine/lexer.h"

namespace ferretta::pdf {
namespace {

struct CMapToken {
    enum class Kind { End, Bytes, Number, Name, Keyword, OpenArray, CloseArray, Other };
    Kind kind = Kind::End;
    std::string bytes;      // Bytes: the string's bytes
    std::string_view text;  // Name (without slash), Keyword, Number
};

// The lexer's tokens as a CMap reads them: strings are codes or targets (a damaged one is
// Other, so that its entry is skipped), and a dictionary or procedure is nothing to read.
class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text) : m_lexer(text) {
        m_lexer.setStringLimit(4 * maxTargetBytes + 1);  // longer is no target anyway
    }

    CMapToken next() {
        CMapToken token;
        const Token t = m_lexer.next(&token.bytes);
        switch (t.kind) {
            case TokenKind::End:
                break;
            case TokenKind::Number:
                token.kind = CMapToken::Kind::Number;
                token.text = t.text;
                break;
            case TokenKind::Keyword:
                token.kind = CMapToken::Kind::Keyword;
                token.text = t.text;
                break;
            case TokenKind::Name:
                token.kind = CMapToken::Kind::Name;
                token.text = t.text.substr(1);
                break;
            case TokenKind::LiteralString:
            case TokenKind::HexString:
                token.kind = t.malformed ? CMapToken::Kind::Other : CMapToken::Kind::Bytes;
                break;
            case TokenKind::ArrayOpen:
                token.kind = CMapToken::Kind::OpenArray;
                break;
            case TokenKind::ArrayClose:
                token.kind = CMapToken::Kind::CloseArray;
                break;
            default:
                token.kind = CMapToken::Kind::Other;
                break;
        }
        return token;
    }

  private:
    static constexpr std::size_t maxTargetBytes = 2 * CMap::maxTargetUnits;

    Lexer m_lexer;
};

std::uint64_t keyOf(std::string_view codeBytes) {
    std::uint64_t code = 0;
    for (char b : codeBytes)
        code = code << 8 | static_cast<unsigned char>(b);
    return static_cast<std::uint64_t>(codeBytes.size()) << 32 | code;
}

bool validCode(const CMapToken& token) {
    return token.kind == CMapToken::Kind::Bytes && !token.bytes.empty() && token.bytes.size() <= 4;
}

// Segments that do not overlap; a later assignment replaces what it covers.
class SegmentMap {
  public:
    struct Value {
        std::uint64_t high;
        std::uint64_t value;
    };

    void assign(std::uint64_t low, std::uint64_t high, std::uint64_t value) {
        auto it = m_map.upper_bound(low);
        if (it != m_map.begin()) {
            auto before = std::prev(it);
            if (before->second.high >= low) {
                const std::uint64_t beforeLow = before->first;
                const Value old = before->second;
                if (old.high > high)
                    m_map[high + 1] = {old.high, old.value + (high + 1 - beforeLow)};
                if (beforeLow == low) {
                    m_map.erase(before);
                } else {
                    before->second.high = low - 1;
                }
            }
        }
        it = m_map.lower_bound(low);
        while (it != m_map.end() && it->first <= high) {
            if (it->second.high > high) {
                const Value tail{it->second.high, it->second.value + (high + 1 - it->first)};
                m_map.erase(it);
                m_map[high + 1] = tail;
                break;
            }
            it = m_map.erase(it);
        }
        m_map[low] = {high, value};
    }

    std::size_t size() const { return m_map.size(); }

    std::vector<CMap::Segment> flatten() const {
        std::vector<CMap::Segment> out;
        out.reserve(m_map.size());
        for (const auto& [low, v] : m_map)
            out.push_back({low, v.high, v.value});
        return out;
    }

  private:
    std::map<std::uint64_t, Value> m_map;
};

const CMap::Segment* findSegment(const std::vector<CMap::Segment>& segments, std::uint64_t key) {
    auto it = std::upper_bound(segments.begin(), segments.end(), key,
                               [](std::uint64_t k, const CMap::Segment& s) { return k < s.low; });
    if (it == segments.begin())
        return nullptr;
    --it;
    return key <= it->high ? &*it : nullptr;
}

}  // namespace

void appendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

class CMapBuilder {
  public:
    CMapBuilder(const CMapResolver& resolver, int depth) : m_resolver(resolver), m_depth(depth) {}

    CMapPtr build(std::string_view text) {
        Tokenizer tokens(text);
        std::string_view lastName;
        for (CMapToken token = tokens.next(); token.kind != CMapToken::Kind::End;
             token = tokens.next()) {
            if (token.kind == CMapToken::Kind::Name) {
                lastName = token.text;
                continue;
            }
            if (token.kind != CMapToken::Kind::Keyword) {
                lastName = {};
                continue;
            }
            // A section cut short by the start of another hands that keyword back.
            for (std::string_view word = token.text; !word.empty();)
                word = dispatch(tokens, word, lastName);
            lastName = {};
        }
        auto map = std::make_shared<CMap>();
        map->m_cids = m_cids.flatten();
        map->m_text = m_text.flatten();
        map->m_targets = std::move(m_targets);
        map->m_codespace = std::move(m_codespace);
        if (m_parent) {
            for (const CMap::CodespaceRange& range : m_parent->m_codespace) {
                if (map->m_codespace.size() < CMap::maxCodespaceRanges)
                    map->m_codespace.push_back(range);
            }
            map->m_parent = std::move(m_parent);
        }
        return map;
    }

  private:
    using Entry = void (CMapBuilder::*)(std::vector<CMapToken>&);

    std::string_view dispatch(Tokenizer& tokens, std::string_view word, std::string_view name) {
        if (word == "usecmap") {
            useCMap(name);
        } else if (word == "begincodespacerange") {
            return section(tokens, word, 2, &CMapBuilder::codespace);
        } else if (word == "begincidrange") {
            return section(tokens, word, 3, &CMapBuilder::cidRange);
        } else if (word == "begincidchar") {
            return section(tokens, word, 2, &CMapBuilder::cidChar);
        } else if (word == "beginbfrange") {
            return section(tokens, word, 3, &CMapBuilder::bfRange);
        } else if (word == "beginbfchar") {
            return section(tokens, word, 2, &CMapBuilder::bfChar);
        }
        return {};
    }

    bool full() const { return m_cids.size() + m_text.size() + m_arrayEntries >= CMap::maxEntries; }

    // Reads the entries of one section up to its end keyword. An entry has `arity` operands
    // (an array counts as one and is collected into the last operand's list); a keyword ends
    // a broken entry. Answers the keyword that starts another section when one cuts this one
    // short, else "".
    std::string_view section(Tokenizer& tokens, std::string_view begin, std::size_t arity,
                             Entry entry) {
        const std::string end = "end" + std::string(begin.substr(5));
        std::vector<CMapToken> operands;
        for (CMapToken token = tokens.next(); token.kind != CMapToken::Kind::End;
             token = tokens.next()) {
            if (token.kind == CMapToken::Kind::Keyword) {
                if (token.text == end || token.text == "endcmap")
                    return {};
                operands.clear();
                if (token.text.substr(0, 5) == "begin")
                    return token.text;  // a section left open: its entries so far count
                continue;
            }
            if (token.kind == CMapToken::Kind::OpenArray) {
                m_array.clear();
                bool closed = false;
                for (CMapToken item = tokens.next(); item.kind != CMapToken::Kind::End;
                     item = tokens.next()) {
                    if (item.kind == CMapToken::Kind::CloseArray) {
                        closed = true;
                        break;
                    }
                    if (item.kind == CMapToken::Kind::Keyword ||
                        item.kind == CMapToken::Kind::OpenArray) {
                        break;
                    }
                    if (m_array.size() < maxArrayItems)
                        m_array.push_back(std::move(item));
                }
                if (!closed) {
                    operands.clear();
                    continue;
                }
                token.kind = CMapToken::Kind::OpenArray;  // stands for m_array
            }
            operands.push_back(std::move(token));
            if (operands.size() == arity) {
                if (!full())
                    (this->*entry)(operands);
                operands.clear();
            }
        }
        return {};
    }

    void codespace(std::vector<CMapToken>& ops) {
        if (!validCode(ops[0]) || !validCode(ops[1]) || ops[0].bytes.size() != ops[1].bytes.size())
            return;
        if (m_codespace.size() >= CMap::maxCodespaceRanges)
            return;
        CMap::CodespaceRange range{};
        range.length = static_cast<std::uint8_t>(ops[0].bytes.size());
        for (std::size_t k = 0; k < range.length; ++k) {
            range.low[k] = static_cast<std::uint8_t>(ops[0].bytes[k]);
            range.high[k] = static_cast<std::uint8_t>(ops[1].bytes[k]);
        }
        m_codespace.push_back(range);
    }

    static bool rangeEnds(const std::vector<CMapToken>& ops, std::uint64_t& low,
                          std::uint64_t& high) {
        if (!validCode(ops[0]) || !validCode(ops[1]) || ops[0].bytes.size() != ops[1].bytes.size())
            return false;
        low = keyOf(ops[0].bytes);
        high = keyOf(ops[1].bytes);
        return low <= high;
    }

    static std::optional<std::uint32_t> number(const CMapToken& token) {
        if (token.kind != CMapToken::Kind::Number)
            return std::nullopt;
        std::uint64_t value = 0;
        for (char c : token.text) {
            if (c < '0' || c > '9' || value > 0xFFFFFFFFu)
                return std::nullopt;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
        return static_cast<std::uint32_t>(value);
    }

    void cidRange(std::vector<CMapToken>& ops) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        const auto cid = number(ops[2]);
        if (rangeEnds(ops, low, high) && cid)
            m_cids.assign(low, high, *cid);
    }

    void cidChar(std::vector<CMapToken>& ops) {
        const auto cid = number(ops[1]);
        if (validCode(ops[0]) && cid) {
            const std::uint64_t key = keyOf(ops[0].bytes);
            m_cids.assign(key, key, *cid);
        }
    }

    // The target's index among the targets; nullopt when it is no UTF-16BE hex string.
    std::optional<std::uint64_t> target(const CMapToken& token) {
        if (token.kind != CMapToken::Kind::Bytes || token.bytes.empty() ||
            token.bytes.size() > 2 * CMap::maxTargetUnits) {
            return std::nullopt;
        }
        std::u16string units;
        // A single byte is taken as one unit (a few producers write <41>).
        if (token.bytes.size() == 1) {
            units.push_back(static_cast<unsigned char>(token.bytes[0]));
        } else {
            for (std::size_t k = 0; k + 1 < token.bytes.size(); k += 2) {
                units.push_back(
                    static_cast<char16_t>(static_cast<unsigned char>(token.bytes[k]) << 8 |
                                          static_cast<unsigned char>(token.bytes[k + 1])));
            }
        }
        m_targets.push_back(std::move(units));
        return static_cast<std::uint64_t>(m_targets.size() - 1) << 32;
    }

    void bfChar(std::vector<CMapToken>& ops) {
        if (!validCode(ops[0]))
            return;
        if (const auto value = target(ops[1])) {
            const std::uint64_t key = keyOf(ops[0].bytes);
            m_text.assign(key, key, *value);
        }
    }

    void bfRange(std::vector<CMapToken>& ops) {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        if (!rangeEnds(ops, low, high))
            return;
        if (ops[2].kind != CMapToken::Kind::OpenArray) {
            if (const auto value = target(ops[2]))
                m_text.assign(low, high, *value);
            return;
        }
        // An array gives one target per code, from the range's start.
        for (std::size_t k = 0; k < m_array.size() && low + k <= high && !full(); ++k) {
            ++m_arrayEntries;
            if (const auto value = target(m_array[k]))
                m_text.assign(low + k, low + k, *value);
        }
    }

    void useCMap(std::string_view name) {
        if (name.empty() || !m_resolver || m_depth >= CMap::maxUseDepth || m_parent)
            return;
        m_parent = m_resolver(name, m_depth + 1);
    }

    static constexpr std::size_t maxArrayItems = 65536;

    const CMapResolver& m_resolver;
    int m_depth;
    std::vector<CMap::CodespaceRange> m_codespace;
    SegmentMap m_cids;
    SegmentMap m_text;
    std::vector<std::u16string> m_targets;
    std::vector<CMapToken> m_array;
    std::size_t m_arrayEntries = 0;  // array items count against the limit even when replaced
    CMapPtr m_parent;
};

CMapPtr CMap::parse(std::string_view text, const CMapResolver& resolver, int depth) {
    return CMapBuilder(resolver, depth).build(text);
}

CharCode CMap::nextCode(std::string_view bytes, std::size_t at, bool& valid) const {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    const std::size_t left = bytes.size() - at;
    valid = false;
    auto valueOf = [&](std::size_t length) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < length; ++k)
            value = value << 8 | p[k];
        return CharCode{value, static_cast<std::uint8_t>(length)};
    };
    if (m_codespace.empty()) {
        const std::size_t length = std::min<std::size_t>(2, left);
        valid = length == 2;
        return valueOf(length);
    }
    std::size_t shortest = 4;
    std::size_t firstByteMatch = 0;
    for (std::size_t length = 1; length <= 4; ++length) {
        for (const CodespaceRange& range : m_codespace) {
            if (range.length != length)
                continue;
            shortest = std::min<std::size_t>(shortest, length);
            if (p[0] < range.low[0] || p[0] > range.high[0])
                continue;
            if (firstByteMatch == 0)
                firstByteMatch = length;
            if (length > left)
                continue;
            bool inside = true;
            for (std::size_t k = 1; k < length && inside; ++k)
                inside = p[k] >= range.low[k] && p[k] <= range.high[k];
            if (inside) {
                valid = true;
                return valueOf(length);
            }
        }
    }
    const std::size_t length = std::min(firstByteMatch ? firstByteMatch : shortest, left);
    return valueOf(length);
}

const CMap::Segment* CMap::findCid(std::uint64_t key) const {
    for (const CMap* map = this; map; map = map->m_parent.get()) {
        if (const Segment* segment = findSegment(map->m_cids, key))
            return segment;
    }
    return nullptr;
}

std::optional<std::uint32_t> CMap::cidOf(CharCode code) const {
    const std::uint64_t key = static_cast<std::uint64_t>(code.length) << 32 | code.value;
    const Segment* segment = findCid(key);
    if (!segment)
        return std::nullopt;
    return static_cast<std::uint32_t>(segment->value + (key - segment->low));
}

const CMap* CMap::findText(std::uint64_t key, const Segment** segment) const {
    for (const CMap* map = this; map; map = map->m_parent.get()) {
        if ((*segment = findSegment(map->m_text, key)) != nullptr)
            return map;
    }
    return nullptr;
}

bool CMap::appendText(CharCode code, std::string& out) const {
    const Segment* segment = nullptr;
    std::uint64_t key = static_cast<std::uint64_t>(code.length) << 32 | code.value;
    const CMap* owner = findText(key, &segment);
    for (std::uint64_t length = 1; !owner && length <= 4; ++length) {
        if (length == code.length || (length < 4 && code.value >> (8 * length) != 0))
            continue;
        key = length << 32 | code.value;
        owner = findText(key, &segment);
    }
    if (!owner)
        return false;
    const std::u16string& units = owner->m_targets[segment->value >> 32];
    // A range adds the code's distance from its start to the last unit of the target.
    const auto offset =
        static_cast<std::uint32_t>((segment->value & 0xFFFFFFFFu) + (key - segment->low));
    for (std::size_t k = 0; k < units.size(); ++k) {
        char32_t unit = units[k];
        if (k + 1 == units.size())
            unit = (unit + offset) & 0xFFFF;
        if (unit >= 0xD800 && unit <= 0xDBFF && k + 1 < units.size()) {
            char32_t low = units[k + 1];
            if (k + 2 == units.size())
                low = (low + offset) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
                ++k;
                continue;
            }
        }
        if ((unit >= 0xD800 && unit <= 0xDFFF) || unit == 0)
            continue;
        appendUtf8(unit, out);
    }
    return true;
}

bool CMap::hasCids() const {
    for (const CMap* map = this; map; map = map->m_parent.get()) {
        if (!map->m_cids.empty())
            return true;
    }
    return false;
}

bool CMap::hasText() const {
    for (const CMap* map = this; map; map = map->m_parent.get()) {
        if (!map->m_text.empty())
            return true;
    }
    return false;
}

}  // namespace ferretta::pdf
