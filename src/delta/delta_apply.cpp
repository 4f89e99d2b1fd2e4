#include "delta/delta_apply.h"

#include <sodium.h>
// For the magicless frames of compact deltas.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "delta/delta_format.h"

namespace delta {
namespace {

// Size of the output buffer.
constexpr size_t kChunk = 1 << 20;
// The source is read in aligned pieces of this size, of which the last few
// read are kept: copies jump around in the source (code refers to its data),
// and a jump should cost one small read, not a large one.
constexpr size_t kSourcePiece = 16 * 1024;
constexpr size_t kSourcePieces = 64;
// Packed stream bytes are read from the delta in pieces of this size.
constexpr size_t kPackedChunk = 128 * 1024;

// Why an apply stopped; caught in ApplyFile and never seen by callers.
struct Problem {
    std::string text;
    // The output path named an input: it must stay as it is.
    bool keepOutput = false;
};

struct DCtxFree {
    void operator()(ZSTD_DCtx* ctx) const { ZSTD_freeDCtx(ctx); }
};
using DCtxPtr = std::unique_ptr<ZSTD_DCtx, DCtxFree>;

// The first bytes of a zstd frame.
constexpr std::array<uint8_t, 4> kFrameMagic = {0x28, 0xb5, 0x2f, 0xfd};

// One of the two compressed streams and its decoder.
struct Stream {
    DCtxPtr ctx;
    bool started = false;
};

DCtxPtr MakeDecoder(const Header& header, uint8_t windowLog) {
    DCtxPtr ctx(ZSTD_createDCtx());
    if (!ctx) {
        throw std::bad_alloc();
    }
    // The window a frame may ask for is what its header announced, and never
    // beyond the applier's limit: a hostile frame cannot make it allocate more.
    const int log = std::max<int>(kMinWindowLog, windowLog);
    ZSTD_DCtx_setParameter(ctx.get(), ZSTD_d_windowLogMax, log);
    if (header.version == kCompactVersion) {
        ZSTD_DCtx_setParameter(ctx.get(), ZSTD_d_format, ZSTD_f_zstd1_magicless);
    }
    return ctx;
}

// SHA-256 of the output on a thread of its own, one buffer at a time, while
// the applier fills and writes the next: hashing costs about as much as all
// the rest of an apply.
class Hasher {
public:
    Hasher() : thread_([this] { Run(); }) { crypto_hash_sha256_init(&state_); }
    ~Hasher() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    // Hashes `size` bytes at `bytes`, which stay untouched until Wait().
    void Add(const uint8_t* bytes, size_t size) {
        Wait();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_ = bytes;
            size_ = size;
        }
        changed_.notify_all();
    }

    // Waits until the bytes last given are hashed.
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return bytes_ == nullptr; });
    }

    std::array<uint8_t, crypto_hash_sha256_BYTES> Final() {
        Wait();
        std::array<uint8_t, crypto_hash_sha256_BYTES> sha{};
        crypto_hash_sha256_final(&state_, sha.data());
        return sha;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stop_ || bytes_ != nullptr; });
            if (stop_) {
                return;
            }
            const uint8_t* bytes = bytes_;
            const size_t size = size_;
            lock.unlock();
            crypto_hash_sha256_update(&state_, bytes, size);
            lock.lock();
            bytes_ = nullptr;
            changed_.notify_all();
        }
    }

    crypto_hash_sha256_state state_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    const uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

class Applier {
public:
    Applier(const ApplyProgress& progress, const std::string& resultSha256)
        : progress_(progress), resultSha256_(resultSha256) {}

    Applied Run(const std::string& sourcePath, const std::string& deltaPath,
                const std::string& outputPath);

private:
    void ReadDelta(uint8_t* into, size_t size);
    BlockHeader ReadBlock();
    void RunWhole();
    void Unpack(Stream* stream, uint32_t packed, uint8_t* into, uint32_t size);
    void RunBlock(const BlockHeader& block);
    const uint8_t* SourceAt(uint64_t position, size_t* available);
    void FromSource(uint64_t start, uint64_t length, const uint8_t* add);
    void FromResult(uint64_t start, uint64_t length);
    void Write(const uint8_t* bytes, size_t size);
    void Flush();

