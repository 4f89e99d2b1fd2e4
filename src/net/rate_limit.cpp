#include "net/rate_limit.h"

#include <algorithm>

namespace net {

namespace {

// What a transfer may take at once after a pause: a tenth of a second's
// worth, so a cap does not turn into a stutter of single packets.
constexpr std::chrono::milliseconds kBurst{100};

int64_t Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(duration).count());
}

}  // namespace

void RateLimit::SetBytesPerSecond(uint64_t rate) {
    const std::lock_guard<std::mutex> lock(mutex_);
    rate_ = rate;
    paidUntil_ = Clock::now() - kBurst;
}

uint64_t RateLimit::BytesPerSecond() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return rate_;
}

int64_t RateLimit::Take(uint64_t bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (rate_ == 0) {
        return 0;
    }
    const Clock::time_point now = Clock::now();
    paidUntil_ = std::max(paidUntil_, now - kBurst);
    paidUntil_ += std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(rate_)));
    return Milliseconds(paidUntil_ - now);
}

int64_t RateLimit::Wait() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return rate_ == 0 ? 0 : Milliseconds(paidUntil_ - Clock::now());
}

RateLimit& TransferRate() {
    static RateLimit limit;
    return limit;
}

}  // namespace net
