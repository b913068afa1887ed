#include "initfiles/init_file_builder.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "initfiles/boot_folder.h"
#include "platform/file.h"
#include "platform/program_path.h"
#include "tests/initfiles/record_bytes.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::Dword;
using testing::Record;
using testing::TempDir;
using testing::Words;

class BuilderTest : public ::testing::Test {
protected:
    BuilderTest() { m_builder.SetFolder(m_boot.Folder()); }

    bool Exists(const std::string& name) const { return std::filesystem::exists(m_boot / name); }

    TempDir m_boot;
    InitFileBuilder m_builder;
};

TEST_F(BuilderTest, BusGroupsAcrossLineEnds) {
    for (const char* text : {"1234\n5678\n\nABCD", "1234\r\n5678\r\n\r\nABCD\r\n",
                             "\n\n1234\n   \n0x\n; note\n5678\n\n\nABCD\n\n"}) {
        m_boot.Write("c_bus.txt", text);
        m_builder.SetFolder(m_boot.Folder());
        ASSERT_TRUE(m_builder.WriteBusConfig()) << text;
        EXPECT_EQ(m_builder.FileCount(), 2u) << text;
        EXPECT_EQ(m_boot.Read("0001"), Record(CMD_CBUS, Words({0x1234, 0x5678}))) << text;
        EXPECT_EQ(m_boot.Read("0002"), Record(CMD_CBUS, Words({0xABCD}))) << text;
    }
}

TEST_F(BuilderTest, BusLinesScannedAsFourHexDigits) {
    m_boot.Write("c_bus.txt", "12345\n0x00ff\n  00FF\nBus A\n-1\n");
    ASSERT_TRUE(m_builder.WriteBusConfig());
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_CBUS, Words({0x1234, 0x00FF, 0x00FF, 0xB, 0xFFFF})));
}

TEST_F(BuilderTest, BusFileWithoutValuesMakesNothing) {
    for (const char* text : {"", "\n\n", "   \n; comment\nxyz\n\n"}) {
        m_boot.Write("c_bus.txt", text);
        EXPECT_TRUE(m_builder.WriteBusConfig());
        EXPECT_EQ(m_builder.FileCount(), 0u);
    }
}

TEST_F(BuilderTest, MissingBusFileFailsWithItsName) {
    EXPECT_FALSE(m_builder.WriteBusConfig());
    EXPECT_EQ(m_builder.LastFault().words,
              "cannot open " + m_boot.Folder() + "c_bus.txt: No such file or directory");
    EXPECT_FALSE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 0u);
}

TEST_F(BuilderTest, UploadsAndExecAddress) {
    m_boot.Write("c_bus.txt", "");
    m_boot.Write("a.bin", "abc");
    m_boot.Write("init_uploads.txt", "80000000\na.bin\n\nmissing.bin\n");
    ASSERT_TRUE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 4u);
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_UPLOAD, "abc"));
    EXPECT_EQ(m_boot.Read("0002"), Record(CMD_UPLOAD, ""));  // the folder itself
    EXPECT_EQ(m_boot.Read("0003"), Record(CMD_UPLOAD, ""));
    EXPECT_EQ(m_boot.Read("0004"), Record(CMD_EXEC_ADDRESS, Dword(0x80000000)));
    EXPECT_TRUE(m_builder.LastFault().words.empty());
}

TEST_F(BuilderTest, AddressLineAlone) {
    m_boot.Write("c_bus.txt", "");
    m_boot.Write("init_uploads.txt", "0x1000");
    ASSERT_TRUE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 1u);
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_EXEC_ADDRESS, Dword(0x1000)));
}

TEST_F(BuilderTest, NoAddressKeepsPreviousOrMakesNoExecFile) {
    m_boot.Write("c_bus.txt", "");
    m_boot.Write("init_uploads.txt", "FFFFFFFF\n");
    EXPECT_TRUE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 0u);

    // Mended: an address given is an address, all ones too; only the list's
    // FFFFFFFF says "none".
    m_builder.SetExecAddress(0xFFFFFFFF);
    ASSERT_TRUE(m_builder.WriteExecCommand());
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_EXEC_ADDRESS, Dword(0xFFFFFFFF)));
    m_builder.SetFolder(m_boot.Folder());

    m_builder.SetExecAddress(0x20);
    m_boot.Write("init_uploads.txt", "no number\n");
    EXPECT_TRUE(m_builder.Build());
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_EXEC_ADDRESS, Dword(0x20)));
}

