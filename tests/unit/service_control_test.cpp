#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "SimMachineFixture.h"
#include "common/ServiceControl.h"
#include "platform/sim/processes/SimServices.h"

namespace {

using platform::kServiceAutoStart;
using platform::kServiceDemandStart;
using platform::kServiceDisabled;
using platform::kServiceRunning;
using platform::kServiceStopped;

class ServiceControlTest : public SimMachineTest {
protected:
    void Install(const std::wstring& name, uint32_t state, uint32_t startType) {
        sim::ServiceEntry entry;
        entry.name = name;
        entry.state = state;
        entry.startType = startType;
        sim::AddService(*machine_, entry);
    }

    // A handle some other program keeps open on the service.
    std::unique_ptr<platform::IService> HoldOpen(const std::wstring& name) {
        auto manager = Os().Services().OpenManager(platform::kScManagerConnect);
        EXPECT_EQ(manager.Error(), 0u);
        if (!manager) return nullptr;
        auto service = (*manager)->Open(name, platform::kServiceQueryStatus);
        EXPECT_EQ(service.Error(), 0u);
        return service ? service.Take() : nullptr;
    }

    std::optional<sim::ServiceEntry> Find(const std::wstring& name) { return sim::FindService(*machine_, name); }
};

TEST(ServiceStateName, NamesWindowsStatesAndFormatsOthersInLowerHex) {
    const wchar_t* const names[] = {L"STOPPED",          L"START_PENDING", L"STOP_PENDING", L"RUNNING",
                                    L"CONTINUE_PENDING", L"PAUSE_PENDING", L"PAUSED"};
    for (uint32_t state = 1; state <= 7; ++state) EXPECT_EQ(CServiceCtrl::StateName(state), names[state - 1]);
    EXPECT_EQ(CServiceCtrl::StateName(0), L"STATE_0x0");
    EXPECT_EQ(CServiceCtrl::StateName(8), L"STATE_0x8");
    EXPECT_EQ(CServiceCtrl::StateName(0x2A), L"STATE_0x2a");
    // Each unknown value has its own text, not the last one formatted.
    const std::wstring first = CServiceCtrl::StateName(9);
    CServiceCtrl::StateName(10);
    EXPECT_EQ(first, L"STATE_0x9");
}

TEST_F(ServiceControlTest, StateTextFollowsTheServiceOrTheOpenError) {
    Install(L"Bonjour Service", kServiceRunning, kServiceAutoStart);
    Install(L"iPod Service", kServiceStopped, kServiceDemandStart);
    Install(L"Odd Service", 8, kServiceDemandStart);
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"Bonjour Service"), L"RUNNING");
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"BONJOUR SERVICE"), L"RUNNING");  // names ignore case
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"iPod Service"), L"STOPPED");
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"Odd Service"), L"STATE_0x8");
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"No Such Service"), L"OPEN_ERR_0x424");
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L""), L"OPEN_ERR_0x7b");
}

TEST_F(ServiceControlTest, WithoutAdministratorRightsEverythingFailsWithAccessDenied) {
    Install(L"msiserver", kServiceStopped, kServiceDisabled);
    sim::SetAdministrator(*machine_, false);

    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"msiserver"), L"OPEN_ERR_0x5");
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"No Such Service"),
              L"OPEN_ERR_0x5");  // the manager already refused
    EXPECT_FALSE(EnableServiceIfDisabled(platform::Os().Services(), L"msiserver"));
    EXPECT_FALSE(DeleteServiceCheckPending(platform::Os().Services(), L"msiserver"));
    CServiceCtrl control(platform::Os().Services());
    EXPECT_FALSE(control.Open(L"msiserver"));
    EXPECT_FALSE(control.IsOpen());
    EXPECT_EQ(control.GetLastErr(), 5u);
    const auto service = Find(L"msiserver");
    ASSERT_TRUE(service);
    EXPECT_EQ(service->startType, kServiceDisabled);
    EXPECT_FALSE(service->pendingDelete);

    // Looking is still allowed with rights a user has.
    auto held = HoldOpen(L"msiserver");
    ASSERT_TRUE(held);
    platform::ServiceStatus status;
    EXPECT_EQ(held->QueryStatus(status), 0u);
    EXPECT_EQ(status.currentState, kServiceStopped);
}

TEST_F(ServiceControlTest, DeletionCompletesWhenTheLastHandleCloses) {
    Install(L"Apple Mobile Device Service", kServiceStopped, kServiceAutoStart);
    EXPECT_FALSE(DeleteServiceCheckPending(platform::Os().Services(), L"Apple Mobile Device Service"));
    EXPECT_FALSE(Find(L"Apple Mobile Device Service"));
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"Apple Mobile Device Service"), L"OPEN_ERR_0x424");
    EXPECT_FALSE(DeleteServiceCheckPending(platform::Os().Services(),
                                           L"Apple Mobile Device Service"));  // nothing left to delete
}

