#include "documents/cell_forms.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace ferretta::documents {
namespace {

constexpr double kLargestExactInteger = 9007199254740991.0;  // 2^53 - 1

// A positive number as decimal digits, without leading or trailing zeros:
// value = d.ddd... x 10^exponent. At most 17 digits (the most a double needs).
struct Digits {
    std::array<char, 20> digit{};
    int count = 0;
    int exponent = 0;
};

// The digits of to_chars's scientific form ("d.ddde+XX").
Digits digitsOf(std::string_view text) {
    Digits out;
    const std::size_t e = text.find('e');
    for (char c : text.substr(0, e)) {
        if (c != '.' && out.count < static_cast<int>(out.digit.size()))
            out.digit[static_cast<std::size_t>(out.count++)] = c;
    }
    while (out.count > 1 && out.digit[static_cast<std::size_t>(out.count - 1)] == '0')
        --out.count;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    out.exponent);
    return out;
}

// The shortest digits that read back as `value` (positive, finite), or with `precision` the
// value correctly rounded to that many digits after the first.
Digits digitsOf(double value, int precision = -1) {
    std::array<char, 48> buffer{};
    const auto result = precision < 0
                            ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                            std::chars_format::scientific)
                            : std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                            std::chars_format::scientific, precision);
    return digitsOf(
        std::string_view(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())));
}

// Rounds half up to `keep` significant digits (keep >= 1); a carry raises the exponent.
Digits roundHalfUp(Digits d, int keep) {
    if (keep < 1 || keep >= d.count)
        return d;
    const bool up = d.digit[static_cast<std::size_t>(keep)] >= '5';
    d.count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digit[static_cast<std::size_t>(i)] == '9')
            --i;
        if (i < 0) {
            d.digit[0] = '1';
            d.count = 1;
            ++d.exponent;
            return d;
        }
        ++d.digit[static_cast<std::size_t>(i)];
        d.count = i + 1;
    }
    while (d.count > 1 && d.digit[static_cast<std::size_t>(d.count - 1)] == '0')
        --d.count;
    return d;
}

// Builds a number's text in a buffer that needs no allocation until the end.
class NumberText {
  public:
    void put(char c) { m_text[m_size++] = c; }
    void put(std::string_view text) {
        for (char c : text)
            put(c);
    }
    void zeros(int count) {
        for (int i = 0; i < count; ++i)
            put('0');
    }
    std::string text() const { return std::string(m_text.data(), m_size); }

  private:
    std::array<char, 64> m_text{};
    std::size_t m_size = 0;
};

std::string integerText(std::uint64_t magnitude, bool negative) {
    std::array<char, 24> buffer{};
    buffer[0] = '-';
    const std::size_t sign = negative && magnitude != 0 ? 1 : 0;
    const auto result =
        std::to_chars(buffer.data() + sign, buffer.data() + buffer.size(), magnitude);
    return std::string(buffer.data(), result.ptr);
}

// The office's automatic number form of a positive non-integer (see numberInFormula).
std::string automaticText(const Digits& shortest, bool negative) {
    const Digits fifteen = roundHalfUp(shortest, 15);
    NumberText out;
    if (negative)
        out.put('-');
    if (fifteen.exponent <= -15 || fifteen.exponent >= 15) {
        out.put(fifteen.digit[0]);
        if (fifteen.count > 1) {
            out.put('.');
            out.put(
                std::string_view(&fifteen.digit[1], static_cast<std::size_t>(fifteen.count - 1)));
        }
        // At least three digits: E+015, E-020, E+300.
        out.put(fifteen.exponent < 0 ? "E-" : "E+");
        const int exponent = std::abs(fifteen.exponent);
        out.put(static_cast<char>('0' + exponent / 100));
        out.put(static_cast<char>('0' + exponent / 10 % 10));
        out.put(static_cast<char>('0' + exponent % 10));
        return out.text();
    }
    // Fixed notation with at most 20 decimals, rounded from the shortest digits.
    const int decimals = std::clamp(14 - fifteen.exponent, 0, 20);
    const Digits r = roundHalfUp(shortest, shortest.exponent + 1 + decimals);
    const std::string_view digits(r.digit.data(), static_cast<std::size_t>(r.count));
    if (r.exponent < 0) {
        out.put("0.");
        out.zeros(-r.exponent - 1);
        out.put(digits);
        return out.text();
    }
    const auto split = static_cast<std::size_t>(r.exponent) + 1;
    if (digits.size() <= split) {
        out.put(digits);
        out.zeros(static_cast<int>(split - digits.size()));
        return out.text();
    }
    out.put(digits.substr(0, split));
    out.put('.');
    out.put(digits.substr(split));
    return out.text();
}

