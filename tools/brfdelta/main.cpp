// brfdelta: the operators' tool for binary deltas.
//
//   brfdelta make OLD NEW DELTA [--level N] [--format 1|2] [--quiet]
//   brfdelta apply OLD DELTA OUT [--sha256 HEX]
//   brfdelta info DELTA
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "delta/delta_apply.h"
#include "delta/delta_encoder.h"
#include "delta/delta_format.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: brfdelta COMMAND ARGUMENTS\n"
    "\n"
    "Makes, applies and shows binary deltas between two versions of a file.\n"
    "\n"
    "commands:\n"
    "  make OLD NEW DELTA [--level N] [--format 1|2] [--quiet]\n"
    "                      writes the delta that turns OLD into NEW; N is the\n"
    "                      zstd level, 1 to 22 (default 19); format 2, the\n"
    "                      default, is the compact one, 1 the one updaters\n"
    "                      before it know; progress goes to stderr unless --quiet\n"
    "  apply OLD DELTA OUT [--sha256 HEX]\n"
    "                      applies DELTA to OLD, writing OUT, as the updater\n"
    "                      does; prints the size and SHA-256 of OUT. A compact\n"
    "                      delta holds no hash of its result: --sha256 (from its\n"
    "                      index line) refuses a result that differs, as the\n"
    "                      updater does\n"
    "  info DELTA          shows the header and the blocks of a delta\n"
    "  --help              shows this text\n"
    "\n"
    "exit status: 0 success, 1 failure, 2 bad arguments\n";

int UsageError(const char* message) {
    std::fprintf(stderr, "brfdelta: %s\n", message);
    std::fprintf(stderr, "Try 'brfdelta --help' for more information.\n");
    return kExitUsage;
}

int Make(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    delta::EncodeOptions options;
    bool quiet = false;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--quiet") {
            quiet = true;
        } else if (args[i] == "--level" && i + 1 < args.size()) {
            char* end = nullptr;
            const long level = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || level < 1 || level > 22) {
                return UsageError("--level takes a number from 1 to 22");
            }
            options.level = static_cast<int>(level);
        } else if (args[i] == "--format" && i + 1 < args.size()) {
            const std::string format = args[++i];
            if (format != "1" && format != "2") {
                return UsageError("--format takes 1 or 2");
            }
            options.version = format == "1" ? 1 : 2;
        } else if (args[i].rfind("--", 0) == 0) {
            return UsageError(("unknown option " + args[i]).c_str());
        } else {
            paths.push_back(args[i]);
        }
    }
    if (paths.size() != 3) {
        return UsageError("make takes OLD NEW DELTA");
    }
    if (!quiet) {
        options.progress = [](uint64_t done, uint64_t total) {
            if (total >= (16u << 20)) {
                std::fprintf(stderr, "\rbrfdelta: %" PRIu64 " of %" PRIu64 " MB", done >> 20,
                             total >> 20);
                if (done == total) {
                    std::fprintf(stderr, "\n");
                }
            }
        };
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = delta::Encode(paths[0], paths[1], options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brfdelta: %s\n", e.what());
        return kExitFailed;
    }
    std::ofstream out(paths[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::error_code ec;
        std::filesystem::remove(paths[2], ec);
        std::fprintf(stderr, "brfdelta: cannot write %s\n", paths[2].c_str());
        return kExitFailed;
    }
    if (!quiet) {
        std::fprintf(stderr, "brfdelta: %s: %zu bytes\n", paths[2].c_str(), bytes.size());
    }
    return kExitOk;
}

int Apply(const std::vector<std::string>& args) {
    std::vector<std::string> paths;
    std::string sha256;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--sha256" && i + 1 < args.size()) {
            sha256 = args[++i];
            if (sha256.size() != 64 ||
                sha256.find_first_not_of("0123456789abcdef") != std::string::npos) {
                return UsageError("--sha256 takes 64 lower-case hex digits");
            }
        } else if (args[i].rfind("--", 0) == 0) {
            return UsageError(("unknown option " + args[i]).c_str());
        } else {
            paths.push_back(args[i]);
        }
    }
    if (paths.size() != 3) {
        return UsageError("apply takes OLD DELTA OUT");
    }
    const auto applied = delta::ApplyFile(paths[0], paths[1], paths[2], {}, sha256);
    if (!applied) {
        std::fprintf(stderr, "brfdelta: %s\n", applied.reason().c_str());
        return kExitFailed;
    }
    std::printf("%" PRIu64 " %s\n", applied->size, applied->sha256.c_str());
    return kExitOk;
}

