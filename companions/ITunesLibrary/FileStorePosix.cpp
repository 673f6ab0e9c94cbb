#include "FileStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "base/UniqueFd.h"
#include "base/Utf8.h"

namespace itl {

namespace {

// A file this process created; removed unless kept.
class OwnTemporary {
public:
    explicit OwnTemporary(std::string path) : path_(std::move(path)) {}
    ~OwnTemporary() {
        if (!kept_) ::unlink(path_.c_str());
    }
    OwnTemporary(const OwnTemporary&) = delete;
    OwnTemporary& operator=(const OwnTemporary&) = delete;
    const std::string& path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

std::string TemporaryName(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1));
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Creates `path` (it must not exist yet), writes and flushes it. Returns
// false when the file was not created by this call.
bool CreateFlushed(const std::string& path, const std::string& bytes, mode_t mode, bool& created) {
    base::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    created = fd.Valid();
    if (!created) return false;
    return WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0 && base::CloseReporting(fd);
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

NativePath ToNativePath(const std::wstring& path) { return base::WideToUtf8(path, base::Surrogates::Pair); }

NativePath BackupName(const NativePath& target, unsigned number) {
    return number == 0 ? target + ".bak" : target + "." + std::to_string(number) + ".bak";
}

ReadOutcome ReadWholeFile(const NativePath& path, std::string& bytes) {
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return ReadOutcome::Failed;
    std::string content;
    content.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadOutcome::Failed;
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    bytes = std::move(content);
    return ReadOutcome::Ok;
}

bool PathExists(const NativePath& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

WriteOutcome ReplaceFileContents(const NativePath& target, const std::string& bytes) {
    if (target.empty() || target.back() == '/') return WriteOutcome::Failed;
    mode_t mode = 0666;
    std::string previous;
    const ReadOutcome old = ReadWholeFile(target, previous);
    if (old == ReadOutcome::Failed) return WriteOutcome::Failed;
    if (old == ReadOutcome::Ok) {
        struct stat info {};
        if (::stat(target.c_str(), &info) != 0) return WriteOutcome::Failed;
        mode = info.st_mode & 07777;
        // The owner's write bit is what a read-only file lacks; a superuser
        // could still replace it, which is why it is tested, not tried.
        if ((mode & S_IWUSR) == 0) return WriteOutcome::ReadOnly;
    }

    OwnTemporary temporary(TemporaryName(target));
    bool created = false;
    const bool written = CreateFlushed(temporary.path(), bytes, mode, created);
    if (!created) temporary.Keep();  // someone else's file: never ours to remove
    if (!written) return WriteOutcome::Failed;

    if (old == ReadOutcome::Ok) {
        OwnTemporary backup(TemporaryName(target + ".bak"));
        if (!CreateFlushed(backup.path(), previous, mode, created)) {
            if (!created) backup.Keep();
            return WriteOutcome::Failed;
        }
        // link() fails on an existing name, so no backup is ever replaced;
        // the temporary goes with `backup`.
        bool placed = false;
        for (unsigned number = 0; number < kMaxBackups && !placed; ++number) {
            if (::link(backup.path().c_str(), BackupName(target, number).c_str()) == 0) placed = true;
            else if (errno != EEXIST) return WriteOutcome::Failed;
        }
        if (!placed) return WriteOutcome::Failed;
    }
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) return WriteOutcome::Failed;
    temporary.Keep();
    // Makes the rename itself durable; the file is in place either way.
    base::UniqueFd folder(::open(ParentOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) ::fsync(folder.Get());
    return WriteOutcome::Ok;
}

}  // namespace itl
