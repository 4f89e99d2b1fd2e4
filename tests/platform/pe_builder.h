// Builds small Windows program files with a version resource in memory, for
// the version-resource tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace brf_test {

struct PeSpec {
    bool pe32Plus = false;  // 64-bit optional header
    std::array<uint16_t, 4> productVersion = {1, 50, 0, 3};
    std::array<uint16_t, 4> fileVersion = {1, 50, 0, 3};
    // A second language (0x409) after the first one (0x407), with this
    // version. Which language Windows reads depends on the user's languages,
    // so only tests of the POSIX reading, which takes the first, add one.
    bool secondLanguage = false;
    std::array<uint16_t, 4> otherLanguageVersion = {9, 9, 9, 9};
    bool withVersionResource = true;
};

// A built file with the file offsets of the parts that tests damage.
struct PeFile {
    std::string bytes;
    size_t peHeader = 0;          // "PE\0\0"
    size_t optionalHeader = 0;    // optional header's magic
    size_t resourceDirEntry = 0;  // data directory entry 2 (RVA, size)
    size_t sectionTable = 0;
    size_t resourceSection = 0;   // start of .rsrc = the root resource directory
    size_t versionTypeEntry = 0;  // root directory entry for RT_VERSION
    size_t versionNameDir = 0;    // RT_VERSION's name directory
    size_t versionLangDir = 0;    // its language directory
    size_t versionDataEntry = 0;  // data entry of the first language
    size_t versionData = 0;       // the VS_VERSIONINFO block
    size_t versionDataSize = 0;
};

PeFile BuildPe(const PeSpec& spec);

// A client program of release 0.`version` (1040 is "1.040"), as the updater
// reads its version.
inline std::string ClientProgram(uint16_t version) {
    PeSpec spec;
    spec.productVersion = {0, version, 0, 0};
    spec.fileVersion = spec.productVersion;
    return BuildPe(spec).bytes;
}

// A VS_VERSIONINFO block with a VS_FIXEDFILEINFO and a translation table.
std::string BuildVersionBlock(const std::array<uint16_t, 4>& fileVersion,
                              const std::array<uint16_t, 4>& productVersion);

void Put16(std::string& bytes, size_t offset, uint16_t value);
void Put32(std::string& bytes, size_t offset, uint32_t value);

}  // namespace brf_test
