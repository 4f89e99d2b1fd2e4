// The console updater behind proxies as players meet them: the one in
// config.ini, the system's (the internet settings, http_proxy), one the
// settings bypass for the update server, and one that asks for a login.
// A real tinyproxy on the loopback carries the requests; the internet
// settings come from the hive the POSIX registry reads, the same values
// Windows keeps. Native only: the Windows lane starts no proxy.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/host_services.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Whether something accepts on loopback port `port`.
bool Accepts(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return accepted;
}

// A tinyproxy of its own on a free loopback port, its log in the scratch
// directory; with `login`, one that answers 407 without it.
class TinyProxy {
public:
    TinyProxy(const fs::path& dir, bool login) : log_(dir / "proxy.log") {
        port_ = brf_test::host::FreeLoopbackPort();
        const fs::path config = dir / "tinyproxy.conf";
        std::string text = "Port " + std::to_string(port_) +
                           "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 20\n"
                           "LogFile \"" +
                           log_.string() + "\"\nLogLevel Info\n";
        if (login) {
            text += "BasicAuth player secret\n";
        }
        brf_test::WriteFile(config, text);
        process_ = fork();
        if (process_ == 0) {
            execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !Accepts(port_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~TinyProxy() {
        if (process_ > 0) {
            kill(process_, SIGTERM);
            waitpid(process_, nullptr, 0);
        }
    }
    uint16_t Port() const { return port_; }
    std::string Log() const { return brf_test::ReadFile(log_); }

private:
    fs::path log_;
    uint16_t port_ = 0;
    pid_t process_ = -1;
};

struct Row {
    const char* name;
    Lines config;           // config.ini lines beside the log level
    const char* httpProxy;  // the environment's, with "{P}" for the port
    const char* noProxy;
    const char* internet;  // internet settings in the hive, "{P}" for the port
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

TEST(Proxy, ConfiguredSystemBypassedAndLoginProxiesAreUsedAsTheySay) {
    const Row rows[] = {
        {"config.ini",
         {"[COMM]", "updater_proxyserver=127.0.0.1", "updater_proxyport={P}"},
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
         false,
         0,
         true,
         "using the proxy 127.0.0.1:{P} of http_proxy"},
        {"no_proxy", {}, "http://127.0.0.1:{P}/", "localhost,127.0.0.1", "", false, 0, false, ""},
        {"internet settings",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"https=127.0.0.1:1;http=127.0.0.1:{P}"
         "\"",
         false,
         0,
         true,
         "using the proxy 127.0.0.1:{P} of the internet settings"},
        {"internet settings bypassed",
         {},
         "",
         "",
         "\"ProxyEnable\"=dword:00000001\r\n\"ProxyServer\"=\"127.0.0.1:{P}\"\r\n"
         "\"ProxyOverride\"=\"<local>;127.0.0.*\"",
         false,
         0,
         false,
         ""},
        {"login", {}, "http://127.0.0.1:{P}/", "", "", true, 1, true, "httpFailure at runState: 1"},
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
        brf_test::ScratchDir scratch;
        TinyProxy proxy(scratch.path(), row.login);
        ASSERT_NE(proxy.Port(), 0) << row.name;
        brf_test::GameDir game(scratch.path());
        std::string hive =
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
            "\"Language\"=dword:00000001\r\n\"Version\"=dword:00000410\r\n"
            "\"Build\"=dword:00000000\r\n\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n";
        if (*row.internet != '\0') {
            hive +=
                "\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                "Settings]\r\n" +
                WithPort(row.internet, proxy.Port()) + "\r\n";
        }
        ASSERT_TRUE(brf_test::host::InstallRegistry(hive + "\r\n", scratch.path() / "user.reg"));
        Lines config = {"debug_loglevel=2"};
        for (const std::string& line : row.config) {
            config.push_back(WithPort(line, proxy.Port()));
        }
        game.Config(config);
        game.Write("data/fleet.dat", "brig Albatross\r\n");
        brf_test::ScopedEnv httpProxy("http_proxy", WithPort(row.httpProxy, proxy.Port()).c_str());
        brf_test::ScopedEnv noProxy("no_proxy", row.noProxy);
        brf_test::ScopedEnv upper("HTTP_PROXY", nullptr);
        const brf_test::UpdaterRun run = brf_test::RunUpdater(
            BRFUPDATE_PATH, game.Dir(), {"--server", server.BaseUrl() + "set1/"}, scratch.path());
        const std::string log = game.Read("_debugg.log").value_or("");
        SCOPED_TRACE(std::string(row.name) + "\nstdout:\n" + run.out + "\nlog:\n" + log +
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
