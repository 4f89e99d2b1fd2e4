// The version index as it comes off the network: read, decided for a few
// clients and updater versions, and every section that is found walked, with
// and without a signed listing; its manifest lines read. Nothing it holds
// may crash the readers, and neither the walk nor the manifest may ever name
// a path outside the game directory.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "index/manifest_lines.h"
#include "index/version_index.h"

namespace {

// The name rules: every component of a target is a plain name, so it is
// never absolute, never a drive and never leads up and out.
void CheckTarget(const std::string& target) {
    size_t start = 0;
    while (true) {
        const size_t stop = std::min(target.find('/', start), target.size());
        const std::string component = target.substr(start, stop - start);
        if (component.empty() || component == "." || component == ".." ||
            component.find_first_of("\\:") != std::string::npos) {
            __builtin_trap();
        }
        if (stop == target.size()) {
            return;
        }
        start = stop + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace version_index;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [path, file] : manifest_lines::ReadManifestLines(text).files) {
        CheckTarget(path);
        if (file.path != path ||
            (file.Repairable() && TargetOfListedFile(file.container) != path)) {
            __builtin_trap();
        }
    }
    const Index index = ReadIndex(text);
    signed_index::Manifest signedFiles;
    signedFiles.files["patch/a.upd"] = {};
    const ClientVersion clients[] = {{1040, 0}, {1030, 0}, {1050, 3}};
    for (const ClientVersion client : clients) {
        const Verdict verdict = Decide(index, client, 1490);
        if (verdict.decision != Decision::Patch) {
            continue;
        }
        if (index.lines.at(verdict.sectionStart) != SectionKey(client.version, client.build)) {
            __builtin_trap();
        }
        for (const signed_index::Manifest* listing :
             {static_cast<const signed_index::Manifest*>(&signedFiles),
              static_cast<const signed_index::Manifest*>(nullptr)}) {
            for (const WalkStep& step :
                 WalkSection(index, verdict.sectionStart, client, "/", listing)) {
                if (step.at >= index.lines.size()) {
                    __builtin_trap();
                }
                if (step.entry && !step.fault) {
                    CheckTarget(step.entry->target);
                }
            }
        }
    }
    return 0;
}
