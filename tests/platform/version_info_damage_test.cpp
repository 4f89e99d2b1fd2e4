// Version resources of damaged program files: every damage gives "no
// version resource", never a crash or a read outside the file or the block.
#include <gtest/gtest.h>

#include <vector>

#include "platform/pe_builder.h"
#include "platform/version_info.h"
#include "support/test_support.h"

namespace {

using brf_test::BuildPe;
using brf_test::PeFile;
using brf_test::PeSpec;
using brf_test::Put16;
using brf_test::Put32;
using brf_test::ScratchDir;

// The product version read the way the start-up reads it; 0 if there is none.
uint32_t ProductVersionMS(const std::string& path) {
    const uint32_t size = plat::FileVersionInfoSize(path.c_str());
    if (size == 0) {
        return 0;
    }
    std::vector<uint8_t> block(size);
    plat::FixedFileInfo info{};
    if (!plat::FileVersionInfo(path.c_str(), size, block.data()) ||
        !plat::QueryFixedFileInfo(block.data(), size, &info)) {
        return 0;
    }
    return info.productVersionMS;
}

class DamagedFile : public ::testing::TestWithParam<bool> {
protected:
    DamagedFile() {
        PeSpec spec;
        spec.pe32Plus = GetParam();
        spec.secondLanguage = true;
        pe_ = BuildPe(spec);
        path_ = dir_.File("BRFClient.exe");
    }
    // Writes the file with `damage` applied and reads its version.
    template <typename Damage>
    uint32_t With(Damage damage) {
        std::string bytes = pe_.bytes;
        damage(bytes);
        brf_test::WriteFile(path_, bytes);
        return ProductVersionMS(path_);
    }

    ScratchDir dir_;
    PeFile pe_;
    std::string path_;
};

TEST_P(DamagedFile, TheUndamagedFileReadsAndTheFirstLanguageIsTaken) {
    EXPECT_EQ(With([](std::string&) {}), 65586u);
    EXPECT_EQ(plat::FileVersionInfoSize(path_.c_str()), pe_.versionDataSize);
}

TEST_P(DamagedFile, TruncatedAnywhereBeforeTheEndOfTheVersionData) {
    const size_t needed = pe_.versionData + pe_.versionDataSize;
    for (size_t length = 0; length <= pe_.bytes.size(); ++length) {
        const uint32_t version = With([length](std::string& b) { b.resize(length); });
        EXPECT_EQ(version, length < needed ? 0u : 65586u) << "cut at " << length;
        EXPECT_EQ(plat::FileVersionInfoSize(path_.c_str()),
                  length < needed ? 0u : needed - pe_.versionData)
            << "cut at " << length;
    }
}

TEST_P(DamagedFile, HeadersThatLeadNowhere) {
    const PeFile& pe = pe_;
    EXPECT_EQ(With([](std::string& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }), 0u);
    EXPECT_EQ(With([](std::string& b) { b[0] = 'Z'; }), 0u);
    EXPECT_EQ(With([&](std::string& b) { b[pe.peHeader + 2] = 'X'; }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put16(b, pe.optionalHeader, 0x107); }), 0u);
    // The optional header claims to be too short for the resource entry.
    EXPECT_EQ(With([&](std::string& b) { Put16(b, pe.peHeader + 20, 100); }), 0u);
    // Fewer data directories than the resource one.
    const size_t countOffset = pe.resourceDirEntry - 4 - 2 * 8;
    EXPECT_EQ(With([&](std::string& b) { Put32(b, countOffset, 2); }), 0u);
    // A section table longer than the file.
    EXPECT_EQ(With([&](std::string& b) { Put16(b, pe.peHeader + 6, 0xFFFF); }), 0u);
    // No resource directory, or one no section holds.
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.resourceDirEntry, 0); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.resourceDirEntry + 4, 0); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.resourceDirEntry, 0x7FFFF000u); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.resourceDirEntry, 0xFFFFFFF8u); }), 0u);
}

TEST_P(DamagedFile, SectionsThatLie) {
    const size_t rsrc = pe_.sectionTable + 40;
    // Raw data beyond the end of the file.
    EXPECT_EQ(With([&](std::string& b) { Put32(b, rsrc + 20, 0xFFFFFE00u); }), 0u);
    // Raw size too small for the resources, and address near the top.
    EXPECT_EQ(With([&](std::string& b) { Put32(b, rsrc + 16, 0x20); }), 0u);
    EXPECT_EQ(With([&](std::string& b) {
                  Put32(b, rsrc + 12, 0xFFFFFF00u);
                  Put32(b, pe_.resourceDirEntry, 0xFFFFFF00u);
              }),
              0u);
    // A huge virtual size does not stretch the raw data.
    EXPECT_EQ(With([&](std::string& b) { Put32(b, rsrc + 8, 0xFFFFFFFFu); }), 65586u);
}

