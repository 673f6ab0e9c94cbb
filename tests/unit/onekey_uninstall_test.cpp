// The one-key uninstall through slot 8, on a simulated machine with the
// fixture family installed by the simulated Windows Installer: what it
// reports, what it leaves, and that nothing outside the family's folders
// goes with it.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "Brisalen/MsiInstaller.h"
#include "Brisalen/OneKeyuninstall.h"
#include "FixturePackages.h"
#include "OneKeyMachineTest.h"
#include "common/FileHelpers.h"
#include "platform/KnownFolders.h"
#include "platform/sim/processes/SimLibraries.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;

// The six user data roots on the default machine, in their order.
const std::vector<std::wstring> kRoots = {
    L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer", L"C:\\Users\\Tarn\\AppData\\Local\\Apple",
    L"C:\\Users\\Tarn\\AppData\\Local\\Apple Computer",   L"C:\\ProgramData\\Apple",
    L"C:\\ProgramData\\Apple Computer",                   L"C:\\Users\\Tarn\\Music\\iTunes",
};

struct Event {
    int state;
    ST_ONEKEY_UNINSTALL_INFO info;
};

// Hears one run: every report, an optional hook per report, and the end.
struct Recorder {
    std::vector<Event> events;
    std::function<void(const Event&)> hook;
    std::promise<void> ended;

    static void Callback(void* user, int32_t state, const void* data) {
        auto* self = static_cast<Recorder*>(user);
        self->events.push_back({state, *static_cast<const ST_ONEKEY_UNINSTALL_INFO*>(data)});
        if (self->hook) self->hook(self->events.back());
        if (state == kOneKeyUninstallState_All_UninstallComplete) self->ended.set_value();
    }
    // "type:state" for products, D a residual folder, U a user data folder,
    // E the end.
    std::string Sequence() const {
        std::string text;
        for (const Event& e : events) {
            if (!text.empty()) text += ' ';
            switch (e.state) {
                case 4: text += 'D'; break;
                case 5: text += 'U'; break;
                case 6: text += 'E'; break;
                default: text += std::to_string(e.info.nType) + ":" + std::to_string(e.state);
            }
        }
        return text;
    }
    std::vector<std::wstring> Paths(int state) const {
        std::vector<std::wstring> paths;
        for (const Event& e : events) {
            if (e.state == state) paths.push_back(e.info.strPath);
        }
        return paths;
    }
    const ST_ONEKEY_UNINSTALL_INFO& Final() const { return events.back().info; }
};

class OneKeyUninstallTest : public OneKeyMachineTest {
protected:
    bool Registered(const std::string& file) { return sim::FindProduct(*machine_, Fixture(file).productCode).has_value(); }
    bool Exists(const std::wstring& path) { return Os().Files().Exists(path); }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }
    // Starts the task through slot 8 and waits for its final report.
    void Run(Recorder& recorder, bool deleteUserData = false, bool* cancel = nullptr) {
        ASSERT_TRUE(CreateFixItuensMgr()->OneKeyUninstall(Recorder::Callback, &recorder, deleteUserData, cancel));
        ASSERT_EQ(recorder.ended.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
        COneKeyuninstall::Instance().WaitIdle();
    }
};

// ---- The run and its reports ------------------------------------------------

