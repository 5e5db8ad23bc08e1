#pragma once
// Helpers of the PDF engine tests: a small CID table, temporary files and a builder of PDF
// files with correct offsets.
#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "pdf/engine/fonts/cid_map.h"
#include "platform/cp932.h"
#include "support/temp_tree.h"

namespace ferretta::test {

// A folder for the test program's files, removed at its end.
inline const std::filesystem::path& tempDir() {
    static const TempTree tree;
    return tree.root();
}

inline std::string writeTemp(const std::string& name, const std::string& bytes) {
    const auto path = tempDir() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// zlib's format at level 9; a negative `windowBits` leaves out the header and the checksum.
inline std::string deflate(std::string_view data, int windowBits = MAX_WBITS) {
    z_stream zs{};
    ::deflateInit2(&zs, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(packed.data());
    zs.avail_out = static_cast<uInt>(packed.size());
    ::deflate(&zs, Z_FINISH);
    packed.resize(zs.total_out);
    deflateEnd(&zs);
    return packed;
}

// The bytes as an ASCIIHexDecode stream, its end marker included.
inline std::string hexOf(std::string_view bytes) {
    std::string hex;
    for (const unsigned char c : bytes)
        hex += {"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    return hex + ">";
}

// A plain LZW encoder as PDF writers use it. With `clearWhenFull` false it keeps going with a
// full table, which some writers do.
inline std::string lzwEncode(std::string_view text, int early, bool clearWhenFull = true) {
    std::string out;
    std::uint32_t bits = 0;
    int bitCount = 0;
    unsigned width = 9;
    auto put = [&](unsigned code) {
        bits = bits << width | code;
        bitCount += static_cast<int>(width);
        while (bitCount >= 8) {
            out += static_cast<char>(bits >> (bitCount - 8));
            bitCount -= 8;
        }
    };
    std::map<std::string, unsigned> table;
    unsigned next = 258;
    auto reset = [&] {
        table.clear();
        for (unsigned i = 0; i < 256; ++i)
            table[std::string(1, static_cast<char>(i))] = i;
        next = 258;
        width = 9;
    };
    // The decoder adds each entry one code later than the encoder, hence next - 1.
    auto widthFor = [&](unsigned n) {
        const unsigned x = n - 1 + static_cast<unsigned>(early);
        return x >= 2048 ? 12u : x >= 1024 ? 11u : x >= 512 ? 10u : 9u;
    };
    reset();
    put(256);
    std::string w;
    for (const char c : text) {
        std::string wc = w + c;
        if (table.count(wc)) {
            w = wc;
            continue;
        }
        put(table[w]);
        if (next < 4096)
            table[wc] = next++;
        width = widthFor(next);
        if (next == 4096 && clearWhenFull) {
            put(256);
            reset();
        }
        w = std::string(1, c);
    }
    if (!w.empty()) {
        put(table[w]);
        if (next < 4096)
            ++next;
        width = widthFor(next);
    }
    put(257);
    if (bitCount > 0)
        out += static_cast<char>(bits << (8 - bitCount));
    return out;
}

// The PNG filters as an encoder applies them, to check many rows of each type and width;
// the type of each row is drawn from `seed`.
inline std::string pngEncode(const std::string& plain, std::size_t rowBytes, std::size_t bpp,
                             unsigned seed) {
    std::mt19937 random(seed);
    std::string out;
    for (std::size_t row = 0; row * rowBytes < plain.size(); ++row) {
        const auto* cur = reinterpret_cast<const unsigned char*>(plain.data() + row * rowBytes);
        const unsigned char* up = row > 0 ? cur - rowBytes : nullptr;
        const unsigned type = random() % 5;
        out += static_cast<char>(type);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= bpp ? cur[i - bpp] : 0;
            const int b = up ? up[i] : 0;
            const int c = up && i >= bpp ? up[i - bpp] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b);
            const int paeth = pa <= pb && pa <= std::abs(p - c) ? a : pb <= std::abs(p - c) ? b : c;
            const int pred = std::array{0, a, b, (a + b) / 2, paeth}[type];
            out += static_cast<char>(cur[i] - pred);
        }
    }
    return out;
}

// A CID table where CID 843 is あ, 845 い and 1 a space; every other CID is empty.
inline const pdf::CidTable& testCidTable() {
    static pdf::CidTable table = [] {
        std::string text;
        for (int cid = 1; cid <= pdf::cidTableLastCid; ++cid) {
            if (cid == 1)
                text += " ";
            if (cid == 843)
                text += platform::utf8ToCp932("あ");
            if (cid == 845)
                text += platform::utf8ToCp932("い");
            text += "\r\n";
        }
        const std::string dat = writeTemp("AdobeCID.dat", deflate(text));
        pdf::CidTable t;
        if (!t.p2tCIDInit(dat))
            std::abort();
        return t;
    }();
    return table;
}

// Builds a PDF with a classic cross-reference table from object bodies (without "n 0 obj").
class PdfBuilder {
  public:
    PdfBuilder& object(int number, const std::string& body) {
        m_objects[number] = body;
        return *this;
    }
    PdfBuilder& stream(int number, const std::string& data, const std::string& extra = "") {
        return object(number, "<< /Length " + std::to_string(data.size()) + extra +
                                  " >>\nstream\n" + data + "\nendstream");
    }
    // Catalog 1, page tree 2 with the pages given as object numbers.
    PdfBuilder& pages(const std::string& kids, int count) {
        object(1, "<< /Type /Catalog /Pages 2 0 R >>");
        return object(
            2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
    }
    PdfBuilder& page(int number, const std::string& contents) {
        return object(number, "<< /Type /Page /Parent 2 0 R /Contents " + contents + " >>");
    }
    std::string build(const std::string& trailerExtra = "") const {
        std::string out = "%PDF-1.4\n";
        std::map<int, std::size_t> offsets;
        for (const auto& [n, body] : m_objects) {
            offsets[n] = out.size();
            out += std::to_string(n) + " 0 obj\n" + body + "\nendobj\n";
        }
        const int size = m_objects.empty() ? 1 : m_objects.rbegin()->first + 1;
        const std::size_t xref = out.size();
        out += "xref\n0 " + std::to_string(size) + "\n0000000000 65535 f \n";
        for (int n = 1; n < size; ++n) {
            char row[32];
            std::snprintf(row, sizeof row, "%010zu 00000 %c \n",
                          offsets.count(n) ? offsets.at(n) : 0, offsets.count(n) ? 'n' : 'f');
            out += row;
        }
        out += "trailer\n<< /Size " + std::to_string(size) + " /Root 1 0 R" + trailerExtra +
               " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }

  private:
    std::map<int, std::string> m_objects;
};

}  // namespace ferretta::test
