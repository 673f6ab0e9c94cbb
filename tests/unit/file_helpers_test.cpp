// Path rules and the recursive folder helpers on the simulated machine:
// which files a deletion leaves, what a listing counts, and that neither
// walks out of the tree through a junction.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SimMachineFixture.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;
using Paths = std::vector<std::wstring>;
constexpr uint64_t k5GiB = 5ull << 30;

std::wstring Normalized(std::wstring p) { NormalizePath(p); return p; }
std::wstring Trimmed(std::wstring p) { RemoveTrailingBackslash(p); return p; }
std::wstring Extended(std::wstring p) { AddTrailingBackslash(p); return p; }

TEST(PathRules, NormalisingAndTrailingBackslashes) {
    EXPECT_EQ(Normalized(L"C:/a//b"), L"C:\\a\\b");
    EXPECT_EQ(Normalized(L"C:\\a\\\\\\b"), L"C:\\a\\\\b");  // one pass: three become two
    EXPECT_EQ(Trimmed(L"\\"), L"\\");
    EXPECT_EQ(Trimmed(L"C:\\x\\"), L"C:\\x");
    EXPECT_EQ(Trimmed(L"C:\\"), L"C:");
    EXPECT_EQ(Trimmed(L"C:\\x\\\\\\"), L"C:\\x\\");
    EXPECT_EQ(Trimmed(L""), L"");
    EXPECT_EQ(Extended(L"C:"), L"C:\\");
    EXPECT_EQ(Extended(L"C:/x"), L"C:\\x\\");
    EXPECT_EQ(Extended(L"a"), L"a");  // one character is left alone
    EXPECT_EQ(Extended(L""), L"");
    // The literal prefix the walks use survives normalising.
    EXPECT_EQ(Normalized(L"\\\\?\\C:\\a\\\\...//x"), L"\\\\?\\C:\\a\\...\\x");
    // The program folder is kept as Windows reports it, UNC and literal forms included.
    EXPECT_EQ(ProgramFolderOf(L"\\\\server\\share\\app\\host.exe"), L"\\\\server\\share\\app");
    EXPECT_EQ(ProgramFolderOf(L"\\\\?\\C:\\Long Folder\\host.exe"), L"\\\\?\\C:\\Long Folder");
    EXPECT_EQ(ProgramFolderOf(L"C:\\Tarnwick\\host.exe"), L"C:\\Tarnwick");
    std::wstring parent = L"unchanged";
    EXPECT_FALSE(GetParentDir(L"b.txt", parent));
    EXPECT_EQ(parent, L"unchanged");
    EXPECT_TRUE(GetParentDir(L"C:/a//b.txt", parent));
    EXPECT_EQ(parent, L"C:\\a");
    EXPECT_EQ(GetFileNameFromPath(L"C:/a/b.txt"), L"b.txt");
    EXPECT_EQ(GetFileNameFromPath(L"b.txt"), L"");
}

class FileHelpersTest : public LoggedMachineTest {
protected:
    bool Exists(const std::wstring& p) { return Os().Files().Exists(p); }
    void MakeSparse(const std::wstring& p, uint64_t size) {
        WriteFile(p, 0);
        ASSERT_EQ(::truncate(Host(p).c_str(), static_cast<off_t>(size)), 0);
    }
    bool Logged(const std::wstring& folder) {
        const std::string line = " ERR:Can not Delete dir = [" + sim::ToUtf8(folder) + "]!\n\n";
        return LoadTimeLog().find(line) != std::string::npos;
    }
};

