// The package check of the simulated machine: packages that fault libmsi
// are answered 1620 while this process carries on, every version of a
// package is checked once, and without a working check no package is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Brisalen/MsiDB.h"
#include "FixturePackages.h"
#include "ScratchFolder.h"
#include "platform/sim/processes/ChildProcess.h"
#include "platform/sim/installer/PackageGuard.h"
#include "platform/sim/installer/PackageQueries.h"
#include "platform/sim/installer/PackageVerdictStore.h"
#include "platform/sim/installer/PackageVerdicts.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/Utf8.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kInvalidPackage = 1620;
constexpr wchar_t kFeatureQuery[] = L"SELECT Feature, Title FROM Feature";

std::string TestData(const std::string& file) { return std::string(BRISALEN_TEST_DATA_DIR) + "/" + file; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Rewrites a file in place: same inode, and with `keepTimes` the same
// modification time, as a careless copy that preserves times leaves it.
void Overwrite(const std::string& host, const std::string& content, bool keepTimes) {
    struct stat before {};
    ASSERT_EQ(::stat(host.c_str(), &before), 0);
    {
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out << content;
        ASSERT_TRUE(out.good());
    }
    if (keepTimes) {
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
    }
}

// File times come from a clock that moves in ticks; a verdict on a file
// written in the tick its check began is not kept. Tests that count checks
// wait for the tick to pass after writing.
void LetTheClockTick() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

class PackageGuardTest : public FixtureMachineTest {
protected:
    void SetUp() override {
        FixtureMachineTest::SetUp();
        sim::SetPackageCheckSettings({});
    }
    void TearDown() override {
        sim::SetPackageCheckSettings({});
        FixtureMachineTest::TearDown();
    }

    platform::IInstaller& Msi() { return Os().Installer(); }

    // A host file copied onto the machine at `winPath`.
    std::wstring Place(const std::string& hostFile, const std::wstring& winPath) {
        const std::string host = Host(winPath);
        fs::create_directories(fs::path(host).parent_path());
        fs::copy_file(hostFile, host, fs::copy_options::overwrite_existing);
        return winPath;
    }

    uint32_t Open(const std::wstring& path) { return Msi().OpenDatabase(path).Error(); }

    // A shell script that stands in for the check program.
    std::string StandIn(const std::string& body) {
        const std::string path = folder_ + "/stand-in.sh";
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }

    void UseProgram(const std::string& program, std::chrono::milliseconds timeLimit = std::chrono::seconds(10)) {
        sim::PackageCheckSettings settings;
        settings.program = program;
        settings.timeLimit = timeLimit;
        sim::SetPackageCheckSettings(settings);
    }
};

// The wait status of the check program run directly on `package`.
int RunCheckProgram(const std::string& package, const std::vector<std::string>& queries) {
    sim::ChildProcess child;
    std::vector<std::string> args{package};
    args.insert(args.end(), queries.begin(), queries.end());
    EXPECT_EQ(child.Start(sim::DefaultPackageCheckProgram(), args, {}), 0);
    int status = 0;
    bool known = false;
    EXPECT_TRUE(child.WaitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(20), status, known));
    EXPECT_TRUE(known);
    return status;
}

TEST_F(PackageGuardTest, TheReproducersStillFaultLibmsi) {
    // The tests below rely on these packages killing a reader; if a libmsi
    // update mends them, new ones are needed (see tests/data/README.md).
    int status = RunCheckProgram(TestData("open-crash.msi"), {});
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    status = RunCheckProgram(TestData("feature-query-crash.msi"), sim::QueriesCheckedAtOpen());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    status = RunCheckProgram(TestData("feature-query-crash.msi"), {sim::ToUtf8(kFeatureQuery)});
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
}

TEST_F(PackageGuardTest, APackageThatFaultsTheReaderIsInvalidEverywhere) {
    const std::wstring package = Place(TestData("open-crash.msi"), L"C:\\Packages\\Bonjour64.msi");
    EXPECT_EQ(Open(package), kInvalidPackage);
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    EXPECT_FALSE(db.Init(package));
    EXPECT_EQ(Msi().InstallProduct(package, L""), kInvalidPackage);
    EXPECT_TRUE(sim::ListProducts(*machine_).empty());
}

