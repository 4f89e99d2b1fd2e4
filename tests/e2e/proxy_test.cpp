// The console updater behind proxies as players meet them: the one in
// config.ini, the system's (the internet settings, http_proxy), one the
// settings bypass for the update server, and one that asks for a login.
// A real tinyproxy on the loopback carries the requests. The internet
// settings come from the registry: natively from the hive the POSIX
// registry reads, under Wine from Wine's registry, the same values Windows
// keeps; there the Linux tinyproxy is started through Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/host_services.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// A tinyproxy of its own on a free loopback port, its log in the scratch
// directory; with `login`, one that answers 407 without it.
class TinyProxy {
public:
    TinyProxy(const fs::path& dir, bool login) : log_(dir / "proxy.log") {
        const fs::path config = dir / "tinyproxy.conf";
        // Another program may take the port before tinyproxy binds it.
        for (int attempt = 0; attempt < 3 && server_ == 0; ++attempt) {
            port_ = brf_test::host::FreeLoopbackPort();
            std::string text = "Port " + std::to_string(port_) +
                               "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 20\n"
                               "LogFile \"" +
                               brf_test::host::LinuxPath(log_) + "\"\nLogLevel Info\n";
            if (login) {
                text += "BasicAuth player secret\n";
            }
            brf_test::WriteFile(config, text);
            server_ = brf_test::host::StartServer(
                {"tinyproxy", "-d", "-c", brf_test::host::LinuxPath(config)}, dir / "tinyproxy.out",
                port_);
        }
    }
    ~TinyProxy() {
        if (server_ != 0) {
            brf_test::host::StopServer(server_);
        }
    }
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;
    bool Running() const { return server_ != 0; }
    uint16_t Port() const { return port_; }
    std::string Log() const { return brf_test::ReadFile(log_); }
    std::string Output() const { return brf_test::ReadFile(log_.parent_path() / "tinyproxy.out"); }

private:
    fs::path log_;
    uint16_t port_ = 0;
    int64_t server_ = 0;
};

constexpr const char* kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct Row {
    const char* name;
    Lines config;           // config.ini lines beside the log level
    const char* httpProxy;  // the environment's, with "{P}" for the port
    const char* noProxy;
    const char* internet;  // internet settings in the registry, "{P}" for the port
    const char* host;      // the update server's name instead of 127.0.0.1
    bool login;            // the proxy asks for one
    int status;
    bool viaProxy;
    const char* logLine;  // a line of the updater's log, "{P}" for the port
};

std::string WithPort(std::string text, uint16_t port) {
    for (size_t at = text.find("{P}"); at != std::string::npos; at = text.find("{P}", at)) {
        text.replace(at, 3, std::to_string(port));
    }
    return text;
}

