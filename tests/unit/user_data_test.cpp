// The user-data manager on the simulated machine: what the scan counts in
// each category, where it finds backups, what a deletion removes and
// reports, and the paths a deletion must leave alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Brisalen/UserDataCategories.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "common/TextHelpers.h"
#include "SimMachineFixture.h"

namespace {

namespace fs = std::filesystem;

const std::wstring kMusic = L"C:\\Users\\Tarn\\Music";
const std::wstring kMedia = kMusic + L"\\iTunes\\iTunes Media";
const std::wstring kAppData = L"C:\\Users\\Tarn\\AppData\\Roaming";
const std::wstring kQuickBackup =
    kAppData + L"\\Apple Computer\\MobileSync\\Backup\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
const std::wstring kDeepBackup = L"C:\\OldPhones\\a1b2c3d4e5f60718293a4b5c6d7e8f9012345678";
const std::wstring kComputer = kAppData + L"\\Apple Computer";

// Names long enough that a chain of them outgrows the host's PATH_MAX.
const std::string kLongName(200, 'd');
constexpr int kLongLevels = 22;

// Removes `name` below the open folder `dir` with everything in it, one
// level at a time relative to its parent, so depth is no limit.
void RemoveBelow(int dir, const char* name) {
    const int fd = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(dir, name, 0);
        return;
    }
    const std::string child = kLongName;
    RemoveBelow(fd, child.c_str());
    ::unlinkat(fd, "f", 0);
    ::close(fd);
    ::unlinkat(dir, name, AT_REMOVEDIR);
}

struct ScanRecord {
    int32_t state;
    int32_t category;
    int64_t categorySize;
    int32_t categoryCount;
    int32_t itemId;
    bool itemValid;
    std::wstring itemPath;
};

struct DeleteRecord {
    int32_t state;
    int64_t deleted;
    int64_t total;
    bool success;
    std::vector<std::wstring> residual;
    int32_t result;
};

