// What the user-data deletion's file set is worked out from: each planned
// folder and junk file as it stands on the machine, judged by the deletion
// guard and the scan's reach, and what a walk of each passed folder finds.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "Brisalen/UserDataDeletionPlan.h"
#include "Brisalen/UserDataReach.h"
#include "platform/Platform.h"

// Every entry below `folder`, depth first, links not entered.
std::vector<UserDataEntryFacts> WalkFolderEntries(platform::IFileSystem& files, const std::wstring& folder);

// A refused folder is logged by the guard, as the deletion logs it.
std::vector<PlannedFolderFacts> ReadPlannedFolders(platform::Platform& os, const std::set<std::wstring>& folders,
                                                   const UserDataReach& reach);
std::vector<JunkFileFacts> ReadJunkFiles(platform::Platform& os, const std::set<std::wstring>& files,
                                         const UserDataReach& reach);
// The folders holding `files`, each with what is in it.
std::vector<JunkFolderFacts> ReadJunkFolders(platform::Platform& os, const std::set<std::wstring>& files);
