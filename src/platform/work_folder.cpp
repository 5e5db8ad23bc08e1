#include "platform/work_folder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>

#include "platform/data_folder.h"

namespace ferretta::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "run-";
// A folder is made a moment before it is locked; one that changed more recently than this is
// never taken for a dead run's.
constexpr std::time_t kStaleAfterSeconds = 60;

void setWhy(std::string* why, const std::string& text) {
    if (why != nullptr)
        *why = text;
}

}  // namespace

std::optional<WorkFolder> WorkFolder::make(const fs::path& parent, std::string* why) {
    std::error_code error;
    fs::create_directories(parent, error);
    std::string pattern = (parent / (std::string(kPrefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        setWhy(why,
               "cannot make a work folder in " + parent.string() + ": " + std::strerror(errno));
        return std::nullopt;
    }
    const int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        setWhy(why, "cannot open " + pattern + ": " + std::strerror(errno));
        ::rmdir(pattern.c_str());
        return std::nullopt;
    }
    // Without locks (some network file systems) the folder still works; only a dead run's
    // folder is then never cleared away.
    ::flock(fd, LOCK_EX | LOCK_NB);
    return WorkFolder(fs::path(pattern), fd);
}

WorkFolder::WorkFolder(WorkFolder&& other) noexcept
    : m_path(std::move(other.m_path)), m_fd(std::exchange(other.m_fd, -1)) {
    other.m_path.clear();
}

WorkFolder& WorkFolder::operator=(WorkFolder&& other) noexcept {
    if (this != &other) {
        release();
        m_path = std::move(other.m_path);
        other.m_path.clear();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

WorkFolder::~WorkFolder() {
    release();
}

void WorkFolder::release() {
    if (!m_path.empty()) {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);  // never follows a link inside
        m_path.clear();
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool WorkFolder::clear(std::string* why) {
    std::error_code error;
    for (fs::directory_iterator it(m_path, error), end; !error && it != end; it.increment(error)) {
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
        if (removeError) {
            setWhy(why, "cannot remove " + it->path().string() + ": " + removeError.message());
            return false;
        }
    }
    if (error) {
        setWhy(why, "cannot list " + m_path.string() + ": " + error.message());
        return false;
    }
    return true;
}

fs::path workFolderParent() {
    return dataFolder() / "work";
}

void removeStaleWorkFolders(const fs::path& parent) {
    std::error_code error;
    const std::time_t now = std::time(nullptr);
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
        const fs::path path = it->path();
        if (!path.filename().string().starts_with(kPrefix))
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &info) == 0 &&
            info.st_uid == ::getuid() && now - info.st_mtime > kStaleAfterSeconds) {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
        ::close(fd);
    }
}

}  // namespace ferretta::platform
