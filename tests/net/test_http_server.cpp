#include "test_http_server.h"

#include <chrono>
#include <cstdlib>

#include "platform/socket.h"

namespace {

// How long a send may wait for a client that reads nothing.
constexpr uint32_t kSendGiveUpMs = 5000;

// Blocking receives give up after this long, so a stopping server does not
// wait for a client that never speaks.
constexpr uint32_t kReceivePollMs = 100;
// A request that has not arrived after this long is taken as it is.
constexpr int kRequestPatienceMs = 10000;

uint32_t Loopback() {
    return plat::SockInetAddr("127.0.0.1");
}

// Keeps the socket service started for as long as the process runs.
void StartSockets() {
    static const bool started = [] {
        plat::SocketsInfo info;
        return plat::SockStartup(&info) == 0;
    }();
    (void)started;
}

size_t ContentLength(const std::string& header) {
    const std::string name = "\ncontent-length:";
    std::string lower = header;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const size_t at = lower.find(name);
    if (at == std::string::npos) {
        return 0;
    }
    return std::strtoul(header.c_str() + at + name.size(), nullptr, 10);
}

}  // namespace

bool ServerConnection::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n =
            plat::SockSend(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool ServerConnection::SendSlowly(const std::string& bytes, size_t chunk, int pauseMs) {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        if (stopping_ || !Send(bytes.substr(at, chunk))) {
            return false;
        }
    }
    return true;
}

void ServerConnection::WaitForClose() {
    char buffer[4096];
    while (!stopping_) {
        const int n = plat::SockRecv(socket_, buffer, sizeof buffer, false);
        if (n == 0 || (n < 0 && plat::SockLastError() != 10060 && plat::SockLastError() != 10035)) {
            return;
        }
    }
}

std::string ServerConnection::ReadFor(int ms) {
    std::string data;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buffer[4096];
    while (!stopping_ && std::chrono::steady_clock::now() < end) {
        const int n = plat::SockRecv(socket_, buffer, sizeof buffer, false);
        if (n == 0) {
            break;
        }
        if (n > 0) {
            data.append(buffer, static_cast<size_t>(n));
        } else if (plat::SockLastError() != 10060 && plat::SockLastError() != 10035) {
            break;
        }
    }
    return data;
}

void ServerConnection::Reset() {
    if (socket_ != plat::kInvalidSocket) {
        plat::SockSetLinger(socket_, true, 0);
        plat::SockClose(socket_);
        socket_ = plat::kInvalidSocket;
    }
}

std::string ServerConnection::ReadRequest() {
    std::string data;
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestPatienceMs);
    char buffer[4096];
    size_t headerEnd = std::string::npos;
    while (!stopping_ && std::chrono::steady_clock::now() < end) {
        if (headerEnd == std::string::npos) {
            headerEnd = data.find("\r\n\r\n");
        }
        if (headerEnd != std::string::npos &&
            data.size() >= headerEnd + 4 + ContentLength(data.substr(0, headerEnd + 2))) {
            break;
        }
        const int n = plat::SockRecv(socket_, buffer, sizeof buffer, false);
        if (n == 0) {
            break;
        }
        if (n > 0) {
            data.append(buffer, static_cast<size_t>(n));
        } else if (plat::SockLastError() != 10060 && plat::SockLastError() != 10035) {
            break;
        }
    }
    return data;
}

TestHttpServer::TestHttpServer(Script script, bool concurrent)
    : script_(std::move(script)), concurrent_(concurrent) {
    StartSockets();
    listener_ = plat::SockStream(6);
    plat::SockBind(listener_, Loopback(), 0);
    plat::SockListen(listener_, 8);
    uint32_t address = 0;
    uint16_t port = 0;
    plat::SockGetSockName(listener_, &address, &port);
    port_ = plat::SockNtohs(port);
    thread_ = std::thread([this] { Serve(); });
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    // A connection of our own ends the wait in accept.
    const plat::Socket wake = plat::SockStream(6);
    plat::SockConnect(wake, Loopback(), plat::SockHtons(port_));
    thread_.join();
    for (std::thread& answering : answering_) {
        answering.join();
    }
    plat::SockClose(wake);
    plat::SockClose(listener_);
}

std::string TestHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<std::string> TestHttpServer::Paths() const {
    std::vector<std::string> paths;
    for (const std::string& r : Requests()) {
        const size_t a = r.find(' ');
        const size_t b = a == std::string::npos ? a : r.find(' ', a + 1);
        paths.push_back(b == std::string::npos ? std::string() : r.substr(a + 1, b - a - 1));
    }
    return paths;
}

std::string TestHttpServer::Response(const std::string& statusLine,
                                     const std::vector<std::string>& headers,
                                     const std::string& body) {
    std::string r = statusLine + "\r\n";
    for (const std::string& h : headers) {
        r += h + "\r\n";
    }
    return r + "\r\n" + body;
}

void TestHttpServer::Serve() {
    for (int index = 0;; ++index) {
        const plat::Socket client = plat::SockAccept(listener_);
        if (stopping_ || client == plat::kInvalidSocket) {
            if (client != plat::kInvalidSocket) {
                plat::SockClose(client);
            }
            return;
        }
        if (concurrent_) {
            answering_.emplace_back([this, client, index] { Answer(client, index); });
        } else {
            Answer(client, index);
        }
    }
}

void TestHttpServer::Answer(plat::Socket client, int index) {
    plat::SockSetReceiveTimeout(client, kReceivePollMs);
    // A client that stops reading without closing (Wine may keep a closed
    // socket open for a while) must not hold the script for ever.
    plat::SockSetSendTimeout(client, kSendGiveUpMs);
    ServerConnection connection(client, stopping_);
    connection.index = index;
    connection.request = connection.ReadRequest();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(connection.request);
    }
    script_(connection);
    if (connection.socket_ != plat::kInvalidSocket) {
        // An orderly end: what was sent reaches the client before the close.
        plat::SockShutdown(client, 1);
        connection.ReadFor(static_cast<int>(kReceivePollMs));
        plat::SockClose(client);
    }
}

uint16_t UnusedPort() {
    StartSockets();
    const plat::Socket s = plat::SockStream(6);
    plat::SockBind(s, Loopback(), 0);
    uint32_t address = 0;
    uint16_t port = 0;
    plat::SockGetSockName(s, &address, &port);
    plat::SockClose(s);
    return plat::SockNtohs(port);
}
