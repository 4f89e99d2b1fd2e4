#include "pack/match_finder.h"

#include <cstring>

MatchFinder::MatchFinder(const uint8_t* data, size_t size, uint32_t maxChain, uint32_t niceLength)
    : data_(data),
      size_(size),
      maxChain_(maxChain),
      niceLength_(niceLength),
      head_(size_t{1} << kHashBits, kNone),
      prev_(CPack::N, kNone) {}

uint32_t MatchFinder::HashAt(size_t pos) const {
    const uint32_t v = static_cast<uint32_t>(data_[pos]) << 16 |
                       static_cast<uint32_t>(data_[pos + 1]) << 8 | data_[pos + 2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

void MatchFinder::Insert(size_t pos) {
    if (pos + 3 > size_) {
        return;
    }
    const uint32_t h = HashAt(pos);
    prev_[pos & (CPack::N - 1)] = head_[h];
    head_[h] = static_cast<uint32_t>(pos);
}

size_t MatchFinder::FindAndInsert(size_t pos, Match* matches) {
    size_t found = 0;
    size_t maxLength = size_ - pos;
    if (maxLength > CPack::F) {
        maxLength = CPack::F;
    }
    if (maxLength < CPack::THRESHOLD + 1) {
        Insert(pos);
        return 0;
    }
    const uint8_t* here = data_ + pos;
    size_t best = CPack::THRESHOLD;
    uint32_t cand = head_[HashAt(pos)];
    // A slot of prev_ is only read for a candidate inside the window, and
    // such a slot has not been reused yet.
    for (uint32_t chain = maxChain_; chain > 0 && cand != kNone; chain--) {
        const size_t distance = pos - cand;
        if (distance > CPack::N) {
            break;
        }
        const uint8_t* there = data_ + cand;
        if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
            size_t length = 0;
            while (length + 8 <= maxLength) {
                uint64_t a;
                uint64_t b;
                std::memcpy(&a, here + length, 8);
                std::memcpy(&b, there + length, 8);
                if (a != b) {
                    break;
                }
                length += 8;
            }
            while (length < maxLength && here[length] == there[length]) {
                length++;
            }
            if (length > best) {
                best = length;
                matches[found++] =
                    Match{static_cast<uint32_t>(length), static_cast<uint32_t>(distance)};
                if (length == maxLength || length >= niceLength_) {
                    break;
                }
            }
        }
        cand = prev_[cand & (CPack::N - 1)];
    }
    Insert(pos);
    return found;
}
