#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimMachineFixture.h"
#include "common/ProcessControl.h"
#include "platform/sim/processes/SimProcesses.h"

namespace {

using platform::kProcessQueryInformation;
using platform::kProcessTerminate;
using platform::kProcessVmRead;

constexpr uint32_t kHostPid = 4242;  // the default machine's own process

std::vector<std::wstring> SnapshotNames(platform::IProcesses& processes) {
    auto snapshot = processes.Snapshot();
    EXPECT_EQ(snapshot.Error(), 0u);
    std::vector<std::wstring> names;
    platform::ProcessEntry entry;
    for (bool more = snapshot && (*snapshot)->First(entry); more; more = (*snapshot)->Next(entry)) {
        names.push_back(entry.exeFile);
    }
    return names;
}

class SimProcessesTest : public SimMachineTest {};

TEST_F(SimProcessesTest, HostIsListedFirstAndModulesStartWithTheProgram) {
    const uint32_t pid = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\iTunes.exe",
                                         {L"C:\\Program Files\\iTunes\\iTunesCore.dll"});
    EXPECT_EQ(SnapshotNames(Os().Processes()), (std::vector<std::wstring>{L"brisalen.exe", L"iTunes.exe"}));
    std::vector<uint32_t> ids;
    ASSERT_EQ(Os().Processes().ListProcessIds(ids), 0u);
    EXPECT_EQ(ids, (std::vector<uint32_t>{kHostPid, pid}));

    auto opened = Os().Processes().Open(pid, kProcessQueryInformation | kProcessVmRead);
    ASSERT_TRUE(opened);
    platform::IProcess& process = **opened;
    std::vector<std::wstring> modules;
    ASSERT_EQ(process.ModulePaths(modules), 0u);
    EXPECT_EQ(modules, (std::vector<std::wstring>{L"C:\\Program Files\\iTunes\\iTunes.exe",
                                                  L"C:\\Program Files\\iTunes\\iTunesCore.dll"}));
    // Without terminate access the handle cannot end it.
    EXPECT_EQ(process.Terminate(1), 5u);
    EXPECT_TRUE(sim::IsRunning(*machine_, pid));
}

TEST_F(SimProcessesTest, OpenRefusesProtectedUnknownAndUnderprivilegedRequests) {
    const uint32_t guarded = sim::AddProcess(*machine_, L"C:\\Windows\\System32\\csrss.exe", {}, {}, true);
    auto protectedProcess = Os().Processes().Open(guarded, kProcessTerminate);
    EXPECT_FALSE(protectedProcess);
    EXPECT_EQ(protectedProcess.Error(), 5u);
    auto unknownProcess = Os().Processes().Open(guarded + 4, kProcessTerminate);
    EXPECT_FALSE(unknownProcess);
    EXPECT_EQ(unknownProcess.Error(), 87u);

    auto host = Os().Processes().Open(kHostPid, kProcessTerminate);
    ASSERT_TRUE(host);
    std::vector<std::wstring> modules;
    EXPECT_EQ((*host)->ModulePaths(modules), 5u);
    EXPECT_EQ((*host)->Terminate(1), 5u);  // the simulation cannot end its own program
}

TEST_F(SimProcessesTest, HeldFilesStayHeldUntilTheirLastHolderEnds) {
    const std::wstring shared = L"C:\\Program Files\\iTunes\\shared.dat";
    WriteFile(shared, 4);
    const uint32_t first = sim::AddProcess(*machine_, L"C:\\a.exe", {}, {shared});
    const uint32_t second = sim::AddProcess(*machine_, L"C:\\b.exe", {}, {L"c:/program files/itunes/SHARED.dat"});
    auto opened = Os().Processes().Open(first, kProcessTerminate);
    ASSERT_TRUE(opened);
    ASSERT_EQ((*opened)->Terminate(0x666), 0u);
    EXPECT_EQ(Os().Files().DeleteFile(shared), 32u);
    EXPECT_TRUE(sim::EndProcess(*machine_, second));
    EXPECT_FALSE(sim::EndProcess(*machine_, second));
    EXPECT_EQ(Os().Files().DeleteFile(shared), 0u);
}

TEST_F(SimProcessesTest, ProcessesAndHeldFilesSurviveReopeningTheMachine) {
    WriteFile(L"C:\\data\\lib.itl", 1);
    const uint32_t pid = sim::AddProcess(*machine_, L"C:\\x.exe", {L"C:\\m.dll"}, {L"C:\\data\\lib.itl"}, true);
    auto reopened = sim::Machine::Open(folder_);
    const auto processes = sim::RunningProcesses(*reopened);
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(processes[1].pid, pid);
    EXPECT_EQ(processes[1].modules, std::vector<std::wstring>{L"C:\\m.dll"});
    EXPECT_TRUE(processes[1].isProtected);
    EXPECT_TRUE(reopened->IsHeld(L"C:\\data\\lib.itl"));
}