TEST_F(BuilderTest, DirectBusStepThenBuildNumbersOn) {
    m_boot.Write("c_bus.txt", "1\n2\n\n3\n");
    m_boot.Write("init_uploads.txt", "10\n");
    ASSERT_TRUE(m_builder.WriteBusConfig());
    ASSERT_TRUE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 5u);
    EXPECT_EQ(m_boot.Read("0003"), m_boot.Read("0001"));
    EXPECT_EQ(m_boot.Read("0004"), m_boot.Read("0002"));
    EXPECT_EQ(m_boot.Read("0005"), Record(CMD_EXEC_ADDRESS, Dword(0x10)));

    m_builder.SetFolder(m_boot.Folder());
    EXPECT_EQ(m_builder.NextFileName(), m_boot.Folder() + "0001");
}

TEST_F(BuilderTest, DeleteFilesSkipsThoseGone) {
    m_boot.Write("c_bus.txt", "1\n\n2\n\n3\n");
    ASSERT_TRUE(m_builder.WriteBusConfig());
    std::filesystem::remove(m_boot / "0002");
    EXPECT_NO_THROW(m_builder.DeleteFiles());
    EXPECT_FALSE(Exists("0001"));
    EXPECT_FALSE(Exists("0003"));
    EXPECT_EQ(m_builder.FileCount(), 3u);
}

TEST_F(BuilderTest, DestructorDeletesUnlessKept) {
    m_boot.Write("c_bus.txt", "1\n");
    {
        InitFileBuilder builder;
        builder.SetFolder(m_boot.Folder());
        ASSERT_TRUE(builder.WriteBusConfig());
        ASSERT_TRUE(Exists("0001"));
    }
    EXPECT_FALSE(Exists("0001"));
    {
        InitFileBuilder builder;
        builder.SetFolder(m_boot.Folder());
        builder.KeepFiles();
        ASSERT_TRUE(builder.WriteBusConfig());
    }
    EXPECT_TRUE(Exists("0001"));
}

TEST_F(BuilderTest, TenThousandthNameHasFiveDigits) {
    std::string name;
    for (int n = 1; n <= 10000; ++n) {
        name = m_builder.NextFileName();
        if (n == 9999) {
            EXPECT_EQ(name, m_boot.Folder() + "9999");
        }
    }
    EXPECT_EQ(name, m_boot.Folder() + "10000");
}

TEST_F(BuilderTest, BootBuildRefusesFullBuildSteps) {
    EXPECT_FALSE(m_builder.WriteParameters());
    EXPECT_FALSE(m_builder.WriteBlockCount());
    EXPECT_FALSE(m_builder.WriteImageBlocks());
    EXPECT_FALSE(m_builder.WriteEndCommand());
    EXPECT_EQ(m_builder.FileCount(), 0u);
}

// Mended: an upload too large for the length field fails its step, and
// nothing is written for it.
TEST_F(BuilderTest, UploadOverRecordLimitFails) {
    m_boot.Write("c_bus.txt", "");
    m_boot.Write("fits.bin", std::string(65531, 'f'));
    m_boot.Write("big.bin", std::string(70000, 'b'));
    m_boot.Write("init_uploads.txt", "1000\nfits.bin\nbig.bin\n");
    EXPECT_FALSE(m_builder.Build());
    EXPECT_EQ(
        m_builder.LastFault().words,
        "upload file " + m_boot.Folder() + "big.bin is 70000 bytes; a record holds at most 65531");
    EXPECT_EQ(m_boot.Read("0001").substr(2, 2), "\xFF\xFF");
    EXPECT_FALSE(Exists("0002"));
}

TEST_F(BuilderTest, BusGroupOverRecordLimitFails) {
    std::string text;
    for (int i = 0; i < 32766; ++i) {
        text += "1\n";
    }
    m_boot.Write("c_bus.txt", text);
    EXPECT_FALSE(m_builder.WriteBusConfig());
    EXPECT_FALSE(Exists("0001"));
    EXPECT_NE(m_builder.LastFault().words.find("c_bus.txt"), std::string::npos);
}

