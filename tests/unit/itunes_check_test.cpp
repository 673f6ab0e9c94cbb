// The component check and repair tasks, end to end on a simulated machine
// with the fixture family installed by the simulated Windows Installer.
#include <atomic>
#include <filesystem>
#include <functional>
#include <future>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/MsiInstaller.h"
#include "common/FileHelpers.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "common/TextHelpers.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

struct CheckEvent {
    int state;
    ST_MSI_PRODUCT_UI_INFO info;
};
struct RepairEvent {
    int state;
    ST_REPAIR_PROGRESS_INFO info;
};

void OnCheck(void* user, int32_t state, const void* data) {
    static_cast<std::vector<CheckEvent>*>(user)->push_back(
        {state, *static_cast<const ST_MSI_PRODUCT_UI_INFO*>(data)});
}
void OnRepair(void* user, int32_t state, const void* data) {
    static_cast<std::vector<RepairEvent>*>(user)->push_back(
        {state, *static_cast<const ST_REPAIR_PROGRESS_INFO*>(data)});
}

// "type:state" for each item callback and "S" for the summary.
std::string Sequence(const std::vector<CheckEvent>& events) {
    std::string text;
    for (const CheckEvent& e : events) {
        if (!text.empty()) text += ' ';
        text += e.state == 6 ? std::string("S") : std::to_string(e.info.nType) + ":" + std::to_string(e.state);
    }
    return text;
}
std::string Sequence(const std::vector<RepairEvent>& events) {
    std::string text;
    for (const RepairEvent& e : events) {
        if (!text.empty()) text += ' ';
        text += e.state == 4 ? std::string("E") : std::to_string(e.info.nType) + ":" + std::to_string(e.state);
    }
    return text;
}

// A callback that holds its task at the first report until released, so a
// test can try a second start while the first one runs.
struct FirstCallBlocker {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};

    static void Callback(void* user, int32_t, const void*) {
        auto* self = static_cast<FirstCallBlocker*>(user);
        if (self->calls++ == 0) self->released.wait();
    }
    void Release() { release.set_value(); }
};

}  // namespace

class ItunesCheckTest : public FixtureMachineTest {
protected:
    void TearDown() override {
        CItunesCheck::Instance().WaitIdle();
        FixtureMachineTest::TearDown();
    }
    void SetProperty(const std::string& file, const std::wstring& name, const std::wstring& value) {
        sim::InstalledProduct product = *sim::FindProduct(*machine_, Fixture(file).productCode);
        product.properties[name] = value;
        sim::RegisterProduct(*machine_, product);
    }
    // Bonjour installed with one of its files gone.
    void DamageBonjour() {
        Install("Bonjour64.msi");
        std::filesystem::remove(Host(FileOf(Fixture("Bonjour64.msi"), "dnssd.dll").path));
    }
    std::wstring CachedPackage(const std::string& file) {
        return sim::FindProduct(*machine_, Fixture(file).productCode)->properties.at(L"LocalPackage");
    }
    std::vector<CheckEvent> Check(bool verifyFiles = false) {
        std::vector<CheckEvent> events;
        EXPECT_TRUE(CItunesCheck::Instance().CheckAllItunesComponent(OnCheck, &events, verifyFiles));
        CItunesCheck::Instance().WaitIdle();
        return events;
    }
    std::vector<RepairEvent> Repair(bool badOnly, const std::wstring& folder = L"") {
        std::vector<RepairEvent> events;
        EXPECT_TRUE(CItunesCheck::Instance().RepairAllItunesComponent(badOnly, folder, OnRepair, &events));
        CItunesCheck::Instance().WaitIdle();
        return events;
    }
    // The family's packages unpacked into a folder of the machine.
    std::wstring PackageFolder(std::initializer_list<const char*> files) {
        for (const char* file : files) {
            const std::string host = Host(L"C:\\Setup\\" + Utf8ToWide(platform::Os().CodePages(), file));
            std::filesystem::create_directories(std::filesystem::path(host).parent_path());
            std::filesystem::copy_file(FixturePath(file), host, std::filesystem::copy_options::overwrite_existing);
        }
        return L"C:\\Setup";
    }
    const CheckEvent& Final(const std::vector<CheckEvent>& events, int type) {
        for (auto e = events.rbegin(); e != events.rend(); ++e) {
            if (e->info.nType == type) return *e;
        }
        throw std::runtime_error("no event for the type");
    }
};

