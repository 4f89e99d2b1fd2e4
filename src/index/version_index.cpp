#include "index/version_index.h"

#include <algorithm>

#include "index/game_files.h"
#include "shared/base/s_text.h"

namespace version_index {

Index ReadIndex(std::string_view text) {
    Index index;
    size_t number = 0;
    for (std::string& line : SplitLines(text)) {
        ++number;
        if (line.empty() || line[0] != '#') {
            index.lines.push_back(std::move(line));
            index.numbers.push_back(number);
        }
    }
    return index;
}

Index LoadIndex(const std::string& path) {
    const std::optional<std::string> text = base::ReadWholeFile(path);
    if (!text) {
        throw IndexError("cannot read " + path);
    }
    return ReadIndex(*text);
}

namespace {

bool Below(ClientVersion a, ClientVersion b) {
    return a.version < b.version || (a.version == b.version && a.build < b.build);
}

}  // namespace

Verdict Decide(const Index& index, ClientVersion client, int32_t updaterVersion) {
    Verdict verdict;
    const std::vector<std::string>& lines = index.lines;
    if (lines.size() < 3) {
        verdict.decision = Decision::TooShort;
        return verdict;
    }
    try {
        verdict.neededUpdater = ParseIndexInt(lines[0]);
        if (*verdict.neededUpdater > updaterVersion) {
            verdict.decision = Decision::NewUpdater;
            return verdict;
        }
        verdict.minimumUpdater = ParseIndexInt(lines[1]);
        if (*verdict.minimumUpdater > updaterVersion) {
            verdict.decision = Decision::UpdaterTooOld;
            return verdict;
        }
        // Header lines past the third may be missing: that is a fault like
        // a line that is no number.
        const auto value = [&lines](size_t i) {
            return static_cast<uint32_t>(ParseIndexInt(lines.at(i)));
        };
        verdict.needed = {value(2), value(3)};
        verdict.minimum = {value(4), value(5)};
    } catch (const std::exception& error) {
        verdict.decision = Decision::Unusable;
        verdict.problem = error.what();
        return verdict;
    }
    if (!Below(client, verdict.needed)) {
        verdict.decision = Decision::ClientCurrent;
        return verdict;
    }
    if (Below(client, verdict.minimum)) {
        verdict.decision = Decision::ClientTooOld;
        return verdict;
    }
    const auto key =
        std::find(lines.begin(), lines.end(), SectionKey(client.version, client.build));
    if (key == lines.end()) {
        verdict.decision = Decision::NoSection;
        return verdict;
    }
    verdict.decision = Decision::Patch;
    verdict.sectionStart = static_cast<size_t>(key - lines.begin());
    return verdict;
}

namespace {

// The value limit of the index's fields: a time stamp is read from the
// first 255 characters of its line.
constexpr size_t kMaxValue = 255;

// The entry at `name` with its second line `info`; a fault of its own when
// the name is unsafe, the container not signed or its size no number.
WalkStep ReadEntry(size_t at, const std::string& name, const std::string& info,
                   const std::string& separator, const signed_index::Manifest* signedFiles) {
    WalkStep step{at, std::nullopt, std::nullopt};
    ListEntry entry;
    entry.directory = info == "0";
    entry.name = name;
    entry.info = info;
    try {
        entry.target = entry.directory ? SafeGamePath(name, separator) : TargetOfListedFile(name);
    } catch (const IndexError& error) {
        step.fault = Fault{FaultKind::UnsafeName, error.what()};
        return step;
    }
    if (entry.directory) {
        step.entry = std::move(entry);
        return step;
    }
    const std::string cut = info.substr(0, kMaxValue);
    const size_t semicolon = cut.find(';');
    entry.stamp = semicolon == std::string::npos ? "" : cut.substr(semicolon + 1);
    if (signedFiles && signedFiles->files.count(game_files::InPatch(name)) == 0) {
        step.fault =
            Fault{FaultKind::NotSigned, "'" + name + "' is not listed in the signed index"};
    } else {
        try {
            entry.size = ParseIndexInt(info.substr(0, info.find(';')));
        } catch (const IndexError& error) {
            step.fault = Fault{FaultKind::BadSize, error.what()};
        }
    }
    step.entry = std::move(entry);
    return step;
}

}  // namespace

std::vector<WalkStep> WalkSection(const Index& index, size_t start, ClientVersion client,
                                  const std::string& separator,
                                  const signed_index::Manifest* signedFiles) {
    const std::vector<std::string>& lines = index.lines;
    const std::string endKey = SectionEndKey(client.version, client.build);
    std::vector<WalkStep> steps;
    size_t i = start;
    while (i < lines.size()) {
        const std::string& line = lines[i];
        if (line.empty() || line == endKey) {
            steps.push_back({i, std::nullopt, std::nullopt});
            break;
        }
        if (line[0] == '[' || line[0] == '{') {
            steps.push_back({i, std::nullopt, std::nullopt});
            ++i;
            continue;
        }
        if (i + 1 >= lines.size()) {
            steps.push_back({i, std::nullopt,
                             Fault{FaultKind::CutOff, "entry '" + line + "' has no second line"}});
            break;
        }
        steps.push_back(ReadEntry(i, line, lines[i + 1], separator, signedFiles));
        i += 2;
    }
    return steps;
}

std::string SafeGamePath(const std::string& listed, const std::string& separator) {
    const auto refuse = [&listed] {
        throw IndexError("unsafe name in the version index: " + listed);
    };
    if (listed.find_first_of("/\\:") != std::string::npos) {
        refuse();
    }
    std::string path;
    size_t start = 0;
    while (true) {
        const size_t stop = std::min(listed.find('-', start), listed.size());
        const std::string component = listed.substr(start, stop - start);
        if (component.empty() || component == "." || component == "..") {
            refuse();
        }
        path += (start == 0 ? "" : separator) + component;
        if (stop == listed.size()) {
            return path;
        }
        start = stop + 1;
    }
}

std::string TargetOfListedFile(const std::string& listed) {
    if (listed.size() <= 4 || listed.find_first_of("/\\:") != std::string::npos) {
        throw IndexError("unsafe name in the version index: " + listed);
    }
    return SafeGamePath(listed.substr(0, listed.size() - 4), "/");
}

}  // namespace version_index