class UserDataTest : public LoggedMachineTest {
protected:
    CItunesUserDataMgr& Mgr() { return CItunesUserDataMgr::Instance(); }
    bool Exists(const std::wstring& p) { return Os().Files().Exists(p); }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }

    // Ten two-character folders with `files` bytes each and the probe file.
    int64_t MakeBackup(const std::wstring& folder, size_t bytes = 100) {
        for (int i = 0; i < 10; ++i) WriteFile(folder + L"\\0" + std::to_wstring(i) + L"\\f", bytes);
        WriteFile(folder + L"\\Manifest.db", 50);
        return static_cast<int64_t>(10 * bytes + 50);
    }

    static bool OnScan(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO* info) {
        auto* self = static_cast<UserDataTest*>(user);
        self->scan_.push_back({state, info->nCategory, info->nCategorySize, info->nCategoryCount, info->item.nId,
                               info->item.bValid, info->item.strPath});
        if (self->onScan_) self->onScan_(state, *info);
        return true;
    }

    static bool OnDelete(void* user, int32_t state, const ST_ITUNES_DELETE_INFO* info) {
        auto* self = static_cast<UserDataTest*>(user);
        self->deletion_.push_back(
            {state, info->nDeletedSize, info->nTotalSize, info->bSuccess, info->vecResidual, info->nResult});
        if (self->onDelete_) self->onDelete_(state);
        return true;
    }

    void Scan(bool deep, bool* cancel = nullptr) {
        scan_.clear();
        ASSERT_TRUE(Mgr().EnumItunesUserData(&OnScan, this, deep, cancel));
        Mgr().WaitIdle();
    }

    void Delete(std::vector<int32_t> categories, std::vector<int32_t> items = {}, bool* cancel = nullptr) {
        deletion_.clear();
        ASSERT_TRUE(Mgr().DeleteItuensUserData(&OnDelete, this, categories, items, cancel));
        Mgr().WaitIdle();
        ASSERT_FALSE(deletion_.empty());
        ASSERT_EQ(deletion_.back().state, kDeleteItunesUserDataState_DeleteComplete);
    }

    const ST_ITUNES_CATEGORY_INFO& Category(int32_t group, int32_t code) {
        return Mgr().GetAllItunesTypeInfoMap()->at(group).mapCategory.at(code);
    }

    std::vector<int32_t> BackupIds(const std::wstring& path) {
        std::vector<int32_t> ids;
        for (const ScanRecord& r : scan_) {
            if (r.itemValid && AsciiLower(r.itemPath) == AsciiLower(path)) ids.push_back(r.itemId);
        }
        return ids;
    }

    // A chain of kLongLevels folders below `top` with a 40-byte file at the
    // bottom, made relative to each parent: its host path is longer than
    // any host call accepts.
    void MakeDeepChain(const std::wstring& top) {
        fs::create_directories(Host(top));
        int fd = ::open(Host(top).c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (int level = 0; level < kLongLevels; ++level) {
            ASSERT_EQ(::mkdirat(fd, kLongName.c_str(), 0777), 0);
            const int next = ::openat(fd, kLongName.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            ASSERT_GE(fd, 0);
        }
        const int file = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(::write(file, std::string(40, 'x').data(), 40), 40);
        ::close(file);
        ::close(fd);
        ASSERT_GT(Host(top).size() + kLongLevels * (kLongName.size() + 1), size_t{PATH_MAX});
    }
    bool DeepChainFileExists(const std::wstring& top) {
        int fd = ::open(Host(top).c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < kLongLevels && fd >= 0; ++level) {
            const int next = ::openat(fd, kLongName.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        if (fd < 0) return false;
        struct stat st {};
        const bool found = ::fstatat(fd, "f", &st, 0) == 0;
        ::close(fd);
        return found;
    }
    void RemoveDeepChain(const std::wstring& top) {
        const int fd = ::open(Host(top).c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) return;
        RemoveBelow(fd, kLongName.c_str());
        ::close(fd);
    }

    std::vector<ScanRecord> scan_;
    std::vector<DeleteRecord> deletion_;
    std::function<void(int32_t, const ST_ITUNES_USER_DATA_ENUM_INFO&)> onScan_;
    std::function<void(int32_t)> onDelete_;
};

// ------------------------------------------------------------------ scan

TEST_F(UserDataTest, QuickScanSortsEachFileIntoItsCategory) {
    EXPECT_TRUE(Mgr().GetAllItunesTypeInfoMap()->empty());
    WriteFile(kMedia + L"\\Music\\Artist\\Album\\01 Song.mp3", 1000);
    WriteFile(kMedia + L"\\Apple Music\\track.m4p", 500);
    WriteFile(kMedia + L"\\Movies\\film.m4v", 3000);
    WriteFile(kMusic + L"\\iTunes\\iTunes Library.itl", 70);
    WriteFile(L"C:\\ProgramData\\Apple\\Lockdown\\pair.plist", 30);
    WriteFile(L"C:\\ProgramData\\Apple\\Installer Cache\\x\\pkg.msi", 400);
    WriteFile(kAppData + L"\\Apple Computer\\Preferences\\stray.plist", 9);
    WriteFile(kMusic + L"\\outside.mp3", 5000);  // no root holds it

    Scan(false);
    EXPECT_EQ(Category(1, 1).nCount, 2);
    EXPECT_EQ(Category(1, 1).nSize, 1500);
    EXPECT_EQ(Category(1, 2).nSize, 3000);
    EXPECT_EQ(Category(5, 20).nCount, 2);
    EXPECT_EQ(Category(5, 20).nSize, 100);
    EXPECT_EQ(Category(4, 16).nSize, 400);
    EXPECT_EQ(Category(4, 19).nCount, 1);
    EXPECT_EQ(Mgr().GetAllItunesTypeInfoMap()->at(1).nSize, 4500);
    EXPECT_EQ(Category(1, 1).vecFolder,
              (std::vector<std::wstring>{L"c:\\users\\tarn\\music\\itunes\\itunes media\\music",
                                         L"c:\\users\\tarn\\music\\itunes\\itunes media\\apple music"}));

    // States: 1 first, 4 last, 3 never without a deep request.
    ASSERT_GE(scan_.size(), 3u);
    EXPECT_EQ(scan_.front().state, kEnumItunesUserDataState_Enum_Begin);
    EXPECT_EQ(scan_.back().state, kEnumItunesUserDataState_Enum_End);
    for (size_t i = 1; i + 1 < scan_.size(); ++i) EXPECT_EQ(scan_[i].state, kEnumItunesUserDataState_Enum_Progress);

    EXPECT_EQ(GetItunesCategoryName(0), L"unknown");
    EXPECT_EQ(GetItunesCategoryName(21), L"unknown");
    EXPECT_EQ(GetItunesCategoryName(12), L"ITUNES备份");
    EXPECT_TRUE(Logged("Scan itunes user data (6 folder)..."));

    // Every scan starts from zero.
    Scan(false);
    EXPECT_EQ(Category(1, 1).nCount, 2);
}

TEST_F(UserDataTest, CancelFlagSetBeforeTheCallIsClearedAndASecondScanIsRefused) {
    WriteFile(kMedia + L"\\Music\\a.mp3", 10);
    bool cancel = true;
    bool refused = false;
    onScan_ = [&](int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO&) {
        if (state == kEnumItunesUserDataState_Enum_Begin) {
            refused = !Mgr().EnumItunesUserData(&OnScan, this, false, nullptr);
        }
    };
    Scan(false, &cancel);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(Logged("EnumItunesUserData begin..."));
    EXPECT_TRUE(Logged("ERR:previous task is runing,can not exec new task"));
    EXPECT_FALSE(cancel);
    EXPECT_EQ(Category(1, 1).nCount, 1);
}

TEST_F(UserDataTest, BackupsAreFoundByThePassThatOwnsTheirFolder) {
    const int64_t quickSize = MakeBackup(kQuickBackup);
    const int64_t deepSize = MakeBackup(kDeepBackup, 300);
    // A link to the deep backup's folder and a look-alike without a layout.
    Link(L"C:\\Shortcut", L"C:\\OldPhones");
    WriteFile(L"C:\\NotABackup\\Manifest.db", 5);

    Scan(false);
    ASSERT_EQ(BackupIds(kQuickBackup).size(), 1u);
    EXPECT_TRUE(BackupIds(kDeepBackup).empty());
    EXPECT_EQ(Category(2, 12).nSize, quickSize);
    EXPECT_EQ(Category(2, 12).nCount, 0);
    EXPECT_EQ(Category(4, 19).nCount, 0);

    Scan(true);
    EXPECT_EQ(BackupIds(kQuickBackup).size(), 1u);  // the deep pass leaves the roots alone
    EXPECT_EQ(BackupIds(kDeepBackup).size(), 1u);   // once: the link is not followed
    EXPECT_EQ(Category(2, 12).nSize, quickSize + deepSize);
    EXPECT_EQ(Category(4, 19).nCount, 0);  // no backup entered, no deep-pass file counted
    EXPECT_EQ(std::count_if(scan_.begin(), scan_.end(),
                            [](const ScanRecord& r) { return r.state == kEnumItunesUserDataState_DeepScan_Begin; }),
              1);

    // The folder count of a complete deep pass is the next scan's total.
    int32_t nextTotal = 0;
    onScan_ = [&](int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO& info) {
        if (state == kEnumItunesUserDataState_Enum_Begin) nextTotal = info.pProgress->nTotalDir;
    };
    const std::string ini = ReadHostFile(L"C:\\Tarnwick\\ScanCache.ini");
    Scan(false);
    EXPECT_NE(ini.find("DEEP=" + std::to_string(nextTotal)), std::string::npos) << ini;
    EXPECT_GT(nextTotal, 10);
}

TEST_F(UserDataTest, CancelledDeepPassSavesNothing) {
    MakeBackup(kDeepBackup);
    bool cancel = false;
    onScan_ = [&](int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO&) {
        if (state == kEnumItunesUserDataState_DeepScan_Begin) cancel = true;
    };
    Scan(true, &cancel);
    EXPECT_TRUE(BackupIds(kDeepBackup).empty());
    EXPECT_EQ(scan_.back().state, kEnumItunesUserDataState_Enum_End);
    EXPECT_EQ(ReadHostFile(L"C:\\Tarnwick\\ScanCache.ini").find("DEEP="), std::string::npos);
}

// ------------------------------------------------------------------ deletion

TEST_F(UserDataTest, TwoCategoriesAndOneBackupGoWithTotalsThatAddUp) {
    for (int i = 0; i < 25; ++i) WriteFile(kMedia + L"\\Movies\\m" + std::to_wstring(i) + L".m4v", 100);
    WriteFile(kAppData + L"\\Apple Computer\\Logs\\a.log", 40);
    WriteFile(kMedia + L"\\Music\\keep.mp3", 10);
    const int64_t backupSize = MakeBackup(kQuickBackup);
    MakeBackup(kDeepBackup);
    Scan(true);
    const std::vector<int32_t> ids = BackupIds(kQuickBackup);
    ASSERT_EQ(ids.size(), 1u);

    Delete({2, 18, 99}, {ids[0], 123456});
    const int64_t expected = 2500 + 40 + backupSize;
    const DeleteRecord& last = deletion_.back();
    EXPECT_EQ(last.total, expected);
    EXPECT_EQ(last.deleted, expected);
    EXPECT_TRUE(last.success);
    EXPECT_TRUE(last.residual.empty());
    EXPECT_EQ(last.result, 0);
    EXPECT_FALSE(Exists(kMedia + L"\\Movies"));
    EXPECT_FALSE(Exists(kAppData + L"\\Apple Computer\\Logs"));
    EXPECT_FALSE(Exists(kQuickBackup));
    EXPECT_TRUE(Exists(kDeepBackup + L"\\Manifest.db"));
    EXPECT_TRUE(Exists(kMedia + L"\\Music\\keep.mp3"));
    EXPECT_TRUE(Logged("Update iTunes Library.itl..."));  // movies are media

    // Progress: before the first folder, then after the 10th, 20th and
    // 30th file tried (25 movies, a log, 11 backup files).
    std::vector<int64_t> progress;
    for (const DeleteRecord& r : deletion_) {
        if (r.state == kDeleteItunesUserDataState_Deleting) progress.push_back(r.deleted);
    }
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(progress[0], 0);
}

TEST_F(UserDataTest, ALibraryNestedTooDeeplyStillEndsWithTheFinalReport) {
    WriteFile(kMedia + L"\\Movies\\m.m4v", 100);
    std::string deep = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i) deep += "<array>";
    for (int i = 0; i < 100000; ++i) deep += "</array>";
    deep += "</plist>\n";
    const std::string library = Host(kMusic + L"\\iTunes\\iTunes Library.itl");
    fs::create_directories(fs::path(library).parent_path());
    std::ofstream(library, std::ios::binary) << deep;
    Scan(false);

    Delete({2});
    EXPECT_TRUE(deletion_.back().success);
    EXPECT_FALSE(Exists(kMedia + L"\\Movies"));
    EXPECT_TRUE(Logged("is nested too deeply to be read, left as it is"));
    std::ifstream in(library, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), deep);
}

TEST_F(UserDataTest, SpecialFilesAndUnselectedBackupsAreNeverDeleted) {
    WriteFile(kMusic + L"\\iTunes\\iTunes Library.itl", 70);
    MakeBackup(kQuickBackup);
    Scan(false);

    bool refused = false;
    onDelete_ = [&](int32_t state) {
        std::vector<int32_t> none;
        if (state == kDeleteItunesUserDataState_Deleting) {
            refused = !Mgr().DeleteItuensUserData(&OnDelete, this, none, none, nullptr);
        }
    };
    Delete({20, 12});  // category 12 counts its backups but deletes only by id
    EXPECT_TRUE(refused);
    EXPECT_TRUE(Logged("ERR:previous task is runing ,cant exec new task!"));
    EXPECT_TRUE(Exists(kMusic + L"\\iTunes\\iTunes Library.itl"));
    EXPECT_TRUE(Exists(kQuickBackup + L"\\Manifest.db"));
    EXPECT_EQ(deletion_.front().state, kDeleteItunesUserDataState_Deleting);
    EXPECT_EQ(deletion_.back().total, Category(2, 12).nSize);
    EXPECT_EQ(deletion_.back().deleted, 0);
    EXPECT_TRUE(deletion_.back().success);
    EXPECT_TRUE(Logged("not delete [special itl]"));
    EXPECT_FALSE(Logged("Update iTunes Library.itl"));
}

TEST_F(UserDataTest, JunkFilesGoOneByOneAndALockedOneIsReported) {
    const std::wstring stray = kAppData + L"\\Apple Computer\\Stray\\old.tmp";
    const std::wstring locked = L"C:\\ProgramData\\Apple\\held.dat";
    const std::wstring cookie = kAppData + L"\\Apple Computer\\iTunes\\Cookies\\Cookies.binarycookies";
    WriteFile(stray, 20);
    WriteFile(locked, 30);
    WriteFile(cookie, 4);
    WriteFile(kAppData + L"\\Apple Computer\\iTunes\\Cookies\\other", 6);
    Scan(false);
    Os().Files().SetAttributes(locked, platform::kAttrReadOnly);
    Os().Files().SetAttributes(cookie, platform::kAttrReadOnly);

    Delete({17, 19});
    EXPECT_FALSE(Exists(stray));
    EXPECT_FALSE(Exists(kAppData + L"\\Apple Computer\\Stray"));  // emptied, so removed
    EXPECT_TRUE(Exists(locked));
    EXPECT_EQ(deletion_.back().deleted, 26);
    EXPECT_EQ(deletion_.back().total, 60);
    EXPECT_FALSE(deletion_.back().success);
    // The junk file as recorded, then what the check found in the folders.
    EXPECT_EQ(deletion_.back().residual,
              (std::vector<std::wstring>{L"c:\\programdata\\apple\\held.dat",
                                         L"c:\\users\\tarn\\appdata\\roaming\\apple computer\\itunes\\cookies\\cookies.binarycookies"}));
}

// Each folder level still open meets the flag at its next entry and says so.
TEST_F(UserDataTest, CancelStopsTheDeletionAndSkipsTheJunk) {
    // A Chinese Windows, whose OEM code page writes the log's Chinese text.
    machine_->Edit([](sim::MachineState& state) { state.codePages.oem = 936; });
    for (int i = 0; i < 30; ++i) WriteFile(kMedia + L"\\Movies\\a\\b\\m" + std::to_wstring(i), 10);
    WriteFile(kMedia + L"\\Movies\\a\\y.m4v", 10);
    WriteFile(kMedia + L"\\Movies\\z.m4v", 10);
    WriteFile(kAppData + L"\\Apple Computer\\stray.tmp", 5);
    Scan(false);
    bool cancel = false;
    onDelete_ = [&](int32_t state) {
        if (state == kDeleteItunesUserDataState_Deleting && deletion_.size() == 2) cancel = true;
    };
    Delete({2, 19}, {}, &cancel);
    EXPECT_EQ(deletion_.back().result, -1);
    EXPECT_FALSE(deletion_.back().success);
    EXPECT_EQ(deletion_.back().deleted, 100);  // the first ten files
    EXPECT_TRUE(Exists(kAppData + L"\\Apple Computer\\stray.tmp"));
    EXPECT_TRUE(Logged("Cancle Success"));
    const std::string log = LoadTimeLog();
    size_t stops = 0;
    const std::string stop = Os().CodePages().FromWide(platform::kCpOemCp, L"已取消删除3\n");
    for (size_t at = log.find(stop); at != std::string::npos; at = log.find(stop, at + 1)) ++stops;
    EXPECT_EQ(stops, 3u);
}

// Paths a deletion reaches come from the machine's folders: a link inside a
// media folder, a backup layout planted in the Windows folder, a backup
// gone since the scan.
TEST_F(UserDataTest, LinksWindowsFolderAndVanishedBackupsAreLeftAlone) {
    WriteFile(L"C:\\Precious\\thesis.doc", 10);
    WriteFile(kMedia + L"\\Tones\\ring.m4r", 10);
    Link(kMedia + L"\\Tones\\link", L"C:\\Precious");
    const std::wstring planted = L"C:\\Windows\\Fonts\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    MakeBackup(planted);
    MakeBackup(kDeepBackup);
    const std::wstring stray = kAppData + L"\\Apple Computer\\Stray";
    WriteFile(stray + L"\\old.tmp", 3);
    WriteFile(L"C:\\Elsewhere\\old.tmp", 3);
    Scan(true);
    const std::vector<int32_t> plantedIds = BackupIds(planted);
    const std::vector<int32_t> goneIds = BackupIds(kDeepBackup);
    ASSERT_EQ(plantedIds.size(), 1u);
    ASSERT_EQ(goneIds.size(), 1u);
    fs::remove_all(Host(kDeepBackup));
    // A junk file's folder swapped for a link to a folder holding a file of
    // the same name.
    fs::remove_all(Host(stray));
    Link(stray, L"C:\\Elsewhere");

    Delete({10, 19}, {plantedIds[0], goneIds[0]});
    EXPECT_TRUE(Exists(L"C:\\Elsewhere\\old.tmp"));
    EXPECT_FALSE(Exists(kMedia + L"\\Tones"));
    EXPECT_TRUE(Exists(L"C:\\Precious\\thesis.doc"));
    EXPECT_TRUE(Exists(planted + L"\\Manifest.db"));
    EXPECT_TRUE(Exists(planted + L"\\00\\f"));
}

// Links below the roots: a category folder that is itself a link, a link on
// the way to category folders (an iTunes folder moved elsewhere, followed),
// one into another root (the media folder, whose files count under
// category 20; not followed). The scan counts exactly what the deletion
// removes, and nothing behind a link it does not follow goes.
TEST_F(UserDataTest, LinksBelowTheRootsAreFollowedOnlyOnTheWayToACategory) {
    for (int i = 0; i < 3; ++i) WriteFile(kMedia + L"\\Music\\s" + std::to_wstring(i) + L".mp3", 100);
    for (int i = 0; i < 5; ++i) WriteFile(L"C:\\Shared\\Downloads\\d" + std::to_wstring(i), 50);
    Link(kMedia + L"\\Downloads", L"C:\\Shared\\Downloads");
    WriteFile(kMedia + L"\\Cache\\art.jpg", 70);
    Link(kMusic + L"\\iTunes\\Album Artwork", kMedia);
    WriteFile(L"C:\\Other\\Cookies\\c.txt", 30);
    WriteFile(L"C:\\Other\\iPhone Software Updates\\fw.ipsw", 40);
    fs::create_directories(Host(kComputer));
    Link(kComputer + L"\\iTunes", L"C:\\Other");
    // A junk file that is a link to a file: it counts, and goes, as itself.
    WriteFile(L"C:\\Shared\\big.bin", 1000);
    fs::create_directories(Host(kComputer + L"\\Stray"));
    fs::create_symlink(Host(L"C:\\Shared\\big.bin"), Host(kComputer + L"\\Stray\\big.lnk"));
    // A link named as a backup, to a backup elsewhere, is no backup here.
    MakeBackup(kDeepBackup);
    fs::create_directories(Host(kQuickBackup).substr(0, Host(kQuickBackup).rfind('/')));
    Link(kQuickBackup, kDeepBackup);
    Scan(false);
    EXPECT_TRUE(BackupIds(kQuickBackup).empty());
    EXPECT_EQ(Category(2, 12).nSize, 0);
    EXPECT_EQ(Category(1, 1).nSize, 300);
    EXPECT_EQ(Category(1, 11).nCount, 0);
    EXPECT_EQ(Category(3, 14).nSize, 40);
    EXPECT_EQ(Category(4, 16).nCount, 0);
    EXPECT_EQ(Category(4, 17).nSize, 30);
    EXPECT_EQ(Category(5, 20).nSize, 70);
    EXPECT_EQ(Category(4, 19).nSize, 0);

    Delete({1, 11, 14, 16, 17, 19});
    const DeleteRecord& last = deletion_.back();
    EXPECT_EQ(last.total, 370);
    EXPECT_EQ(last.deleted, 370);
    EXPECT_FALSE(Exists(kMedia + L"\\Music"));
    EXPECT_FALSE(fs::is_symlink(Host(kMedia + L"\\Downloads")));  // the link goes, as a link
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Exists(L"C:\\Shared\\Downloads\\d" + std::to_wstring(i)));
    EXPECT_TRUE(Exists(kMedia + L"\\Cache\\art.jpg"));
    EXPECT_FALSE(Exists(L"C:\\Other\\Cookies"));
    EXPECT_FALSE(Exists(L"C:\\Other\\iPhone Software Updates"));
    EXPECT_FALSE(fs::is_symlink(Host(kComputer + L"\\Stray\\big.lnk")));
    EXPECT_TRUE(Exists(L"C:\\Shared\\big.bin"));
    // What the user picked and the deletion would not reach stays, and says so.
    EXPECT_FALSE(last.success);
    EXPECT_EQ(last.residual,
              (std::vector<std::wstring>{L"c:\\users\\tarn\\music\\itunes\\album artwork\\cache\\"}));
    EXPECT_TRUE(Logged("is reached through the link"));
}

