#include "platform/sim/files/HostPath.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/NoDestructor.h"
#include "platform/sim/files/HostDir.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WindowsName.h"

namespace sim {

namespace {

// A name as the case-insensitive lookup compares it: folded once, so that
// each entry of a folder costs no more than the comparison itself.
class NoCaseName {
public:
    explicit NoCaseName(const std::wstring& wanted) : wanted_(wanted), folded_(wanted) {
        for (wchar_t& c : folded_) c = FoldCase(c);
    }

    // EqualsNoCase(FromUtf8(name), wanted) without converting `name` when
    // it is plain ASCII, as nearly every name is: each byte is then one
    // character. A name with other bytes is converted and compared in full,
    // since characters beyond ASCII may fold onto ASCII letters (U+0131,
    // dotless i, upper-cases to I).
    bool Matches(const char* name) const {
        const size_t length = std::strlen(name);
        // UTF-8 takes at least one byte a character, and so does each
        // malformed byte FromUtf8 replaces.
        if (length < folded_.size()) return false;
        for (size_t i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            if (c >= 0x80) return EqualsNoCase(FromUtf8(std::string(name, length)), wanted_);
            // The ASCII bytes before the first other one are the first
            // characters, so a difference among them is final.
            if (i >= folded_.size() || FoldCase(static_cast<wchar_t>(c)) != folded_[i]) return false;
        }
        return length == folded_.size();
    }

private:
    const std::wstring& wanted_;
    std::wstring folded_;
};

// The name of the entry of the open folder `dir` equal to `wanted` ignoring
// case, or empty when there is none.
std::string FindNoCase(DIR* dir, const std::wstring& wanted) {
    const NoCaseName match(wanted);
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        // A listing leaves such a name out; no lookup may find it either.
        if (match.Matches(name) && IsWindowsHostName(name)) return name;
    }
    return {};
}

std::string FindNoCase(const std::string& folder, const std::wstring& wanted) {
    DirHandle dir(opendir(folder.c_str()));
    if (!dir) return {};
    return FindNoCase(dir.get(), wanted);
}

// Where a path spelled in another case than the host's was last found: the
// case-insensitive lookup reads whole folders, and a caller that spells a
// path its own way (a walk from a lower-cased start folder) does so again
// for every path below it. Keyed by the root and the folded (sim::Fold)
// leading components up to the last one whose spelling differed. An entry is only
// ever a hint: it is used when the host path it gives exists, which makes
// it a match as good as any other, and forgotten otherwise.
class SpellingCache {
public:
    static SpellingCache& Instance() {
        static platform::NoDestructor<SpellingCache> cache;  // library threads may use it at exit
        return *cache;
    }

    static std::string Key(const std::string& root, const std::vector<std::wstring>& components, size_t count) {
        std::string key = root;
        for (size_t i = 0; i < count; ++i) {
            key += '\0';
            key += ToUtf8(Fold(components[i]));
        }
        return key;
    }

    // The host path of the longest remembered prefix, and its length.
    bool Find(const std::string& root, const std::vector<std::wstring>& components, std::string& host, size_t& count) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (known_.empty()) return false;
        }
        // Each prefix's key extends the one before, so all are made in one pass.
        std::vector<size_t> ends;
        std::string key = root;
        for (const std::wstring& component : components) {
            key += '\0';
            key += ToUtf8(Fold(component));
            ends.push_back(key.size());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (count = components.size(); count > 0; --count) {
            key.resize(ends[count - 1]);
            auto it = known_.find(key);
            if (it == known_.end()) continue;
            host = it->second;
            return true;
        }
        return false;
    }

    void Remember(std::string key, std::string host) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (known_.size() >= kLimit) known_.clear();
        known_[std::move(key)] = std::move(host);
    }

    void Forget(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        known_.erase(key);
    }

private:
    static constexpr size_t kLimit = 4096;
    std::mutex mutex_;
    std::unordered_map<std::string, std::string> known_;
};

}  // namespace

