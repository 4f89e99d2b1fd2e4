// What the test support needs of the machine the tests run on, with one
// implementation per platform (chosen by the build): starting and stopping
// nginx, and the registry values a game installation carries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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

// A server program of the machine, for the tests that need one beside nginx
// (a proxy): `argv` (argv[0] found through the search path) with its output
// into `output`, waited for until 127.0.0.1:`port` accepts. Under Wine it is
// a Linux program: Wine starts a file that is no Windows program as a Linux
// process, but gives no handle for it, so a shell of the host starts it and
// notes its process id and its end beside `output`
// (its stem with ".pid" and ".end"); paths in `argv` must be
// LinuxPath()'s. Returns an id for StopServer, or 0 when the program ended
// or did not accept in time (`output` says why).
int64_t StartServer(const std::vector<std::string>& argv, const std::filesystem::path& output,
                    uint16_t port);
void StopServer(int64_t server);

// A path of this process as the machine's Linux programs spell it: under
// Wine the Linux file the Windows path stands for (the reverse of HostPath).
std::string LinuxPath(const std::filesystem::path& path);

// Values of HKEY_CURRENT_USER\`key` that a test sets for the programs it
// starts: saved and removed when the guard is made, put back (or removed
// again, where there were none) when it goes, also when the test fails. The
// Windows lane's tests share one registry. POSIX: nothing to do, the values
// live in each test's own hive file.
class SavedUserValues {
public:
    SavedUserValues(std::string key, std::vector<std::string> names);
    ~SavedUserValues();
    SavedUserValues(const SavedUserValues&) = delete;
    SavedUserValues& operator=(const SavedUserValues&) = delete;

private:
    struct Value {
        std::string name;
        bool existed = false;
        uint32_t type = 0;
        std::string data;
    };
    std::string key_;
    std::vector<Value> values_;
};

}  // namespace brf_test::host
