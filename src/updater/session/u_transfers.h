// Fetching ahead: the files of the download list are fetched into their
// part files in "patch/" by worker threads, on up to four connections at
// once, while the run handles the files before them. The run still takes
// every file at its turn, in list order, and checks it there exactly as one
// it fetched alone: what the player sees keeps its order, only the line no
// longer stands idle between files.
//
// A bundle serves many files with one request: each run of members is
// fetched from the bundle, and each member's bytes are cut into its own
// part file as they arrive, hashed against the member's line. When a bundle
// cannot be used (not served, other bytes, a server that does not send the
// range asked for, a broken transfer), what is still missing of its members
// is fetched file by file, each continuing what its part already holds.
//
// The bundle of the installed release may be asked for before the index
// has named it (Expect): its answer then waits, unread, for the run that
// asks for all of it, and is dropped unread when the run needs less.
//
// The workers write nothing but part files and never log: what the run
// must know reaches it through tasks posted to the loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/http_fetch.h"

namespace updater {

class Transfers {
public:
    struct Settings {
        // The server's base address, ending in "/".
        std::string base;
        std::string proxy;
        int32_t proxyPort = 0;
        std::string authorization;
        int32_t connectTimeoutMs = 0;
        int32_t stallMs = 0;
        unsigned connections = 4;
    };

    // A file of the list and where its bytes go.
    struct File {
        int32_t index = 0;
        // Below the base address, "patch/NAME".
        std::string path;
        // "patch/NAME.part"; what it holds already is continued.
        std::string part;
        // What the file has in all (0: unknown) and the most a transfer of
        // it may bring.
        int64_t size = 0;
        int64_t bound = 0;
    };
    // A member of a bundle: the file it is, and where it stands in the bundle.
    struct Member {
        File file;
        uint64_t offset = 0;
        std::string sha256;
    };
    // Members fetched with one request, in bundle order; each may hold some
    // of its bytes already.
    struct BundleRun {
        std::string path;  // below the base address
        uint64_t bundleSize = 0;
        std::vector<Member> members;
        // A run that broke off is continued once.
        bool continued = false;
    };

    struct Result {
        bool complete = false;
        // The bytes the part file holds.
        int64_t bytes = 0;
        // Why it is not complete, and the status of the answer (0: none came).
        std::string problem;
        int status = 0;
    };

    // `log` receives, on the loop's thread, what the run's log file should
    // say about a bundle; `progress` is called there when bytes arrived.
    Transfers(Settings settings, std::function<void(const std::string&)> log,
              std::function<void()> progress);
    // Stops every transfer at once and waits for the workers.
    ~Transfers();
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    // Starts the transfers: the runs and files in list order of the first
    // file each serves; may be called again with more. The bundle expected
    // is handed the run that asks for all of it, and is dropped when this
    // call has none.
    void Start(std::vector<BundleRun> runs, std::vector<File> files);
    // Asks for the whole bundle at `path` (below the base address) now,
    // while the files it serves are not known yet.
    void Expect(std::string path);
    // True while the bundle expected waits for its run.
    bool Expecting() const;

    // True while the file at `index` is fetched here and its result was not
    // handed over yet.
    bool Covers(int32_t index) const;
    // Hands the result of the file at `index` to `done` on the loop's thread
    // once it is there; the file is no longer covered then.
    void Await(int32_t index, std::function<void(const Result&)> done);
    // Calls `each` with every file whose result was not handed over yet and
    // the bytes its part holds.
    void ForEachHeld(const std::function<void(int32_t index, int64_t bytes)>& each) const;
    // Bundles used, requests made (for the log file).
    std::string Summary() const;

    // The bytes a part file holds; 0 when there is none.
    static int64_t PartSize(const std::string& part);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace updater
