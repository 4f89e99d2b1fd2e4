#include "platform/std_streams.h"

namespace plat {

// POSIX streams never translate line ends.
void SetBinaryMode(std::FILE* /*stream*/) {}

}  // namespace plat
