#include "platform/sim/installer/PackageVerdictStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "base/UniqueFd.h"

namespace sim {
namespace {

using nlohmann::json;

json ToJson(const PackageVerdictEntry& entry) {
    return json{{"path", entry.path},
                {"device", static_cast<uint64_t>(entry.version.device)},
                {"inode", static_cast<uint64_t>(entry.version.inode)},
                {"size", entry.version.size},
                {"modifiedNs", entry.version.modifiedNs},
                {"changedNs", entry.version.changedNs},
                {"checkStartedNs", entry.checkStartedNs},
                {"sound", entry.verdict.sound},
                {"detail", entry.verdict.detail},
                {"queries", entry.verdict.queries}};
}

// Throws nlohmann's exceptions on a value of another shape.
PackageVerdictEntry FromJson(const json& value) {
    PackageVerdictEntry entry;
    entry.path = value.at("path").get<std::string>();
    entry.version.device = static_cast<dev_t>(value.at("device").get<uint64_t>());
    entry.version.inode = static_cast<ino_t>(value.at("inode").get<uint64_t>());
    entry.version.size = value.at("size").get<int64_t>();
    entry.version.modifiedNs = value.at("modifiedNs").get<int64_t>();
    entry.version.changedNs = value.at("changedNs").get<int64_t>();
    entry.checkStartedNs = value.at("checkStartedNs").get<int64_t>();
    entry.verdict.sound = value.at("sound").get<bool>();
    entry.verdict.detail = value.at("detail").get<std::string>();
    entry.verdict.queries = value.at("queries").get<std::set<std::string>>();
    return entry;
}

// The entries of a file written under `stamp`, by path.
std::map<std::string, PackageVerdictEntry> Read(const std::string& file, const std::string& stamp) {
    std::map<std::string, PackageVerdictEntry> entries;
    std::ifstream in(file, std::ios::binary);
    if (!in) return entries;
    std::ostringstream text;
    text << in.rdbuf();
    const json document = json::parse(text.str(), nullptr, false);
    if (!document.is_object() || document.value("stamp", json()) != stamp) return entries;
    const json packages = document.value("packages", json::array());
    if (!packages.is_array()) return entries;
    for (const json& value : packages) {
        try {
            PackageVerdictEntry entry = FromJson(value);
            if (entry.Trusted()) entries[entry.path] = std::move(entry);
        } catch (const json::exception&) {
            // A damaged entry is one verdict less.
        }
    }
    return entries;
}

bool WriteWhole(const std::string& file, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    const std::string temp = file + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    base::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
    }
    if (done != text.size() || ::close(fd.Release()) != 0 || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::vector<PackageVerdictEntry> PackageVerdictStore::Load() const {
    std::vector<PackageVerdictEntry> entries;
    for (auto& [path, entry] : Read(file_, stamp_)) entries.push_back(std::move(entry));
    return entries;
}

bool PackageVerdictStore::Save(const PackageVerdictEntry& entry) const {
    if (!entry.Trusted()) return true;
    std::map<std::string, PackageVerdictEntry> entries = Read(file_, stamp_);
    entries[entry.path] = entry;
    json packages = json::array();
    for (const auto& [path, kept] : entries) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) packages.push_back(ToJson(kept));
    }
    return WriteWhole(file_, json{{"stamp", stamp_}, {"packages", packages}}.dump(1));
}

}  // namespace sim
