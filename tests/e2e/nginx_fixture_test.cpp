// The nginx fixture as the update runs rely on it: files written after the
// start are served byte for byte, an HTML page stored as a file comes back
// with status 200, a missing file is an error status, two servers run at once.
#include <gtest/gtest.h>

#include <string>

#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

TEST(NginxFixture, ServesWhatTheTestWrote) {
    brf_test::NginxServer server({.accessLog = true});
    brf_test::NginxServer other;
    ASSERT_TRUE(server.Running()) << server.Error();
    ASSERT_TRUE(other.Running()) << other.Error();
    EXPECT_NE(server.BaseUrl(), other.BaseUrl());
    brf_test::ScratchDir scratch;
    std::string binary(70000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<char>((i * 7919) >> 3);
    }
    struct {
        const char* name;
        std::string stored;  // empty: no such file on the server
        int exitStatus;      // brfget: 0 success, 1 HTTP failure
    } const cases[] = {
        {"binary.dat", binary, 0},
        {"error.html", "<HTML><BODY>Maintenance</BODY></HTML>\r\n", 0},
        {"missing.upd", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.stored.empty()) {
            brf_test::WriteFile(server.Root() / c.name, c.stored);
        }
        const auto run = brf_test::RunUpdater(
            BRFGET_PATH, scratch.path(), {server.BaseUrl() + c.name, "body.out"}, scratch.path());
        EXPECT_EQ(run.status, c.exitStatus) << run.err;
        if (!c.stored.empty()) {
            EXPECT_EQ(brf_test::ReadFile(scratch.path() / "body.out"), c.stored);
        }
    }
    // The test script's shared server keeps its own log.
    if (!server.Shared()) {
        EXPECT_NE(server.AccessLog().find("GET /binary.dat HTTP/1.0\" 200"), std::string::npos)
            << server.AccessLog();
    }
}
