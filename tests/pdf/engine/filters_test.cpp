#include "pdf/engine/filters.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "pdf/engine/pdf_test_support.h"

namespace ferretta::pdf {
namespace {

using namespace std::string_literals;

std::vector<Filter> chain(std::initializer_list<const char*> names) {
    std::vector<Filter> filters;
    for (const char* name : names)
        filters.push_back({name, {}});
    return filters;
}

DecodeResult decode(std::string_view data, const char* name, DecodeParams params = {},
                    std::size_t limit = defaultDecodeLimit) {
    const Filter filter{name, params};
    return decodeStream(data, std::span(&filter, 1), limit);
}

// Some text that compresses well and has every byte value.
std::string sampleText(std::size_t size, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) {
        if (random() % 4 == 0) {
            text += static_cast<char>(random());
        } else {
            text += "BT /F1 12 Tf (Hello) Tj ET\n"s.substr(0, random() % 27);
        }
    }
    text.resize(size);
    return text;
}

struct Vector {
    const char* filter;
    std::string input;
    DecodeStatus status;
    std::string output;
};

TEST(Filters, KnownVectors) {
    const std::string hello = "Hello, Ferretta!";
    const std::string helloZ = test::deflate(hello);
    const std::vector<Vector> vectors = {
        // ASCIIHexDecode
        {"/ASCIIHexDecode", "48 65\n6C6c\t6F>", DecodeStatus::Ok, "Hello"},
        {"/AHx", "414>", DecodeStatus::Ok, "A@"},
        {"/AHx", "41>42", DecodeStatus::Ok, "A"},
        {"/AHx", ">", DecodeStatus::Ok, ""},
        {"/AHx", "41 4x 42>", DecodeStatus::Truncated, "A@"},
        // ASCII85Decode
        {"/ASCII85Decode", "87cURD]i,\"Ebo7~>", DecodeStatus::Ok, "Hello World"},
        {"/A85", "<~87cURD]i,\"Ebo7~>", DecodeStatus::Ok, "Hello World"},
        {"/A85", "z@:E^~>", DecodeStatus::Ok, "\0\0\0\0abc"s},
        {"/A85", "s8W-!~>", DecodeStatus::Ok, "\xFF\xFF\xFF\xFF"},
        {"/A85", "87cUR", DecodeStatus::Ok, "Hell"},
        {"/A85", "87cURD]i,\"Ebo7~>junk", DecodeStatus::Ok, "Hello World"},
        {"/A85", "s8W-\"~>", DecodeStatus::Truncated, ""},      // more than 2^32 - 1
        {"/A85", "87cURD~>", DecodeStatus::Truncated, "Hell"},  // one lone final character
        {"/A85", "87zUR~>", DecodeStatus::Truncated, ""},       // z inside a group
        // RunLengthDecode, in octal escapes (a hexadecimal one would swallow the letters)
        {"/RunLengthDecode", "\002abc\375x\200ignored"s, DecodeStatus::Ok, "abcxxxx"},
        {"/RL", "\000a\201b"s, DecodeStatus::Ok, "a" + std::string(128, 'b')},
        {"/RL", "\005ab", DecodeStatus::Truncated, "ab"},
        {"/RL", "\001ab\377", DecodeStatus::Truncated, "ab"},
        {"/RL", "", DecodeStatus::Ok, ""},
        // FlateDecode
        {"/FlateDecode", helloZ, DecodeStatus::Ok, hello},
        {"/Fl", helloZ + "\r\nendstream", DecodeStatus::Ok, hello},          // bytes after the end
        {"/Fl", test::deflate(hello, -MAX_WBITS), DecodeStatus::Ok, hello},  // no zlib header
        {"/Fl", "", DecodeStatus::Truncated, ""},
        // LZWDecode: the example of the PDF reference, EarlyChange 1
        {"/LZWDecode", "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01", DecodeStatus::Ok, "-----A---B"},
        {"/LZW", "\xFF\xFF", DecodeStatus::Truncated, ""},  // first code not a byte
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(std::string(v.filter) + " " + v.input);
        const DecodeResult result = decode(v.input, v.filter);
        EXPECT_EQ(result.status, v.status);
        EXPECT_EQ(result.data, v.output);
    }
}

TEST(Filters, FlateDamage) {
    const std::string text = sampleText(200000);
    const std::string packed = test::deflate(text);

    const DecodeResult cut = decode(packed.substr(0, packed.size() / 2), "/FlateDecode");
    EXPECT_EQ(cut.status, DecodeStatus::Truncated);
    EXPECT_GT(cut.data.size(), text.size() / 4);  // what was inflated is kept
    EXPECT_EQ(cut.data, text.substr(0, cut.data.size()));

    std::string badCheck = packed;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    const DecodeResult checked = decode(badCheck, "/FlateDecode");
    EXPECT_EQ(checked.status, DecodeStatus::Truncated);
    EXPECT_EQ(checked.data, text);

    std::string damaged = packed;
    for (std::size_t i = packed.size() / 3; i < packed.size() / 3 + 64; ++i)
        damaged[i] = '\xFF';
    const DecodeResult broken = decode(damaged, "/FlateDecode");
    EXPECT_EQ(broken.status, DecodeStatus::Truncated);
    EXPECT_LE(broken.data.size(), defaultDecodeLimit);
}

TEST(Filters, LzwRoundTrips) {
    // Long enough to fill the 4096-entry table several times.
    const std::vector<std::string> texts = {"", "a", std::string(5000, 'x'), sampleText(120000),
                                            sampleText(50000, 7)};
    for (const int early : {0, 1}) {
        for (const bool clearWhenFull : {true, false}) {
            for (const std::string& text : texts) {
                SCOPED_TRACE(testing::Message() << "early " << early << " clear " << clearWhenFull
                                                << " size " << text.size());
                DecodeParams params;
                params.earlyChange = early;
                const DecodeResult result =
                    decode(test::lzwEncode(text, early, clearWhenFull), "/LZWDecode", params);
                EXPECT_EQ(result.status, DecodeStatus::Ok);
                EXPECT_EQ(result.data, text);
            }
        }
    }
}

struct PredictorVector {
    const char* name;
    DecodeParams params;
    std::string rows;  // before the filter
    DecodeStatus status;
    std::string output;
};

DecodeParams shape(int predictor, int colors, int bpc, int columns) {
    DecodeParams p;
    p.predictor = predictor;
    p.colors = colors;
    p.bitsPerComponent = bpc;
    p.columns = columns;
    return p;
}

TEST(Filters, PredictorVectors) {
    // The row types themselves are checked against pngEncode below; here the edges, and the
    // same predictors behind LZW.
    const std::vector<PredictorVector> vectors = {
        {"png unknown row type", shape(10, 1, 8, 2), "\x07\x01\x02"s, DecodeStatus::Ok,
         "\x01\x02"s},
        {"png partial row", shape(11, 1, 8, 3), "\x01\x01\x01\x01\x01\x01\x01"s,
         DecodeStatus::Truncated, "\x01\x02\x03\x01\x02"s},
        {"png only a type byte", shape(10, 1, 8, 3), "\x00\x01\x02\x03\x00"s,
         DecodeStatus::Truncated, "\x01\x02\x03"s},
        {"tiff 8 bit rgb", shape(2, 3, 8, 2), "\x01\x02\x03\x01\x01\x01"s, DecodeStatus::Ok,
         "\x01\x02\x03\x02\x03\x04"s},
        {"tiff 16 bit", shape(2, 1, 16, 2), "\x00\xFF\x00\x02"s, DecodeStatus::Ok,
         "\x00\xFF\x01\x01"s},
        {"tiff 1 bit", shape(2, 1, 1, 8), "\x80"s, DecodeStatus::Ok, "\xFF"s},
        {"tiff 2 bit, two colours", shape(2, 2, 2, 2), "\x6D"s, DecodeStatus::Ok, "\x63"s},
        {"tiff partial row", shape(2, 1, 8, 3), "\x01\x01\x01\x01\x01"s, DecodeStatus::Truncated,
         "\x01\x02\x03\x01\x02"s},
        {"no predictor", shape(1, 7, 3, 0), "\x01\x02"s, DecodeStatus::Ok, "\x01\x02"s},
        {"unknown predictor", shape(5, 1, 8, 1), "\x01\x02"s, DecodeStatus::Unsupported, ""},
        {"bad bits", shape(12, 1, 3, 1), "\x01\x02"s, DecodeStatus::Unsupported, ""},
        {"no colours", shape(2, 0, 8, 1), "\x01\x02"s, DecodeStatus::Unsupported, ""},
        {"no columns", shape(12, 1, 8, 0), "\x01\x02"s, DecodeStatus::Unsupported, ""},
        {"huge rows", shape(12, 32, 16, 2147483647), "\x00\x01\x02"s, DecodeStatus::Truncated,
         "\x01\x02"s},
    };
    for (const PredictorVector& v : vectors) {
        SCOPED_TRACE(v.name);
        const DecodeResult flate = decode(test::deflate(v.rows), "/FlateDecode", v.params);
        EXPECT_EQ(flate.status, v.status);
        EXPECT_EQ(flate.data, v.output);
        DecodeParams lzwParams = v.params;
        const DecodeResult lzw = decode(test::lzwEncode(v.rows, 1), "/LZWDecode", lzwParams);
        EXPECT_EQ(lzw.status, v.status);
        EXPECT_EQ(lzw.data, v.output);
    }
}

TEST(Filters, PngRowsOfEveryTypeRoundTrip) {
    for (const int colors : {1, 3, 4}) {
        for (const int bpc : {1, 8, 16}) {
            const int columns = 37;
            const std::size_t bits = static_cast<std::size_t>(colors * bpc * columns);
            const std::size_t rowBytes = (bits + 7) / 8;
            const std::size_t bpp =
                std::max<std::size_t>(1, static_cast<std::size_t>(colors * bpc) / 8);
            const std::string plain =
                sampleText(rowBytes * 50, static_cast<unsigned>(colors * bpc));
            const std::string encoded = test::pngEncode(plain, rowBytes, bpp, 3);
            const DecodeResult result =
                decode(test::deflate(encoded), "/Fl", shape(15, colors, bpc, columns));
            EXPECT_EQ(result.status, DecodeStatus::Ok) << colors << " " << bpc;
            EXPECT_EQ(result.data, plain) << colors << " " << bpc;
        }
    }
}

TEST(Filters, NamesAndChains) {
    for (const char* name : {"/DCTDecode", "/DCT", "/JPXDecode", "/CCITTFaxDecode", "/CCF",
                             "/JBIG2Decode", "/Unknown", "", "/flatedecode"}) {
        const DecodeResult result = decode("data", name);
        EXPECT_EQ(result.status, DecodeStatus::Unsupported) << name;
        EXPECT_TRUE(result.data.empty()) << name;
    }
    EXPECT_EQ(decode("41>", "AHx").data, "A");         // the slash is optional
    EXPECT_EQ(decode("data", "/Crypt").data, "data");  // decrypted before the filters run

    const DecodeResult none = decodeStream("as is", {});
    EXPECT_EQ(none.status, DecodeStatus::Ok);
    EXPECT_EQ(none.data, "as is");

    const std::string text = sampleText(10000);
    const DecodeResult chained =
        decodeStream(test::hexOf(test::deflate(text)), chain({"/AHx", "/Fl"}));
    EXPECT_EQ(chained.status, DecodeStatus::Ok);
    EXPECT_EQ(chained.data, text);

    // A damaged first stage still feeds what it decoded to the next.
    const DecodeResult partial = decodeStream("02616263FD78 80 zz>", chain({"/AHx", "/RL"}));
    EXPECT_EQ(partial.status, DecodeStatus::Truncated);
    EXPECT_EQ(partial.data, "abcxxxx");

    EXPECT_EQ(decodeStream("41>", chain({"/AHx", "/RL", "/DCTDecode"})).status,
              DecodeStatus::Unsupported);
}

// Every filter stops exactly at the limit, its buffer no larger; a bomb of hundreds of
// megabytes in a real file is pdf_bombs_check's, under a memory limit.
TEST(Filters, LimitIsExact) {
    const std::string text = sampleText(5000);
    const std::string hex = test::hexOf(text);
    const std::string rl = "\x7F" + text.substr(0, 128) + "\x81" + "q";  // 128 + 128 bytes
    const std::string rlText = text.substr(0, 128) + std::string(128, 'q');
    struct Case {
        const char* filter;
        std::string input;
        std::string output;
    };
    const std::vector<Case> cases = {
        {"/Fl", test::deflate(text), text},
        {"/LZW", test::lzwEncode(text, 1), text},
        {"/AHx", hex, text},
        {"/RL", rl, rlText},
        {"/A85", "z", "\0\0\0\0"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        const DecodeResult exact = decode(c.input, c.filter, {}, c.output.size());
        EXPECT_EQ(exact.status, DecodeStatus::Ok);
        EXPECT_EQ(exact.data, c.output);
        const DecodeResult over = decode(c.input, c.filter, {}, c.output.size() - 1);
        EXPECT_EQ(over.status, DecodeStatus::TooLarge);
        EXPECT_EQ(over.data, c.output.substr(0, c.output.size() - 1));
        EXPECT_LE(over.data.capacity(), std::max<std::size_t>(c.output.size(), 30));
    }
}

}  // namespace
}  // namespace ferretta::pdf
