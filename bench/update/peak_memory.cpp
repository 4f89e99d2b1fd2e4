// update_bench_peak: runs a command and writes its peak resident memory.
//
//   update_bench_peak FILE COMMAND [ARGUMENTS...]
//
// Runs COMMAND with this program's standard input, output and error, waits
// for it and writes its peak resident set size in kilobytes (wait4's
// ru_maxrss of the command and the children it waited for) to FILE, then
// exits with the command's exit status (128 + the signal's number when a
// signal ended it). SIGTERM, SIGINT and SIGHUP are passed on to the command.
//
// The benchmark scripts are Python, and a process that Python forks keeps
// the interpreter's resident size as its own peak when it executes the
// command; forked from this small program, the command's peak is its own.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

volatile pid_t child = -1;

void PassOn(int signal) {
    if (child > 0) {
        kill(child, signal);
    }
}

const char kUsage[] =
    "usage: update_bench_peak FILE COMMAND [ARGUMENTS...]\n"
    "\n"
    "Runs COMMAND, then writes its peak resident memory in kilobytes to FILE\n"
    "and exits with its exit status (128 + signal number if a signal ended it).\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = PassOn;
    sigemptyset(&action.sa_mask);
    for (const int passed : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(passed, &action, nullptr);
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("update_bench_peak: fork");
        return 125;
    }
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "update_bench_peak: cannot run %s: %s\n", argv[2],
                     std::strerror(errno));
        _exit(127);
    }
    child = pid;
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("update_bench_peak: wait4");
            return 125;
        }
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "update_bench_peak: cannot write %s\n", argv[1]);
        return 125;
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
