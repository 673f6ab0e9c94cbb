// The Store edition of iTunes through the companion RemovePackage.dll: when
// the companion is bound at all, what its answers and faults become, and the
// clean-up that follows every removal.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "Brisalen/Win10AppStore.h"
#include "FixturePackages.h"
#include "include/Brisalen.h"
#include "platform/sim/processes/FaultGuard.h"
#include "platform/sim/processes/SimLibraries.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kCommonApple[] = L"C:\\Program Files (x86)\\Common Files\\Apple";
constexpr wchar_t kDeviceService[] =
    L"C:\\Program Files\\Common Files\\Apple\\Mobile Device Support\\AppleMobileDeviceService.exe";

class Win10AppStoreTest : public LoggedMachineTest {
protected:
    void SetUp() override {
        LoggedMachineTest::SetUp();
        sim::SetStoreItunes(*machine_, L"12.13.2.3");
    }

    void Companion(const sim::StoreCompanion& behaviour) { sim::SetStoreCompanion(*machine_, behaviour); }
    bool StoreInstalled() { return machine_->Snapshot<sim::StoreItunes>().version.has_value(); }

    // What the repair manager's slot answers.
    bool Check() { return CreateFixItuensMgr()->CheckMicrosoftStoreItunes(); }
    bool Remove() { return CWin10AppStore::Instance().UninstallMicrosoftStoreItunesSafe(); }

    size_t Logged(const std::string& text) { return CountOf(LoadTimeLog(), text); }

    // What the Store edition leaves behind: its device service running and
    // the common Apple folder with a file in it.
    uint32_t Leftovers() {
        WriteFile(std::wstring(kCommonApple) + L"\\Apple Application Support\\shared.dll", 32);
        return sim::AddProcess(*machine_, kDeviceService);
    }
    void ExpectCleanedUp(uint32_t service) {
        EXPECT_FALSE(sim::IsRunning(*machine_, service));
        EXPECT_FALSE(Os().Files().Exists(kCommonApple));
        EXPECT_TRUE(Os().Files().Exists(L"C:\\Program Files (x86)\\Common Files"));
    }
};

TEST_F(Win10AppStoreTest, BeforeWindows10NothingIsLoadedOrCalled) {
    machine_->SetWindows(sim::WindowsRelease::Windows81, true);
    const uint32_t service = Leftovers();

    EXPECT_FALSE(Check());
    EXPECT_FALSE(Remove());
    EXPECT_EQ(Logged("CHECK:not need handle micro app store iTunes(OS not win10+)"), 1u);
    EXPECT_EQ(Logged("RemovePackage.dll"), 0u);
    EXPECT_EQ(Logged("[CheckInstallMicrosoftStoreItunes]"), 0u);
    // An unbound removal neither removes nor cleans up.
    EXPECT_TRUE(StoreInstalled());
    EXPECT_TRUE(sim::IsRunning(*machine_, service));
    EXPECT_TRUE(Os().Files().Exists(kCommonApple));
}

TEST_F(Win10AppStoreTest, WithoutTheCompanionBothOperationsFailAndTheLoadIsLoggedOnce) {
    sim::StoreCompanion absent;
    absent.present = false;
    Companion(absent);
    const uint32_t service = Leftovers();

    EXPECT_FALSE(Check());
    EXPECT_FALSE(Check());
    EXPECT_FALSE(Remove());
    EXPECT_EQ(Logged(" load RemovePackage.dll fail 0x7e\n"), 1u);
    EXPECT_TRUE(StoreInstalled());
    EXPECT_TRUE(sim::IsRunning(*machine_, service));
    EXPECT_TRUE(Os().Files().Exists(kCommonApple));
}

TEST_F(Win10AppStoreTest, EachMissingExportDisablesItsOwnOperationOnly) {
    sim::StoreCompanion noCheck;
    noCheck.exportsCheck = false;
    Companion(noCheck);
    EXPECT_FALSE(Check());
    EXPECT_EQ(Logged(" ERR:GetProcAddress CheckInstallMicrosoftStoreItunes\n"), 1u);
    EXPECT_EQ(Logged("GetProcAddress UninstallMicrosoftStoreItunes"), 0u);
    EXPECT_TRUE(Remove());
    EXPECT_FALSE(StoreInstalled());

    // A fresh library binds the companion anew.
    LibraryShutdown(platform::Os().Process());
    sim::SetStoreItunes(*machine_, L"12.13.2.3");
    sim::StoreCompanion noUninstall;
    noUninstall.exportsUninstall = false;
    Companion(noUninstall);
    const uint32_t service = Leftovers();
    EXPECT_TRUE(Check());
    EXPECT_FALSE(Remove());
    EXPECT_EQ(Logged(" ERR:GetProcAddress UninstallMicrosoftStoreItunes\n"), 1u);
    EXPECT_TRUE(StoreInstalled());
    EXPECT_TRUE(sim::IsRunning(*machine_, service));
    EXPECT_TRUE(Os().Files().Exists(kCommonApple));
}

TEST_F(Win10AppStoreTest, CheckAnswersWhatTheCompanionFoundWithItsVersion) {
    EXPECT_TRUE(Check());
    EXPECT_EQ(Logged(" [CheckInstallMicrosoftStoreItunes] ret = 1,version = 12.13.2.3\n"), 1u);

    sim::SetStoreItunes(*machine_, std::nullopt);
    EXPECT_FALSE(Check());
    EXPECT_EQ(Logged(" [CheckInstallMicrosoftStoreItunes] ret = 0,version = \n"), 1u);
}

