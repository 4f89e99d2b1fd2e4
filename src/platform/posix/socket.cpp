#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/hidden_window.h"
#include "platform/posix/loop_hub.h"
#include "platform/posix/socket_errors.h"

namespace plat {

namespace {

thread_local int lastError = 0;

int Fail(int wsaError) {
    lastError = wsaError;
    return kSocketError;
}

int FailErrno() {
    return Fail(WsaErrorFromErrno(errno));
}

int Fd(Socket s) {
    return static_cast<int>(s);
}

bool ValidFd(Socket s) {
    return s != kInvalidSocket && s <= 0x7FFFFFFF;
}

sockaddr_in Address(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = port;
    sa.sin_addr.s_addr = address;
    return sa;
}

}  // namespace

int SockStartup(SocketsInfo* info) {
    if (info) {
        info->version = 0x0101;
        info->highVersion = 0x0202;
        info->description = "BSD sockets, TCP/IP";
        info->systemStatus = "Running";
        rlimit limit{};
        const rlim_t files = getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
        info->maxSockets = static_cast<uint16_t>(std::min<rlim_t>(files, 0xFFFF));
        info->maxUdpDg = 65507;
    }
    return 0;
}

void SockCleanup() {}

int SockLastError() {
    return lastError;
}

void SockSetLastError(int error) {
    lastError = error;
}

Socket SockStream(int protocol) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return kInvalidSocket;
    }
    return static_cast<Socket>(fd);
}

int SockSetLinger(Socket s, bool on, uint16_t seconds) {
    linger value{on ? 1 : 0, seconds};
    if (setsockopt(Fd(s), SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) {
        return FailErrno();
    }
    return 0;
}

int SockAsyncSelect(Socket s, const HiddenWindow& window, uint32_t msg, uint32_t events) {
    if (!ValidFd(s)) {
        return Fail(10038);
    }
    const int fd = Fd(s);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return FailErrno();
    }
    LoopHub::Get().Watch(fd, window.Handle(), msg, events);
    return 0;
}

int SockConnect(Socket s, uint32_t address, uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    const int fd = Fd(s);
    const int result = connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    const int error = result == 0 ? 0 : errno;
    LoopHub& hub = LoopHub::Get();
    if (!hub.Watched(fd)) {
        return result == 0 ? 0 : Fail(WsaErrorFromErrno(error));
    }
    // A registered socket never connects while the caller waits: the
    // outcome, also a failure found at once, comes as a notification.
    if (result == 0 || error == EINPROGRESS) {
        hub.ConnectStarted(fd, 0);
        return Fail(kWsaEWouldBlock);
    }
    if (error == EISCONN || error == EALREADY || error == EBADF || error == ENOTSOCK ||
        error == EINVAL || error == EAFNOSUPPORT) {
        return Fail(WsaErrorFromErrno(error));
    }
    hub.ConnectStarted(fd, WsaErrorFromErrno(error));
    return Fail(kWsaEWouldBlock);
}

int SockConnectWithin(Socket s, uint32_t address, uint16_t port, uint32_t milliseconds,
                      const std::function<bool()>& keepWaiting) {
    const int fd = Fd(s);
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const sockaddr_in sa = Address(address, port);
    int error = connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        // Waited for in short slices, so that giving up is noticed soon.
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            pollfd entry{fd, POLLOUT, 0};
            if (poll(&entry, 1, 100) > 0) {
                socklen_t length = sizeof error;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                break;
            }
            if (!keepWaiting()) {
                fcntl(fd, F_SETFL, flags);
                return Fail(kWsaEIntr);
            }
            if (milliseconds > 0 && std::chrono::steady_clock::now() - start >=
                                        std::chrono::milliseconds(milliseconds)) {
                fcntl(fd, F_SETFL, flags);
                return Fail(kWsaETimedOut);
            }
        }
    }
    fcntl(fd, F_SETFL, flags);
    return error == 0 ? 0 : Fail(WsaErrorFromErrno(error));
}

int SockSend(Socket s, const void* data, int length) {
    const int fd = Fd(s);
    const ssize_t n = send(fd, data, static_cast<size_t>(std::max(length, 0)), MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            LoopHub::Get().SendBlocked(fd);
        }
        return FailErrno();
    }
    return static_cast<int>(n);
}

int SockRecv(Socket s, void* data, int length, bool peek) {
    const int fd = Fd(s);
    const ssize_t n = recv(fd, data, static_cast<size_t>(std::max(length, 0)), peek ? MSG_PEEK : 0);
    const int error = errno;
    LoopHub::Get().ReceiveCalled(fd);
    if (n < 0) {
        return Fail(WsaErrorFromErrno(error));
    }
    return static_cast<int>(n);
}

int SockClose(Socket s) {
    if (!ValidFd(s)) {
        return Fail(10038);
    }
    LoopHub::Get().Unwatch(Fd(s));
    if (close(Fd(s)) != 0) {
        return FailErrno();
    }
    return 0;
}

uint32_t SockInetAddr(const char* text) {
    // Like inet_addr: four dotted parts; 255.255.255.255 cannot be told from
    // the failure value.
    in_addr address{};
    if (text == nullptr || inet_aton(text, &address) == 0) {
        return kInaddrNone;
    }
    return address.s_addr;
}

std::string SockInetNtoa(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

uint16_t SockHtons(uint16_t value) {
    return htons(value);
}

uint16_t SockNtohs(uint16_t value) {
    return ntohs(value);
}

int SockGetSockName(Socket s, uint32_t* address, uint16_t* port) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        return FailErrno();
    }
    *address = sa.sin_addr.s_addr;
    *port = sa.sin_port;
    return 0;
}

int SockGetPeerName(Socket s, uint32_t* address, uint16_t* port) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getpeername(Fd(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        return FailErrno();
    }
    *address = sa.sin_addr.s_addr;
    *port = sa.sin_port;
    return 0;
}

std::string SockGetHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        FailErrno();
        return std::string();
    }
    return name;
}

bool SockGetHostByName(const char* name, uint32_t* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) {
        Fail(11001);
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return true;
}

int SockBind(Socket s, uint32_t address, uint16_t port) {
    const int one = 1;
    setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in sa = Address(address, port);
    if (bind(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        return FailErrno();
    }
    return 0;
}

int SockListen(Socket s, int backlog) {
    if (listen(Fd(s), backlog) != 0) {
        return FailErrno();
    }
    return 0;
}

Socket SockAccept(Socket s) {
    const int fd = accept4(Fd(s), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        FailErrno();
        return kInvalidSocket;
    }
    return static_cast<Socket>(fd);
}

int SockShutdown(Socket s, int how) {
    const int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (shutdown(Fd(s), mode) != 0) {
        return FailErrno();
    }
    return 0;
}

namespace {
int SetTimeout(Socket s, int option, uint32_t milliseconds) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
    tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    if (setsockopt(Fd(s), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
        return FailErrno();
    }
    return 0;
}
}  // namespace

int SockSetReceiveTimeout(Socket s, uint32_t milliseconds) {
    return SetTimeout(s, SO_RCVTIMEO, milliseconds);
}

int SockSetSendTimeout(Socket s, uint32_t milliseconds) {
    return SetTimeout(s, SO_SNDTIMEO, milliseconds);
}

}  // namespace plat
