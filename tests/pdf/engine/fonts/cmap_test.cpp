// CMaps: cutting strings into codes by the codespace ranges, codes to CIDs and to Unicode text,
// usecmap chains, and input built to exhaust the reader.
#include "pdf/engine/fonts/cmap.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace ferretta::pdf {
namespace {

std::string codespace(const std::string& ranges) {
    return "begincmap 1 begincodespacerange " + ranges + " endcodespacerange ";
}

struct Cut {
    std::uint32_t value;
    int length;
    bool valid;
    bool operator==(const Cut&) const = default;
};

std::vector<Cut> cutAll(const CMap& map, const std::string& bytes) {
    std::vector<Cut> out;
    for (std::size_t at = 0; at < bytes.size();) {
        bool valid = false;
        const CharCode code = map.nextCode(bytes, at, valid);
        out.push_back({code.value, code.length, valid});
        if (code.length == 0)
            break;  // would loop
        at += code.length;
    }
    return out;
}

// The generated fonts cut 1- and 2-byte codes by the predefined and embedded CMaps; here what
// a broken string or code space gives.
TEST(CMapCodes, CutByTheCodespaceRanges) {
    const std::string rksj = "<00> <80> <8140> <9FFC> <A0> <DF> <E040> <FCFC>";
    const std::tuple<std::string, std::string, std::vector<Cut>> cases[] = {
        // Ranges are checked byte by byte: 0x8180 lies between 8140 and 9FFC as a number.
        {"<8140> <9F7E>", "\x81\x80", {{0x8180, 2, false}}},
        // A second byte outside: one invalid code of the range's length.
        {rksj, "\x81 A", {{0x8120, 2, false}, {0x41, 1, true}}},
        {rksj, "A\x81", {{0x41, 1, true}, {0x81, 1, false}}},
        // No range has the first byte: the shortest length.
        {"<8140> <9FFC>", "\x20\x41\x81\x40", {{0x2041, 2, false}, {0x8140, 2, true}}},
        {"<00> <7F> <E08080> <EFBFBF> <F0808080> <F7BFBFBF>",
         "a\xE3\x81\x82\xF0\xA0\x80\x8B",
         {{0x61, 1, true}, {0xE38182, 3, true}, {0xF0A0808B, 4, true}}},
        {"", "\x12\x34\x56", {{0x1234, 2, true}, {0x56, 1, false}}},  // no code space
    };
    for (const auto& [ranges, bytes, cuts] : cases)
        EXPECT_EQ(cutAll(*CMap::parse(codespace(ranges)), bytes), cuts) << ranges;
}

std::optional<std::string> textOf(const CMap& map, std::uint32_t value, int length) {
    std::string out;
    if (!map.appendText({value, static_cast<std::uint8_t>(length)}, out))
        return std::nullopt;
    return out;
}

// The forms of bfchar and bfrange are read in the generated PDFs; here their edges.
TEST(CMapText, BfcharAndBfrangeTargets) {
    const std::string toUnicode = codespace("<00> <FF> <0000> <FFFF>") +
                                  "3 beginbfchar\n"
                                  "<01> <0041>\n"
                                  "<0003> <3042>\n"
                                  "<09> <0000>\n"  // NUL is dropped
                                  "<0A> <DC00>\n"  // a lone surrogate is dropped
                                  "<0B> /space\n"  // glyph names are not read
                                  "endbfchar\n"
                                  "3 beginbfrange\n"
                                  "<0010> <0012> <3042>\n"
                                  "<30> <3F> <0030>\n"
                                  "<0100> <01FF> <4E00>\n"  // past the low byte
                                  "endbfrange\n"
                                  "1 beginbfchar <34> <2F08> endbfchar\n"  // overrides the range
                                  "endcmap";
    struct Case {
        std::uint32_t code;
        int length;
        std::optional<std::string> text;
    };
    const std::vector<Case> cases = {
        {0x09, 1, ""},
        {0x0A, 1, ""},
        {0x0B, 1, std::nullopt},
        {0x0013, 2, std::nullopt},
        {0x33, 1, "3"},
        {0x34, 1, "\xE2\xBC\x88"},  // the later bfchar
        {0x35, 1, "5"},
        {0x01FF, 2, "\xE4\xBB\xBF"},  // U+4EFF
        // A code of another length with the same value: ToUnicode CMaps of simple fonts
        // written with 2-byte codes.
        {0x0001, 2, "A"},
        {0x03, 1, "あ"},
        {0x40, 1, std::nullopt},
    };
    const CMapPtr map = CMap::parse(toUnicode);
    EXPECT_TRUE(map->hasText());
    EXPECT_FALSE(map->hasCids());
    for (const Case& c : cases)
        EXPECT_EQ(textOf(*map, c.code, c.length), c.text) << std::hex << c.code;
}

// A resolver over named CMap texts that counts its calls.
struct Library {
    std::map<std::string, std::string> texts;
    int calls = 0;
    CMapResolver resolver() {
        return [this](std::string_view name, int depth) -> CMapPtr {
            ++calls;
            const auto it = texts.find(std::string(name));
            if (it == texts.end())
                return nullptr;
            return CMap::parse(it->second, resolver(), depth);
        };
    }
};

std::optional<std::uint32_t> cid(const CMap& map, std::uint32_t value, int length) {
    return map.cidOf({value, static_cast<std::uint8_t>(length)});
}

// Predefined CMaps, cidrange, usecmap and an embedded CMap's own entries over its parent's
// are read in the generated fonts; here the order of entries and a usecmap loop.
TEST(CMapCids, LaterEntriesWinAndUsecmapLoopsEnd) {
    Library library;
    library.texts["Loop-A"] = "/Loop-B usecmap begincidchar <41> 1 endcidchar";
    library.texts["Loop-B"] = "/Loop-A usecmap begincidchar <42> 2 endcidchar";
    const CMapPtr map = CMap::parse(codespace("<00> <80> <8140> <FCFC>") +
                                    "begincidrange <20> <7E> 231 <8140> <817E> 633 endcidrange "
                                    "begincidchar <8142> 9000 endcidchar endcmap");
    EXPECT_EQ(cid(*map, 0x8142, 2), 9000u);         // the later entry wins
    EXPECT_EQ(cid(*map, 0x8143, 2), 636u);          // the range goes on after it
    EXPECT_EQ(cid(*map, 0x0041, 2), std::nullopt);  // lengths are told apart
    EXPECT_EQ(CMap::parse("/Base-H usecmap")->cidOf({0x41, 1}), std::nullopt);  // no resolver
    // A loop ends at the depth limit; both CMaps' entries are found.
    const CMapPtr loop = CMap::parse(library.texts["Loop-A"], library.resolver());
    EXPECT_EQ(cid(*loop, 0x41, 1), 1u);
    EXPECT_EQ(cid(*loop, 0x42, 1), 2u);
    EXPECT_LE(library.calls, CMap::maxUseDepth);
}

TEST(CMapHostile, HugeInputStaysBounded) {
    // A range over every 4-byte code costs one entry.
    const CMapPtr all = CMap::parse("begincidrange <00000000> <FFFFFFFF> 0 endcidrange");
    EXPECT_EQ(all->entryCount(), 1u);
    EXPECT_EQ(all->cidOf({0xFFFFFFFF, 4}), 0xFFFFFFFFu);

    // A section left open keeps the entries read so far.
    EXPECT_EQ(CMap::parse("begincidchar <41> 7 <42> begincidchar <43> 8")->entryCount(), 2u);

    // An array longer than its range, and an array far longer than any limit.
    std::string longArray = "beginbfrange <00> <02> [";
    for (int k = 0; k < 100000; ++k)
        longArray += "<0041>";
    longArray += "] endbfrange";
    EXPECT_EQ(CMap::parse(longArray)->entryCount(), 3u);
}

}  // namespace
}  // namespace ferretta::pdf
