#include "app/file_types.h"

#include <string_view>
#include <utility>

namespace ferretta::app {

FileTypeTable initialFileTypeTable() {
    FileTypeTable table;
    table.targetFileType.fill(false);
    table.targetFileType[fileType::text] = true;
    table.fileTypeName[fileType::outlookNote] = "Outlookメモ";
    table.fileTypeName[fileType::excel] = "Excel";
    table.fileTypeName[fileType::word] = "Word";
    table.fileTypeName[fileType::outlookContact] = "Outlook連絡先";
    table.fileTypeName[fileType::outlookMail] = "Outlookメール";
    table.fileTypeName[fileType::outlookTask] = "Outlook仕事";
    table.fileTypeName[fileType::pdf] = "Adobe PDF";
    table.fileTypeName[fileType::outlookExpressMail] = "OutlookExpressメール";
    table.fileTypeName[fileType::outlookCalendar] = "Outlook予定表";
    return table;
}

int fileTypeFromName(std::string_view name) {
    static constexpr std::pair<std::string_view, int> names[] = {
        {"text", fileType::text},
        {"word", fileType::word},
        {"excel", fileType::excel},
        {"powerpoint", fileType::powerPoint},
        {"pdf", fileType::pdf},
        {"access", fileType::access},
        {"outlook-task", fileType::outlookTask},
        {"outlook-mail", fileType::outlookMail},
        {"outlook-calendar", fileType::outlookCalendar},
        {"outlook-contact", fileType::outlookContact},
        {"outlook-note", fileType::outlookNote},
        {"outlook-express-mail", fileType::outlookExpressMail},
        {"outlook-express-contact", fileType::outlookExpressContact},
    };
    for (const auto& [text, number] : names) {
        if (text == name)
            return number;
    }
    return -1;
}

}  // namespace ferretta::app
