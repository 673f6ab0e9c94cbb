// The host path behind a Windows path on the simulated machine: each
// component is found in whatever case the host spells it, including names
// beyond ASCII whose characters fold onto ASCII letters, and a missing name
// keeps the caller's spelling. Lookups that miss and are repeated must see
// every change the host made in between.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ScratchFolder.h"
#include "platform/sim/files/HostPath.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;

class HostPathTest : public ::testing::Test {
protected:

    // Creates a host file of `size` bytes at `relative` (host spelling).
    void Make(const std::string& relative, size_t size = 1) {
        const fs::path path = fs::path(root_) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << std::string(size, 'x');
    }

    // Resolves a path of components given with '/' between them.
    std::string Resolve(const std::wstring& path, sim::HostNode* node = nullptr) {
        std::vector<std::wstring> components;
        size_t start = 0;
        for (size_t slash; (slash = path.find(L'/', start)) != std::wstring::npos; start = slash + 1) {
            components.push_back(path.substr(start, slash - start));
        }
        components.push_back(path.substr(start));
        return sim::ResolveComponents(root_, components, node);
    }

    ScratchFolder scratch_{"brisalen-hostpath"};
    const std::string& root_ = scratch_.Path();
};

TEST_F(HostPathTest, AsciiNamesMatchInAnyCaseButOnlyWhole) {
    Make("Music/Backup/Manifest.DB", 7);
    Make("Music/Backup/manifest.dbx");
    Make("Music/Backup/manifest.d");
    sim::HostNode node;
    // Only the last component differs: the parent is spelled as on the host.
    EXPECT_EQ(Resolve(L"Music/Backup/MANIFEST.db", &node), root_ + "/Music/Backup/Manifest.DB");
    EXPECT_TRUE(node.exists);
    EXPECT_FALSE(node.directory);
    EXPECT_EQ(node.size, 7u);
    // Every component in another case.
    EXPECT_EQ(Resolve(L"music/BACKUP/manifest.db"), root_ + "/Music/Backup/Manifest.DB");
    // Neighbours one character longer or shorter than the name are no match.
    EXPECT_EQ(Resolve(L"Music/Backup/manifest.mbdb", &node), root_ + "/Music/Backup/manifest.mbdb");
    EXPECT_FALSE(node.exists);
    EXPECT_EQ(Resolve(L"Music/Backup/MANIFEST.DBX"), root_ + "/Music/Backup/manifest.dbx");
    EXPECT_EQ(Resolve(L"Music/Backup/MANIFEST.D"), root_ + "/Music/Backup/manifest.d");
    Make("Short/manifest.d");
    EXPECT_EQ(Resolve(L"Short/MANIFEST.DB", &node), root_ + "/Short/MANIFEST.DB");
    EXPECT_FALSE(node.exists);
    // A folder found in another case reports itself as one.
    EXPECT_EQ(Resolve(L"Music/BACKUP", &node), root_ + "/Music/Backup");
    EXPECT_TRUE(node.directory);
    // A missing folder keeps the caller's spelling for everything below it.
    EXPECT_EQ(Resolve(L"music/Absent/manifest.db", &node), root_ + "/Music/Absent/manifest.db");
    EXPECT_FALSE(node.exists);
}

TEST_F(HostPathTest, NamesBeyondAsciiMatchAsTheFileSystemFoldsThem) {
    Make(sim::ToUtf8(L"Lieder/\u00C4rger.m4a"));
    EXPECT_EQ(Resolve(L"lieder/\u00E4RGER.M4A"), root_ + sim::ToUtf8(L"/Lieder/\u00C4rger.m4a"));

    // U+0131 (dotless i) upper-cases to I, so a name with it equals a plain
    // ASCII one of as many characters, in either direction.
    if (!sim::EqualsNoCase(L"f\u0131le", L"FILE")) GTEST_SKIP() << "no Unicode case table on this host";
    Make(sim::ToUtf8(L"a/f\u0131le"));
    Make("b/file");
    EXPECT_EQ(Resolve(L"a/FILE"), root_ + sim::ToUtf8(L"/a/f\u0131le"));
    EXPECT_EQ(Resolve(L"b/F\u0131LE"), root_ + "/b/file");
}

TEST_F(HostPathTest, RepeatedLookupsSeeWhatChangedOnTheHost) {
    Make("Backups/Phone/Info.plist");
    sim::HostNode node;
    // A miss, then the file appears in another case at once: found.
    EXPECT_EQ(Resolve(L"backups/phone/manifest.db", &node), root_ + "/Backups/Phone/manifest.db");
    EXPECT_FALSE(node.exists);
    Make("Backups/Phone/MANIFEST.DB", 3);
    EXPECT_EQ(Resolve(L"backups/phone/manifest.db", &node), root_ + "/Backups/Phone/MANIFEST.DB");
    EXPECT_TRUE(node.exists);
    EXPECT_EQ(node.size, 3u);

    // Removed: missing again, in the caller's spelling.
    fs::remove(root_ + "/Backups/Phone/MANIFEST.DB");
    EXPECT_EQ(Resolve(L"backups/phone/manifest.db", &node), root_ + "/Backups/Phone/manifest.db");
    EXPECT_FALSE(node.exists);

    // The folder renamed on the host, and another put where it was.
    fs::rename(root_ + "/Backups/Phone", root_ + "/Backups/PHONE.old");
    Make("Backups/phone/Manifest.db");
    EXPECT_EQ(Resolve(L"backups/PHONE/manifest.DB", &node), root_ + "/Backups/phone/Manifest.db");
    EXPECT_TRUE(node.exists);
    EXPECT_EQ(Resolve(L"backups/phone.OLD/info.PLIST"), root_ + "/Backups/PHONE.old/Info.plist");
}

}  // namespace
