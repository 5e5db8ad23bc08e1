#pragma once
// A folder of files for one test, removed with the object.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace ferretta::test {

// The bytes of a file; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

// Writes the bytes to the file, its folders made as needed.
inline void writeFile(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

class TempTree {
  public:
    TempTree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ferretta-tree-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::filesystem::filesystem_error(
                "mkdtemp", std::error_code(errno, std::generic_category()));
        m_root = pattern;
        // Others (an unprivileged child of a test run as root) may enter it.
        std::filesystem::permissions(m_root, std::filesystem::perms(0755));
    }
    ~TempTree() {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // Writes the bytes to the file (folders made as needed); answers its path.
    std::string write(const std::string& relative, const std::string& bytes) const {
        writeFile(m_root / relative, bytes);
        return (m_root / relative).string();
    }
    std::string path(const std::string& relative = {}) const {
        return relative.empty() ? m_root.string() : (m_root / relative).string();
    }
    const std::filesystem::path& root() const { return m_root; }

  private:
    std::filesystem::path m_root;
};

}  // namespace ferretta::test
