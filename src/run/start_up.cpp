#include "run/start_up.h"

#include <sys/stat.h>

namespace ferretta::run {

bool isFolder(std::string_view path) {
    // A NUL would cut the name the system sees: "dir\0junk" is no folder.
    if (path.empty() || path.find('\0') != std::string_view::npos)
        return false;
    struct stat info {};
    return ::stat(std::string(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void acceptFolderArgument(app::Host& host, app::Settings& settings, std::string_view text,
                          const std::function<void()>& showWindow) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    if (showWindow)
        showWindow();
    if (isFolder(text)) {
        app::addFolderHistory(settings, text);
        host.showMessage("検索対象フォルダを設定しました\r" + std::string(text),
                         app::MessageStyle::Information);
    } else {
        host.showMessage("渡された文字列はフォルダ名ではありません\r" + std::string(text),
                         app::MessageStyle::Exclamation);
    }
}

}  // namespace ferretta::run
