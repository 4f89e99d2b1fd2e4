// Decoding ahead: the containers of a run are decoded on worker threads into
// temporary files beside their game files while the run goes on, so the
// install that follows only has to back up and rename. The workers decode,
// flush and write nothing but those temporary files; whoever waits for a
// result on the main thread reports it. A temporary file is taken by the
// install or removed with the run; each one is listed in a file in "patch/"
// before it is begun, so the temporary files of a killed run are removed by
// the next one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace updater {

class DecodeAhead {
public:
    // What became of a decode: `ok`, and `onDisk` once the file was also
    // flushed to the disk; or the destination's error (empty when the
    // destination was not the problem) and whether the decoder could not
    // write all its bytes, which the caller logs as the decoder would.
    struct Outcome {
        bool ok = false;
        bool onDisk = false;
        std::error_code why;
        bool writeFailed = false;
    };

    // `listPath`: the list of the temporary files begun.
    explicit DecodeAhead(std::string listPath);
    // Stops the work of the run and removes its temporary files.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The temporary file the decode of `target` writes.
    static std::string TemporaryOf(const std::string& target);

    // Queues the decode of `container` into the temporary file of `target`.
    // A decode that failed is queued again: what failed early may succeed
    // now. Nothing happens for one that is queued, running or done.
    void Start(const std::string& container, const std::string& target);
    // Waits for the decode of `target` (queued by Start) and returns it; a
    // successful one leaves its temporary file for the caller to take.
    Outcome Finish(const std::string& target);
    // Ends the run's decodes: those queued are dropped, those running told
    // to stop and waited for, and every temporary file not taken removed,
    // the list with them.
    void Discard();
    // Removes the temporary files in the list a killed run left, and the list.
    void RemoveLeftovers();

    // Workers: the number of cores, at most 4.
    static unsigned WorkerCount();

private:
    enum class State { Queued, Running, Done };
    struct Job {
        std::string container;
        State state = State::Queued;
        Outcome outcome;
    };

    void Work();
    void Remember(const std::string& temporary);

    const std::string listPath_;
    std::mutex mutex_;
    // A job was queued (for the workers); one is done (for Finish and Discard).
    std::condition_variable work_;
    std::condition_variable done_;
    // By target.
    std::map<std::string, Job> jobs_;
    std::deque<std::string> queue_;
    int running_ = 0;
    std::atomic<bool> stop_{false};
    bool quitting_ = false;
    // Started with the first decode, so a run that decodes nothing has none.
    std::vector<std::thread> workers_;
};

}  // namespace updater
