// Throughput of the container check and decoder, and what the encoder's
// parse modes achieve, on a mixed corpus generated here: text, structured
// binary records and incompressible (already compressed) data.
//
//   cmake --preset bench && cmake --build --preset bench
//   build/bench/bench/pack/pack_bench [--mb 50] [--runs 3] [--dir DIR]
//
// Every figure is the best of the runs, in processor time of this process
// (user and system), from the page cache. The plain
// decoder (getc/putc, the steps as written) is the yardstick for
// CPack::DecodeFile and must produce the same bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pack/literal_decoder.h"
#include "pack/pack.h"
#include "pack/packer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One third each: text from a vocabulary, binary records with counters,
// small integers and repeated field names, and random bytes.
Bytes MakeCorpus(size_t size) {
    std::mt19937 rng(20240611);
    Bytes out;
    out.reserve(size + 1024);
    static const char* const kWords[] = {
        "the",      "brine", "fall",    "sail",   "wind",     "harbour", "captain", "ship",
        "anchor",   "deck",  "rope",    "storm",  "island",   "compass", "north",   "of",
        "and",      "a",     "to",      "update", "patch",    "version", "server",  "file",
        "merchant", "cargo", "galleon", "trade",  "westward", "reef",    "tide",    "crew"};
    const size_t chunk = 256 * 1024;
    int part = 0;
    while (out.size() < size) {
        const size_t end = std::min(size, out.size() + chunk);
        switch (part++ % 3) {
            case 0:  // text
                while (out.size() < end) {
                    const char* w = kWords[rng() % 32];
                    out.insert(out.end(), w, w + std::strlen(w));
                    const uint32_t r = rng() % 16;
                    out.push_back(r == 0 ? '\n' : (r == 1 ? '.' : ' '));
                }
                break;
            case 1: {  // binary records
                uint32_t counter = rng();
                while (out.size() < end) {
                    const char name[8] = {'R', 'E', 'C', static_cast<char>('0' + rng() % 4),
                                          0,   0,   0,   1};
                    out.insert(out.end(), name, name + 8);
                    counter += 1 + rng() % 3;
                    for (int b = 0; b < 4; b++) {
                        out.push_back(static_cast<uint8_t>(counter >> (8 * b)));
                    }
                    for (int k = 0; k < 4; k++) {
                        out.push_back(static_cast<uint8_t>(rng() % 8));
                    }
                    const uint32_t x = rng();
                    out.push_back(static_cast<uint8_t>(x));
                    out.push_back(static_cast<uint8_t>(x >> 8));
                    out.push_back(0);
                    out.push_back(0);
                }
                break;
            }
            default:  // compressed already
                while (out.size() < end) {
                    out.push_back(static_cast<uint8_t>(rng() >> 24));
                }
        }
    }
    out.resize(size);
    return out;
}

void WriteFile(const std::string& path, const Bytes& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

bool SameFiles(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 16);
    std::vector<char> bb(1 << 16);
    while (same) {
        const size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) {
            same = false;
        }
        if (na == 0) {
            break;
        }
    }
    if (fa != nullptr) {
        std::fclose(fa);
    }
    if (fb != nullptr) {
        std::fclose(fb);
    }
    return same;
}

// Processor time of this process (user and system) of the fastest run. The
// machine may be shared with other work, which stretches wall-clock time
// but not the time the process itself was given.
template <typename F>
double BestSeconds(int runs, F&& f) {
    double best = 1e30;
    for (int i = 0; i < runs; i++) {
        const std::clock_t c0 = std::clock();
        f();
        const double s = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        best = std::min(best, s);
    }
    return best;
}

double MBps(size_t bytes, double seconds) {
    return static_cast<double>(bytes) / 1e6 / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = 50;
    int runs = 3;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "brf_pack_bench";
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--mb" && i + 1 < argc) {
            megabytes = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else {
            std::printf("usage: pack_bench [--mb MEGABYTES] [--runs N] [--dir DIR]\n");
            return a == "--help" ? 0 : 2;
        }
    }
    std::filesystem::create_directories(dir);
    const std::string original = (dir / "corpus.bin").string();
    const size_t size = megabytes * 1000 * 1000;
    const Bytes corpus = MakeCorpus(size);
    WriteFile(original, corpus);
    std::printf("corpus: %zu bytes (text, binary records, random; thirds)\n", size);

    // Encoder: size and speed of each parse mode.
    std::string container;
    const struct {
        const char* name;
        ParseMode mode;
    } modes[] = {
        {"greedy", ParseMode::Greedy}, {"lazy", ParseMode::Lazy}, {"optimal", ParseMode::Optimal}};
    size_t greedySize = 0;
    for (const auto& m : modes) {
        PackOptions options;
        options.mode = m.mode;
        Bytes packed;
        const double s = BestSeconds(1, [&] {
            packed = Packer(options).BuildContainer(corpus.data(), corpus.size(), 0, 0);
        });
        if (m.mode == ParseMode::Greedy) {
            greedySize = packed.size();
        }
        std::printf(
            "encode %-8s %10zu bytes  %6.2f%% of original  %+6.2f%% vs greedy  %7.2f MB/s\n",
            m.name, packed.size(), 100.0 * packed.size() / size,
            100.0 * (static_cast<double>(packed.size()) - greedySize) / greedySize, MBps(size, s));
        const std::string path = (dir / (std::string("corpus.") + m.name + ".pack")).string();
        WriteFile(path, packed);
        container = path;  // the last, optimal, is used below
    }

    CPack* pack = CPack::Get();
    const size_t containerSize = std::filesystem::file_size(container);
    int32_t code = 0;
    pack->CheckFile(container.c_str());  // into the page cache
    const double check = BestSeconds(runs, [&] { code = pack->CheckFile(container.c_str()); });
    std::printf("CheckFile            %8.1f MB/s on the optimal container (code %d)\n",
                MBps(containerSize, check), code);
    const double checkRaw = BestSeconds(runs, [&] { code = pack->CheckFile(original.c_str()); });
    std::printf("CheckFile            %8.1f MB/s on the corpus file itself (code %d)\n",
                MBps(size, checkRaw), code);

    const std::string fast = (dir / "decoded.fast").string();
    const std::string plain = (dir / "decoded.plain").string();
    // The two decoders take turns, so that a busy moment of the machine
    // cannot favour one of them.
    bool ok = false;
    bool plainOk = false;
    double decode = 1e30;
    double baseline = 1e30;
    for (int i = 0; i < runs; i++) {
        decode = std::min(decode, BestSeconds(1, [&] {
                              ok = pack->DecodeFile(container.c_str(), fast.c_str());
                          }));
        baseline = std::min(baseline, BestSeconds(1, [&] {
                                plainOk = LiteralDecodeFile(container.c_str(), plain.c_str());
                            }));
    }
    const bool same = SameFiles(fast, plain) && SameFiles(fast, original);
    std::printf("DecodeFile           %8.1f MB/s of output (%s)\n", MBps(size, decode),
                ok ? "ok" : "FAILED");
    std::printf("plain getc/putc      %8.1f MB/s of output (%s)\n", MBps(size, baseline),
                plainOk ? "ok" : "FAILED");
    std::printf("speed-up             %8.2fx, outputs %s\n", baseline / decode,
                same ? "identical" : "DIFFER");
    std::filesystem::remove_all(dir);
    return ok && plainOk && same ? 0 : 1;
}
