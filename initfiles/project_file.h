#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// Reads the project description (INI syntax) and the flash image of the
// full build. Keeps nothing but the two paths: every request reads anew.
class ProjectFile {
public:
    ProjectFile() = default;
    virtual ~ProjectFile() = default;

    void SetPaths(std::string projectPath, std::string imagePath);

    static std::string FolderOf(const std::string& path);

    std::string ProjectPath() const { return m_projectPath; }
    std::string ImagePath() const { return m_imagePath; }
    std::string ProjectFolder() const;
    std::string NvmType() const;
    std::uint32_t MrfId() const;
    std::uint32_t ChipId() const;
    std::int32_t Gpar(int n) const;
    std::string PersonalFolder() const;
    std::uint32_t ImageSize() const;
    std::uint32_t ReadImage(std::int32_t offset, void* buffer, std::uint32_t count) const;
    std::int32_t BlockSize() const;
    // 0 when the block size is not positive.
    std::uint32_t BlockCount() const;

private:
    std::string m_projectPath;
    std::string m_imagePath;
};

}  // namespace quillon
