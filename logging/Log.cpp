#include "logging/Log.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <type_traits>

#include "logging/LogBackend.h"
#include "platform/NoDestructor.h"
#include "logging/LogPlatform.h"

namespace logging {
namespace {

constexpr wchar_t kLoadTimeLogFile[] = L"Tarnwick.log";
constexpr wchar_t kFatalMessage[] = L"***Fatal Error Check,Please Fix it!***";
constexpr uint32_t kMsiLogFatalAndErrors = 3;

std::wstring ParentFolder(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring HostProgramFolder() { return ParentFolder(LogPlatform().Process().ExecutablePath()); }

// The library module's file name up to its first dot: "Brisalen" for
// "...\Brisalen.dll". Kept for the process once computed.
struct LoggerName {
    std::wstring wide;
    std::string narrow;
};

const LoggerName& TheLoggerName() {
    static const platform::NoDestructor<LoggerName> name([] {
        const std::wstring module = LogPlatform().Process().LibraryModulePath();
        std::wstring base = module.substr(module.find_last_of(L"\\/") + 1);
        base = base.substr(0, base.find(L'.'));
        LoggerName result;
        result.narrow = LogPlatform().CodePages().FromWide(platform::kCpAcp, base);
        result.wide = LogPlatform().CodePages().ToWide(platform::kCpAcp, result.narrow);
        return result;
    }());
    return *name;
}

// Creates each missing folder of `path` from the root down.
void CreateFolderTree(const std::wstring& path) {
    auto& files = LogPlatform().Files();
    size_t pos = 0;
    // Skip the drive ("C:") or a UNC server and share prefix.
    if (path.size() >= 2 && path[1] == L':') pos = 2;
    while (pos != std::wstring::npos) {
        pos = path.find_first_of(L"\\/", pos + 1);
        const std::wstring prefix = path.substr(0, pos);
        if (prefix.empty() || prefix.back() == L':') continue;
        if (!files.Exists(prefix)) files.CreateDirectory(prefix);
    }
}

std::mutex& SetupMutex() {
    static platform::NoDestructor<std::mutex> mutex;
    return *mutex;
}

// Texts of the call sites, never released. Elements of a deque keep their
// place as it grows.
class CallSiteTexts {
public:
    const char* Keep(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        return narrow_.emplace_back(std::move(text)).c_str();
    }
    const wchar_t* Keep(std::wstring text) {
        std::lock_guard<std::mutex> lock(mutex_);
        return wide_.emplace_back(std::move(text)).c_str();
    }

private:
    std::mutex mutex_;
    std::deque<std::string> narrow_;
    std::deque<std::wstring> wide_;
};

CallSiteTexts& TheCallSiteTexts() {
    static platform::NoDestructor<CallSiteTexts> texts;
    return *texts;
}

std::atomic<bool> g_loadTimeSetupDone{false};

int PriorityOfLevel(int32_t level) {
    switch (level) {
        case 0: return 700;  // DEBUG
        case 1: return 600;  // INFO
        case 2: return 400;  // WARN
        case 3: return 300;  // ERROR
        default: return -1;
    }
}

void WriteText(int32_t level, const std::string& text) {
    if (!Backend().HasAppender(TheLoggerName().narrow)) Setup(nullptr, nullptr);
    const int priority = PriorityOfLevel(level);
    if (text.empty() || priority < 0) return;
    Backend().Write(priority, text);
}

std::string ToLogText(const std::wstring& message) {
    return LogPlatform().CodePages().FromWide(platform::kCpOemCp, message);
}
const std::string& ToLogText(const std::string& message) { return message; }

template <typename Char>
const Char* FileNamePart(const Char* path) {
    const Char* name = path;
    for (const Char* p = path; *p; ++p) {
        if (*p == Char('\\') || *p == Char('/')) name = p + 1;
    }
    return name;
}

// Only the formatting and the conversion run under the fault guard: a fault
// abandons the guarded stack, so nothing in there may hold a lock.
template <typename Char, typename Args>
struct FormatJob {
    const Char* format;
    Args args;
    std::string text;
    bool failed = false;
};

template <typename Char, typename Args>
void FormatMessage(void* context) {
    auto& job = *static_cast<FormatJob<Char, Args>*>(context);
    try {
        const std::basic_string<Char> message =
            fmt::vsprintf(fmt::basic_string_view<Char>(job.format), job.args);
        job.text = ToLogText(message);
    } catch (...) {
        job.failed = true;
    }
}

template <typename Char>
void WriteFatalLine(const Char* function, const Char* file, int32_t line, int32_t level) {
    try {
        std::basic_string<Char> message;
        if constexpr (std::is_same_v<Char, wchar_t>) {
            message = fmt::format(L"[{}:{}][{}] {}", FileNamePart(file), line, function, kFatalMessage);
        } else {
            message = fmt::format("[{}:{}][{}] {}", FileNamePart(file), line, function,
                                  ToLogText(std::wstring(kFatalMessage)));
        }
        WriteText(level, ToLogText(message));
    } catch (...) {
        // A log call must never take the caller down.
    }
}

template <typename Char, typename Args>
void LogGuarded(const Char* function, const Char* file, int32_t line, int32_t level,
                const Char* format, Args args) {
    if (format == nullptr || *format == Char(0)) return;
    FormatJob<Char, Args> job{format, args, std::string(), false};
    const platform::GuardOutcome outcome = LogPlatform().Process().RunGuarded(&FormatMessage<Char, Args>, &job);
    // A thread the guard cannot serve still gets its log lines: the text is
    // the host's own arguments, formatted as they stand.
    if (outcome.end == platform::GuardOutcome::End::kRefused) FormatMessage<Char, Args>(&job);
    const bool completed = outcome.end != platform::GuardOutcome::End::kException;
    if (completed && !job.failed) {
        try {
            WriteText(level, job.text);
            return;
        } catch (...) {
            // Falls through to the fatal-error line.
        }
    }
    static const Char kNone[] = {Char(0)};
    WriteFatalLine(function ? function : kNone, file ? file : kNone, line, level);
}

}  // namespace

void Setup(const wchar_t* fileName, const wchar_t* directory) {
    std::lock_guard<std::mutex> lock(SetupMutex());
    const LoggerName& name = TheLoggerName();
    if (Backend().HasAppender(name.narrow)) return;

    std::wstring folder = directory ? directory : L"";
    if (folder.empty()) folder = HostProgramFolder() + L"\\Log";
    CreateFolderTree(folder);

    std::wstring file = fileName ? fileName : L"";
    if (file.empty()) file = name.wide + L".log";

    Backend().AddAppender(name.narrow, folder + L"\\" + file);
}

void SetupAtLoad() {
    if (g_loadTimeSetupDone.exchange(true)) return;
    Setup(kLoadTimeLogFile, nullptr);
    LogPlatform().Installer().EnableLog(kMsiLogFatalAndErrors, HostProgramFolder() + L"\\msi.log", 0);
}

void ResetForTesting() {
    std::lock_guard<std::mutex> lock(SetupMutex());
    Backend().RemoveAppenders();
    g_loadTimeSetupDone = false;
}

void VLogW(const wchar_t* function, const wchar_t* file, int32_t line, int32_t level,
           const wchar_t* format, fmt::wprintf_args args) {
    LogGuarded(function, file, line, level, format, args);
}

void VLogA(const char* function, const char* file, int32_t line, int32_t level, const char* format,
           fmt::printf_args args) {
    LogGuarded(function, file, line, level, format, args);
}

std::string QualifiedFunctionName(const char* prettyFunction) {
    std::string text = prettyFunction ? prettyFunction : "";
    // Drop the parameter list (the first '(' that is not part of a name such
    // as "operator()") and everything after it.
    size_t open = text.find('(');
    if (open != std::string::npos && text.compare(open, 2, "()") == 0 && open >= 8 &&
        text.compare(open - 8, 8, "operator") == 0) {
        open = text.find('(', open + 2);
    }
    if (open != std::string::npos) text.erase(open);
    // Drop the return type and qualifiers before the name: the name starts
    // after the last blank that is not inside template brackets.
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') ++depth;
        else if (text[i] == '>') --depth;
        else if (text[i] == ' ' && depth == 0) start = i + 1;
    }
    return text.substr(start);
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

static_assert(std::is_trivially_destructible_v<CallSite>, "a call site must outlive static destruction");

CallSite::CallSite(const char* prettyFunction, const char* sourceFile) {
    CallSiteTexts& texts = TheCallSiteTexts();
    std::string name = QualifiedFunctionName(prettyFunction);
    wideFunction = texts.Keep(Widen(name));
    function = texts.Keep(std::move(name));
    wideFile = texts.Keep(Widen(sourceFile ? sourceFile : ""));
}

}  // namespace logging
