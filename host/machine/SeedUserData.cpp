// brisalen machine seed-user-data: lays a used profile out on the machine the
// host acts on and says what a scan of it must find.
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include "host/HostText.h"
#include "host/machine/SeedManifest.h"
#include "host/machine/SetupCommands.h"
#include "host/machine/UserDataSeed.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kErrorAlreadyExists = 183;

struct SeedChoice {
    uint64_t seed = 20261206;
    int files = 300;
    std::string manifest;
};

// Writes the plan through the machine's file functions, making folders as
// it goes.
class SeedWriter {
public:
    explicit SeedWriter(platform::IFileSystem& files) : files_(files) {}

    // Paths of the plan that are there already; the seeder adds, never replaces.
    std::vector<std::wstring> Existing(const seed::SeedPlan& plan) {
        std::vector<std::wstring> found;
        for (const seed::PlannedFile& file : plan.files) {
            if (files_.Exists(file.path)) found.push_back(file.path);
        }
        return found;
    }

    // The path that could not be written, or empty.
    std::wstring Write(const seed::SeedPlan& plan) {
        for (const seed::PlannedFile& file : plan.files) {
            if (!MakeFolders(file.path.substr(0, file.path.find_last_of(L'\\')))) return file.path;
            auto opened = files_.Open(file.path, platform::OpenMode::Truncate);
            if (!opened) return file.path;
            const std::string bytes = file.literal ? file.bytes : seed::FillerBytes(file.fill, file.size);
            if (!bytes.empty() && !(*opened)->Write(bytes.data(), bytes.size())) return file.path;
        }
        return std::wstring();
    }

private:
    bool MakeFolders(const std::wstring& folder) {
        if (made_.count(folder)) return true;
        // Every ancestor below the drive root ("C:\a", "C:\a\b", ...).
        for (size_t at = folder.find(L'\\', 3); ; at = folder.find(L'\\', at + 1)) {
            const std::wstring part = folder.substr(0, at);
            if (!made_.count(part)) {
                const uint32_t error = files_.CreateDirectory(part);
                if (error != 0 && error != kErrorAlreadyExists) return false;
                made_.insert(part);
            }
            if (at == std::wstring::npos) break;
        }
        return true;
    }

    platform::IFileSystem& files_;
    std::set<std::wstring> made_;
};

int SeedUserData(HostContext& host, const SeedChoice& choice) {
    const seed::SeedFolders folders = seed::MachineSeedFolders();
    if (folders.myMusic.empty() || folders.appData.empty() || folders.localAppData.empty() ||
        folders.programData.empty()) {
        std::cerr << "brisalen: seed-user-data: the machine lacks one of the My Music, AppData, Local AppData "
                     "and ProgramData folders\n";
        return 2;
    }
    const seed::SeedPlan plan = seed::PlanUserData(folders, choice.seed, choice.files);
    SeedWriter writer(platform::Os().Files());
    const std::vector<std::wstring> existing = writer.Existing(plan);
    if (!existing.empty()) {
        std::cerr << "brisalen: seed-user-data: " << existing.size()
                  << " of the files to write exist already (first: " << ToUtf8(existing.front())
                  << "); nothing was written\n";
        return 2;
    }
    const std::wstring failed = writer.Write(plan);
    if (!failed.empty()) {
        std::cerr << "brisalen: seed-user-data: could not write " << ToUtf8(failed) << "\n";
        return 1;
    }
    const nlohmann::json manifest = seed::ExpectedManifest(plan, choice.seed, choice.files);
    if (!choice.manifest.empty()) {
        std::ofstream out(choice.manifest, std::ios::binary | std::ios::trunc);
        out << manifest.dump(1) << "\n";
        if (!out) {
            std::cerr << "brisalen: seed-user-data: could not write the manifest " << choice.manifest << "\n";
            return 1;
        }
    }
    if (host.json) {
        std::cout << manifest.dump(1) << "\n";
    } else {
        std::cout << "seeded " << manifest["written"]["files"] << " files (" << manifest["written"]["bytes"]
                  << " bytes) and " << plan.backups.size() << " backups; library " << ToUtf8(plan.libraryFile)
                  << " with " << plan.library.size() << " entries\n";
    }
    return 0;
}

}  // namespace

void AddUserDataSeedCommands(CLI::App& machine, HostAction& action) {
    static SeedChoice choice;
    choice = {};
    CLI::App* seedCommand = machine.add_subcommand(
        "seed-user-data", "lay out used media-player data (media, library, updates, junk, two backups)");
    seedCommand->add_option("--seed", choice.seed, "the same seed lays out the same files");
    seedCommand->add_option("--files", choice.files, "media and junk files to spread over the categories")
        ->check(CLI::Range(0, 10000000));
    seedCommand->add_option("--manifest", choice.manifest, "write the expected scan results (JSON) to this file");
    seedCommand->callback([&action] { action = [](HostContext& host) { return SeedUserData(host, choice); }; });
}
