#include "support/tamper_proxy.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstring>

namespace brf_test {

namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
void CloseSocket(Socket s) {
    closesocket(s);
}
struct Startup {
    Startup() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
void CloseSocket(Socket s) {
    close(s);
}
struct Startup {};
#endif

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool SendAll(Socket s, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads until the peer closes, or until `until` appears when it is given.
std::string Receive(Socket s, const char* until) {
    std::string bytes;
    char buffer[16384];
    while (!until || bytes.find(until) == std::string::npos) {
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

}  // namespace

TamperProxy::TamperProxy(uint16_t upstreamPort, std::string requestPart, Rewrite rewrite)
    : upstream_(upstreamPort), requestPart_(std::move(requestPart)), rewrite_(std::move(rewrite)) {
    [[maybe_unused]] static Startup startup;
    const Socket s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == kNoSocket) {
        return;
    }
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseSocket(s);
        return;
    }
    listener_ = static_cast<intptr_t>(s);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TamperProxy::~TamperProxy() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listener_ != -1) {
        CloseSocket(static_cast<Socket>(listener_));
    }
}

void TamperProxy::Serve() {
    const auto listener = static_cast<Socket>(listener_);
    while (!stop_) {
        // A short wait, so that the destructor is never kept waiting.
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval wait{0, 50000};
        if (select(static_cast<int>(listener) + 1, &ready, nullptr, nullptr, &wait) <= 0) {
            continue;
        }
        const Socket client = accept(listener, nullptr, nullptr);
        if (client != kNoSocket) {
            Relay(static_cast<intptr_t>(client));
            CloseSocket(client);
        }
    }
}

void TamperProxy::Relay(intptr_t clientHandle) {
    const auto client = static_cast<Socket>(clientHandle);
    std::string request = Receive(client, "\r\n\r\n");
    const size_t range = request.find("\r\nRange: ");
    if (dropRange && range != std::string::npos) {
        request.erase(range, request.find("\r\n", range + 2) - range);
    }
    const Socket server = socket(AF_INET, SOCK_STREAM, 0);
    if (server == kNoSocket) {
        return;
    }
    sockaddr_in address = Loopback(upstream_);
    std::string response;
    if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        SendAll(server, request)) {
        response = Receive(server, nullptr);
    }
    CloseSocket(server);

    const std::string firstLine = request.substr(0, request.find("\r\n"));
    const size_t headerEnd = response.find("\r\n\r\n");
    const bool success =
        response.rfind("HTTP/1.1 200", 0) == 0 || response.rfind("HTTP/1.0 200", 0) == 0;
    if (success && headerEnd != std::string::npos &&
        firstLine.find(requestPart_) != std::string::npos) {
        std::string header = response.substr(0, headerEnd + 2);
        const std::string body = rewrite_(response.substr(headerEnd + 4));
        const size_t length = header.find("Content-Length: ");
        if (length != std::string::npos && !keepLength) {
            const size_t end = header.find("\r\n", length);
            header.replace(length, end - length, "Content-Length: " + std::to_string(body.size()));
        }
        response = header + "\r\n" + body;
        ++rewritten_;
    }
    SendAll(client, response);
}

}  // namespace brf_test
