// The processes of the simulated machine. They live in the "processes"
// section of machine.json, so a machine set up by the host keeps them across
// runs; the host program itself (the machine's processId, hostProgram and
// libraryModule) is always running and is never stored there.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Processes.h"
#include "platform/sim/Api.h"
#include "platform/sim/store/Machine.h"
#include "platform/sim/store/MachineJson.h"
#include "platform/sim/Utf8.h"

namespace sim {

struct ProcessRecord {
    uint32_t pid = 0;
    std::wstring exe;                     // full Windows path of the program
    std::vector<std::wstring> modules;    // loaded besides the program itself
    std::vector<std::wstring> heldFiles;  // open without delete sharing
    bool isProtected = false;             // refuses every OpenProcess (error 5)
    // A 64-bit program on 64-bit Windows: the library, a 32-bit module,
    // cannot read its module list, only its image path.
    bool is64Bit = false;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(ProcessRecord, pid, exe, modules, heldFiles, isProtected, is64Bit)

// The processes started on the machine, the host program's not among them.
struct Processes {
    static constexpr const char* kKey = "processes";
    EntryList<ProcessRecord> entries;
};
SIM_JSON_STORED_AS(Processes, entries)

class SIM_API SimProcesses : public platform::IProcesses {
public:
    explicit SimProcesses(std::shared_ptr<Machine> machine) : machine_(std::move(machine)) {}

    platform::Result<std::unique_ptr<platform::IProcessSnapshot>> Snapshot() override;
    uint32_t ListProcessIds(std::vector<uint32_t>& ids) override;
    platform::Result<std::unique_ptr<platform::IProcess>> Open(uint32_t id, uint32_t access) override;
    uint32_t WinExec(const std::string& commandLine, uint32_t show) override;
    // The program runs as its stand-in behaviour says (SetProgramBehaviour);
    // every start is recorded (StartedPrograms).
    platform::Result<std::unique_ptr<platform::IStartedProcess>> CreateProcess(const std::wstring& commandLine,
                                                                               bool hidden) override;

private:
    std::shared_ptr<Machine> machine_;
};

// Set-up for tests and the host. Starts a process and holds its files;
// returns its identifier.
SIM_API uint32_t AddProcess(Machine& machine, const std::wstring& exe, const std::vector<std::wstring>& modules = {},
                            const std::vector<std::wstring>& heldFiles = {}, bool isProtected = false,
                            bool is64Bit = false);
// Every running process, the host program's first.
SIM_API std::vector<ProcessRecord> RunningProcesses(const Machine& machine);
SIM_API bool IsRunning(const Machine& machine, uint32_t pid);
// What TerminateProcess does to a process: it is gone and the files only it
// held can be deleted. False for an unknown process and for the host
// program, which the simulation cannot end.
SIM_API bool EndProcess(Machine& machine, uint32_t pid);

// How a program started with CreateProcess behaves, chosen by its file name
// ("MsiZap.exe"). Normal: it does its work at once and ends; MsiZap.exe
// given "T {product code}" wipes that product's registration (its files
// stay, as with the real tool). Hang: it never ends and stays in the process
// list until something ends it; waiting for it times out at once rather
// than after the real wait. Missing: it cannot be started (error 2) even
// though its file exists. Kept in machine.json; Normal is the default.
enum class ProgramBehaviour { Normal, Hang, Missing };
NLOHMANN_JSON_SERIALIZE_ENUM(ProgramBehaviour, {{ProgramBehaviour::Normal, "normal"},
                                                {ProgramBehaviour::Hang, "hang"},
                                                {ProgramBehaviour::Missing, "missing"}})

// By the program's file name, found in any case (older machines stored it
// lower-cased); Normal is never stored.
struct ProgramBehaviours {
    static constexpr const char* kKey = "programBehaviour";
    std::map<std::wstring, ProgramBehaviour, LessNoCase> byName;
};
SIM_JSON_STORED_AS(ProgramBehaviours, byName)

SIM_API void SetProgramBehaviour(Machine& machine, const std::wstring& programName, ProgramBehaviour behaviour);

struct StartedProgram {
    std::wstring commandLine;
    bool hidden = false;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(StartedProgram, commandLine, hidden)

struct StartedProgramLog {
    static constexpr const char* kKey = "startedPrograms";
    EntryList<StartedProgram> entries;
};
SIM_JSON_STORED_AS(StartedProgramLog, entries)
// Every CreateProcess call, started or not, oldest first (the last 64 are
// kept).
SIM_API std::vector<StartedProgram> StartedPrograms(const Machine& machine);

}  // namespace sim
