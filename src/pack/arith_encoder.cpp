#include "pack/arith_encoder.h"

#include <bit>
#include <cmath>

namespace {

using P = CPack;

uint32_t CostOf(uint32_t total, uint32_t share) {
    return static_cast<uint32_t>(
        std::lround(std::log2(static_cast<double>(total) / share) * ArithEncoder::kCostScale));
}

}  // namespace

ArithEncoder::ArithEncoder(std::vector<uint8_t>& out) : out_(out) {
    // Every symbol starts at frequency 1, ranked by its code.
    symCum_[kSymbols] = 0;
    for (uint32_t sym = kSymbols; sym >= 1; sym--) {
        charToSym_[sym - 1] = sym;
        symToChar_[sym] = sym - 1;
        symFreq_[sym] = 1;
        symCum_[sym - 1] = symCum_[sym] + 1;
    }
    symFreq_[0] = 0;
}

void ArithEncoder::UpdateModel(uint32_t sym) {
    if (symCum_[0] >= P::MAX_CUM) {
        uint32_t c = 0;
        for (uint32_t i = kSymbols; i > 0; i--) {
            symCum_[i] = c;
            symFreq_[i] = (symFreq_[i] + 1) >> 1;
            c += symFreq_[i];
        }
        symCum_[0] = c;
    }
    uint32_t i = sym;
    while (symFreq_[i] == symFreq_[i - 1]) {
        i--;
    }
    if (i < sym) {
        const uint32_t chI = symToChar_[i];
        const uint32_t chSym = symToChar_[sym];
        symToChar_[i] = chSym;
        symToChar_[sym] = chI;
        charToSym_[chI] = sym;
        charToSym_[chSym] = i;
    }
    symFreq_[i]++;
    for (uint32_t k = 0; k < i; k++) {
        symCum_[k]++;
    }
}

void ArithEncoder::PutBits(uint32_t bits, uint32_t count) {
    bitBuffer_ = (bitBuffer_ << count) | bits;
    bitCount_ += count;
    while (bitCount_ >= 8) {
        bitCount_ -= 8;
        out_.push_back(static_cast<uint8_t>(bitBuffer_ >> bitCount_));
    }
}

void ArithEncoder::PutRun(uint32_t bit, uint32_t count) {
    while (count > 0) {
        const uint32_t n = count < 24 ? count : 24;
        PutBits(bit != 0 ? (1u << n) - 1 : 0, n);
        count -= n;
    }
}

void ArithEncoder::OutputBit(uint32_t bit) {
    PutBits(bit, 1);
    PutRun(bit ^ 1, pending_);
    pending_ = 0;
}

// Narrows the interval to the share [cumLow, cumHigh) of `total` and shifts
// out every bit that is decided: first the leading bits that low and
// high - 1 share (each one sent, the first one followed by the inverse bits
// still owed), then the bits where low goes on with ones and high - 1 with
// zeros, the interval straddling the middle, whose value is not known yet
// (they are owed). The decoder doubles its interval just as often, and one
// bit is read or written per doubling.
void ArithEncoder::Narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total) {
    const uint32_t range = high_ - low_;
    high_ = low_ + range * cumHigh / total;
    low_ = low_ + range * cumLow / total;
    const uint32_t top = high_ - 1;
    const uint32_t shared = 17 - static_cast<uint32_t>(std::bit_width(low_ ^ top));
    const uint32_t restLow = (low_ << shared) & (P::Q4 - 1);
    const uint32_t restTop = ((top << shared) | ((1u << shared) - 1)) & (P::Q4 - 1);
    const uint32_t middle =
        16 - static_cast<uint32_t>(std::bit_width(~(restLow & ~restTop) & 0xFFFFu));
    if (shared > 0) {
        const uint32_t bits = low_ >> (17 - shared);
        OutputBit(bits >> (shared - 1));
        PutBits(bits & ((1u << (shared - 1)) - 1), shared - 1);
    }
    pending_ += middle;
    const uint32_t n = shared + middle;
    const uint32_t width = high_ - low_;
    low_ = (low_ << n) & (P::Q2 - 1);
    high_ = low_ + (width << n);
}

void ArithEncoder::EncodeSymbol(uint32_t c) {
    const uint32_t sym = charToSym_[c];
    Narrow(symCum_[sym - 1], symCum_[sym], symCum_[0]);
    UpdateModel(sym);
}

void ArithEncoder::EncodePosition(uint32_t p) {
    Narrow(P::positionCum[p], P::positionCum[p + 1], P::positionCum[0]);
}

void ArithEncoder::Finish() {
    // After the last narrowing the interval holds [Q1, Q2) or [Q2, Q3): "01"
    // or "10" (with the pending inverse bits) lands in it, and so does
    // anything that follows, the padding and the one-bits a decoder reads
    // past the end alike.
    pending_++;
    OutputBit(low_ < P::Q1 ? 0 : 1);
    PutBits(0, (8 - bitCount_ % 8) % 8);
}

void ArithEncoder::SymbolCosts(std::array<uint32_t, kSymbols>& costs) const {
    for (uint32_t c = 0; c < kSymbols; c++) {
        costs[c] = CostOf(symCum_[0], symFreq_[charToSym_[c]]);
    }
}

const std::array<uint32_t, CPack::N>& ArithEncoder::PositionCosts() {
    static const std::array<uint32_t, CPack::N> costs = [] {
        std::array<uint32_t, CPack::N> t{};
        for (uint32_t p = 0; p < CPack::N; p++) {
            t[p] = CostOf(P::positionCum[0], P::positionCum[p] - P::positionCum[p + 1]);
        }
        return t;
    }();
    return costs;
}
