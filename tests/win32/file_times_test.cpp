// File times set from Unix seconds, read back through the file system.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "platform/file_times.h"
#include "win32_test_support.h"

namespace {

uint64_t ToUnixSeconds(const FILETIME& time) {
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return ticks / 10000000ull - 11644473600ull;
}

struct Times {
    uint64_t creation;
    uint64_t access;
    uint64_t modification;
};

Times ReadTimes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
    FILETIME creation{}, access{}, modification{};
    EXPECT_TRUE(GetFileTime(file, &creation, &access, &modification));
    CloseHandle(file);
    return Times{ToUnixSeconds(creation), ToUnixSeconds(access), ToUnixSeconds(modification)};
}

class FileTimesWin32 : public ::testing::Test {
protected:
    void SetUp() override { brf_test::WriteFile(path_, "patched content\r\n"); }
    brf_test::ScratchDir scratch_;
    const std::string path_ = scratch_.File("data.bin");
};

TEST_F(FileTimesWin32, ModificationTimeIsAlsoTheCreationTime) {
    ASSERT_TRUE(plat::SetFileTimes(path_.c_str(), 1000000000u, 1234567890u));
    const Times times = ReadTimes(path_);
    EXPECT_EQ(times.modification, 1234567890u);
    EXPECT_EQ(times.creation, 1234567890u);
    EXPECT_EQ(times.access, 1000000000u);
    // The C runtime, which the size-and-time comparison of files uses, agrees.
    struct _stat64 status;
    ASSERT_EQ(_stat64(path_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1234567890);
}

TEST_F(FileTimesWin32, TimesPastTheYear2038KeepTheirValue) {
    ASSERT_TRUE(plat::SetFileTimes(path_.c_str(), 0xFFFFFFFFu, 3000000000u));
    const Times times = ReadTimes(path_);
    EXPECT_EQ(times.modification, 3000000000u);
    EXPECT_EQ(times.access, 0xFFFFFFFFu);
}

TEST_F(FileTimesWin32, TheEpochItselfCanBeSet) {
    ASSERT_TRUE(plat::SetFileTimes(path_.c_str(), 0u, 0u));
    EXPECT_EQ(ReadTimes(path_).modification, 0u);
}

TEST_F(FileTimesWin32, FileOpenElsewhereStillGetsItsTimes) {
    std::ifstream reader(path_, std::ios::binary);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(plat::SetFileTimes(path_.c_str(), 1500000000u, 1500000000u));
    EXPECT_EQ(ReadTimes(path_).modification, 1500000000u);
}

TEST_F(FileTimesWin32, MissingFileFails) {
    EXPECT_FALSE(plat::SetFileTimes(scratch_.File("missing.bin").c_str(), 1u, 1u));
}

}  // namespace
