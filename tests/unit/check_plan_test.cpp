// The component check's verdicts: worked out from plain facts, and on the
// simulated machine compared with what the check task then reports and does.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "Brisalen/CheckPlan.h"
#include "Brisalen/ItunesCheck.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

InstalledProductFacts Registration(const std::wstring& location = L"C:\\Program Files\\Bonjour\\") {
    InstalledProductFacts installed;
    installed.code = L"{56EA8A6B-1BFD-4C01-96D5-AB3FD9A5D42D}";
    installed.name = L"Bonjour";
    installed.version = L"3.1.0.1";
    installed.location = location;
    installed.localPackage = L"C:\\Windows\\Installer\\1a2b.msi";
    installed.packageName = L"Bonjour64.msi";
    installed.localPackageExists = true;
    return installed;
}

ProductCheckFacts Product(int type, std::optional<InstalledProductFacts> installed) {
    ProductCheckFacts facts;
    facts.type = type;
    facts.installed = std::move(installed);
    return facts;
}

FileCheckFacts Files(bool verified, std::vector<std::wstring> bad = {}, std::vector<std::wstring> missing = {}) {
    return FileCheckFacts{verified, std::move(bad), std::move(missing)};
}

const CheckMachineFacts kWindows64{true, L"12.13.1.3"};

}  // namespace

TEST(CheckPlanTest, SkipsFollowTheWindowsBitnessAndTheItunesVersion) {
    const CheckMachineFacts windows32{false, L"12.13.1.3"};
    const ProductCheckPlan support64 =
        PlanProductCheck(windows32, Product(kProductAppleApplicationSupport64, Registration()));
    EXPECT_EQ(support64.verdict, CheckVerdict::Skipped);
    EXPECT_EQ(support64.skip, SkipReason::NoWindows64);
    EXPECT_FALSE(support64.repair);
    EXPECT_EQ(PlanProductCheck(kWindows64, Product(kProductAppleApplicationSupport64, std::nullopt)).verdict,
              CheckVerdict::Missing);

    const CheckMachineFacts itunes127{true, L"12.7.0.166"};
    const ProductCheckPlan bonjour = PlanProductCheck(itunes127, Product(kProductBonjour, std::nullopt));
    EXPECT_EQ(bonjour.skip, SkipReason::BonjourNotNeeded);
    EXPECT_FALSE(bonjour.repair);
    // Only Bonjour is spared by that version.
    EXPECT_EQ(PlanProductCheck(itunes127, Product(kProductMobileDeviceSupport, std::nullopt)).verdict,
              CheckVerdict::Missing);
}

TEST(CheckPlanTest, AMissingOrFolderlessProductIsToBeInstalledAfresh) {
    const ProductCheckPlan absent = PlanProductCheck(kWindows64, Product(kProductBonjour, std::nullopt));
    EXPECT_EQ(absent.verdict, CheckVerdict::Missing);
    EXPECT_TRUE(absent.needPackage);
    EXPECT_FALSE(absent.unregisterCode);
    ASSERT_TRUE(absent.repair);
    EXPECT_EQ(absent.repair->nType, kProductBonjour);
    EXPECT_EQ(absent.repair->nKind, kRepairKindMissing);
    EXPECT_TRUE(absent.repair->strProductCode.empty());

    // A registration without a folder is taken away first; its entry keeps
    // what the registration said.
    const ProductCheckPlan folderless = PlanProductCheck(kWindows64, Product(kProductBonjour, Registration(L"")));
    EXPECT_EQ(folderless.verdict, CheckVerdict::Missing);
    ASSERT_TRUE(folderless.unregisterCode);
    EXPECT_EQ(*folderless.unregisterCode, Registration().code);
    ASSERT_TRUE(folderless.repair);
    EXPECT_EQ(folderless.repair->nKind, kRepairKindMissing);
    EXPECT_EQ(folderless.repair->strProductCode, Registration().code);
    EXPECT_EQ(folderless.repair->strPackageName, L"Bonjour64.msi");
}

