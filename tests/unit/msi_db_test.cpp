// The package reader and the file check, against the fixture packages laid
// out on a simulated machine as 64-bit Windows would place them.
#include <algorithm>
#include <filesystem>

#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiDB.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "common/TextHelpers.h"

namespace {

// Paths keep the letter case of their root folder only.
std::vector<std::wstring> Lower(std::vector<std::wstring> paths) {
    for (std::wstring& path : paths) AsciiLowerInPlace(path);
    return paths;
}

bool Has(const std::vector<std::wstring>& list, const std::wstring& path) {
    const std::vector<std::wstring> lower = Lower(list);
    return std::find(lower.begin(), lower.end(), AsciiLower(path)) != lower.end();
}

}  // namespace

class MsiDirectoryTest : public LoggedMachineTest {
protected:
    void Chain(int length, const std::wstring& top) {
        for (int i = 1; i <= length; ++i) {
            const std::wstring parent = i == length ? top : L"d" + std::to_wstring(i + 1);
            db_.m_mapDirectory[L"d" + std::to_wstring(i)] = {parent, L"s" + std::to_wstring(i)};
        }
    }
    CMsiDB db_{platform::Os(), CCollectDirMgr::Instance()};
};

TEST_F(MsiDirectoryTest, ResolvesLongNamesUpToARootFolder) {
    db_.m_strInstallDir = L"C:\\Program Files\\iTunes";
    db_.m_mapDirectory[L"res"] = {L"installdir", L"itunes~1.res|itunes.resources"};
    db_.m_mapDirectory[L"lproj"] = {L"res", L"en.lproj"};
    db_.m_mapDirectory[L"same"] = {L"installdir", L"."};
    db_.m_mapDirectory[L"apple"] = {L"commonfilesfolder", L"apple"};
    db_.m_mapDirectory[L"data"] = {L"applecommonappdatafolder", L"apple"};
    std::wstring path;
    ASSERT_TRUE(db_.QueryAbsoluteDir(L"lproj", path));
    EXPECT_EQ(path, L"C:\\Program Files\\iTunes\\itunes.resources\\en.lproj\\");
    ASSERT_TRUE(db_.QueryAbsoluteDir(L"same", path));
    EXPECT_EQ(path, L"C:\\Program Files\\iTunes\\");
    ASSERT_TRUE(db_.QueryAbsoluteDir(L"apple", path));
    EXPECT_EQ(path, db_.m_strCommonFiles + L"\\apple\\");
    ASSERT_TRUE(db_.QueryAbsoluteDir(L"data", path));
    EXPECT_EQ(path, db_.m_strCommonAppData + L"\\apple\\");
    ASSERT_TRUE(db_.QueryAbsoluteDir(L"commonfiles64folder", path));
    EXPECT_EQ(path, L"C:\\Program Files\\Common Files\\");
}

TEST_F(MsiDirectoryTest, UnresolvableDirectoriesFailWithoutAPath) {
    db_.m_mapDirectory[L"dot"] = {L"res", L"."};
    db_.m_mapDirectory[L"res"] = {L"installdir", L"itunes.resources"};
    db_.m_mapDirectory[L"bars"] = {L"installdir", L"a|b|c"};
    db_.m_mapDirectory[L"nolong"] = {L"installdir", L"short|"};
    db_.m_mapDirectory[L"system"] = {L"systemfolder", L"apple"};
    for (const wchar_t* key : {L"dot", L"bars", L"nolong", L"system", L"unknown"}) {
        std::wstring path = L"untouched";
        EXPECT_FALSE(db_.QueryAbsoluteDir(key, path)) << key;
        EXPECT_EQ(path, L"untouched") << key;
    }
    EXPECT_EQ(LoadTimeLog().find("loop!"), std::string::npos);
}

