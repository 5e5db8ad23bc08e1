// Which part of LibreOffice an application needs, found by a file each Debian package brings.
#include <system_error>

#include "drivers/office/libreoffice.h"

namespace ferretta::platform::office {

namespace {

struct Part {
    const char* file;  // in the program folder
    const char* name;
    const char* package;
};

constexpr Part kOffice{"soffice.bin", "LibreOffice", "libreoffice-core"};

Part partOf(Application application) {
    switch (application) {
        case Application::Word:
            return {"libswlo.so", "LibreOffice Writer", "libreoffice-writer"};
        case Application::Excel:
            return {"libsclo.so", "LibreOffice Calc", "libreoffice-calc"};
        case Application::PowerPoint:
            break;
    }
    return {"libslideshowlo.so", "LibreOffice Impress", "libreoffice-impress"};
}

}  // namespace

std::string missingLibreOfficePart(Application application,
                                   const std::filesystem::path& programFolder) {
    for (const Part& part : {kOffice, partOf(application)}) {
        std::error_code error;
        if (!std::filesystem::exists(programFolder / part.file, error)) {
            return std::string(part.name) + " がインストールされていません (パッケージ " +
                   part.package + ")";
        }
    }
    return {};
}

}  // namespace ferretta::platform::office
