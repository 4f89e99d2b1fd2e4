// The temporary copy of a self-replacement ("updater.tmp.exe") and the new
// program it starts. The copy may still be ending when the new program comes
// up, and on Windows a running program's file cannot be removed: the copy
// holds a named mutex for as long as it runs, and the new program removes
// the file only once that mutex is gone, trying again for a while, and once
// more when it closes.
#pragma once

#include <memory>
#include <string>

#include "net/thread_timer.h"
#include "platform/named_mutex.h"

namespace updater {

class TempCopy {
public:
    // In the temporary copy: holds the mutex until this object goes, with
    // the process. `directory` is the program's own, so that copies in other
    // game directories do not count.
    static std::unique_ptr<TempCopy> HoldWhileRunning(const std::string& directory);

    // In the new program: removes `path` once the copy that started it has
    // ended, polling on the loop's timer for at most kPatienceMs.
    static std::unique_ptr<TempCopy> RemoveWhenEnded(const std::string& directory,
                                                     std::string path);

    // A copy still not removed is tried once more.
    ~TempCopy();

    TempCopy(const TempCopy&) = delete;
    TempCopy& operator=(const TempCopy&) = delete;

    static constexpr uint32_t kPollMs = 50;
    static constexpr uint32_t kPatienceMs = 15000;

private:
    TempCopy() = default;
    static std::string MutexName(const std::string& directory);
    // True once the file is gone.
    bool TryRemove();

    std::unique_ptr<plat::NamedMutex> running_;
    std::string mutexName_;
    std::string path_;
    uint32_t waited_ = 0;
    std::unique_ptr<TThreadTimer> timer_;
};

}  // namespace updater
