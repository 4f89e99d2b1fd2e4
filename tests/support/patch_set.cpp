#include "support/patch_set.h"

#include <algorithm>
#include <cstdio>

#include <sodium.h>

#include "delta/delta_encoder.h"
#include "delta/delta_format.h"
#include "index/bundle_lines.h"
#include "index/delta_lines.h"
#include "index/manifest_lines.h"
#include "index/signed_index.h"
#include "pack/packer.h"
#include "platform/run_command.h"
#include "support/host_services.h"
#include "support/test_support.h"

namespace brf_test {

std::string PatchName(const std::string& gamePath) {
    std::string name = gamePath;
    std::replace(name.begin(), name.end(), '/', '-');
    return name + ".upd";
}

std::string Container(const std::string& content) {
    // Greedy parsing: the tests need valid containers, not the smallest ones.
    PackOptions options;
    options.mode = ParseMode::Greedy;
    const Packer packer(options);
    const auto bytes = packer.BuildContainer(reinterpret_cast<const uint8_t*>(content.data()),
                                             content.size(), 1095535533u, 1095535533u);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> IndexHeader(int updater, int minUpdater, uint32_t version, uint32_t build,
                                     uint32_t minVersion, uint32_t minBuild) {
    return {std::to_string(updater), std::to_string(minUpdater), std::to_string(version),
            std::to_string(build),   std::to_string(minVersion), std::to_string(minBuild)};
}

PatchSet::PatchSet(std::filesystem::path dir) : dir_(std::move(dir)) {
    std::filesystem::create_directories(dir_ / "patch");
}

void PatchSet::ServerList(const std::string& content) const {
    WriteFile(dir_ / "patch" / "_servers.dat", content);
}

void PatchSet::VersionIndex(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    WriteFile(dir_ / "patch" / "_versions.txt", text);
}

std::vector<std::string> PatchSet::Publish(const std::string& name, const std::string& content,
                                           const std::string& time) const {
    const std::string container = Container(content);
    Raw(name, container);
    return {name, std::to_string(container.size()) + ";" + time};
}

std::string PatchSet::Delta(const std::string& name, const std::string& from,
                            const std::string& to) const {
    const auto bytes = [](const std::string& text) {
        return std::vector<uint8_t>(text.begin(), text.end());
    };
    const std::vector<uint8_t> made = delta::EncodeBytes(bytes(from), bytes(to));
    const auto hash = [](const std::string& text) {
        uint8_t digest[crypto_hash_sha256_BYTES];
        crypto_hash_sha256(digest, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        return delta::ToHex(digest, sizeof digest);
    };
    delta_lines::Delta line;
    line.size = made.size();
    line.sha256 = hash(std::string(made.begin(), made.end()));
    line.sourceSha256 = hash(from);
    line.resultSha256 = hash(to);
    line.name = delta_lines::DeltaName(name, line.sourceSha256);
    Raw(line.name, std::string(made.begin(), made.end()));
    return delta_lines::FormatDeltaLine(line);
}

std::vector<std::string> PatchSet::Bundle(uint32_t from,
                                          const std::vector<std::string>& members) const {
    bundle_lines::Bundle bundle;
    bundle.from = {from, 0};
    bundle.name = bundle_lines::BundleName(bundle.from);
    std::string bytes;
    for (const std::string& name : members) {
        const std::string member = ReadFile(dir_ / "patch" / name);
        signed_index::ListedFile listed;
        signed_index::HashFile((dir_ / "patch" / name).string(), &listed);
        bundle.members.push_back({bytes.size(), member.size(), listed.sha256, name});
        bytes += member;
    }
    bundle.size = bytes.size();
    Raw(bundle.name, bytes);
    signed_index::ListedFile whole;
    signed_index::HashFile((dir_ / "patch" / bundle.name).string(), &whole);
    bundle.sha256 = whole.sha256;
    return bundle_lines::FormatBundleLines(bundle);
}

std::string PatchSet::Manifest(const std::string& path, const std::string& content) const {
    manifest_lines::File file;
    file.path = path;
    file.size = content.size();
    file.container = PatchName(path);
    file.containerSize = std::stoull(Publish(file.container, content)[1]);
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const uint8_t*>(content.data()), content.size());
    file.sha256 = delta::ToHex(digest, sizeof digest);
    return manifest_lines::FormatManifestLine(file);
}

void PatchSet::Raw(const std::string& name, const std::string& bytes) const {
    WriteFile(dir_ / "patch" / name, bytes);
}

GameDir::GameDir(const std::filesystem::path& root) : root_(root), dir_(root / "game") {
    std::filesystem::create_directories(dir_);
}

void GameDir::Config(const std::vector<std::string>& lines) const {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    WriteFile(dir_ / "config.ini", text);
}

bool GameDir::Registry(uint32_t language, uint32_t version, uint32_t build) const {
    char dwords[128];
    std::snprintf(dwords, sizeof dwords,
                  "\"Language\"=dword:%08x\r\n\"Version\"=dword:%08x\r\n\"Build\"=dword:%08x\r\n",
                  language, version, build);
    const std::string text = std::string("REGEDIT4\r\n\r\n") +
                             "[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n" + dwords +
                             "\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n\r\n";
    return host::InstallRegistry(text, root_ / "user.reg");
}

void GameDir::Write(const std::string& path, const std::string& bytes) const {
    const auto file = dir_ / path;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file, bytes);
}

std::optional<std::string> GameDir::Read(const std::string& path) const {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(dir_ / path, ec)) {
        return std::nullopt;
    }
    return ReadFile(dir_ / path);
}

std::vector<std::string> GameDir::Files() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path().lexically_relative(dir_).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> UpdaterRun::OutLines() const {
    std::vector<std::string> lines = Lines(out);
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
    }
    return lines;
}

UpdaterRun RunUpdater(const std::string& program, const std::filesystem::path& gameDir,
                      const std::vector<std::string>& arguments,
                      const std::filesystem::path& outputDir) {
    const auto out = (outputDir / "stdout.txt").string();
    const auto err = (outputDir / "stderr.txt").string();
    UpdaterRun run;
    {
        // The updater works in the current directory, which it inherits.
        ScopedCurrentDir cd(gameDir);
        run.status = plat::RunCommand(program, arguments, out, err);
    }
    run.out = ReadFile(out);
    run.err = ReadFile(err);
    return run;
}

}  // namespace brf_test
