#include "net/sock_transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/event_loop.h"

namespace {

// Transports that have started the socket service; the first one starts
// it, the last one stops it. Only the loop's thread touches it.
int startedTransports = 0;

constexpr uint32_t kLowWord = 0xFFFF;

uint32_t NotifyEvent(intptr_t lParam) {
    return static_cast<uint32_t>(lParam) & kLowWord;
}
uint32_t NotifyError(intptr_t lParam) {
    return (static_cast<uint32_t>(lParam) >> 16) & kLowWord;
}

}  // namespace

std::unique_ptr<plat::HiddenWindow> SockAllocateHWnd(TSockTransport* owner) {
    return std::make_unique<plat::HiddenWindow>(
        "SockWindowClass", SocketNotifyMessage,
        [owner](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
            return owner->Wndproc(msg, wParam, lParam);
        });
}

// ---- life cycle -----------------------------------------------------------

TSockTransport::TSockTransport() : buffer_(new char[kBufferSize]) {
    StatusMessage(8, "Create");
    window_ = SockAllocateHWnd(this);
    timer_ = std::make_unique<TThreadTimer>();
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TThreadTimer*) { TimerFired(); });
    stallTimer_ = std::make_unique<TThreadTimer>();
    stallTimer_->SetEnabled(false);
    stallTimer_->SetOnTimer([this](TThreadTimer*) { StallCheck(); });
    InitWinsock();
}

TSockTransport::~TSockTransport() {
    StatusMessage(8, "Destroy");
    try {
        TSockTransport::Abort();
        Cancel();
        timer_.reset();
        stallTimer_.reset();
        lookup_.Cancel();
        Destroying = true;
        RequestCloseSocket();
    } catch (...) {
        // A destructor cannot report; the socket is abandoned.
    }
    window_.reset();
    if (winsockStarted_ && --startedTransports == 0) {
        plat::SockCleanup();
    }
}

