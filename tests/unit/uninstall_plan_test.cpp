// The one-key uninstall's plan: the products it removes and the folders it
// queues, worked out from plain facts; the residual folders the guard lets
// go, with hostile candidates on the simulated machine; and the plan
// against what the task then does.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "Brisalen/MsiEnum.h"
#include "Brisalen/OneKeyuninstall.h"
#include "Brisalen/UninstallFacts.h"
#include "Brisalen/UninstallPlan.h"
#include "OneKeyMachineTest.h"
#include "include/Brisalen.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

FamilyProductFacts Product(int type, const std::wstring& code, const std::wstring& location) {
    return FamilyProductFacts{type, code, L"name " + code, location};
}

}  // namespace

TEST(UninstallPlanTest, ProductsGoByTypeAndQueueTheirFoldersFolded) {
    const ProductRemovalPlan plan = PlanProductRemoval({
        Product(kProductBonjour, L"{B}", L"C:/Program Files/Bonjour//"),
        Product(kProductItunes, L"{I}", L"C:\\Program Files\\iTunes\\"),
        Product(kProductAppleSoftwareUpdate, L"{U}", L""),
        Product(kProductItunes, L"{I2}", L"D:\\Media\\"),  // an iTunes folder that does not say so
    });
    ASSERT_EQ(plan.steps.size(), 4u);
    std::vector<std::wstring> order;
    for (const ProductRemovalStep& step : plan.steps) order.push_back(step.product.code);
    // Equal types keep the order they were read in.
    EXPECT_EQ(order, (std::vector<std::wstring>{L"{I}", L"{I2}", L"{U}", L"{B}"}));
    EXPECT_EQ(plan.steps[0].position, 1);
    EXPECT_EQ(plan.steps[3].position, 4);
    EXPECT_EQ(plan.leavingCodes, (std::vector<std::wstring>{L"{I}", L"{I2}", L"{U}", L"{B}"}));

    EXPECT_FALSE(plan.steps[1].queuesFolder);
    EXPECT_TRUE(plan.steps[2].queuesFolder);
    EXPECT_EQ(plan.steps[3].folder, L"c:\\program files\\bonjour\\");
    // The raw location is what the log shows.
    EXPECT_EQ(plan.steps[3].product.location, L"C:/Program Files/Bonjour//");
    EXPECT_EQ(plan.queuedFolders,
              (std::set<std::wstring>{L"", L"c:\\program files\\itunes\\", L"c:\\program files\\bonjour\\"}));
}

TEST(UninstallPlanTest, OnlyExistingFoldersTheGuardPassedAreDeleted) {
    const std::vector<std::wstring> folders = PlanResidualFolders({
        {L"c:\\program files\\bonjour", true, true},
        {L"c:\\program files\\ipod", false, true},  // gone already
        {L"c:\\", true, false},                     // refused
        {L"c:\\program files\\itunes", true, true},
    });
    EXPECT_EQ(folders, (std::vector<std::wstring>{L"c:\\program files\\bonjour", L"c:\\program files\\itunes"}));
    EXPECT_TRUE(PlanResidualFolders({{L"c:\\windows", true, false}}).empty());
}

TEST(UninstallPlanTest, LeftoversAreFoldedAndListedOnce) {
    const std::set<std::wstring> paths = PlanLeftoverDeletion({
        {L"C:\\Program Files\\iTunes\\A.dll", L"C:/Program Files/iTunes/b.exe"},
        {L"c:\\program files\\itunes\\a.dll"},
    });
    EXPECT_EQ(paths,
              (std::set<std::wstring>{L"c:\\program files\\itunes\\a.dll", L"c:\\program files\\itunes\\b.exe"}));
}

