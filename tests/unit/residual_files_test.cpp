// What an uninstall leaves of a product's files, and the deep-scan settings
// file with its estimate.
#include <algorithm>
#include <string>
#include <vector>

#include "Brisalen/ConfigMgr.h"
#include "Brisalen/FileVerify.h"
#include "Brisalen/ItunesRegistry.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "common/TextHelpers.h"
#include "platform/sim/processes/SimProcesses.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/Utf8.h"

namespace {

class ResidualFilesTest : public FixtureMachineTest {
protected:
    // Lays out iTunes and has the package check remember its files.
    std::vector<std::wstring> RememberITunesFiles() {
        const FixturePackage& itunes = Fixture("iTunes64.msi");
        LayOut(itunes);
        int checked = 0;
        std::vector<std::wstring> bad, missing;
        EXPECT_TRUE(CFileVerify::Instance().VerifyByMsi(kProductItunes, CopyPackage(itunes.file), itunes.installDir, checked, bad,
                                                        missing));
        EXPECT_TRUE(missing.empty());
        return CFileVerify::Instance().ProductFiles(kProductItunes);
    }

    static std::wstring Find(const std::vector<std::wstring>& files, const std::wstring& name) {
        for (const std::wstring& file : files) {
            if (AsciiLower(GetFileName(file)) == AsciiLower(name)) return file;
        }
        ADD_FAILURE() << "no " << sim::ToUtf8(name);
        return std::wstring();
    }
    static std::wstring GetFileName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

