// Fuzzes the mail-reading path: the input is an mbox (or one message) read through a file, as
// the inbox is: its "From " lines found, every message parsed with GMime, headers decoded in
// their charsets, HTML parts turned into text. Nothing may crash, hang or leak, and no field may
// hold invalid UTF-8.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "drivers/pim/mail_charsets.h"
#include "drivers/pim/mail_message.h"
#include "drivers/pim/mailbox.h"
#include "platform/unicode.h"

namespace {

void checkText(std::string_view text) {
    if (!ferretta::platform::isValidUtf8(text))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta::platform::pim;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int fd = ::memfd_create("mbox", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    const auto offsets = scanMboxOffsets(fd).value();
    for (std::size_t i = 0; i < offsets.size() && i < 64; ++i) {
        const std::int64_t end = i + 1 < offsets.size() ? offsets[i + 1] : -1;
        if (auto mail = readMailMessage(fd, offsets[i], end)) {
            for (const auto* field : {&mail->subject, &mail->body, &mail->senderName, &mail->to,
                                      &mail->cc, &mail->categories})
                checkText(*field);
        }
    }
    ::close(fd);
    if (auto mail = readMailMessage(bytes))
        checkText(mail->body);
    checkText(decodeHeaderText(bytes.substr(0, 4096)));
    checkText(decodeAddressHeader(bytes.substr(0, 4096)));
    return 0;
}
