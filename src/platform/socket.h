// IPv4 stream sockets with the calls, results and error numbers of Windows
// Sockets 1.1 on every platform: a failed call returns kSocketError (or
// kInvalidSocket) and SockLastError gives the Windows Sockets error number.
// A socket registered with SockAsyncSelect is non-blocking and tells a
// hidden window about its events; an unregistered socket blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace plat {

class HiddenWindow;

using Socket = uintptr_t;
inline constexpr Socket kInvalidSocket = ~static_cast<Socket>(0);
inline constexpr int kSocketError = -1;
inline constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;

// Event bits of socket notifications (low 16 bits of lParam; the high 16
// bits carry an error number, 0 for none).
inline constexpr uint32_t kFdRead = 1;
inline constexpr uint32_t kFdWrite = 2;
inline constexpr uint32_t kFdOob = 4;
inline constexpr uint32_t kFdAccept = 8;
inline constexpr uint32_t kFdConnect = 16;
inline constexpr uint32_t kFdClose = 32;

// Error numbers the callers look at.
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaEIntr = 10004;
inline constexpr int kWsaETimedOut = 10060;

struct SocketsInfo {
    uint16_t version = 0;      // low byte major, high byte minor
    uint16_t highVersion = 0;  // likewise
    std::string description;
    std::string systemStatus;
    uint16_t maxSockets = 0;
    uint16_t maxUdpDg = 0;
};

// Starts the socket service for version 1.1 (WSAStartup); 0 or an error
// number. SockCleanup undoes one start.
int SockStartup(SocketsInfo* info);
void SockCleanup();

int SockLastError();
void SockSetLastError(int error);

// An internet stream socket with the given protocol (0 or 6 for TCP).
Socket SockStream(int protocol);
int SockSetLinger(Socket s, bool on, uint16_t seconds);
// Registers the socket for notifications of `events` as message `msg` of
// `window` (wParam the socket, lParam the event and error) and makes it
// non-blocking. A read notification comes again only after the next
// receive, a write notification only after a send that would block, a
// connect and a close notification once.
int SockAsyncSelect(Socket s, const HiddenWindow& window, uint32_t msg, uint32_t events);
// Connects to `address` and `port`, both in network byte order. A
// non-blocking socket fails with kWsaEWouldBlock and reports the outcome
// as a connect notification.
int SockConnect(Socket s, uint32_t address, uint16_t port);
// For a socket that is not registered, on a worker thread: connects while
// the caller waits, at most `milliseconds` (0: as long as the system
// tries), and gives up early once `keepWaiting` says no. Fails with
// kWsaETimedOut after the time, kWsaEIntr when given up; the socket blocks
// again afterwards.
int SockConnectWithin(Socket s, uint32_t address, uint16_t port, uint32_t milliseconds,
                      const std::function<bool()>& keepWaiting);
int SockSend(Socket s, const void* data, int length);
// Receives (or with `peek` copies without removing) up to `length` bytes;
// 0 when the peer has closed the connection.
int SockRecv(Socket s, void* data, int length, bool peek);
// Closes the socket; notifications for it that were not handled yet are
// dropped, so none reaches the socket that may get the same number next.
int SockClose(Socket s);

// Dotted address to network byte order; kInaddrNone when it is none.
uint32_t SockInetAddr(const char* text);
std::string SockInetNtoa(uint32_t address);
uint16_t SockHtons(uint16_t value);
uint16_t SockNtohs(uint16_t value);

// The socket's own address and port (network byte order).
int SockGetSockName(Socket s, uint32_t* address, uint16_t* port);
// The peer's address and port (network byte order).
int SockGetPeerName(Socket s, uint32_t* address, uint16_t* port);
// The local host's name; empty on failure.
std::string SockGetHostName();
// The first address of a name, looked up while the caller waits; false when
// there is none.
bool SockGetHostByName(const char* name, uint32_t* address);

// Blocking server side, for tools and tests.
int SockBind(Socket s, uint32_t address, uint16_t port);
int SockListen(Socket s, int backlog);
Socket SockAccept(Socket s);
// how: 0 receiving, 1 sending, 2 both.
int SockShutdown(Socket s, int how);
// A blocking receive gives up after `milliseconds` (0: never).
int SockSetReceiveTimeout(Socket s, uint32_t milliseconds);
// A blocking send gives up after `milliseconds` (0: never).
int SockSetSendTimeout(Socket s, uint32_t milliseconds);

}  // namespace plat
