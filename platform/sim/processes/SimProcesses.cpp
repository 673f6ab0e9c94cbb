#include "platform/sim/processes/SimProcesses.h"

#include <algorithm>
#include <filesystem>

#include "platform/sim/processes/LastError.h"
#include "platform/sim/store/MachineState.h"
#include "platform/sim/system/SimCodePages.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WinPath.h"

namespace sim {

using platform::kErrAccessDenied;
using platform::kErrFileNotFound;
using platform::kErrInvalidParameter;
using platform::kErrNoMoreFiles;
using platform::kErrPartialCopy;
using platform::kErrSuccess;

namespace {

// What WinExec answers when the program started; anything above 31 is.
constexpr uint32_t kWinExecStarted = 33;

ProcessRecord HostProcess(const Machine& machine) {
    return machine.Read([](const MachineState& state) {
        ProcessRecord host;
        host.pid = state.processId;
        host.exe = state.hostProgram;
        host.modules = {state.libraryModule};
        return host;
    });
}

// The host program first, then the stored processes. Called inside a
// transaction on the section, which the read of the host program joins.
std::vector<ProcessRecord> AllOf(const Machine& machine, const Processes& processes) {
    std::vector<ProcessRecord> all{HostProcess(machine)};
    for (const ProcessRecord& record : processes.entries) {
        if (record.pid != all.front().pid) all.push_back(record);
    }
    return all;
}

std::vector<ProcessRecord> All(const Machine& machine) {
    return machine.Read<Processes>([&](const Processes& processes) { return AllOf(machine, processes); });
}

bool Find(const Machine& machine, uint32_t pid, ProcessRecord& found) {
    for (ProcessRecord& record : All(machine)) {
        if (record.pid != pid) continue;
        found = std::move(record);
        return true;
    }
    return false;
}

// Starts `record`, holding its files, and returns its new identifier.
uint32_t Add(Machine& machine, ProcessRecord record) {
    return machine.Edit<Processes>([&](Processes& processes) {
        // Windows hands out identifiers in steps of four.
        uint32_t highest = 0;
        for (const ProcessRecord& running : AllOf(machine, processes)) highest = std::max(highest, running.pid);
        record.pid = (highest / 4 + 1) * 4;
        for (const std::wstring& file : record.heldFiles) machine.HoldFile(file);
        processes.entries.push_back(record);
        return record.pid;
    });
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    WinPath pa, pb;
    if (WinPath::Parse(a, pa) && WinPath::Parse(b, pb)) return pa.Key() == pb.Key();
    return EqualsNoCase(a, b);
}

bool End(Machine& machine, uint32_t pid) {
    return machine.Edit<Processes>([&](Processes& processes, bool& changed) {
        EntryList<ProcessRecord>& stored = processes.entries;
        auto it = std::find_if(stored.begin(), stored.end(), [pid](const ProcessRecord& r) { return r.pid == pid; });
        if (it == stored.end()) return false;
        const ProcessRecord ended = *it;
        stored.erase(it);
        changed = true;
        // A file another live process also keeps open stays held.
        for (const std::wstring& file : ended.heldFiles) {
            const bool stillOpen = std::any_of(stored.begin(), stored.end(), [&](const ProcessRecord& other) {
                return std::any_of(other.heldFiles.begin(), other.heldFiles.end(),
                                   [&](const std::wstring& held) { return SameFile(held, file); });
            });
            if (!stillOpen) machine.ReleaseFile(file);
        }
        return true;
    });
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

class SimProcessSnapshot final : public platform::IProcessSnapshot {
public:
    explicit SimProcessSnapshot(std::vector<platform::ProcessEntry> entries) : entries_(std::move(entries)) {}

    bool First(platform::ProcessEntry& entry) override {
        next_ = 0;
        return Next(entry);
    }

    bool Next(platform::ProcessEntry& entry) override {
        if (next_ >= entries_.size()) {
            SetLastError(kErrNoMoreFiles);
            return false;
        }
        entry = entries_[next_++];
        return true;
    }

private:
    std::vector<platform::ProcessEntry> entries_;
    size_t next_ = 0;
};

class SimOpenProcess final : public platform::IProcess {
public:
    SimOpenProcess(std::shared_ptr<Machine> machine, uint32_t pid, uint32_t access)
        : machine_(std::move(machine)), pid_(pid), access_(access) {}

    uint32_t ModulePaths(std::vector<std::wstring>& paths) override {
        constexpr uint32_t needed = platform::kProcessQueryInformation | platform::kProcessVmRead;
        if ((access_ & needed) != needed) return Fail(kErrAccessDenied);
        ProcessRecord record;
        // An ended process has no address space left to read.
        if (!Find(*machine_, pid_, record)) return Fail(kErrPartialCopy);
        if (record.is64Bit && machine_->Read([](const MachineState& s) { return s.is64Bit; }))
            return Fail(kErrPartialCopy);
        paths.clear();
        paths.push_back(record.exe);
        paths.insert(paths.end(), record.modules.begin(), record.modules.end());
        return kErrSuccess;
    }

    uint32_t ImagePath(std::wstring& path) override {
        if ((access_ & platform::kProcessQueryInformation) == 0) return Fail(kErrAccessDenied);
        ProcessRecord record;
        if (!Find(*machine_, pid_, record)) return Fail(platform::kErrInvalidHandle);
        path = record.exe;
        return kErrSuccess;
    }

    uint32_t Terminate(uint32_t /*exitCode*/) override {
        if ((access_ & platform::kProcessTerminate) == 0) return Fail(kErrAccessDenied);
        // Windows also answers 5 for a process that has already ended; the
        // host program is refused the same way because ending it would end
        // the simulation itself.
        if (!End(*machine_, pid_)) return Fail(kErrAccessDenied);
        return kErrSuccess;
    }

private:
    std::shared_ptr<Machine> machine_;
    const uint32_t pid_;
    const uint32_t access_;
};

// Finds the program of a command line the way CreateProcess does without an
// application name: a quoted path as it is; an unquoted one by trying each
// blank-separated prefix in turn, so "C:\Program Files\x.exe" works unquoted;
// ".exe" added to a name without extension; a bare name looked up in the
// System and Windows folders.
class ProgramLocator {
public:
    explicit ProgramLocator(const Machine& machine) : machine_(machine) {}

    // `arguments` (optional) receives what follows the program.
    bool Find(const std::wstring& commandLine, std::wstring& program, std::wstring* arguments = nullptr) const {
        size_t start = commandLine.find_first_not_of(L" \t");
        if (start == std::wstring::npos) return false;
        auto rest = [&](size_t from) {
            if (arguments) *arguments = from >= commandLine.size() ? std::wstring() : commandLine.substr(from);
            return true;
        };
        if (commandLine[start] == L'"') {
            const size_t close = commandLine.find(L'"', start + 1);
            if (!Try(commandLine.substr(start + 1, close == std::wstring::npos ? close : close - start - 1), program)) {
                return false;
            }
            return rest(close == std::wstring::npos ? close : close + 1);
        }
        for (size_t end = start;; ++end) {
            end = commandLine.find_first_of(L" \t", end);
            const std::wstring candidate = commandLine.substr(start, end == std::wstring::npos ? end : end - start);
            if (Try(candidate, program)) return rest(end);
            if (end == std::wstring::npos) return false;
        }
    }

private:
    bool Try(std::wstring candidate, std::wstring& program) const {
        if (candidate.empty()) return false;
        if (FileNameOf(candidate).find(L'.') == std::wstring::npos) candidate += L".exe";
        if (IsAbsolute(candidate)) return IsFile(candidate, program);
        for (int csidl : {csidl::kSystem, csidl::kWindows}) {
            const std::wstring folder = machine_.Read([csidl](const MachineState& state) {
                auto it = state.specialFolders.find(csidl);
                return it == state.specialFolders.end() ? std::wstring() : it->second;
            });
            if (!folder.empty() && IsFile(folder + L"\\" + candidate, program)) return true;
        }
        return false;
    }

    static bool IsAbsolute(const std::wstring& path) {
        return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    }

    bool IsFile(const std::wstring& path, std::wstring& program) const {
        std::string host;
        std::error_code ec;
        if (!machine_.Resolve(path, host) || !std::filesystem::is_regular_file(host, ec)) return false;
        program = path;
        return true;
    }

    const Machine& machine_;
};

constexpr size_t kStartedKept = 64;

std::wstring BehaviourKey(const std::wstring& programName) { return FileNameOf(programName); }

ProgramBehaviour BehaviourOf(const Machine& machine, const std::wstring& program) {
    return machine.Read<ProgramBehaviours>([&](const ProgramBehaviours& behaviours) {
        auto it = behaviours.byName.find(BehaviourKey(program));
        return it == behaviours.byName.end() ? ProgramBehaviour::Normal : it->second;
    });
}

void RecordStart(Machine& machine, const std::wstring& commandLine, bool hidden) {
    machine.Edit<StartedProgramLog>([&](StartedProgramLog& log) {
        KeepLast(log.entries, StartedProgram{commandLine, hidden}, kStartedKept);
    });
}

std::vector<std::wstring> Words(const std::wstring& text) {
    std::vector<std::wstring> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(L" \t", at)) != std::wstring::npos) {
        const size_t end = text.find_first_of(L" \t", at);
        words.push_back(text.substr(at, end == std::wstring::npos ? end : end - at));
        at = end;
    }
    return words;
}

// MsiZap.exe's one job the library asks for: "T {product code}" (option
// letters may be combined, "TW!") removes the product's registration.
void RunMsiZap(Machine& machine, const std::wstring& arguments) {
    const std::vector<std::wstring> words = Words(arguments);
    if (words.size() < 2) return;
    const std::wstring options = Lower(words[0]);
    if (options.find(L't') == std::wstring::npos) return;
    ForgetProduct(machine, words[1]);
}

class SimStartedProcess final : public platform::IStartedProcess {
public:
    // `pid` 0: the program has already ended.
    SimStartedProcess(std::shared_ptr<Machine> machine, uint32_t pid) : machine_(std::move(machine)), pid_(pid) {}

