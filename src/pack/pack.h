// CPack: the patch container check and decoder.
//
// A container is a 20-byte header (checksum of the payload, format word 102,
// original size, access time, modification time; little-endian 32-bit words)
// followed by the payload: LZSS over a 4096-byte window whose literals and
// copy lengths are coded by an adaptive arithmetic coder and whose copy
// positions are coded by the same coder over a fixed position model.
//
// The main thread's instance is reached through CPack::Get(); a worker
// thread makes one of its own with CPack::Create(). Each owns its coder
// tables and both stream buffers, allocated once, so checking or decoding a
// file of any size allocates nothing and keeps memory constant.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "pack/container_format.h"

// The cumulative position model over `n` positions, see CPack::positionCum.
template <uint32_t n>
constexpr std::array<uint32_t, n + 1> MakePositionCum() {
    std::array<uint32_t, n + 1> cum{};
    for (uint32_t i = n; i >= 1; i--) {
        cum[i - 1] = cum[i] + 10000 / (i + 200);
    }
    return cum;
}

class CPack {
public:
    // Window size; positions are taken modulo N.
    static constexpr uint32_t N = 4096;
    // Longest copy.
    static constexpr uint32_t F = 60;
    // A copy is at least THRESHOLD + 1 bytes long.
    static constexpr uint32_t THRESHOLD = 2;
    // Symbols: 256 literal bytes and the copy lengths 3 to 60 as 256 to 313.
    static constexpr uint32_t N_CHAR = 256 - THRESHOLD + F;
    // Arithmetic coder precision in bits, and the quarters of the interval.
    static constexpr uint32_t M = 15;
    static constexpr uint32_t Q1 = 1u << M;
    static constexpr uint32_t Q2 = 2 * Q1;
    static constexpr uint32_t Q3 = 3 * Q1;
    static constexpr uint32_t Q4 = 4 * Q1;
    // All symbol frequencies are halved when their total reaches this.
    static constexpr uint32_t MAX_CUM = Q1 - 1;

    static constexpr uint32_t kHeaderSize = kContainerHeaderSize;
    static constexpr uint32_t kFormat = kContainerFormat;
    // Write index at the start: the first N - F window bytes are blanks.
    static constexpr uint32_t kStartIndex = N - F;
    static constexpr uint8_t kBlank = 32;

    // Results of CheckFile.
    static constexpr int32_t kCheckOk = 0;
    static constexpr int32_t kCheckCannotOpen = -1;
    static constexpr int32_t kCheckTooShort = -2;
    static constexpr int32_t kCheckBadFormat = -3;
    static constexpr int32_t kCheckBadChecksum = -4;

    // Size of each of the two stream buffers.
    static constexpr size_t kBufferSize = 64 * 1024;

    // The fixed position model: positionCum[i] = sum over j > i of
    // 10000 / (j + 200), so recent bytes (small positions) get the larger
    // shares. positionCum[0] is the total.
    static constexpr std::array<uint32_t, N + 1> positionCum = MakePositionCum<N>();
    static_assert(positionCum[0] == 28568 && positionCum[N - 1] == 2);

    // The process-wide instance, created on first use and kept until the
    // process ends.
    static CPack* Get();

    // A coder of its own, for a worker thread: Get()'s instance belongs to
    // the main thread. It logs nothing; its caller reports a failed decode.
    static std::unique_ptr<CPack> Create();

    // While `*stop` is true a running DecodeFile ends early and fails; null
    // (the default) for never.
    void SetStop(const std::atomic<bool>* stop) { stop_ = stop; }

    // Clears the whole coder state; every operation begins with it.
    void Reset();

    // Verifies a container: 0 intact; -1 cannot be opened; -2 shorter than
    // the header; -3 format word not 102; -4 the payload does not match the
    // checksum. The format is judged only after the whole file was summed.
    int32_t CheckFile(const char* path);

    // Decodes the container `source` into `destination` and gives it the
    // header's times. True when the destination was written in full and the
    // payload matches the checksum.
    bool DecodeFile(const char* source, const char* destination);

    // CheckFile and DecodeFile on a container held in memory: the same
    // steps, the same results and the same output bytes. A -1 (cannot be
    // opened) never comes from CheckBytes. DecodeBytes replaces `decoded`
    // with the decoded bytes; it grows with the header's original size, so a
    // caller that takes containers from elsewhere bounds that first.
    int32_t CheckBytes(std::string_view container);
    bool DecodeBytes(std::string_view container, std::string& decoded);

