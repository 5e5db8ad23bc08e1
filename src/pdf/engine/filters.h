#pragma once
// Stream filters: the decoding of a PDF stream's bytes.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace ferretta::pdf {

// The /DecodeParms of one filter; the defaults are PDF's.
struct DecodeParams {
    int predictor = 1;
    int colors = 1;
    int bitsPerComponent = 8;
    int columns = 1;
    int earlyChange = 1;  // LZWDecode only
};

// One filter of a stream's /Filter entry (a name like "/FlateDecode" or its abbreviation "/Fl").
struct Filter {
    std::string name;
    DecodeParams params;
};

enum class DecodeStatus {
    Ok,           // decoded completely
    Truncated,    // the data ended early or was damaged; `data` holds what could be decoded
    Unsupported,  // a filter this engine does not decode (image filters, crypt); `data` is empty
    TooLarge,     // decoding would exceed the limit; `data` holds the first `limit` bytes
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    std::string data;
};

// Default ceiling for one decoded stream, so that a zip bomb cannot exhaust memory.
inline constexpr std::size_t defaultDecodeLimit = std::size_t{256} << 20;

// Runs the filters in order over the data: /FlateDecode (with PNG and TIFF predictors),
// /ASCIIHexDecode, /ASCII85Decode, /RunLengthDecode, /LZWDecode, and their abbreviations. An
// empty filter list answers the data unchanged. Never throws; never allocates much more than
// `limit` bytes whatever the input.
DecodeResult decodeStream(std::string_view data, std::span<const Filter> filters,
                          std::size_t limit = defaultDecodeLimit);

}  // namespace ferretta::pdf
