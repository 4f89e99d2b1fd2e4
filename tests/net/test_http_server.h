// A scriptable HTTP server for the network tests: it listens on 127.0.0.1
// at a port the system picks, reads each request on its own thread and lets
// the test's script answer it byte for byte (or slowly, or not at all).
// Connections are served one after the other, or, when asked, each on a
// thread of its own as they come.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

class ServerConnection {
public:
    ServerConnection(plat::Socket socket, const std::atomic<bool>& stopping)
        : socket_(socket), stopping_(stopping) {}

    // Sends the bytes; false when the client has gone.
    bool Send(const std::string& bytes);
    // Sends the bytes in pieces of `chunk` bytes with a pause of `pauseMs`
    // before each piece; false when the client has gone.
    bool SendSlowly(const std::string& bytes, size_t chunk, int pauseMs);
    // Waits until the client closes the connection (or the server stops),
    // dropping whatever it sends.
    void WaitForClose();
    // Reads whatever arrives for `ms` milliseconds.
    std::string ReadFor(int ms);
    // Ends the connection with a reset instead of an orderly close.
    void Reset();

    // Index of the connection, from 0.
    int index = 0;
    // The request as received: header block and announced body.
    std::string request;

private:
    friend class TestHttpServer;
    // Reads a request header and the body its Content-Length announces.
    std::string ReadRequest();

    plat::Socket socket_;
    const std::atomic<bool>& stopping_;
};

class TestHttpServer {
public:
    using Script = std::function<void(ServerConnection&)>;

    explicit TestHttpServer(Script script, bool concurrent = false);
    ~TestHttpServer();

    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string Url(const std::string& path) const;

    // The requests received so far, in order.
    std::vector<std::string> Requests() const;
    // The path of each request (second field of its first line).
    std::vector<std::string> Paths() const;

    // A response: status line, header lines (each ended by CR LF here) and
    // body.
    static std::string Response(const std::string& statusLine,
                                const std::vector<std::string>& headers, const std::string& body);

private:
    void Serve();
    void Answer(plat::Socket client, int index);

    Script script_;
    plat::Socket listener_ = plat::kInvalidSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
    bool concurrent_ = false;
    std::vector<std::thread> answering_;
};

// A port on 127.0.0.1 on which nothing listens (it was free a moment ago).
uint16_t UnusedPort();
