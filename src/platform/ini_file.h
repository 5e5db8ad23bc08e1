#pragma once
// A reader and writer of the Windows private-profile (INI) text format, stored in CP932.
//
//   [Section]
//   Key=Value
//
// Section and key names are compared case-insensitively (ASCII), as the Windows profile
// functions do; blanks around names and values are ignored and one pair of enclosing double
// quotes around a value is dropped on reading. Lines that are neither a section header nor a
// key line (comments, garbage) are kept untouched when the file is rewritten.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferretta::platform {

class IniFile {
public:
    // Reads the file. A missing, unreadable or non-regular file gives an empty document (the
    // profile functions answer their defaults then); never throws. Lines longer than 64 KiB
    // are cut there so that a hostile file cannot cost more memory than its size.
    static IniFile load(const std::filesystem::path& path);

    // Parses INI text given as CP932 bytes.
    static IniFile parse(std::string_view cp932Text);

    // The value of the first key of that name in the first section of that name, as UTF-8;
    // nullopt when the section or key is absent. The value is cut the way a 256-character
    // profile read cuts it: at 255 bytes of its CP932 form (never inside a double-byte
    // character) and then at its first NUL.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Sets a value (UTF-8). An existing key keeps its place and spelling; a new key goes to the
    // end of its section; a new section goes to the end of the document.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // The document as CP932 text with CR LF line ends.
    std::string serialize() const;

    // Writes the document through a temporary file in the same folder that then replaces the
    // target, so a crash or a full disk never leaves half a file. Answers false (and leaves the
    // old file as it was) on any failure.
    bool save(const std::filesystem::path& path) const;

private:
    struct Line {
        std::string raw;      // the line as it stood in the file (CP932), without its end
        std::string section;  // for a header line: the section name; empty otherwise
        std::string key;      // for a key line: the key name (trimmed, CP932); empty otherwise
        std::string value;    // for a key line: the value as read (trimmed, CP932)
        enum class Kind { Other, Section, Key } kind = Kind::Other;
    };
    std::vector<Line> m_lines;
};

}  // namespace ferretta::platform
