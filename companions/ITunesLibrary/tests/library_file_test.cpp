// The library file through the companion's own interface: what is read,
// enumerated, removed and written, and what is refused.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "FileStore.h"
#include "ITunesLibrary.h"
#include "LibraryDocument.h"
#include "XmlNesting.h"
#include "tests/gen/NestedPlists.h"

namespace fs = std::filesystem;

namespace {

const std::string kLocal = "file://localhost/C:/Music/a%20b.mp3";
const std::string kNonAscii = "file://localhost/C:/Musik/%C3%84rger%20&%20%CE%A9/Stra\xC3\x9F" "e \xC3\x84 \xCE\xA9 \xE2\x99\xAB.m4a";
const std::string kRemote = "http://radio.example.com/live%20stream.mp3";
const std::string kVideo = "file://localhost/D:/Video/film.m4v";

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Seen {
    std::vector<int> states;
    std::vector<std::string> texts;
    std::vector<void*> handles;
    ITL::IITunesLibrary* removeEach = nullptr;  // removes every entry as it is reported
    size_t stopAfter = SIZE_MAX;                // media entries before returning false
};

bool Record(ITL::eEnumAndDeleteItunesState state, std::string text, void* block, void* context) {
    Seen& seen = *static_cast<Seen*>(context);
    seen.states.push_back(state);
    seen.texts.push_back(text);
    seen.handles.push_back(block);
    if (state == ITL::eEnumItunesMedia && seen.removeEach) seen.removeEach->RemoveMediaBlock(block);
    return static_cast<size_t>(std::count(seen.states.begin(), seen.states.end(), 1)) < seen.stopAfter;
}

Seen Enumerate(ITL::IITunesLibrary& library) {
    Seen seen;
    library.EnumMediaBlock(Record, &seen);
    return seen;
}

// Media entries only.
std::vector<std::string> Locations(const Seen& seen) {
    std::vector<std::string> result;
    for (size_t i = 0; i < seen.states.size(); ++i)
        if (seen.states[i] == 1) result.push_back(seen.texts[i]);
    return result;
}

void* HandleOf(const Seen& seen, const std::string& location) {
    for (size_t i = 0; i < seen.states.size(); ++i)
        if (seen.states[i] == 1 && seen.texts[i] == location) return seen.handles[i];
    return nullptr;
}

itl::LibraryDocument Reparse(const fs::path& path) {
    itl::LibraryDocument document;
    EXPECT_EQ(itl::LibraryDocument::Parse(Slurp(path), document), itl::ParseResult::Ok) << path;
    return document;
}

// Every name in the folder, so a stray temporary shows.
std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class LibraryFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "itl-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        sample_ = dir_ / "iTunes Library.itl";
        const std::string command =
            std::string(ITL_PYTHON) + " " + ITL_SAMPLE_GENERATOR + " '" + sample_.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        original_ = Slurp(sample_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }

    fs::path dir_;
    fs::path sample_;
    std::string original_;
};

TEST_F(LibraryFile, EnumeratesLocatedTracksAsStoredBetweenBeginAndEnd) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    const Seen seen = Enumerate(library);
    ASSERT_GE(seen.states.size(), 2u);
    EXPECT_EQ(seen.states.front(), 0);
    EXPECT_EQ(seen.texts.front(), sample_.string());
    EXPECT_EQ(seen.states.back(), 2);
    // Track 4 has no location; the remote entry is reported unchanged.
    EXPECT_EQ(Locations(seen), (std::vector<std::string>{kLocal, kNonAscii, kRemote, kVideo}));
    std::vector<void*> handles;
    for (const std::string& location : Locations(seen)) handles.push_back(HandleOf(seen, location));
    EXPECT_EQ(std::set<void*>(handles.begin(), handles.end()).size(), 4u);
    EXPECT_EQ(std::count(handles.begin(), handles.end(), nullptr), 0);
    // Handles are stable while nothing is removed.
    EXPECT_EQ(Enumerate(library).handles, seen.handles);
}

