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

// A positive number as decimal digits: value = d.ddd... x 10^exponent.
struct Digits {
    std::string digits;
    int exponent = 0;
};

// The shortest digits that read back as `value` (positive, finite).
Digits shortestDigits(double value) {
    std::array<char, 40> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific);
    const std::string_view text(buffer.data(),
                                static_cast<std::size_t>(result.ptr - buffer.data()));
    const std::size_t e = text.find('e');
    Digits out;
    for (char c : text.substr(0, e)) {
        if (c != '.')
            out.digits += c;
    }
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    out.exponent);
    return out;
}

// Rounds half up to `keep` significant digits (keep >= 1); a carry raises the exponent.
Digits roundHalfUp(Digits d, int keep) {
    if (keep < 1 || static_cast<std::size_t>(keep) >= d.digits.size())
        return d;
    const bool up = d.digits[static_cast<std::size_t>(keep)] >= '5';
    d.digits.resize(static_cast<std::size_t>(keep));
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[static_cast<std::size_t>(i)] == '9')
            d.digits[static_cast<std::size_t>(i--)] = '0';
        if (i < 0) {
            d.digits.insert(d.digits.begin(), '1');
            d.digits.pop_back();
            ++d.exponent;
        } else {
            ++d.digits[static_cast<std::size_t>(i)];
        }
    }
    return d;
}

std::string integerText(double magnitude, bool negative) {
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                      static_cast<std::uint64_t>(magnitude));
    std::string out = negative && magnitude != 0 ? "-" : "";
    out.append(buffer.data(), result.ptr);
    return out;
}

// The office's automatic number form of a positive non-integer (see numberInFormula).
std::string automaticText(const Digits& shortest, bool negative) {
    const Digits fifteen = roundHalfUp(shortest, 15);
    std::string out = negative ? "-" : "";
    if (fifteen.exponent <= -15 || fifteen.exponent >= 15) {
        std::string mantissa = fifteen.digits;
        while (mantissa.size() > 1 && mantissa.back() == '0')
            mantissa.pop_back();
        out += mantissa[0];
        if (mantissa.size() > 1)
            out += "." + mantissa.substr(1);
        // At least three digits: E+015, E-020, E+300.
        std::string exponent = std::to_string(std::abs(fifteen.exponent));
        exponent.insert(0, exponent.size() < 3 ? 3 - exponent.size() : 0, '0');
        return out + "E" + (fifteen.exponent < 0 ? "-" : "+") + exponent;
    }
    // Fixed notation with at most 20 decimals, rounded from the shortest digits.
    const int decimals = std::clamp(14 - fifteen.exponent, 0, 20);
    Digits rounded = roundHalfUp(shortest, shortest.exponent + 1 + decimals);
    std::string& digits = rounded.digits;
    std::string integer;
    std::string fraction;
    if (rounded.exponent < 0) {
        integer = "0";
        fraction = std::string(static_cast<std::size_t>(-rounded.exponent - 1), '0') + digits;
    } else {
        const auto split = static_cast<std::size_t>(rounded.exponent) + 1;
        if (digits.size() < split)
            digits.append(split - digits.size(), '0');
        integer = digits.substr(0, split);
        fraction = digits.substr(split);
    }
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    out += integer;
    if (!fraction.empty())
        out += "." + fraction;
    return out;
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
        return integerText(magnitude, value < 0);
    return automaticText(shortestDigits(magnitude), value < 0);
}

std::optional<std::string> numberCellText(double value) {
    if (!measurable(value))
        return std::nullopt;
    double magnitude = std::fabs(value);
    if (!exactInteger(magnitude)) {
        std::array<char, 40> buffer{};
        std::snprintf(buffer.data(), buffer.size(), "%.15e", magnitude);
        magnitude = std::strtod(buffer.data(), nullptr);
    }
    return numberInFormula(value < 0 ? -magnitude : magnitude);
}

std::optional<std::string> generalShown(double value) {
    const double magnitude = std::fabs(value);
    if (!(exactInteger(magnitude) || (magnitude >= 1e-4 && magnitude < 1e14)))
        return std::nullopt;
    return numberInFormula(value);
}

NumberLikeness numberLikeness(std::string_view text) {
    // Non-ASCII characters other than the no-break space (which the scanner reads as a space)
    // make a text; the other Unicode spaces were not measured.
    std::string ascii;
    ascii.reserve(text.size());
    bool digit = false;
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            if (c < 0x20)
                return NumberLikeness::Text;
            const char ch = static_cast<char>(c);
            if (!isDigit(ch) && !isLetter(ch) &&
                std::string_view(" +-.,/:%$()").find(ch) == std::string_view::npos)
                return NumberLikeness::Text;
            digit = digit || isDigit(ch);
            ascii += ch;
            ++at;
            continue;
        }
        const char32_t cp = nextCodePoint(text, at);
        if (cp == 0xA0) {
            ascii += ' ';
        } else if ((cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F || cp == 0xFEFF) {
            return NumberLikeness::Unsure;
        } else {
            return NumberLikeness::Text;
        }
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

std::optional<std::string> textCellText(std::string_view text) {
    switch (numberLikeness(text)) {
        case NumberLikeness::Number:
            return "'" + std::string(text);
        case NumberLikeness::Unsure:
            return std::nullopt;
        case NumberLikeness::Text:
            break;
    }
    if (!text.empty() && text[0] == '\'')
        return "'" + std::string(text);
    return std::string(text);
}

}  // namespace ferretta::documents
