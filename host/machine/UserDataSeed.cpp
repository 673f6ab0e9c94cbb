#include "host/machine/UserDataSeed.h"

#include <algorithm>
#include <functional>
#include <random>

#include "host/HostText.h"
#include "host/machine/SeedPlists.h"
#include "platform/KnownFolders.h"
#include "platform/Platform.h"

namespace seed {

namespace {

// Names with blanks, accents, other scripts and dots, as real tags give them.
const wchar_t* const kArtists[] = {L"Björk",        L"Sigur Rós",  L"The Beatles", L"Ólafur Arnalds",
                                   L"坂本龍一",     L"Tom Waits",  L"Мумий Тролль", L"Zoë Keating",
                                   L"AC_DC",        L"Daft Punk",  L"R.E.M",        L"Céline Dion"};
const wchar_t* const kAlbums[] = {L"Greatest Hits", L"Live at Café Oto", L"Ágætis byrjun", L"Vol. 2",
                                  L"Homogenic",     L"Abbey Road",       L"Rain Dogs",     L"Été 1999"};
const wchar_t* const kTitles[] = {L"Intro",     L"Hoppípolla", L"Glósóli",   L"Something", L"Naïve Song",
                                  L"Jóga",      L"Über Alles", L"Night Drive", L"Fête",    L"Ünder the Sea"};
const char* const kDevices[][2] = {{"iPhone de Zoé", "17.5.1"}, {"iPad", "16.7.8"}, {"iPhone", "18.0"},
                                   {"iPod touch", "15.8.2"}};

// Hashed backup files: enough two-character folders that the layout test
// takes the folder for a backup.
constexpr int kBackupHashedFiles = 16;
constexpr size_t kLibraryTrackLimit = 2000;

std::wstring Join(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

std::wstring Number(uint64_t value, int width = 0) {
    std::wstring text = std::to_wstring(value);
    if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), L'0');
    return text;
}

// The drive of a folder ("C:"), where the deep-scan backup goes.
std::wstring DriveOf(const std::wstring& folder) { return folder.size() >= 2 ? folder.substr(0, 2) : L"C:"; }

// The random parts of one bulk file's name, drawn in a fixed order (the
// operands of one expression have none).
struct Draw {
    std::wstring artist, album, title, hex2, hex8, hex16;
    uint64_t small = 0, year = 0;
};

// A place bulk files go: one category folder and how names are made there.
struct Slot {
    int weight;
    bool track;  // a media file the library lists
    std::function<std::wstring(uint64_t index, const Draw& draw)> path;
};

class UserDataPlanner {
public:
    UserDataPlanner(const SeedFolders& folders, uint64_t seed) : rng_(seed) { plan_.folders = folders; }

    SeedPlan Plan(int bulkFiles) {
        AddBulk(bulkFiles);
        AddFixedFiles();
        AddBackup(Join(plan_.folders.appData, L"Apple Computer\\MobileSync\\Backup"), true, false);
        AddBackup(DriveOf(plan_.folders.myMusic) + L"\\OldPhoneBackups", false, true);
        AddLibrary();
        return std::move(plan_);
    }

private:
    uint64_t Pick(uint64_t count) { return rng_() % count; }
    template <size_t N>
    std::wstring Pick(const wchar_t* const (&names)[N]) { return names[Pick(N)]; }

    std::wstring Hex(size_t digits) {
        static const char kDigits[] = "0123456789abcdef";
        std::wstring text;
        for (size_t i = 0; i < digits; ++i) text += static_cast<wchar_t>(kDigits[Pick(16)]);
        return text;
    }

    void AddFiller(const std::wstring& path, uint64_t maxSize, bool inBackup = false) {
        PlannedFile file;
        file.path = path;
        file.size = Pick(maxSize + 1);
        file.fill = rng_();
        file.inBackup = inBackup;
        plan_.files.push_back(std::move(file));
    }

    void AddLiteral(const std::wstring& path, std::string bytes, bool inBackup = false) {
        PlannedFile file;
        file.path = path;
        file.size = bytes.size();
        file.bytes = std::move(bytes);
        file.literal = true;
        file.inBackup = inBackup;
        plan_.files.push_back(std::move(file));
    }

