#pragma once
// Reading text files: which encoding a file is in, and a buffered line reader over it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::platform {

enum class TextEncoding { Cp932, Utf8, Utf8Bom, Utf16Le, Utf16Be };

// Decides the encoding from the first bytes of a file (callers pass up to 64 KiB): a UTF-8 or
// UTF-16 byte-order mark names its encoding; otherwise bytes that are valid UTF-8 and hold at
// least one multi-byte sequence mean UTF-8 (a sequence cut off at the end of the sample does
// not count against it); everything else is CP932.
TextEncoding detectTextEncoding(std::string_view head);

// The length of the byte-order mark that the encoding starts with (0, 2 or 3).
std::size_t byteOrderMarkLength(TextEncoding encoding);

// Reads a text file line by line. CR LF, LF and a lone CR each end a line; the terminator is
// not part of the line; a last line without terminator is returned too. Lines come back as
// UTF-8 whatever the file's encoding (invalid bytes are replaced, never fatal).
class LineReader {
  public:
    // Opens the file. Throws ferretta::Error (kind FileOpen) naming the file when it
    // cannot be opened for reading; the text-file search lets that travel to its caller.
    explicit LineReader(const std::filesystem::path& path);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    TextEncoding encoding() const { return m_encoding; }

    // True when no further line can be read.
    bool atEndOfStream();

    // The next line as UTF-8. Throws ferretta::Error (kind FileRead) on a read error.
    std::string readLine();

    // The next line as raw bytes in the file's own encoding, without decoding (for CP932 files
    // this is the line's ANSI form). For UTF-16 files the bytes are UTF-16 code units.
    std::string readRawLine();

  private:
    bool fill();
    int m_fd = -1;
    std::filesystem::path m_path;
    TextEncoding m_encoding = TextEncoding::Cp932;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_eof = false;
};

}  // namespace ferretta::platform
