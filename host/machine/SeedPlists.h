// The property lists the seeded profile holds, made with libplist so they
// are what the readers of the library and of the companion take in: the
// three lists of a device backup in either form, and the media library in
// the layout of the player's XML export.
#pragma once

#include <string>
#include <vector>

#include "host/machine/UserDataSeed.h"

namespace seed {

// Manifest.plist: "Date", "Lockdown" (name, version, device id), "IsEncrypted".
std::string BackupManifestPlist(const PlannedBackup& backup);
// Info.plist: "Device Name", "Product Version", "Unique Identifier",
// "Last Backup Date".
std::string BackupInfoPlist(const PlannedBackup& backup);
std::string BackupStatusPlist(const PlannedBackup& backup);

// The library: "Tracks" keyed by track id, each with "Track ID", "Name",
// "Track Type" and "Location", and one playlist holding every track.
std::string LibraryPlist(const std::vector<LibraryEntry>& entries, const std::string& mediaFolderLocation);

}  // namespace seed
