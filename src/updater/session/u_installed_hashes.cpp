#include "updater/session/u_installed_hashes.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "index/signed_index.h"

namespace updater {

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
    : BackgroundJob<Hashes>(
          [paths = std::move(paths)](const std::atomic<bool>& stop) {
              Hashes hashes;
              for (const std::string& path : paths) {
                  std::string sha256 = Hash(path, stop);
                  if (stop) {
                      break;
                  }
                  if (!sha256.empty()) {
                      hashes[path] = std::move(sha256);
                  }
              }
              return hashes;
          },
          std::move(done)) {}

}  // namespace updater
