/* Preloaded into a program under test: counts the calls that change the
 * disk (rename, remove, unlink, fsync) and sends SIGKILL just before call
 * number BRF_FAULT_KILL_AT, after writing that number to BRF_FAULT_MARK. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void Step(void) {
    static long calls;
    const char* at = getenv("BRF_FAULT_KILL_AT");
    const char* mark = getenv("BRF_FAULT_MARK");
    if (at != NULL && ++calls == atol(at)) {
        FILE* out = mark != NULL ? fopen(mark, "w") : NULL;
        if (out != NULL) {
            fprintf(out, "%ld\n", calls);
            fclose(out);
        }
        kill(getpid(), SIGKILL);
    }
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