TEST_F(SimProcessesTest, WinExecFindsProgramsTheWayCreateProcessDoes) {
    WriteFile(L"C:\\Program Files\\iTunes\\iTunes.exe", 1);
    const std::wstring notepad = Os().Machine().SpecialFolder(sim::csidl::kSystem) + L"\\notepad.exe";
    WriteFile(notepad, 1);
    auto& processes = Os().Processes();
    EXPECT_EQ(processes.WinExec("C:\\Program Files\\iTunes\\iTunes.exe", 5), 33u);
    EXPECT_EQ(processes.WinExec("\"C:\\Program Files\\iTunes\\iTunes.exe\" /hide", 5), 33u);
    EXPECT_EQ(processes.WinExec("C:\\Program Files\\iTunes\\iTunes /x", 5), 33u);
    EXPECT_EQ(processes.WinExec("notepad C:\\a.txt", 5), 33u);
    EXPECT_EQ(processes.WinExec("\"C:\\Program Files\\iTunes\" iTunes.exe", 5), 2u);
    EXPECT_EQ(processes.WinExec("C:\\Program Files\\QuickTime\\QuickTimePlayer.exe", 5), 2u);
    EXPECT_EQ(processes.WinExec("", 5), 2u);
    EXPECT_EQ(SnapshotNames(processes), (std::vector<std::wstring>{L"brisalen.exe", L"iTunes.exe", L"iTunes.exe",
                                                                   L"iTunes.exe", L"notepad.exe"}));
    // A running program's image is in use.
    EXPECT_EQ(Os().Files().DeleteFile(notepad), 32u);
}

class ProcessControlTest : public LoggedMachineTest {
protected:
    void SetUp() override {
        LoggedMachineTest::SetUp();
        // An OEM page with Chinese, so the outcome words reach the log.
        machine_->Edit([](sim::MachineState& state) { state.codePages.oem = 936; });
    }
    bool LogHas(const std::wstring& line) {
        return LoadTimeLog().find(Os().CodePages().FromWide(platform::kCpOemCp, line)) != std::string::npos;
    }
    bool Running(uint32_t pid) { return sim::IsRunning(*machine_, pid); }
};

TEST_F(ProcessControlTest, NamePartsMatchAnywhereWithoutRegardToCase) {
    const uint32_t helper = sim::AddProcess(*machine_, L"C:\\x\\iTunesHelper.exe");
    const uint32_t mine = sim::AddProcess(*machine_, L"C:\\x\\MyITUNESTool.exe");
    const uint32_t other = sim::AddProcess(*machine_, L"C:\\x\\explorer.exe");
    const uint32_t guarded = sim::AddProcess(*machine_, L"C:\\x\\iTunesGuard.exe", {}, {}, true);
    std::vector<std::wstring> parts{L"NoSuchThing", L"iTunes"};
    KillProcessByPartName(platform::Os(), parts);
    EXPECT_EQ(parts, (std::vector<std::wstring>{L"nosuchthing", L"itunes"}));
    EXPECT_FALSE(Running(helper));
    EXPECT_FALSE(Running(mine));
    EXPECT_TRUE(Running(other));
    EXPECT_TRUE(Running(guarded));
    EXPECT_TRUE(LogHas(L" iTunesHelper.exe (PID=" + std::to_wstring(helper) + L") 成功\n\n"));
    EXPECT_TRUE(LogHas(L" MyITUNESTool.exe (PID=" + std::to_wstring(mine) + L") 成功\n\n"));
    EXPECT_TRUE(LogHas(L" iTunesGuard.exe (PID=" + std::to_wstring(guarded) + L") 失败\n\n"));
}

TEST_F(ProcessControlTest, EndingAHolderByNameMakesItsFileDeletable) {
    const std::wstring library = L"C:\\Users\\Public\\Music\\iTunes\\iTunes Library.itl";
    WriteFile(library, 8);
    sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\iTunes.exe", {}, {library});
    EXPECT_EQ(Os().Files().DeleteFile(library), 32u);
    KillProcessByPartName(platform::Os(), L"ITUNES.EXE");
    EXPECT_EQ(Os().Files().DeleteFile(library), 0u);
}

TEST_F(ProcessControlTest, ImageNamesEndOnlyTheProgramOfThatNameAndNeverByAPartOfIt) {
    const uint32_t leftover = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\E.EXE");
    const uint32_t helper = sim::AddProcess(*machine_, L"C:\\x\\iTunesHelper.exe");
    std::vector<uint32_t> bystanders;
    for (const wchar_t* exe : {L"C:\\Windows\\explorer.exe", L"C:\\x\\code.exe", L"C:\\x\\WordPad.exe",
                               L"C:\\x\\ee.exe", L"C:\\x\\iTunesHelper.exe.bak", L"C:\\x\\.exe"}) {
        bystanders.push_back(sim::AddProcess(*machine_, exe));
    }
    // Names of the leftovers a residual folder may hold: an extension
    // alone and dots name no program.
    KillProcessByImageName(platform::Os(), {L".exe", L"..exe", L"...", L"", L"e.exe", L"ITUNESHELPER.EXE"});
    EXPECT_FALSE(Running(leftover));
    EXPECT_FALSE(Running(helper));
    for (uint32_t pid : bystanders) EXPECT_TRUE(Running(pid)) << pid;
    EXPECT_TRUE(Running(kHostPid));
}

