// Host entries no Windows file system could hold, put straight into the
// drive folders of a simulated machine: names with a backslash, a colon or
// another character Windows forbids, names that are no UTF-8, FIFOs. The
// machine must leave them out of listings and lookups, so that a walk that
// joins a listed name onto its folder stays inside it, and must never block
// on a FIFO.
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "SimMachineFixture.h"
#include "common/FileHelpers.h"
#include "common/FolderWalker.h"
#include "base/UniqueFd.h"
#include "platform/sim/Utf8.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::wstring> SearchNames(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    FindData entry;
    auto search = Os().Files().FindFirst(pattern, entry);
    if (!search) return names;
    do {
        names.push_back(entry.name);
    } while ((*search)->Next(entry));
    return names;
}

bool CountEntry(void* context, const std::wstring&, const FindData*, uint32_t, uint32_t) {
    ++*static_cast<size_t*>(context);
    return true;
}

class HostNamesTest : public SimMachineTest {
protected:
    void SetUp() override {
        SimMachineTest::SetUp();
        WriteFile(L"C:\\Windows\\win.ini", 3);
        WriteFile(L"C:\\Users\\Tarn\\Documents\\keep.txt", 4);
        WriteFile(L"C:\\Users\\Tarn\\AppData\\Roaming\\Vendor\\beside.txt", 5);
        WriteFile(kLogs + std::wstring(L"\\plain.log"), 6);
        logs_ = Host(kLogs);
    }

    // Everything outside the Logs folder that a walk climbing out would meet first.
    void ExpectOutsideUntouched() {
        for (const wchar_t* path : {L"C:\\Windows\\win.ini", L"C:\\Users\\Tarn\\Documents\\keep.txt",
                                    L"C:\\Users\\Tarn\\AppData\\Roaming\\Vendor\\beside.txt"}) {
            EXPECT_TRUE(fs::exists(Host(path))) << sim::ToUtf8(path);
        }
    }

    // A host file in the Logs folder, named as given.
    void HostFile(const std::string& name) { std::ofstream(logs_ + "/" + name) << "x"; }

    static constexpr const wchar_t* kLogs = L"C:\\Users\\Tarn\\AppData\\Roaming\\Vendor\\Logs";
    std::string logs_;
};

TEST_F(HostNamesTest, ListingsAndLookupsLeaveOutNamesWindowsCannotHave) {
    // From Logs, four folders up is the profile: each name is a path that
    // leaves the folder once joined onto it.
    HostFile("..\\..\\..\\..\\Documents\\keep.txt");
    HostFile("..\\..\\..\\..\\..\\..\\Windows\\win.ini");
    fs::create_directories(logs_ + "/..\\..");
    std::ofstream(logs_ + "/..\\../inside.txt") << "x";
    for (const char* name : {"stream:x", "a<b", "a>b", "q\"", "a|b", "what?", "star*", "tab\tname", "bad\xff.log"}) {
        HostFile(name);
    }
    ASSERT_EQ(::mkfifo((logs_ + "/pipe").c_str(), 0644), 0);
    // Names NTFS does hold, reached literally, stay.
    fs::create_directories(logs_ + "/...");
    HostFile("trailing.");

    EXPECT_EQ(SearchNames(kLogs + std::wstring(L"\\*")),
              (std::vector<std::wstring>{L".", L"..", L"...", L"plain.log", L"trailing."}));
    // Nor can any path reach them, in any spelling.
    IFileSystem& files = Os().Files();
    for (const wchar_t* name : {L"stream:x", L"STREAM:X", L"a<b", L"what?", L"tab\tname", L"pipe", L"PIPE"}) {
        const std::wstring path = kLogs + std::wstring(L"\\") + name;
        EXPECT_FALSE(files.Exists(path)) << sim::ToUtf8(name);
        EXPECT_NE(files.DeleteFile(path), uint32_t{kErrSuccess}) << sim::ToUtf8(name);
    }
    EXPECT_EQ(files.GetAttributes(kLogs + std::wstring(L"\\a|b")), kInvalidFileAttributes);
    EXPECT_EQ(Os().Process().LastError(), uint32_t{kErrInvalidName});
    EXPECT_FALSE(files.Open(kLogs + std::wstring(L"\\stream:x"), OpenMode::Truncate));
    EXPECT_EQ(sim::FromUtf8(std::string("bad\xff.log")), L"bad\uFFFD.log");
    EXPECT_FALSE(files.Exists(kLogs + std::wstring(L"\\bad\uFFFD.log")));
    EXPECT_TRUE(fs::exists(logs_ + "/stream:x"));
}