TEST_F(OneKeyUninstallTest, WholeFamilyGoesInTypeOrderWithItsLeftoversAndUserData) {
    InstallFamily();
    // Left behind beside the products: Apple folders the packages do not own,
    // one with its program still running, and the user's iTunes data.
    WriteFile(L"C:\\Program Files (x86)\\iTunes\\old.dll", 4);
    WriteFile(L"C:\\Program Files\\Common Files\\Apple\\CoreFP\\CoreFP.dll", 4);
    const std::wstring ipod = L"C:\\Program Files\\iPod\\bin\\iPodService.exe";
    WriteFile(ipod, 4);
    const uint32_t service = sim::AddProcess(*machine_, ipod, {}, {ipod});
    WriteFile(kRoots[0] + L"\\Preferences\\com.apple.iTunes.plist", 4);
    WriteFile(kRoots[5] + L"\\iTunes Library.itl", 4);

    Recorder recorder;
    Run(recorder, true);

    EXPECT_EQ(recorder.Sequence(), "1:1 1:2 2:1 2:2 3:1 3:2 4:1 4:2 5:1 5:2 6:1 6:2 D D D U U U E");
    EXPECT_EQ(recorder.events[0].info.strProductName, L"iTunes");
    EXPECT_EQ(recorder.events[11].info.strProductName, L"Apple Application Support (64-bit)");
    EXPECT_EQ(recorder.Paths(4), (std::vector<std::wstring>{L"c:\\program files (x86)\\itunes",
                                                            L"c:\\program files\\common files\\apple\\corefp",
                                                            L"c:\\program files\\ipod"}));
    EXPECT_EQ(recorder.Paths(5), (std::vector<std::wstring>{kRoots[0] + L"\\", kRoots[0] + L"\\Preferences\\",
                                                            kRoots[5] + L"\\"}));
    const ST_ONEKEY_UNINSTALL_INFO& end = recorder.Final();
    EXPECT_TRUE(end.bSuccess);
    EXPECT_EQ(end.nErrorCode, 0);
    EXPECT_TRUE(end.vecFiles.empty());
    EXPECT_TRUE(end.strMessage.empty());
    EXPECT_EQ(end.nType, 0);

    EXPECT_TRUE(sim::ListProducts(*machine_).empty());
    EXPECT_FALSE(sim::IsRunning(*machine_, service));
    for (const wchar_t* gone : {L"C:\\Program Files (x86)\\iTunes", L"C:\\Program Files\\iPod",
                                L"C:\\Program Files\\Common Files\\Apple\\CoreFP", kRoots[0].c_str(),
                                kRoots[5].c_str()}) {
        EXPECT_FALSE(Exists(gone)) << sim::ToUtf8(gone);
    }
    EXPECT_TRUE(Logged("Ready uninstall 6 module..."));
    EXPECT_TRUE(Logged("not find any Residual file!"));
    EXPECT_TRUE(Logged("WARN:not check Micro App Store iTunes"));
}

TEST_F(OneKeyUninstallTest, WithoutAnyProductTheAppleFoldersStillGo) {
    WriteFile(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll", 4);
    WriteFile(L"C:\\Program Files (x86)\\Common Files\\Apple\\Apple Application Support\\a.dll", 4);
    Recorder recorder;
    Run(recorder);
    EXPECT_EQ(recorder.Sequence(), "D D E");
    EXPECT_TRUE(recorder.Final().bSuccess);
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));
    EXPECT_FALSE(Exists(L"C:\\Program Files (x86)\\Common Files\\Apple\\Apple Application Support"));
    EXPECT_TRUE(Logged("Ready uninstall 0 module..."));
}

TEST_F(OneKeyUninstallTest, AFailedUninstallLeavesTheOthersGoingAndTheLastCodeWins) {
    // Without MsiZap.exe nothing wipes a registration Windows Installer kept.
    ASSERT_EQ(Os().Files().DeleteFile(CMsiInstaller::Instance().MsiZapPath()), 0u);
    Install("Bonjour64.msi");
    Install("AppleApplicationSupport.msi");
    Install("AppleApplicationSupport64.msi");
    WriteFile(kRoots[3] + L"\\data.bin", 4);

    // Bonjour, the first, fails; the later successes leave their code.
    sim::QueueInstallerResults(*machine_, {platform::kErrInstallFailure});
    Recorder first;
    Run(first, true);
    EXPECT_EQ(first.Sequence(), "4:1 4:2 5:1 5:2 6:1 6:2 E");
    EXPECT_FALSE(first.Final().bSuccess);
    EXPECT_EQ(first.Final().nErrorCode, 0);
    EXPECT_TRUE(Registered("Bonjour64.msi"));
    EXPECT_FALSE(Registered("AppleApplicationSupport.msi"));
    EXPECT_FALSE(Registered("AppleApplicationSupport64.msi"));
    EXPECT_TRUE(Exists(kRoots[3] + L"\\data.bin")) << "no user data goes after a failure";

    // Now the last one fails.
    sim::QueueInstallerResults(*machine_, {platform::kErrInstallFailure});
    Recorder second;
    Run(second, true);
    EXPECT_EQ(second.Sequence(), "4:1 4:2 E");
    EXPECT_FALSE(second.Final().bSuccess);
    EXPECT_EQ(second.Final().nErrorCode, 1603);
    EXPECT_TRUE(Logged("One key uninstall fail! err = 0x643"));
    EXPECT_TRUE(Exists(kRoots[3] + L"\\data.bin"));
}