TEST_F(PackageGuardTest, AQueryThatFaultsTheReaderIsCheckedBeforeItRuns) {
    const std::wstring package = Place(TestData("feature-query-crash.msi"), L"C:\\Packages\\Bonjour64.msi");
    // The refusal below is only kept for a file older than the check's tick.
    LetTheClockTick();
    auto database = Msi().OpenDatabase(package);
    ASSERT_EQ(database.Error(), 0u);
    auto refused = (*database)->OpenView(kFeatureQuery);
    EXPECT_EQ(refused.Error(), kInvalidPackage);
    EXPECT_FALSE(refused);
    // Whatever the check at open ran stays readable.
    auto view = (*database)->OpenView(sim::sql::kProperty);
    ASSERT_EQ(view.Error(), 0u);
    ASSERT_EQ((*view)->Execute(), 0u);
    EXPECT_EQ((*view)->Fetch().Error(), 0u);
    // Once a version of a package has faulted the check, it is refused.
    EXPECT_EQ(Open(package), kInvalidPackage);
}

TEST_F(PackageGuardTest, RepairFromADamagedCachedPackageFailsAndKeepsTheProduct) {
    const FixturePackage& bonjour = Fixture("Bonjour64.msi");
    ASSERT_EQ(Msi().InstallProduct(CopyPackage("Bonjour64.msi"), L""), 0u);
    std::wstring cached;
    ASSERT_EQ(Msi().GetProductInfo(bonjour.productCode, L"LocalPackage", cached), 0u);
    Place(TestData("open-crash.msi"), cached);

    EXPECT_EQ(Msi().ConfigureProduct(bonjour.productCode, platform::kInstallLevelDefault, 5), kInvalidPackage);
    EXPECT_EQ(Msi().ConfigureProductEx(bonjour.productCode, platform::kInstallLevelDefault, 3, L"REINSTALL=ALL"),
              kInvalidPackage);
    EXPECT_TRUE(sim::FindProduct(*machine_, bonjour.productCode).has_value());
    // Removal needs no package.
    EXPECT_EQ(Msi().ConfigureProduct(bonjour.productCode, platform::kInstallLevelDefault,
                                     platform::kInstallStateAbsent),
              0u);
}

TEST_F(PackageGuardTest, EachVersionOfAPackageIsCheckedOnce) {
    const std::wstring package = Place(FixturePath("Bonjour64.msi"), L"C:\\Packages\\Bonjour64.msi");
    const std::string host = Host(package);
    LetTheClockTick();
    const uint64_t before = sim::PackageChecksStarted();
    EXPECT_EQ(Open(package), 0u);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 1);
    // The library's whole read of a package needs no further check.
    CMsiDB db(platform::Os(), CCollectDirMgr::Instance());
    ASSERT_TRUE(db.Init(package));
    std::vector<std::wstring> services;
    db.QueryServiceInstall(services);
    EXPECT_EQ(services, Fixture("Bonjour64.msi").services);
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    db.CheckItunesProductFile(4, L"C:\\Program Files\\Bonjour\\", checked, bad, missing);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 1);

    // The same size and modification time, other bytes: a new version.
    const std::string damaged = ReadAll(TestData("open-crash.msi"));
    ASSERT_EQ(damaged.size(), fs::file_size(host));
    Overwrite(host, damaged, true);
    LetTheClockTick();
    EXPECT_EQ(Open(package), kInvalidPackage);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 2);
    EXPECT_EQ(Open(package), kInvalidPackage);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 2);

    Overwrite(host, ReadAll(FixturePath("Bonjour64.msi")), true);
    LetTheClockTick();
    EXPECT_EQ(Open(package), 0u);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 3);
}

TEST_F(PackageGuardTest, VerdictsKeptWithTheMachineServeLaterProcesses) {
    const std::wstring sound = Place(FixturePath("Bonjour64.msi"), L"C:\\Packages\\Bonjour64.msi");
    const std::wstring damaged = Place(TestData("open-crash.msi"), L"C:\\Packages\\Damaged.msi");
    LetTheClockTick();
    const uint64_t before = sim::PackageChecksStarted();
    EXPECT_EQ(Open(sound), 0u);
    EXPECT_EQ(Open(damaged), kInvalidPackage);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 2);

    // A new process starts with no verdicts of its own.
    sim::SetPackageCheckSettings({});
    EXPECT_EQ(Open(sound), 0u);
    EXPECT_EQ(Open(damaged), kInvalidPackage);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 2);

    // Verdicts of another check program do not count.
    const std::string program = folder_ + "/other-check";
    fs::copy_file(sim::DefaultPackageCheckProgram(), program);
    UseProgram(program);
    EXPECT_EQ(Open(sound), 0u);
    EXPECT_EQ(Open(damaged), kInvalidPackage);
    EXPECT_EQ(sim::PackageChecksStarted(), before + 4);
}

