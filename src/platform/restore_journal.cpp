#include "platform/restore_journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <system_error>

#include "platform/data_folder.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "ferretta restore 1\n";
constexpr std::string_view kEntrySuffix = ".restore";

void setWhy(std::string* why, const std::string& text) {
    if (why != nullptr)
        *why = text;
}

std::string errorText(int error) {
    return std::strerror(error);
}

// "name=<length>:<bytes>\n"; the length keeps any byte of a path, line breaks too.
void appendField(std::string& out, std::string_view name, std::string_view value) {
    out.append(name).append("=").append(std::to_string(value.size())).append(":");
    out.append(value).append("\n");
}

void appendNumber(std::string& out, std::string_view name, std::uint64_t value) {
    out.append(name).append("=").append(std::to_string(value)).append("\n");
}

// Reads "name=" then either a decimal number up to '\n' (counted = false) or "<length>:" and
// that many bytes, then '\n'.
class FieldReader {
  public:
    explicit FieldReader(std::string_view text) : m_text(text) {}

    bool literal(std::string_view expected) {
        if (!m_text.starts_with(expected))
            return false;
        m_text.remove_prefix(expected.size());
        return true;
    }
    std::optional<std::uint64_t> number(std::string_view name, char end) {
        if (!literal(name) || !literal("="))
            return std::nullopt;
        // One way to write each number: no leading zero.
        if (m_text.size() > 1 && m_text[0] == '0' && m_text[1] >= '0' && m_text[1] <= '9')
            return std::nullopt;
        std::uint64_t value = 0;
        const auto [next, ec] =
            std::from_chars(m_text.data(), m_text.data() + m_text.size(), value);
        if (ec != std::errc() || next == m_text.data())
            return std::nullopt;
        m_text.remove_prefix(static_cast<std::size_t>(next - m_text.data()));
        if (!literal(std::string_view(&end, 1)))
            return std::nullopt;
        return value;
    }
    std::optional<std::string> counted(std::string_view name) {
        const auto length = number(name, ':');
        if (!length || *length > m_text.size())
            return std::nullopt;
        std::string value(m_text.substr(0, static_cast<std::size_t>(*length)));
        m_text.remove_prefix(static_cast<std::size_t>(*length));
        if (!literal("\n"))
            return std::nullopt;
        return value;
    }
    bool atEnd() const { return m_text.empty(); }

  private:
    std::string_view m_text;
};

bool usablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

std::optional<std::string> readWhole(int fd) {
    constexpr std::size_t kMaxEntryBytes = 64 * 1024;  // two paths and two numbers
    std::string bytes;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return bytes;
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxEntryBytes)
            return std::nullopt;
    }
}

// Moves the kept file back over whatever stands at its place now.
bool moveBack(const MovedAside& entry, std::string* why) {
    std::string removeWhy;
    struct stat info {};
    if (::lstat(entry.original.c_str(), &info) == 0 &&
        !removeAnythingAt(entry.original, &removeWhy)) {
        setWhy(why, "cannot remove " + entry.original + " to put " + entry.aside +
                        " back: " + removeWhy);
        return false;
    }
    if (::rename(entry.aside.c_str(), entry.original.c_str()) != 0) {
        setWhy(why, "cannot move " + entry.aside + " back to " + entry.original + ": " +
                        errorText(errno));
        return false;
    }
    return true;
}

// Whether the temporary name still holds the very file that was moved there.
bool stillAside(const MovedAside& entry) {
    struct stat info {};
    return ::lstat(entry.aside.c_str(), &info) == 0 &&
           static_cast<std::uint64_t>(info.st_dev) == entry.device &&
           static_cast<std::uint64_t>(info.st_ino) == entry.inode;
}

}  // namespace

fs::path restoreJournalFolder() {
    return dataFolder() / "restore";
}

std::string journalText(const MovedAside& entry) {
    std::string text(kMagic);
    appendNumber(text, "device", entry.device);
    appendNumber(text, "inode", entry.inode);
    appendField(text, "original", entry.original);
    appendField(text, "aside", entry.aside);
    return text;
}

std::optional<MovedAside> parseJournalText(std::string_view text) {
    FieldReader reader(text);
    MovedAside entry;
    if (!reader.literal(kMagic))
        return std::nullopt;
    const auto device = reader.number("device", '\n');
    const auto inode = device ? reader.number("inode", '\n') : std::nullopt;
    auto original = inode ? reader.counted("original") : std::nullopt;
    auto aside = original ? reader.counted("aside") : std::nullopt;
    if (!aside || !reader.atEnd() || !usablePath(*original) || !usablePath(*aside) ||
        *original == *aside) {
        return std::nullopt;
    }
    entry.device = *device;
    entry.inode = *inode;
    entry.original = std::move(*original);
    entry.aside = std::move(*aside);
    return entry;
}

bool removeAnythingAt(const std::string& path, std::string* why) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    if (S_ISDIR(info.st_mode)) {
        // remove_all never follows a link inside the folder.
        std::error_code error;
        fs::remove_all(path, error);
        if (error) {
            setWhy(why, error.message());
            return false;
        }
        return true;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        setWhy(why, errorText(errno));
        return false;
    }
    return true;
}

std::vector<RestoreProblem> replayRestoreJournal(const fs::path& folder) {
    std::vector<RestoreProblem> problems;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error)
        return problems;
    for (const fs::directory_entry& item : entries) {
        const fs::path path = item.path();
        const std::string name = path.filename().string();
        if (!name.ends_with(kEntrySuffix))
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info {};
        // Locked: its process still runs. Unlinked meanwhile: it has just finished.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 || info.st_nlink == 0 ||
            !S_ISREG(info.st_mode)) {
            ::close(fd);
            continue;
        }
        const auto bytes = readWhole(fd);
        const auto entry = bytes ? parseJournalText(*bytes) : std::nullopt;
        std::string why;
        if (!entry || !stillAside(*entry) || moveBack(*entry, &why)) {
            ::unlink(path.c_str());
        } else {
            problems.push_back({*entry, why});
        }
        ::close(fd);
    }
    return problems;
}

}  // namespace ferretta::platform
