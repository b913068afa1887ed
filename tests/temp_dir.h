#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace quillon::testing {

// A fresh folder under the system's temporary folder, removed with its
// content at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with its trailing separator, ready to be a name prefix.
    std::string Folder() const { return m_path.string() + "/"; }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

    std::string Write(const std::string& name, const std::string& content) const {
        std::string path = *this / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string Read(const std::string& name) const { return ReadFile(*this / name); }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path m_path;
};

}  // namespace quillon::testing
