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
#include "PlatformWithFiles.h"
#include "ScratchFolder.h"
#include "common/DeletionGuard.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/installer/SimProducts.h"
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
        EXPECT_TRUE(DeleteDir(platform::Os(), folder)) << "a refused folder counts as gone: " << sim::ToUtf8(folder);
        EXPECT_TRUE(Logged(L"WARN:delete refused: [" + folder + L"]")) << sim::ToUtf8(folder);
        ExpectSentinelsKept(folder);
    }
    EXPECT_TRUE(Exists(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll"));

    std::vector<std::wstring> left;
    DeleteFilesInFolders(platform::Os(), {L"C:\\Windows\\..", L"C:\\Users\\Tarn\\"}, left);
    ExpectSentinelsKept(L"DeleteFilesInFolders");
}

TEST_F(DeletionGuardTest, AnOrdinaryFolderGoesInEverySpellingAndALinkAloneWithoutItsTarget) {
    WriteFile(L"C:\\Program Files\\Bonjour\\Resources\\a.dll", 8);
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:/Program Files//Bonjour/./"));
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));

    // An install folder that is a link to the Windows folder: the link goes,
    // Windows stays.
    fs::create_directory_symlink(Host(L"C:\\Windows"), Host(L"C:\\Program Files\\Bonjour"));
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Program Files\\Bonjour\\"));
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
    ASSERT_TRUE(ListFilesRecursive(platform::Os().Files(), L"C:\\Data", files));
    EXPECT_EQ(files.size(), 4u);
    for (const std::wstring& file : files) EXPECT_TRUE(Exists(file)) << sim::ToUtf8(file);
    EXPECT_EQ(GetDirSize(platform::Os().Files(), L"C:\\Data"), 4u);

    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Data"));
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

// Engines built on a platform of the test's own: the machine is the
// simulated one, but one file system call answers as the test says.
class FileSystemWithOneRefusal : public ForwardingFileSystem {
public:
    FileSystemWithOneRefusal(platform::IFileSystem& inner, std::wstring refused)
        : ForwardingFileSystem(inner), refused_(std::move(refused)) {}
    uint32_t DeleteFile(const std::wstring& path) override {
        if (path == refused_) return platform::kErrAccessDenied;
        return ForwardingFileSystem::DeleteFile(path);
    }

private:
    const std::wstring refused_;
};

class FileSystemWithoutFinalPaths : public ForwardingFileSystem {
public:
    using ForwardingFileSystem::ForwardingFileSystem;
    // What Windows answers for a link that leaves the machine or loops.
    std::wstring FinalPathName(const std::wstring&) override { return std::wstring(); }
};

TEST_F(DeletionGuardTest, AnEngineOnItsOwnPlatformKeepsTheFileItsFileSystemWouldNotDelete) {
    const FixturePackage& bonjour = Fixture("Bonjour64.msi");
    LayOut(bonjour);
    std::vector<std::wstring> listed;
    std::wstring held;
    {
        int checked = 0;
        std::vector<std::wstring> bad, missing;
        CFileVerify probe(Os(), CCollectDirMgr::Instance());
        ASSERT_TRUE(
            probe.VerifyByMsi(kProductBonjour, CopyPackage(bonjour.file), bonjour.installDir, checked, bad, missing));
        listed = probe.ProductFiles(kProductBonjour);
    }
    ASSERT_GE(listed.size(), 2u);
    for (const std::wstring& path : listed) {
        if (path.size() > 4 && path.compare(path.size() - 4, 4, L".exe") == 0) held = path;
    }
    ASSERT_FALSE(held.empty()) << "the package places no program";

    FileSystemWithOneRefusal files(Os().Files(), held);
    PlatformWithFiles platform(Os(), files);
    CFileVerify verify(platform, CCollectDirMgr::Instance());
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    ASSERT_TRUE(
        verify.VerifyByMsi(kProductBonjour, CopyPackage(bonjour.file), bonjour.installDir, checked, bad, missing));
    verify.DeleteProductInstallFiles(kProductBonjour);

    EXPECT_TRUE(Exists(held));
    for (const std::wstring& path : listed) {
        if (path != held) EXPECT_FALSE(Exists(path)) << sim::ToUtf8(path);
    }
    EXPECT_TRUE(Logged(L"WARN:File [" + held + L"] Can not be deleted!"));
    EXPECT_TRUE(Logged(L"ERR:File[" + held + L"]still can not delete !"));
    ExpectSentinelsKept(L"a deletion on a platform of its own");
}

