#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A line is cut here when read; a longer line is no settings line but a broken or hostile file.
constexpr std::size_t kMaxLineBytes = 64 * 1024;
// Settings files are a few kilobytes; reading stops here so that memory stays bounded.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
// What a profile read with a 256-character buffer can return.
constexpr std::size_t kMaxValueBytes = 255;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool isLead(char c) {
    return isCp932LeadByte(static_cast<unsigned char>(c));
}

// Trail bytes are never blanks, so trimming byte by byte cannot split a double-byte character.
std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII letters compare without case; the trail byte of a double-byte character is compared
// exactly, since 0x41-0x5A there is part of a kana or kanji, not a letter.
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isLead(a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
                return false;
            }
            ++i;
        } else if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// The position of the first ']' that is a character of its own (0x5D is also a trail byte).
std::size_t findCloseBracket(std::string_view s, std::size_t from) {
    for (std::size_t i = from; i < s.size(); ++i) {
        if (s[i] == ']') {
            return i;
        }
        if (isLead(s[i])) {
            ++i;
        }
    }
    return std::string_view::npos;
}

// The longest prefix of at most `limit` bytes that does not end inside a double-byte character.
std::size_t cutLength(std::string_view s, std::size_t limit) {
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t step = (isLead(s[i]) && i + 1 < s.size()) ? 2 : 1;
        if (i + step > limit) {
            break;
        }
        i += step;
    }
    return i;
}

struct ParsedLine {
    enum class Kind { Other, Section, Key } kind = Kind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key lines: the value, trimmed, quotes still on
};

ParsedLine parseLine(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') {
        return {};
    }
    if (t.front() == '[') {
        const std::size_t close = findCloseBracket(t, 1);
        if (close == std::string_view::npos) {
            return {};
        }
        return {ParsedLine::Kind::Section, trim(t.substr(1, close - 1)), {}};
    }
    // '=' (0x3D) is never a trail byte, so a plain byte search is safe.
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return {};
    }
    return {ParsedLine::Kind::Key, trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

// Calls visit(begin, end, parsed) for each line of the document, `end` being the position of
// its '\n'; stops early when visit answers false.
template <typename Visit>
void forEachLine(const std::string& text, Visit&& visit) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line(text.data() + begin, end - begin);
        if (!visit(begin, end, parseLine(line))) {
            return;
        }
        begin = end + 1;
    }
}

// Brings text to the document form in place: every line ended by one '\n', lines cut at
// kMaxLineBytes (never inside a double-byte character). The text never grows but by the final
// '\n', so the caller reserves one byte more and no second copy is made.
void normalizeLines(std::string& s) {
    const std::size_t n = s.size();
    std::size_t out = 0;
    std::size_t lineStart = 0;
    bool afterLead = false;  // the last byte kept was a lead byte waiting for its trail
    bool cutting = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = s[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < n && s[i + 1] == '\n') {
                ++i;
            }
            s[out++] = '\n';
            lineStart = out;
            afterLead = false;
            cutting = false;
            continue;
        }
        if (cutting) {
            continue;
        }
        if (out - lineStart == kMaxLineBytes) {
            if (afterLead) {
                --out;
            }
            cutting = true;
            continue;
        }
        afterLead = afterLead ? false : isLead(c);
        s[out++] = c;
    }
    s.resize(out);
    if (out > lineStart) {
        s.push_back('\n');
    }
}

std::string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const auto b0 = static_cast<unsigned char>(bytes[2 * i]);
        const auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
        units[i] =
            bigEndian ? static_cast<char16_t>(b0 << 8 | b1) : static_cast<char16_t>(b1 << 8 | b0);
    }
    return utf16ToCp932(units);
}

// Turns file bytes into the document form, decoding a Unicode file named by its byte-order mark.
std::string toDocumentText(std::string bytes) {
    const std::string_view v(bytes);
    std::string text;
    if (v.starts_with("\xFF\xFE")) {
        text = decodeUtf16(v.substr(2), false);
    } else if (v.starts_with("\xFE\xFF")) {
        text = decodeUtf16(v.substr(2), true);
    } else if (v.starts_with("\xEF\xBB\xBF")) {
        text = utf8ToCp932(v.substr(3));
    } else {
        text = std::move(bytes);
    }
    text.reserve(text.size() + 1);
    normalizeLines(text);
    return text;
}

std::string valueFromFile(std::string_view raw) {
    if (raw.size() >= 2 && raw.front() == raw.back() &&
        (raw.front() == '"' || raw.front() == '\'')) {
        raw = raw.substr(1, raw.size() - 2);
    }
    raw = raw.substr(0, cutLength(raw, kMaxValueBytes));
    raw = raw.substr(0, raw.find('\0'));
    return cp932ToUtf8(raw);
}

bool hasLineBreakOrNul(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isWritableName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxLineBytes / 4 && trim(name).size() == name.size() &&
           !hasLineBreakOrNul(name);
}

bool isWritableSection(std::string_view name) {
    return isWritableName(name) && findCloseBracket(name, 0) == std::string_view::npos;
}

bool isWritableKey(std::string_view name) {
    return isWritableName(name) && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

// The value as it is to stand after "key=": one line, short enough that the whole line is
// read back uncut, and quoted where reading would otherwise trim it or drop its quotes.
std::string valueForFile(std::string_view value, std::size_t keyBytes) {
    value = value.substr(0, value.find_first_of("\r\n"));
    const std::size_t room = kMaxLineBytes - keyBytes - 3;  // '=' and two quotes
    value = value.substr(0, cutLength(value, room));
    const bool enclosed = value.size() >= 2 && value.front() == value.back() &&
                          (value.front() == '"' || value.front() == '\'');
    if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || enclosed)) {
        std::string quoted;
        quoted.reserve(value.size() + 2);
        quoted += '"';
        quoted += value;
        quoted += '"';
        return quoted;
    }
    return std::string(value);
}

