#include "delta/delta_apply.h"

#include <sodium.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "delta/delta_format.h"

namespace delta {
namespace {

// Size of the window of the source kept in memory and of the output buffer.
constexpr size_t kChunk = 1 << 20;
// Packed stream bytes are read from the delta in pieces of this size.
constexpr size_t kPackedChunk = 128 * 1024;

// Why an apply stopped; caught in ApplyFile and never seen by callers.
struct Problem {
    std::string text;
};

struct DCtxFree {
    void operator()(ZSTD_DCtx* ctx) const { ZSTD_freeDCtx(ctx); }
};
using DCtxPtr = std::unique_ptr<ZSTD_DCtx, DCtxFree>;

DCtxPtr MakeDecoder(uint8_t windowLog) {
    DCtxPtr ctx(ZSTD_createDCtx());
    if (!ctx) {
        throw std::bad_alloc();
    }
    // The window a frame may ask for is what its header announced, and never
    // beyond the applier's limit: a hostile frame cannot make it allocate more.
    const int log = std::max<int>(kMinWindowLog, windowLog);
    ZSTD_DCtx_setParameter(ctx.get(), ZSTD_d_windowLogMax, log);
    return ctx;
}

class Applier {
public:
    explicit Applier(const ApplyProgress& progress) : progress_(progress) {}

    Applied Run(const std::string& sourcePath, const std::string& deltaPath,
                const std::string& outputPath);

private:
    void ReadDelta(uint8_t* into, size_t size);
    void Unpack(ZSTD_DCtx* ctx, uint32_t packed, uint8_t* into, uint32_t size);
    void RunBlock(const BlockHeader& block);
    void FromSource(uint64_t start, uint64_t length, const uint8_t* add);
    void Write(const uint8_t* bytes, size_t size);
    void Flush();

    const ApplyProgress& progress_;
    Header header_;
    std::ifstream source_;
    std::ifstream delta_;
    std::ofstream output_;
    uint64_t deltaLeft_ = 0;
    uint64_t written_ = 0;
    uint64_t lastCopyEnd_ = 0;
    std::vector<uint8_t> cache_;
    uint64_t cacheStart_ = 0;
    size_t cacheSize_ = 0;
    std::vector<uint8_t> out_;
    size_t outSize_ = 0;
    std::vector<uint8_t> packed_;
    std::vector<uint8_t> instructions_;
    std::vector<uint8_t> data_;
    DCtxPtr instructionCtx_;
    DCtxPtr dataCtx_;
    crypto_hash_sha256_state sha_{};
};

void Applier::ReadDelta(uint8_t* into, size_t size) {
    if (size > deltaLeft_) {
        throw Problem{"delta is cut off"};
    }
    if (!delta_.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(size))) {
        throw Problem{"cannot read the delta"};
    }
    deltaLeft_ -= size;
}

// Decodes the next `packed` bytes of a stream, which must give exactly `size`
// bytes: a block that holds more or less than it announces is refused.
void Applier::Unpack(ZSTD_DCtx* ctx, uint32_t packed, uint8_t* into, uint32_t size) {
    ZSTD_outBuffer out{into, size, 0};
    ZSTD_inBuffer in{packed_.data(), 0, 0};
    uint32_t unread = packed;
    uint8_t spare = 0;
    for (;;) {
        if (in.pos == in.size && unread > 0) {
            const size_t piece = std::min<size_t>(unread, packed_.size());
            ReadDelta(packed_.data(), piece);
            in = ZSTD_inBuffer{packed_.data(), piece, 0};
            unread -= static_cast<uint32_t>(piece);
        }
        if (in.pos == in.size && unread == 0 && out.pos == size) {
            return;
        }
        // Once the block's bytes are all there, one more byte of room shows
        // whether the stream holds more than announced.
        ZSTD_outBuffer extra{&spare, 1, 0};
        ZSTD_outBuffer* target = out.pos < size ? &out : &extra;
        const size_t inBefore = in.pos;
        const size_t outBefore = target->pos;
        const size_t rc = ZSTD_decompressStream(ctx, target, &in);
        if (ZSTD_isError(rc)) {
            throw Problem{std::string("delta data is corrupt (") + ZSTD_getErrorName(rc) + ")"};
        }
        if (extra.pos > 0) {
            throw Problem{"delta block holds more than it announces"};
        }
        if (in.pos == inBefore && target->pos == outBefore) {
            throw Problem{"delta block holds less than it announces"};
        }
    }
}

void Applier::Write(const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const size_t n = std::min(size, out_.size() - outSize_);
        std::copy(bytes, bytes + n, out_.data() + outSize_);
        outSize_ += n;
        bytes += n;
        size -= n;
        if (outSize_ == out_.size()) {
            Flush();
        }
    }
}

