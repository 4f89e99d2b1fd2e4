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

// Adds without the undefined behaviour of a signed overflow: the counters
// are 32 bits and wrap like the platform's.
int32_t Add32(int32_t a, int64_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

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
    InitWinsock();
}

TSockTransport::~TSockTransport() {
    StatusMessage(8, "Destroy");
    try {
        TSockTransport::Abort();
        Cancel();
        timer_.reset();
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
                case plat::kFdClose:
                    if (!DataAvailable()) {
                        RequestCloseSocket();
                    }
                    break;
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
    TimerOn();
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
    TimerOn();
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

// ---- sending --------------------------------------------------------------------

void TSockTransport::Write(const std::string& text) {
    StatusMessage(8, "Write");
    const size_t length = std::min<size_t>(std::strlen(text.c_str()), kReceiveSize);
    std::memcpy(buffer_.get(), text.data(), length);
    buffer_[length] = '\0';
    SendBuffer(buffer_.get(), 0);
}

void TSockTransport::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

void TSockTransport::WaitWritable() {
    const plat::Socket socket = socket_;
    const uint32_t generation = socketGeneration_;
    writeReady_ = false;
    plat::SockAsyncSelect(socket, *window_, SocketNotifyMessage, kSocketEventMask | plat::kFdWrite);
    while (!writeReady_ && !CancelRequested && generation == socketGeneration_) {
        Idle();
    }
    if (generation == socketGeneration_) {
        plat::SockAsyncSelect(socket, *window_, SocketNotifyMessage, kSocketEventMask);
    }
}

bool TSockTransport::SendData(const char* data, int length, bool notify) {
    int sent = 0;
    while (sent < length && !CancelRequested) {
        const int n = plat::SockSend(socket_, data + sent, length - sent);
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            ErrorManager(plat::kWsaEWouldBlock);
            if (lastErrorNo_ == plat::kWsaEWouldBlock) {
                WaitWritable();
            }
            continue;
        }
        sent += n;
        if (notify) {
            SentBytes = Add32(SentBytes, n);
            if (OnPacketSent) {
                OnPacketSent(this);
            }
            Pump();
        }
    }
    return true;
}

void TSockTransport::SendBuffer(const char* buffer, int length) {
    StatusMessage(4, "Sending Buffer");
    TimerOn();
    try {
        if (!CancelRequested) {
            if (length == 0) {
                const size_t text = std::strlen(buffer);
                if (text > 65535) {
                    throw std::range_error("Range check error");
                }
                length = static_cast<int>(text);
            }
            SendData(buffer, length, false);
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::SendFile(const std::string& name) {
    StatusMessage(8, "SendFile");
    File file(std::fopen(name.c_str(), "rb"));
    if (!file) {
        throw std::runtime_error("Cannot open file \"" + name + "\"");
    }
    std::fseek(file.get(), 0, SEEK_END);
    const long size = std::ftell(file.get());
    std::fseek(file.get(), 0, SEEK_SET);
    do {
        if (!CancelRequested) {
            const size_t n = std::fread(buffer_.get(), 1, kReceiveSize, file.get());
            if (n == 0) {
                break;  // the file shrank while it was sent
            }
            SendData(buffer_.get(), static_cast<int>(n), true);
        }
    } while (std::ftell(file.get()) < size && !CancelRequested);
    file.reset();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::SendStream(std::istream& stream) {
    StatusMessage(8, "SendStream");
    stream.clear();
    stream.seekg(0, std::ios::end);
    const std::streamoff size = stream.tellg();
    stream.seekg(0);
    if (!CancelRequested) {
        SentBytes = 0;
        ExpectedBytes = static_cast<int32_t>(size);
        while (stream.tellg() < size && !CancelRequested) {
            stream.read(buffer_.get(), kReceiveSize);
            const auto n = static_cast<int>(stream.gcount());
            stream.clear();
            if (n <= 0 || !SendData(buffer_.get(), n, true)) {
                break;
            }
        }
    }
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

// ---- receiving ------------------------------------------------------------------

std::string TSockTransport::Read(int count) {
    StatusMessage(8, "Read( " + std::to_string(count) + " )");
    // The bytes are taken as they come, so a reader waiting for more never
    // finds the same bytes ready again and again.
    count = std::clamp(count, 0, kReceiveSize);
    std::string result;
    for (;;) {
        const int want = count == 0 ? kReceiveSize : count - static_cast<int>(result.size());
        const uint32_t seen = changes_;
        const int n = plat::SockRecv(socket_, buffer_.get(), want, false);
        bool wouldBlock = false;
        if (n == 0) {
            return std::string();
        }
        if (n < 0) {
            lastErrorNo_ = plat::SockLastError();
            if (lastErrorNo_ == plat::kWsaENotConn) {
                return std::string();
            }
            ErrorManager(plat::kWsaEWouldBlock);
            wouldBlock = true;
        } else {
            result.append(buffer_.get(), static_cast<size_t>(n));
        }
        const bool done =
            !result.empty() && (count == 0 || static_cast<int>(result.size()) >= count);
        Pump();
        if (CancelRequested) {
            CancelRequested = false;
            throw EAbortError("Socket send aborted");
        }
        if (done) {
            return result;
        }
        if (wouldBlock) {
            IdleUnlessNotified(seen);
        }
    }
}

std::string TSockTransport::ReadLn() {
    StatusMessage(8, "ReadLn");
    TimerOn();
    std::string result;
    try {
        int taken = 0;
        for (;;) {
            char* const at = buffer_.get() + taken;
            const uint32_t seen = changes_;
            const int n = plat::SockRecv(socket_, at, kMaxLineLength - taken, true);
            bool done = false;
            bool wouldBlock = false;
            if (n == 0) {
                result.clear();
                done = true;
            } else if (n < 0) {
                lastErrorNo_ = plat::SockLastError();
                if (lastErrorNo_ == plat::kWsaENotConn) {
                    result.clear();
                    done = true;
                } else {
                    ErrorManager(plat::kWsaEWouldBlock);
                    wouldBlock = true;
                }
            } else {
                const char* lf =
                    static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(n)));
                const int want = lf ? static_cast<int>(lf - at) + 1 : n;
                const int got = plat::SockRecv(socket_, at, want, false);
                if (got < 0) {
                    ErrorManager(plat::kWsaEWouldBlock);
                } else {
                    result.append(at, static_cast<size_t>(got));
                    taken += got;
                    done = lf != nullptr && got == want;
                }
                if (!done && taken >= kMaxLineLength) {
                    throw ESockError("Line longer than " + std::to_string(kMaxLineLength) +
                                     " bytes");
                }
            }
            Pump();
            if (CancelRequested) {
                CancelRequested = false;
                throw EAbortError("Socket readln aborted");
            }
            if (done) {
                break;
            }
            if (wouldBlock) {
                IdleUnlessNotified(seen);
            }
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    return result;
}

std::string TSockTransport::Transaction(const std::string& command) {
    StatusMessage(8, "Transaction");
    StatusCode = 0;
    Writeln(command);
    ReplyText = ReadLn();
    if (!ReplyText.empty()) {
        StatusMessage(1, ReplyText);
        int64_t value = 0;
        size_t digits = 0;
        while (digits < ReplyText.size() && digits < 10 && ReplyText[digits] >= '0' &&
               ReplyText[digits] <= '9') {
            value = value * 10 + (ReplyText[digits] - '0');
            ++digits;
        }
        if (digits > 0) {
            StatusCode = static_cast<int16_t>(static_cast<uint16_t>(value));
        }
    }
    return ReplyText;
}

void TSockTransport::Capture(const std::function<void(const char*, int)>& sink,
                             const std::function<bool()>& full, bool singlePass,
                             const char* abortText) {
    ReceivedBytes = 0;
    TimerOn();
    try {
        while (!full()) {
            const uint32_t seen = changes_;
            const int n = plat::SockRecv(socket_, buffer_.get(), kReceiveSize, false);
            bool wouldBlock = false;
            if (n > 0) {
                sink(buffer_.get(), n);
                ReceivedBytes = Add32(ReceivedBytes, n);
                if (OnPacketRecvd) {
                    OnPacketRecvd(this);
                }
                TimerOn();
            } else if (n == 0) {
                Pump();
                break;
            } else {
                lastErrorNo_ = plat::SockLastError();
                if (lastErrorNo_ == plat::kWsaENotConn) {
                    Pump();
                    break;
                }
                ErrorManager(plat::kWsaEWouldBlock);
                wouldBlock = true;
            }
            Pump();
            if (CancelRequested || singlePass) {
                break;
            }
            if (wouldBlock) {
                IdleUnlessNotified(seen);
                if (CancelRequested) {
                    break;
                }
            }
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError(abortText);
    }
}

void TSockTransport::CaptureFile(const std::string& name) {
    StatusMessage(8, "CaptureFile");
    File file(std::fopen(name.c_str(), "wb"));
    if (!file) {
        throw std::runtime_error("Cannot create file \"" + name + "\"");
    }
    std::FILE* f = file.get();
    Capture(
        [f](const char* data, int n) {
            if (std::fwrite(data, 1, static_cast<size_t>(n), f) != static_cast<size_t>(n)) {
                throw std::runtime_error("Stream write error");
            }
        },
        [] { return false; }, false, "Socket send aborted");
    if (std::fclose(file.release()) != 0) {
        throw std::runtime_error("Stream write error");
    }
}

void TSockTransport::CaptureString(std::string& text, int32_t limit) {
    StatusMessage(8, "Capture String");
    text.clear();
    Capture([&text](const char* data, int n) { text.append(data, static_cast<size_t>(n)); },
            [&text, limit] { return limit != -1 && static_cast<int64_t>(text.size()) >= limit; },
            false, "Socket capture aborted");
}

void TSockTransport::CaptureStream(std::ostream& stream, int32_t limit) {
    StatusMessage(8, "Capture Stream");
    stream.seekp(0, std::ios::end);
    Capture(
        [&stream](const char* data, int n) {
            stream.write(data, n);
            if (!stream) {
                throw std::runtime_error("Stream write error");
            }
        },
        [&stream, limit] { return limit != -1 && static_cast<int64_t>(stream.tellp()) >= limit; },
        limit == -1, "Socket capture aborted");
}

void TSockTransport::AppendFile(const std::string& name) {
    StatusMessage(8, "Append File");
    File file(std::fopen(name.c_str(), "r+b"));
    if (!file) {
        throw std::runtime_error("Cannot open file \"" + name + "\"");
    }
    std::fseek(file.get(), 0, SEEK_END);
    ReceivedBytes = 0;
    while (IsConnected && !CancelRequested) {
        const uint32_t seen = changes_;
        const int n = plat::SockRecv(socket_, buffer_.get(), kReceiveSize, false);
        bool wouldBlock = false;
        if (n > 0) {
            if (std::fwrite(buffer_.get(), 1, static_cast<size_t>(n), file.get()) !=
                static_cast<size_t>(n)) {
                throw std::runtime_error("Stream write error");
            }
            ReceivedBytes = Add32(ReceivedBytes, n);
            if (OnPacketRecvd) {
                OnPacketRecvd(this);
            }
        } else if (n == 0) {
            // The peer has closed and nothing is left to read: close as the
            // close notification would, instead of receiving nothing forever.
            RequestCloseSocket();
        } else {
            ErrorManager(plat::kWsaEWouldBlock);
            wouldBlock = true;
        }
        Pump();
        if (wouldBlock && IsConnected && !CancelRequested) {
            IdleUnlessNotified(seen);
        }
    }
    file.reset();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::FilterHeader(std::ostream& stream) {
    StatusMessage(8, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        stream.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (line.empty() || line == "\n" || line == "\r\n") {
            return;
        }
    }
}

bool TSockTransport::DataAvailable() {
    StatusMessage(8, "Data Available");
    char byte;
    return plat::SockRecv(socket_, &byte, 1, true) > 0;
}

void TSockTransport::ClearInput() {
    StatusMessage(8, "Clearing Input");
    plat::SockRecv(socket_, buffer_.get(), kReceiveSize, false);
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
    StatusMessage(8, "Timer On");
    TimedOut = false;
    if (TimeOut < 0) {
        throw std::range_error("Range check error");
    }
    timer_->SetInterval(static_cast<uint32_t>(TimeOut));
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
