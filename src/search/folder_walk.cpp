#include "search/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "cache/document_cache.h"
#include "platform/data_folder.h"
#include "search/path_helpers.h"

namespace ferretta::search {

// One listed folder: what is still to be handed out.
struct FolderWalk::Level {
    std::string path;
    std::vector<std::string> files;
    std::vector<std::string> folders;
    std::vector<std::pair<std::string, std::string>> unreadable;  // name, reason
    std::size_t nextFile = 0;
    std::size_t nextUnreadable = 0;
    std::size_t nextFolder = 0;
    bool announced = false;
};

WalkRules walkRulesFor(const app::Settings& settings) {
    WalkRules rules;
    rules.subFolders = settings.subFolder;
    rules.hidden = settings.hiddenFiles;
    if (!rules.hidden) {
        rules.ownFolders.push_back(platform::dataFolder().string());
        const std::filesystem::path cache = cache::defaultCacheFolder();
        if (!cache.empty())
            rules.ownFolders.push_back(cache.string());
    }
    return rules;
}

namespace {

// The kernel's views of itself: files there may never end or may block a reader.
bool isPseudoFileSystem(const struct statfs& fs) {
    static constexpr std::array<unsigned long, 15> types = {
        PROC_SUPER_MAGIC,    SYSFS_MAGIC,   DEVPTS_SUPER_MAGIC, CGROUP_SUPER_MAGIC,
        CGROUP2_SUPER_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC,      SECURITYFS_MAGIC,
        PSTOREFS_MAGIC,      BPF_FS_MAGIC,  EFIVARFS_MAGIC,     BINFMTFS_MAGIC,
        SELINUX_MAGIC,       NSFS_MAGIC,    0x19800202 /* mqueue */};
    const auto type = static_cast<unsigned long>(fs.f_type);
    return std::find(types.begin(), types.end(), type) != types.end();
}

// A folder on a pseudo file system (what statfs cannot tell counts as none).
bool onPseudoFileSystem(const std::string& path) {
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && isPseudoFileSystem(fs);
}

// The system's folders of devices and run-time state, never walked into from the root.
bool isSystemFolder(const std::string& parent, std::string_view name) {
    return parent == "/" && (name == "proc" || name == "sys" || name == "dev" || name == "run");
}

// Lists one folder: regular files (also through links) and real sub-folders, each sorted by
// name, hidden ones and what lies elsewhere (see FolderWalk::next) left out; entries that
// vanish between listing and examining go to `unreadable`. Answers the system's complaint when
// the folder cannot be listed, empty when it could.
template <typename Skip>
std::string listFolder(const std::string& folder, bool hidden, Skip&& skipFolder,
                       std::vector<std::string>& files, std::vector<std::string>& folders,
                       std::vector<std::pair<std::string, std::string>>& unreadable) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::strerror(errno);
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    const int dirFd = ::dirfd(dir);
    struct stat self {};
    if (::fstat(dirFd, &self) != 0)
        return std::strerror(errno);
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                return std::strerror(errno);
            break;
        }
        std::string_view name(entry->d_name);
        if (name == "." || name == ".." || (!hidden && name.front() == '.'))
            continue;
        // A regular file the listing names as one needs no look of its own (a look per file
        // was most of the listing's time, and the workers wait for the first listing).
        if (entry->d_type == DT_REG) {
            files.emplace_back(name);
            continue;
        }
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            unreadable.emplace_back(name, std::strerror(errno));
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            if (!skipFolder(name, info, info.st_dev != self.st_dev))
                folders.emplace_back(name);
        } else if (S_ISREG(info.st_mode)) {
            files.emplace_back(name);
        } else if (S_ISLNK(info.st_mode)) {
            struct stat target {};
            if (::fstatat(dirFd, entry->d_name, &target, 0) == 0 && S_ISREG(target.st_mode))
                files.emplace_back(name);
        }
        // Devices, pipes and sockets are no documents; reading a pipe could wait forever.
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    std::sort(unreadable.begin(), unreadable.end());
    return {};
}

}  // namespace

FolderWalk::FolderWalk(std::string top, WalkRules rules)
    : m_top(std::move(top)), m_rules(std::move(rules)) {}
FolderWalk::~FolderWalk() = default;
FolderWalk::FolderWalk(FolderWalk&&) noexcept = default;
FolderWalk& FolderWalk::operator=(FolderWalk&&) noexcept = default;

bool FolderWalk::next(WalkStep& step) {
    step = WalkStep{};
    // Lists a folder into a new level; the reason when it cannot be listed.
    auto enter = [this](const std::string& path) {
        auto level = std::make_unique<Level>();
        level->path = path;
        auto skipFolder = [&](std::string_view name, const struct stat& info, bool mountPoint) {
            if (isSystemFolder(path, name))
                return true;
            if (!m_rules.hidden &&
                std::any_of(m_own.begin(), m_own.end(), [&](const Identity& own) {
                    return own.device == info.st_dev && own.inode == info.st_ino;
                }))
                return true;
            return mountPoint && onPseudoFileSystem(path + std::string(name));
        };
        std::string reason = listFolder(path, m_rules.hidden, skipFolder, level->files,
                                        level->folders, level->unreadable);
        if (reason.empty()) {
            if (!m_rules.subFolders)
                level->folders.clear();
            m_levels.push_back(std::move(level));
        }
        return reason;
    };
    if (!m_started) {
        m_started = true;
        for (const std::string& own : m_rules.ownFolders) {
            struct stat info {};
            if (::stat(own.c_str(), &info) == 0)
                m_own.push_back({info.st_dev, info.st_ino});
        }
        if (onPseudoFileSystem(m_top)) {
            // Listed as a folder of nothing: its files are not to be read.
            m_levels.push_back(std::make_unique<Level>());
            m_levels.back()->path = m_top;
            step.kind = WalkStep::Kind::Folder;
            step.path = m_top;
            m_levels.back()->announced = true;
            return true;
        }
        std::string reason = enter(m_top);
        if (!reason.empty()) {
            step.kind = WalkStep::Kind::TopUnusable;
            step.path = m_top;
            step.reason = std::move(reason);
            return true;
        }
    }
    if (!m_pendingChild.empty()) {
        std::string child = std::move(m_pendingChild);
        m_pendingChild.clear();
        std::string reason = enter(child);
        if (!reason.empty()) {
            step.kind = WalkStep::Kind::Unreadable;
            step.path = std::move(child);
            step.reason = std::move(reason);
            return true;
        }
    }
    if (m_levels.empty())
        return false;
    Level& level = *m_levels.back();
    if (!level.announced) {
        level.announced = true;
        step.kind = WalkStep::Kind::Folder;
        step.path = level.path;
        step.subFolders = level.folders.size();
        return true;
    }
    if (level.nextUnreadable < level.unreadable.size()) {
        const auto& [name, reason] = level.unreadable[level.nextUnreadable++];
        step.kind = WalkStep::Kind::Unreadable;
        step.path = level.path + name;
        step.reason = reason;
        return true;
    }
    if (level.nextFile < level.files.size()) {
        step.kind = WalkStep::Kind::File;
        step.path = level.path + level.files[level.nextFile++];
        return true;
    }
    if (level.nextFolder < level.folders.size()) {
        // The sub-folder is listed at the next step, after the caller has seen this one.
        step.kind = WalkStep::Kind::SubFolder;
        step.path = level.path + level.folders[level.nextFolder++] + pathSeparator;
        m_pendingChild = step.path;
        return true;
    }
    step.kind = WalkStep::Kind::Leave;
    step.path = level.path;
    m_levels.pop_back();
    return true;
}

}  // namespace ferretta::search
