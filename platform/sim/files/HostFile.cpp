#include "platform/sim/files/HostFile.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/Types.h"
#include "platform/sim/processes/LastError.h"

namespace sim {

uint64_t HostFile::Size() {
    struct stat st {};
    if (::fstat(fd_.Get(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

size_t HostFile::Read(void* buffer, size_t count) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd_.Get(), out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // A handle opened without read access.
            SetLastError(platform::kErrAccessDenied);
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool HostFile::Write(const void* data, size_t count) {
    const auto* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_.Get(), in + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastError(errno == ENOSPC ? 112u /* ERROR_DISK_FULL */ : uint32_t{platform::kErrAccessDenied});
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace sim
