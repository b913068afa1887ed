#include "platform/lock_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/device_users.h"
#include "platform/file.h"
#include "platform/program_path.h"
#include "tests/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

// A second holder is refused and still reads whom the file names; the file
// goes with its holder, and one that a dead holder left is taken over with
// what it held.
TEST(LockFile, OneHolderAtATime) {
    TempDir dir;
    const std::string path = dir / ".lock";
    LockFile first;
    ASSERT_EQ(first.TryTake(path), LockFile::Take::Taken);
    EXPECT_EQ(first.FoundContent(), "");
    ASSERT_TRUE(first.SetContent("4242\n"));

    LockFile second;
    EXPECT_EQ(second.TryTake(path), LockFile::Take::HeldByOther);
    EXPECT_EQ(second.FoundContent(), "4242\n");
    EXPECT_FALSE(second.IsHeld());

    first.Release();
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(second.TryTake(path), LockFile::Take::Taken);
    EXPECT_EQ(second.FoundContent(), "");
    EXPECT_FALSE(second.TookOver());
    second.Release();

    for (const char* left : {"17\n", ""}) {  // a holder may die before it writes
        dir.Write(".lock", left);
        LockFile heir;
        ASSERT_EQ(heir.TryTake(path), LockFile::Take::Taken);
        EXPECT_EQ(heir.FoundContent(), left);
        EXPECT_TRUE(heir.TookOver());
    }
}

#ifndef _WIN32
// Only a regular file with one name is a lock: a link, a folder or a FIFO
// at its name is refused at once, and what a link leads to is untouched.
// A free file that someone else made is replaced by a file of our own.
TEST(LockFile, OnlyALockFileIsTaken) {
    TempDir dir;
    std::string target = dir.Write("target", "keep me");
    const std::string path = dir / ".lock";
    std::filesystem::create_symlink(target, path);
    LockFile lock;
    EXPECT_EQ(lock.TryTake(path), LockFile::Take::Failed);
    EXPECT_EQ(lock.LastFault().code, ELOOP);
    std::filesystem::remove(path);
    std::filesystem::create_hard_link(target, path);
    EXPECT_EQ(lock.TryTake(path), LockFile::Take::Failed);
    EXPECT_EQ(lock.LastFault().code, kErrorHardLink);
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(lock.TryTake(path), LockFile::Take::Failed);
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(lock.TryTake(path), LockFile::Take::Failed);
    std::filesystem::remove(path);
    EXPECT_EQ(dir.Read("target"), "keep me");

    dir.Write(".lock", "17\n");
    int planted = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(lock.TryTake(path), LockFile::Take::Taken);
    struct stat info {};
    ::fstat(planted, &info);
    ::close(planted);
    EXPECT_EQ(info.st_nlink, 0u);  // no longer the file of that name
    EXPECT_EQ(lock.FoundContent(), "17\n");
}

// The port's lock file of the UUCP convention, in every shape that another
// user can leave in /var/lock: a live process in text of any length keeps
// the port, a dead one's lock is taken over, a huge one is never read
// whole, and a link is no lock.
TEST(UucpLock, LockFilesOfEveryShape) {
    TempDir dir;
    std::string device = dir.Write("ttyQuillonTest" + std::to_string(::getpid()), "");
    std::string path = UucpLockPath(device);
    if (File::FolderWriteError("/var/lock/") != 0) {
        GTEST_SKIP() << "/var/lock is not ours to write";
    }
    std::string target = dir.Write("target", "keep me");
    auto plant = [&](const std::string& content) {
        std::filesystem::remove(path);
        std::ofstream(path, std::ios::binary) << content;
    };
    const int dead = 0x7FFFFFF0;
    struct Case {
        std::function<void()> make;
        bool taken;
    } cases[] = {
        {[&] { plant("  1\n"); }, false},  // pid 1 in four bytes of text
        {[&] { plant(std::string(reinterpret_cast<const char*>(&dead), sizeof dead)); }, true},
        {[&] { plant(std::to_string(dead) + "\n"); }, true},
        {[&] {
             plant("");
             std::filesystem::resize_file(path, std::uintmax_t{1} << 30);
         },
         true},
        {[&] {
             std::filesystem::remove(path);
             std::filesystem::create_symlink(target, path);
         },
         false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        cases[i].make();
        UucpLock lock;
        EXPECT_EQ(lock.Take(device), cases[i].taken) << "case " << i;
        if (cases[i].taken) {
            EXPECT_FALSE(UucpLockHolder(device)) << "case " << i;
            EXPECT_EQ(std::stoi(TempDir::ReadFile(path)), ProcessId()) << "case " << i;
            lock.Release();
            EXPECT_FALSE(std::filesystem::exists(path)) << "case " << i;
        }
    }
    std::filesystem::remove(path);
    EXPECT_EQ(dir.Read("target"), "keep me");
}
#endif

}  // namespace
}  // namespace quillon