TEST_F(LibraryFile, RemovedTrackLeavesEveryPlaylistAndTheRestSurvivesTheRoundTrip) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    Seen seen = Enumerate(library);
    void* local = HandleOf(seen, kLocal);
    ASSERT_TRUE(library.RemoveMediaBlock(local));
    EXPECT_FALSE(library.RemoveMediaBlock(local));
    EXPECT_EQ(Locations(Enumerate(library)), (std::vector<std::string>{kNonAscii, kRemote, kVideo}));
    // Handles of the others are unchanged by the removal.
    EXPECT_EQ(HandleOf(Enumerate(library), kVideo), HandleOf(seen, kVideo));

    ASSERT_EQ(library.Write(sample_.wstring()), ITL::ITL_SE_OK);
    EXPECT_EQ(Slurp(dir_ / "iTunes Library.itl.bak"), original_);
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"iTunes Library.itl", "iTunes Library.itl.bak"}));

    const itl::LibraryDocument written = Reparse(sample_);
    EXPECT_EQ(written.TrackIds(), (std::vector<uint64_t>{2, 3, 4, 5}));
    EXPECT_EQ(written.PlaylistItems(), (std::vector<std::vector<uint64_t>>{{2, 3, 4, 5}, {2}, {}}));
    const std::string text = Slurp(sample_);
    for (const char* kept : {"<string>12.10.11.2</string>", "<key>Persistent ID</key>", "<key>Master</key>",
                             "<date>2020-01-02T03:04:05Z</date>", "%C3%84rger%20&amp;%20%CE%A9"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;

    ITL::IITunesLibrary again;
    ASSERT_EQ(again.Read(sample_.wstring()), ITL::ITL_SE_OK);
    EXPECT_EQ(Locations(Enumerate(again)), (std::vector<std::string>{kNonAscii, kRemote, kVideo}));

    // A second write keeps the first backup and numbers its own; a name the
    // user took meanwhile is passed over.
    const std::string firstWrite = Slurp(sample_);
    Put(dir_ / "iTunes Library.itl.1.bak", "mine");
    ASSERT_TRUE(again.RemoveMediaBlock(HandleOf(Enumerate(again), kVideo)));
    ASSERT_EQ(again.Write(sample_.wstring()), ITL::ITL_SE_OK);
    EXPECT_EQ(Slurp(dir_ / "iTunes Library.itl.bak"), original_);
    EXPECT_EQ(Slurp(dir_ / "iTunes Library.itl.1.bak"), "mine");
    EXPECT_EQ(Slurp(dir_ / "iTunes Library.itl.2.bak"), firstWrite);
    EXPECT_EQ(Reparse(sample_).PlaylistItems(), (std::vector<std::vector<uint64_t>>{{2, 3, 4}, {2}, {}}));
    EXPECT_EQ(Names(dir_).size(), 4u);
}

TEST_F(LibraryFile, HandlesOfAnotherReadOrObjectAreUnknown) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    void* before = HandleOf(Enumerate(library), kLocal);
    ITL::IITunesLibrary other;
    ASSERT_EQ(other.Read(sample_.wstring()), ITL::ITL_SE_OK);
    EXPECT_FALSE(other.RemoveMediaBlock(before));
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    EXPECT_FALSE(library.RemoveMediaBlock(before));
    EXPECT_FALSE(library.RemoveMediaBlock(nullptr));
    EXPECT_EQ(Locations(Enumerate(library)).size(), 4u);
}

TEST_F(LibraryFile, EnumerationStopsOnFalseAndToleratesRemovalFromTheCallback) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    Seen stopped;
    stopped.stopAfter = 1;
    EXPECT_FALSE(library.EnumMediaBlock(Record, &stopped));
    EXPECT_EQ(stopped.states, (std::vector<int>{0, 1, 2}));

    Seen removing;
    removing.removeEach = &library;
    EXPECT_TRUE(library.EnumMediaBlock(Record, &removing));
    EXPECT_EQ(Locations(removing).size(), 4u);
    EXPECT_TRUE(Locations(Enumerate(library)).empty());
    ASSERT_EQ(library.Write(sample_.wstring()), ITL::ITL_SE_OK);
    EXPECT_EQ(Reparse(sample_).PlaylistItems(), (std::vector<std::vector<uint64_t>>{{4}, {}, {}}));
}

