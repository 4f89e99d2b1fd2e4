#include "net/system_proxy.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

namespace net {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return {};
    }
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

std::vector<std::string> Split(const std::string& text, const std::string& separators) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find_first_of(separators, start);
        const std::string part = Trim(text.substr(start, end - start));
        if (!part.empty()) {
            parts.push_back(part);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return parts;
}

// "host:port" (the port defaults to 80, as for any HTTP proxy setting
// without one); none when the port is no port.
std::optional<ProxyChoice> HostAndPort(std::string text) {
    if (const size_t scheme = text.find("://"); scheme != std::string::npos) {
        text = text.substr(scheme + 3);
    }
    text = text.substr(0, text.find('/'));
    if (const size_t at = text.rfind('@'); at != std::string::npos) {
        text = text.substr(at + 1);  // credentials are not ours to use
    }
    ProxyChoice choice;
    const size_t colon = text.rfind(':');
    choice.host = text.substr(0, colon);
    choice.port = 80;
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (port.empty() || *end != '\0' || value < 1 || value > 65535) {
            return std::nullopt;
        }
        choice.port = static_cast<int32_t>(value);
    }
    if (choice.host.empty()) {
        return std::nullopt;
    }
    return choice;
}

// Whether the wildcard `pattern` ("*" any run of characters) covers `text`.
bool Matches(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace

std::optional<ProxyChoice> FromInternetSettings(bool enabled, const std::string& server,
                                                const std::string& bypass,
                                                const std::string& host) {
    if (!enabled) {
        return std::nullopt;
    }
    const std::string name = Lower(host);
    for (const std::string& entry : Split(Lower(bypass), ";")) {
        if ((entry == "<local>" && name.find('.') == std::string::npos) || Matches(entry, name)) {
            return std::nullopt;
        }
    }
    // "http=host:port;https=..." names a proxy per scheme; a server without
    // "=" serves every scheme.
    std::string http;
    for (const std::string& entry : Split(server, ";")) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            http = entry;
            break;
        }
        if (Lower(entry.substr(0, equals)) == "http") {
            http = entry.substr(equals + 1);
        }
    }
    return http.empty() ? std::nullopt : HostAndPort(http);
}

std::optional<ProxyChoice> FromEnvironment(const std::string& httpProxy, const std::string& noProxy,
                                           const std::string& host) {
    if (Trim(httpProxy).empty()) {
        return std::nullopt;
    }
    const std::string name = Lower(host);
    for (std::string entry : Split(Lower(noProxy), ", ")) {
        if (entry == "*") {
            return std::nullopt;
        }
        entry = entry.substr(0, entry.find(':'));
        if (!entry.empty() && entry[0] == '.') {
            entry = entry.substr(1);
        }
        if (name == entry || (name.size() > entry.size() &&
                              name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
                              name[name.size() - entry.size() - 1] == '.')) {
            return std::nullopt;
        }
    }
    return HostAndPort(Trim(httpProxy));
}

std::string HostOfUrl(const std::string& url) {
    std::string rest = url;
    if (const size_t scheme = rest.find("://"); scheme != std::string::npos) {
        rest = rest.substr(scheme + 3);
    }
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        rest = rest.substr(at + 1);
    }
    if (!rest.empty() && rest[0] == '[') {
        return rest.substr(0, rest.find(']') + 1);
    }
    return rest.substr(0, rest.find(':'));
}

}  // namespace net
