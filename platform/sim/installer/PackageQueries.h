// The SQL the simulated machine's processes run on installer packages.
// Their check (PackageGuard.h) runs these when a package is opened, so that
// the reads which follow need no check of their own.
#pragma once

#include <string>
#include <vector>

namespace sim {
namespace sql {

// The installer's costing reads (SimMsiPlan.cpp).
inline constexpr wchar_t kProperty[] = L"SELECT Property, Value FROM Property";
inline constexpr wchar_t kDirectory[] = L"SELECT Directory, Directory_Parent ,DefaultDir FROM Directory";
inline constexpr wchar_t kCustomAction[] = L"SELECT Action, Type, Source, Target FROM CustomAction";
inline constexpr wchar_t kExecuteSequence[] =
    L"SELECT Action, Condition, Sequence FROM InstallExecuteSequence ORDER BY Sequence";
inline constexpr wchar_t kComponent[] =
    L"SELECT Component, Directory_ ,KeyPath,Condition, Attributes, ComponentId FROM Component";
inline constexpr wchar_t kFile[] = L"SELECT File,FileSize,Component_,FileName FROM File";
inline constexpr wchar_t kCreateFolder[] = L"SELECT Directory_, Component_ FROM CreateFolder";
inline constexpr wchar_t kServiceInstall[] = L"SELECT Name, DisplayName, StartType, Component_ FROM ServiceInstall";
inline constexpr wchar_t kServiceControl[] = L"SELECT Name, Event, Component_ FROM ServiceControl";
inline constexpr wchar_t kRegistry[] = L"SELECT Root, `Key`, Name, Value, Component_ FROM Registry";

// "SELECT Name FROM _Tables WHERE Name = 'T'" for the table T that a
// "SELECT ... FROM T ..." reads; empty when `select` names no table.
std::wstring TableProbe(const std::wstring& select);

}  // namespace sql

// In UTF-8: the installer's queries and their table probes, the library's
// file check (Brisalen/MsiDB.cpp) and the host's package facts (the
// Property values it shows on install). A query that is not here is
// checked by itself the first time a package is asked it.
const std::vector<std::string>& QueriesCheckedAtOpen();

}  // namespace sim
