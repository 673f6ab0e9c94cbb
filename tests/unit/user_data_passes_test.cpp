// The user-data scan's two passes and what a deletion does beyond its
// folders: a cancelled quick pass ends the scan, the deep pass keeps out of
// the system folders, backups of the old format are recognised, and a
// deleted category of media, mobile apps included, leaves the library file
// without the entries of the files that went.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/itunesUserDataMgr.h"
#include "Brisalen/ItunesLibraryMgr.h"
#include "SimMachineFixture.h"
#include "common/TextHelpers.h"
#include "platform/KnownFolders.h"
#include "platform/sim/processes/SimItunesLibrary.h"

namespace {

const std::wstring kMusic = L"C:\\Users\\Tarn\\Music";
const std::wstring kMedia = kMusic + L"\\iTunes\\iTunes Media";
const std::wstring kElsewhere = L"C:\\OldPhones\\a1b2c3d4e5f60718293a4b5c6d7e8f9012345678";

bool CollectLocation(ITL::eEnumAndDeleteItunesState state, std::string text, void*, void* context) {
    if (state == ITL::eEnumItunesMedia) static_cast<std::vector<std::string>*>(context)->push_back(text);
    return true;
}

class UserDataPassesTest : public LoggedMachineTest {
protected:
    CItunesUserDataMgr& Mgr() { return CItunesUserDataMgr::Instance(); }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }

    // A backup of today's layout: ten two-character folders and Manifest.db.
    void MakeBackup(const std::wstring& folder) {
        for (int i = 0; i < 10; ++i) WriteFile(folder + L"\\0" + std::to_wstring(i) + L"\\f", 10);
        WriteFile(folder + L"\\Manifest.db", 5);
    }

    static bool OnScan(void* user, int32_t state, const ST_ITUNES_USER_DATA_ENUM_INFO* info) {
        auto* self = static_cast<UserDataPassesTest*>(user);
        self->states_.push_back(state);
        if (info->item.bValid) self->found_.push_back(AsciiLower(info->item.strPath));
        if (self->onScan_) self->onScan_(state);
        return true;
    }
    static bool OnDelete(void*, int32_t, const ST_ITUNES_DELETE_INFO*) { return true; }

    void Scan(bool deep, bool* cancel = nullptr) {
        states_.clear();
        found_.clear();
        ASSERT_TRUE(Mgr().EnumItunesUserData(&OnScan, this, deep, cancel));
        Mgr().WaitIdle();
    }
    bool Found(const std::wstring& folder) const {
        return std::count(found_.begin(), found_.end(), AsciiLower(folder)) == 1;
    }
    int Count(int32_t state) const { return static_cast<int>(std::count(states_.begin(), states_.end(), state)); }

    std::vector<int32_t> states_;
    std::vector<std::wstring> found_;
    std::function<void(int32_t)> onScan_;
};

// A cancel during the quick pass is the end of the scan: no deep pass
// begins, so a backup that only the deep pass would find is not reported.
TEST_F(UserDataPassesTest, CancelInTheQuickPassSkipsTheDeepPass) {
    for (int i = 0; i < 30; ++i) WriteFile(kMedia + L"\\Music\\s" + std::to_wstring(i) + L".mp3", 10);
    MakeBackup(kElsewhere);
    bool cancel = false;
    onScan_ = [&](int32_t state) {
        if (state == kEnumItunesUserDataState_Enum_Progress) cancel = true;
    };
    Scan(true, &cancel);
    EXPECT_EQ(Count(kEnumItunesUserDataState_DeepScan_Begin), 0);
    EXPECT_EQ(states_.back(), kEnumItunesUserDataState_Enum_End);
    EXPECT_FALSE(Found(kElsewhere));
    EXPECT_FALSE(Logged("DeepScan => mem ="));

    // The same machine without the cancel: the deep pass runs and finds it.
    onScan_ = nullptr;
    Scan(true);
    EXPECT_EQ(Count(kEnumItunesUserDataState_DeepScan_Begin), 1);
    EXPECT_TRUE(Found(kElsewhere));
}