TEST_F(PackageGuardTest, WithoutAWorkingCheckNoPackageIsRead) {
    const std::wstring package = CopyPackage("Bonjour64.msi");
    UseProgram(folder_ + "/no-such-program");
    EXPECT_EQ(Open(package), kInvalidPackage);
    EXPECT_EQ(Msi().InstallProduct(package, L""), kInvalidPackage);

    const std::string notExecutable = folder_ + "/plain-file";
    std::ofstream(notExecutable) << "#!/bin/sh\necho sound >&4\n";
    UseProgram(notExecutable);
    EXPECT_EQ(Open(package), kInvalidPackage);

    // A check must say it got through; ending quietly is not enough.
    UseProgram(StandIn("exit 0"));
    EXPECT_EQ(Open(package), kInvalidPackage);
    UseProgram(StandIn("echo sound >&4"));
    EXPECT_EQ(Open(package), 0u);
    EXPECT_TRUE(sim::ListProducts(*machine_).empty());
}

TEST_F(PackageGuardTest, ACheckThatHangsIsStoppedAtItsTimeLimit) {
    const std::wstring package = CopyPackage("Bonjour64.msi");
    UseProgram(StandIn("exec sleep 30"), std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(package), kInvalidPackage);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(PackageGuardTest, TheCheckRunsWithBoundedMemory) {
    if (sim::RunningUnderSanitizer()) GTEST_SKIP() << "sanitizer builds bound the check by time only";
    sim::PackageCheckSettings settings;
    settings.memoryMiB = 4;
    sim::SetPackageCheckSettings(settings);
    EXPECT_EQ(Open(CopyPackage("Bonjour64.msi")), kInvalidPackage);
    // Back to the limit the library runs with: a sound package read under
    // 256 MiB once died on a loaded machine, so only the real one is asserted.
    // Another package: the machine keeps the first one's verdict, and trusts
    // it once the package is older than the clock's granularity.
    sim::SetPackageCheckSettings(sim::PackageCheckSettings{});
    EXPECT_EQ(Open(CopyPackage("iTunes64.msi")), 0u);
}

sim::FileVersion Version(int64_t changedNs, int64_t size = 100) {
    sim::FileVersion version;
    version.device = 1;
    version.inode = 7;
    version.size = size;
    version.modifiedNs = 50;
    version.changedNs = changedNs;
    return version;
}

sim::PackageVerdict Sound(std::set<std::string> queries) { return sim::PackageVerdict{true, "", std::move(queries)}; }
sim::PackageVerdict Refused() { return sim::PackageVerdict{false, "died with signal 11", {}}; }

sim::PackageVerdictEntry Entry(const std::string& path, int64_t changedNs, int64_t checkStartedNs,
                               sim::PackageVerdict verdict) {
    return sim::PackageVerdictEntry{path, Version(changedNs), checkStartedNs, std::move(verdict)};
}

TEST(PackageVerdictsTest, AVerdictHoldsForItsVersionAndQueries) {
    sim::PackageVerdicts verdicts;
    verdicts.Remember(Entry("/a.msi", 100, 200, Sound({"q1", "q2"})));
    EXPECT_TRUE(verdicts.Find("/a.msi", Version(100), {"q1", "q2"}));
    EXPECT_FALSE(verdicts.Find("/a.msi", Version(100), {"q1", "q3"}));
    EXPECT_FALSE(verdicts.Find("/b.msi", Version(100), {"q1"}));
    EXPECT_FALSE(verdicts.Find("/a.msi", Version(101), {"q1"}));
    EXPECT_FALSE(verdicts.Find("/a.msi", Version(100, 101), {"q1"}));

    // Queries checked later on the same version add up.
    const sim::PackageVerdictEntry kept = verdicts.Remember(Entry("/a.msi", 100, 300, Sound({"q3"})));
    EXPECT_EQ(kept.verdict.queries, (std::set<std::string>{"q1", "q2", "q3"}));
    EXPECT_TRUE(verdicts.Find("/a.msi", Version(100), {"q1", "q2", "q3"}));

    // A refusal holds whatever is asked.
    verdicts.Remember(Entry("/a.msi", 100, 300, Refused()));
    const auto refused = verdicts.Find("/a.msi", Version(100), {"q9"});
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->sound);
}

