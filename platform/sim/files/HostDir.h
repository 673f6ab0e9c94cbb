// Owns one open host directory stream.
#pragma once

#include <dirent.h>

#include <memory>

namespace sim {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace sim
