// Where formatted log lines go: log4cpp's root category when the build has
// log4cpp, otherwise a rolling file of our own with the same contract
// (1 MiB limit, one ".1" backup, "<date time> <message>\n" lines, append).
#pragma once

#include <string>

namespace logging {

constexpr long kMaxLogFileSize = 1048576;
constexpr int kLogBackups = 1;
constexpr int kRootPriority = 700;  // DEBUG: every level is written

class LogBackend {
public:
    virtual ~LogBackend() = default;
    virtual bool HasAppender(const std::string& name) = 0;
    // Attaches a rolling file appender called `name` writing to `path`.
    // A file that cannot be opened fails silently, as log4cpp does.
    virtual void AddAppender(const std::string& name, const std::wstring& path) = 0;
    virtual void Write(int priority, const std::string& text) = 0;
    virtual void RemoveAppenders() = 0;
};

LogBackend& Backend();

}  // namespace logging
