#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quillon::testing {

// A fresh folder under the system's temporary folder, removed with its
// content at the end of the test. Its paths use '/' on every system, so
// that Folder() + name and dir / name are the same text.
class TempDir {
public:
    TempDir() {
        std::filesystem::path base = std::filesystem::temp_directory_path();
        std::random_device seed;
        std::mt19937 random(seed());
        for (;;) {
            std::filesystem::path candidate =
                base / ("quillon-" + std::to_string(random() % 1000000000));
            if (std::filesystem::create_directory(candidate)) {
                m_path = candidate.generic_string();
                return;
            }
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with its trailing separator, ready to be a name prefix.
    std::string Folder() const { return m_path + "/"; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

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
    std::string m_path;
};

}  // namespace quillon::testing
