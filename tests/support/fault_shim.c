/* Loaded into a program under test with LD_PRELOAD: counts the calls that
 * change what lies on the disk (rename, remove, unlink, fsync) and kills the
 * process with SIGKILL just before call number BRF_FAULT_KILL_AT, after
 * noting the count in the file BRF_FAULT_MARK. So a test can stop a real
 * process at every such point in turn, deterministically. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static long calls;

static void Step(void) {
    const char* at = getenv("BRF_FAULT_KILL_AT");
    if (at == NULL || ++calls != atol(at)) {
        return;
    }
    const char* mark = getenv("BRF_FAULT_MARK");
    if (mark != NULL) {
        FILE* out = fopen(mark, "w");
        if (out != NULL) {
            fprintf(out, "%ld\n", calls);
            fclose(out);
        }
    }
    kill(getpid(), SIGKILL);
}

#define FORWARD(name, ...)                                 \
    static __typeof__(name)* next;                         \
    if (next == NULL) {                                    \
        next = (__typeof__(name)*)dlsym(RTLD_NEXT, #name); \
    }                                                      \
    Step();                                                \
    return next(__VA_ARGS__)

int rename(const char* from, const char* to) {
    FORWARD(rename, from, to);
}

int remove(const char* path) {
    FORWARD(remove, path);
}

int unlink(const char* path) {
    FORWARD(unlink, path);
}

int fsync(int fd) {
    FORWARD(fsync, fd);
}