TEST_F(DeletionGuardTest, WithoutFinalPathsTheGuardRefusesAndNothingIsDeleted) {
    WriteFile(L"C:\\Program Files\\iTunes\\iTunes.exe", 16);
    WriteFile(L"C:\\Users\\Tarn\\Music\\iTunes\\a.m4a", 16);
    FileSystemWithoutFinalPaths files(Os().Files());
    PlatformWithFiles platform(Os(), files);

    const DeletionGuard guard(platform);
    std::wstring canonical;
    EXPECT_FALSE(guard.AllowsTree(L"C:\\Users\\Tarn\\Music\\iTunes", canonical));
    EXPECT_FALSE(guard.AllowsProductTree(L"C:\\Program Files\\iTunes", canonical));
    EXPECT_FALSE(guard.AllowsFile(L"C:\\Users\\Tarn\\Music\\iTunes\\a.m4a", canonical));

    EXPECT_TRUE(DeleteDir(platform, L"C:\\Users\\Tarn\\Music\\iTunes"));  // refused counts as gone
    EXPECT_TRUE(DeleteProductDir(platform, L"C:\\Program Files\\iTunes", {}));
    std::vector<std::wstring> undeletable;
    DeleteFilesInFolders(platform, {L"C:\\Users\\Tarn\\Music\\iTunes"}, undeletable);
    EXPECT_TRUE(Exists(L"C:\\Program Files\\iTunes\\iTunes.exe"));
    EXPECT_TRUE(Exists(L"C:\\Users\\Tarn\\Music\\iTunes\\a.m4a"));
    // The same folders go on the machine's own platform.
    EXPECT_TRUE(DeleteDir(Os(), L"C:\\Users\\Tarn\\Music\\iTunes"));
    EXPECT_FALSE(Exists(L"C:\\Users\\Tarn\\Music\\iTunes\\a.m4a"));
    ExpectSentinelsKept(L"a guard without final paths");
}

// The links every Windows machine has since Vista, and a second profile.
class LinkedMachineGuardTest : public DeletionGuardTest {
protected:
    void SetUp() override {
        DeletionGuardTest::SetUp();
        for (const std::wstring& file : kUserFiles) WriteFile(file, 16);
        Link(L"C:\\Documents and Settings", L"C:\\Users");
        Link(L"C:\\Users\\All Users", L"C:\\ProgramData");
        Link(L"C:\\Users\\Tarn\\My Documents", L"C:\\Users\\Tarn\\Documents");
        Link(L"C:\\Users\\Tarn\\Documents\\My Pictures", L"C:\\Users\\Tarn\\Pictures");
    }

    void Link(const std::wstring& link, const std::wstring& target) {
        if (fs::is_symlink(Host(link))) return;
        fs::create_directories(Host(target));
        fs::create_directories(fs::path(Host(link)).parent_path());
        fs::create_directory_symlink(Host(target), Host(link));
    }

    void ExpectUserFilesKept(const std::wstring& context) {
        ExpectSentinelsKept(context);
        for (const std::wstring& file : kUserFiles) {
            EXPECT_TRUE(Exists(file)) << sim::ToUtf8(file) << " deleted by " << sim::ToUtf8(context);
        }
    }

