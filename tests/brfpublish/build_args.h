// The command line of a publication of the tree "1050" (release 1.050.0) for
// the tree "1040" below a test's scratch folder, with its "servers.dat".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace brf_test {

inline std::vector<std::string> BuildArgs(const ScratchDir& scratch,
                                          const std::filesystem::path& out,
                                          const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"build",
                                     "--out",
                                     out.string(),
                                     "--release",
                                     scratch.File("1050"),
                                     "1050",
                                     "0",
                                     "--from",
                                     scratch.File("1040"),
                                     "1040",
                                     "0",
                                     "--servers",
                                     scratch.File("servers.dat"),
                                     "--time",
                                     "2004-09-18 21:05:33",
                                     "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

}  // namespace brf_test