TEST_P(DamagedFile, ResourceDirectoriesThatLie) {
    const PeFile& pe = pe_;
    const size_t root = pe.resourceSection;
    // Entry counts running past the directory.
    EXPECT_EQ(With([&](std::string& b) {
                  Put16(b, root + 14, 0xFFFF);
                  Put32(b, pe.versionTypeEntry, 17);
              }),
              0u);
    EXPECT_EQ(With([&](std::string& b) { Put16(b, pe.versionLangDir + 14, 0); }), 0u);
    // No version type at all.
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.versionTypeEntry, 17); }), 0u);
    // Targets outside the directory, or of the wrong kind.
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.versionTypeEntry + 4, 0xFFFFFFFFu); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, pe.versionTypeEntry + 4, 0x80100000u); }), 0u);
    EXPECT_EQ(With([&](std::string& b) {
                  Put32(b, pe.versionTypeEntry + 4,
                        static_cast<uint32_t>(pe.versionDataEntry - root));
              }),
              0u);
    EXPECT_EQ(With([&](std::string& b) {
                  Put32(b, pe.versionLangDir + 20,
                        0x80000000u | static_cast<uint32_t>(pe.versionNameDir - root));
              }),
              0u);
    // A directory that names itself as its sub-directory ends, it does not loop.
    EXPECT_EQ(With([&](std::string& b) {
                  Put32(b, pe.versionNameDir + 20,
                        0x80000000u | static_cast<uint32_t>(pe.versionNameDir - root));
              }),
              0u);
}

TEST_P(DamagedFile, DataEntriesThatLie) {
    const size_t entry = pe_.versionDataEntry;
    EXPECT_EQ(With([&](std::string& b) { Put32(b, entry, 0); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, entry, 0xFFFFFFF0u); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, entry + 4, 0); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, entry + 4, 0xFFFFFFFFu); }), 0u);
    EXPECT_EQ(With([&](std::string& b) { Put32(b, entry + 4, 0x10000); }), 0u);
}

TEST_P(DamagedFile, EveryByteOverwrittenGivesAVersionOrNone) {
    // Each byte of headers and resources in turn set to 0x00, 0xFF and 0x80:
    // whatever the result, the reads stay inside file and block (checked by
    // the sanitizer build), and a version found is one the file holds: the
    // right one, the other language's if an offset now points there, or
    // whatever the damaged block itself says.
    const size_t end = pe_.versionData + pe_.versionDataSize;
    for (size_t i = 0; i < end; ++i) {
        if (i >= 0x200 && i < pe_.resourceSection) {
            continue;  // padding and code
        }
        for (const char value : {'\x00', '\xFF', '\x80'}) {
            const uint32_t version = With([&](std::string& b) { b[i] = value; });
            const bool plausible = version == 0 || version == 65586u || version == 0x00090009u ||
                                   (i >= pe_.versionData && i < end);
            EXPECT_TRUE(plausible) << "byte " << i << " = " << int(value) << ": " << version;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, DamagedFile, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Pe32Plus" : "Pe32";
                         });

TEST(DamagedVersionBlock, BlocksWithoutAFixedFileInfo) {
    const std::string good = brf_test::BuildVersionBlock({1, 0, 0, 0}, {1, 50, 0, 3});
    auto query = [](std::string block, uint32_t size) {
        plat::FixedFileInfo info{};
        return plat::QueryFixedFileInfo(block.data(), size, &info);
    };
    const auto size = static_cast<uint32_t>(good.size());
    EXPECT_TRUE(query(good, size));
    EXPECT_FALSE(query(good, 91));  // cut inside the record
    EXPECT_TRUE(query(good, 92));   // the record is all that is read
    std::string b = good;
    Put16(b, 0, 60);  // block length shorter than the record
    EXPECT_FALSE(query(b, size));
    b = good;
    Put16(b, 2, 0);  // no value
    EXPECT_FALSE(query(b, size));
    b = good;
    b[6] = 'W';  // another key
    EXPECT_FALSE(query(b, size));
    b = good;
    Put32(b, 40, 0xFEEF04BEu);  // wrong signature
    EXPECT_FALSE(query(b, size));
    EXPECT_FALSE(plat::QueryFixedFileInfo(nullptr, size, nullptr));
    plat::FixedFileInfo info{};
    EXPECT_FALSE(plat::QueryFixedFileInfo(good.data(), 0, &info));
}

TEST(DamagedVersionBlock, ASmallerBufferGetsTheBeginningOnly) {
    ScratchDir dir;
    const PeFile pe = BuildPe(PeSpec{});
    const std::string path = dir.File("BRFClient.exe");
    brf_test::WriteFile(path, pe.bytes);
    std::vector<uint8_t> buffer(pe.versionDataSize + 16, 0xAB);
    ASSERT_TRUE(plat::FileVersionInfo(path.c_str(), 50, buffer.data()));
    EXPECT_EQ(buffer[50], 0xAB);
    plat::FixedFileInfo info{};
    EXPECT_FALSE(plat::QueryFixedFileInfo(buffer.data(), 50, &info));
    EXPECT_FALSE(plat::FileVersionInfo(path.c_str(), 0, buffer.data()));
    EXPECT_FALSE(plat::FileVersionInfo(path.c_str(), 50, nullptr));
}

}  // namespace
