// Feeds arbitrary deltas to delta::ApplyFile, as the updater applies what the
// network brought, against a fixed source file of kSourceSize bytes.
//
// Whatever the bytes, the apply must stay in bounds, end in a result, leave
// no output file when it fails, and write exactly the bytes it reports when
// it succeeds. Deltas that announce a result above kMaxResult are passed
// over, so no run writes more than that.
//
//   fuzz/run.sh 600 delta
//
// The seed corpus is made by fuzz/make_corpus.sh with brfdelta, from the same
// source (DeltaFuzzSource) and a few changed copies of it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "delta/delta_apply.h"
#include "delta/delta_format.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kSourceSize = 65536;
constexpr uint64_t kMaxResult = 1 << 20;

// A scratch folder with the source in it, made once per process and removed
// at its end.
struct Files {
    Files() {
        std::string pattern = (fs::temp_directory_path() / "brf-delta-fuzz.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        dir = pattern;
        source = dir + "/source";
        delta = dir + "/delta";
        output = dir + "/output";
        std::FILE* out = std::fopen(source.c_str(), "wb");
        for (size_t i = 0; out != nullptr && i < kSourceSize; ++i) {
            std::fputc(static_cast<int>((i * 7 + i / 256) % 251), out);
        }
        if (out == nullptr || std::fclose(out) != 0) {
            std::abort();
        }
    }
    ~Files() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::string dir;
    std::string source;
    std::string delta;
    std::string output;
};

const Files& Scratch() {
    static const Files files;
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        size_t used = 0;
        const base::Result<delta::Header> header = delta::ReadHeader(data, size, &used);
        if (header && header->resultSize > kMaxResult) {
            return 0;
        }
    }
    const Files& files = Scratch();
    std::FILE* out = std::fopen(files.delta.c_str(), "wb");
    if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) {
        std::abort();
    }
    const auto applied = delta::ApplyFile(files.source, files.delta, files.output);
    std::error_code error;
    const bool exists = fs::exists(files.output, error);
    if (!applied) {
        if (exists || applied.reason().empty()) {
            std::abort();  // a failure leaves nothing behind and says why
        }
        return 0;
    }
    if (!exists || fs::file_size(files.output) != applied->size || applied->size > kMaxResult ||
        applied->sha256.size() != 64) {
        std::abort();
    }
    fs::remove(files.output, error);
    return 0;
}
