#include "run/hand_off.h"

#include <algorithm>

#include "platform/cp932.h"

namespace ferretta::run {

namespace {
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
}  // namespace

std::string handOffPayload(std::string_view commandLine) {
    std::string payload = platform::hasCp932Form(commandLine)
                              ? platform::utf8ToCp932(commandLine)
                              : std::string(kUtf8Mark) + std::string(commandLine);
    payload.append(3, '\0');
    return payload;
}

std::string handOffText(std::string_view payload) {
    const std::string_view text = payload.substr(0, payload.find('\0'));
    if (text.starts_with(kUtf8Mark))
        return std::string(text.substr(kUtf8Mark.size()));
    return platform::cp932ToUtf8(text);
}

std::string handOffFrame(std::string_view payload) {
    if (payload.size() > maxHandOffPayload)
        return {};
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string frame;
    frame.reserve(handOffHeaderSize + payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        frame += static_cast<char>((length >> shift) & 0xFFu);
    frame += payload;
    return frame;
}

HandOffFrameReader::Status HandOffFrameReader::feed(std::string_view bytes) {
    while (!bytes.empty() && m_status == Status::NeedMore) {
        if (m_header.size() < handOffHeaderSize) {
            const std::size_t take = std::min(bytes.size(), handOffHeaderSize - m_header.size());
            m_header.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (m_header.size() < handOffHeaderSize)
                break;
            m_length = 0;
            for (std::size_t i = 0; i < handOffHeaderSize; ++i)
                m_length |= static_cast<std::uint32_t>(static_cast<unsigned char>(m_header[i]))
                            << (8 * i);
            if (m_length > maxHandOffPayload) {
                m_status = Status::Invalid;
                break;
            }
            m_payload.reserve(m_length);
        } else {
            const std::size_t take = std::min(bytes.size(), m_length - m_payload.size());
            m_payload.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
        }
        if (m_header.size() == handOffHeaderSize && m_payload.size() == m_length)
            m_status = Status::Complete;
    }
    if (!bytes.empty() && m_status == Status::Complete)
        m_status = Status::Invalid;
    return m_status;
}

}  // namespace ferretta::run
