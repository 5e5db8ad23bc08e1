#include "app/debug_log.h"

#include <cstdio>

#include "platform/cp932.h"
#include "platform/data_folder.h"

namespace ferretta::app {
namespace {

constexpr std::string_view kOpenMarker = "----[ログ書き込み開始]----";
constexpr std::string_view kCloseMarker = "----[ログ書き込み終了]----";

void writeLine(std::FILE* file, std::string_view place, std::string_view message) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string line = platform::utf8ToCp932(DebugLog::formatLine(local, place, message));
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}

}  // namespace

DebugLog::~DebugLog() {
    if (std::FILE* file = m_file.load())
        std::fclose(file);
}

std::string DebugLog::formatLine(const std::tm& t, std::string_view place,
                                 std::string_view message) {
    // The Japanese short date and long time formats: yyyy/MM/dd and H:mm:ss.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    std::string line(stamp);
    line += " - ";
    line += place;
    line += " - ";
    line += message;
    return line;
}

bool DebugLog::logOpen() {
    const std::lock_guard lock(m_mutex);
    if (m_file.load())
        return false;
    std::FILE* file = std::fopen(m_path.c_str(), "ab");
    if (!file)
        return false;
    writeLine(file, "logOpen", kOpenMarker);
    m_file = file;
    return true;
}

bool DebugLog::logClose() {
    const std::lock_guard lock(m_mutex);
    std::FILE* file = m_file.exchange(nullptr);
    if (!file)
        return false;
    writeLine(file, "logClose", kCloseMarker);
    std::fclose(file);
    return true;
}

bool DebugLog::logWrite(std::string_view place, std::string_view message) {
    if (!m_file.load())
        return false;
    const std::lock_guard lock(m_mutex);
    if (std::FILE* file = m_file.load()) {
        writeLine(file, place, message);
        return true;
    }
    return false;
}

DebugLog& debugLog() {
    static DebugLog log(platform::dataFolder() / "debug.log");
    return log;
}

bool logWrite(std::string_view place, std::string_view message) {
    return debugLog().logWrite(place, message);
}

}  // namespace ferretta::app
