// iOS backup recognition on the simulated machine: the layout rule, what the
// property lists and the files' creation times give a record, and property
// lists built to hurt a reader (entity bombs, external entities, shared or
// cyclic binary objects, deep nesting, oversized and damaged files).
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "Brisalen/CollectDirMgr.h"
#include "Brisalen/ConfigMgr.h"
#include "Brisalen/PlistParser.h"
#include "Brisalen/UserDataItem.h"
#include "SimMachineFixture.h"
#include "platform/sim/Utf8.h"
#include "tests/gen/NestedPlists.h"

namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kBackup = L"C:\\Backups\\3d0d7e5fb2ce288813306e4d4636395e047a3d28";
// 2020-01-01T00:00:00Z.
constexpr int64_t kNewYear2020 = 1577836800;

uint64_t FileTimeOf(int64_t unixSeconds) { return static_cast<uint64_t>(unixSeconds + 11644473600) * 10000000; }

std::string XmlPlist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">" +
           body + "</plist>\n";
}

std::string Lockdown(const std::string& name, const std::string& version, const std::string& id) {
    return "<key>Lockdown</key><dict><key>DeviceName</key><string>" + name +
           "</string><key>ProductVersion</key><string>" + version + "</string><key>UniqueDeviceID</key><string>" +
           id + "</string></dict>";
}

std::string BinaryOf(const PlistPtr& plist) {
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(plist.get(), &bytes, &length);
    const std::unique_ptr<char, decltype(&std::free)> owned(bytes, &std::free);
    return std::string(bytes, length);
}

// A binary property list of the given objects (references one byte wide),
// the first object being the root.
std::string Bplist(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::vector<uint32_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out += object;
    }
    const uint64_t table = out.size();
    for (uint32_t offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((offset >> shift) & 0xFF);
    }
    std::string trailer(32, '\0');
    trailer[6] = 4;  // offset size
    trailer[7] = 1;  // reference size
    trailer[15] = static_cast<char>(objects.size());
    for (int i = 0; i < 8; ++i) trailer[24 + i] = static_cast<char>((table >> (56 - 8 * i)) & 0xFF);
    return out + trailer;
}

// An array object of up to 14 one-byte references.
std::string ArrayOf(const std::vector<int>& refs) {
    std::string object(1, static_cast<char>(0xA0 | refs.size()));
    for (int ref : refs) object += static_cast<char>(ref);
    return object;
}

// A dictionary object of up to 14 entries: key references, then value references.
std::string DictOf(const std::vector<int>& keys, const std::vector<int>& values) {
    std::string object(1, static_cast<char>(0xD0 | keys.size()));
    for (int ref : keys) object += static_cast<char>(ref);
    for (int ref : values) object += static_cast<char>(ref);
    return object;
}

// An ASCII string object of up to 14 characters.
std::string AsciiOf(const std::string& text) { return static_cast<char>(0x50 | text.size()) + text; }

// A date object: seconds since 2001-01-01 as a big-endian double.
std::string DateOf(double seconds) {
    uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    std::string object(1, '\x33');
    for (int shift = 56; shift >= 0; shift -= 8) object += static_cast<char>((bits >> shift) & 0xFF);
    return object;
}

// A binary manifest: "Date" as given, "Lockdown" naming the device, and a
// far-future date under an unrelated key and inside an array.
std::string ManifestWithDates(double date, double elsewhere) {
    return Bplist({DictOf({1, 2, 3}, {4, 5, 6}), AsciiOf("Date"), AsciiOf("Lockdown"), AsciiOf("Expires"),
                   DateOf(date), DictOf({7}, {8}), ArrayOf({9}), AsciiOf("DeviceName"), AsciiOf("iPhone"),
                   DateOf(elsewhere)});
}

