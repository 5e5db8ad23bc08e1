#include "search/text_editor.h"

#include "platform/process.h"

namespace ferretta::search {
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

}  // namespace

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
    auto argv = editorCommand(editorTemplate, path, position);
    if (!argv || !platform::startProcess(*argv)) {
        host.showMessage(
            "テキストエディタが開けませんでした。\rオプションでエディタパスの設定を確認してくださ"
            "い",
            app::MessageStyle::Information);
    }
}

}  // namespace ferretta::search
