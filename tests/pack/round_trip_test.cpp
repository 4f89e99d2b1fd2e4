// Containers from the encoder through the updater's decoder: every kind of
// content comes back byte for byte, and damage is reported, not installed.
#include <gtest/gtest.h>

#include <algorithm>

#include "pack/literal_decoder.h"
#include "pack/pack.h"
#include "pack/packer.h"
#include "pack_test_util.h"

using namespace packtest;

namespace {

struct RoundTrip {
    TempDir dir;
    std::string source = dir.File("c.pack");
    std::string dest = dir.File("out");

    Bytes Pack(const Bytes& data, ParseMode mode = ParseMode::Optimal) {
        PackOptions options;
        options.mode = mode;
        const Bytes container =
            Packer(options).BuildContainer(data.data(), data.size(), 1111, 2222);
        WriteFile(source, container);
        return container;
    }
    void Expect(const Bytes& data, ParseMode mode, const std::string& what) {
        const Bytes container = Pack(data, mode);
        EXPECT_EQ(CPack::Get()->CheckFile(source.c_str()), 0) << what;
        EXPECT_TRUE(CPack::Get()->DecodeFile(source.c_str(), dest.c_str())) << what;
        const Bytes out = ReadFile(dest);
        EXPECT_EQ(out.size(), data.size()) << what;
        EXPECT_TRUE(out == data) << what;
    }
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST(RoundTrip, SizesAroundTheCoderLimits) {
    RoundTrip rt;
    for (size_t size : {1, 2, 3, 4, 59, 60, 61, 62, 120, 4035, 4036, 4095, 4096, 4097, 8193}) {
        rt.Expect(TextBytes(size, static_cast<uint32_t>(size)), ParseMode::Optimal,
                  "text " + std::to_string(size));
        rt.Expect(RandomBytes(size, static_cast<uint32_t>(size)), ParseMode::Greedy,
                  "random " + std::to_string(size));
    }
}

TEST(RoundTrip, EveryParseModeOnMixedContent) {
    RoundTrip rt;
    const Bytes data = Concat({TextBytes(30000, 1), RandomBytes(5000, 2), Bytes(3000, 0),
                               TextBytes(20000, 1), Bytes(700, 0xFF), RandomBytes(100, 3)});
    rt.Expect(data, ParseMode::Greedy, "greedy");
    rt.Expect(data, ParseMode::Lazy, "lazy");
    rt.Expect(data, ParseMode::Optimal, "optimal");
}

TEST(RoundTrip, LeadingBlanksAndZerosComeFromTheStartingWindow) {
    RoundTrip rt;
    for (size_t blanks : {1, 2, 3, 60, 61, 4035, 4036, 4037, 5000}) {
        rt.Expect(Concat({Bytes(blanks, ' '), TextBytes(200, 9)}), ParseMode::Optimal,
                  std::to_string(blanks) + " blanks");
    }
    // The ring's end, not yet written, reads as zeros.
    for (size_t zeros : {3, 59, 60, 61, 200}) {
        rt.Expect(Concat({Bytes(zeros, 0), TextBytes(100, 4)}), ParseMode::Lazy,
                  std::to_string(zeros) + " zeros");
    }
}

TEST(RoundTrip, LongRunsRescaleTheModelAndSwapRanks) {
    RoundTrip rt;
    // 300000 equal bytes outlast several rescales; runs of every value one
    // after the other make each new value climb past all equal neighbours.
    rt.Expect(Bytes(300000, 'q'), ParseMode::Optimal, "one value");
    Bytes runs;
    for (int v = 0; v < 256; v++) {
        runs.insert(runs.end(), 40 + static_cast<size_t>(v % 7), static_cast<uint8_t>(v));
    }
    for (int v = 255; v >= 0; v -= 3) {
        runs.push_back(static_cast<uint8_t>(v));
    }
    rt.Expect(Concat({runs, runs, RandomBytes(40000, 5), runs}), ParseMode::Greedy, "runs");
}

TEST(RoundTrip, MegabytesOfTextAndRandomData) {
    RoundTrip rt;
    rt.Expect(Concat({TextBytes(1500000, 11), RandomBytes(1000000, 12), TextBytes(500000, 13)}),
              ParseMode::Optimal, "3 MB");
}

TEST(RoundTrip, EmptyFileGivesAContainerTheUpdaterRefuses) {
    RoundTrip rt;
    WriteFile(rt.dest, {1, 2, 3});
    rt.Pack({});
    EXPECT_EQ(CPack::Get()->CheckFile(rt.source.c_str()), 0);
    EXPECT_FALSE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str()));
    EXPECT_TRUE(ReadFile(rt.dest).empty());
}

