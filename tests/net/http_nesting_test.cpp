// The update run's way of using the client: the next request starts from
// inside the previous one's OnSuccess, and the cancel button disconnects
// from inside a handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_test_support.h"
#include "net/http_client.h"
#include "platform/event_loop.h"
#include "test_http_server.h"

namespace {

using Strings = std::vector<std::string>;

std::string Ok(const std::string& body) {
    return TestHttpServer::Response("HTTP/1.0 200 OK", {}, body);
}

std::string PathOf(const ServerConnection& c) {
    const size_t a = c.request.find(' ');
    return c.request.substr(a + 1, c.request.find(' ', a + 1) - a - 1);
}

TEST(HttpNesting, EachNextRequestStartsInsideThePreviousSuccess) {
    TestHttpServer server([](ServerConnection& c) {
        const std::string path = PathOf(c);
        if (path == "/patch/missing.upd") {
            c.Send(TestHttpServer::Response("HTTP/1.0 404 Not Found", {}, "<html>"));
        } else {
            c.Send(Ok("content of " + path));
        }
    });
    TempDir dir;
    THttpClient client;
    client.InputFileMode = true;
    client.Header = "";
    const Strings files = {"_servers.dat", "_versions.txt", "a.upd", "missing.upd"};
    Strings events;
    size_t step = 0;
    int depth = 0;
    int deepest = 0;
    const auto request = [&](size_t i) {
        if (client.IsConnected) {
            client.Disconnect();
        }
        client.Body = dir.File(files[i]);
        client.Get(server.Url("/patch/" + files[i]));
    };
    client.OnSuccess = [&](CmdType cmd) {
        ++depth;
        deepest = std::max(deepest, depth);
        events.push_back("success " + files[step] + " " + std::to_string(cmd) + " " +
                         std::to_string(client.ReceivedBytes));
        if (++step < files.size()) {
            request(step);
        }
        --depth;
    };
    client.OnFailure = [&](CmdType cmd) {
        events.push_back("failure " + files[step] + " " + std::to_string(cmd));
    };
    request(0);
    EXPECT_EQ(events, (Strings{"success _servers.dat 0 30", "success _versions.txt 0 31",
                               "success a.upd 0 23", "failure missing.upd 0"}));
    EXPECT_EQ(deepest, 3);
    EXPECT_EQ(ReadFile(dir.File("_versions.txt")), "content of /patch/_versions.txt");
    EXPECT_EQ(ReadFile(dir.File("a.upd")), "content of /patch/a.upd");
    // After the innermost exchange the outer ones end quietly: the status
    // they see is the last one read.
    EXPECT_EQ(client.StatusCode, 404);
    EXPECT_FALSE(client.IsConnected);
}

TEST(HttpNesting, RequestRetriedFromInsideItsOwnSuccess) {
    int served = 0;
    TestHttpServer server([&](ServerConnection& c) {
        ++served;
        c.Send(Ok(served == 1 ? "corrupt" : "good"));
    });
    THttpClient client;
    int successes = 0;
    client.OnSuccess = [&](CmdType) {
        ++successes;
        if (client.Body == "corrupt") {
            if (client.IsConnected) {
                client.Disconnect();
            }
            client.Get(server.Url("/file.upd"));
        }
    };
    client.Get(server.Url("/file.upd"));
    EXPECT_EQ(successes, 2);
    EXPECT_EQ(client.Body, "good");
}

TEST(HttpNesting, DisconnectFromPacketHandlerEndsTheBodyAndStillSucceeds) {
    const std::string body(400000, 'b');
    TestHttpServer server([&](ServerConnection& c) {
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 400000\r\n\r\n");
        c.SendSlowly(body, 20000, 2);
    });
    TempDir dir;
    THttpClient client;
    EventRecorder recorder(client);
    client.InputFileMode = true;
    client.Body = dir.File("big.upd");
    client.OnPacketRecvd = [&](TSockTransport*) {
        // What the cancel button does while a transfer is running.
        if (client.IsConnected) {
            client.Disconnect();
        }
    };
    client.Get(server.Url("/big.upd"));
    EXPECT_EQ(recorder.events.back(), "Success 0 200");
    EXPECT_GT(client.ReceivedBytes, 0);
    EXPECT_LT(client.ReceivedBytes, 400000);
    EXPECT_EQ(ReadFile(dir.File("big.upd")).size(), static_cast<size_t>(client.ReceivedBytes));
}

TEST(HttpNesting, DisconnectBeforeTheStatusLineGivesSuccessWithStatusZero) {
    THttpClient client;
    TestHttpServer server([&](ServerConnection& c) {
        // The user presses cancel while the server has not answered yet.
        plat::PostTask([&] {
            if (client.IsConnected) {
                client.Disconnect();
            }
        });
        c.WaitForClose();
    });
    EventRecorder recorder(client);
    client.Get(server.Url("/x"));
    EXPECT_EQ(recorder.events, (Strings{"AboutToSend", "Success 0 0"}));
    EXPECT_EQ(client.StatusCode, 0);
}

TEST(HttpNesting, AbortFromAPostedMessageRaisesWithoutFailureEvent) {
    TestHttpServer server([&](ServerConnection& c) {
        c.Send("HTTP/1.0 200 OK\r\n\r\npartial");
        c.WaitForClose();
    });
    THttpClient client;
    EventRecorder recorder(client);
    const auto record = client.OnPacketRecvd;
    client.OnPacketRecvd = [&](TSockTransport* sender) {
        record(sender);
        // Another part of the program aborts while the body is arriving.
        plat::PostTask([&] { client.Abort(); });
    };
    try {
        client.Get(server.Url("/x"));
        FAIL() << "an abort must raise";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket capture aborted");
    }
    EXPECT_TRUE(client.AsyncDone);
    EXPECT_EQ(client.Body, "partial");
    EXPECT_EQ(recorder.events, (Strings{"AboutToSend", "PacketRecvd"}));
    EXPECT_FALSE(client.IsConnected);
}

TEST(HttpNesting, AbortMarksTheLookupDoneAndOnlyCancels) {
    Strings statuses;  // outlives the client, which reports its destruction
    THttpClient client;
    client.ReportLevel = 8;
    client.OnStatus = [&](TSockTransport*, const std::string& s) { statuses.push_back(s); };
    client.Abort();
    // The client's abort goes straight to the cancel, without the
    // transport's own "Abort" step.
    EXPECT_EQ(statuses, (Strings{"Canceling"}));
    EXPECT_TRUE(client.AsyncDone);
    EXPECT_TRUE(client.CancelRequested);
}

}  // namespace
