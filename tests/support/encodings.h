#pragma once
// Encoded forms of text for tests, and glibc's converter as a reference independent of ours.
#include <iconv.h>

#include <optional>
#include <string>
#include <string_view>

namespace ferretta::test {

// The UTF-16 bytes of the text, with the byte-order mark first when asked for.
inline std::string utf16Bytes(std::u16string_view text, bool bigEndian, bool withMark = true) {
    std::string bytes = !withMark ? "" : bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// One glibc iconv converter (ok() false when glibc lacks it).
class GlibcIconv {
  public:
    GlibcIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~GlibcIconv() {
        if (ok())
            iconv_close(m_cd);
    }
    GlibcIconv(const GlibcIconv&) = delete;
    GlibcIconv& operator=(const GlibcIconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted, or nullopt when any of it does not convert.
    std::optional<std::string> operator()(std::string in) const {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* inPtr = in.data();
        char* outPtr = out.data();
        std::size_t inLeft = in.size(), outLeft = out.size();
        if (iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0)
            return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

  private:
    iconv_t m_cd;
};

}  // namespace ferretta::test
