// The layout of a binary delta, shared by the applier and the encoder
// (docs/delta-format.md describes it for readers).
//
// A delta is a header followed by blocks. Each block carries a piece of
// the instruction stream and a piece of the data stream (inserted bytes and
// the differences of approximate copies), each compressed as the continuation
// of one zstd stream, so the matches of a block reach back into earlier ones
// while the applier never holds more than one block's raw streams.
//
// Version 1 has a 96-byte header with both files' SHA-256 and 16-byte block
// headers. Version 2, the compact one, leaves out what the index line of a
// delta already says (the hashes), writes the sizes as varints and the zstd
// frames without their magic, and has a second layout for small files: the
// result as one zstd frame that takes the whole source as its prefix.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/base/s_result.h"

namespace delta {

inline constexpr std::array<uint8_t, 8> kMagic = {'B', 'R', 'F', 'D', 'E', 'L', 'T', 'A'};
inline constexpr uint32_t kVersion = 1;
inline constexpr size_t kHeaderSize = 96;
inline constexpr size_t kBlockHeaderSize = 16;

// Version 2 starts with these four bytes and the version byte.
inline constexpr std::array<uint8_t, 4> kCompactMagic = {'B', 'R', 'F', 'D'};
inline constexpr uint32_t kCompactVersion = 2;
// The longest header of either version.
inline constexpr size_t kMaxHeaderSize = kHeaderSize;

// How a version 2 delta carries the result.
enum class Layout : uint8_t {
    kStreams = 0,  // blocks of instructions and data, as in version 1
    kWhole = 1,    // one zstd frame of the result with the source as its prefix
};
// A whole-layout delta's source and result together fit one zstd window, so
// the applier holds at most this much source and this much window.
inline constexpr uint64_t kMaxWholeBytes = uint64_t{1} << 23;

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
    kInsert = 0,   // the next `length` bytes of the data stream
    kCopy = 1,     // `length` bytes of the source
    kAdd = 2,      // `length` bytes of the source plus the next `length` data bytes
    kEarlier = 3,  // `length` bytes of the result, starting `distance` bytes back
};

struct Header {
    uint32_t version = kVersion;
    Layout layout = Layout::kStreams;
    // Version 2 has one window log for both streams, or for the whole frame.
    uint8_t instructionWindowLog = 0;
    uint8_t dataWindowLog = 0;
    uint64_t sourceSize = 0;
    uint64_t resultSize = 0;
    // Version 1 only: version 2 leaves the hashes to the delta's index line.
    std::array<uint8_t, 32> sourceSha256{};
    std::array<uint8_t, 32> resultSha256{};
};

struct BlockHeader {
    uint32_t instructionBytes = 0;
    uint32_t instructionPacked = 0;
    uint32_t dataBytes = 0;
    uint32_t dataPacked = 0;
};

// The header of `header.version`.
std::vector<uint8_t> WriteHeader(const Header& header);
// Reads a header of either version from the first `size` bytes of a delta
// and sets `used` to its length; on failure says why.
base::Result<Header> ReadHeader(const uint8_t* bytes, size_t size, size_t* used);

// A block header of `version`: four 32-bit numbers in version 1, four
// varints in version 2.
std::vector<uint8_t> WriteBlockHeader(const BlockHeader& block, uint32_t version);
// Reads a version 1 block header and checks it.
base::Result<BlockHeader> ReadBlockHeader(const uint8_t* bytes);
// Checks a block header of either version against the limits above.
base::Result<> CheckBlockHeader(const BlockHeader& block);

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
