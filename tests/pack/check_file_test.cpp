// CPack::CheckFile: the result codes a download relies on to accept a file
// or fetch it again.
#include <gtest/gtest.h>

#include "pack/pack.h"
#include "pack_test_util.h"

using namespace packtest;

namespace {

int32_t Check(const std::string& path) {
    return CPack::Get()->CheckFile(path.c_str());
}

TEST(CheckFile, MissingFileCannotBeOpened) {
    TempDir dir;
    EXPECT_EQ(Check(dir.File("absent.pack")), -1);
}

TEST(CheckFile, FilesShorterThanTheHeaderAreTooShort) {
    TempDir dir;
    const Bytes full = Container(0, 102, 1, 0, 0, {});
    for (size_t n = 0; n < 20; n++) {
        WriteFile(dir.File("short"), Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        EXPECT_EQ(Check(dir.File("short")), -2) << n << " bytes";
    }
}

TEST(CheckFile, BareHeaderWithZeroChecksumIsIntact) {
    TempDir dir;
    WriteFile(dir.File("empty.pack"), Container(0, 102, 0, 0, 0, {}));
    EXPECT_EQ(Check(dir.File("empty.pack")), 0);
}

TEST(CheckFile, WrongFormatWinsOverWrongChecksum) {
    TempDir dir;
    const Bytes payload = {1, 2, 3, 250};
    WriteFile(dir.File("good-sum.pack"), Container(Sum(payload), 101, 4, 0, 0, payload));
    EXPECT_EQ(Check(dir.File("good-sum.pack")), -3);
    WriteFile(dir.File("bad-sum.pack"), Container(Sum(payload) + 1, 101, 4, 0, 0, payload));
    EXPECT_EQ(Check(dir.File("bad-sum.pack")), -3);
}

TEST(CheckFile, EveryFlippedPayloadByteIsCaughtButHeaderFieldsAreNot) {
    TempDir dir;
    const Bytes payload = RandomBytes(300, 7);
    const Bytes good = Container(Sum(payload), 102, 1234, 1000, 2000, payload);
    const std::string path = dir.File("c.pack");
    for (size_t i = 20; i < good.size(); i++) {
        Bytes bad = good;
        bad[i] ^= static_cast<uint8_t>(1u << (i % 8));
        WriteFile(path, bad);
        ASSERT_EQ(Check(path), -4) << "byte " << i;
    }
    // Size and times are not covered by the checksum.
    for (size_t i = 8; i < 20; i++) {
        Bytes changed = good;
        changed[i] ^= 0x5A;
        WriteFile(path, changed);
        EXPECT_EQ(Check(path), 0) << "byte " << i;
    }
}

TEST(CheckFile, PayloadsLargerThanOneBufferAreSummedWhole) {
    TempDir dir;
    // Odd sizes around the stream buffer, so that every part of the summing
    // (words, tail bytes, refills) carries weight.
    for (size_t size : {size_t{65535 - 20}, size_t{65536 - 20}, size_t{65536 * 3 + 7}}) {
        const Bytes payload = RandomBytes(size, static_cast<uint32_t>(size));
        Bytes file = Container(Sum(payload), 102, 1, 0, 0, payload);
        WriteFile(dir.File("big.pack"), file);
        EXPECT_EQ(Check(dir.File("big.pack")), 0) << size;
        file.back() ^= 0x80;
        WriteFile(dir.File("big.pack"), file);
        EXPECT_EQ(Check(dir.File("big.pack")), -4) << size;
    }
}

// 16843010 bytes of 255 add up to 4294967550, which is 254 after the 32-bit
// wrap. Only the wrapped value matches; a sum that stopped at the top, or
// one kept wider than the checksum word, would not.
TEST(CheckFile, ByteSumWrapsModulo2To32) {
    TempDir dir;
    const size_t count = 16843010;
    const Bytes payload(count, 0xFF);
    const uint64_t fullSum = uint64_t{255} * count;
    ASSERT_GT(fullSum, uint64_t{0xFFFFFFFF});
    const uint32_t wrapped = static_cast<uint32_t>(fullSum);
    ASSERT_EQ(wrapped, 254u);
    const std::string path = dir.File("wrap.pack");
    WriteFile(path, Container(wrapped, 102, 1, 0, 0, payload));
    EXPECT_EQ(Check(path), 0);
    WriteFile(path, Container(0xFFFFFFFFu, 102, 1, 0, 0, payload));
    EXPECT_EQ(Check(path), -4);
}

TEST(CheckFile, DirectoryIsNotAnIntactContainer) {
    TempDir dir;
    EXPECT_NE(Check(dir.File("")), 0);
}

}  // namespace