// A media folder moved to a second drive through a junction, cloud
// placeholder folders (reparse points that are no links) and a root that
// is itself a junction: scanned to the seeded totals and deleted to exactly
// them. Links that lead to protected places, or that stand below a
// category folder, are never followed, counted or deleted through.
TEST_F(UserDataTest, MovedAndCloudFoldersScanAndDeleteToTheSeededTotals) {
    machine_->Edit([](sim::MachineState& s) {
        s.drives.push_back({L'D', platform::DriveType::Fixed, 100ull << 30, 50ull << 30});
    });
    machine_->CreateDriveFolders();
    for (int i = 0; i < 3; ++i) WriteFile(L"D:\\Media\\Music\\s" + std::to_wstring(i) + L".mp3", 100);
    WriteFile(L"D:\\Media\\Music\\Album\\t.m4a", 100);
    MarkCloudFolder(L"D:\\Media\\Music\\Album");
    WriteFile(L"D:\\Media\\Podcasts\\p.mp3", 25);
    MarkCloudFolder(L"D:\\Media\\Podcasts");
    fs::remove_all(Host(kMedia));
    fs::create_directories(Host(kMusic + L"\\iTunes"));
    Link(kMedia, L"D:\\Media");
    WriteFile(kMusic + L"\\iTunes\\Album Artwork\\Cache\\a.jpg", 70);
    MarkCloudFolder(kMusic + L"\\iTunes\\Album Artwork");
    // Hostile links below a category folder: never followed.
    WriteFile(L"C:\\Users\\Tarn\\Documents\\thesis.doc", 10);
    WriteFile(L"C:\\Windows\\System32\\k.dll", 10);
    Link(L"D:\\Media\\Music\\docs", L"C:\\Users\\Tarn\\Documents");
    Link(L"D:\\Media\\Music\\win", L"C:\\Windows");
    Link(L"D:\\Media\\Music\\drive", L"C:\\");
    fs::create_directory_symlink(Host(L"D:\\"), Host(L"D:\\Media\\Music") + "/...");
    // Hostile links on the way to a category folder, and a root that leads
    // into the Windows folder: never followed either.
    fs::create_directories(Host(kComputer));
    Link(kComputer + L"\\iTunes", L"C:\\Users\\Tarn\\Documents");
    WriteFile(L"C:\\Users\\Tarn\\Documents\\Cookies\\c.txt", 10);
    WriteFile(L"C:\\Windows\\Apple Software Update\\u.msi", 10);
    fs::remove_all(Host(L"C:\\Users\\Tarn\\AppData\\Local\\Apple"));
    Link(L"C:\\Users\\Tarn\\AppData\\Local\\Apple", L"C:\\Windows");
    // A root that is itself a junction to another drive: its junk counts and goes.
    fs::remove_all(Host(L"C:\\ProgramData\\Apple Computer"));
    Link(L"C:\\ProgramData\\Apple Computer", L"D:\\AppleComputer");
    WriteFile(L"D:\\AppleComputer\\stray.tmp", 5);

    Scan(false);
    EXPECT_EQ(Category(1, 1).nSize, 400);
    EXPECT_EQ(Category(1, 5).nSize, 25);
    EXPECT_EQ(Category(4, 16).nSize, 70);
    EXPECT_EQ(Category(4, 17).nCount, 0);
    EXPECT_EQ(Category(3, 13).nCount, 0);
    EXPECT_EQ(Category(4, 19).nSize, 5);
    EXPECT_TRUE(Logged("is reached through the link"));  // the root into the Windows folder

    Delete({1, 5, 13, 16, 17, 19});
    const DeleteRecord& last = deletion_.back();
    EXPECT_EQ(last.total, 500);
    EXPECT_EQ(last.deleted, 500);
    EXPECT_FALSE(Exists(L"D:\\Media\\Music"));
    EXPECT_FALSE(Exists(L"D:\\Media\\Podcasts"));
    EXPECT_FALSE(Exists(kMusic + L"\\iTunes\\Album Artwork\\Cache"));
    EXPECT_FALSE(Exists(L"D:\\AppleComputer\\stray.tmp"));
    EXPECT_TRUE(Exists(L"C:\\Users\\Tarn\\Documents\\thesis.doc"));
    EXPECT_TRUE(Exists(L"C:\\Users\\Tarn\\Documents\\Cookies\\c.txt"));
    EXPECT_TRUE(Exists(L"C:\\Windows\\System32\\k.dll"));
    EXPECT_TRUE(Exists(L"C:\\Windows\\Apple Software Update\\u.msi"));
    EXPECT_TRUE(Exists(L"D:\\AppleComputer"));
}

