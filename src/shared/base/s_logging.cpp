#include "shared/base/s_logging.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"

namespace {

std::unique_ptr<CLog>& LogInstance() {
    static std::unique_ptr<CLog> instance;
    return instance;
}

std::unique_ptr<CStr>& StrInstance() {
    static std::unique_ptr<CStr> instance;
    return instance;
}

// Copies at most `size`-1 characters and always terminates.
void CopyBounded(char* dst, size_t size, const char* src) {
    std::memset(dst, 0, size);
    if (src != nullptr) {
        std::strncpy(dst, src, size - 1);
    }
}

constexpr const char* kRule =
    "------------------------------------------------------------------------------";

}  // namespace

// ---------------------------------------------------------------------------
// CLog

CLog* CLog::Get() {
    auto& instance = LogInstance();
    if (!instance) {
        instance.reset(new (std::nothrow) CLog());
    }
    return instance.get();
}

void CLog::Release() {
    LogInstance().reset();
}

CLog::CLog() : logLevel_(-1), logLevelAI_(-1), lastEntryLine_(-1) {
    std::memset(logFileName_, 0, sizeof logFileName_);
    std::memset(lastEntryFile_, 0, sizeof lastEntryFile_);
    std::memset(appDirectory_, 0, sizeof appDirectory_);

    const std::string directory = AppDirectoryFromCommandLine(
        ProgramOfCommandLine(plat::CommandLine()), plat::PathSeparator());
    std::memcpy(appDirectory_, directory.data(), directory.size());
}

// A directory too long for the field is left empty rather than cut, since a
// cut path would name another directory.
std::string AppDirectoryFromCommandLine(std::string commandLine, char separator) {
    std::erase(commandLine, '"');
    const size_t sep = commandLine.rfind(separator);
    if (sep == std::string::npos || sep + 1 > 255) {
        return std::string();
    }
    return commandLine.substr(0, sep + 1);
}