TEST_F(FileHelpersTest, ExistenceAndTreeCreation) {
    WriteFile(L"C:\\Data\\f.txt", 1);
    EXPECT_TRUE(FileExists(platform::Os().Files(), L"C:/Data//"));
    EXPECT_TRUE(FileExists(platform::Os().Files(), L"C:\\Data\\f.txt"));
    EXPECT_FALSE(FileExists(platform::Os().Files(), L""));
    EXPECT_TRUE(CreateDirTree(platform::Os().Files(), L"C:\\New\\a\\b\\"));
    EXPECT_TRUE(Exists(L"C:\\New\\a\\b"));
    EXPECT_TRUE(CreateDirTree(platform::Os().Files(), L"C:\\New\\a"));
    EXPECT_FALSE(
        CreateDirTree(platform::Os().Files(), L"C:\\Data\\f.txt\\sub"));  // a file stands where a folder must go
    EXPECT_FALSE(CreateDirTree(platform::Os().Files(), L""));
}

TEST_F(FileHelpersTest, DeleteDirLeavesReadOnlyFileAndReports) {
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Missing"));
    EXPECT_FALSE(Logged(L"C:\\Missing"));

    for (auto p : {L"C:\\Doomed\\sub\\a.txt", L"C:\\Doomed\\sub\\ro.txt", L"C:\\Doomed\\b.txt"}) WriteFile(p, 3);
    Os().Files().CreateDirectory(L"C:\\Doomed\\empty");
    Os().Files().SetAttributes(L"C:\\Doomed\\sub\\ro.txt", platform::kAttrReadOnly);
    EXPECT_FALSE(DeleteDir(platform::Os(), L"C:\\Doomed"));
    EXPECT_TRUE(Logged(L"C:\\Doomed"));
    EXPECT_TRUE(Exists(L"C:\\Doomed\\sub\\ro.txt"));
    for (auto p : {L"C:\\Doomed\\sub\\a.txt", L"C:\\Doomed\\b.txt", L"C:\\Doomed\\empty"}) EXPECT_FALSE(Exists(p)) << p;
}

TEST_F(FileHelpersTest, CancelStopsTheWalkButEnteredFoldersAreStillRemoved) {
    for (auto dir : {L"a", L"b"})
        for (int i = 0; i < 5; ++i) WriteFile(L"C:\\Big\\" + std::wstring(dir) + L"\\f" + std::to_wstring(i), 1);
    WriteFile(L"C:\\Big\\c.txt", 1);
    // Turns true once b\f1 has gone: a is emptied and removed, b is cut short.
    DeleteTree(platform::Os(), L"C:\\Big", [&] { return !Exists(L"C:\\Big\\b\\f1"); });
    EXPECT_FALSE(Exists(L"C:\\Big\\a"));
    EXPECT_FALSE(Exists(L"C:\\Big\\b\\f0"));
    for (auto p : {L"C:\\Big\\b\\f2", L"C:\\Big\\b\\f4", L"C:\\Big\\c.txt"}) EXPECT_TRUE(Exists(p)) << p;

    const bool cancel = true;  // set before the call: nothing goes
    EXPECT_FALSE(DeleteDir(platform::Os(), L"C:\\Big", &cancel));
    EXPECT_TRUE(Exists(L"C:\\Big\\b\\f2"));
    EXPECT_TRUE(Logged(L"C:\\Big"));
}

TEST_F(FileHelpersTest, JunctionsAreRemovedAsLinksAndNeverEntered) {
    WriteFile(L"C:\\Outside\\keep.txt", 7);
    WriteFile(L"C:\\Tree\\own.txt", 2);
    Link(L"C:\\Tree\\link", L"C:\\Outside");
    Link(L"C:\\RootLink", L"C:\\Outside");

    Paths files, folders;
    uint64_t total = 0;
    ASSERT_TRUE(EnumDir(platform::Os().Files(), L"C:\\Tree", files, folders, total, true));
    EXPECT_EQ(files, Paths{L"C:\\Tree\\own.txt"});
    EXPECT_EQ(folders, Paths{L"C:\\Tree\\link"});
    EXPECT_EQ(total, 2u);

    Paths left;
    DeleteFilesInFolders(platform::Os(), {L"C:\\Tree", L"C:\\RootLink"}, left);
    EXPECT_TRUE(left.empty());
    EXPECT_TRUE(Exists(L"C:\\Outside\\keep.txt"));
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\Tree"));
    EXPECT_TRUE(DeleteDir(platform::Os(), L"C:\\RootLink"));
    EXPECT_TRUE(Exists(L"C:\\Outside\\keep.txt"));
}