    const std::vector<std::wstring> kUserFiles = {
        L"C:\\Users\\Tarn\\Pictures\\keep.jpg",      L"C:\\Users\\Tarn\\Videos\\keep.mp4",
        L"C:\\Users\\Tarn\\Desktop\\keep.lnk",       L"C:\\Users\\Tarn\\Downloads\\keep.zip",
        L"C:\\Users\\Tarn\\OneDrive - Contoso\\keep.xlsx", L"C:\\Users\\Tarn\\Saved Games\\keep.sav",
        L"C:\\ProgramData\\Microsoft\\keep.dat",     L"C:\\Users\\Public\\Documents\\keep.doc",
        L"C:\\Users\\Ilse\\Documents\\keep.doc",     L"C:\\Users\\Ilse\\keep.ini",
        L"C:\\Program Files\\WindowsApps\\keep.appx",
    };
};

TEST_F(LinkedMachineGuardTest, FoldersReachedThroughLinksOrOtherSpellingsAreJudgedWhereTheyLead) {
    const std::vector<std::wstring> hostile = {
        L"C:\\Documents and Settings\\Tarn\\Documents\\",
        L"C:\\Documents and Settings\\Tarn",
        L"C:\\Documents and Settings\\Ilse",
        L"C:\\Documents and Settings",
        L"C:\\Users\\All Users\\Microsoft",
        L"C:\\Users\\Tarn\\My Documents",
        L"C:\\Users\\Tarn\\My Documents\\My Pictures",
        L"C:\\Documents and Settings\\Tarn\\Desktop",
        L"C:\\itunes\\..\\Users\\Tarn\\Pictures",
        L"C:\\Users\\Tarn\\Videos\\iTunes\\..",
        L"C:\\Users\\Tarn\\Downloads",
        L"C:\\Users\\Tarn\\Saved Games",
        L"C:\\Users\\Tarn\\OneDrive - Contoso",
        L"C:\\Users\\Public",
        L"\\\\localhost\\C$\\Users\\Tarn\\Documents",
        L"\\\\127.0.0.1\\c$\\Windows",
        L"\\\\.\\C:\\Users\\Tarn\\Pictures",
        L"\\\\?\\C:\\Users\\Tarn\\Videos",
        L"\\\\?\\UNC\\localhost\\C$\\Users\\Tarn",
        L"C:\\Program Files\\WindowsApps",
        L"C:\\Program Fıles (x86)",                    // dotless i: Windows folds it onto I
        L"C:\\Uſers\\Tarn",                            // long s folds onto S
        L"C:\\Users\\Tarn\\Pictures\\..\\..\\Tarn\\.\\Desktop",
    };
    for (const std::wstring& folder : hostile) {
        DeleteDir(platform::Os(), folder);
        DeleteProductDir(platform::Os(), folder, {});
        ExpectUserFilesKept(folder);
    }
    EXPECT_TRUE(Logged(L"WARN:delete refused: [C:\\Documents and Settings\\Tarn\\Documents\\] is or holds a known folder"));
    // The stock links are Windows' own folders too.
    EXPECT_TRUE(fs::is_symlink(Host(L"C:\\Users\\Tarn\\My Documents")));

    // What is no known folder still goes through a link, and only the link
    // of a linked folder goes.
    WriteFile(L"C:\\Users\\Tarn\\Music\\iTunes\\Album\\a.m4a", 4);
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Documents and Settings\\Tarn\\Music\\iTunes"));
    ASSERT_FALSE(Exists(L"C:\\Users\\Tarn\\Music\\iTunes")) << LoadTimeLog();
    Link(L"C:\\Users\\Tarn\\Music\\iTunes", L"C:\\Users\\Tarn\\Pictures\\Shared");
    WriteFile(L"C:\\Users\\Tarn\\Pictures\\Shared\\s.jpg", 4);
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Users\\Tarn\\Music\\iTunes"));
    EXPECT_FALSE(fs::is_symlink(Host(L"C:\\Users\\Tarn\\Music\\iTunes")));
    EXPECT_TRUE(Exists(L"C:\\Users\\Tarn\\Pictures\\Shared\\s.jpg"));
    ExpectUserFilesKept(L"the folders that may go");
}

