// The component repair's plan: which products, by which action and package,
// in which order, from plain facts; and on the simulated machine against
// what the repair then does.
#include <gtest/gtest.h>

#include <filesystem>

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/MsiEnum.h"
#include "Brisalen/RepairPlan.h"
#include "FixturePackages.h"
#include "common/TextHelpers.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

RepairEntryFacts Entry(int type, int32_t kind, bool cached, std::optional<std::wstring> inFolder = std::nullopt) {
    RepairEntryFacts facts;
    facts.entry.nType = type;
    facts.entry.nKind = kind;
    facts.entry.strLocalPackage = L"C:\\Windows\\Installer\\" + std::to_wstring(type) + L".msi";
    facts.localPackageExists = cached;
    facts.folderPackage = std::move(inFolder);
    return facts;
}

// The log lines these tests look for are ASCII.
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::vector<RepairAction> Actions(const std::vector<RepairStep>& steps) {
    std::vector<RepairAction> actions;
    for (const RepairStep& step : steps) actions.push_back(step.action);
    return actions;
}

}  // namespace

TEST(RepairPlanTest, StepsFollowTheListWithTheCachedPackageFirst) {
    const std::vector<RepairEntryFacts> list = {
        Entry(kProductBonjour, kRepairKindDamaged, true, L"C:\\Setup\\Bonjour64.msi"),
        Entry(kProductAppleSoftwareUpdate, kRepairKindMissing, false, L"C:\\Setup\\AppleSoftwareUpdate.msi"),
        Entry(kProductMobileDeviceSupport, kRepairKindDamaged, false, L"C:\\Setup\\AppleMobileDeviceSupport64.msi"),
    };
    const std::vector<RepairStep> steps = PlanRepair(list, false);
    EXPECT_EQ(Actions(steps),
              (std::vector<RepairAction>{RepairAction::Reinstall, RepairAction::Install, RepairAction::Reinstall}));
    EXPECT_EQ(steps[0].package, L"C:\\Windows\\Installer\\4.msi");
    EXPECT_EQ(steps[1].package, L"C:\\Setup\\AppleSoftwareUpdate.msi");
    EXPECT_EQ(steps[2].package, L"C:\\Setup\\AppleMobileDeviceSupport64.msi");

    // Bad only: the missing product is passed by.
    const std::vector<RepairStep> bad = PlanRepair(list, true);
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[1].entry.nType, kProductMobileDeviceSupport);
}

TEST(RepairPlanTest, AStepWithoutAPackageIsTheLastAndDisabledEntriesAreNone) {
    std::vector<RepairEntryFacts> list = {
        Entry(kProductItunes, kRepairKindMissing, false, L"C:\\Setup\\iTunes64.msi"),
        Entry(kProductBonjour, kRepairKindDamaged, false),
        Entry(kProductAppleSoftwareUpdate, kRepairKindMissing, false, L"C:\\Setup\\AppleSoftwareUpdate.msi"),
    };
    list[0].entry.bEnabled = false;
    const std::vector<RepairStep> steps = PlanRepair(list, false);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].entry.nType, kProductBonjour);
    EXPECT_EQ(steps[0].action, RepairAction::NoPackage);
    EXPECT_TRUE(steps[0].package.empty());

    std::vector<RepairEntryFacts> odd = {Entry(kProductBonjour, 7, true),
                                         Entry(kProductItunes, kRepairKindMissing, true)};
    EXPECT_EQ(Actions(PlanRepair(odd, false)), std::vector<RepairAction>{RepairAction::Unknown});
}

class RepairPlanMachineTest : public FixtureMachineTest {
protected:
    void TearDown() override {
        CItunesCheck::Instance().WaitIdle();
        FixtureMachineTest::TearDown();
    }
    static void Ignore(void*, int32_t, const void*) {}
    static void OnRepair(void* user, int32_t state, const void* data) {
        const auto* info = static_cast<const ST_REPAIR_PROGRESS_INFO*>(data);
        if (state == kRepairItunesState_Item_Begin) static_cast<std::vector<int>*>(user)->push_back(info->nType);
    }
};

TEST_F(RepairPlanMachineTest, ThePlanIsWhatTheRepairThenDoes) {
    for (const char* file : kX64Family) {
        if (std::string(file) != "AppleSoftwareUpdate.msi") Install(file);
    }
    const FixturePackage& bonjour = Fixture("Bonjour64.msi");
    std::filesystem::remove(Host(FileOf(bonjour, "dnssd.dll").path));
    for (const char* file : kX64Family) {
        const std::string host = Host(L"C:\\Setup\\" + Utf8ToWide(platform::Os().CodePages(), file));
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::filesystem::copy_file(FixturePath(file), host, std::filesystem::copy_options::overwrite_existing);
    }
    ASSERT_TRUE(CItunesCheck::Instance().CheckAllItunesComponent(&Ignore, nullptr, false));
    CItunesCheck::Instance().WaitIdle();

    const std::vector<RepairStep> steps = CItunesCheck::Instance().PreviewRepair(false, L"C:\\Setup");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].entry.nType, kProductAppleSoftwareUpdate);
    EXPECT_EQ(steps[0].action, RepairAction::Install);
    EXPECT_EQ(AsciiLower(steps[0].package), L"c:\\setup\\applesoftwareupdate.msi");
    EXPECT_EQ(steps[1].action, RepairAction::Reinstall);

    std::vector<int> begun;
    ASSERT_TRUE(CItunesCheck::Instance().RepairAllItunesComponent(false, L"C:\\Setup", &OnRepair, &begun));
    CItunesCheck::Instance().WaitIdle();
    ASSERT_EQ(begun.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(begun[i], steps[i].entry.nType);
        const std::string line =
            "Find : [" + Narrow(ProductTypeName(steps[i].entry.nType)) + "] => [" + Narrow(steps[i].package) + "]";
        EXPECT_NE(LoadTimeLog().find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(sim::FindProduct(*machine_, Fixture("AppleSoftwareUpdate.msi").productCode));
    EXPECT_TRUE(std::filesystem::exists(Host(FileOf(bonjour, "dnssd.dll").path)));
}