bool measurable(double value) {
    const double magnitude = std::fabs(value);
    return std::isfinite(value) && (magnitude == 0 || (magnitude >= 1e-300 && magnitude <= 1e300));
}

bool exactInteger(double magnitude) {
    return magnitude <= kLargestExactInteger && magnitude == std::floor(magnitude);
}

// --- the input scanner ---

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string lower(std::string_view word) {
    std::string out(word);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Words the English scanner reads in dates and times: with one of these the answer is not
// measured well enough to be given.
bool isDateWord(std::string_view word) {
    static constexpr std::array<std::string_view, 44> kWords = {
        "jan",    "feb",  "mar",    "apr",     "may",       "jun",      "jul",      "aug",
        "sep",    "sept", "oct",    "nov",     "dec",       "january",  "february", "march",
        "april",  "june", "july",   "august",  "september", "october",  "november", "december",
        "mon",    "tue",  "tues",   "wed",     "thu",       "thur",     "thurs",    "fri",
        "sat",    "sun",  "monday", "tuesday", "wednesday", "thursday", "friday",   "saturday",
        "sunday", "am",   "pm",     "t"};
    const std::string w = lower(word);
    return w == "a" || w == "p" || w == "z" ||
           std::find(kWords.begin(), kWords.end(), w) != kWords.end();
}

// A cursor over the trimmed ASCII text for the number grammar.
class Scan {
  public:
    explicit Scan(std::string_view text) : m_text(text) {}
    bool end() const { return m_at >= m_text.size(); }
    bool take(char c) {
        if (!end() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    std::size_t digits() {
        const std::size_t from = m_at;
        while (!end() && isDigit(m_text[m_at]))
            ++m_at;
        return m_at - from;
    }
    void spaces() {
        while (take(' ')) {
        }
    }
    // DIGITS or D{1,3}(,DDD)+, then an optional fraction; or .DIGITS.
    bool mantissa() {
        const std::size_t lead = digits();
        if (lead == 0)
            return take('.') && digits() > 0;
        if (lead <= 3) {
            while (take(',')) {
                if (digits() != 3)
                    return false;
            }
        } else if (!end() && m_text[m_at] == ',') {
            return false;
        }
        if (take('.'))
            digits();
        return true;
    }
    bool exponent() {
        if (end() || (m_text[m_at] != 'e' && m_text[m_at] != 'E'))
            return true;
        ++m_at;
        if (!take('+'))
            take('-');
        return digits() > 0;
    }
    bool number(bool withExponent) {
        if (!mantissa())
            return false;
        if (withExponent)
            return exponent();
        return end() || (m_text[m_at] != 'e' && m_text[m_at] != 'E');
    }

  private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

bool matches(std::string_view text, const auto& grammar) {
    Scan scan(text);
    return grammar(scan) && scan.end();
}

// The plain number forms the scanner takes: signs before or after, parentheses, percentages
// and the dollar forms.
bool isPlainNumber(std::string_view t) {
    const auto signs = [](Scan& s) {
        if (!s.take('+'))
            s.take('-');
        return s.number(true);
    };
    const auto trailingSign = [](Scan& s) {
        return s.number(true) && (s.take('+') || s.take('-'));
    };
    const auto parenthesised = [](Scan& s) { return s.take('(') && s.number(true) && s.take(')'); };
    const auto percent = [](Scan& s) {
        if (!s.take('+'))
            s.take('-');
        if (!s.number(false))
            return false;
        s.spaces();
        return s.take('%');
    };
    const auto dollarFirst = [](Scan& s) {
        s.take('-');
        if (!s.take('$'))
            return false;
        if (!s.take('-'))
            s.take(' ');
        return s.number(false);
    };
    const auto dollarLast = [](Scan& s) { return s.number(false) && s.take('$'); };
    const auto dollarParenthesised = [](Scan& s) {
        if (!s.take('('))
            return false;
        if (s.take('$'))
            return s.number(false) && s.take(')');
        return s.number(false) && s.take('$') && s.take(')');
    };
    return matches(t, signs) || matches(t, trailingSign) || matches(t, parenthesised) ||
           matches(t, percent) || matches(t, dollarFirst) || matches(t, dollarLast) ||
           matches(t, dollarParenthesised);
}

// Digit groups joined by one separator and nothing else; empty when the text has another form.
std::vector<std::string_view> groups(std::string_view t, char separator) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= t.size(); ++i) {
        if (i == t.size() || t[i] == separator) {
            if (i == start)
                return {};
            out.push_back(t.substr(start, i - start));
            start = i + 1;
        } else if (!isDigit(t[i])) {
            return {};
        }
    }
    return out;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

int valueOf(std::string_view digits) {
    int value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > 100'000)
            return 100'000;
    }
    return value;
}

// Month and day as the date scanner checks them; February 29 depends on a year not always
// known (the current one for a date without a year), so it stays unsure.
NumberLikeness dateLikeness(std::string_view month, std::string_view day) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int m = valueOf(month);
    const int d = valueOf(day);
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return NumberLikeness::Text;
    if (m == 2 && d == 29)
        return NumberLikeness::Unsure;
    if (d > kDays[static_cast<std::size_t>(m - 1)])
        return NumberLikeness::Text;
    return month.size() <= 2 && day.size() <= 2 ? NumberLikeness::Number : NumberLikeness::Unsure;
}

NumberLikeness isoDateLikeness(const std::vector<std::string_view>& parts) {
    if (parts.size() != 3)
        return NumberLikeness::Text;
    const NumberLikeness date = dateLikeness(parts[1], parts[2]);
    if (date == NumberLikeness::Text)
        return date;
    return parts[0].size() < 2 ? NumberLikeness::Text : date;
}

NumberLikeness usDateLikeness(const std::vector<std::string_view>& parts) {
    if (parts.size() < 2 || parts.size() > 3)
        return NumberLikeness::Text;
    const NumberLikeness date = dateLikeness(parts[0], parts[1]);
    if (date != NumberLikeness::Number || parts.size() == 2)
        return date;
    return parts[2].size() <= 5 ? date : NumberLikeness::Unsure;
}

NumberLikeness timeLikeness(std::string_view t) {
    std::string_view whole = t;
    const std::size_t dot = t.find('.');
    if (dot != std::string_view::npos) {
        if (!allDigits(t.substr(dot + 1)))
            return NumberLikeness::Unsure;
        whole = t.substr(0, dot);
    }
    const auto parts = groups(whole, ':');
    if (parts.size() < 2)
        return NumberLikeness::Unsure;
    if (parts.size() > 3)
        return NumberLikeness::Text;
    const bool seconds = parts.size() == 3;
    if (dot != std::string_view::npos && !seconds)
        return NumberLikeness::Unsure;
    if (parts[1].size() > 2 || (seconds && parts[2].size() > 2))
        return NumberLikeness::Unsure;
    const int minutes = valueOf(parts[1]);
    if (!seconds) {
        if (minutes < 60)
            return NumberLikeness::Number;
        return valueOf(parts[0]) == 0 ? NumberLikeness::Unsure : NumberLikeness::Text;
    }
    const int secondsValue = valueOf(parts[2]);
    if (minutes >= 60 || secondsValue == 60)
        return NumberLikeness::Unsure;
    return secondsValue < 60 ? NumberLikeness::Number : NumberLikeness::Text;
}

// Digits with commas, at most one decimal point and a sign, whose commas do not group by
// thousands: the scanner takes none of these.
bool isBadlyGrouped(std::string_view t) {
    if (!t.empty() && (t[0] == '+' || t[0] == '-'))
        t.remove_prefix(1);
    const std::size_t dot = t.find('.');
    const std::string_view integer = t.substr(0, dot);
    if (dot != std::string_view::npos && dot + 1 != t.size() && !allDigits(t.substr(dot + 1)))
        return false;
    if (integer.find(',') == std::string_view::npos)
        return false;
    for (char c : integer) {
        if (!isDigit(c) && c != ',')
            return false;
    }
    return !matches(integer, [](Scan& s) { return s.mantissa(); });
}

NumberLikeness asciiLikeness(std::string_view t) {
    if (isPlainNumber(t))
        return NumberLikeness::Number;
    if (t.find('$') != std::string_view::npos)
        return NumberLikeness::Unsure;
    if (const auto parts = groups(t, '-'); parts.size() >= 2)
        return parts.size() == 2 ? NumberLikeness::Text : isoDateLikeness(parts);
    if (const auto parts = groups(t, '/'); parts.size() >= 2)
        return usDateLikeness(parts);
    if (const auto parts = groups(t, ' '); parts.size() >= 2)
        return NumberLikeness::Text;
    if (isDigit(t[0]) && std::count(t.begin(), t.end(), '.') >= 2 &&
        std::all_of(t.begin(), t.end(), [](char c) { return isDigit(c) || c == '.'; }))
        return NumberLikeness::Text;
    if (t.find(':') != std::string_view::npos &&
        std::all_of(t.begin(), t.end(), [](char c) { return isDigit(c) || c == ':' || c == '.'; }))
        return timeLikeness(t);
    if (isBadlyGrouped(t))
        return NumberLikeness::Text;
    return NumberLikeness::Unsure;
}

}  // namespace