class UninstallPlanMachineTest : public OneKeyMachineTest {
protected:
    bool Exists(const std::wstring& path) { return Os().Files().Exists(path); }
    static void OnReport(void* user, int32_t state, const void* data) {
        auto* self = static_cast<UninstallPlanMachineTest*>(user);
        const auto* info = static_cast<const ST_ONEKEY_UNINSTALL_INFO*>(data);
        if (state == kOneKeyUninstallState_Item_UninstallBegin) self->begun_.push_back(info->nType);
        if (state == kOneKeyUninstallState_DeleteResidualDir) self->deleted_.push_back(info->strPath);
        if (state == kOneKeyUninstallState_All_UninstallComplete) self->ended_.set_value();
    }
    void Run() {
        ASSERT_TRUE(COneKeyuninstall::Instance().OneKeyUninstall(OnReport, this, false, nullptr));
        ASSERT_EQ(ended_.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        COneKeyuninstall::Instance().WaitIdle();
    }
    std::vector<int> begun_;
    std::vector<std::wstring> deleted_;
    std::promise<void> ended_;
};

TEST_F(UninstallPlanMachineTest, HostileCandidatesNeverReachTheDeletionSet) {
    WriteFile(L"C:\\Program Files\\iTunes\\own.dll", 4);
    WriteFile(L"C:\\Windows\\iTunes\\keep.dll", 4);
    WriteFile(L"C:\\Program Files\\Common Files\\keep.dll", 4);
    // A folder of ours on its face, reached through a junction into Windows.
    Link(L"C:\\Program Files\\Vendor", L"C:\\Windows");
    const std::set<std::wstring> candidates = {
        L"c:\\program files\\itunes",             // the one to go
        L"c:\\program files\\bonjour\\..\\..\\",  // climbs to the drive
        L"c:\\",                                  // the drive root
        L"c:\\windows\\",                         // the Windows folder
        L"c:\\program files\\vendor\\itunes",     // below a junction to Windows
        L"c:\\program files\\common files\\...",  // a name of dots: Common Files itself
        L"c:\\program files\\..",                 // the drive again
    };
    const std::vector<std::wstring> folders = PlanResidualFolders(JudgeResidualFolders(Os(), candidates, {}));
    EXPECT_EQ(folders, (std::vector<std::wstring>{L"c:\\program files\\itunes"}));
    for (const char* line :
         {"WARN:delete refused: [c:\\program files\\bonjour\\..\\..\\] is a drive root",
          "WARN:delete refused: [c:\\windows\\] is in the Windows folder",
          "WARN:delete refused: [c:\\program files\\vendor\\itunes] is in the Windows folder",
          "WARN:delete refused: [c:\\program files\\common files\\...] is or holds a known folder"}) {
        EXPECT_NE(LoadTimeLog().find(line), std::string::npos) << line;
    }
}

TEST_F(UninstallPlanMachineTest, ThePlanIsWhatTheTaskThenRemoves) {
    Install("AppleSoftwareUpdate.msi");
    // A running program keeps the product's folder through its uninstall,
    // so the folder is there both when planned and when the task deletes.
    const std::wstring updater = Fixture("AppleSoftwareUpdate.msi").installDir + L"SoftwareUpdate.exe";
    WriteFile(updater, 4);
    sim::AddProcess(*machine_, updater, {}, {updater});
    // Apple folders no package owns, and one another vendor's product keeps.
    WriteFile(L"C:\\Program Files (x86)\\iTunes\\old.dll", 4);
    WriteFile(L"C:\\Program Files\\iPod\\bin\\iPodService.dll", 4);
    WriteFile(L"C:\\Program Files\\iTunes\\Plugins\\Vendor\\v.dll", 4);
    sim::InstalledProduct vendor;
    vendor.productCode = L"{0D6C3A3E-5B7D-4C1B-9E55-2F1B0A7C9D11}";
    vendor.properties = {{L"ProductName", L"Vendor Plugin"},
                         {L"InstallLocation", L"C:\\Program Files\\iTunes\\Plugins\\Vendor\\"}};
    sim::RegisterProduct(*machine_, vendor);

    const ProductRemovalPlan products = PlanProductRemoval(ReadFamilyProducts(CMsiEnum::Instance()));
    const std::vector<std::wstring> residual = PlanResidualFolders(
        JudgeResidualFolders(Os(), ResidualCandidates(CCollectDirMgr::Instance(), products), products.leavingCodes));
    std::vector<int> planned;
    for (const ProductRemovalStep& step : products.steps) planned.push_back(step.product.type);
    ASSERT_EQ(residual.size(), 3u);

    Run();

    EXPECT_EQ(begun_, planned);
    EXPECT_EQ(planned, std::vector<int>{kProductAppleSoftwareUpdate});
    EXPECT_EQ(deleted_, residual);
    for (const std::wstring& folder : residual) EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Exists(L"C:\\Program Files\\iTunes\\Plugins\\Vendor\\v.dll"));
}
