#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <new>
#include <system_error>

#include "platform/cp932.h"
#include "platform/unicode.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;
using Encoding = IniFile::Encoding;

// Settings files are a few kilobytes; reading stops here so that memory stays bounded.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
// What a profile read with a 256-character buffer can return.
constexpr std::size_t kMaxValueUnits = 255;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isUtf16(Encoding encoding) {
    return encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
}

std::size_t bomLength(Encoding encoding) {
    return encoding == Encoding::Utf8Bom ? 3 : isUtf16(encoding) ? 2 : 0;
}

// Where the text ends: an odd last byte of a UTF-16 file is no character; it stays in the bytes
// but is not read, and nothing is put after it.
std::size_t textEnd(const std::string& bytes, Encoding encoding) {
    return isUtf16(encoding) ? bytes.size() - (bytes.size() - 2) % 2 : bytes.size();
}

// The text of a line is looked at in a working form: the CP932 bytes of a CP932 file, UTF-8
// for every other encoding. In CP932 a trail byte can look like '\', ']' or a letter; in UTF-8
// no byte of a character does.
struct Form {
    bool cp932;

    bool isLead(char c) const { return cp932 && isCp932LeadByte(static_cast<unsigned char>(c)); }
    // A name (UTF-8) as it stands in the working text.
    std::string fromUtf8(std::string_view utf8) const {
        return cp932 ? utf8ToCp932(utf8) : std::string(utf8);
    }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Trail bytes are never blanks, so trimming byte by byte cannot split a character.
std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII letters compare without case; the trail byte of a double-byte character is compared
// exactly, since 0x41-0x5A there is part of a kana or kanji, not a letter.
bool equalsIgnoringCase(std::string_view a, std::string_view b, Form form) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (form.isLead(a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// The position of the first ']' that is a character of its own.
std::size_t findCloseBracket(std::string_view s, std::size_t from, Form form) {
    for (std::size_t i = from; i < s.size(); ++i) {
        if (s[i] == ']')
            return i;
        if (form.isLead(s[i]))
            ++i;
    }
    return std::string_view::npos;
}

struct ParsedLine {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key lines: the value, trimmed, quotes still on
};

ParsedLine parseLine(std::string_view line, Form form) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';')
        return {};
    if (t.front() == '[') {
        const std::size_t close = findCloseBracket(t, 1, form);
        if (close == std::string_view::npos)
            return {};
        return {ParsedLine::Kind::Section, trim(t.substr(1, close - 1)), {}};
    }
    // '=' (0x3D) is never a trail byte, so a plain byte search is safe.
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return {};
    return {ParsedLine::Kind::Key, trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

char16_t unitAt(std::string_view bytes, std::size_t at, Encoding encoding) {
    const auto b0 = static_cast<unsigned char>(bytes[at]);
    const auto b1 = static_cast<unsigned char>(bytes[at + 1]);
    return encoding == Encoding::Utf16Be ? static_cast<char16_t>(b0 << 8 | b1)
                                         : static_cast<char16_t>(b1 << 8 | b0);
}

std::string toUtf16Bytes(std::u16string_view units, Encoding encoding) {
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (const char16_t unit : units) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        bytes += encoding == Encoding::Utf16Be ? high : low;
        bytes += encoding == Encoding::Utf16Be ? low : high;
    }
    return bytes;
}

// One line of the file: its bytes [begin, end) without the line end; the next line starts at
// `next` (== end when the line has no line end: the document's last line).
struct RawLine {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

// Calls visit(rawLine, workingText) for each line; stops early when visit answers false.
template <typename Visit>
void forEachLine(const std::string& bytes, Encoding encoding, Visit&& visit) {
    const bool wide = isUtf16(encoding);
    const std::size_t unit = wide ? 2 : 1;
    const std::size_t size = textEnd(bytes, encoding);
    auto at = [&](std::size_t i) -> char16_t {
        return wide ? unitAt(bytes, i, encoding) : static_cast<unsigned char>(bytes[i]);
    };
    std::size_t begin = bomLength(encoding);
    while (begin < size) {
        std::size_t end = begin;
        while (end < size && at(end) != u'\r' && at(end) != u'\n')
            end += unit;
        std::size_t next = end;
        if (next < size) {
            next += unit;
            if (at(end) == u'\r' && next < size && at(next) == u'\n')
                next += unit;
        }
        const std::string_view raw(bytes.data() + begin, end - begin);
        bool goOn = false;
        if (wide) {
            std::u16string units;
            units.reserve(raw.size() / 2);
            for (std::size_t i = begin; i < end; i += 2)
                units += unitAt(bytes, i, encoding);
            goOn = visit(RawLine{begin, end, next}, std::string_view(utf16ToUtf8(units)));
        } else {
            goOn = visit(RawLine{begin, end, next}, raw);
        }
        if (!goOn)
            return;
        begin = next;
    }
}

// The longest prefix of at most `limit` CP932 bytes that does not end inside a character.
std::size_t cutCp932(std::string_view s, std::size_t limit) {
    std::size_t i = 0;
    while (i < s.size()) {
        const bool pair = isCp932LeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size();
        const std::size_t step = pair ? 2 : 1;
        if (i + step > limit)
            break;
        i += step;
    }
    return i;
}

std::string valueFromFile(std::string_view raw, Form form) {
    if (raw.size() >= 2 && raw.front() == raw.back() &&
        (raw.front() == '"' || raw.front() == '\'')) {
        raw = raw.substr(1, raw.size() - 2);
    }
    if (form.cp932) {
        raw = raw.substr(0, cutCp932(raw, kMaxValueUnits));
        return cp932ToUtf8(raw.substr(0, raw.find('\0')));
    }
    std::u16string units = utf8ToUtf16(raw);
    std::size_t keep = std::min(units.size(), kMaxValueUnits);
    if (keep < units.size() && keep > 0 && units[keep - 1] >= 0xD800 && units[keep - 1] <= 0xDBFF)
        --keep;  // not half a surrogate pair
    units.resize(keep);
    return utf16ToUtf8(std::u16string_view(units).substr(0, units.find(u'\0')));
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isWritableName(std::string_view name) {
    return !name.empty() && trim(name).size() == name.size() && !hasLineBreakOrNul(name);
}

bool isWritableSection(std::string_view name, Form form) {
    return isWritableName(name) && findCloseBracket(name, 0, form) == std::string_view::npos;
}

bool isWritableKey(std::string_view name) {
    return isWritableName(name) && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

// The value as it is to stand after "key=": one line, quoted where reading would otherwise
// trim it or drop its quotes.
std::string valueForFile(std::string_view value) {
    value = value.substr(0, value.find_first_of("\r\n"));
    const bool enclosed = value.size() >= 2 && value.front() == value.back() &&
                          (value.front() == '"' || value.front() == '\'');
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || enclosed)) {
        std::string quoted = "\"";
        quoted.append(value).append("\"");
        return quoted;
    }
    return std::string(value);
}

Encoding detectEncoding(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE"))
        return Encoding::Utf16Le;
    if (bytes.starts_with("\xFE\xFF"))
        return Encoding::Utf16Be;
    if (bytes.starts_with(kUtf8Bom))
        return Encoding::Utf8Bom;
    return Encoding::Cp932;
}

// Reads at most kMaxFileBytes (+1, to tell a longer file) of a regular file; nullopt when it
// cannot be read.
std::optional<std::string> readFileHead(const fs::path& path, bool& missing) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; regular files ignore it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        missing = errno == ENOENT;
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::string> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::string bytes;
        // The size is a hint only (files under /proc report 0); reading goes on to EOF or limit.
        const auto hint = static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0);
        bytes.reserve(std::min(hint, kMaxFileBytes) + 1);
        // Reading through a small chunk rather than into the string keeps the final read, the
        // one that finds the end, from growing the string to twice its size.
        std::string chunk(65536, '\0');
        bool failed = false;
        while (bytes.size() <= kMaxFileBytes) {
            const std::size_t room = kMaxFileBytes + 1 - bytes.size();
            const ssize_t got = ::read(fd, chunk.data(), std::min(room, chunk.size()));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                failed = got < 0;
                break;
            }
            bytes.append(chunk, 0, static_cast<std::size_t>(got));
        }
        if (!failed)
            result = std::move(bytes);
    }
    ::close(fd);
    return result;
}

