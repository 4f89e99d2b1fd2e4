// Version resources of program files: GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA with the root block "\".
#pragma once

#include <cstdint>

namespace plat {

// VS_FIXEDFILEINFO.
struct FixedFileInfo {
    uint32_t signature;  // 0xFEEF04BD
    uint32_t structVersion;
    uint32_t fileVersionMS;
    uint32_t fileVersionLS;
    uint32_t productVersionMS;
    uint32_t productVersionLS;
    uint32_t fileFlagsMask;
    uint32_t fileFlags;
    uint32_t fileOS;
    uint32_t fileType;
    uint32_t fileSubtype;
    uint32_t fileDateMS;
    uint32_t fileDateLS;
};

// Byte count of the version resource of the file at `path`; 0 if the file
// is missing, is no program file, or has no version resource.
uint32_t FileVersionInfoSize(const char* path);

// Copies the version resource into `data` (`size` bytes, as returned by
// FileVersionInfoSize); false on failure.
bool FileVersionInfo(const char* path, uint32_t size, void* data);

// The fixed file-information record of a version resource read by
// FileVersionInfo; false if the block has none.
bool QueryFixedFileInfo(const void* block, uint32_t size, FixedFileInfo* out);

}  // namespace plat
