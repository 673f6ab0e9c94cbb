// The library-file update after a user-data deletion: which entries go,
// which stay, and that the file is left alone whenever there is nothing to
// write or the companion cannot be used. Library files are made and read
// back through the machine's ITunesLibrary.dll stand-in, which runs the
// companion's own format code.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ItunesLibraryMgr.h"
#include "FixturePackages.h"
#include "platform/sim/processes/SimItunesLibrary.h"
#include "platform/sim/Utf8.h"

namespace {

using LibraryObject = std::unique_ptr<ITL::IITunesLibrary>;

bool CollectLocation(ITL::eEnumAndDeleteItunesState state, std::string text, void*, void* context) {
    if (state == ITL::eEnumItunesMedia) static_cast<std::vector<std::string>*>(context)->push_back(text);
    return true;
}

class ItunesLibraryMgrTest : public LoggedMachineTest {
protected:
    void SetUp() override {
        LoggedMachineTest::SetUp();
        // A Chinese Windows, whose OEM code page writes the log's Chinese text.
        machine_->Edit([](sim::MachineState& state) { state.codePages.oem = 936; });
    }

    std::wstring ItlPath() { return CCollectDirMgr::Instance().GetMyMusicDir() + L"\\itunes\\iTunes Library.itl"; }

    LibraryObject NewObject() {
        auto library = Os().Libraries().Load(sim::kItunesLibraryCompanionName);
        if (!library) return nullptr;
        auto create = reinterpret_cast<CItunesLibraryCompanion::CreateFn>(
            library.Value()->Export(sim::kItunesLibraryCreateExport));
        return LibraryObject(create());
    }

    // A library file listing these locations, written as the companion writes it.
    void MakeLibrary(const std::vector<std::wstring>& locations) {
        Os().Files().CreateDirectory(CCollectDirMgr::Instance().GetMyMusicDir() + L"\\itunes");
        LibraryObject library = NewObject();
        ASSERT_TRUE(library);
        for (const std::wstring& location : locations) {
            ASSERT_EQ(library->Append(location, ITL::ITL_SE_MEDIA_MUSIC, L"track"), ITL::ITL_SE_OK);
        }
        ASSERT_EQ(library->Write(ItlPath()), ITL::ITL_SE_OK);
    }

    // The locations the library file lists now, in file order.
    std::vector<std::string> Locations() {
        LibraryObject library = NewObject();
        std::vector<std::string> found;
        EXPECT_TRUE(library);
        if (!library) return found;
        EXPECT_EQ(library->Read(ItlPath()), ITL::ITL_SE_OK);
        library->EnumMediaBlock(&CollectLocation, &found);
        return found;
    }

    void Companion(bool present, bool readFails, bool writeFails) {
        sim::ItunesLibraryCompanion behaviour;
        behaviour.present = present;
        behaviour.readFails = readFails;
        behaviour.writeFails = writeFails;
        sim::SetItunesLibraryCompanion(*machine_, behaviour);
    }

    bool Update(const std::set<std::wstring>& removedFolders = {}) {
        return CItunesLibraryMgr::Instance().UpdateItunesLibrary(removedFolders);
    }
    // Every file, folder and link below the machine's folder, with the
    // files' content; the library file's folder, the log and the machine's
    // own bookkeeping left out.
    std::map<std::string, std::string> Snapshot() {
        namespace fs = std::filesystem;
        const std::vector<std::string> skipped = {fs::path(Host(ItlPath())).parent_path().string(),
                                                  Host(L"C:\\Tarnwick\\Log"), folder_ + "/machine"};
        std::map<std::string, std::string> found;
        for (auto it = fs::recursive_directory_iterator(folder_); it != fs::recursive_directory_iterator(); ++it) {
            const std::string path = it->path().string();
            bool skip = false;
            for (const std::string& prefix : skipped) skip = skip || path.rfind(prefix, 0) == 0;
            if (skip) continue;
            if (it->is_symlink()) {
                found[path] = "-> " + fs::read_symlink(it->path()).string();
            } else if (it->is_regular_file()) {
                std::ifstream in(path, std::ios::binary);
                found[path] = std::string(std::istreambuf_iterator<char>(in), {});
            } else {
                found[path] = "folder";
            }
        }
        return found;
    }
    // Names in the library file's folder.
    std::set<std::string> LibraryFolder() {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(Host(ItlPath())).parent_path()))
            names.insert(entry.path().filename().string());
        return names;
    }
    // How often the log holds `text` (UTF-8) as the machine's code page writes it.
    size_t Logged(const std::string& text) {
        return CountOf(LoadTimeLog(), Os().CodePages().FromWide(platform::kCpOemCp, sim::FromUtf8(text)));
    }
    bool HasBackup() { return Os().Files().Exists(ItlPath() + L".bak"); }

    static constexpr const char* kNoUpdate = "WARN:没有本地媒体被删除,不需要更新ITL文件!\n";
    static constexpr const char* kWritten = "已更新ITL文件成功!\n";
};

