#include "delta/delta_encoder.h"

#include <sodium.h>
// For the magicless frames of compact deltas.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "delta/delta_format.h"

namespace delta {
namespace {

// Bytes hashed to find a match, and so the shortest exact copy.
constexpr size_t kHashBytes = 16;
// At most this many source positions are indexed; larger sources are indexed
// every few bytes, which still finds every match a little longer than the step.
constexpr uint64_t kMaxIndexed = uint64_t{1} << 25;
// An approximate copy goes on while its matching bytes outnumber the others
// and stops once it fell this far behind its best point.
constexpr int kLooseSlack = 48;
// Inside an approximate copy, a run of this many equal bytes is cheaper as a copy.
constexpr size_t kZeroRun = 32;
constexpr uint64_t kProgressStep = 8 << 20;
// Copies of the result's own earlier bytes are looked for only beyond the
// zstd window, which finds the nearer ones itself, every kEarlierStep bytes
// of the result, and kept from kEarlierMinimum bytes on.
constexpr uint64_t kEarlierStep = 16;
constexpr uint64_t kEarlierMinimum = 64;

struct CCtxFree {
    void operator()(ZSTD_CCtx* ctx) const { ZSTD_freeCCtx(ctx); }
};
using CCtxPtr = std::unique_ptr<ZSTD_CCtx, CCtxFree>;

CCtxPtr MakeCompressor(int level, int windowLog, uint32_t version) {
    CCtxPtr ctx(ZSTD_createCCtx());
    if (!ctx) {
        throw std::bad_alloc();
    }
    ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_windowLog, windowLog);
    // The high levels' tables (2^22 and 2^24 entries) are made for large
    // inputs; a small file's streams never exceed the window, and tables
    // sized to it find the same matches and take milliseconds, not a third
    // of a second, to set up.
    if (windowLog + 1 < 22) {
        ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_hashLog, windowLog + 1);
        ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_chainLog, windowLog + 1);
    }
    ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_checksumFlag, 0);
    ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_contentSizeFlag, 0);
    if (version == kCompactVersion) {
        ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_format, ZSTD_f_zstd1_magicless);
    }
    return ctx;
}

std::array<uint8_t, 32> Sha256(const std::vector<uint8_t>& bytes) {
    std::array<uint8_t, 32> out{};
    crypto_hash_sha256(out.data(), bytes.data(), bytes.size());
    return out;
}

// Collects instructions and data into blocks and compresses each block's
// pieces as the continuation of the two streams.
class Writer {
public:
    Writer(std::vector<uint8_t>* out, int level, int windowLog, uint32_t version)
        : out_(out),
          version_(version),
          instructionCtx_(MakeCompressor(level, windowLog, version)),
          dataCtx_(MakeCompressor(level, windowLog, version)) {}

    void Insert(const uint8_t* bytes, uint64_t length) {
        while (length > 0) {
            const uint64_t n = std::min<uint64_t>(length, Room());
            Instruction(Op::kInsert, n, 0);
            data_.insert(data_.end(), bytes, bytes + n);
            bytes += n;
            length -= n;
            FlushIfFull();
        }
    }

    void Copy(uint64_t start, uint64_t length) {
        Instruction(Op::kCopy, length, start);
        FlushIfFull();
    }

    // `length` bytes of the result, `distance` bytes back from where it is.
    void Earlier(uint64_t distance, uint64_t length) {
        uint8_t bytes[kMaxInstructionBytes];
        size_t n = PutVarint(bytes, (length << 2) | static_cast<uint64_t>(Op::kEarlier));
        n += PutVarint(bytes + n, distance);
        instructions_.insert(instructions_.end(), bytes, bytes + n);
        FlushIfFull();
    }

    // Source bytes plus differences: `target` are the wanted bytes.
    void Add(const uint8_t* source, uint64_t start, const uint8_t* target, uint64_t length) {
        while (length > 0) {
            const uint64_t n = std::min<uint64_t>(length, Room());
            Instruction(Op::kAdd, n, start);
            for (uint64_t i = 0; i < n; i++) {
                data_.push_back(static_cast<uint8_t>(target[i] - source[start + i]));
            }
            start += n;
            target += n;
            length -= n;
            FlushIfFull();
        }
    }

    void Finish() { Flush(); }

private:
    uint64_t Room() {
        if (data_.size() >= kMaxBlockData) {
            Flush();
        }
        return kMaxBlockData - data_.size();
    }

    void Instruction(Op op, uint64_t length, uint64_t start) {
        uint8_t bytes[kMaxInstructionBytes];
        size_t n = PutVarint(bytes, (length << 2) | static_cast<uint64_t>(op));
        if (op != Op::kInsert) {
            n += PutVarint(bytes + n, ZigZag(static_cast<int64_t>(start - lastCopyEnd_)));
            lastCopyEnd_ = start + length;
        }
        instructions_.insert(instructions_.end(), bytes, bytes + n);
    }