TEST_F(HostNamesTest, WalksAndDeletionsStayInTheirFolderAndEndQuickly) {
    HostFile("..\\..\\..\\..\\Documents\\keep.txt");
    HostFile("..\\..\\..\\..\\..\\..\\Windows\\win.ini");
    HostFile("..\\beside.txt");
    // A folder named as the way up, with a file and its own way up inside.
    fs::create_directories(logs_ + "/..\\../..\\..");
    std::ofstream(logs_ + "/..\\../inside.txt") << "x";
    ASSERT_EQ(::mkfifo((logs_ + "/pipe").c_str(), 0644), 0);
    fs::create_directories(logs_ + "/...");
    std::ofstream(logs_ + "/.../dots.txt") << "x";

    const auto started = Clock::now();
    std::vector<std::wstring> listed;
    ASSERT_TRUE(ListFilesRecursive(platform::Os().Files(), kLogs, listed));
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"\\\\?\\" + std::wstring(kLogs) + L"\\...\\dots.txt",
                                                 kLogs + std::wstring(L"\\plain.log")}));

    size_t heard = 0;
    CFolderWalker walker(platform::Os().Files());
    ASSERT_TRUE(walker.AddStartFolder(L"C:\\Users\\Tarn\\AppData\\Roaming\\Vendor"));
    walker.SetHandler(&CountEntry, &heard, nullptr);
    walker.Run();
    // beside.txt, Logs, plain.log, ..., dots.txt: no entry outside Vendor.
    EXPECT_EQ(walker.FileCount(), 3u);
    EXPECT_EQ(walker.FolderCount(), 2u);

    // The hostile entries keep the folder from going; all else in it goes.
    EXPECT_FALSE(DeleteDir(platform::Os(), kLogs));
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
    ExpectOutsideUntouched();
    EXPECT_FALSE(fs::exists(logs_ + "/plain.log"));
    EXPECT_FALSE(fs::exists(logs_ + "/..."));
    EXPECT_TRUE(fs::exists(logs_ + "/..\\../inside.txt"));
    EXPECT_TRUE(fs::exists(logs_ + "/pipe"));
}

TEST_F(HostNamesTest, NoOpenWaitsForAFifoEvenThroughALink) {
    const std::string fifo = logs_ + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // A file symlink is listed like a file; what it leads to is no file.
    fs::create_symlink(fifo, logs_ + "/pipe.log");
    EXPECT_EQ(SearchNames(kLogs + std::wstring(L"\\pipe*")), std::vector<std::wstring>{L"pipe.log"});

    auto opened = std::async(std::launch::async, [&] {
        std::vector<uint32_t> codes;
        IFileSystem& files = Os().Files();
        for (const wchar_t* name : {L"\\pipe", L"\\pipe.log"}) {
            const std::wstring path = kLogs + std::wstring(name);
            for (OpenMode mode : {OpenMode::Read, OpenMode::Append, OpenMode::Truncate}) {
                auto file = files.Open(path, mode);
                codes.push_back(file ? 0u : file.Error());
            }
            codes.push_back(files.CopyFile(path, L"C:\\Users\\Tarn\\copy.log", false));
        }
        return codes;
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Give each blocked open a writer that leaves at once, so that it
        // and any read after it end, and so does the test.
        while (opened.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            base::UniqueFd writer(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        }
        FAIL() << "an open waited on the FIFO";
    }
    for (uint32_t code : opened.get()) EXPECT_NE(code, 0u);
    EXPECT_FALSE(fs::exists(Host(L"C:\\Users\\Tarn\\copy.log")));
}

}  // namespace
