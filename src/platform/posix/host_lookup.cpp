#include "platform/host_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/hidden_window.h"
#include "platform/posix/loop_hub.h"
#include "platform/socket.h"

namespace plat {

namespace {

// One lookup, shared by the helper thread that runs it and the object that
// started it; whoever finishes last frees it.
struct Request {
    std::string name;
    uintptr_t window = 0;
    uint32_t msg = 0;
    uintptr_t handle = 0;
    std::atomic<bool> cancelled{false};
    uint32_t address = 0;  // written before the message is posted
};

int WsaErrorFromLookup(int error) {
    switch (error) {
        case 0:
            return 0;
        case EAI_NONAME:
#ifdef EAI_NODATA
        case EAI_NODATA:
#endif
            return 11001;  // Host not found
        case EAI_AGAIN:
            return 11002;  // Non-Authoritative Host not found
        default:
            return 11003;  // Non-Recoverable error
    }
}

void RunLookup(std::shared_ptr<Request> request) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int error = getaddrinfo(request->name.c_str(), nullptr, &hints, &result);
    if (error == 0) {
        if (result != nullptr) {
            request->address =
                reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
        } else {
            error = EAI_NONAME;
        }
        freeaddrinfo(result);
    }
    if (!request->cancelled) {
        const auto lParam =
            static_cast<intptr_t>(static_cast<uint32_t>(WsaErrorFromLookup(error)) << 16);
        LoopHub::Get().Post(request->window, request->msg, request->handle, lParam);
    }
}

std::atomic<uintptr_t> nextHandle{1};

}  // namespace

struct HostLookup::Impl {
    std::shared_ptr<Request> current;
    uintptr_t handle = 0;
};

HostLookup::HostLookup() : impl_(std::make_unique<Impl>()) {}

HostLookup::~HostLookup() {
    Cancel();
}

uintptr_t HostLookup::Start(const HiddenWindow& window, uint32_t msg, const char* name) {
    Cancel();
    auto request = std::make_shared<Request>();
    request->name = name ? name : "";
    request->window = window.Handle();
    request->msg = msg;
    request->handle = nextHandle++;
    try {
        std::thread(RunLookup, request).detach();
    } catch (const std::system_error&) {
        SockSetLastError(10055);
        return 0;
    }
    impl_->current = request;
    impl_->handle = request->handle;
    return request->handle;
}

void HostLookup::Cancel() {
    if (impl_->current) {
        impl_->current->cancelled = true;
        impl_->current.reset();
    }
}

uintptr_t HostLookup::Handle() const {
    return impl_->handle;
}

uint32_t HostLookup::FirstAddress() const {
    return impl_->current ? impl_->current->address : 0;
}

}  // namespace plat
