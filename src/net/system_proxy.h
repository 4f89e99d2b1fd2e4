// The proxy a player's system names for the update server, when config.ini
// names none: the user's internet settings of Windows (proxy on or off, the
// server as "host:port" or "http=host:port;https=...", the bypass list with
// "<local>"), or the http_proxy and no_proxy variables of Linux. Only the
// choice is here; the settings are read by the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace net {

struct ProxyChoice {
    std::string host;
    int32_t port = 0;
};

// The proxy the internet settings give for requests to `host`: none when
// `enabled` is false, the server names no HTTP proxy, or `bypass` (entries
// separated by ";", "*" as a wildcard, "<local>" for names without a dot)
// covers the host.
std::optional<ProxyChoice> FromInternetSettings(bool enabled, const std::string& server,
                                                const std::string& bypass, const std::string& host);

// The proxy `httpProxy` ("http://host:port/", "host:port") gives for
// requests to `host`: none when it is empty or unreadable, or `noProxy`
// (entries separated by "," or blanks, "*" for all, a leading "." or none
// for a domain and its subdomains) covers the host.
std::optional<ProxyChoice> FromEnvironment(const std::string& httpProxy, const std::string& noProxy,
                                           const std::string& host);

// The host of "http://host[:port]/...".
std::string HostOfUrl(const std::string& url);

}  // namespace net
