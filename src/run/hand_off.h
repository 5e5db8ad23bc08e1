#pragma once
// The bytes a second start of the window hands to the running one: its command line in CP932
// followed by three zero bytes (the window's copy-data message), framed on the connection by a
// 4-byte little-endian length. A command line that CP932 cannot hold (a folder named Café, or
// one whose name is no valid UTF-8) goes as its own bytes after a UTF-8 byte-order mark instead,
// which no CP932 text starts with (0xEF is no lead byte CP932 uses); the peer is always this
// same program. No Qt here, so the reader can be fuzzed with the core.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ferretta::run {

// A command line whose payload would be longer is not handed over (no folder name is).
inline constexpr std::size_t maxHandOffPayload = 64 * 1024;
inline constexpr std::size_t handOffHeaderSize = 4;

// The command line followed by three zero bytes: in CP932 when every character has a CP932
// form, else its own bytes after a UTF-8 byte-order mark.
std::string handOffPayload(std::string_view commandLine);
// The received text: the payload up to its first zero byte (all of it when there is none),
// CP932 decoded to UTF-8, or after a byte-order mark the bytes as they came.
std::string handOffText(std::string_view payload);
// Header and payload as sent; empty when the payload is longer than maxHandOffPayload.
std::string handOffFrame(std::string_view payload);

// Reads one frame from bytes as they arrive, in pieces of any size.
class HandOffFrameReader {
  public:
    enum class Status { NeedMore, Complete, Invalid };

    // Takes the next bytes. Invalid (for good) when the header announces more than
    // maxHandOffPayload bytes or bytes follow a complete frame (a sender sends one frame and
    // then waits). Memory stays below the header plus maxHandOffPayload.
    Status feed(std::string_view bytes);
    Status status() const noexcept { return m_status; }
    // The payload once Complete.
    const std::string& payload() const noexcept { return m_payload; }

  private:
    std::string m_header;
    std::string m_payload;
    std::uint32_t m_length = 0;
    Status m_status = Status::NeedMore;
};

}  // namespace ferretta::run
