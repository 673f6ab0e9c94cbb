// The folder walker on the simulated machine: which start folders it keeps,
// the order and codes of what the handler hears, exclusion, refusal and
// cancellation, and that links and names of dots never make it walk a
// folder twice.
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "SimMachineFixture.h"
#include "common/ChildPath.h"
#include "common/FolderWalker.h"
#include "common/TextHelpers.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;
using Folders = std::set<std::wstring>;

struct Event {
    std::wstring dir;
    std::wstring name;
    uint32_t code;
    uint32_t folderCount;
    uint32_t attributes = 0;
    bool operator==(const Event& o) const {
        return dir == o.dir && name == o.name && code == o.code && folderCount == o.folderCount;
    }
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << sim::ToUtf8(e.dir) << " | " << sim::ToUtf8(e.name) << " | " << std::hex << e.code << std::dec
               << " | " << e.folderCount;
}

// Records what the handler hears and answers as a test tells it to.
struct Recorder {
    std::vector<Event> events;
    std::set<std::wstring> refused;  // folder names the handler keeps the walk out of
    std::wstring cancelAt;           // a name whose notice sets the cancel flag
    uint32_t cancelAtCode = 0xffffffff;
    std::function<void(const std::wstring&)> onEntry;
    bool cancel = false;

    static bool Handle(void* context, const std::wstring& dir, const platform::FindData* entry, uint32_t code,
                       uint32_t folderCount) {
        auto& self = *static_cast<Recorder*>(context);
        self.events.push_back({dir, entry->name, code, folderCount, entry->attributes});
        if (self.onEntry) self.onEntry(entry->name);
        if ((!self.cancelAt.empty() && entry->name == self.cancelAt) || code == self.cancelAtCode) self.cancel = true;
        return self.refused.count(entry->name) == 0;
    }
    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (const Event& e : events) names.push_back(e.name);
        return names;
    }
    size_t Count(uint32_t code) const {
        size_t n = 0;
        for (const Event& e : events) n += e.code == code;
        return n;
    }
};

class FolderWalkerTest : public SimMachineTest {
protected:
    void Dir(const std::wstring& winPath) { fs::create_directories(Host(winPath)); }
    void Link(const std::wstring& link, const std::wstring& target) {
        fs::create_directory_symlink(Host(target), Host(link));
    }
    void Walk(std::initializer_list<const wchar_t*> starts) {
        for (const wchar_t* start : starts) ASSERT_TRUE(walker->AddStartFolder(start)) << sim::ToUtf8(start);
        walker->SetHandler(&Recorder::Handle, &recorder, &recorder.cancel);
        walker->Run();
    }

    void SetUp() override {
        SimMachineTest::SetUp();
        walker.emplace(Os().Files());  // on this case's machine
    }

    std::optional<CFolderWalker> walker;
    Recorder recorder;
};

TEST_F(FolderWalkerTest, StartFoldersNeverNestAndMissingFoldersAreRefused) {
    Dir(L"C:\\Users\\u\\Music\\iTunes");
    Dir(L"C:\\Users\\u\\Videos");
    Dir(L"C:\\Windows\\System32");
    EXPECT_TRUE(walker->AddStartFolder(L"C:/Users//u\\Music"));
    EXPECT_TRUE(walker->AddStartFolder(L"C:\\Users\\u\\Music\\iTunes"));
    EXPECT_TRUE(walker->AddStartFolder(L"c:\\users\\u\\music\\"));
    EXPECT_EQ(walker->StartFolders(), Folders{L"c:\\users\\u\\music\\"});
    EXPECT_FALSE(walker->AddStartFolder(L"C:\\Users\\u\\Missing"));
    EXPECT_TRUE(walker->AddStartFolders({L"C:\\Users\\u\\Videos", L"C:\\Nowhere"}));
    EXPECT_EQ(walker->StartFolders(), (Folders{L"c:\\users\\u\\music\\", L"c:\\users\\u\\videos\\"}));
    EXPECT_TRUE(walker->AddStartFolder(L"C:\\"));
    EXPECT_EQ(walker->StartFolders(), Folders{L"c:\\"});

    EXPECT_FALSE(walker->AddExcludedFolder(L"C:\\Windows\\Missing"));
    EXPECT_TRUE(walker->AddExcludedFolder(L"C:/WINDOWS/System32"));
    walker->ClearStartFolders();
    EXPECT_TRUE(walker->StartFolders().empty());
    EXPECT_EQ(walker->ExcludedFolders(), Folders{L"c:\\windows\\system32\\"});
}

