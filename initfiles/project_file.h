#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

class File;

// Reads the project description (INI syntax) and the flash image of the
// full build. Keeps nothing but the two paths: every request reads anew,
// but for the image while a series of blocks holds it open.
class ProjectFile {
public:
    ProjectFile();

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
    // 64 bits: an image past 4 GiB must be refused for its size, never cut.
    std::uint64_t ImageSize() const;
    std::uint32_t ReadImage(std::int64_t offset, void* buffer, std::uint32_t count) const;
    // While held, ReadImage reads from one opening of the image instead of
    // opening it for every block of a series of thousands.
    void HoldImageOpen();
    void ReleaseImage();
    std::int32_t BlockSize() const;
    // 0 when the block size is not positive. Whole, however large: the
    // builder refuses what its 16-bit fields cannot hold.
    std::uint64_t BlockCount() const;

    ~ProjectFile();

private:
    std::string m_projectPath;
    std::string m_imagePath;
    std::unique_ptr<File> m_heldImage;
};

}  // namespace quillon
