#pragma once
// The file-type table: the vocabulary shared by the folder walk, every searcher, the results
// list and the options. The number of a type is also the icon of a hit and the key that picks
// the opener of a hit.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ferretta::app {

// The types with their numbers of the file-type table and the settings file
// ("targetFileType13" is PDF). Numbers without a name here are slots of the table that nothing
// searches.
enum class FileType : int {
    Unknown = 0,
    Text = 1,
    Word = 2,
    Excel = 3,
    OutlookTask = 4,
    OutlookMail = 5,
    OutlookCalendar = 6,
    OutlookContact = 7,
    OutlookNote = 8,
    OutlookExpressMail = 10,
    OutlookExpressContact = 11,
    Pdf = 13,
    Access = 15,
    PowerPoint = 16,
};

// The table's slots: 0..20.
inline constexpr int fileTypeSlots = 21;

constexpr std::size_t slotOf(FileType type) {
    return static_cast<std::size_t>(type);
}

// The item types of the mail program, searched after the folder walk in this order.
inline constexpr std::array<FileType, 5> outlookItemTypes = {
    FileType::OutlookTask, FileType::OutlookMail, FileType::OutlookCalendar,
    FileType::OutlookContact, FileType::OutlookNote};

struct FileTypeTable {
    std::array<std::string, fileTypeSlots> fileTypeName;
    std::array<bool, fileTypeSlots> targetFileType{};

    bool isTarget(FileType type) const { return targetFileType[slotOf(type)]; }
    void setTarget(FileType type, bool on) { targetFileType[slotOf(type)] = on; }
};

// The table as the program starts it: only text files searched, the display names filled.
FileTypeTable initialFileTypeTable();

// The name a user gives a type on the command line ("text", "word", "pdf", "outlook-mail"
// ...); nullopt when unknown.
std::optional<FileType> fileTypeFromName(std::string_view name);

}  // namespace ferretta::app