TEST_F(ServiceControlTest, DeletionStaysPendingWhileAnotherHandleIsOpen) {
    Install(L"Bonjour Service", kServiceStopped, kServiceAutoStart);
    auto elsewhere = HoldOpen(L"Bonjour Service");
    ASSERT_TRUE(elsewhere);

    EXPECT_FALSE(
        DeleteServiceCheckPending(platform::Os().Services(), L"Bonjour Service"));  // marked now: no restart needed yet
    auto marked = Find(L"Bonjour Service");
    ASSERT_TRUE(marked);
    EXPECT_TRUE(marked->pendingDelete);
    EXPECT_EQ(marked->startType, kServiceDisabled);  // Windows disables a marked service
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"Bonjour Service"), L"STOPPED");

    EXPECT_TRUE(DeleteServiceCheckPending(platform::Os().Services(), L"Bonjour Service"));
    CServiceCtrl control(platform::Os().Services());
    ASSERT_TRUE(control.Open(L"Bonjour Service"));
    EXPECT_FALSE(control.Delete());
    EXPECT_EQ(control.GetLastErr(), 1072u);
    // A marked service cannot be re-enabled either.
    EXPECT_FALSE(EnableServiceIfDisabled(platform::Os().Services(), L"Bonjour Service"));
    EXPECT_FALSE(control.ChangeStartType(kServiceAutoStart));
    EXPECT_EQ(control.GetLastErr(), 1072u);

    elsewhere.reset();
    EXPECT_TRUE(Find(L"Bonjour Service"));  // `control` still holds it
    control.Open(L"iPod Service");          // reopening closes the previous handle
    EXPECT_FALSE(Find(L"Bonjour Service"));
}

TEST_F(ServiceControlTest, RunningServiceStaysMarkedUntilItStops) {
    Install(L"iPod Service", kServiceRunning, kServiceAutoStart);
    EXPECT_FALSE(DeleteServiceCheckPending(platform::Os().Services(), L"iPod Service"));
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"iPod Service"), L"RUNNING");
    EXPECT_TRUE(DeleteServiceCheckPending(platform::Os().Services(), L"iPod Service"));

    sim::SetServiceState(*machine_, L"iPod Service", kServiceStopped);
    EXPECT_EQ(GetServiceStateText(platform::Os().Services(), L"iPod Service"), L"OPEN_ERR_0x424");
}

TEST_F(ServiceControlTest, EnablesOnlyADisabledService) {
    Install(L"msiserver", kServiceStopped, kServiceDisabled);
    Install(L"Manual Service", kServiceStopped, kServiceDemandStart);
    Install(L"Auto Service", kServiceRunning, kServiceAutoStart);

    EXPECT_TRUE(EnableServiceIfDisabled(platform::Os().Services(), L"msiserver"));
    EXPECT_EQ(Find(L"msiserver")->startType, kServiceAutoStart);
    EXPECT_FALSE(EnableServiceIfDisabled(platform::Os().Services(), L"msiserver"));  // already enabled

    EXPECT_FALSE(EnableServiceIfDisabled(platform::Os().Services(), L"Manual Service"));
    EXPECT_EQ(Find(L"Manual Service")->startType, kServiceDemandStart);
    EXPECT_FALSE(EnableServiceIfDisabled(platform::Os().Services(), L"Auto Service"));
    EXPECT_FALSE(EnableServiceIfDisabled(platform::Os().Services(), L"No Such Service"));
}

TEST_F(ServiceControlTest, ChangeStartTypeAcceptsOnlyProgramStartTypes) {
    Install(L"msiserver", kServiceStopped, kServiceDemandStart);
    CServiceCtrl control(platform::Os().Services());
    ASSERT_TRUE(control.Open(L"msiserver"));
    uint32_t startType = 0;
    ASSERT_TRUE(control.QueryStartType(startType));
    EXPECT_EQ(startType, kServiceDemandStart);

    EXPECT_TRUE(control.ChangeStartType(kServiceDisabled));
    ASSERT_TRUE(control.QueryStartType(startType));
    EXPECT_EQ(startType, kServiceDisabled);
    EXPECT_FALSE(control.ChangeStartType(platform::kServiceBootStart));  // drivers only
    EXPECT_EQ(control.GetLastErr(), 87u);
    EXPECT_FALSE(control.ChangeStartType(5));
    ASSERT_TRUE(control.QueryStartType(startType));
    EXPECT_EQ(startType, kServiceDisabled);

    // What changed is on disk at once, for the next process to read.
    sim::UseMachine(sim::Machine::Open(folder_));
    EXPECT_EQ(sim::FindService(*sim::CurrentMachine(), L"msiserver")->startType, kServiceDisabled);
}

TEST_F(ServiceControlTest, ClosedWrapperRefusesEveryOperation) {
    CServiceCtrl control(platform::Os().Services());
    uint32_t value = 77;
    EXPECT_FALSE(control.IsOpen());
    EXPECT_FALSE(control.QueryState(value));
    EXPECT_FALSE(control.QueryStartType(value));
    EXPECT_FALSE(control.ChangeStartType(kServiceAutoStart));
    EXPECT_FALSE(control.Delete());
    EXPECT_EQ(value, 77u);
    EXPECT_FALSE(control.Open(L"No Such Service"));
    EXPECT_EQ(control.GetLastErr(), 1060u);
}

TEST_F(ServiceControlTest, HandlesEnforceTheRightsTheyWereOpenedWith) {
    Install(L"Bonjour Service", kServiceRunning, kServiceAutoStart);
    auto readOnly = HoldOpen(L"Bonjour Service");
    ASSERT_TRUE(readOnly);
    platform::ServiceConfig config;
    EXPECT_EQ(readOnly->QueryConfig(config), 5u);
    EXPECT_EQ(readOnly->ChangeStartType(kServiceDisabled), 5u);
    EXPECT_EQ(readOnly->Delete(), 5u);
    EXPECT_FALSE(Find(L"Bonjour Service")->pendingDelete);

    // A manager opened only to connect cannot be used for more than that.
    sim::SetAdministrator(*machine_, false);
    EXPECT_EQ(Os().Services().OpenManager(platform::kGenericRead | platform::kScManagerConnect).Error(), 0u);
    auto manager = Os().Services().OpenManager(platform::kGenericWrite);
    EXPECT_EQ(manager.Error(), 5u);
    EXPECT_FALSE(manager);
}

}  // namespace
