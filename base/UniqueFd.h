// Ownership of a POSIX file descriptor.
#pragma once

#include <unistd.h>

#include "base/UniqueHandle.h"

namespace base {

struct FdTraits {
    using Handle = int;
    static Handle Invalid() { return -1; }
    static void Close(Handle fd) { ::close(fd); }
};

using UniqueFd = UniqueHandle<FdTraits>;

// Closes the descriptor and tells whether close succeeded, which is where
// some file systems report a failed write.
inline bool CloseReporting(UniqueFd& fd) { return ::close(fd.Release()) == 0; }

}  // namespace base