TEST_F(ItunesLibraryMgrTest, ALibraryWhoseFilesAllExistIsNotWritten) {
    WriteFile(L"C:\\Music\\a.mp3", 10);
    WriteFile(L"C:\\Music\\b.mp3", 10);
    MakeLibrary({L"file://localhost/C:/Music/a.mp3", L"file://localhost/C:/Music/b.mp3"});
    const std::string before = ReadHostFile(ItlPath());

    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged("FIND [C:/Music/a.mp3] total = 0\n"), 1u);
    EXPECT_EQ(Logged("FIND [C:/Music/b.mp3] total = 1\n"), 1u);
    EXPECT_EQ(Logged("即将删除媒体信息"), 0u);
    EXPECT_EQ(Logged(kNoUpdate), 1u);
    EXPECT_EQ(Logged("已更新ITL文件"), 0u);
    EXPECT_EQ(ReadHostFile(ItlPath()), before);
    EXPECT_FALSE(HasBackup());
}

TEST_F(ItunesLibraryMgrTest, OnlyLocalEntriesWhoseFileIsGoneAreRemoved) {
    WriteFile(L"C:\\Music\\a b.mp3", 10);
    WriteFile(L"C:\\Music\\kept.mp3", 10);
    MakeLibrary({L"file://localhost/C:/Music/a%20b.mp3", L"http://example.com/C:/Music/gone.mp3",
                 L"FILE://localhost/C:/Music/gone.mp3", L"file://localhost/", L"file://localhost/C:/Music/kept.mp3"});
    EXPECT_FALSE(Update());

    ASSERT_EQ(Os().Files().DeleteFile(L"C:\\Music\\a b.mp3"), 0u);
    EXPECT_TRUE(Update());
    EXPECT_EQ(Logged("解析ITL:" + sim::ToUtf8(ItlPath()) + "...\n"), 2u);
    EXPECT_EQ(Logged("枚举ITL所有媒体文件:"), 2u);
    EXPECT_EQ(Logged("枚举ITL结束!\n"), 2u);
    // Only the two local entries are recorded, counted as they come.
    EXPECT_EQ(Logged("FIND [C:/Music/a b.mp3] total = 0\n"), 2u);
    EXPECT_EQ(Logged("FIND [C:/Music/kept.mp3] total = 1\n"), 2u);
    EXPECT_EQ(Logged("FIND ["), 4u);
    EXPECT_EQ(Logged("即将删除媒体信息:C:/Music/a b.mp3...\n"), 1u);
    EXPECT_EQ(Logged("即将删除媒体信息"), 1u);
    EXPECT_EQ(Logged(kWritten), 1u);
    EXPECT_EQ(Locations(), (std::vector<std::string>{"http://example.com/C:/Music/gone.mp3",
                                                     "FILE://localhost/C:/Music/gone.mp3", "file://localhost/",
                                                     "file://localhost/C:/Music/kept.mp3"}));

    // The next update reads the written file: nothing is left to remove.
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged(kWritten), 1u);
}

TEST_F(ItunesLibraryMgrTest, EntriesNamingSystemPlacesOnlyEverLeaveTheLibrary) {
    WriteFile(L"C:\\Music\\kept.mp3", 10);
    WriteFile(L"C:\\Windows\\win.ini", 10);
    // A junction out of the music folder, with a file behind it.
    const std::string elsewhere = folder_ + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::ofstream(elsewhere + "/song.mp3") << "song";
    std::filesystem::create_directory_symlink(elsewhere, Host(L"C:\\Music\\Link"));
    MakeLibrary({L"file://localhost/C:/", L"file://localhost/C:/Windows",
                 L"file://localhost/C:/Music/../Windows/win.ini", L"file://localhost/C:/Music/../Music/kept.mp3",
                 L"file://localhost/C:/Windows/../Nowhere/x.mp3", L"file://localhost/C:/Music/Link/song.mp3",
                 L"file://localhost/C:/Music/Link", L"file://localhost/C:/Music/Link/../../../../x.mp3",
                 L"file://localhost/C:/Music/...", L"file://localhost/C:/Music/../..", L"file://localhost/..",
                 L"file://localhost/Music/relative.mp3"});
    const auto before = Snapshot();

    // The same with every folder named as removed by the deletion.
    EXPECT_TRUE(Update({L"C:\\", L"C:\\Windows", L"C:\\Music", L"C:\\Music\\Link", L"..", L"C:\\Music\\.."}));
    EXPECT_EQ(Logged("即将删除媒体信息:C:/Windows/../Nowhere/x.mp3...\n"), 1u);
    EXPECT_EQ(Logged("即将删除媒体信息:C:/Music/Link/../../../../x.mp3...\n"), 1u);
    // A name of dots is the folder itself to Win32, which exists.
    EXPECT_EQ(Logged("即将删除媒体信息"), 2u);
    EXPECT_EQ(Locations().size(), 10u);
    // The update never deletes a file, whatever the entries name.
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(ItunesLibraryMgrTest, AMissingOrUnreadableLibraryIsLeftAlone) {
    // No file: nothing is created.
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged("WARN:itl文件不存在![" + sim::ToUtf8(ItlPath()) + "]\n"), 1u);
    EXPECT_EQ(Logged(kNoUpdate), 1u);
    EXPECT_FALSE(Os().Files().Exists(ItlPath()));

    // The player's binary format is the companion's to refuse.
    Os().Files().CreateDirectory(CCollectDirMgr::Instance().GetMyMusicDir() + L"\\itunes");
    const std::string binary = std::string("hdfm\0\0\0\x9c", 8) + std::string(200, '\x5a');
    {
        std::ofstream out(Host(ItlPath()), std::ios::binary);
        out << binary;
    }
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged("解析ITL失败!\n"), 1u);
    EXPECT_EQ(Logged(kNoUpdate), 2u);
    EXPECT_EQ(ReadHostFile(ItlPath()), binary);
    EXPECT_FALSE(HasBackup());
}

