// The simulated machine must behave as Windows does wherever the library
// depends on it: file system error codes and ordering, reparse points,
// version lies, code page fallbacks and fault recovery.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "SimMachineFixture.h"
#include "platform/sim/processes/FaultGuard.h"
#include "platform/sim/files/NameMatch.h"
#include "platform/sim/Sanitizer.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/processes/SimServices.h"
#include "base/UniqueFd.h"
#include "platform/sim/Utf8.h"
#include "platform/sim/files/WinPath.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

void WriteJson(const std::string& path, const nlohmann::json& doc) { std::ofstream(path) << doc.dump(); }

std::vector<std::wstring> SearchNames(IFileSystem& files, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    FindData entry;
    auto search = files.FindFirst(pattern, entry);
    if (!search) return names;
    do {
        names.push_back(entry.name);
    } while ((*search)->Next(entry));
    return names;
}

// ---------------------------------------------------------------- state

using MachineStateTest = SimMachineTest;

TEST_F(MachineStateTest, SaveAndReopenKeepsStateAndKeysOfOtherLayers) {
    nlohmann::json doc = ReadJson(folder_ + "/machine.json");
    doc["registry"] = {{"HKLM\\Software\\Tarnwick", {{"Version", "1.0"}}}};
    // A section of a later version of the machine, which this one keeps.
    doc["storePackages"] = {{{"name", "Later"}}};
    WriteJson(folder_ + "/machine.json", doc);

    auto machine = sim::Machine::Open(folder_);
    machine->Edit([](sim::MachineState& s) {
        s.codePages.oem = 850;
        s.drives.push_back(sim::DriveInfo{L'D', DriveType::CdRom, 700, 0});
        s.msiLog = sim::MsiLogSetting{L"C:\\Temp\\msi.log", 0x1f, 2};
        return 0;
    });
    machine->SetWindows(sim::WindowsRelease::Windows7, false);

    auto reopened = sim::Machine::Open(folder_);
    const sim::MachineState state = reopened->Snapshot();
    EXPECT_EQ(state.codePages.oem, 850u);
    EXPECT_EQ(state.version.build, 7601u);
    EXPECT_FALSE(state.is64Bit);
    ASSERT_EQ(state.drives.size(), 2u);
    EXPECT_EQ(state.drives[1].type, DriveType::CdRom);
    ASSERT_TRUE(state.msiLog.has_value());
    EXPECT_EQ(state.msiLog->path, L"C:\\Temp\\msi.log");
    EXPECT_EQ(state.msiLog->mode, 0x1fu);
    EXPECT_EQ(reopened->Snapshot<sim::Registry>().keys.at(L"hklm\\software\\tarnwick").at(L"version"), L"1.0");
    sim::SetRegistryString(*reopened, L"HKLM\\Software\\Tarnwick", L"Build", L"7");
    const nlohmann::json saved = ReadJson(folder_ + "/machine.json");
    EXPECT_EQ(saved["registry"]["HKLM\\Software\\Tarnwick"], nlohmann::json({{"Version", "1.0"}, {"Build", "7"}}));
    EXPECT_EQ(saved["storePackages"], doc["storePackages"]);
    EXPECT_TRUE(fs::is_directory(folder_ + "/drives/D"));
}

TEST_F(MachineStateTest, HandWrittenMachineOverridesOnlyWhatItStates) {
    const std::string folder = folder_ + "/hand";
    fs::create_directories(folder);
    WriteJson(folder + "/machine.json", {{"is64Bit", false}, {"specialFolders", {{"0x1a", "D:\\Roaming"}}}});
    auto machine = sim::Machine::Open(folder);
    EXPECT_FALSE(machine->Snapshot().is64Bit);
    EXPECT_EQ(machine->Snapshot().specialFolders.at(0x1a), L"D:\\Roaming");
    EXPECT_EQ(machine->Snapshot().codePages.ansi, 1252u);
}

TEST_F(MachineStateTest, HandEditedSectionsKeepWhatTheyCanRead) {
    // Only the top-level keys are checked strictly (below); in a section an
    // entry that does not convert is left out and the rest stays usable.
    const std::string folder = folder_ + "/hand";
    fs::create_directories(folder);
    WriteJson(folder + "/machine.json",
              {{"services", {{{"name", "Kept"}, {"state", 4}}, 5, {{"name", 7}}}},
               {"isAdmin", "yes"},
               {"registry", {{"HKLM\\SOFTWARE\\X", {{"good", "1"}, {"bad", 2}}}, {"HKLM\\SOFTWARE\\Y", 3}}},
               {"msiResults", {1603, "1618", 3010}}});
    auto machine = sim::Machine::Open(folder);
    const std::vector<sim::ServiceEntry> services = sim::ListServices(*machine);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].name, L"Kept");
    EXPECT_EQ(services[0].state, 4u);
    EXPECT_TRUE(sim::IsAdministrator(*machine));
    const sim::Registry registry = machine->Snapshot<sim::Registry>();
    ASSERT_EQ(registry.keys.size(), 1u);
    EXPECT_EQ(registry.keys.begin()->second, (sim::RegistryValues{{L"good", L"1"}}));
    EXPECT_EQ(sim::QueuedInstallerResults(*machine), (std::vector<uint32_t>{1603, 3010}));
}