int Info(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        return UsageError("info takes DELTA");
    }
    std::ifstream in(args[0], std::ios::binary);
    uint8_t head[delta::kMaxHeaderSize];
    in.read(reinterpret_cast<char*>(head), sizeof head);
    size_t headSize = 0;
    const auto header = delta::ReadHeader(head, static_cast<size_t>(in.gcount()), &headSize);
    if (!header) {
        std::fprintf(stderr, "brfdelta: %s: %s\n", args[0].c_str(), header.reason().c_str());
        return kExitFailed;
    }
    in.clear();
    in.seekg(static_cast<std::streamoff>(headSize));
    std::printf("version %u\nsource size %" PRIu64 "\n", header->version, header->sourceSize);
    if (header->version == delta::kVersion) {
        std::printf("source sha256 %s\n",
                    delta::ToHex(header->sourceSha256.data(), header->sourceSha256.size()).c_str());
    }
    std::printf("result size %" PRIu64 "\n", header->resultSize);
    if (header->version == delta::kVersion) {
        std::printf("result sha256 %s\n",
                    delta::ToHex(header->resultSha256.data(), header->resultSha256.size()).c_str());
    }
    if (header->layout == delta::Layout::kWhole) {
        std::printf("layout whole, window log %u\n", header->instructionWindowLog);
        in.seekg(0, std::ios::end);
        std::printf("frame %" PRIu64 " bytes\n",
                    static_cast<uint64_t>(in.tellg()) - static_cast<uint64_t>(headSize));
        return kExitOk;
    }
    std::printf("window logs %u (instructions) %u (data)\n", header->instructionWindowLog,
                header->dataWindowLog);
    uint64_t blocks = 0;
    uint64_t instructions[2] = {0, 0};
    uint64_t data[2] = {0, 0};
    for (;;) {
        base::Result<delta::BlockHeader> block = base::Fail("no block header");
        if (header->version == delta::kVersion) {
            uint8_t blockHead[delta::kBlockHeaderSize];
            if (!in.read(reinterpret_cast<char*>(blockHead), sizeof blockHead)) {
                break;
            }
            block = delta::ReadBlockHeader(blockHead);
        } else {
            uint32_t fields[4] = {};
            for (uint32_t& field : fields) {
                uint64_t value = 0;
                for (unsigned shift = 0; shift < 35; shift += 7) {
                    const int byte = in.get();
                    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
                    if (byte < 0x80) {
                        break;
                    }
                }
                field = static_cast<uint32_t>(value);
            }
            if (!in) {
                break;
            }
            const delta::BlockHeader read{fields[0], fields[1], fields[2], fields[3]};
            const base::Result<> checked = delta::CheckBlockHeader(read);
            block = checked ? base::Result<delta::BlockHeader>(read) : checked.failure();
        }
        if (!block) {
            std::fprintf(stderr, "brfdelta: block %" PRIu64 ": %s\n", blocks,
                         block.reason().c_str());
            return kExitFailed;
        }
        blocks++;
        instructions[0] += block->instructionBytes;
        instructions[1] += block->instructionPacked;
        data[0] += block->dataBytes;
        data[1] += block->dataPacked;
        in.seekg(static_cast<std::streamoff>(block->instructionPacked) + block->dataPacked,
                 std::ios::cur);
    }
    std::printf("blocks %" PRIu64 "\n", blocks);
    std::printf("instructions %" PRIu64 " bytes, packed %" PRIu64 "\n", instructions[0],
                instructions[1]);
    std::printf("data %" PRIu64 " bytes, packed %" PRIu64 "\n", data[0], data[1]);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return UsageError("no command");
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "make") {
        return Make(args);
    }
    if (command == "apply") {
        return Apply(args);
    }
    if (command == "info") {
        return Info(args);
    }
    return UsageError(("unknown command " + command).c_str());
}
