#include "logging/LogBackend.h"

#include <memory>

#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/RollingFileAppender.hh>

#include "platform/NoDestructor.h"
#include "logging/LogPlatform.h"

namespace logging {
namespace {

class Log4cppBackend final : public LogBackend {
public:
    bool HasAppender(const std::string& name) override {
        return log4cpp::Category::getRoot().getAppender(name) != nullptr;
    }

    void AddAppender(const std::string& name, const std::wstring& path) override {
        // log4cpp opens its files by 8-bit path; the seam knows which one
        // reaches the same file.
        const std::string nativePath = LogPlatform().Files().NativePath(path);
        auto appender = std::make_unique<log4cpp::RollingFileAppender>(
            name, nativePath, kMaxLogFileSize, kLogBackups, true, 0644);
        auto layout = std::make_unique<log4cpp::PatternLayout>();
        layout->setConversionPattern("%d %m%n");
        appender->setLayout(layout.release());
        log4cpp::Category& root = log4cpp::Category::getRoot();
        root.addAppender(appender.release());  // the category owns its appenders
        root.setPriority(kRootPriority);
    }

    void Write(int priority, const std::string& text) override {
        log4cpp::Category::getRoot().log(priority, text);
    }

    void RemoveAppenders() override { log4cpp::Category::getRoot().removeAllAppenders(); }
};

}  // namespace

LogBackend& Backend() {
    static platform::NoDestructor<Log4cppBackend> backend;
    return *backend;
}

}  // namespace logging
