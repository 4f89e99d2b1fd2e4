// Feeds arbitrary containers to CPack::CheckBytes and CPack::DecodeBytes,
// which take the same path through the check and the decoder as CheckFile
// and DecodeFile, from memory.
//
// Whatever the bytes, the check must give the code that the header and the
// byte sum call for, the decode must stay in bounds and give at most
// originalSize + 59 bytes, and its output and result must equal those of the
// plain reference decoder (run on streams in memory).
//
//   fuzz/run.sh 600 pack
//
// The seed corpus is made by fuzz/make_corpus.sh with the project's packer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "pack/literal_decoder.h"
#include "pack/pack.h"

namespace {

// Original sizes are cut to twice the window, so that one input cannot make
// a run write gigabytes and every run stays short: the stream still
// outgrows the window, and copies reach back across its wrap. Streams long
// enough to rescale the symbol model (some 32,500 symbols) would take ten
// times as long each; the round-trip tests cover the rescale.
constexpr uint32_t kMaxOriginalSize = 2 * CPack::N;

uint32_t Word(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The reference decoder on streams over memory; false with no output when a
// stream cannot be made.
bool ReferenceDecode(const std::string& container, std::string* decoded) {
    decoded->clear();
    // fmemopen wants an address even for no bytes.
    char empty = 0;
    std::FILE* in = fmemopen(container.empty() ? &empty : const_cast<char*>(container.data()),
                             container.size(), "rb");
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    if (in == nullptr || out == nullptr) {
        std::abort();
    }
    const bool ok = LiteralDecodeStream(in, out);
    std::fclose(in);
    std::fclose(out);
    decoded->assign(buffer, size);
    std::free(buffer);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    if (file.size() >= 12) {
        const uint32_t original = Word(bytes + 8) % (kMaxOriginalSize + 1);
        for (int b = 0; b < 4; b++) {
            file[8 + b] = static_cast<char>(original >> (8 * b));
        }
    }

    int32_t expected = CPack::kCheckOk;
    if (file.size() < CPack::kHeaderSize) {
        expected = CPack::kCheckTooShort;
    } else {
        uint32_t sum = 0;
        for (size_t i = CPack::kHeaderSize; i < file.size(); i++) {
            sum += bytes[i];
        }
        if (Word(bytes + 4) != CPack::kFormat) {
            expected = CPack::kCheckBadFormat;
        } else if (Word(bytes) != sum) {
            expected = CPack::kCheckBadChecksum;
        }
    }
    CPack* pack = CPack::Get();
    if (pack->CheckBytes(file) != expected) {
        std::abort();
    }

    std::string got;
    std::string want;
    const bool decoded = pack->DecodeBytes(file, got);
    const bool reference = ReferenceDecode(file, &want);
    if (decoded != reference || got != want) {
        std::abort();
    }
    if (file.size() >= CPack::kHeaderSize && Word(bytes + 4) == CPack::kFormat) {
        const uint32_t original = Word(bytes + 8);
        if (got.size() > static_cast<size_t>(original) + CPack::F - 1 ||
            (original > 0 && got.size() < original)) {
            std::abort();
        }
    } else if (!got.empty()) {
        std::abort();
    }
    return 0;
}