#ifndef _WIN32  // FIFOs and /dev/zero
// Mended: a folder, a FIFO or a device named as an upload reads as empty,
// never for ever.
TEST_F(BuilderTest, NonRegularUploadGivesEmptyPayload) {
    m_boot.Write("c_bus.txt", "");
    std::filesystem::create_directory(m_boot / "folder");
    ASSERT_EQ(::mkfifo((m_boot / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", (m_boot / "zero").c_str()), 0);
    m_boot.Write("empty.bin", "");
    m_boot.Write("init_uploads.txt", "FFFFFFFF\nfolder\nfifo\nzero\nmissing.bin \nempty.bin\n");
    ASSERT_TRUE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 5u);
    for (const char* name : {"0001", "0002", "0003", "0004", "0005"}) {
        EXPECT_EQ(m_boot.Read(name), Record(CMD_UPLOAD, "")) << name;
    }
    // Each still goes to the box as an empty upload, but the user is told,
    // with its line; the name in quotes shows a trailing blank.
    const std::string list = m_boot / "init_uploads.txt";
    const std::string tail = "; the box gets an empty upload for it";
    EXPECT_EQ(m_builder.Warnings(),
              (std::vector<std::string>{
                  "warning: " + list + " line 2: \"folder\" is not a regular file" + tail,
                  "warning: " + list + " line 3: \"fifo\" is not a regular file" + tail,
                  "warning: " + list + " line 4: \"zero\" is not a regular file" + tail,
                  "warning: " + list + " line 5: \"missing.bin \" is missing" + tail,
                  "warning: " + list + " line 6: \"empty.bin\" is empty" + tail}));
}
#endif

// Windows Notepad starts a file with a byte-order mark; it would hide the
// first value or the address.
TEST_F(BuilderTest, ByteOrderMarkIsSkippedWithANote) {
    m_boot.Write("c_bus.txt",
                 "\xEF\xBB\xBF"
                 "1234\n");
    m_boot.Write("init_uploads.txt",
                 "\xEF\xBB\xBF"
                 "80000000\n");
    ASSERT_TRUE(m_builder.Build());
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_CBUS, Words({0x1234})));
    EXPECT_EQ(m_boot.Read("0002"), Record(CMD_EXEC_ADDRESS, Dword(0x80000000)));
    ASSERT_EQ(m_builder.Warnings().size(), 2u);
    EXPECT_NE(m_builder.Warnings()[0].find(m_boot / "c_bus.txt"), std::string::npos);
    EXPECT_NE(m_builder.Warnings()[1].find("byte-order mark"), std::string::npos);
}

// Measuring tells the series' size without a file, and leaves alone the
// files of a series already there.
TEST_F(BuilderTest, MeasuringWritesNothingAndCountsTheBytes) {
    m_boot.Write("c_bus.txt", "1234\n5678\n");
    m_boot.Write("init_uploads.txt", "80000000\nload.bin\n");
    m_boot.Write("load.bin", std::string(300, 'l'));
    m_boot.Write("0001", "kept");
    {
        InitFileBuilder measure;
        measure.MeasureOnly();
        measure.SetFolder(m_boot.Folder());
        ASSERT_TRUE(measure.WriteBusConfig() && measure.Build());
        EXPECT_EQ(measure.FileCount(), 4u);
        EXPECT_EQ(measure.SeriesBytes(), 3 * 12u + (300 + 8));  // bus twice, exec, upload
        EXPECT_FALSE(Exists("0002"));
    }
    EXPECT_EQ(m_boot.Read("0001"), "kept");
}

