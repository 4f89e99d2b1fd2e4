// The cap on the whole update's transfer rate, for players who share their
// line: every transfer of the process, the HTTP client's and the workers'
// alike, counts what it receives here and waits as long as it is told, so
// that all of them together stay at the cap.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace net {

class RateLimit {
public:
    // Bytes per second for all transfers together; 0: no cap.
    void SetBytesPerSecond(uint64_t rate);
    uint64_t BytesPerSecond() const;

    // Counts `bytes` received; returns the milliseconds to wait before
    // receiving more (0 without a cap, or while within it).
    int64_t Take(uint64_t bytes);
    // The milliseconds still to wait.
    int64_t Wait() const;

private:
    using Clock = std::chrono::steady_clock;
    mutable std::mutex mutex_;
    uint64_t rate_ = 0;
    // When the bytes counted so far are paid for at the cap.
    Clock::time_point paidUntil_{};
};

// The process's cap.
RateLimit& TransferRate();

}  // namespace net