// The file a save must replace: the path itself, or what its chain of symbolic links ends at,
// so that the link survives. nullopt for a loop or an unreadable link.
std::optional<fs::path> resolveLinks(fs::path path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::error_code ec;
        fs::path target = fs::read_symlink(path, ec);
        if (ec)
            return std::nullopt;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return std::nullopt;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Creates a new file beside `target` with a name no one else uses; mode 0666 less the umask,
// as any new file. Answers the descriptor, or -1.
int createTemporary(const fs::path& target, fs::path& tempPath) {
    static std::atomic<std::uint64_t> counter{0};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const auto seed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint64_t unique = seed ^ (static_cast<std::uint64_t>(::getpid()) << 32) ^
                                     (counter++ * 0x9E3779B97F4A7C15u);
        // Built piece by piece: g++ 12 at -O3 misreports "." + std::string as overlapping.
        std::string name = ".";
        name += target.filename().string();
        name += ".tmp";
        name += std::to_string(unique);
        tempPath = folder / name;
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// 0 or the errno of the step that failed.
int saveTo(const fs::path& target, const std::string& data) {
    fs::path tempPath;
    const int fd = createTemporary(target, tempPath);
    if (fd < 0)
        return errno != 0 ? errno : EEXIST;
    struct stat old {};
    int error = 0;
    auto step = [&error](bool ok) {
        if (!ok && error == 0)
            error = errno != 0 ? errno : EIO;
    };
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        step(::fchmod(fd, old.st_mode & 07777) == 0);
    if (error == 0)
        step(writeAll(fd, data) && ::fsync(fd) == 0);
    step(::close(fd) == 0);
    if (error == 0)
        step(::rename(tempPath.c_str(), target.c_str()) == 0);
    if (error != 0) {
        ::unlink(tempPath.c_str());
        return error;
    }
    // The rename itself must reach the disk too; the file is in place whatever this answers.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}

}  // namespace

IniFile IniFile::load(const fs::path& path) {
    bool missing = false;
    std::optional<std::string> bytes = readFileHead(path, missing);
    IniFile ini;
    if (bytes) {
        const bool cut = bytes->size() > kMaxFileBytes;
        if (cut)
            bytes->resize(kMaxFileBytes);
        ini = parse(*bytes);
        ini.m_partial = cut;
    } else {
        ini.m_partial = !missing;
    }
    ini.m_loadedFrom = path;
    return ini;
}

IniFile IniFile::parse(std::string_view bytes) {
    return IniFile(std::string(bytes), detectEncoding(bytes));
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
    const Form form{m_encoding == Encoding::Cp932};
    const std::string wantedSection = form.fromUtf8(section);
    const std::string wantedKey = form.fromUtf8(key);
    bool inSection = false;
    std::optional<std::string> result;
    forEachLine(m_bytes, m_encoding, [&](const RawLine&, std::string_view text) {
        const ParsedLine line = parseLine(text, form);
        if (line.kind == ParsedLine::Kind::Section) {
            if (inSection)
                return false;  // only the first section of the name counts
            inSection = equalsIgnoringCase(line.name, wantedSection, form);
        } else if (line.kind == ParsedLine::Kind::Key && inSection &&
                   equalsIgnoringCase(line.name, wantedKey, form)) {
            result = valueFromFile(line.value, form);
            return false;
        }
        return true;
    });
    return result;
}

bool IniFile::hasSection(std::string_view section) const {
    const Form form{m_encoding == Encoding::Cp932};
    const std::string wanted = form.fromUtf8(section);
    bool found = false;
    forEachLine(m_bytes, m_encoding, [&](const RawLine&, std::string_view text) {
        const ParsedLine line = parseLine(text, form);
        found =
            line.kind == ParsedLine::Kind::Section && equalsIgnoringCase(line.name, wanted, form);
        return !found;
    });
    return found;
}

namespace {

// Where a key stands in a document, or where it would go.
struct KeyPlace {
    bool sectionFound = false;
    std::size_t insertAt = 0;  // after the section's last key line, or after its header
    std::optional<RawLine> keyLine;
    std::string oldSpelling;
    std::optional<std::string> lineEnd;  // as the document's first line ends
};

KeyPlace locate(const std::string& bytes, Encoding encoding, std::string_view sectionName,
                std::string_view keyName) {
    const Form form{encoding == Encoding::Cp932};
    KeyPlace place;
    bool inSection = false;
    forEachLine(bytes, encoding, [&](const RawLine& raw, std::string_view text) {
        if (!place.lineEnd && raw.next > raw.end)
            place.lineEnd = bytes.substr(raw.end, raw.next - raw.end);
        if (place.keyLine || (place.sectionFound && !inSection))
            return !place.lineEnd.has_value();
        const ParsedLine line = parseLine(text, form);
        if (line.kind == ParsedLine::Kind::Section) {
            inSection = !place.sectionFound && equalsIgnoringCase(line.name, sectionName, form);
            if (inSection) {
                place.sectionFound = true;
                place.insertAt = raw.next;
            }
        } else if (line.kind == ParsedLine::Kind::Key && inSection) {
            place.insertAt = raw.next;
            if (equalsIgnoringCase(line.name, keyName, form)) {
                place.keyLine = raw;
                place.oldSpelling = line.name;
            }
        }
        return true;
    });
    return place;
}

}  // namespace

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    value = value.substr(0, value.find_first_of("\r\n"));
    if (m_encoding == Encoding::Cp932 &&
        !(hasCp932Form(section) && hasCp932Form(key) && hasCp932Form(value))) {
        // Written in CP932 the value would become '?': the document becomes UTF-8, each line
        // keeping its text, when all of it but the line to be replaced is clean CP932.
        std::string rest = m_bytes;
        const KeyPlace place = locate(m_bytes, m_encoding, utf8ToCp932(section), utf8ToCp932(key));
        if (place.keyLine)
            rest.erase(place.keyLine->begin, place.keyLine->end - place.keyLine->begin);
        if (isCp932Text(rest)) {
            m_bytes = std::string(kUtf8Bom) + cp932ToUtf8(m_bytes);
            m_encoding = Encoding::Utf8Bom;
            m_changed = true;
        }
    }
    const Form form{m_encoding == Encoding::Cp932};
    const std::string sectionName = form.fromUtf8(section);
    const std::string keyName = form.fromUtf8(key);
    if (!isWritableSection(sectionName, form) || !isWritableKey(keyName))
        return;
    const std::string fileValue = valueForFile(form.fromUtf8(value));
    const KeyPlace place = locate(m_bytes, m_encoding, sectionName, keyName);

    auto encode = [this](std::string_view text) {
        return isUtf16(m_encoding) ? toUtf16Bytes(utf8ToUtf16(text), m_encoding)
                                   : std::string(text);
    };
    const std::string end = place.lineEnd.value_or(encode("\r\n"));
    // Lines go in at `at`; when that is the end of a last line without a line end, that line
    // gets one first.
    const std::size_t documentEnd = textEnd(m_bytes, m_encoding);
    auto insertLines = [&](std::size_t at, const std::string& lines) {
        std::string insertion;
        if (at == documentEnd && at > bomLength(m_encoding)) {
            bool ended = false;
            forEachLine(m_bytes, m_encoding, [&](const RawLine& raw, std::string_view) {
                ended = raw.next > raw.end;
                return true;
            });
            if (!ended)
                insertion = end;
        }
        insertion += lines;
        m_bytes.insert(at, insertion);
    };

    const std::string before = m_bytes;
    if (place.keyLine) {
        m_bytes.replace(place.keyLine->begin, place.keyLine->end - place.keyLine->begin,
                        encode(place.oldSpelling + "=" + fileValue));
    } else if (place.sectionFound) {
        insertLines(place.insertAt, encode(keyName + "=" + fileValue) + end);
    } else {
        insertLines(documentEnd, encode("[" + sectionName + "]") + end +
                                     encode(keyName + "=" + fileValue) + end);
    }
    m_changed = m_changed || m_bytes != before;
}

std::optional<IniFile::SaveFailure> IniFile::save(const fs::path& path) const {
    if (m_partial)
        return SaveFailure{SaveFailure::Reason::NotReadWhole};
    const std::optional<fs::path> target = resolveLinks(path);
    if (!target || target->filename().empty())
        return SaveFailure{SaveFailure::Reason::WriteFailed, ELOOP};
    struct stat info {};
    const bool exists = ::stat(target->c_str(), &info) == 0;
    if (exists && !m_changed && !m_loadedFrom.empty() && resolveLinks(m_loadedFrom) == target)
        return std::nullopt;  // the file is the document already
    // Read-only by its permissions, also for root, who could write it anyway.
    if (exists && S_ISREG(info.st_mode) &&
        ((info.st_mode & 0222) == 0 || ::access(target->c_str(), W_OK) != 0)) {
        return SaveFailure{SaveFailure::Reason::ReadOnly};
    }
    try {
        if (const int error = saveTo(*target, m_bytes); error != 0)
            return SaveFailure{SaveFailure::Reason::WriteFailed, error};
    } catch (const std::bad_alloc&) {
        return SaveFailure{SaveFailure::Reason::WriteFailed, ENOMEM};
    }
    return std::nullopt;
}

}  // namespace ferretta::platform
