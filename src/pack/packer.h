// Produces patch containers: the 20-byte header and the payload that the
// updater's CPack decodes. Producer side only; the updater never links it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pack/container_format.h"

enum class ParseMode {
    Greedy,   // the longest match at every position
    Lazy,     // a match is put off by one byte when the next one is longer
    Optimal,  // the cheapest path through the block, priced by the coder's model
};

// The mode named on a command line ("optimal", "lazy" or "greedy"); false
// for any other name.
bool ParseModeNamed(const std::string& name, ParseMode* mode);

struct PackOptions {
    ParseMode mode = ParseMode::Optimal;
    // Candidates the match finder looks at per position.
    uint32_t maxChain = 48;
    // Optimal parsing: bytes priced per step (the model's frequencies are
    // taken afresh for each block), and the match length from which a match
    // is taken as it is, without trying the positions inside it.
    uint32_t blockSize = 8192;
    uint32_t niceLength = 48;
    // Called now and then with the bytes done and the total, for long work.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

class Packer {
public:
    static constexpr uint32_t kHeaderSize = kContainerHeaderSize;
    static constexpr uint32_t kFormat = kContainerFormat;
    // The largest file a container can describe.
    static constexpr uint64_t kMaxOriginalSize = 0xFFFFFFFFu;

    explicit Packer(PackOptions options = {});

    // The compressed payload of `size` bytes; std::length_error past
    // kMaxOriginalSize.
    std::vector<uint8_t> EncodePayload(const uint8_t* data, size_t size) const;

    // A whole container: header with checksum, format and times, then the
    // payload.
    std::vector<uint8_t> BuildContainer(const uint8_t* data, size_t size, uint32_t accessTime,
                                        uint32_t modificationTime) const;

private:
    PackOptions options_;
};

// Byte sum of a payload, modulo 2^32, as the header's checksum.
uint32_t PayloadSum(const uint8_t* data, size_t size);