TEST_F(FileHelpersTest, EnumDirOrderAndSixtyFourBitSizes) {
    MakeSparse(L"C:\\E\\a\\huge.bin", k5GiB);
    WriteFile(L"C:\\E\\a\\y\\z.txt", 10);
    WriteFile(L"C:\\E\\b.txt", 1);
    Paths files, folders;
    uint64_t total = 0;
    ASSERT_TRUE(EnumDir(platform::Os().Files(), L"C:\\E\\", files, folders, total, true));
    EXPECT_EQ(folders, (Paths{L"C:\\E\\a", L"C:\\E\\a\\y"}));
    EXPECT_EQ(files, (Paths{L"C:\\E\\a\\huge.bin", L"C:\\E\\a\\y\\z.txt", L"C:\\E\\b.txt"}));
    EXPECT_EQ(total, k5GiB + 11);
    EXPECT_EQ(GetDirSize(platform::Os().Files(), L"C:\\E\\a"), k5GiB + 10);
    EXPECT_EQ(GetFileSizeByPath(platform::Os().Files(), L"C:\\E\\a\\huge.bin"), static_cast<int64_t>(k5GiB));
    EXPECT_EQ(GetDirSize(platform::Os().Files(), L"C:\\Nowhere"), 0u);
    EXPECT_FALSE(EnumDir(platform::Os().Files(), L"C:\\Nowhere", files, folders, total, true));

    Paths top, topFolders;
    total = 0;
    ASSERT_TRUE(EnumDir(platform::Os().Files(), L"C:\\E", top, topFolders, total, false));
    EXPECT_EQ(top, Paths{L"C:\\E\\b.txt"});
    EXPECT_EQ(total, 1u);
}

TEST_F(FileHelpersTest, DeleteFilesInFoldersReportsSurvivorsOnce) {
    WriteFile(L"C:\\Res\\Sub\\Locked.TXT", 1);
    WriteFile(L"C:\\Res\\gone.txt", 1);
    Os().Files().SetAttributes(L"C:\\Res\\Sub\\Locked.TXT", platform::kAttrReadOnly);
    Paths left{L"stale"};
    DeleteFilesInFolders(platform::Os(), {L"C:\\Res", L"C:/Res/", L"C:\\Missing"}, left);
    EXPECT_EQ(left, Paths{L"c:\\res\\sub\\locked.txt"});
    EXPECT_FALSE(Exists(L"C:\\Res\\gone.txt"));
    EXPECT_TRUE(Exists(L"C:\\Res\\Sub"));
}

TEST_F(FileHelpersTest, ReadWholeFileAndSize) {
    WriteFile(L"C:\\R\\empty", 0);
    WriteFile(L"C:\\R\\ten", 10);
    EXPECT_EQ(ReadWholeFile(platform::Os().Files(), L"C:\\R\\empty"), nullptr);
    EXPECT_EQ(ReadWholeFile(platform::Os().Files(), L"C:\\R\\missing"), nullptr);
    uint64_t size = 0;
    std::unique_ptr<char, decltype(&std::free)> data(ReadWholeFile(platform::Os().Files(), L"C:/R//ten", &size),
                                                     &std::free);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::string(data.get(), 11), std::string(10, 'x') + '\0');
    EXPECT_EQ(GetFileSizeByPath(platform::Os().Files(), L"C:\\R\\ten"), 10);
    EXPECT_EQ(GetFileSizeByPath(platform::Os().Files(), L"C:\\R\\missing"), 0);
    EXPECT_EQ(GetFileSizeByPath(platform::Os().Files(), L"C:\\R"), 0);
}

}  // namespace
