#include "searchers/office/office_cache.h"

namespace ferretta::searchers::office {

std::string officeKey(std::string_view kind) {
    // An updated office may split sentences or read cells otherwise.
    static const std::string stamps =
        cache::programStamp() + " " +
        cache::fileStamp("/usr/lib/libreoffice/program/libmergedlo.so") + " " +
        cache::fileStamp("/usr/lib/libreoffice/program/soffice.bin");
    return std::string(kind) + " " + stamps;
}

}  // namespace ferretta::searchers::office
