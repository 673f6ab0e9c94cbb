// OS facts, known folders and the iTunes registry values on simulated
// machines of each Windows release.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ItunesRegistry.h"
#include "SimMachineFixture.h"
#include "common/OsInfo.h"
#include "include/Brisalen.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/registry/SimRegistry.h"

namespace {

constexpr wchar_t kItunesKey[] = L"HKLM\\SOFTWARE\\Apple Computer, Inc.\\iTunes";

using OsInfoTest = SimMachineTest;

TEST_F(OsInfoTest, TrueVersionWinsOverWhatWindowsReportsWithoutAManifest) {
    struct Case {
        sim::WindowsRelease release;
        uint32_t version;
        const wchar_t* description;
        bool win10OrLater;
    };
    const Case cases[] = {
        {sim::WindowsRelease::Windows7, 601, L"", false},
        {sim::WindowsRelease::Windows81, 603, L"=> Microsoft Windows 8.1\n", false},
        {sim::WindowsRelease::Windows10, 1000, L"=> Microsoft Windows 10\n", true},
        {sim::WindowsRelease::Windows11, 1000, L"=> Microsoft Windows 10\n", true},
    };
    for (const Case& c : cases) {
        machine_->SetWindows(c.release, false);
        const COsInfo info(platform::Os().Machine());
        EXPECT_EQ(info.dwVersion, c.version);
        EXPECT_EQ(info.strDescription, c.description);
        EXPECT_EQ(info.bIsWin10OrLater, c.win10OrLater);
        EXPECT_FALSE(info.bIsWow64);
    }
    machine_->SetWindows(sim::WindowsRelease::Windows81, true);
    EXPECT_EQ(Os().Machine().ReportedVersion().minor, 2u);
    EXPECT_TRUE(COsInfo(platform::Os().Machine()).bIsWow64);
}

TEST_F(OsInfoTest, OnlyFixedDrivesCountTowardsTheDiskSize) {
    machine_->Edit([](sim::MachineState& s) {
        s.drives = {{L'C', platform::DriveType::Fixed, 100ull << 30, 1ull << 30},
                    {L'D', platform::DriveType::CdRom, 700ull << 20, 0},
                    {L'E', platform::DriveType::Fixed, 200ull << 30, 150ull << 30},
                    {L'Z', platform::DriveType::Remote, 1ull << 40, 1ull << 40}};
        return 0;
    });
    machine_->CreateDriveFolders();
    std::vector<std::wstring> drives;
    GetFixedDrives(platform::Os().Machine(), drives);
    EXPECT_EQ(drives, (std::vector<std::wstring>{L"C:\\", L"E:\\"}));
    EXPECT_EQ(GetTotalFixedDiskSize(platform::Os()), 300ull << 30);
}

using KnownFoldersTest = SimMachineTest;

TEST_F(KnownFoldersTest, ProgramFilesPairIsRepairedForA32BitProcessOn64BitWindows) {
    const CCollectDirMgr dirs(platform::Os());
    EXPECT_EQ(dirs.GetProgramFilesDir(), L"C:\\Program Files");
    EXPECT_EQ(dirs.GetProgramFilesX86Dir(), L"C:\\Program Files (x86)");
    EXPECT_EQ(dirs.GetCommonFilesDir(), L"C:\\Program Files\\Common Files");
    EXPECT_EQ(dirs.GetCommonFilesX86Dir(), L"C:\\Program Files (x86)\\Common Files");
    const std::vector<std::wstring> roots = dirs.GetScanRoots();
    ASSERT_EQ(roots.size(), 6u);
    EXPECT_EQ(roots.front(), L"C:\\Users\\Tarn\\AppData\\Roaming\\Apple Computer");
    EXPECT_EQ(roots.back(), L"C:\\Users\\Tarn\\Music\\iTunes");
}

TEST_F(KnownFoldersTest, AppleProgramFoldersAreCollectedOnceLowerCased) {
    WriteFile(L"C:\\Program Files\\iTunes\\iTunes.exe", 1);
    WriteFile(L"C:\\Program Files (x86)\\iTunes\\iTunes.exe", 1);
    WriteFile(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll", 1);
    WriteFile(L"C:\\Program Files\\Common Files\\Apple\\Mobile Device Support\\x.dll", 1);
    WriteFile(L"C:\\Program Files (x86)\\iPod\\x.dll", 1);
    // No Common Files\Apple under the x86 folder: only its own three names count.
    WriteFile(L"C:\\Program Files (x86)\\Common Files\\CoreFP\\x.dll", 1);
    std::set<std::wstring> folders{L"c:\\already\\there"};
    CCollectDirMgr(platform::Os()).CollectAppleProgramFolders(folders);
    CCollectDirMgr(platform::Os()).CollectAppleProgramFolders(folders);
    EXPECT_EQ(folders, (std::set<std::wstring>{
                           L"c:\\already\\there",
                           L"c:\\program files\\bonjour",
                           L"c:\\program files\\common files\\apple\\mobile device support",
                           L"c:\\program files\\itunes",
                           L"c:\\program files (x86)\\ipod",
                           L"c:\\program files (x86)\\itunes",
                       }));
}

using ItunesRegistryTest = LoggedMachineTest;

TEST_F(ItunesRegistryTest, MissingKeyLeavesTheOutputsAndLogs) {
    std::wstring folder = L"keep", version = L"keep too";
    EXPECT_FALSE(QueryItunesInfoReg(platform::Os().Registry(), folder, version));
    EXPECT_EQ(folder, L"keep");
    EXPECT_EQ(version, L"keep too");
    EXPECT_NE(LoadTimeLog().find(" ERR:query itunes info fail!\n"), std::string::npos);
    EXPECT_EQ(CreateFixItuensMgr()->GetItunesVersion(), L"");
}

TEST_F(ItunesRegistryTest, ValuesAreReadWholeFromThe64BitView) {
    const std::wstring longVersion(3000, L'7');
    sim::SetRegistryString(*machine_, kItunesKey, L"InstallDir", L"C:\\Program Files\\iTunes\\");
    sim::SetRegistryString(*machine_, kItunesKey, L"Version", longVersion);
    // The 32-bit view holds another iTunes; the 64-bit one must win.
    sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\WOW6432Node\\Apple Computer, Inc.\\iTunes", L"Version",
                           L"1.0");
    std::wstring folder, version;
    EXPECT_TRUE(QueryItunesInfoReg(platform::Os().Registry(), folder, version));
    EXPECT_EQ(folder, L"C:\\Program Files\\iTunes\\");
    EXPECT_EQ(version, longVersion);
    EXPECT_EQ(CreateFixItuensMgr()->GetItunesVersion(), longVersion);
}

TEST_F(ItunesRegistryTest, FolderWithoutVersionKeepsThePreviousVersion) {
    sim::SetRegistryString(*machine_, kItunesKey, L"InstallDir", L"D:\\Apps\\iTunes");
    std::wstring folder, version = L"12.9";
    EXPECT_TRUE(QueryItunesInfoReg(platform::Os().Registry(), folder, version));
    EXPECT_EQ(folder, L"D:\\Apps\\iTunes");
    EXPECT_EQ(version, L"12.9");
}

TEST_F(ItunesRegistryTest, ClearRemovesBothValuesAndKeepsTheKey) {
    sim::SetRegistryString(*machine_, kItunesKey, L"InstallDir", L"C:\\Program Files\\iTunes");
    sim::SetRegistryString(*machine_, kItunesKey, L"Version", L"12.10");
    sim::SetRegistryString(*machine_, kItunesKey, L"Other", L"stays");
    ClearItunesInfoReg(platform::Os().Registry());
    ClearItunesInfoReg(platform::Os().Registry());
    std::wstring folder, version;
    EXPECT_TRUE(QueryItunesInfoReg(platform::Os().Registry(), folder, version));
    EXPECT_EQ(folder, L"");
    EXPECT_EQ(version, L"");
    auto key = Os().Registry().OpenKey(platform::RegistryRoot::LocalMachine, L"SOFTWARE\\Apple Computer, Inc.\\iTunes",
                                       platform::kKeyRead | platform::kKeyWow64_64);
    ASSERT_EQ(key.Error(), 0u);
    std::wstring other;
    EXPECT_EQ((*key)->QueryString(L"OTHER", other), 0u);
    EXPECT_EQ(other, L"stays");
    const std::string log = LoadTimeLog();
    const size_t first = log.find(" Clear Reg info end!");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(" Clear Reg info end!", first + 1), std::string::npos);
}