TEST_F(LibraryFile, FilesNotFullyUnderstoodAreRefusedAndNeverWritten) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"binary library", std::string("hdfm\0\0\0\x9c", 8) + original_},
        {"empty", ""},
        {"not xml", "garbage that is no property list"},
        {"cut short", original_.substr(0, original_.size() / 2)},
        {"array root", head + "<array><dict><key>Tracks</key><dict/></dict></array></plist>"},
        {"no tracks", head + "<dict><key>Playlists</key><array/></dict></plist>"},
        {"tracks not a dictionary", head + "<dict><key>Tracks</key><array/></dict></plist>"},
        {"string track id",
         head + "<dict><key>Tracks</key><dict><key>1</key><dict><key>Track ID</key><string>1</string></dict>"
                "</dict></dict></plist>"},
        {"no track id",
         head + "<dict><key>Tracks</key><dict><key>1</key><dict><key>Name</key><string>a</string></dict>"
                "</dict></dict></plist>"},
        {"location not a string",
         head + "<dict><key>Tracks</key><dict><key>1</key><dict><key>Track ID</key><integer>1</integer>"
                "<key>Location</key><integer>7</integer></dict></dict></dict></plist>"},
        {"playlist item without id",
         head + "<dict><key>Tracks</key><dict/><key>Playlists</key><array><dict><key>Playlist Items</key>"
                "<array><dict/></array></dict></array></dict></plist>"},
    };
    for (const auto& [what, bytes] : refused) {
        SCOPED_TRACE(what);
        Put(sample_, bytes);
        ITL::IITunesLibrary library;
        const ITL::ITL_SE_ERROR result = library.Read(sample_.wstring());
        EXPECT_NE(result, ITL::ITL_SE_OK);
        if (what == "binary library") {
            EXPECT_EQ(result, ITL::ITL_SE_UNSUPPORTED_FORMAT);
        }
        EXPECT_TRUE(Locations(Enumerate(library)).empty());
        EXPECT_NE(library.Append(Wide(kLocal), ITL::ITL_SE_MEDIA_MUSIC, L"a"), ITL::ITL_SE_OK);
        EXPECT_EQ(library.Write(sample_.wstring()), ITL::ITL_SE_NOT_LOADED);
        EXPECT_EQ(Slurp(sample_), bytes);
        EXPECT_EQ(Names(dir_), std::vector<std::string>{"iTunes Library.itl"});
    }
    ITL::IITunesLibrary missing;
    EXPECT_EQ(missing.Read((dir_ / "absent.itl").wstring()), ITL::ITL_SE_OPEN_FAILED);
    EXPECT_EQ(missing.Write((dir_ / "absent.itl").wstring()), ITL::ITL_SE_NOT_LOADED);
    EXPECT_FALSE(fs::exists(dir_ / "absent.itl"));
}

TEST_F(LibraryFile, FailedWriteLeavesTheOldFileAndNoTemporary) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    ASSERT_TRUE(library.RemoveMediaBlock(HandleOf(Enumerate(library), kLocal)));

    // Every backup name is taken, the first by a folder: the write gives up
    // rather than replace one of them.
    fs::create_directory(dir_ / "iTunes Library.itl.bak");
    Put(dir_ / "iTunes Library.itl.bak" / "keep", "k");
    for (unsigned n = 1; n < itl::kMaxBackups; ++n) Put(itl::BackupName(sample_.string(), n), std::to_string(n));
    EXPECT_EQ(library.Write(sample_.wstring()), ITL::ITL_SE_WRITE_FAILED);
    EXPECT_EQ(Slurp(sample_), original_);
    EXPECT_EQ(Names(dir_).size(), size_t{itl::kMaxBackups} + 1);
    EXPECT_EQ(Slurp(dir_ / "iTunes Library.itl.bak" / "keep"), "k");
    EXPECT_EQ(Slurp(dir_ / "iTunes Library.itl.999.bak"), "999");
    for (unsigned n = 1; n < itl::kMaxBackups; ++n) fs::remove(itl::BackupName(sample_.string(), n));

    EXPECT_EQ(library.Write((dir_ / "missing" / "iTunes Library.itl").wstring()), ITL::ITL_SE_WRITE_FAILED);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    if (::geteuid() != 0) {  // a superuser writes into read-only folders
        fs::remove_all(dir_ / "iTunes Library.itl.bak");
        fs::permissions(dir_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        EXPECT_EQ(library.Write(sample_.wstring()), ITL::ITL_SE_WRITE_FAILED);
        EXPECT_EQ(Slurp(sample_), original_);
        EXPECT_EQ(Names(dir_), std::vector<std::string>{"iTunes Library.itl"});
    }
}

