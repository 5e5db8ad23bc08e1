#pragma once
// A reader and writer of the Windows private-profile (INI) text format.
//
//   [Section]
//   Key=Value
//
// Section and key names are compared case-insensitively (ASCII), as the Windows profile
// functions do; blanks around names and values are ignored and one pair of enclosing quotes
// (" or ') around a value is dropped on reading. Keys above the first section header belong to
// no section and are never found.
//
// The document is kept as the file's own bytes: a save changes the lines of the keys that were
// set and adds lines for new ones; every other byte (comments, garbage, blank lines, line ends,
// a byte-order mark) stays exactly as it was. The file's encoding is kept: CP932 (the ANSI code
// page of the systems the format comes from), or, named by a byte-order mark, UTF-8 or UTF-16
// LE or BE.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ferretta::platform {

class IniFile {
  public:
    enum class Encoding { Cp932, Utf8Bom, Utf16Le, Utf16Be };

    // Why a save did not write the file.
    struct SaveFailure {
        enum class Reason {
            ReadOnly,      // the file has no write permission: it is left alone
            NotReadWhole,  // the file could not be read whole when loaded: never written over
            WriteFailed,   // creating, writing or renaming the new file failed (error says why)
        };
        Reason reason;
        int error = 0;  // errno of WriteFailed
    };

    // An empty CP932 document.
    IniFile() = default;

    // Reads the file. A missing file gives an empty document. A file that cannot be read
    // (no permission, not a regular file, an error while reading) also gives an empty
    // document, and one larger than 16 MiB gives its first 16 MiB; neither is ever saved over
    // that file (SaveFailure NotReadWhole), so nothing the reader did not see is lost. Never
    // throws.
    static IniFile load(const std::filesystem::path& path);

    // Parses the bytes of a file. A byte-order mark names the encoding (UTF-16 LE or BE,
    // UTF-8); without one the file is CP932, as Windows reads it. CR LF, LF and a lone CR each
    // end a line.
    static IniFile parse(std::string_view bytes);

    // The value of the first key of that name in the first section of that name, as UTF-8;
    // nullopt when the section or key is absent (a key in a second section of the same name
    // is not seen). The value is cut the way a 256-character profile read cuts it: in a CP932
    // file at 255 bytes (never inside a double-byte character), in a Unicode file at 255
    // UTF-16 units (never inside a surrogate pair); then at its first NUL. Bytes that are no
    // valid text become U+FFFD (or the CP932 file's fallback characters).
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // Whether the document has a section of that name (any case), with keys or without.
    bool hasSection(std::string_view section) const;

    // Sets a value (UTF-8). An existing key keeps its place and spelling; a new key goes after
    // the last key line of its section (or right after the header when it has none); a new
    // section goes to the end of the document. New lines end like the document's first line
    // (CR LF when it has none). The value is cut at its first line break; a value with blanks
    // at either end or already enclosed in quotes is written inside double quotes, so that it
    // reads back unchanged. A value with characters that CP932 lacks turns a CP932 document
    // into UTF-8 with a byte-order mark (every other line keeps its text), so that nothing is
    // written as '?'; a document whose bytes are not clean CP932 stays CP932 and gets '?'.
    // Names that could not be read back as written are refused and nothing changes: an empty
    // name, one with blanks at either end, a line break or NUL, a section name holding ']', a
    // key holding '=' or starting with ';' or '['.
    void set(std::string_view section, std::string_view key, std::string_view value);

    // The file's bytes.
    const std::string& serialize() const { return m_bytes; }
    Encoding encoding() const { return m_encoding; }

    // Writes the document through a temporary file in the same folder that then replaces the
    // target, so a crash or a full disk never leaves half a file. A symbolic link is followed
    // and its target replaced; the link stays. An existing file's permission bits are kept.
    // Nothing is written when the document is the file it was loaded from, unchanged. Answers
    // nullopt when the file holds the document; otherwise why not (the old file is then as it
    // was, with no temporary left): a read-only target, a file that was not read whole, a
    // failed write.
    std::optional<SaveFailure> save(const std::filesystem::path& path) const;

  private:
    IniFile(std::string bytes, Encoding encoding)
        : m_bytes(std::move(bytes)), m_encoding(encoding) {}

    std::string m_bytes;
    Encoding m_encoding = Encoding::Cp932;
    // Where the document was loaded from, and whether set changed it since.
    std::filesystem::path m_loadedFrom;
    bool m_changed = false;
    // The file at m_loadedFrom was not read whole: it must never be replaced by this document.
    bool m_partial = false;
};

}  // namespace ferretta::platform