std::string ProgramOfCommandLine(const std::string& commandLine) {
    if (!commandLine.empty() && commandLine[0] == '"') {
        const size_t close = commandLine.find('"', 1);
        return close == std::string::npos ? commandLine : commandLine.substr(0, close + 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(" \t"));
}

void CLog::Open(int32_t level, int32_t levelAI, const char* fileName, int32_t clearFlag,
                int32_t maxSize) {
    try {
        if (held_ != nullptr) {
            std::fclose(held_);  // reopened under the new name at the next entry
            held_ = nullptr;
        }
        CopyBounded(logFileName_, sizeof logFileName_, fileName);
        std::memset(lastEntryFile_, 0, sizeof lastEntryFile_);
        lastEntryLine_ = -1;
        logLevel_ = level;
        logLevelAI_ = levelAI;

        bool opened = false;
        long size = 0;
        if (FILE* probe = std::fopen(logFileName_, "rb")) {
            opened = true;
            if (std::fseek(probe, 0, SEEK_END) == 0) {
                size = std::ftell(probe);
            }
            std::fclose(probe);
        }
        if (!opened || clearFlag != 0 || size > static_cast<long>(maxSize)) {
            if (FILE* fresh = std::fopen(logFileName_, "wb")) {
                std::fclose(fresh);
            }
        }
        WriteHeader();
    } catch (...) {
        // The log never lets a failure reach its caller.
    }
}

void CLog::WriteHeader() {
    const std::string& commandLine = plat::CommandLine();
    if (logLevel_ < 0) {
        // A negative level switches logging off; the header says so once.
        const int32_t configured = logLevel_;
        logLevel_ = 0;
        WriteBlankLine(0, __FILE__, __LINE__);
        Write(0, __FILE__, __LINE__, "%s", kRule);
        Write(0, __FILE__, __LINE__, "--- logfile for application : %s", commandLine.c_str());
        Write(0, __FILE__, __LINE__, "--- logfile reseted to      : %s", logFileName_);
        Write(0, __FILE__, __LINE__, "%s", kRule);
        WriteBlankLine(0, __FILE__, __LINE__);
        Write(0, __FILE__, __LINE__,
              "*** logging is deactivated because loglevel is below zero ***");
        logLevel_ = configured;
        return;
    }

    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const plat::LocalTime now = plat::Now();
    char started[64];
    std::snprintf(started, sizeof started, "%s %s %2d %02d:%02d:%02d %d", kDays[now.weekday % 7],
                  kMonths[(now.month + 11) % 12], now.day, now.hour, now.minute, now.second,
                  now.year);
    const plat::TimeZoneInfo zone = plat::RuntimeTimeZone();

    WriteBlankLine(0, __FILE__, __LINE__);
    Write(0, __FILE__, __LINE__, "%s", kRule);
    Write(0, __FILE__, __LINE__, "--- logfile for application : %s", commandLine.c_str());
    Write(0, __FILE__, __LINE__, "--- logfile reseted to      : %s", logFileName_);
    Write(0, __FILE__, __LINE__, "--- logging started on      : %s", started);
    Write(0, __FILE__, __LINE__, "--- (%ld %s / %i %s)", zone.secondsWest / 3600,
          zone.standardName.c_str(), zone.daylight, zone.daylightName.c_str());
    Write(0, __FILE__, __LINE__, "%s", kRule);
    WriteBlankLine(0, __FILE__, __LINE__);
}

CLog::~CLog() {
    if (held_ != nullptr) {
        std::fclose(held_);
    }
}

CLog::Held::Held() {
    if (CLog* log = CLog::Get()) {
        ++log->holds_;
    }
}

CLog::Held::~Held() {
    CLog* log = CLog::Get();
    if (log != nullptr && log->holds_ > 0 && --log->holds_ == 0 && log->held_ != nullptr) {
        std::fclose(log->held_);
        log->held_ = nullptr;
    }
}

void CLog::WriteBlankLine(int32_t level, const char* sourceFile, int32_t sourceLine) {
    Entry(level, sourceFile, sourceLine, nullptr, nullptr);
}

void CLog::Write(int32_t level, const char* sourceFile, int32_t sourceLine, const char* format,
                 ...) {
    va_list args;
    va_start(args, format);
    WriteV(level, sourceFile, sourceLine, format, args);
    va_end(args);
}

void CLog::WriteV(int32_t level, const char* sourceFile, int32_t sourceLine, const char* format,
                  va_list args) {
    va_list copy;
    va_copy(copy, args);
    Entry(level, sourceFile, sourceLine, format, &copy);
    va_end(copy);
}

void CLog::Entry(int32_t level, const char* sourceFile, int32_t sourceLine, const char* format,
                 va_list* args) {
    if (logLevel_ < 0) {
        return;
    }
    if (level <= logLevel_ && logFileName_[0] != '\0') {
        if (holds_ > 0 && held_ == nullptr) {
            held_ = std::fopen(logFileName_, "ab");
        }
        if (FILE* file = held_ != nullptr ? held_ : std::fopen(logFileName_, "ab")) {
            char line[kLineSize];
            size_t length = 0;
            if (format != nullptr && format[0] != '\0') {
                const plat::LocalTime now = plat::Now();
                // Room is kept for the line end: an overlong message is cut,
                // the line still ends in CR LF.
                const size_t room = sizeof line - 2;
                int n = std::snprintf(line, room, "%i : %02d:%02d:%02d : %i : ",
                                      static_cast<int32_t>(plat::TickCount()), now.hour, now.minute,
                                      now.second, level);
                length = n < 0 ? 0 : std::min(static_cast<size_t>(n), room - 1);
                n = std::vsnprintf(line + length, room - length, format, *args);
                if (n > 0) {
                    length = std::min(length + static_cast<size_t>(n), room - 1);
                }
            }
            // Every line feed goes out as CR LF, also one inside the message,
            // so a message of several lines does not leave bare line feeds.
            size_t from = 0;
            for (size_t at = 0; at < length; ++at) {
                if (line[at] == '\n') {
                    std::fwrite(line + from, 1, at - from, file);
                    std::fwrite("\r\n", 1, 2, file);
                    from = at + 1;
                }
            }
            line[length++] = '\r';
            line[length++] = '\n';
            std::fwrite(line + from, 1, length - from, file);
            if (file == held_) {
                std::fflush(file);
            } else {
                std::fclose(file);
            }
        }
    }
    if (sourceLine > 0) {
        CopyBounded(lastEntryFile_, sizeof lastEntryFile_, sourceFile);
        lastEntryLine_ = sourceLine;
    }
}

// ---------------------------------------------------------------------------
// CStr

CStr* CStr::Get() {
    auto& instance = StrInstance();
    if (!instance) {
        instance.reset(new (std::nothrow) CStr());
    }
    return instance.get();
}

void CStr::Release() {
    StrInstance().reset();
}

char* CStr::Clear(char* buf, size_t size, const char* src) {
    if (buf == nullptr || size == 0) {
        return buf;
    }
    CopyBounded(buf, size, src);
    return buf;
}

void CStr::Delete(char* str, int32_t pos, uint32_t count) {
    if (str == nullptr || count == 0 || pos < 0) {
        return;
    }
    const size_t length = std::strlen(str);
    const size_t start = static_cast<size_t>(pos);
    if (start >= length) {
        return;
    }
    const size_t removed = std::min(static_cast<size_t>(count), length - start);
    std::memmove(str + start, str + start + removed, length - start - removed + 1);
}

char* CStr::Concat(char* dst, size_t dstSize, const char* a, const char* b) {
    if (dst == nullptr || dstSize == 0) {
        return dst;
    }
    // Built in a temporary, since `a` or `b` may be `dst` itself.
    std::string joined = a != nullptr ? a : "";
    joined += b != nullptr ? b : "";
    const size_t length = std::min(joined.size(), dstSize - 1);
    std::memcpy(dst, joined.data(), length);
    dst[length] = '\0';
    return dst;
}

bool CStr::Mid(const char* src, char* dst, int32_t start, int32_t count) {
    if (src == nullptr || dst == nullptr || start < 0 || count <= 0) {
        return false;
    }
    const size_t length = std::strlen(src);
    if (static_cast<size_t>(start) >= length) {
        return false;
    }
    const size_t taken = std::min(static_cast<size_t>(count), length - start);
    std::memmove(dst, src + start, taken);
    dst[taken] = '\0';
    return true;
}

bool CStr::Split(char* str, char* rest, char sep) {
    if (rest != nullptr) {
        rest[0] = '\0';
    }
    if (str == nullptr || rest == nullptr || str[0] == '\0') {
        return false;
    }
    char* at = std::strchr(str, sep);
    if (at == nullptr) {
        return false;
    }
    std::memmove(rest, at + 1, std::strlen(at + 1) + 1);
    *at = '\0';
    return rest[0] != '\0';
}

char* CStr::Format(char* buf, size_t size, const char* format, ...) {
    if (buf == nullptr || size == 0 || format == nullptr) {
        return buf;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, size, format, args);
    va_end(args);
    return buf;
}

int32_t CStr::ToInt(char* str) {
    if (str == nullptr) {
        return 0;
    }
    char* out = str;
    for (const char* in = str; *in != '\0'; ++in) {
        if ((*in >= '0' && *in <= '9') || *in == '-') {
            *out++ = *in;
        }
    }
    *out = '\0';

    const char* p = str;
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    // Accumulated wide and clamped, so an overlong digit run cannot overflow.
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), int64_t{INT32_MAX} + 1);
    }
    value = negative ? -value : std::min<int64_t>(value, INT32_MAX);
    return static_cast<int32_t>(value);
}

int32_t CStr::Find(const char* str, char ch, int32_t last) {
    if (str == nullptr || str[0] == '\0') {
        return -1;
    }
    const char* at = last != 0 ? std::strrchr(str, ch) : std::strchr(str, ch);
    if (at == nullptr || ch == '\0') {
        return -1;
    }
    return static_cast<int32_t>(at - str);
}
