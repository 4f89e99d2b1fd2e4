// Helpers of the HTTP client tests: an event recorder and small file tools.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "support/test_support.h"

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

using brf_test::ReadFile;
using brf_test::WriteFile;

// A fresh directory for one test, removed afterwards.
using TempDir = brf_test::ScratchDir;
