// The patch container's header: five little-endian 32-bit words before the
// payload (checksum of the payload bytes, format, original size, access
// time, modification time). The decoder (CPack), the encoder (Packer) and
// whoever reads a container's announced size share it.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kContainerHeaderSize = 20;
inline constexpr uint32_t kContainerFormat = 102;

struct ContainerHeader {
    uint32_t checksum = 0;
    uint32_t format = 0;
    uint32_t originalSize = 0;
    uint32_t accessTime = 0;
    uint32_t modificationTime = 0;
};

// The header at the start of `bytes`; false when fewer than
// kContainerHeaderSize bytes are given.
inline bool ParseHeader(const uint8_t* bytes, size_t size, ContainerHeader* header) {
    if (size < kContainerHeaderSize) {
        return false;
    }
    uint32_t w[5];
    for (int i = 0; i < 5; i++) {
        const uint8_t* p = bytes + 4 * i;
        w[i] = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
               static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    *header = ContainerHeader{w[0], w[1], w[2], w[3], w[4]};
    return true;
}

// Writes the header's kContainerHeaderSize bytes at `bytes`.
inline void WriteHeader(const ContainerHeader& header, uint8_t* bytes) {
    const uint32_t w[5] = {header.checksum, header.format, header.originalSize, header.accessTime,
                           header.modificationTime};
    for (int i = 0; i < 5; i++) {
        for (int b = 0; b < 4; b++) {
            bytes[4 * i + b] = static_cast<uint8_t>(w[i] >> (8 * b));
        }
    }
}
