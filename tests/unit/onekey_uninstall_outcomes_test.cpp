// What the one-key uninstall's records carry in each of its outcomes: the
// per-product records never claim a success, the final record keeps the
// files the user-data part could not delete, and the Store edition goes
// also when files remained (-2) or the user cancelled (-1).
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "Brisalen/MsiInstaller.h"
#include "Brisalen/OneKeyuninstall.h"
#include "FixturePackages.h"
#include "OneKeyMachineTest.h"
#include "common/FileHelpers.h"
#include "platform/sim/processes/SimLibraries.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/Utf8.h"

namespace {

const std::wstring kRoamingRoot = L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer";
const std::wstring kMusicRoot = L"C:\\Users\\Tarn\\Music\\iTunes";

struct Report {
    int state;
    ST_ONEKEY_UNINSTALL_INFO info;
};

class OneKeyUninstallOutcomesTest : public OneKeyMachineTest {
protected:
    static void Callback(void* user, int32_t state, const void* data) {
        auto* self = static_cast<OneKeyUninstallOutcomesTest*>(user);
        self->reports_.push_back({state, *static_cast<const ST_ONEKEY_UNINSTALL_INFO*>(data)});
        if (self->onReport_) self->onReport_(self->reports_.back());
        if (state == kOneKeyUninstallState_All_UninstallComplete) self->ended_.set_value();
    }

    const ST_ONEKEY_UNINSTALL_INFO& Run(bool deleteUserData, bool* cancel = nullptr) {
        reports_.clear();
        ended_ = std::promise<void>();
        EXPECT_TRUE(CreateFixItuensMgr()->OneKeyUninstall(&Callback, this, deleteUserData, cancel));
        EXPECT_EQ(ended_.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        COneKeyuninstall::Instance().WaitIdle();
        return reports_.back().info;
    }
    bool StoreInstalled() { return machine_->Snapshot<sim::StoreItunes>().version.has_value(); }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }

    std::vector<Report> reports_;
    std::function<void(const Report&)> onReport_;
    std::promise<void> ended_;
};

// A product's two records name it and nothing more: no success, no path, no
// message, no code and no files, whether its uninstall worked or failed.
TEST_F(OneKeyUninstallOutcomesTest, ProductRecordsCarryOnlyTheProduct) {
    ASSERT_EQ(Os().Files().DeleteFile(CMsiInstaller::Instance().MsiZapPath()), 0u);
    Install("Bonjour64.msi");
    Install("AppleApplicationSupport64.msi");
    sim::QueueInstallerResults(*machine_, {platform::kErrInstallFailure});
    const ST_ONEKEY_UNINSTALL_INFO end = Run(false);
    EXPECT_FALSE(end.bSuccess);

    int products = 0;
    for (const Report& r : reports_) {
        if (r.state != kOneKeyUninstallState_Item_UninstallBegin && r.state != kOneKeyUninstallState_Item_UninstallEnd) {
            continue;
        }
        ++products;
        SCOPED_TRACE(r.state);
        EXPECT_TRUE(r.info.nType == 4 || r.info.nType == 6) << r.info.nType;
        EXPECT_FALSE(r.info.strProductName.empty());
        EXPECT_FALSE(r.info.bSuccess);
        EXPECT_TRUE(r.info.strPath.empty());
        EXPECT_TRUE(r.info.strMessage.empty());
        EXPECT_EQ(r.info.nErrorCode, 0);
        EXPECT_TRUE(r.info.vecFiles.empty());
    }
    EXPECT_EQ(products, 4);
    // The second product's uninstall worked; its end record still says nothing of it.
    EXPECT_EQ(reports_[3].state, kOneKeyUninstallState_Item_UninstallEnd);
    EXPECT_EQ(reports_[3].info.nType, 6);
}

// A user-data file held open by a program that runs from elsewhere stays,
// and the final record lists it: the run itself went well, so it keeps its
// success and code 0, with no leftovers message.
TEST_F(OneKeyUninstallOutcomesTest, UserDataLeftoversAreListedInTheFinalRecord) {
    const std::wstring held = kRoamingRoot + L"\\Preferences\\Held.plist";
    WriteFile(held, 4);
    WriteFile(kMusicRoot + L"\\iTunes Library.itl", 4);
    const uint32_t editor = sim::AddProcess(*machine_, L"C:\\Tools\\editor.exe", {}, {held});

    const ST_ONEKEY_UNINSTALL_INFO end = Run(true);
    EXPECT_TRUE(sim::IsRunning(*machine_, editor));
    EXPECT_TRUE(Os().Files().Exists(held));
    EXPECT_FALSE(Os().Files().Exists(kMusicRoot));
    EXPECT_EQ(end.vecFiles, std::vector<std::wstring>{
                                L"c:\\users\\tarn\\appdata\\roaming\\apple computer\\preferences\\held.plist"});
    EXPECT_TRUE(end.bSuccess);
    EXPECT_EQ(end.nErrorCode, 0);
    EXPECT_TRUE(end.strMessage.empty());
}

// The Store edition is removed after the run whatever the earlier steps
// gave, here files that remained (-2) and a cancelled user-data part (-1).
TEST_F(OneKeyUninstallOutcomesTest, TheStoreEditionGoesAfterLeftoversAndAfterACancel) {
    const std::wstring dll = L"C:\\Program Files\\iTunes\\Held.dll";
    WriteFile(dll, 4);
    const uint32_t explorer = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe", {}, {dll});
    sim::SetStoreItunes(*machine_, L"12.13.0.9");
    const ST_ONEKEY_UNINSTALL_INFO remained = Run(true);
    EXPECT_EQ(remained.nErrorCode, COneKeyuninstall::kFilesRemain);
    EXPECT_FALSE(StoreInstalled());
    sim::EndProcess(*machine_, explorer);

    WriteFile(kRoamingRoot + L"\\a\\x.txt", 4);
    WriteFile(kMusicRoot + L"\\keep.itl", 4);
    sim::SetStoreItunes(*machine_, L"12.13.0.9");
    bool cancel = false;
    onReport_ = [&](const Report& r) {
        if (r.state == kOneKeyUninstallState_DeleteUserDataDir) cancel = true;
    };
    const ST_ONEKEY_UNINSTALL_INFO cancelled = Run(true, &cancel);
    EXPECT_EQ(cancelled.nErrorCode, COneKeyuninstall::kCancelled);
    EXPECT_TRUE(Os().Files().Exists(kMusicRoot + L"\\keep.itl"));
    EXPECT_FALSE(StoreInstalled());
    EXPECT_EQ(CountOf(LoadTimeLog(), "uninstall iTunes from window app store..."), 2u);
}

}  // namespace