// The deep pass walks the drives but not the system folders the shell
// names, nor any folder marked as the system's; the Windows folder's other
// folders it does walk, and the quick pass enters a system-marked folder of
// a root.
TEST_F(UserDataPassesTest, DeepPassKeepsOutOfTheSystemFolders) {
    machine_->Edit([](sim::MachineState& s) {
        s.specialFolders[platform::csidl::kSystem] = L"C:\\Windows\\System32";
        s.specialFolders[platform::csidl::kSystemX86] = L"C:\\Windows\\SysWOW64";
        return 0;
    });
    const std::wstring system = L"C:\\Windows\\System32\\config\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    const std::wstring wow = L"C:\\Windows\\SysWOW64\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    const std::wstring marked = L"C:\\System Volume Information\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    const std::wstring fonts = L"C:\\Windows\\Fonts\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    const std::wstring rootMarked = L"C:\\ProgramData\\Apple\\Marked";
    for (const std::wstring& folder : {system, wow, marked, fonts}) MakeBackup(folder);
    WriteFile(rootMarked + L"\\x.dat", 7);
    ASSERT_EQ(Os().Files().SetAttributes(L"C:\\System Volume Information",
                                         platform::kAttrDirectory | platform::kAttrSystem | platform::kAttrHidden),
              0u);
    ASSERT_EQ(Os().Files().SetAttributes(rootMarked, platform::kAttrDirectory | platform::kAttrSystem), 0u);

    Scan(true);
    EXPECT_FALSE(Found(system));
    EXPECT_FALSE(Found(wow));
    EXPECT_FALSE(Found(marked));
    EXPECT_TRUE(Found(fonts));
    EXPECT_EQ(Mgr().GetAllItunesTypeInfoMap()->at(kItunesDataGroup_Junk).mapCategory.at(19).nSize, 7);
}

// Backups made before iOS 10 have Manifest.mbdb and forty-character files
// instead of Manifest.db and two-character folders.
TEST_F(UserDataPassesTest, BackupsOfTheOldFormatAreFoundByEitherPass) {
    const std::wstring quick = L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer\\MobileSync\\Backup\\old";
    for (const std::wstring& folder : {quick, kElsewhere}) {
        for (int i = 0; i < 10; ++i) WriteFile(folder + L"\\" + std::wstring(39, L'a') + std::to_wstring(i), 10);
        WriteFile(folder + L"\\Manifest.mbdb", 5);
    }
    Scan(true);
    EXPECT_TRUE(Found(quick));
    EXPECT_TRUE(Found(kElsewhere));
    EXPECT_EQ(Mgr().GetAllItunesTypeInfoMap()->at(kItunesDataGroup_Backup).mapCategory.at(12).nSize, 2 * 105);
    EXPECT_EQ(Mgr().GetAllItunesTypeInfoMap()->at(kItunesDataGroup_Junk).mapCategory.at(19).nCount, 0);
}

// Mobile apps are media of the library: deleting that category alone takes
// the entries of the deleted apps out of the library file and keeps the
// others. Deleting a category that is no media leaves the file alone.
TEST_F(UserDataPassesTest, DeletingMobileAppsAloneUpdatesTheLibraryFile) {
    const std::wstring app = kMedia + L"\\Mobile Applications\\Game 1.0.ipa";
    const std::wstring song = kMedia + L"\\Music\\song.mp3";
    WriteFile(app, 100);
    WriteFile(song, 100);
    WriteFile(L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer\\Logs\\a.log", 10);
    const std::wstring itl = CCollectDirMgr::Instance().GetMyMusicDir() + L"\\iTunes\\iTunes Library.itl";
    const auto companion = [this] {
        auto library = Os().Libraries().Load(sim::kItunesLibraryCompanionName);
        auto create = reinterpret_cast<CItunesLibraryCompanion::CreateFn>(
            library.Value()->Export(sim::kItunesLibraryCreateExport));
        return std::unique_ptr<ITL::IITunesLibrary>(create());
    };
    {
        auto library = companion();
        ASSERT_TRUE(library);
        // Locations as the library keeps them: URLs with forward slashes.
        for (const std::wstring& file : {app, song}) {
            std::wstring url = L"file://localhost/" + file;
            std::replace(url.begin(), url.end(), L'\\', L'/');
            ASSERT_EQ(library->Append(url, ITL::ITL_SE_MEDIA_MUSIC, L"track"), ITL::ITL_SE_OK);
        }
        ASSERT_EQ(library->Write(itl), ITL::ITL_SE_OK);
    }
    const auto locations = [&] {
        auto library = companion();
        std::vector<std::string> found;
        EXPECT_EQ(library->Read(itl), ITL::ITL_SE_OK);
        library->EnumMediaBlock(&CollectLocation, &found);
        return found;
    };
    const std::vector<std::string> before = locations();
    ASSERT_EQ(before.size(), 2u);
    Scan(false);

    std::vector<int32_t> none;
    std::vector<int32_t> logs{18};
    const std::string untouched = ReadHostFile(itl);
    ASSERT_TRUE(Mgr().DeleteItuensUserData(&OnDelete, this, logs, none, nullptr));
    Mgr().WaitIdle();
    EXPECT_EQ(ReadHostFile(itl), untouched);

    std::vector<int32_t> apps{15};
    ASSERT_TRUE(Mgr().DeleteItuensUserData(&OnDelete, this, apps, none, nullptr));
    Mgr().WaitIdle();
    EXPECT_FALSE(Os().Files().Exists(app));
    EXPECT_TRUE(Logged("Update iTunes Library.itl..."));
    EXPECT_EQ(locations(), std::vector<std::string>{before[1]});
}

}  // namespace