void TSockTransport::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    try {
        if (++startedTransports == 1) {
            plat::SocketsInfo info;
            if (plat::SockStartup(&info) != 0) {
                --startedTransports;
                throw ESockError("startup");
            }
            const auto version = [](uint16_t v) {
                return std::to_string(v >> 8) + "." + std::to_string(v & 0xFF);
            };
            WinsockInfo.push_back("Version= " + version(info.version));
            WinsockInfo.push_back("High Version= " + version(info.highVersion));
            WinsockInfo.push_back("Description= " + info.description);
            WinsockInfo.push_back("System= " + info.systemStatus);
            WinsockInfo.push_back("Max Sockets= " + std::to_string(info.maxSockets));
            WinsockInfo.push_back("Max Udp pack size= " + std::to_string(info.maxUdpDg));
        }
        try {
            if (!window_->Valid()) {
                throw ESockError("no window");
            }
            OpenSocket(6, true);
        } catch (...) {
            if (--startedTransports == 0) {
                plat::SockCleanup();
            }
            throw;
        }
        winsockStarted_ = true;
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

void TSockTransport::OpenSocket(int protocol, bool linger) {
    socket_ = plat::SockStream(protocol);
    if (socket_ == plat::kInvalidSocket) {
        ErrorManager(plat::kWsaEWouldBlock);
        throw ESockError(SocketErrorStr(plat::SockLastError()));
    }
    if (linger) {
        plat::SockSetLinger(socket_, true, 0);
    }
    if (plat::SockAsyncSelect(socket_, *window_, SocketNotifyMessage, kSocketEventMask) != 0) {
        ErrorManager(plat::kWsaEWouldBlock);
    }
}

// ---- the message loop -------------------------------------------------------

void TSockTransport::Pump() {
    plat::MainLoop().ProcessMessages();
}

void TSockTransport::Idle() {
    plat::EventLoop& loop = plat::MainLoop();
    loop.WaitMessage(-1);
    loop.ProcessMessages();
}

void TSockTransport::IdleUnlessNotified(uint32_t seen) {
    // A notification handled since the receive said "nothing yet" may be the
    // one about new data, and a handler may have closed the socket: then the
    // receive is tried again at once, as nothing more will come to wake us.
    if (changes_ == seen) {
        Idle();
    }
}

intptr_t TSockTransport::Wndproc(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    try {
        // Completions of lookups given up on, and notifications of a socket
        // closed since, are no news for the current one.
        if (msg == LookupDoneMessage && wParam != lookup_.Handle()) {
            return 0;
        }
        if (msg == SocketNotifyMessage && wParam != socket_) {
            return 0;
        }
        LastNotifyOk = NotifyError(lParam) == 0;
        if (msg == SocketNotifyMessage) {
            ++changes_;
            switch (NotifyEvent(lParam)) {
                case plat::kFdRead:
                    try {
                        if (OnDataReady) {
                            OnDataReady(this);
                        }
                    } catch (...) {
                    }
                    break;
                case plat::kFdWrite:
                    writeReady_ = true;
                    break;
                case plat::kFdAccept:
                    IsConnected = true;
                    if (OnAcceptNotify) {
                        OnAcceptNotify(this);
                    }
                    break;
                case plat::kFdConnect:
                    if (LastNotifyOk) {
                        IsConnected = true;
                        if (OnConnect) {
                            OnConnect(this);
                        }
                    } else {
                        lastErrorNo_ = static_cast<int32_t>(NotifyError(lParam));
                    }
                    break;
                case plat::kFdClose: {
                    // While data is left the reader takes it and meets the
                    // close itself. A reset is reported by the notification
                    // or by the peek, and only once: it is kept for the
                    // reader, who would otherwise see an orderly end.
                    StatusMessage(8, "Data Available");
                    const int32_t peek = PeekOne();
                    if (peek == 1) {
                        break;
                    }
                    int32_t error =
                        peek > 10000 && peek != plat::kWsaEWouldBlock && peek != plat::kWsaENotConn
                            ? peek
                            : 0;
                    if (error == 0 && !LastNotifyOk) {
                        error = static_cast<int32_t>(NotifyError(lParam));
                    }
                    RequestCloseSocket();
                    closeError_ = error;
                    closedByPeer_ = true;
                    break;
                }
                default:
                    break;
            }
        } else if (msg == LookupDoneMessage) {
            AsyncDone = true;
        }
    } catch (...) {
        // A notification never raises into the loop.
    }
    return 0;
}

// ---- connection ---------------------------------------------------------------

void TSockTransport::ResolveRemoteHost() {
    StatusMessage(8, "Resolve Host");
    const std::string& source = Proxy.empty() ? Host : Proxy;
    const size_t length = std::min<size_t>(std::strlen(source.c_str()), kReceiveSize);
    std::memcpy(buffer_.get(), source.data(), length);
    buffer_[length] = '\0';
    const char* name = buffer_.get();

    const uint32_t dotted = plat::SockInetAddr(name);
    if (dotted != plat::kInaddrNone) {
        remoteAddress_ = dotted;
        return;
    }
    remoteAddress_ = 0;
    StartCountdown(ConnectTimeOut > 0 ? ConnectTimeOut : TimeOut);
    AsyncDone = false;
    if (lookup_.Start(*window_, LookupDoneMessage, name) == 0) {
        TimerOff();
        ErrorManager(plat::kWsaEWouldBlock);
        throw ESockError("Host Lookup Failed");
    }
    while (!AsyncDone && !TimedOut && !CancelRequested) {
        Idle();
    }
    TimerOff();
    if (TimedOut) {
        lookup_.Cancel();
        throw ESockError("Host Lookup Timed Out");
    }
    if (CancelRequested) {
        lookup_.Cancel();
        throw ESockError("Host Lookup Canceled");
    }
    if (!LastNotifyOk) {
        throw ESockError("Host Lookup Failed");
    }
    remoteAddress_ = lookup_.FirstAddress();
    if (OnHostResolved) {
        OnHostResolved(this);
    }
}

void TSockTransport::Connect() {
    StatusMessage(8, "Connecting");
    CancelRequested = false;
    Stalled = false;
    closeError_ = 0;
    closedByPeer_ = false;
    if (IsConnected) {
        throw ESockError("Already connected");
    }
    for (int attempt = 1;; ++attempt) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& e) {
            const std::string text = e.what();
            if (text == "Host Lookup Timed Out" || text == "Host Lookup Canceled") {
                throw;
            }
        }
        if (remoteAddress_ != 0) {
            break;
        }
        if (attempt >= 2 || !OnInvalidHost) {
            throw ESockError("Null Remote Address");
        }
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled) {
            throw ESockError("Null Remote Address");
        }
    }
    remotePort_ = plat::SockHtons(static_cast<uint16_t>(Proxy.empty() ? Port : ProxyPort));

    AsyncDone = false;
    LastNotifyOk = true;
    if (plat::SockConnect(socket_, remoteAddress_, remotePort_) != 0) {
        ErrorManager(plat::kWsaEWouldBlock);
    }
    const uint32_t generation = socketGeneration_;
    StartCountdown(ConnectTimeOut > 0 ? ConnectTimeOut : TimeOut);
    while (!IsConnected && !TimedOut && !CancelRequested && LastNotifyOk &&
           generation == socketGeneration_) {
        Idle();
    }
    TimerOff();
    // A Disconnect from a handler while connecting counts as a cancel.
    const bool replaced = generation != socketGeneration_;
    if (!TimedOut && !CancelRequested && LastNotifyOk && !replaced) {
        return;
    }
    if (OnConnectionFailed) {
        OnConnectionFailed(this);
    }
    if (TimedOut) {
        throw ESockError("Connection Timed out");
    }
    if (CancelRequested || replaced) {
        throw ESockError("Connection Canceled");
    }
    throw ESockError("Connection Failed");
}

