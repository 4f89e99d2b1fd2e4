#include "updater/session/u_transfers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include "index/signed_index.h"
#include "platform/event_loop.h"

namespace fs = std::filesystem;

namespace updater {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The part file cut to `held` bytes and opened to continue there.
FilePtr ContinuePart(const std::string& part, int64_t held) {
    std::error_code ignored;
    if (held == 0) {
        return FilePtr(std::fopen(part.c_str(), "wb"));
    }
    fs::resize_file(part, static_cast<uintmax_t>(held), ignored);
    return FilePtr(std::fopen(part.c_str(), "ab"));
}

}  // namespace

struct Transfers::Shared : std::enable_shared_from_this<Transfers::Shared> {
    struct Slot {
        int64_t held = 0;
        bool done = false;
        bool awaited = false;
        Result result;
        std::function<void(const Result&)> waiter;
    };
    using Job = std::variant<BundleRun, File>;

    Settings settings;
    std::function<void(const std::string&)> log;
    std::function<void()> progress;
    net::FetchStop stop;

    mutable std::mutex mutex;
    std::condition_variable work;
    std::deque<Job> queue;
    std::map<int32_t, Slot> slots;
    bool quitting = false;
    int requests = 0;
    int bundlesUsed = 0;
    std::atomic<bool> progressPosted{false};
    std::atomic<int64_t> lastProgress{0};
    std::vector<std::thread> workers;

