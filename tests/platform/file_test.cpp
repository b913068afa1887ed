#include "platform/file.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

std::vector<std::string> ReadAllLines(const std::string& path) {
    TextFile file;
    EXPECT_TRUE(file.Open(path, File::Mode::ReadExisting));
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadLine(line)) {
        lines.push_back(line);
    }
    return lines;
}

TEST(File, CreateTruncatesAndReadsBack) {
    TempDir dir;
    dir.Write("f", "old content that is long");
    File file;
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::CreateReadWrite));
    file.Write("abc", 3);
    EXPECT_EQ(file.GetLength(), 3u);
    EXPECT_EQ(file.Seek(1, File::From::Start), 1u);
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 2u);
    EXPECT_EQ(std::string(buffer, 2), "bc");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Seek(0, File::From::End), 3u);
}

TEST(File, OpenRefusesWhatIsNoRegularFile) {
    TempDir dir;
    File file;
    EXPECT_FALSE(file.Open(dir / "missing", File::Mode::ReadExisting));
    EXPECT_EQ(file.LastOpenError(), ENOENT);
    EXPECT_FALSE(file.Open(dir.Folder(), File::Mode::ReadExisting));
#ifdef _WIN32
    EXPECT_FALSE(file.Open("NUL", File::Mode::ReadExisting));  // a device
#else
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(dir / "fifo", File::Mode::ReadExisting));  // would wait for a writer
    EXPECT_FALSE(file.Open("/dev/zero", File::Mode::ReadExisting));   // would never end
#endif
}

// No line end or end-of-file byte is translated, and an offset past 4 GiB
// is kept whole.
TEST(File, BinaryContentAndLargeOffsets) {
    TempDir dir;
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes += static_cast<char>(value);
    }
    bytes += "\r\n\n\x1a\r";
    File file;
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::CreateReadWrite));
    file.Write(bytes.data(), bytes.size());
    file.Close();
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::ReadExisting));
    std::string back(bytes.size() + 1, '\0');
    ASSERT_EQ(file.Read(back.data(), back.size()), bytes.size());
    EXPECT_EQ(back.substr(0, bytes.size()), bytes);
    const std::uint64_t past4GiB = (std::uint64_t{1} << 32) + 5;
    EXPECT_EQ(file.Seek(static_cast<std::int64_t>(past4GiB), File::From::Start), past4GiB);
}

TEST(File, CreateDoesNotFollowSymbolicLinks) {
    TempDir dir;
    std::string target = dir.Write("target", "keep me");
    std::error_code error;
    std::filesystem::create_symlink(target, dir / "link", error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
    File file;
    EXPECT_FALSE(file.Open(dir / "link", File::Mode::CreateReadWrite));
    EXPECT_EQ(dir.Read("target"), "keep me");
}

TEST(File, FailuresRaiseFileErrorWithPathAndReason) {
    TempDir dir;
    try {
        File::Remove(dir / "gone");
        FAIL() << "no error raised";
    } catch (const FileError& error) {
        EXPECT_EQ(error.Path(), dir / "gone");
        EXPECT_EQ(error.SystemError(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("No such file"), std::string::npos);
    }
    File file;
    dir.Write("f", "x");
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::ReadExisting));
    EXPECT_THROW(file.Write("y", 1), FileError);
    EXPECT_THROW(file.Seek(-5, File::From::Start), FileError);
}

TEST(TextFile, LinesWithoutTheirEnds) {
    TempDir dir;
    EXPECT_EQ(ReadAllLines(dir.Write("lf", "a\n\nb\n")), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(ReadAllLines(dir.Write("crlf", "a\r\n\r\nb")),
              (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(ReadAllLines(dir.Write("empty", "")), std::vector<std::string>{});
    EXPECT_EQ(ReadAllLines(dir.Write("lone", "\n")), std::vector<std::string>{""});
}

TEST(TextFile, LinesLongerThanItsBuffer) {
    TempDir dir;
    std::string longLine(100000, 'x');
    std::string path = dir.Write("long", longLine + "\r\n" + longLine);
    EXPECT_EQ(ReadAllLines(path), (std::vector<std::string>{longLine, longLine}));
}

}  // namespace
}  // namespace quillon