    uint32_t Wait(uint32_t /*milliseconds*/) override {
        // Simulated time: a program that has not ended by now never will
        // on its own, so the whole wait passes at once.
        if (pid_ != 0 && IsRunning(*machine_, pid_)) return platform::kWaitTimeout;
        return platform::kWaitObject0;
    }

private:
    std::shared_ptr<Machine> machine_;
    const uint32_t pid_;
};

}  // namespace

platform::Result<std::unique_ptr<platform::IProcessSnapshot>> SimProcesses::Snapshot() {
    std::vector<platform::ProcessEntry> entries;
    for (const ProcessRecord& record : RunningProcesses(*machine_)) {
        entries.push_back({record.pid, FileNameOf(record.exe)});
    }
    return std::make_unique<SimProcessSnapshot>(std::move(entries));
}

uint32_t SimProcesses::ListProcessIds(std::vector<uint32_t>& ids) {
    ids.clear();
    for (const ProcessRecord& record : RunningProcesses(*machine_)) ids.push_back(record.pid);
    return kErrSuccess;
}

platform::Result<std::unique_ptr<platform::IProcess>> SimProcesses::Open(uint32_t id, uint32_t access) {
    ProcessRecord record;
    if (!Find(*machine_, id, record)) return platform::Failure(Fail(kErrInvalidParameter));
    if (record.isProtected) return platform::Failure(Fail(kErrAccessDenied));
    return std::make_unique<SimOpenProcess>(machine_, id, access);
}

