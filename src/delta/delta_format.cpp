#include "delta/delta_format.h"

#include <algorithm>

namespace delta {
namespace {

void Put32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; i++) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}
void Put64(uint8_t* out, uint64_t value) {
    for (int i = 0; i < 8; i++) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}
uint32_t Get32(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--) {
        value = (value << 8) | in[i];
    }
    return value;
}
uint64_t Get64(const uint8_t* in) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; i--) {
        value = (value << 8) | in[i];
    }
    return value;
}

}  // namespace

// Version 1: magic (8), version (4), instruction window log (1), data window
// log (1), two reserved zero bytes, source size (8), result size (8), source
// SHA-256 (32), result SHA-256 (32). Little-endian.
// Version 2: magic (4), version (1), layout (1), window log (1), then the
// source and the result size as varints.
std::vector<uint8_t> WriteHeader(const Header& header) {
    if (header.version == kCompactVersion) {
        std::vector<uint8_t> out(kCompactMagic.begin(), kCompactMagic.end());
        out.push_back(static_cast<uint8_t>(kCompactVersion));
        out.push_back(static_cast<uint8_t>(header.layout));
        out.push_back(header.instructionWindowLog);
        uint8_t number[kMaxInstructionBytes];
        out.insert(out.end(), number, number + PutVarint(number, header.sourceSize));
        out.insert(out.end(), number, number + PutVarint(number, header.resultSize));
        return out;
    }
    std::vector<uint8_t> out(kHeaderSize);
    std::copy(kMagic.begin(), kMagic.end(), out.begin());
    Put32(&out[8], header.version);
    out[12] = header.instructionWindowLog;
    out[13] = header.dataWindowLog;
    Put64(&out[16], header.sourceSize);
    Put64(&out[24], header.resultSize);
    std::copy(header.sourceSha256.begin(), header.sourceSha256.end(), &out[32]);
    std::copy(header.resultSha256.begin(), header.resultSha256.end(), &out[64]);
    return out;
}

namespace {

base::Result<Header> ReadCompactHeader(const uint8_t* bytes, size_t size, size_t* used) {
    Header header;
    header.version = kCompactVersion;
    size_t at = kCompactMagic.size() + 1;
    if (size < at + 2) {
        return base::Fail("delta is cut off");
    }
    if (bytes[at] > static_cast<uint8_t>(Layout::kWhole) || bytes[at + 1] > kMaxWindowLog) {
        return base::Fail("delta header asks for more than the applier allows");
    }
    header.layout = static_cast<Layout>(bytes[at]);
    header.instructionWindowLog = header.dataWindowLog = bytes[at + 1];
    at += 2;
    if (!GetVarint(bytes, size, &at, &header.sourceSize) ||
        !GetVarint(bytes, size, &at, &header.resultSize)) {
        return base::Fail("delta header is cut off or unreadable");
    }
    if (header.layout == Layout::kWhole &&
        (header.sourceSize > kMaxWholeBytes ||
         header.resultSize > kMaxWholeBytes - header.sourceSize)) {
        return base::Fail("delta header asks for more than the applier allows");
    }
    *used = at;
    return header;
}

}  // namespace

base::Result<Header> ReadHeader(const uint8_t* bytes, size_t size, size_t* used) {
    if (size > kCompactMagic.size() &&
        std::equal(kCompactMagic.begin(), kCompactMagic.end(), bytes) &&
        bytes[kCompactMagic.size()] == kCompactVersion) {
        return ReadCompactHeader(bytes, size, used);
    }
    if (size < kHeaderSize || !std::equal(kMagic.begin(), kMagic.end(), bytes)) {
        return base::Fail("not a delta (bad magic)");
    }
    Header header;
    header.version = Get32(&bytes[8]);
    if (header.version != kVersion) {
        return base::Fail("unknown delta version " + std::to_string(header.version));
    }
    header.instructionWindowLog = bytes[12];
    header.dataWindowLog = bytes[13];
    if (header.instructionWindowLog > kMaxWindowLog || header.dataWindowLog > kMaxWindowLog ||
        bytes[14] != 0 || bytes[15] != 0) {
        return base::Fail("delta header asks for more than the applier allows");
    }
    header.sourceSize = Get64(&bytes[16]);
    header.resultSize = Get64(&bytes[24]);
    std::copy(&bytes[32], &bytes[64], header.sourceSha256.begin());
    std::copy(&bytes[64], &bytes[96], header.resultSha256.begin());
    *used = kHeaderSize;
    return header;
}

std::vector<uint8_t> WriteBlockHeader(const BlockHeader& block, uint32_t version) {
    if (version == kCompactVersion) {
        std::vector<uint8_t> out(4 * kMaxInstructionBytes);
        size_t n = PutVarint(&out[0], block.instructionBytes);
        n += PutVarint(&out[n], block.instructionPacked);
        n += PutVarint(&out[n], block.dataBytes);
        n += PutVarint(&out[n], block.dataPacked);
        out.resize(n);
        return out;
    }
    std::vector<uint8_t> out(kBlockHeaderSize);
    Put32(&out[0], block.instructionBytes);
    Put32(&out[4], block.instructionPacked);
    Put32(&out[8], block.dataBytes);
    Put32(&out[12], block.dataPacked);
    return out;
}

base::Result<BlockHeader> ReadBlockHeader(const uint8_t* bytes) {
    BlockHeader block;
    block.instructionBytes = Get32(&bytes[0]);
    block.instructionPacked = Get32(&bytes[4]);
    block.dataBytes = Get32(&bytes[8]);
    block.dataPacked = Get32(&bytes[12]);
    if (base::Result<> checked = CheckBlockHeader(block); !checked) {
        return checked.failure();
    }
    return block;
}

base::Result<> CheckBlockHeader(const BlockHeader& block) {
    if (block.instructionBytes == 0 || block.instructionBytes > kMaxBlockInstructions ||
        block.dataBytes > kMaxBlockData) {
        return base::Fail("delta block sizes out of range");
    }
    if (block.instructionPacked == 0 || (block.dataBytes == 0) != (block.dataPacked == 0)) {
        return base::Fail("delta block sizes inconsistent");
    }
    return {};
}

std::string ToHex(const uint8_t* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (size_t i = 0; i < size; i++) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

}  // namespace delta