TEST_F(ItunesLibraryMgrTest, CompanionFailuresLeaveTheFileAsItWas) {
    MakeLibrary({L"file://localhost/C:/Music/gone.mp3"});
    const std::string before = ReadHostFile(ItlPath());

    Companion(true, true, false);
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged("解析ITL失败!\n"), 1u);
    EXPECT_EQ(Logged(kNoUpdate), 1u);

    // The entry is gone from the object, so the update counts as done even
    // though the file could not be written.
    Companion(true, false, true);
    EXPECT_TRUE(Update());
    EXPECT_EQ(Logged("即将删除媒体信息:C:/Music/gone.mp3...\n"), 1u);
    EXPECT_EQ(Logged("已更新ITL文件失败!\n"), 1u);
    EXPECT_EQ(Logged(kWritten), 0u);
    EXPECT_EQ(ReadHostFile(ItlPath()), before);
    EXPECT_FALSE(HasBackup());
}

TEST_F(ItunesLibraryMgrTest, WithoutTheCompanionNothingIsUpdatedUntilItIsThere) {
    MakeLibrary({L"file://localhost/C:/Music/gone.mp3"});
    const std::string before = ReadHostFile(ItlPath());

    Companion(false, false, false);
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged("WARN:load ITunesLibrary.dll fail 0x7e\n"), 1u);
    EXPECT_EQ(Logged(kNoUpdate), 1u);
    EXPECT_EQ(ReadHostFile(ItlPath()), before);

    // Bound on first use, so a companion put in place later is found.
    Companion(true, false, false);
    EXPECT_TRUE(Update());
    EXPECT_EQ(Logged(kWritten), 1u);
    EXPECT_TRUE(Locations().empty());
}

TEST_F(ItunesLibraryMgrTest, TracksOutOfReachStayAndOnlyGoneOnesLeave) {
    machine_->Edit([](sim::MachineState& state) {
        state.drives.push_back({L'E', platform::DriveType::Removable, 1ull << 30, 1ull << 29});
        state.drives.push_back({L'F', platform::DriveType::Fixed, 1ull << 30, 1ull << 29});
        state.drives.push_back({L'G', platform::DriveType::Remote, 1ull << 30, 1ull << 29});
    });
    machine_->CreateDriveFolders();
    // F: is a fixed drive whose root cannot be reached (locked, say).
    std::filesystem::remove_all(machine_->DriveFolder(L'F'));
    WriteFile(L"C:\\Music\\kept.mp3", 10);
    WriteFile(L"E:\\Removed\\.keep", 1);
    MakeLibrary({L"file://localhost/C:/Music/gone.mp3", L"file://localhost/c:/Music/kept.mp3",
                 L"file://localhost/D:/Movies/absent.m4v", L"file://localhost/E:/Movies/usb.m4v",
                 L"file://localhost/F:/Movies/locked.m4v", L"file://localhost/G:/Movies/net.m4v",
                 L"file://localhost//nas/media/Movies/share.m4v", L"file://localhost/E:/Removed/film.m4v",
                 L"file://localhost/D:/Removed/film.m4v", L"file://localhost/E:/Other/film.m4v"});

    EXPECT_TRUE(Update({L"e:\\removed", L"D:\\Removed", L"\\\\nas\\media\\Movies"}));
    EXPECT_EQ(Locations(), (std::vector<std::string>{
                               "file://localhost/c:/Music/kept.mp3", "file://localhost/D:/Movies/absent.m4v",
                               "file://localhost/E:/Movies/usb.m4v", "file://localhost/F:/Movies/locked.m4v",
                               "file://localhost/G:/Movies/net.m4v", "file://localhost//nas/media/Movies/share.m4v",
                               "file://localhost/D:/Removed/film.m4v", "file://localhost/E:/Other/film.m4v"}));
    EXPECT_EQ(Logged("即将删除媒体信息"), 2u);

    // Nothing left that is gone: no second write.
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged(kWritten), 1u);
}