TEST_F(ItunesCheckTest, SoundFamilyReportsEachProductCheckedAndSound) {
    InstallFamily();
    const std::vector<CheckEvent> events = Check();
    EXPECT_EQ(Sequence(events), "1:1 1:2 2:1 2:2 3:1 3:2 4:1 4:2 5:1 5:2 6:1 6:2 S");
    const ST_MSI_PRODUCT_UI_INFO& bonjour = Final(events, kProductBonjour).info;
    EXPECT_EQ(bonjour.strProductName, L"Bonjour");
    EXPECT_EQ(bonjour.strVersion, L"3.1.0.1");
    EXPECT_EQ(bonjour.nInstalledCount, 6);
    EXPECT_GT(bonjour.nCheckedFiles, 0);
    EXPECT_FALSE(bonjour.bNeedPackage);
    EXPECT_EQ(bonjour.strServices.rfind(L"Bonjour Service:[", 0), 0u);
    EXPECT_TRUE(Final(events, kProductAppleSoftwareUpdate).info.strServices.empty());
    EXPECT_EQ(events.back().info.nRepairCount, 0);
    EXPECT_EQ(events.back().info.nInstalledCount, 0);
    EXPECT_TRUE(CItunesCheck::Instance().RepairList().empty());
    EXPECT_TRUE(CItunesCheck::Instance().IsItunes64Bit());
}

TEST_F(ItunesCheckTest, DamagedAndMissingProductsLandInTheRepairList) {
    for (const char* file : kX64Family) {
        if (std::string(file) != "Bonjour64.msi") Install(file);
    }
    const FixturePackage& support = Fixture("AppleMobileDeviceSupport64.msi");
    const FixtureFile& resized = FileOf(support, "MDCrashReportTool.exe");
    const FixtureFile& deleted = FileOf(support, "MobileDevice32.dll");
    std::filesystem::resize_file(Host(resized.path), 3);
    std::filesystem::remove(Host(deleted.path));

    const std::vector<CheckEvent> events = Check();
    EXPECT_EQ(Sequence(events), "1:1 1:2 2:1 2:2 3:1 3:5 4:1 4:4 5:1 5:2 6:1 6:2 S");
    const ST_MSI_PRODUCT_UI_INFO& bad = Final(events, kProductMobileDeviceSupport).info;
    EXPECT_EQ(bad.strMessage, L" File Miss or bad");
    ASSERT_EQ(bad.vecFiles.size(), 2u);  // the wrong-sized file first
    EXPECT_EQ(AsciiLower(bad.vecFiles[0]), AsciiLower(resized.path));
    EXPECT_EQ(AsciiLower(bad.vecFiles[1]), AsciiLower(deleted.path));
    const ST_MSI_PRODUCT_UI_INFO& missing = Final(events, kProductBonjour).info;
    EXPECT_EQ(missing.strMessage, L"Product Missing");
    EXPECT_TRUE(missing.bNeedPackage);
    EXPECT_EQ(events.back().info.nRepairCount, 2);
    EXPECT_TRUE(events.back().info.bNeedPackage);  // the missing product has no cached package

    const auto repairs = CItunesCheck::Instance().RepairList();
    ASSERT_EQ(repairs.size(), 2u);
    EXPECT_EQ(repairs[0].nType, kProductMobileDeviceSupport);
    EXPECT_EQ(repairs[0].nKind, kRepairKindDamaged);
    EXPECT_EQ(repairs[0].strProductCode, support.productCode);
    EXPECT_EQ(repairs[0].strPackageName, L"AppleMobileDeviceSupport64.msi");
    EXPECT_EQ(repairs[1].nType, kProductBonjour);
    EXPECT_EQ(repairs[1].nKind, kRepairKindMissing);
    EXPECT_TRUE(repairs[1].strProductCode.empty());
    EXPECT_NE(LoadTimeLog().find("Need Download iTunes install package!"), std::string::npos);
}

