// TSockTransport: one TCP stream socket whose asynchronous notifications are
// turned into calls that look blocking. Every operation that has to wait
// (host lookup, connect, reading a line, capturing data, a send the socket
// cannot take yet) keeps handling the loop's messages until its condition is
// met, it is cancelled (Cancel, Abort, or Disconnect from a handler) or the
// time-out timer fires; between messages the thread sleeps.
//
// Status texts of the operations go to OnStatus when their level is at most
// ReportLevel. Failures raise ESockError or, for a cancelled transfer,
// EAbortError. The server side (listening, accepting) is not part of this
// class: the updater only connects.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "net/sock_errors.h"
#include "net/thread_timer.h"
#include "platform/hidden_window.h"
#include "platform/host_lookup.h"
#include "platform/socket.h"

class TSockTransport;

using TNotifyEvent = std::function<void(TSockTransport* sender)>;
using THandlerEvent = std::function<void(bool& handled)>;
using TOnHostResolved = std::function<void(TSockTransport* sender)>;
using TOnStatus = std::function<void(TSockTransport* sender, const std::string& status)>;
using TOnErrorEvent =
    std::function<void(TSockTransport* sender, int16_t errorNumber, const std::string& message)>;

// Message numbers of the transport's hidden window.
inline constexpr uint32_t SocketNotifyMessage = plat::kWmUser + 101;  // 1125
inline constexpr uint32_t LookupDoneMessage = plat::kWmUser + 102;    // 1126
// Read, out-of-band, accept, connect and close.
inline constexpr uint32_t kSocketEventMask = 61;

// The hidden notification window of a transport, of the class
// "SockWindowClass"; messages from 1125 on go to the transport's Wndproc.
std::unique_ptr<plat::HiddenWindow> SockAllocateHWnd(TSockTransport* owner);

class TSockTransport {
public:
    // Size of the I/O buffer; receives ask for at most kReceiveSize bytes.
    static constexpr int kBufferSize = 65540;
    static constexpr int kReceiveSize = 65536;
    // The longest line ReadLn assembles, line end included.
    static constexpr int kMaxLineLength = 65536;

    // Starts the socket service (first transport of the process) and opens
    // a socket. Raises ESockError "Initializaton of windows sockets failed".
    TSockTransport();
    virtual ~TSockTransport();

    TSockTransport(const TSockTransport&) = delete;
    TSockTransport& operator=(const TSockTransport&) = delete;

    // Published properties.
    std::string Host;
    int32_t Port = 0;
    // Milliseconds; 0: nothing times out. The countdown bounds a whole
    // capture, while each ReadLn, host lookup and connect starts one of its
    // own.
    int32_t TimeOut = 0;
    int32_t ReportLevel = 0;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    // When set, the proxy is resolved and connected to instead of Host and
    // Port; ProxyPort is used even when it is 0.
    std::string Proxy;
    int32_t ProxyPort = 0;

    // When not 0, bounds the host lookup and the connect instead of
    // TimeOut (milliseconds), so a caller can limit them without limiting
    // how long a transfer may take.
    int32_t ConnectTimeOut = 0;

    // The stall rule for unattended runs: while a watch runs (a capture, a
    // ReadLn, or the HTTP client's whole response), every StallTimeOut
    // milliseconds must bring at least StallMinBytes bytes, else the
    // transfer is aborted like a time-out and Stalled is set. StallTimeOut
    // 0 switches the rule off. A long but steady download never stalls.
    int32_t StallTimeOut = 0;
    int32_t StallMinBytes = 1024;

    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    TOnErrorEvent OnError;
    TNotifyEvent OnDataReady;
    TNotifyEvent OnAcceptNotify;
    THandlerEvent OnNotConnected;

    // Facts about the socket service, filled by the first transport only.
    std::vector<std::string> WinsockInfo;

    bool IsConnected = false;
    bool CancelRequested = false;
    bool TimedOut = false;
    bool Stalled = false;  // the last watch ended a transfer; cleared by Connect
    bool AsyncDone = false;
    bool LastNotifyOk = false;
    bool Destroying = false;

    std::string StatusText;
    int16_t StatusCode = 0;
    std::string ReplyText;
    int32_t ReceivedBytes = 0;
    int32_t SentBytes = 0;
    int32_t ExpectedBytes = 0;

    // Connection.
    virtual void Connect();
    virtual void Disconnect();
    void ResolveRemoteHost();
    void RequestCloseSocket();
    void CertifyConnect();
    void Cancel();
    virtual void Abort();

    // Sending.
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    void SendBuffer(const char* buffer, int length);
    void SendFile(const std::string& name);
    void SendStream(std::istream& stream);

