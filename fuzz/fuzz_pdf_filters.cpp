// Fuzzes the stream filters: any bytes through any chain of one or two filters with any
// /DecodeParms must decode within the limit without a crash; and data encoded by the plain
// encoders (hex, run-length, zlib) must decode back to itself.
#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/filters.h"

namespace {

using ferretta::pdf::DecodeResult;
using ferretta::pdf::DecodeStatus;
using ferretta::pdf::Filter;

constexpr std::size_t kLimit = std::size_t{1} << 20;

void expectRoundTrip(std::string_view plain, std::string_view encoded, const char* name) {
    const Filter filter{name, {}};
    const DecodeResult result = ferretta::pdf::decodeStream(encoded, std::span(&filter, 1), kLimit);
    if (result.status != DecodeStatus::Ok || result.data != plain) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    static constexpr std::array<const char*, 8> kNames = {
        "/FlateDecode",     "/LZWDecode", "/ASCIIHexDecode", "/ASCII85Decode",
        "/RunLengthDecode", "/Fl",        "/DCTDecode",      "/A85"};
    static constexpr std::array<int, 9> kPredictors = {1, 2, 10, 11, 12, 13, 14, 15, 3};
    std::vector<Filter> filters;
    for (const unsigned pick : {data[0] & 7u, (data[0] >> 3) & 15u}) {
        if (pick < kNames.size()) {
            Filter filter{kNames[pick], {}};
            filter.params.predictor = kPredictors[data[1] % kPredictors.size()];
            filter.params.colors = 1 + (data[2] & 3);
            filter.params.bitsPerComponent = (data[2] & 0x40) ? 16 : 1 << ((data[2] >> 2) & 3);
            filter.params.columns = 1 + data[3] % 16;
            filter.params.earlyChange = (data[2] >> 7) & 1;
            filters.push_back(filter);
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 4, size - 4);
    const DecodeResult result = ferretta::pdf::decodeStream(bytes, filters, kLimit);
    if (result.data.size() > kLimit && !filters.empty()) {
        std::abort();
    }
    if (result.status == DecodeStatus::Unsupported && !result.data.empty()) {
        std::abort();
    }

    std::string hex;
    std::string runs;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        const auto c = static_cast<unsigned char>(bytes[i]);
        hex += kDigits[c >> 4];
        hex += (i % 7 == 3) ? " \n" : "";
        hex += kDigits[c & 15];
        if (i % 128 == 0) {
            runs += static_cast<char>(std::min<std::size_t>(127, bytes.size() - i - 1));
        }
        runs += bytes[i];
    }
    expectRoundTrip(bytes, hex + ">", "/AHx");
    expectRoundTrip(bytes, runs + "\x80", "/RL");

    uLongf packedSize = compressBound(static_cast<uLong>(bytes.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                  1) == Z_OK) {
        packed.resize(packedSize);
        expectRoundTrip(bytes, packed, "/Fl");
    }
    return 0;
}
