// Deltas from the encoder through the updater's applier: every kind of change
// comes back byte for byte, and a wrong source, a damaged or a hostile delta
// ends in a refusal that leaves no output file behind.
#include <gtest/gtest.h>
#include <sodium.h>
#include <zstd.h>

#include <filesystem>
#include <random>

#include "delta/delta_apply.h"
#include "delta/delta_encoder.h"
#include "delta/delta_format.h"
#include "support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<uint8_t>(rng() % 251);
    }
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Slice(const Bytes& b, size_t from, size_t size) {
    return Bytes(b.begin() + from, b.begin() + from + size);
}

void Write(const std::string& path, const Bytes& b) {
    brf_test::WriteFile(path, std::string(b.begin(), b.end()));
}

Bytes Read(const std::string& path) {
    const std::string s = brf_test::ReadFile(path);
    return Bytes(s.begin(), s.end());
}

std::string Sha(const Bytes& b) {
    uint8_t hash[32];
    crypto_hash_sha256(hash, b.data(), b.size());
    return delta::ToHex(hash, sizeof hash);
}

// Code whose addresses moved: a few bytes changed in every few dozen.
Bytes Shifted(Bytes b) {
    for (size_t i = 0; i < b.size(); i += 37) {
        b[i] = static_cast<uint8_t>(b[i] + 8);
    }
    return b;
}

// One block of a hand-made delta: its instructions and data, each packed
// as a zstd stream with the given window.
Bytes Block(const Bytes& instructions, const Bytes& data, int windowLog = 20,
            ZSTD_EndDirective end = ZSTD_e_flush) {
    auto pack = [windowLog, end](const Bytes& raw) {
        Bytes out(ZSTD_compressBound(raw.size()) + 64);
        ZSTD_CCtx* ctx = ZSTD_createCCtx();
        ZSTD_CCtx_setParameter(ctx, ZSTD_c_windowLog, windowLog);
        ZSTD_inBuffer in{raw.data(), raw.size(), 0};
        ZSTD_outBuffer o{out.data(), out.size(), 0};
        while (ZSTD_compressStream2(ctx, &o, &in, end) != 0) {
        }
        ZSTD_freeCCtx(ctx);
        out.resize(raw.empty() ? 0 : o.pos);
        return out;
    };
    const Bytes i = pack(instructions);
    const Bytes d = pack(data);
    const auto head = delta::WriteBlockHeader(
        {static_cast<uint32_t>(instructions.size()), static_cast<uint32_t>(i.size()),
         static_cast<uint32_t>(data.size()), static_cast<uint32_t>(d.size())},
        delta::kVersion);
    return Cat({Bytes(head.begin(), head.end()), i, d});
}

// A compact header.
Bytes Head2(delta::Layout layout, uint64_t sourceSize, uint64_t resultSize,
            uint8_t windowLog = 20) {
    delta::Header h;
    h.version = delta::kCompactVersion;
    h.layout = layout;
    h.instructionWindowLog = h.dataWindowLog = windowLog;
    h.sourceSize = sourceSize;
    h.resultSize = resultSize;
    return delta::WriteHeader(h);
}

// What a delta's header says, and where the header ends.
delta::Header HeaderOf(const Bytes& d, size_t* used = nullptr) {
    size_t size = 0;
    const auto header = delta::ReadHeader(d.data(), d.size(), used ? used : &size);
    EXPECT_TRUE(header) << (header ? "" : header.reason());
    return header ? *header : delta::Header{};
}

Bytes Head(uint64_t sourceSize, uint64_t resultSize, uint8_t windowLog = 20) {
    delta::Header h;
    h.instructionWindowLog = h.dataWindowLog = windowLog;
    h.sourceSize = sourceSize;
    h.resultSize = resultSize;
    const auto bytes = delta::WriteHeader(h);
    return Bytes(bytes.begin(), bytes.end());
}

