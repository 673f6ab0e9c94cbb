#include "host/machine/SeedPlists.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace seed {

namespace {

// Seconds between 1970-01-01 and the property lists' epoch, 2001-01-01.
constexpr int64_t kAppleEpochFromUnix = 978307200;

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::string Serialize(plist_t root, bool binary) {
    char* data = nullptr;
    uint32_t length = 0;
    std::string bytes;
    if (binary) {
        plist_to_bin(root, &data, &length);
        if (data) bytes.assign(data, length);
        plist_to_bin_free(data);
    } else {
        plist_to_xml(root, &data, &length);
        if (data) bytes.assign(data, length);
        plist_to_xml_free(data);
    }
    return bytes;
}

plist_t AppleDate(int64_t unixSeconds) {
    return plist_new_date(static_cast<int32_t>(unixSeconds - kAppleEpochFromUnix), 0);
}

void SetString(plist_t dict, const char* key, const std::string& value) {
    plist_dict_set_item(dict, key, plist_new_string(value.c_str()));
}

// The title a track shows: the file name without its extension, or the
// last part of an address.
std::string TrackName(const LibraryEntry& entry) {
    std::string name = entry.location.substr(entry.location.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? std::string("Untitled") : name;
}

}  // namespace

std::string BackupManifestPlist(const PlannedBackup& backup) {
    PlistPtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "Date", AppleDate(backup.dateUnix));
    plist_t lockdown = plist_new_dict();
    SetString(lockdown, "DeviceName", backup.deviceName);
    SetString(lockdown, "ProductVersion", backup.version);
    SetString(lockdown, "UniqueDeviceID", backup.deviceId);
    plist_dict_set_item(root.get(), "Lockdown", lockdown);
    plist_dict_set_item(root.get(), "IsEncrypted", plist_new_bool(0));
    return Serialize(root.get(), backup.binary);
}

std::string BackupInfoPlist(const PlannedBackup& backup) {
    PlistPtr root(plist_new_dict());
    SetString(root.get(), "Device Name", backup.deviceName);
    SetString(root.get(), "Product Version", backup.version);
    SetString(root.get(), "Unique Identifier", backup.deviceId);
    plist_dict_set_item(root.get(), "Last Backup Date", AppleDate(backup.dateUnix));
    return Serialize(root.get(), backup.binary);
}

std::string BackupStatusPlist(const PlannedBackup& backup) {
    PlistPtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "IsFullBackup", plist_new_bool(0));
    SetString(root.get(), "Version", "3.3");
    plist_dict_set_item(root.get(), "Date", AppleDate(backup.dateUnix));
    return Serialize(root.get(), backup.binary);
}

std::string LibraryPlist(const std::vector<LibraryEntry>& entries, const std::string& mediaFolderLocation) {
    PlistPtr root(plist_new_dict());
    plist_dict_set_item(root.get(), "Major Version", plist_new_uint(1));
    plist_dict_set_item(root.get(), "Minor Version", plist_new_uint(1));
    SetString(root.get(), "Application Version", "12.13.2.3");
    SetString(root.get(), "Music Folder", mediaFolderLocation);
    plist_t tracks = plist_new_dict();
    plist_t items = plist_new_array();
    uint64_t id = 1000;
    for (const LibraryEntry& entry : entries) {
        ++id;
        plist_t track = plist_new_dict();
        plist_dict_set_item(track, "Track ID", plist_new_uint(id));
        SetString(track, "Name", TrackName(entry));
        SetString(track, "Track Type", entry.remote ? "URL" : "File");
        SetString(track, "Location", entry.location);
        plist_dict_set_item(tracks, std::to_string(id).c_str(), track);
        plist_t item = plist_new_dict();
        plist_dict_set_item(item, "Track ID", plist_new_uint(id));
        plist_array_append_item(items, item);
    }
    plist_dict_set_item(root.get(), "Tracks", tracks);
    plist_t playlist = plist_new_dict();
    SetString(playlist, "Name", "Library");
    plist_dict_set_item(playlist, "Master", plist_new_bool(1));
    plist_dict_set_item(playlist, "Playlist Items", items);
    plist_t playlists = plist_new_array();
    plist_array_append_item(playlists, playlist);
    plist_dict_set_item(root.get(), "Playlists", playlists);
    return Serialize(root.get(), false);
}

}  // namespace seed