TEST_F(ItunesCheckTest, SkipsFollowTheItunesVersionAndTheWindowsBitness) {
    InstallFamily();
    SetProperty("iTunes64.msi", L"VersionString", L"12.7.0.166");
    EXPECT_EQ(Sequence(Check()), "1:1 1:2 2:1 2:2 3:1 3:2 5:1 5:2 6:1 6:2 S");
    SetProperty("iTunes64.msi", L"VersionString", L"12.10.0");
    EXPECT_EQ(Sequence(Check()).substr(0, 32), "1:1 1:2 2:1 2:2 3:1 3:2 4:1 4:2 ");
    EXPECT_NE(LoadTimeLog().find("itunes[12.7.0.166]not need check bonjour service!!!"), std::string::npos);

    // Which products are reported, not their verdicts: products installed
    // for 64-bit Windows are no fair test of the files once it turns 32-bit.
    machine_->SetWindows(sim::WindowsRelease::Windows10, false);
    std::string types;
    for (const CheckEvent& e : Check()) types += e.state == 6 ? "S" : std::to_string(e.info.nType);
    EXPECT_EQ(types, "1122334455S");
}

TEST_F(ItunesCheckTest, UnverifiableAndFolderlessProducts) {
    InstallFamily();
    // No cached package: not sure, and nothing to repair.
    std::filesystem::remove(Host(CachedPackage("Bonjour64.msi")));
    // Registered without a folder: uninstalled and reported missing.
    SetProperty("AppleSoftwareUpdate.msi", L"InstallLocation", L"");
    const std::vector<CheckEvent> events = Check();
    EXPECT_EQ(Sequence(events), "1:1 1:2 2:1 2:4 3:1 3:2 4:1 4:3 5:1 5:2 6:1 6:2 S");
    EXPECT_TRUE(Final(events, kProductBonjour).info.bNeedPackage);
    const auto repairs = CItunesCheck::Instance().RepairList();
    ASSERT_EQ(repairs.size(), 1u);
    EXPECT_EQ(repairs[0].nKind, kRepairKindMissing);
    EXPECT_EQ(repairs[0].strProductCode, Fixture("AppleSoftwareUpdate.msi").productCode);
    EXPECT_FALSE(sim::FindProduct(*machine_, Fixture("AppleSoftwareUpdate.msi").productCode));
}

TEST_F(ItunesCheckTest, RetiredListRouteCallsEveryInstalledProductSound) {
    InstallFamily();
    std::filesystem::remove(Host(FileOf(Fixture("Bonjour64.msi"), "dnssd.dll").path));
    const std::vector<CheckEvent> events = Check(true);
    EXPECT_EQ(Sequence(events), "1:1 1:2 2:1 2:2 3:1 3:2 4:1 4:2 5:1 5:2 6:1 6:2 S");
    EXPECT_EQ(Final(events, kProductBonjour).info.nCheckedFiles, 0);
}

TEST_F(ItunesCheckTest, SecondStartIsRefusedAndANullCallbackStillFillsTheList) {
    FirstCallBlocker blocker;
    CItunesCheck& check = CItunesCheck::Instance();
    ASSERT_TRUE(check.CheckAllItunesComponent(FirstCallBlocker::Callback, &blocker, false));
    EXPECT_FALSE(check.CheckAllItunesComponent(OnCheck, nullptr, false));
    blocker.Release();
    check.WaitIdle();
    EXPECT_EQ(blocker.calls.load(), 13);  // nothing installed: six misses and the summary
    EXPECT_NE(LoadTimeLog().find("ERR:check fail because last Task is Running!\n"), std::string::npos);

    ASSERT_TRUE(check.CheckAllItunesComponent(nullptr, nullptr, false));
    check.WaitIdle();
    EXPECT_EQ(check.RepairList().size(), 6u);
}