TEST_F(MsiDirectoryTest, ChainsEndAfterTwentyStepsAsALoop) {
    db_.m_strInstallDir = L"C:\\X";
    Chain(20, L"installdir");
    std::wstring path;
    ASSERT_TRUE(db_.QueryAbsoluteDir(L"d1", path));
    EXPECT_EQ(path.substr(0, 13), L"C:\\X\\s20\\s19\\");
    EXPECT_EQ(path.substr(path.size() - 7), L"\\s2\\s1\\");

    db_.m_mapDirectory.clear();
    Chain(21, L"installdir");
    EXPECT_FALSE(db_.QueryAbsoluteDir(L"d1", path));
    db_.m_mapDirectory[L"a"] = {L"b", L"a"};
    db_.m_mapDirectory[L"b"] = {L"a", L"b"};
    EXPECT_FALSE(db_.QueryAbsoluteDir(L"a", path));
    EXPECT_EQ(CountOf(LoadTimeLog(), "ERR:[QueryAbsoluteDir] loop!"), 2u);
}

TEST(MsiLongName, TakesThePartAfterTheOnlyBar) {
    std::wstring name;
    EXPECT_TRUE(CMsiDB::GetLongName(L"itunes~1.dll|itunes.dll", name));
    EXPECT_EQ(name, L"itunes.dll");
    EXPECT_TRUE(CMsiDB::GetLongName(L"corefp.dll", name));
    EXPECT_EQ(name, L"corefp.dll");
    EXPECT_FALSE(CMsiDB::GetLongName(L"a|b|c", name));
    EXPECT_FALSE(CMsiDB::GetLongName(L"a|", name));
}

class MsiPackageTest : public FixtureMachineTest {
protected:
    // The check of a freshly laid-out package on the given Windows.
    struct Result {
        bool ran = false;
        int checked = 0;
        std::vector<std::wstring> bad, missing, all;
    };
    Result Check(const FixturePackage& package, int type = kProductItunes) {
        CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
        Result result;
        EXPECT_TRUE(db.Init(CopyPackage(package.file)));
        result.ran = db.CheckItunesProductFile(type, package.installDir, result.checked, result.bad, result.missing);
        result.all = db.m_vecCheckFile;
        return result;
    }
};

TEST_F(MsiPackageTest, DirectoryTableSkipsTheTopLevelFoldersAndLowerCases) {
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    ASSERT_TRUE(db.Init(CopyPackage("iTunes64.msi")));
    ASSERT_TRUE(db.QueryDirInfo());
    EXPECT_EQ(db.m_mapDirectory.count(L"programfiles64folder"), 0u);
    EXPECT_EQ(db.m_mapDirectory.count(L"targetdir"), 0u);
    ASSERT_EQ(db.m_mapDirectory.count(L"itunes.resources"), 1u);
    EXPECT_EQ(db.m_mapDirectory[L"itunes.resources"].second, L"itunes~1.res|itunes.resources");
    EXPECT_EQ(db.m_mapDirectory[L"itunessamedir"].second, L".");
}

TEST_F(MsiPackageTest, ReadsServiceNames) {
    std::vector<std::wstring> names;
    CMsiDB bonjour(platform::Os(), CCollectDirMgr::Instance());
    ASSERT_TRUE(bonjour.Init(CopyPackage("Bonjour64.msi")));
    bonjour.QueryServiceInstall(names);
    EXPECT_EQ(names, Fixture("Bonjour64.msi").services);
    CMsiDB support(platform::Os(), CCollectDirMgr::Instance());
    ASSERT_TRUE(support.Init(CopyPackage("AppleApplicationSupport.msi")));
    support.QueryServiceInstall(names);
    EXPECT_EQ(names.size(), 1u);
}

