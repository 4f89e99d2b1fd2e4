#include "net/http_fetch.h"

#include "net/rate_limit.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>
#include <vector>

namespace net {

namespace {

constexpr int kChunk = 64 * 1024;
constexpr int64_t kMaxHeader = 1 << 20;
// Receives wait this long at a time, so a stop or a stall is seen soon.
constexpr uint32_t kSliceMs = 100;

struct Target {
    std::string host;
    uint16_t port = 80;
    std::string path;
};

bool ParseTarget(const std::string& url, Target* target, std::string* problem) {
    const std::string scheme = "http://";
    std::string lowered = url.substr(0, scheme.size());
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered != scheme) {
        *problem = "not an http:// address: " + url;
        return false;
    }
    const size_t slash = url.find('/', scheme.size());
    std::string authority = url.substr(scheme.size(), slash - scheme.size());
    target->path = slash == std::string::npos ? "/" : url.substr(slash);
    const size_t colon = authority.find(':');
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        authority.resize(colon);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoi(port) > 65535) {
            *problem = "bad port in " + url;
            return false;
        }
        target->port = static_cast<uint16_t>(std::stoi(port));
    }
    if (authority.empty()) {
        *problem = "no host in " + url;
        return false;
    }
    target->host = authority;
    return true;
}

std::string SocketProblem(const std::string& what) {
    return what + " failed (socket error " + std::to_string(plat::SockLastError()) + ")";
}

// The socket of one fetch: registered with the stop while it lives.
class Connection {
public:
    explicit Connection(FetchStop& stop) : stop_(stop), socket_(plat::SockStream(0)) {
        if (socket_ != plat::kInvalidSocket) {
            stop_.Add(socket_);
        }
    }
    ~Connection() {
        if (socket_ != plat::kInvalidSocket) {
            stop_.Remove(socket_);
            plat::SockClose(socket_);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    plat::Socket socket() const { return socket_; }

private:
    FetchStop& stop_;
    plat::Socket socket_;
};

class Receiver {
public:
    Receiver(plat::Socket socket, const FetchRequest& request, FetchStop& stop)
        : socket_(socket), request_(request), stop_(stop) {
        windowStart_ = std::chrono::steady_clock::now();
    }

    // Up to `size` bytes: 0 at the close, -1 on a failure (`problem` says
    // which).
    int Receive(char* data, int size, std::string* problem) {
        for (;;) {
            if (stop_.Stopped()) {
                *problem = "stopped";
                return -1;
            }
            const int n = plat::SockRecv(socket_, data, size, false);
            if (n >= 0) {
                windowBytes_ += n;
                if (n > 0 && !Stalled(problem)) {
                    return n;
                }
                return n == 0 ? 0 : -1;
            }
            const int error = plat::SockLastError();
            if (error != plat::kWsaEWouldBlock && error != plat::kWsaETimedOut) {
                *problem = stop_.Stopped() ? "stopped" : SocketProblem("receiving");
                return -1;
            }
            if (Stalled(problem)) {
                return -1;
            }
        }
    }

    // The time the caller took to look at the header is not the server's:
    // the stall rule counts from here.
    void Restart() {
        windowStart_ = std::chrono::steady_clock::now();
        windowBytes_ = 0;
    }

private:
    bool Stalled(std::string* problem) {
        if (request_.stallMs <= 0) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - windowStart_ < std::chrono::milliseconds(request_.stallMs)) {
            return false;
        }
        if (windowBytes_ < request_.stallMinBytes) {
            *problem = "fewer than " + std::to_string(request_.stallMinBytes) + " bytes in " +
                       std::to_string(request_.stallMs) + " ms";
            return true;
        }
        windowStart_ = now;
        windowBytes_ = 0;
        return false;
    }

    plat::Socket socket_;
    const FetchRequest& request_;
    FetchStop& stop_;
    std::chrono::steady_clock::time_point windowStart_;
    int64_t windowBytes_ = 0;
};

std::string RequestText(const FetchRequest& request, const Target& target) {
    const bool proxied = !request.proxy.empty();
    const std::string host =
        target.port == 80 ? target.host : target.host + ":" + std::to_string(target.port);
    std::string text = "GET " + (proxied ? request.url : target.path) + " HTTP/1.0\r\n";
    text += "Host: " + host + "\r\n";
    text += "Accept: */*\r\n";
    if (!request.authorization.empty()) {
        text += "Authorization: " + request.authorization + "\r\n";
    }
    if (request.first >= 0) {
        text += "Range: bytes=" + std::to_string(request.first) + "-" +
                (request.last >= 0 ? std::to_string(request.last) : std::string()) + "\r\n";
    }
    return text + "\r\n";
}

}  // namespace

void FetchStop::Stop() {
    stopped_ = true;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const plat::Socket socket : sockets_) {
        plat::SockShutdown(socket, 2);
    }
}

void FetchStop::Add(plat::Socket socket) {
    const std::lock_guard<std::mutex> lock(mutex_);
    sockets_.insert(socket);
    if (stopped_) {
        plat::SockShutdown(socket, 2);
    }
}

