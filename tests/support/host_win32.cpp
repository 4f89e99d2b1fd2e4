// The test host under Windows (Wine): nginx cannot be started from here, the
// test script runs one for all tests (see nginx_server.h); registry values go
// into the real registry through the system's reg.exe. Other servers are
// Linux programs that Wine starts for us (StartServer).
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/run_command.h"
#include "support/host_services.h"
#include "support/test_support.h"

namespace brf_test::host {

bool UnderWine() {
    // Wine's ntdll tells its version; Windows' has no such entry.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool RunningAsRoot() {
    return false;
}

namespace {

// The socket service for the calls below, for as long as the process runs.
bool SocketsReady() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

bool Accepts(uint16_t port) {
    if (!SocketsReady()) {
        return false;
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(s);
    return connected;
}

}  // namespace

uint16_t FreeLoopbackPort() {
    if (!SocketsReady()) {
        return 0;
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    closesocket(s);
    return port;
}

int64_t StartNginx(const std::filesystem::path& /*config*/, const std::filesystem::path& work,
                   uint16_t /*port*/) {
    std::ofstream(work / "nginx.out")
        << "no nginx under Windows: run the tests through scripts/test-windows.sh, which sets "
           "BRF_TEST_NGINX_PORT and BRF_TEST_NGINX_ROOT\n";
    return 0;
}

void StopNginx(int64_t /*process*/) {}

std::string HostPath(const std::string& posixPath) {
    if (posixPath.empty() || posixPath[0] != '/') {
        return posixPath;
    }
    std::string path = "Z:" + posixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

bool InstallRegistry(const std::string& exportText, const std::filesystem::path& hiveFile) {
    {
        std::ofstream out(hiveFile, std::ios::binary | std::ios::trunc);
        out << exportText;
        if (!out) {
            return false;
        }
    }
    plat::RunCommand("reg.exe", {"delete", "HKCU\\Software\\Brinefall", "/f"}, "NUL", "NUL");
    return plat::RunCommand("reg.exe", {"import", hiveFile.string()}, "NUL", "NUL") == 0;
}

namespace {

// Runs the host's /bin/sh with `arguments`; Wine neither waits for it nor
// gives its exit status.
bool RunHostShell(const std::vector<std::string>& arguments) {
    return plat::StartCommand(HostPath("/bin/sh"), arguments) == plat::kStartOk;
}

// The servers started, by id: the path their shell's notes begin with.
std::mutex serversMutex;
std::map<int64_t, std::filesystem::path> servers;
int64_t lastServer = 0;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Signals the program of the notes `state` and waits until its shell notes
// its end.
bool Signal(const std::filesystem::path& state, const char* signal, uint32_t boundMs) {
    std::filesystem::path pidFile = state;
    pidFile += ".pid";
    std::filesystem::path endFile = state;
    endFile += ".end";
    std::string pid;
    WaitFor([&] { return !(pid = ReadText(pidFile)).empty() || Exists(endFile); },
            {.boundMs = 5000, .pollMs = 20});
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == '\r')) {
        pid.pop_back();
    }
    if (!pid.empty() && !Exists(endFile)) {
        RunHostShell({"-c", std::string("kill -") + signal + " \"$1\"", "sh", pid});
    }
    return WaitFor([&] { return Exists(endFile); }, {.boundMs = boundMs, .pollMs = 20});
}

}  // namespace

int64_t StartServer(const std::vector<std::string>& argv, const std::filesystem::path& output,
                    uint16_t port) {
    if (argv.empty()) {
        return 0;
    }
    const std::filesystem::path state = output.parent_path() / output.stem();
    for (const char* suffix : {".pid", ".end"}) {
        std::error_code ec;
        std::filesystem::remove(std::filesystem::path(state) += suffix, ec);
    }
    // The shell waits for the program and notes its end, as a parent on
    // Linux would see it. A test that dies leaves no server for longer than
    // `timeout` allows.
    std::vector<std::string> arguments = {
        "-c",
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin; "
        "out=$1; state=$2; shift 2; "
        "timeout 600 \"$@\" </dev/null >\"$out\" 2>&1 & echo $! >\"$state.pid\"; "
        "wait $!; echo $? >\"$state.end\"",
        "sh", LinuxPath(output), LinuxPath(state)};
    arguments.insert(arguments.end(), argv.begin(), argv.end());
    if (!RunHostShell(arguments)) {
        std::ofstream(output, std::ios::app)
            << "cannot start the host's shell: error " << GetLastError() << "\n";
        return 0;
    }
    std::filesystem::path endFile = state;
    endFile += ".end";
    bool accepts = false;
    const bool settled = WaitFor([&] { return (accepts = Accepts(port)) || Exists(endFile); },
                                 {.boundMs = 10000, .pollMs = 20});
    if (!accepts) {
        if (!settled && !Signal(state, "TERM", 5000)) {
            Signal(state, "KILL", 5000);
        }
        return 0;
    }
    std::lock_guard<std::mutex> lock(serversMutex);
    servers[++lastServer] = state;
    return lastServer;
}

void StopServer(int64_t server) {
    std::filesystem::path state;
    {
        std::lock_guard<std::mutex> lock(serversMutex);
        const auto found = servers.find(server);
        if (found == servers.end()) {
            return;
        }
        state = found->second;
        servers.erase(found);
    }
    if (!Signal(state, "TERM", 10000)) {
        Signal(state, "KILL", 5000);
    }
}

std::string LinuxPath(const std::filesystem::path& path) {
    // Wine's own export; Windows has none, and no Linux programs either.
    using UnixName = char*(CDECL*)(const wchar_t*);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto unixName = kernel32 == nullptr
                              ? nullptr
                              : reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                                    GetProcAddress(kernel32, "wine_get_unix_file_name")));
    if (unixName == nullptr) {
        return path.string();
    }
    const std::wstring full = std::filesystem::absolute(path).wstring();
    char* name = unixName(full.c_str());
    if (name == nullptr) {
        return path.string();
    }
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

SavedUserValues::SavedUserValues(std::string key, std::vector<std::string> names)
    : key_(std::move(key)) {
    HKEY handle = nullptr;
    const bool open = RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE, &handle) == ERROR_SUCCESS;
    for (std::string& name : names) {
        Value value;
        value.name = std::move(name);
        DWORD type = 0;
        DWORD size = 0;
        if (open && RegQueryValueExA(handle, value.name.c_str(), nullptr, &type, nullptr, &size) ==
                        ERROR_SUCCESS) {
            value.data.resize(size);
            if (RegQueryValueExA(handle, value.name.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(value.data.data()),
                                 &size) == ERROR_SUCCESS) {
                value.existed = true;
                value.type = type;
                value.data.resize(size);
                RegDeleteValueA(handle, value.name.c_str());
            }
        }
        values_.push_back(std::move(value));
    }
    if (open) {
        RegCloseKey(handle);
    }
}

SavedUserValues::~SavedUserValues() {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    for (const Value& value : values_) {
        if (value.existed) {
            RegSetValueExA(handle, value.name.c_str(), 0, value.type,
                           reinterpret_cast<const BYTE*>(value.data.data()),
                           static_cast<DWORD>(value.data.size()));
        } else {
            RegDeleteValueA(handle, value.name.c_str());
        }
    }
    RegCloseKey(handle);
}

}  // namespace brf_test::host
