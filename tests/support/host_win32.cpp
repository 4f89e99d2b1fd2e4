// The test host under Windows (Wine): nginx cannot be started from here, the
// test script runs one for all tests (see nginx_server.h); registry values go
// into the real registry through the system's reg.exe.
#include <windows.h>

#include <fstream>
#include <string>

#include "platform/run_command.h"
#include "support/host_services.h"

namespace brf_test::host {

bool UnderWine() {
    // Wine's ntdll tells its version; Windows' has no such entry.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool RunningAsRoot() {
    return false;
}

uint16_t FreeLoopbackPort() {
    return 0;
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

}  // namespace brf_test::host
