#pragma once
// The file-type table: the vocabulary shared by the folder walk, every searcher, the results
// list and the options. The number of a type is also the icon of a hit and the key that picks
// the opener of a hit.
#include <array>
#include <string>

namespace ferretta::app {

namespace fileType {
inline constexpr int unknown = 0;
inline constexpr int text = 1;
inline constexpr int word = 2;
inline constexpr int excel = 3;
inline constexpr int outlookTask = 4;
inline constexpr int outlookMail = 5;
inline constexpr int outlookCalendar = 6;
inline constexpr int outlookContact = 7;
inline constexpr int outlookNote = 8;
inline constexpr int outlookExpressMail = 10;
inline constexpr int outlookExpressContact = 11;
inline constexpr int pdf = 13;
inline constexpr int access = 15;
inline constexpr int powerPoint = 16;
inline constexpr int slotCount = 21;
}  // namespace fileType

struct FileTypeTable {
    std::array<std::string, fileType::slotCount> fileTypeName;
    std::array<bool, fileType::slotCount> targetFileType{};

    // True for a number 0..20 whose switch is on; false for any other number.
    bool isTarget(int type) const {
        return type >= 0 && type < fileType::slotCount && targetFileType[type];
    }
};

// The table as the program starts it: only text files searched, the display names filled.
FileTypeTable initialFileTypeTable();

// The name a user gives a type on the command line ("text", "word", "pdf", "outlook-mail"
// ...) to its number; -1 when unknown.
int fileTypeFromName(std::string_view name);

}  // namespace ferretta::app
