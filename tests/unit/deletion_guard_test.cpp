// Every deletion the library makes stays inside the folder it was meant
// for, whatever spelling of a path reaches it: a bent install location, a
// package's file names, a link, a name of dots.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "platform/sim/SimProducts.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;

// Files no deletion of a product or a data folder may ever take.
const std::vector<std::wstring> kSentinels = {
    L"C:\\root.txt",
    L"C:\\Windows\\win.ini",
    L"C:\\Windows\\System32\\kernel32.dll",
    L"C:\\Program Files\\Other Vendor\\keep.dll",
    L"C:\\Program Files (x86)\\Common Files\\keep.dll",
    L"C:\\ProgramData\\keep.dat",
    L"C:\\Users\\Tarn\\Documents\\keep.doc",
    L"C:\\Users\\Tarn\\Music\\keep.mp3",
    L"C:\\Users\\Tarn\\AppData\\Local\\keep.dat",
};

class DeletionGuardTest : public FixtureMachineTest {
protected:
    void SetUp() override {
        FixtureMachineTest::SetUp();
        for (const std::wstring& file : kSentinels) WriteFile(file, 16);
    }

    void ExpectSentinelsKept(const std::wstring& context) {
        for (const std::wstring& file : kSentinels) {
            EXPECT_TRUE(Exists(file)) << sim::ToUtf8(file) << " deleted by " << sim::ToUtf8(context);
        }
    }

    bool Exists(const std::wstring& path) { return Os().Files().Exists(path); }
    bool Logged(const std::wstring& text) { return LoadTimeLog().find(sim::ToUtf8(text)) != std::string::npos; }

    void Install(const std::string& file) {
        ASSERT_EQ(Os().Installer().InstallProduct(CopyPackage(file), L""), 0u) << file;
    }


    // The files of the package that are on the machine now.
    std::vector<std::wstring> PlacedFiles(const std::string& file) {
        std::vector<std::wstring> placed;
        for (const FixtureFile& candidate : Fixture(file).files) {
            if (Exists(candidate.path)) placed.push_back(candidate.path);
        }
        return placed;
    }

    void ExpectKept(const std::vector<std::wstring>& files, const std::wstring& context) {
        for (const std::wstring& file : files) {
            EXPECT_TRUE(Exists(file)) << sim::ToUtf8(file) << " deleted by " << sim::ToUtf8(context);
        }
    }
};

TEST_F(DeletionGuardTest, FoldersWhoseDeletionWouldLeaveTheirTreeAreRefused) {
    WriteFile(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll", 8);
    const std::vector<std::wstring> hostile = {
        L"C:\\Program Files\\Bonjour\\..\\..\\",     // climbs to the drive root
        L"C:\\.",
        L"C:\\",
        L"\\",                                       // the current drive's root
        L"C:\\...",                                  // a name of dots is its parent to Win32
        L"C:/Windows/",
        L"C:\\Windows\\System32",
        L"c:\\program files",                        // a known folder in any case
        L"C:\\Program Files (x86)\\Common Files",
        L"C:\\ProgramData",
        L"C:\\Users",                                // holds the profile
        L"C:\\Users\\Tarn\\AppData",                 // holds AppData and Local AppData
        L"C:\\Users\\Tarn\\Music\\..\\Documents",
        L"\\\\?\\C:\\Windows",
    };
    for (const std::wstring& folder : hostile) {
        EXPECT_TRUE(DeleteDir(folder)) << "a refused folder counts as gone: " << sim::ToUtf8(folder);
        EXPECT_TRUE(Logged(L"WARN:delete refused: [" + folder + L"]")) << sim::ToUtf8(folder);
        ExpectSentinelsKept(folder);
    }
    EXPECT_TRUE(Exists(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll"));

    std::vector<std::wstring> left;
    DeleteFilesInFolders({L"C:\\Windows\\..", L"C:\\Users\\Tarn\\"}, left);
    ExpectSentinelsKept(L"DeleteFilesInFolders");
}

TEST_F(DeletionGuardTest, AnOrdinaryFolderGoesInEverySpellingAndALinkAloneWithoutItsTarget) {
    WriteFile(L"C:\\Program Files\\Bonjour\\Resources\\a.dll", 8);
    EXPECT_TRUE(DeleteDir(L"C:/Program Files//Bonjour/./"));
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));

    // An install folder that is a link to the Windows folder: the link goes,
    // Windows stays.
    fs::create_directory_symlink(Host(L"C:\\Windows"), Host(L"C:\\Program Files\\Bonjour"));
    EXPECT_TRUE(DeleteDir(L"C:\\Program Files\\Bonjour\\"));
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));
    ExpectSentinelsKept(L"the link");
}