TEST_F(MsiPackageTest, MissingAndInvalidPackagesAreLoggedAndAnswerNothing) {
    CMsiDB missing(platform::Os(), CCollectDirMgr::Instance());
    EXPECT_FALSE(missing.Init(L"C:/Packages//none.msi"));
    WriteFile(L"C:\\Packages\\text.msi", 4096);
    CMsiDB invalid(platform::Os(), CCollectDirMgr::Instance());
    EXPECT_FALSE(invalid.Init(L"C:\\Packages\\text.msi"));
    std::vector<std::wstring> names;
    invalid.QueryServiceInstall(names);
    int checked = -1;
    std::vector<std::wstring> bad, miss;
    EXPECT_FALSE(invalid.CheckItunesProductFile(1, L"C:\\X", checked, bad, miss));
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(checked, -1);
    const std::string log = LoadTimeLog();
    EXPECT_NE(log.find("[CMsiDB] file not exist [C:\\Packages\\none.msi]! \n"), std::string::npos);
    EXPECT_NE(log.find("[CMsiDB] open [C:\\Packages\\text.msi] fail! err = 16"), std::string::npos);
    EXPECT_NE(log.find("ERR:m_hDatabase == NULL"), std::string::npos);
}

TEST_F(MsiPackageTest, SoundInstallationHasNoBadOrMissingFiles) {
    const FixturePackage& package = Fixture("iTunes64.msi");
    LayOut(package);
    const Result result = Check(package);
    ASSERT_TRUE(result.ran);
    // 15 files; the add-in's condition has an extra clause and QTMovieWin
    // asks for an older Windows, so neither is checked on Windows 10.
    EXPECT_EQ(result.checked, 13);
    EXPECT_EQ(result.all.size(), 13u);
    EXPECT_TRUE(result.bad.empty());
    EXPECT_TRUE(result.missing.empty());
    EXPECT_TRUE(Has(result.all, L"C:\\Program Files\\Common Files\\Apple\\Internet Services\\ShellStreams64.dll"));
    EXPECT_TRUE(Has(result.all, L"C:\\ProgramData\\Apple\\iTunes\\iTunesPrefs.xml"));
    EXPECT_FALSE(Has(result.all, L"C:\\Program Files\\iTunes\\QTMovieWin.dll"));
    EXPECT_NE(LoadTimeLog().find("SumCheck = 13,bad = 0,miss = 0"), std::string::npos);
}

TEST_F(MsiPackageTest, DeletedFileIsMissingAndResizedFileIsBad) {
    const FixturePackage& package = Fixture("Bonjour64.msi");
    LayOut(package);
    const FixtureFile& gone = FileOf(package, "mDNSResponder.exe");
    const FixtureFile& damaged = FileOf(package, "dnssd.dll");
    std::filesystem::remove(Host(gone.path));
    std::filesystem::resize_file(Host(damaged.path), damaged.size - 1);
    const Result result = Check(package, kProductBonjour);
    ASSERT_TRUE(result.ran);
    EXPECT_EQ(Lower(result.missing), std::vector<std::wstring>{AsciiLower(gone.path)});
    EXPECT_EQ(Lower(result.bad), std::vector<std::wstring>{AsciiLower(damaged.path)});
    EXPECT_TRUE(Has(result.all, gone.path));
    const std::string log = LoadTimeLog();
    EXPECT_NE(log.find("bad = 1,miss = 1"), std::string::npos);
    EXPECT_NE(log.find("----bad file list----"), std::string::npos);
}

TEST_F(MsiPackageTest, LongListsAreReturnedWholeButLoggedUpToTen) {
    const FixturePackage& package = Fixture("iTunes64.msi");
    for (const FixtureFile& file : package.files) WriteFile(file.path, file.size + 1);
    const Result result = Check(package);
    ASSERT_EQ(result.bad.size(), 13u);
    const std::string log = LoadTimeLog();
    const size_t begin = log.find("----bad file list----");
    const size_t end = log.find("--------\n", begin + 21);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(CountOf(log.substr(begin, end - begin), "     C:\\"), 10u);
}