struct Files {
    brf_test::ScratchDir dir;
    std::string source = dir.File("old");
    std::string target = dir.File("new");
    std::string delta = dir.File("delta");
    std::string output = dir.File("out");
};

TEST(Delta, EveryKindOfChangeComesBackByteForByte) {
    const Bytes base = Random(300000, 1);
    const Bytes big = Random(5u << 20, 2);
    const struct {
        const char* what;
        Bytes source, target;
        size_t atMost = SIZE_MAX;  // bytes of the delta
    } cases[] = {
        {"identical files", base, base},
        {"bytes inserted at the start", base, Cat({Random(100, 3), base})},
        {"a block moved", base,
         Cat({Slice(base, 0, 50000), Slice(base, 150000, 150000), Slice(base, 50000, 100000)})},
        {"a file rewritten completely", base, Random(300000, 4)},
        {"an empty target", base, {}},
        {"a source of 0 bytes", {}, Random(20000, 5)},
        {"code whose addresses moved", base, Shifted(base)},
        {"more data than one block holds", Random(1000, 6), big},
        {"a large file with a change in the middle", big,
         Cat({Slice(big, 0, 3u << 20), Random(999, 7), Slice(big, 3u << 20, 2u << 20)})},
        // Beyond the zstd window only a copy of the result's own bytes finds it.
        {"a piece repeated further back than the window",
         {},
         Cat({Slice(base, 0, 200000), Random(9u << 20, 12), Slice(base, 0, 200000)}),
         (9u << 20) + 250000},
    };
    for (const uint32_t version : {1u, 2u}) {
        for (const auto& c : cases) {
            const std::string what = c.what + std::string(", format ") + std::to_string(version);
            Files f;
            Write(f.source, c.source);
            Write(f.target, c.target);
            delta::EncodeOptions options;
            options.level = 3;
            options.version = version;
            const Bytes d = delta::Encode(f.source, f.target, options);
            EXPECT_EQ(d, delta::Encode(f.source, f.target, options)) << what << ": deterministic";
            Write(f.delta, d);
            uint64_t lastWritten = 0;
            const auto a = delta::ApplyFile(
                f.source, f.delta, f.output,
                [&](uint64_t written, uint64_t total) {
                    EXPECT_EQ(total, c.target.size());
                    lastWritten = written;
                    return true;
                },
                Sha(c.target));
            ASSERT_TRUE(a) << what << ": " << a.reason();
            EXPECT_EQ(a->size, c.target.size()) << what;
            EXPECT_EQ(a->sha256, Sha(c.target)) << what;
            EXPECT_EQ(lastWritten, c.target.size()) << what;
            EXPECT_TRUE(Read(f.output) == c.target) << what;
            EXPECT_LE(d.size(), c.atMost) << what;
        }
    }
}

// The compact format costs what the change costs: a one-byte change in a
// small file takes a few dozen bytes, where the first format's fixed header
// alone takes 96.
TEST(Delta, TheCompactFormatOfASmallChangeIsAFewDozenBytes) {
    Bytes text;
    for (int line = 0; line < 300; ++line) {
        const std::string s = "unit_" + std::to_string(line) +
                              " = { attack = " + std::to_string(line % 17) + ", defense = 2 }\n";
        text.insert(text.end(), s.begin(), s.end());
    }
    Bytes changed = text;
    changed[text.size() / 2] = '9';
    delta::EncodeOptions first;
    first.version = 1;
    EXPECT_GT(delta::EncodeBytes(text, changed, first).size(), delta::kHeaderSize);
    EXPECT_LE(delta::EncodeBytes(text, changed).size(), 40u);
}

