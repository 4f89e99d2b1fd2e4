// Work on a worker thread whose result reaches the loop's thread as a posted
// task: hashing installed files, applying a delta. Gone with the object, the
// work is told to stop (it watches the flag it is given), waited for, and no
// result comes.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

#include "platform/event_loop.h"

namespace updater {

template <typename Result>
class BackgroundJob {
public:
    BackgroundJob(std::function<Result(const std::atomic<bool>& stop)> work,
                  std::function<void(const Result&)> done)
        : stop_(std::make_shared<std::atomic<bool>>(false)) {
        worker_ = std::thread([stop = stop_, work = std::move(work), done = std::move(done)] {
            Result result = work(*stop);
            if (*stop) {
                return;
            }
            std::weak_ptr<std::atomic<bool>> weak = stop;
            plat::PostTask([weak, done, result = std::move(result)] {
                const std::shared_ptr<std::atomic<bool>> alive = weak.lock();
                if (alive && !*alive) {
                    done(result);
                }
            });
        });
    }
    ~BackgroundJob() {
        *stop_ = true;
        worker_.join();
    }
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

private:
    std::shared_ptr<std::atomic<bool>> stop_;
    std::thread worker_;
};

}  // namespace updater
