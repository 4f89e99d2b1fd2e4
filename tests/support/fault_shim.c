/* Preloaded into a program under test: counts the calls that change the
 * disk (rename, remove, unlink, fsync) and sends SIGKILL just before call
 * number BRF_FAULT_KILL_AT, after writing that number to BRF_FAULT_MARK.
 *
 * With BRF_FAULT_BUSY, a rename from or onto that path fails with EBUSY,
 * as if another program held the file: for BRF_FAULT_BUSY_MS milliseconds
 * after the first such rename, or for good without it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
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

static long long NowMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

static int Busy(const char* from, const char* to) {
    static long long first = -1;
    const char* held = getenv("BRF_FAULT_BUSY");
    const char* span = getenv("BRF_FAULT_BUSY_MS");
    if (held == NULL || (strcmp(from, held) != 0 && strcmp(to, held) != 0)) {
        return 0;
    }
    if (first < 0) {
        first = NowMs();
    }
    return span == NULL || NowMs() - first < atoll(span);
}

int rename(const char* from, const char* to) {
    if (Busy(from, to)) {
        errno = EBUSY;
        return -1;
    }
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