TEST_F(MachineStateTest, CorruptMachineFileIsReported) {
    std::ofstream(folder_ + "/machine.json") << "{\"version\": {\"major\": 10,";
    EXPECT_THROW(sim::Machine::Open(folder_), std::runtime_error);
    WriteJson(folder_ + "/machine.json", {{"drives", {{{"letter", "C"}, {"type", "floppy"}}}}});
    EXPECT_THROW(sim::Machine::Open(folder_), std::runtime_error);
}

TEST_F(MachineStateTest, DefaultMachineHasItsShellAndProgramFolders) {
    IFileSystem& files = Os().Files();
    for (int id : {sim::csidl::kAppData, sim::csidl::kProgramFilesCommon, sim::csidl::kSystem}) {
        EXPECT_EQ(files.GetAttributes(Os().Machine().SpecialFolder(id)), uint32_t{kAttrDirectory}) << id;
    }
    EXPECT_TRUE(files.Exists(L"C:\\Tarnwick"));
    EXPECT_EQ(Os().Process().ExecutablePath(), L"C:\\Tarnwick\\brisalen.exe");
}

// ---------------------------------------------------------------- paths

TEST(WinPathTest, NormalisesEverySpellingWin32Accepts) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"c:", L"C:\\"},
        {L"C:/", L"C:\\"},
        {L"C:\\a\\..\\..\\b", L"C:\\b"},
        {L"c:\\Temp.\\x. .\\", L"c:\\Temp\\x"},
        {L"\\\\?\\D:\\Dir\\File", L"D:\\Dir\\File"},
        // After "\\?\" names are literal: dots stay part of them.
        {L"\\\\?\\D:\\Dir\\...\\x.", L"\\\\?\\D:\\Dir\\...\\x."},
    };
    for (const auto& [input, expected] : cases) {
        sim::WinPath path;
        ASSERT_TRUE(sim::WinPath::Parse(input, path)) << sim::ToUtf8(input);
        EXPECT_EQ(path.Key(), sim::Fold(expected)) << sim::ToUtf8(input);
    }
    sim::WinPath path;
    for (const wchar_t* refused : {L"C:relative", L"\\Windows", L"1:\\x", L"", L"\\\\?\\D:\\Dir\\.\\File",
                                   L"\\\\?\\C:\\a\\..\\b"}) {
        EXPECT_FALSE(sim::WinPath::Parse(refused, path)) << sim::ToUtf8(refused);
    }
}

TEST(NameMatchTest, WildcardsBacktrackAndIgnoreCase) {
    EXPECT_TRUE(sim::MatchesWildcard(L"*ab", L"aab"));
    EXPECT_TRUE(sim::MatchesWildcard(L"a*b*c", L"AxxBbyC"));
    EXPECT_TRUE(sim::MatchesWildcard(L"*.*", L"noext"));
    EXPECT_TRUE(sim::MatchesWildcard(L"caf\u00e9*", L"CAF\u00c9.mp3"));
    EXPECT_FALSE(sim::MatchesWildcard(L"*.txt", L"txt"));
    EXPECT_FALSE(sim::MatchesWildcard(L"a?", L"a"));
    EXPECT_FALSE(sim::MatchesWildcard(L"a*b", L"abc"));
}

TEST(NameMatchTest, NtfsOrderComparesUpperCasedUtf16Units) {
    EXPECT_TRUE(sim::NtfsNameLess(L"a.txt", L"B.txt"));
    EXPECT_FALSE(sim::NtfsNameLess(L"B.txt", L"a.txt"));
    EXPECT_FALSE(sim::NtfsNameLess(L"abc", L"ABC"));  // equal once upper-cased
    EXPECT_FALSE(sim::NtfsNameLess(L"ABC", L"abc"));
    EXPECT_TRUE(sim::NtfsNameLess(L"ab", L"abc"));
    EXPECT_TRUE(sim::NtfsNameLess(L"Z", L"_"));  // '_' sorts after the upper-case letters
    // A character beyond U+FFFF is two units starting at 0xD800, so it sorts
    // before U+FF21 although its code point is higher.
    EXPECT_TRUE(sim::NtfsNameLess(L"\U0001F600", L"\uFF41"));
    EXPECT_FALSE(sim::NtfsNameLess(L"\uFF41", L"\U0001F600"));
    EXPECT_TRUE(sim::NtfsNameLess(L"\U0001F600", L"\U0001F601"));
}

using PathResolutionTest = SimMachineTest;

TEST_F(PathResolutionTest, MatchesExistingComponentsIgnoringCase) {
    WriteFile(L"C:\\Program Files (x86)\\Common Files\\Tarnwick Shared\\Core.dll", 1);
    const std::string base = folder_ + "/drives/C/Program Files (x86)/Common Files/Tarnwick Shared";
    std::string host;
    ASSERT_TRUE(machine_->Resolve(L"c:/PROGRAM FILES (X86)//common files\\.\\x\\..\\TARNWICK shared\\core.DLL", host));
    EXPECT_EQ(host, base + "/Core.dll");
    // A missing name keeps the caller's spelling so it is created that way.
    ASSERT_TRUE(machine_->Resolve(L"C:\\program files (x86)\\COMMON FILES\\New\\Sub\\", host));
    EXPECT_EQ(host, folder_ + "/drives/C/Program Files (x86)/Common Files/New/Sub");
    EXPECT_FALSE(machine_->Resolve(L"Q:\\anything", host));
    EXPECT_FALSE(machine_->Resolve(L"relative\\path", host));
}

