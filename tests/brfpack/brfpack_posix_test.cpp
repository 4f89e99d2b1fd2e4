// brfpack pointed at a device node: whatever fails, the node stays.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/run_command.h"

namespace {

TEST(BrfpackDevice, AFailedWriteToADeviceLeavesTheNode) {
    const std::string dir = "work_device";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string node = dir + "/full";
    // A node like /dev/full, on which every write fails for want of space.
    if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "cannot make a device node here";
    }
    std::ofstream(dir + "/src.txt") << std::string(5000, 'x');
    ASSERT_EQ(plat::RunCommand(BRFPACK_TOOL, {"encode", dir + "/src.txt", dir + "/c.pack"},
                               dir + "/out.txt", dir + "/err.txt"),
              0);
    for (const auto& args : {std::vector<std::string>{"encode", dir + "/src.txt", node},
                             std::vector<std::string>{"decode", dir + "/c.pack", node}}) {
        EXPECT_EQ(plat::RunCommand(BRFPACK_TOOL, args, dir + "/out.txt", dir + "/err.txt"), 1)
            << args[0];
        struct stat st;
        ASSERT_EQ(lstat(node.c_str(), &st), 0) << args[0];
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << args[0];
    }
    std::ifstream err(dir + "/err.txt");
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("cannot write"), std::string::npos) << text;
    std::filesystem::remove_all(dir);
}

}  // namespace
