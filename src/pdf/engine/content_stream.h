#pragma once
// The text of a content stream: the string operands of the text-showing operators Tj, TJ, '
// and ", read as a token stream.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/cid_map.h"

namespace ferretta::pdf {

class ContentTextExtractor {
  public:
    explicit ContentTextExtractor(const CidTable& cidTable) : m_cidTable(cidTable) {}

    // The text (UTF-8) of a decoded content stream: the strings shown, in stream order, joined
    // without separators. Literal strings are bytes of CP932 text; hexadecimal strings are
    // 2-byte CIDs of Adobe-Japan1 (one to three trailing digits are ignored). NUL characters
    // and CR LF pairs are removed. Malformed strings (a hex string with a non-hex digit) are
    // skipped; inline image data is stepped over. Never fails; the result is at most a few
    // times the size of the data. The reference stays valid until the next call.
    const std::string& extract(std::string_view data);

    // How many malformed hex strings the last extract skipped.
    std::size_t malformedHexStrings() const { return m_malformed; }

  private:
    struct Operand {
        bool hex;
        std::size_t begin;
        std::size_t end;
    };

    void showOperands();
    void flushBytes();
    std::size_t readLiteral(std::string_view data, std::size_t i);
    std::size_t readHex(std::string_view data, std::size_t i);
    std::size_t skipInlineImage(std::string_view data, std::size_t i);

    const CidTable& m_cidTable;
    std::string m_text;
    std::string m_operandBytes;       // literal bytes and hex digits of the pending operands
    std::vector<Operand> m_operands;  // strings since the last operator
    std::string m_bytes;              // CP932 bytes not yet converted
    std::size_t m_malformed = 0;
};

}  // namespace ferretta::pdf
