// The C interface on the simulated machine: each preview against what its
// task then does, the lists a host gets and hands back, and task starts that
// must not lose a running task's callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

#include "Brisalen/ItunesCheck.h"
#include "Brisalen/OneKeyuninstall.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "OneKeyMachineTest.h"
#include "include/BrisalenC.h"
#include "platform/sim/processes/SimProcesses.h"

namespace {

// What a C host's callbacks collect, and the wait for the final record.
struct Collected {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    std::vector<int32_t> states;
    std::vector<int32_t> types;  // of the items begun
    std::vector<std::wstring> strings;
    std::map<std::wstring, int32_t> backupIds;

    void Finish() {
        std::lock_guard<std::mutex> hold(lock);
        done = true;
        ended.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> hold(lock);
        return ended.wait_for(hold, std::chrono::seconds(60), [this] { return done; });
    }
};

void BRISALEN_CALL OnCheck(void* user, int32_t state, const BRISALEN_CHECK_INFO* info) {
    auto& seen = *static_cast<Collected*>(user);
    seen.states.push_back(state);
    if (state == BRISALEN_CHECK_ITEM_FAIL_BAD || state == BRISALEN_CHECK_ITEM_FAIL_MISS) seen.types.push_back(info->nType);
    if (state == BRISALEN_CHECK_ALL_COMPLETE) seen.Finish();
}

void BRISALEN_CALL OnRepair(void* user, int32_t state, const BRISALEN_REPAIR_INFO* info) {
    auto& seen = *static_cast<Collected*>(user);
    seen.states.push_back(state);
    if (state == BRISALEN_REPAIR_ITEM_BEGIN) seen.types.push_back(info->nType * 10 + info->nKind);
    if (state == BRISALEN_REPAIR_ALL_COMPLETE) seen.Finish();
}

void BRISALEN_CALL OnUninstall(void* user, int32_t state, const BRISALEN_UNINSTALL_INFO* info) {
    auto& seen = *static_cast<Collected*>(user);
    seen.states.push_back(state);
    if (state == BRISALEN_UNINSTALL_ITEM_BEGIN) seen.types.push_back(info->nType);
    if (state == BRISALEN_UNINSTALL_ALL_COMPLETE) {
        for (uint32_t i = 0; i < info->files.nCount; ++i) seen.strings.push_back(info->files.ppItems[i]);
        seen.Finish();
    }
}

int32_t BRISALEN_CALL OnScan(void* user, int32_t state, const BRISALEN_ENUM_INFO* info) {
    auto& seen = *static_cast<Collected*>(user);
    if (info != nullptr && info->item.bValid) seen.backupIds[AsciiLower(info->item.pszPath)] = info->item.nId;
    if (state == BRISALEN_ENUM_END) seen.Finish();
    return 1;
}

// A task held at its first record until the test lets go of `gate`.
struct Held {
    std::mutex gate;
    std::unique_lock<std::mutex> hold{gate};
    Collected seen;
    void Pass() { std::lock_guard<std::mutex> wait(gate); }
};

int32_t BRISALEN_CALL OnDelete(void* user, int32_t state, const BRISALEN_DELETE_INFO*) {
    if (state == BRISALEN_DELETE_COMPLETE) static_cast<Collected*>(user)->Finish();
    return 1;
}

std::set<std::wstring> Folded(const BRISALEN_PATH_LIST& list) {
    std::set<std::wstring> paths;
    for (uint32_t i = 0; i < list.nCount; ++i) paths.insert(AsciiLower(list.pItems[i].pszPath));
    return paths;
}

std::set<std::wstring> Removed(const std::set<std::wstring>& before, const std::set<std::wstring>& after) {
    std::set<std::wstring> removed;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::inserter(removed, removed.end()));
    return removed;
}

}  // namespace

class CInterfaceTest : public OneKeyMachineTest {
protected:
    void TearDown() override {
        CItunesCheck::Instance().WaitIdle();
        CItunesUserDataMgr::Instance().WaitIdle();
        OneKeyMachineTest::TearDown();
    }
    void CopySetup() {
        for (const char* file : kX64Family) {
            const std::string host = Host(L"C:\\Setup\\" + Utf8ToWide(Os().CodePages(), file));
            std::filesystem::create_directories(std::filesystem::path(host).parent_path());
            std::filesystem::copy_file(FixturePath(file), host, std::filesystem::copy_options::overwrite_existing);
        }
    }
    void Scan(Collected& seen) {
        ASSERT_EQ(BrisalenEnumItunesUserData(&OnScan, &seen, 1, nullptr), 1);
        ASSERT_TRUE(seen.Wait());
        CItunesUserDataMgr::Instance().WaitIdle();
    }
};