TEST_F(FolderWalkerTest, DepthFirstWithDepthCodesAndCountersThatKeepCountingAcrossRuns) {
    WriteFile(L"C:\\W\\A\\x.txt", 1);
    WriteFile(L"C:\\W\\A\\sub\\y.txt", 1);
    WriteFile(L"C:\\W\\b.txt", 1);
    Walk({L"C:\\W"});
    const std::vector<Event> expected{
        {L"c:\\w\\", L"A", 0, 1},        {L"c:\\w\\A\\", L"sub", 1, 2}, {L"c:\\w\\A\\sub\\", L"y.txt", 2, 2},
        {L"c:\\w\\A\\", L"x.txt", 1, 2}, {L"c:\\w\\", L"b.txt", 0, 2},  {L"c:\\w\\", L"", kWalkStartFolderDone, 2},
        {L"", L"", kWalkFinished, 2},
    };
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(walker->FileCount(), 3u);
    EXPECT_EQ(walker->FolderCount(), 2u);

    recorder.events.clear();
    walker->Run();
    ASSERT_EQ(recorder.events.size(), expected.size());
    EXPECT_EQ(recorder.events.front().folderCount, 3u);
    EXPECT_EQ(recorder.events.back(), (Event{L"", L"", kWalkFinished, 4}));
    EXPECT_EQ(walker->FileCount(), 6u);
    EXPECT_EQ(walker->FolderCount(), 4u);
}

TEST_F(FolderWalkerTest, ExcludedAndRefusedFoldersAreCountedButNeverEntered) {
    WriteFile(L"C:\\Win\\System32\\kernel32.dll", 1);
    WriteFile(L"C:\\Win\\Fonts\\arial.ttf", 1);
    WriteFile(L"C:\\Win\\Temp\\t.tmp", 1);
    WriteFile(L"C:\\Win\\explorer.exe", 1);
    ASSERT_TRUE(walker->AddExcludedFolder(L"c:/win/SYSTEM32/"));
    recorder.refused = {L"Temp"};
    Walk({L"C:\\Win"});
    const std::vector<std::wstring> names{L"explorer.exe", L"Fonts", L"arial.ttf", L"Temp", L"", L""};
    EXPECT_EQ(recorder.Names(), names);
    EXPECT_EQ(walker->FolderCount(), 3u);
    EXPECT_EQ(walker->FileCount(), 2u);
}

TEST_F(FolderWalkerTest, CancelSetBeforeRunIsTheOnlyNotice) {
    WriteFile(L"C:\\W\\a.txt", 1);
    recorder.cancel = true;
    Walk({L"C:\\W"});
    EXPECT_EQ(recorder.events, (std::vector<Event>{{L"c:\\w\\", L"", kWalkCancelled, 0}}));
    EXPECT_EQ(walker->FileCount(), 0u);
}

TEST_F(FolderWalkerTest, CancelDuringRunUnwindsLevelByLevelAndTheNextStartFolderReportsIt) {
    for (auto f : {L"f1", L"f2", L"f3"}) WriteFile(std::wstring(L"C:\\C\\a\\") + f, 1);
    WriteFile(L"C:\\C\\b\\g.txt", 1);
    WriteFile(L"C:\\D\\h.txt", 1);
    recorder.cancelAt = L"f1";
    Walk({L"C:\\C", L"C:\\D"});
    const std::vector<Event> expected{
        {L"c:\\c\\", L"a", 0, 1},
        {L"c:\\c\\a\\", L"f1", 1, 1},
        {L"c:\\c\\a\\", L"f2", kWalkCancelled, 1},  // the next entry at that level
        {L"c:\\c\\", L"b", kWalkCancelled, 1},      // the level above meets it too
        {L"c:\\c\\", L"", kWalkStartFolderDone, 1},
        {L"c:\\d\\", L"", kWalkCancelled, 1},       // the next start folder is not walked
    };
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(walker->FileCount(), 1u);
}