TEST_F(ItunesCheckTest, PackageLookupInAnUnpackedInstallerFolder) {
    // A Chinese Windows, whose OEM code page writes the log's Chinese text.
    machine_->Edit([](sim::MachineState& state) { state.codePages.oem = 936; });
    std::vector<std::wstring> packages;
    const std::wstring three = PackageFolder({"iTunes64.msi", "Bonjour64.msi", "AppleApplicationSupport64.msi"});
    EXPECT_FALSE(CItunesCheck::Instance().CheckItuensPackageFile(three, packages));
    EXPECT_EQ(packages.size(), 3u);
    EXPECT_NE(LoadTimeLog().find("\xCE\xC4\xBC\xFE\xB8\xF6\xCA\xFD=3"), std::string::npos);
    WriteFile(L"C:\\Setup\\sub\\APPLEMOBILEDEVICESUPPORT6464.msi", 10);
    EXPECT_TRUE(CItunesCheck::Instance().CheckItuensPackageFile(three, packages));
    std::wstring path;
    ASSERT_TRUE(CItunesCheck::Instance().FindComponentPackage(kProductMobileDeviceSupport, three, path));
    EXPECT_EQ(path, L"C:\\Setup\\sub\\APPLEMOBILEDEVICESUPPORT6464.msi");
    // The 64-bit package never passes for the 32-bit one.
    EXPECT_FALSE(CItunesCheck::Instance().FindComponentPackage(kProductAppleApplicationSupport, three, path));
    EXPECT_FALSE(CItunesCheck::Instance().FindComponentPackage(7, three, path));
}

class ItunesRepairTest : public ItunesCheckTest {
protected:
    void SetUp() override {
        ItunesCheckTest::SetUp();
        // The installer empties and creates its package cache once per
        // process, on whichever machine came first.
        CreateDirTree(platform::Os().Files(), CMsiInstaller::Instance().InstallCacheDir());
    }
};

TEST_F(ItunesRepairTest, NothingToRepairOrTooFewPackagesRefuseTheStart) {
    std::vector<RepairEvent> events;
    InstallFamily();
    Check();
    EXPECT_FALSE(CItunesCheck::Instance().RepairAllItunesComponent(true, L"", OnRepair, &events));
    for (const char* file : kX64Family) {
        ASSERT_EQ(Os().Installer().ConfigureProduct(Fixture(file).productCode, platform::kInstallLevelDefault,
                                                    platform::kInstallStateAbsent),
                  0u);
    }
    Check();  // six missing
    const std::wstring folder = PackageFolder({"iTunes64.msi", "Bonjour64.msi", "AppleApplicationSupport64.msi"});
    EXPECT_FALSE(CItunesCheck::Instance().RepairAllItunesComponent(false, folder, OnRepair, &events));
    EXPECT_TRUE(events.empty());
    EXPECT_NE(LoadTimeLog().find("Ituens"), std::string::npos);  // the refusal line, in the OEM code page
}

TEST_F(ItunesRepairTest, BadOnlyRepairReinstallsTheDamagedProductFromItsCachedPackage) {
    for (const char* file : kX64Family) {
        if (std::string(file) != "iTunes64.msi") Install(file);
    }
    const FixtureFile& damaged = FileOf(Fixture("Bonjour64.msi"), "mDNSResponder.exe");
    std::filesystem::remove(Host(damaged.path));
    Check();
    const std::vector<RepairEvent> events = Repair(true);
    EXPECT_EQ(Sequence(events), "4:1 4:2 E");
    EXPECT_TRUE(events.back().info.bSuccess);
    EXPECT_EQ(events.back().info.nErrorCode, 0);
    EXPECT_TRUE(std::filesystem::exists(Host(damaged.path)));
    EXPECT_EQ(Sequence(Check()), "1:1 1:4 2:1 2:2 3:1 3:2 4:1 4:2 5:1 5:2 6:1 6:2 S");
}

TEST_F(ItunesRepairTest, FullRepairInstallsMissingProductsFromTheFolder) {
    Install("iTunes64.msi");
    Check();
    const std::wstring folder = PackageFolder({"iTunes64.msi", "AppleSoftwareUpdate.msi",
                                               "AppleMobileDeviceSupport64.msi", "Bonjour64.msi",
                                               "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"});
    const std::vector<RepairEvent> events = Repair(false, folder);
    EXPECT_EQ(Sequence(events), "2:1 2:2 3:1 3:2 4:1 4:2 5:1 5:2 6:1 6:2 E");
    EXPECT_EQ(Sequence(Check()), "1:1 1:2 2:1 2:2 3:1 3:2 4:1 4:2 5:1 5:2 6:1 6:2 S");
}

