// A real nginx serving a directory on the loopback interface, for the tests
// that run the updater against a web server as players meet it.
//
// Natively the fixture starts its own nginx (daemon off, its own pid, log and
// temporary paths) on a free port, waits until it accepts and stops it when
// it goes. Test programs that run under Wine cannot start the Linux nginx:
// there scripts/test-windows.sh starts one before the tests and exports
// BRF_TEST_NGINX_PORT and BRF_TEST_NGINX_ROOT, and each fixture serves a
// fresh subdirectory of that root instead.
//
// The nginx workers must be able to read what the tests write: as root the
// configuration says "user root;", otherwise the workers stay the user who
// started nginx.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace brf_test {

class NginxServer {
public:
    struct Options {
        // Write an access log that AccessLog() returns (only for a server the
        // fixture starts itself).
        bool accessLog = false;
    };
    // How a server the fixture starts itself serves.
    struct Serving {
        // This port instead of a free one; the start fails when it is taken.
        uint16_t port = 0;
        // nginx's limit_rate per response ("20k"), for slow transfers.
        std::string limitRate;
    };

    NginxServer() : NginxServer(Options{}) {}
    explicit NginxServer(Options options) : NginxServer(options, Serving()) {}
    NginxServer(Options options, const Serving& serving);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // False when no server could be started; Error() says why.
    bool Running() const { return port_ != 0; }
    const std::string& Error() const { return error_; }
    uint16_t Port() const { return port_; }
    // True for the test script's server (see above), false for our own.
    bool Shared() const { return shared_; }

    // The directory whose files are served at BaseUrl().
    const std::filesystem::path& Root() const { return root_; }
    // "http://127.0.0.1:<port>/" and, with a shared server, the fixture's
    // subdirectory; always ends in "/".
    const std::string& BaseUrl() const { return baseUrl_; }

    // The access log so far (empty without Options::accessLog).
    std::string AccessLog() const;

private:
    bool shared_ = false;
    uint16_t port_ = 0;
    int64_t process_ = 0;
    std::filesystem::path work_;
    std::filesystem::path root_;
    std::string baseUrl_;
    std::string error_;
};

}  // namespace brf_test
