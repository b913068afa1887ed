#include "platform/lock_file.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    second.Release();

    dir.Write(".lock", "17\n");
    LockFile heir;
    ASSERT_EQ(heir.TryTake(path), LockFile::Take::Taken);
    EXPECT_EQ(heir.FoundContent(), "17\n");
}

}  // namespace
}  // namespace quillon
