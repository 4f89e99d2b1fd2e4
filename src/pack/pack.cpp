#include "pack/pack.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "platform/file_times.h"
#include "shared/base/s_logging.h"

namespace {

constexpr uint32_t kPositionTotal = CPack::positionCum[0];

// The inverse of the position model: for every value 0 .. total-1 the
// position whose share of the interval contains it. Equal to the binary
// search for the smallest i >= 1 with positionCum[i] <= x, minus one, but a
// single load. Values at or above the total (only a damaged stream gets
// there) give position 0, as the search would.
constexpr std::array<uint16_t, kPositionTotal> MakePositionOf() {
    std::array<uint16_t, kPositionTotal> table{};
    for (uint32_t p = 0; p < CPack::N; p++) {
        for (uint32_t x = CPack::positionCum[p + 1]; x < CPack::positionCum[p]; x++) {
            table[x] = static_cast<uint16_t>(p);
        }
    }
    return table;
}
constexpr std::array<uint16_t, kPositionTotal> kPositionOf = MakePositionOf();

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Eight 16-bit lanes, which the compiler maps to the vector unit where there
// is one.
using Lanes = uint16_t __attribute__((vector_size(16)));
using SignedLanes = int16_t __attribute__((vector_size(16)));

// The number of entries of p[0 .. 8 * vectors) above x, all of them below
// 2^15.
template <uint32_t vectors>
uint32_t CountAbove(const uint16_t* p, uint32_t x) {
    const SignedLanes limit = SignedLanes{} + static_cast<int16_t>(std::min<uint32_t>(x, 0x7FFF));
    SignedLanes above{};
    for (uint32_t v = 0; v < vectors; v++) {
        SignedLanes entries;
        std::memcpy(&entries, p + 8 * v, sizeof entries);
        // A true comparison is all ones: -1.
        above -= entries > limit;
    }
    uint32_t count = 0;
    for (uint32_t lane = 0; lane < 8; lane++) {
        count += static_cast<uint16_t>(above[lane]);
    }
    return count;
}

// Adds 1 to p[0 .. n) of p[0 .. 8 * vectors).
template <uint32_t vectors>
void AddBelow(uint16_t* p, uint32_t n) {
    const Lanes end = Lanes{} + static_cast<uint16_t>(n);
    Lanes index = {0, 1, 2, 3, 4, 5, 6, 7};
    for (uint32_t v = 0; v < vectors; v++) {
        Lanes entries;
        std::memcpy(&entries, p + 8 * v, sizeof entries);
        entries -= reinterpret_cast<Lanes>(index < end);
        std::memcpy(p + 8 * v, &entries, sizeof entries);
        index += 8;
    }
}

// Sum of `count` bytes, each 0 to 255, modulo 2^32. Eight bytes are added at
// a time as four 16-bit lanes; a lane takes at most 510 per word, so 128
// words fit before the lanes are folded into the total.
uint32_t SumBytes(const uint8_t* data, size_t count) {
    constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
    uint32_t total = 0;
    while (count >= 8) {
        size_t words = count / 8;
        if (words > 128) {
            words = 128;
        }
        uint64_t lanes = 0;
        for (size_t i = 0; i < words; i++) {
            uint64_t w;
            std::memcpy(&w, data + 8 * i, 8);
            lanes += (w & kEvenBytes) + ((w >> 8) & kEvenBytes);
        }
        lanes = (lanes & 0x0000FFFF0000FFFFull) + ((lanes >> 16) & 0x0000FFFF0000FFFFull);
        total += static_cast<uint32_t>(lanes) + static_cast<uint32_t>(lanes >> 32);
        data += 8 * words;
        count -= 8 * words;
    }
    for (size_t i = 0; i < count; i++) {
        total += data[i];
    }
    return total;
}

}  // namespace

// The only place where the container code reports anything itself: a
// destination that did not take the decoded bytes (a full disk) is otherwise
// invisible to the caller, which only learns that the decode failed.
void CPack::LogWriteError(const char* destination) {
    BRF_LOG(0, "** write error on %s, the disk may be full", destination);
}

