// The user-data deletion's plan: the selection worked out from the scan's
// results, the file set from what the engine found, hostile folders that
// must never reach it, and the file set against what the deletion removes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "Brisalen/UserDataCategories.h"
#include "Brisalen/UserDataDeletionFacts.h"
#include "Brisalen/UserDataDeletionPlan.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "SimMachineFixture.h"
#include "common/TextHelpers.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;

const std::wstring kMovies = L"c:\\users\\tarn\\music\\itunes\\itunes media\\movies";
const std::wstring kBackups = L"c:\\users\\tarn\\appdata\\roaming\\apple computer\\mobilesync\\backup";

UserDataSelectionFacts Scanned() {
    UserDataSelectionFacts facts;
    facts.categories = {
        {2, L"movies", {kMovies}, 2500},
        {12, L"backup", {kBackups}, 3000},
        {19, L"junk", {}, 60},
        {20, L"special itl", {L"c:\\users\\tarn\\music\\itunes"}, 70},
    };
    facts.backups = {{7, L"iPhone", kBackups + L"\\aaa", 1000}, {8, L"iPad", kBackups + L"\\bbb", 2000}};
    facts.junkFiles = {L"c:\\programdata\\apple\\held.dat"};
    return facts;
}

std::vector<std::wstring> Paths(const std::vector<UserDataFileSetEntry>& set) {
    std::vector<std::wstring> paths;
    for (const UserDataFileSetEntry& entry : set) paths.push_back(entry.path);
    return paths;
}

}  // namespace

TEST(UserDataDeletionPlanTest, TheSelectionTakesPickedCategoriesAndBackupsButNeverTheLibraryFile) {
    UserDataSelectionFacts facts = Scanned();
    facts.pickedCategories = {20, 2, 99};
    facts.pickedBackups = {8, 123};
    const UserDataDeletionPlan plan = PlanUserDataDeletion(facts);
    ASSERT_EQ(plan.categories.size(), 2u);  // by code, the unknown one left out
    EXPECT_EQ(plan.categories[0].code, 2);
    EXPECT_FALSE(plan.categories[0].kept);
    EXPECT_TRUE(plan.categories[1].kept);
    EXPECT_TRUE(plan.categories[1].folders.empty());
    EXPECT_EQ(plan.folders, (std::set<std::wstring>{kMovies, kBackups + L"\\bbb"}));
    EXPECT_EQ(plan.sparedBackups, std::set<std::wstring>{kBackups + L"\\aaa"});
    EXPECT_EQ(plan.totalSize, 2500 + 2000);
    EXPECT_TRUE(plan.mediaSelected);
    EXPECT_FALSE(plan.junkSelected);
    EXPECT_TRUE(plan.junkFiles.empty());

    facts.pickedCategories = {19, 12};
    facts.pickedBackups = {};
    const UserDataDeletionPlan junk = PlanUserDataDeletion(facts);
    EXPECT_TRUE(junk.junkSelected);
    EXPECT_FALSE(junk.mediaSelected);
    EXPECT_EQ(junk.junkFiles, facts.junkFiles);
    // The backup category's own folder goes, its backups are spared.
    EXPECT_EQ(junk.folders, std::set<std::wstring>{kBackups});
    EXPECT_EQ(junk.sparedBackups.size(), 2u);
}

