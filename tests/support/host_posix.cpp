// The test host on Linux: nginx as a child process, registry values as hive
// files named by the environment.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/environment.h"
#include "support/host_services.h"
#include "support/test_support.h"

extern char** environ;

namespace brf_test::host {

namespace {

bool Accepts(uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return connected;
}

bool Ended(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

bool UnderWine() {
    return false;
}

bool RunningAsRoot() {
    return geteuid() == 0;
}

uint16_t FreeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(s);
    return port;
}

int64_t StartNginx(const std::filesystem::path& config, const std::filesystem::path& work,
                   uint16_t port) {
    const std::string program =
        access("/usr/sbin/nginx", X_OK) == 0 ? std::string("/usr/sbin/nginx") : "nginx";
    return StartServer({program, "-p", work.string() + "/", "-c", config.string(), "-e",
                        (work / "error.log").string()},
                       work / "nginx.out", port);
}

void StopNginx(int64_t process) {
    const auto pid = static_cast<pid_t>(process);
    // TERM is nginx's fast shutdown: the master stops its workers and ends.
    kill(pid, SIGTERM);
    if (WaitFor([&] { return Ended(pid); }, {.boundMs = 5000, .pollMs = 10})) {
        return;
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

std::string HostPath(const std::string& posixPath) {
    return posixPath;
}

bool InstallRegistry(const std::string& exportText, const std::filesystem::path& hiveFile) {
    {
        std::ofstream out(hiveFile, std::ios::binary | std::ios::trunc);
        out << exportText;
        if (!out) {
            return false;
        }
    }
    plat::SetEnv("BRF_HKCU_FILE", hiveFile.string().c_str());
    plat::SetEnv("BRF_HKLM_FILE", (hiveFile.string() + ".missing").c_str());
    return true;
}

int64_t StartServer(const std::vector<std::string>& argv, const std::filesystem::path& output,
                    uint16_t port) {
    if (argv.empty()) {
        return 0;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const std::string outputPath = output.string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::ofstream(output, std::ios::app)
            << "cannot start " << argv[0] << ": errno " << error << "\n";
        return 0;
    }
    bool accepts = false;
    const bool settled = WaitFor([&] { return (accepts = Accepts(port)) || Ended(pid); },
                                 {.boundMs = 10000, .pollMs = 20});
    if (accepts) {
        return pid;
    }
    if (!settled) {
        StopServer(pid);
    }
    return 0;
}

void StopServer(int64_t server) {
    StopNginx(server);  // the same: TERM, and KILL for one that does not end
}

std::string LinuxPath(const std::filesystem::path& path) {
    return path.string();
}

SavedUserValues::SavedUserValues(std::string key, std::vector<std::string> /*names*/)
    : key_(std::move(key)) {}

SavedUserValues::~SavedUserValues() = default;

}  // namespace brf_test::host
