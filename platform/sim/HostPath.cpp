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

std::string ResolveComponents(const std::string& root, const std::vector<std::wstring>& components,
                              HostNode* node) {
    // Nearly every path the library hands over is spelled as it exists on
    // disk. One lstat of the whole path then proves every component exists
    // as given, which is what the walk below would find one lstat at a time.
    std::string path = root;
    for (const std::wstring& component : components) path += "/" + ToUtf8(component);
    struct stat whole {};
    if (lstat(path.c_str(), &whole) == 0) {
        if (node) *node = HostNode::FromLstat(path, whole);
        return path;
    }

    path = root;
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
    if (node) *node = HostNode::Inspect(path);
    return path;
}

}  // namespace sim