TEST_F(PathResolutionTest, PathsInAnotherCaseFollowRenamesOnTheHost) {
    WriteFile(L"C:\\Tree\\Sub\\f.txt", 1);
    const std::string drive = folder_ + "/drives/C";
    std::string host;
    // Asked twice: the second answer comes from what the first found.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(machine_->Resolve(L"c:\\tree\\SUB\\f.txt", host));
        EXPECT_EQ(host, drive + "/Tree/Sub/f.txt");
    }
    fs::rename(drive + "/Tree", drive + "/TREE");
    ASSERT_TRUE(machine_->Resolve(L"c:\\tree\\SUB\\f.txt", host));
    EXPECT_EQ(host, drive + "/TREE/Sub/f.txt");
    fs::rename(drive + "/TREE", drive + "/Other");
    ASSERT_TRUE(machine_->Resolve(L"c:\\tree\\SUB\\f.txt", host));
    EXPECT_EQ(host, drive + "/tree/SUB/f.txt");
    EXPECT_FALSE(Os().Files().Exists(L"c:\\tree\\SUB\\f.txt"));
    fs::create_directories(drive + "/Tree/sub");
    ASSERT_TRUE(machine_->Resolve(L"C:\\TREE\\Sub\\", host));
    EXPECT_EQ(host, drive + "/Tree/sub");
}

TEST_F(PathResolutionTest, FullPathsComeFromTheCurrentFolderAndDriveAsOnWindows) {
    IFileSystem& files = Os().Files();
    // The current folder is the host program's, C:\Tarnwick.
    EXPECT_EQ(files.FullPathName(L"\\iTunes.exe"), L"C:\\iTunes.exe");
    EXPECT_EQ(files.FullPathName(L"\\"), L"C:\\");
    EXPECT_EQ(files.FullPathName(L"Log\\x.log"), L"C:\\Tarnwick\\Log\\x.log");
    EXPECT_EQ(files.FullPathName(L"C:x.txt"), L"C:\\Tarnwick\\x.txt");
    EXPECT_EQ(files.FullPathName(L"D:x.txt"), L"D:\\x.txt");
    EXPECT_EQ(files.FullPathName(L"C:/a/./b/../c. /"), L"C:\\a\\c\\");
    EXPECT_EQ(files.FullPathName(L"C:\\a\\...\\.."), L"C:\\");
    EXPECT_EQ(files.FullPathName(L"\\\\?\\C:\\a\\..."), L"\\\\?\\C:\\a\\...");
    EXPECT_EQ(files.FullPathName(L""), L"");

    WriteFile(L"C:\\iTunes.exe", 4);
    EXPECT_TRUE(files.Exists(L"\\iTunes.exe"));
    EXPECT_TRUE(files.Exists(L"\\"));
    EXPECT_EQ(files.CaseFoldedPath(L"C:\\ÄB"), files.CaseFoldedPath(L"c:\\äb"));
}

TEST_F(PathResolutionTest, OneFoldingNamesTheSameEntriesForLookupKeysAndComparison) {
    // U+0131 (dotless i) and U+017F (long s) upper-case onto I and S, as
    // NTFS folds them; U+212A (Kelvin sign) is upper case already and folds
    // onto no K. Lower-casing says the opposite for each.
    if (!sim::EqualsNoCase(L"f\u0131le", L"FILE")) GTEST_SKIP() << "no Unicode case table on this host";
    IFileSystem& files = Os().Files();
    WriteFile(L"C:\\Users\\Tarn\\x.txt", 1);
    WriteFile(L"C:\\Key\\f.txt", 1);
    const std::wstring dotless = L"C:\\Program F\u0131les (x86)";
    const std::wstring longS = L"C:\\U\u017Fers\\Tarn\\x.txt";
    EXPECT_EQ(Host(dotless), Host(L"C:\\Program Files (x86)"));
    EXPECT_EQ(Host(longS), Host(L"C:\\Users\\Tarn\\x.txt"));
    EXPECT_EQ(files.CaseFoldedPath(dotless), files.CaseFoldedPath(L"c:\\program files (x86)"));
    EXPECT_EQ(files.CaseFoldedPath(longS), files.CaseFoldedPath(L"C:\\users\\TARN\\X.txt"));
    EXPECT_NE(files.CaseFoldedPath(L"C:\\\u212Aey"), files.CaseFoldedPath(L"C:\\key"));

    // What is recorded under one spelling belongs to the entry in all.
    ASSERT_EQ(files.SetAttributes(longS, kAttrHidden), 0u);
    EXPECT_EQ(files.GetAttributes(L"C:\\Users\\Tarn\\x.txt"), uint32_t{kAttrHidden});
    FindData entry;
    ASSERT_TRUE(files.FindFirst(L"C:\\Users\\Tarn\\x.*", entry));
    EXPECT_EQ(entry.attributes, uint32_t{kAttrHidden});
    machine_->HoldFile(L"C:\\Program F\u0131les (x86)\\..\\U\u017Fers\\Tarn\\X.TXT");
    EXPECT_EQ(files.DeleteFile(L"C:\\Users\\Tarn\\x.txt"), uint32_t{kErrSharingViolation});

    // Found once in another spelling, "key" is no hint for the Kelvin sign.
    EXPECT_TRUE(files.Exists(L"C:\\key\\f.txt"));
    EXPECT_FALSE(files.Exists(L"C:\\\u212Aey\\f.txt"));
}