    void FlushIfFull() {
        if (instructions_.size() + kMaxInstructionBytes > kMaxBlockInstructions ||
            data_.size() >= kMaxBlockData) {
            Flush();
        }
    }

    uint32_t Pack(ZSTD_CCtx* ctx, const std::vector<uint8_t>& raw) {
        if (raw.empty()) {
            return 0;
        }
        const size_t before = out_->size();
        out_->resize(before + ZSTD_compressBound(raw.size()) + 64);
        ZSTD_inBuffer in{raw.data(), raw.size(), 0};
        ZSTD_outBuffer out{out_->data() + before, out_->size() - before, 0};
        size_t left = 0;
        do {
            left = ZSTD_compressStream2(ctx, &out, &in, ZSTD_e_flush);
            if (ZSTD_isError(left)) {
                throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(left));
            }
        } while (left != 0);
        out_->resize(before + out.pos);
        return static_cast<uint32_t>(out.pos);
    }

    void Flush() {
        if (instructions_.empty()) {
            return;
        }
        // The block header goes before the packed streams, whose sizes it
        // holds: they are packed into the output and moved behind it.
        const size_t headAt = out_->size();
        BlockHeader block;
        block.instructionBytes = static_cast<uint32_t>(instructions_.size());
        block.dataBytes = static_cast<uint32_t>(data_.size());
        block.instructionPacked = Pack(instructionCtx_.get(), instructions_);
        block.dataPacked = Pack(dataCtx_.get(), data_);
        const std::vector<uint8_t> head = WriteBlockHeader(block, version_);
        out_->insert(out_->begin() + static_cast<ptrdiff_t>(headAt), head.begin(), head.end());
        instructions_.clear();
        data_.clear();
    }

    std::vector<uint8_t>* out_;
    uint32_t version_;
    CCtxPtr instructionCtx_;
    CCtxPtr dataCtx_;
    std::vector<uint8_t> instructions_;
    std::vector<uint8_t> data_;
    uint64_t lastCopyEnd_ = 0;
};

uint64_t Load64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; i--) {
        value = (value << 8) | p[i];
    }
    return value;
}

uint64_t HashAt(const uint8_t* p, unsigned bits) {
    const uint64_t h = Load64(p) * 0x9E3779B97F4A7C15ull ^ Load64(p + 8) * 0xC2B2AE3D27D4EB4Full;
    return (h ^ (h >> 29)) * 0x165667B19E3779F9ull >> (64 - bits);
}

// Finds copies from the source for the target, greedily from the front.
class Matcher {
public:
    Matcher(const std::vector<uint8_t>& source, const std::vector<uint8_t>& target, Writer* writer,
            const EncodeOptions& options, uint64_t window)
        : window_(window),
          src_(source.data()),
          srcSize_(source.size()),
          tgt_(target.data()),
          tgtSize_(target.size()),
          writer_(writer),
          options_(options) {}

    void Run() {
        BuildIndex();
        uint64_t pos = 0;
        uint64_t pending = 0;  // start of the bytes not yet written
        uint64_t nextProgress = kProgressStep;
        while (pos + kHashBytes <= tgtSize_) {
            if (options_.progress && pos >= nextProgress) {
                options_.progress(pos, tgtSize_);
                nextProgress = pos + kProgressStep;
            }
            IndexEarlier(pos);
            uint64_t at = 0;
            if (!Find(pos, pending, &at)) {
                uint64_t start = 0;
                uint64_t length = 0;
                if (!FindEarlier(pos, pending, &start, &length)) {
                    pos++;
                    continue;
                }
                writer_->Insert(tgt_ + pending, start - pending);
                writer_->Earlier(start - earlierAt_, length);
                pos = start + length;
                pending = pos;
                continue;
            }
            // Extend the match backwards over bytes not yet written, then forwards.
            uint64_t back = 0;
            while (pos - back > pending && at - back > 0 &&
                   tgt_[pos - back - 1] == src_[at - back - 1]) {
                back++;
            }
            uint64_t length = back + kHashBytes;
            while (pos - back + length < tgtSize_ && at - back + length < srcSize_ &&
                   tgt_[pos - back + length] == src_[at - back + length]) {
                length++;
            }
            const uint64_t start = pos - back;
            const uint64_t from = at - back;
            writer_->Insert(tgt_ + pending, start - pending);
            writer_->Copy(from, length);
            pos = start + length;
            pos += Loose(pos, from + length);
            pending = pos;
        }
        writer_->Insert(tgt_ + pending, tgtSize_ - pending);
        if (options_.progress) {
            options_.progress(tgtSize_, tgtSize_);
        }
    }

private:
    void BuildIndex() {
        if (srcSize_ < kHashBytes) {
            return;
        }
        const uint64_t positions = srcSize_ - kHashBytes + 1;
        step_ = std::max<uint64_t>(1, (positions + kMaxIndexed - 1) / kMaxIndexed);
        const uint64_t entries = (positions + step_ - 1) / step_;
        bits_ = 10;
        while ((uint64_t{1} << bits_) < 2 * entries) {
            bits_++;
        }
        table_.assign(size_t{1} << bits_, 0);
        // Later positions replace earlier ones in a slot: the newest copy of a
        // repeated piece is usually the one that continues furthest.
        for (uint64_t i = 0; i < entries; i++) {
            table_[HashAt(src_ + i * step_, bits_)] = static_cast<uint32_t>(i + 1);
        }
    }