TEST_F(LibraryFile, HostileTargetsReplaceNothingButAFile) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    const fs::path folder = dir_ / "Music";
    fs::create_directory(folder);
    Put(folder / "song.mp3", "audio");
    fs::create_directory_symlink(folder, dir_ / "junction");
    for (const fs::path& target : {dir_ / "Music" / "..", dir_ / "Music" / ".", fs::path("/"), dir_ / "junction",
                                   folder, fs::path(folder.string() + "/"), fs::path("..")}) {
        SCOPED_TRACE(target.string());
        EXPECT_EQ(library.Write(target.wstring()), ITL::ITL_SE_WRITE_FAILED);
    }
    EXPECT_EQ(Slurp(folder / "song.mp3"), "audio");
    EXPECT_TRUE(fs::is_symlink(dir_ / "junction"));
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"Music", "iTunes Library.itl", "junction"}));
    EXPECT_EQ(Names(folder), std::vector<std::string>{"song.mp3"});
    EXPECT_EQ(Slurp(sample_), original_);

    // A name of dots is an ordinary file name here, written beside the rest.
    ASSERT_EQ(library.Write((dir_ / "...").wstring()), ITL::ITL_SE_OK);
    EXPECT_EQ(Reparse(dir_ / "...").TrackIds().size(), 5u);
    EXPECT_EQ(Slurp(sample_), original_);
}

TEST_F(LibraryFile, FreshObjectBuildsANewLibraryButNeverOverwritesOne) {
    ITL::IITunesLibrary fresh;
    EXPECT_EQ(fresh.Write(sample_.wstring()), ITL::ITL_SE_WOULD_OVERWRITE);
    EXPECT_EQ(Slurp(sample_), original_);

    ASSERT_EQ(fresh.Append(L"file://localhost/C:/Music/\u00c4%20\u266b.mp3", ITL::ITL_SE_MEDIA_MUSIC, L"\u00c4 \u266b"),
              ITL::ITL_SE_OK);
    ASSERT_EQ(fresh.Append(Wide(kRemote), ITL::ITL_SE_MEDIA_PODCAST, L"Live"), ITL::ITL_SE_OK);
    EXPECT_EQ(fresh.Append(Wide(kLocal), static_cast<ITL::ITL_SE_MEDIA_TYPE>(42), L"x"),
              ITL::ITL_SE_INVALID_ARGUMENT);
    EXPECT_EQ(fresh.Append(L"", ITL::ITL_SE_MEDIA_MUSIC, L"x"), ITL::ITL_SE_INVALID_ARGUMENT);
    ASSERT_EQ(fresh.AddPlayList(L"Neu \u00e9"), ITL::ITL_SE_OK);
    EXPECT_EQ(fresh.AddPlayList(L""), ITL::ITL_SE_INVALID_ARGUMENT);

    // The wide name reaches the file system as UTF-8.
    const std::wstring createdWide = Wide(dir_.string()) + L"/Bibliothe\u0300que \u00c4.itl";
    const fs::path created = dir_ / std::string("Bibliothe\xCC\x80que \xC3\x84.itl");
    ASSERT_EQ(fresh.Write(createdWide), ITL::ITL_SE_OK);
    EXPECT_FALSE(fs::exists(created.string() + ".bak"));
    ITL::IITunesLibrary reread;
    ASSERT_EQ(reread.Read(createdWide), ITL::ITL_SE_OK);
    EXPECT_EQ(Locations(Enumerate(reread)),
              (std::vector<std::string>{"file://localhost/C:/Music/\xC3\x84%20\xE2\x99\xAB.mp3", kRemote}));
    const itl::LibraryDocument document = Reparse(created);
    EXPECT_EQ(document.TrackIds(), (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(document.PlaylistItems().size(), 1u);
    EXPECT_NE(Slurp(created).find("<string>Neu \xC3\xA9</string>"), std::string::npos);

    // Appending to a read library takes the next free id.
    ASSERT_EQ(reread.Append(Wide(kVideo), ITL::ITL_SE_MEDIA_MOVIE, L"Film"), ITL::ITL_SE_OK);
    ASSERT_EQ(reread.Write(createdWide), ITL::ITL_SE_OK);
    EXPECT_EQ(Reparse(created).TrackIds(), (std::vector<uint64_t>{1, 2, 3}));
}

TEST_F(LibraryFile, ReadOnlyFileIsLeftByteForByte) {
    ITL::IITunesLibrary library;
    ASSERT_EQ(library.Read(sample_.wstring()), ITL::ITL_SE_OK);
    ASSERT_TRUE(library.RemoveMediaBlock(HandleOf(Enumerate(library), kLocal)));
    fs::permissions(sample_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(library.Write(sample_.wstring()), ITL::ITL_SE_READ_ONLY);
    EXPECT_EQ(Slurp(sample_), original_);
    EXPECT_EQ(Names(dir_), std::vector<std::string>{"iTunes Library.itl"});
}

// A library nested far beyond any real one, as XML and as a binary list:
// refused when read, with nothing built that the object would later have
// to free level by level.
std::string NestedXml(size_t depth, const std::string& inner = "<array>", const std::string& outer = "</array>") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    xml.reserve(depth * (inner.size() + outer.size()) + 100);
    for (size_t i = 0; i < depth; ++i) xml += inner;
    for (size_t i = 0; i < depth; ++i) xml += outer;
    return xml + "</plist>\n";
}

// Runs `work` on a thread with the 1 MiB stack a Windows worker has.
void OnWorkerStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1 << 20), 0);
    pthread_t thread;
    auto run = [](void* context) -> void* {
        (*static_cast<const std::function<void()>*>(context))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

TEST_F(LibraryFile, DeeplyNestedFilesAreRefusedUnbuilt) {
    for (const auto& [what, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"xml", NestedXml(100000)}, {"binary", NestedBinaryPlist(100000)}}) {
        SCOPED_TRACE(what);
        Put(sample_, bytes);
        ITL::ITL_SE_ERROR read = ITL::ITL_SE_OK;
        ITL::ITL_SE_ERROR write = ITL::ITL_SE_OK;
        OnWorkerStack([&] {
            ITL::IITunesLibrary library;
            read = library.Read(sample_.wstring());
            write = library.Write(sample_.wstring());
        });
        EXPECT_EQ(read, what == "xml" ? ITL::ITL_SE_NESTED_TOO_DEEPLY : ITL::ITL_SE_DAMAGED);
        EXPECT_EQ(write, ITL::ITL_SE_NOT_LOADED);
        EXPECT_EQ(Slurp(sample_), bytes);
    }
}