TEST_F(ItunesRepairTest, FirstFailureEndsTheTaskWithItsCode) {
    Install("iTunes64.msi");
    Install("AppleSoftwareUpdate.msi");
    Install("AppleMobileDeviceSupport64.msi");
    Check();  // Bonjour and both Application Supports missing
    const std::wstring folder = PackageFolder({"iTunes64.msi", "AppleSoftwareUpdate.msi",
                                               "AppleMobileDeviceSupport64.msi", "Bonjour64.msi",
                                               "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"});
    sim::QueueInstallerResults(*machine_, {1620});
    const std::vector<RepairEvent> events = Repair(false, folder);
    EXPECT_EQ(Sequence(events), "4:1 4:3 E");
    EXPECT_EQ(events[1].info.strMessage, L"安装失败(err = 0x654)");
    EXPECT_FALSE(events.back().info.bSuccess);
    EXPECT_EQ(events.back().info.nErrorCode, 1620);
    EXPECT_FALSE(sim::FindProduct(*machine_, Fixture("AppleApplicationSupport.msi").productCode));
}

TEST_F(ItunesRepairTest, DamagedProductWithoutAnyPackageFailsWithMinusFour) {
    DamageBonjour();
    Check();
    std::filesystem::remove(Host(CachedPackage("Bonjour64.msi")));
    const std::vector<RepairEvent> events = Repair(true);
    EXPECT_EQ(Sequence(events), "4:1 4:3 E");
    EXPECT_EQ(events[1].info.nErrorCode, -4);
    EXPECT_EQ(events.back().info.nErrorCode, -4);
    EXPECT_EQ(events[1].info.strMessage.rfind(L"ERR:", 0), 0u);
}

TEST_F(ItunesRepairTest, SecondRepairStartIsRefusedWhileOneRuns) {
    DamageBonjour();
    Check();
    FirstCallBlocker blocker;
    CItunesCheck& check = CItunesCheck::Instance();
    ASSERT_TRUE(check.RepairAllItunesComponent(true, L"", FirstCallBlocker::Callback, &blocker));
    std::vector<RepairEvent> events;
    EXPECT_FALSE(check.RepairAllItunesComponent(true, L"", OnRepair, &events));
    blocker.Release();
    check.WaitIdle();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(blocker.calls.load(), 3);  // begin, success, end of the first repair only
    EXPECT_EQ(CountOf(LoadTimeLog(), "Find : [Bonjour]"), 1u);
}

// ---- How the tasks end ------------------------------------------------------

namespace {

// A host callback that records what it hears, throws what it is told to at
// one state, and at the final state tries to start another task of the same
// kind.
struct HostProbe {
    int throwAtState = 0;
    bool throwOutOfMemory = false;
    int finalState = 0;
    std::function<bool()> restart;
    std::vector<int> states;
    std::vector<std::wstring> messages;
    int finalError = 0;
    bool finalSuccess = true;
    std::optional<bool> restartAccepted;

    static void OnCheck(void* user, int32_t state, const void* data) {
        auto* self = static_cast<HostProbe*>(user);
        self->messages.push_back(static_cast<const ST_MSI_PRODUCT_UI_INFO*>(data)->strMessage);
        self->Heard(state);
    }
    static void OnRepair(void* user, int32_t state, const void* data) {
        auto* self = static_cast<HostProbe*>(user);
        const auto* info = static_cast<const ST_REPAIR_PROGRESS_INFO*>(data);
        if (state == self->finalState) {
            self->finalError = info->nErrorCode;
            self->finalSuccess = info->bSuccess;
        }
        self->Heard(state);
    }
    void Heard(int state) {
        states.push_back(state);
        if (state == finalState && restart) restartAccepted = restart();
        if (state != throwAtState) return;
        if (throwOutOfMemory) throw std::bad_alloc();
        throw std::runtime_error("host callback failed");
    }
};

}  // namespace