void Applier::Flush() {
    if (outSize_ == 0) {
        return;
    }
    crypto_hash_sha256_update(&sha_, out_.data(), outSize_);
    if (!output_.write(reinterpret_cast<const char*>(out_.data()),
                       static_cast<std::streamsize>(outSize_))) {
        throw Problem{"cannot write the output"};
    }
    written_ += outSize_;
    outSize_ = 0;
    if (progress_ && !progress_(written_, header_.resultSize)) {
        throw Problem{"cancelled"};
    }
}

// Copies source bytes to the output, adding `add` byte by byte when given.
// Copies mostly move forward through the source, so a window of it is kept.
void Applier::FromSource(uint64_t start, uint64_t length, const uint8_t* add) {
    while (length > 0) {
        if (start < cacheStart_ || start >= cacheStart_ + cacheSize_) {
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(cache_.size(), header_.sourceSize - start));
            source_.clear();
            if (!source_.seekg(static_cast<std::streamoff>(start)) ||
                !source_.read(reinterpret_cast<char*>(cache_.data()),
                              static_cast<std::streamsize>(n))) {
                throw Problem{"cannot read the source"};
            }
            cacheStart_ = start;
            cacheSize_ = n;
        }
        const size_t offset = static_cast<size_t>(start - cacheStart_);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, cacheSize_ - offset));
        const uint8_t* from = cache_.data() + offset;
        if (add == nullptr) {
            Write(from, n);
        } else {
            size_t done = 0;
            while (done < n) {
                const size_t room = std::min(n - done, out_.size() - outSize_);
                uint8_t* to = out_.data() + outSize_;
                for (size_t i = 0; i < room; i++) {
                    to[i] = static_cast<uint8_t>(from[done + i] + add[done + i]);
                }
                outSize_ += room;
                done += room;
                if (outSize_ == out_.size()) {
                    Flush();
                }
            }
            add += n;
        }
        start += n;
        length -= n;
    }
}

void Applier::RunBlock(const BlockHeader& block) {
    Unpack(instructionCtx_.get(), block.instructionPacked, instructions_.data(),
           block.instructionBytes);
    if (block.dataBytes > 0) {
        Unpack(dataCtx_.get(), block.dataPacked, data_.data(), block.dataBytes);
    }
    size_t at = 0;
    size_t dataAt = 0;
    while (at < block.instructionBytes) {
        uint64_t word = 0;
        if (!GetVarint(instructions_.data(), block.instructionBytes, &at, &word)) {
            throw Problem{"delta instruction is cut off"};
        }
        const auto op = static_cast<Op>(word & 3);
        const uint64_t length = word >> 2;
        if (length == 0 || (word & 3) == 3) {
            throw Problem{"delta instruction is invalid"};
        }
        if (length > header_.resultSize - written_ - outSize_) {
            throw Problem{"delta instructions run past the announced result size"};
        }
        if (op != Op::kCopy && length > block.dataBytes - dataAt) {
            throw Problem{"delta instruction runs past its block's data"};
        }
        if (op == Op::kInsert) {
            Write(data_.data() + dataAt, static_cast<size_t>(length));
            dataAt += static_cast<size_t>(length);
            continue;
        }
        uint64_t zigzag = 0;
        if (!GetVarint(instructions_.data(), block.instructionBytes, &at, &zigzag)) {
            throw Problem{"delta instruction is cut off"};
        }
        // The distance is taken apart without signed overflow: a hostile
        // delta may hold any 64-bit value.
        const bool back = (zigzag & 1) != 0;
        const uint64_t distance = back ? (zigzag >> 1) + 1 : zigzag >> 1;
        if ((back && distance > lastCopyEnd_) ||
            (!back && distance > header_.sourceSize - std::min(lastCopyEnd_, header_.sourceSize))) {
            throw Problem{"delta copies from outside the source"};
        }
        const uint64_t start = back ? lastCopyEnd_ - distance : lastCopyEnd_ + distance;
        if (start > header_.sourceSize || length > header_.sourceSize - start) {
            throw Problem{"delta copies from outside the source"};
        }
        if (op == Op::kCopy) {
            FromSource(start, length, nullptr);
        } else {
            FromSource(start, length, data_.data() + dataAt);
            dataAt += static_cast<size_t>(length);
        }
        lastCopyEnd_ = start + length;
    }
    if (dataAt != block.dataBytes) {
        throw Problem{"delta block leaves data unused"};
    }
}

