#include "searchers/office/office_common.h"

#include <charconv>
#include <cmath>

#include "platform/error.h"

namespace ferretta::searchers::office {

std::string searchErrorText(int position, long errorNumber, std::string_view path) {
    std::string text = "検索中にエラーが発生しました Position=" + std::to_string(position) +
                       "  ErrNo=" + std::to_string(errorNumber) + "\rファイル名=";
    text += path;
    return text;
}

bool abortRequested(app::Host& host, const search::SearchFlags& flags) {
    host.doEvents();
    if (!flags.isAbort)
        return false;
    host.setStatusText("");
    host.showMessage("中断ボタンが押されました", app::MessageStyle::Information);
    return true;
}

std::int16_t toInteger16(std::string_view text) {
    const auto mismatch = [&] {
        return Error(Error::Kind::Automation,
                     "not a number: \"" + std::string(text.substr(0, 64)) + "\"",
                     kTypeMismatchError);
    };
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
    // The number's own grammar: digits, optionally "." and more digits, at least one digit.
    bool seenDigit = false;
    bool seenDot = false;
    for (char c : digits) {
        if (c >= '0' && c <= '9') {
            seenDigit = true;
        } else if (c == '.' && !seenDot) {
            seenDot = true;
        } else {
            throw mismatch();
        }
    }
    if (!seenDigit)
        throw mismatch();
    // from_chars takes no "+"; the sign is put back after parsing.
    const bool negative = !text.empty() && text.front() == '-';
    double value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range || !std::isfinite(value))
        throw Error(Error::Kind::Automation, "number too large", kOverflowError);
    if (ec != std::errc() || end != digits.data() + digits.size())
        throw mismatch();
    // nearbyint rounds half to even in the default rounding mode, as the conversion does.
    double rounded = std::nearbyint(negative ? -value : value);
    if (rounded < -32768.0 || rounded > 32767.0)
        throw Error(Error::Kind::Automation, "number too large", kOverflowError);
    return static_cast<std::int16_t>(rounded);
}

}  // namespace ferretta::searchers::office
