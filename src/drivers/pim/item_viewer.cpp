#include "drivers/pim/item_viewer.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/process.h"

namespace ferretta::platform::pim {

namespace fs = std::filesystem;

namespace {

bool onPath(std::string_view program) {
    const char* path = std::getenv("PATH");
    if (!path)
        return false;
    std::string_view rest = path;
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        if (!folder.empty()) {
            const fs::path candidate = fs::path(folder) / program;
            if (::access(candidate.c_str(), X_OK) == 0)
                return true;
        }
        if (colon == std::string_view::npos)
            return false;
        rest.remove_prefix(colon + 1);
    }
}

bool processGone(const std::string& name) {
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos ||
        name.size() > 9)
        return false;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

std::string escaped(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

ItemViewer::ItemViewer(fs::path root)
    : m_root(std::move(root)), m_folder(m_root / std::to_string(::getpid())) {
    std::error_code ec;
    for (fs::directory_iterator it(m_root, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code removeError;
        if (processGone(it->path().filename().string()))
            fs::remove_all(it->path(), removeError);
    }
}

ItemViewer::~ItemViewer() {
    std::error_code ec;
    fs::remove_all(m_folder, ec);
}

bool ItemViewer::showCopy(std::string_view extension, std::string_view bytes) {
    std::error_code ec;
    // Copies of the user's mail: readable by the user alone.
    if (fs::create_directories(m_folder, ec))
        fs::permissions(m_folder, fs::perms::owner_all, ec);
    const fs::path file =
        m_folder / ("item-" + std::to_string(++m_written) + std::string(extension));
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return false;
    }
    return startProcess({"xdg-open", file.string()}).has_value();
}

bool ItemViewer::haveEvolution() {
    return onPath("evolution");
}

bool ItemViewer::showInEvolution(const std::string& uri) {
    return startProcess({"evolution", uri}).has_value();
}

std::string evolutionUri(std::string_view scheme, std::string_view sourceUid, std::string_view uid,
                         std::string_view recurrenceId) {
    std::string uri =
        std::string(scheme) + ":///?source-uid=" + escaped(sourceUid) + "&comp-uid=" + escaped(uid);
    if (!recurrenceId.empty())
        uri += "&comp-rid=" + escaped(recurrenceId);
    return uri;
}

}  // namespace ferretta::platform::pim
