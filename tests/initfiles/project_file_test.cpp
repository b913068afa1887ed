#include "initfiles/project_file.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/program_path.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

class ProjectFileTest : public ::testing::Test {
protected:
    void Project(const std::string& text) {
        m_project.SetPaths(m_dir.Write("build.prj", text), m_dir / "image.bin");
    }

    TempDir m_dir;
    ProjectFile m_project;
};

TEST_F(ProjectFileTest, ReadsKeysOfTheNamedSection) {
    Project(
        "[General parameters]\nNVMType=NOR\n"
        "[NOR parameters]\nMRF.ID=0x1A2B\nChipID=0xFEDCBA98\n"
        "GPAR 0=256\nGPAR 1=-4\nGPAR 2=12abc\nGPAR 3=abc\nPersonalFolder=Boot\n");
    EXPECT_EQ(m_project.NvmType(), "NOR");
    EXPECT_EQ(m_project.MrfId(), 0x1A2Bu);
    EXPECT_EQ(m_project.ChipId(), 0xFEDCBA98u);
    EXPECT_EQ(m_project.Gpar(0), 256);
    EXPECT_EQ(m_project.Gpar(1), -4);
    EXPECT_EQ(m_project.Gpar(2), 12);
    EXPECT_EQ(m_project.Gpar(3), 0);
    EXPECT_EQ(m_project.PersonalFolder(), ProgramFolder() + "Boot/");
    EXPECT_EQ(m_project.ProjectFolder(), m_dir.Folder());
}

TEST_F(ProjectFileTest, MissingTypeSelectsNoParameters) {
    Project("[NOR parameters]\nMRF.ID=0x1A2B\nGPAR 0=8\nPersonalFolder=Boot\n");
    EXPECT_EQ(m_project.NvmType(), "");
    EXPECT_EQ(m_project.MrfId(), 0u);
    EXPECT_EQ(m_project.Gpar(0), 0);
    EXPECT_EQ(m_project.PersonalFolder(), ProgramFolder() + "/");
}

TEST_F(ProjectFileTest, HexKeysNeedLowerCasePrefix) {
    Project("[General parameters]\nNVMType=A\n[A parameters]\nMRF.ID=1A2B\nChipID=0X1A2B\n");
    EXPECT_EQ(m_project.MrfId(), 0u);
    EXPECT_EQ(m_project.ChipId(), 0u);
}

// A value is cut as its buffer had it; a folder never, or it names another.
TEST_F(ProjectFileTest, LongValueIsCutTo255CharactersAFolderIsNot) {
    Project("[General parameters]\nNVMType=" + std::string(300, 'n') + "\n[" +
            std::string(255, 'n') + " parameters]\nPersonalFolder=" + std::string(300, 'p') + "\n");
    EXPECT_EQ(m_project.NvmType(), std::string(255, 'n'));
    EXPECT_EQ(m_project.PersonalFolder(), ProgramFolder() + std::string(300, 'p') + "/");
}

TEST_F(ProjectFileTest, WithoutPathsEverythingReadsAsMissing) {
    ProjectFile empty;
    EXPECT_EQ(empty.ProjectFolder(), "");
    EXPECT_EQ(empty.Gpar(0), 0);
    EXPECT_EQ(empty.ImageSize(), 0u);
    EXPECT_EQ(empty.BlockCount(), 0u);  // no division by a block size of 0
}

TEST(FolderOfTest, SplitsOnEitherSeparator) {
    EXPECT_EQ(ProjectFile::FolderOf("D:\\Tools\\Quillon.exe"), "D:\\Tools\\");
    EXPECT_EQ(ProjectFile::FolderOf("/opt/quillon/build.prj"), "/opt/quillon/");
    EXPECT_EQ(ProjectFile::FolderOf("mixed/dir\\file.prj"), "mixed/dir\\");
    EXPECT_EQ(ProjectFile::FolderOf("build.prj"), "");
    // Cut to a short buffer, a deep path would name an ancestor folder.
    std::string deep = "/" + std::string(300, 'd') + "/";
    EXPECT_EQ(ProjectFile::FolderOf(deep + "build.prj"), deep);
}

TEST_F(ProjectFileTest, ImageSizeReadAndBlocks) {
    Project("[General parameters]\nNVMType=X\n[X parameters]\nGPAR 0=256\n");
    EXPECT_EQ(m_project.ImageSize(), 0u);
    char buffer[256] = {'u'};
    EXPECT_EQ(m_project.ReadImage(0, buffer, sizeof buffer), 0u);
    EXPECT_EQ(buffer[0], 'u');

    m_dir.Write("image.bin", std::string(1000, 'i'));
    EXPECT_EQ(m_project.ImageSize(), 1000u);
    EXPECT_EQ(m_project.BlockCount(), 3u);
    EXPECT_EQ(m_project.ReadImage(1000, buffer, sizeof buffer), 0u);
    EXPECT_EQ(m_project.ReadImage(990, buffer, sizeof buffer), 10u);
    m_dir.Write("image.bin", std::string(1024, 'i'));
    EXPECT_EQ(m_project.BlockCount(), 4u);

    Project("[General parameters]\nNVMType=X\n[X parameters]\nGPAR 0=-256\n");
    EXPECT_EQ(m_project.BlockCount(), 0u);
}

}  // namespace
}  // namespace quillon