class KillByFolderTest : public ProcessControlTest {
protected:
    void SetUp() override {
        ProcessControlTest::SetUp();
        WriteFile(L"C:\\Program Files\\iTunes\\iTunes.exe", 1);
        WriteFile(L"C:\\Program Files\\iTunes2\\old.dll", 1);
        WriteFile(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll", 1);
    }
    bool LogHasAscii(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }
};

TEST_F(KillByFolderTest, ModulesBelowTheFolderOrASiblingPrefixCondemnTheirProcess) {
    const uint32_t viaExe = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\iTunes.exe");
    const uint32_t viaDll = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe",
                                            {L"C:\\Windows\\shell32.dll", L"C:/Program Files/ITUNES2/old.dll"});
    const uint32_t unrelated = sim::AddProcess(*machine_, L"C:\\Windows\\notepad.exe", {L"C:\\Windows\\x.dll"});
    const uint32_t guarded = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\svc.exe", {}, {}, true);
    EXPECT_TRUE(KillProcessWhenPathInFolderSafe(platform::Os(), {L"C:/Program Files//iTunes\\", L"C:\\missing"}));
    EXPECT_FALSE(Running(viaExe));
    EXPECT_FALSE(Running(viaDll));
    EXPECT_TRUE(Running(unrelated));
    EXPECT_TRUE(Running(guarded));
    EXPECT_TRUE(LogHasAscii(" [KillProcessWhenPathInFolder]  begin...\n"));
    EXPECT_TRUE(LogHasAscii(" [C:\\Windows\\explorer.exe]=>[c:\\program files\\itunes2\\old.dll]\n"));
    EXPECT_TRUE(LogHasAscii(" [KillProcessWhenPathInFolder] end! (Count = 2)\n\n"));
}

// On 64-bit Windows most programs are 64-bit and hide their modules from
// the 32-bit library; 64-bit iTunes running from its folder must end all
// the same, and a 64-bit program elsewhere must not.
TEST_F(KillByFolderTest, SixtyFourBitProgramsAreJudgedByTheirImagePath) {
    const uint32_t itunes = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\iTunes.exe",
                                            {L"C:\\Windows\\System32\\ntdll.dll"}, {}, false, true);
    const uint32_t elsewhere = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe",
                                               {L"C:\\Program Files\\iTunes\\hook.dll"}, {}, false, true);
    std::vector<std::wstring> modules;
    auto opened = Os().Processes().Open(itunes, kProcessQueryInformation | kProcessVmRead);
    ASSERT_TRUE(opened);
    EXPECT_EQ((*opened)->ModulePaths(modules), platform::kErrPartialCopy);
    EXPECT_TRUE(KillProcessWhenPathInFolderSafe(platform::Os(), {L"C:\\Program Files\\iTunes"}));
    EXPECT_FALSE(Running(itunes));
    // Its hidden modules cannot condemn it: only what can be read does.
    EXPECT_TRUE(Running(elsewhere));
    EXPECT_TRUE(LogHasAscii(" [C:\\Program Files\\iTunes\\iTunes.exe]=>[c:\\program files\\itunes\\itunes.exe]\n"));
}

TEST_F(KillByFolderTest, TheNameServiceProviderAndTheHostAreSpared) {
    machine_->Edit([](sim::MachineState& state) {
        state.libraryModule = L"C:\\Program Files\\Bonjour\\Brisalen.dll";
    });
    const uint32_t shell = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe",
                                           {L"C:\\Program Files\\Bonjour\\mdnsNSP.dll"});
    const uint32_t responder = sim::AddProcess(*machine_, L"C:\\Program Files\\Bonjour\\mDNSResponder.exe",
                                               {L"C:\\Program Files\\Bonjour\\mdnsNSP.dll"});
    EXPECT_TRUE(KillProcessWhenPathInFolderSafe(platform::Os(), {L"C:\\Program Files\\Bonjour"}));
    EXPECT_TRUE(Running(shell));
    EXPECT_FALSE(Running(responder));
    EXPECT_FALSE(LogHasAscii("brisalen.exe]=>"));
    EXPECT_TRUE(LogHasAscii(" end! (Count = 1)\n"));
}

TEST_F(KillByFolderTest, NoExistingFolderEndsNothingAndLooksAtNoProcess) {
    const uint32_t pid = sim::AddProcess(*machine_, L"C:\\Nowhere\\a.exe");
    EXPECT_FALSE(KillProcessWhenPathInFolderSafe(platform::Os(), {L"C:\\Nowhere", L""}));
    EXPECT_TRUE(Running(pid));
    EXPECT_TRUE(LogHasAscii(" [KillProcessWhenPathInFolder]  begin...\n"));
    EXPECT_FALSE(LogHasAscii("end! (Count"));
}

}  // namespace
