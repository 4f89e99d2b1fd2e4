// The sending and receiving operations of TSockTransport.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "net/rate_limit.h"
#include "net/sock_transport.h"
#include "platform/event_loop.h"

namespace {

// Adds without the undefined behaviour of a signed overflow: the counters
// are 32 bits and wrap like the platform's.
int32_t Add32(int32_t a, int64_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

// ---- sending --------------------------------------------------------------------

void TSockTransport::Write(const std::string& text) {
    StatusMessage(8, "Write");
    const size_t length = std::min<size_t>(std::strlen(text.c_str()), kReceiveSize);
    std::memcpy(buffer_.get(), text.data(), length);
    buffer_[length] = '\0';
    SendBuffer(buffer_.get(), 0);
}

void TSockTransport::Writeln(const std::string& text) {
    StatusMessage(8, "Writeln");
    Write(text + "\r\n");
}

void TSockTransport::WaitWritable() {
    const plat::Socket socket = socket_;
    const uint32_t generation = socketGeneration_;
    writeReady_ = false;
    plat::SockAsyncSelect(socket, *window_, SocketNotifyMessage, kSocketEventMask | plat::kFdWrite);
    while (!writeReady_ && !CancelRequested && generation == socketGeneration_) {
        Idle();
    }
    if (generation == socketGeneration_) {
        plat::SockAsyncSelect(socket, *window_, SocketNotifyMessage, kSocketEventMask);
    }
}

bool TSockTransport::SendData(const char* data, int length, bool notify) {
    // Handlers run while this waits, and one of them may use the I/O
    // buffer; the bytes still to send are kept apart before that happens.
    std::string rest;
    int sent = 0;
    const auto keepRest = [&] {
        if (rest.empty() && sent < length) {
            rest.assign(data + sent, static_cast<size_t>(length - sent));
            data = rest.data();
            length -= sent;
            sent = 0;
        }
    };
    while (sent < length && !CancelRequested) {
        const int n = plat::SockSend(socket_, data + sent, length - sent);
        if (n == 0) {
            return false;
        }
        if (n < 0) {
            ErrorManager(plat::kWsaEWouldBlock);
            if (lastErrorNo_ == plat::kWsaEWouldBlock) {
                keepRest();
                WaitWritable();
            }
            continue;
        }
        sent += n;
        if (notify) {
            SentBytes = Add32(SentBytes, n);
            keepRest();
            if (OnPacketSent) {
                OnPacketSent(this);
            }
            Pump();
        }
    }
    return true;
}

void TSockTransport::SendBuffer(const char* buffer, int length) {
    StatusMessage(4, "Sending Buffer");
    TimerOn();
    try {
        if (!CancelRequested) {
            if (length == 0) {
                const size_t text = std::strlen(buffer);
                if (text > 65535) {
                    throw std::range_error("Range check error");
                }
                length = static_cast<int>(text);
            }
            SendData(buffer, length, false);
        }
    } catch (...) {
        TimerOff();
        throw;
    }
    TimerOff();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::SendFile(const std::string& name) {
    StatusMessage(8, "SendFile");
    File file(std::fopen(name.c_str(), "rb"));
    if (!file) {
        throw std::runtime_error("Cannot open file \"" + name + "\"");
    }
    std::fseek(file.get(), 0, SEEK_END);
    const long size = std::ftell(file.get());
    std::fseek(file.get(), 0, SEEK_SET);
    do {
        if (!CancelRequested) {
            const size_t n = std::fread(buffer_.get(), 1, kReceiveSize, file.get());
            if (n == 0) {
                break;  // the file shrank while it was sent
            }
            SendData(buffer_.get(), static_cast<int>(n), true);
        }
    } while (std::ftell(file.get()) < size && !CancelRequested);
    file.reset();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::SendStream(std::istream& stream) {
    StatusMessage(8, "SendStream");
    stream.clear();
    stream.seekg(0, std::ios::end);
    const std::streamoff size = stream.tellg();
    stream.seekg(0);
    if (!CancelRequested) {
        SentBytes = 0;
        ExpectedBytes = static_cast<int32_t>(size);
        while (stream.tellg() < size && !CancelRequested) {
            stream.read(buffer_.get(), kReceiveSize);
            const auto n = static_cast<int>(stream.gcount());
            stream.clear();
            if (n <= 0 || !SendData(buffer_.get(), n, true)) {
                break;
            }
        }
    }
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

// ---- receiving ------------------------------------------------------------------

std::string TSockTransport::Read(int count) {
    StatusMessage(8, "Read( " + std::to_string(count) + " )");
    // The bytes are taken as they come, so a reader waiting for more never
    // finds the same bytes ready again and again.
    count = std::clamp(count, 0, kReceiveSize);
    std::string result;
    for (;;) {
        const int want = count == 0 ? kReceiveSize : count - static_cast<int>(result.size());
        const uint32_t seen = changes_;
        const int n = plat::SockRecv(socket_, buffer_.get(), want, false);
        bool wouldBlock = false;
        if (n == 0) {
            RaiseCloseError();
            return std::string();
        }
        if (n < 0) {
            lastErrorNo_ = plat::SockLastError();
            if (lastErrorNo_ == plat::kWsaENotConn) {
                RaiseCloseError();
                return std::string();
            }
            ErrorManager(plat::kWsaEWouldBlock);
            wouldBlock = true;
        } else {
            result.append(buffer_.get(), static_cast<size_t>(n));
        }
        const bool done =
            !result.empty() && (count == 0 || static_cast<int>(result.size()) >= count);
        Pump();
        if (CancelRequested) {
            CancelRequested = false;
            throw EAbortError("Socket send aborted");
        }
        if (done) {
            return result;
        }
        if (wouldBlock) {
            IdleUnlessNotified(seen);
        }
    }
}

std::string TSockTransport::ReadLn() {
    StatusMessage(8, "ReadLn");
    TimerOn();
    const bool watching = StallWatchOn();
    const auto endWaits = [&] {
        if (watching) {
            StallWatchOff();
        }
        TimerOff();
    };
    std::string result;
    try {
        int taken = 0;
        for (;;) {
            char* const at = buffer_.get() + taken;
            const uint32_t seen = changes_;
            const int n = plat::SockRecv(socket_, at, kMaxLineLength - taken, true);
            bool done = false;
            bool wouldBlock = false;
            // A closed connection ends the line at once, without looking
            // at a cancel: the next transfer still finds it and raises.
            if (n == 0) {
                closedByPeer_ = true;
                RaiseCloseError();
                result.clear();
                break;
            }
            if (n < 0) {
                lastErrorNo_ = plat::SockLastError();
                if (lastErrorNo_ == plat::kWsaENotConn) {
                    RaiseCloseError();
                    result.clear();
                    break;
                }
                ErrorManager(plat::kWsaEWouldBlock);
                wouldBlock = true;
            } else {
                const char* lf =
                    static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(n)));
                const int want = lf ? static_cast<int>(lf - at) + 1 : n;
                const int got = plat::SockRecv(socket_, at, want, false);
                if (got < 0) {
                    ErrorManager(plat::kWsaEWouldBlock);
                } else {
                    result.append(at, static_cast<size_t>(got));
                    taken += got;
                    CountForStall(got);
                    done = lf != nullptr && got == want;
                }
                if (!done && taken >= kMaxLineLength) {
                    throw ESockError("Line longer than " + std::to_string(kMaxLineLength) +
                                     " bytes");
                }
            }
            Pump();
            if (CancelRequested) {
                CancelRequested = false;
                throw EAbortError(AbortText("Socket readln aborted"));
            }
            if (done) {
                break;
            }
            if (wouldBlock) {
                IdleUnlessNotified(seen);
            }
        }
    } catch (...) {
        endWaits();
        throw;
    }
    endWaits();
    return result;
}

std::string TSockTransport::Transaction(const std::string& command) {
    StatusMessage(8, "Transaction");
    StatusCode = 0;
    Writeln(command);
    ReplyText = ReadLn();
    if (!ReplyText.empty()) {
        StatusMessage(1, ReplyText);
        int64_t value = 0;
        size_t digits = 0;
        while (digits < ReplyText.size() && digits < 10 && ReplyText[digits] >= '0' &&
               ReplyText[digits] <= '9') {
            value = value * 10 + (ReplyText[digits] - '0');
            ++digits;
        }
        if (digits > 0) {
            StatusCode = static_cast<int16_t>(static_cast<uint16_t>(value));
        }
    }
    return ReplyText;
}

void TSockTransport::Capture(const std::function<void(const char*, int)>& sink,
                             const std::function<bool()>& full, bool singlePass,
                             const char* abortText) {
    ReceivedBytes = 0;
    captured_ = 0;
    TimerOn();
    const bool watching = StallWatchOn();
    const auto endWaits = [&] {
        if (watching) {
            StallWatchOff();
        }
        TimerOff();
    };
    try {
        // Under a cap the data comes in pieces of a tenth of a second's
        // worth, so the pauses between them stay short beside the stall rule.
        const uint64_t rate = net::TransferRate().BytesPerSecond();
        const int piece = rate == 0 ? kReceiveSize
                                    : static_cast<int>(std::clamp<uint64_t>(
                                          rate / 10, 1024, static_cast<uint64_t>(kReceiveSize)));
        while (!full()) {
            const uint32_t seen = changes_;
            const int n = plat::SockRecv(socket_, buffer_.get(), piece, false);
            bool wouldBlock = false;
            if (n > 0) {
                sink(buffer_.get(), n);
                ReceivedBytes = Add32(ReceivedBytes, n);
                captured_ += n;
                CountForStall(n);
                if (OnPacketRecvd) {
                    OnPacketRecvd(this);
                }
                // Under a cap the loop goes on answering while the bytes
                // are paid for, in slices a cancel can cut short.
                for (int64_t wait = net::TransferRate().Take(static_cast<uint64_t>(n));
                     wait > 0 && !CancelRequested; wait = net::TransferRate().Wait()) {
                    plat::MainLoop().WaitMessage(
                        static_cast<int32_t>(std::min<int64_t>(wait, 100)));
                    Pump();
                }
                TimerOn();
            } else if (n == 0) {
                closedByPeer_ = true;
                RaiseCloseError();
                Pump();
                break;
            } else {
                lastErrorNo_ = plat::SockLastError();
                if (lastErrorNo_ == plat::kWsaENotConn) {
                    RaiseCloseError();
                    Pump();
                    break;
                }
                ErrorManager(plat::kWsaEWouldBlock);
                wouldBlock = true;
            }
            Pump();
            if (CancelRequested || singlePass) {
                break;
            }
            if (wouldBlock) {
                IdleUnlessNotified(seen);
                if (CancelRequested) {
                    break;
                }
            }
        }
    } catch (...) {
        endWaits();
        throw;
    }
    endWaits();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError(AbortText(abortText));
    }
}

void TSockTransport::CaptureFile(const std::string& name, int64_t stopAbove) {
    StatusMessage(8, "CaptureFile");
    const auto systemError = [] { return std::error_code(errno, std::generic_category()); };
    File file(std::fopen(name.c_str(), "wb"));
    if (!file) {
        throw EFileError("Cannot create file \"" + name + "\"", name, systemError());
    }
    std::FILE* f = file.get();
    Capture(
        [f, &name, &systemError](const char* data, int n) {
            if (std::fwrite(data, 1, static_cast<size_t>(n), f) != static_cast<size_t>(n)) {
                throw EFileError("Stream write error", name, systemError());
            }
        },
        [this, stopAbove] { return stopAbove >= 0 && captured_ > stopAbove; }, false,
        "Socket send aborted");
    if (std::fclose(file.release()) != 0) {
        throw EFileError("Stream write error", name, systemError());
    }
}

void TSockTransport::CaptureString(std::string& text, int32_t limit, int64_t stopAbove) {
    StatusMessage(8, "Capture String");
    text.clear();
    Capture([&text](const char* data, int n) { text.append(data, static_cast<size_t>(n)); },
            [&text, limit, stopAbove] {
                const auto size = static_cast<int64_t>(text.size());
                return (limit != -1 && size >= limit) || (stopAbove >= 0 && size > stopAbove);
            },
            false, "Socket capture aborted");
}

void TSockTransport::CaptureStream(std::ostream& stream, int32_t limit) {
    StatusMessage(8, "Capture Stream");
    stream.seekp(0, std::ios::end);
    Capture(
        [&stream](const char* data, int n) {
            stream.write(data, n);
            if (!stream) {
                throw std::runtime_error("Stream write error");
            }
        },
        [&stream, limit] { return limit != -1 && static_cast<int64_t>(stream.tellp()) >= limit; },
        limit == -1, "Socket capture aborted");
}

void TSockTransport::AppendFile(const std::string& name) {
    StatusMessage(8, "Append File");
    File file(std::fopen(name.c_str(), "r+b"));
    if (!file) {
        throw std::runtime_error("Cannot open file \"" + name + "\"");
    }
    std::fseek(file.get(), 0, SEEK_END);
    ReceivedBytes = 0;
    while (IsConnected && !CancelRequested) {
        const uint32_t seen = changes_;
        const int n = plat::SockRecv(socket_, buffer_.get(), kReceiveSize, false);
        bool wouldBlock = false;
        if (n > 0) {
            if (std::fwrite(buffer_.get(), 1, static_cast<size_t>(n), file.get()) !=
                static_cast<size_t>(n)) {
                throw std::runtime_error("Stream write error");
            }
            ReceivedBytes = Add32(ReceivedBytes, n);
            if (OnPacketRecvd) {
                OnPacketRecvd(this);
            }
        } else if (n == 0) {
            // The peer has closed and nothing is left to read: close as the
            // close notification would, instead of receiving nothing forever.
            RequestCloseSocket();
        } else {
            ErrorManager(plat::kWsaEWouldBlock);
            wouldBlock = true;
        }
        Pump();
        if (wouldBlock && IsConnected && !CancelRequested) {
            IdleUnlessNotified(seen);
        }
    }
    file.reset();
    if (CancelRequested) {
        CancelRequested = false;
        throw EAbortError("Socket send aborted");
    }
}

void TSockTransport::FilterHeader(std::ostream& stream) {
    StatusMessage(8, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        stream.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (line.empty() || line == "\n" || line == "\r\n") {
            return;
        }
    }
}

bool TSockTransport::DataAvailable() {
    StatusMessage(8, "Data Available");
    return PeekOne() == 1;
}

int32_t TSockTransport::PeekOne() {
    char byte;
    const int n = plat::SockRecv(socket_, &byte, 1, true);
    return n >= 0 ? n : plat::SockLastError();
}

void TSockTransport::RaiseCloseError() {
    if (closeError_ != 0) {
        const int32_t error = closeError_;
        closeError_ = 0;
        plat::SockSetLastError(error);
        ErrorManager(plat::kWsaEWouldBlock);
    }
}

void TSockTransport::ClearInput() {
    StatusMessage(8, "Clearing Input");
    plat::SockRecv(socket_, buffer_.get(), kReceiveSize, false);
}
