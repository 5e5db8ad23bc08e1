#pragma once
// Searching one text file line by line.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/host.h"
#include "search/byte_scan.h"
#include "search/line_filter.h"
#include "search/query.h"
#include "search/search_context.h"
#include "search/search_flags.h"

namespace ferretta::search {

class TextSearcher {
  public:
    // foldWindow: how many bytes of a line are folded at a time when a line is matched in its
    // folded form (tests make it small to exercise the windows' seams).
    explicit TextSearcher(const SearchContext& context,
                          std::size_t foldWindow = std::size_t{1} << 20)
        : m_host(context.host),
          m_matcher(context.matcher),
          m_flags(context.flags),
          m_binaryFiles(context.settings.binaryFiles),
          m_foldWindow(foldWindow < 1 ? 1 : foldWindow) {}

    // Reports every line of the file that matches the query (icon 1, the file name, the line,
    // the path, "line,column"). Lines are counted from 1, empty lines included; the column is
    // the matcher's position. Answers false when the search was stopped while the file was
    // read (the user is told "中断ボタンが押されました" once), true otherwise. A file that is no
    // text (a NUL among its first kTextCheckBytes, and no UTF-16 byte-order mark) is not
    // searched unless the settings ask for such files: the answer is false, the file does not
    // count as searched. Throws ferretta::Error when the file cannot be opened or read.
    bool findText(const std::string& path);

  private:
    class Reader;
    // The buffer files are read into (malloc'ed: growing a big one remaps its pages).
    struct ReadBuffer {
        char* data = nullptr;
        std::size_t capacity = 0;
        ReadBuffer() = default;
        ReadBuffer(const ReadBuffer&) = delete;
        ReadBuffer& operator=(const ReadBuffer&) = delete;
        ~ReadBuffer() { std::free(data); }
    };
    void scanCp932BlockStrict(std::string_view block, const std::string& path,
                              std::int64_t firstLine);
    void scanCp932BlockFolded(std::string_view block, const std::string& path,
                              std::int64_t firstLine);
    void scanLines(std::string_view block, const std::string& path, std::int64_t firstLine,
                   bool cp932);
    // Answers the number of the block's last line end (firstLine plus the block's line ends),
    // unless it is the file's last block.
    std::int64_t scanCandidates(std::string_view block, const std::string& path,
                                std::int64_t firstLine, bool cp932, bool lastBlock);
    void matchLine(std::string_view line, const std::string& path, std::int64_t lineNumber,
                   bool cp932);
    const LineFilter& filter(bool cp932);
    std::int32_t matchCp932Line(std::string_view line);
    std::string_view exactNeedle(const Word& word) const;
    std::string_view exactHaystack(std::string_view block);
    // `searched`: false for a file left alone as no text.
    bool searchBlocks(const std::string& path, bool& searched);
    bool searchLineByLine(const std::string& path);
    // rawLine: the line as it stands in the current block (its place in the file).
    void report(const std::string& path, std::int64_t lineNumber, std::string_view rawLine,
                std::string contentUtf8, std::int32_t column);
    bool stopRequested();
    std::int32_t foldedPosition(std::string_view rawLine);

    app::Host& m_host;
    const Matcher& m_matcher;
    SearchFlags& m_flags;
    bool m_binaryFiles;
    std::string m_fileName;
    std::string_view m_block;         // the block being matched
    std::int64_t m_blockOffset = -1;  // its place in the file; -1 while lines are decoded
    bool m_utf8 = false;              // the block is read as UTF-8
    std::size_t m_foldWindow;
    std::string m_folded;                   // the folded form of the current block
    std::string m_window;                   // a folded window of one line
    std::string m_foldChunk;                // the newly folded part of the window
    std::vector<std::size_t> m_tailStarts;  // character starts in the window
    std::u16string m_decoded;               // the current line, decoded (regular expressions)
    std::string m_normalized;               // the block with duplicate codes rewritten
    ReadBuffer m_readBuffer;
    std::optional<LineFilter> m_cp932Filter;  // made on first use
    std::optional<LineFilter> m_utf8Filter;
    std::vector<std::size_t> m_rawStarts;     // line starts in the block
    std::vector<std::size_t> m_foldedStarts;  // the same lines' starts in the folded block
    std::vector<std::size_t> m_candidates;    // lines of the block that may match
};

// How much of a file decides whether it is text, as grep tools decide: a NUL there says it is
// not.
inline constexpr std::size_t kTextCheckBytes = 64u << 10;

}  // namespace ferretta::search
