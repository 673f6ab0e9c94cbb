// The one logging call of the library, in a wide and a narrow form.
//
// Every call carries the calling function's name, the source file, the line
// and a level (0 debug, 1 info, 2 warn, 3 error); the printf-style format is
// applied by fmt's printf engine, which is type-safe for wide and narrow
// arguments alike and measures its own length, so messages of any size are
// written whole.
#pragma once

#include <cstdint>
#include <string>

#include <fmt/printf.h>
#include <fmt/xchar.h>

namespace logging {

// Configures the log file once per process. Empty or null arguments select
// the defaults: "<program folder>\Log" and "<logger name>.log".
void Setup(const wchar_t* fileName, const wchar_t* directory);

// What the library's load entry runs: the "Tarnwick.log" file and Windows
// Installer's own log beside the host program. Only the first call acts.
void SetupAtLoad();

// Forgets the configured log so a test can start from a process that has not
// logged yet.
void ResetForTesting();

// The non-template halves of the log calls.
void VLogW(const wchar_t* function, const wchar_t* file, int32_t line, int32_t level,
           const wchar_t* format, fmt::wprintf_args args);
void VLogA(const char* function, const char* file, int32_t line, int32_t level, const char* format,
           fmt::printf_args args);

template <typename... Args>
void LogW(const wchar_t* function, const wchar_t* file, int32_t line, int32_t level,
          const wchar_t* format, const Args&... args) {
    VLogW(function, file, line, level, format, fmt::make_wprintf_args(args...));
}

template <typename... Args>
void LogA(const char* function, const char* file, int32_t line, int32_t level, const char* format,
          const Args&... args) {
    VLogA(function, file, line, level, format, fmt::make_printf_args(args...));
}

// "CFixItunesMgr::OpenItunes" out of a compiler's decorated function text
// ("virtual bool CFixItunesMgr::OpenItunes()").
std::string QualifiedFunctionName(const char* prettyFunction);
std::wstring Widen(const std::string& ascii);

// The function and file names of one log call, worked out on its first
// use. The texts live for the whole process and the object itself has
// nothing to destroy, so a worker thread may still log while the runtime
// tears down static objects.
struct CallSite {
    CallSite(const char* prettyFunction, const char* sourceFile);
    const char* function;
    const wchar_t* wideFunction;
    const wchar_t* wideFile;
};

}  // namespace logging

#if defined(__GNUC__)
#define BRISALEN_PRETTY_FUNCTION __PRETTY_FUNCTION__
#else
#define BRISALEN_PRETTY_FUNCTION __FUNCTION__
#endif

// Level 1 (info) is what every call site of the library passes.
#define LOG_INFO_W(format, ...)                                                                        \
    do {                                                                                               \
        static const ::logging::CallSite brisalenLogSite_(BRISALEN_PRETTY_FUNCTION, __FILE__);         \
        ::logging::LogW(brisalenLogSite_.wideFunction, brisalenLogSite_.wideFile, __LINE__, 1, format, \
                        ##__VA_ARGS__);                                                                \
    } while (0)

#define LOG_INFO_A(format, ...)                                                                          \
    do {                                                                                                 \
        static const ::logging::CallSite brisalenLogSite_(BRISALEN_PRETTY_FUNCTION, __FILE__);           \
        ::logging::LogA(brisalenLogSite_.function, __FILE__, __LINE__, 1, format, ##__VA_ARGS__);        \
    } while (0)
