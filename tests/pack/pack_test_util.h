// Files and containers for the container tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace packtest {

using Bytes = std::vector<uint8_t>;

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
using TempDir = brf_test::ScratchDir;

void WriteFile(const std::string& path, const Bytes& data);
Bytes ReadFile(const std::string& path);

// A container made by hand: the five header words, then `payload`.
Bytes Container(uint32_t checksum, uint32_t format, uint32_t originalSize, uint32_t accessTime,
                uint32_t modificationTime, const Bytes& payload);
// Sum of the bytes modulo 2^32.
uint32_t Sum(const Bytes& data);

// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t size, uint32_t seed);
// Text-like bytes: words from a small vocabulary, with line ends.
Bytes TextBytes(size_t size, uint32_t seed);

}  // namespace packtest