    const ApplyProgress& progress_;
    const std::string& resultSha256_;
    Header header_;
    std::ifstream source_;
    std::ifstream delta_;
    std::ofstream output_;
    std::string outputPath_;
    // The output read back, for copies of earlier result bytes beyond the
    // zstd window, a piece at a time.
    std::ifstream result_;
    std::vector<uint8_t> reread_;
    uint64_t deltaLeft_ = 0;
    uint64_t written_ = 0;
    uint64_t lastCopyEnd_ = 0;
    std::vector<uint8_t> cache_;
    // Which piece each slot of the cache holds (plus one), and its size.
    std::array<uint64_t, kSourcePieces> cachedPiece_{};
    std::array<size_t, kSourcePieces> cachedSize_{};
    uint64_t sourceReadAt_ = 0;
    // The output buffer being filled, and the one last written, which the
    // hasher may still be reading.
    std::vector<uint8_t> out_;
    std::vector<uint8_t> outHashing_;
    size_t outSize_ = 0;
    std::vector<uint8_t> packed_;
    std::vector<uint8_t> instructions_;
    std::vector<uint8_t> data_;
    Stream instructionStream_;
    Stream dataStream_;
    // Last, so that its thread ends before the buffers it reads go.
    Hasher hasher_;
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
//
// Each stream is one zstd frame that never ends: its first block starts it
// with the frame magic (in version 2 the decoder is told the frames have
// none), and a frame that ends is refused. So no frame of an older format,
// whose decoders would not keep to the window limit, can follow.
void Applier::Unpack(Stream* stream, uint32_t packed, uint8_t* into, uint32_t size) {
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
            if (!stream->started && header_.version == kVersion) {
                if (piece < kFrameMagic.size() ||
                    !std::equal(kFrameMagic.begin(), kFrameMagic.end(), packed_.begin())) {
                    throw Problem{"delta stream does not start a zstd frame"};
                }
            }
            stream->started = true;
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
        const size_t rc = ZSTD_decompressStream(stream->ctx.get(), target, &in);
        if (ZSTD_isError(rc)) {
            throw Problem{std::string("delta data is corrupt (") + ZSTD_getErrorName(rc) + ")"};
        }
        if (rc == 0) {
            throw Problem{"delta stream ends its zstd frame"};
        }
        if (extra.pos > 0) {
            throw Problem{"delta block holds more than it announces"};
        }
        if (in.pos == inBefore && target->pos == outBefore) {
            throw Problem{"delta block holds less than it announces"};
        }
    }
}

BlockHeader Applier::ReadBlock() {
    if (header_.version == kVersion) {
        uint8_t bytes[kBlockHeaderSize];
        ReadDelta(bytes, sizeof bytes);
        const base::Result<BlockHeader> block = ReadBlockHeader(bytes);
        if (!block) {
            throw Problem{block.reason()};
        }
        return *block;
    }
    // Four varints, read a byte at a time: each is at most five bytes
    // long to be a 32-bit number.
    uint32_t fields[4] = {};
    for (uint32_t& field : fields) {
        uint8_t bytes[5];
        size_t n = 0;
        do {
            if (n == sizeof bytes) {
                throw Problem{"delta block sizes out of range"};
            }
            ReadDelta(&bytes[n], 1);
        } while ((bytes[n++] & 0x80) != 0);
        size_t at = 0;
        uint64_t value = 0;
        if (!GetVarint(bytes, n, &at, &value) || value > UINT32_MAX) {
            throw Problem{"delta block sizes out of range"};
        }
        field = static_cast<uint32_t>(value);
    }
    const BlockHeader block{fields[0], fields[1], fields[2], fields[3]};
    if (const base::Result<> checked = CheckBlockHeader(block); !checked) {
        throw Problem{checked.reason()};
    }
    return block;
}