TEST(UserDataDeletionPlanTest, TheFileSetLeavesRefusedFoldersSparedBackupsAndWhatHoldsThem) {
    UserDataSelectionFacts facts = Scanned();
    facts.pickedCategories = {12};
    facts.pickedBackups = {7};
    const UserDataDeletionPlan plan = PlanUserDataDeletion(facts);

    PlannedFolderFacts backups{kBackups, true, true, true, false, {}};
    backups.entries = {
        {kBackups + L"\\aaa", 0, true, false},     {kBackups + L"\\aaa\\Manifest.db", 50, false, false},
        {kBackups + L"\\bbb", 0, true, false},     {kBackups + L"\\bbb\\Manifest.db", 60, false, false},
        {kBackups + L"\\bbb\\00", 0, true, false}, {kBackups + L"\\bbb\\00\\f", 7, false, false},
        {kBackups + L"\\link", 4096, true, true},  {kBackups + L"\\note.txt", 3, false, false},
    };
    const std::vector<PlannedFolderFacts> folders = {
        backups,
        {L"c:\\", true, true, false, false, {{L"c:\\boot.ini", 9, false, false}}},       // the guard refused it
        {L"c:\\moved", true, false, true, false, {{L"c:\\moved\\a", 9, false, false}}},  // reached through a link
        {L"c:\\gone", false, true, true, false, {}},
    };
    const std::vector<UserDataFileSetEntry> set = PlanUserDataFileSet(plan, folders, {}, {});
    // The category folder holds the spared backup: it and the backup stay.
    EXPECT_EQ(Paths(set), (std::vector<std::wstring>{kBackups + L"\\aaa", kBackups + L"\\aaa\\Manifest.db",
                                                     kBackups + L"\\link", kBackups + L"\\note.txt"}));
    EXPECT_EQ(set[1].size, 50u);
    EXPECT_EQ(set[2].size, 0u);  // a link goes as a link, its own size nothing
    EXPECT_TRUE(set[2].folder);

    // A folder that is itself a link goes alone, whatever is behind it.
    PlannedFolderFacts link{L"c:\\music\\link", true, true, true, true, {{L"c:\\music\\link\\x", 5, false, false}}};
    EXPECT_EQ(Paths(PlanUserDataFileSet(plan, {link}, {}, {})), std::vector<std::wstring>{L"c:\\music\\link"});
}

TEST(UserDataDeletionPlanTest, JunkFilesGoWhenPassedAndTheirFolderWhenNothingElseStays) {
    const UserDataDeletionPlan plan;
    const std::vector<JunkFileFacts> junk = {
        {L"c:\\a\\x.tmp", true, true, true, 4},  {L"c:\\a\\y.tmp", true, true, false, 5},  // refused by the guard
        {L"c:\\b\\z.tmp", true, true, true, 6},  {L"c:\\c\\gone.tmp", false, true, true, 0},
        {L"c:\\d\\w.tmp", true, false, true, 1},  // its folder swapped for a link
    };
    const std::vector<JunkFolderFacts> folders = {
        {L"c:\\a", true, {L"c:\\a\\x.tmp", L"c:\\a\\y.tmp"}},
        {L"c:\\b", true, {L"c:\\b\\z.tmp"}},
        {L"c:\\c", true, {}},
        {L"c:\\d", true, {L"c:\\d\\w.tmp"}},
    };
    const std::vector<UserDataFileSetEntry> set = PlanUserDataFileSet(plan, {}, junk, folders);
    EXPECT_EQ(Paths(set), (std::vector<std::wstring>{L"c:\\a\\x.tmp", L"c:\\b\\z.tmp", L"c:\\b", L"c:\\c"}));
    EXPECT_EQ(set[1].size, 6u);
    const std::vector<JunkFolderFacts> refused = {{L"c:\\b", false, {L"c:\\b\\z.tmp"}}};
    EXPECT_EQ(Paths(PlanUserDataFileSet(plan, {}, junk, refused)),
              (std::vector<std::wstring>{L"c:\\a\\x.tmp", L"c:\\b\\z.tmp"}));
}

class UserDataDeletionPlanMachineTest : public LoggedMachineTest {
protected:
    CItunesUserDataMgr& Mgr() { return CItunesUserDataMgr::Instance(); }
    static bool OnScan(void* user, int32_t, const ST_ITUNES_USER_DATA_ENUM_INFO* info) {
        auto* self = static_cast<UserDataDeletionPlanMachineTest*>(user);
        if (info->item.bValid) self->backupIds_[AsciiLower(info->item.strPath)] = info->item.nId;
        return true;
    }
    static bool OnDelete(void* user, int32_t state, const ST_ITUNES_DELETE_INFO* info) {
        if (state == kDeleteItunesUserDataState_DeleteComplete) *static_cast<int64_t*>(user) = info->nDeletedSize;
        return true;
    }
    void Scan() {
        ASSERT_TRUE(Mgr().EnumItunesUserData(&OnScan, this, true, nullptr));
        Mgr().WaitIdle();
    }
    std::map<std::wstring, int32_t> backupIds_;
};