// ---------------------------------------------------------------- searches

using FileSearchTest = SimMachineTest;

TEST_F(FileSearchTest, ListsDotsFirstThenNtfsOrder) {
    for (const wchar_t* name : {L"_x", L"B.txt", L"a.txt"}) WriteFile(std::wstring(L"C:\\Data\\") + name, 3);
    ASSERT_EQ(Os().Files().CreateDirectory(L"C:\\Data\\c"), 0u);
    const std::vector<std::wstring> expected{L".", L"..", L"a.txt", L"B.txt", L"c", L"_x"};
    EXPECT_EQ(SearchNames(Os().Files(), L"C:\\data\\*"), expected);
    EXPECT_EQ(SearchNames(Os().Files(), L"c:/DATA/*.*"), expected);
    EXPECT_EQ(SearchNames(Os().Files(), L"C:\\Data\\*.TXT"), (std::vector<std::wstring>{L"a.txt", L"B.txt"}));
    EXPECT_EQ(SearchNames(Os().Files(), L"C:\\Data\\?.txt"), (std::vector<std::wstring>{L"a.txt", L"B.txt"}));
    EXPECT_EQ(Os().Process().LastError(), uint32_t{kErrNoMoreFiles});
}

TEST_F(FileSearchTest, DriveRootHasNoDotEntries) {
    const auto names = SearchNames(Os().Files(), L"C:\\*");
    ASSERT_FALSE(names.empty());
    EXPECT_NE(names.front(), L".");
    EXPECT_NE(std::find(names.begin(), names.end(), L"Users"), names.end());
}

TEST_F(FileSearchTest, EntriesCarryAttributesSizesAndTimes) {
    WriteFile(L"C:\\Data\\file.bin", 1234);
    ASSERT_EQ(Os().Files().CreateDirectory(L"C:\\Data\\Sub"), 0u);
    machine_->SetMeta(L"C:\\Data\\file.bin", sim::FileMeta{kAttrHidden | kAttrSystem, 132000000000000000ull});
    FindData entry;
    auto search = Os().Files().FindFirst(L"C:\\Data\\F*", entry);
    ASSERT_TRUE(search);
    EXPECT_EQ(entry.name, L"file.bin");
    EXPECT_EQ(entry.attributes, uint32_t{kAttrHidden | kAttrSystem});
    EXPECT_EQ(entry.size, 1234u);
    EXPECT_EQ(entry.creationTime, 132000000000000000ull);
    EXPECT_GT(entry.lastWriteTime, 130000000000000000ull);  // after 2012: taken from the host clock
    ASSERT_TRUE(Os().Files().FindFirst(L"C:\\Data\\sub", entry));
    EXPECT_EQ(entry.attributes, uint32_t{kAttrDirectory});
    EXPECT_EQ(entry.name, L"Sub");
}

TEST_F(FileSearchTest, RecordedAttributesReachOnlyTheEntryTheyBelongTo) {
    WriteFile(L"C:\\M\\x\\inner", 1);
    WriteFile(L"C:\\M\\x]y", 1);
    WriteFile(L"C:\\M\\y", 1);
    WriteFile(L"C:\\M\\ya", 1);
    std::ofstream(Host(L"C:\\M") + "/k.") << "x";
    fs::create_directories(Host(L"C:\\M") + "/dots./deeper");
    std::ofstream(Host(L"C:\\M") + "/dots./f") << "x";
    machine_->SetMeta(L"C:\\M\\X\\inner", sim::FileMeta{kAttrHidden, {}});
    machine_->SetMeta(L"C:\\M\\x]y", sim::FileMeta{kAttrReadOnly, {}});
    machine_->SetMeta(L"\\\\?\\C:\\M\\k.", sim::FileMeta{kAttrSystem, {}});
    machine_->SetMeta(L"C:\\m\\Y", sim::FileMeta{kAttrHidden | kAttrArchive, 132000000000000000ull});
    machine_->SetMeta(L"\\\\?\\C:\\M\\dots.\\f", sim::FileMeta{kAttrHidden, {}});
    machine_->SetMeta(L"\\\\?\\C:\\M\\dots.\\deeper\\g", sim::FileMeta{kAttrSystem, {}});

    auto listed = [&](const std::wstring& pattern) {
        std::map<std::wstring, FindData> entries;
        FindData entry;
        auto search = Os().Files().FindFirst(pattern, entry);
        if (!search) return entries;
        do {
            entries[entry.name] = entry;
        } while ((*search)->Next(entry));
        return entries;
    };
    auto top = listed(L"C:\\M\\*");
    EXPECT_EQ(top[L"x"].attributes, uint32_t{kAttrDirectory});  // what lies below it is not its own
    EXPECT_EQ(top[L"x]y"].attributes, uint32_t{kAttrReadOnly});
    EXPECT_EQ(top[L"k."].attributes, uint32_t{kAttrSystem});
    EXPECT_EQ(top[L"y"].attributes, uint32_t{kAttrHidden | kAttrArchive});
    EXPECT_EQ(top[L"y"].creationTime, 132000000000000000ull);
    EXPECT_EQ(top[L"ya"].attributes, uint32_t{kAttrArchive});
    EXPECT_EQ(top[L"dots."].attributes, uint32_t{kAttrDirectory});
    EXPECT_EQ(listed(L"C:\\M\\x\\*")[L"inner"].attributes, uint32_t{kAttrHidden});
    auto dots = listed(L"\\\\?\\C:\\M\\dots.\\*");
    EXPECT_EQ(dots[L"f"].attributes, uint32_t{kAttrHidden});
    EXPECT_EQ(dots[L"deeper"].attributes, uint32_t{kAttrDirectory});
}