// Reads at most kMaxFileBytes of a regular file; nullopt when it cannot be read.
std::optional<std::string> readFileHead(const fs::path& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; regular files ignore it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::string> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::string bytes;
        // The size is a hint only (files under /proc report 0); reading goes on to EOF or limit.
        const auto hint = static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0);
        bytes.reserve((hint < kMaxFileBytes ? hint : kMaxFileBytes) + 1);
        // Reading through a small chunk rather than into the string keeps the final read, the
        // one that finds the end, from growing the string to twice its size.
        std::string chunk(65536, '\0');
        bool failed = false;
        while (bytes.size() < kMaxFileBytes) {
            const std::size_t room = kMaxFileBytes - bytes.size();
            const ssize_t got = ::read(fd, chunk.data(), room < chunk.size() ? room : chunk.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                failed = got < 0;
                break;
            }
            bytes.append(chunk, 0, static_cast<std::size_t>(got));
        }
        if (!failed) {
            result = std::move(bytes);
        }
    }
    ::close(fd);
    return result;
}

// The file a save must replace: the path itself, or what its chain of symbolic links ends at,
// so that the link survives. nullopt for a loop or an unreadable link.
std::optional<fs::path> resolveLinks(fs::path path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return path;
        }
        std::error_code ec;
        fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            return std::nullopt;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return std::nullopt;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
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
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

bool saveTo(const fs::path& path, const std::string& data) {
    const std::optional<fs::path> target = resolveLinks(path);
    if (!target || target->filename().empty()) {
        return false;
    }
    fs::path tempPath;
    const int fd = createTemporary(*target, tempPath);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    bool ok = true;
    if (::stat(target->c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && writeAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempPath.c_str(), target->c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    // The rename itself must reach the disk too; the file is in place whatever this answers.
    const fs::path folder = target->has_parent_path() ? target->parent_path() : fs::path(".");
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace

IniFile IniFile::load(const fs::path& path) {
    std::optional<std::string> bytes = readFileHead(path);
    if (!bytes) {
        return IniFile();
    }
    return IniFile(toDocumentText(std::move(*bytes)));
}

IniFile IniFile::parse(std::string_view cp932Text) {
    std::string bytes;
    bytes.reserve(cp932Text.size() + 1);
    bytes.assign(cp932Text);
    return IniFile(toDocumentText(std::move(bytes)));
}

std::optional<std::string> IniFile::get(std::string_view section, std::string_view key) const {
    const std::string wantedSection = utf8ToCp932(section);
    const std::string wantedKey = utf8ToCp932(key);
    bool inSection = false;
    std::optional<std::string> result;
    forEachLine(m_text, [&](std::size_t, std::size_t, const ParsedLine& line) {
        if (line.kind == ParsedLine::Kind::Section) {
            if (inSection) {
                return false;  // only the first section of the name counts
            }
            inSection = equalsIgnoringCase(line.name, wantedSection);
        } else if (line.kind == ParsedLine::Kind::Key && inSection &&
                   equalsIgnoringCase(line.name, wantedKey)) {
            result = valueFromFile(line.value);
            return false;
        }
        return true;
    });
    return result;
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName = utf8ToCp932(section);
    const std::string keyName = utf8ToCp932(key);
    if (!isWritableSection(sectionName) || !isWritableKey(keyName)) {
        return;
    }
    const std::string fileValue = valueForFile(utf8ToCp932(value), keyName.size());

    bool inSection = false;
    bool sectionFound = false;
    std::size_t insertAt = 0;  // after the section's last key line, or after its header
    std::size_t keyBegin = 0;
    std::size_t keyEnd = std::string::npos;
    std::string_view oldSpelling;
    forEachLine(m_text, [&](std::size_t begin, std::size_t end, const ParsedLine& line) {
        if (line.kind == ParsedLine::Kind::Section) {
            if (inSection) {
                return false;
            }
            inSection = equalsIgnoringCase(line.name, sectionName);
            if (inSection) {
                sectionFound = true;
                insertAt = end + 1;
            }
        } else if (line.kind == ParsedLine::Kind::Key && inSection) {
            insertAt = end + 1;
            if (equalsIgnoringCase(line.name, keyName)) {
                keyBegin = begin;
                keyEnd = end;
                oldSpelling = line.name;
                return false;
            }
        }
        return true;
    });

    if (keyEnd != std::string::npos) {
        std::string replacement;
        replacement.reserve(oldSpelling.size() + 1 + fileValue.size());
        replacement.append(oldSpelling).append("=").append(fileValue);
        m_text.replace(keyBegin, keyEnd - keyBegin, replacement);
    } else if (sectionFound) {
        m_text.insert(insertAt, keyName + "=" + fileValue + "\n");
    } else {
        m_text.append("[").append(sectionName).append("]\n");
        m_text.append(keyName).append("=").append(fileValue).append("\n");
    }
}

std::string IniFile::serialize() const {
    std::size_t lines = 0;
    for (const char c : m_text) {
        lines += c == '\n' ? 1 : 0;
    }
    std::string out;
    out.reserve(m_text.size() + lines);
    for (const char c : m_text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

bool IniFile::save(const fs::path& path) const {
    try {
        return saveTo(path, serialize());
    } catch (const std::bad_alloc&) {
        // The document could not be put together; the file on disk is untouched.
        return false;
    }
}

}  // namespace ferretta::platform
