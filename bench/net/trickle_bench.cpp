// CPU use of the HTTP client while a server sends 1 KB per second: the
// client must sleep between the pieces, not poll. A server thread on
// 127.0.0.1 trickles the body; the client fetches it in this process, and
// the process's CPU time (both threads) is compared with the elapsed time.
//
//   net_trickle_bench [--seconds N]     (default 10)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "platform/socket.h"

namespace {

void Trickle(plat::Socket listener, int seconds) {
    const plat::Socket client = plat::SockAccept(listener);
    if (client == plat::kInvalidSocket) {
        return;
    }
    char request[4096];
    plat::SockRecv(client, request, sizeof request, false);
    const std::string header =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(seconds * 1024) + "\r\n\r\n";
    plat::SockSend(client, header.data(), static_cast<int>(header.size()));
    const std::string piece(1024, 't');
    for (int i = 0; i < seconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        plat::SockSend(client, piece.data(), static_cast<int>(piece.size()));
    }
    plat::SockShutdown(client, 1);
    plat::SockRecv(client, request, sizeof request, false);
    plat::SockClose(client);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: net_trickle_bench [--seconds N]\n");
            return arg == "--help" ? 0 : 3;
        }
    }
    if (seconds < 1) {
        seconds = 1;
    }
    THttpClient client;  // starts the socket service
    const plat::Socket listener = plat::SockStream(6);
    plat::SockBind(listener, plat::SockInetAddr("127.0.0.1"), 0);
    plat::SockListen(listener, 1);
    uint32_t address = 0;
    uint16_t port = 0;
    plat::SockGetSockName(listener, &address, &port);
    std::thread server(Trickle, listener, seconds);

    int packets = 0;
    client.OnPacketRecvd = [&](TSockTransport*) { ++packets; };
    const std::clock_t cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    client.Get("http://127.0.0.1:" + std::to_string(plat::SockNtohs(port)) + "/trickle");
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    server.join();
    plat::SockClose(listener);

    std::printf("trickle: %zu bytes in %d packets over %.2f s elapsed, CPU %.3f s (%.2f %%)\n",
                client.Body.size(), packets, wall, cpu, 100.0 * cpu / wall);
    return client.Body.size() == static_cast<size_t>(seconds) * 1024 ? 0 : 1;
}