TEST_F(ItunesLibraryMgrTest, EveryUpdateKeepsTheBackupsOfTheOnesBefore) {
    WriteFile(L"C:\\Music\\a.mp3", 10);
    WriteFile(L"C:\\Music\\b.mp3", 10);
    MakeLibrary({L"file://localhost/C:/Music/a.mp3", L"file://localhost/C:/Music/b.mp3"});
    const std::string original = ReadHostFile(ItlPath());

    ASSERT_EQ(Os().Files().DeleteFile(L"C:\\Music\\a.mp3"), 0u);
    EXPECT_TRUE(Update());
    const std::string afterFirst = ReadHostFile(ItlPath());
    ASSERT_EQ(Os().Files().DeleteFile(L"C:\\Music\\b.mp3"), 0u);
    EXPECT_TRUE(Update());

    EXPECT_EQ(ReadHostFile(ItlPath() + L".bak"), original);
    EXPECT_EQ(ReadHostFile(ItlPath() + L".1.bak"), afterFirst);
    EXPECT_TRUE(Locations().empty());
    EXPECT_EQ(LibraryFolder(), (std::set<std::string>{"iTunes Library.itl", "iTunes Library.itl.bak",
                                                      "iTunes Library.itl.1.bak"}));
}

TEST_F(ItunesLibraryMgrTest, ReadOnlyOrHeldLibraryIsLeftByteForByte) {
    MakeLibrary({L"file://localhost/C:/Music/gone.mp3"});
    const std::string before = ReadHostFile(ItlPath());

    ASSERT_EQ(Os().Files().SetAttributes(ItlPath(), platform::kAttrReadOnly | platform::kAttrArchive), 0u);
    EXPECT_TRUE(Update());
    EXPECT_EQ(Logged("WARN:itl file [" + sim::ToUtf8(ItlPath()) + "] is read-only, left as it is\n"), 1u);
    EXPECT_EQ(Logged("已更新ITL文件失败!\n"), 1u);
    EXPECT_EQ(ReadHostFile(ItlPath()), before);
    EXPECT_EQ(LibraryFolder(), std::set<std::string>{"iTunes Library.itl"});

    ASSERT_EQ(Os().Files().SetAttributes(ItlPath(), platform::kAttrArchive), 0u);
    machine_->HoldFile(ItlPath());
    EXPECT_TRUE(Update());
    EXPECT_EQ(Logged("WARN:itl file [" + sim::ToUtf8(ItlPath()) + "] is held by another process, left as it is\n"),
              1u);
    EXPECT_EQ(ReadHostFile(ItlPath()), before);
    EXPECT_EQ(LibraryFolder(), std::set<std::string>{"iTunes Library.itl"});

    // Once the player lets go, the update goes through.
    machine_->ReleaseFile(ItlPath());
    EXPECT_TRUE(Update());
    EXPECT_EQ(Logged(kWritten), 1u);
    EXPECT_TRUE(Locations().empty());
}

TEST_F(ItunesLibraryMgrTest, DeeplyNestedLibraryIsRefusedAndLeftAsItIs) {
    Os().Files().CreateDirectory(CCollectDirMgr::Instance().GetMyMusicDir() + L"\\itunes");
    std::string deep = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Tracks</key>";
    for (int i = 0; i < 100000; ++i) deep += "<dict><key>a</key>";
    for (int i = 0; i < 100000; ++i) deep += "</dict>";
    deep += "</dict></plist>\n";
    {
        std::ofstream out(Host(ItlPath()), std::ios::binary);
        out << deep;
    }
    EXPECT_FALSE(Update());
    EXPECT_EQ(Logged("ERR:itl file [" + sim::ToUtf8(ItlPath()) + "] is nested too deeply to be read, left as it is\n"),
              1u);
    EXPECT_EQ(Logged("解析ITL失败!\n"), 1u);
    EXPECT_EQ(Logged(kNoUpdate), 1u);
    EXPECT_EQ(ReadHostFile(ItlPath()), deep);
    EXPECT_EQ(LibraryFolder(), std::set<std::string>{"iTunes Library.itl"});
}

}  // namespace
