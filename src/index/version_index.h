// The version index: the text the update server publishes as
// "patch/_versions.txt", what it decides for an installed client, and the
// walk of a client's section into the files to fetch.
//
// The text: lines starting with "#" are comments. Then six header lines
// (needed updater version, minimum updater version, needed client version
// and build, minimum client version and build), then sections. A section
// starts at its client's key "[vvvv.b]" and runs through the sections after
// it until an empty line, the end of the text or its own end key
// "{vvvv.b}". Each entry is two lines: a listed name, then "0" for a
// directory or "size[;yyyy-mm-dd hh:mm:ss]" for a container.
//
// Nothing here shows, logs or fetches anything: the engine turns the answers
// into what the player sees, the publisher into what the operator reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "index/index_text.h"
#include "index/signed_index.h"

namespace version_index {

// The index's lines without its comments.
struct Index {
    std::vector<std::string> lines;
    // Where each line stands in the text, comments counted, from 1.
    std::vector<size_t> numbers;
};

// `text` read as an index: split into lines, comments dropped.
Index ReadIndex(std::string_view text);
// The index in the file at `path`; raises IndexError when it cannot be read.
Index LoadIndex(const std::string& path);

struct ClientVersion {
    uint32_t version = 0;
    uint32_t build = 0;
};

enum class Decision {
    Unusable,       // a header line is missing or no number; see `problem`
    TooShort,       // fewer than three lines
    NewUpdater,     // the index asks for a newer updater: fetch it
    UpdaterTooOld,  // this updater is below the minimum
    ClientCurrent,  // the client is the needed version or newer
    ClientTooOld,   // the client is below the minimum and cannot be patched
    NoSection,      // no section for the client's version
    Patch,          // the client's section starts at `sectionStart`
};

// What the index decides for a client, with what was read on the way.
struct Verdict {
    Decision decision = Decision::Unusable;
    // Why the index is unusable.
    std::string problem;
    // The updater versions, once read.
    std::optional<int32_t> neededUpdater;
    std::optional<int32_t> minimumUpdater;
    // The client versions, once read.
    ClientVersion needed;
    ClientVersion minimum;
    size_t sectionStart = 0;
};

// The decision for `client` and an updater of `updaterVersion`: a newer
// updater comes first, then this updater's minimum, then the client's
// version against the needed and the minimum one, then its section.
Verdict Decide(const Index& index, ClientVersion client, int32_t updaterVersion);

// One entry of a section: a directory to make or a container to fetch.
struct ListEntry {
    bool directory = false;
    // The name as listed: the container's name in "patch/", or the
    // directory's name with "-" for each separator.
    std::string name;
    // The entry's second line as listed.
    std::string info;
    // A container's listed size and time stamp ("" when none).
    int32_t size = 0;
    std::string stamp;
    // The path in the game directory: with the walk's separator for a
    // directory, with "/" for a container's file.
    std::string target;
};

// Why an entry of a section cannot be used.
enum class FaultKind {
    CutOff,      // the text ends before its second line
    UnsafeName,  // its path would leave the game directory
    NotSigned,   // the signed index does not list the container
    BadSize,     // the container's size is no number
};
struct Fault {
    FaultKind kind;
    std::string message;
};

// One line the walk passed, and what it found there.
struct WalkStep {
    // The line's position in `Index::lines`.
    size_t at = 0;
    // The entry that starts at this line; none for a section key, for an
    // end key that does not stop the walk, for the line that stops it, and
    // for an entry whose name is unsafe or that is cut off.
    std::optional<ListEntry> entry;
    std::optional<Fault> fault;
};

// The walk of the section at `start` for `client`: every line it passes, in
// order, the line that ends it included, and past faults wherever the walk
// can go on. Directories' targets are joined with `separator`; with
// `signedFiles`, every container must be listed there.
std::vector<WalkStep> WalkSection(const Index& index, size_t start, ClientVersion client,
                                  const std::string& separator,
                                  const signed_index::Manifest* signedFiles = nullptr);

// The name rules. The game-directory path of a listed name: every "-" a
// separator. Raises IndexError when the path would leave the game directory
// (absolute, a drive, a backslash or colon, an empty, "." or ".."
// component).
std::string SafeGamePath(const std::string& listed, const std::string& separator);
// The game-directory path of a listed container: the name less its
// four-character suffix, through SafeGamePath with "/". Raises IndexError
// for a name that is too short or holds a separator of its own.
std::string TargetOfListedFile(const std::string& listed);

}  // namespace version_index
