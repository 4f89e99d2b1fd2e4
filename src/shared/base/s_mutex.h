// Starting another program of the game under the exec-mutex / run-mutex
// hand-over: the launcher holds the exec mutex while the program starts and
// lets go only once the program has announced itself by creating its run
// mutex.
#pragma once

#include <cstdint>

// The longest the launcher waits for the started program's run mutex. A
// program that never announces itself must not hang the updater forever.
inline constexpr uint32_t kHandOverTimeoutMs = 60000;

// Starts `directory` + `program` with its own path as its only argument and
// waits until the run mutex exists. True when the program was started and has
// created its run mutex; false when it could not be started (the user has
// been told) or did not take over within `timeoutMs`.
bool ExecWithMutex(const char* execMutexName, const char* directory, const char* program,
                   const char* runMutexName, uint32_t timeoutMs = kHandOverTimeoutMs);

// True if a mutex of that name exists in the system.
bool MutexExists(const char* name);
