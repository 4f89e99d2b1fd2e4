// Asynchronous host-name lookup (WSAAsyncGetHostByName): the lookup runs in
// the background and its completion arrives as a message of a hidden window
// (wParam the lookup's handle, high 16 bits of lParam an error number, 0 on
// success).
#pragma once

#include <cstdint>
#include <memory>

namespace plat {

class HiddenWindow;

class HostLookup {
public:
    HostLookup();
    // Cancels a lookup still running.
    ~HostLookup();

    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // Starts looking `name` up; a lookup still running is cancelled first.
    // Returns the new lookup's handle, or 0 (with SockLastError set) when
    // none could be started.
    uintptr_t Start(const HiddenWindow& window, uint32_t msg, const char* name);
    // Stops waiting for the running lookup: no message will come for it.
    void Cancel();
    // The handle of the last lookup started, 0 before the first.
    uintptr_t Handle() const;
    // After a successful completion message: the first IPv4 address found,
    // in network byte order; 0 when there is none.
    uint32_t FirstAddress() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace plat
