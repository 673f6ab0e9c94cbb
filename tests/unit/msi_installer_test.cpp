// Install, uninstall and repair against the simulated Windows Installer: each
// rung of the recovery ladders is reached by queueing the codes Windows
// Installer answers with, and judged by the calls it got, the result, the
// error code, the machine afterwards and the log.
#include <chrono>
#include <string>
#include <vector>

#include "Brisalen/MsiInstaller.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "common/FileHelpers.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/processes/SimServices.h"
#include "platform/sim/Utf8.h"

namespace {

constexpr wchar_t kInstallLine[] = L"ACTION=INSTALL REBOOT=ReallySuppress";
constexpr wchar_t kMsiExec[] = L"C:\\Windows\\System32\\msiexec.exe";

class MsiInstallerTest : public FixtureMachineTest {
protected:
    void SetUp() override {
        FixtureMachineTest::SetUp();
        // The object outlives the machine it was created on; each machine
        // gets the cache folder and the tool it would have had.
        CreateDirTree(platform::Os().Files(), Installer().InstallCacheDir());
        WriteFile(Installer().MsiZapPath(), 64);
    }

    static CMsiInstaller& Installer() { return CMsiInstaller::Instance(); }
    static const FixturePackage& Bonjour() { return Fixture("Bonjour64.msi"); }

    std::wstring InstallFixture(const std::string& file, const std::wstring& commandLine = L"") {
        const std::wstring package = CopyPackage(file);
        EXPECT_EQ(Os().Installer().InstallProduct(package, commandLine), 0u);
        callsBefore_ = sim::InstallerCalls(*machine_).size();
        return package;
    }

    // "function:target:command line" of each call made since the set-up.
    std::vector<std::wstring> Calls() {
        std::vector<std::wstring> calls;
        const std::vector<sim::InstallerCall> all = sim::InstallerCalls(*machine_);
        for (size_t i = callsBefore_; i < all.size(); ++i) {
            calls.push_back(all[i].function + L":" + all[i].target + L":" + all[i].commandLine);
        }
        return calls;
    }

    bool Registered(const FixturePackage& package) {
        return sim::FindProduct(*machine_, package.productCode).has_value();
    }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }
    bool Exists(const std::wstring& path) { return Os().Files().Exists(path); }

    void AddInstallerService(uint32_t startType) {
        sim::ServiceEntry service;
        service.name = L"msiserver";
        service.startType = startType;
        sim::AddService(*machine_, service);
    }

    std::wstring ZapLine(const FixturePackage& package) { return Installer().MsiZapPath() + L" T " + package.productCode; }

    size_t callsBefore_ = 0;
};

// ---- Uninstall ------------------------------------------------------------

struct UninstallCase {
    const char* name;
    std::vector<uint32_t> answers;  // what the Installer answers, call by call
    bool msiServerDisabled;
    bool zapPresent;
    bool result;
    int err;
    bool retried;  // a second call, MsiConfigureProductW without a command line
    const char* logLine;
};

// Test names in listings use the case's name, not its bytes.
void PrintTo(const UninstallCase& c, std::ostream* out) { *out << c.name; }

class UninstallLadderTest : public MsiInstallerTest, public ::testing::WithParamInterface<UninstallCase> {};

TEST_P(UninstallLadderTest, ClimbsTheLadderThenCleansUpAndJudgesByRegistration) {
    const UninstallCase& c = GetParam();
    InstallFixture("Bonjour64.msi");
    const uint32_t msiexec = sim::AddProcess(*machine_, kMsiExec);
    AddInstallerService(c.msiServerDisabled ? platform::kServiceDisabled : platform::kServiceDemandStart);
    if (!c.zapPresent) {
        ASSERT_EQ(Os().Files().DeleteFile(Installer().MsiZapPath()), 0u);
    }
    // Something of the user's in the install folder goes with it.
    WriteFile(Bonjour().installDir + L"notes.txt", 10);
    sim::QueueInstallerResults(*machine_, c.answers);

    int err = 12345;
    EXPECT_EQ(Installer().Uninstall(kProductBonjour, Bonjour().productCode, &err), c.result);
    EXPECT_EQ(err, c.err);
    EXPECT_TRUE(sim::QueuedInstallerResults(*machine_).empty()) << "every queued answer was asked for";
    std::vector<std::wstring> expected{L"ConfigureProductEx:" + Bonjour().productCode + L":REBOOT=ReallySuppress"};
    if (c.retried) expected.push_back(L"ConfigureProduct:" + Bonjour().productCode + L":");
    EXPECT_EQ(Calls(), expected);
    EXPECT_EQ(Registered(Bonjour()), !c.result);
    EXPECT_TRUE(Logged(c.logLine)) << c.logLine;
    // msiexec is ended only when it was in the way.
    EXPECT_EQ(sim::IsRunning(*machine_, msiexec), c.answers.front() != platform::kErrInstallAlreadyRunning);

    const std::vector<sim::StartedProgram> started = sim::StartedPrograms(*machine_);
    if (c.zapPresent) {
        ASSERT_EQ(started.size(), 1u);
        EXPECT_EQ(started[0].commandLine, ZapLine(Bonjour()));
        EXPECT_TRUE(started[0].hidden);
    } else {
        EXPECT_TRUE(started.empty());
        EXPECT_TRUE(Logged("ERR:File[C:\\Tarnwick\\MsiZap.exe] not exist!"));
    }
    EXPECT_FALSE(Exists(Bonjour().installDir)) << "the clean-up runs whatever the Installer said";
    EXPECT_EQ(Logged("=======[Uninstall] end!========="), c.result);
}

