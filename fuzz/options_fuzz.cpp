// Feeds arbitrary texts to COpt::LoadText, the reader of "config.ini", and
// saves what it read with COpt::SaveText.
//
// Whatever the bytes, the load must succeed and leave every text field
// terminated within its size, and a saved text must read back to the same
// saved text: the updater rewrites a file that the game client and its
// configuration program share, so what one save wrote must survive the next
// load and save unchanged, the other programs' lines included.
//
//   fuzz/run.sh 600 options

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "shared/options/s_options.h"

namespace {

// A record at its defaults with `text` read over it.
COpt* Fresh(std::string_view text) {
    COpt::Release();
    COpt* options = COpt::Get();
    if (options == nullptr || !options->LoadText(text) || !options->loaded) {
        std::abort();
    }
    return options;
}

bool Terminated(const char* field, size_t size) {
    return std::memchr(field, '\0', size) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    COpt* options = Fresh(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!Terminated(options->screenshot_format, sizeof options->screenshot_format) ||
        !Terminated(options->updater_proxyserver, sizeof options->updater_proxyserver) ||
        !Terminated(options->login, sizeof options->login) ||
        !Terminated(options->debug_logfile, sizeof options->debug_logfile) ||
        !Terminated(options->test_user, sizeof options->test_user) ||
        !Terminated(options->test_pass, sizeof options->test_pass) ||
        options->dx_vertexbuffer_size < 1 ||
        options->unknownLineCount != static_cast<int32_t>(options->unknownLines.size())) {
        std::abort();
    }
    for (const std::string& line : options->unknownLines) {
        if (line.find('\n') != std::string::npos) {
            std::abort();
        }
    }

    const std::string saved = options->SaveText();
    const std::string again = Fresh(saved)->SaveText();
    if (again != saved) {
        std::abort();
    }
    // Nothing outlives the run, so the leak check has nothing to chase.
    COpt::Release();
    return 0;
}