// Under Wine the rows of the internet settings go into Wine's registry, the
// one all tests of the lane share. The http_proxy rows run natively only:
// Windows players name their proxy in the internet settings.
TEST(Proxy, ConfiguredSystemBypassedAndLoginProxiesAreUsedAsTheySay) {
    const char* const fromSettings = "using the proxy 127.0.0.1:{P} of the internet settings";
    const Row rows[] = {
        {"config.ini",
         {"[COMM]", "updater_proxyserver=127.0.0.1", "updater_proxyport={P}"},
         "",
         "",
         "",
         "",
         false,
         0,
         true,
         "setting proxy to 127.0.0.1:{P}"},
        {"http_proxy",
         {},
         "http://127.0.0.1:{P}/",
         "",
         "",
         "",
         false,
         0,
         true,
         "using the proxy 127.0.0.1:{P} of http_proxy"},
        {"no_proxy",
         {},
         "http://127.0.0.1:{P}/",
         "localhost,127.0.0.1",
         "",
         "",
         false,
         0,
         false,
         ""},
        {"internet settings, host:port",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"127.0.0.1:{P}\"",
         "",
         false,
         0,
         true,
         fromSettings},
        {"internet settings, per scheme",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"https=127.0.0.1:1;http=127.0.0.1:{P}"
         "\"",
         "",
         false,
         0,
         true,
         fromSettings},
        {"internet settings, server bypassed",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"127.0.0.1:{P}\"\r\n"
         "\"ProxyOverride\"=\"*.invalid;127.0.0.*\"",
         "",
         false,
         0,
         false,
         ""},
        {"internet settings, <local> bypassed",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"127.0.0.1:{P}\"\r\n"
         "\"ProxyOverride\"=\"<local>\"",
         "localhost",
         false,
         0,
         false,
         ""},
        {"login",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"127.0.0.1:{P}\"",
         "",
         true,
         1,
         true,
         "httpFailure at runState: 1"},
    };
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    brf_test::PatchSet set(server.Root() / "set1");
    set.ServerList("sea-1.brinefall.invalid 7777 Open Sea\r\n");
    Lines index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
    index.push_back("[1040.0]");
    const Lines entry = set.Publish("data-fleet.dat.upd", "frigate Osprey\r\n");
    index.insert(index.end(), entry.begin(), entry.end());
    set.VersionIndex(index);

    for (const Row& row : rows) {
        if (brf_test::host::UnderWine() && *row.httpProxy != '\0') {
            continue;
        }
        brf_test::ScratchDir scratch;
        TinyProxy proxy(scratch.path(), row.login);
        ASSERT_TRUE(proxy.Running()) << row.name << ": " << proxy.Output();
        brf_test::GameDir game(scratch.path());
        std::string hive =
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
            "\"Language\"=dword:00000001\r\n\"Version\"=dword:00000410\r\n"
            "\"Build\"=dword:00000000\r\n\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n";
        if (*row.internet != '\0') {
            hive += "\r\n[HKEY_CURRENT_USER\\" + std::string(kInternetSettings) + "]\r\n" +
                    WithPort(row.internet, proxy.Port()) + "\r\n";
        }
        // Put back when the row ends, passed or not.
        const brf_test::host::SavedUserValues settings(
            kInternetSettings, {"ProxyEnable", "ProxyServer", "ProxyOverride"});
        ASSERT_TRUE(brf_test::host::InstallRegistry(hive + "\r\n", scratch.path() / "user.reg"));
        Lines config = {"debug_loglevel=2"};
        for (const std::string& line : row.config) {
            config.push_back(WithPort(line, proxy.Port()));
        }
        game.Config(config);
        game.Write("data/fleet.dat", "brig Albatross\r\n");
        // The machine's own proxy variables stay out of every row. Windows'
        // names ignore case: the upper-case ones go first, so that clearing
        // them cannot undo the row's.
        brf_test::ScopedEnv upperProxy("HTTP_PROXY", nullptr);
        brf_test::ScopedEnv upperNoProxy("NO_PROXY", nullptr);
        const std::string httpProxyValue = WithPort(row.httpProxy, proxy.Port());
        brf_test::ScopedEnv httpProxy("http_proxy",
                                      *row.httpProxy != '\0' ? httpProxyValue.c_str() : nullptr);
        brf_test::ScopedEnv noProxy("no_proxy", *row.noProxy != '\0' ? row.noProxy : nullptr);
        std::string url = server.BaseUrl() + "set1/";
        if (*row.host != '\0') {
            url.replace(url.find("127.0.0.1"), 9, row.host);
        }
        const brf_test::UpdaterRun run =
            brf_test::RunUpdater(BRFUPDATE_PATH, game.Dir(), {"--server", url}, scratch.path());
        const std::string log = game.Read("_debugg.log").value_or("");
        SCOPED_TRACE(std::string(row.name) + "\nstdout:\n" + run.out + run.err + "\nlog:\n" + log +
                     "\nproxy:\n" + proxy.Log());
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(proxy.Log().find("/set1/patch/_servers.dat") != std::string::npos, row.viaProxy);
        EXPECT_NE(log.find(WithPort(row.logLine, proxy.Port())), std::string::npos);
        if (row.login) {
            const Lines out = run.OutLines();
            ASSERT_FALSE(out.empty());
            EXPECT_EQ(out.back(), "The proxy 127.0.0.1:" + std::to_string(proxy.Port()) +
                                      " asks for a login (407), which the updater cannot give.");
        } else {
            EXPECT_EQ(game.Read("data/fleet.dat"), "frigate Osprey\r\n");
        }
    }
}

}  // namespace
