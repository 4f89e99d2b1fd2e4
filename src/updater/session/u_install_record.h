// The install record: written to "patch/" before the first game file of an
// install is replaced and removed once the last one is in place and on the
// disk. A record that is still there at the start of a run means the last
// install was cut short (a kill, a crash, a power cut, a full drive), and
// the run completes it before it decides anything from the client's
// version, which may already be the new one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/base/s_result.h"

namespace updater {

struct InstallRecord {
    // The client the install started from and the one it installs.
    uint32_t fromVersion = 0;
    uint32_t fromBuild = 0;
    uint32_t toVersion = 0;
    uint32_t toBuild = 0;

    struct Entry {
        std::string container;  // the listed name, below "patch/"
        std::string target;     // the game file it is decoded into
        uint64_t size = 0;      // the container's size when the install began
        std::string sha256;     // its hash where the index was signed, else empty
        // The new file was made from a delta and waits, whole, as
        // "patch/CONTAINER.applied"; size and hash are that file's.
        bool applied = false;
    };
    // In the order of installing: the version carrier last.
    std::vector<Entry> entries;
};

// The record as text, CR LF lines:
//   brf-install-record 1
//   from VERSION BUILD
//   to VERSION BUILD
//   container SIZE SHA256|- NAME      (per entry, the name runs to the line end;
//                                      "applied" in place of "container" for
//                                      a file made from a delta)
//   target PATH
//   end
std::string FormatInstallRecord(const InstallRecord& record);

// Where the file made from the delta of `container` waits for the install.
std::string AppliedPath(const std::string& container);

// The record in the lines of its file; a failure that says why when it is
// damaged or names a target that is not its container's own game path.
base::Result<InstallRecord> ParseInstallRecord(const std::vector<std::string>& lines);

}  // namespace updater
