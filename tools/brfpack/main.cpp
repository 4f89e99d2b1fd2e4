// brfpack: the operators' tool for patch containers.
//
//   brfpack check FILE
//   brfpack decode SOURCE DEST
//   brfpack encode SOURCE DEST [--mtime SECONDS] [--atime SECONDS] [--mode M]
//   brfpack info FILE
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "pack/pack.h"
#include "pack/packer.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// Inputs from this size on report their progress on stderr.
constexpr size_t kProgressFrom = 16u << 20;

const char kUsage[] =
    "usage: brfpack COMMAND ARGUMENTS\n"
    "\n"
    "Checks, decodes and produces the updater's patch containers.\n"
    "\n"
    "commands:\n"
    "  check FILE          prints the check code alone on a line: 0 intact,\n"
    "                      -1 cannot be opened, -2 shorter than the header,\n"
    "                      -3 not format 102, -4 checksum does not match;\n"
    "                      exit status 0 only for 0\n"
    "  decode SOURCE DEST  decodes the container SOURCE into DEST, as the\n"
    "                      updater installs it (file times from the header)\n"
    "  encode SOURCE DEST [--mtime SECONDS] [--atime SECONDS] [--mode MODE]\n"
    "                      packs SOURCE into the container DEST; the times\n"
    "                      (seconds since 1970-01-01 UTC) default to SOURCE's;\n"
    "                      MODE is optimal (default, smallest), lazy or greedy\n"
    "  info FILE           shows the header fields of a container\n"
    "  --help              shows this text\n"
    "\n"
    "exit status: 0 success, 1 failure, 2 bad arguments\n";

int UsageError(const char* message) {
    std::fprintf(stderr, "brfpack: %s\n", message);
    std::fprintf(stderr, "Try 'brfpack --help' for more information.\n");
    return kExitUsage;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* data, std::string* error) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return false;
    }
    data->clear();
    std::vector<uint8_t> chunk(1 << 16);
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
        if (data->size() + n > Packer::kMaxOriginalSize) {
            std::fclose(f);
            *error = std::string(path) + " is larger than a container can hold (4 GiB - 1)";
            return false;
        }
        data->insert(data->end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(n));
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        *error = std::string("cannot read ") + path;
        return false;
    }
    return true;
}

// Where a command writes its result. A regular destination (or a new one)
// is written as a temporary file beside it, which replaces it only once it
// is complete: a failure leaves the destination as it was, and a command
// whose source is its destination reads the source whole before it is
// replaced. A destination that exists and is no regular file (a device, a
// pipe) is written directly and never replaced or removed.
class Destination {
public:
    explicit Destination(const char* path) : path_(path) {
        namespace fs = std::filesystem;
        std::error_code ec;
        // A link stays a link: its target is what gets replaced.
        fs::path target = path_;
        if (fs::is_symlink(fs::symlink_status(target, ec))) {
            const fs::path resolved = fs::canonical(target, ec);
            if (!ec) {
                target = resolved;
            }
        }
        const fs::file_status status = fs::status(target, ec);
        if (fs::exists(status) && !fs::is_regular_file(status)) {
            writePath_ = path_;
            return;
        }
        replaces_ = fs::exists(status);
        if (replaces_) {
            permissions_ = status.permissions();
        }
        target_ = target.string();
        std::random_device random;
        do {
            writePath_ = target_ + ".brfpack-" + std::to_string(random() % 1000000000u) + ".tmp";
        } while (fs::exists(fs::symlink_status(writePath_, ec)));
    }

    ~Destination() { Discard(); }

    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;

    // The file to write.
    const char* WritePath() const { return writePath_.c_str(); }

    // Puts the written file in place; false (with the reason) when it
    // cannot, and then the destination is as it was.
    bool Commit(std::string* error) {
        if (target_.empty()) {
            return true;
        }
        namespace fs = std::filesystem;
        std::error_code ec;
        if (replaces_) {
            fs::permissions(writePath_, permissions_, ec);
        }
        fs::rename(writePath_, target_, ec);
        if (ec) {
            *error = "cannot replace " + path_ + ": " + ec.message();
            return false;
        }
        target_.clear();
        return true;
    }

