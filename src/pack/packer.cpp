#include "pack/packer.h"

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>

#include "pack/arith_encoder.h"
#include "pack/match_finder.h"
#include "pack/pack.h"

namespace {

using P = CPack;

constexpr uint32_t kMinMatch = P::THRESHOLD + 1;
// Symbols 256 and up stand for the copy lengths 3 and up.
constexpr uint32_t LengthSymbol(uint32_t length) {
    return 256 - kMinMatch + length;
}

// The window before the first byte, as the decoder starts it: 60 zero bytes
// (the not yet written end of its ring buffer), then 4036 blanks. Copies may
// reach into it like into any other history.
std::vector<uint8_t> WithHistory(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buf;
    buf.reserve(P::N + size);
    buf.insert(buf.end(), P::F, 0);
    buf.insert(buf.end(), P::N - P::F, P::kBlank);
    buf.insert(buf.end(), data, data + size);
    return buf;
}

class Emitter {
public:
    explicit Emitter(std::vector<uint8_t>& out) : coder_(out) {}
    void Literal(uint8_t b) { coder_.EncodeSymbol(b); }
    void Copy(uint32_t length, uint32_t distance) {
        coder_.EncodeSymbol(LengthSymbol(length));
        coder_.EncodePosition(distance - 1);
    }
    void Finish() { coder_.Finish(); }
    ArithEncoder& coder() { return coder_; }

private:
    ArithEncoder coder_;
};

// Reports progress about every MiB of input.
class Ticker {
public:
    Ticker(const PackOptions& options, size_t total) : progress_(options.progress), total_(total) {}
    void operator()(size_t pos) {
        if (progress_ && pos >= next_) {
            const size_t done = std::min(pos, total_ + P::N) - P::N;
            progress_(done, total_);
            next_ = pos + (size_t{1} << 20);
        }
    }

private:
    const std::function<void(uint64_t, uint64_t)>& progress_;
    size_t total_;
    size_t next_ = P::N + (size_t{1} << 20);
};

void ParseGreedy(const std::vector<uint8_t>& buf, MatchFinder& finder, Emitter& emit,
                 Ticker& tick) {
    std::array<Match, MatchFinder::kMaxMatches> matches;
    size_t pos = P::N;
    while (pos < buf.size()) {
        tick(pos);
        const size_t n = finder.FindAndInsert(pos, matches.data());
        if (n == 0) {
            emit.Literal(buf[pos]);
            pos++;
            continue;
        }
        const Match m = matches[n - 1];
        emit.Copy(m.length, m.distance);
        for (size_t k = 1; k < m.length; k++) {
            finder.Insert(pos + k);
        }
        pos += m.length;
    }
}

void ParseLazy(const std::vector<uint8_t>& buf, MatchFinder& finder, Emitter& emit, Ticker& tick) {
    std::array<Match, MatchFinder::kMaxMatches> matches;
    size_t pos = P::N;
    Match current{0, 0};
    bool haveCurrent = false;
    while (pos < buf.size()) {
        tick(pos);
        if (!haveCurrent) {
            const size_t n = finder.FindAndInsert(pos, matches.data());
            current = n != 0 ? matches[n - 1] : Match{0, 0};
        }
        haveCurrent = false;
        if (current.length < kMinMatch) {
            emit.Literal(buf[pos]);
            pos++;
            continue;
        }
        if (pos + 1 < buf.size() && current.length < P::F) {
            const size_t n = finder.FindAndInsert(pos + 1, matches.data());
            if (n != 0 && matches[n - 1].length > current.length) {
                // One literal now buys the longer copy one byte later.
                emit.Literal(buf[pos]);
                pos++;
                current = matches[n - 1];
                haveCurrent = true;
                continue;
            }
            for (size_t k = 2; k < current.length; k++) {
                finder.Insert(pos + k);
            }
        } else {
            for (size_t k = 1; k < current.length; k++) {
                finder.Insert(pos + k);
            }
        }
        emit.Copy(current.length, current.distance);
        pos += current.length;
    }
}

// Prices every way through a block with the coder's current frequencies and
// codes the cheapest; the model then adapts, and the next block is priced
// with it.
void ParseOptimal(const std::vector<uint8_t>& buf, MatchFinder& finder, Emitter& emit,
                  const PackOptions& options, Ticker& tick) {
    const size_t kBlock = std::clamp<size_t>(options.blockSize, 64, 1 << 20);
    const uint32_t kNiceLength = std::clamp<uint32_t>(options.niceLength, kMinMatch, P::F);
    constexpr uint32_t kInfinite = std::numeric_limits<uint32_t>::max();

    struct Step {
        uint32_t price;
        uint16_t length;  // 1 for a literal
        uint16_t distance;
    };
    std::vector<Step> steps(kBlock + 1);
    std::vector<uint32_t> path;
    path.reserve(kBlock + 1);
    std::array<uint32_t, ArithEncoder::kSymbols> symbolCost;
    const std::array<uint32_t, P::N>& positionCost = ArithEncoder::PositionCosts();
    std::array<Match, MatchFinder::kMaxMatches> matches;

    size_t blockStart = P::N;
    while (blockStart < buf.size()) {
        tick(blockStart);
        const size_t blockSize = std::min(kBlock, buf.size() - blockStart);
        emit.coder().SymbolCosts(symbolCost);
        for (size_t j = 0; j <= blockSize; j++) {
            steps[j] = Step{kInfinite, 0, 0};
        }
        steps[0].price = 0;

        for (size_t j = 0; j < blockSize; j++) {
            const size_t pos = blockStart + j;
            const size_t n = finder.FindAndInsert(pos, matches.data());
            const uint32_t base = steps[j].price;
            const uint32_t literal = base + symbolCost[buf[pos]];
            if (literal < steps[j + 1].price) {
                steps[j + 1] = Step{literal, 1, 0};
            }
            if (n == 0) {
                continue;
            }
            const uint32_t room = static_cast<uint32_t>(blockSize - j);
            const Match longest = matches[n - 1];
            if (longest.length >= kNiceLength && longest.length <= room) {
                const uint32_t price = base + symbolCost[LengthSymbol(longest.length)] +
                                       positionCost[longest.distance - 1];
                if (price < steps[j + longest.length].price) {
                    steps[j + longest.length] = Step{price, static_cast<uint16_t>(longest.length),
                                                     static_cast<uint16_t>(longest.distance)};
                }
                for (size_t k = 1; k < longest.length; k++) {
                    finder.Insert(pos + k);
                }
                j += longest.length - 1;
                continue;
            }
            uint32_t length = kMinMatch;
            for (size_t m = 0; m < n && length <= room; m++) {
                const uint32_t distancePrice = base + positionCost[matches[m].distance - 1];
                const uint32_t upTo = std::min(matches[m].length, room);
                for (; length <= upTo; length++) {
                    const uint32_t price = distancePrice + symbolCost[LengthSymbol(length)];
                    if (price < steps[j + length].price) {
                        steps[j + length] = Step{price, static_cast<uint16_t>(length),
                                                 static_cast<uint16_t>(matches[m].distance)};
                    }
                }
            }
        }

        path.clear();
        for (size_t j = blockSize; j > 0; j -= steps[j].length) {
            path.push_back(static_cast<uint32_t>(j));
        }
        size_t at = 0;
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            const Step& s = steps[*it];
            if (s.length == 1) {
                emit.Literal(buf[blockStart + at]);
            } else {
                emit.Copy(s.length, s.distance);
            }
            at = *it;
        }
        blockStart += blockSize;
    }
}

}  // namespace

