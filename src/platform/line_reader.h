#pragma once
// Reading text files: which encoding a file is in, and a buffered line reader over it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::platform {

enum class TextEncoding { Cp932, Utf8, Utf8Bom, Utf16Le, Utf16Be };

// How many bytes from a file's first non-ASCII byte on decide between UTF-8 and CP932.
inline constexpr std::size_t kEncodingSampleBytes = 4 * 1024;

// The encoding a UTF-8 or UTF-16 byte-order mark at the start of the bytes names, if any.
std::optional<TextEncoding> encodingFromByteOrderMark(std::string_view head);

// UTF-8 or CP932 for a file without byte-order mark, from the bytes that start at its first
// non-ASCII byte (ASCII reads the same in both, so nothing before it counts; callers pass up
// to kEncodingSampleBytes): UTF-8 when they are valid UTF-8 holding at least one whole
// multi-byte sequence (a sequence cut off at the end of the sample does not count against
// it), else CP932.
TextEncoding encodingFromFirstNonAscii(std::string_view sample);

// Both over the first bytes of a file: the encoding, or nullopt while they are all ASCII and
// the encoding is still open.
std::optional<TextEncoding> detectTextEncoding(std::string_view head);

// The offset of the first byte >= 0x80, or npos.
std::size_t firstNonAscii(std::string_view bytes);

// The length of the byte-order mark that the encoding starts with (0, 2 or 3).
std::size_t byteOrderMarkLength(TextEncoding encoding);

// Opens a file for reading without ever waiting: with O_NONBLOCK (a FIFO put in a file's place
// must not wait for a writer), and refusing anything but a regular file once it is open (a
// FIFO, a device or a folder could block a read, feed an endless line or fail). Answers the
// descriptor, which the caller closes, and stores the file's size in `size`. Throws
// ferretta::Error (kind FileOpen) naming the file.
int openRegularFile(const std::filesystem::path& path, std::uint64_t* size = nullptr);

// Reads up to `size` bytes; answers 0 at the end of the file. A read interrupted by a signal
// is tried again unless `stopRequested` (when given) answers true, which ends the reading
// like the end of the file; so does a file that has nothing to give right now (EAGAIN, e.g. a
// kernel message file). Throws ferretta::Error (kind FileRead) naming the file on an error.
std::size_t readSome(int fd, char* buffer, std::size_t size, const std::filesystem::path& path,
                     const std::function<bool()>& stopRequested);

// The most of one line a reader keeps: the rest of a longer line is passed over (a file of
// one endless line must not take the memory of all of it).
inline constexpr std::size_t kMaxLineBytes = 16u << 20;

// Reads a text file line by line. CR LF, LF and a lone CR each end a line; the terminator is
// not part of the line; a last line without terminator is returned too. Lines come back as
// UTF-8 whatever the file's encoding (invalid bytes are replaced, never fatal). Without a
// byte-order mark the encoding is decided at the first line holding a non-ASCII byte, however
// far into the file it is.
class LineReader {
  public:
    // Opens the file (openRegularFile). Throws ferretta::Error (kind FileOpen) naming the file
    // when it cannot be opened for reading; the text-file search lets that travel to its
    // caller. `stopRequested`, when given, is asked every kStopCheckBytes read (however long
    // the line): when it answers true the reading ends there, as at the end of the file.
    explicit LineReader(const std::filesystem::path& path,
                        std::function<bool()> stopRequested = {});
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The encoding as far as it is known: CP932 until a non-ASCII byte decides otherwise.
    TextEncoding encoding() const { return m_encoding; }

    // True when no further line can be read.
    bool atEndOfStream();

    // The next line as UTF-8, at most kMaxLineBytes of the file's bytes of it. Throws
    // ferretta::Error (kind FileRead) on a read error.
    std::string readLine();

    // The next line as raw bytes in the file's own encoding, without decoding (for CP932 files
    // this is the line's ANSI form). For UTF-16 files the bytes are UTF-16 code units.
    std::string readRawLine();

    // Whether the line read last was longer than kMaxLineBytes and cut there.
    bool lineWasCut() const { return m_lineCut; }

    // Whether `stopRequested` ended the reading.
    bool stopped() const { return m_stopped; }

    // How many bytes are read between two questions to `stopRequested`.
    static constexpr std::size_t kStopCheckBytes = 1u << 20;

  private:
    bool fill();
    void decideEncoding(std::string_view rawLine);
    int m_fd = -1;
    std::filesystem::path m_path;
    std::function<bool()> m_stopRequested;
    bool m_lineCut = false;
    bool m_stopped = false;
    std::size_t m_sinceCheck = 0;  // bytes read since stopRequested was asked
    TextEncoding m_encoding = TextEncoding::Cp932;
    bool m_decided = false;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_eof = false;
};

}  // namespace ferretta::platform