TEST_F(OneKeyUninstallTest, HeldLeftoversEndTheRunWithMinusTwoUnlessTheirProgramCanBeEnded) {
    // Held by programs that run from elsewhere, so ending the processes
    // of the folder does not free them.
    const std::wstring dll = L"C:\\Program Files\\iTunes\\Zeta.dll";
    const std::wstring text = L"C:\\Program Files\\iTunes\\Plug-ins\\alpha.TXT";
    const std::wstring helper = L"C:\\Program Files\\iTunes\\iTunesHelper.exe";
    for (const std::wstring& file : {dll, text, helper}) WriteFile(file, 4);
    const uint32_t explorer = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe", {}, {dll, text});
    // Runs as a copy of the same program: only its name finds it.
    const uint32_t copy = sim::AddProcess(*machine_, L"C:\\Users\\Tarn\\Downloads\\iTunesHelper.exe", {}, {helper});
    WriteFile(kRoots[1] + L"\\keep.dat", 4);

    Recorder recorder;
    Run(recorder, true);

    const ST_ONEKEY_UNINSTALL_INFO& end = recorder.Final();
    EXPECT_FALSE(end.bSuccess);
    EXPECT_EQ(end.nErrorCode, COneKeyuninstall::kFilesRemain);
    EXPECT_EQ(end.strMessage, L"2 Files Cannot be delete");
    EXPECT_EQ(end.vecFiles, (std::vector<std::wstring>{L"c:\\program files\\itunes\\plug-ins\\alpha.txt",
                                                       L"c:\\program files\\itunes\\zeta.dll"}));
    EXPECT_TRUE(sim::IsRunning(*machine_, explorer));
    EXPECT_FALSE(sim::IsRunning(*machine_, copy));
    EXPECT_FALSE(Exists(helper));
    EXPECT_TRUE(Logged("=> there are [1] exe in Residual file,try kill those processes..."));
    EXPECT_TRUE(Logged("Find [2] Residual file"));
    EXPECT_TRUE(Exists(kRoots[1] + L"\\keep.dat")) << "no user data goes while files remain";
}

TEST_F(OneKeyUninstallTest, CancelDuringUserDataLeavesTheRestAndEndsWithMinusOne) {
    WriteFile(kRoots[0] + L"\\sub\\a.txt", 4);
    WriteFile(kRoots[1] + L"\\a\\x.txt", 4);
    WriteFile(kRoots[1] + L"\\b\\y.txt", 4);
    for (size_t i = 2; i < kRoots.size(); ++i) WriteFile(kRoots[i] + L"\\f.txt", 4);

    bool cancel = true;  // the start clears it
    Recorder recorder;
    recorder.hook = [&](const Event& e) {
        if (e.state == kOneKeyUninstallState_DeleteUserDataDir && e.info.strPath == kRoots[1] + L"\\a\\") {
            cancel = true;
        }
    };
    Run(recorder, true, &cancel);

    EXPECT_EQ(recorder.Paths(5), (std::vector<std::wstring>{kRoots[0] + L"\\", kRoots[0] + L"\\sub\\",
                                                            kRoots[1] + L"\\", kRoots[1] + L"\\a\\"}));
    EXPECT_EQ(recorder.Final().nErrorCode, COneKeyuninstall::kCancelled);
    EXPECT_TRUE(recorder.Final().bSuccess);
    EXPECT_TRUE(recorder.Final().vecFiles.empty());
    EXPECT_FALSE(Exists(kRoots[0]));
    EXPECT_TRUE(Exists(kRoots[1] + L"\\a\\x.txt"));
    EXPECT_TRUE(Exists(kRoots[1] + L"\\b\\y.txt"));
    for (size_t i = 2; i < kRoots.size(); ++i) EXPECT_TRUE(Exists(kRoots[i] + L"\\f.txt")) << i;
    EXPECT_TRUE(Logged("[COneKeyuninstall] user cancle!\n"));
    EXPECT_TRUE(Logged("delete user data is canle,final ret value = -1"));
}

// ---- What the guard keeps ---------------------------------------------------

TEST_F(OneKeyUninstallTest, AnItunesFolderThatDoesNotSayItunesIsNeverQueued) {
    Install("iTunes64.msi");
    Install("AppleSoftwareUpdate.msi");
    BendInstallLocation("iTunes64.msi", L"C:\\");
    WriteFile(L"C:\\root.txt", 4);
    // A running program keeps its folder through the product's uninstall;
    // the one-key run ends it and takes the folder.
    const std::wstring updater = Fixture("AppleSoftwareUpdate.msi").installDir + L"SoftwareUpdate.exe";
    WriteFile(updater, 4);
    const uint32_t running = sim::AddProcess(*machine_, updater, {}, {updater});

    Recorder recorder;
    Run(recorder);

    EXPECT_TRUE(Logged("#######not delete Residual file1!!!######"));
    EXPECT_FALSE(Logged("WARN:delete refused: [c:\\]"));
    const std::vector<std::wstring> deleted = recorder.Paths(4);
    EXPECT_EQ(std::count(deleted.begin(), deleted.end(), L"c:\\program files (x86)\\apple software update\\"), 1);
    EXPECT_EQ(std::count(deleted.begin(), deleted.end(), L"c:\\"), 0);
    EXPECT_FALSE(sim::IsRunning(*machine_, running));
    EXPECT_FALSE(Exists(Fixture("AppleSoftwareUpdate.msi").installDir));
    EXPECT_TRUE(Exists(L"C:\\root.txt"));
}

