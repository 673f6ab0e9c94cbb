// What the one-key uninstall reads of the machine to plan its work: the
// family's registrations, and the residual folders judged by the deletion
// guard. The plan itself (UninstallPlan.h) reads nothing.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/UninstallPlan.h"
#include "platform/Platform.h"

std::vector<FamilyProductFacts> ReadFamilyProducts(CMsiEnum& products);

// The folders the residual deletion considers: the install folders the
// plan queued and the Apple folders found under both Program Files.
std::set<std::wstring> ResidualCandidates(const CCollectDirMgr& folders, const ProductRemovalPlan& plan);

// Each candidate with whether it exists and, when it does, whether the
// guard lets it go as a product's folder. A refusal is logged by the guard.
std::vector<ResidualFolderFacts> JudgeResidualFolders(platform::Platform& os, const std::set<std::wstring>& candidates,
                                                      const std::vector<std::wstring>& leavingCodes);

// What a walk finds below each residual folder that is still there and is
// no link (a link went as a link: its target's files are not below it).
std::vector<std::vector<std::wstring>> ListResidualFiles(platform::IFileSystem& files,
                                                         const std::vector<std::wstring>& folders);