TEST_F(CInterfaceTest, TheUninstallPreviewListsWhatTheTaskRemovesAndEnds) {
    for (const char* file : kX64Family) Install(file);
    // A program the task must end, and leftovers no package owns.
    const std::wstring updater = Fixture("AppleSoftwareUpdate.msi").installDir + L"SoftwareUpdate.exe";
    WriteFile(updater, 4);
    const uint32_t running = sim::AddProcess(*machine_, updater, {}, {updater});
    WriteFile(L"C:\\Program Files\\iTunes\\Plugins\\old.dll", 7);
    WriteFile(L"C:\\Users\\Tarn\\Music\\iTunes\\iTunes Media\\Music\\a.mp3", 30);
    // Paths the guard must keep out of the preview and the task.
    WriteFile(L"C:\\Windows\\System32\\keep.dll", 4);
    Link(L"C:\\Program Files\\iTunes\\Linked", L"C:\\Windows\\System32");
    WriteFile(L"C:\\Users\\Tarn\\Documents\\letter.doc", 4);

    const BRISALEN_UNINSTALL_PREVIEW* preview = BrisalenPreviewOneKeyUninstall(1);
    ASSERT_NE(preview, nullptr);
    std::vector<int32_t> planned;
    for (uint32_t i = 0; i < preview->nStepCount; ++i) {
        EXPECT_EQ(preview->pSteps[i].nAction, BRISALEN_STEP_UNINSTALL);
        planned.push_back(preview->pSteps[i].nType);
    }
    ASSERT_EQ(planned.size(), 6u);
    ASSERT_EQ(preview->programs.nCount, 1u);
    EXPECT_EQ(AsciiLower(preview->programs.ppItems[0]), AsciiLower(updater));
    const std::set<std::wstring> listed = Folded(preview->paths);
    EXPECT_EQ(listed.count(L"c:\\windows\\system32\\keep.dll"), 0u);
    EXPECT_EQ(listed.count(L"c:\\users\\tarn\\documents\\letter.doc"), 0u);
    EXPECT_EQ(listed.count(L"c:\\program files\\itunes\\linked"), 1u);  // the link alone
    EXPECT_EQ(listed.count(L"c:\\program files\\itunes\\linked\\keep.dll"), 0u);
    EXPECT_GT(preview->userDataFolders.nCount, 0u);
    const std::set<std::wstring> before = Tree();

    Collected seen;
    uint8_t cancel = 0;
    ASSERT_EQ(BrisalenOneKeyUninstall(&OnUninstall, &seen, 1, &cancel), 1);
    ASSERT_TRUE(seen.Wait());
    COneKeyuninstall::Instance().WaitIdle();

    EXPECT_EQ(seen.types, planned);
    EXPECT_TRUE(seen.strings.empty());
    EXPECT_FALSE(sim::IsRunning(*machine_, running));
    // Windows Installer's own cache is its business, not the library's.
    std::set<std::wstring> removed;
    for (const std::wstring& path : Removed(before, Tree())) {
        if (path.rfind(L"c:\\windows\\installer", 0) != 0) removed.insert(path);
    }
    EXPECT_EQ(listed, removed);
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Windows\\System32\\keep.dll"));
    EXPECT_EQ(BrisalenFree(preview), 1);
}