TEST_F(FileSearchTest, FailuresTellMissingFolderFromNoMatch) {
    WriteFile(L"C:\\Data\\a.txt", 1);
    FindData entry;
    // The error of a failed search, which must be a failure.
    auto failure = [&](const wchar_t* pattern) {
        auto search = Os().Files().FindFirst(pattern, entry);
        EXPECT_FALSE(search) << sim::ToUtf8(pattern);
        return search.Error();
    };
    EXPECT_EQ(failure(L"C:\\Nowhere\\*"), uint32_t{kErrPathNotFound});
    EXPECT_EQ(failure(L"C:\\Data\\a.txt\\*"), uint32_t{kErrPathNotFound});
    EXPECT_EQ(failure(L"C:\\Data\\*.log"), uint32_t{kErrFileNotFound});
    EXPECT_EQ(Os().Process().LastError(), uint32_t{kErrFileNotFound});
}

TEST_F(FileSearchTest, SizeAboveFourGigabytesIsKept) {
    WriteFile(L"C:\\Data\\huge.vhd", 0);
    const uint64_t size = 5ull * 1024 * 1024 * 1024 + 17;
    {
        base::UniqueFd fd(::open(Host(L"C:\\Data\\huge.vhd").c_str(), O_WRONLY));
        ASSERT_TRUE(fd.Valid());
        ASSERT_EQ(::ftruncate(fd.Get(), static_cast<off_t>(size)), 0);
    }
    FindData entry;
    ASSERT_TRUE(Os().Files().FindFirst(L"C:\\Data\\huge.vhd", entry));
    EXPECT_EQ(entry.size, size);
    auto file = Os().Files().Open(L"C:\\Data\\HUGE.vhd", OpenMode::Read);
    ASSERT_TRUE(file);
    EXPECT_EQ((*file)->Size(), size);
}

// ---------------------------------------------------------------- changes

using FileChangeTest = SimMachineTest;

TEST_F(FileChangeTest, ReadOnlyFileRefusesDeletionUntilCleared) {
    IFileSystem& files = Os().Files();
    WriteFile(L"C:\\Data\\locked.txt", 1);
    ASSERT_EQ(files.SetAttributes(L"C:\\Data\\LOCKED.txt", kAttrReadOnly), 0u);
    EXPECT_EQ(files.GetAttributes(L"C:\\Data\\locked.txt"), uint32_t{kAttrReadOnly});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\locked.txt"), uint32_t{kErrAccessDenied});
    EXPECT_EQ(Os().Process().LastError(), uint32_t{kErrAccessDenied});
    auto appending = files.Open(L"C:\\Data\\locked.txt", OpenMode::Append);
    EXPECT_FALSE(appending);
    EXPECT_EQ(appending.Error(), uint32_t{kErrAccessDenied});
    EXPECT_TRUE(files.Exists(L"C:\\Data\\locked.txt"));

    ASSERT_EQ(files.SetAttributes(L"C:\\Data\\locked.txt", kAttrNormal), 0u);
    EXPECT_EQ(files.GetAttributes(L"C:\\Data\\locked.txt"), uint32_t{kAttrNormal});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\locked.txt"), 0u);
    // A new file of the same name starts with fresh attributes.
    WriteFile(L"C:\\Data\\locked.txt", 1);
    EXPECT_EQ(files.GetAttributes(L"C:\\Data\\locked.txt"), uint32_t{kAttrArchive});
    EXPECT_EQ(sim::Machine::Open(folder_)->Snapshot().files.count(L"c:\\data\\locked.txt"), 0u);
}