TEST_F(ItunesRepairTest, EachKindReportsItsEndBeforeItCanStartAgain) {
    DamageBonjour();
    CItunesCheck& check = CItunesCheck::Instance();

    HostProbe checkProbe;
    checkProbe.finalState = kCheckItunesProductState_All_CheckComplete;
    checkProbe.restart = [&] { return check.CheckAllItunesComponent(nullptr, nullptr, false); };
    ASSERT_TRUE(check.CheckAllItunesComponent(HostProbe::OnCheck, &checkProbe, false));
    check.WaitIdle();
    EXPECT_EQ(checkProbe.restartAccepted, std::optional<bool>(false)) << "the check is still claimed in its report";

    HostProbe repairProbe;
    repairProbe.finalState = kRepairItunesState_All_Complete;
    repairProbe.restart = [&] { return check.RepairAllItunesComponent(true, L"", nullptr, nullptr); };
    ASSERT_TRUE(check.RepairAllItunesComponent(true, L"", HostProbe::OnRepair, &repairProbe));
    check.WaitIdle();
    EXPECT_EQ(repairProbe.restartAccepted, std::optional<bool>(false)) << "the repair is still claimed in its report";
    EXPECT_TRUE(repairProbe.finalSuccess);
}

TEST_F(ItunesRepairTest, ABodyThatThrowsStillSendsItsFinalReportAsAFailure) {
    DamageBonjour();
    CItunesCheck& check = CItunesCheck::Instance();

    HostProbe checkProbe;
    checkProbe.throwAtState = kCheckItunesProductState_Item_Checking;
    ASSERT_TRUE(check.CheckAllItunesComponent(HostProbe::OnCheck, &checkProbe, false));
    check.WaitIdle();
    EXPECT_EQ(checkProbe.states, (std::vector<int>{1, 6}));
    EXPECT_EQ(checkProbe.messages.back().rfind(L"ERR:check failed (host callback failed)", 0), 0u);

    // A complete check, then a repair that runs out of memory.
    ASSERT_TRUE(check.CheckAllItunesComponent(nullptr, nullptr, false));
    check.WaitIdle();
    HostProbe repairProbe;
    repairProbe.finalState = kRepairItunesState_All_Complete;
    repairProbe.throwAtState = kRepairItunesState_Item_Begin;
    repairProbe.throwOutOfMemory = true;
    ASSERT_TRUE(check.RepairAllItunesComponent(true, L"", HostProbe::OnRepair, &repairProbe));
    check.WaitIdle();
    EXPECT_EQ(repairProbe.states, (std::vector<int>{1, 4}));
    EXPECT_FALSE(repairProbe.finalSuccess);
    EXPECT_EQ(repairProbe.finalError, 8) << "ERROR_NOT_ENOUGH_MEMORY";
    EXPECT_NE(LoadTimeLog().find("ERR:task ended by an exception (out of memory), error 8"), std::string::npos);
}

TEST_F(ItunesRepairTest, AFinalReportThatThrowsStillReleasesTheKind) {
    DamageBonjour();
    CItunesCheck& check = CItunesCheck::Instance();
    HostProbe checkProbe;
    checkProbe.throwAtState = kCheckItunesProductState_All_CheckComplete;
    ASSERT_TRUE(check.CheckAllItunesComponent(HostProbe::OnCheck, &checkProbe, false));
    check.WaitIdle();
    ASSERT_TRUE(check.CheckAllItunesComponent(nullptr, nullptr, false)) << "the check kind stayed claimed";
    check.WaitIdle();

    for (int attempt = 0; attempt < 2; ++attempt) {
        HostProbe repairProbe;
        repairProbe.throwAtState = kRepairItunesState_All_Complete;
        ASSERT_TRUE(check.RepairAllItunesComponent(true, L"", HostProbe::OnRepair, &repairProbe))
            << "the repair kind stayed claimed after attempt " << attempt;
        check.WaitIdle();
        EXPECT_EQ(repairProbe.states.back(), kRepairItunesState_All_Complete);
    }
}