uint32_t SimProcesses::WinExec(const std::string& commandLine, uint32_t /*show*/) {
    const std::wstring line = SimCodePages(machine_).ToWide(platform::kCpOemCp, commandLine);
    ProcessRecord started;
    if (!ProgramLocator(*machine_).Find(line, started.exe)) return Fail(kErrFileNotFound);
    // A running program's image cannot be deleted or replaced.
    started.heldFiles = {started.exe};
    Add(*machine_, std::move(started));
    return kWinExecStarted;
}

platform::Result<std::unique_ptr<platform::IStartedProcess>> SimProcesses::CreateProcess(
    const std::wstring& commandLine, bool hidden) {
    RecordStart(*machine_, commandLine, hidden);
    ProcessRecord started;
    std::wstring arguments;
    const bool found = ProgramLocator(*machine_).Find(commandLine, started.exe, &arguments);
    const ProgramBehaviour behaviour = found ? BehaviourOf(*machine_, started.exe) : ProgramBehaviour::Missing;
    if (behaviour == ProgramBehaviour::Missing) return platform::Failure(Fail(kErrFileNotFound));
    if (behaviour == ProgramBehaviour::Hang) {
        started.heldFiles = {started.exe};  // its image, as long as it runs
        const uint32_t pid = Add(*machine_, std::move(started));
        return std::make_unique<SimStartedProcess>(machine_, pid);
    }
    if (EqualsNoCase(FileNameOf(started.exe), L"MsiZap.exe")) RunMsiZap(*machine_, arguments);
    return std::make_unique<SimStartedProcess>(machine_, 0);
}

void SetProgramBehaviour(Machine& machine, const std::wstring& programName, ProgramBehaviour behaviour) {
    machine.Edit<ProgramBehaviours>([&](ProgramBehaviours& behaviours) {
        const std::wstring key = BehaviourKey(programName);
        if (behaviour == ProgramBehaviour::Normal)
            behaviours.byName.erase(key);
        else
            behaviours.byName[key] = behaviour;
    });
}

std::vector<StartedProgram> StartedPrograms(const Machine& machine) {
    return machine.Snapshot<StartedProgramLog>().entries;
}

uint32_t AddProcess(Machine& machine, const std::wstring& exe, const std::vector<std::wstring>& modules,
                    const std::vector<std::wstring>& heldFiles, bool isProtected, bool is64Bit) {
    ProcessRecord record;
    record.is64Bit = is64Bit;
    record.exe = exe;
    record.modules = modules;
    record.heldFiles = heldFiles;
    record.isProtected = isProtected;
    return Add(machine, std::move(record));
}

std::vector<ProcessRecord> RunningProcesses(const Machine& machine) { return All(machine); }

bool IsRunning(const Machine& machine, uint32_t pid) {
    ProcessRecord record;
    return Find(machine, pid, record);
}

bool EndProcess(Machine& machine, uint32_t pid) { return End(machine, pid); }

}  // namespace sim
