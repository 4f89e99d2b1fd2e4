// Update servers and game installations for the end-to-end tests: a server
// directory with the files an update server publishes, a game directory
// with its options, registry values and game files, and a run of the
// console updater in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brf_test {

// The time stamp the tests give published files unless they say otherwise.
inline constexpr const char* kPublishTime = "2004-09-18 21:05:33";

// The name the index and the server use for a game file: every "/" becomes
// "-", and ".upd" is appended ("data/maps/north.map" -> "data-maps-north.map.upd").
std::string PatchName(const std::string& gamePath);

// `content` as a patch container, packed by the operators' encoder.
std::string Container(const std::string& content);

// Lines 1 to 6 of a version index.
std::vector<std::string> IndexHeader(int updater, int minUpdater, uint32_t version, uint32_t build,
                                     uint32_t minVersion, uint32_t minBuild);

// The files below `dir`/patch that an update server offers.
class PatchSet {
public:
    explicit PatchSet(std::filesystem::path dir);

    const std::filesystem::path& Dir() const { return dir_; }

    // patch/_servers.dat as given.
    void ServerList(const std::string& content) const;
    // patch/_versions.txt: the lines, each ended by CR LF.
    void VersionIndex(const std::vector<std::string>& lines) const;
    // Packs `content` into patch/`name`; returns the two index lines of the
    // entry: the name and the info line "size;time".
    std::vector<std::string> Publish(const std::string& name, const std::string& content,
                                     const std::string& time = kPublishTime) const;
    // A delta from `from` to `to` for the container `name`, served beside it;
    // returns its "#delta" line for the index.
    std::string Delta(const std::string& name, const std::string& from,
                      const std::string& to) const;
    // The bundle of the section of 1.`from`.0: the served files `members`
    // one after another; returns its "#bundle" lines for the index.
    std::vector<std::string> Bundle(uint32_t from, const std::vector<std::string>& members) const;
    // The manifest line of the game file `path` holding `content`, its
    // container published as the index names it.
    std::string Manifest(const std::string& path, const std::string& content) const;
    // patch/`name` with exactly these bytes.
    void Raw(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path dir_;
};

// A game installation: the directory `root`/game, with the hive file of its
// registry values beside it (not inside, so that it never counts as a game
// file).
class GameDir {
public:
    explicit GameDir(const std::filesystem::path& root);

    const std::filesystem::path& Dir() const { return dir_; }

    // config.ini with these lines.
    void Config(const std::vector<std::string>& lines) const;
    // Software\Brinefall under HKEY_CURRENT_USER: Language, InstallDir,
    // Version and Build. False if the values could not be stored.
    bool Registry(uint32_t language, uint32_t version, uint32_t build) const;

    // A file below the game directory ("data/ships.dat"), directories made.
    void Write(const std::string& path, const std::string& bytes) const;
    std::optional<std::string> Read(const std::string& path) const;
    // Every regular file below the directory, "/"-separated, sorted.
    std::vector<std::string> Files() const;

private:
    std::filesystem::path root_;
    std::filesystem::path dir_;
};

struct UpdaterRun {
    int status = -1;
    std::string out;
    std::string err;
    // stdout as lines, without line ends (LF or CR LF).
    std::vector<std::string> OutLines() const;
};

// Runs `program` with `arguments` in `gameDir` as its current directory,
// its stdout and stderr captured in files below `outputDir`.
UpdaterRun RunUpdater(const std::string& program, const std::filesystem::path& gameDir,
                      const std::vector<std::string>& arguments,
                      const std::filesystem::path& outputDir);

}  // namespace brf_test
