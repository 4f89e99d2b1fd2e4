// brfget: fetches one document the way the updater does and shows what
// happened on the wire: the request header sent, the response header, every
// event of the HTTP client in order and the bytes received.
//
//   brfget [options] URL [FILE]
//
// With FILE the body is written there (the updater's file mode), else it is
// printed to stdout. Exit status: 0 on OnSuccess, 1 on OnFailure, 2 when
// the request raised an error, 3 for bad usage.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "platform/std_streams.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitError = 2;
constexpr int kExitUsage = 3;

const char kUsage[] =
    "usage: brfget [options] URL [FILE]\n"
    "\n"
    "Fetches URL over HTTP/1.0 with the updater's HTTP client. With FILE the\n"
    "body is written to FILE, otherwise it is printed to standard output.\n"
    "Standard error shows the request header sent, the response header, each\n"
    "event of the client in order and the number of bytes received.\n"
    "\n"
    "options:\n"
    "  --proxy HOST:PORT  send the request through this HTTP proxy\n"
    "  --user NAME        user name for Basic authorization (with --pass)\n"
    "  --pass WORD        password for Basic authorization (with --user)\n"
    "  --timeout MS       time limit in milliseconds for the lookup, the connect,\n"
    "                     each header line and the whole body (default 0: none)\n"
    "  --stall S          fail when fewer than 1024 bytes of the response arrive\n"
    "                     within S seconds (default 0: never)\n"
    "  --help             show this text\n"
    "\n"
    "exit status: 0 OnSuccess, 1 OnFailure, 2 error (message on stderr), 3 bad usage\n";

struct Options {
    std::string url;
    std::string file;
    std::string proxyHost;
    int32_t proxyPort = 0;
    std::string user;
    std::string pass;
    int32_t timeout = 0;
    int32_t stallSeconds = 0;
};