TEST_F(CInterfaceTest, TheDeletionPreviewListsWhatTheDeletionRemoves) {
    const std::wstring media = L"C:\\Users\\Tarn\\Music\\iTunes\\iTunes Media";
    for (int i = 0; i < 4; ++i) WriteFile(media + L"\\Movies\\m" + std::to_wstring(i) + L".m4v", 100 + i);
    WriteFile(L"C:\\Windows\\System32\\drivers\\etc\\hosts", 4);
    Link(media + L"\\Movies\\sys", L"C:\\Windows\\System32");
    const std::wstring backup =
        L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer\\MobileSync\\Backup\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    for (int i = 0; i < 10; ++i) WriteFile(backup + L"\\0" + std::to_wstring(i) + L"\\f", 30);
    WriteFile(backup + L"\\Manifest.db", 50);
    Collected scanned;
    Scan(scanned);
    ASSERT_EQ(scanned.backupIds.size(), 1u);

    const int32_t categories[] = {2};
    const int32_t items[] = {scanned.backupIds.begin()->second};
    const BRISALEN_DELETION_PREVIEW* preview = BrisalenPreviewUserDataDeletion(categories, 1, items, 1);
    ASSERT_NE(preview, nullptr);
    int64_t bytes = 0;
    for (uint32_t i = 0; i < preview->paths.nCount; ++i) bytes += preview->paths.pItems[i].nSize;
    EXPECT_EQ(bytes, 4 * 100 + 6 + 10 * 30 + 50);
    EXPECT_EQ(preview->nTotalSize, bytes);
    const std::set<std::wstring> listed = Folded(preview->paths);
    EXPECT_EQ(listed.count(AsciiLower(media) + L"\\movies\\sys\\drivers"), 0u);
    const std::set<std::wstring> before = Tree();

    Collected deleted;
    ASSERT_EQ(BrisalenDeleteItunesUserData(&OnDelete, &deleted, categories, 1, items, 1, nullptr), 1);
    ASSERT_TRUE(deleted.Wait());
    CItunesUserDataMgr::Instance().WaitIdle();
    EXPECT_EQ(listed, Removed(before, Tree()));
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Windows\\System32\\drivers\\etc\\hosts"));
    EXPECT_EQ(BrisalenFree(preview), 1);

    // While a scan runs, neither the preview nor the group list is given.
    Held blocked;
    auto onBlockedScan = [](void* user, int32_t state, const BRISALEN_ENUM_INFO*) -> int32_t {
        auto& b = *static_cast<Held*>(user);
        if (state == BRISALEN_ENUM_BEGIN) b.Pass();
        if (state == BRISALEN_ENUM_END) b.seen.Finish();
        return 1;
    };
    ASSERT_EQ(BrisalenEnumItunesUserData(onBlockedScan, &blocked, 0, nullptr), 1);
    EXPECT_EQ(BrisalenPreviewUserDataDeletion(categories, 1, nullptr, 0), nullptr);
    EXPECT_EQ(BrisalenGetAllItunesTypeInfo(), nullptr);
    blocked.hold.unlock();
    ASSERT_TRUE(blocked.seen.Wait());
}

TEST_F(CInterfaceTest, TheRepairPreviewIsWhatACheckAndTheRepairThenDo) {
    for (const char* file : kX64Family) {
        if (std::string(file) != "AppleSoftwareUpdate.msi") Install(file);
    }
    std::filesystem::remove(Host(FileOf(Fixture("Bonjour64.msi"), "dnssd.dll").path));
    CopySetup();

    // Nothing to preview from a folder that is not there, as the repair refuses it.
    EXPECT_EQ(BrisalenPreviewRepair(0, L"C:\\No Such Setup"), nullptr);
    const BRISALEN_REPAIR_PREVIEW* preview = BrisalenPreviewRepair(0, L"C:\\Setup");
    ASSERT_NE(preview, nullptr);
    ASSERT_EQ(preview->nCount, 2u);
    EXPECT_EQ(preview->pItems[0].nType, kProductAppleSoftwareUpdate);
    EXPECT_EQ(preview->pItems[0].nAction, BRISALEN_REPAIR_INSTALL);
    EXPECT_EQ(AsciiLower(preview->pItems[0].pszPackage), L"c:\\setup\\applesoftwareupdate.msi");
    EXPECT_EQ(preview->pItems[1].nType, kProductBonjour);
    EXPECT_EQ(preview->pItems[1].nAction, BRISALEN_REPAIR_REINSTALL);
    const BRISALEN_REPAIR_PREVIEW* badOnly = BrisalenPreviewRepair(1, nullptr);
    ASSERT_NE(badOnly, nullptr);
    ASSERT_EQ(badOnly->nCount, 1u);
    EXPECT_EQ(badOnly->pItems[0].nType, kProductBonjour);
    // The preview changed nothing: the check still finds both.
    Collected checked;
    ASSERT_EQ(BrisalenCheckAllItunesComponent(&OnCheck, &checked, 0), 1);
    ASSERT_TRUE(checked.Wait());
    CItunesCheck::Instance().WaitIdle();
    EXPECT_EQ(checked.types, (std::vector<int32_t>{kProductAppleSoftwareUpdate, kProductBonjour}));

    Collected repaired;
    ASSERT_EQ(BrisalenRepairAllItunesComponent(L"C:\\Setup", &OnRepair, &repaired), 1);
    ASSERT_TRUE(repaired.Wait());
    CItunesCheck::Instance().WaitIdle();
    std::vector<int32_t> planned;
    for (uint32_t i = 0; i < preview->nCount; ++i) planned.push_back(preview->pItems[i].nType * 10 + preview->pItems[i].nKind);
    EXPECT_EQ(repaired.types, planned);
    EXPECT_EQ(repaired.states.back(), BRISALEN_REPAIR_ALL_COMPLETE);
    EXPECT_EQ(BrisalenFree(preview), 1);
    EXPECT_EQ(BrisalenFree(badOnly), 1);
}

