#include "app/file_types.h"

#include <string_view>
#include <utility>

namespace ferretta::app {

FileTypeTable initialFileTypeTable() {
    FileTypeTable table;
    table.targetFileType.fill(false);
    table.setTarget(FileType::Text, true);
    table.fileTypeName[slotOf(FileType::OutlookNote)] = "Outlookメモ";
    table.fileTypeName[slotOf(FileType::Excel)] = "Excel";
    table.fileTypeName[slotOf(FileType::Word)] = "Word";
    table.fileTypeName[slotOf(FileType::OutlookContact)] = "Outlook連絡先";
    table.fileTypeName[slotOf(FileType::OutlookMail)] = "Outlookメール";
    table.fileTypeName[slotOf(FileType::OutlookTask)] = "Outlook仕事";
    table.fileTypeName[slotOf(FileType::Pdf)] = "Adobe PDF";
    table.fileTypeName[slotOf(FileType::OutlookExpressMail)] = "OutlookExpressメール";
    table.fileTypeName[slotOf(FileType::OutlookCalendar)] = "Outlook予定表";
    return table;
}

std::optional<FileType> fileTypeFromName(std::string_view name) {
    static constexpr std::pair<std::string_view, FileType> names[] = {
        {"text", FileType::Text},
        {"word", FileType::Word},
        {"excel", FileType::Excel},
        {"powerpoint", FileType::PowerPoint},
        {"pdf", FileType::Pdf},
        {"access", FileType::Access},
        {"outlook-task", FileType::OutlookTask},
        {"outlook-mail", FileType::OutlookMail},
        {"outlook-calendar", FileType::OutlookCalendar},
        {"outlook-contact", FileType::OutlookContact},
        {"outlook-note", FileType::OutlookNote},
        {"outlook-express-mail", FileType::OutlookExpressMail},
        {"outlook-express-contact", FileType::OutlookExpressContact},
    };
    for (const auto& [text, number] : names) {
        if (text == name)
            return number;
    }
    return std::nullopt;
}

}  // namespace ferretta::app