    Draw NextDraw(uint64_t index) {
        Draw d;
        d.artist = Pick(kArtists);
        d.album = Pick(kAlbums);
        d.title = Pick(kTitles) + L" " + Number(index);
        d.hex2 = Hex(2);
        d.hex8 = Hex(8);
        d.hex16 = Hex(16);
        d.small = Pick(4) + 1;
        d.year = 2015 + Pick(8);
        return d;
    }

    std::vector<Slot> Slots() const {
        const SeedFolders& f = plan_.folders;
        const std::wstring media = Join(f.myMusic, L"iTunes\\iTunes Media");
        const std::wstring roaming = Join(f.appData, L"Apple Computer\\iTunes");
        using D = const Draw&;
        return {
            {30, true, [=](uint64_t, D d) { return Join(media, L"Music\\" + d.artist + L"\\" + d.album + L"\\" +
                                                              Number(d.small, 2) + L" " + d.title + L".m4a"); }},
            {6, true, [=](uint64_t, D d) { return Join(media, L"Apple Music\\" + d.artist + L"\\" + d.album + L"\\" +
                                                             d.title + L".m4p"); }},
            {3, true, [=](uint64_t, D d) { return Join(media, L"Movies\\" + d.title + L"\\" + d.title + L".m4v"); }},
            {2, false, [=](uint64_t i, D d) { return Join(media, L"Home Videos\\" + Number(d.year) + L"\\IMG_" +
                                                                Number(i, 4) + L".MOV"); }},
            {3, true, [=](uint64_t, D d) { return Join(media, L"TV Shows\\" + d.album + L"\\Season " + Number(d.small) +
                                                             L"\\" + d.title + L".m4v"); }},
            {4, true, [=](uint64_t, D d) { return Join(media, L"Podcasts\\" + d.artist + L" Talks\\" + d.title +
                                                             L".mp3"); }},
            {2, true, [=](uint64_t i, D d) { return Join(media, L"Audiobooks\\" + d.artist + L"\\" + d.album +
                                                               L"\\Part " + Number(i) + L".m4b"); }},
            {1, false, [=](uint64_t i, D d) { return Join(media, L"iTunes U\\Course " + Number(d.small) +
                                                                L"\\Lecture " + Number(i) + L".mp4"); }},
            {1, false, [=](uint64_t i, D) { return Join(media, L"Voice Memos\\Memo " + Number(i) + L".m4a"); }},
            {2, false, [=](uint64_t, D d) { return Join(media, L"Books\\" + d.artist + L"\\" + d.title + L".epub"); }},
            {1, false, [=](uint64_t, D d) { return Join(media, L"Tones\\" + d.title + L".m4r"); }},
            {1, false, [=](uint64_t, D d) { return Join(media, L"Downloads\\" + d.artist + L"\\" + d.title +
                                                              L".download"); }},
            {2, false, [=](uint64_t i, D) { return Join(media, L"Mobile Applications\\App " + Number(i) + L" 1.0.ipa"); }},
            {1, false, [=](uint64_t i, D d) { return Join(f.localAppData, L"Apple\\Apple Software Update\\{" + d.hex8 +
                                                                         L"}\\AppleSoftwareUpdate " + Number(i) + L".msi"); }},
            {1, false, [=](uint64_t i, D) { return Join(roaming, L"iPhone Software Updates\\iPhone_" + Number(i) +
                                                                L"_Restore.ipsw"); }},
            {1, false, [=](uint64_t i, D) { return Join(roaming, L"iPad Software Updates\\iPad_" + Number(i) +
                                                                L"_Restore.ipsw"); }},
            {1, false, [=](uint64_t i, D) { return Join(f.programData, L"Apple Computer\\iTunes\\iPod_" + Number(i) +
                                                                      L"_Restore.ipsw"); }},
            {1, false, [=](uint64_t i, D d) { return Join(f.programData, L"Apple\\Installer Cache\\iTunes 12.13." +
                                                                        Number(d.small) + L"\\part " + Number(i) + L".cab"); }},
            {1, false, [=](uint64_t i, D) { return Join(f.programData, L"Apple Computer\\Installer Cache\\AppleMobile" +
                                                                      Number(i) + L".msi"); }},
            {3, false, [=](uint64_t i, D d) { return Join(f.myMusic, L"iTunes\\Album Artwork\\Cache\\" + d.hex16 +
                                                                    L"\\" + Number(i) + L".itc"); }},
            {1, false, [=](uint64_t i, D) { return Join(roaming, L"Cookies\\Cookies " + Number(i) + L".binarycookies"); }},
            {1, false, [=](uint64_t i, D) { return Join(f.appData, L"Apple Computer\\Logs\\CrashReporter\\iTunes_" +
                                                                  Number(i) + L".crash"); }},
            {1, false, [=](uint64_t i, D) { return Join(roaming, L"iPhone Updater Logs\\iPhoneUpdater " + Number(i) +
                                                                L".log"); }},
            {1, false, [=](uint64_t i, D) { return Join(f.appData, L"Apple Computer\\Preferences\\pref " + Number(i) +
                                                                  L".plist"); }},
            {1, false, [=](uint64_t i, D) { return Join(f.localAppData, L"Apple Computer\\iTunes\\SubscriptionPlayCache\\" +
                                                                       Number(i) + L".tmp"); }},
            {1, false, [=](uint64_t i, D) { return Join(f.programData, L"Apple\\SoftwareUpdate\\stray " + Number(i) +
                                                                      L".dat"); }},
            {1, false, [=](uint64_t i, D d) { return Join(f.myMusic, L"iTunes\\Album Artwork\\Download\\" + d.hex2 +
                                                                    L"\\" + Number(i) + L".itc"); }},
        };
    }