TEST_F(FileChangeTest, HeldFileCanBeReadButNotDeletedMovedOrWritten) {
    IFileSystem& files = Os().Files();
    WriteFile(L"C:\\Data\\Held\\busy.dll", 4);
    machine_->HoldFile(L"c:\\data\\held\\BUSY.dll");
    EXPECT_TRUE(files.Open(L"C:\\Data\\Held\\busy.dll", OpenMode::Read));
    auto rewriting = files.Open(L"C:\\Data\\Held\\busy.dll", OpenMode::Truncate);
    EXPECT_FALSE(rewriting);
    EXPECT_EQ(rewriting.Error(), uint32_t{kErrSharingViolation});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\Held\\busy.dll"), uint32_t{kErrSharingViolation});
    EXPECT_EQ(files.MoveFile(L"C:\\Data\\Held", L"C:\\Data\\Moved"), uint32_t{kErrSharingViolation});
    machine_->ReleaseFile(L"C:\\Data\\Held\\busy.dll");
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\Held\\busy.dll"), 0u);
}

TEST_F(FileChangeTest, DeleteAndRemoveReportWindowsErrors) {
    IFileSystem& files = Os().Files();
    WriteFile(L"C:\\Data\\Full\\one.txt", 1);
    EXPECT_EQ(files.RemoveDirectory(L"C:\\Data\\Full"), uint32_t{kErrDirNotEmpty});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\Full"), uint32_t{kErrAccessDenied});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\Full\\two.txt"), uint32_t{kErrFileNotFound});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\Gone\\two.txt"), uint32_t{kErrPathNotFound});
    EXPECT_EQ(files.RemoveDirectory(L"C:\\Data\\Gone"), uint32_t{kErrFileNotFound});
    EXPECT_EQ(files.CreateDirectory(L"C:\\Data\\full"), uint32_t{kErrAlreadyExists});
    EXPECT_EQ(files.CreateDirectory(L"C:\\Data\\Gone\\Deeper"), uint32_t{kErrPathNotFound});
    EXPECT_EQ(files.GetAttributes(L"C:\\Data\\Gone"), kInvalidFileAttributes);
    EXPECT_EQ(Os().Process().LastError(), uint32_t{kErrFileNotFound});
    EXPECT_EQ(files.DeleteFile(L"C:\\Data\\Full\\One.TXT"), 0u);
    EXPECT_EQ(files.RemoveDirectory(L"C:\\Data\\Full\\"), 0u);
    EXPECT_FALSE(fs::exists(folder_ + "/drives/C/Data/Full"));
}

TEST_F(FileChangeTest, CopyAndMoveCarryContentAndAttributes) {
    IFileSystem& files = Os().Files();
    WriteFile(L"C:\\Data\\src.txt", 10);
    WriteFile(L"C:\\Data\\existing.txt", 1);
    ASSERT_EQ(files.SetAttributes(L"C:\\Data\\src.txt", kAttrReadOnly | kAttrArchive), 0u);
    EXPECT_EQ(files.CopyFile(L"C:\\Data\\src.txt", L"C:\\Data\\existing.txt", true), uint32_t{kErrFileExists});
    EXPECT_EQ(files.CopyFile(L"C:\\Data\\src.txt", L"C:\\Data\\copy.txt", true), 0u);
    EXPECT_EQ(fs::file_size(Host(L"C:\\Data\\copy.txt")), 10u);
    EXPECT_EQ(files.GetAttributes(L"C:\\Data\\copy.txt"), uint32_t{kAttrReadOnly | kAttrArchive});

    EXPECT_EQ(files.MoveFile(L"C:\\Data\\src.txt", L"C:\\Data\\existing.txt"), uint32_t{kErrAlreadyExists});
    EXPECT_EQ(files.MoveFile(L"C:\\Data\\src.txt", L"C:\\Data\\New\\src.txt"), uint32_t{kErrPathNotFound});
    EXPECT_EQ(files.MoveFile(L"C:\\Data", L"C:\\Renamed"), 0u);
    EXPECT_EQ(files.GetAttributes(L"C:\\Renamed\\src.txt"), uint32_t{kAttrReadOnly | kAttrArchive});
    EXPECT_EQ(files.MoveFile(L"C:\\Renamed\\src.txt", L"C:\\Renamed\\SRC.txt"), 0u);
    EXPECT_EQ(SearchNames(files, L"C:\\Renamed\\s*"), std::vector<std::wstring>{L"SRC.txt"});
}