    // Why the last DecodeFile could not write its destination (the C
    // library's error number: a full drive, a refusal); empty when the
    // destination was not the problem.
    std::error_code DestinationError() const { return {destinationErrno, std::generic_category()}; }

    // Whether the last DecodeFile could not write all it decoded. Get()'s
    // instance logs that itself with LogWriteError; for a coder of Create()
    // whoever reports its result does.
    bool WriteFailed() const { return writeFailed; }
    static void LogWriteError(const char* destination);

    CPack(const CPack&) = delete;
    CPack& operator=(const CPack&) = delete;

private:
    CPack();

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

    // What a decode came to.
    enum class Decoded { Refused, Mismatch, Match };

    // Makes `container` the source instead of a file.
    void UseMemoryInput(std::string_view container);
    // Makes the next bytes of the source available at inData[0 .. count),
    // count being the result: 0 at the end of the source or after a read
    // error (which sets readFailed).
    size_t FillInput();
    // Reads the five header words; false if the source is shorter.
    bool ReadHeader(uint32_t words[5]);
    // The check and the decode once the source (and for the decode the
    // destination) is open: the one path for files and memory.
    int32_t CheckInput();
    Decoded DecodeInput(uint32_t* accessTime, uint32_t* modificationTime);
    // Writes the first `count` bytes of the output buffer; false (and
    // writeFailed) if the destination did not take them all.
    bool FlushOutput(size_t count);
    // Closes the destination; false if buffered data could not be written.
    bool CloseOutput();
    void StartModel();
    // symCum[rank] as described below, and the smallest rank i >= 1 with
    // symCum[i] <= x.
    uint32_t Cum(uint32_t rank) const { return blockCum[rank / kBlock + 1] + localCum[rank]; }
    uint32_t FindRank(uint32_t x) const;
    // Sets blockCum, localCum and firstRank from symFreq.
    void RebuildCum();
    void UpdateModel(uint32_t sym);

    uint32_t low;
    uint32_t high;
    uint32_t value;
    // Rank (1 to 314) to symbol; index 0 is not used. The decoder never
    // needs the other direction.
    std::array<uint32_t, N_CHAR + 1> symToChar;
    // Frequency of each rank; symFreq[0] is a sentinel 0. Ranks stay
    // sorted by falling frequency.
    std::array<uint32_t, N_CHAR + 1> symFreq;
    // firstRank[f] is the first rank of frequency f while some rank has it
    // (entries of frequencies that no rank has are stale), so that the rank
    // a symbol trades places with is one load away.
    std::array<uint16_t, MAX_CUM + 1> firstRank{};
    // symCum[i] = sum of symFreq[i+1 .. 314], symCum[0] being the total,
    // is kept in two levels so that a count going up touches two blocks of
    // ranks rather than every rank before it: blockCum[b] is symCum at the
    // start of block b, localCum[i] the part of symCum[i] from i's own block.
    // Both are read and written eight entries at a time; those past the last
    // rank and the last block stay 0.
    static constexpr uint32_t kBlock = 16;
    static constexpr uint32_t kBlocks = (N_CHAR + kBlock) / kBlock;
    static constexpr uint32_t kBlockCumSize = (kBlocks + 8) / 8 * 8;
    alignas(16) std::array<uint16_t, kBlockCumSize> blockCum;
    alignas(16) std::array<uint16_t, kBlocks * kBlock> localCum;
    FilePtr input;
    FilePtr output;
    uint32_t originalSize;
    uint32_t byteSum;

    std::unique_ptr<uint8_t[]> inBuf;
    // The window, the last N bytes written (at first F zeros and N - F
    // blanks, oldest first), then kBufferSize bytes of output and
    // kCopySlack more: a copy reads straight from the bytes before it,
    // writes kCopySlack bytes whatever its length, and a flush carries the
    // last N bytes back to the front.
    static constexpr size_t kCopySlack = 64;
    static_assert(kCopySlack >= F && kCopySlack % 16 == 0);
    std::unique_ptr<uint8_t[]> outBuf;
    // A source in memory, in place of `input`, and what of it is not yet
    // taken; a destination in memory, in place of `output`.
    std::string_view memoryInput;
    std::string* memoryOutput = nullptr;
    // Where FillInput and ReadHeader put the source's bytes: inBuf for a
    // file, the container itself in memory.
    const uint8_t* inData = nullptr;
    size_t inPos;
    size_t inEnd;
    bool readFailed;
    bool writeFailed;
    int destinationErrno = 0;
    const std::atomic<bool>* stop_ = nullptr;
    bool stopped_ = false;
    bool logsWriteErrors_ = true;
};