    // Every place gets one file first; the rest go by weight.
    void AddBulk(int bulkFiles) {
        const std::vector<Slot> slots = Slots();
        int totalWeight = 0;
        for (const Slot& slot : slots) totalWeight += slot.weight;
        const uint64_t count = std::max<uint64_t>(static_cast<uint64_t>(std::max(bulkFiles, 0)), slots.size());
        for (uint64_t i = 0; i < count; ++i) {
            size_t chosen = i;
            if (i >= slots.size()) {
                int ticket = static_cast<int>(Pick(static_cast<uint64_t>(totalWeight)));
                for (chosen = 0; ticket >= slots[chosen].weight; ++chosen) ticket -= slots[chosen].weight;
            }
            const Slot& slot = slots[chosen];
            const Draw draw = NextDraw(i);
            AddFiller(slot.path(i, draw), 1535);
            if (slot.track) tracks_.push_back(plan_.files.size() - 1);
        }
    }

    void AddFixedFiles() {
        const SeedFolders& f = plan_.folders;
        const std::wstring itunes = Join(f.myMusic, L"iTunes");
        plan_.libraryFile = Join(itunes, L"iTunes Library.itl");
        // The library itself and its XML export are added with the tracks.
        AddFiller(Join(itunes, L"iTunes Library Genius.itdb"), 8192);
        AddFiller(Join(itunes, L"iTunes Library Extras.itdb"), 0);
        AddFiller(Join(itunes, L"Previous iTunes Libraries\\iTunes Library 2023-05-01.itl"), 8192);
        AddFiller(Join(itunes, L"iTunes Media\\.iTunes Preferences.plist"), 512);
        AddFiller(Join(f.programData, L"Apple\\Lockdown\\" + Hex(40) + L".plist"), 4096);
        AddFiller(Join(f.programData, L"Apple\\Lockdown\\SystemConfiguration.plist"), 1024);
        AddFiller(Join(f.programData, L"Apple Computer\\iTunes\\SC Info\\SC Info.sidb"), 4096);
        AddFiller(Join(f.appData, L"Apple Computer\\Preferences\\com.apple.iTunes.plist"), 2048);
        AddFiller(Join(f.appData, L"Apple Computer\\MobileSync\\stray.plist"), 256);
        AddFiller(Join(f.localAppData, L"Apple Computer\\stray.tmp"), 256);
        AddFiller(Join(f.localAppData, L"Apple\\Apple Software Update\\ApplicationHistory.plist"), 1024);
    }

