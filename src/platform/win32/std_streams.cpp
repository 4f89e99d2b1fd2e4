#include "platform/std_streams.h"

#include <fcntl.h>
#include <io.h>

namespace plat {

void SetBinaryMode(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

}  // namespace plat
