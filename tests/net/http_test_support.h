// Helpers of the HTTP client tests: an event recorder and small file tools.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "net/http_client.h"

// Records the client's events in the order they fire.
struct EventRecorder {
    explicit EventRecorder(THttpClient& client) : client_(client) {
        client.OnAboutToSend = [this](TSockTransport*) { events.push_back("AboutToSend"); };
        client.OnPacketRecvd = [this](TSockTransport*) {
            ++packets;
            if (events.empty() || events.back() != "PacketRecvd") {
                events.push_back("PacketRecvd");
            }
        };
        client.OnSuccess = [this](CmdType cmd) {
            events.push_back("Success " + std::to_string(cmd) + " " +
                             std::to_string(client_.StatusCode));
        };
        client.OnFailure = [this](CmdType cmd) {
            events.push_back("Failure " + std::to_string(cmd) + " " +
                             std::to_string(client_.StatusCode));
        };
        client.OnRedirect = [this](bool& handled) {
            events.push_back("Redirect " + client_.RequestURL);
            handled = handleRedirects;
        };
        client.OnAuthenticationNeeded = [this](TSockTransport*) {
            events.push_back("AuthenticationNeeded");
        };
        client.OnConnectionFailed = [this](TSockTransport*) {
            events.push_back("ConnectionFailed");
        };
        client.OnInvalidHost = [this](bool& handled) {
            events.push_back("InvalidHost");
            handled = true;
        };
    }

    std::vector<std::string> events;
    int packets = 0;
    bool handleRedirects = false;

private:
    THttpClient& client_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// A fresh directory for one test, removed afterwards. Its name is unique, so
// test programs running at the same time never share one.
struct TempDir {
    explicit TempDir(const std::string& name) : path(UniquePath(name)) {
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;

private:
    static std::filesystem::path UniquePath(const std::string& name) {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        return std::filesystem::temp_directory_path() /
               ("brf-net-" + name + "-" + std::to_string(random()) + "-" +
                std::to_string(counter++));
    }
};
