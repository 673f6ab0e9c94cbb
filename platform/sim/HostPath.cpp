#include "platform/sim/HostPath.h"

#include <sys/stat.h>

#include "platform/sim/HostDir.h"
#include "platform/sim/Utf8.h"

namespace sim {

namespace {

// The name of the entry of `folder` equal to `wanted` ignoring case, or
// empty when there is none.
std::string FindNoCase(const std::string& folder, const std::wstring& wanted) {
    DirHandle dir(opendir(folder.c_str()));
    if (!dir) return {};
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (EqualsNoCase(FromUtf8(name), wanted)) return name;
    }
    return {};
}

}  // namespace

std::string ResolveComponents(const std::string& root, const std::vector<std::wstring>& components) {
    std::string path = root;
    bool missing = false;
    for (const std::wstring& component : components) {
        const std::string spelled = ToUtf8(component);
        if (missing) {
            path += "/" + spelled;
            continue;
        }
        struct stat st {};
        if (lstat((path + "/" + spelled).c_str(), &st) == 0) {
            path += "/" + spelled;
            continue;
        }
        const std::string existing = FindNoCase(path, component);
        if (existing.empty()) {
            missing = true;
            path += "/" + spelled;
        } else {
            path += "/" + existing;
        }
    }
    return path;
}

}  // namespace sim
