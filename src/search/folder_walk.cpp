#include "search/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

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

namespace {

// Lists one folder: regular files (also through links) and real sub-folders, each sorted by
// name; entries that vanish between listing and examining go to `unreadable`. Answers the
// system's complaint when the folder cannot be listed, empty when it could.
std::string listFolder(const std::string& folder, std::vector<std::string>& files,
                       std::vector<std::string>& folders,
                       std::vector<std::pair<std::string, std::string>>& unreadable) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::strerror(errno);
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    const int dirFd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                return std::strerror(errno);
            break;
        }
        std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            unreadable.emplace_back(name, std::strerror(errno));
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
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

FolderWalk::FolderWalk(std::string top, bool subFolders)
    : m_top(std::move(top)), m_subFolders(subFolders) {}
FolderWalk::~FolderWalk() = default;
FolderWalk::FolderWalk(FolderWalk&&) noexcept = default;
FolderWalk& FolderWalk::operator=(FolderWalk&&) noexcept = default;

bool FolderWalk::next(WalkStep& step) {
    step = WalkStep{};
    // Lists a folder into a new level; the reason when it cannot be listed.
    auto enter = [this](const std::string& path) {
        auto level = std::make_unique<Level>();
        level->path = path;
        std::string reason = listFolder(path, level->files, level->folders, level->unreadable);
        if (reason.empty()) {
            if (!m_subFolders)
                level->folders.clear();
            m_levels.push_back(std::move(level));
        }
        return reason;
    };
    if (!m_started) {
        m_started = true;
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