TEST_F(UserDataDeletionPlanMachineTest, HostileFoldersNeverReachTheFileSet) {
    WriteFile(L"C:\\Windows\\win.ini", 4);
    WriteFile(L"C:\\root.txt", 4);
    WriteFile(L"C:\\Users\\Tarn\\Documents\\letter.doc", 4);
    WriteFile(L"C:\\ProgramData\\Apple\\Logs\\a.log", 4);
    Link(L"C:\\ProgramData\\Apple\\Linked", L"C:\\Windows\\System32");
    WriteFile(L"C:\\Windows\\System32\\drivers\\etc\\hosts", 4);
    const UserDataReach reach(Os(), {L"C:\\ProgramData\\Apple"}, {});
    const std::set<std::wstring> hostile = {
        L"c:\\programdata\\apple\\logs\\..\\..\\..",  // climbs to the drive
        L"c:\\",                                      // the drive root
        L"c:\\windows",                               // the Windows folder
        L"c:\\programdata\\apple\\linked\\drivers",   // below a junction into Windows
        L"c:\\users\\tarn\\documents\\...",           // a name of dots: the Documents folder
        L"c:\\programdata\\apple\\logs",              // the one to go
    };
    UserDataDeletionPlan plan;
    const std::vector<UserDataFileSetEntry> set =
        PlanUserDataFileSet(plan, ReadPlannedFolders(Os(), hostile, reach), {}, {});
    ASSERT_FALSE(set.empty());
    EXPECT_EQ(set.front().path, L"c:\\programdata\\apple\\logs");
    for (const UserDataFileSetEntry& entry : set) {
        const std::wstring key = SpareKey(entry.path);
        EXPECT_EQ(key.rfind(L"c:\\programdata\\apple\\logs", 0), 0u) << sim::ToUtf8(entry.path);
    }
    EXPECT_EQ(set.size(), 2u);  // the folder and its log

    const std::set<std::wstring> junk = {L"c:\\programdata\\apple\\logs\\..\\..\\..\\root.txt", L"c:\\windows\\win.ini",
                                         L"c:\\users\\tarn\\documents\\...\\letter.doc"};
    EXPECT_TRUE(PlanUserDataFileSet(plan, {}, ReadJunkFiles(Os(), junk, reach), ReadJunkFolders(Os(), junk)).empty());
}

TEST_F(UserDataDeletionPlanMachineTest, TheFileSetIsExactlyWhatTheDeletionRemoves) {
    const std::wstring media = L"C:\\Users\\Tarn\\Music\\iTunes\\iTunes Media";
    const std::wstring appData = L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer";
    for (int i = 0; i < 5; ++i) WriteFile(media + L"\\Movies\\Show\\m" + std::to_wstring(i) + L".m4v", 100 + i);
    WriteFile(media + L"\\Music\\keep.mp3", 10);
    WriteFile(appData + L"\\Logs\\a.log", 40);
    WriteFile(appData + L"\\Stray\\old.tmp", 20);
    WriteFile(L"C:\\Precious\\thesis.doc", 10);
    Link(media + L"\\Movies\\link", L"C:\\Precious");
    // One backup picked, one spared.
    std::wstring pickedBackup;
    for (const wchar_t* id :
         {L"\\3d0d7e5fb2ce288813306e4d4636395e047a3d28", L"\\4e1e8f6fc3df399924417f5e5747406f158b4e39"}) {
        const std::wstring folder = appData + L"\\MobileSync\\Backup" + id;
        for (int i = 0; i < 10; ++i) WriteFile(folder + L"\\0" + std::to_wstring(i) + L"\\f", 30);
        WriteFile(folder + L"\\Manifest.db", 50);
        if (pickedBackup.empty()) pickedBackup = folder;
    }
    Scan();
    ASSERT_EQ(backupIds_.size(), 2u);
    const int32_t picked = backupIds_.at(AsciiLower(pickedBackup));

    const std::vector<int32_t> categories = {2, 12, 18, 19};
    const std::vector<UserDataFileSetEntry> set = Mgr().PreviewDeletion(categories, {picked});
    const std::set<std::wstring> before = Tree();

    int64_t deleted = -1;
    std::vector<int32_t> pickedCategories = categories;
    std::vector<int32_t> pickedItems = {picked};
    ASSERT_TRUE(Mgr().DeleteItuensUserData(&OnDelete, &deleted, pickedCategories, pickedItems, nullptr));
    Mgr().WaitIdle();
    const std::set<std::wstring> after = Tree();

    std::set<std::wstring> removed;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::inserter(removed, removed.end()));
    std::set<std::wstring> listed;
    uint64_t bytes = 0;
    for (const UserDataFileSetEntry& entry : set) {
        listed.insert(SpareKey(entry.path));
        bytes += entry.size;
    }
    EXPECT_EQ(listed, removed);
    EXPECT_EQ(static_cast<int64_t>(bytes), deleted);
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Precious\\thesis.doc"));
    EXPECT_GT(listed.size(), 20u);
}
