// Redirects, their bound, and cookies carried over by them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_test_support.h"
#include "net/http_client.h"
#include "test_http_server.h"

namespace {

using Strings = std::vector<std::string>;

std::string Redirect(int status, const Strings& headers) {
    return TestHttpServer::Response("HTTP/1.0 " + std::to_string(status) + " Moved", headers,
                                    "moved");
}

std::string Ok(const std::string& body, const Strings& headers = {}) {
    return TestHttpServer::Response("HTTP/1.0 200 OK", headers, body);
}

std::string PathOf(const ServerConnection& c) {
    const size_t a = c.request.find(' ');
    return c.request.substr(a + 1, c.request.find(' ', a + 1) - a - 1);
}

TEST(HttpRedirect, ChainIsFollowedAndOnlyTheLastBodyCounts) {
    TestHttpServer server([](ServerConnection& c) {
        const std::string path = PathOf(c);
        if (path == "/a") {
            c.Send(Redirect(302, {"Location: /b"}));
        } else if (path == "/b") {
            c.Send(Redirect(301, {"Location: /c"}));
        } else {
            c.Send(Ok("final"));
        }
    });
    THttpClient client;
    EventRecorder recorder(client);
    client.Get(server.Url("/a"));
    EXPECT_EQ(server.Paths(), (Strings{"/a", "/b", "/c"}));
    EXPECT_EQ(recorder.events,
              (Strings{"AboutToSend", "PacketRecvd", "Redirect /b", "AboutToSend", "PacketRecvd",
                       "Redirect /c", "AboutToSend", "PacketRecvd", "Success 0 200"}));
    EXPECT_EQ(client.Body, "final");
    EXPECT_EQ(client.ReceivedBytes, 5);
    EXPECT_EQ(client.RequestURL, "/c");
}

TEST(HttpRedirect, AbsoluteLocationIsFollowed) {
    TestHttpServer target([](ServerConnection& c) { c.Send(Ok("there")); });
    TestHttpServer server(
        [&](ServerConnection& c) { c.Send(Redirect(302, {"Location: " + target.Url("/t")})); });
    THttpClient client;
    client.Get(server.Url("/a"));
    EXPECT_EQ(client.Body, "there");
    EXPECT_EQ(client.Port, target.Port());
    EXPECT_EQ(target.Paths(), Strings{"/t"});
}

TEST(HttpRedirect, EndlessChainStopsAtTheBoundWithAFailure) {
    TestHttpServer server([](ServerConnection& c) { c.Send(Redirect(302, {"Location: /loop"})); });
    THttpClient client;
    EventRecorder recorder(client);
    client.Get(server.Url("/loop"));
    EXPECT_EQ(server.Requests().size(), static_cast<size_t>(THttpClient::kMaxRedirects + 1));
    int redirects = 0;
    for (const std::string& e : recorder.events) {
        redirects += e.rfind("Redirect", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(redirects, THttpClient::kMaxRedirects);
    EXPECT_EQ(recorder.events.back(), "Failure 0 302");
}

TEST(HttpRedirect, NewerRedirectsNeedALocationOfTheirOwn) {
    TestHttpServer server([](ServerConnection& c) {
        const std::string path = PathOf(c);
        if (path == "/see-other") {
            c.Send(Redirect(303, {"Location: /result"}));
        } else if (path == "/temporary") {
            c.Send(Redirect(307, {"Location: /result"}));
        } else if (path == "/nowhere") {
            c.Send(Redirect(308, {}));
        } else {
            c.Send(Ok("result"));
        }
    });
    THttpClient client;
    EventRecorder recorder(client);
    client.Post(server.Url("/see-other"), "x=1");
    // "See other" fetches the result with a GET and without the data.
    EXPECT_EQ(server.Requests()[1].rfind("GET /result HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(server.Requests()[1].find("Content-Length"), std::string::npos);
    EXPECT_EQ(recorder.events.back(), "Success 0 200");
    client.Get(server.Url("/temporary"));
    EXPECT_EQ(server.Paths()[3], "/result");
    client.Get(server.Url("/nowhere"));
    EXPECT_EQ(server.Requests().size(), 5u);
    EXPECT_EQ(recorder.events.back(), "Failure 0 308");
}

TEST(HttpRedirect, HandledRedirectEndsTheExchangeWithTheNewLocationKept) {
    TestHttpServer server([](ServerConnection& c) { c.Send(Redirect(302, {"Location: /next"})); });
    THttpClient client;
    EventRecorder recorder(client);
    recorder.handleRedirects = true;
    client.Get(server.Url("/a"));
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(client.RequestURL, "/next");
    EXPECT_EQ(recorder.events.back(), "Redirect /next");
}

TEST(HttpRedirect, LocationIsRememberedBetweenResponses) {
    TestHttpServer server([](ServerConnection& c) {
        const std::string path = PathOf(c);
        if (path == "/first") {
            c.Send(Redirect(302, {"Location: /remembered"}));
        } else if (path == "/second") {
            c.Send(Redirect(302, {"Location:/ignored-without-space"}));
        } else {
            c.Send(Ok("ok"));
        }
    });
    THttpClient client;
    client.Get(server.Url("/first"));
    client.Get(server.Url("/second"));
    EXPECT_EQ(server.Paths(), (Strings{"/first", "/remembered", "/second", "/remembered"}));
}

// Through a proxy every request lands at the proxy whatever its URL names,
// so the URLs that redirects produce can be seen whole.
TEST(HttpRedirect, LocationsWithoutSlashOrWithoutAnyLocationGoToTheHostRoot) {
    TestHttpServer proxy([](ServerConnection& c) {
        if (c.request.rfind("GET http://host.invalid/start ", 0) == 0) {
            c.Send(Redirect(302, {"Location: page.html"}));
        } else if (c.request.rfind("GET http://host.invalid/bare ", 0) == 0) {
            c.Send(Redirect(302, {}));
        } else {
            c.Send(Ok("ok"));
        }
    });
    THttpClient client;
    client.Proxy = "127.0.0.1";
    client.ProxyPort = proxy.Port();
    client.Get("http://host.invalid/start");
    client.LocationValue.clear();
    client.Get("http://host.invalid/bare");
    const Strings requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].rfind("GET http://host.invalid/page.html HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(requests[3].rfind("GET http://host.invalid/ HTTP/1.0\r\n", 0), 0u);
}

TEST(HttpRedirect, CookiesComeBackOnlyFromRedirects) {
    TestHttpServer server([](ServerConnection& c) {
        const std::string path = PathOf(c);
        if (path == "/plain") {
            c.Send(Ok("x", {"Set-Cookie: from-200=1"}));
        } else if (path == "/moved") {
            c.Send(Redirect(302, {"Set-Cookie: session=abc; path=/", "Location: /landing"}));
        } else if (path == "/nospace") {
            c.Send(Redirect(302, {"Set-Cookie:other=1", "Location: /landing"}));
        } else {
            c.Send(Ok("y"));
        }
    });
    THttpClient client;
    client.Get(server.Url("/plain"));
    client.Get(server.Url("/after-plain"));
    client.Get(server.Url("/moved"));
    client.Get(server.Url("/later"));
    client.Get(server.Url("/nospace"));
    const Strings requests = server.Requests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(requests[1].find("Cookie"), std::string::npos);
    EXPECT_EQ(requests[2].find("Cookie"), std::string::npos);
    EXPECT_NE(requests[3].find("\r\nCookie: session=abc; path=/\r\n"), std::string::npos);
    EXPECT_NE(requests[4].find("\r\nCookie: session=abc; path=/\r\n"), std::string::npos);
    EXPECT_NE(requests[6].find("\r\nCookie: session=abc; path=/\r\n"), std::string::npos);
    EXPECT_EQ(client.HeaderInfo.Cookie, "session=abc; path=/");
}

}  // namespace
