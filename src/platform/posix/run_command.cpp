#include "platform/run_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace plat {

int RunCommand(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& stdoutFile, const std::string& stderrFile) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!stdoutFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return -1;
}

}  // namespace plat
