#include "literal_decoder.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t N = 4096;
constexpr uint32_t F = 60;
constexpr uint32_t N_CHAR = 314;
constexpr uint32_t M = 15;
constexpr uint32_t Q1 = 1u << M;
constexpr uint32_t Q2 = 2 * Q1;
constexpr uint32_t Q3 = 3 * Q1;
constexpr uint32_t Q4 = 4 * Q1;
constexpr uint32_t MAX_CUM = Q1 - 1;

struct State {
    uint8_t textBuf[N + F - 1];
    uint32_t low, high, value;
    uint32_t charToSym[N_CHAR];
    uint32_t symToChar[N_CHAR + 1];
    uint32_t symFreq[N_CHAR + 1];
    uint32_t symCum[N_CHAR + 1];
    uint32_t positionCum[N + 1];
    std::FILE* in;
    std::FILE* out;
    uint32_t originalSize;
    uint32_t byteSum;
    uint32_t bitBuffer;
    uint32_t bitMask;
};

uint32_t NextBit(State& s) {
    s.bitMask >>= 1;
    if (s.bitMask == 0) {
        const int c = std::getc(s.in);
        if (c != EOF) {
            s.byteSum += static_cast<uint32_t>(c);
            s.bitBuffer = static_cast<uint32_t>(c);
        } else {
            s.bitBuffer = 0xFFFFFFFFu;
        }
        s.bitMask = 128;
    }
    return (s.bitBuffer & s.bitMask) != 0 ? 1 : 0;
}

void Renormalize(State& s) {
    for (;;) {
        if (s.low >= Q2) {
            s.value -= Q2;
            s.low -= Q2;
            s.high -= Q2;
        } else if (s.low >= Q1 && s.high <= Q3) {
            s.value -= Q1;
            s.low -= Q1;
            s.high -= Q1;
        } else if (s.high > Q2) {
            break;
        }
        s.low = 2 * s.low;
        s.high = 2 * s.high;
        s.value = 2 * s.value + NextBit(s);
    }
}

void UpdateModel(State& s, uint32_t sym) {
    if (s.symCum[0] >= MAX_CUM) {
        uint32_t c = 0;
        for (uint32_t i = N_CHAR; i > 0; i--) {
            s.symCum[i] = c;
            s.symFreq[i] = (s.symFreq[i] + 1) / 2;
            c += s.symFreq[i];
        }
        s.symCum[0] = c;
    }
    uint32_t i = sym;
    while (s.symFreq[i] == s.symFreq[i - 1]) {
        i--;
    }
    if (i < sym) {
        const uint32_t ci = s.symToChar[i];
        const uint32_t cs = s.symToChar[sym];
        s.symToChar[i] = cs;
        s.symToChar[sym] = ci;
        s.charToSym[ci] = sym;
        s.charToSym[cs] = i;
    }
    s.symFreq[i] += 1;
    for (uint32_t k = 0; k < i; k++) {
        s.symCum[k] += 1;
    }
}

uint32_t DecodeSymbol(State& s) {
    const uint32_t range = s.high - s.low;
    const uint32_t x = ((s.value - s.low + 1) * s.symCum[0] - 1) / range;
    uint32_t i = 1;
    uint32_t j = N_CHAR;
    while (i < j) {
        const uint32_t k = (i + j) / 2;
        if (s.symCum[k] > x) {
            i = k + 1;
        } else {
            j = k;
        }
    }
    const uint32_t sym = i;
    const uint32_t oldLow = s.low;
    s.high = oldLow + range * s.symCum[sym - 1] / s.symCum[0];
    s.low = oldLow + range * s.symCum[sym] / s.symCum[0];
    Renormalize(s);
    const uint32_t c = s.symToChar[sym];
    UpdateModel(s, sym);
    return c;
}

uint32_t DecodePosition(State& s) {
    const uint32_t range = s.high - s.low;
    const uint32_t x = ((s.value - s.low + 1) * s.positionCum[0] - 1) / range;
    uint32_t i = 1;
    uint32_t j = N;
    while (i < j) {
        const uint32_t k = (i + j) / 2;
        if (s.positionCum[k] > x) {
            i = k + 1;
        } else {
            j = k;
        }
    }
    const uint32_t p = i - 1;
    const uint32_t oldLow = s.low;
    s.high = oldLow + range * s.positionCum[p] / s.positionCum[0];
    s.low = oldLow + range * s.positionCum[p + 1] / s.positionCum[0];
    Renormalize(s);
    return p;
}

bool ReadWord(std::FILE* f, uint32_t* w) {
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4) {
        return false;
    }
    *w = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
}

}  // namespace

bool LiteralDecodeFile(const char* source, const char* destination) {
    std::FILE* in = std::fopen(source, "rb");
    if (in == nullptr) {
        return false;
    }
    std::FILE* out = std::fopen(destination, "wb");
    if (out == nullptr) {
        std::fclose(in);
        return false;
    }
    const bool ok = LiteralDecodeStream(in, out);
    std::fclose(in);
    std::fclose(out);
    return ok;
}

bool LiteralDecodeStream(std::FILE* source, std::FILE* destination) {
    static State s;
    std::memset(&s, 0, sizeof s);
    s.high = Q4;
    s.in = source;
    s.out = destination;
    uint32_t checksum = 0;
    uint32_t format = 0;
    uint32_t accessTime = 0;
    uint32_t modificationTime = 0;
    if (!ReadWord(s.in, &checksum) || !ReadWord(s.in, &format) ||
        !ReadWord(s.in, &s.originalSize) || !ReadWord(s.in, &accessTime) ||
        !ReadWord(s.in, &modificationTime) || s.originalSize == 0 || format != 102) {
        return false;
    }
    s.value = 0;
    for (uint32_t i = 0; i < M + 2; i++) {
        s.value = 2 * s.value + NextBit(s);
    }
    s.symCum[N_CHAR] = 0;
    for (uint32_t sym = N_CHAR; sym >= 1; sym--) {
        s.charToSym[sym - 1] = sym;
        s.symToChar[sym] = sym - 1;
        s.symFreq[sym] = 1;
        s.symCum[sym - 1] = s.symCum[sym] + 1;
    }
    s.symFreq[0] = 0;
    s.positionCum[N] = 0;
    for (uint32_t i = N; i >= 1; i--) {
        s.positionCum[i - 1] = s.positionCum[i] + 10000 / (i + 200);
    }
    for (uint32_t i = 0; i < N - F; i++) {
        s.textBuf[i] = ' ';
    }
    uint32_t r = N - F;
    uint32_t count = 0;
    while (count < s.originalSize) {
        const uint32_t c = DecodeSymbol(s);
        if (c < 256) {
            std::putc(static_cast<int>(c), s.out);
            s.textBuf[r] = static_cast<uint8_t>(c);
            r = (r + 1) & (N - 1);
            count++;
        } else {
            const uint32_t p = DecodePosition(s);
            const uint32_t start = (r - p - 1) & (N - 1);
            const uint32_t length = c - 253;
            for (uint32_t k = 0; k < length; k++) {
                const uint8_t b = s.textBuf[(start + k) & (N - 1)];
                std::putc(b, s.out);
                s.textBuf[r] = b;
                r = (r + 1) & (N - 1);
                count++;
            }
        }
    }
    return s.byteSum == checksum;
}