char32_t nextCodePoint(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    const int length = lead < 0xE0 ? 2 : (lead < 0xF0 ? 3 : 4);
    char32_t c = lead & (length == 2 ? 0x1F : (length == 3 ? 0x0F : 0x07));
    for (int i = 1; i < length && at + static_cast<std::size_t>(i) < text.size(); ++i)
        c = (c << 6) | (static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]) & 0x3F);
    at += static_cast<std::size_t>(length);
    return c;
}

std::optional<std::string> numberInFormula(double value) {
    if (!measurable(value))
        return std::nullopt;
    const double magnitude = std::fabs(value);
    if (exactInteger(magnitude))
        return integerText(static_cast<std::uint64_t>(magnitude), value < 0);
    return automaticText(digitsOf(magnitude), value < 0);
}

std::optional<std::string> numberCellText(double value) {
    if (!measurable(value))
        return std::nullopt;
    const double magnitude = std::fabs(value);
    if (exactInteger(magnitude))
        return integerText(static_cast<std::uint64_t>(magnitude), value < 0);
    // Rounded to 16 significant digits first. Shortest digits of 16 or fewer are that already
    // (a double is closer to them than the 16-digit grid is wide); 17 are rounded correctly.
    Digits digits = digitsOf(magnitude);
    if (digits.count > 16)
        digits = digitsOf(magnitude, 15);
    // An integer after the rounding is written in full, up to 2^53 - 1.
    if (digits.exponent >= digits.count - 1 && digits.exponent < 16) {
        std::uint64_t integer = 0;
        for (int i = 0; i <= digits.exponent; ++i)
            integer = integer * 10 +
                      (i < digits.count ? digits.digit[static_cast<std::size_t>(i)] - '0' : 0);
        if (integer <= static_cast<std::uint64_t>(kLargestExactInteger))
            return integerText(integer, value < 0);
    }
    return automaticText(digits, value < 0);
}