namespace {

// Resolves components[from...] below `path`, an existing host folder, one
// lstat a component and a case-insensitive search where that fails. The
// last component found in another spelling is remembered with its prefix.
std::string WalkComponents(const std::string& root, const std::vector<std::wstring>& components, size_t from,
                           std::string path, HostNode* node) {
    bool missing = false;
    size_t respelled = 0;  // components up to the last one found in another spelling
    std::string respelledPath;
    for (size_t i = from; i < components.size(); ++i) {
        const std::string spelled = ToUtf8(components[i]);
        if (missing) {
            path += "/" + spelled;
            continue;
        }
        struct stat st {};
        if (lstat((path + "/" + spelled).c_str(), &st) == 0) {
            path += "/" + spelled;
            continue;
        }
        const std::string existing = FindNoCase(path, components[i]);
        if (existing.empty()) {
            missing = true;
            path += "/" + spelled;
        } else {
            path += "/" + existing;
            respelled = i + 1;
            respelledPath = path;
        }
    }
    if (respelled > 0)
        SpellingCache::Instance().Remember(SpellingCache::Key(root, components, respelled), respelledPath);
    if (node) *node = HostNode::Inspect(path);
    return path;
}

// The common miss: every component but the last exists as spelled below
// `path`, an existing host folder, and only the last one is missing or
// spelled differently (a probe for a file a folder seldom holds). One open
// of the parent proves what the walk above would prove with an lstat a
// component, each of which walks the whole path again. False, with nothing
// done, when the parent cannot be opened as spelled; the caller has
// already seen the whole path fail as spelled.
bool ResolveLastBelow(const std::string& root, const std::vector<std::wstring>& components, size_t from,
                      const std::string& path, HostNode* node, std::string& resolved) {
    if (from >= components.size()) return false;
    std::string parent = path;
    for (size_t i = from; i + 1 < components.size(); ++i) parent += "/" + ToUtf8(components[i]);
    DirHandle dir(opendir(parent.c_str()));
    if (!dir) return false;
    const std::string existing = FindNoCase(dir.get(), components.back());
    if (existing.empty()) {
        resolved = parent + "/" + ToUtf8(components.back());
        // Not in the listing just read, which is what an lstat would say.
        if (node) *node = HostNode{};
        return true;
    }
    resolved = parent + "/" + existing;
    SpellingCache::Instance().Remember(SpellingCache::Key(root, components, components.size()), resolved);
    if (node) {
        struct stat st {};
        *node = fstatat(dirfd(dir.get()), existing.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                    ? HostNode::FromLstatAt(dirfd(dir.get()), existing.c_str(), st)
                    : HostNode{};
    }
    return true;
}

// A path below one found in another spelling before (a walk from a
// lower-cased start folder) is taken from there first: trying its own
// spelling would fail every time. False when nothing is cached or the
// cached place is gone.
bool ResolveFromCache(const std::string& root, const std::vector<std::wstring>& components, HostNode* node,
                      std::string& resolved) {
    SpellingCache& cache = SpellingCache::Instance();
    std::string known;
    size_t knownCount = 0;
    if (!cache.Find(root, components, known, knownCount)) return false;
    std::string full = known;
    for (size_t i = knownCount; i < components.size(); ++i) full += "/" + ToUtf8(components[i]);
    struct stat found {};
    if (lstat(full.c_str(), &found) == 0) {
        if (node) *node = HostNode::FromLstat(full, found);
        resolved = std::move(full);
        return true;
    }
    // The remembered place still there: what follows it is missing or
    // spelled differently, which only the folders below it can tell (a
    // probe for a file that is not there is the common case). Walking again
    // from the root would relist every respelled folder on the way.
    if (ResolveLastBelow(root, components, knownCount, known, node, resolved)) return true;
    if (lstat(known.c_str(), &found) == 0 && S_ISDIR(found.st_mode)) {
        resolved = WalkComponents(root, components, knownCount, std::move(known), node);
        return true;
    }
    // Renamed or removed: the slow walk settles it and remembers what it finds.
    cache.Forget(SpellingCache::Key(root, components, knownCount));
    return false;
}

}  // namespace

std::string ResolveComponents(const std::string& root, const std::vector<std::wstring>& components, HostNode* node) {
    std::string cached;
    if (ResolveFromCache(root, components, node, cached)) return cached;

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

    std::string resolved;
    if (ResolveLastBelow(root, components, 0, root, node, resolved)) return resolved;
    return WalkComponents(root, components, 0, root, node);
}

}  // namespace sim
