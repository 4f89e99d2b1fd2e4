#include "arith_encoder.h"

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

void ArithEncoder::PutBit(uint32_t bit) {
    bitBuffer_ = (bitBuffer_ << 1) | bit;
    if (++bitCount_ == 8) {
        out_.push_back(static_cast<uint8_t>(bitBuffer_));
        bitBuffer_ = 0;
        bitCount_ = 0;
    }
}

void ArithEncoder::OutputBit(uint32_t bit) {
    PutBit(bit);
    for (; pending_ > 0; pending_--) {
        PutBit(bit ^ 1);
    }
}

// Narrows the interval to the share [cumLow, cumHigh) of `total` and shifts
// out every bit that is decided. The decoder doubles its interval in exactly
// the same cases, so both read and write one bit per doubling.
void ArithEncoder::Narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total) {
    const uint32_t range = high_ - low_;
    high_ = low_ + range * cumHigh / total;
    low_ = low_ + range * cumLow / total;
    for (;;) {
        if (high_ <= P::Q2) {
            OutputBit(0);
        } else if (low_ >= P::Q2) {
            OutputBit(1);
            low_ -= P::Q2;
            high_ -= P::Q2;
        } else if (low_ >= P::Q1 && high_ <= P::Q3) {
            pending_++;
            low_ -= P::Q1;
            high_ -= P::Q1;
        } else {
            break;
        }
        low_ += low_;
        high_ += high_;
    }
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
    while (bitCount_ != 0) {
        PutBit(0);
    }
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