CPack* CPack::Get() {
    static const std::unique_ptr<CPack> instance{new CPack()};
    return instance.get();
}

std::unique_ptr<CPack> CPack::Create() {
    std::unique_ptr<CPack> coder{new CPack()};
    coder->logsWriteErrors_ = false;
    return coder;
}

CPack::CPack()
    : inBuf(std::make_unique<uint8_t[]>(kBufferSize)),
      outBuf(std::make_unique<uint8_t[]>(N + kBufferSize + kCopySlack)) {
    Reset();
}

void CPack::Reset() {
    low = 0;
    high = Q4;
    value = 0;
    symToChar.fill(0);
    symFreq.fill(0);
    blockCum.fill(0);
    localCum.fill(0);
    input.reset();
    output.reset();
    originalSize = 0;
    byteSum = 0;
    memoryInput = {};
    memoryOutput = nullptr;
    inData = inBuf.get();
    inPos = 0;
    inEnd = 0;
    readFailed = false;
    writeFailed = false;
    stopped_ = false;
}

void CPack::UseMemoryInput(std::string_view container) {
    memoryInput = container;
    // An empty view may carry no address at all; the readers only need one
    // that compares equal to itself.
    if (memoryInput.data() == nullptr) {
        memoryInput = std::string_view("", 0);
    }
}

size_t CPack::FillInput() {
    inPos = 0;
    if (!input) {
        // The whole rest of the container is one buffer.
        inData = reinterpret_cast<const uint8_t*>(memoryInput.data());
        inEnd = memoryInput.size();
        memoryInput.remove_prefix(inEnd);
        return inEnd;
    }
    inData = inBuf.get();
    inEnd = std::fread(inBuf.get(), 1, kBufferSize, input.get());
    if (inEnd == 0 && std::ferror(input.get())) {
        readFailed = true;
    }
    return inEnd;
}

bool CPack::ReadHeader(uint32_t words[5]) {
    inPos = 0;
    inEnd = 0;
    if (!input) {
        if (FillInput() < kHeaderSize) {
            return false;
        }
    } else {
        inData = inBuf.get();
        while (inEnd < kHeaderSize) {
            const size_t n = std::fread(inBuf.get() + inEnd, 1, kBufferSize - inEnd, input.get());
            if (n == 0) {
                return false;
            }
            inEnd += n;
        }
    }
    for (int i = 0; i < 5; i++) {
        words[i] = ReadLe32(inData + 4 * i);
    }
    inPos = kHeaderSize;
    return true;
}

bool CPack::FlushOutput(size_t count) {
    if (memoryOutput != nullptr) {
        memoryOutput->append(reinterpret_cast<const char*>(outBuf.get() + N), count);
        return true;
    }
    if (!writeFailed && std::fwrite(outBuf.get() + N, 1, count, output.get()) != count) {
        writeFailed = true;
        destinationErrno = errno;
    }
    return !writeFailed;
}

bool CPack::CloseOutput() {
    // fclose reports what the system refused when the last data went out.
    if (std::fclose(output.release()) != 0 && !writeFailed) {
        writeFailed = true;
        destinationErrno = errno;
    }
    return !writeFailed;
}

int32_t CPack::CheckFile(const char* path) {
    Reset();
    input.reset(std::fopen(path, "rb"));
    if (!input) {
        return kCheckCannotOpen;
    }
    // The stream's own buffer would only add a copy; whole buffers are read
    // straight into inBuf.
    std::setvbuf(input.get(), nullptr, _IONBF, 0);
    const int32_t result = CheckInput();
    input.reset();
    return result;
}

int32_t CPack::CheckBytes(std::string_view container) {
    Reset();
    UseMemoryInput(container);
    return CheckInput();
}

int32_t CPack::CheckInput() {
    uint32_t header[5];
    if (!ReadHeader(header)) {
        return kCheckTooShort;
    }
    uint32_t sum = SumBytes(inData + inPos, inEnd - inPos);
    while (size_t n = FillInput()) {
        sum += SumBytes(inData, n);
    }
    byteSum = sum;
    if (header[1] != kFormat) {
        return kCheckBadFormat;
    }
    // A file that could not be read to its end cannot be shown to be intact.
    if (header[0] != byteSum || readFailed) {
        return kCheckBadChecksum;
    }
    return kCheckOk;
}

