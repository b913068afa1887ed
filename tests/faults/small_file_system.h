#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>

namespace quillon::testing {

// A file system of the test's own for as long as it lives: a small tmpfs
// (a disk that fills), or a folder bound elsewhere, read-only if asked.
// Needs CAP_SYS_ADMIN; Mounted() says whether it could be made.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& path, const char* options) : m_path(path) {
        std::filesystem::create_directory(path);
        m_mounted = ::mount("quillon-test", path.c_str(), "tmpfs", 0, options) == 0;
    }
    SmallFileSystem(const std::string& source, const std::string& path, bool readOnly)
        : m_path(path) {
        m_mounted = ::mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                    (!readOnly || ::mount(nullptr, path.c_str(), nullptr,
                                          MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
    }
    ~SmallFileSystem() {
        if (m_mounted) {
            ::umount2(m_path.c_str(), MNT_DETACH);
        }
    }
    bool Mounted() const { return m_mounted; }

private:
    std::string m_path;
    bool m_mounted = false;
};

}  // namespace quillon::testing