    void Work() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                work.wait(lock, [this] { return quitting || !queue.empty(); });
                if (quitting) {
                    return;
                }
                job = std::move(queue.front());
                queue.pop_front();
                ++requests;
            }
            if (std::holds_alternative<File>(job)) {
                RunFile(std::get<File>(job));
            } else {
                RunBundle(std::get<BundleRun>(job));
            }
        }
    }

    net::FetchRequest RequestFor(const std::string& path) const {
        net::FetchRequest request;
        request.url = settings.base + path;
        request.proxy = settings.proxy;
        request.proxyPort = settings.proxyPort;
        request.authorization = settings.authorization;
        request.connectTimeoutMs = settings.connectTimeoutMs;
        request.stallMs = settings.stallMs;
        return request;
    }

    void Held(int32_t index, int64_t bytes) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            slots[index].held = bytes;
        }
        // The bar moves at most twenty times a second, however fast the
        // bytes come: each move adds up the whole list.
        const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        if (now - lastProgress.load() < 50) {
            return;
        }
        lastProgress = now;
        if (!progressPosted.exchange(true)) {
            Post([](Shared& shared) {
                shared.progressPosted = false;
                shared.progress();
            });
        }
    }

    void Finish(int32_t index, Result result) {
        std::function<void(const Result&)> waiter;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            Slot& slot = slots[index];
            slot.done = true;
            slot.held = result.bytes;
            slot.result = result;
            waiter = std::move(slot.waiter);
        }
        if (waiter) {
            Deliver(index, std::move(waiter), std::move(result));
        }
    }

    // Runs `task` on the loop's thread unless the transfers are gone by then.
    void Post(std::function<void(Shared&)> task) {
        std::weak_ptr<Shared> weak = weak_from_this();
        plat::PostTask([weak, task = std::move(task)] {
            if (const std::shared_ptr<Shared> shared = weak.lock()) {
                task(*shared);
            }
        });
    }

    void Deliver(int32_t index, std::function<void(const Result&)> waiter, Result result) {
        Post([index, waiter = std::move(waiter), result = std::move(result)](Shared& shared) {
            {
                const std::lock_guard<std::mutex> lock(shared.mutex);
                shared.slots.erase(index);
            }
            waiter(result);
        });
    }

    void RunFile(const File& file) {
        int64_t held = PartSize(file.part);
        std::error_code ignored;
        if (held > file.bound || (file.size > 0 && held > file.size)) {
            fs::remove(file.part, ignored);  // longer than the file may be: no beginning of it
            held = 0;
        }
        if (file.size > 0 && held == file.size) {
            Finish(file.index, Result{true, held, {}});
            return;
        }
        net::FetchRequest request = RequestFor(file.path);
        request.first = held > 0 ? held : -1;
        FilePtr out;
        bool wholeHeld = false;
        const auto check = [&](const net::FetchResult& answer) {
            if (answer.status == 416 && held > 0 && answer.header.UnsatisfiedTotal == held &&
                (file.size <= 0 || held == file.size)) {
                wholeHeld = true;  // the part held the whole file already
                return false;
            }
            // A 206 is written after the bytes held only where it continues
            // them, of a document of the listed size: the part is never spoilt.
            const auto& range = answer.header.ContentRange;
            if (answer.status == 200) {
                held = 0;
            } else if (answer.status != 206 || !range || range->start != held ||
                       (file.size > 0 && range->total >= 0 && range->total != file.size)) {
                return false;
            }
            out = ContinuePart(file.part, held);
            return out != nullptr;
        };
        const auto sink = [&](const char* data, size_t size) {
            if (stop.Stopped() || std::fwrite(data, 1, size, out.get()) != size) {
                return false;
            }
            held += static_cast<int64_t>(size);
            Held(file.index, held);
            return held <= file.bound;
        };
        const net::FetchResult fetched = net::Fetch(request, check, sink, stop);
        const bool written = out && std::fflush(out.get()) == 0;
        out.reset();
        Result result{wholeHeld, PartSize(file.part), {}};
        if (fetched.complete && written) {
            result.complete = true;
            if (fetched.status == 206) {
                const TContentRange& range = *fetched.header.ContentRange;
                const int64_t total = range.total >= 0 ? range.total : file.size;
                result.complete = range.end + 1 == total &&
                                  (file.size <= 0 || total == file.size) && result.bytes == total;
            }
        }
        if (!result.complete) {
            result.status = fetched.status;
            result.problem = !fetched.answered ? fetched.problem
                             : !fetched.problem.empty()
                                 ? fetched.problem
                                 : "status " + std::to_string(fetched.status);
        }
        Finish(file.index, std::move(result));
    }

    // Whether `run` asks for its bundle from the first byte to the last.
    static bool Whole(const BundleRun& run) {
        const Member& first = run.members.front();
        const Member& last = run.members.back();
        return first.offset == 0 && PartSize(first.file.part) == 0 &&
               last.offset + static_cast<uint64_t>(last.file.size) == run.bundleSize;
    }

    // One answer for a bundle run: each member's bytes are cut into its part
    // as they arrive and hashed against its line; End says what the run
    // comes to.
    struct BundleStream {
        Shared& shared;
        const BundleRun& run;
        int64_t start = 0;
        int64_t end = 0;
        bool whole = false;
        bool accepted = false;
        // The member being written, where the stream stands, and how many
        // members came with other bytes.
        size_t current = 0;
        int wrongMembers = 0;
        int64_t position = 0;
        FilePtr out;
        int64_t held = 0;
        signed_index::Sha256 hasher;
        std::string problem;

        BundleStream(Shared& owner, const BundleRun& bundleRun) : shared(owner), run(bundleRun) {
            const Member& first = run.members.front();
            const Member& last = run.members.back();
            start = static_cast<int64_t>(first.offset) +
                    std::min(PartSize(first.file.part), first.file.size);
            end = static_cast<int64_t>(last.offset) + last.file.size - 1;
            whole = start == 0 && end + 1 == static_cast<int64_t>(run.bundleSize);
            position = start;
        }

        net::FetchRequest Request() const {
            net::FetchRequest request = shared.RequestFor(run.path);
            if (!whole) {
                request.first = start;
                request.last = end;
            }
            return request;
        }

        bool Check(const net::FetchResult& answer) {
            if (whole) {
                accepted = answer.status == 200 &&
                           (answer.announced < 0 ||
                            answer.announced == static_cast<int64_t>(run.bundleSize));
                return accepted;
            }
            const auto& range = answer.header.ContentRange;
            accepted = answer.status == 206 && range && range->start == start &&
                       range->end == end &&
                       (range->total < 0 || range->total == static_cast<int64_t>(run.bundleSize));
            return accepted;
        }

        bool Open(const Member& member) {
            held = PartSize(member.file.part);
            std::error_code ignored;
            if (held > member.file.size) {
                fs::remove(member.file.part, ignored);
                held = 0;
            }
            // What the part holds already counts towards the member's hash.
            if (FilePtr in{std::fopen(member.file.part.c_str(), "rb")}) {
                std::vector<char> buffer(64 * 1024);
                for (int64_t left = held; left > 0;) {
                    const size_t got = std::fread(
                        buffer.data(), 1,
                        static_cast<size_t>(std::min<int64_t>(left, buffer.size())), in.get());
                    if (got == 0) {
                        break;
                    }
                    hasher.Update(buffer.data(), got);
                    left -= static_cast<int64_t>(got);
                }
            }
            out = ContinuePart(member.file.part, held);
            return out != nullptr;
        }

        bool Take(const char* data, size_t size) {
            while (size > 0 && current < run.members.size()) {
                if (shared.stop.Stopped()) {
                    return false;
                }
                const Member& member = run.members[current];
                const int64_t memberStart = static_cast<int64_t>(member.offset);
                const int64_t memberEnd = memberStart + member.file.size;
                if (!out && position >= memberStart) {
                    if (!Open(member)) {
                        problem = "cannot write " + member.file.part;
                        return false;
                    }
                }
                // Bytes before the member, or that its part holds already,
                // are passed over.
                const int64_t wanted = out ? memberStart + held : memberStart;
                if (position < wanted) {
                    const auto skip =
                        static_cast<size_t>(std::min<int64_t>(wanted - position, size));
                    data += skip;
                    size -= skip;
                    position += static_cast<int64_t>(skip);
                    continue;
                }
                const auto take =
                    static_cast<size_t>(std::min<int64_t>(memberEnd - position, size));
                if (std::fwrite(data, 1, take, out.get()) != take) {
                    problem = "cannot write " + member.file.part;
                    return false;
                }
                hasher.Update(data, take);
                data += take;
                size -= take;
                position += static_cast<int64_t>(take);
                held += static_cast<int64_t>(take);
                shared.Held(member.file.index, held);
                if (position == memberEnd && !MemberEnded(member)) {
                    return false;
                }
            }
            return true;
        }

        // The member's last byte was written: it is handed over, or, with
        // other bytes than its line says, fetched alone at its turn; a
        // second such member says the bundle is not the one announced.
        bool MemberEnded(const Member& member) {
            const bool written = std::fflush(out.get()) == 0;
            out.reset();
            if (!written) {
                problem = "cannot write " + member.file.part;
                return false;
            }
            ++current;
            if (hasher.HexDigest() == member.sha256) {
                CountIfLast();
                shared.Finish(member.file.index, Result{true, held, {}});
                return true;
            }
            std::error_code ignored;
            fs::remove(member.file.part, ignored);
            const std::string wrong =
                member.file.path + " came with other bytes than its line says";
            if (++wrongMembers > 1) {
                --current;
                problem = wrong;
                return false;
            }
            shared.Post(
                [line = "bundle " + run.path + ": " + wrong](Shared& owner) { owner.log(line); });
            CountIfLast();
            shared.Finish(member.file.index, Result{false, 0, wrong, 0});
            return true;
        }

        // The run's last member was cut: the bundle counts as used before
        // the member is handed over, so the run that takes it sees so.
        void CountIfLast() {
            if (current == run.members.size()) {
                const std::lock_guard<std::mutex> lock(shared.mutex);
                ++shared.bundlesUsed;
            }
        }

        // After the answer: every member there, or what is missing asked
        // for once more from the first byte not held, or fetched file by
        // file before anything after it.
        void End(const net::FetchResult& fetched) {
            out.reset();
            if (current == run.members.size()) {
                return;
            }
            if (shared.stop.Stopped()) {
                return;
            }
            const std::string& at = run.members[current].file.path;
            if (accepted && problem.empty() && !run.continued) {
                const std::string line = "bundle " + run.path + " broke off in " + at + " (" +
                                         fetched.problem + "): continuing it";
                shared.Post([line](Shared& owner) { owner.log(line); });
                BundleRun rest{run.path, run.bundleSize, {}, true};
                rest.members.assign(run.members.begin() + static_cast<ptrdiff_t>(current),
                                    run.members.end());
                const std::lock_guard<std::mutex> lock(shared.mutex);
                shared.queue.emplace_front(std::in_place_type<BundleRun>, std::move(rest));
                shared.work.notify_all();
                return;
            }
            if (problem.empty()) {
                problem = !fetched.answered  ? fetched.problem
                          : fetched.complete ? "it ended early"
                          : !fetched.problem.empty()
                              ? fetched.problem
                              : "status " + std::to_string(fetched.status) +
                                    (whole || fetched.status != 200 ? "" : " to a range request");
            }
            const std::string line = "bundle " + run.path + " not used from " + at +
                                     " on: " + problem +
                                     "; fetching the rest of its members one by one";
            shared.Post([line](Shared& owner) { owner.log(line); });
            const std::lock_guard<std::mutex> lock(shared.mutex);
            for (size_t k = run.members.size(); k-- > current;) {
                shared.queue.push_front(run.members[k].file);
            }
            shared.work.notify_all();
        }
    };

    void RunBundle(const BundleRun& run) {
        BundleStream stream(*this, run);
        const net::FetchResult fetched = net::Fetch(
            stream.Request(), [&](const net::FetchResult& answer) { return stream.Check(answer); },
            [&](const char* data, size_t size) { return stream.Take(data, size); }, stop);
        stream.End(fetched);
    }

    // The bundle asked for ahead: its answer waits, unread, for Start to
    // hand it the run that asks for all of it; any other decision leaves
    // the body unread and closes the connection.
    void RunExpected(const std::string& path) {
        std::optional<BundleStream> stream;
        const auto adopted = [&] {
            std::unique_lock<std::mutex> lock(mutex);
            work.wait(lock,
                      [this] { return quitting || expected->state != Expected::State::Waiting; });
            if (!quitting && expected->state == Expected::State::Adopted) {
                stream.emplace(*this, expected->run);
            }
            return stream.has_value();
        };
        net::FetchRequest request = RequestFor(path);
        const net::FetchResult fetched = net::Fetch(
            request,
            [&](const net::FetchResult& answer) { return adopted() && stream->Check(answer); },
            [&](const char* data, size_t size) { return stream->Take(data, size); }, stop);
        // Without an answer the decision is still awaited: a run handed
        // over then falls back as any other.
        if (stream || adopted()) {
            stream->End(fetched);
        }
    }

    struct Expected {
        enum class State { Waiting, Adopted, Dropped };
        std::string path;
        State state = State::Waiting;
        BundleRun run;
    };
    // Guarded by `mutex`; its thread is joined with the workers.
    std::optional<Expected> expected;
    std::thread expectedThread;
};