TEST_F(FileChangeTest, OpenModesWriteWhereWindowsWould) {
    IFileSystem& files = Os().Files();
    // The error of a refused open, which must be a refusal.
    auto refusal = [&](const wchar_t* path, OpenMode mode) {
        auto opened = files.Open(path, mode);
        EXPECT_FALSE(opened) << sim::ToUtf8(path);
        return opened.Error();
    };
    EXPECT_EQ(refusal(L"C:\\Logs\\x.log", OpenMode::Read), uint32_t{kErrPathNotFound});
    ASSERT_EQ(files.CreateDirectory(L"C:\\Logs"), 0u);
    EXPECT_EQ(refusal(L"C:\\Logs\\x.log", OpenMode::Read), uint32_t{kErrFileNotFound});
    ASSERT_TRUE(files.Open(L"C:\\logs\\X.log", OpenMode::Truncate).Value()->Write("abc", 3));
    ASSERT_TRUE(files.Open(L"C:\\Logs\\x.LOG", OpenMode::Append).Value()->Write("de", 2));
    char buffer[8] = {};
    EXPECT_EQ(files.Open(L"C:\\Logs\\X.log", OpenMode::Read).Value()->Read(buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(files.NativePath(L"c:\\LOGS\\x.log"), folder_ + "/drives/C/Logs/X.log");

    ASSERT_EQ(files.SetAttributes(L"C:\\Logs\\X.log", kAttrHidden), 0u);
    EXPECT_EQ(refusal(L"C:\\Logs\\X.log", OpenMode::Truncate), uint32_t{kErrAccessDenied});
    EXPECT_EQ(refusal(L"C:\\Logs", OpenMode::Read), uint32_t{kErrAccessDenied});
}

// ---------------------------------------------------------------- junctions

class JunctionTest : public SimMachineTest {
protected:
    void SetUp() override {
        SimMachineTest::SetUp();
        target_ = folder_ + "/elsewhere";
        fs::create_directories(target_);
        std::ofstream(target_ + "/keep.txt") << "keep";
        ASSERT_EQ(Os().Files().CreateDirectory(L"C:\\Apps"), 0u);
        fs::create_directory_symlink(target_, Host(L"C:\\Apps\\Link"));
    }
    std::string target_;
};

TEST_F(JunctionTest, IsReportedAsReparsePointFolder) {
    const uint32_t expected = kAttrDirectory | kAttrReparsePoint;
    EXPECT_EQ(Os().Files().GetAttributes(L"C:\\apps\\LINK"), expected);
    FindData entry;
    ASSERT_TRUE(Os().Files().FindFirst(L"C:\\Apps\\L*", entry));
    EXPECT_EQ(entry.attributes, expected);
    // Searches go through it like any folder.
    EXPECT_EQ(SearchNames(Os().Files(), L"C:\\Apps\\Link\\*.txt"), std::vector<std::wstring>{L"keep.txt"});
}

TEST_F(JunctionTest, RemoveDirectoryTakesOnlyTheLink) {
    EXPECT_EQ(Os().Files().RemoveDirectory(L"C:\\Apps\\Link"), 0u);
    EXPECT_FALSE(Os().Files().Exists(L"C:\\Apps\\Link"));
    EXPECT_TRUE(fs::exists(target_ + "/keep.txt"));
}

TEST_F(JunctionTest, DeleteFileTakesOnlyTheLink) {
    EXPECT_EQ(Os().Files().DeleteFile(L"C:\\Apps\\Link"), 0u);
    EXPECT_FALSE(Os().Files().Exists(L"C:\\Apps\\Link"));
    EXPECT_TRUE(fs::exists(target_ + "/keep.txt"));
}

// ---------------------------------------------------------------- machine facts

using MachineInfoTest = SimMachineTest;

TEST_F(MachineInfoTest, VersionWithoutManifestStopsAtWindows8) {
    struct Case {
        sim::WindowsRelease release;
        OsVersion reported;
        uint32_t trueMajor;
    };
    const Case cases[] = {
        {sim::WindowsRelease::Windows11, {6, 2, 9200}, 10},
        {sim::WindowsRelease::Windows10, {6, 2, 9200}, 10},
        {sim::WindowsRelease::Windows81, {6, 2, 9200}, 6},
        {sim::WindowsRelease::Windows7, {6, 1, 7601}, 6},
    };
    for (const Case& c : cases) {
        machine_->SetWindows(c.release);
        const OsVersion reported = Os().Machine().ReportedVersion();
        EXPECT_EQ(reported.major, c.reported.major);
        EXPECT_EQ(reported.minor, c.reported.minor);
        EXPECT_EQ(reported.build, c.reported.build);
        OsVersion actual;
        ASSERT_TRUE(Os().Machine().TrueVersion(actual));
        EXPECT_EQ(actual.major, c.trueMajor);
    }
}

TEST_F(MachineInfoTest, BitnessMovesProgramFilesAndSystem) {
    IMachineInfo& info = Os().Machine();
    bool available = false;
    EXPECT_TRUE(info.Is64BitWindows(available));
    EXPECT_EQ(info.SpecialFolder(sim::csidl::kProgramFiles), L"C:\\Program Files (x86)");
    machine_->SetWindows(sim::WindowsRelease::Windows7, false);
    EXPECT_FALSE(info.Is64BitWindows(available));
    EXPECT_EQ(info.SpecialFolder(sim::csidl::kProgramFiles), L"C:\\Program Files");
    EXPECT_EQ(info.SpecialFolder(sim::csidl::kProgramFilesCommonX86), L"C:\\Program Files\\Common Files");
    EXPECT_EQ(info.SpecialFolder(sim::csidl::kSystem), L"C:\\Windows\\System32");
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Windows\\System32"));
    EXPECT_EQ(info.SpecialFolder(0x7777), L"");
}

TEST_F(MachineInfoTest, DrivesInLetterOrderWithTheirSpace) {
    machine_->Edit([](sim::MachineState& s) {
        s.drives.insert(s.drives.begin(), sim::DriveInfo{L'E', DriveType::Removable, 64, 32});
        return 0;
    });
    IMachineInfo& info = Os().Machine();
    EXPECT_EQ(info.LogicalDrives(), (std::vector<std::wstring>{L"C:\\", L"E:\\"}));
    EXPECT_EQ(info.GetDriveType(L"e:\\"), DriveType::Removable);
    EXPECT_EQ(info.GetDriveType(L"Z:\\"), DriveType::NoRootDir);
    DiskSpace space;
    ASSERT_TRUE(info.GetDiskSpace(L"C:\\", space));
    EXPECT_EQ(space.total, 256ull << 30);
    EXPECT_EQ(space.freeToCaller, 120ull << 30);
    EXPECT_FALSE(info.GetDiskSpace(L"Z:\\", space));
}

// ---------------------------------------------------------------- process

using ProcessTest = SimMachineTest;

TEST_F(ProcessTest, CodePagesFallBackToDefaultCharacter) {
    ICodePages& pages = Os().CodePages();
    EXPECT_EQ(pages.FromWide(kCpOemCp, L"caf\u00e9 \u20ac5"), "caf\x82 ?5");
    EXPECT_EQ(pages.FromWide(kCpAcp, L"caf\u00e9 \u20ac5"), "caf\xe9 \x80" "5");
    EXPECT_EQ(pages.ToWide(kCpOemCp, "\x82"), L"\u00e9");
    EXPECT_EQ(pages.FromWide(936, L"\u4e2d\u00e9"), "\xd6\xd0\xa8\xa6");
    machine_->Edit([](sim::MachineState& s) { return s.codePages.oem = 850; });
    EXPECT_EQ(pages.FromWide(kCpOemCp, L"\u00d8"), "\x9d");
}

TEST_F(ProcessTest, InstallerLogSettingIsWrittenAtOnce) {
    EXPECT_EQ(Os().Installer().EnableLog(7, L"C:\\Temp\\setup.log", 1), 0u);
    EXPECT_EQ(MsiLog().path, L"C:\\Temp\\setup.log");
    const auto saved = sim::Machine::Open(folder_)->Snapshot().msiLog;
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->mode, 7u);
    EXPECT_EQ(saved->attributes, 1u);
}

TEST_F(ProcessTest, WorkersRunAndEachThreadKeepsItsOwnLastError) {
    IProcessEnv& process = Os().Process();
    EXPECT_EQ(Os().Files().DeleteFile(L"C:\\missing.txt"), uint32_t{kErrFileNotFound});
    // Shared so the worker may still be inside set_value when the test ends.
    auto workerError = std::make_shared<std::promise<uint32_t>>();
    std::future<uint32_t> seen = workerError->get_future();
    ASSERT_TRUE(process.StartThread([&process, workerError] {
        workerError->set_value(process.LastError());
        throw std::runtime_error("a throwing worker must not end the process");
    }));
    EXPECT_EQ(seen.get(), 0u);
    EXPECT_EQ(process.LastError(), uint32_t{kErrFileNotFound});
}

void ReadThroughNull(void*) {
    volatile int* nowhere = nullptr;
    (void)*nowhere;
}

void DivideByZero(void* result) {
    volatile int zero = 0;
    *static_cast<int*>(result) = 7 / zero;
}

void Throw(void*) { throw std::runtime_error("out of a guarded call"); }

void Increment(void* counter) { ++*static_cast<int*>(counter); }

// Each end of a guarded call carries the code Windows would give it, and a
// guard the machine cannot give refuses the call without running it.
TEST_F(ProcessTest, RunGuardedEndsFaultsAndExceptionsWithTheirWindowsCodes) {
    IProcessEnv& process = Os().Process();
    using End = platform::GuardOutcome::End;
    const platform::GuardOutcome thrown = process.RunGuarded(Throw, nullptr);
    EXPECT_EQ(thrown.end, End::kException);
    EXPECT_EQ(thrown.exceptionCode, platform::kCxxExceptionCode);
    if (!sim::RunningUnderSanitizer()) {
        // Twice: the fault signal must be usable again after the first recovery.
        for (int round = 0; round < 2; ++round) {
            const platform::GuardOutcome fault = process.RunGuarded(ReadThroughNull, nullptr);
            EXPECT_EQ(fault.end, End::kException);
            EXPECT_EQ(fault.exceptionCode, 0xC0000005u);
        }
        int quotient = 0;
        EXPECT_EQ(process.RunGuarded(DivideByZero, &quotient).exceptionCode, 0xC0000094u);
    }
    int counter = 0;
    EXPECT_TRUE(process.RunGuarded(Increment, &counter).Returned());
    EXPECT_EQ(counter, 1);

    sim::SetFaultGuardAvailable(false);
    const platform::GuardOutcome refused = process.RunGuarded(Increment, &counter);
    sim::SetFaultGuardAvailable(true);
    EXPECT_EQ(refused.end, End::kRefused);
    EXPECT_NE(std::wstring(refused.refusal), L"");
    EXPECT_EQ(counter, 1);
}

TEST_F(ProcessTest, SwitchingMachinesKeepsEarlierReferencesUsable) {
    IFileSystem& before = Os().Files();
    const std::string other = folder_ + "/other";
    sim::UseMachine(sim::Machine::Open(other));
    EXPECT_EQ(Os().Files().NativePath(L"C:\\x"), other + "/drives/C/x");
    EXPECT_EQ(before.NativePath(L"C:\\x"), folder_ + "/drives/C/x");
    EXPECT_EQ(sim::CurrentMachine()->Folder(), other);
}

}  // namespace