    // A source position whose next kHashBytes equal the target's at `pos`.
    // The place right after the last copy comes first: changed bytes in the
    // middle of otherwise equal content leave it in step.
    bool Find(uint64_t pos, uint64_t pending, uint64_t* at) {
        const uint64_t expected = lastEnd_ + (pos - pending);
        if (expected + kHashBytes <= srcSize_ &&
            std::memcmp(src_ + expected, tgt_ + pos, kHashBytes) == 0) {
            *at = expected;
            return true;
        }
        if (table_.empty()) {
            return false;
        }
        const uint32_t slot = table_[HashAt(tgt_ + pos, bits_)];
        if (slot == 0) {
            return false;
        }
        const uint64_t candidate = (slot - 1) * step_;
        if (std::memcmp(src_ + candidate, tgt_ + pos, kHashBytes) != 0) {
            return false;
        }
        *at = candidate;
        return true;
    }

    // Indexes the result's positions that lie a whole window before `pos`.
    void IndexEarlier(uint64_t pos) {
        if (tgtSize_ <= window_ + kEarlierMinimum) {
            return;
        }
        if (earlierTable_.empty()) {
            const uint64_t entries = tgtSize_ / kEarlierStep + 1;
            earlierBits_ = 10;
            while ((uint64_t{1} << earlierBits_) < 2 * entries && earlierBits_ < 26) {
                earlierBits_++;
            }
            earlierTable_.assign(size_t{1} << earlierBits_, 0);
        }
        while (nextEarlier_ + window_ + kHashBytes <= pos) {
            earlierTable_[HashAt(tgt_ + nextEarlier_, earlierBits_)] =
                nextEarlier_ / kEarlierStep + 1;
            nextEarlier_ += kEarlierStep;
        }
    }

    // A piece of the result at `pos` (with what it reaches back over bytes
    // not yet written) that equals bytes more than a window before it; its
    // start and length, of at least kEarlierMinimum bytes.
    bool FindEarlier(uint64_t pos, uint64_t pending, uint64_t* start, uint64_t* length) {
        if (earlierTable_.empty()) {
            return false;
        }
        const uint32_t slot = earlierTable_[HashAt(tgt_ + pos, earlierBits_)];
        if (slot == 0) {
            return false;
        }
        const uint64_t from = uint64_t{slot - 1} * kEarlierStep;
        if (std::memcmp(tgt_ + from, tgt_ + pos, kHashBytes) != 0) {
            return false;
        }
        uint64_t back = 0;
        while (pos - back > pending && from - back > 0 &&
               tgt_[pos - back - 1] == tgt_[from - back - 1]) {
            back++;
        }
        // The copy never reaches into the bytes it makes.
        const uint64_t distance = pos - from;
        uint64_t n = back + kHashBytes;
        while (n < distance && pos - back + n < tgtSize_ &&
               tgt_[pos - back + n] == tgt_[from - back + n]) {
            n++;
        }
        if (n < kEarlierMinimum) {
            return false;
        }
        *start = pos - back;
        *length = n;
        earlierAt_ = from - back;
        return true;
    }

