// Running another program to its end, with its output in files: for tools
// that call programs and for the tests that run the tools.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Runs `program` (a path) with `arguments` and waits until it has ended.
// Its standard output and standard error go to the named files, created
// anew (an empty name keeps this process's). Returns the exit status, or -1
// when the program could not be started.
int RunCommand(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& stdoutFile, const std::string& stderrFile);

}  // namespace plat
