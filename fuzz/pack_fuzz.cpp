// Feeds arbitrary files to CPack::CheckFile and CPack::DecodeFile.
//
// Whatever the bytes, the check must give the code that the header and the
// byte sum call for, the decode must stay in bounds and write at most
// originalSize + 59 bytes, and its output and result must equal those of the
// plain reference decoder.
//
//   cmake --preset fuzz && cmake --build --preset fuzz
//   mkdir -p /tmp/pack_corpus && cp fuzz/corpus/* /tmp/pack_corpus/
//   build/fuzz/fuzz/pack_fuzz -jobs=1 -max_total_time=600 -max_len=4096 /tmp/pack_corpus
//
// The seed corpus, fuzz/corpus, holds six tiny containers made with
// "brfpack encode ... --mtime 1700000000 --atime 1700000000" from: one byte
// "A", a short sentence, 64 blanks, 300 zero bytes, "abc" repeated and 120
// bytes counting up by 37.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack/literal_decoder.h"
#include "pack/pack.h"

namespace {

// Original sizes are cut to this, so that one input cannot make a run write
// gigabytes; it still lets a stream outgrow the window many times and
// rescale its symbol model.
constexpr uint32_t kMaxOriginalSize = 1u << 16;

std::string TempPath(const char* name) {
    return "/tmp/pack_fuzz_" + std::to_string(getpid()) + "_" + name;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>* out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    out->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out->insert(out->end(), buf, buf + n);
    }
    std::fclose(f);
    return true;
}

uint32_t Word(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    if (file.size() >= 12) {
        const uint32_t original = Word(file.data() + 8) % (kMaxOriginalSize + 1);
        for (int b = 0; b < 4; b++) {
            file[8 + b] = static_cast<uint8_t>(original >> (8 * b));
        }
    }
    const std::string in = TempPath("in");
    const std::string out = TempPath("out");
    const std::string ref = TempPath("ref");
    std::FILE* f = std::fopen(in.c_str(), "wb");
    if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
        std::abort();
    }
    std::fclose(f);

    int32_t expected = 0;
    if (file.size() < 20) {
        expected = -2;
    } else {
        uint32_t sum = 0;
        for (size_t i = 20; i < file.size(); i++) {
            sum += file[i];
        }
        if (Word(file.data() + 4) != 102) {
            expected = -3;
        } else if (Word(file.data()) != sum) {
            expected = -4;
        }
    }
    CPack* pack = CPack::Get();
    if (pack->CheckFile(in.c_str()) != expected) {
        std::abort();
    }

    const bool decoded = pack->DecodeFile(in.c_str(), out.c_str());
    const bool reference = LiteralDecodeFile(in.c_str(), ref.c_str());
    std::vector<uint8_t> got;
    std::vector<uint8_t> want;
    if (!ReadAll(out, &got) || !ReadAll(ref, &want)) {
        std::abort();
    }
    if (decoded != reference || got != want) {
        std::abort();
    }
    if (file.size() >= 20 && Word(file.data() + 4) == 102) {
        const uint32_t original = Word(file.data() + 8);
        if (got.size() > static_cast<size_t>(original) + 59 ||
            (original > 0 && got.size() < original)) {
            std::abort();
        }
    } else if (!got.empty()) {
        std::abort();
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(ref.c_str());
    return 0;
}