// The whole layout: the rest of the delta is one zstd frame of the result
// that refers back into the source, which it takes as its prefix. Source and
// result are small (the header was checked against kMaxWholeBytes), so the
// source is held whole.
void Applier::RunWhole() {
    std::vector<uint8_t> source(static_cast<size_t>(header_.sourceSize));
    if (!source_.read(reinterpret_cast<char*>(source.data()),
                      static_cast<std::streamsize>(source.size()))) {
        throw Problem{"cannot read the source"};
    }
    const DCtxPtr ctx = MakeDecoder(header_, header_.instructionWindowLog);
    if (ZSTD_isError(ZSTD_DCtx_refPrefix(ctx.get(), source.data(), source.size()))) {
        throw std::bad_alloc();
    }
    ZSTD_inBuffer in{packed_.data(), 0, 0};
    for (;;) {
        if (in.pos == in.size) {
            if (deltaLeft_ == 0) {
                throw Problem{"delta is cut off"};
            }
            const size_t piece =
                static_cast<size_t>(std::min<uint64_t>(deltaLeft_, packed_.size()));
            ReadDelta(packed_.data(), piece);
            in = ZSTD_inBuffer{packed_.data(), piece, 0};
        }
        const uint64_t room =
            std::min<uint64_t>(out_.size() - outSize_, header_.resultSize - written_ - outSize_);
        // One byte more than the result needs shows a frame that holds more.
        ZSTD_outBuffer out{out_.data() + outSize_, static_cast<size_t>(room), 0};
        uint8_t spare = 0;
        ZSTD_outBuffer extra{&spare, 1, 0};
        ZSTD_outBuffer* target = room > 0 ? &out : &extra;
        const size_t rc = ZSTD_decompressStream(ctx.get(), target, &in);
        if (ZSTD_isError(rc)) {
            throw Problem{std::string("delta data is corrupt (") + ZSTD_getErrorName(rc) + ")"};
        }
        if (extra.pos > 0) {
            throw Problem{"delta instructions run past the announced result size"};
        }
        outSize_ += out.pos;
        if (rc == 0) {
            break;
        }
        if (outSize_ == out_.size()) {
            Flush();
        }
    }
    if (written_ + outSize_ != header_.resultSize) {
        throw Problem{"delta frame ends before the announced result size"};
    }
    if (in.pos != in.size || deltaLeft_ != 0) {
        throw Problem{"delta has bytes after its last block"};
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
    hasher_.Add(out_.data(), outSize_);
    if (!output_.write(reinterpret_cast<const char*>(out_.data()),
                       static_cast<std::streamsize>(outSize_))) {
        throw Problem{"cannot write the output"};
    }
    written_ += outSize_;
    outSize_ = 0;
    // The hasher is done with the other buffer: Add waited for it.
    out_.swap(outHashing_);
    if (progress_ && !progress_(written_, header_.resultSize)) {
        throw Problem{"cancelled"};
    }
}

// The source bytes at `position` (below the source size) and how many
// follow them in the same cached piece.
const uint8_t* Applier::SourceAt(uint64_t position, size_t* available) {
    const uint64_t piece = position / kSourcePiece;
    const size_t slot = static_cast<size_t>(piece % kSourcePieces);
    uint8_t* bytes = cache_.data() + slot * kSourcePiece;
    if (cachedPiece_[slot] != piece + 1) {
        const uint64_t at = piece * kSourcePiece;
        const size_t n =
            static_cast<size_t>(std::min<uint64_t>(kSourcePiece, header_.sourceSize - at));
        if (at != sourceReadAt_) {
            source_.clear();
            source_.seekg(static_cast<std::streamoff>(at));
        }
        if (!source_ ||
            !source_.read(reinterpret_cast<char*>(bytes), static_cast<std::streamsize>(n))) {
            throw Problem{"cannot read the source"};
        }
        sourceReadAt_ = at + n;
        cachedPiece_[slot] = piece + 1;
        cachedSize_[slot] = n;
    }
    const size_t offset = static_cast<size_t>(position - piece * kSourcePiece);
    *available = cachedSize_[slot] - offset;
    return bytes + offset;
}

// Copies source bytes to the output, adding `add` byte by byte when given.
void Applier::FromSource(uint64_t start, uint64_t length, const uint8_t* add) {
    while (length > 0) {
        size_t available = 0;
        const uint8_t* from = SourceAt(start, &available);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, available));
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

// Copies earlier bytes of the result: those still in the output buffer from
// there, those already written read back from the output file.
void Applier::FromResult(uint64_t start, uint64_t length) {
    if (reread_.empty()) {
        reread_.resize(kSourcePiece);
    }
    while (length > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(length, reread_.size()));
        if (start >= written_) {
            const uint8_t* from = out_.data() + (start - written_);
            std::copy(from, from + n, reread_.data());
        } else {
            n = static_cast<size_t>(std::min<uint64_t>(n, written_ - start));
            if (!result_.is_open()) {
                result_.open(outputPath_, std::ios::binary);
            }
            result_.clear();
            if (!output_.flush() || !result_.seekg(static_cast<std::streamoff>(start)) ||
                !result_.read(reinterpret_cast<char*>(reread_.data()),
                              static_cast<std::streamsize>(n))) {
                throw Problem{"cannot read the output back"};
            }
        }
        Write(reread_.data(), n);
        start += n;
        length -= n;
    }
}