#ifndef _WIN32  // links and modes
// Mended: whatever another user planted at a packet name (a link, a hard
// link, a file of theirs that they could rewrite during the download) is
// replaced by a fresh file of ours, which only we may read; the file a
// link leads to is untouched. A name that cannot be made fresh fails.
TEST_F(BuilderTest, PlantedPacketNamesAreReplacedNeverWrittenThrough) {
    m_boot.Write("c_bus.txt", "1\n\n2\n\n3\n");
    std::string target = m_boot.Write("precious", "keep");
    ASSERT_EQ(::symlink(target.c_str(), (m_boot / "0001").c_str()), 0);
    ASSERT_EQ(::link(target.c_str(), (m_boot / "0002").c_str()), 0);
    m_boot.Write("0003", "forged");
    ASSERT_TRUE(m_builder.WriteBusConfig()) << m_builder.LastFault().words;
    EXPECT_EQ(m_boot.Read("precious"), "keep");
    EXPECT_EQ(m_boot.Read("0003"), Record(CMD_CBUS, Words({3})));
    struct stat info {};
    ASSERT_EQ(::lstat((m_boot / "0001").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    InitFileBuilder kept;
    kept.KeepFiles();
    kept.SetFolder(m_boot.Folder());
    mode_t mask = ::umask(022);
    ASSERT_TRUE(kept.WriteBusConfig());
    ::umask(mask);
    ASSERT_EQ(::stat((m_boot / "0001").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    std::filesystem::remove(m_boot / "0002");
    std::filesystem::create_directory(m_boot / "0002");
    m_builder.SetFolder(m_boot.Folder());
    EXPECT_FALSE(m_builder.WriteBusConfig());
    EXPECT_NE(m_builder.LastFault().words.find("0002: Is a directory"), std::string::npos);
}
#endif

// Mended: a line too long to be held is refused with its number, whichever
// of the two lists it is in; a name that leads out of the boot folder still
// works as it always has, and is warned of.
TEST_F(BuilderTest, OverlongLinesAndNamesOutsideTheFolder) {
    std::string huge(TextFile::kMaxLine + 1, '1');
    m_boot.Write("c_bus.txt", "1\n" + huge + "\n");
    EXPECT_FALSE(m_builder.WriteBusConfig());
    EXPECT_EQ(m_builder.LastFault().words, "line 2 of " + m_boot.Folder() +
                                               "c_bus.txt is longer than " +
                                               std::to_string(TextFile::kMaxLine) + " bytes");
    m_boot.Write("c_bus.txt", "");
    m_boot.Write("init_uploads.txt", "10\n" + huge + "\n");
    m_builder.SetFolder(m_boot.Folder());
    EXPECT_FALSE(m_builder.Build());
    EXPECT_NE(m_builder.LastFault().words.find("line 2 of"), std::string::npos);

    TempDir outside;
    std::string name = "../" +
                       std::filesystem::path(outside.Folder()).parent_path().filename().string() +
                       "/x.bin";
    outside.Write("x.bin", "xyz");
    m_boot.Write("init_uploads.txt", "10\n" + name + "\n");
    m_builder.SetFolder(m_boot.Folder());
    ASSERT_TRUE(m_builder.Build()) << m_builder.LastFault().words;
    EXPECT_EQ(m_boot.Read("0001"), Record(CMD_UPLOAD, "xyz"));
    ASSERT_EQ(m_builder.Warnings().size(), 1u);
    EXPECT_EQ(m_builder.Warnings()[0], "warning: " + m_boot.Folder() +
                                           "init_uploads.txt line 2: \"" + name +
                                           "\" lies outside the boot folder");
}

TEST(NormalizeBootFolderTest, AddsSeparatorToExistingDirectoryOnly) {
    TempDir dir;
    std::string bare = dir.Folder().substr(0, dir.Folder().size() - 1);
    EXPECT_EQ(NormalizeBootFolder(bare), dir.Folder());
    EXPECT_EQ(NormalizeBootFolder(dir.Folder()), dir.Folder());
    EXPECT_EQ(NormalizeBootFolder(dir / "missing"), dir / "missing");
    EXPECT_EQ(NormalizeBootFolder(dir.Write("file", "")), dir / "file");
    EXPECT_EQ(NormalizeBootFolder(""), "");
}

// The full build: inputs in the personal folder below the program folder,
// packet files beside the project file.
class FullBuildTest : public ::testing::Test {
protected:
    static constexpr int kBlock = 16;

    FullBuildTest() {
        m_input.Write("c_bus.txt", "1234\n000F\n");
        m_input.Write("u1.bin", "one");
        m_input.Write("u2.bin", "two!");
        m_input.Write("init_uploads.txt", "80000000\nu1.bin\nu2.bin\n");
        for (int i = 0; i < 3 * kBlock + kBlock / 2; ++i) {
            m_image += static_cast<char>(i);
        }
        m_project.Write("image.bin", m_image);
        m_builder.SetFolder("");
        m_builder.SetProjectPaths(m_project / "build.prj", m_project / "image.bin");
    }

    void Project(const std::string& blockSize) {
        std::string personal =
            std::filesystem::relative(m_input.Folder(), ProgramFolder()).string();
        m_project.Write("build.prj",
                        "[General parameters]\nNVMType=NAND\n[NAND parameters]\n"
                        "MRF.ID=0x1A2B\nChipID=0x80000001\nGPAR 0=" +
                            blockSize +
                            "\nGPAR 1=-4\nGPAR 2=7\nGPAR 3=9\n"
                            "PersonalFolder=" +
                            personal + "\n");
    }

    std::string Packet(int n) const {
        char name[8];
        std::snprintf(name, sizeof name, "%04d", n);
        return m_project.Read(name);
    }

    TempDir m_input;
    TempDir m_project;
    std::string m_image;
    InitFileBuilder m_builder;
};

TEST_F(FullBuildTest, WorkedOrder) {
    Project(std::to_string(kBlock));
    ASSERT_TRUE(m_builder.Build()) << m_builder.LastFault().words;
    ASSERT_EQ(m_builder.FileCount(), 13u);
    EXPECT_EQ(Packet(1), Record(CMD_CBUS, Words({0x1234, 0x000F})));
    EXPECT_EQ(Packet(2), Record(CMD_UPLOAD, "one"));
    EXPECT_EQ(Packet(3), Record(CMD_UPLOAD, "two!"));
    EXPECT_EQ(Packet(4), Record(CMD_EXEC_ADDRESS, Dword(0x80000000)));
    EXPECT_EQ(Packet(5), Record(CMD_PARAMETERS, Dword(0x1A2B) + Dword(0x80000001) + Dword(kBlock) +
                                                    Dword(0xFFFFFFFC) + Dword(7) + Dword(9)));
    EXPECT_EQ(Packet(6), Record(CMD_BLOCK_COUNT, Words({3})));
    for (int block = 0; block < 3; ++block) {
        EXPECT_EQ(Packet(7 + 2 * block),
                  Record(CMD_BLOCK_HEADER, Words({static_cast<std::uint16_t>(block), 1})));
        EXPECT_EQ(Packet(8 + 2 * block),
                  Record(CMD_BLOCK_DATA, m_image.substr(block * kBlock, kBlock)));
    }
    EXPECT_EQ(Packet(13), Record(CMD_END, ""));
}

// Mended: the part of a block that the image does not fill is erased flash.
TEST_F(FullBuildTest, ShortImageFillsBlockWithErasedBytes) {
    Project("64");
    ASSERT_TRUE(m_builder.Build()) << m_builder.LastFault().words;
    EXPECT_EQ(m_builder.FileCount(), 9u);
    EXPECT_EQ(Packet(6), Record(CMD_BLOCK_COUNT, Words({0})));
    EXPECT_EQ(Packet(8),
              Record(CMD_BLOCK_DATA, m_image + std::string(64 - m_image.size(), '\xFF')));

    std::filesystem::remove(m_project / "image.bin");
    m_builder.SetFolder("");
    ASSERT_TRUE(m_builder.Build());
    EXPECT_EQ(Packet(8), Record(CMD_BLOCK_DATA, std::string(64, '\xFF')));
}

// Mended: a block size that is not positive, or too large for a record,
// and an image of more blocks than the 16-bit count and index can hold (one
// past 4 GiB among them, which was cut to 32 bits) are refused before any
// file is written, naming the value and the limit.
TEST_F(FullBuildTest, WhatTheFieldsCannotHoldIsRefusedBeforeAnyFile) {
    struct Case {
        const char* blockSize;
        std::uint64_t imageSize;
        const char* named;  // in the reason; nullptr: the build goes through
    };
    const Case cases[] = {
        {"0", 100, "not positive"},
        {"-256", 100, "not positive"},
        {"none", 100, "not positive"},
        {"70000", 100, "70000"},
        {"64", 65535 * 64, nullptr},
        {"64", 65536 * 64, "65536 blocks of 64 bytes; the block count field holds at most 65535"},
        {"65531", (std::uint64_t{1} << 32) + 2 * 65531,
         "blocks of 65531 bytes; the block count field"},
    };
    for (const Case& c : cases) {
        Project(c.blockSize);
        std::filesystem::resize_file(m_project / "image.bin", c.imageSize);
        InitFileBuilder measure;
        measure.MeasureOnly();
        measure.SetFolder("");
        measure.SetProjectPaths(m_project / "build.prj", m_project / "image.bin");
        EXPECT_EQ(measure.WriteBusConfig() && measure.Build(), c.named == nullptr) << c.blockSize;
        if (c.named != nullptr) {
            EXPECT_EQ(measure.FileCount(), 0u) << c.blockSize;
            EXPECT_NE(measure.LastFault().words.find(c.named), std::string::npos)
                << measure.LastFault().words;
        }
    }
}

TEST_F(FullBuildTest, MissingAddressFailsAfterUploads) {
    Project(std::to_string(kBlock));
    m_input.Write("init_uploads.txt", "FFFFFFFF\nu1.bin\n");
    EXPECT_FALSE(m_builder.Build());
    EXPECT_EQ(m_builder.FileCount(), 2u);
}

}  // namespace
}  // namespace quillon
