// The exceptions of the network layer and the texts of Windows Sockets
// error numbers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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

struct TWinsockMessage {
    int32_t number;
    const char* text;  // at most 51 characters
};

// 51 rows; the last one, number 0, is never reported.
extern const TWinsockMessage WinsockMessage[51];

// Empty for 0; else the number, ":" and the text ("10061:Connection
// refused"), or "Unknown Error No. " and the number.
std::string SocketErrorStr(int32_t number);
