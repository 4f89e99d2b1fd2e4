// Finds earlier occurrences of the bytes at a position within the last 4096
// bytes, through hash chains on the first three bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/pack.h"

struct Match {
    uint32_t length;
    uint32_t distance;  // 1 to 4096
};

class MatchFinder {
public:
    static constexpr uint32_t kMaxMatches = CPack::F;

    // `data` holds `size` bytes; positions are indices into it. The finder
    // does not own the data. It looks at up to `maxChain` candidates per
    // position and stops early at a match of `niceLength` bytes.
    MatchFinder(const uint8_t* data, size_t size, uint32_t maxChain,
                uint32_t niceLength = CPack::F);

    // Adds `pos` to the chains. Every position is added once, in order.
    void Insert(size_t pos);

    // The matches of at least 3 bytes at `pos` (not yet inserted) within the
    // window, by rising length, each with the nearest distance that reaches
    // its length; then inserts `pos`. Returns the number written to
    // `matches` (room for kMaxMatches).
    size_t FindAndInsert(size_t pos, Match* matches);

private:
    static constexpr uint32_t kHashBits = 16;
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    uint32_t HashAt(size_t pos) const;

    const uint8_t* data_;
    size_t size_;
    uint32_t maxChain_;
    uint32_t niceLength_;
    std::vector<uint32_t> head_;
    // Previous position with the same hash, for the last 4096 positions.
    std::vector<uint32_t> prev_;
};
