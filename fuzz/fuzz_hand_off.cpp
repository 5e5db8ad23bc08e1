// Fuzzes the reader of the frames a second start sends to the running window, and the small
// text parsers of the Office searchers. The first byte chooses the piece size the frame arrives
// in; a frame written by handOffFrame must always read back whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "run/hand_off.h"
#include "searchers/office/office_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ferretta;
    if (size == 0)
        return 0;
    const std::size_t piece = data[0] % 16 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    run::HandOffFrameReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (reader.feed(bytes.substr(at, piece)) == run::HandOffFrameReader::Status::Invalid)
            break;
    }
    if (reader.status() == run::HandOffFrameReader::Status::Complete) {
        if (reader.payload().size() > run::maxHandOffPayload)
            std::abort();
        (void)run::handOffText(reader.payload());
    }

    // What a sender writes, the receiver reads: the same payload, Complete.
    const std::string payload = run::handOffPayload(run::handOffText(bytes));
    const std::string frame = run::handOffFrame(payload);
    if (!frame.empty()) {
        run::HandOffFrameReader back;
        for (std::size_t at = 0; at < frame.size(); at += piece)
            back.feed(std::string_view(frame).substr(at, piece));
        if (back.status() != run::HandOffFrameReader::Status::Complete || back.payload() != payload)
            std::abort();
    }

    // Any command line (it holds no zero byte) arrives as it was sent.
    const std::string commandLine(bytes.substr(0, bytes.find('\0')));
    if (run::handOffText(run::handOffPayload(commandLine)) != commandLine)
        std::abort();

    // A hit's position text read as the automation reads a 16-bit number.
    try {
        (void)searchers::office::toInteger16(bytes.substr(0, 64));
    } catch (const Error& error) {
        if (error.kind() != Error::Kind::Automation)
            std::abort();
    }
    return 0;
}