// A root that is a link to another root: walked through it, the pairing
// records (never deleted) would also count as junk, and the installer cache
// twice. A backup inside a category folder counts as a backup only, so the
// category's deletion leaves it when it was not picked.
TEST_F(UserDataTest, ARootReachedThroughALinkIsNotScannedSoNothingCountsTwice) {
    const std::wstring apple = L"C:\\ProgramData\\Apple";
    WriteFile(apple + L"\\Lockdown\\pair.plist", 30);
    WriteFile(apple + L"\\Installer Cache\\p.msi", 400);
    WriteFile(apple + L"\\iTunes\\x.dat", 20);
    fs::remove_all(Host(L"C:\\ProgramData\\Apple Computer"));
    Link(L"C:\\ProgramData\\Apple Computer", apple);
    const std::wstring backup = kComputer + L"\\Logs\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    MakeBackup(backup);
    WriteFile(kComputer + L"\\Logs\\a.log", 5);
    Scan(false);
    ASSERT_EQ(BackupIds(backup).size(), 1u);
    EXPECT_EQ(Category(5, 20).nSize, 30);
    EXPECT_EQ(Category(4, 16).nCount, 1);
    EXPECT_EQ(Category(3, 14).nCount, 0);
    EXPECT_EQ(Category(4, 19).nSize, 20);
    EXPECT_TRUE(Logged("is reached through the link"));

    Delete({14, 16, 18, 19});
    EXPECT_EQ(deletion_.back().total, 425);
    EXPECT_EQ(deletion_.back().deleted, 425);
    EXPECT_TRUE(deletion_.back().success);
    EXPECT_TRUE(deletion_.back().residual.empty());
    EXPECT_TRUE(Exists(apple + L"\\Lockdown\\pair.plist"));
    EXPECT_FALSE(Exists(apple + L"\\Installer Cache"));
    EXPECT_FALSE(Exists(kComputer + L"\\Logs\\a.log"));
    EXPECT_TRUE(Exists(backup + L"\\05\\f"));
}