void TSockTransport::Disconnect() {
    StatusMessage(8, "Disconnecting");
    // Closing here is no reset by the peer, also when one came before.
    closeError_ = 0;
    closedByPeer_ = false;
    RequestCloseSocket();
}

void TSockTransport::RequestCloseSocket() {
    StatusMessage(4, "Request Close Socket");
    IsConnected = false;
    if (socket_ != plat::kInvalidSocket) {
        if (plat::SockClose(socket_) != 0) {
            ErrorManager(plat::kWsaEWouldBlock);
            return;
        }
        socket_ = plat::kInvalidSocket;
        ++socketGeneration_;
        ++changes_;
        if (!Destroying && OnDisconnect) {
            OnDisconnect(this);
        }
    }
    // The next Connect finds a fresh socket, also when an earlier one could
    // not be opened.
    if (!Destroying && socket_ == plat::kInvalidSocket) {
        OpenSocket(0, false);
    }
}

void TSockTransport::CertifyConnect() {
    StatusMessage(8, "Checking Connection");
    for (int pass = 1; !IsConnected; ++pass) {
        if (pass >= 2 || !OnNotConnected) {
            throw std::runtime_error("Not Connected");
        }
        bool handled = false;
        OnNotConnected(handled);
        if (!handled) {
            throw std::runtime_error("Not Connected");
        }
    }
}

void TSockTransport::Cancel() {
    StatusMessage(8, "Canceling");
    CancelRequested = true;
}

void TSockTransport::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

// ---- addresses ------------------------------------------------------------------

void TSockTransport::Close(plat::Socket socket) {
    StatusMessage(8, "Closing Socket");
    if (plat::SockClose(socket) != 0) {
        ErrorManager(plat::kWsaEWouldBlock);
    }
}

std::string TSockTransport::GetRemoteIP() {
    StatusMessage(8, "Getting Remote IP");
    return plat::SockInetNtoa(remoteAddress_);
}