void Applier::RunBlock(const BlockHeader& block) {
    // The buffers grow to the largest block met (at most the format's
    // limits, which the block header was checked against), so a small delta
    // does not pay for clearing megabytes it never uses.
    if (instructions_.size() < block.instructionBytes) {
        instructions_.resize(block.instructionBytes);
    }
    if (data_.size() < block.dataBytes) {
        data_.resize(block.dataBytes);
    }
    Unpack(&instructionStream_, block.instructionPacked, instructions_.data(),
           block.instructionBytes);
    if (block.dataBytes > 0) {
        Unpack(&dataStream_, block.dataPacked, data_.data(), block.dataBytes);
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
        if (length == 0) {
            throw Problem{"delta instruction is invalid"};
        }
        if (length > header_.resultSize - written_ - outSize_) {
            throw Problem{"delta instructions run past the announced result size"};
        }
        if (op == Op::kEarlier) {
            uint64_t distance = 0;
            if (!GetVarint(instructions_.data(), block.instructionBytes, &at, &distance)) {
                throw Problem{"delta instruction is cut off"};
            }
            // Only bytes already made, and never the ones being made.
            const uint64_t made = written_ + outSize_;
            if (distance < length || distance > made) {
                throw Problem{"delta copies from outside the result made so far"};
            }
            FromResult(made - distance, length);
            continue;
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
        throw Problem{"the output must be a file of its own", true};
    }
    if (std::filesystem::is_directory(outputPath, ec)) {
        throw Problem{"the output is a directory", true};
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
    uint8_t head[kMaxHeaderSize];
    const size_t headRead = static_cast<size_t>(std::min<uint64_t>(sizeof head, deltaSize));
    ReadDelta(head, headRead);
    size_t headSize = 0;
    const base::Result<Header> header = ReadHeader(head, headRead, &headSize);
    if (!header) {
        throw Problem{header.reason()};
    }
    header_ = *header;
    // The header may be shorter than what was read for it.
    deltaLeft_ = deltaSize - headSize;
    delta_.seekg(static_cast<std::streamoff>(headSize));
    if (header_.sourceSize != sourceSize) {
        throw Problem{"wrong source: it has " + std::to_string(sourceSize) +
                      " bytes, the delta is for " + std::to_string(header_.sourceSize)};
    }
    source_.open(sourcePath, std::ios::binary);
    if (!source_) {
        throw Problem{"cannot open the source"};
    }
    outputPath_ = outputPath;
    output_.open(outputPath, std::ios::binary | std::ios::trunc);
    if (!output_) {
        throw Problem{"cannot create the output"};
    }
    cache_.resize(kSourcePiece * kSourcePieces);
    out_.resize(kChunk);
    outHashing_.resize(kChunk);
    packed_.resize(kPackedChunk);
    if (header_.layout == Layout::kWhole) {
        RunWhole();
    }
    while (written_ + outSize_ < header_.resultSize) {
        if (!instructionStream_.ctx) {
            instructionStream_.ctx = MakeDecoder(header_, header_.instructionWindowLog);
            dataStream_.ctx = MakeDecoder(header_, header_.dataWindowLog);
        }
        RunBlock(ReadBlock());
    }
    if (deltaLeft_ != 0) {
        throw Problem{"delta has bytes after its last block"};
    }
    Flush();
    output_.close();
    if (!output_) {
        throw Problem{"cannot write the output"};
    }
    const std::array<uint8_t, crypto_hash_sha256_BYTES> sha = hasher_.Final();
    Applied applied;
    applied.sha256 = ToHex(sha.data(), sha.size());
    // A compact delta leaves the result's hash to its index line.
    if ((header_.version == kVersion && sha != header_.resultSha256) ||
        (!resultSha256_.empty() && applied.sha256 != resultSha256_)) {
        throw Problem{"the result's SHA-256 differs from the one the delta announces"};
    }
    applied.size = written_;
    return applied;
}

}  // namespace

base::Result<Applied> ApplyFile(const std::string& sourcePath, const std::string& deltaPath,
                                const std::string& outputPath, const ApplyProgress& progress,
                                const std::string& resultSha256) {
    std::string why;
    bool keepOutput = false;
    try {
        // The applier and its buffers are gone before the output is removed,
        // so the file is closed when that happens.
        return Applier(progress, resultSha256).Run(sourcePath, deltaPath, outputPath);
    } catch (const Problem& problem) {
        why = problem.text;
        keepOutput = problem.keepOutput;
    } catch (const std::bad_alloc&) {
        why = "out of memory";
    } catch (const std::exception& e) {
        why = e.what();
    }
    std::error_code ec;
    if (!keepOutput) {
        std::filesystem::remove(outputPath, ec);
    }
    return base::Fail(why);
}

}  // namespace delta
