// The junctions a fresh simulated machine has, as Windows since Vista has
// them for the folder names of Windows XP: where they lead, their hidden
// and system attributes, the ACL that refuses a listing of their entries
// while paths through them open, how they are stored and what a machine
// saved before them looks like.
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "SimMachineFixture.h"
#include "common/FileHelpers.h"
#include "platform/sim/Utf8.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

constexpr uint32_t kStockLink = kAttrHidden | kAttrSystem | kAttrDirectory | kAttrReparsePoint;

const std::vector<std::pair<std::wstring, std::wstring>> kLinks = {
    {L"C:\\Documents and Settings", L"C:\\Users"},
    {L"C:\\Users\\All Users", L"C:\\ProgramData"},
    {L"C:\\ProgramData\\Application Data", L"C:\\ProgramData"},
    {L"C:\\ProgramData\\Desktop", L"C:\\Users\\Public\\Desktop"},
    {L"C:\\ProgramData\\Documents", L"C:\\Users\\Public\\Documents"},
    {L"C:\\ProgramData\\Start Menu", L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu"},
    {L"C:\\ProgramData\\Templates", L"C:\\ProgramData\\Microsoft\\Windows\\Templates"},
    {L"C:\\Users\\Tarn\\My Documents", L"C:\\Users\\Tarn\\Documents"},
    {L"C:\\Users\\Tarn\\Application Data", L"C:\\Users\\Tarn\\AppData\\Roaming"},
    {L"C:\\Users\\Tarn\\Local Settings", L"C:\\Users\\Tarn\\AppData\\Local"},
    {L"C:\\Users\\Tarn\\Local Settings\\Application Data", L"C:\\Users\\Tarn\\AppData\\Local"},
    {L"C:\\Users\\Tarn\\Cookies", L"C:\\Users\\Tarn\\AppData\\Local\\Microsoft\\Windows\\INetCookies"},
    {L"C:\\Users\\Tarn\\NetHood", L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\Network Shortcuts"},
    {L"C:\\Users\\Tarn\\PrintHood", L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\Printer Shortcuts"},
    {L"C:\\Users\\Tarn\\Recent", L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
    {L"C:\\Users\\Tarn\\SendTo", L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\SendTo"},
    {L"C:\\Users\\Tarn\\Start Menu", L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
    {L"C:\\Users\\Tarn\\Templates", L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\Templates"},
    {L"C:\\Users\\Tarn\\Documents\\My Music", L"C:\\Users\\Tarn\\Music"},
    {L"C:\\Users\\Tarn\\Documents\\My Pictures", L"C:\\Users\\Tarn\\Pictures"},
    {L"C:\\Users\\Tarn\\Documents\\My Videos", L"C:\\Users\\Tarn\\Videos"},
};

std::vector<std::wstring> SearchNames(const std::wstring& pattern, uint32_t* error = nullptr) {
    std::vector<std::wstring> names;
    FindData entry;
    auto search = Os().Files().FindFirst(pattern, entry);
    if (error) *error = search ? 0u : search.Error();
    if (!search) return names;
    do {
        names.push_back(entry.name);
    } while ((*search)->Next(entry));
    return names;
}

nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

using StockLinksTest = SimMachineTest;

TEST_F(StockLinksTest, LeadWhereWindowsLeadsAndRefuseOnlyTheirOwnListing) {
    IFileSystem& files = Os().Files();
    for (const auto& [link, target] : kLinks) {
        const std::string where = sim::ToUtf8(link);
        EXPECT_EQ(files.GetAttributes(link), kStockLink) << where;
        EXPECT_EQ(files.GetAttributes(target) & (kAttrReparsePoint | kAttrDirectory), uint32_t{kAttrDirectory})
            << where;
        EXPECT_TRUE(fs::equivalent(Host(link), Host(target))) << where;
        uint32_t error = 0;
        EXPECT_TRUE(SearchNames(link + L"\\*", &error).empty()) << where;
        EXPECT_EQ(error, uint32_t{kErrAccessDenied}) << where;
        EXPECT_EQ(Os().Process().LastError(), uint32_t{kErrAccessDenied}) << where;
    }
    // The entry itself is found in its folder, with the same bits.
    FindData entry;
    ASSERT_TRUE(files.FindFirst(L"C:\\Documents and Settings", entry));
    EXPECT_EQ(entry.attributes, kStockLink);

    // Paths through a junction open; a folder reached through one lists.
    WriteFile(L"C:\\Users\\Tarn\\Documents\\x.txt", 3);
    WriteFile(L"C:\\Users\\Tarn\\AppData\\Local\\v.txt", 3);
    for (const wchar_t* path : {L"C:\\Documents and Settings\\Tarn\\Documents\\x.txt",
                                L"C:\\Users\\Tarn\\My Documents\\x.txt",
                                L"C:\\Documents and Settings\\Tarn\\Local Settings\\Application Data\\v.txt"}) {
        EXPECT_TRUE(files.Open(path, OpenMode::Read)) << sim::ToUtf8(path);
    }
    EXPECT_EQ(SearchNames(L"C:\\Documents and Settings\\Tarn\\Documents\\*.txt"), std::vector<std::wstring>{L"x.txt"});
    // A junction met through another is still itself.
    uint32_t error = 0;
    SearchNames(L"C:\\Documents and Settings\\Tarn\\My Documents\\*", &error);
    EXPECT_EQ(error, uint32_t{kErrAccessDenied});
    EXPECT_EQ(files.GetAttributes(L"C:\\Users\\All Users\\Desktop"), kStockLink);
}

TEST_F(StockLinksTest, FoldersListAsOnWindowsAndWalksNeverEnterTheLinks) {
    EXPECT_EQ(SearchNames(L"C:\\Users\\*"), (std::vector<std::wstring>{L".", L"..", L"All Users", L"Public", L"Tarn"}));
    EXPECT_EQ(SearchNames(L"C:\\ProgramData\\*"),
              (std::vector<std::wstring>{L".", L"..", L"Application Data", L"Desktop", L"Documents", L"Microsoft",
                                         L"Start Menu", L"Templates"}));
    FindData entry;
    ASSERT_TRUE(Os().Files().FindFirst(L"C:\\Users\\Tarn\\Documents\\My*", entry));
    EXPECT_EQ(entry.attributes, kStockLink);

    // A music file is in Music only, never also under Documents\My Music.
    WriteFile(L"C:\\Users\\Tarn\\Music\\song.m4a", 2);
    WriteFile(L"C:\\Users\\Tarn\\Documents\\note.txt", 2);
    std::vector<std::wstring> found;
    ASSERT_TRUE(ListFilesRecursive(platform::Os().Files(), L"C:\\Users\\Tarn", found));
    size_t songs = 0;
    for (const std::wstring& file : found) songs += file.find(L"song.m4a") != std::wstring::npos;
    EXPECT_EQ(songs, 1u);
    // A Default profile gets its junctions where there is one; it is a
    // profile, which no deletion takes.
    WriteFile(L"C:\\Users\\Default\\AppData\\Roaming\\Vendor\\a.txt", 1);
    machine_->SetWindows(sim::WindowsRelease::Windows11);
    EXPECT_EQ(Os().Files().GetAttributes(L"C:\\Users\\Default User"), kStockLink);
    EXPECT_EQ(Os().Files().GetAttributes(L"C:\\Users\\Default\\Documents\\My Music"), kStockLink);
    EXPECT_TRUE(fs::equivalent(Host(L"C:\\Users\\Default\\Application Data\\Vendor\\a.txt"),
                               Host(L"C:\\Users\\Default\\AppData\\Roaming\\Vendor\\a.txt")));
    ASSERT_TRUE(DeleteDir(platform::Os(), L"C:\\Users\\Default"));
    EXPECT_TRUE(Os().Files().Exists(L"C:\\Users\\Default User\\AppData\\Roaming\\Vendor\\a.txt"));
    EXPECT_TRUE(fs::exists(Host(L"C:\\Users\\Tarn\\Music\\song.m4a")));
    EXPECT_TRUE(fs::exists(Host(L"C:\\Users\\Tarn\\Documents\\note.txt")));
    EXPECT_TRUE(fs::is_directory(Host(L"C:\\ProgramData\\Microsoft")));
}

TEST_F(StockLinksTest, MarksAreStoredAndAMachineSavedWithoutTheLinksStillLoads) {
    const nlohmann::json saved = ReadJson(folder_ + "/machine.json");
    const nlohmann::json mark = saved["files"][sim::ToUtf8(sim::Fold(L"C:\\Documents and Settings"))];
    EXPECT_EQ(mark, nlohmann::json({{"attributes", kAttrHidden | kAttrSystem}, {"listDenied", true}}));
    EXPECT_EQ(sim::Machine::Open(folder_)->Meta(L"c:\\documents and settings").listDenied, true);

    // Removing a junction takes its marks with it.
    ASSERT_EQ(Os().Files().RemoveDirectory(L"C:\\Users\\Tarn\\Recent"), 0u);
    EXPECT_FALSE(machine_->Meta(L"C:\\Users\\Tarn\\Recent").listDenied);
    EXPECT_TRUE(fs::is_directory(Host(L"C:\\Users\\Tarn\\AppData\\Roaming\\Microsoft\\Windows\\Recent")));

    // A machine written before the junctions (its keys folded the old way,
    // in lower case): loaded as it was, with nothing added.
    const std::string old = folder_ + "/old";
    fs::create_directories(old + "/drives/C/Users/Tarn/Documents");
    std::ofstream(old + "/drives/C/Users/Tarn/Documents/a.txt") << "a";
    std::ofstream(old + "/machine.json") << nlohmann::json(
        {{"files", {{"c:\\users\\tarn\\documents\\a.txt", {{"attributes", kAttrReadOnly}}}}}}).dump();
    auto machine = sim::Machine::Open(old);
    sim::UseMachine(machine);
    EXPECT_FALSE(fs::exists(old + "/drives/C/Documents and Settings"));
    EXPECT_EQ(SearchNames(L"C:\\Users\\*"), (std::vector<std::wstring>{L".", L"..", L"Tarn"}));
    EXPECT_EQ(Os().Files().GetAttributes(L"C:\\Users\\Tarn\\Documents\\A.TXT"), uint32_t{kAttrReadOnly});
    // Setup of another release makes them, as on a fresh machine.
    machine->SetWindows(sim::WindowsRelease::Windows11);
    EXPECT_EQ(Os().Files().GetAttributes(L"C:\\Documents and Settings"), kStockLink);
    EXPECT_EQ(Os().Files().GetAttributes(L"C:\\Users\\Tarn\\Documents\\a.txt"), uint32_t{kAttrReadOnly});
}

}  // namespace