// What a refusal or an unreachable depth leaves is reported, never a success.
TEST_F(UserDataTest, RefusedAndUnreachableFoldersAreReportedAsLeftOver) {
    const std::wstring planted = L"C:\\Windows\\Fonts\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    MakeBackup(planted, 0);
    WriteFile(kMedia + L"\\Movies\\m.m4v", 100);
    MakeDeepChain(kMedia + L"\\Movies\\deep");
    Scan(true);
    const std::vector<int32_t> ids = BackupIds(planted);
    ASSERT_EQ(ids.size(), 1u);

    Delete({}, ids);
    EXPECT_EQ(deletion_.back().total, 50);
    EXPECT_EQ(deletion_.back().deleted, 0);
    EXPECT_FALSE(deletion_.back().success);
    EXPECT_EQ(deletion_.back().residual, std::vector<std::wstring>{AsciiLower(planted) + L"\\"});
    EXPECT_TRUE(Logged("the deletion guard refused it"));
    EXPECT_TRUE(Exists(planted + L"\\Manifest.db"));

    Delete({2});
    const DeleteRecord& last = deletion_.back();
    EXPECT_EQ(last.deleted, last.total);
    EXPECT_GE(last.total, 100);
    EXPECT_FALSE(last.success);
    ASSERT_EQ(last.residual.size(), 1u);
    // The deepest folder the walk could still name, under the chain.
    EXPECT_EQ(last.residual[0].rfind(L"c:\\users\\tarn\\music\\itunes\\itunes media\\movies\\deep\\", 0), 0u);
    EXPECT_EQ(last.residual[0].back(), L'\\');
    EXPECT_FALSE(Exists(kMedia + L"\\Movies\\m.m4v"));
    EXPECT_TRUE(DeepChainFileExists(kMedia + L"\\Movies\\deep"));
    RemoveDeepChain(kMedia + L"\\Movies\\deep");
}

