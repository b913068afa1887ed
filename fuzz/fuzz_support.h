#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace quillon::fuzz {

// A folder of the target's own for the whole run, emptied between inputs.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillon-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern + "/";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    // The one folder of a fuzz target, made on first use and removed at exit.
    static const ScratchFolder& ForThisRun() {
        static ScratchFolder folder;
        return folder;
    }

    const std::string& Path() const { return m_path; }

    void Clear() const {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(m_path, ignored)) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }

    std::string Write(const std::string& name, const std::string& content) const {
        std::string path = m_path + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::abort();
        }
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
        return path;
    }

    std::size_t Count() const {
        std::error_code ignored;
        std::size_t count = 0;
        for (auto it = std::filesystem::directory_iterator(m_path, ignored);
             it != std::filesystem::directory_iterator(); ++it) {
            ++count;
        }
        return count;
    }

private:
    std::string m_path;
};

// A broken property is a finding like a crash: abort with the reason.
inline void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

}  // namespace quillon::fuzz