TEST_F(MsiPackageTest, VersionConditionsFollowTheWindowsRelease) {
    const FixturePackage& package = Fixture("iTunes64.msi");
    LayOut(package);
    machine_->SetWindows(sim::WindowsRelease::Windows7);
    const Result seven = Check(package);
    // Windows 7 also drops the two components that need 602, with and
    // without blanks around the operator; 600 is still enough.
    EXPECT_EQ(seven.checked, 11);
    EXPECT_FALSE(Has(seven.all, L"C:\\Program Files\\iTunes\\iTunesMiniPlayer.dll"));
    EXPECT_TRUE(Has(seven.all, L"C:\\Program Files\\iTunes\\CoreFP.dll"));
    machine_->SetWindows(sim::WindowsRelease::Windows81);
    EXPECT_EQ(Check(package).checked, 13);
}

TEST_F(MsiPackageTest, RuntimeFilesJoinOnlyWhenMoreThanFourArePresentBeforeWindows81) {
    const FixturePackage& package = Fixture("iTunes.msi");
    LayOut(package);  // ucrtbase.dll is one of the six runtime components
    const std::wstring folder = package.installDir;
    for (const char* marker : {"api_ms_win_core_file_l1_1_0.dll", "api_ms_win_core_file_l1_2_0.dll",
                               "api_ms_win_crt_heap_l1_1_0.dll"}) {
        WriteFile(folder + Utf8ToWide(platform::Os().CodePages(), marker), 1);
    }
    machine_->SetWindows(sim::WindowsRelease::Windows7);
    EXPECT_EQ(Check(package).checked, 10);  // four present: none joins
    WriteFile(folder + L"api_ms_win_crt_runtime_l1_1_0.dll", 1);
    const Result five = Check(package);
    EXPECT_EQ(five.checked, 16);
    EXPECT_TRUE(Has(five.all, folder + L"api-ms-win-core-localization-l1-2-0.dll"));
    EXPECT_NE(LoadTimeLog().find("Find vs2015 dll 5> 4 (total vs2015 = 6),api_ms_win*.dll"), std::string::npos);
    EXPECT_NE(LoadTimeLog().find("add [6] VS2015 files to checklist"), std::string::npos);
    machine_->SetWindows(sim::WindowsRelease::Windows81);
    EXPECT_EQ(Check(package).checked, 12);
}

using FileVerifyTest = MsiPackageTest;

TEST_F(FileVerifyTest, KeepsTheLastSuccessfulFileListPerType) {
    CFileVerify& verify = CFileVerify::Instance();
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    const FixturePackage& x64 = Fixture("iTunes64.msi");
    const FixturePackage& x86 = Fixture("iTunes.msi");
    ASSERT_TRUE(verify.VerifyByMsi(kProductItunes, CopyPackage(x64.file), x64.installDir, checked, bad, missing));
    EXPECT_EQ(missing.size(), 13u);  // nothing laid out
    EXPECT_EQ(verify.ProductFiles(kProductItunes).size(), 13u);

    EXPECT_FALSE(verify.VerifyByMsi(kProductItunes, L"", x86.installDir, checked, bad, missing));
    EXPECT_FALSE(verify.VerifyByMsi(kProductItunes, L"C:\\Windows\\Installer\\gone.msi", x86.installDir, checked, bad, missing));
    EXPECT_EQ(verify.ProductFiles(kProductItunes).size(), 13u);

    ASSERT_TRUE(verify.VerifyByMsi(kProductItunes, CopyPackage(x86.file), x86.installDir, checked, bad, missing));
    const std::vector<std::wstring> files = verify.ProductFiles(kProductItunes);
    EXPECT_EQ(files.size(), 12u);
    EXPECT_TRUE(std::all_of(files.begin(), files.end(), [](const std::wstring& f) {
        return f.find(L"C:\\Program Files\\iTunes") == std::wstring::npos;
    }));
}

TEST_F(FileVerifyTest, RetiredListRouteOnlyLogs) {
    EXPECT_TRUE(CFileVerify::Instance().VerifyByFi(L"C:\\nowhere\\1.fi", L"C:\\nowhere"));
    EXPECT_NE(LoadTimeLog().find("ERR: \xB8\xC3\xB9\xA6\xC4\xDC\xD2\xD1\xB7\xCF\xC6\xFA!"), std::string::npos);
}