const uint32_t kBusy = platform::kErrInstallAlreadyRunning, kNoService = platform::kErrInstallServiceFailure,
               kRestart = platform::kErrSuccessRebootRequired, kFatal = platform::kErrInstallFailure;

INSTANTIATE_TEST_SUITE_P(
    Rungs, UninstallLadderTest,
    ::testing::Values(
        UninstallCase{"FirstCallSucceeds", {0}, false, true, true, 0, false, "MsiConfigureProductEx SUCCESS!"},
        UninstallCase{"BusyThenRetrySucceeds", {kBusy, 0}, false, true, true, 0, true, "second uninstall success!"},
        UninstallCase{"BusyTwiceZapWipes", {kBusy, kBusy}, false, true, true, 1618, true,
                      "ERR:second uninstall fail:0x652 again!"},
        UninstallCase{"BusyTwiceNoZap", {kBusy, kBusy}, false, false, false, 1618, true,
                      "=======[Uninstall] fail:0x652========="},
        UninstallCase{"ServiceRepairedThenRetry", {kNoService, 0}, true, true, true, 0, true,
                      "After Repair ,uninstall success!!!"},
        UninstallCase{"ServiceNotDisabledNoRetry", {kNoService}, false, true, true, 1601, false,
                      "[0x641]:Repair Windows Installer service..."},
        UninstallCase{"RestartNeeded", {kRestart}, false, true, true, 3010, false, "ERR:[0xbc2]: need restart system!!!"},
        UninstallCase{"OtherCodeNoZap", {kFatal}, false, false, false, 1603, false,
                      "ERR:Uninstall Fail,Force uninstall..."}),
    [](const ::testing::TestParamInfo<UninstallCase>& info) { return std::string(info.param.name); });

TEST_F(MsiInstallerTest, HangingMsiZapIsLeftAfterTheWaitAndEndedByTheNextUninstall) {
    InstallFixture("Bonjour64.msi");
    sim::SetProgramBehaviour(*machine_, L"MsiZap.exe", sim::ProgramBehaviour::Hang);
    sim::QueueInstallerResults(*machine_, {kFatal, kFatal});
    auto zaps = [this] {
        std::vector<uint32_t> pids;
        for (const sim::ProcessRecord& p : sim::RunningProcesses(*machine_)) {
            if (sim::EqualsNoCase(p.exe, Installer().MsiZapPath())) pids.push_back(p.pid);
        }
        return pids;
    };

    const auto start = std::chrono::steady_clock::now();
    int err = 0;
    EXPECT_FALSE(Installer().Uninstall(kProductBonjour, Bonjour().productCode, &err));
    EXPECT_EQ(err, 1603);
    EXPECT_TRUE(Logged("wait [MsiZap.exe] timeout:30s"));
    EXPECT_TRUE(Logged("ForceUninstall end! (waitRet = 0x102)"));
    EXPECT_FALSE(Exists(Bonjour().installDir)) << "the uninstall goes on after the time-out";
    ASSERT_EQ(zaps().size(), 1u);

    EXPECT_FALSE(Installer().Uninstall(kProductBonjour, Bonjour().productCode, &err));
    EXPECT_EQ(sim::StartedPrograms(*machine_).size(), 2u);
    EXPECT_EQ(zaps().size(), 1u) << "the hanging copy was ended before the next one started";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "the 30 s are simulated";
}

