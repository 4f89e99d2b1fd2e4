// Version resources of real program files, built by the test build with the
// MinGW resource compiler: the client's product version as the start-up reads
// it, programs without a resource, and the updater's own resource.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/version_info.h"
#include "win32_test_support.h"

namespace {

// What the start-up does with BRFClient.exe: size, block, root record.
bool ReadFixedInfo(const std::string& path, plat::FixedFileInfo* info) {
    const uint32_t size = plat::FileVersionInfoSize(path.c_str());
    if (size == 0) {
        return false;
    }
    std::vector<uint8_t> block(size);
    return plat::FileVersionInfo(path.c_str(), size, block.data()) &&
           plat::QueryFixedFileInfo(block.data(), size, info);
}

// A text of the resource's first language, e.g. "ProductVersion".
std::string VersionText(const std::string& path, const std::string& name) {
    const uint32_t size = plat::FileVersionInfoSize(path.c_str());
    std::vector<uint8_t> block(size);
    if (size == 0 || !plat::FileVersionInfo(path.c_str(), size, block.data())) {
        return "";
    }
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        return "";
    }
    char subBlock[64];
    std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                  translation[1], name.c_str());
    char* text = nullptr;
    if (!VerQueryValueA(block.data(), subBlock, reinterpret_cast<void**>(&text), &length)) {
        return "";
    }
    return text;
}

const std::string kClientFixture = "win32_versioned_fixture.exe";

TEST(VersionInfoWin32, ProductVersionOfAClientProgramSplitsIntoVersionAndBuild) {
    plat::FixedFileInfo info{};
    ASSERT_TRUE(ReadFixedInfo(win32test::ProgramDirectory() + kClientFixture, &info));
    EXPECT_EQ(info.signature, 0xFEEF04BDu);
    EXPECT_EQ(info.productVersionMS, 65586u);  // 1.50: 1 * 65536 + 50
    EXPECT_EQ(info.productVersionLS, 3u);      // .0.3
    EXPECT_EQ(info.fileVersionMS, (4u << 16) | 3u);
    EXPECT_EQ(info.fileVersionLS, (2u << 16) | 1u);
    EXPECT_EQ(info.fileType, 1u);  // VFT_APP
}

TEST(VersionInfoWin32, RelativeNameIsTheFileInTheCurrentDirectory) {
    brf_test::ScratchDir game;
    std::filesystem::copy_file(win32test::ProgramDirectory() + kClientFixture,
                               game.File("BRFClient.exe"));
    brf_test::ScopedCurrentDir cwd(game.path());
    plat::FixedFileInfo info{};
    ASSERT_TRUE(ReadFixedInfo("BRFClient.exe", &info));
    EXPECT_EQ(info.productVersionMS, 65586u);
}

TEST(VersionInfoWin32, FilesWithoutAResourceHaveSizeZero) {
    brf_test::ScratchDir game;
    brf_test::WriteFile(game.File("BRFClient.exe"), "MZ but nothing else\r\n");
    // The test program itself is built without a version resource.
    EXPECT_EQ(plat::FileVersionInfoSize(plat::ProgramPath().c_str()), 0u);
    EXPECT_EQ(plat::FileVersionInfoSize(game.File("BRFClient.exe").c_str()), 0u);
    EXPECT_EQ(plat::FileVersionInfoSize(game.File("missing.exe").c_str()), 0u);
    char block[64];
    EXPECT_FALSE(plat::FileVersionInfo(game.File("missing.exe").c_str(), sizeof block, block));
}

// The updater's product version reads as its own version number, 1490, the
// same way a client's is read; people see 1.490.
TEST(UpdaterVersionResource, ProductVersionReadsAsTheUpdaterVersionNumber) {
    const std::string updater =
        win32test::ProgramDirectory() + "win32_updater_resource_fixture.exe";
    plat::FixedFileInfo info{};
    ASSERT_TRUE(ReadFixedInfo(updater, &info));
    EXPECT_EQ(info.productVersionMS, 1490u);
    EXPECT_EQ(info.productVersionLS, 0u);
    EXPECT_EQ(info.fileVersionMS, (1u << 16) | 490u);
    EXPECT_EQ(VersionText(updater, "ProductVersion"), "1.490");
    EXPECT_EQ(VersionText(updater, "FileVersion"), "1.490");
    EXPECT_EQ(VersionText(updater, "OriginalFilename"), "updater.exe");
}

}  // namespace
