// Parses arbitrary bytes as an INI document, then reads, writes, serializes and re-parses it,
// checking what must hold whatever the input: serializing is stable, a value set reads back
// (cut as a profile read cuts it), and nothing but the one line changes.
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
std::string expectedReadBack(std::string_view utf8Value) {
    std::string v = ferretta::platform::utf8ToCp932(utf8Value);
    v = v.substr(0, v.find_first_of("\r\n"));
    std::size_t keep = 0;
    while (keep < v.size()) {
        const bool pair =
            ferretta::platform::isCp932LeadByte(static_cast<unsigned char>(v[keep])) &&
            keep + 1 < v.size();
        const std::size_t next = keep + (pair ? 2 : 1);
        if (next > 255) {
            break;
        }
        keep = next;
    }
    v.resize(keep);
    v = v.substr(0, v.find('\0'));
    return ferretta::platform::cp932ToUtf8(v);
}

std::size_t countLines(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s) {
        n += c == '\n' ? 1 : 0;
    }
    return n;
}

// Every line ends with CR LF and holds no other CR or LF; no line is longer than 64 KiB.
void checkWellFormed(std::string_view s) {
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            check(i + 1 < s.size() && s[i + 1] == '\n');
            check(i - lineStart <= 64 * 1024);
            ++i;
            lineStart = i + 1;
        } else {
            check(s[i] != '\n');
        }
    }
    check(lineStart == s.size());
}

void checkReadValue(const std::optional<std::string>& value) {
    if (value) {
        check(ferretta::platform::isValidUtf8(*value));
        check(value->find('\0') == std::string::npos);
        check(ferretta::platform::utf8ToCp932(*value).size() <= 255);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        IniFile::parse(std::string_view(reinterpret_cast<const char*>(data), size)).serialize();
        return 0;
    }
    const std::string section = nameFrom(data[0]);
    const std::string key = nameFrom(data[1]);
    const std::size_t valueLength = data[2] < size - 4 ? data[2] : size - 4;
    const std::uint8_t flags = data[3];
    const std::string_view value(reinterpret_cast<const char*>(data) + 4, valueLength);
    const std::string_view text(reinterpret_cast<const char*>(data) + 4 + valueLength,
                                size - 4 - valueLength);

    IniFile ini = IniFile::parse(text);
    const std::string first = ini.serialize();
    checkWellFormed(first);
    const IniFile reparsed = IniFile::parse(first);
    check(reparsed.serialize() == first);

    const std::optional<std::string> before = ini.get(section, key);
    checkReadValue(before);
    check(reparsed.get(flipAsciiCase(section), key) == before);

    // A key of another name (ASCII names never equal a kana-bearing one) must not change.
    const std::string otherKey = key == "Dir" ? "keyword" : "Dir";
    const std::optional<std::string> otherBefore = ini.get(section, otherKey);

    if ((flags & 1) != 0) {
        // Arbitrary names and a value of raw bytes: refused or written, never harmful.
        ini.set(value, std::string_view(text).substr(0, flags >> 4), value);
        checkWellFormed(ini.serialize());
        checkReadValue(ini.get(value, std::string_view(text).substr(0, flags >> 4)));
        return 0;
    }

    ini.set(section, key, value);
    const std::string second = ini.serialize();
    checkWellFormed(second);
    const std::size_t added = countLines(second) - countLines(first);
    check(before ? added == 0 : (added == 1 || added == 2));

    const IniFile written = IniFile::parse(second);
    check(written.serialize() == second);
    check(written.get(flipAsciiCase(section), flipAsciiCase(key)) == expectedReadBack(value));
    check(written.get(section, otherKey) == otherBefore);

    // Writing the same value again changes nothing.
    ini.set(flipAsciiCase(section), key, value);
    check(ini.serialize() == second);
    return 0;
}