    // Receiving.
    std::string Read(int count);
    std::string ReadLn();
    virtual std::string Transaction(const std::string& command);
    // With `stopAbove` not negative, the capture also ends as soon as it
    // has stored more than that many bytes (the connection stays open).
    void CaptureFile(const std::string& name, int64_t stopAbove = -1);
    void CaptureStream(std::ostream& stream, int32_t limit);
    void CaptureString(std::string& text, int32_t limit, int64_t stopAbove = -1);
    void AppendFile(const std::string& name);
    void FilterHeader(std::ostream& stream);
    bool DataAvailable();
    void ClearInput();

    // Addresses.
    void Close(plat::Socket socket);
    std::string GetRemoteIP();
    std::string GetLocalIP();
    std::string GetLocalAddress();
    std::string GetPortString();

    // Errors and status.
    int32_t GetLastErrorNo();
    void SetLastErrorNo(int32_t number);
    void SetWSAError(int32_t number, const std::string& text);
    void ErrorManager(int32_t ignored);
    std::string SocketErrorStr(int32_t number);
    void StatusMessage(int32_t level, const std::string& text);

    // Time-out control.
    void TimerOn();
    void TimerOff();
    void TimerFired();

    // Starts a stall watch unless one is running (or the rule is off); true
    // when this call started it, and only then should the caller end it.
    bool StallWatchOn();
    void StallWatchOff();
    // The message of a transfer that the stall rule ended.
    std::string StallMessage() const;

    // Handler of the notification window's messages.
    intptr_t Wndproc(uint32_t msg, uintptr_t wParam, intptr_t lParam);

    plat::Socket Handle() const { return socket_; }

    // Bytes stored by the current or last capture, without the 32-bit
    // wrap of ReceivedBytes.
    int64_t CapturedBytes() const { return captured_; }
    // The last receive ended because the peer closed the connection (not
    // because of a Disconnect here); cleared by Connect and Disconnect.
    bool ClosedByPeer() const { return closedByPeer_; }

private:
    void InitWinsock();
    // A fresh socket registered for notifications; `linger` on with time 0
    // makes closing reset the connection at once.
    void OpenSocket(int protocol, bool linger);
    // Sends `length` bytes from `data`; ends early on a send result of 0
    // or a cancel. `notify` counts SentBytes and fires OnPacketSent.
    bool SendData(const char* data, int length, bool notify);
    // Waits until the socket can take more data, a cancel, or a close.
    void WaitWritable();
    // Receives until the peer closes, the socket is gone, a cancel, or
    // `full` says the target has enough; `sink` stores each chunk.
    void Capture(const std::function<void(const char*, int)>& sink,
                 const std::function<bool()>& full, bool singlePass, const char* abortText);
    // Peeks one byte: 1 when one is there, 0 when the peer closed, else the
    // socket error (kWsaEWouldBlock when nothing has arrived yet).
    int32_t PeekOne();
    // After the peer reset the connection, raises its error instead of
    // letting the end look like an orderly close.
    void RaiseCloseError();
    // Starts the time-out countdown with `interval` milliseconds; a
    // running countdown goes on unchanged.
    void StartCountdown(int32_t interval);
    // The end of a stall window: too few bytes abort the transfer.
    void StallCheck();
    // Counts received bytes for the stall watch.
    void CountForStall(int n) { stallWindowBytes_ += n; }
    // The text of the exception that a cancelled receive raises.
    std::string AbortText(const char* cancelText) const;
    // Handles pending messages without waiting.
    void Pump();
    // Sleeps until the next message, then handles what is pending.
    void Idle();
    // Idle, unless a socket notification was handled or the socket was
    // closed since `seen` was taken from changes_.
    void IdleUnlessNotified(uint32_t seen);

    int32_t lastErrorNo_ = 0;
    plat::Socket socket_ = plat::kInvalidSocket;
    // Counts closed sockets, so a wait notices that its socket was replaced.
    uint32_t socketGeneration_ = 0;
    bool writeReady_ = false;
    // The error of a connection that the peer reset, kept from the close
    // notification (which closes the socket) for the reader.
    int32_t closeError_ = 0;
    bool closedByPeer_ = false;
    int64_t captured_ = 0;
    // Counts socket notifications handled and sockets closed.
    uint32_t changes_ = 0;
    std::unique_ptr<char[]> buffer_;
    uint32_t remoteAddress_ = 0;  // network byte order, 0 when unresolved
    uint16_t remotePort_ = 0;     // network byte order
    std::unique_ptr<plat::HiddenWindow> window_;
    plat::HostLookup lookup_;
    std::unique_ptr<TThreadTimer> timer_;
    std::unique_ptr<TThreadTimer> stallTimer_;
    bool stallWatching_ = false;
    int64_t stallWindowBytes_ = 0;
    bool winsockStarted_ = false;
};
