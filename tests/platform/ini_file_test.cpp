#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

TEST(IniRead, WindowsReaderRules) {
    TempDir dir;
    std::string path = dir.Write("a.ini",
                                 "; comment\r\n"
                                 "[Boot]\r\n"
                                 "  PathToBootFiles  =  C:\\boot\\new  \r\n"
                                 "pathtobootfiles=second\r\n"
                                 "[COMMON]\n"
                                 "Quoted=\"a b\"\n"
                                 "Empty=\n"
                                 "[boot]\n"
                                 "Other=later section\n");
    EXPECT_EQ(IniGetString(path, "BOOT", "PATHTOBOOTFILES", "d", 260), "C:\\boot\\new");
    EXPECT_EQ(IniGetString(path, "COMMON", "Quoted", "d", 260), "a b");
    EXPECT_EQ(IniGetString(path, "COMMON", "Empty", "d", 260), "");
    EXPECT_EQ(IniGetString(path, "BOOT", "Other", "d", 260), "later section");
    EXPECT_EQ(IniGetString(path, "COMMON", "Missing", "d", 260), "d");
    EXPECT_EQ(IniGetString(path, "Nowhere", "Quoted", "d", 260), "d");
    EXPECT_EQ(IniGetString(dir / "none.ini", "BOOT", "PathToBootFiles", "d", 260), "d");
}

TEST(IniRead, ValuesAreCutToTheBuffer) {
    TempDir dir;
    std::string path = dir.Write("a.ini", "[S]\nK=" + std::string(300, 'v') + "\n");
    EXPECT_EQ(IniGetString(path, "S", "K", "", 260).size(), 259u);
    EXPECT_EQ(IniGetString(path, "S", "K", "", 256).size(), 255u);
}

TEST(IniRead, Integers) {
    TempDir dir;
    std::string path = dir.Write("a.ini",
                                 "[S]\nBig=2147484064\nNeg=-4\nHex=0x800001A0\nJunk=12abc\n"
                                 "Word=abc\nWrap=4294967297\nPlus=+7\n");
    EXPECT_EQ(IniGetInt(path, "S", "Big", 1), 0x800001A0u);
    EXPECT_EQ(IniGetInt(path, "S", "Neg", 1), static_cast<std::uint32_t>(-4));
    EXPECT_EQ(IniGetInt(path, "S", "Hex", 1), 0x800001A0u);
    EXPECT_EQ(IniGetInt(path, "S", "Junk", 1), 12u);
    EXPECT_EQ(IniGetInt(path, "S", "Word", 1), 0u);
    EXPECT_EQ(IniGetInt(path, "S", "Wrap", 1), 1u);
    EXPECT_EQ(IniGetInt(path, "S", "Plus", 1), 7u);
    EXPECT_EQ(IniGetInt(path, "S", "Missing", 0x800001A0u), 0x800001A0u);
}

TEST(IniRead, SectionListing) {
    TempDir dir;
    std::string path = dir.Write("a.ini", "[PORTS]\nCOM1=/dev/a\ncom1=/dev/b\nCOM12 = /dev/c\n");
    auto keys = IniGetSection(path, "ports");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], (std::pair<std::string, std::string>{"COM1", "/dev/a"}));
    EXPECT_EQ(keys[1], (std::pair<std::string, std::string>{"COM12", "/dev/c"}));
}

TEST(IniWrite, KeepsEveryOtherLine) {
    TempDir dir;
    std::string original =
        "; my settings\n[COMMON]\nLastDevice=1\n; keep\nLastSpeed=9600\n[LPT]\nLptAddrStr=278\n";
    std::string path = dir.Write("a.ini", original);
    IniWriteString(path, "common", "lastdevice", "3");
    EXPECT_EQ(dir.Read("a.ini"),
              "; my settings\n[COMMON]\nlastdevice=3\n; keep\nLastSpeed=9600\n[LPT]\n"
              "LptAddrStr=278\n");
    IniWriteString(path, "COMMON", "LastExecAddr", "1");
    IniWriteString(path, "BOOT", "PathToBootFiles", "/x/");
    EXPECT_EQ(dir.Read("a.ini"),
              "; my settings\n[COMMON]\nlastdevice=3\n; keep\nLastSpeed=9600\nLastExecAddr=1\n"
              "[LPT]\nLptAddrStr=278\n[BOOT]\nPathToBootFiles=/x/\n");
    EXPECT_EQ(IniGetString(path, "BOOT", "PathToBootFiles", "", 260), "/x/");
}

TEST(IniWrite, CreatesAMissingFile) {
    TempDir dir;
    IniWriteString(dir / "new.ini", "COMMON", "LastDevice", "5");
    EXPECT_EQ(dir.Read("new.ini"), "[COMMON]\nLastDevice=5\n");
}

TEST(IniWrite, UnwritableFolderRaises) {
    TempDir dir;
    EXPECT_THROW(IniWriteString(dir / "no/such/a.ini", "S", "K", "V"), FileError);
}

}  // namespace
}  // namespace quillon