void CPack::StartModel() {
    for (uint32_t sym = 1; sym <= N_CHAR; sym++) {
        symToChar[sym] = sym - 1;
        symFreq[sym] = 1;
    }
    symFreq[0] = 0;
    RebuildCum();
}

void CPack::RebuildCum() {
    // symCum whole first, 0 from the last rank on.
    std::array<uint16_t, kBlocks * kBlock + 1> cum{};
    for (uint32_t i = N_CHAR; i > 0; i--) {
        cum[i - 1] = static_cast<uint16_t>(cum[i] + symFreq[i]);
        firstRank[symFreq[i]] = static_cast<uint16_t>(i);
    }
    for (uint32_t b = 0; b <= kBlocks; b++) {
        blockCum[b] = cum[kBlock * b];
    }
    for (uint32_t i = 0; i < localCum.size(); i++) {
        localCum[i] = static_cast<uint16_t>(cum[i] - blockCum[i / kBlock + 1]);
    }
}

uint32_t CPack::FindRank(uint32_t x) const {
    // The blocks whose first symCum is above x come first; the rank lies in
    // the last of them, among the ranks whose local part is above what x
    // leaves of the blocks after it. Every entry is below 2^15, so signed
    // comparisons with the limits capped there give the same answers.
    const uint32_t blocks = CountAbove<kBlockCumSize / 8>(blockCum.data(), x);
    if (blocks == 0) {
        return 1;  // x is the total or more: only a damaged stream gets here
    }
    // Ranks 0 to r - 1 are above x, so r is the one sought.
    const uint32_t b = blocks - 1;
    return kBlock * b + CountAbove<kBlock / 8>(localCum.data() + kBlock * b, x - blockCum[b + 1]);
}

void CPack::UpdateModel(uint32_t sym) {
    if (blockCum[0] >= MAX_CUM) {
        for (uint32_t i = 1; i <= N_CHAR; i++) {
            symFreq[i] = (symFreq[i] + 1) >> 1;
        }
        RebuildCum();
    }
    // Ranks stay sorted by falling frequency: the symbol trades places with
    // the first rank of its frequency before that rank's count goes up.
    // Trading with itself changes nothing, which spares a branch.
    const uint32_t freq = symFreq[sym];
    const uint32_t i = firstRank[freq];
    const uint32_t chI = symToChar[i];
    symToChar[i] = symToChar[sym];
    symToChar[sym] = chI;
    // Rank i joins frequency freq + 1 as its first rank, unless the ranks
    // before it have that frequency already; frequency freq now starts at
    // i + 1, if any rank is left with it.
    if (symFreq[i - 1] != freq + 1) {
        firstRank[freq + 1] = static_cast<uint16_t>(i);
    }
    firstRank[freq] = static_cast<uint16_t>(i + 1);
    symFreq[i] = freq + 1;
    // symCum[0 .. i-1] goes up by 1: the starts of the blocks up to i - 1's,
    // and in that block the local parts before i.
    const uint32_t b = (i - 1) / kBlock;
    AddBelow<kBlockCumSize / 8>(blockCum.data(), b + 1);
    AddBelow<kBlock / 8>(localCum.data() + kBlock * b, i - kBlock * b);
}

bool CPack::DecodeFile(const char* source, const char* destination) {
    Reset();
    input.reset(std::fopen(source, "rb"));
    if (!input) {
        return false;
    }
    destinationErrno = 0;
    output.reset(std::fopen(destination, "wb"));
    if (!output) {
        destinationErrno = errno;
        input.reset();
        return false;
    }
    std::setvbuf(input.get(), nullptr, _IONBF, 0);
    std::setvbuf(output.get(), nullptr, _IONBF, 0);

    uint32_t accessTime = 0;
    uint32_t modificationTime = 0;
    const Decoded result = DecodeInput(&accessTime, &modificationTime);
    input.reset();
    const bool written = CloseOutput();
    if (result == Decoded::Refused) {
        return false;
    }
    if (!written) {
        if (logsWriteErrors_) {
            LogWriteError(destination);
        }
        return false;
    }
    // Times that cannot be set do not make the file any less complete.
    plat::SetFileTimes(destination, accessTime, modificationTime);
    return result == Decoded::Match && !readFailed;
}

