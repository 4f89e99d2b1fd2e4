#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/hidden_window.h"

namespace plat {

namespace {

SOCKET S(Socket s) {
    return static_cast<SOCKET>(s);
}

sockaddr_in Address(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = port;
    sa.sin_addr.s_addr = address;
    return sa;
}

// Where each registered socket's notifications go, so that closing it can
// drop those still queued. Worker threads close sockets of their own too,
// hence the lock.
std::map<SOCKET, std::pair<HWND, UINT>>& Registrations() {
    static std::map<SOCKET, std::pair<HWND, UINT>> registrations;
    return registrations;
}
std::mutex registrationsMutex;

void DropQueuedNotifications(SOCKET s, HWND hwnd, UINT msg) {
    std::vector<MSG> others;
    MSG m;
    while (PeekMessageA(&m, hwnd, msg, msg, PM_REMOVE)) {
        if (static_cast<SOCKET>(m.wParam) != s) {
            others.push_back(m);
        }
    }
    for (const MSG& o : others) {
        PostMessageA(o.hwnd, o.message, o.wParam, o.lParam);
    }
}

}  // namespace

int SockStartup(SocketsInfo* info) {
    WSADATA data{};
    const int error = WSAStartup(MAKEWORD(1, 1), &data);
    if (error != 0) {
        return error;
    }
    if (info) {
        info->version = data.wVersion;
        info->highVersion = data.wHighVersion;
        info->description = data.szDescription;
        info->systemStatus = data.szSystemStatus;
        info->maxSockets = data.iMaxSockets;
        info->maxUdpDg = data.iMaxUdpDg;
    }
    return 0;
}

void SockCleanup() {
    WSACleanup();
}

int SockLastError() {
    return WSAGetLastError();
}

void SockSetLastError(int error) {
    WSASetLastError(error);
}

Socket SockStream(int protocol) {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, protocol);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(s);
}

int SockSetLinger(Socket s, bool on, uint16_t seconds) {
    linger value{};
    value.l_onoff = on ? 1 : 0;
    value.l_linger = seconds;
    return setsockopt(S(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0
               ? 0
               : kSocketError;
}

int SockAsyncSelect(Socket s, const HiddenWindow& window, uint32_t msg, uint32_t events) {
    const HWND hwnd = reinterpret_cast<HWND>(window.Handle());
    if (WSAAsyncSelect(S(s), hwnd, msg, static_cast<long>(events)) != 0) {
        return kSocketError;
    }
    const std::lock_guard<std::mutex> lock(registrationsMutex);
    Registrations()[S(s)] = {hwnd, msg};
    return 0;
}

int SockConnect(Socket s, uint32_t address, uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    return connect(S(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : kSocketError;
}

int SockConnectWithin(Socket s, uint32_t address, uint16_t port, uint32_t milliseconds,
                      const std::function<bool()>& keepWaiting) {
    u_long on = 1;
    u_long off = 0;
    ioctlsocket(S(s), FIONBIO, &on);
    const sockaddr_in sa = Address(address, port);
    int error = connect(S(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0
                    ? 0
                    : WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        // Waited for in short slices, so that giving up is noticed soon.
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(S(s), &writable);
            FD_SET(S(s), &failed);
            timeval slice{0, 100000};
            if (select(0, nullptr, &writable, &failed, &slice) > 0) {
                error = 0;
                if (FD_ISSET(S(s), &failed)) {
                    int length = sizeof error;
                    getsockopt(S(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &length);
                    if (error == 0) {
                        error = WSAECONNREFUSED;
                    }
                }
                break;
            }
            if (!keepWaiting()) {
                error = WSAEINTR;
                break;
            }
            if (milliseconds > 0 && std::chrono::steady_clock::now() - start >=
                                        std::chrono::milliseconds(milliseconds)) {
                error = WSAETIMEDOUT;
                break;
            }
        }
    }
    ioctlsocket(S(s), FIONBIO, &off);
    if (error != 0) {
        WSASetLastError(error);
        return kSocketError;
    }
    return 0;
}

int SockSend(Socket s, const void* data, int length) {
    const int n = send(S(s), static_cast<const char*>(data), length, 0);
    return n == SOCKET_ERROR ? kSocketError : n;
}

int SockRecv(Socket s, void* data, int length, bool peek) {
    const int n = recv(S(s), static_cast<char*>(data), length, peek ? MSG_PEEK : 0);
    return n == SOCKET_ERROR ? kSocketError : n;
}

int SockClose(Socket s) {
    if (closesocket(S(s)) != 0) {
        return kSocketError;
    }
    std::pair<HWND, UINT> registered{nullptr, 0};
    {
        const std::lock_guard<std::mutex> lock(registrationsMutex);
        auto it = Registrations().find(S(s));
        if (it == Registrations().end()) {
            return 0;
        }
        registered = it->second;
        Registrations().erase(it);
    }
    DropQueuedNotifications(S(s), registered.first, registered.second);
    return 0;
}

uint32_t SockInetAddr(const char* text) {
    return text == nullptr ? kInaddrNone : static_cast<uint32_t>(inet_addr(text));
}

std::string SockInetNtoa(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    const char* text = inet_ntoa(a);
    return text ? text : "";
}

uint16_t SockHtons(uint16_t value) {
    return htons(value);
}

uint16_t SockNtohs(uint16_t value) {
    return ntohs(value);
}

int SockGetSockName(Socket s, uint32_t* address, uint16_t* port) {
    sockaddr_in sa{};
    int length = sizeof sa;
    if (getsockname(S(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        return kSocketError;
    }
    *address = sa.sin_addr.s_addr;
    *port = sa.sin_port;
    return 0;
}

int SockGetPeerName(Socket s, uint32_t* address, uint16_t* port) {
    sockaddr_in sa{};
    int length = sizeof sa;
    if (getpeername(S(s), reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        return kSocketError;
    }
    *address = sa.sin_addr.s_addr;
    *port = sa.sin_port;
    return 0;
}

std::string SockGetHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    return name;
}

bool SockGetHostByName(const char* name, uint32_t* address) {
    const hostent* entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return false;
    }
    CopyMemory(address, entry->h_addr_list[0], 4);
    return true;
}

int SockBind(Socket s, uint32_t address, uint16_t port) {
    const sockaddr_in sa = Address(address, port);
    return bind(S(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : kSocketError;
}

int SockListen(Socket s, int backlog) {
    return listen(S(s), backlog) == 0 ? 0 : kSocketError;
}

Socket SockAccept(Socket s) {
    const SOCKET client = accept(S(s), nullptr, nullptr);
    return client == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(client);
}

int SockShutdown(Socket s, int how) {
    return shutdown(S(s), how) == 0 ? 0 : kSocketError;
}

namespace {
int SetTimeout(Socket s, int option, uint32_t milliseconds) {
    const DWORD value = milliseconds;
    return setsockopt(S(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0
               ? 0
               : kSocketError;
}
}  // namespace

int SockSetReceiveTimeout(Socket s, uint32_t milliseconds) {
    return SetTimeout(s, SO_RCVTIMEO, milliseconds);
}

int SockSetSendTimeout(Socket s, uint32_t milliseconds) {
    return SetTimeout(s, SO_SNDTIMEO, milliseconds);
}

}  // namespace plat