    // Removes what was written, unless it went in place; never the
    // destination itself.
    void Discard() {
        if (!target_.empty()) {
            std::error_code ec;
            std::filesystem::remove(writePath_, ec);
            target_.clear();
        }
    }

private:
    std::string path_;
    std::string target_;  // empty: written directly, or already in place
    std::string writePath_;
    bool replaces_ = false;
    std::filesystem::perms permissions_ = std::filesystem::perms::none;
};

bool WriteWholeFile(const char* path, const std::vector<uint8_t>& data, std::string* error) {
    Destination destination(path);
    std::FILE* f = std::fopen(destination.WritePath(), "wb");
    if (f == nullptr) {
        *error = std::string("cannot create ") + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        *error = std::string("cannot write ") + path + " (is the disk full?)";
        return false;
    }
    return destination.Commit(error);
}

// Seconds as a header word: a decimal number from 0 to 4294967295.
std::optional<uint32_t> ParseSeconds(const char* text) {
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (const char* p = text; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') {
            return std::nullopt;
        }
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(v);
}

// A header time as "YYYY-MM-DD hh:mm:ss UTC".
std::string FormatTime(uint32_t seconds) {
    const int64_t days = seconds / 86400;
    const uint32_t rest = seconds % 86400;
    // Civil date from a day count since 1970-01-01.
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02u:%02u:%02u UTC", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), rest / 3600, rest / 60 % 60,
                  rest % 60);
    return buf;
}

int Check(int argc, char** argv) {
    if (argc != 3) {
        return UsageError("check takes one FILE");
    }
    const int32_t code = CPack::Get()->CheckFile(argv[2]);
    std::printf("%d\n", code);
    return code == 0 ? kExitOk : kExitFailed;
}

int Decode(int argc, char** argv) {
    if (argc != 4) {
        return UsageError("decode takes SOURCE and DEST");
    }
    const char* source = argv[2];
    const char* dest = argv[3];
    CPack* pack = CPack::Get();
    {
        Destination destination(dest);
        if (pack->DecodeFile(source, destination.WritePath())) {
            std::string error;
            if (destination.Commit(&error)) {
                return kExitOk;
            }
            std::fprintf(stderr, "brfpack: decode failed: %s\n", error.c_str());
            return kExitFailed;
        }
    }
    // The decoder only says yes or no; the check tells why.
    const int32_t code = pack->CheckFile(source);
    std::string reason;
    switch (code) {
        case CPack::kCheckCannotOpen:
            reason = std::string("cannot open ") + source;
            break;
        case CPack::kCheckTooShort:
            reason = std::string(source) + " is shorter than a container header";
            break;
        case CPack::kCheckBadFormat:
            reason = std::string(source) + " is not a patch container (format word is not 102)";
            break;
        case CPack::kCheckBadChecksum:
            reason = std::string(source) + " is damaged: the payload does not match its checksum";
            break;
        default: {
            uint8_t head[Packer::kHeaderSize] = {};
            size_t got = 0;
            if (std::FILE* f = std::fopen(source, "rb")) {
                got = std::fread(head, 1, sizeof head, f);
                std::fclose(f);
            }
            ContainerHeader header;
            if (ParseHeader(head, got, &header) && header.originalSize == 0) {
                reason = std::string(source) + " describes an empty file, which is never installed";
            } else {
                reason = std::string("cannot write ") + dest;
            }
        }
    }
    std::fprintf(stderr, "brfpack: decode failed: %s\n", reason.c_str());
    return kExitFailed;
}

