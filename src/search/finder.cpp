#include "search/finder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "app/debug_log.h"
#include "app/file_types.h"
#include "platform/error.h"
#include "search/hit.h"
#include "search/path_helpers.h"

namespace ferretta::search {

namespace ft = app::fileType;

bool isTextTag(std::string_view extension, std::string_view textTags) {
    std::string list(textTags);
    list += ';';
    std::string key(extension);
    key += ';';
    return list.find(key) != std::string::npos;
}

namespace {

// The document types that an Office application opens, by extension (upper case): the
// classic formats, their XML successors and the OpenDocument ones.
int officeTypeOf(std::string_view extension) {
    static constexpr std::pair<std::string_view, int> types[] = {
        {"DOC", ft::word},        {"DOCX", ft::word},      {"DOCM", ft::word},
        {"ODT", ft::word},        {"XLS", ft::excel},      {"XLSX", ft::excel},
        {"XLSM", ft::excel},      {"ODS", ft::excel},      {"PPT", ft::powerPoint},
        {"PPTX", ft::powerPoint}, {"ODP", ft::powerPoint},
    };
    for (const auto& [name, type] : types) {
        if (name == extension)
            return type;
    }
    return ft::unknown;
}

}  // namespace

int fileTypeOf(std::string_view extension, std::string_view textTags) {
    if (int office = officeTypeOf(extension); office != ft::unknown)
        return office;
    if (extension == "MDB")
        return ft::access;
    if (extension == "PDF")
        return ft::pdf;
    if (isTextTag(extension, textTags))
        return ft::text;
    return ft::unknown;
}

Finder::Finder(app::Host& host, const app::Settings& settings, const Matcher& matcher,
               SearchFlags& flags)
    : m_host(host),
      m_settings(settings),
      m_matcher(matcher),
      m_flags(flags),
      m_textSearcher(host, matcher, flags) {}

void Finder::setSearcher(int fileType, Searcher searcher) {
    m_searchers[fileType] = std::move(searcher);
}

void Finder::checkFileName(const std::string& path) {
    std::string name = fileNameOf(path);
    if (m_matcher.smartFind(name) > 0) {
        int type = fileTypeOf(extensionOf(name), m_settings.textTags);
        auto row = addResult(m_host, type, name, "(ファイル名にヒット)", path, "");
        m_host.setContentColor(row, app::rgb(0, 0, 255));
    }
}

bool Finder::findInFile(const std::string& path) {
    const std::string extension = extensionOf(path);
    const auto& types = m_settings.fileTypes;
    auto run = [&](int type) {
        auto searcher = m_searchers.find(type);
        return searcher != m_searchers.end() && searcher->second(path);
    };
    if (int office = officeTypeOf(extension); office != ft::unknown)
        return types.isTarget(office) && run(office);
    if (extension == "MDB")
        return false;
    if (extension == "PDF")
        return types.isTarget(ft::pdf) && run(ft::pdf);
    if (isTextTag(extension, m_settings.textTags) && types.isTarget(ft::text)) {
        return m_textSearcher.findText(path);
    }
    return false;
}

// Lists one folder: regular files (also through symbolic links) and real sub-folders (never
// through links, so a link loop cannot trap the walk), each sorted by name. Answers false when
// the folder cannot be opened as a folder; throws when it can but its listing fails.
bool Finder::listFolder(const std::string& folder, std::vector<std::string>& files,
                        std::vector<std::string>& folders, bool topLevel) {
    files.clear();
    folders.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP ||
            topLevel) {
            return false;
        }
        throw Error(Error::Kind::FolderList, folder + ": " + std::strerror(errno));
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    const int dirFd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw Error(Error::Kind::FolderList, folder + ": " + std::strerror(errno));
            break;
        }
        std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            app::logWrite("findInDir", folder + std::string(name) + ": " + std::strerror(errno));
            continue;  // vanished since it was listed
        }
        if (S_ISDIR(info.st_mode)) {
            folders.emplace_back(name);
        } else if (S_ISREG(info.st_mode)) {
            files.emplace_back(name);
        } else if (S_ISLNK(info.st_mode)) {
            struct stat target {};
            if (::fstatat(dirFd, entry->d_name, &target, 0) == 0 && S_ISREG(target.st_mode)) {
                files.emplace_back(name);
            }
        }
        // Devices, pipes and sockets are no documents; reading a pipe could wait forever.
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    return true;
}

std::int64_t Finder::findInDir(std::string& folder) {
    if (folder.empty()) {
        m_flags.isAbort = true;
        m_host.showMessage("検索対象フォルダを指定してください", app::MessageStyle::Information);
        return 0;
    }
    if (folder.back() != pathSeparator)
        folder += pathSeparator;

    // Depth first, all files of a folder before its sub-folders, without recursion so that a
    // very deep tree cannot exhaust the stack.
    struct Level {
        std::string path;
        std::vector<std::string> folders;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    std::vector<std::string> files;
    std::int64_t count = 0;

    auto enter = [&](const std::string& path, bool topLevel) -> bool {
        Level level{path, {}, 0};
        if (!listFolder(path, files, level.folders, topLevel)) {
            m_flags.isAbort = true;
            m_host.showMessage("検索フォルダが無効です\r正しいフォルダを指定してください",
                               app::MessageStyle::Information);
            return false;
        }
        for (const auto& name : files) {
            const std::string filePath = path + name;
            checkFileName(filePath);
            if (m_settings.fileNameOnly) {
                ++count;
                continue;
            }
            if (findInFile(filePath))
                ++count;
            m_host.doEvents();
            if (m_flags.isAbort)
                break;
        }
        if (!m_settings.subFolder)
            level.folders.clear();
        stack.push_back(std::move(level));
        return true;
    };

    if (!enter(folder, true))
        return 0;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next >= top.folders.size()) {
            stack.pop_back();
            continue;
        }
        m_host.doEvents();
        if (m_flags.isAbort) {
            stack.pop_back();  // leave this level's loop; the levels above check again
            continue;
        }
        std::string child = top.path + top.folders[top.next++] + pathSeparator;
        if (!enter(child, false)) {
            // The stop flag now ends every level's loop.
        }
    }
    return count;
}

}  // namespace ferretta::search