Packer::Packer(PackOptions options) : options_(options) {}

std::vector<uint8_t> Packer::EncodePayload(const uint8_t* data, size_t size) const {
    if (static_cast<uint64_t>(size) > kMaxOriginalSize) {
        throw std::length_error("a container holds at most 4 GiB - 1 bytes");
    }
    const std::vector<uint8_t> buf = WithHistory(data, size);
    MatchFinder finder(buf.data(), buf.size(), std::max<uint32_t>(options_.maxChain, 1),
                       options_.mode == ParseMode::Optimal ? options_.niceLength : P::F);
    for (size_t pos = 0; pos < P::N; pos++) {
        finder.Insert(pos);
    }
    std::vector<uint8_t> payload;
    payload.reserve(size / 2 + 16);
    Emitter emit(payload);
    Ticker tick(options_, size);
    switch (options_.mode) {
        case ParseMode::Greedy:
            ParseGreedy(buf, finder, emit, tick);
            break;
        case ParseMode::Lazy:
            ParseLazy(buf, finder, emit, tick);
            break;
        case ParseMode::Optimal:
            ParseOptimal(buf, finder, emit, options_, tick);
            break;
    }
    emit.Finish();
    return payload;
}

std::vector<uint8_t> Packer::BuildContainer(const uint8_t* data, size_t size, uint32_t accessTime,
                                            uint32_t modificationTime) const {
    std::vector<uint8_t> payload = EncodePayload(data, size);
    ContainerHeader header;
    header.checksum = PayloadSum(payload.data(), payload.size());
    header.format = kFormat;
    header.originalSize = static_cast<uint32_t>(size);
    header.accessTime = accessTime;
    header.modificationTime = modificationTime;
    std::vector<uint8_t> container(kHeaderSize + payload.size());
    WriteHeader(header, container.data());
    std::copy(payload.begin(), payload.end(), container.begin() + kHeaderSize);
    return container;
}

uint32_t PayloadSum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i++) {
        sum += data[i];
    }
    return sum;
}

bool ParseModeNamed(const std::string& name, ParseMode* mode) {
    if (name == "optimal") {
        *mode = ParseMode::Optimal;
    } else if (name == "lazy") {
        *mode = ParseMode::Lazy;
    } else if (name == "greedy") {
        *mode = ParseMode::Greedy;
    } else {
        return false;
    }
    return true;
}
