#include "search/results_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/cp932.h"

namespace ferretta::search {
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

std::string resultLine(const app::Hit& hit) {
    std::string line;
    line.reserve(hit.name.size() + hit.content.size() + hit.location.size() + hit.position.size() +
                 11);
    line += '"';
    line += hit.name;
    line += "\",\"";
    line += hit.content;
    line += "\",\"";
    line += hit.location;
    line += "\",\"";
    line += hit.position;
    line += '"';
    return line;
}

std::string resultFileBytes(std::span<const app::Hit> rows) {
    std::string bytes;
    for (const auto& row : rows) {
        bytes += platform::utf8ToCp932(resultLine(row));
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

}  // namespace ferretta::search
