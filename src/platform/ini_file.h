#pragma once
// A reader and writer of the Windows private-profile (INI) text format, stored in CP932.
//
//   [Section]
//   Key=Value
//
// Section and key names are compared case-insensitively (ASCII), as the Windows profile
// functions do; blanks around names and values are ignored and one pair of enclosing quotes
// (" or ') around a value is dropped on reading. Lines that are neither a section header nor a
// key line (comments starting with ';', garbage) are kept untouched when the file is
// rewritten. Keys above the first section header belong to no section and are never found.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ferretta::platform {

class IniFile {
  public:
    // An empty document.
    IniFile() = default;

    // Reads the file. A missing, unreadable or non-regular file gives an empty document (the
    // profile functions answer their defaults then); never throws. Only the first 16 MiB of a
    // larger file are read (a settings file is a few kilobytes; saving such a document keeps
    // only what was read). Lines longer than 64 KiB are cut there, so that a hostile file
    // cannot cost more memory than its size.
    static IniFile load(const std::filesystem::path& path);

    // Parses INI text given as CP932 bytes. CR LF, LF and a lone CR each end a line. Text that
    // starts with a UTF-16 (LE or BE) or UTF-8 byte-order mark is decoded from that encoding
    // first, as Windows reads such files as Unicode; characters without a CP932 form become
    // '?', and the document is written back as CP932.
    static IniFile parse(std::string_view cp932Text);

    // The value of the first key of that name in the first section of that name, as UTF-8;
    // nullopt when the section or key is absent (a key in a second section of the same name
    // is not seen). The value is cut the way a 256-character profile read cuts it: at 255
    // bytes of its CP932 form (never inside a double-byte character) and then at its first NUL.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Sets a value (UTF-8). An existing key keeps its place and spelling; a new key goes after
    // the last key line of its section (or right after the header when it has none); a new
    // section goes to the end of the document. The value is cut at its first line break, and
    // so that the line stays within 64 KiB; a value with blanks at either end or already
    // enclosed in quotes is written inside double quotes, so that it reads back unchanged.
    // Names that could not be read back as written are refused and nothing changes: an empty
    // name, one with blanks at either end, a line break or NUL, a section name holding ']', a
    // key holding '=' or starting with ';' or '['.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // The document as CP932 text with CR LF line ends (every line, the last one too).
    std::string serialize() const;

    // Writes the document through a temporary file in the same folder that then replaces the
    // target, so a crash or a full disk never leaves half a file. A symbolic link is followed
    // and its target replaced; the link stays. An existing file's permission bits are kept.
    // Answers false (and leaves the old file as it was, with no temporary left) on any failure.
    bool save(const std::filesystem::path& path) const;

  private:
    explicit IniFile(std::string text) : m_text(std::move(text)) {}

    // The document in CP932, every line (the last one too) ended by a single '\n'; line ends
    // become CR LF only when written. One flat string rather than a line list keeps a hostile
    // file of millions of tiny lines at the cost of its size; lookups scan it, which for a
    // settings file of a few kilobytes is cheaper than building an index.
    std::string m_text;
};

}  // namespace ferretta::platform
