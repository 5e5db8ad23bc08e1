#pragma once
// The byte reader through which the engine reads everything but the inside of streams:
// cross-reference tables, trailers and object dictionaries, cut into tokens by the lexer.
//
// The file is read through a window buffer with pread, or held in memory by the caller. An
// object kept inside an object stream is read from its decoded buffer instead, limited to
// that object's bytes. Positions are offsets into the current source; a saved Position
// remembers its source, so recursion that wanders into an object stream comes back to the
// right place.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/engine/lexer.h"

namespace ferretta::pdf {

// The whole token as a decimal integer (an optional sign, then digits) within [low, high].
// Throws ferretta::Error (Kind::Other) for anything else: "R", "obj", "", "1.5", too large.
std::int64_t tokenToInt(std::string_view token, std::int64_t low, std::int64_t high);
std::int32_t tokenToInt32(std::string_view token);
// Whether the token is an integer of at most 11 characters (a sign included).
bool isIntegerToken(std::string_view token);

class PdfReader {
  public:
    struct Position {
        std::shared_ptr<const std::string> memory;  // null: the file
        std::size_t memoryBegin = 0;
        std::size_t memoryEnd = 0;
        std::int64_t offset = 0;
    };

    PdfReader();
    ~PdfReader();
    PdfReader(const PdfReader&) = delete;
    PdfReader& operator=(const PdfReader&) = delete;

    // Opens the file for reading and makes it the source. Throws ferretta::Error (FileOpen)
    // when it cannot be opened. A file opened before is closed first.
    void open(const std::string& path);
    // Makes bytes held by the caller the file (they must stay until close()).
    void openMemory(std::string_view bytes);
    // Closes the file (no-op when none is open) and drops any memory source.
    void close();

    // Makes bytes [begin, end) of a decoded buffer the source; offset 0 is its first byte.
    void useMemory(std::shared_ptr<const std::string> data, std::size_t begin, std::size_t end);
    // Makes the file the source again, at the offset it had when it was last the source.
    void useFile();
    bool inMemory() const { return m_memory != nullptr; }

    Position save() const;
    // Returns to a saved position (and its source).
    void restore(const Position& position);

    // The length of the file (not of a memory source).
    std::int64_t p2tGetFileLength() const { return m_fileLength; }

    // When 0 <= pos < length of the source: places the cursor on pos and answers true. In the
    // file, a pos of 0 is changed to 1 in the caller's variable first (offset 0 is never
    // reachable by a seek). Otherwise answers false and leaves the cursor where it was.
    bool p2tSeek(std::int64_t& pos);
    // Seeks to the last byte of the source.
    bool p2tSeekLast();
    // Seeks back n bytes; a target below 0 is raised to 0 (and so lands at 1 in the file). The
    // target is written back into n.
    bool p2tSeekBack(std::int64_t& n);
    std::int64_t p2tGetPosition() const { return m_base + static_cast<std::int64_t>(m_index); }
    bool p2tIsEOF() const { return p2tGetPosition() >= m_sourceLength; }

    // The byte at the cursor, advancing by one; 0 at or past the end (no failure).
    unsigned char p2tGetByte() {
        if (m_index < m_length)
            return static_cast<unsigned char>(m_data[m_index++]);
        return slowGetByte();
    }
    // Exactly `count` bytes from the cursor (fewer at the end of the source), advancing past
    // them. Throws ferretta::Error (FileRead) when the file cannot be read.
    std::string p2tGetBytes(std::int64_t count);

    // The next token with the original reader's separators (blank, CR, LF; see
    // Separators::Design), as its bytes in the file (a string with its delimiters). The view
    // stays valid until the next call; a token longer than maxTokenLength keeps its first
    // maxTokenLength bytes. The empty token means the end of the source was reached. Throws
    // ferretta::Error (Kind::Other) when the token budget is used up, so that no hostile file
    // can keep the engine busy for long.
    std::string_view p2tGetToken();
    // The next token with ISO 32000's separators, its text as p2tGetToken's; string bytes
    // (at most maxStringBytes of each) are appended to `strings` when it is not null. Throws
    // as p2tGetToken.
    Token nextToken(std::string* strings = nullptr);

    void setTokenBudget(std::int64_t tokens) { m_tokenBudget = tokens; }

    static constexpr std::size_t maxTokenLength = 4096;
    static constexpr std::size_t windowSize = 64 * 1024;
    // A token longer than this (a string in a dictionary) is cut here: no window grows
    // beyond it.
    static constexpr std::size_t maxWindowSize = std::size_t{16} << 20;
    static constexpr std::size_t maxStringBytes = 64 * 1024;

  private:
    Token lex(Separators separators, std::string* strings);
    std::string_view ahead(std::size_t wanted);
    unsigned char slowGetByte();
    void fill(std::int64_t offset, std::size_t wanted);
    void setCursor(std::int64_t pos);

    int m_fd = -1;
    std::string_view m_fileBytes;  // the file, when the caller holds it in memory
    bool m_fileInMemory = false;
    std::int64_t m_fileLength = 0;
    std::vector<char> m_window;
    std::int64_t m_filePosition = 0;  // cursor in the file while a memory source is used

    std::shared_ptr<const std::string> m_memory;
    std::size_t m_memoryBegin = 0;
    std::size_t m_memoryEnd = 0;

    // The current buffer: bytes [m_base, m_base + m_length) of the source are m_data[0..].
    const char* m_data = nullptr;
    std::size_t m_length = 0;
    std::size_t m_index = 0;
    std::int64_t m_base = 0;
    std::int64_t m_sourceLength = 0;

    std::string m_token;
    std::int64_t m_tokenBudget = INT64_MAX;
};

}  // namespace ferretta::pdf
