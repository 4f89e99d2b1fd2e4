// CPack::DecodeFile on containers built byte by byte: what the install stage
// and the self-replacement find at the destination, and what they are told.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "pack/literal_decoder.h"
#include "pack/pack.h"
#include "pack_test_util.h"
#include "shared/base/s_logging.h"

using namespace packtest;

namespace {

bool Decode(const std::string& source, const std::string& dest) {
    return CPack::Get()->DecodeFile(source.c_str(), dest.c_str());
}

// Worked through the decoding steps by hand, not produced by the encoder.
// 'A' is code 65, rank 66 in the starting model (symCum[i] = 314 - i). The
// first 17 bits, 0xCA 0x80 and a 0 bit, give value 103680; then x =
// ((103680 + 1) * 314 - 1) / 131072 = 248, and the smallest rank whose
// symCum is <= 248 is 66.
const Bytes kPayloadA = {0xCA, 0x80};

// "   Z": a 3-byte copy out of the blank window, then a literal.
//   value = 0x2F08 << 1 | 1 = 24081 (bits past the end are ones)
//   symbol: x = (24082 * 314 - 1) / 131072 = 57, rank 257 = code 256, a copy
//     of 3; interval [23793, 24210); 7 doublings give low 30848, high 84224,
//     value 67839. The model moves code 256 to rank 1.
//   position: x = ((67839 - 30848 + 1) * 28568 - 1) / 53376 = 19798, the
//     smallest i with positionCum[i] <= 19798 is 289, so p = 288: the copy
//     starts 289 bytes back at 4036 - 289 = 3747, all blanks. Interval
//     [67813, 67851); 11 doublings give low 10240, high 88064, value 65535.
//   symbol: total 315, x = ((65535 - 10240 + 1) * 315 - 1) / 77824 = 223,
//     rank 91 = code 90 'Z'.
// With zero bits past the end instead of ones the last symbol would be ')'.
const Bytes kPayloadSpacesZ = {0x2F, 0x08};

TEST(DecodeFile, HandTracedContainersDecodeExactly) {
    TempDir dir;
    WriteFile(dir.File("a.pack"), Container(Sum(kPayloadA), 102, 1, 0, 0, kPayloadA));
    ASSERT_TRUE(Decode(dir.File("a.pack"), dir.File("a")));
    EXPECT_EQ(ReadFile(dir.File("a")), Bytes{'A'});

    WriteFile(dir.File("z.pack"), Container(55, 102, 4, 0, 0, kPayloadSpacesZ));
    ASSERT_TRUE(Decode(dir.File("z.pack"), dir.File("z")));
    EXPECT_EQ(ReadFile(dir.File("z")), (Bytes{' ', ' ', ' ', 'Z'}));
}

TEST(DecodeFile, MissingSourceFailsAndCreatesNothing) {
    TempDir dir;
    EXPECT_FALSE(Decode(dir.File("absent.pack"), dir.File("out")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
}

TEST(DecodeFile, DestinationThatCannotBeCreatedFails) {
    TempDir dir;
    WriteFile(dir.File("a.pack"), Container(Sum(kPayloadA), 102, 1, 0, 0, kPayloadA));
    EXPECT_FALSE(Decode(dir.File("a.pack"), dir.File("no-such-dir/out")));
}

TEST(DecodeFile, RejectedHeadersLeaveAnEmptyDestination) {
    TempDir dir;
    const std::string out = dir.File("out");
    const Bytes full = Container(Sum(kPayloadA), 102, 1, 0, 0, kPayloadA);
    for (size_t n : {size_t{0}, size_t{7}, size_t{19}}) {
        WriteFile(out, {1, 2, 3});
        WriteFile(dir.File("short.pack"), Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        EXPECT_FALSE(Decode(dir.File("short.pack"), out)) << n;
        EXPECT_TRUE(ReadFile(out).empty()) << n;
    }
    WriteFile(out, {1, 2, 3});
    WriteFile(dir.File("zero.pack"), Container(Sum(kPayloadA), 102, 0, 0, 0, kPayloadA));
    EXPECT_FALSE(Decode(dir.File("zero.pack"), out));
    EXPECT_TRUE(ReadFile(out).empty());
    WriteFile(out, {1, 2, 3});
    WriteFile(dir.File("fmt.pack"), Container(Sum(kPayloadA), 101, 1, 0, 0, kPayloadA));
    EXPECT_FALSE(Decode(dir.File("fmt.pack"), out));
    EXPECT_TRUE(ReadFile(out).empty());
}

TEST(DecodeFile, ChecksumMismatchFailsAfterWritingTheFile) {
    TempDir dir;
    WriteFile(dir.File("a.pack"), Container(Sum(kPayloadA) + 1, 102, 1, 0, 0, kPayloadA));
    EXPECT_FALSE(Decode(dir.File("a.pack"), dir.File("a")));
    EXPECT_EQ(ReadFile(dir.File("a")), Bytes{'A'});
}

int64_t ModificationTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}
int64_t AccessTime(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_atime) : -1;
}

TEST(DecodeFile, DestinationGetsTheHeaderTimes) {
    TempDir dir;
    const uint32_t atime = 1600000000;  // 2020-09-13
    const uint32_t mtime = 1500000000;  // 2017-07-14
    WriteFile(dir.File("a.pack"), Container(Sum(kPayloadA), 102, 1, atime, mtime, kPayloadA));
    ASSERT_TRUE(Decode(dir.File("a.pack"), dir.File("a")));
    EXPECT_EQ(ModificationTime(dir.File("a")), mtime);
    EXPECT_EQ(AccessTime(dir.File("a")), atime);
    // Also when the checksum fails: the file is there, with its times.
    WriteFile(dir.File("b.pack"), Container(Sum(kPayloadA) ^ 1, 102, 1, atime, mtime, kPayloadA));
    EXPECT_FALSE(Decode(dir.File("b.pack"), dir.File("b")));
    EXPECT_EQ(ModificationTime(dir.File("b")), mtime);
}

// A full disk must not pass for a decoded file.
TEST(DecodeFile, WriteErrorOnTheDestinationFails) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    TempDir dir;
    // One byte, so that only the final write meets the error.
    WriteFile(dir.File("a.pack"), Container(Sum(kPayloadA), 102, 1, 0, 0, kPayloadA));
    EXPECT_FALSE(Decode(dir.File("a.pack"), "/dev/full"));
    // Past its two bytes the same payload reads as one-bits, which go on
    // decoding without touching the sum: a valid container of 200000 bytes,
    // more than one output buffer.
    WriteFile(dir.File("big.pack"), Container(Sum(kPayloadA), 102, 200000, 0, 0, kPayloadA));
    ASSERT_TRUE(Decode(dir.File("big.pack"), dir.File("big")));
    EXPECT_EQ(ReadFile(dir.File("big")).size(), 200000u);
    // The log says why, since the caller only learns that the decode failed.
    const std::string log = dir.File("debug.log");
    CLog::Get()->Open(2, -1, log.c_str(), 1, 2000000);
    EXPECT_FALSE(Decode(dir.File("big.pack"), "/dev/full"));
    const Bytes text = ReadFile(log);
    EXPECT_NE(std::string(text.begin(), text.end()).find(" : 0 : ** write error on /dev/full"),
              std::string::npos);
    CLog::Get()->Open(-1, -1, "", 1, 0);
}

TEST(DecodeFile, InstanceIsCleanAfterAFailedDecode) {
    TempDir dir;
    WriteFile(dir.File("junk.pack"), Container(0, 102, 5000, 0, 0, RandomBytes(100, 3)));
    EXPECT_FALSE(Decode(dir.File("junk.pack"), dir.File("junk")));
    WriteFile(dir.File("z.pack"), Container(55, 102, 4, 0, 0, kPayloadSpacesZ));
    ASSERT_TRUE(Decode(dir.File("z.pack"), dir.File("z")));
    EXPECT_EQ(ReadFile(dir.File("z")), (Bytes{' ', ' ', ' ', 'Z'}));
    EXPECT_EQ(CPack::Get()->CheckFile(dir.File("z.pack").c_str()), 0);
}

// Whatever the payload, the decoder stops after originalSize bytes, or
// finishes the copy it is in, at most 59 bytes more; and it writes what the
// plain step-by-step decoder writes.
TEST(DecodeFile, DamagedPayloadsStayWithinOriginalSizePlus59) {
    TempDir dir;
    const std::string src = dir.File("junk.pack");
    for (uint32_t seed = 1; seed <= 40; seed++) {
        const uint32_t original = 1 + seed * 997 % 20000;
        // Payloads from empty to longer than the output needs; all-ones and
        // all-zeros streams are the extremes of the model.
        Bytes payload = RandomBytes(seed * 13 % 3000, seed);
        if (seed % 10 == 1) {
            payload.assign(payload.size(), 0xFF);
        } else if (seed % 10 == 2) {
            payload.assign(payload.size(), 0x00);
        }
        WriteFile(src, Container(seed, 102, original, 0, 0, payload));
        const bool got = Decode(src, dir.File("out"));
        const bool want = LiteralDecodeFile(src.c_str(), dir.File("ref").c_str());
        const Bytes out = ReadFile(dir.File("out"));
        EXPECT_GE(out.size(), original) << seed;
        EXPECT_LE(out.size(), size_t{original} + 59) << seed;
        EXPECT_EQ(got, want) << seed;
        EXPECT_EQ(out, ReadFile(dir.File("ref"))) << seed;
    }
}

}  // namespace