int Encode(int argc, char** argv) {
    const char* source = nullptr;
    const char* dest = nullptr;
    std::optional<uint32_t> mtime;
    std::optional<uint32_t> atime;
    PackOptions options;
    for (int i = 2; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--mtime" || arg == "--atime" || arg == "--mode") {
            if (i + 1 >= argc) {
                return UsageError((arg + " needs a value").c_str());
            }
            const char* v = argv[++i];
            if (arg == "--mode") {
                const std::string mode = v;
                if (!ParseModeNamed(mode, &options.mode)) {
                    return UsageError(("unknown mode '" + mode + "'").c_str());
                }
                continue;
            }
            const std::optional<uint32_t> seconds = ParseSeconds(v);
            if (!seconds) {
                return UsageError(
                    (arg + " wants seconds from 0 to 4294967295, not '" + v + "'").c_str());
            }
            (arg == "--mtime" ? mtime : atime) = seconds;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError(("unknown option '" + arg + "'").c_str());
        } else if (source == nullptr) {
            source = argv[i];
        } else if (dest == nullptr) {
            dest = argv[i];
        } else {
            return UsageError("encode takes SOURCE and DEST");
        }
    }
    if (source == nullptr || dest == nullptr) {
        return UsageError("encode takes SOURCE and DEST");
    }

    std::vector<uint8_t> data;
    std::string error;
    if (!ReadWholeFile(source, &data, &error)) {
        std::fprintf(stderr, "brfpack: %s\n", error.c_str());
        return kExitFailed;
    }
    if (data.empty()) {
        std::fprintf(stderr,
                     "brfpack: %s is empty: the updater refuses containers of empty files\n",
                     source);
        return kExitFailed;
    }
    if (!mtime || !atime) {
        struct stat st;
        if (stat(source, &st) != 0) {
            std::fprintf(stderr, "brfpack: cannot read the times of %s\n", source);
            return kExitFailed;
        }
        const int64_t fileTimes[2] = {static_cast<int64_t>(st.st_mtime),
                                      static_cast<int64_t>(st.st_atime)};
        for (int k = 0; k < 2; k++) {
            std::optional<uint32_t>& slot = k == 0 ? mtime : atime;
            if (slot) {
                continue;
            }
            if (fileTimes[k] < 0 || fileTimes[k] > 0xFFFFFFFFll) {
                std::fprintf(
                    stderr, "brfpack: the %s time of %s does not fit a container; give %s\n",
                    k == 0 ? "modification" : "access", source, k == 0 ? "--mtime" : "--atime");
                return kExitFailed;
            }
            slot = static_cast<uint32_t>(fileTimes[k]);
        }
    }

    // Large files take a while: tell the operator how far it got.
    if (data.size() >= kProgressFrom) {
        options.progress = [source, shown = 0](uint64_t done, uint64_t total) mutable {
            const int percent = static_cast<int>(done * 100 / total);
            if (percent >= shown + 10) {
                shown = percent - percent % 10;
                std::fprintf(stderr, "brfpack: encoding %s: %d%%\n", source, shown);
            }
        };
    }
    const Packer packer(options);
    const std::vector<uint8_t> container =
        packer.BuildContainer(data.data(), data.size(), *atime, *mtime);
    if (!WriteWholeFile(dest, container, &error)) {
        std::fprintf(stderr, "brfpack: %s\n", error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

int Info(int argc, char** argv) {
    if (argc != 3) {
        return UsageError("info takes one FILE");
    }
    const char* path = argv[2];
    std::vector<uint8_t> data;
    std::string error;
    if (!ReadWholeFile(path, &data, &error)) {
        std::fprintf(stderr, "brfpack: %s\n", error.c_str());
        return kExitFailed;
    }
    ContainerHeader header;
    if (!ParseHeader(data.data(), data.size(), &header)) {
        std::fprintf(stderr, "brfpack: %s is shorter than a container header (%zu bytes)\n", path,
                     data.size());
        return kExitFailed;
    }
    const size_t payload = data.size() - Packer::kHeaderSize;
    const uint32_t sum = PayloadSum(data.data() + Packer::kHeaderSize, payload);
    std::printf("file:              %s\n", path);
    std::printf("container size:    %zu bytes (payload %zu bytes)\n", data.size(), payload);
    std::printf("checksum:          0x%08" PRIX32 " (%s)\n", header.checksum,
                sum == header.checksum ? "matches the payload" : "does NOT match the payload");
    std::printf("format:            %" PRIu32 " (%s)\n", header.format,
                header.format == Packer::kFormat ? "patch container" : "unknown, expected 102");
    std::printf("original size:     %" PRIu32 " bytes\n", header.originalSize);
    if (header.originalSize != 0) {
        std::printf("stored as:         %.1f%% of the original\n",
                    100.0 * static_cast<double>(data.size()) / header.originalSize);
    }
    std::printf("access time:       %" PRIu32 " (%s)\n", header.accessTime,
                FormatTime(header.accessTime).c_str());
    std::printf("modification time: %" PRIu32 " (%s)\n", header.modificationTime,
                FormatTime(header.modificationTime).c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == "check") {
        return Check(argc, argv);
    }
    if (command == "decode") {
        return Decode(argc, argv);
    }
    if (command == "encode") {
        return Encode(argc, argv);
    }
    if (command == "info") {
        return Info(argc, argv);
    }
    return UsageError(("unknown command '" + command + "'").c_str());
}
