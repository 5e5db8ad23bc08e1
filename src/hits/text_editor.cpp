#include "hits/text_editor.h"

#include <array>
#include <mutex>

#include "app/settings.h"
#include "platform/desktop.h"
#include "platform/process.h"

namespace ferretta::hits {
namespace {

std::string replacePlaceholders(std::string_view word, std::string_view path, std::string_view line,
                                std::string_view column) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size()) {
            char next = word[i + 1];
            if (next == '1' || next == '2' || next == '3') {
                out += next == '1' ? path : next == '2' ? line : column;
                ++i;
                continue;
            }
        }
        out += word[i];
    }
    return out;
}

struct KnownEditor {
    std::string_view desktopEntry;
    std::string_view editorTemplate;
};

// Each editor's own way to be told a line and a column.
constexpr std::array kKnownEditors{
    KnownEditor{"org.gnome.gedit", "gedit +%2:%3 %1"},
    KnownEditor{"gedit", "gedit +%2:%3 %1"},
    KnownEditor{"org.gnome.TextEditor", "gnome-text-editor +%2:%3 %1"},
    KnownEditor{"org.kde.kate", "kate --line %2 --column %3 %1"},
    KnownEditor{"org.kde.kwrite", "kwrite --line %2 --column %3 %1"},
    KnownEditor{"org.xfce.mousepad", "mousepad --line %2 --column %3 %1"},
    KnownEditor{"mousepad", "mousepad --line %2 --column %3 %1"},
    KnownEditor{"geany", "geany --line %2 --column %3 %1"},
    KnownEditor{"org.geany.Geany", "geany --line %2 --column %3 %1"},
    KnownEditor{"code", "code -g %1:%2:%3"},
    KnownEditor{"emacs", "emacs +%2:%3 %1"},
    KnownEditor{"emacsclient", "emacsclient -c -a emacs +%2:%3 %1"},
};

}  // namespace

std::string editorForDesktopEntry(std::string_view desktopEntry,
                                  const std::function<bool(std::string_view)>& isStartable) {
    constexpr std::string_view suffix = ".desktop";
    if (desktopEntry.size() > suffix.size() && desktopEntry.ends_with(suffix))
        desktopEntry.remove_suffix(suffix.size());
    for (const KnownEditor& known : kKnownEditors) {
        if (known.desktopEntry != desktopEntry)
            continue;
        const std::string_view program =
            known.editorTemplate.substr(0, known.editorTemplate.find(' '));
        if (isStartable(program))
            return std::string(known.editorTemplate);
        break;
    }
    return std::string(app::defaultEditor);
}

std::optional<std::vector<std::string>> editorCommand(std::string_view editorTemplate,
                                                      std::string_view path,
                                                      std::string_view position) {
    if (position.empty())
        position = "0,0";
    std::size_t comma = position.find(',');
    std::string_view line = position.substr(0, comma);
    std::string_view column =
        comma == std::string_view::npos ? std::string_view() : position.substr(comma + 1);
    column = column.substr(0, column.find(','));

    auto words = platform::splitCommandLine(editorTemplate);
    if (!words || words->empty())
        return std::nullopt;
    const bool hasPath = editorTemplate.find("%1") != std::string_view::npos;
    std::vector<std::string> argv;
    for (const auto& word : *words)
        argv.push_back(replacePlaceholders(word, path, line, column));
    if (!hasPath)
        argv.emplace_back(path);
    return argv;
}

void openInEditor(app::Host& host, std::string_view editorTemplate, std::string_view path,
                  std::string_view position) {
    if (editorTemplate == app::defaultEditor) {
        // Asked once: xdg-mime takes a while, and the answer rarely changes while we run.
        static std::once_flag asked;
        static std::string answer;
        std::call_once(asked, [] {
            answer = editorForDesktopEntry(platform::defaultApplicationFor("text/plain"),
                                           platform::isExecutableProgram);
        });
        editorTemplate = answer;
    }
    auto argv = editorCommand(editorTemplate, path, position);
    if (!argv || !platform::startProcess(*argv)) {
        host.showMessage(
            "テキストエディタが開けませんでした。\rオプションでエディタパスの設定を確認してくださ"
            "い",
            app::MessageStyle::Information);
    }
}

}  // namespace ferretta::hits
