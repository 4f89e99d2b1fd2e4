// The C runtime's standard streams.
#pragma once

#include <cstdio>

namespace plat {

// Makes `stream` pass bytes unchanged: on Windows a text-mode stream would
// turn every LF into CR LF and so change a document written to it.
void SetBinaryMode(std::FILE* stream);

}  // namespace plat
