// The Windows Sockets error number for a POSIX errno value.
#pragma once

namespace plat {

int WsaErrorFromErrno(int error);

}  // namespace plat