TEST_F(LinkedMachineGuardTest, AProductFolderGoesOnlyBelowTheProgramFoldersAndNeverWithAnotherProductsFolder) {
    const std::wstring apple = L"C:\\Program Files (x86)\\Common Files\\Apple";
    const std::wstring vendorFile = apple + L"\\Other Vendor\\keep.dll";
    const std::vector<std::wstring> spellings = {
        L"C:\\Program Files (x86)\\Common Files\\Apple\\Other Vendor\\",
        L"\"C:\\Program Files (x86)\\Common Files\\Apple\\Other Vendor\"",
        L"  C:\\Program Files (x86)\\Common Files\\Apple\\Other Vendor",
        L"%CommonProgramFiles(x86)%\\Apple\\Other Vendor",
        L"\\Program Files (x86)\\Common Files\\Apple\\Other Vendor",
        L"\\\\localhost\\C$\\Program Files (x86)\\Common Files\\Apple\\Other Vendor",
        L"\\\\SOMEPC\\c$\\Program Files (x86)\\Common Files\\Apple\\Other Vendor",
        L"\\\\?\\C:\\Program Files (x86)\\.\\Common Files\\Apple\\Other Vendor\\.",
        L"c:/PROGRAM FILES (X86)/common files/apple/other vendor/",
        L"C:\\Documents and Settings\\..\\Program Files (x86)\\Common Files\\Apple\\Other Vendor",
        // Its location is the whole Apple folder.
        L"C:\\Program Files (x86)\\Common Files\\Apple",
    };
    sim::InstalledProduct other;
    other.productCode = L"{0D5E11A2-0000-4B3E-9C1A-5E1D0B0E0001}";
    other.properties[L"ProductName"] = L"Other Vendor Tools";
    for (const std::wstring& location : spellings) {
        WriteFile(vendorFile, 8);
        WriteFile(apple + L"\\Apple Application Support\\a.dll", 8);
        other.properties[L"InstallLocation"] = location;
        sim::RegisterProduct(*machine_, other);
        DeleteProductDir(platform::Os(), apple, {});
        EXPECT_TRUE(Exists(vendorFile)) << sim::ToUtf8(location);
        // The product being uninstalled may lose its own folder.
        DeleteProductDir(platform::Os(), apple + L"\\Other Vendor", {other.productCode});
        EXPECT_FALSE(Exists(vendorFile)) << sim::ToUtf8(location);
    }
    // A product folder inside another product's own folder is that
    // product's; a location that is one of Windows' folders is no
    // product's own.
    other.properties[L"InstallLocation"] = apple + L"\\Other Vendor";
    sim::RegisterProduct(*machine_, other);
    WriteFile(apple + L"\\Other Vendor\\Plugin\\p.dll", 8);
    DeleteProductDir(platform::Os(), apple + L"\\Other Vendor\\Plugin", {});
    EXPECT_TRUE(Exists(apple + L"\\Other Vendor\\Plugin\\p.dll"));
    other.properties[L"InstallLocation"] = L"C:\\Program Files (x86)\\Common Files\\";
    sim::RegisterProduct(*machine_, other);
    EXPECT_TRUE(DeleteProductDir(platform::Os(), apple + L"\\Other Vendor", {}));
    EXPECT_FALSE(Exists(apple + L"\\Other Vendor"));

    ASSERT_TRUE(sim::ForgetProduct(*machine_, other.productCode));
    WriteFile(vendorFile, 8);
    EXPECT_TRUE(DeleteProductDir(platform::Os(), apple, {}));
    EXPECT_FALSE(Exists(apple));

    // Outside the program folders a product's folder is refused, where a
    // data folder of the same place would go.
    for (const std::wstring& folder : {std::wstring(L"C:\\Intel"), std::wstring(L"C:\\Users\\Tarn\\AppData\\Local\\Apple"),
                                       std::wstring(L"C:\\Apps\\iTunes")}) {
        WriteFile(folder + L"\\x.dat", 4);
        DeleteProductDir(platform::Os(), folder, {});
        EXPECT_TRUE(Exists(folder + L"\\x.dat")) << sim::ToUtf8(folder);
        EXPECT_TRUE(Logged(L"WARN:delete refused: [" + folder + L"] is not below a folder programs are installed into"));
    }
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Intel"));
    EXPECT_FALSE(Exists(L"C:\\Intel"));
    ExpectUserFilesKept(L"product folders");
}