std::string TSockTransport::GetLocalIP() {
    StatusMessage(8, "Getting Local IP");
    uint32_t address = 0;
    if (!plat::SockGetHostByName(plat::SockGetHostName().c_str(), &address)) {
        return std::string();
    }
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

std::string TSockTransport::GetLocalAddress() {
    uint32_t address = 0;
    uint16_t port = 0;
    plat::SockGetSockName(socket_, &address, &port);
    std::string text = plat::SockInetNtoa(address);
    for (int i = 0; i < 3; ++i) {
        const size_t dot = text.find('.');
        if (dot != std::string::npos) {
            text[dot] = ',';
        }
    }
    return text;
}

std::string TSockTransport::GetPortString() {
    uint32_t address = 0;
    uint16_t port = 0;
    plat::SockGetSockName(socket_, &address, &port);
    const uint16_t host = plat::SockNtohs(port);
    char text[16];
    std::snprintf(text, sizeof text, ",%d,%d", host >> 8, host & 0xFF);
    return text;
}

// ---- errors and status ------------------------------------------------------------

int32_t TSockTransport::GetLastErrorNo() {
    StatusMessage(8, "Getting LastError Number");
    return lastErrorNo_;
}

void TSockTransport::SetLastErrorNo(int32_t number) {
    StatusMessage(8, "Setting LastError Number");
    lastErrorNo_ = number;
}

void TSockTransport::SetWSAError(int32_t number, const std::string& text) {
    StatusMessage(8, "Setting Winsock Error");
    lastErrorNo_ = number;
    plat::SockSetLastError(number);
    if (OnError) {
        OnError(this, static_cast<int16_t>(number), text.empty() ? SocketErrorStr(number) : text);
    }
}

void TSockTransport::ErrorManager(int32_t ignored) {
    const int32_t error = plat::SockLastError();
    lastErrorNo_ = error;
    if (error != ignored && error > 10000) {
        const std::string text = SocketErrorStr(error);
        if (OnError) {
            OnError(this, static_cast<int16_t>(error), text);
        }
        throw ESockError(text);
    }
}

std::string TSockTransport::SocketErrorStr(int32_t number) {
    StatusMessage(8, "Looking Up Error Message");
    return ::SocketErrorStr(number);
}

void TSockTransport::StatusMessage(int32_t level, const std::string& text) {
    if (level > ReportLevel) {
        return;
    }
    try {
        StatusText = text;
        if (!Destroying && OnStatus) {
            OnStatus(this, StatusText);
        }
    } catch (...) {
    }
}

// ---- time-outs ------------------------------------------------------------------

void TSockTransport::TimerOn() {
    StartCountdown(TimeOut);
}

void TSockTransport::StartCountdown(int32_t interval) {
    StatusMessage(8, "Timer On");
    TimedOut = false;
    if (interval < 0) {
        throw std::range_error("Range check error");
    }
    // Enabling a running timer changes nothing: the transfers call TimerOn
    // for every chunk, and the time-out still bounds the whole capture.
    timer_->SetInterval(static_cast<uint32_t>(interval));
    timer_->SetEnabled(true);
}

void TSockTransport::TimerOff() {
    StatusMessage(8, "Timer Off");
    if (timer_) {
        timer_->SetEnabled(false);
    }
}

void TSockTransport::TimerFired() {
    StatusMessage(8, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

// ---- the stall rule ---------------------------------------------------------------

bool TSockTransport::StallWatchOn() {
    if (stallWatching_ || StallTimeOut <= 0) {
        return false;
    }
    stallWatching_ = true;
    Stalled = false;
    stallWindowBytes_ = 0;
    stallTimer_->SetInterval(static_cast<uint32_t>(StallTimeOut));
    stallTimer_->SetEnabled(true);
    return true;
}

void TSockTransport::StallWatchOff() {
    stallWatching_ = false;
    if (stallTimer_) {
        stallTimer_->SetEnabled(false);
    }
}

void TSockTransport::StallCheck() {
    if (!stallWatching_) {
        return;
    }
    if (stallWindowBytes_ >= StallMinBytes) {
        stallWindowBytes_ = 0;  // the next window starts empty
        return;
    }
    StatusMessage(8, "Transfer Stalled");
    StallWatchOff();
    Stalled = true;
    AsyncDone = true;
    Abort();
}

std::string TSockTransport::StallMessage() const {
    const std::string window = StallTimeOut % 1000 == 0 ? std::to_string(StallTimeOut / 1000) + " s"
                                                        : std::to_string(StallTimeOut) + " ms";
    return "Transfer stalled: fewer than " + std::to_string(StallMinBytes) + " bytes in " + window;
}

std::string TSockTransport::AbortText(const char* cancelText) const {
    return Stalled ? StallMessage() : std::string(cancelText);
}
