// The producing half of the container's coder: an adaptive arithmetic
// encoder over the 314 symbols (256 literal bytes, copy lengths 3 to 60 as
// 256 to 313) and the fixed position model, bit for bit the mirror of the
// updater's decoder.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "pack/pack.h"

class ArithEncoder {
public:
    static constexpr uint32_t kSymbols = CPack::N_CHAR;
    // Costs are in 1/kCostScale bits.
    static constexpr uint32_t kCostScale = 256;

    // Appends the coded bits to `out`.
    explicit ArithEncoder(std::vector<uint8_t>& out);

    // Codes symbol `c` (0 to 313) and adapts the model to it.
    void EncodeSymbol(uint32_t c);
    // Codes a copy position `p` (0 to 4095, the distance back minus one).
    void EncodePosition(uint32_t p);
    // Ends the stream: the last bits pin the final interval whatever the
    // decoder reads after them, and the last byte is padded with zeros.
    void Finish();

    // What coding each symbol would cost now, from the current frequencies.
    void SymbolCosts(std::array<uint32_t, kSymbols>& costs) const;
    // What coding each position costs; the position model never changes.
    static const std::array<uint32_t, CPack::N>& PositionCosts();

private:
    void UpdateModel(uint32_t sym);
    void Narrow(uint32_t cumHigh, uint32_t cumLow, uint32_t total);
    // Sends `bit`, then the owed inverse bits.
    void OutputBit(uint32_t bit);
    // Appends the low `count` bits (at most 24) of `bits`, first the highest.
    void PutBits(uint32_t bits, uint32_t count);
    // Appends `count` copies of `bit`.
    void PutRun(uint32_t bit, uint32_t count);

    std::vector<uint8_t>& out_;
    uint32_t low_ = 0;
    uint32_t high_ = CPack::Q4;
    // Bits owed to the output, each the inverse of the next bit that is
    // decided (interval straddling the middle half).
    uint32_t pending_ = 0;
    uint64_t bitBuffer_ = 0;
    uint32_t bitCount_ = 0;

    std::array<uint32_t, kSymbols> charToSym_{};
    std::array<uint32_t, kSymbols + 1> symToChar_{};
    std::array<uint32_t, kSymbols + 1> symFreq_{};
    std::array<uint32_t, kSymbols + 1> symCum_{};
};
