#include "updater/u_installed_hashes.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "index/signed_index.h"
#include "platform/event_loop.h"

namespace updater {

struct InstalledHashes::Shared {
    std::atomic<bool> stop{false};
};

namespace {

// Empty when the file cannot be read or the reading was stopped.
std::string Hash(const std::string& path, const std::atomic<bool>& stop) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return {};
    }
    signed_index::Sha256 hasher;
    std::vector<char> buffer(1 << 20);
    size_t got = 0;
    while (!stop && (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        hasher.Update(buffer.data(), got);
    }
    const bool whole = !stop && std::ferror(file) == 0;
    std::fclose(file);
    return whole ? hasher.HexDigest() : std::string();
}

}  // namespace

InstalledHashes::InstalledHashes(std::vector<std::string> paths,
                                 std::function<void(const Hashes&)> done)
    : shared_(std::make_shared<Shared>()) {
    worker_ = std::thread([shared = shared_, paths = std::move(paths), done = std::move(done)] {
        Hashes hashes;
        for (const std::string& path : paths) {
            std::string sha256 = Hash(path, shared->stop);
            if (shared->stop) {
                return;
            }
            if (!sha256.empty()) {
                hashes[path] = std::move(sha256);
            }
        }
        std::weak_ptr<Shared> weak = shared;
        plat::PostTask([weak, done, hashes = std::move(hashes)] {
            const std::shared_ptr<Shared> alive = weak.lock();
            if (alive && !alive->stop) {
                done(hashes);
            }
        });
    });
}

InstalledHashes::~InstalledHashes() {
    shared_->stop = true;
    worker_.join();
}

}  // namespace updater
