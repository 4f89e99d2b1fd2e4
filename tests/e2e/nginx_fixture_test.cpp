// The nginx fixture as the update tests rely on it: files written after the
// start are served byte for byte, a missing file is an error status, and an
// HTML page stored as a file comes back with status 200.
#include <gtest/gtest.h>

#include <string>

#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

struct FetchCase {
    const char* name;
    const char* stored;  // null: no file on the server
    int exitStatus;      // brfget: 0 success, 1 HTTP failure
};

TEST(NginxFixture, ServesWhatTheTestWrote) {
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    brf_test::ScratchDir scratch;
    std::string binary(70000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>((i * 7919) >> 3);
    }
    const FetchCase cases[] = {
        {"binary.dat", binary.c_str(), 0},
        {"error.html", "<HTML><BODY>Maintenance</BODY></HTML>\r\n", 0},
        {"missing.upd", nullptr, 1},
    };
    for (const FetchCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string content;
        if (c.stored != nullptr) {
            content = std::string(c.name) == "binary.dat" ? binary : c.stored;
            brf_test::WriteFile(server.Root() / c.name, content);
        }
        const auto run = brf_test::RunUpdater(
            BRFGET_PATH, scratch.path(), {server.BaseUrl() + c.name, "body.out"}, scratch.path());
        EXPECT_EQ(run.status, c.exitStatus) << run.err;
        if (c.stored != nullptr) {
            EXPECT_EQ(brf_test::ReadFile(scratch.path() / "body.out"), content);
        }
    }
}

TEST(NginxFixture, TwoServersAtOnceAndAccessLog) {
    brf_test::NginxServer first({.accessLog = true});
    brf_test::NginxServer second;
    ASSERT_TRUE(first.Running()) << first.Error();
    ASSERT_TRUE(second.Running()) << second.Error();
    EXPECT_NE(first.BaseUrl(), second.BaseUrl());
    brf_test::WriteFile(first.Root() / "a.txt", "first");
    brf_test::ScratchDir scratch;
    const auto run = brf_test::RunUpdater(BRFGET_PATH, scratch.path(),
                                          {first.BaseUrl() + "a.txt", "a.out"}, scratch.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(brf_test::ReadFile(scratch.path() / "a.out"), "first");
    // A server of the test script keeps its own log.
    if (!first.Shared()) {
        EXPECT_NE(first.AccessLog().find("GET /a.txt HTTP/1.0\" 200"), std::string::npos)
            << first.AccessLog();
    }
}

}  // namespace
