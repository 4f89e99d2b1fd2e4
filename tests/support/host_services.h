// What the test support needs of the machine the tests run on, with one
// implementation per platform (chosen by the build): starting and stopping
// nginx, and the registry values a game installation carries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace brf_test::host {

// Whether the tests run under Wine, as the Windows lane's do: a few details
// of the system differ there from Windows' and from the native lane's.
bool UnderWine();

// Whether the nginx worker processes will run as root (as root nginx would
// otherwise hand them to an unprivileged user).
bool RunningAsRoot();

// A port on 127.0.0.1 that nobody listens on right now; 0 if none was found.
uint16_t FreeLoopbackPort();

// Starts `nginx -p work -c config -e work/error.log` with output into
// work/nginx.out and waits until 127.0.0.1:`port` accepts. Returns an id for
// StopNginx, or 0 when nginx ended or did not accept in time.
int64_t StartNginx(const std::filesystem::path& config, const std::filesystem::path& work,
                   uint16_t port);
void StopNginx(int64_t process);

// A path of this process as the machine's own programs spell it. Programs
// under Wine see the Linux file system as drive Z:.
std::string HostPath(const std::string& posixPath);

// Makes the values of `exportText` (a registry export file, REGEDIT4) what
// programs started from now on read. POSIX: the text becomes the hive file
// `hiveFile`, BRF_HKCU_FILE names it and BRF_HKLM_FILE a file that does not
// exist. Windows: HKCU\Software\Brinefall is emptied and the text imported
// with the system's reg.exe. False on failure.
bool InstallRegistry(const std::string& exportText, const std::filesystem::path& hiveFile);

}  // namespace brf_test::host
