// The layout of a binary delta, shared by the applier and the encoder
// (docs/delta-format.md describes it for readers).
//
// A delta is a fixed header followed by blocks. Each block carries a piece of
// the instruction stream and a piece of the data stream (inserted bytes and
// the differences of approximate copies), each compressed as the continuation
// of one zstd stream, so the matches of a block reach back into earlier ones
// while the applier never holds more than one block's raw streams.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace delta {

inline constexpr std::array<uint8_t, 8> kMagic = {'B', 'R', 'F', 'D', 'E', 'L', 'T', 'A'};
inline constexpr uint32_t kVersion = 1;
inline constexpr size_t kHeaderSize = 96;
inline constexpr size_t kBlockHeaderSize = 16;

// Limits that keep the applier's memory bounded whatever a delta announces:
// the zstd window of either stream, and the raw size of one block's streams.
inline constexpr uint32_t kMaxWindowLog = 23;
// The smallest window zstd knows.
inline constexpr uint32_t kMinWindowLog = 10;
inline constexpr uint32_t kMaxBlockInstructions = 1u << 20;
inline constexpr uint32_t kMaxBlockData = 1u << 22;
// The most bytes one instruction takes in the instruction stream.
inline constexpr uint32_t kMaxInstructionBytes = 20;

// Instruction kinds, the low two bits of an instruction's first number.
enum class Op : uint8_t {
    kInsert = 0,  // the next `length` bytes of the data stream
    kCopy = 1,    // `length` bytes of the source
    kAdd = 2,     // `length` bytes of the source plus the next `length` data bytes
};

struct Header {
    uint32_t version = kVersion;
    uint8_t instructionWindowLog = 0;
    uint8_t dataWindowLog = 0;
    uint64_t sourceSize = 0;
    uint64_t resultSize = 0;
    std::array<uint8_t, 32> sourceSha256{};
    std::array<uint8_t, 32> resultSha256{};
};

struct BlockHeader {
    uint32_t instructionBytes = 0;
    uint32_t instructionPacked = 0;
    uint32_t dataBytes = 0;
    uint32_t dataPacked = 0;
};

std::array<uint8_t, kHeaderSize> WriteHeader(const Header& header);
// Reads a header; on failure returns nothing and says why in `problem`.
std::optional<Header> ReadHeader(const uint8_t* bytes, std::string* problem);

std::array<uint8_t, kBlockHeaderSize> WriteBlockHeader(const BlockHeader& block);
// Reads a block header and checks it against the limits above.
std::optional<BlockHeader> ReadBlockHeader(const uint8_t* bytes, std::string* problem);

std::string ToHex(const uint8_t* bytes, size_t size);

// Numbers in the instruction stream: 7 bits a byte, low bits first.
inline size_t PutVarint(uint8_t* out, uint64_t value) {
    size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<uint8_t>(value | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<uint8_t>(value);
    return n;
}

// Reads a number at `*pos` below `end`; false when it is cut off or too long.
inline bool GetVarint(const uint8_t* bytes, size_t end, size_t* pos, uint64_t* value) {
    uint64_t result = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
        if (*pos >= end) {
            return false;
        }
        const uint8_t byte = bytes[(*pos)++];
        if (shift == 63 && byte > 1) {
            return false;
        }
        result |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            *value = result;
            return true;
        }
    }
    return false;
}

// Signed distances (a copy's start relative to the previous copy's end) as
// unsigned numbers: 0, -1, 1, -2, ... become 0, 1, 2, 3, ...
inline uint64_t ZigZag(int64_t value) {
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}
inline int64_t UnZigZag(uint64_t value) {
    return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

}  // namespace delta