// A loop back to an ancestor, a link to the drive root and many links to
// one big folder: the scan counts the two real files only, enters few
// folders, and the deletion removes the links and nothing behind them.
// Bounds on what is visited end a walk that follows links.
TEST_F(UserDataTest, LinksToAncestorsAndDrivesKeepScanAndDeletionBounded) {
    const std::wstring cache = L"C:\\ProgramData\\Apple\\Installer Cache";
    WriteFile(cache + L"\\a.msi", 100);
    WriteFile(cache + L"\\sub\\b.msi", 100);
    for (int i = 0; i < 200; ++i) WriteFile(L"C:\\Big\\f" + std::to_wstring(i), 10);
    Link(cache + L"\\sub\\loop", L"C:\\ProgramData");
    Link(cache + L"\\drive", L"C:\\");
    for (int i = 0; i < 40; ++i) Link(cache + L"\\big" + std::to_wstring(i), L"C:\\Big");
    constexpr int32_t kFolderBound = 100;  // 44 folders met: the real ones and each link once
    bool cancel = false;
    int32_t folders = 0;
    onScan_ = [&](int32_t, const ST_ITUNES_USER_DATA_ENUM_INFO& info) {
        folders = info.pProgress->nScannedDir;
        if (folders > kFolderBound) cancel = true;
    };
    Scan(false, &cancel);
    EXPECT_FALSE(cancel);
    EXPECT_LT(folders, kFolderBound);
    EXPECT_EQ(Category(4, 16).nCount, 2);
    EXPECT_EQ(Category(4, 16).nSize, 200);

    onScan_ = nullptr;
    onDelete_ = [&](int32_t) {
        if (deletion_.size() > 5) cancel = true;  // a progress record per ten files tried
    };
    Delete({16}, {}, &cancel);
    EXPECT_EQ(deletion_.back().result, 0);
    EXPECT_EQ(deletion_.back().deleted, 200);
    EXPECT_TRUE(deletion_.back().success);
    EXPECT_FALSE(Exists(cache));
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(Exists(L"C:\\Big\\f" + std::to_wstring(i)));
    EXPECT_TRUE(Exists(L"C:\\ProgramData\\Apple"));
}

}  // namespace