// A cancel met inside the last start folder, or after its last entry,
// ends that folder's walk; the run then ends as any run does, once.
TEST_F(FolderWalkerTest, ACancelInTheLastStartFolderEndsTheRunWithItsFinish) {
    for (auto f : {L"f1", L"f2"}) WriteFile(std::wstring(L"C:\\W\\a\\") + f, 1);
    recorder.cancelAt = L"f1";
    Walk({L"C:\\W"});
    const std::vector<Event> expected{
        {L"c:\\w\\", L"a", 0, 1},
        {L"c:\\w\\a\\", L"f1", 1, 1},
        {L"c:\\w\\a\\", L"f2", kWalkCancelled, 1},
        {L"c:\\w\\", L"", kWalkStartFolderDone, 1},
        {L"", L"", kWalkFinished, 1},
    };
    EXPECT_EQ(recorder.events, expected);

    recorder = Recorder{};
    recorder.cancelAtCode = kWalkStartFolderDone;
    walker->Run();
    EXPECT_EQ(recorder.Count(kWalkCancelled), 0u);
    EXPECT_EQ(recorder.Count(kWalkFinished), 1u);
    EXPECT_EQ(recorder.events.back().code, kWalkFinished);
}

// Links are reported but entered only where the filter vouches for them;
// a cloud placeholder folder is no link and is walked like any folder.
TEST_F(FolderWalkerTest, LinksAreEnteredOnlyWhenVouchedForAndPlaceholdersAlways) {
    WriteFile(L"C:\\J\\sub\\f.txt", 1);
    WriteFile(L"C:\\Moved\\m.txt", 1);
    WriteFile(L"C:\\J\\cloud\\c.txt", 1);
    MarkCloudFolder(L"C:\\J\\cloud");
    Link(L"C:\\J\\sub\\loop", L"C:\\J");
    Link(L"C:\\J\\up", L"C:\\");
    Link(L"C:\\J\\moved", L"C:\\Moved");
    std::vector<std::wstring> asked;
    walker->SetLinkFilter([&](const std::wstring& link) {
        asked.push_back(link);
        return link == L"C:\\J\\moved\\" || link == L"c:\\j\\moved\\";
    });
    Walk({L"C:\\J"});
    std::set<std::wstring> files;
    for (const Event& e : recorder.events) {
        if (e.code < kWalkStartFolderDone && !(e.attributes & platform::kAttrDirectory)) files.insert(e.dir + e.name);
    }
    EXPECT_EQ(files, (std::set<std::wstring>{L"c:\\j\\sub\\f.txt", L"c:\\j\\moved\\m.txt", L"c:\\j\\cloud\\c.txt"}));
    EXPECT_EQ(asked.size(), 3u);  // each link once, the placeholder never
    EXPECT_EQ(walker->FolderCount(), 5u);

    // Without a filter no link is entered.
    CFolderWalker plain(platform::Os().Files());
    Recorder heard;
    ASSERT_TRUE(plain.AddStartFolder(L"C:\\J"));
    plain.SetHandler(&Recorder::Handle, &heard, &heard.cancel);
    plain.Run();
    EXPECT_EQ(plain.FileCount(), 2u);
}

TEST_F(FolderWalkerTest, NamesOfDotsAreWalkedLiterallyAndNeverReenterTheirParent) {
    WriteFile(L"C:\\D\\top.txt", 1);
    const std::string root = Host(L"C:\\D");
    for (const char* folder : {"/...", "/.../deeper", "/a.", "/b "}) fs::create_directories(root + folder);
    for (const char* file : {"/.../g.txt", "/.../deeper/h.txt", "/a./i.txt", "/b /j.txt", "/k."}) {
        std::ofstream(root + file) << "x";
    }
    Walk({L"C:\\D"});
    EXPECT_EQ(walker->FileCount(), 6u);
    EXPECT_EQ(walker->FolderCount(), 4u);
    std::set<std::wstring> paths;
    for (const Event& e : recorder.events) {
        if (e.code >= kWalkStartFolderDone) continue;
        // The folder handed over, joined with the name as walks join them,
        // reaches the very entry.
        const std::wstring path = ChildPath(platform::Os().Files(), e.dir, e.name);
        const uint32_t attributes = Os().Files().GetAttributes(path);
        ASSERT_NE(attributes, platform::kInvalidFileAttributes) << e;
        EXPECT_EQ(attributes & platform::kAttrDirectory, e.attributes & platform::kAttrDirectory) << e;
        EXPECT_EQ(e.dir.back(), L'\\');
        paths.insert(AsciiLower(path));
    }
    EXPECT_EQ(paths.count(L"\\\\?\\c:\\d\\...\\deeper\\h.txt"), 1u);
    EXPECT_EQ(paths.count(L"\\\\?\\c:\\d\\a.\\i.txt"), 1u);
    EXPECT_EQ(paths.count(L"\\\\?\\c:\\d\\b \\j.txt"), 1u);
    EXPECT_EQ(paths.count(L"\\\\?\\c:\\d\\k."), 1u);
    EXPECT_EQ(paths.size(), 10u);  // nothing heard twice
}

