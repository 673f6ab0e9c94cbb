#include "common/ProcessControl.h"

#include <algorithm>
#include <functional>

#include "common/PathHelpers.h"
#include "common/TextHelpers.h"
#include "logging/Log.h"
#include "platform/Platform.h"

namespace {

// Long enough for an ended process to close its files before the caller
// deletes them.
constexpr uint32_t kTerminationWaitMs = 500;
// Loaded into many processes that have nothing to do with the family, so
// deleting the Bonjour folder must not be a reason to end them.
constexpr wchar_t kNameServiceProvider[] = L"\\bonjour\\mdnsnsp.dll";
constexpr uint32_t kInspectAndTerminate =
    platform::kProcessQueryInformation | platform::kProcessVmRead | platform::kProcessTerminate;

// The folders that exist, each normalised, without a trailing backslash and
// lower-cased, ready for a substring test against module paths.
std::vector<std::wstring> PrepareFolders(platform::IFileSystem& files, const std::vector<std::wstring>& folders) {
    std::vector<std::wstring> prepared;
    for (std::wstring folder : folders) {
        NormalizePath(folder);
        RemoveTrailingBackslash(folder);
        AsciiLowerInPlace(folder);
        if (FileExists(files, folder)) prepared.push_back(folder);
    }
    return prepared;
}

// `modulePath` is normalised and lower-cased like the folders.
bool Condemns(const std::wstring& modulePath, const std::vector<std::wstring>& folders) {
    if (modulePath.find(kNameServiceProvider) != std::wstring::npos) return false;
    for (const std::wstring& folder : folders) {
        if (modulePath.find(folder) != std::wstring::npos) return true;
    }
    return false;
}

// The path of the program whose module lies in the folders (logged as
// "program=>module"), or empty when none does. A process whose modules
// cannot be listed is judged by its own path.
std::wstring ProgramLoadedFrom(platform::IProcess& process, const std::vector<std::wstring>& folders, bool log) {
    std::vector<std::wstring> modules;
    if (process.ModulePaths(modules) != platform::kErrSuccess || modules.empty()) {
        // A 64-bit program, 64-bit iTunes among them, does not show its
        // modules to this 32-bit library; its own path still tells where
        // it runs from.
        modules.assign(1, std::wstring());
        if (process.ImagePath(modules.front()) != platform::kErrSuccess || modules.front().empty()) return {};
    }
    const std::wstring& programPath = modules.front();
    for (std::wstring path : modules) {
        NormalizePath(path);
        AsciiLowerInPlace(path);
        if (!Condemns(path, folders)) continue;
        if (log) LOG_INFO_W(L"[%s]=>[%s]", programPath, path);
        return programPath;
    }
    return {};
}

// Ends the process when one of its modules lies in the folders; true when
// it tried. Processes it may not inspect are passed over.
bool EndIfLoadedFrom(platform::Platform& os, uint32_t processId, const std::vector<std::wstring>& folders) {
    const auto opened = os.Processes().Open(processId, kInspectAndTerminate);
    if (!opened) return false;
    if (ProgramLoadedFrom(**opened, folders, true).empty()) return false;
    // The attempt counts whether or not Windows let it happen.
    (*opened)->Terminate(kKilledProcessExitCode);
    return true;
}

}  // namespace

bool TerminateProcessById(platform::Platform& os, uint32_t processId) {
    const auto process = os.Processes().Open(processId, platform::kProcessTerminate);
    if (!process) return false;
    const bool ended = (*process)->Terminate(kKilledProcessExitCode) == platform::kErrSuccess;
    os.Process().Sleep(kTerminationWaitMs);
    return ended;
}

namespace {

// Ends every process of a snapshot whose lower-cased image name the rule
// condemns, logging each outcome.
void EndProcessesNamed(platform::Platform& os, const std::function<bool(const std::wstring&)>& condemned,
                       bool spareSelf) {
    const auto taken = os.Processes().Snapshot();
    if (!taken) return;
    platform::IProcessSnapshot& snapshot = **taken;
    platform::ProcessEntry entry;
    if (!snapshot.First(entry)) {
        LOG_INFO_W(L"ERR:Process32First 0x%x", os.Process().LastError());
        return;
    }
    const uint32_t self = os.Process().CurrentProcessId();
    do {
        if (spareSelf && entry.id == self) continue;
        if (!condemned(AsciiLower(entry.exeFile))) continue;
        const bool ended = TerminateProcessById(os, entry.id);
        LOG_INFO_W(L"%s (PID=%d) %s\n", entry.exeFile, entry.id, ended ? L"成功" : L"失败");
    } while (snapshot.Next(entry));
}

}  // namespace

void KillProcessByPartName(platform::Platform& os, std::vector<std::wstring>& nameParts) {
    for (std::wstring& part : nameParts) AsciiLowerInPlace(part);
    EndProcessesNamed(
        os,
        [&](const std::wstring& name) {
            return std::any_of(nameParts.begin(), nameParts.end(),
                               [&](const std::wstring& part) { return name.find(part) != std::wstring::npos; });
        },
        false);
}

void KillProcessByImageName(platform::Platform& os, const std::vector<std::wstring>& imageNames) {
    std::vector<std::wstring> names;
    for (const std::wstring& name : imageNames) {
        const std::wstring lower = AsciiLower(name);
        const size_t dot = lower.rfind(L'.');
        const std::wstring stem = dot == std::wstring::npos ? lower : lower.substr(0, dot);
        if (stem.find_first_not_of(L'.') == std::wstring::npos) continue;
        names.push_back(lower);
    }
    if (names.empty()) return;
    EndProcessesNamed(
        os, [&](const std::wstring& name) { return std::find(names.begin(), names.end(), name) != names.end(); }, true);
}

void KillProcessByPartName(platform::Platform& os, const std::wstring& namePart) {
    std::vector<std::wstring> parts{namePart};
    KillProcessByPartName(os, parts);
}

bool KillProcessWhenPathInFolderSafe(platform::Platform& os, const std::vector<std::wstring>& folders) {
    LOG_INFO_W(L"[KillProcessWhenPathInFolder]  begin...");
    const std::vector<std::wstring> prepared = PrepareFolders(os.Files(), folders);
    if (prepared.empty()) return false;
    std::vector<uint32_t> ids;
    if (const uint32_t error = os.Processes().ListProcessIds(ids); error != platform::kErrSuccess) {
        LOG_INFO_W(L"ERR:EnumProcesses 0x%x", error);
        return false;
    }
    const uint32_t self = os.Process().CurrentProcessId();
    int count = 0;
    for (uint32_t id : ids) {
        if (id != self && EndIfLoadedFrom(os, id, prepared)) ++count;
    }
    LOG_INFO_W(L"[KillProcessWhenPathInFolder] end! (Count = %d)\n", count);
    return count > 0;
}

std::vector<std::wstring> ProgramsRunningFrom(platform::Platform& os, const std::vector<std::wstring>& folders) {
    std::vector<std::wstring> programs;
    const std::vector<std::wstring> prepared = PrepareFolders(os.Files(), folders);
    std::vector<uint32_t> ids;
    if (prepared.empty() || os.Processes().ListProcessIds(ids) != platform::kErrSuccess) return programs;
    const uint32_t self = os.Process().CurrentProcessId();
    for (uint32_t id : ids) {
        if (id == self) continue;
        const auto opened = os.Processes().Open(id, platform::kProcessQueryInformation | platform::kProcessVmRead);
        if (!opened) continue;
        std::wstring program = ProgramLoadedFrom(**opened, prepared, false);
        if (!program.empty()) programs.push_back(std::move(program));
    }
    return programs;
}