TEST_F(DeletionGuardTest, NamesOfDotsAreWalkedLiterallyAndNeverMistakenForTheirParent) {
    // Folders Win32 could not have made: their plain paths name the parent.
    fs::create_directories(Host(L"C:\\Data") + "/.../deeper");
    fs::create_directories(Host(L"C:\\Data") + "/trail. ");
    WriteFile(L"C:\\Data\\top.txt", 1);
    for (const char* file : {"/.../f.txt", "/.../deeper/g.txt", "/trail. /h.txt"}) {
        std::ofstream(Host(L"C:\\Data") + file) << "x";
    }

    std::vector<std::wstring> files;
    ASSERT_TRUE(ListFilesRecursive(L"C:\\Data", files));
    EXPECT_EQ(files.size(), 4u);
    for (const std::wstring& file : files) EXPECT_TRUE(Exists(file)) << sim::ToUtf8(file);
    EXPECT_EQ(GetDirSize(L"C:\\Data"), 4u);

    EXPECT_TRUE(DeleteDir(L"C:\\Data"));
    EXPECT_FALSE(fs::exists(Host(L"C:\\Data")));
    ExpectSentinelsKept(L"C:\\Data");
}

TEST_F(DeletionGuardTest, UninstallWithABentInstallLocationDeletesNothingOutsideTheProduct) {
    for (const char* file : {"Bonjour64.msi", "AppleMobileDeviceSupport64.msi", "AppleApplicationSupport64.msi",
                             "iTunes64.msi"}) {
        Install(file);
    }
    std::vector<std::wstring> others = PlacedFiles("AppleMobileDeviceSupport64.msi");
    const std::vector<std::wstring> support = PlacedFiles("AppleApplicationSupport64.msi");
    others.insert(others.end(), support.begin(), support.end());
    ASSERT_GT(others.size(), 6u);
    struct Bent {
        std::string package;
        int type;
        std::wstring location;
    };
    const std::vector<Bent> cases = {
        {"Bonjour64.msi", kProductBonjour, L"C:\\Program Files\\Bonjour\\..\\..\\"},
        {"Bonjour64.msi", kProductBonjour, L"C:\\."},
        {"Bonjour64.msi", kProductBonjour, L"C:\\Windows\\"},
        // Holds the folders of Apple Mobile Device Support and Application Support.
        {"Bonjour64.msi", kProductBonjour, L"C:\\Program Files\\Common Files\\Apple\\"},
        // Passes the rule that an iTunes folder must say "itunes".
        {"iTunes64.msi", kProductItunes, L"C:\\Program Files\\iTunes\\..\\..\\"},
    };
    for (const Bent& bent : cases) {
        BendInstallLocation(bent.package, bent.location);
        // Windows Installer refuses, so only the clean-up acts.
        sim::QueueInstallerResults(*machine_, {platform::kErrInstallFailure, platform::kErrInstallFailure});
        CMsiInstaller::Instance().Uninstall(bent.type, Fixture(bent.package).productCode, nullptr);
        EXPECT_TRUE(Logged(L"WARN:delete refused: [" + bent.location + L"]")) << sim::ToUtf8(bent.location);
        ExpectSentinelsKept(bent.location);
        ExpectKept(others, bent.location);
    }

    // The product's own folder still goes.
    BendInstallLocation("Bonjour64.msi", Fixture("Bonjour64.msi").installDir);
    sim::QueueInstallerResults(*machine_, {platform::kErrInstallFailure, platform::kErrInstallFailure});
    CMsiInstaller::Instance().Uninstall(kProductBonjour, Fixture("Bonjour64.msi").productCode, nullptr);
    EXPECT_FALSE(Exists(Fixture("Bonjour64.msi").installDir));
    ExpectKept(others, L"Bonjour's own folder");
}

