#include "settings/app_settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file.h"
#include "platform/serial_devices.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

class AppSettingsTest : public ::testing::Test {
protected:
    AppSettings Loaded() {
        AppSettings settings(m_path, m_program.Folder());
        settings.Load();
        return settings;
    }

    TempDir m_program;
    std::string m_path = m_program / "quillon.INI";
};

// An installed program must not write beside itself in /usr/bin; a copy with
// its settings beside it stays portable.
TEST_F(AppSettingsTest, SettingsFileIsFoundBesideTheProgramElseInTheUsersFolder) {
    TempDir user;
    const std::string inUserFolder = user.Folder() + "quillon/quillon.INI";
    EXPECT_EQ(AppSettings::FindSettingsFile(m_program.Folder(), user.Folder()), inUserFolder);
    EXPECT_EQ(AppSettings::FindSettingsFile(m_program.Folder(), ""), m_path);
    m_program.Write("quillon.INI", "");
    EXPECT_EQ(AppSettings::FindSettingsFile(m_program.Folder(), user.Folder()), m_path);

    // A first save creates the user's folder.
    AppSettings settings(inUserFolder, m_program.Folder());
    settings.Load();
    settings.m_lastDevice = 3;
    settings.Save();
    EXPECT_NE(TempDir::ReadFile(inUserFolder).find("LastDevice=3"), std::string::npos);
}

TEST_F(AppSettingsTest, DefaultsWithoutAFile) {
    AppSettings settings = Loaded();
    const std::string folder = m_program.Folder();
    EXPECT_EQ(settings.m_pathToBootFiles, folder);
    EXPECT_EQ(settings.m_pathToFlashSec, folder);
    EXPECT_EQ(settings.m_pathToFdd, folder.substr(0, folder.size() - 1));
    EXPECT_EQ(settings.m_lastDevice, 1);
    EXPECT_EQ(settings.m_lastSpeed, 115200);
    EXPECT_EQ(settings.m_lastExecAddr, 0x800001A0u);
    EXPECT_EQ(settings.m_lastLptAddr, 378);
    EXPECT_EQ(settings.m_timerTime, 1024);
    EXPECT_EQ(settings.m_lastForBuild, folder + "BUILD/BUILD.PRJ");
    EXPECT_EQ(settings.m_lastForCreate, folder + "BUILD/BUILD.PRJ");
    EXPECT_EQ(settings.m_lptAddrStr, "278,378");
    EXPECT_EQ(settings.m_compMain, 1);
    EXPECT_TRUE(settings.m_ports.empty());
    EXPECT_FALSE(std::filesystem::exists(m_path));  // loading never creates the file
}

TEST_F(AppSettingsTest, ValuesFromTheFile) {
    std::string boot = m_program / "boot";
    std::filesystem::create_directory(boot);
    m_program.Write("quillon.INI",
                    "[boot]\npathtobootfiles=" + boot +
                        "\n[COMMON]\nLastDevice=12\nLastSpeed=9600\nLastExecAddr=2147484064\n"
                        "PathToFlashSec=" +
                        std::string(300, 'p') +
                        "\n[PORTS]\nCOM1=/dev/ttyUSB0\ncom3 = /dev/serial/by-id/x\nCOMx=/dev/no\n");
    AppSettings settings = Loaded();
    // An existing folder named without its separator gets one.
    EXPECT_EQ(settings.m_pathToBootFiles, boot + "/");
    EXPECT_EQ(settings.m_lastDevice, 12);
    EXPECT_EQ(settings.m_lastSpeed, 9600);
    EXPECT_EQ(settings.m_lastExecAddr, 0x800001A0u);
    // Mended: a path is taken whole; one cut to 259 characters names another folder.
    EXPECT_EQ(settings.m_pathToFlashSec.size(), 300u);
    EXPECT_EQ(settings.m_ports, (PortMap{{1, "/dev/ttyUSB0"}, {3, "/dev/serial/by-id/x"}}));
    EXPECT_EQ(DeviceForPort(3, settings.m_ports), "/dev/serial/by-id/x");
    EXPECT_EQ(DeviceForPort(2, settings.m_ports), DefaultPortDevice(2));
    EXPECT_EQ(DeviceForPort(0, settings.m_ports), "");
}

// Mended: a value no field can hold is never cut to fit: a start address
// past 32 bits (it once wrapped to all ones) and a line too long to read
// are named with their key, for the update to refuse.
TEST_F(AppSettingsTest, ValuesThatCannotBeUsedAreNamed) {
    m_program.Write("quillon.INI",
                    "[COMMON]\nLastExecAddr=0x1FFFFFFFF\nLastSpeed=9600\n[BOOT]\n"
                    "PathToBootFiles=" +
                        std::string(TextFile::kMaxLine, 'x') + "\n");
    AppSettings settings = Loaded();
    EXPECT_NE(settings.Problem("LastExecAddr").find("LastExecAddr=0x1FFFFFFFF"), std::string::npos);
    EXPECT_NE(settings.Problem("PathToBootFiles").find("longer than"), std::string::npos);
    EXPECT_EQ(settings.Problem("LastSpeed"), "");
    EXPECT_EQ(settings.m_lastSpeed, 9600);
}

TEST_F(AppSettingsTest, EmptyBootFolderSelectsTheFullBuild) {
    m_program.Write("quillon.INI", "[BOOT]\nPathToBootFiles=\n");
    EXPECT_EQ(Loaded().m_pathToBootFiles, "");
}

TEST_F(AppSettingsTest, SaveWritesBackOnlyWhatChanged) {
    const std::string original =
        "; written by hand\n[COMMON]\nLastDevice=2\nEnabOnTop=0\n; keep me\n[LPT]\nLptAddrStr=1\n";
    m_program.Write("quillon.INI", original);
    AppSettings working = Loaded();
    working.Save();
    EXPECT_EQ(m_program.Read("quillon.INI"), original);

    // As the window's Exit does: a fresh record with the four working values.
    AppSettings exit(m_path, m_program.Folder());
    exit.m_pathToBootFiles = working.m_pathToBootFiles;
    exit.m_lastSpeed = working.m_lastSpeed;
    exit.m_lastExecAddr = working.m_lastExecAddr;
    exit.m_lastDevice = 5;
    exit.Save();
    EXPECT_EQ(m_program.Read("quillon.INI"),
              "; written by hand\n[COMMON]\nLastDevice=5\nEnabOnTop=0\n; keep me\n[LPT]\n"
              "LptAddrStr=1\n");
    EXPECT_EQ(Loaded().m_lastDevice, 5);
}

TEST_F(AppSettingsTest, SaveCreatesTheFileOnlyWhenSomethingChanged) {
    AppSettings settings = Loaded();
    settings.Save();
    EXPECT_FALSE(std::filesystem::exists(m_path));
    settings.m_lastExecAddr = 0x1000;
    settings.Save();
    EXPECT_EQ(m_program.Read("quillon.INI"), "[COMMON]\nLastExecAddr=4096\n");
}

}  // namespace
}  // namespace quillon