TEST(RoundTrip, OptimalParsingIsNeverWorseThanGreedy) {
    RoundTrip rt;
    const Bytes data = Concat({TextBytes(200000, 21), RandomBytes(20000, 22), TextBytes(50000, 3)});
    const size_t greedy = rt.Pack(data, ParseMode::Greedy).size();
    const size_t lazy = rt.Pack(data, ParseMode::Lazy).size();
    const size_t optimal = rt.Pack(data, ParseMode::Optimal).size();
    EXPECT_LE(lazy, greedy);
    EXPECT_LT(optimal, greedy);
}

TEST(RoundTrip, TruncatedPayloadStillFillsOriginalSizeAndFails) {
    RoundTrip rt;
    const Bytes data = TextBytes(20000, 8);
    const Bytes container = rt.Pack(data);
    for (size_t keep : {size_t{0}, size_t{1}, (container.size() - 20) / 2, container.size() - 21}) {
        WriteFile(rt.source,
                  Bytes(container.begin(), container.begin() + 20 + static_cast<long>(keep)));
        EXPECT_EQ(CPack::Get()->CheckFile(rt.source.c_str()), -4) << keep;
        EXPECT_FALSE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str())) << keep;
        const size_t written = ReadFile(rt.dest).size();
        EXPECT_GE(written, data.size()) << keep;
        EXPECT_LE(written, data.size() + 59) << keep;
    }
}

// The byte sum cannot see zero bytes that are missing: {CA 80 00} and {CA 80}
// both decode to "A" with the sum 330; {CA} decodes to "A" too (the bits past
// the end are ones) but fails.
TEST(RoundTrip, MissingZeroBytesAreInvisibleToTheSum) {
    RoundTrip rt;
    WriteFile(rt.source, Container(330, 102, 1, 0, 0, {0xCA, 0x80, 0x00}));
    EXPECT_TRUE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str()));
    WriteFile(rt.source, Container(330, 102, 1, 0, 0, {0xCA, 0x80}));
    EXPECT_TRUE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str()));
    EXPECT_EQ(ReadFile(rt.dest), Bytes{'A'});
    WriteFile(rt.source, Container(330, 102, 1, 0, 0, {0xCA}));
    EXPECT_FALSE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str()));
    EXPECT_EQ(ReadFile(rt.dest), Bytes{'A'});
}

TEST(RoundTrip, FlippedBytesFailAndDecodeLikeThePlainDecoder) {
    RoundTrip rt;
    const Bytes data = Concat({TextBytes(6000, 14), RandomBytes(500, 15), TextBytes(3000, 16)});
    const Bytes container = rt.Pack(data);
    const std::string ref = rt.dir.File("ref");
    for (size_t at = 20; at < container.size(); at += 1 + container.size() / 23) {
        Bytes bad = container;
        bad[at] ^= 0x10;
        WriteFile(rt.source, bad);
        EXPECT_EQ(CPack::Get()->CheckFile(rt.source.c_str()), -4) << at;
        EXPECT_FALSE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str())) << at;
        EXPECT_FALSE(LiteralDecodeFile(rt.source.c_str(), ref.c_str())) << at;
        const Bytes out = ReadFile(rt.dest);
        EXPECT_TRUE(out == ReadFile(ref)) << at;
        EXPECT_GE(out.size(), data.size()) << at;
        EXPECT_LE(out.size(), data.size() + 59) << at;
    }
}

// The size test comes before each symbol only: a copy that crosses
// originalSize is written whole.
TEST(RoundTrip, CopyCrossingOriginalSizeIsWrittenWhole) {
    RoundTrip rt;
    const Bytes data(1000, 'x');
    Bytes container = rt.Pack(data);
    const uint32_t shorter = 1000 - 10;
    for (int b = 0; b < 4; b++) {
        container[8 + b] = static_cast<uint8_t>(shorter >> (8 * b));
    }
    WriteFile(rt.source, container);
    EXPECT_TRUE(CPack::Get()->DecodeFile(rt.source.c_str(), rt.dest.c_str()));
    EXPECT_EQ(ReadFile(rt.dest), data);
}

TEST(RoundTrip, EncodedStreamsMatchThePlainDecoder) {
    RoundTrip rt;
    const Bytes data = Concat({Bytes(100, ' '), TextBytes(70000, 17), RandomBytes(3000, 18)});
    rt.Pack(data);
    const std::string ref = rt.dir.File("ref");
    ASSERT_TRUE(LiteralDecodeFile(rt.source.c_str(), ref.c_str()));
    EXPECT_TRUE(ReadFile(ref) == data);
}

}  // namespace
