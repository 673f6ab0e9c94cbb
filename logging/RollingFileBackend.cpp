// The log file for builds without log4cpp. It behaves as log4cpp's rolling
// file appender does: the size check follows each write and the file rolls
// once it has reached the limit, so one message larger than the limit is
// still written whole before the file rolls.
#include "logging/LogBackend.h"

#include <memory>
#include <mutex>

#include <fmt/format.h>

#include "platform/NoDestructor.h"
#include "logging/LogPlatform.h"

namespace logging {
namespace {

class RollingFileBackend final : public LogBackend {
public:
    bool HasAppender(const std::string& name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return !name_.empty() && name_ == name;
    }

    void AddAppender(const std::string& name, const std::wstring& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        name_ = name;
        path_ = path;
        OpenLocked();
    }

    void Write(int /*priority*/, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_) return;
        const std::string line = TimeStamp() + " " + text + "\n";
        file_->Write(line.data(), line.size());
        if (file_->Size() >= static_cast<uint64_t>(kMaxLogFileSize)) RollOverLocked();
    }

    void RemoveAppenders() override {
        std::lock_guard<std::mutex> lock(mutex_);
        file_.reset();
        name_.clear();
        path_.clear();
    }

private:
    // A log that cannot be opened is not written; nobody is told.
    void OpenLocked() {
        auto opened = LogPlatform().Files().Open(path_, platform::OpenMode::Append);
        file_ = opened ? opened.Take() : nullptr;
    }

    void RollOverLocked() {
        file_.reset();
        auto& files = LogPlatform().Files();
        const std::wstring backup = path_ + L".1";
        files.DeleteFile(backup);
        files.MoveFile(path_, backup);
        OpenLocked();
    }

    // log4cpp's default date form: ISO 8601 with milliseconds.
    static std::string TimeStamp() {
        const platform::LocalTime t = LogPlatform().Process().Now();
        return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02},{:03}", t.year, t.month, t.day, t.hour,
                           t.minute, t.second, t.milliseconds);
    }

    std::mutex mutex_;
    std::string name_;
    std::wstring path_;
    std::unique_ptr<platform::IFile> file_;
};

}  // namespace

LogBackend& Backend() {
    static platform::NoDestructor<RollingFileBackend> backend;
    return *backend;
}

}  // namespace logging
