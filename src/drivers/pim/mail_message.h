#pragma once
// One mail message (RFC 5322 with MIME) read through GMime into the fields the searcher wants.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::platform::pim {

struct MailMessage {
    std::string subject;
    // The text of the inline text/plain parts; the text of the text/html parts when there is
    // no text/plain one. A multipart without a boundary is read as one text part. Attachments (a
    // disposition of attachment, a file name) and attached messages are never read; at most 16 MiB
    // of text is kept.
    std::string body;
    std::string senderName;  // the first From mailbox's name, else its address
    std::string to;          // each mailbox's name (else its address), joined with "; "
    std::string cc;
    std::string categories;  // the Keywords headers and Thunderbird's tags, joined with ", "
    std::string messageId;   // as written, without the angle brackets; empty when absent
    // A digest of Date, From and Subject as written, for telling messages apart when they
    // carry no Message-ID.
    std::string headDigest;
};

// The message in the bytes. A leading mbox "From " line is skipped. nullopt only when GMime
// finds no message at all (no header); a broken MIME part gives what could be read of it.
std::optional<MailMessage> readMailMessage(std::string_view bytes);

// The message in [begin, end) of an open file (end < 0: to the end of the file), read without
// loading its attachments into memory. A large message is read block by block, and `stopped`
// is asked at every block: once it answers true the reading is given up and the answer is
// nullopt. The descriptor stays open; its offset moves.
std::optional<MailMessage> readMailMessage(int fd, std::int64_t begin, std::int64_t end,
                                           const std::function<bool()>& stopped = {});

// Undoes the escaping of an mbox: a line starting with ">From " (after any number of '>')
// loses one '>'.
std::string unescapeMboxFromLines(std::string_view text);

}  // namespace ferretta::platform::pim