TEST_F(Win10AppStoreTest, ACrashingCheckIsLoggedAndAnswersFalse) {
    if (sim::RunningUnderSanitizer()) GTEST_SKIP() << "the sanitizer claims the fault first";
    sim::StoreCompanion crashing;
    crashing.checkCrashes = true;
    Companion(crashing);

    EXPECT_FALSE(Check());
    EXPECT_FALSE(Check());
    EXPECT_EQ(Logged("ERR:Exception at "), 2u);
    EXPECT_EQ(Logged("Win10AppStore.cpp.CWin10AppStore::CheckInstallMicrosoftStoreItunesSafe\n"), 2u);
    EXPECT_EQ(Logged(" ERR:RemovePackage.dll ended by exception 0xC0000005\n"), 2u);
    EXPECT_EQ(Logged("[CheckInstallMicrosoftStoreItunes] ret"), 0u);
    // The companion's other export still works after the faults.
    EXPECT_TRUE(Remove());
    EXPECT_FALSE(StoreInstalled());
}

// Without a guard the companion is not called at all: the check answers
// false, the removal keeps its "no answer" and still cleans up.
TEST_F(Win10AppStoreTest, WithoutAFaultGuardTheCompanionIsNotCalled) {
    const uint32_t service = Leftovers();
    ASSERT_TRUE(Check());
    sim::SetFaultGuardAvailable(false);
    const bool checked = Check();
    const bool removed = Remove();
    sim::SetFaultGuardAvailable(true);

    EXPECT_FALSE(checked);
    EXPECT_FALSE(removed);
    EXPECT_TRUE(StoreInstalled());
    EXPECT_EQ(Logged(" ERR:RemovePackage.dll not called at "), 2u);
    EXPECT_EQ(Logged("Win10AppStore.cpp.CWin10AppStore::CheckInstallMicrosoftStoreItunesSafe: the machine gives no fault guard\n"), 1u);
    EXPECT_EQ(Logged("Win10AppStore.cpp.CWin10AppStore::UninstallMicrosoftStoreItunesSafe: the machine gives no fault guard\n"), 1u);
    EXPECT_EQ(Logged("[CheckInstallMicrosoftStoreItunes] ret"), 1u);
    EXPECT_EQ(Logged("[UninstallMicrosoftStoreItunesSafe] ret"), 0u);
    ExpectCleanedUp(service);
}

TEST_F(Win10AppStoreTest, AFailedRemovalStillEndsTheDeviceServiceAndDeletesTheCommonAppleFolder) {
    sim::StoreCompanion refusing;
    refusing.removalResult = 5;
    Companion(refusing);
    const uint32_t service = Leftovers();
    const uint32_t unrelated = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\iTunes.exe");
    WriteFile(L"C:\\Program Files (x86)\\Common Files\\Other\\keep.dll", 8);

    EXPECT_FALSE(Remove());
    EXPECT_EQ(Logged(" [UninstallMicrosoftStoreItunesSafe] ret = 5\n"), 1u);
    ExpectCleanedUp(service);
    EXPECT_TRUE(sim::IsRunning(*machine_, unrelated));
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Program Files (x86)\\Common Files\\Other\\keep.dll"));
    EXPECT_TRUE(StoreInstalled());
    EXPECT_TRUE(Check());
}

TEST_F(Win10AppStoreTest, ACommonAppleFolderThatIsALinkGoesWithoutItsTarget) {
    sim::StoreCompanion refusing;
    refusing.removalResult = 5;
    Companion(refusing);
    const std::wstring target = L"C:\\Users\\Tarn\\Documents\\Apple";
    WriteFile(target + L"\\letter.doc", 16);
    WriteFile(L"C:\\Windows\\System32\\kernel32.dll", 16);
    for (const std::wstring& linked : {target, std::wstring(L"C:\\Windows")}) {
        fs::create_directories(fs::path(Host(kCommonApple)).parent_path());
        fs::create_directory_symlink(Host(linked), Host(kCommonApple));
        EXPECT_FALSE(Remove());
        EXPECT_FALSE(fs::exists(fs::symlink_status(Host(kCommonApple)))) << sim::ToUtf8(linked);
    }
    EXPECT_TRUE(Os().Files().Exists(target + L"\\letter.doc"));
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Windows\\System32\\kernel32.dll"));
}

TEST_F(Win10AppStoreTest, ACrashingRemovalIsLoggedAndStillCleansUp) {
    if (sim::RunningUnderSanitizer()) GTEST_SKIP() << "the sanitizer claims the fault first";
    sim::StoreCompanion crashing;
    crashing.uninstallCrashes = true;
    Companion(crashing);
    const uint32_t service = Leftovers();

    EXPECT_FALSE(Remove());
    EXPECT_EQ(Logged("ERR:Exception at "), 1u);
    EXPECT_EQ(Logged("Win10AppStore.cpp.CWin10AppStore::UninstallMicrosoftStoreItunesSafe\n"), 1u);
    EXPECT_EQ(Logged("[UninstallMicrosoftStoreItunesSafe] ret"), 0u);
    ExpectCleanedUp(service);
    EXPECT_TRUE(StoreInstalled());
}

TEST_F(Win10AppStoreTest, ASuccessfulRemovalMakesTheNextCheckFalse) {
    const uint32_t service = Leftovers();
    ASSERT_TRUE(Check());

    EXPECT_TRUE(Remove());
    EXPECT_EQ(Logged(" [UninstallMicrosoftStoreItunesSafe] ret = 0\n"), 1u);
    ExpectCleanedUp(service);
    EXPECT_FALSE(Check());
    EXPECT_EQ(Logged(" [CheckInstallMicrosoftStoreItunes] ret = 0,version = \n"), 1u);
}

}  // namespace