TEST_F(FolderWalkerTest, CountsMatchTheHostEvenWhenAFolderVanishesMidway) {
    // A tree of uneven fan-out and depth, and a folder removed on the host
    // after its parent was listed: it is reported, then skipped.
    for (int i = 0; i < 12; ++i) {
        std::wstring folder = L"C:\\T\\d" + std::to_wstring(i);
        for (int depth = 0; depth < i % 4; ++depth) folder += L"\\n" + std::to_wstring(depth);
        for (int f = 0; f < i * 3; ++f) WriteFile(folder + L"\\f" + std::to_wstring(f), 1);
        Dir(folder + L"\\empty");
    }
    WriteFile(L"C:\\T\\z\\gone\\x.txt", 1);
    size_t hostFiles = 0, hostFolders = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Host(L"C:\\T"))) {
        (entry.is_directory() ? hostFolders : hostFiles) += 1;
    }
    recorder.onEntry = [&](const std::wstring& name) {
        if (name == L"gone") fs::remove_all(Host(L"C:\\T\\z\\gone"));
    };
    Walk({L"C:\\T"});
    EXPECT_EQ(walker->FileCount(), hostFiles - 1);
    EXPECT_EQ(walker->FolderCount(), hostFolders);
    EXPECT_EQ(recorder.Count(kWalkFinished), 1u);
}

}  // namespace

// Reading ahead changes no event of the walk, and while the handler hears
// of a folder the walker can say what that folder holds, but only when it
// read the whole folder and no same-length name could fold differently.
TEST_F(FolderWalkerTest, ReadAheadKeepsTheWalkAndAnswersOnlyWhatItSawWhole) {
    WriteFile(L"C:\\R\\Backup\\MANIFEST.DB", 1);
    WriteFile(L"C:\\R\\Backup\\Info.plist", 1);
    WriteFile(L"C:\\R\\Backup\\00\\hashed", 1);
    for (int i = 0; i < 5; ++i) WriteFile(L"C:\\R\\Big\\f" + std::to_wstring(i), 1);
    WriteFile(L"C:\\R\\Big\\manifest.db", 1);
    WriteFile(L"C:\\R\\Dotless\\man\u0131fest.db", 1);
    WriteFile(L"C:\\R\\Album\\Bj\u00f6rk - J\u00f3ga.m4a", 1);
    WriteFile(L"C:\\R\\Album\\manifest.dbx", 1);
    WriteFile(L"C:\\Elsewhere\\manifest.db", 1);
    Link(L"C:\\R\\Linked", L"C:\\Elsewhere");
    Walk({L"C:\\R"});
    const std::vector<Event> plain = recorder.events;

    CFolderWalker ahead(platform::Os().Files());
    Recorder heard;
    std::map<std::wstring, CFolderWalker::Presence> answers;
    heard.onEntry = [&](const std::wstring& name) { answers[name] = ahead.AheadHas(L"manifest.db"); };
    ASSERT_TRUE(ahead.AddStartFolder(L"C:\\R"));
    ahead.SetReadAhead(6);  // "." and ".." count too
    ahead.SetHandler(&Recorder::Handle, &heard, &heard.cancel);
    ahead.Run();
    EXPECT_EQ(heard.events, plain);
    EXPECT_EQ(ahead.FileCount(), walker->FileCount());

    using P = CFolderWalker::Presence;
    EXPECT_EQ(answers[L"Backup"], P::Present);   // any case
    EXPECT_EQ(answers[L"Big"], P::Unknown);      // more than six entries
    EXPECT_EQ(answers[L"Dotless"], P::Unknown);  // U+0131 upper-cases to I
    EXPECT_EQ(answers[L"Album"], P::Absent);     // other lengths cannot match
    EXPECT_EQ(answers[L"Linked"], P::Unknown);   // a link is never read ahead
    EXPECT_EQ(answers[L"00"], P::Absent);
    EXPECT_EQ(answers[L"hashed"], P::Unknown);   // a file: nothing read ahead for it
    EXPECT_EQ(ahead.AheadHas(L"manifest.db"), P::Unknown);
}