TEST_F(OneKeyUninstallTest, HostileFoldersAreRefusedAndNoProcessIsEndedForThem) {
    const std::vector<std::wstring> sentinels = {
        L"C:\\root.txt", L"C:\\Windows\\win.ini", L"C:\\Program Files\\Common Files\\keep.dll",
        L"C:\\Windows\\Apple Computer\\prefs.plist", L"C:\\Windows\\Apple\\cache.db",
        L"C:\\ProgramData\\Apple\\Documents\\letter.doc", L"C:\\Program Files\\iTunes\\Plugins\\Vendor\\v.dll"};
    for (const std::wstring& file : sentinels) WriteFile(file, 4);
    Install("Bonjour64.msi");
    Install("AppleMobileDeviceSupport64.msi");
    Install("AppleApplicationSupport64.msi");
    // Install locations that climb to the drive, name the Windows folder,
    // or name a known folder through a name of dots.
    BendInstallLocation("Bonjour64.msi", L"C:\\Program Files\\Bonjour\\..\\..\\");
    BendInstallLocation("AppleMobileDeviceSupport64.msi", L"C:\\Windows\\");
    BendInstallLocation("AppleApplicationSupport64.msi", L"C:\\Program Files\\Common Files\\...");
    // Another vendor's product inside an Apple folder keeps that folder.
    sim::InstalledProduct vendor;
    vendor.productCode = L"{0D6C3A3E-5B7D-4C1B-9E55-2F1B0A7C9D11}";
    vendor.properties = {{L"ProductName", L"Vendor Plugin"},
                         {L"InstallLocation", L"C:\\Program Files\\iTunes\\Plugins\\Vendor\\"}};
    sim::RegisterProduct(*machine_, vendor);
    const uint32_t explorer = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe");
    // User data roots in the Windows folder, one reached through "..", and
    // one that holds the user's Documents.
    machine_->Edit([](sim::MachineState& s) {
        s.specialFolders[platform::csidl::kAppData] = L"C:\\Windows";
        s.specialFolders[platform::csidl::kLocalAppData] = L"C:\\Windows\\System32\\..";
        s.specialFolders[platform::csidl::kPersonal] = L"C:\\ProgramData\\Apple\\Documents";
        return 0;
    });
    // The library resolves the known folders once, when it first needs
    // them; the installs above already had it do so.
    LibraryShutdown(Os().Process());

    Recorder recorder;
    Run(recorder, true);

    for (const std::wstring& file : sentinels) EXPECT_TRUE(Exists(file)) << sim::ToUtf8(file);
    EXPECT_TRUE(sim::IsRunning(*machine_, explorer));
    for (const char* line : {"WARN:delete refused: [c:\\program files\\bonjour\\..\\..\\] is a drive root",
                             "WARN:delete refused: [c:\\windows\\] is in the Windows folder",
                             "WARN:delete refused: [c:\\program files\\common files\\...] is or holds a known folder",
                             "WARN:delete refused: [c:\\program files\\itunes] is or holds an installed product's folder",
                             "WARN:delete refused: [C:\\Windows\\System32\\..\\Apple] is in the Windows folder",
                             "WARN:delete refused: [C:\\ProgramData\\Apple] is or holds a known folder"}) {
        EXPECT_TRUE(Logged(line)) << line;
    }
    EXPECT_TRUE(recorder.Paths(4).empty());
    EXPECT_TRUE(recorder.Paths(5).empty());
}