TEST_F(MsiInstallerTest, MsiZapThatCannotStartIsLoggedAndTheCleanUpGoesOn) {
    InstallFixture("Bonjour64.msi");
    sim::SetProgramBehaviour(*machine_, L"MsiZap.exe", sim::ProgramBehaviour::Missing);
    sim::QueueInstallerResults(*machine_, {kFatal});
    EXPECT_FALSE(Installer().Uninstall(kProductBonjour, Bonjour().productCode, nullptr));
    EXPECT_TRUE(Logged("err: createProcess[" + sim::ToUtf8(ZapLine(Bonjour())) + "] fail! err = 0x2"));
    EXPECT_FALSE(Exists(Bonjour().installDir));
}

TEST_F(MsiInstallerTest, InstallFolderIsKeptForITunesOutsideAnITunesFolderAndForADriveRoot) {
    machine_->Edit([](sim::MachineState& s) {
        s.drives.push_back({L'D', platform::DriveType::Fixed, 100ull << 30, 50ull << 30});
        return 0;
    });
    machine_->CreateDriveFolders();
    WriteFile(L"D:\\Music\\song.mp3", 100);

    // Windows Installer refuses, so nothing but the clean-up touches D:\.
    InstallFixture("iTunes64.msi", L"INSTALLDIR=D:\\");
    sim::QueueInstallerResults(*machine_, {kFatal});
    EXPECT_TRUE(Installer().Uninstall(kProductItunes, Fixture("iTunes64.msi").productCode, nullptr));
    EXPECT_TRUE(Logged("#######not delete Residual file2!!!######"));
    EXPECT_TRUE(Exists(L"D:\\Music\\song.mp3"));

    InstallFixture("Bonjour64.msi", L"INSTALLDIR=D:\\");
    sim::QueueInstallerResults(*machine_, {kFatal});
    EXPECT_TRUE(Installer().Uninstall(kProductBonjour, Bonjour().productCode, nullptr));
    EXPECT_TRUE(Exists(L"D:\\Music\\song.mp3")) << "a drive root is never deleted whole";
    EXPECT_TRUE(Logged("WARN:delete refused: [D:\\] is a drive root!"));

}

// ---- Install --------------------------------------------------------------

struct InstallCase {
    const char* name;
    std::vector<uint32_t> answers;
    bool msiServerDisabled;
    bool result;
    int err;
    const char* logLine;
};

void PrintTo(const InstallCase& c, std::ostream* out) { *out << c.name; }

class InstallLadderTest : public MsiInstallerTest, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(InstallLadderTest, RetriesAtMostOnce) {
    const InstallCase& c = GetParam();
    const std::wstring package = CopyPackage("Bonjour64.msi");
    const uint32_t msiexec = sim::AddProcess(*machine_, kMsiExec);
    AddInstallerService(c.msiServerDisabled ? platform::kServiceDisabled : platform::kServiceDemandStart);
    sim::QueueInstallerResults(*machine_, c.answers);

    int err = 12345;
    EXPECT_EQ(Installer().Install(package, &err), c.result);
    EXPECT_EQ(err, c.err);
    EXPECT_TRUE(sim::QueuedInstallerResults(*machine_).empty());
    const std::wstring call = L"InstallProduct:" + package + L":" + kInstallLine;
    EXPECT_EQ(Calls(), std::vector<std::wstring>(c.answers.size(), call));
    // Only the answers that let the Installer work leave the product behind.
    const uint32_t last = c.answers.back();
    EXPECT_EQ(Registered(Bonjour()), last == 0 || last == kRestart);
    EXPECT_TRUE(Logged(c.logLine)) << c.logLine;
    EXPECT_EQ(sim::IsRunning(*machine_, msiexec), c.answers.front() != kBusy);
}

INSTANTIATE_TEST_SUITE_P(
    Rungs, InstallLadderTest,
    ::testing::Values(
        InstallCase{"FirstCallSucceeds", {0}, false, true, 0, "====Install Success===="},
        InstallCase{"BusyThenRetrySucceeds", {kBusy, 0}, false, true, 0, "try second install..."},
        InstallCase{"BusyTwice", {kBusy, kBusy}, false, false, 1618, "ERR:Second install fail,ret = 1618"},
        InstallCase{"RestartNeededCountsAsSuccess", {kRestart}, false, true, 0,
                    "WARN:The requested operation succeeded. Changes will not take effect until the system is rebooted!"},
        InstallCase{"ServiceRepairedThenRetry", {kNoService, 0}, true, true, 0, "====Install Success2===="},
        InstallCase{"ServiceNotDisabledNoRetry", {kNoService}, false, false, 1601, "====Install fail:0x641===="},
        InstallCase{"FatalMeansRestart", {kFatal}, false, false, -3, "because files has occupy!"},
        InstallCase{"OtherCode", {1620}, false, false, 1620, "====Install fail:0x654===="}),
    [](const ::testing::TestParamInfo<InstallCase>& info) { return std::string(info.param.name); });