Applied Applier::Run(const std::string& sourcePath, const std::string& deltaPath,
                     const std::string& outputPath) {
    std::error_code ec;
    if (std::filesystem::equivalent(sourcePath, outputPath, ec) ||
        std::filesystem::equivalent(deltaPath, outputPath, ec)) {
        // Opening the output would destroy the very input it is made from.
        throw Problem{"the output must be a file of its own"};
    }
    const uint64_t sourceSize = std::filesystem::file_size(sourcePath, ec);
    if (ec) {
        throw Problem{"cannot open the source: " + ec.message()};
    }
    const uint64_t deltaSize = std::filesystem::file_size(deltaPath, ec);
    if (ec) {
        throw Problem{"cannot open the delta: " + ec.message()};
    }
    delta_.open(deltaPath, std::ios::binary);
    if (!delta_) {
        throw Problem{"cannot open the delta"};
    }
    deltaLeft_ = deltaSize;
    uint8_t head[kHeaderSize];
    ReadDelta(head, sizeof head);
    std::string problem;
    const std::optional<Header> header = ReadHeader(head, &problem);
    if (!header) {
        throw Problem{problem};
    }
    header_ = *header;
    if (header_.sourceSize != sourceSize) {
        throw Problem{"wrong source: it has " + std::to_string(sourceSize) +
                      " bytes, the delta is for " + std::to_string(header_.sourceSize)};
    }
    source_.open(sourcePath, std::ios::binary);
    if (!source_) {
        throw Problem{"cannot open the source"};
    }
    output_.open(outputPath, std::ios::binary | std::ios::trunc);
    if (!output_) {
        throw Problem{"cannot create the output"};
    }
    cache_.resize(
        static_cast<size_t>(std::min<uint64_t>(kChunk, std::max<uint64_t>(sourceSize, 1))));
    out_.resize(kChunk);
    packed_.resize(kPackedChunk);
    crypto_hash_sha256_init(&sha_);
    while (written_ + outSize_ < header_.resultSize) {
        if (!instructionCtx_) {
            instructions_.resize(kMaxBlockInstructions);
            data_.resize(kMaxBlockData);
            instructionCtx_ = MakeDecoder(header_.instructionWindowLog);
            dataCtx_ = MakeDecoder(header_.dataWindowLog);
        }
        uint8_t blockHead[kBlockHeaderSize];
        ReadDelta(blockHead, sizeof blockHead);
        const std::optional<BlockHeader> block = ReadBlockHeader(blockHead, &problem);
        if (!block) {
            throw Problem{problem};
        }
        RunBlock(*block);
    }
    if (deltaLeft_ != 0) {
        throw Problem{"delta has bytes after its last block"};
    }
    Flush();
    output_.close();
    if (!output_) {
        throw Problem{"cannot write the output"};
    }
    std::array<uint8_t, crypto_hash_sha256_BYTES> sha{};
    crypto_hash_sha256_final(&sha_, sha.data());
    if (sha != header_.resultSha256) {
        throw Problem{"the result's SHA-256 differs from the one the delta announces"};
    }
    Applied applied;
    applied.ok = true;
    applied.size = written_;
    applied.sha256 = ToHex(sha.data(), sha.size());
    return applied;
}

}  // namespace

Applied ApplyFile(const std::string& sourcePath, const std::string& deltaPath,
                  const std::string& outputPath, const ApplyProgress& progress) {
    Applied failed;
    try {
        // The applier and its buffers are gone before the output is removed,
        // so the file is closed when that happens.
        return Applier(progress).Run(sourcePath, deltaPath, outputPath);
    } catch (const Problem& problem) {
        failed.problem = problem.text;
    } catch (const std::bad_alloc&) {
        failed.problem = "out of memory";
    } catch (const std::exception& e) {
        failed.problem = e.what();
    }
    std::error_code ec;
    if (failed.problem != "the output must be a file of its own") {
        std::filesystem::remove(outputPath, ec);
    }
    return failed;
}

}  // namespace delta