TEST(CheckPlanTest, AnInstalledProductIsJudgedByItsFiles) {
    ProductCheckFacts facts = Product(kProductBonjour, Registration());
    facts.installed->localPackageExists = false;
    const ProductCheckPlan waiting = PlanProductCheck(kWindows64, facts);
    EXPECT_EQ(waiting.verdict, CheckVerdict::FilesToCheck);
    EXPECT_TRUE(waiting.needPackage);
    EXPECT_FALSE(waiting.repair);

    facts.files = Files(false, {L"C:\\Program Files\\Bonjour\\a.dll"});
    const ProductCheckPlan unsure = PlanProductCheck(kWindows64, facts);
    EXPECT_EQ(unsure.verdict, CheckVerdict::NotVerifiable);
    EXPECT_TRUE(unsure.files.empty());
    EXPECT_FALSE(unsure.repair);

    facts.files = Files(true);
    EXPECT_EQ(PlanProductCheck(kWindows64, facts).verdict, CheckVerdict::Sound);
    EXPECT_FALSE(PlanProductCheck(kWindows64, facts).repair);

    facts.files = Files(true, {L"bad.exe"}, {L"gone.dll", L"gone2.dll"});
    const ProductCheckPlan damaged = PlanProductCheck(kWindows64, facts);
    EXPECT_EQ(damaged.verdict, CheckVerdict::Damaged);
    EXPECT_EQ(damaged.files, (std::vector<std::wstring>{L"bad.exe", L"gone.dll", L"gone2.dll"}));
    ASSERT_TRUE(damaged.repair);
    EXPECT_EQ(damaged.repair->nKind, kRepairKindDamaged);
    EXPECT_EQ(damaged.repair->strInstallLocation, Registration().location);
    EXPECT_EQ(damaged.repair->strLocalPackage, Registration().localPackage);
    EXPECT_FALSE(damaged.unregisterCode);
}

class CheckPlanMachineTest : public FixtureMachineTest {
protected:
    void TearDown() override {
        CItunesCheck::Instance().WaitIdle();
        FixtureMachineTest::TearDown();
    }
    static void OnCheck(void* user, int32_t state, const void* data) {
        const auto* info = static_cast<const ST_MSI_PRODUCT_UI_INFO*>(data);
        if (state != kCheckItunesProductState_Item_Checking && state != kCheckItunesProductState_All_CheckComplete) {
            (*static_cast<std::map<int, int>*>(user))[info->nType] = state;
        }
    }
};

TEST_F(CheckPlanMachineTest, ThePreviewIsWhatTheCheckThenReportsAndDoes) {
    InstallFamily();
    const FixturePackage& bonjour = Fixture("Bonjour64.msi");
    std::filesystem::remove(Host(FileOf(bonjour, "dnssd.dll").path));
    BendInstallLocation("AppleSoftwareUpdate.msi", L"");

    const std::vector<ProductCheckPlan> plans = CItunesCheck::Instance().PreviewCheck(false);
    // The preview acted on nothing: the folderless registration is still there.
    ASSERT_TRUE(sim::FindProduct(*machine_, Fixture("AppleSoftwareUpdate.msi").productCode));
    ASSERT_EQ(plans.size(), 6u);

    std::map<int, int> reported;
    ASSERT_TRUE(CItunesCheck::Instance().CheckAllItunesComponent(OnCheck, &reported, false));
    CItunesCheck::Instance().WaitIdle();

    const std::map<CheckVerdict, int> stateOf = {
        {CheckVerdict::Missing, kCheckItunesProductState_Item_Fail_Miss},
        {CheckVerdict::NotVerifiable, kCheckItunesProductState_Item_Success_NotSure},
        {CheckVerdict::Sound, kCheckItunesProductState_Item_Success},
        {CheckVerdict::Damaged, kCheckItunesProductState_Item_Fail_Bad},
    };
    std::vector<ST_MSI_PRODUCT_REPAIR_INFO> planned;
    for (const ProductCheckPlan& plan : plans) {
        ASSERT_NE(plan.verdict, CheckVerdict::FilesToCheck) << plan.type;
        ASSERT_NE(plan.verdict, CheckVerdict::Skipped) << plan.type;
        EXPECT_EQ(reported[plan.type], stateOf.at(plan.verdict)) << plan.type;
        if (plan.repair) planned.push_back(*plan.repair);
    }
    EXPECT_EQ(plans[kProductBonjour - 1].verdict, CheckVerdict::Damaged);
    EXPECT_EQ(plans[kProductAppleSoftwareUpdate - 1].verdict, CheckVerdict::Missing);

    const std::vector<ST_MSI_PRODUCT_REPAIR_INFO> listed = CItunesCheck::Instance().RepairList();
    ASSERT_EQ(listed.size(), planned.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].nType, planned[i].nType);
        EXPECT_EQ(listed[i].nKind, planned[i].nKind);
        EXPECT_EQ(listed[i].strProductCode, planned[i].strProductCode);
        EXPECT_EQ(listed[i].strLocalPackage, planned[i].strLocalPackage);
    }
    // What the plan said to take away, the check took away.
    ASSERT_TRUE(plans[kProductAppleSoftwareUpdate - 1].unregisterCode);
    EXPECT_FALSE(sim::FindProduct(*machine_, *plans[kProductAppleSoftwareUpdate - 1].unregisterCode));
}
