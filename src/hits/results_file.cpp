#include "hits/results_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/cp932.h"
#include "platform/unicode.h"

namespace ferretta::hits {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Writes beside the target, then renames over it. A symbolic link is written through.
bool replaceFile(std::filesystem::path target, std::string_view bytes) {
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
        auto resolved = std::filesystem::weakly_canonical(target, ec);
        if (ec)
            return false;
        target = resolved;
    }
    // A short name of its own in the same folder: the target's name plus a suffix could be too
    // long for the file system even when the target's name is not.
    std::filesystem::path folder = target.parent_path();
    std::string temp =
        (folder.empty() ? std::filesystem::path(".") : folder).string() + "/.ferretta-save-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) {
        struct stat info {};
        // Keep the permissions of a file that is replaced; a new file gets the usual 0644.
        mode_t mode = ::stat(target.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
        ok = ::chmod(temp.c_str(), mode) == 0 && ::rename(temp.c_str(), target.c_str()) == 0;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

}  // namespace

namespace {

// Appends the text with every CR or LF written as \r or \n.
void appendField(std::string& line, std::string_view text) {
    while (!text.empty()) {
        const void* cr = std::memchr(text.data(), '\r', text.size());
        const void* lf = std::memchr(text.data(), '\n', text.size());
        const char* end = static_cast<const char*>(cr && (!lf || cr < lf) ? cr : lf);
        if (!end) {
            line.append(text);
            return;
        }
        const auto at = static_cast<std::size_t>(end - text.data());
        line.append(text.substr(0, at));
        line += *end == '\r' ? "\\r" : "\\n";
        text.remove_prefix(at + 1);
    }
}

template <typename Form>
std::string lineOf(const app::Hit& hit, Form&& form) {
    std::string line;
    line.reserve(hit.name.size() + hit.content.size() + hit.location.size() + hit.position.size() +
                 11);
    const std::pair<std::string_view, bool> fields[] = {
        {hit.name, true}, {hit.content, false}, {hit.location, true}, {hit.position, false}};
    for (const auto& [text, isPath] : fields) {
        line += line.empty() ? "\"" : ",\"";
        appendField(line, form(text, isPath));
        line += '"';
    }
    return line;
}

std::string_view asItIs(std::string_view text, bool) {
    return text;
}

// CP932; in a name or path, each part between slashes that is CP932 already stays as it is
// ('/' is never a byte of a double-byte CP932 character).
std::string toAnsi(std::string_view text, bool isPath) {
    if (!isPath || platform::isValidUtf8(text))
        return platform::utf8ToCp932(text);
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t slash = text.find('/', at);
        const std::string_view part = text.substr(at, slash - at);
        out += !platform::isValidUtf8(part) && platform::isCp932Text(part)
                   ? std::string(part)
                   : platform::utf8ToCp932(part);
        if (slash == std::string_view::npos)
            return out;
        out += '/';
        at = slash + 1;
    }
}

}  // namespace

std::string resultLine(const app::Hit& hit) {
    return lineOf(hit, asItIs);
}

std::string ansiResultLine(const app::Hit& hit) {
    return lineOf(hit, toAnsi);
}

std::string resultFileBytes(std::span<const app::Hit> rows) {
    std::string bytes;
    for (const auto& row : rows) {
        bytes += ansiResultLine(row);
        bytes += "\r\n";
    }
    return bytes;
}

bool saveResults(app::Host& host, const std::filesystem::path& path,
                 std::span<const app::Hit> rows) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        std::string question = path.string() + "\r" + "は既に存在します。上書きしますか？";
        if (!host.askYesNo(question, app::MessageStyle::Information))
            return false;
    }
    if (!replaceFile(path, resultFileBytes(rows))) {
        host.showMessage("検索結果の保存に失敗しました", app::MessageStyle::Exclamation);
        return false;
    }
    host.showMessage("検索結果が保存されました", app::MessageStyle::Information);
    return true;
}

}  // namespace ferretta::hits