    size_t CountExisting(const std::vector<std::wstring>& files) {
        return std::count_if(files.begin(), files.end(), [this](const std::wstring& f) { return Os().Files().Exists(f); });
    }
    bool Logged(const std::string& text) { return LoadTimeLog().find(text) != std::string::npos; }
};

TEST_F(ResidualFilesTest, HeldProgramIsEndedByNameAndItsFileDeletedOnTheSecondPass) {
    const std::vector<std::wstring> files = RememberITunesFiles();
    ASSERT_EQ(files.size(), 13u);
    const std::wstring exe = Find(files, L"iTunes.exe");
    const uint32_t itunes = sim::AddProcess(*machine_, L"C:\\Program Files\\iTunes\\iTunes.exe", {}, {exe});
    sim::SetRegistryString(*machine_, L"HKLM\\SOFTWARE\\Apple Computer, Inc.\\iTunes", L"InstallDir", L"C:\\x\\");

    CFileVerify::Instance().DeleteProductInstallFiles(kProductItunes);

    EXPECT_EQ(CountExisting(files), 0u);
    EXPECT_FALSE(sim::IsRunning(*machine_, itunes));
    const std::string path = sim::ToUtf8(exe);
    EXPECT_TRUE(Logged("[DeleteProductInstallFiles]:iTunes... \n"));
    EXPECT_TRUE(Logged("WARN:File [" + path + "] Can not be deleted!"));
    EXPECT_TRUE(Logged("Has delete 13 Files, still has 1 File Can not be delete!"));
    EXPECT_TRUE(Logged("There are [1] exe files in Residual file,try terminater their process..."));
    EXPECT_TRUE(Logged("File[" + path + "] has delete SUCCESS!!!"));
    // The iTunes registry record goes with the files.
    std::wstring installDir = L"unchanged", version;
    QueryItunesInfoReg(platform::Os().Registry(), installDir, version);
    EXPECT_EQ(installDir, L"unchanged");
    EXPECT_EQ(CFileVerify::Instance().ProductFiles(kProductItunes), files) << "the list is kept";
}

TEST_F(ResidualFilesTest, HeldLibrariesGetNoSecondPassAndNoProcessIsEnded) {
    const std::vector<std::wstring> files = RememberITunesFiles();
    const std::wstring dll = Find(files, L"CoreFP.dll");
    const uint32_t explorer = sim::AddProcess(*machine_, L"C:\\Windows\\explorer.exe", {dll}, {dll});

    CFileVerify::Instance().DeleteProductInstallFiles(kProductItunes);

    EXPECT_EQ(CountExisting(files), 1u);
    EXPECT_TRUE(Os().Files().Exists(dll));
    EXPECT_TRUE(sim::IsRunning(*machine_, explorer));
    EXPECT_TRUE(Logged("Has delete 13 Files, still has 1 File Can not be delete!"));
    EXPECT_FALSE(Logged("There are ["));
    EXPECT_FALSE(Logged("delete Residual file again"));
}

TEST_F(ResidualFilesTest, ProductWithoutAFileListOnlyLogs) {
    CFileVerify::Instance().DeleteProductInstallFiles(99);
    const std::string log = LoadTimeLog();
    EXPECT_NE(log.find("[DeleteProductInstallFiles]:unknown... \n"), std::string::npos);
    EXPECT_NE(log.find("[DeleteProductInstallFiles] end!"), std::string::npos);
    EXPECT_EQ(log.find("WARN:"), std::string::npos);
}

TEST(FormatFileSize, ChoosesTheUnitByMagnitude) {
    const std::pair<int64_t, const wchar_t*> table[] = {
        {-5, L"-5B"},          {0, L"0B"},           {1023, L"1023B"},          {1024, L"2 KB"},
        {1048575, L"1024 KB"}, {1048576, L"1 MB"},   {1073741823, L"1023 MB"}, {1073741824, L"1.00 GB"},
        {1610612736, L"1.50 GB"}, {1000095072256, L"931.41 GB"},
    };
    for (const auto& [bytes, text] : table) EXPECT_EQ(FormatFileSize(bytes), text) << bytes;
}

using ScanSettingsTest = LoggedMachineTest;

TEST_F(ScanSettingsTest, EstimateScalesWithCapacityAndTheCacheIsRewrittenInPlace) {
    machine_->Edit([](sim::MachineState& s) {
        s.drives = {{L'C', platform::DriveType::Fixed, CConfigMgr::kReferenceCapacity, 1ull << 30}};
        s.codePages.oem = 936;  // the log line's full-width comma survives in GBK
        return 0;
    });
    CConfigMgr settings(platform::Os());
    EXPECT_EQ(settings.EstimatedFolderCount(), 135639);
    EXPECT_EQ(CConfigMgr::EstimateFolderCount(CConfigMgr::kReferenceCapacity * 2), 271278);
    EXPECT_EQ(CConfigMgr::EstimateFolderCount(0), 0);
    EXPECT_NE(LoadTimeLog().find("931.41 GB => 90426 foder\xA3\xAC" "931.41 GB => 135639 foder(*1.5)\n"),
              std::string::npos);

    EXPECT_EQ(settings.SettingsPath(), L"C:\\Tarnwick\\ScanCache.ini");
    platform::IFileSystem& files = Os().Files();
    EXPECT_EQ(files.GetPrivateProfileInt(L"global", L"DEEP", settings.EstimatedFolderCount(), settings.SettingsPath()),
              135639u) << "the estimate stands in until a scan has run";
    settings.SaveScanCache(4321);
    settings.SaveScanCache(77);
    EXPECT_EQ(ReadHostFile(settings.SettingsPath()), "[global]\r\nDEEP=77\r\nSCAN_MEMORY=953764M\r\n");
    EXPECT_EQ(files.GetPrivateProfileInt(L"GLOBAL", L"deep", -1, settings.SettingsPath()), 77u);
}

TEST_F(ScanSettingsTest, ProfileFilesFollowWindowsRules) {
    const std::wstring ini = L"C:\\Tarnwick\\other.ini";
    WriteFile(ini, 0);
    {
        std::ofstream out(Host(ini), std::ios::binary);
        out << "[First]\r\nDEEP=1\r\n\r\n[ Global ]\r\n  deep = 12 \r\nempty=\r\nword=abc\r\n\r\n[Tail]\r\nx=y\r\n";
    }
    platform::IFileSystem& files = Os().Files();
    EXPECT_EQ(files.GetPrivateProfileInt(L"global", L"DEEP", 5, ini), 12u);
    EXPECT_EQ(files.GetPrivateProfileInt(L"global", L"empty", 5, ini), 5u);
    EXPECT_EQ(files.GetPrivateProfileInt(L"global", L"word", 5, ini), 0u);

    EXPECT_EQ(files.WritePrivateProfileString(L"GLOBAL", L"DEEP", L"99", ini), 0u);
    EXPECT_EQ(files.WritePrivateProfileString(L"global", L"SCAN_MEMORY", L"5M", ini), 0u);
    EXPECT_EQ(files.GetPrivateProfileInt(L"global", L"deep", 5, ini), 99u);
    EXPECT_EQ(files.GetPrivateProfileInt(L"first", L"deep", 5, ini), 1u);
    const std::string text = ReadHostFile(ini);
    EXPECT_NE(text.find("SCAN_MEMORY=5M\r\n\r\n[Tail]\r\nx=y\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("12"), std::string::npos) << "the value is replaced, not added";

    EXPECT_EQ(files.WritePrivateProfileString(L"s", L"k", L"v", L"C:\\NoSuchFolder\\a.ini"), 3u);
    EXPECT_EQ(files.GetPrivateProfileInt(L"s", L"k", 8, L"C:\\NoSuchFolder\\a.ini"), 8u);
}

}  // namespace
