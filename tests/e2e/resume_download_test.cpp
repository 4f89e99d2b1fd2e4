// Downloads that continue where a broken one stopped: the console updater
// runs as a process against a real nginx through a relay that can cut an
// answer off or hide the requests' Range lines (a server without ranges).
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

std::string Receive(int s, bool headerOnly) {
    std::string bytes;
    char buffer[16384];
    for (ssize_t n; (!headerOnly || bytes.find("\r\n\r\n") == std::string::npos) &&
                    (n = recv(s, buffer, sizeof buffer, 0)) > 0;) {
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

// Notes the Range value of each request for `file` and counts the body bytes
// of its 2xx answers that reach the updater; the first ends after `cut` bytes.
// With `retotal` the first 206 names a document one byte longer.
struct Relay {
    Relay(uint16_t to, std::string name, int64_t cutAt, bool drop, bool otherTotal)
        : upstream(to), file(std::move(name)), cut(cutAt), dropRange(drop), retotal(otherTotal) {}
    uint16_t upstream;
    std::string file;
    int64_t cut;
    bool dropRange;
    bool retotal;
    Lines ranges;
    int64_t bytes = 0;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    std::atomic<uint16_t> port{0};
    std::atomic<bool> stop{false};
    std::thread thread{[this] { Serve(); }};

    void Serve() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), length);
        listen(listener, 8);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        for (pollfd ready{listener, POLLIN, 0}; !stop;) {
            if (poll(&ready, 1, 20) != 1) {
                continue;
            }
            const int client = accept(listener, nullptr, nullptr);
            std::string request = Receive(client, true);
            const bool mine = request.find(file) < request.find("\r\n");
            const size_t at = request.find("\r\nRange: ");
            const size_t end = request.find("\r\n", at + 2);
            if (mine) {
                ranges.push_back(at == std::string::npos ? ""
                                                         : request.substr(at + 9, end - at - 9));
            }
            if (dropRange && at != std::string::npos) {
                request.erase(at, end - at);
            }
            const int server = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in nginx{AF_INET, htons(upstream), {htonl(INADDR_LOOPBACK)}, {}};
            connect(server, reinterpret_cast<sockaddr*>(&nginx), sizeof nginx);
            send(server, request.data(), request.size(), MSG_NOSIGNAL);
            std::string response = Receive(server, false);
            close(server);
            const size_t total = response.find('/', response.find("\r\nContent-Range: "));
            if (mine && response.compare(9, 3, "206") == 0 && std::exchange(retotal, false)) {
                const size_t end = response.find("\r\n", total);
                response.replace(total + 1, end - total - 1,
                                 std::to_string(std::stoll(response.substr(total + 1)) + 1));
            }
            const size_t body = response.find("\r\n\r\n") + 4;
            if (mine && response[9] == '2') {
                response.resize(cut >= 0 ? body + static_cast<size_t>(std::exchange(cut, -1))
                                         : response.size());
                bytes += static_cast<int64_t>(response.size() - body);
            }
            send(client, response.data(), response.size(), MSG_NOSIGNAL);
            close(client);
        }
    }
    void Stop() {
        stop = true;
        thread.join();
        close(listener);
    }
};

struct Case {
    std::string name;
    // The part file a previous run left, made from the container.
    std::function<std::string(std::string)> part;
    bool cutAtHalf, dropRange;
    Lines ranges;  // "N" stands for "bytes=N-", N the bytes the part held
    // Body bytes over the wire: whole files, and the rest past the part.
    int wholes;
    bool rest;
    size_t corrupted;
    bool otherTotal = false;  // the first 206 is of a document of another size
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

std::string Half(std::string c) {
    return c.substr(0, c.size() / 2);
}

const Case kCases[] = {
    {"CutTransferIsContinuedByTheNextRun", nullptr, true, false, {"", "N"}, 1, false, 0},
    {"StalePartIsContinued", Half, false, false, {"N"}, 0, true, 0},
    {"ServerWithoutRangesSendsTheWholeFile", Half, false, true, {"N"}, 1, false, 0},
    {"PartWithWrongBytesIsFetchedAgainWhole",
     [](std::string c) {
         c[c.size() / 4] ^= 1;
         return Half(c);
     },
     false,
     false,
     {"N", ""},
     1,
     true,
     1},
    // Its bytes are not written after the part's: the file starts over.
    {"PartOfAnotherDocumentStartsTheFileOver", Half, false, false, {"N", ""}, 1, true, 1, true},
    {"PartAsLongAsTheFileIsTakenAfter416",
     [](std::string c) { return c; },
     false,
     false,
     {"N"},
     0,
     false,
     0},
};

class ResumeDownload : public testing::TestWithParam<Case> {};

TEST_P(ResumeDownload, FetchesWhatIsMissingOnceAndInstallsTheRightFile) {
    const Case& c = GetParam();
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    brf_test::ScratchDir scratch;
    const brf_test::GameDir game(scratch.path());
    const brf_test::PatchSet set(server.Root());
    std::string content(60000, 'x');
    for (uint32_t i = 0, seed = 7; i < content.size(); ++i) {
        content[i] = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    }
    Lines index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
    index.push_back("[1040.0]");
    for (const std::string& line : set.Publish("data-all.pak.upd", content)) {
        index.push_back(line);
    }
    set.ServerList("sea-1 7777\r\n");
    set.VersionIndex(index);
    game.Config({"debug_loglevel=2"});
    ASSERT_TRUE(game.Registry(1, 1040, 0));
    game.Write("data/all.pak", "old\r\n");
    const std::string container = brf_test::ReadFile(server.Root() / "patch/data-all.pak.upd");
    const std::string part = c.part ? c.part(container) : Half(container);
    if (c.part) {
        game.Write("patch/data-all.pak.upd.part", part);
    }

    Relay relay(server.Port(), "data-all.pak.upd", c.cutAtHalf ? int64_t(part.size()) : -1,
                c.dropRange, c.otherTotal);
    ASSERT_TRUE(brf_test::WaitFor([&] { return relay.port != 0; }));
    // One file after another, each at its turn: the transfers ahead of their
    // turn continue part files the same way.
    const Lines args = {"--server", "http://127.0.0.1:" + std::to_string(relay.port) + "/",
                        "--connections", "0"};
    if (c.cutAtHalf) {
        EXPECT_EQ(brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(), args, scratch.path()).status, 1);
        EXPECT_EQ(game.Read("patch/data-all.pak.upd.part"), part);
    }
    const auto run = brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(), args, scratch.path());
    relay.Stop();
    SCOPED_TRACE(run.out + run.err);

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(game.Read("data/all.pak"), content);
    EXPECT_FALSE(game.Read("patch/data-all.pak.upd.part"));
    Lines ranges = c.ranges;
    for (std::string& r : ranges) {
        r = r == "N" ? "bytes=" + std::to_string(part.size()) + "-" : r;
    }
    EXPECT_EQ(relay.ranges, ranges);
    EXPECT_EQ(relay.bytes, static_cast<int64_t>(c.wholes * container.size() +
                                                (c.rest ? container.size() - part.size() : 0)));
    const std::vector<std::string> lines = run.OutLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "File corrupted, trying again."),
              static_cast<ptrdiff_t>(c.corrupted));
    EXPECT_NE(game.Read("_debugg.log")->find("resuming patch/data-all.pak.upd at"),
              std::string::npos);
    EXPECT_EQ(game.Read("_debugg.log")->find("does not complete it"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Rows, ResumeDownload, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
