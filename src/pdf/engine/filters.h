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
    // Crypt only (§7.4.10): the crypt filter the stream names; the security handler applies it
    // before the filters run.
    std::string cryptFilter = "Identity";
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
                  // (of a chain: what the later filters made of the first `limit` bytes)
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    std::string data;
};

// Default ceiling for one decoded stream, so that a zip bomb cannot exhaust memory: far above
// any real content stream, and with the two buffers a chain holds at once still far below the
// memory one file may take.
inline constexpr std::size_t defaultDecodeLimit = std::size_t{64} << 20;

// Runs the filters in order over the data: /FlateDecode (with PNG and TIFF predictors),
// /ASCIIHexDecode, /ASCII85Decode, /RunLengthDecode, /LZWDecode (with predictors too), and
// their abbreviations /Fl /AHx /A85 /RL /LZW; the leading slash may be left out. /Crypt is
// passed over (the security handler decrypts before decoding). An empty filter list answers
// the data unchanged.
//
// At the edges: Flate data whose first two bytes are no zlib header is read as bare deflate
// data; a Flate stream that ends early or is damaged (also only in its checksum) is Truncated
// with what was inflated. A missing end marker ('>', "~>", RunLength's 128, LZW's end code) is
// no loss. A character that cannot occur ends the ASCII filters as Truncated, with the bytes
// decoded before it; a final partial row of a predictor is decoded as far as it goes and is
// Truncated, and a PNG row of an unknown type is taken as it is. Any other filter name, a predictor
// other than 1, 2 or 10-15, or /DecodeParms that describe no possible row answer Unsupported with
// no data.
//
// In a chain, each filter's output feeds the next even when Truncated or TooLarge; the answer
// is the worst status met (TooLarge over Truncated over Ok), Unsupported as soon as any filter
// is. Every filter's output is held to `limit` bytes, and at most two of them live at a time.
// Never throws (except std::bad_alloc when even that memory is not there).
DecodeResult decodeStream(std::string_view data, std::span<const Filter> filters,
                          std::size_t limit = defaultDecodeLimit);

}  // namespace ferretta::pdf