TEST_F(LinkedMachineGuardTest, AProductWithNoRecordedLocationKeepsTheFoldersOfItsComponents) {
    Install("AppleMobileDeviceSupport64.msi");
    const FixturePackage& support = Fixture("AppleMobileDeviceSupport64.msi");
    const std::vector<std::wstring> placed = PlacedFiles(support.file);
    ASSERT_FALSE(placed.empty());
    std::wstring shared;
    ASSERT_TRUE(GetParentDir(support.installDir.substr(0, support.installDir.size() - 1), shared));
    for (const wchar_t* location : {L"", L"  ", L"\"\""}) {
        BendInstallLocation(support.file, location);
        DeleteProductDir(platform::Os(), shared, {});
        ExpectKept(placed, L"the shared folder");
    }
    // Its own uninstall may take them.
    EXPECT_TRUE(DeleteProductDir(platform::Os(), shared, {support.productCode}));
    EXPECT_FALSE(Exists(shared));
}

TEST_F(LinkedMachineGuardTest, FinalPathsFollowEveryLinkAndNeverLeaveTheMachine) {
    platform::IFileSystem& files = Os().Files();
    // Links on links, names in their spelling on disk, a missing tail kept.
    EXPECT_EQ(files.FinalPathName(L"c:\\documents and settings\\TARN\\my documents\\my pictures\\new\\x.jpg"),
              L"C:\\Users\\Tarn\\Pictures\\new\\x.jpg");
    EXPECT_EQ(files.FinalPathName(L"C:\\"), L"C:\\");
    EXPECT_EQ(files.FinalPathName(L"C:\\Users\\Tarn\\Documents\\..\\Music"), L"C:\\Users\\Tarn\\Music");
    // A link whose target is gone is named where it stands; one that leads
    // off the machine's drives has no final path here.
    fs::create_directory_symlink(Host(L"C:\\Gone"), Host(L"C:\\Dangling"));
    EXPECT_EQ(files.FinalPathName(L"C:\\Dangling\\x"), L"C:\\Dangling\\x");
    const ScratchFolder outside("brisalen-outside");
    fs::create_directory_symlink(outside.Path(), Host(L"C:\\Elsewhere"));
    EXPECT_EQ(files.FinalPathName(L"C:\\Elsewhere\\x"), L"");
    std::wstring canonical;
    EXPECT_FALSE(DeletionGuard(platform::Os()).AllowsTree(L"C:\\Elsewhere\\x", canonical));
    EXPECT_EQ(files.FinalPathName(L"relative\\x"), files.FinalPathName(L"C:\\Tarnwick\\relative\\x"));

    EXPECT_EQ(Os().Process().ExpandEnvironmentStrings(L"%ProgramFiles(x86)%\\A;%windir%;%NoSuchName%;%"),
              L"C:\\Program Files (x86)\\A;C:\\Windows;%NoSuchName%;%");
}

TEST_F(LinkedMachineGuardTest, FilesAreJudgedInTheFolderTheyAreReachedIn) {
    Link(L"C:\\Program Files\\Bonjour\\sys", L"C:\\Windows\\System32");
    const DeletionGuard guard(platform::Os());
    std::wstring canonical;
    EXPECT_FALSE(guard.AllowsFile(L"C:\\Program Files\\Bonjour\\sys\\kernel32.dll", canonical));
    EXPECT_FALSE(guard.AllowsFile(L"C:\\Documents and Settings\\Tarn\\My Documents", canonical));
    EXPECT_TRUE(guard.AllowsFile(L"C:\\Documents and Settings\\Tarn\\Music\\a.m4a", canonical));
    EXPECT_EQ(canonical, L"C:\\Documents and Settings\\Tarn\\Music\\a.m4a");
}

TEST_F(DeletionGuardTest, SingleFilesAreJudgedByTheirCanonicalPath) {
    const DeletionGuard guard(platform::Os());
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