    void AddBackup(const std::wstring& parent, bool binary, bool deep) {
        PlannedBackup backup;
        backup.deviceId = ToUtf8(Hex(40));
        backup.folder = Join(parent, FromUtf8(backup.deviceId));
        const auto& device = kDevices[Pick(4)];
        backup.deviceName = device[0];
        backup.version = device[1];
        backup.binary = binary;
        backup.deep = deep;
        // Noon UTC of a day in 2020-2024: 2020-01-01 is 1577836800.
        backup.dateUnix = 1577836800 + static_cast<int64_t>(Pick(5 * 365)) * 86400 + 43200;
        const size_t first = plan_.files.size();
        AddLiteral(Join(backup.folder, L"Manifest.plist"), BackupManifestPlist(backup), true);
        AddLiteral(Join(backup.folder, L"Info.plist"), BackupInfoPlist(backup), true);
        AddLiteral(Join(backup.folder, L"Status.plist"), BackupStatusPlist(backup), true);
        std::string database = std::string("SQLite format 3", 16);
        database += FillerBytes(rng_(), 4080);
        AddLiteral(Join(backup.folder, L"Manifest.db"), std::move(database), true);
        // Distinct two-character folders, each holding 40-character names.
        const uint64_t start = Pick(256);
        for (int i = 0; i < kBackupHashedFiles; ++i) {
            static const char kDigits[] = "0123456789abcdef";
            const uint64_t prefix = (start + static_cast<uint64_t>(i) * 13) % 256;
            std::wstring name{static_cast<wchar_t>(kDigits[prefix / 16]), static_cast<wchar_t>(kDigits[prefix % 16])};
            name += Hex(38);
            AddFiller(Join(backup.folder, name.substr(0, 2) + L"\\" + name), 8191, true);
        }
        for (size_t i = first; i < plan_.files.size(); ++i) backup.size += plan_.files[i].size;
        plan_.backups.push_back(std::move(backup));
    }

    // Tracks that exist, tracks whose files are already gone, and remote ones.
    void AddLibrary() {
        std::vector<LibraryEntry>& entries = plan_.library;
        for (size_t i = 0; i < tracks_.size() && entries.size() < kLibraryTrackLimit; ++i) {
            const std::wstring& path = plan_.files[tracks_[i]].path;
            entries.push_back({FileLocation(path), path, false, true});
        }
        const std::wstring music = Join(plan_.folders.myMusic, L"iTunes\\iTunes Media");
        const size_t gone = 3 + entries.size() / 50;
        for (size_t i = 0; i < gone; ++i) {
            const std::wstring path = Join(music, (i % 3 == 2 ? L"Movies\\Lost Film\\" : L"Music\\Lost Artist\\Gone Album\\") +
                                                      Number(i + 1, 2) + L" Missing Ünïcode " + Number(i) + L".m4a");
            entries.push_back({FileLocation(path), path, false, false});
        }
        for (const char* remote : {"http://podcasts.example.com/feed/episode%201.mp3",
                                   "http://radio.example.org/stream", "https://example.net/a/b.m4a"}) {
            entries.push_back({remote, std::wstring(), true, false});
        }
        // Spread the three kinds through the file, as a library that grew.
        std::shuffle(entries.begin(), entries.end(), rng_);
        const std::string xml = LibraryPlist(entries, FileLocation(music) + "/");
        const std::wstring itunes = Join(plan_.folders.myMusic, L"iTunes");
        AddLiteral(plan_.libraryFile, xml);
        AddLiteral(Join(itunes, L"iTunes Library.xml"), xml);
    }

    std::mt19937_64 rng_;
    SeedPlan plan_;
    std::vector<size_t> tracks_;  // indexes into plan_.files
};

}  // namespace

SeedFolders MachineSeedFolders() {
    platform::IMachineInfo& machine = platform::Os().Machine();
    return {machine.SpecialFolder(platform::csidl::kMyMusic), machine.SpecialFolder(platform::csidl::kAppData),
            machine.SpecialFolder(platform::csidl::kLocalAppData),
            machine.SpecialFolder(platform::csidl::kCommonAppData)};
}

SeedPlan PlanUserData(const SeedFolders& folders, uint64_t seed, int bulkFiles) {
    return UserDataPlanner(folders, seed).Plan(bulkFiles);
}

std::string FillerBytes(uint64_t fill, uint64_t size) {
    std::string bytes(size, '\0');
    uint64_t state = fill | 1;
    for (char& byte : bytes) {
        // xorshift64: cheap, and the same on every build.
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state & 0xff);
    }
    return bytes;
}

std::string FileLocation(const std::wstring& windowsPath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring forward = windowsPath;
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    std::string location = "file://localhost/";
    for (const unsigned char c : ToUtf8(forward)) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || c == ':';
        if (plain) {
            location += static_cast<char>(c);
        } else {
            location += '%';
            location += kHex[c >> 4];
            location += kHex[c & 15];
        }
    }
    return location;
}

}  // namespace seed