TEST(XmlNesting, CountsAsLibplistNestsAndRefusesWhatItCannotReadAlike) {
    using itl::NestingScan;
    // <plist> is a level of its own.
    EXPECT_EQ(itl::ScanXmlNesting(NestedXml(9), 10), NestingScan::Within);
    EXPECT_EQ(itl::ScanXmlNesting(NestedXml(10), 10), NestingScan::TooDeep);
    EXPECT_EQ(itl::ScanXmlNesting(NestedXml(50, "<dict/><array >", "</array >"), 51), NestingScan::Within);
    EXPECT_EQ(itl::ScanXmlNesting(NestedXml(50, "<dict><key>k</key><array>", "</array></dict>"), 100),
              NestingScan::TooDeep);
    // Close tags libplist never sees as such do not lower the count.
    for (const char* hidden : {"<array><!-- </array> -->", "<array><string><![CDATA[</array>]]></string>",
                               "<array><?pi </array>?>", "<array><string></array></string>"}) {
        SCOPED_TRACE(hidden);
        EXPECT_NE(itl::ScanXmlNesting(NestedXml(20, hidden, "</array>"), 10), NestingScan::Within);
    }
    // Where libplist could end a construct elsewhere, nothing is guessed.
    for (const std::string& unclear : {std::string("<array a=\"</array>\">"), std::string("<array a=\">"),
                                       std::string("<!DOCTYPE plist [<!ENTITY a \"b\">]>"),
                                       std::string("<arr\0ay>", 8), std::string("<unknown>"), std::string("text"),
                                       std::string("<array <array>")}) {
        SCOPED_TRACE(unclear);
        EXPECT_EQ(itl::ScanXmlNesting(NestedXml(1, unclear, ""), 1000), NestingScan::NotUnderstood);
    }
    // The sample library itself.
    EXPECT_EQ(itl::ScanXmlNesting(NestedXml(3, "<dict><key>a</key><string>x &amp; \"y</string><key>b</key><array>",
                                            "</array></dict>"),
                                  itl::kMaxLibraryNesting),
              NestingScan::Within);
}

}  // namespace