PlistPtr Parse(const std::string& bytes, std::string* why = nullptr) {
    CPlistParser parser;
    PlistPtr root = parser.Parse(bytes.data(), bytes.size());
    if (why != nullptr) *why = parser.Why();
    return root;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class BackupDirTest : public LoggedMachineTest {
protected:
    CCollectDirMgr& Collect() { return CCollectDirMgr::Instance(); }

    void WriteBytes(const std::wstring& winPath, const std::string& bytes) {
        const std::string host = Host(winPath);
        fs::create_directories(fs::path(host).parent_path());
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << host;
    }

    void MakeFolder(const std::wstring& winPath) { fs::create_directories(Host(winPath)); }

    // Ten two-character folders, as every backup since iOS 10 has.
    void MakeLayout(const std::wstring& folder) {
        for (int i = 0; i < 10; ++i) MakeFolder(folder + L"\\0" + std::to_wstring(i));
    }

    void SetCreationTime(const std::wstring& winPath, int64_t unixSeconds) {
        sim::FileMeta meta = machine_->Meta(winPath);
        meta.creationTime = FileTimeOf(unixSeconds);
        machine_->SetMeta(winPath, meta);
    }

    void SetUtcOffset(int minutes) {
        machine_->Edit([&](sim::MachineState& s) { s.utcOffsetMinutes = minutes; });
    }

    ST_ITUNES_USER_DATA_ITEM Parsed(const std::wstring& folder, bool expectBackup = true) {
        ST_ITUNES_USER_DATA_ITEM item = NewUserDataItem();
        EXPECT_EQ(Collect().ParseBackupDir(item, folder), expectBackup) << sim::ToUtf8(folder);
        return item;
    }
};

// ------------------------------------------------------------------ layout

TEST_F(BackupDirTest, LayoutNeedsTenMarksWithinTheFirstThreeHundredEntries) {
    MakeLayout(L"C:\\A");
    EXPECT_TRUE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\A"));

    // Nine marks and 291 other entries reach the entry limit first; a
    // tenth two-character folder listed after them comes too late.
    for (int i = 0; i < 9; ++i) MakeFolder(L"C:\\B\\0" + std::to_wstring(i));
    for (int i = 0; i < 291; ++i) WriteBytes(L"C:\\B\\other" + std::to_wstring(1000 + i), "x");
    MakeFolder(L"C:\\B\\zz");
    EXPECT_FALSE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\B"));

    // Ten files of 40 characters (the hashed names of older backups).
    const std::wstring hash = L"0123456789abcdef0123456789abcdef0123456";
    for (int i = 0; i < 10; ++i) WriteBytes(L"C:\\C\\" + hash + std::to_wstring(i), "x");
    EXPECT_TRUE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\C"));

    // Two-character files and 40-character folders are not marks.
    for (int i = 0; i < 10; ++i) {
        WriteBytes(L"C:\\D\\f" + std::to_wstring(i), "x");
        MakeFolder(L"C:\\D\\" + hash + std::to_wstring(i));
    }
    EXPECT_FALSE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\D"));
}

TEST_F(BackupDirTest, FoldersThatCannotBeListedAreNoBackups) {
    MakeFolder(L"C:\\Empty");
    EXPECT_FALSE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\Empty"));
    EXPECT_FALSE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\Missing"));
    WriteBytes(L"C:\\AFile", "x");
    EXPECT_FALSE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\AFile"));
    // A junction whose target is gone is listed as a folder but cannot be opened.
    MakeLayout(L"C:\\Gone");
    fs::create_directory_symlink(Host(L"C:\\Gone"), Host(L"C:\\Dangling"));
    fs::remove_all(Host(L"C:\\Gone"));
    EXPECT_FALSE(CCollectDirMgr::Instance().IsBackupLayout(L"C:\\Dangling"));
    ST_ITUNES_USER_DATA_ITEM item = Parsed(L"C:\\Dangling", false);
    EXPECT_TRUE(item.strPath.empty());
}

// ----------------------------------------------------- what a record holds

TEST_F(BackupDirTest, ManifestGivesDeviceAndDateAndInfoWithoutTheKeysChangesNothing) {
    MakeLayout(kBackup);
    WriteBytes(std::wstring(kBackup) + L"\\Manifest.plist",
               XmlPlist("<dict><key>Date</key><date>2020-01-01T00:00:00Z</date>" +
                        Lockdown("iPhone de Zo\xC3\xA9", "17.5.1", "00008030-001A") + "</dict>"));
    WriteBytes(std::wstring(kBackup) + L"\\Info.plist",
               XmlPlist("<dict><key>Device Name</key><string>Other</string></dict>"));
    ST_ITUNES_USER_DATA_ITEM item = NewUserDataItem();
    const int32_t id = item.nId;
    item.bValid = true;
    ASSERT_TRUE(Collect().ParseBackupDir(item, kBackup));
    EXPECT_EQ(item.nId, id);
    EXPECT_TRUE(item.bValid);
    EXPECT_EQ(item.strPath, kBackup);
    EXPECT_EQ(item.strDeviceName, L"iPhone de Zo\u00e9");
    EXPECT_EQ(item.strVersion, L"17.5.1");
    EXPECT_EQ(item.strDeviceId, L"00008030-001A");
    EXPECT_EQ(item.nDate, kNewYear2020);
    EXPECT_EQ(item.strDate, L"2020-01-01");
    // The log is written in the OEM code page; the rest of the line is ASCII.
    const std::string log = LoadTimeLog();
    EXPECT_NE(log.find("backup:[iPhone de Zo"), std::string::npos) << log;
    EXPECT_NE(log.find("][17.5.1][00008030-001A][" + sim::ToUtf8(FormatFileSize(item.nSize)) +
                       "][2020-01-01] => [" + sim::ToUtf8(kBackup) + "]"),
              std::string::npos)
        << log;
}

TEST_F(BackupDirTest, BinaryManifestAndXmlInfoAreBothReadInfoLast) {
    MakeLayout(kBackup);
    PlistPtr manifest(plist_new_dict());
    plist_dict_set_item(manifest.get(), "Date", plist_new_date(599529600, 0));
    plist_t lockdown = plist_new_dict();
    plist_dict_set_item(lockdown, "DeviceName", plist_new_string("iPad"));
    plist_dict_set_item(lockdown, "ProductVersion", plist_new_string("16.7.8"));
    plist_dict_set_item(lockdown, "UniqueDeviceID", plist_new_string("abc"));
    plist_dict_set_item(manifest.get(), "Lockdown", lockdown);
    WriteBytes(std::wstring(kBackup) + L"\\Manifest.plist", BinaryOf(manifest));
    // Info.plist renames the device; its Date comes too late, and the keys
    // its Lockdown lacks (or holds as no string) are emptied.
    WriteBytes(std::wstring(kBackup) + L"\\Info.plist",
               XmlPlist("<dict><key>Date</key><date>2011-06-01T00:00:00Z</date><key>Lockdown</key><dict>"
                        "<key>DeviceName</key><string>Renamed</string>"
                        "<key>ProductVersion</key><integer>17</integer></dict></dict>"));
    const ST_ITUNES_USER_DATA_ITEM item = Parsed(kBackup);
    EXPECT_EQ(item.strDeviceName, L"Renamed");
    EXPECT_EQ(item.strVersion, L"");
    EXPECT_EQ(item.strDeviceId, L"");
    EXPECT_EQ(item.nDate, kNewYear2020);
}

// Seconds from 2001 of 2050-01-01, 2100-01-01 and 2020-01-01, all UTC.
constexpr double kSeconds2050 = 1546300800;
constexpr double kSeconds2100 = 3124137600;
constexpr double kSeconds2020 = 599529600;

// A date past 2038 is no reason to refuse a list: elsewhere in it, it is not
// read at all; as "Date" it is kept to 32 bits and sign-extended while its
// seconds from 2001 fit 32 bits, and beyond that (or not a number) the
// files' creation time decides, with the device still named.
TEST_F(BackupDirTest, DatesPastTwentyThirtyEightKeepTheDeviceAndFollowTheThirtyTwoBitRule) {
    const int64_t created = 1557185400;  // 2019-05-06T23:30:00Z
    const auto parsedWith = [&](const std::wstring& folder, const std::string& manifest) {
        MakeLayout(folder);
        WriteBytes(folder + L"\\Manifest.plist", manifest);
        SetCreationTime(folder + L"\\Manifest.plist", created);
        return Parsed(folder);
    };

    const ST_ITUNES_USER_DATA_ITEM elsewhere = parsedWith(L"C:\\B\\elsewhere", ManifestWithDates(kSeconds2020, kSeconds2100));
    EXPECT_EQ(elsewhere.strDeviceName, L"iPhone");
    EXPECT_EQ(elsewhere.nDate, kNewYear2020);

    // 2050: 2524608000 seconds from 1970, which 32 bits hold as -1770359296,
    // a time before 1970 that the C runtime gives no calendar date for.
    const ST_ITUNES_USER_DATA_ITEM wrapped = parsedWith(L"C:\\B\\2050", ManifestWithDates(kSeconds2050, kSeconds2100));
    EXPECT_EQ(wrapped.strDeviceName, L"iPhone");
    EXPECT_EQ(wrapped.nDate, -1770359296);
    EXPECT_EQ(wrapped.strDate, L"");

    int case_ = 0;
    for (const double date : {kSeconds2100, std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(), -kSeconds2100}) {
        SCOPED_TRACE(date);
        const ST_ITUNES_USER_DATA_ITEM beyond =
            parsedWith(L"C:\\B\\beyond" + std::to_wstring(++case_), ManifestWithDates(date, date));
        EXPECT_EQ(beyond.strDeviceName, L"iPhone");
        EXPECT_EQ(beyond.nDate, created);
        EXPECT_EQ(beyond.strDate, L"2019-05-06");
    }
}

TEST_F(BackupDirTest, PlistDateIsShownInTheMachinesTimeZone) {
    SetUtcOffset(-300);  // UTC-5: New Year 2020 UTC is still 2019 there
    MakeLayout(kBackup);
    WriteBytes(std::wstring(kBackup) + L"\\Manifest.plist",
               XmlPlist("<dict><key>Date</key><date>2020-01-01T00:00:00Z</date></dict>"));
    const ST_ITUNES_USER_DATA_ITEM item = Parsed(kBackup);
    EXPECT_EQ(item.nDate, kNewYear2020);
    EXPECT_EQ(item.strDate, L"2019-12-31");
}

TEST_F(BackupDirTest, WithoutPlistDateTheFirstExistingFilesCreationTimeCounts) {
    SetUtcOffset(120);
    MakeLayout(kBackup);
    const std::wstring folder = kBackup;
    // No manifest.db: Manifest.mbdb is the first of the list that exists.
    WriteBytes(folder + L"\\Manifest.mbdb", "mbdb");
    WriteBytes(folder + L"\\Info.plist", XmlPlist("<dict/>"));
    WriteBytes(folder + L"\\Manifest.plist", XmlPlist("<dict/>"));
    const int64_t created = 1557185400;  // 2019-05-06T23:30:00Z, 01:30 the next day at UTC+2
    SetCreationTime(folder + L"\\Manifest.mbdb", created);
    SetCreationTime(folder + L"\\Info.plist", created - 86400 * 30);
    SetCreationTime(folder + L"\\Manifest.plist", created - 86400 * 60);
    const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
    EXPECT_EQ(item.strDate, L"2019-05-07");
    // The local wall-clock time counted as seconds since 1970.
    EXPECT_EQ(item.nDate, created + 120 * 60);

    // None of the five files: no date at all.
    MakeLayout(L"C:\\Bare");
    const ST_ITUNES_USER_DATA_ITEM bare = Parsed(L"C:\\Bare");
    EXPECT_EQ(bare.nDate, 0);
    EXPECT_EQ(bare.strDate, L"");
}

TEST_F(BackupDirTest, SizeIsEveryFileBelowButNothingBehindAJunction) {
    MakeLayout(kBackup);
    const std::wstring folder = kBackup;
    WriteFile(folder + L"\\00\\00aa000000000000000000000000000000000000", 1000);
    WriteFile(folder + L"\\05\\05bb000000000000000000000000000000000000", 2345);
    WriteFile(folder + L"\\Manifest.db", 4096);
    WriteFile(L"C:\\Elsewhere\\big.bin", 1 << 20);
    fs::create_directory_symlink(Host(L"C:\\Elsewhere"), Host(folder + L"\\ee"));
    const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
    EXPECT_EQ(item.nSize, 1000 + 2345 + 4096);
}

TEST_F(BackupDirTest, DamagedPlistsLeaveEmptyFieldsOfABackupThatStillCounts) {
    const std::wstring root = L"C:\\Damaged";
    struct Case {
        const wchar_t* name;
        std::string manifest;
    };
    PlistPtr good(plist_new_dict());
    plist_t lockdown = plist_new_dict();
    plist_dict_set_item(lockdown, "DeviceName", plist_new_string("x"));
    plist_dict_set_item(good.get(), "Lockdown", lockdown);
    const std::string binary = BinaryOf(good);
    const std::vector<Case> cases = {
        {L"truncated", binary.substr(0, binary.size() / 2)},
        {L"garbage", std::string("\x00\x01\xff<plist", 9)},
        {L"unclosed", XmlPlist(Lockdown("x", "1", "2")).substr(0, 120)},
        {L"not-a-dict", XmlPlist("<array><string>x</string></array>")},
        {L"undeclared-entity", XmlPlist("<dict>" + Lockdown("&x;", "1", "2") + "</dict>")},
    };
    for (const Case& c : cases) {
        const std::wstring folder = root + L"\\" + c.name;
        MakeLayout(folder);
        WriteBytes(folder + L"\\Manifest.plist", c.manifest);
        WriteBytes(folder + L"\\Info.plist", "\xff\xfe");
        const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
        EXPECT_EQ(item.strDeviceName, L"") << c.name;
        EXPECT_EQ(item.strVersion, L"") << c.name;
        EXPECT_EQ(item.strDeviceId, L"") << c.name;
        EXPECT_EQ(item.nSize, static_cast<int64_t>(c.manifest.size() + 2)) << c.name;
        EXPECT_FALSE(item.strDate.empty()) << c.name;  // from the files' creation time
    }
    // An empty Manifest.plist and one that is a folder.
    MakeLayout(root + L"\\empty");
    WriteBytes(root + L"\\empty\\Manifest.plist", "");
    MakeLayout(root + L"\\folder");
    MakeFolder(root + L"\\folder\\Manifest.plist");
    for (const wchar_t* name : {L"empty", L"folder"}) {
        const ST_ITUNES_USER_DATA_ITEM item = Parsed(root + L"\\" + name);
        EXPECT_EQ(item.strDeviceName, L"") << name;
        EXPECT_EQ(item.nSize, 0) << name;
    }
}

TEST(UserDataItem, EveryRecordTakesTheNextIdAndStartsBlank) {
    const ST_ITUNES_USER_DATA_ITEM first = NewUserDataItem();
    const ST_ITUNES_USER_DATA_ITEM second = NewUserDataItem();
    EXPECT_GE(first.nId, 1);
    EXPECT_EQ(second.nId, first.nId + 1);
    EXPECT_FALSE(second.bValid);
    EXPECT_TRUE(second.strPath.empty() && second.strDate.empty() && second.strDeviceId.empty());
    EXPECT_EQ(second.nSize, 0);
    EXPECT_EQ(second.nDate, 0);
}

// -------------------------------------------------------- hostile documents

TEST_F(BackupDirTest, EntityBombIsRefusedFastAndQuietly) {
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n <!ENTITY a \"aaaaaaaaaa\">\n";
    for (char c = 'b'; c <= 'j'; ++c) {
        bomb += std::string(" <!ENTITY ") + c + " \"";
        for (int i = 0; i < 10; ++i) bomb += std::string("&") + static_cast<char>(c - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<plist version=\"1.0\"><dict>" + Lockdown("&j;", "&j;", "&j;") + "</dict></plist>\n";
    MakeLayout(kBackup);
    WriteBytes(std::wstring(kBackup) + L"\\Manifest.plist", bomb);
    const long rssBefore = PeakRssKiB();
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    const ST_ITUNES_USER_DATA_ITEM item = Parsed(kBackup);
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_LT(PeakRssKiB() - rssBefore, 64 * 1024);
    EXPECT_EQ(item.strDeviceName, L"");
    EXPECT_EQ(item.strVersion, L"");
    EXPECT_EQ(stderrText, "");
    EXPECT_NE(LoadTimeLog().find("declares entities"), std::string::npos);
}

TEST_F(BackupDirTest, ExternalEntitiesAreNeverLoaded) {
    const std::string marker = "MARKER-7f3a9c";
    WriteBytes(L"C:\\secret.txt", marker);
    const std::string url = "file://" + fs::absolute(Host(L"C:\\secret.txt")).string();
    const std::vector<std::string> documents = {
        // A general entity in the text.
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!ENTITY x SYSTEM \"" + url +
            "\"> ]>\n<plist version=\"1.0\"><dict>" + Lockdown("&x;", "1", "2") + "</dict></plist>",
        // A parameter entity that would pull the file into the DTD.
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!ENTITY % p SYSTEM \"" + url +
            "\"> %p; ]>\n<plist version=\"1.0\"><dict>" + Lockdown("a", "1", "2") + "</dict></plist>",
        // An external DTD naming the file.
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist SYSTEM \"" + url + "\">\n<plist version=\"1.0\"><dict>" +
            Lockdown("&x;", "1", "2") + "</dict></plist>",
    };
    for (size_t i = 0; i < documents.size(); ++i) {
        const std::wstring folder = L"C:\\Xxe\\" + std::to_wstring(i);
        MakeLayout(folder);
        WriteBytes(folder + L"\\Manifest.plist", documents[i]);
        const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
        for (const std::wstring* field : {&item.strDeviceName, &item.strVersion, &item.strDeviceId}) {
            EXPECT_EQ(sim::ToUtf8(*field).find(marker), std::string::npos) << i;
        }
        EXPECT_EQ(item.strDeviceName, L"") << i;
    }
    EXPECT_EQ(LoadTimeLog().find(marker), std::string::npos);
}

TEST_F(BackupDirTest, OversizedPlistIsRefusedUnread) {
    // Exactly at the bound: a small document padded with comments is read
    // (libxml2 refuses a single run of text above 10 MB by itself).
    const std::string document = XmlPlist("<dict>" + Lockdown("Big", "1", "2") + "</dict>");
    const std::string comment = "<!--" + std::string(1017, 'c') + "-->\n";
    const size_t cut = document.find("</dict></plist>");
    std::string atBound = document.substr(0, cut);
    while (atBound.size() + comment.size() + document.size() - cut <= kMaxPlistFileBytes) atBound += comment;
    atBound += std::string(kMaxPlistFileBytes - atBound.size() - (document.size() - cut), ' ');
    atBound += document.substr(cut);
    ASSERT_EQ(atBound.size(), kMaxPlistFileBytes);
    WriteBytes(L"C:\\Big\\at.plist", atBound);
    atBound.clear();
    atBound.shrink_to_fit();
    EXPECT_NE(CCollectDirMgr::Instance().LoadPlistFile(L"C:\\Big\\at.plist"), nullptr) << LoadTimeLog();

    // A sparse 512 MiB file: reading it would show in the peak memory.
    WriteBytes(L"C:\\Big\\over.plist", document);
    fs::resize_file(Host(L"C:\\Big\\over.plist"), 512ull << 20);
    const long rssBefore = PeakRssKiB();
    EXPECT_EQ(CCollectDirMgr::Instance().LoadPlistFile(L"C:\\Big\\over.plist"), nullptr);
    EXPECT_LT(PeakRssKiB() - rssBefore, 64 * 1024);
    // One byte over the bound is already refused.
    fs::resize_file(Host(L"C:\\Big\\over.plist"), kMaxPlistFileBytes + 1);
    EXPECT_EQ(CCollectDirMgr::Instance().LoadPlistFile(L"C:\\Big\\over.plist"), nullptr);
}

TEST(PlistParser, ReadsBothFormsWithEveryValueType) {
    const std::string xml = XmlPlist(
        "<dict><key>s</key><string>a &amp; b</string><key>i</key><integer>-42</integer>"
        "<key>h</key><integer>0x10</integer><key>r</key><real>2.5</real><key>t</key><true/>"
        "<key>f</key><false/><key>d</key><data>aGVs\nbG8=</data><key>a</key><array><string>x</string></array>"
        "<key>when</key><date>2001-01-02T00:00:01Z</date></dict>");
    std::string why;
    const PlistPtr root = Parse(xml, &why);
    ASSERT_NE(root, nullptr) << why;
    // The same tree written as binary reads back equal.
    const PlistPtr again = Parse(BinaryOf(root), &why);
    ASSERT_NE(again, nullptr) << why;
    for (plist_t tree : {root.get(), again.get()}) {
        char* text = nullptr;
        plist_get_string_val(plist_dict_get_item(tree, "s"), &text);
        EXPECT_STREQ(text, "a & b");
        std::free(text);
        uint64_t value = 0;
        plist_get_uint_val(plist_dict_get_item(tree, "i"), &value);
        EXPECT_EQ(static_cast<int64_t>(value), -42);
        plist_get_uint_val(plist_dict_get_item(tree, "h"), &value);
        EXPECT_EQ(value, 16u);
        double real = 0;
        plist_get_real_val(plist_dict_get_item(tree, "r"), &real);
        EXPECT_EQ(real, 2.5);
        uint8_t flag = 0;
        plist_get_bool_val(plist_dict_get_item(tree, "t"), &flag);
        EXPECT_EQ(flag, 1);
        char* data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(plist_dict_get_item(tree, "d"), &data, &length);
        EXPECT_EQ(std::string(data, length), "hello");
        std::free(data);
        EXPECT_EQ(plist_array_get_size(plist_dict_get_item(tree, "a")), 1u);
        int32_t seconds = 0, microseconds = 0;
        plist_get_date_val(plist_dict_get_item(tree, "when"), &seconds, &microseconds);
        EXPECT_EQ(seconds, 86401);
    }
}

TEST(PlistParser, MalformedXmlValuesRefuseTheDocument) {
    for (const std::string& body :
         {std::string("<dict><key>a</key></dict>"), std::string("<dict><string>a</string></dict>"),
          std::string("<integer>12x</integer>"), std::string("<real>1,5</real>"),
          std::string("<date>2020-13-01T00:00:00Z</date>"), std::string("<data>a*b</data>"),
          std::string("<unknown/>"), std::string("<key>a</key>"), std::string("<string>a<b/></string>"),
          std::string("")}) {
        EXPECT_EQ(Parse(XmlPlist(body)), nullptr) << body;
    }
    EXPECT_EQ(Parse("<dict/>"), nullptr);  // no <plist> around it
}

TEST(PlistParser, NestingIsBoundedInBothForms) {
    const auto nestedXml = [](int depth) {
        std::string body;
        for (int i = 0; i < depth - 1; ++i) body += "<array>";
        body += "<true/>";
        for (int i = 0; i < depth - 1; ++i) body += "</array>";
        return XmlPlist(body);
    };
    EXPECT_NE(Parse(nestedXml(kMaxPlistDepth)), nullptr);
    EXPECT_EQ(Parse(nestedXml(kMaxPlistDepth + 1)), nullptr);

    // Each array holds the next; the last object is a boolean.
    const auto nestedBinary = [](int depth) {
        std::vector<std::string> objects;
        for (int i = 0; i < depth - 1; ++i) objects.push_back(ArrayOf({i + 1}));
        objects.push_back("\x09");
        return Bplist(objects);
    };
    EXPECT_NE(Parse(nestedBinary(kMaxPlistDepth)), nullptr);
    EXPECT_EQ(Parse(nestedBinary(kMaxPlistDepth + 1)), nullptr);
}

// Nesting far past any stack: a clean refusal with a log line, never a
// crash, and the backup still counts with empty device fields.
TEST_F(BackupDirTest, PlistsNestedAHundredThousandLevelsAreRefused) {
    std::string deepXml;
    for (int i = 0; i < 100000; ++i) deepXml += "<dict><key>Lockdown</key>";
    deepXml += "<true/>";
    for (int i = 0; i < 100000; ++i) deepXml += "</dict>";
    deepXml = XmlPlist(deepXml);
    const std::string deepBinary = NestedBinaryPlist(100000);
    ASSERT_NE(Parse(NestedBinaryPlist(kMaxPlistDepth)), nullptr);  // what the generator makes is readable

    for (const auto& [what, manifest, info] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"xml manifest", deepXml, deepBinary},
                                                                        {"binary manifest", deepBinary, deepXml}}) {
        SCOPED_TRACE(what);
        std::string why;
        EXPECT_EQ(Parse(manifest, &why), nullptr);
        EXPECT_FALSE(why.empty());
        const std::wstring folder = L"C:\\Deep\\" + sim::FromUtf8(what);
        MakeLayout(folder);
        WriteBytes(folder + L"\\Manifest.plist", manifest);
        WriteBytes(folder + L"\\Info.plist", info);
        const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
        EXPECT_EQ(item.strPath, folder);
        EXPECT_EQ(item.strDeviceName, L"");
        EXPECT_EQ(item.nSize, static_cast<int64_t>(manifest.size() + info.size()));
        for (const wchar_t* name : {L"Manifest.plist", L"Info.plist"}) {
            const std::string line = "WARN:plist [" + sim::ToUtf8(folder) + "\\" + sim::ToUtf8(name) + "] refused: ";
            EXPECT_NE(LoadTimeLog().find(line), std::string::npos) << line;
        }
    }
}

// A comment inside an internal DTD subset that holds "]>" and then a
// hundred thousand open arrays: a reader that ends the subset at the first
// "]>" (libplist's own XML reader does, and then overflows the stack
// freeing what it built) sees them all; an XML parser sees one comment. The
// document is read as what it is, an empty array.
TEST(PlistParser, MarkupHiddenInADtdCommentIsNotNesting) {
    std::string doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!-- ]> <plist><array>";
    for (int i = 0; i < 100000; ++i) doc += "<array>";
    doc += " --> ]>\n<plist version=\"1.0\"><array/></plist>\n";
    std::string why;
    const PlistPtr root = Parse(doc, &why);
    ASSERT_NE(root, nullptr) << why;
    EXPECT_EQ(plist_get_node_type(root.get()), PLIST_ARRAY);
    EXPECT_EQ(plist_array_get_size(root.get()), 0u);
}

