// The one-key install through slot 9: the family's packages from an
// unpacked installer folder, installed by the simulated Windows Installer in
// their fixed order.
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "Brisalen/MsiInstaller.h"
#include "Brisalen/OnekeyIntall.h"
#include "FixturePackages.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

const char* const kX64Family[] = {"iTunes64.msi",  "AppleSoftwareUpdate.msi",     "AppleMobileDeviceSupport64.msi",
                                  "Bonjour64.msi", "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"};

struct Event {
    int state;
    ST_ONEKEY_INSTALL_INFO info;
};

struct Recorder {
    std::vector<Event> events;
    std::function<void(int)> hook;
    std::promise<void> ended;

    static void Callback(void* user, int32_t state, const void* data) {
        auto* self = static_cast<Recorder*>(user);
        self->events.push_back({state, *static_cast<const ST_ONEKEY_INSTALL_INFO*>(data)});
        if (self->hook) self->hook(state);
        if (state == kOneKeyInstallState_All_Complete) self->ended.set_value();
    }
    std::string States() const {
        std::string text;
        for (const Event& e : events) text += std::to_string(e.state);
        return text;
    }
    // The package file of each state 1, in order.
    std::vector<std::wstring> Begun() const {
        std::vector<std::wstring> names;
        for (const Event& e : events) {
            if (e.state == kOneKeyInstallState_Item_Begin) names.push_back(GetFileNameFromPath(e.info.strPackage));
        }
        return names;
    }
    bool WaitEnd() { return ended.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready; }
};

class OneKeyInstallTest : public FixtureMachineTest {
protected:
    void SetUp() override {
        FixtureMachineTest::SetUp();
        CreateDirTree(platform::Os().Files(), CMsiInstaller::Instance().InstallCacheDir());
    }
    void TearDown() override {
        COnekeyIntall::Instance().WaitIdle();
        FixtureMachineTest::TearDown();
    }
    // The packages unpacked into `folder` of the machine.
    std::wstring Unpack(const std::wstring& folder, const std::vector<std::string>& files) {
        for (const std::string& file : files) {
            const std::string host = Host(folder + L"\\" + Utf8ToWide(platform::Os().CodePages(), file));
            std::filesystem::create_directories(std::filesystem::path(host).parent_path());
            std::filesystem::copy_file(FixturePath(file), host, std::filesystem::copy_options::overwrite_existing);
        }
        return folder;
    }
    std::wstring UnpackFamily(const std::wstring& folder) {
        return Unpack(folder, std::vector<std::string>(std::begin(kX64Family), std::end(kX64Family)));
    }
    bool Registered(const std::string& file) { return sim::FindProduct(*machine_, Fixture(file).productCode).has_value(); }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }
};

const std::vector<std::wstring> kOrder = {L"AppleApplicationSupport64.msi", L"AppleApplicationSupport.msi",
                                          L"Bonjour64.msi",                 L"AppleMobileDeviceSupport64.msi",
                                          L"AppleSoftwareUpdate.msi",       L"iTunes64.msi"};

TEST_F(OneKeyInstallTest, FullFolderInstallsSupportFirstAndItunesLast) {
    UnpackFamily(L"C:\\Setup\\iTunes");
    Recorder recorder;
    // Written as a host may write it; the slot normalises it.
    ASSERT_TRUE(CreateFixItuensMgr()->OneKeyInstall(L"C:/Setup//iTunes", Recorder::Callback, &recorder));
    ASSERT_TRUE(recorder.WaitEnd());

    EXPECT_EQ(recorder.States(), "1212121212124");
    EXPECT_EQ(recorder.Begun(), kOrder);
    EXPECT_EQ(recorder.events[0].info.strPackage, L"C:\\Setup\\iTunes\\AppleApplicationSupport64.msi");
    const ST_ONEKEY_INSTALL_INFO& end = recorder.events.back().info;
    EXPECT_TRUE(end.bSuccess);
    EXPECT_EQ(end.nErrorCode, 0);
    EXPECT_TRUE(end.strPackage.empty());
    for (const char* file : kX64Family) EXPECT_TRUE(Registered(file)) << file;
    EXPECT_TRUE(Logged("[OneKeyInstallTheadProc] success!!!\n"));
}

