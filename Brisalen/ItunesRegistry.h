// The iTunes install folder and version that iTunes records under
// HKLM\SOFTWARE\Apple Computer, Inc.\iTunes (64-bit view), and the rule that
// keeps a product's folder from being deleted when it does not name iTunes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Registry.h"

// True when the key could be opened; each output changes only when its value
// was read.
bool QueryItunesInfoReg(platform::IRegistry& registry, std::wstring& strInstallDir, std::wstring& strVersion);
// Deletes the "Version" and "InstallDir" values; the key stays.
void ClearItunesInfoReg(platform::IRegistry& registry);
// An iTunes (type 1) folder may be deleted only when its path contains
// "itunes"; every other product's folder may.
bool MayDeleteInstallDir(int32_t nType, const std::wstring& strInstallDir);
