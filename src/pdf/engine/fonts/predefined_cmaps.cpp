#include "pdf/engine/fonts/predefined_cmaps.h"

#include <zlib.h>

#include <fstream>
#include <iterator>

#include "pdf/engine/engine_log.h"
#include "platform/data_folder.h"

namespace ferretta::pdf {
namespace {

constexpr std::string_view magic = "FJCM1\n";

// The whole zlib stream inflated, or nullopt when it is damaged or longer than `limit`.
std::optional<std::string> inflateAll(const std::string& packed, std::size_t limit) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    int status = Z_OK;
    char buffer[65536];
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
        if (out.size() > limit)
            status = Z_MEM_ERROR;
        if (status == Z_BUF_ERROR && z.avail_in == 0)
            break;  // truncated
    }
    inflateEnd(&z);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

}  // namespace

void PredefinedCMaps::load() {
    m_loaded = true;
    std::ifstream in(m_datFile, std::ios::binary);
    std::string packed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (packed.size() > maxInflated)
        packed.clear();
    std::optional<std::string> text = inflateAll(packed, maxInflated);
    if (!text || text->compare(0, magic.size(), magic) != 0) {
        trace("p2tCMap", [&] { return "読み込めません: " + m_datFile.string(); });
        return;
    }
    m_text = std::move(*text);
    const std::string_view all(m_text);
    std::size_t at = magic.size();
    while (at < all.size()) {
        const std::size_t nameEnd = all.find('\n', at);
        const std::size_t lengthEnd =
            nameEnd == std::string_view::npos ? nameEnd : all.find('\n', nameEnd + 1);
        if (lengthEnd == std::string_view::npos)
            break;
        std::size_t length = 0;
        bool number = lengthEnd > nameEnd + 1;
        for (std::size_t k = nameEnd + 1; k < lengthEnd && number; ++k) {
            const char c = all[k];
            number = c >= '0' && c <= '9' && length < all.size();
            length = length * 10 + static_cast<std::size_t>(c - '0');
        }
        if (!number || length > all.size() - lengthEnd - 1) {
            trace("p2tCMap", [&] { return "壊れています: " + m_datFile.string(); });
            break;
        }
        m_sources.emplace(std::string(all.substr(at, nameEnd - at)),
                          all.substr(lengthEnd + 1, length));
        at = lengthEnd + 1 + length;
    }
}

CMapPtr PredefinedCMaps::findLocked(std::string_view name, int depth) {
    if (const auto parsed = m_parsed.find(name); parsed != m_parsed.end())
        return parsed->second;
    const auto source = m_sources.find(name);
    if (source == m_sources.end())
        return nullptr;
    const CMapResolver parent = [this](std::string_view parentName, int parentDepth) {
        return findLocked(parentName, parentDepth);
    };
    CMapPtr map = CMap::parse(source->second, parent, depth);
    // Kept also when empty, so that a damaged entry is not parsed again.
    m_parsed.emplace(std::string(name), map);
    return map;
}

CMapPtr PredefinedCMaps::find(std::string_view name) {
    const std::lock_guard lock(m_mutex);
    if (!m_loaded)
        load();
    return findLocked(name, 0);
}

PredefinedCMaps& predefinedCMaps() {
    static PredefinedCMaps maps(platform::findDataFile("JapanCMaps.dat"));
    return maps;
}

}  // namespace ferretta::pdf