void FetchStop::Remove(plat::Socket socket) {
    const std::lock_guard<std::mutex> lock(mutex_);
    sockets_.erase(socket);
}

FetchResult Fetch(const FetchRequest& request, const HeaderCheck& check, const BodySink& sink,
                  FetchStop& stop) {
    FetchResult result;
    Target target;
    if (!ParseTarget(request.url, &target, &result.problem)) {
        return result;
    }
    const bool proxied = !request.proxy.empty();
    const std::string host = proxied ? request.proxy : target.host;
    const uint16_t port = proxied ? static_cast<uint16_t>(request.proxyPort) : target.port;
    uint32_t address = plat::SockInetAddr(host.c_str());
    if (address == plat::kInaddrNone && !plat::SockGetHostByName(host.c_str(), &address)) {
        result.problem = "unknown host " + host;
        return result;
    }

    Connection connection(stop);
    const plat::Socket socket = connection.socket();
    if (socket == plat::kInvalidSocket) {
        result.problem = SocketProblem("opening a socket");
        return result;
    }
    if (plat::SockConnectWithin(socket, address, plat::SockHtons(port),
                                static_cast<uint32_t>(std::max(0, request.connectTimeoutMs)),
                                [&stop] { return !stop.Stopped(); }) != 0) {
        result.problem = stop.Stopped() ? "stopped" : SocketProblem("connecting to " + host);
        return result;
    }
    plat::SockSetReceiveTimeout(socket, kSliceMs);
    const std::string text = RequestText(request, target);
    for (size_t sent = 0; sent < text.size();) {
        const int n =
            plat::SockSend(socket, text.data() + sent, static_cast<int>(text.size() - sent));
        if (n <= 0) {
            result.problem = SocketProblem("sending the request");
            return result;
        }
        sent += static_cast<size_t>(n);
    }

    // The header, then whatever of the body came with it.
    Receiver receiver(socket, request, stop);
    std::vector<char> buffer(kChunk);
    std::string head;
    size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos) {
        const int n = receiver.Receive(buffer.data(), kChunk, &result.problem);
        if (n <= 0) {
            if (n == 0) {
                result.problem = "the connection closed before the response header ended";
            }
            return result;
        }
        head.append(buffer.data(), static_cast<size_t>(n));
        const size_t crlf = head.find("\r\n\r\n");
        const size_t lf = head.find("\n\n");
        if (crlf != std::string::npos && (lf == std::string::npos || crlf + 2 <= lf)) {
            headerEnd = crlf + 4;
        } else if (lf != std::string::npos) {
            headerEnd = lf + 2;
        } else if (static_cast<int64_t>(head.size()) > kMaxHeader) {
            result.problem = "response header too long";
            return result;
        }
    }
    std::vector<std::string> lines;
    for (size_t at = 0; at < headerEnd;) {
        const size_t end = head.find('\n', at);
        lines.push_back(head.substr(at, end + 1 - at));
        at = end + 1;
    }
    result.header.TakeStatusLine(lines.front());
    for (size_t k = 1; k < lines.size() && result.header.TakeLine(lines[k]); ++k) {
    }
    result.answered = true;
    result.status = result.header.StatusCode;
    result.announced = result.header.ContentLength;
    if (!check(result)) {
        return result;
    }
    receiver.Restart();

    const auto take = [&](const char* data, size_t size) {
        if (result.announced >= 0) {
            size = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(size), result.announced - result.bodyBytes));
        }
        if (size == 0) {
            return true;
        }
        result.bodyBytes += static_cast<int64_t>(size);
        if (!sink(data, size)) {
            result.problem = "the receiver stopped";
            return false;
        }
        return true;
    };
    if (!take(head.data() + headerEnd, head.size() - headerEnd)) {
        return result;
    }
    // Under a cap the body comes in pieces of a tenth of a second's worth,
    // so the pauses between them stay short beside the stall rule.
    const uint64_t rate = TransferRate().BytesPerSecond();
    const int piece =
        rate == 0 ? kChunk : static_cast<int>(std::clamp<uint64_t>(rate / 10, 1024, kChunk));
    while (result.announced < 0 || result.bodyBytes < result.announced) {
        const int n = receiver.Receive(buffer.data(), piece, &result.problem);
        if (n < 0) {
            return result;
        }
        if (n == 0) {
            if (result.announced >= 0) {
                result.problem = "the connection closed after " + std::to_string(result.bodyBytes) +
                                 " of " + std::to_string(result.announced) + " bytes";
                return result;
            }
            break;
        }
        if (!take(buffer.data(), static_cast<size_t>(n))) {
            return result;
        }
        for (int64_t wait = TransferRate().Take(static_cast<uint64_t>(n));
             wait > 0 && !stop.Stopped(); wait = TransferRate().Wait()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(wait, 100)));
        }
    }
    result.complete = true;
    return result;
}

}  // namespace net
