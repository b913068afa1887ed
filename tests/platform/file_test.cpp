#include "platform/file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
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

TEST(File, CreateFreshReplacesAndReadsBack) {
    TempDir dir;
    dir.Write("f", "old content that is long");
    File file;
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::CreateFresh));
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
    EXPECT_EQ(file.OpenFault().code, ENOENT);
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
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::CreateFresh));
    file.Write(bytes.data(), bytes.size());
    file.Close();
    ASSERT_TRUE(file.Open(dir / "f", File::Mode::ReadExisting));
    std::string back(bytes.size() + 1, '\0');
    ASSERT_EQ(file.Read(back.data(), back.size()), bytes.size());
    EXPECT_EQ(back.substr(0, bytes.size()), bytes);
    const std::uint64_t past4GiB = (std::uint64_t{1} << 32) + 5;
    EXPECT_EQ(file.Seek(static_cast<std::int64_t>(past4GiB), File::From::Start), past4GiB);
}

// What we write is never reached through a name someone planted: a fresh
// file replaces it, and a file we keep writing to refuses it; either way
// the file it leads to is untouched, and nothing waits on a FIFO.
TEST(File, WhatWeWriteIsNeverReachedThroughAPlantedName) {
    struct Planted {
        const char* what;
        int refusal;  // of Overwrite and Append
    };
    const Planted planted[] = {{"symlink", ELOOP},
                               {"hardlink", kErrorHardLink},
#ifndef _WIN32
                               {"fifo", kErrorNotRegular}
#endif
    };
    const File::Mode modes[] = {File::Mode::CreateFresh, File::Mode::Overwrite, File::Mode::Append};
    for (const Planted& plant : planted) {
        for (File::Mode mode : modes) {
            TempDir dir;
            std::string target = dir.Write("target", "keep me");
            std::error_code error;
            std::string name = dir / "name";
            if (std::string(plant.what) == "symlink") {
                std::filesystem::create_symlink(target, name, error);
            } else if (std::string(plant.what) == "hardlink") {
                std::filesystem::create_hard_link(target, name, error);
            }
#ifndef _WIN32
            else {
                error = std::error_code(::mkfifo(name.c_str(), 0600) == 0 ? 0 : errno,
                                        std::generic_category());
            }
#endif
            if (error) {
                GTEST_SKIP() << "cannot make a " << plant.what << " here: " << error.message();
            }
            File file;
            bool fresh = mode == File::Mode::CreateFresh;
            EXPECT_EQ(file.Open(name, mode), fresh) << plant.what;
            if (fresh) {
                file.Write("new", 3);
                file.Close();
                EXPECT_EQ(dir.Read("name"), "new") << plant.what;
            } else {
                EXPECT_EQ(file.OpenFault().code, plant.refusal) << plant.what;
            }
            EXPECT_EQ(dir.Read("target"), "keep me") << plant.what;
        }
    }
}

#ifndef _WIN32
TEST(File, FreshFilesArePrivateUnlessShared) {
    TempDir dir;
    mode_t mask = ::umask(022);
    File file;
    struct stat info {};
    ASSERT_TRUE(file.Open(dir / "private", File::Mode::CreateFresh));
    ASSERT_EQ(::stat((dir / "private").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_TRUE(file.Open(dir / "shared", File::Mode::CreateFreshShared));
    ASSERT_EQ(::stat((dir / "shared").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ::umask(mask);
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
    EXPECT_EQ(File::FreshNameError(dir / "folder"), EISDIR);
    EXPECT_EQ(File::FreshNameError(dir / "none"), 0);
}

// A write that a full disk (here a file size limit) cuts short is taken
// back whole, and the next one starts where the last whole one ended.
TEST(File, AppendWholeLeavesNoPartBehind) {
    TempDir dir;
    File log;
    ASSERT_TRUE(log.Open(dir / "log", File::Mode::Append));
    ASSERT_EQ(log.AppendWhole("first\n", 6), 0);
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old);
    rlimit limit{}, saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limit = saved;
    limit.rlim_cur = 10;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int error = log.AppendWhole("second line\n", 12);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(dir.Read("log"), "first\n");
    EXPECT_EQ(log.AppendWhole("third\n", 6), 0);
    EXPECT_EQ(dir.Read("log"), "first\nthird\n");
}
#endif

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
    std::string longLine(50000, 'x');
    std::string path = dir.Write("long", longLine + "\r\n" + longLine);
    EXPECT_EQ(ReadAllLines(path), (std::vector<std::string>{longLine, longLine}));
}

// A line past the bound is held only up to it, flagged, and passed over to
// its end; a limit on the whole file says when it cut the file short.
TEST(TextFile, LinesAndFilesAreReadWithABound) {
    TempDir dir;
    std::string path =
        dir.Write("f", std::string(TextFile::kMaxLine * 3, 'x') + "\nnext\n" + "tail\n");
    TextFile file;
    ASSERT_TRUE(file.Open(path, File::Mode::ReadExisting));
    std::string line;
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_TRUE(file.LineTooLong());
    EXPECT_EQ(line.size(), TextFile::kMaxLine);
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_FALSE(file.LineTooLong());
    EXPECT_EQ(line, "next");

    TextFile limited;
    ASSERT_TRUE(limited.Open(dir.Write("g", "a\nb\nc\n"), File::Mode::ReadExisting));
    limited.LimitTo(4);
    std::vector<std::string> lines;
    while (limited.ReadLine(line)) {
        lines.push_back(line);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(limited.WasCut());
}

}  // namespace
}  // namespace quillon
