#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "http_test_support.h"
#include "net/sock_transport.h"
#include "platform/event_loop.h"
#include "test_http_server.h"

namespace {

// A transport connected to the test server.
struct Connected {
    explicit Connected(TestHttpServer& server) {
        transport.Host = "127.0.0.1";
        transport.Port = server.Port();
        transport.Connect();
    }
    TSockTransport transport;
};

TEST(SocketErrorStr, NumbersBecomeTableTexts) {
    EXPECT_EQ(SocketErrorStr(10061), "10061:Connection refused");
    EXPECT_EQ(SocketErrorStr(11001), "11001:Host not found");
    EXPECT_EQ(SocketErrorStr(12345), "Unknown Error No. 12345");
    EXPECT_EQ(SocketErrorStr(0), "");
    EXPECT_EQ(WinsockMessage[50].number, 0);
    for (const TWinsockMessage& row : WinsockMessage) {
        EXPECT_LE(std::string(row.text).size(), 51u) << row.number;
    }
}

TEST(SockTransport, StartsTheSocketServiceAndDescribesIt) {
    TSockTransport first;
    TSockTransport second;
    ASSERT_EQ(first.WinsockInfo.size(), 6u);
    EXPECT_EQ(first.WinsockInfo[0].rfind("Version= ", 0), 0u);
    EXPECT_EQ(first.WinsockInfo[5].rfind("Max Udp pack size= ", 0), 0u);
    EXPECT_TRUE(second.WinsockInfo.empty());  // only the first one fills its list
}

TEST(SockTransport, DisconnectWithoutConnectionStillLeavesAFreshSocket) {
    TSockTransport transport;
    int disconnects = 0;
    transport.OnDisconnect = [&](TSockTransport*) { ++disconnects; };
    transport.Disconnect();
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(transport.IsConnected);
    EXPECT_NE(transport.Handle(), plat::kInvalidSocket);
}

TEST(SockTransport, ConnectsToADottedAddressWithoutALookup) {
    TestHttpServer server([](ServerConnection&) {});
    TSockTransport transport;
    int resolved = 0;
    int connects = 0;
    transport.OnHostResolved = [&](TSockTransport*) { ++resolved; };
    transport.OnConnect = [&](TSockTransport*) { ++connects; };
    transport.Host = "127.0.0.1";
    transport.Port = server.Port();
    transport.Connect();
    EXPECT_TRUE(transport.IsConnected);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(transport.GetRemoteIP(), "127.0.0.1");
    try {
        transport.Connect();
        FAIL() << "a second Connect must raise";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Already connected");
    }
    transport.Disconnect();
}

TEST(SockTransport, NameLookupFiresOnHostResolved) {
    TestHttpServer server([](ServerConnection& c) { c.Send("hi\r\n"); });
    TSockTransport transport;
    int resolved = 0;
    transport.OnHostResolved = [&](TSockTransport*) { ++resolved; };
    transport.Host = "localhost";
    transport.Port = server.Port();
    transport.Connect();
    EXPECT_EQ(resolved, 1);
    transport.Writeln("GET / HTTP/1.0\r\n");
    EXPECT_EQ(transport.ReadLn(), "hi\r\n");
}

TEST(SockTransport, BroadcastAddressTextGoesToTheNameLookup) {
    TSockTransport transport;
    int resolved = 0;
    transport.OnHostResolved = [&](TSockTransport*) { ++resolved; };
    transport.Host = "255.255.255.255";
    transport.Port = 9;
    try {
        transport.ResolveRemoteHost();
    } catch (const ESockError&) {
        // Resolvers differ in whether they know it; it was looked up.
    }
    EXPECT_TRUE(transport.AsyncDone);
    EXPECT_EQ(resolved, transport.LastNotifyOk ? 1 : 0);
}

TEST(SockTransport, RefusedConnectionFiresOnConnectionFailed) {
    TSockTransport transport;
    int failed = 0;
    transport.OnConnectionFailed = [&](TSockTransport*) { ++failed; };
    transport.Host = "127.0.0.1";
    transport.Port = UnusedPort();
    try {
        transport.Connect();
        FAIL() << "connecting to a closed port must raise";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Connection Failed");
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(transport.GetLastErrorNo(), 10061);
    EXPECT_FALSE(transport.IsConnected);
    transport.Disconnect();
}

TEST(SockTransport, UnresolvableNameIsLookedUpTwiceThenNullRemoteAddress) {
    TSockTransport transport;
    int invalid = 0;
    int failed = 0;
    transport.OnInvalidHost = [&](bool& handled) {
        ++invalid;
        handled = true;
    };
    transport.OnConnectionFailed = [&](TSockTransport*) { ++failed; };
    transport.Host = "no-such-host.invalid";
    transport.Port = 80;
    try {
        transport.Connect();
        FAIL() << "an unknown host must raise";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Null Remote Address");
    }
    EXPECT_EQ(invalid, 1);
    EXPECT_EQ(failed, 0);
}

TEST(SockTransport, InvalidHostHandlerMayRepairTheHost) {
    TestHttpServer server([](ServerConnection&) {});
    TSockTransport transport;
    transport.OnInvalidHost = [&](bool& handled) {
        transport.Host = "127.0.0.1";
        handled = true;
    };
    transport.Host = "still-no-host.invalid";
    transport.Port = server.Port();
    transport.Connect();
    EXPECT_TRUE(transport.IsConnected);
}

TEST(SockTransport, ProxyIsConnectedToInsteadOfTheHost) {
    TestHttpServer proxy([](ServerConnection& c) { c.Send("via proxy\n"); });
    TSockTransport transport;
    int resolved = 0;
    transport.OnHostResolved = [&](TSockTransport*) { ++resolved; };
    transport.Host = "never-resolved.invalid";
    transport.Port = 1;
    transport.Proxy = "127.0.0.1";
    transport.ProxyPort = proxy.Port();
    transport.Connect();
    transport.Writeln("hello\r\n");
    EXPECT_EQ(transport.ReadLn(), "via proxy\n");
    EXPECT_EQ(resolved, 0);
}

TEST(SockTransport, ReadLnKeepsLineEndsAndLosesAnUnendedLastLine) {
    TestHttpServer server(
        [](ServerConnection& c) { c.Send("one\r\ntwo\nthree\r\n\r\nlast without end"); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    EXPECT_EQ(c.transport.ReadLn(), "one\r\n");
    EXPECT_EQ(c.transport.ReadLn(), "two\n");
    EXPECT_EQ(c.transport.ReadLn(), "three\r\n");
    EXPECT_EQ(c.transport.ReadLn(), "\r\n");
    EXPECT_EQ(c.transport.ReadLn(), "");
    EXPECT_EQ(c.transport.ReadLn(), "");
}

TEST(SockTransport, ReadLnOnAClosedConnectionReturnsEmptyAndLeavesACancelPending) {
    TestHttpServer server([](ServerConnection&) {});
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    // The server closes at once; the close notification closes our side.
    while (c.transport.IsConnected) {
        plat::MainLoop().WaitMessage(-1);
        plat::MainLoop().ProcessMessages();
    }
    c.transport.CancelRequested = true;
    EXPECT_EQ(c.transport.ReadLn(), "");
    // The cancel is left for the transfer that follows.
    EXPECT_TRUE(c.transport.CancelRequested);
    std::string text;
    try {
        c.transport.CaptureString(text, -1);
        FAIL() << "the pending cancel must end the capture";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket capture aborted");
    }
}

TEST(SockTransport, ReadLnAssemblesALineThatArrivesInPieces) {
    TestHttpServer server([](ServerConnection& c) { c.SendSlowly("a slow line\r\nrest", 3, 5); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    EXPECT_EQ(c.transport.ReadLn(), "a slow line\r\n");
    std::string rest;
    c.transport.CaptureString(rest, -1);
    EXPECT_EQ(rest, "rest");
}

TEST(SockTransport, LineLongerThanTheBufferFailsClearly) {
    TestHttpServer server([](ServerConnection& c) { c.Send(std::string(70000, 'x') + "\r\n"); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    try {
        c.transport.ReadLn();
        FAIL() << "an over-long line must raise";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Line longer than 65536 bytes");
    }
}

TEST(SockTransport, WriteSendsUpToAnEmbeddedZeroByte) {
    TestHttpServer server([](ServerConnection& c) { c.Send("ok\n"); });
    Connected c(server);
    c.transport.Write(std::string("GET /a\0hidden", 13) + "\r\n\r\n");
    c.transport.Write("X-Then: y\r\n\r\n");
    EXPECT_EQ(c.transport.ReadLn(), "ok\n");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], "GET /aX-Then: y\r\n\r\n");
}

TEST(SockTransport, CaptureStringLimits) {
    const std::string body(100000, 'b');
    TestHttpServer server([&](ServerConnection& c) { c.Send(body); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    std::string text = "old";
    c.transport.CaptureString(text, 0);
    EXPECT_EQ(text, "");
    c.transport.CaptureString(text, 10);
    EXPECT_GE(text.size(), 10u);
    const std::string first = text;
    c.transport.CaptureString(text, -1);
    EXPECT_EQ(first + text, body);
}

TEST(SockTransport, CaptureCountsEveryChunkAndStreamsAppend) {
    const std::string body(300000, 's');
    TestHttpServer server([&](ServerConnection& c) { c.SendSlowly(body, 50000, 2); });
    Connected c(server);
    std::stringstream stream;
    stream << "head:";
    int packets = 0;
    int32_t lastCount = 0;
    int64_t stored = 0;
    bool growing = true;
    c.transport.OnPacketRecvd = [&](TSockTransport* t) {
        ++packets;
        growing = growing && t->ReceivedBytes > lastCount;
        lastCount = t->ReceivedBytes;
        stored = static_cast<int64_t>(stream.tellp()) - 5;
    };
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    c.transport.CaptureStream(stream, 100000000);
    EXPECT_EQ(stream.str(), "head:" + body);
    EXPECT_EQ(c.transport.ReceivedBytes, static_cast<int32_t>(body.size()));
    EXPECT_GE(packets, 1);
    EXPECT_TRUE(growing);
    // The count is up to date when the event fires: the chunk is stored.
    EXPECT_EQ(stored, lastCount);
}

TEST(SockTransport, CaptureFileCreatesTheFileAnew) {
    TempDir dir;
    const std::string path = dir.File("capture.bin");
    WriteFile(path, "old content that is longer than the new");
    TestHttpServer server([](ServerConnection& c) { c.Send("new"); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    c.transport.CaptureFile(path);
    EXPECT_EQ(ReadFile(path), "new");
}

TEST(SockTransport, TimeOutEndsAReadThatGetsNoAnswer) {
    TestHttpServer server([](ServerConnection& c) { c.WaitForClose(); });
    Connected c(server);
    c.transport.TimeOut = 200;
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    try {
        c.transport.ReadLn();
        FAIL() << "a silent server must time out";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket readln aborted");
    }
    EXPECT_TRUE(c.transport.TimedOut);
    EXPECT_FALSE(c.transport.CancelRequested);
    c.transport.Disconnect();
}

TEST(SockTransport, CancelPostedFromAnotherThreadEndsTheCapture) {
    TSockTransport* target = nullptr;
    TestHttpServer server([&](ServerConnection& c) {
        c.Send("some bytes");
        plat::PostTask([&] { target->Cancel(); });
        c.WaitForClose();
    });
    Connected c(server);
    target = &c.transport;
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    std::string text;
    try {
        c.transport.CaptureString(text, -1);
        FAIL() << "the cancel must end the capture";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket capture aborted");
    }
    EXPECT_FALSE(c.transport.CancelRequested);  // cleared before raising
    c.transport.Disconnect();
}

TEST(SockTransport, DisconnectFromAHandlerEndsTheCaptureLikeAClose) {
    TestHttpServer server([](ServerConnection& c) {
        c.Send("first chunk");
        c.SendSlowly(std::string(200000, 'z'), 1000, 1);
    });
    Connected c(server);
    int disconnects = 0;
    c.transport.OnDisconnect = [&](TSockTransport*) { ++disconnects; };
    c.transport.OnPacketRecvd = [&](TSockTransport* t) {
        if (t->IsConnected) {
            t->Disconnect();
        }
    };
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    std::string text;
    c.transport.CaptureString(text, -1);
    EXPECT_FALSE(text.empty());
    EXPECT_LT(text.size(), 200000u);
    EXPECT_FALSE(c.transport.IsConnected);
    EXPECT_GE(disconnects, 1);
}

TEST(SockTransport, LargeSendWaitsForTheReaderInsteadOfFailing) {
    // 8 MB is more than the socket buffers hold, so the sender has to wait.
    const std::string data =
        "PUT / HTTP/1.0\r\nContent-Length: 8388608\r\n\r\n" + std::string(8 * 1024 * 1024, 'd');
    TestHttpServer server([&](ServerConnection& c) { c.Send("done\n"); });
    Connected c(server);
    int packets = 0;
    c.transport.OnPacketSent = [&](TSockTransport*) { ++packets; };
    std::istringstream stream(data);
    c.transport.SendStream(stream);
    EXPECT_EQ(c.transport.SentBytes, static_cast<int32_t>(data.size()));
    EXPECT_EQ(c.transport.ExpectedBytes, static_cast<int32_t>(data.size()));
    EXPECT_GE(packets, 128);  // at least one event per 64 KiB chunk
    EXPECT_EQ(c.transport.ReadLn(), "done\n");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], data);
}

TEST(SockTransport, TransactionReadsTheReplyNumber) {
    TestHttpServer server([](ServerConnection& c) { c.Send("220 Ready for you\r\n"); });
    Connected c(server);
    std::vector<std::string> statuses;
    c.transport.ReportLevel = 1;
    c.transport.OnStatus = [&](TSockTransport*, const std::string& s) { statuses.push_back(s); };
    EXPECT_EQ(c.transport.Transaction("HELLO\r\n"), "220 Ready for you\r\n");
    EXPECT_EQ(c.transport.StatusCode, 220);
    ASSERT_EQ(statuses.size(), 1u);  // only the reply line is at level 1
    EXPECT_EQ(statuses[0], "220 Ready for you\r\n");
}

TEST(SockTransport, ReportLevelFiltersStatusTexts) {
    TestHttpServer server([](ServerConnection& c) {
        c.Send("x\n");
        c.WaitForClose();
    });
    std::vector<std::string> statuses;
    TSockTransport transport;
    transport.OnStatus = [&](TSockTransport*, const std::string& s) { statuses.push_back(s); };
    transport.Host = "127.0.0.1";
    transport.Port = server.Port();
    transport.Connect();
    EXPECT_TRUE(statuses.empty());
    transport.ReportLevel = 8;
    transport.Writeln("GET / HTTP/1.0\r\n");
    transport.ReadLn();
    const std::vector<std::string> expected = {"Writeln",  "Write",     "Sending Buffer",
                                               "Timer On", "Timer Off", "ReadLn",
                                               "Timer On", "Timer Off"};
    EXPECT_EQ(statuses, expected);
    EXPECT_EQ(transport.StatusText, "Timer Off");
    transport.ReportLevel = 4;
    statuses.clear();
    transport.Disconnect();
    EXPECT_EQ(statuses, std::vector<std::string>{"Request Close Socket"});
}

TEST(SockTransport, FilterHeaderCopiesUpToTheBlankLine) {
    TestHttpServer server([](ServerConnection& c) { c.Send("A: 1\r\nB: 2\n\r\nbody"); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    std::ostringstream header;
    c.transport.FilterHeader(header);
    EXPECT_EQ(header.str(), "A: 1\r\nB: 2\n\r\n");
    EXPECT_EQ(c.transport.Read(4), "body");
}

TEST(SockTransport, AppendFileAddsToTheEndUntilThePeerCloses) {
    TempDir dir;
    const std::string path = dir.File("append.bin");
    WriteFile(path, "start-");
    TestHttpServer server([](ServerConnection& c) { c.SendSlowly("appended", 4, 5); });
    Connected c(server);
    c.transport.Writeln("GET / HTTP/1.0\r\n");
    c.transport.AppendFile(path);
    EXPECT_FALSE(c.transport.IsConnected);
    EXPECT_EQ(ReadFile(path), "start-appended");
}

TEST(SockTransport, CertifyConnectAsksTheHandlerOnce) {
    TSockTransport transport;
    int asked = 0;
    transport.OnNotConnected = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_THROW(transport.CertifyConnect(), std::runtime_error);
    EXPECT_EQ(asked, 1);
}

TEST(SockTransport, NegativeTimeOutIsARangeError) {
    TSockTransport transport;
    transport.TimeOut = -1;
    EXPECT_THROW(transport.TimerOn(), std::range_error);
}

}  // namespace