TEST(PlistParser, SharedAndCyclicBinaryObjectsAreRefusedBeforeExpansion) {
    // Eight levels of arrays that each name the next level 14 times: 14^8
    // nodes once expanded, from a file of 200 bytes.
    std::vector<std::string> objects;
    for (int level = 0; level < 8; ++level) objects.push_back(ArrayOf(std::vector<int>(14, level + 1)));
    objects.push_back("\x09");
    const auto start = std::chrono::steady_clock::now();
    std::string why;
    EXPECT_EQ(Parse(Bplist(objects), &why), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_NE(why.find("binary"), std::string::npos) << why;

    // Two levels of sharing stay well inside the bound and are read.
    EXPECT_NE(Parse(Bplist({ArrayOf({1, 1, 1}), ArrayOf({2, 2}), "\x09"})), nullptr);
    // A cycle, a reference past the last object, and a date cut short.
    EXPECT_EQ(Parse(Bplist({ArrayOf({1}), ArrayOf({0})})), nullptr);
    EXPECT_EQ(Parse(Bplist({ArrayOf({5}), "\x09"})), nullptr);
    EXPECT_EQ(Parse(Bplist({std::string("\x33\x7f\xf0\0\0", 5)})), nullptr);
}

TEST_F(BackupDirTest, StringWithANulByteEndsThereInsteadOfEndingTheProcess) {
    // {"Lockdown": {"DeviceName": "A\0B" (UTF-16)}} in binary.
    const std::string plist = Bplist({std::string("\xD1\x01\x02", 3), "\x58Lockdown", std::string("\xD1\x03\x04", 3),
                                      "\x5A" "DeviceName", std::string("\x63\0A\0\0\0B", 7)});
    MakeLayout(kBackup);
    WriteBytes(std::wstring(kBackup) + L"\\Manifest.plist", plist);
    EXPECT_EQ(Parsed(kBackup).strDeviceName, L"A");
}

TEST(PlistParser, TooManyNodesAreRefused) {
    std::string many;
    for (size_t i = 0; i < kMaxPlistNodes; ++i) many += "<true/>";
    EXPECT_EQ(Parse(XmlPlist("<array>" + many + "</array>")), nullptr);
    EXPECT_NE(Parse(XmlPlist("<array>" + many.substr(7) + "</array>")), nullptr);
}

// ------------------------------------------------ generated backups, whole

#ifdef BRISALEN_GENERATOR
TEST_F(BackupDirTest, GeneratedBackupsMatchWhatTheGeneratorWrote) {
    const std::string root = Host(L"C:\\Gen");
    const std::string command = std::string("'") + BRISALEN_PYTHON + "' '" + BRISALEN_GENERATOR + "' backups '" + root +
                                "' --count 4 --files-per-backup 12 --hostile";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(root + "/user-data.json");
    const nlohmann::json summary = nlohmann::json::parse(in);
    ASSERT_EQ(summary.at("backups").size(), 4u);
    for (const auto& backup : summary.at("backups")) {
        const std::wstring folder =
            L"C:\\Gen\\" + fs::path(backup.at("path").get<std::string>()).filename().wstring();
        const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
        const std::string form = backup.at("form");
        EXPECT_EQ(sim::ToUtf8(item.strDeviceName), backup.at("device_name").get<std::string>()) << form;
        EXPECT_EQ(sim::ToUtf8(item.strVersion), backup.at("version").get<std::string>()) << form;
        EXPECT_EQ(sim::ToUtf8(item.strDeviceId), backup.at("device_id").get<std::string>()) << form;
        EXPECT_EQ(item.nDate, backup.at("date_unix").get<int64_t>()) << form;
        EXPECT_EQ(item.nSize, backup.at("size").get<int64_t>()) << form;
    }
    ASSERT_EQ(summary.at("hostile").size(), 6u);
    for (const auto& hostile : summary.at("hostile")) {
        const std::wstring folder =
            L"C:\\Gen\\" + fs::path(hostile.at("path").get<std::string>()).filename().wstring();
        const ST_ITUNES_USER_DATA_ITEM item = Parsed(folder);
        EXPECT_EQ(item.strDeviceName, L"") << hostile.at("hostile");
        EXPECT_EQ(item.strDeviceName.find(L"root:"), std::wstring::npos);
    }
}
#endif

}  // namespace
