#include "support/nginx_server.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/environment.h"
#include "platform/process.h"
#include "support/host_services.h"

namespace brf_test {

namespace {

std::string Slashes(const std::filesystem::path& path) {
    std::string text = path.string();
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

std::string Unique() {
    static std::atomic<int> counter{0};
    return std::to_string(plat::ProcessId()) + "-" + std::to_string(++counter);
}

// `root` served on 127.0.0.1:`port`; pid, logs and temporary files below `work`.
std::string NginxConfig(uint16_t port, const std::filesystem::path& root,
                        const std::filesystem::path& work, bool accessLog,
                        const NginxServer::Serving& serving) {
    const std::string w = Slashes(work);
    std::ostringstream c;
    c << "daemon off;\n"
      << "worker_processes 1;\n"
      << (host::RunningAsRoot() ? "user root;\n" : "") << "pid " << w << "/nginx.pid;\n"
      << "error_log " << w << "/error.log;\n"
      << "events { worker_connections 256; }\n"
      << "http {\n"
      << "  access_log " << (accessLog ? w + "/access.log" : std::string("off")) << ";\n"
      << "  sendfile on;\n"
      << (serving.limitRate.empty() ? std::string() : "  limit_rate " + serving.limitRate + ";\n")
      << "  default_type application/octet-stream;\n"
      << "  client_body_temp_path " << w << "/tmp/body;\n"
      << "  proxy_temp_path " << w << "/tmp/proxy;\n"
      << "  fastcgi_temp_path " << w << "/tmp/fastcgi;\n"
      << "  uwsgi_temp_path " << w << "/tmp/uwsgi;\n"
      << "  scgi_temp_path " << w << "/tmp/scgi;\n"
      << "  server {\n"
      << "    listen 127.0.0.1:" << port << ";\n"
      << "    root " << Slashes(root) << ";\n"
      << "  }\n"
      << "}\n";
    return c.str();
}

}  // namespace

NginxServer::NginxServer(Options options, const Serving& serving) {
    std::error_code ec;
    const auto sharedPort = plat::GetEnv("BRF_TEST_NGINX_PORT");
    const auto sharedRoot = plat::GetEnv("BRF_TEST_NGINX_ROOT");
    if (sharedPort && sharedRoot && !sharedPort->empty()) {
        // A server of the test script: a directory of our own below its root.
        shared_ = true;
        const std::string sub = "t-" + Unique();
        root_ = std::filesystem::path(host::HostPath(*sharedRoot)) / sub;
        std::filesystem::create_directories(root_, ec);
        if (ec) {
            error_ = "cannot create " + root_.string() + ": " + ec.message();
            return;
        }
        port_ = static_cast<uint16_t>(std::stoi(*sharedPort));
        baseUrl_ = "http://127.0.0.1:" + *sharedPort + "/" + sub + "/";
        return;
    }

    work_ = std::filesystem::temp_directory_path() / ("brf-nginx-" + Unique());
    root_ = work_ / "www";
    std::filesystem::remove_all(work_, ec);
    std::filesystem::create_directories(root_, ec);
    std::filesystem::create_directories(work_ / "tmp", ec);
    if (ec) {
        error_ = "cannot create " + work_.string() + ": " + ec.message();
        return;
    }
    // Another program may take the port between the test and nginx's bind:
    // then nginx ends and a new port is tried.
    for (int attempt = 0; attempt < 5 && process_ == 0; ++attempt) {
        const uint16_t port = serving.port != 0 ? serving.port : host::FreeLoopbackPort();
        if (port == 0) {
            continue;
        }
        const auto config = work_ / "nginx.conf";
        std::ofstream(config, std::ios::trunc)
            << NginxConfig(port, root_, work_, options.accessLog, serving);
        process_ = host::StartNginx(config, work_, port);
        if (process_ != 0) {
            port_ = port;
        }
    }
    if (process_ == 0) {
        std::ifstream log(work_ / "error.log");
        std::ifstream out(work_ / "nginx.out");
        std::ostringstream text;
        text << "nginx did not start: " << log.rdbuf() << out.rdbuf();
        error_ = text.str();
        return;
    }
    baseUrl_ = "http://127.0.0.1:" + std::to_string(port_) + "/";
}

NginxServer::~NginxServer() {
    if (process_ != 0) {
        host::StopNginx(process_);
    }
    std::error_code ec;
    std::filesystem::remove_all(shared_ ? root_ : work_, ec);
}

std::string NginxServer::AccessLog() const {
    if (work_.empty()) {
        return {};
    }
    std::ifstream in(work_ / "access.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace brf_test
