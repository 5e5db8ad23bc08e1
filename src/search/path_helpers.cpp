#include "search/path_helpers.h"

#include "platform/unicode.h"
#include "platform/width_fold.h"

namespace ferretta::search {

std::string fileNameOf(std::string_view path) {
    std::size_t at = path.rfind(pathSeparator);
    return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string extensionOf(std::string_view name) {
    std::size_t at = name.rfind('.');
    if (at == std::string_view::npos)
        return {};
    std::string_view extension = name.substr(at + 1);
    bool ascii = true;
    for (char c : extension)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        std::string upper(extension);
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        }
        return upper;
    }
    return platform::utf16ToUtf8(platform::toUpperCase(platform::utf8ToUtf16(extension)));
}

std::string folderOf(std::string_view path) {
    std::size_t at = path.rfind(pathSeparator);
    return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at));
}

std::string baseNameOf(std::string_view path) {
    std::string name = fileNameOf(path);
    std::size_t at = name.rfind('.');
    return at == std::string::npos ? name : name.substr(0, at);
}

}  // namespace ferretta::search
