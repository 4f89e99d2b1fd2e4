// The version index: loading it, its comment and header rules, and the
// decision it leads to: replace the updater, stop, or patch the client from
// its section.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "shared/base/s_logging.h"
#include "updater/u_updater.h"

using updater::Text;

namespace {

std::vector<std::string> LoadIndexFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw EIndexError(std::string("cannot read ") + path);
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw EIndexError(std::string("cannot read ") + path);
    }
    return updater::SplitLines(text);
}

}  // namespace

int32_t TFUpdater::CheckVersionIndex() {
    BRF_LOG(1, "now checking the version index file");
    try {
        versionIndex.clear();
        versionIndex = LoadIndexFile("patch/_versions.txt");
        std::erase_if(versionIndex,
                      [](const std::string& line) { return !line.empty() && line[0] == '#'; });
        newCount = 0;
        sectionStart = -1;

        if (versionIndex.size() < 3) {
            BRF_LOG(1, "index file has not enough entries: %i",
                    static_cast<int32_t>(versionIndex.size()));
            toolkit_.MessageBox(Text(kTextIndexBroken), Text(kTextErrorCaption), plat::kMbOk,
                                plat::BoxOwner::None);
            AddLog(kTextIndexBroken);
            btn_check->SetEnabled(true);
            return -1;
        }

        const int32_t neededUpdater = updater::ParseIndexInt(versionIndex[0]);
        if (neededUpdater > UPDATER_VERSION) {
            StartUpdaterDownload(neededUpdater);
            return -2;
        }
        if (neededUpdater < UPDATER_VERSION) {
            BRF_LOG(1, "local updater is newer: %i, needed version is: %i", UPDATER_VERSION,
                    neededUpdater);
        }
        const int32_t minimumUpdater = updater::ParseIndexInt(versionIndex[1]);
        if (minimumUpdater > UPDATER_VERSION) {
            BRF_LOG(1, "local updater %i does not meet minimum requirement: %i", UPDATER_VERSION,
                    minimumUpdater);
            toolkit_.MessageBox(Text(kTextUpdaterTooOld), Text(kTextErrorCaption), plat::kMbOk,
                                plat::BoxOwner::None);
            AddLog(kTextUpdaterTooOld);
            btn_check->SetEnabled(true);
            return 0;
        }

        neededVersion = static_cast<uint32_t>(updater::ParseIndexInt(versionIndex.at(2)));
        neededBuild = static_cast<uint32_t>(updater::ParseIndexInt(versionIndex.at(3)));
        minVersion = static_cast<uint32_t>(updater::ParseIndexInt(versionIndex.at(4)));
        minBuild = static_cast<uint32_t>(updater::ParseIndexInt(versionIndex.at(5)));

        const bool current = clientVersion > neededVersion ||
                             (clientVersion == neededVersion && clientBuild >= neededBuild);
        if (current) {
            BRF_LOG(1, "local client is up to date: %.3f.%i", clientVersion / 1000.0,
                    static_cast<int32_t>(clientBuild));
            AddLog(kTextNoNewFiles);
            AddLog(kTextClientUpToDate);
            SelectLastLine();
            btn_check->SetCaption(Text(kTextStartGame));
            btn_check->SetEnabled(true);
            runState = rsReady;
            return 0;
        }
        BRF_LOG(1, "local client has wrong version: %.3f.%i, needed version is: %.3f.%i",
                clientVersion / 1000.0, static_cast<int32_t>(clientBuild), neededVersion / 1000.0,
                static_cast<int32_t>(neededBuild));

        const bool tooOld =
            clientVersion < minVersion || (clientVersion == minVersion && clientBuild < minBuild);
        if (tooOld) {
            BRF_LOG(1, "client is too old to be patched");
            toolkit_.MessageBox(Text(kTextClientTooOld), Text(kTextErrorCaption), plat::kMbOk,
                                plat::BoxOwner::None);
            AddLog(kTextClientTooOld);
            btn_check->SetEnabled(true);
            return 0;
        }

        const std::string key = updater::SectionKey(clientVersion, clientBuild);
        for (size_t i = 0; i < versionIndex.size(); ++i) {
            if (versionIndex[i] == key) {
                sectionStart = static_cast<int32_t>(i);
                return 1;
            }
        }
        BRF_LOG(1, "no new files found in patch directory");
        toolkit_.MessageBox(Text(kTextNoSection), Text(kTextErrorCaption), plat::kMbOk,
                            plat::BoxOwner::None);
        AddLog(kTextNoSection);
        btn_check->SetEnabled(true);
        return 0;
    } catch (const std::exception& error) {
        BRF_LOG(2, "version index unusable: %s", error.what());
        return -1;
    }
}

namespace updater {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    const size_t end = std::min(text.find('\0'), text.size());
    size_t start = 0;
    while (start < end) {
        size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string::npos || stop > end) {
            stop = end;
        }
        lines.emplace_back(text, start, stop - start);
        if (stop < end && text[stop] == '\r' && stop + 1 < end && text[stop + 1] == '\n') {
            ++stop;
        }
        start = stop + 1;
    }
    return lines;
}

std::vector<std::string> LoadTextLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    return SplitLines(
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

std::string SectionKey(uint32_t version, uint32_t build) {
    return Printf("[%04u.%u]", version, build);
}

std::string SectionEndKey(uint32_t version, uint32_t build) {
    return Printf("{%04u.%u}", version, build);
}

int32_t ParseIndexInt(const std::string& text) {
    size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos) {
        throw EIndexError("'" + text + "' is not a valid integer value");
    }
    const size_t digits = (text[i] == '-' || text[i] == '+') ? i + 1 : i;
    if (digits >= text.size() ||
        text.find_first_not_of("0123456789", digits) != std::string::npos) {
        throw EIndexError("'" + text + "' is not a valid integer value");
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str() + i, nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw EIndexError("'" + text + "' is not a valid integer value");
    }
    return static_cast<int32_t>(value);
}

std::string SafeGamePath(const std::string& listed, const std::string& separator) {
    const auto refuse = [&listed] {
        throw EIndexError("unsafe name in the version index: " + listed);
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
        throw EIndexError("unsafe name in the version index: " + listed);
    }
    return SafeGamePath(listed.substr(0, listed.size() - 4), "/");
}

bool LocalTimeIsNewer(const std::string& local, const std::string& remote) {
    // char_traits<char> compares as unsigned bytes.
    return local.substr(0, 256).compare(remote.substr(0, 256)) > 0;
}

}  // namespace updater