bool CPack::DecodeBytes(std::string_view container, std::string& decoded) {
    Reset();
    destinationErrno = 0;
    UseMemoryInput(container);
    decoded.clear();
    memoryOutput = &decoded;
    uint32_t accessTime = 0;
    uint32_t modificationTime = 0;
    const Decoded result = DecodeInput(&accessTime, &modificationTime);
    memoryOutput = nullptr;
    return result == Decoded::Match;
}

CPack::Decoded CPack::DecodeInput(uint32_t* accessTime, uint32_t* modificationTime) {
    uint32_t header[5];
    if (!ReadHeader(header)) {
        return Decoded::Refused;
    }
    const uint32_t checksum = header[0];
    const uint32_t format = header[1];
    originalSize = header[2];
    *accessTime = header[3];
    *modificationTime = header[4];
    if (originalSize == 0 || format != kFormat) {
        return Decoded::Refused;
    }

    // The coder registers and the bit reader live in locals while the
    // payload is decoded: every byte stored into the window or the output
    // buffer could alias a member, which would force them out to memory
    // after each byte.
    const uint8_t* in = inData + inPos;
    const uint8_t* inLimit = inData + inEnd;
    bool inAtEnd = false;
    uint32_t sum = 0;
    uint32_t lo = low;
    uint32_t hi = high;
    // value - low: the same amount is always taken from both, so only their
    // difference matters, and it is all that is kept.
    uint32_t gap = 0;

    // Bits are taken from each byte most significant first; past the end of
    // the source every bit is 1. `bits` holds the next `avail` bits at its
    // top. A byte counts for the sum once its first bit has been taken, so
    // the bytes still whole in `bits` are taken off again at the end.
    uint64_t bits = 0;
    uint32_t avail = 0;
    uint32_t pastEnd = 0;  // bytes of one-bits appended after the end
    auto refill = [&]() {
        while (avail <= 56) {
            if (in == inLimit && !inAtEnd) {
                const size_t n = FillInput();
                in = inData;
                inLimit = in + n;
                inAtEnd = n == 0;
            }
            uint32_t b = 0xFF;
            if (in != inLimit) {
                b = *in++;
                sum += b;
            } else {
                pastEnd++;
            }
            bits |= static_cast<uint64_t>(b) << (56 - avail);
            avail += 8;
        }
    };
    // The next `n` bits (0 to 17) as a number.
    auto takeBits = [&](uint32_t n) -> uint32_t {
        if (avail < n) {
            refill();
        }
        const uint32_t v = static_cast<uint32_t>((bits >> 32) >> (32 - n));
        bits <<= n;
        avail -= n;
        return v;
    };

    // Doubles the interval until it straddles the middle and is not inside
    // the middle half, dropping the quarter it no longer needs each time,
    // and reads one bit per doubling. The count of doublings follows from
    // the bits of low and high - 1: first those they share, then those where
    // low goes on with ones and high - 1 with zeros (the middle-half case).
    // Each doubling takes away a multiple of Q2 in the end, and the interval
    // stops with low below Q2, so the new low is low * 2^n modulo Q2.
    auto renormalize = [&]() {
        const uint32_t top = hi - 1;
        const uint32_t shared = 17 - static_cast<uint32_t>(std::bit_width(lo ^ top));
        const uint32_t restLow = (lo << shared) & (Q4 - 1);
        const uint32_t restTop = ((top << shared) | ((1u << shared) - 1)) & (Q4 - 1);
        const uint32_t middle =
            16 - static_cast<uint32_t>(std::bit_width(~(restLow & ~restTop) & 0xFFFFu));
        const uint32_t n = shared + middle;
        const uint32_t width = hi - lo;
        lo = (lo << n) & (Q2 - 1);
        hi = lo + (width << n);
        gap = (gap << n) + takeBits(n);
    };

    auto decodeSymbol = [&]() -> uint32_t {
        const uint32_t range = hi - lo;
        const uint32_t total = blockCum[0];
        const uint32_t x = ((gap + 1) * total - 1) / range;
        // The smallest rank i >= 1 with symCum[i] <= x: symCum falls
        // strictly from rank to rank and is 0 from rank 314 on, so it is the
        // rank after those above x.
        const uint32_t sym = FindRank(x);
        const uint32_t newHigh = lo + range * Cum(sym - 1) / total;
        const uint32_t raise = range * Cum(sym) / total;
        hi = newHigh;
        lo += raise;
        gap -= raise;
        renormalize();
        const uint32_t c = symToChar[sym];
        UpdateModel(sym);
        return c;
    };

    auto decodePosition = [&]() -> uint32_t {
        const uint32_t range = hi - lo;
        const uint32_t x = ((gap + 1) * kPositionTotal - 1) / range;
        const uint32_t p = x < kPositionTotal ? kPositionOf[x] : 0;
        const uint32_t newHigh = lo + range * positionCum[p] / kPositionTotal;
        const uint32_t raise = range * positionCum[p + 1] / kPositionTotal;
        hi = newHigh;
        lo += raise;
        gap -= raise;
        renormalize();
        return p;
    };

    gap = takeBits(M + 2);
    StartModel();
    // The starting window: what a copy reaching back before the first byte
    // finds.
    uint8_t* const window = outBuf.get();
    std::memset(window, 0, N - kStartIndex);
    std::memset(window + (N - kStartIndex), kBlank, kStartIndex);

    uint8_t* const out = window + N;
    size_t outPos = 0;
    // 64 bits: near 4 GiB a 32-bit count could wrap inside the last copy and
    // let the loop run on.
    uint64_t count = 0;
    while (count < originalSize) {
        // Room for the longest copy, so a symbol never checks per byte.
        if (outPos > kBufferSize - F) {
            if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) {
                stopped_ = true;
                break;
            }
            if (!FlushOutput(outPos)) {
                break;
            }
            // What follows reaches back into the last N bytes.
            std::memcpy(window, out + outPos - N, N);
            outPos = 0;
        }
        const uint32_t c = decodeSymbol();
        if (c < 256) {
            out[outPos++] = static_cast<uint8_t>(c);
            count++;
        } else {
            const uint32_t distance = decodePosition() + 1;
            const uint32_t length = c - 253;
            uint8_t* const to = out + outPos;
            const uint8_t* const from = to - distance;
            // A copy is always completed whole, also past originalSize. It
            // reads bytes it has just written when it reaches back less
            // than its length, so it goes byte by byte when it reaches back
            // less than 16; otherwise each 16 bytes are read after they are
            // final. The bytes past its end are written again before
            // anything reads them.
            if (distance >= 16) {
                for (uint32_t k = 0; k < kCopySlack; k += 16) {
                    std::memcpy(to + k, from + k, 16);
                }
            } else {
                for (uint32_t k = 0; k < length; k++) {
                    to[k] = from[k];
                }
            }
            outPos += length;
            count += length;
        }
    }
    if (stopped_) {
        return Decoded::Refused;
    }
    if (!writeFailed) {
        FlushOutput(outPos);
    }

    low = lo;
    high = hi;
    value = lo + gap;
    // Whole bytes still waiting in `bits` were never taken.
    const uint32_t partBits = avail % 8;
    const uint32_t waiting = avail / 8;
    const uint32_t realWaiting = waiting - std::min(waiting, pastEnd);
    for (uint32_t j = 0; j < realWaiting; j++) {
        sum -= static_cast<uint32_t>((bits << partBits) >> (56 - 8 * j)) & 0xFFu;
    }
    byteSum = sum;
    return byteSum == checksum ? Decoded::Match : Decoded::Mismatch;
}
