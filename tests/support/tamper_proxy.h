// A man in the middle on the loopback interface: an HTTP proxy that the
// updater is configured to use and that forwards every request to the test's
// nginx, rewriting the body of chosen responses in flight (the Content-Length
// follows the new body). Real sockets, one connection at a time, as the
// updater makes them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace brf_test {

class TamperProxy {
public:
    using Rewrite = std::function<std::string(const std::string& body)>;

    // Forwards to 127.0.0.1:`upstreamPort`; the body of every successful
    // response to a request whose first line contains `requestPart` is
    // replaced by `rewrite` of it.
    TamperProxy(uint16_t upstreamPort, std::string requestPart, Rewrite rewrite);
    ~TamperProxy();
    TamperProxy(const TamperProxy&) = delete;
    TamperProxy& operator=(const TamperProxy&) = delete;

    // 0 when the proxy could not listen.
    uint16_t Port() const { return port_; }
    // Responses rewritten so far.
    int Rewritten() const { return rewritten_; }

    // Set before the first request: a rewritten body keeps the original
    // Content-Length, so a shorter one is a transfer cut off; the Range
    // lines of requests are left out, as by a server that ignores them.
    std::atomic<bool> keepLength{false};
    std::atomic<bool> dropRange{false};

private:
    void Serve();
    void Relay(intptr_t client);

    uint16_t upstream_;
    std::string requestPart_;
    Rewrite rewrite_;
    intptr_t listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> rewritten_{0};
    std::thread thread_;
};

}  // namespace brf_test