TEST_F(OneKeyUninstallTest, LinksInsideDeletedFoldersGoAsLinksAndTheirTargetsStay) {
    WriteFile(L"C:\\Program Files\\iTunes\\own.dll", 4);
    WriteFile(L"C:\\Users\\Tarn\\Documents\\Library\\song.m4a", 4);
    Link(L"C:\\Program Files\\iTunes\\Library", L"C:\\Users\\Tarn\\Documents\\Library");
    WriteFile(kRoots[3] + L"\\Lockdown\\pair.plist", 4);
    WriteFile(L"C:\\Backups\\device\\Manifest.db", 4);
    Link(kRoots[3] + L"\\Backups", L"C:\\Backups");

    Recorder recorder;
    Run(recorder, true);

    EXPECT_TRUE(recorder.Final().bSuccess);
    EXPECT_FALSE(Exists(L"C:\\Program Files\\iTunes"));
    EXPECT_FALSE(Exists(kRoots[3]));
    EXPECT_TRUE(Exists(L"C:\\Users\\Tarn\\Documents\\Library\\song.m4a"));
    EXPECT_TRUE(Exists(L"C:\\Backups\\device\\Manifest.db"));
    EXPECT_EQ(recorder.Paths(5), (std::vector<std::wstring>{kRoots[3] + L"\\", kRoots[3] + L"\\Lockdown\\"}));
}

// ---- The Store edition and the task's life ----------------------------------

TEST_F(OneKeyUninstallTest, TheStoreEditionGoesWhateverTheRunGave) {
    ASSERT_EQ(Os().Files().DeleteFile(CMsiInstaller::Instance().MsiZapPath()), 0u);
    auto storeInstalled = [this] { return machine_->Snapshot<sim::StoreItunes>().version.has_value(); };
    // A failed product.
    Install("Bonjour64.msi");
    sim::SetStoreItunes(*machine_, L"12.13.0.9");
    sim::QueueInstallerResults(*machine_, {platform::kErrInstallFailure});
    Recorder failed;
    Run(failed);
    EXPECT_FALSE(failed.Final().bSuccess);
    EXPECT_FALSE(storeInstalled());

    // A run whose body ends by an exception (a host callback that throws).
    sim::SetStoreItunes(*machine_, L"12.13.0.9");
    Recorder thrown;
    thrown.hook = [](const Event& e) {
        if (e.state == kOneKeyUninstallState_Item_UninstallBegin) throw std::runtime_error("host failed");
    };
    Run(thrown);
    EXPECT_EQ(thrown.Sequence(), "4:1 E");
    EXPECT_FALSE(thrown.Final().bSuccess);
    EXPECT_EQ(thrown.Final().nErrorCode, 1359);
    EXPECT_FALSE(storeInstalled());

    // A clean run.
    sim::SetStoreItunes(*machine_, L"12.13.0.9");
    Recorder clean;
    Run(clean);
    EXPECT_TRUE(clean.Final().bSuccess);
    EXPECT_FALSE(storeInstalled());
    EXPECT_EQ(CountOf(LoadTimeLog(), "uninstall iTunes from window app store..."), 3u);
}

TEST_F(OneKeyUninstallTest, ASecondStartIsRefusedButOneFromTheFinalReportIsAccepted) {
    WriteFile(L"C:\\Program Files\\iTunes\\old.dll", 4);
    WriteFile(kRoots[5] + L"\\keep.itl", 4);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Recorder first;
    first.hook = [&](const Event& e) {
        if (e.state == kOneKeyUninstallState_DeleteResidualDir) released.wait();
    };
    ASSERT_TRUE(CreateFixItuensMgr()->OneKeyUninstall(Recorder::Callback, &first, false, nullptr));

    Recorder intruder;
    bool cancel = true;
    EXPECT_FALSE(CreateFixItuensMgr()->OneKeyUninstall(Recorder::Callback, &intruder, true, &cancel));
    EXPECT_FALSE(cancel) << "the host's flag is cleared even when the start is refused";
    release.set_value();
    ASSERT_EQ(first.ended.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(first.Sequence(), "D E");
    EXPECT_TRUE(intruder.events.empty());
    EXPECT_TRUE(Exists(kRoots[5] + L"\\keep.itl")) << "the running task kept its own inputs";
    EXPECT_TRUE(Logged("[OneKeyUninstall] fail! because the previous task is runing!\n"));

    // The task is free again by the time it reports its end.
    std::promise<bool> restarted;
    Recorder next;
    next.hook = [&](const Event& e) {
        if (e.state == kOneKeyUninstallState_All_UninstallComplete) {
            restarted.set_value(CreateFixItuensMgr()->OneKeyUninstall(nullptr, nullptr, true, nullptr));
        }
    };
    Run(next);
    EXPECT_TRUE(restarted.get_future().get());
    COneKeyuninstall::Instance().WaitIdle();
    EXPECT_FALSE(Exists(kRoots[5])) << "the restarted run, without a callback, still ran to its end";
}

}  // namespace
