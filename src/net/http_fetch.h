// One HTTP/1.0 GET that runs on a worker thread: the caller waits while it
// connects (directly or through a proxy), sends the request, reads the
// response header and hands the body over piece by piece. It knows nothing
// of the loop and raises nothing: what happened comes back as a result.
// Several run at once, each on a socket of its own, so a list of files is
// fetched without the line standing idle between them.
//
// A FetchStop ends every fetch that runs under it, from any thread: a
// socket waiting for bytes is shut down, and waits go in slices of a tenth
// of a second that look at it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "net/http_response_header.h"
#include "platform/socket.h"

namespace net {

class FetchStop {
public:
    void Stop();
    bool Stopped() const { return stopped_.load(); }

    // A fetch's socket, while it runs.
    void Add(plat::Socket socket);
    void Remove(plat::Socket socket);

private:
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::set<plat::Socket> sockets_;
};

struct FetchRequest {
    // "http://host[:port]/path".
    std::string url;
    // Connected to instead of the URL's host when not empty.
    std::string proxy;
    int32_t proxyPort = 0;
    // The value of an Authorization line; empty for none.
    std::string authorization;
    // With `first` not negative, only bytes `first` to `last` (included;
    // -1: to the end) are asked for.
    int64_t first = -1;
    int64_t last = -1;
    // 0: as long as the system tries.
    int32_t connectTimeoutMs = 0;
    // Every `stallMs` milliseconds (0: never) must bring at least
    // `stallMinBytes` bytes, or the fetch fails.
    int32_t stallMs = 0;
    int32_t stallMinBytes = 1024;
};

struct FetchResult {
    // A response header arrived (`status` and `header` are set).
    bool answered = false;
    int status = 0;
    THttpResponseHeader header;
    // Its Content-Length; -1 when it announced none.
    int64_t announced = -1;
    // The body ran to its announced end, or to the close where none was
    // announced, and the sink took all of it.
    bool complete = false;
    int64_t bodyBytes = 0;
    // Why not complete.
    std::string problem;
};

// Sees the header before any of the body: false leaves the body unread.
using HeaderCheck = std::function<bool(const FetchResult& answer)>;
// Takes each piece of the body: false ends the fetch.
using BodySink = std::function<bool(const char* data, size_t size)>;

FetchResult Fetch(const FetchRequest& request, const HeaderCheck& check, const BodySink& sink,
                  FetchStop& stop);

}  // namespace net