TEST_F(MsiInstallerTest, FatalInstallBlamesAServiceMarkedForDeletionAndDeletesLiveOnes) {
    const std::wstring package = CopyPackage("Bonjour64.msi");
    sim::ServiceEntry service;
    service.name = Bonjour().services.at(0);
    sim::AddService(*machine_, service);
    sim::QueueInstallerResults(*machine_, {kFatal});
    int err = 0;
    EXPECT_FALSE(Installer().Install(package, &err));
    EXPECT_EQ(err, -3);
    EXPECT_TRUE(Logged("because files has occupy!"));
    EXPECT_FALSE(sim::FindService(*machine_, service.name).has_value()) << "a live service is deleted";

    // A running service marked for deletion stays until Windows restarts.
    service.pendingDelete = true;
    service.state = platform::kServiceRunning;
    sim::AddService(*machine_, service);
    sim::QueueInstallerResults(*machine_, {kFatal});
    EXPECT_FALSE(Installer().Install(package, &err));
    EXPECT_EQ(err, -3);
    EXPECT_TRUE(Logged("WARN:Need Restart Computer because service has occupy!"));
}

// ---- Repair ---------------------------------------------------------------

TEST_F(MsiInstallerTest, RepairInstallsFromACachedCopyOrElseFromTheGivenPackage) {
    InstallFixture("Bonjour64.msi");
    std::wstring localPackage;
    ASSERT_EQ(Os().Installer().GetProductInfo(Bonjour().productCode, L"LocalPackage", localPackage), 0u);
    int err = 12345;
    // The product's cached package goes with the uninstall; the copy stays.
    EXPECT_TRUE(Installer().UninstallAndInstall(4, Bonjour().productCode, localPackage, L"Bonjour.msi", &err));
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(Registered(Bonjour()));
    std::vector<std::wstring> calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    const std::wstring copyPrefix = L"InstallProduct:" + Installer().InstallCacheDir() + L"Bonjour.msi";
    EXPECT_EQ(calls[1].compare(0, copyPrefix.size(), copyPrefix), 0) << sim::ToUtf8(calls[1]);

    // Without the cache folder no copy can be made.
    ASSERT_TRUE(DeleteDir(platform::Os(), Installer().InstallCacheDir()));
    const std::wstring package = L"C:\\Packages\\Bonjour64.msi";
    callsBefore_ = sim::InstallerCalls(*machine_).size();
    EXPECT_TRUE(Installer().UninstallAndInstall(4, Bonjour().productCode, package, L"Bonjour.msi", &err));
    calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], L"InstallProduct:" + package + L":" + kInstallLine);
}

TEST_F(MsiInstallerTest, RepairStopsForARestartAfterAnUninstallThatNeedsOne) {
    const std::wstring package = InstallFixture("Bonjour64.msi");
    sim::QueueInstallerResults(*machine_, {kRestart});
    int err = 0;
    EXPECT_FALSE(Installer().UninstallAndInstall(4, Bonjour().productCode, package, L"Bonjour.msi", &err));
    EXPECT_EQ(err, -3);
    EXPECT_TRUE(Logged("uninstall ret 0xbc2,so need restart computer!"));
    EXPECT_EQ(Calls().size(), 1u) << "no install is tried";

    // A package service that Windows still holds marked for deletion.
    InstallFixture("Bonjour64.msi");
    sim::QueueInstallerResults(*machine_, {kFatal});  // it survives the uninstall...
    sim::ServiceEntry service = *sim::FindService(*machine_, Bonjour().services.at(0));
    service.pendingDelete = true;  // ...already marked for deletion, and still running
    service.state = platform::kServiceRunning;
    sim::AddService(*machine_, service);
    EXPECT_FALSE(Installer().UninstallAndInstall(4, Bonjour().productCode, package, L"Bonjour.msi", &err));
    EXPECT_EQ(err, -3);
    EXPECT_TRUE(Logged("Check Service:[Bonjour Service]...."));
    EXPECT_TRUE(Logged("Service maybe exception,need restart computer!"));
    EXPECT_EQ(Calls().size(), 1u);
}

}  // namespace