    // After an exact copy: the length of the approximate copy that follows,
    // written as additions where bytes differ (code whose addresses moved
    // differs from its old self in a few bytes of every few dozen).
    uint64_t Loose(uint64_t pos, uint64_t from) {
        lastEnd_ = from;
        int score = 0;
        int best = 0;
        uint64_t bestLength = 0;
        for (uint64_t i = 0; pos + i < tgtSize_ && from + i < srcSize_; i++) {
            score += tgt_[pos + i] == src_[from + i] ? 1 : -1;
            if (score > best) {
                best = score;
                bestLength = i + 1;
            } else if (score < best - kLooseSlack) {
                break;
            }
        }
        // Long equal runs inside become plain copies, the rest additions.
        uint64_t i = 0;
        while (i < bestLength) {
            uint64_t run = 0;
            while (i + run < bestLength && tgt_[pos + i + run] == src_[from + i + run]) {
                run++;
            }
            if (run >= kZeroRun) {
                writer_->Copy(from + i, run);
                i += run;
                continue;
            }
            uint64_t end = i + run;
            // An addition reaches up to the next long equal run.
            while (end < bestLength) {
                uint64_t equal = 0;
                while (end + equal < bestLength && equal < kZeroRun &&
                       tgt_[pos + end + equal] == src_[from + end + equal]) {
                    equal++;
                }
                if (equal >= kZeroRun) {
                    break;
                }
                end = std::min(bestLength, end + equal + 1);
            }
            writer_->Add(src_, from + i, tgt_ + pos + i, end - i);
            i = end;
        }
        lastEnd_ = from + bestLength;
        return bestLength;
    }

    uint64_t window_;
    std::vector<uint32_t> earlierTable_;
    unsigned earlierBits_ = 0;
    uint64_t nextEarlier_ = 0;
    uint64_t earlierAt_ = 0;
    const uint8_t* src_;
    uint64_t srcSize_;
    const uint8_t* tgt_;
    uint64_t tgtSize_;
    Writer* writer_;
    const EncodeOptions& options_;
    std::vector<uint32_t> table_;
    uint64_t step_ = 1;
    unsigned bits_ = 0;
    uint64_t lastEnd_ = 0;
};

// The smallest window log, within the format's limits, that holds `size` bytes.
uint8_t WindowLogFor(uint64_t size) {
    uint8_t windowLog = kMinWindowLog;
    while (windowLog < kMaxWindowLog && (uint64_t{1} << windowLog) < size) {
        windowLog++;
    }
    return windowLog;
}

// The whole layout: the target as one zstd frame with the source as its
// prefix, and a window that reaches from the target's end to the source's
// start.
std::vector<uint8_t> EncodeWhole(const std::vector<uint8_t>& source,
                                 const std::vector<uint8_t>& target, int level) {
    Header header;
    header.version = kCompactVersion;
    header.layout = Layout::kWhole;
    header.instructionWindowLog = header.dataWindowLog =
        WindowLogFor(source.size() + target.size());
    header.sourceSize = source.size();
    header.resultSize = target.size();
    std::vector<uint8_t> out = WriteHeader(header);
    const CCtxPtr ctx = MakeCompressor(level, header.instructionWindowLog, kCompactVersion);
    const size_t rc = ZSTD_CCtx_refPrefix(ctx.get(), source.data(), source.size());
    if (ZSTD_isError(rc)) {
        throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(rc));
    }
    const size_t headSize = out.size();
    out.resize(headSize + ZSTD_compressBound(target.size()) + 64);
    const size_t packed = ZSTD_compress2(ctx.get(), out.data() + headSize, out.size() - headSize,
                                         target.data(), target.size());
    if (ZSTD_isError(packed)) {
        throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(packed));
    }
    out.resize(headSize + packed);
    return out;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    const std::streamoff size = in.tellg();
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

}  // namespace

std::vector<uint8_t> EncodeBytes(const std::vector<uint8_t>& source,
                                 const std::vector<uint8_t>& target, const EncodeOptions& options) {
    const int level = std::clamp(options.level, 1, ZSTD_maxCLevel());
    // No stream is longer than the target, so a window that holds the target
    // loses nothing, and the updater reserves less for small files.
    Header header;
    header.version = options.version == 1 ? kVersion : kCompactVersion;
    header.instructionWindowLog = header.dataWindowLog = WindowLogFor(target.size());
    header.sourceSize = source.size();
    header.resultSize = target.size();
    if (header.version == kVersion) {
        header.sourceSha256 = Sha256(source);
        header.resultSha256 = Sha256(target);
    }
    std::vector<uint8_t> out = WriteHeader(header);
    Writer writer(&out, level, header.instructionWindowLog, header.version);
    Matcher(source, target, &writer, options, uint64_t{1} << header.instructionWindowLog).Run();
    writer.Finish();
    if (header.version == kCompactVersion && source.size() + target.size() <= kMaxWholeBytes) {
        // A small file may come out smaller as one frame that refers to all
        // of the source at any length, short matches included.
        std::vector<uint8_t> whole = EncodeWhole(source, target, level);
        if (whole.size() < out.size()) {
            return whole;
        }
    }
    return out;
}

std::vector<uint8_t> Encode(const std::string& sourcePath, const std::string& targetPath,
                            const EncodeOptions& options) {
    return EncodeBytes(ReadAll(sourcePath), ReadAll(targetPath), options);
}

}  // namespace delta