TEST_F(OneKeyInstallTest, AFolderOfThreePackagesIsRefusedWithoutACallback) {
    const std::wstring folder =
        Unpack(L"C:\\Setup", {"iTunes64.msi", "Bonjour64.msi", "AppleApplicationSupport64.msi"});
    Recorder recorder;
    EXPECT_FALSE(CreateFixItuensMgr()->OneKeyInstall(folder, Recorder::Callback, &recorder));
    EXPECT_FALSE(COnekeyIntall::Instance().IsRunning());
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_TRUE(Logged("invalid iTunes unzip path!\n"));
    EXPECT_TRUE(sim::ListProducts(*machine_).empty());
}

TEST_F(OneKeyInstallTest, AFailingPackageStopsTheRestWithItsCode) {
    // Without Apple Software Update: five packages, Bonjour the third.
    Unpack(L"C:\\Setup", {"iTunes64.msi", "AppleMobileDeviceSupport64.msi", "Bonjour64.msi",
                          "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"});
    sim::QueueInstallerResults(*machine_, {0, 0, 1620});
    Recorder recorder;
    ASSERT_TRUE(CreateFixItuensMgr()->OneKeyInstall(L"C:\\Setup", Recorder::Callback, &recorder));
    ASSERT_TRUE(recorder.WaitEnd());

    EXPECT_EQ(recorder.States(), "1212134");
    EXPECT_EQ(recorder.Begun(), std::vector<std::wstring>(kOrder.begin(), kOrder.begin() + 3));
    EXPECT_EQ(recorder.events[5].info.nErrorCode, 1620);
    EXPECT_FALSE(recorder.events.back().info.bSuccess);
    EXPECT_EQ(recorder.events.back().info.nErrorCode, 1620);
    EXPECT_TRUE(Registered("AppleApplicationSupport64.msi"));
    EXPECT_TRUE(Registered("AppleApplicationSupport.msi"));
    for (const char* file : {"Bonjour64.msi", "AppleMobileDeviceSupport64.msi", "iTunes64.msi"}) {
        EXPECT_FALSE(Registered(file)) << file;
    }
    EXPECT_TRUE(Logged("[OneKeyInstallTheadProc] fail!!!\n"));
}

TEST_F(OneKeyInstallTest, ASecondStartIsRefusedButOneFromTheFinalReportIsAccepted) {
    const std::wstring first = UnpackFamily(L"C:\\Setup\\One");
    const std::wstring other = UnpackFamily(L"C:\\Setup\\Two");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Recorder running;
    running.hook = [&](int state) {
        if (state == kOneKeyInstallState_Item_Begin && running.events.size() == 1) released.wait();
    };
    ASSERT_TRUE(CreateFixItuensMgr()->OneKeyInstall(first, Recorder::Callback, &running));
    Recorder intruder;
    EXPECT_FALSE(CreateFixItuensMgr()->OneKeyInstall(other, Recorder::Callback, &intruder));
    release.set_value();
    ASSERT_TRUE(running.WaitEnd());
    EXPECT_EQ(running.States(), "1212121212124");
    for (size_t i = 0; i + 1 < running.events.size(); ++i) {
        EXPECT_EQ(running.events[i].info.strPackage.rfind(first, 0), 0u) << i;
    }
    EXPECT_TRUE(intruder.events.empty());
    EXPECT_TRUE(Logged("[OneKeyInstall] FAIL! (the old task is runing)\n"));

    // Free again by its final report; the new task runs without a callback.
    std::promise<bool> restarted;
    Recorder next;
    next.hook = [&](int state) {
        if (state == kOneKeyInstallState_All_Complete) {
            restarted.set_value(CreateFixItuensMgr()->OneKeyInstall(other, nullptr, nullptr));
        }
    };
    sim::QueueInstallerResults(*machine_, {1620});
    ASSERT_TRUE(CreateFixItuensMgr()->OneKeyInstall(first, Recorder::Callback, &next));
    ASSERT_TRUE(next.WaitEnd());
    EXPECT_TRUE(restarted.get_future().get());
    COnekeyIntall::Instance().WaitIdle();
    const size_t installs = CountOf(LoadTimeLog(), "====[Install] C:\\Setup\\Two\\");
    EXPECT_EQ(installs, 6u) << "the null-callback task installed every package";
}

}  // namespace
