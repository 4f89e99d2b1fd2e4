// Version resources of program files built by the tests. These tests hold
// on every platform.
#include <gtest/gtest.h>

#include <vector>

#include "platform/pe_builder.h"
#include "platform/version_info.h"
#include "support/test_support.h"

namespace {

using brf_test::BuildPe;
using brf_test::PeSpec;
using brf_test::ScratchDir;

struct Versions {
    bool ok = false;
    plat::FixedFileInfo info{};
};

// What the start-up does with BRFClient.exe: size, copy, root block.
Versions ReadVersions(const std::string& path) {
    Versions result;
    const uint32_t size = plat::FileVersionInfoSize(path.c_str());
    if (size == 0) {
        return result;
    }
    std::vector<uint8_t> block(size);
    if (!plat::FileVersionInfo(path.c_str(), size, block.data())) {
        return result;
    }
    result.ok = plat::QueryFixedFileInfo(block.data(), size, &result.info);
    return result;
}

class VersionInfo : public ::testing::TestWithParam<bool> {};

TEST_P(VersionInfo, TheProductVersionOfTheClient) {
    ScratchDir dir;
    PeSpec spec;
    spec.pe32Plus = GetParam();
    spec.productVersion = {1, 50, 0, 3};
    spec.fileVersion = {1, 49, 7, 8};
    const brf_test::PeFile pe = BuildPe(spec);
    const std::string path = dir.File("BRFClient.exe");
    brf_test::WriteFile(path, pe.bytes);

    EXPECT_GE(plat::FileVersionInfoSize(path.c_str()), pe.versionDataSize);
    const Versions v = ReadVersions(path);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.info.signature, 0xFEEF04BDu);
    EXPECT_EQ(v.info.productVersionMS, 65586u);  // 1.50
    EXPECT_EQ(v.info.productVersionLS, 3u);
    EXPECT_EQ(v.info.fileVersionMS, 1u << 16 | 49u);
    EXPECT_EQ(v.info.fileVersionLS, 7u << 16 | 8u);
    EXPECT_EQ(v.info.fileType, 1u);
}

TEST_P(VersionInfo, AVersionOfOnePointTwoReadsAs65538) {
    ScratchDir dir;
    PeSpec spec;
    spec.pe32Plus = GetParam();
    spec.productVersion = {1, 2, 0, 1234};
    const std::string path = dir.File("BRFClient.exe");
    brf_test::WriteFile(path, BuildPe(spec).bytes);
    const Versions v = ReadVersions(path);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.info.productVersionMS, 65538u);
    EXPECT_EQ(v.info.productVersionLS, 1234u);
}

TEST_P(VersionInfo, AProgramWithoutVersionResourceHasNone) {
    ScratchDir dir;
    PeSpec spec;
    spec.pe32Plus = GetParam();
    spec.withVersionResource = false;
    const std::string path = dir.File("BRFClient.exe");
    brf_test::WriteFile(path, BuildPe(spec).bytes);
    EXPECT_EQ(plat::FileVersionInfoSize(path.c_str()), 0u);
    uint8_t buffer[512];
    EXPECT_FALSE(plat::FileVersionInfo(path.c_str(), sizeof buffer, buffer));
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, VersionInfo, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Pe32Plus" : "Pe32";
                         });

TEST(VersionInfoFiles, MissingFilesAndFilesThatAreNoPrograms) {
    ScratchDir dir;
    EXPECT_EQ(plat::FileVersionInfoSize(dir.File("BRFClient.exe").c_str()), 0u);
    const std::string text = dir.File("notes.txt");
    brf_test::WriteFile(text, std::string(2048, 'a'));
    EXPECT_EQ(plat::FileVersionInfoSize(text.c_str()), 0u);
    const std::string empty = dir.File("empty.exe");
    brf_test::WriteFile(empty, "");
    EXPECT_EQ(plat::FileVersionInfoSize(empty.c_str()), 0u);
    EXPECT_EQ(plat::FileVersionInfoSize(dir.path().string().c_str()), 0u);
}

TEST(VersionInfoFiles, TheRootBlockOfABlockInMemory) {
    const std::string block = brf_test::BuildVersionBlock({2, 0, 0, 0}, {1, 490, 0, 17});
    plat::FixedFileInfo info{};
    ASSERT_TRUE(plat::QueryFixedFileInfo(block.data(), static_cast<uint32_t>(block.size()), &info));
    EXPECT_EQ(info.productVersionMS, 1u << 16 | 490u);
    EXPECT_EQ(info.productVersionLS, 17u);
    EXPECT_EQ(info.fileVersionMS, 2u << 16);
}

}  // namespace
