// Writes the data of the update benchmark (bench/update/run.sh): a release of
// N game files of M megabytes in all, half of them text-like and compressible
// and half random, the update server's patch set for it, and a game
// directory one release behind (every other file in an older version, the
// others not there yet).
//
//   update_bench_set DIR [--files N] [--mb M]
//
// DIR/new    the new release           DIR/old  the game directory before the update
// DIR/www    the server's files (patch/_servers.dat, patch/_versions.txt, containers)
// DIR/names  the containers' names, one a line, in index order
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "pack/packer.h"

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::string RandomBytes(std::mt19937_64& rng, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t word = rng();
        std::memcpy(&bytes[i], &word, std::min<size_t>(8, size - i));
    }
    return bytes;
}

std::string Text(std::mt19937_64& rng, size_t size, int variant) {
    static const char* const kWords[] = {"salt ",    "rope ",  "tar ",   "timber ", "brig ",
                                         "harbour ", "reef ",  "guns ",  "crew ",   "sail ",
                                         "wind ",    "north ", "cargo ", "rum ",    "anchor "};
    std::string text;
    text.reserve(size + 64);
    int line = 0;
    while (text.size() < size) {
        text += std::to_string(++line) + ": ";
        for (int w = 0; w < 9; ++w) {
            text += kWords[(rng() + static_cast<uint64_t>(variant)) % 15];
        }
        text += "\r\n";
    }
    text.resize(size);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: update_bench_set DIR [--files N] [--mb M]\n");
        return 2;
    }
    const fs::path dir = argv[1];
    int files = 500;
    uint64_t total = 200ull << 20;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--files") == 0) {
            files = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--mb") == 0) {
            total = static_cast<uint64_t>(std::atoll(argv[i + 1])) << 20;
        }
    }
    std::mt19937_64 rng(20040918);
    // Sizes spread between half and one and a half times the mean, summing
    // to the total exactly.
    std::vector<uint64_t> sizes(static_cast<size_t>(files));
    uint64_t sum = 0;
    for (auto& s : sizes) {
        s = total / static_cast<uint64_t>(files) / 2 +
            rng() % (total / static_cast<uint64_t>(files));
        sum += s;
    }
    // Scaled to the total; the rounding rest goes to the last file.
    uint64_t scaled = 0;
    for (auto& s : sizes) {
        s = s * total / sum;
        scaled += s;
    }
    sizes.back() += total - scaled;

    // The benchmark measures the updater, not the encoder: a quick parse
    // gives valid containers of a realistic size.
    PackOptions options;
    options.mode = ParseMode::Greedy;
    options.maxChain = 4;
    const Packer packer(options);

    std::string index = "1490\r\n1490\r\n1050\r\n0\r\n1040\r\n0\r\n[1040.0]\r\n";
    const int directories = 10;
    for (int d = 0; d < directories; ++d) {
        index += "data-d" + std::to_string(d) + "\r\n0\r\n";
    }
    std::string names;
    fs::create_directories(dir / "old" / "data");
    for (int i = 0; i < files; ++i) {
        const std::string sub = "d" + std::to_string(i % directories);
        const bool random = i % 2 == 0;
        const std::string file = "f" + std::to_string(i) + (random ? ".bin" : ".txt");
        const std::string path = "data/" + sub + "/" + file;
        const std::string content = random ? RandomBytes(rng, sizes[i]) : Text(rng, sizes[i], i);
        Write(dir / "new" / path, content);
        if (i % 4 < 2) {
            // One release behind: an older, shorter version of the file.
            Write(dir / "old" / path, content.substr(0, content.size() / 2));
        }
        const auto container =
            packer.BuildContainer(reinterpret_cast<const uint8_t*>(content.data()), content.size(),
                                  1095535533u, 1095535533u);
        const std::string name = "data-" + sub + "-" + file + ".upd";
        Write(dir / "www" / "patch" / name, std::string(container.begin(), container.end()));
        index += name + "\r\n" + std::to_string(container.size()) + ";2004-09-18 21:05:33\r\n";
        names += name + "\n";
    }
    index += "\r\n";
    Write(dir / "www" / "patch" / "_versions.txt", index);
    Write(dir / "www" / "patch" / "_servers.dat", "sea-1.brinefall.invalid 7777 Open Sea\r\n");
    Write(dir / "names", names);
    return 0;
}
