#include "pack_test_util.h"

#include <cstdio>
#include <random>
#include <stdexcept>

namespace packtest {

void WriteFile(const std::string& path, const Bytes& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    const size_t n = data.empty() ? 0 : std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    if (n != data.size()) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes ReadFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        throw std::runtime_error("cannot open " + path);
    }
    Bytes data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        data.insert(data.end(), buf, buf + n);
    }
    std::fclose(f);
    return data;
}

Bytes Container(uint32_t checksum, uint32_t format, uint32_t originalSize, uint32_t accessTime,
                uint32_t modificationTime, const Bytes& payload) {
    Bytes out;
    for (uint32_t w : {checksum, format, originalSize, accessTime, modificationTime}) {
        for (int b = 0; b < 4; b++) {
            out.push_back(static_cast<uint8_t>(w >> (8 * b)));
        }
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

uint32_t Sum(const Bytes& data) {
    uint32_t s = 0;
    for (uint8_t b : data) {
        s += b;
    }
    return s;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<uint8_t>(rng() >> 24);
    }
    return out;
}

Bytes TextBytes(size_t size, uint32_t seed) {
    static const char* const kWords[] = {
        "the",    "brine", "fall", "sail",   "wind",   "harbour", "captain", "ship",
        "anchor", "deck",  "rope", "storm",  "island", "compass", "north",   "of",
        "and",    "a",     "to",   "update", "patch",  "version", "server",  "file"};
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(size + 16);
    while (out.size() < size) {
        const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
        const uint32_t r = rng() % 12;
        out.push_back(r == 0 ? '\n' : (r == 1 ? ',' : ' '));
    }
    out.resize(size);
    return out;
}

}  // namespace packtest
