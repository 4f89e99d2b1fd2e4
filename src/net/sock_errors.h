// The exceptions of the network layer and the texts of Windows Sockets
// error numbers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

// A failure of the socket transport, with its message.
class ESockError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A transfer that ended because it was cancelled (Cancel, Abort or a
// time-out).
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// A local file that a transfer could not create or write: the message is
// the one the transfer always gave; the file and the system's reason come
// with it, so the caller can tell the user what to do.
class EFileError : public std::runtime_error {
public:
    EFileError(const std::string& message, std::string file, std::error_code reason)
        : std::runtime_error(message), path(std::move(file)), code(reason) {}
    std::string path;
    std::error_code code;
};

struct TWinsockMessage {
    int32_t number;
    const char* text;  // at most 51 characters
};

// 51 rows; the last one, number 0, is never reported.
extern const TWinsockMessage WinsockMessage[51];

// Empty for 0; else the number, ":" and the text ("10061:Connection
// refused"), or "Unknown Error No. " and the number.
std::string SocketErrorStr(int32_t number);
