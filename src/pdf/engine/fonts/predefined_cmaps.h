#pragma once
// The predefined Japanese CMaps (90ms-RKSJ-H, UniJIS-UTF16-H, ...) that a Type0 font may name
// as its /Encoding, read from JapanCMaps.dat beside the program.
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "pdf/engine/fonts/cmap.h"

namespace ferretta::pdf {

class PredefinedCMaps {
  public:
    // Nothing is read until the first lookup.
    explicit PredefinedCMaps(std::filesystem::path datFile) : m_datFile(std::move(datFile)) {}

    // The CMap of that name (without the slash; "Identity-H" is not one of them), parsed on
    // first use with its usecmap parents and then kept. Null for an unknown name, and for every
    // name when the data file is missing or damaged (one debug-log line says so, the first
    // time). Thread-safe.
    CMapPtr find(std::string_view name);

    static constexpr std::size_t maxInflated = std::size_t{16} << 20;

  private:
    void load();
    CMapPtr findLocked(std::string_view name, int depth);

    std::filesystem::path m_datFile;
    std::mutex m_mutex;
    bool m_loaded = false;
    std::string m_text;                                              // the inflated file
    std::map<std::string, std::string_view, std::less<>> m_sources;  // name -> CMap text
    std::map<std::string, CMapPtr, std::less<>> m_parsed;
};

// The process's CMaps, from platform::findDataFile("JapanCMaps.dat").
PredefinedCMaps& predefinedCMaps();

}  // namespace ferretta::pdf
