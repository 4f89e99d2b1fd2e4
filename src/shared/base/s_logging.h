// The diagnostic log and the string helpers of the shared base.
//
// CLog writes one line per entry into a plain text file, filtered by a
// numeric level. The file is opened, appended to and closed for every entry,
// so other programs see complete lines between entries; while a loop of many
// entries holds it (CLog::Held), it stays open and each line is flushed as
// it is written. Lines end in CR LF on
// every platform, so the file reads the same wherever it was written.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/printf_format.h"

class CLog {
public:
    // Width of the line buffer of one entry, line end included.
    static constexpr size_t kLineSize = 2048;

    // The process-wide log, created on first use.
    static CLog* Get();
    // Destroys the log at program end.
    static void Release();

    // Configures the log, resets the file when it is missing, when `clearFlag`
    // is set or when it has grown past `maxSize` bytes, and writes the header
    // block of this run. Never fails and never throws.
    void Open(int32_t level, int32_t levelAI, const char* fileName, int32_t clearFlag,
              int32_t maxSize);

    // Writes one entry when `level` does not exceed the configured level, then
    // records the caller's source position. An entry that cannot be written
    // is lost; the caller is never told.
    void Write(int32_t level, const char* sourceFile, int32_t sourceLine, const char* format, ...)
        BRF_PRINTF_FORMAT(5, 6);
    void WriteV(int32_t level, const char* sourceFile, int32_t sourceLine, const char* format,
                va_list args);

    // Directory of the running program, ending in the platform's separator,
    // or empty if the command line names none.
    const char* appDirectory() const { return appDirectory_; }
    const char* logFileName() const { return logFileName_; }
    int32_t logLevel() const { return logLevel_; }
    int32_t logLevelAI() const { return logLevelAI_; }
    const char* lastEntryFile() const { return lastEntryFile_; }
    int32_t lastEntryLine() const { return lastEntryLine_; }

    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // Keeps the file open while it lives, so that each entry costs one write
    // instead of an open and a close. Holds nest; the last one closes the
    // file. Only for the thread that writes the entries.
    class Held {
    public:
        Held();
        ~Held();
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
    };

private:
    CLog();
    void WriteHeader();
    void WriteBlankLine(int32_t level, const char* sourceFile, int32_t sourceLine);
    // One entry: a formatted line, or a bare line end when `format` is null
    // or empty.
    void Entry(int32_t level, const char* sourceFile, int32_t sourceLine, const char* format,
               va_list* args);

    char logFileName_[128];
    int32_t logLevel_;
    int32_t logLevelAI_;
    char lastEntryFile_[256];
    int32_t lastEntryLine_;
    char appDirectory_[256];
    std::FILE* held_ = nullptr;
    int32_t holds_ = 0;
};

// The program's directory as named by its command line: every quote removed,
// cut after the last `separator`; empty when there is none or when the
// directory would not fit the 255 characters of CLog's field.
std::string AppDirectoryFromCommandLine(std::string commandLine, char separator);

// The program's own part of a command line, without its arguments: a quoted
// first word up to its closing quote (quotes kept), else the text up to the
// first blank or tab. The log takes the program's directory from this part,
// so that an argument holding a separator (a web address) cannot move it.
std::string ProgramOfCommandLine(const std::string& commandLine);

// Writes a log entry with the caller's source position.
#define BRF_LOG(level, ...) CLog::Get()->Write((level), __FILE__, __LINE__, __VA_ARGS__)

// Small in-place helpers on caller-owned, NUL-terminated character buffers.
// A null or empty input makes each of them do nothing and return its
// "nothing" value.
class CStr {
public:
    static CStr* Get();
    static void Release();

    // Zeroes `size` bytes of `buf` and copies at most `size`-1 characters of
    // `src` into it, so the result is always terminated.
    char* Clear(char* buf, size_t size, const char* src = nullptr);

    // Removes `count` characters from `pos` on; a count past the end stops at
    // the end.
    void Delete(char* str, int32_t pos, uint32_t count);

    // `dst` = `a` followed by `b`, cut to `dstSize`-1 characters. `dst` may be
    // `a` or `b` itself.
    char* Concat(char* dst, size_t dstSize, const char* a, const char* b);
    template <size_t N>
    char* Concat(char (&dst)[N], const char* a, const char* b) {
        return Concat(dst, N, a, b);
    }

    // Copies `count` characters from `start` (cut to the end of `src`) into
    // `dst`. False, leaving `dst` untouched, when there is nothing to copy.
    bool Mid(const char* src, char* dst, int32_t start, int32_t count);

    // Cuts `str` at the first `sep` and moves what followed it into `rest`.
    // True when `rest` received at least one character; false and `str`
    // unchanged when there is no separator.
    bool Split(char* str, char* rest, char sep);

    // printf into `buf`, cut to `size`-1 characters.
    char* Format(char* buf, size_t size, const char* format, ...) BRF_PRINTF_FORMAT(4, 5);

    // Deletes every character but digits and "-" from `str`, then reads the
    // rest as a signed decimal number ("1.49" becomes "149", giving 149).
    int32_t ToInt(char* str);

    // Index of the first (last == 0) or last occurrence of `ch`; -1 if none.
    int32_t Find(const char* str, char ch, int32_t last);

    CStr(const CStr&) = delete;
    CStr& operator=(const CStr&) = delete;

private:
    CStr() = default;
};
