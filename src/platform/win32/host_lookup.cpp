#include "platform/host_lookup.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstring>

#include "platform/hidden_window.h"

namespace plat {

struct HostLookup::Impl {
    // The host entry of the lookup is written here by the socket service.
    char buffer[MAXGETHOSTSTRUCT] = {};
    HANDLE request = nullptr;
};

HostLookup::HostLookup() : impl_(std::make_unique<Impl>()) {}

HostLookup::~HostLookup() {
    Cancel();
}

uintptr_t HostLookup::Start(const HiddenWindow& window, uint32_t msg, const char* name) {
    Cancel();
    std::memset(impl_->buffer, 0, sizeof impl_->buffer);
    impl_->request = WSAAsyncGetHostByName(reinterpret_cast<HWND>(window.Handle()), msg, name,
                                           impl_->buffer, sizeof impl_->buffer);
    return reinterpret_cast<uintptr_t>(impl_->request);
}

void HostLookup::Cancel() {
    // Cancelling a lookup that has completed fails harmlessly.
    if (impl_->request != nullptr) {
        WSACancelAsyncRequest(impl_->request);
    }
}

uintptr_t HostLookup::Handle() const {
    return reinterpret_cast<uintptr_t>(impl_->request);
}

uint32_t HostLookup::FirstAddress() const {
    const auto* entry = reinterpret_cast<const hostent*>(impl_->buffer);
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return 0;
    }
    uint32_t address = 0;
    std::memcpy(&address, entry->h_addr_list[0], 4);
    return address;
}

}  // namespace plat