TEST(Delta, WrongSourcesAndDamagedOrHostileDeltasAreRefusedWithoutOutput) {
    const Bytes source = Random(200000, 8);
    const Bytes target =
        Cat({Random(500, 9), Shifted(Slice(source, 0, 100000)), Slice(source, 120000, 80000)});
    delta::EncodeOptions firstFormat;
    firstFormat.version = delta::kVersion;
    const Bytes good = delta::EncodeBytes(source, target, firstFormat);
    // Compact deltas are checked against the result's hash of their line.
    const Bytes compact = delta::EncodeBytes(source, target);
    ASSERT_EQ(HeaderOf(compact).layout, delta::Layout::kStreams);
    const std::string targetSha = Sha(target);
    Bytes small = Slice(source, 0, 20000);
    Bytes smallTarget = Cat({Slice(small, 0, 9000), Random(40, 12), Slice(small, 9000, 11000)});
    const Bytes whole = delta::EncodeBytes(small, smallTarget);
    size_t wholeHead = 0;
    ASSERT_EQ(HeaderOf(whole, &wholeHead).layout, delta::Layout::kWhole);
    const Bytes frame = Slice(whole, wholeHead, whole.size() - wholeHead);
    const std::string smallSha = Sha(smallTarget);
    Bytes otherSource = source;
    otherSource[150000] ^= 1;
    const auto copy = [](uint64_t length, uint64_t distance) {
        Bytes b(20);
        size_t n = delta::PutVarint(b.data(), length << 2 | 1);
        n += delta::PutVarint(b.data() + n, distance);
        b.resize(n);
        return b;
    };
    const auto insert = [](uint64_t length) {
        Bytes b(10);
        b.resize(delta::PutVarint(b.data(), length << 2));
        return b;
    };
    struct Case {
        std::string what;
        Bytes source, delta;
        std::string problem;
        std::string resultSha256 = {};  // from the delta's line
    };
    using delta::Layout;
    std::vector<Case> cases = {
        {"a source one byte longer", Cat({source, {0}}), good, "wrong source"},
        {"a source of the right size with other bytes", otherSource, good, "SHA-256 differs"},
        {"a header asking for a huge window", source, Cat({Head(200000, 10, 30)}),
         "applier allows"},
        {"a result size beyond the blocks", source, Cat({Head(200000, uint64_t{1} << 62)}),
         "cut off"},
        {"a block of 4 GB of instructions", source,
         Cat({Head(200000, 10), {0xff, 0xff, 0xff, 0xff, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}),
         "out of range"},
        {"a copy past the source's end", source,
         Cat({Head(200000, 10), Block(copy(10, delta::ZigZag(199995)), {})}), "outside the source"},
        {"a copy before the source's start", source,
         Cat({Head(200000, 10), Block(copy(10, delta::ZigZag(-1)), {})}), "outside the source"},
        {"a copy of 2^62 bytes", source,
         Cat({Head(200000, uint64_t{1} << 62), Block(copy(uint64_t{1} << 60, 0), {})}),
         "outside the source"},
        {"a copy of result bytes not made yet", source,
         Cat({Head(200000, 10), Block(Cat({insert(2), {5 << 2 | 3, 2}}), {1, 2})}),
         "outside the result made so far"},
        {"an insert beyond its data", source, Cat({Head(200000, 10), Block(insert(10), {1, 2})}),
         "past its block's data"},
        {"instructions beyond the result size", source,
         Cat({Head(200000, 5), Block(copy(10, 0), {})}), "past the announced result size"},
        {"a zstd frame with a window beyond the limit", source,
         Cat({Head(200000, 2000000), Block(insert(2000000), Random(2000000, 10), 27)}), "corrupt"},
        {"a stream that is no zstd frame", source,
         Cat({Head(200000, 10),
              {1, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'd'}}),
         "does not start a zstd frame"},
        {"a stream that ends its frame", source,
         Cat({Head(200000, 10), Block(insert(10), Random(10, 11), 20, ZSTD_e_end)}),
         "ends its zstd frame"},
        {"bytes after the last block", source, Cat({good, {0}}), "after its last block"},
        {"a compact delta from a source of the right size with other bytes", otherSource, compact,
         "SHA-256 differs", targetSha},
        {"a compact header cut off", source, Slice(compact, 0, 6), "cut off", targetSha},
        {"a compact header with an unknown layout", source, Head2(Layout(2), 200000, 10),
         "applier allows", targetSha},
        {"a compact header asking for a huge window", source,
         Head2(Layout::kStreams, 200000, 10, 24), "applier allows", targetSha},
        {"a whole frame for more than one window", source,
         Head2(Layout::kWhole, 200000, delta::kMaxWholeBytes), "applier allows", targetSha},
        {"a compact block size of more than 32 bits", source,
         Cat({Head2(Layout::kStreams, 200000, 10), {0xff, 0xff, 0xff, 0xff, 0xff, 1}}),
         "out of range", targetSha},
        {"a whole frame making more than announced", small,
         Cat({Head2(Layout::kWhole, small.size(), smallTarget.size() - 1, 16), frame}),
         "past the announced result size", smallSha},
        {"a whole frame making less than announced", small,
         Cat({Head2(Layout::kWhole, small.size(), smallTarget.size() + 1, 16), frame}),
         "before the announced result size", smallSha},
        {"bytes after a whole frame", small, Cat({whole, {0}}), "after its last block", smallSha},
    };
    for (size_t cut : {size_t{0}, size_t{50}, size_t{100}, good.size() / 2, good.size() - 1}) {
        cases.push_back({"a delta cut to " + std::to_string(cut), source, Slice(good, 0, cut), ""});
    }
    for (const Case& made : {Case{"compact", source, compact, "", targetSha},
                             Case{"whole", small, whole, "", smallSha}}) {
        for (size_t cut : {size_t{5}, made.delta.size() / 2, made.delta.size() - 1}) {
            cases.push_back({"a " + made.what + " delta cut to " + std::to_string(cut), made.source,
                             Slice(made.delta, 0, cut), "", made.resultSha256});
        }
    }
    // Every byte but the first format's informational source SHA-256 is
    // checked, by a field, a zstd stream or the result's SHA-256.
    for (const Case& made :
         {Case{"", source, good, "", ""}, Case{"compact ", source, compact, "", targetSha},
          Case{"whole ", small, whole, "", smallSha}}) {
        for (size_t at = 0; at < made.delta.size(); at += 7) {
            if (made.delta != good || at < 32 || at >= 64) {
                Bytes flipped = made.delta;
                flipped[at] ^= 0x41;
                cases.push_back({"a " + made.what + "byte flipped at " + std::to_string(at),
                                 made.source, flipped, "", made.resultSha256});
            }
        }
    }
    for (const Case& c : cases) {
        Files f;
        Write(f.source, c.source);
        Write(f.delta, c.delta);
        Write(f.output, {1, 2, 3});
        const auto a = delta::ApplyFile(f.source, f.delta, f.output, {}, c.resultSha256);
        ASSERT_FALSE(a) << c.what;
        EXPECT_NE(a.reason().find(c.problem), std::string::npos) << c.what << ": " << a.reason();
        EXPECT_FALSE(std::filesystem::exists(f.output)) << c.what;
    }
}

TEST(Delta, ACancelledApplyLeavesNoOutputAndInputsOrFoldersAreNeverTheOutput) {
    Files f;
    const Bytes source = Random(3u << 20, 11);
    Write(f.source, source);
    delta::EncodeOptions quick;
    quick.level = 3;
    Write(f.delta, delta::EncodeBytes(source, Shifted(source), quick));
    const auto cancelled =
        delta::ApplyFile(f.source, f.delta, f.output, [](uint64_t, uint64_t) { return false; });
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.reason(), "cancelled");
    EXPECT_FALSE(std::filesystem::exists(f.output));
    EXPECT_FALSE(delta::ApplyFile(f.source, f.delta, f.source));
    EXPECT_TRUE(Read(f.source) == source);
    std::filesystem::create_directory(f.output);
    EXPECT_FALSE(delta::ApplyFile(f.source, f.delta, f.output));
    EXPECT_TRUE(std::filesystem::is_directory(f.output));
}

}  // namespace
