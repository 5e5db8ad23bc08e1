// Parses arbitrary bytes as an INI document, then reads, writes, serializes and re-parses it,
// checking what must hold whatever the input: the bytes come back unchanged, a value set reads
// back (cut as a profile read cuts it), other keys and the number of lines stay.
//
// Input layout: byte 0 picks the section name, byte 1 the key name, byte 2 the value length,
// byte 3 flags; then the value bytes; the rest is the document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cp932.h"
#include "platform/ini_file.h"
#include "platform/unicode.h"

namespace {

using ferretta::platform::IniFile;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Names built from characters that are all writable: ASCII letters of both cases, a digit, and
// kana whose trail bytes are '\', ']', 'A' and 'a' in CP932.
std::string nameFrom(std::uint8_t selector) {
    static constexpr std::string_view kParts[] = {"a",
                                                  "B",
                                                  "c",
                                                  "D",
                                                  "7",
                                                  "_",
                                                  "\xE3\x82\xBD" /* ソ */,
                                                  "\xE3\x82\xBE" /* ゾ */,
                                                  "\xE3\x82\xA2" /* ア */,
                                                  "\xE3\x83\x82" /* ヂ */,
                                                  "Dir",
                                                  "keyword"};
    constexpr std::size_t kCount = sizeof(kParts) / sizeof(kParts[0]);
    std::string name(kParts[selector % kCount]);
    name += kParts[(selector / kCount) % kCount];
    return name;
}

std::string flipAsciiCase(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

// What reading back a value written by set must give, worked out independently of the reader.
std::string expectedReadBack(std::string_view utf8Value, bool cp932) {
    using namespace ferretta::platform;
    if (cp932) {
        std::string v = utf8ToCp932(utf8Value);
        v = v.substr(0, v.find_first_of("\r\n"));
        std::size_t keep = 0;
        while (keep < v.size()) {
            const bool pair =
                isCp932LeadByte(static_cast<unsigned char>(v[keep])) && keep + 1 < v.size();
            const std::size_t next = keep + (pair ? 2 : 1);
            if (next > 255)
                break;
            keep = next;
        }
        v.resize(keep);
        return cp932ToUtf8(v.substr(0, v.find('\0')));
    }
    std::u16string units = utf8ToUtf16(utf8Value.substr(0, utf8Value.find_first_of("\r\n")));
    std::size_t keep = units.size() < 255 ? units.size() : 255;
    if (keep < units.size() && units[keep - 1] >= 0xD800 && units[keep - 1] <= 0xDBFF)
        --keep;
    units.resize(keep);
    return utf16ToUtf8(units.substr(0, units.find(u'\0')));
}

// Line ends in a byte-encoded document (CR LF counting once); UTF-16 documents answer 0.
std::size_t countLines(const IniFile& ini) {
    if (ini.encoding() == IniFile::Encoding::Utf16Le ||
        ini.encoding() == IniFile::Encoding::Utf16Be) {
        return 0;
    }
    const std::string& s = ini.serialize();
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' || (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')))
            ++n;
    }
    return n;
}

void checkReadValue(const std::optional<std::string>& value) {
    if (value) {
        check(ferretta::platform::isValidUtf8(*value));
        check(value->find('\0') == std::string::npos);
        check(ferretta::platform::utf8ToUtf16(*value).size() <= 255);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return 0;
    const std::string section = nameFrom(data[0]);
    const std::string key = nameFrom(data[1]);
    const std::size_t valueLength = data[2] < size - 4 ? data[2] : size - 4;
    const std::uint8_t flags = data[3];
    const std::string_view value(reinterpret_cast<const char*>(data) + 4, valueLength);
    const std::string_view text(reinterpret_cast<const char*>(data) + 4 + valueLength,
                                size - 4 - valueLength);

    IniFile ini = IniFile::parse(text);
    check(ini.serialize() == text);

    const std::optional<std::string> before = ini.get(section, key);
    checkReadValue(before);
    check(ini.get(flipAsciiCase(section), key) == before);

    // A key of another name (ASCII names never equal a kana-bearing one) must not change.
    const std::string otherKey = key == "Dir" ? "keyword" : "Dir";
    const std::optional<std::string> otherBefore = ini.get(section, otherKey);
    const std::size_t linesBefore = countLines(ini);
    const bool wasCp932 = ini.encoding() == IniFile::Encoding::Cp932;

    if ((flags & 1) != 0) {
        // Arbitrary names and a value of raw bytes: refused or written, never harmful.
        ini.set(value, std::string_view(text).substr(0, flags >> 4), value);
        checkReadValue(ini.get(value, std::string_view(text).substr(0, flags >> 4)));
        return 0;
    }

    ini.set(section, key, value);
    const std::string second = ini.serialize();
    const IniFile written = IniFile::parse(second);
    check(written.encoding() == ini.encoding());
    check(wasCp932 || ini.encoding() != IniFile::Encoding::Cp932);
    if (countLines(ini) != 0 && (wasCp932 == (ini.encoding() == IniFile::Encoding::Cp932))) {
        const std::size_t added = countLines(ini) - linesBefore;
        check(before ? added == 0 : added <= 3);  // a line end for an unended last line too
    }
    check(written.get(flipAsciiCase(section), flipAsciiCase(key)) ==
          expectedReadBack(value, ini.encoding() == IniFile::Encoding::Cp932));
    check(written.get(section, otherKey) == otherBefore);

    // Writing the same value again changes nothing.
    ini.set(flipAsciiCase(section), key, value);
    check(ini.serialize() == second);
    return 0;
}