Transfers::Transfers(Settings settings, std::function<void(const std::string&)> log,
                     std::function<void()> progress)
    : shared_(std::make_shared<Shared>()) {
    shared_->settings = std::move(settings);
    shared_->log = std::move(log);
    shared_->progress = std::move(progress);
}

Transfers::~Transfers() {
    shared_->stop.Stop();
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->quitting = true;
    }
    shared_->work.notify_all();
    for (std::thread& worker : shared_->workers) {
        worker.join();
    }
    if (shared_->expectedThread.joinable()) {
        shared_->expectedThread.join();
    }
}

void Transfers::Expect(std::string path) {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->expected) {
        return;
    }
    shared_->expected.emplace();
    shared_->expected->path = path;
    ++shared_->requests;
    shared_->expectedThread = std::thread(
        [shared = shared_.get(), path = std::move(path)] { shared->RunExpected(path); });
}

bool Transfers::Expecting() const {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->expected && shared_->expected->state == Shared::Expected::State::Waiting;
}

void Transfers::Start(std::vector<BundleRun> runs, std::vector<File> files) {
    std::vector<std::pair<int32_t, Shared::Job>> jobs;
    for (BundleRun& run : runs) {
        const int32_t first = run.members.front().file.index;
        jobs.emplace_back(first, std::move(run));
    }
    for (File& file : files) {
        const int32_t first = file.index;
        jobs.emplace_back(first, std::move(file));
    }
    std::stable_sort(jobs.begin(), jobs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    size_t queued = 0;
    bool adopted = false;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        std::optional<Shared::Expected>& expected = shared_->expected;
        for (auto& [first, job] : jobs) {
            if (std::holds_alternative<File>(job)) {
                shared_->slots[first];
            } else {
                BundleRun& run = std::get<BundleRun>(job);
                for (const Member& member : run.members) {
                    shared_->slots[member.file.index];
                }
                if (expected && expected->state == Shared::Expected::State::Waiting &&
                    run.path == expected->path && Shared::Whole(run)) {
                    expected->run = std::move(run);
                    expected->state = Shared::Expected::State::Adopted;
                    adopted = true;
                    continue;
                }
            }
            shared_->queue.push_back(std::move(job));
            ++queued;
        }
        if (expected && expected->state == Shared::Expected::State::Waiting) {
            expected->state = Shared::Expected::State::Dropped;
        }
    }
    shared_->work.notify_all();
    // The bundle asked for ahead holds a connection of its own; one worker
    // always stands by for what falls back from it.
    const unsigned connections = std::max(1u, shared_->settings.connections);
    const auto wanted = static_cast<unsigned>(std::clamp<size_t>(
        queued + shared_->workers.size(), 1, std::max(1u, connections - (adopted ? 1 : 0))));
    while (shared_->workers.size() < wanted) {
        shared_->workers.emplace_back([shared = shared_.get()] { shared->Work(); });
    }
}