bool parseStoredNumber(std::string_view stored, double& value) {
    if (stored.empty() || stored.size() > 64)
        return false;
    for (char c : stored) {
        if (!isDigit(c) && c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-')
            return false;
    }
    // from_chars takes no leading plus; the office does.
    if (stored[0] == '+' && stored.size() > 1 && stored[1] != '-' && stored[1] != '+')
        stored.remove_prefix(1);
    const auto result = std::from_chars(stored.data(), stored.data() + stored.size(), value);
    return result.ec == std::errc() && result.ptr == stored.data() + stored.size();
}

std::optional<std::string> storedNumberText(std::string_view stored) {
    // Plain notation without superfluous zeros or signs, at most 15 significant digits (which
    // a double keeps exactly), between 1E-015 and 1E+015 and of at most 20 decimals.
    std::string_view t = stored;
    if (!t.empty() && t[0] == '-')
        t.remove_prefix(1);
    const std::size_t dot = t.find('.');
    const std::string_view integer = t.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? "" : t.substr(dot + 1);
    const bool plain =
        !integer.empty() && std::all_of(integer.begin(), integer.end(), isDigit) &&
        std::all_of(fraction.begin(), fraction.end(), isDigit) &&
        (integer.size() == 1 || integer[0] != '0') &&
        (dot == std::string_view::npos || (!fraction.empty() && fraction.back() != '0'));
    if (plain) {
        const std::size_t leadingZeros =
            integer == "0" ? std::min(fraction.find_first_not_of('0'), fraction.size()) : 0;
        const std::size_t significant =
            integer == "0" ? fraction.size() - leadingZeros : integer.size() + fraction.size();
        const bool zero = integer == "0" && fraction.empty();
        if (significant <= 15 && fraction.size() <= 20 && leadingZeros < 14 &&
            !(zero && t.size() != stored.size()))
            return std::string(stored);
    }
    double value = 0;
    if (!parseStoredNumber(stored, value))
        return std::nullopt;
    return numberCellText(value);
}

std::optional<std::string> generalShown(double value) {
    const double magnitude = std::fabs(value);
    if (!(exactInteger(magnitude) || (magnitude >= 1e-4 && magnitude < 1e14)))
        return std::nullopt;
    return numberInFormula(value);
}

NumberLikeness numberLikeness(std::string_view text) {
    // Non-ASCII characters other than the no-break space (which the scanner reads as a space)
    // make a text; the other Unicode spaces were not measured. Most texts end here at once.
    bool digit = false;
    bool noBreakSpace = false;
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            const char ch = static_cast<char>(c);
            if (c < 0x20 || (!isDigit(ch) && !isLetter(ch) &&
                             std::string_view(" +-.,/:%$()").find(ch) == std::string_view::npos))
                return NumberLikeness::Text;
            digit = digit || isDigit(ch);
            ++at;
            continue;
        }
        const char32_t cp = nextCodePoint(text, at);
        if ((cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F || cp == 0xFEFF)
            return NumberLikeness::Unsure;
        if (cp != 0xA0)
            return NumberLikeness::Text;
        noBreakSpace = true;
    }
    std::string ascii(text);
    if (noBreakSpace) {
        for (std::size_t at; (at = ascii.find("\xC2\xA0")) != std::string::npos;)
            ascii.replace(at, 2, " ");
    }
    const std::size_t first = ascii.find_first_not_of(' ');
    if (first == std::string::npos)
        return NumberLikeness::Text;
    const std::string_view t =
        std::string_view(ascii).substr(first, ascii.find_last_not_of(' ') - first + 1);
    if (!digit) {
        const std::string word = lower(t);
        return word == "true" || word == "false" ? NumberLikeness::Number : NumberLikeness::Text;
    }
    bool dateWords = false;
    for (std::size_t i = 0; i < t.size();) {
        if (!isLetter(t[i])) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < t.size() && isLetter(t[j]))
            ++j;
        const std::string_view word = t.substr(i, j - i);
        const bool exponent = (word == "e" || word == "E") && i > 0 &&
                              (isDigit(t[i - 1]) || t[i - 1] == '.') && j < t.size() &&
                              (isDigit(t[j]) || t[j] == '+' || t[j] == '-');
        if (!exponent) {
            if (!isDateWord(word))
                return NumberLikeness::Text;
            dateWords = true;
        }
        i = j;
    }
    return dateWords ? NumberLikeness::Unsure : asciiLikeness(t);
}

bool textCellText(std::string_view text, std::string& form) {
    switch (numberLikeness(text)) {
        case NumberLikeness::Number:
            form.assign("'").append(text);
            return true;
        case NumberLikeness::Unsure:
            return false;
        case NumberLikeness::Text:
            break;
    }
    if (!text.empty() && text[0] == '\'')
        form.assign("'").append(text);
    else
        form.assign(text);
    return true;
}

}  // namespace ferretta::documents
