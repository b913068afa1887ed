#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "initfiles/packet_file.h"
#include "platform/digest.h"
#include "tests/cli/cli_run.h"
#include "tests/initfiles/record_bytes.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::CliRun;
using testing::Dword;
using testing::Record;
using testing::TempDir;
using testing::Words;

// The series identity of packet files 1 to count, digested here.
std::string Identity(const TempDir& folder, int count) {
    Sha256 digest;
    for (int n = 1; n <= count; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "%04d", n);
        std::string bytes = folder.Read(name);
        digest.Update(bytes.data(), bytes.size());
    }
    return digest.HexDigest();
}

class CliTest : public ::testing::Test {
protected:
    CliRun Cli(const std::string& arguments) { return m_runner.Run(arguments); }

    static std::string Quote(const std::string& text) { return testing::CliRunner::Quote(text); }

    testing::CliRunner m_runner;
    TempDir m_boot;
};

TEST_F(CliTest, PackWritesBusStepThenBuildAndKeepsFiles) {
    m_boot.Write("c_bus.txt", "1234\n000F\n\nABCD\n");
    m_boot.Write("up.bin", "payload");
    m_boot.Write("init_uploads.txt", "1000\nup.bin\n");
    std::string bare = m_boot.Folder().substr(0, m_boot.Folder().size() - 1);
    CliRun run = Cli("pack --boot-folder " + Quote(bare));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, m_boot.Folder() + "0001  CMD_CBUS  length 8  checksum ok\n" +
                           m_boot.Folder() + "0002  CMD_CBUS  length 6  checksum ok\n" +
                           m_boot.Folder() + "0003  CMD_CBUS  length 8  checksum ok\n" +
                           m_boot.Folder() + "0004  CMD_CBUS  length 6  checksum ok\n" +
                           m_boot.Folder() + "0005  CMD_UPLOAD  length 11  checksum ok\n" +
                           m_boot.Folder() + "0006  CMD_EXEC_ADDRESS  length 8  checksum ok\n" +
                           "series " + Identity(m_boot, 6) + "\n");
    EXPECT_EQ(m_boot.Read("0003"), Record(CMD_CBUS, Words({0x1234, 0x000F})));
    EXPECT_EQ(m_boot.Read("0005"), Record(CMD_UPLOAD, "payload"));
    EXPECT_EQ(m_boot.Read("0006"), Record(CMD_EXEC_ADDRESS, Dword(0x1000)));
}

TEST_F(CliTest, PackReportsSystemMessageAndReason) {
    CliRun run = Cli("pack --boot-folder " + Quote(m_boot.Folder()));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Invalid CBUS file (BOOT)!\ncannot open " + m_boot.Folder() +
                           "c_bus.txt: No such file or directory\n");

    m_boot.Write("c_bus.txt", "1\n");
    m_boot.Write("big.bin", std::string(70000, 'b'));
    m_boot.Write("init_uploads.txt", "1000\nbig.bin\n");
    run = Cli("pack --boot-folder " + Quote(m_boot.Folder()));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "Invalid input file (BOOT)!\nupload file " + m_boot.Folder() +
                           "big.bin is 70000 bytes; a record holds at most 65531\n");
}

TEST_F(CliTest, PackFullBuildFromProjectFile) {
    TempDir project;
    m_boot.Write("c_bus.txt", "1\n");
    m_boot.Write("init_uploads.txt", "1000\n");
    std::string personal =
        std::filesystem::relative(m_boot.Folder(), std::filesystem::path(QUILLON_CLI).parent_path())
            .string();
    project.Write("build.prj",
                  "[General parameters]\nNVMType=N\n[N parameters]\nGPAR 0=4\n"
                  "PersonalFolder=" +
                      personal + "\n");
    project.Write("image.bin", "0123456789");
    CliRun run = Cli("pack --boot-folder '' --project " + Quote(project / "build.prj") +
                     " --image " + Quote(project / "image.bin"));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // The bus step's file, then bus, exec, parameters, count, two block pairs, end.
    EXPECT_EQ(project.Read("0010"), Record(CMD_END, ""));
    EXPECT_EQ(project.Read("0009"), Record(CMD_BLOCK_DATA, "4567"));
    EXPECT_FALSE(std::filesystem::exists(project / "0011"));
}

TEST_F(CliTest, InspectFlagsMalformedRecords) {
    std::string good = m_boot.Write("good", Record(CMD_EXEC_ADDRESS, Dword(0x1000)));
    CliRun run = Cli("inspect " + Quote(good));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("CMD_EXEC_ADDRESS"), std::string::npos);
    EXPECT_NE(run.out.find("address 0x00001000"), std::string::npos);

    std::string corrupt = Record(CMD_CBUS, Words({1, 2}));
    corrupt[5] ^= 0x40;
    std::string bad = m_boot.Write("bad", corrupt);
    run = Cli("inspect " + Quote(good) + " " + Quote(bad));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("MALFORMED"), std::string::npos);
    EXPECT_NE(run.out.find("checksum"), std::string::npos);

    run = Cli("inspect " + Quote(m_boot / "missing"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos);
}

// One identity for one series, wherever it is shown: pack, inspect, the
// Using line and the box's record; a box that is to get another is refused
// before it sees a byte, and a prefix of 16 digits is enough to accept it.
TEST_F(CliTest, SeriesIdentityIsOneAndGuardsTheBox) {
    m_boot.Write("c_bus.txt", "1234\n");
    m_boot.Write("up.bin", "payload");
    m_boot.Write("init_uploads.txt", "1000\nup.bin\n");
    TempDir packed;
    std::filesystem::copy(m_boot.Folder(), packed.Folder());
    ASSERT_EQ(Cli("pack --boot-folder " + Quote(packed.Folder())).exitCode, 0);
    const std::string identity = Identity(packed, 4);
    CliRun inspect = Cli("inspect " + Quote(packed / "0001") + " " + Quote(packed / "0002") + " " +
                         Quote(packed / "0003") + " " + Quote(packed / "0004"));
    EXPECT_EQ(testing::CliRunner::LastLine(inspect.out), "series " + identity);

    TempDir home;
    TempDir dump;
    auto flash = [&](const std::string& expect) {
        return Cli("flash --simulate --progress plain --settings " + Quote(home / "q.INI") +
                   " --boot-folder " + Quote(m_boot.Folder()) + " --log " + Quote(home / "log") +
                   " --dump " + Quote(dump.Folder()) + expect);
    };
    CliRun wrong = flash(" --expect-series 0123456789abcdef");
    EXPECT_EQ(wrong.exitCode, 3) << wrong.err;
    EXPECT_NE(wrong.err.find(identity), std::string::npos) << wrong.err;
    EXPECT_NE(wrong.err.find("0123456789abcdef"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dump.Folder())) << "the box saw nothing";
    EXPECT_FALSE(std::filesystem::exists(m_boot / "0001"));

    CliRun right = flash(" --expect-series " + identity.substr(0, 16));
    ASSERT_EQ(right.exitCode, 0) << right.err;
    EXPECT_NE(right.out.find("series " + identity.substr(0, 12) + ")"), std::string::npos);
    EXPECT_NE(home.Read("log").find("\"series\":\"" + identity + "\""), std::string::npos);
    EXPECT_EQ(Cli("flash --expect-series 12ab").exitCode, 64);
}

}  // namespace
}  // namespace quillon