bool ParseNumber(const std::string& text, int64_t max, int32_t* value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    if (v > max) {
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "brfget: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

// Returns -1 when the options are good, else the exit status.
int ParseArguments(int argc, char** argv, Options* options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitSuccess;
        } else if (arg == "--proxy") {
            if (!value(&text)) {
                return UsageError("--proxy needs HOST:PORT");
            }
            const size_t colon = text.rfind(':');
            if (colon == std::string::npos || colon == 0 ||
                !ParseNumber(text.substr(colon + 1), 65535, &options->proxyPort) ||
                options->proxyPort == 0) {
                return UsageError("--proxy needs HOST:PORT with a port from 1 to 65535, not \"" +
                                  text + "\"");
            }
            options->proxyHost = text.substr(0, colon);
        } else if (arg == "--user") {
            if (!value(&options->user)) {
                return UsageError("--user needs a name");
            }
        } else if (arg == "--pass") {
            if (!value(&options->pass)) {
                return UsageError("--pass needs a password");
            }
        } else if (arg == "--timeout") {
            if (!value(&text) || !ParseNumber(text, INT32_MAX, &options->timeout)) {
                return UsageError("--timeout needs a number of milliseconds");
            }
        } else if (arg == "--stall") {
            if (!value(&text) || !ParseNumber(text, INT32_MAX / 1000, &options->stallSeconds)) {
                return UsageError("--stall needs a number of seconds");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty() || positional.size() > 2) {
        return UsageError(positional.empty() ? "no URL given" : "too many arguments");
    }
    options->url = positional[0];
    if (positional.size() == 2) {
        options->file = positional[1];
    }
    return -1;
}

// Prints the client's events as they happen.
class Trace {
public:
    explicit Trace(THttpClient& client) : client_(client) {
        client.OnAboutToSend = [this](TSockTransport*) { AboutToSend(); };
        client.OnHostResolved = [this](TSockTransport*) {
            Line("event: OnHostResolved " + client_.GetRemoteIP());
        };
        client.OnConnect = [this](TSockTransport*) { Line("event: OnConnect"); };
        client.OnPacketRecvd = [this](TSockTransport*) { PacketRecvd(); };
        client.OnSuccess = [this](CmdType cmd) {
            EndOfResponse();
            Line("event: OnSuccess (Cmd " + std::to_string(cmd) + ", status " +
                 std::to_string(client_.StatusCode) + ")");
            outcome = kExitSuccess;
        };
        client.OnFailure = [this](CmdType cmd) {
            EndOfResponse();
            Line("event: OnFailure (Cmd " + std::to_string(cmd) + ", status " +
                 std::to_string(client_.StatusCode) + ")");
            outcome = kExitFailure;
        };
        client.OnRedirect = [this](bool&) {
            EndOfResponse();
            Line("event: OnRedirect (status " + std::to_string(client_.StatusCode) + ") to " +
                 client_.RequestURL);
        };
        client.OnAuthenticationNeeded = [this](TSockTransport*) {
            Line("event: OnAuthenticationNeeded");
        };
        client.OnInvalidHost = [this](bool& handled) {
            Line("event: OnInvalidHost (" + Target() + "); looking it up once more");
            // As the updater does: one more lookup, then the request fails.
            handled = true;
        };
        client.OnConnectionFailed = [this](TSockTransport*) {
            const int32_t error = client_.GetLastErrorNo();
            Line("event: OnConnectionFailed (" + Target() +
                 (error > 10000 ? ", " + SocketErrorStr(error) : std::string()) + ")");
        };
    }

    // After an error: what had arrived of the response.
    void EndOfResponse() {
        PrintResponseHeader();
        if (packets_ > 0) {
            Line("event: OnPacketRecvd x " + std::to_string(packets_) + ", " +
                 std::to_string(responseBytes_) + " bytes");
            packets_ = 0;
        }
    }

    uint64_t totalBytes = 0;  // body bytes of the last response
    int outcome = kExitFailure;

private:
    static void Line(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

    std::string Target() const {
        const std::string host = client_.Proxy.empty() ? client_.Host : client_.Proxy;
        const int32_t port = client_.Proxy.empty() ? client_.Port : client_.ProxyPort;
        return host + ":" + std::to_string(port);
    }

    void AboutToSend() {
        for (const std::string& line : client_.HeaderLines.Lines()) {
            Line("> " + line);
        }
        Line(">");
        headerShown_ = false;
        packets_ = 0;
        responseBytes_ = 0;
        lastCount_ = 0;
        totalBytes = 0;
    }

    void PrintResponseHeader() {
        if (headerShown_) {
            return;
        }
        headerShown_ = true;
        std::string header = client_.Header;
        size_t start = 0;
        while (start < header.size()) {
            size_t end = header.find('\n', start);
            if (end == std::string::npos) {
                end = header.size();
            }
            std::string line = header.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            Line("< " + line);
            start = end + 1;
        }
    }

    void PacketRecvd() {
        PrintResponseHeader();
        ++packets_;
        // ReceivedBytes is 32 bits; the difference stays right past 2 GiB.
        const auto count = static_cast<uint32_t>(client_.ReceivedBytes);
        responseBytes_ += static_cast<uint32_t>(count - lastCount_);
        lastCount_ = count;
        totalBytes = responseBytes_;
    }

    THttpClient& client_;
    bool headerShown_ = false;
    uint64_t packets_ = 0;
    uint64_t responseBytes_ = 0;
    uint32_t lastCount_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    // The body goes to stdout byte for byte, and the trace reads the same on
    // every system.
    plat::SetBinaryMode(stdout);
    plat::SetBinaryMode(stderr);
    Options options;
    const int parsed = ParseArguments(argc, argv, &options);
    if (parsed >= 0) {
        return parsed;
    }
    try {
        THttpClient client;
        Trace trace(client);
        client.Proxy = options.proxyHost;
        client.ProxyPort = options.proxyPort;
        client.HeaderInfo.UserId = options.user;
        client.HeaderInfo.Password = options.pass;
        client.TimeOut = options.timeout;
        client.StallTimeOut = options.stallSeconds * 1000;
        client.Header = "";
        client.InputFileMode = !options.file.empty();
        client.Body = options.file;
        try {
            client.Get(options.url);
        } catch (const std::exception& e) {
            trace.EndOfResponse();
            std::fprintf(stderr, "brfget: error: %s\n", e.what());
            return kExitError;
        }
        std::fprintf(stderr, "received %llu bytes\n",
                     static_cast<unsigned long long>(trace.totalBytes));
        if (!client.InputFileMode) {
            std::fwrite(client.Body.data(), 1, client.Body.size(), stdout);
            std::fflush(stdout);
        }
        return trace.outcome;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brfget: error: %s\n", e.what());
        return kExitError;
    }
}