TEST(MayDeleteInstallDir, OnlyAnItunesFolderNamingItunesMayGo) {
    EXPECT_FALSE(MayDeleteInstallDir(1, L"C:\\Program Files\\Apple"));
    EXPECT_FALSE(MayDeleteInstallDir(1, L"D:\\"));
    EXPECT_TRUE(MayDeleteInstallDir(1, L"C:\\Program Files\\iTunes\\"));
    EXPECT_TRUE(MayDeleteInstallDir(1, L"C:\\PROGRAM FILES\\ITUNES"));
    EXPECT_TRUE(MayDeleteInstallDir(4, L"C:\\Program Files\\Bonjour\\"));
    EXPECT_TRUE(MayDeleteInstallDir(4, L"D:\\"));
}

}  // namespace

namespace {

bool ItunesRunning(const sim::Machine& machine) {
    for (const sim::ProcessRecord& p : sim::RunningProcesses(machine)) {
        if (p.exe.find(L"iTunes.exe") != std::wstring::npos) return true;
    }
    return false;
}

using OpenItunesTest = LoggedMachineTest;

TEST_F(OpenItunesTest, StartsTheRegisteredProgramOnlyWhenItExists) {
    sim::SetRegistryString(*machine_, kItunesKey, L"InstallDir", L"C:\\Program Files\\iTunes\\");
    EXPECT_FALSE(CreateFixItuensMgr()->OpenItunes());
    EXPECT_FALSE(ItunesRunning(*machine_));
    EXPECT_NE(LoadTimeLog().find(" open itunes[C:\\Program Files\\iTunes\\\\iTunes.exe]...\n\n"
                                 "2"),
              std::string::npos);
    EXPECT_NE(LoadTimeLog().find(" itunes not exist!\n"), std::string::npos);

    WriteFile(L"C:\\Program Files\\iTunes\\iTunes.exe", 10);
    EXPECT_TRUE(CreateFixItuensMgr()->OpenItunes());
    EXPECT_TRUE(ItunesRunning(*machine_));
}

TEST_F(OpenItunesTest, WithoutTheKeyTheProgramIsLookedForAtTheCurrentDrivesRoot) {
    EXPECT_FALSE(CreateFixItuensMgr()->OpenItunes());
    EXPECT_NE(LoadTimeLog().find(" open itunes[\\iTunes.exe]...\n"), std::string::npos);
    WriteFile(L"C:\\iTunes.exe", 10);
    EXPECT_TRUE(CreateFixItuensMgr()->OpenItunes());
}

}  // namespace