TEST(PackageVerdictsTest, AFileStampedInTheTickItsCheckBeganIsCheckedAgain) {
    sim::PackageVerdicts verdicts;
    verdicts.Remember(Entry("/a.msi", 200, 200, Sound({"q1"})));
    EXPECT_FALSE(verdicts.Find("/a.msi", Version(200), {"q1"}));
    verdicts.Remember(Entry("/a.msi", 250, 200, Refused()));
    EXPECT_FALSE(verdicts.Find("/a.msi", Version(250), {}));
    // Nor do queries checked later on such a version add to its verdict.
    verdicts.Remember(Entry("/a.msi", 300, 300, Sound({"q1"})));
    verdicts.Remember(Entry("/a.msi", 300, 400, Sound({"q2"})));
    EXPECT_FALSE(verdicts.Find("/a.msi", Version(300), {"q1"}));
    EXPECT_TRUE(verdicts.Find("/a.msi", Version(300), {"q2"}));
}

class PackageVerdictStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(Package("a.msi")) << "a";
        std::ofstream(Package("b.msi")) << "b";
    }
    std::string Package(const std::string& name) const { return folder_ + "/" + name; }
    std::string StoreFile() const { return folder_ + "/" + sim::PackageVerdictStore::kFileName; }

    ScratchFolder scratch_{"brisalen-verdicts"};
    const std::string& folder_ = scratch_.Path();
};

TEST_F(PackageVerdictStoreTest, KeepsTrustedVerdictsUnderItsStamp) {
    const sim::PackageVerdictStore store(StoreFile(), "checker 1");
    ASSERT_TRUE(store.Save(Entry(Package("a.msi"), 100, 200, Sound({"q1", "q2"}))));
    ASSERT_TRUE(store.Save(Entry(Package("b.msi"), 100, 200, Refused())));
    ASSERT_TRUE(store.Save(Entry(Package("c.msi"), 100, 200, Sound({"q1"}))));  // no such file
    ASSERT_TRUE(store.Save(Entry(Package("b.msi"), 300, 300, Sound({"q1"}))));   // not trusted: kept as it was

    std::map<std::string, sim::PackageVerdictEntry> loaded;
    for (const sim::PackageVerdictEntry& entry : store.Load()) loaded[entry.path] = entry;
    ASSERT_EQ(loaded.size(), 2u);
    const sim::PackageVerdictEntry& a = loaded.at(Package("a.msi"));
    EXPECT_TRUE(a.version == Version(100));
    EXPECT_EQ(a.checkStartedNs, 200);
    EXPECT_TRUE(a.verdict.sound);
    EXPECT_EQ(a.verdict.queries, (std::set<std::string>{"q1", "q2"}));
    const sim::PackageVerdictEntry& b = loaded.at(Package("b.msi"));
    EXPECT_FALSE(b.verdict.sound);
    EXPECT_EQ(b.verdict.detail, "died with signal 11");

    // Another check program or libmsi may judge otherwise.
    EXPECT_TRUE(sim::PackageVerdictStore(StoreFile(), "checker 2").Load().empty());
    // A verdict on a file that has gone goes at the next write.
    fs::remove(Package("b.msi"));
    ASSERT_TRUE(store.Save(Entry(Package("a.msi"), 100, 200, Sound({"q3"}))));
    ASSERT_EQ(store.Load().size(), 1u);
    EXPECT_EQ(store.Load().front().verdict.queries, (std::set<std::string>{"q3"}));
}

TEST_F(PackageVerdictStoreTest, ADamagedFileIsAsGoodAsNone) {
    const sim::PackageVerdictStore store(StoreFile(), "checker 1");
    for (const char* text : {"", "{", "[1, 2]", "{\"stamp\": \"checker 1\", \"packages\": 7}",
                             "{\"stamp\": \"checker 1\", \"packages\": [{\"path\": 3}, 5]}"}) {
        std::ofstream(StoreFile(), std::ios::trunc) << text;
        EXPECT_TRUE(store.Load().empty()) << text;
    }
    ASSERT_TRUE(store.Save(Entry(Package("a.msi"), 100, 200, Sound({"q1"}))));
    EXPECT_EQ(store.Load().size(), 1u);
}

}  // namespace