TEST_F(DeletionGuardTest, PackageNamesThatClimbNeverReachTheResidualDeletion) {
    const FixturePackage& bonjour = Fixture("Bonjour64.msi");
    LayOut(bonjour);
    const std::wstring package = CopyPackage(bonjour.file);
    const std::string tables =
        "msibuild '" + Host(package) +
        "' -q \"UPDATE File SET FileName='..\\..\\..\\Windows\\System32\\kernel32.dll' WHERE File='mdnsNSP.dll'\""
        " -q \"UPDATE Directory SET DefaultDir='..|..\\..' WHERE Directory='BonjourResources'\"";
    ASSERT_EQ(std::system(tables.c_str()), 0) << tables;

    int checked = 0;
    std::vector<std::wstring> bad, missing;
    ASSERT_TRUE(CFileVerify::Instance().VerifyByMsi(kProductBonjour, package, bonjour.installDir, checked, bad, missing));
    const std::vector<std::wstring> listed = CFileVerify::Instance().ProductFiles(kProductBonjour);
    ASSERT_FALSE(listed.empty());
    for (const std::wstring& path : listed) EXPECT_EQ(path.find(L".."), std::wstring::npos) << sim::ToUtf8(path);
    EXPECT_TRUE(Logged(L"WARN:package file name [..\\..\\..\\windows\\system32\\kernel32.dll] refused!"));
    EXPECT_TRUE(Logged(L"WARN:[QueryAbsoluteDir] folder name [..\\..] refused!"));

    CFileVerify::Instance().DeleteProductInstallFiles(kProductBonjour);
    ExpectSentinelsKept(L"the residual deletion");
    for (const std::wstring& path : listed) EXPECT_FALSE(Exists(path)) << sim::ToUtf8(path);
}

TEST_F(DeletionGuardTest, SingleFilesAreJudgedByTheirCanonicalPath) {
    const DeletionGuard guard;
    std::wstring canonical;
    for (const wchar_t* refused : {L"C:\\Program Files\\Bonjour\\..\\..\\Windows\\System32\\kernel32.dll",
                                   L"C:\\Windows\\System32\\kernel32.dll", L"c:/windows/win.ini",
                                   L"C:\\Program Files\\Bonjour\\a.dll:hidden", L"C:\\Program Files\\Bonjour\\...",
                                   L"\\\\?\\C:\\Windows\\win.ini", L"\\\\?\\C:\\Program Files\\..\\x.dll", L"C:\\",
                                   L"relative.dll", L"\\rooted.dll"}) {
        EXPECT_FALSE(guard.AllowsFile(refused, canonical)) << sim::ToUtf8(refused);
    }
    EXPECT_TRUE(guard.AllowsFile(L"C:/Program Files//Bonjour/a.dll", canonical));
    EXPECT_EQ(canonical, L"C:\\Program Files\\Bonjour\\a.dll");

    for (const wchar_t* name : {L"a.dll", L"Bonjour.Resources", L".hidden"}) EXPECT_TRUE(DeletionGuard::IsPlainName(name));
    for (const wchar_t* name : {L"", L".", L"..", L"...", L"a\\b", L"a/b", L"c:x", L"x:stream"}) {
        EXPECT_FALSE(DeletionGuard::IsPlainName(name)) << sim::ToUtf8(name);
    }
}

}  // namespace