TEST_F(CInterfaceTest, ListsAreTheHostsUntilHandedBackOnce) {
    Install("Bonjour64.msi");
    EXPECT_EQ(BrisalenGetLibraryVersion(), (1u << 16) | (0u << 8) | 0u);
    const BRISALEN_PRODUCT_LIST* family = BrisalenQueryItunesService();
    ASSERT_NE(family, nullptr);
    ASSERT_EQ(family->nCount, 1u);
    EXPECT_EQ(family->pItems[0].nProductType, kProductBonjour);
    EXPECT_EQ(std::wstring(family->pItems[0].pszProductCode), Fixture("Bonjour64.msi").productCode);
    // A later load rebuilds the library's maps, not the host's copy.
    const BRISALEN_PRODUCT_LIST* all = BrisalenGetAllInstallProductInfo();
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->pItems[0].nProductType, 0);
    EXPECT_EQ(family->pItems[0].nProductType, kProductBonjour);
    bool named = false;
    for (uint32_t i = 0; i < family->pItems[0].nPropertyCount; ++i) {
        const BRISALEN_PROPERTY& property = family->pItems[0].pProperties[i];
        if (std::wstring(property.pszName) == L"ProductName") {
            named = std::wstring(property.pszValue) == Fixture("Bonjour64.msi").productName;
        }
    }
    EXPECT_TRUE(named);
    const BRISALEN_STRING_LIST* services = BrisalenQueryProductService(kProductBonjour);
    ASSERT_NE(services, nullptr);
    EXPECT_EQ(BrisalenQueryProductService(99), nullptr);

    int32_t local = 0;
    EXPECT_EQ(BrisalenFree(family), 1);
    EXPECT_EQ(BrisalenFree(family), 0);
    EXPECT_EQ(BrisalenFree(&local), 0);
    EXPECT_EQ(BrisalenFree(nullptr), 0);
    EXPECT_EQ(BrisalenFree(&services->nCount + 1), 0);  // inside a block, not its head
    EXPECT_EQ(BrisalenFree(services), 1);
    EXPECT_EQ(BrisalenFree(all), 1);

    int32_t error = -7;
    EXPECT_EQ(BrisalenUninstallProduct(kProductBonjour, L"{00000000-0000-0000-0000-000000000000}", &error), 1);
    EXPECT_EQ(error, 1605);
    EXPECT_EQ(BrisalenInstallProduct(L"C:\\Setup\\None.msi", nullptr), 0);
}

TEST_F(CInterfaceTest, ARefusedStartLeavesTheRunningTaskItsCallback) {
    Install("Bonjour64.msi");
    Held first;
    auto onFirst = [](void* user, int32_t state, const BRISALEN_CHECK_INFO*) {
        auto& b = *static_cast<Held*>(user);
        if (state == BRISALEN_CHECK_ITEM_CHECKING) b.Pass();
        b.seen.states.push_back(state);
        if (state == BRISALEN_CHECK_ALL_COMPLETE) b.seen.Finish();
    };
    ASSERT_EQ(BrisalenCheckAllItunesComponent(onFirst, &first, 0), 1);
    Collected second;
    EXPECT_EQ(BrisalenCheckAllItunesComponent(&OnCheck, &second, 0), 0);
    EXPECT_EQ(BrisalenPreviewRepair(1, nullptr), nullptr);
    EXPECT_EQ(BrisalenPreviewOneKeyUninstall(0), nullptr);
    first.hold.unlock();
    ASSERT_TRUE(first.seen.Wait());
    CItunesCheck::Instance().WaitIdle();
    EXPECT_EQ(first.seen.states.back(), BRISALEN_CHECK_ALL_COMPLETE);
    EXPECT_TRUE(second.states.empty());
    // A start without a callback runs as the C++ one does.
    EXPECT_EQ(BrisalenCheckAllItunesComponent(nullptr, nullptr, 0), 1);
}