bool Transfers::Covers(int32_t index) const {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    const auto found = shared_->slots.find(index);
    return found != shared_->slots.end() && !found->second.awaited;
}

void Transfers::Await(int32_t index, std::function<void(const Result&)> done) {
    Result result;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        Shared::Slot& slot = shared_->slots[index];
        slot.awaited = true;
        if (!slot.done) {
            slot.waiter = std::move(done);
            return;
        }
        result = slot.result;
    }
    shared_->Deliver(index, std::move(done), std::move(result));
}

void Transfers::ForEachHeld(const std::function<void(int32_t index, int64_t bytes)>& each) const {
    std::vector<std::pair<int32_t, int64_t>> held;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        for (const auto& [index, slot] : shared_->slots) {
            held.emplace_back(index, slot.held);
        }
    }
    for (const auto& [index, bytes] : held) {
        each(index, bytes);
    }
}

std::string Transfers::Summary() const {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    return std::to_string(shared_->requests) + " request(s), " +
           std::to_string(shared_->bundlesUsed) + " bundle run(s) used";
}

int64_t Transfers::PartSize(const std::string& part) {
    std::error_code error;
    const uintmax_t size = fs::file_size(part, error);
    return error ? 0 : static_cast<int64_t>(size);
}

}  // namespace updater
