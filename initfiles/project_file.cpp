#include "initfiles/project_file.h"

#include <utility>

#include "initfiles/number_scan.h"
#include "platform/file.h"
#include "platform/ini_file.h"
#include "platform/program_path.h"

namespace quillon {

namespace {

// Text keys are read into a buffer of this size, so values keep 255 characters.
constexpr std::size_t kValueBuffer = 256;

}  // namespace

ProjectFile::ProjectFile() = default;
ProjectFile::~ProjectFile() = default;

void ProjectFile::SetPaths(std::string projectPath, std::string imagePath) {
    m_projectPath = std::move(projectPath);
    m_imagePath = std::move(imagePath);
}

// The whole path: a path cut to a fixed buffer would name an ancestor
// folder, where the series would overwrite and then delete other files.
std::string ProjectFile::FolderOf(const std::string& path) {
    std::size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string ProjectFile::ProjectFolder() const {
    return FolderOf(m_projectPath);
}

std::string ProjectFile::NvmType() const {
    return IniGetString(m_projectPath, "General parameters", "NVMType", "", kValueBuffer);
}

namespace {

std::string ParameterKey(const std::string& projectPath, const std::string& nvmType,
                         const std::string& key) {
    return IniGetString(projectPath, nvmType + " parameters", key, "", kValueBuffer);
}

}  // namespace

std::uint32_t ProjectFile::MrfId() const {
    return ScanPrefixedHex(ParameterKey(m_projectPath, NvmType(), "MRF.ID"));
}

std::uint32_t ProjectFile::ChipId() const {
    return ScanPrefixedHex(ParameterKey(m_projectPath, NvmType(), "ChipID"));
}

std::int32_t ProjectFile::Gpar(int n) const {
    return ScanDecimal(ParameterKey(m_projectPath, NvmType(), "GPAR " + std::to_string(n)));
}

// Whole: a folder cut to a buffer's size would name another folder, whose
// files would then go to the box.
std::string ProjectFile::PersonalFolder() const {
    std::string personal = IniDocument(m_projectPath)
                               .Find(NvmType() + " parameters", "PersonalFolder")
                               .value_or(std::string());
    return ProgramFolder() + personal + "/";
}

std::uint64_t ProjectFile::ImageSize() const {
    File image;
    if (!image.Open(m_imagePath, File::Mode::ReadExisting)) {
        return 0;
    }
    return image.GetLength();
}

void ProjectFile::HoldImageOpen() {
    auto image = std::make_unique<File>();
    m_heldImage = image->Open(m_imagePath, File::Mode::ReadExisting) ? std::move(image) : nullptr;
}

void ProjectFile::ReleaseImage() {
    m_heldImage.reset();
}

std::uint32_t ProjectFile::ReadImage(std::int64_t offset, void* buffer, std::uint32_t count) const {
    if (m_heldImage) {
        if (offset < 0) {
            m_heldImage->Seek(offset, File::From::Start);  // refused as an unheld read would be
        }
        return static_cast<std::uint32_t>(
            m_heldImage->ReadAt(buffer, count, static_cast<std::uint64_t>(offset)));
    }
    File image;
    if (!image.Open(m_imagePath, File::Mode::ReadExisting)) {
        return 0;
    }
    image.Seek(offset, File::From::Start);
    return static_cast<std::uint32_t>(image.Read(buffer, count));
}

std::int32_t ProjectFile::BlockSize() const {
    return Gpar(0);
}

std::uint64_t ProjectFile::BlockCount() const {
    std::int32_t size = BlockSize();
    if (size <= 0) {
        return 0;
    }
    return ImageSize() / static_cast<std::uint64_t>(size);
}

}  // namespace quillon
