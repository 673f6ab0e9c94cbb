// The simulated Windows Installer against the fixture packages: what the
// package databases read, and what installing and uninstalling each package
// does to the machine, checked against the fixtures' own manifest.
#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "SimMachineFixture.h"
#include "platform/Registry.h"
#include "platform/sim/installer/SimMsiExpressions.h"
#include "platform/sim/installer/SimMsiPlan.h"
#include "platform/sim/installer/SimProducts.h"
#include "platform/sim/processes/SimServices.h"
#include "platform/sim/Utf8.h"

namespace {

using sim::FromUtf8;
namespace fs = std::filesystem;

constexpr uint32_t kNoMoreItems = 259;
constexpr int kNullInteger = static_cast<int>(0x80000000u);

std::string FixtureFile(const std::string& name) { return std::string(BRISALEN_FIXTURES_DIR) + "/" + name; }

const nlohmann::json& Manifest(const std::string& package) {
    static const nlohmann::json manifest = [] {
        std::ifstream in(FixtureFile("fixtures.json"));
        return nlohmann::json::parse(in);
    }();
    for (const nlohmann::json& entry : manifest.at("packages")) {
        if (entry.at("file") == package) return entry;
    }
    throw std::runtime_error("no fixture package " + package);
}

std::wstring Text(const nlohmann::json& value) { return value.is_string() ? FromUtf8(value.get<std::string>()) : L""; }

const char* const kPackages[] = {"iTunes.msi",  "iTunes64.msi", "AppleSoftwareUpdate.msi", "AppleMobileDeviceSupport64.msi",
                                 "Bonjour64.msi", "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"};

// Whether a component with this condition goes in on Windows 10 and on
// Windows 7. A condition the fixtures gain later must be added here.
std::optional<std::pair<bool, bool>> Installs(const nlohmann::json& condition) {
    static const std::map<std::string, std::pair<bool, bool>> known{
        {"", {true, true}},
        {"VersionNT>=602", {true, false}},
        {"VersionNT >= 602", {true, false}},
        {"VersionNT>=600", {true, true}},
        {"VersionNT>=601 AND NOT Installed", {true, true}},
        {"VersionNT<602", {false, true}},
        {"NOT UCRTInstalled", {true, true}},
    };
    auto it = known.find(condition.is_string() ? condition.get<std::string>() : "");
    if (it == known.end()) return std::nullopt;
    return it->second;
}

class SimInstallerTest : public SimMachineTest {
protected:
    platform::IInstaller& Msi() { return Os().Installer(); }

    std::wstring CopyPackage(const std::string& package) {
        const std::wstring target = L"C:\\Packages\\" + FromUtf8(package);
        fs::create_directories(fs::path(Host(target)).parent_path());
        fs::copy_file(FixtureFile(package), Host(target), fs::copy_options::overwrite_existing);
        return target;
    }

    uint32_t Install(const std::string& package, const std::wstring& commandLine = L"") {
        return Msi().InstallProduct(CopyPackage(package), commandLine);
    }

    std::wstring Info(const std::string& package, const std::wstring& property) {
        std::wstring value;
        EXPECT_EQ(Msi().GetProductInfo(Text(Manifest(package).at("productCode")), property, value), 0u)
            << sim::ToUtf8(property);
        return value;
    }

    // -1 when the file is missing.
    long long SizeOf(const std::wstring& winPath) {
        std::error_code ec;
        const auto size = fs::file_size(Host(winPath), ec);
        return ec ? -1 : static_cast<long long>(size);
    }
    bool Exists(const std::wstring& winPath) { return fs::exists(Host(winPath)); }

    // A string value as a 32-bit program (no flag) or a 64-bit one sees it.
    std::wstring RegistryValue(const std::wstring& key, const std::wstring& name, bool view64) {
        std::wstring value;
        const uint32_t access = platform::kKeyRead | (view64 ? platform::kKeyWow64_64 : 0u);
        if (auto opened = Os().Registry().OpenKey(platform::RegistryRoot::LocalMachine, key, access)) {
            (*opened)->QueryString(name, value);
        }
        return value;
    }

    // Checks that every file of the package is there, at its size, exactly
    // when its component's condition holds on the machine's Windows.
    void ExpectFiles(const std::string& package, bool windows10) {
        for (const nlohmann::json& file : Manifest(package).at("files")) {
            const auto installs = Installs(file.at("componentCondition"));
            ASSERT_TRUE(installs) << "condition not covered: " << file.at("componentCondition");
            const std::wstring path = Text(file.at("x64WindowsPath"));
            const bool wanted = windows10 ? installs->first : installs->second;
            EXPECT_EQ(SizeOf(path), wanted ? file.at("size").get<long long>() : -1) << sim::ToUtf8(path);
        }
    }
};

class SimInstallerPackageTest : public SimInstallerTest, public ::testing::WithParamInterface<const char*> {};

}  // namespace

TEST_F(SimInstallerTest, DatabaseAnswersTheQueriesTheLibraryAsks) {
    const nlohmann::json& manifest = Manifest("iTunes.msi");
    auto opened = Msi().OpenDatabase(CopyPackage("iTunes.msi"));
    ASSERT_EQ(opened.Error(), 0u);
    platform::IMsiDatabase* db = opened->get();

    auto rows = [&](const std::wstring& sql) {
        std::vector<std::unique_ptr<platform::IMsiRecord>> out;
        auto view = db->OpenView(sql);
        EXPECT_EQ(view.Error(), 0u) << sim::ToUtf8(sql);
        if (!view) return out;
        EXPECT_EQ((*view)->Execute(), 0u);
        auto row = (*view)->Fetch();
        for (; row; row = (*view)->Fetch()) out.push_back(row.Take());
        EXPECT_EQ(row.Error(), kNoMoreItems);
        auto after = (*view)->Fetch();
        EXPECT_EQ(after.Error(), kNoMoreItems);  // and it stays that way
        EXPECT_FALSE(after);
        return out;
    };

    std::map<std::wstring, std::pair<int, std::wstring>> files;  // key -> size, FileName
    for (const auto& row : rows(L"SELECT File,FileSize,Component_,FileName FROM File")) {
        files[row->GetString(1)] = {row->GetInteger(2), row->GetString(4)};
    }
    ASSERT_EQ(files.size(), manifest.at("files").size());
    for (const nlohmann::json& file : manifest.at("files")) {
        const auto& row = files[Text(file.at("file"))];
        EXPECT_EQ(row.first, file.at("size").get<int>());
        EXPECT_EQ(row.second, Text(file.at("fileName")));
    }

    size_t roots = 0;
    const auto directories = rows(L"SELECT Directory, Directory_Parent ,DefaultDir FROM Directory");
    EXPECT_EQ(directories.size(), manifest.at("directories").size());
    for (const auto& row : directories) {
        if (row->GetString(1) != L"TARGETDIR") continue;
        ++roots;
        EXPECT_EQ(row->GetString(2), L"");  // null parent
        EXPECT_EQ(row->GetInteger(2), kNullInteger);
        EXPECT_EQ(row->GetInteger(3), kNullInteger);  // "SourceDir" is no number
        EXPECT_EQ(row->GetString(9), L"");  // past the last field
    }
    EXPECT_EQ(roots, 1u);

    EXPECT_EQ(rows(L"SELECT Component, Directory_ ,KeyPath,Condition FROM Component").size(),
              manifest.at("files").size());
    const auto services = rows(L"SELECT Name  FROM ServiceInstall");
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0]->GetString(1), L"iPod Service");

    EXPECT_EQ(db->OpenView(L"SELECT File FROM").Error(), 1615u);
    auto view = db->OpenView(L"SELECT Name FROM NoSuchTable");
    EXPECT_EQ(view.Error(), 1615u);
    EXPECT_FALSE(view);
}

TEST_F(SimInstallerTest, OpenDatabaseRefusesWhatIsNoPackage) {
    EXPECT_EQ(Msi().OpenDatabase(L"C:\\Packages\\missing.msi").Error(), 110u);
    WriteFile(L"C:\\Packages\\text.msi", 4096);
    EXPECT_EQ(Msi().OpenDatabase(L"C:\\Packages\\text.msi").Error(), 1620u);
    // The right signature over garbage: refused, not a crash.
    {
        std::ofstream out(Host(L"C:\\Packages\\fake.msi"), std::ios::binary);
        out << std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) << std::string(2048, '\x7F');
    }
    auto db = Msi().OpenDatabase(L"C:\\Packages\\fake.msi");
    EXPECT_EQ(db.Error(), 1620u);
    EXPECT_FALSE(db);
    EXPECT_EQ(Msi().InstallProduct(L"C:\\Packages\\text.msi", L""), 1620u);
    EXPECT_EQ(Msi().InstallProduct(L"C:\\Packages\\missing.msi", L""), 1619u);
}

TEST_P(SimInstallerPackageTest, InstallsAsWindowsTenAndUninstallsWithoutTrace) {
    const std::string package = GetParam();
    const nlohmann::json& manifest = Manifest(package);
    const std::wstring installDir = Text(manifest.at("installDirX64Windows"));
    const bool package64 = manifest.at("bitness") == 64;
    ASSERT_EQ(Install(package), 0u);

    ExpectFiles(package, true);
    for (const nlohmann::json& name : manifest.at("services")) {
        const auto service = sim::FindService(*machine_, Text(name));
        ASSERT_TRUE(service) << name;
        EXPECT_EQ(service->startType, platform::kServiceDemandStart);
        EXPECT_EQ(service->binaryPath.rfind(L"\"" + installDir, 0), 0u) << sim::ToUtf8(service->binaryPath);
    }
    for (const nlohmann::json& value : manifest.at("registry")) {
        const std::wstring expected = value.at("value") == "[INSTALLDIR]" ? installDir : Text(value.at("value"));
        const bool win64 = value.at("win64").get<bool>();
        EXPECT_EQ(RegistryValue(Text(value.at("key")), Text(value.at("name")), win64), expected);
        EXPECT_EQ(RegistryValue(Text(value.at("key")), Text(value.at("name")), !win64), L"") << "wrong view";
    }

    EXPECT_EQ(Info(package, L"ProductName"), Text(manifest.at("productName")));
    EXPECT_EQ(Info(package, L"VersionString"), Text(manifest.at("productVersion")));
    EXPECT_EQ(Info(package, L"Publisher"), Text(manifest.at("manufacturer")));
    EXPECT_EQ(Info(package, L"InstallLocation"), installDir);
    EXPECT_EQ(Info(package, L"InstallSource"), L"C:\\Packages\\");
    EXPECT_EQ(Info(package, L"PackageName"), FromUtf8(package));
    const std::wstring cached = Info(package, L"LocalPackage");
    EXPECT_EQ(cached.rfind(L"C:\\Windows\\Installer\\", 0), 0u);
    EXPECT_EQ(SizeOf(cached), static_cast<long long>(fs::file_size(FixtureFile(package))));
    const std::wstring uninstallKey =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Text(manifest.at("productCode"));
    EXPECT_EQ(RegistryValue(uninstallKey, L"DisplayName", package64), Text(manifest.at("productName")));

    const std::wstring code = Text(manifest.at("productCode"));
    ASSERT_EQ(Msi().ConfigureProductEx(code, platform::kInstallLevelDefault, platform::kInstallStateAbsent, L""), 0u);
    for (const nlohmann::json& file : manifest.at("files")) EXPECT_FALSE(Exists(Text(file.at("x64WindowsPath"))));
    EXPECT_FALSE(Exists(installDir));
    EXPECT_FALSE(Exists(cached));
    // Standard folders stay even when the install had to create them.
    EXPECT_TRUE(Exists(package64 ? L"C:\\Program Files\\Common Files" : L"C:\\Program Files (x86)\\Common Files"));
    for (const nlohmann::json& name : manifest.at("services")) EXPECT_FALSE(sim::FindService(*machine_, Text(name)));
    for (const nlohmann::json& value : manifest.at("registry")) {
        EXPECT_EQ(RegistryValue(Text(value.at("key")), Text(value.at("name")), value.at("win64")), L"");
    }
    EXPECT_EQ(RegistryValue(uninstallKey, L"DisplayName", package64), L"");
    std::wstring value;
    EXPECT_EQ(Msi().GetProductInfo(code, L"ProductName", value), 1605u);
    EXPECT_EQ(Msi().ConfigureProduct(code, platform::kInstallLevelDefault, platform::kInstallStateAbsent), 1605u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SimInstallerPackageTest, ::testing::ValuesIn(kPackages));

TEST_F(SimInstallerTest, ComponentConditionsFollowTheWindowsRelease) {
    machine_->SetWindows(sim::WindowsRelease::Windows7);
    ASSERT_EQ(Install("iTunes64.msi"), 0u);
    ExpectFiles("iTunes64.msi", false);
}

TEST_F(SimInstallerTest, BitnessDecidesFoldersAndRefusals) {
    machine_->SetWindows(sim::WindowsRelease::Windows10, false);
    EXPECT_EQ(Install("iTunes64.msi"), 1633u);  // a 64-bit package on 32-bit Windows
    EXPECT_FALSE(Exists(L"C:\\Program Files\\iTunes"));
    ASSERT_EQ(Install("iTunes.msi"), 0u);
    EXPECT_EQ(Info("iTunes.msi", L"InstallLocation"), L"C:\\Program Files\\iTunes\\");
    for (const nlohmann::json& file : Manifest("iTunes.msi").at("files")) {
        if (file.at("file") == "iTunes.exe") {
            EXPECT_EQ(SizeOf(L"C:\\Program Files\\iTunes\\iTunes.exe"), file.at("size"));
        }
    }
    EXPECT_EQ(RegistryValue(L"SOFTWARE\\Apple Computer, Inc.\\iTunes", L"InstallDir", true), L"C:\\Program Files\\iTunes\\");
}

TEST_F(SimInstallerTest, CommandLinePropertiesMoveTheInstallFolder) {
    ASSERT_EQ(Install("Bonjour64.msi", L"REBOOT=ReallySuppress INSTALLDIR=\"C:\\Apps\\My Bonjour\""), 0u);
    EXPECT_EQ(Info("Bonjour64.msi", L"InstallLocation"), L"C:\\Apps\\My Bonjour\\");
    EXPECT_TRUE(Exists(L"C:\\Apps\\My Bonjour\\mDNSResponder.exe"));
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));
}

TEST_F(SimInstallerTest, QueuedResultsAnswerTheNextCalls) {
    const std::wstring code = Text(Manifest("Bonjour64.msi").at("productCode"));
    sim::QueueInstallerResults(*machine_, {1618, 0, 1603, 3010});
    EXPECT_EQ(Install("Bonjour64.msi"), 1618u);
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));
    bool elevated = true;
    EXPECT_EQ(Msi().IsProductElevated(code, elevated), 1605u);
    EXPECT_EQ(Install("Bonjour64.msi"), 0u);
    EXPECT_EQ(Msi().ConfigureProduct(code, 0, platform::kInstallStateAbsent), 1603u);
    EXPECT_TRUE(Exists(L"C:\\Program Files\\Bonjour\\mDNSResponder.exe"));
    EXPECT_EQ(Msi().ConfigureProduct(code, 0, platform::kInstallStateAbsent), 3010u);
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour"));
    EXPECT_TRUE(sim::QueuedInstallerResults(*machine_).empty());
    EXPECT_EQ(Msi().ConfigureProduct(code, 0, platform::kInstallStateAbsent), 1605u);
}

TEST_F(SimInstallerTest, HeldFileStaysUntilRestartAndReinstallRepairs) {
    const std::wstring exe = L"C:\\Program Files\\Bonjour\\mDNSResponder.exe";
    const std::wstring code = Text(Manifest("Bonjour64.msi").at("productCode"));
    ASSERT_EQ(Install("Bonjour64.msi"), 0u);
    const long long size = SizeOf(exe);
    fs::remove(Host(exe));
    ASSERT_EQ(Install("Bonjour64.msi"), 0u);  // again over itself: repaired, still one product
    EXPECT_EQ(SizeOf(exe), size);
    std::wstring second;
    EXPECT_EQ(Msi().EnumProducts(1, second), kNoMoreItems);

    machine_->HoldFile(exe);
    EXPECT_EQ(Msi().ConfigureProductEx(code, 0, platform::kInstallStateAbsent, L""), 3010u);
    EXPECT_TRUE(Exists(exe));
    EXPECT_FALSE(Exists(L"C:\\Program Files\\Bonjour\\mdnsNSP.dll"));
    std::wstring value;
    EXPECT_EQ(Msi().GetProductInfo(code, L"ProductName", value), 1605u);
}

TEST_F(SimInstallerTest, ProductQueriesAnswerAsMsiDoes) {
    std::wstring code;
    EXPECT_EQ(Msi().EnumProducts(0, code), kNoMoreItems);
    ASSERT_EQ(Install("iTunes64.msi"), 0u);
    ASSERT_EQ(Install("AppleSoftwareUpdate.msi"), 0u);
    std::vector<std::wstring> codes;
    for (uint32_t i = 0; Msi().EnumProducts(i, code) == 0; ++i) codes.push_back(code);
    // Packed, {55163DB2-...} sorts as 2BD36155... before {0088DF35-...} as 53FD8800...
    EXPECT_EQ(codes, (std::vector<std::wstring>{Text(Manifest("iTunes64.msi").at("productCode")),
                                                Text(Manifest("AppleSoftwareUpdate.msi").at("productCode"))}));

    const std::wstring itunes = codes[0];
    std::wstring value;
    EXPECT_EQ(Msi().GetProductInfo(itunes, L"VersionMajor", value), 0u);
    EXPECT_EQ(value, L"12");
    EXPECT_EQ(Msi().GetProductInfo(itunes, L"Version", value), 0u);
    EXPECT_EQ(value, std::to_wstring((12u << 24) | (13u << 16) | 1u));
    EXPECT_EQ(Msi().GetProductInfo(itunes, L"HelpTelephone", value), 0u);  // known, never set
    EXPECT_EQ(value, L"");
    EXPECT_EQ(Msi().GetProductInfo(itunes, L"NoSuchProperty", value), 1608u);
    EXPECT_EQ(Msi().GetProductInfo(L"{00000000-0000-0000-0000-000000000000}", L"ProductName", value), 1605u);
    EXPECT_EQ(Msi().GetProductInfo(L"iTunes", L"ProductName", value), 87u);
    bool elevated = false;
    EXPECT_EQ(Msi().IsProductElevated(itunes, elevated), 0u);
    EXPECT_TRUE(elevated);

    EXPECT_EQ(Msi().SetInternalUI(platform::kInstallUiLevelNone), 5u);
    EXPECT_EQ(Msi().SetInternalUI(5), platform::kInstallUiLevelNone);
}

TEST_F(SimInstallerTest, SharedFoldersGoWithTheLastProductUsingThem) {
    const std::wstring apple = L"C:\\Program Files\\Common Files\\Apple";
    ASSERT_EQ(Install("Bonjour64.msi"), 0u);
    ASSERT_EQ(Install("iTunes64.msi"), 0u);
    const std::wstring bonjour = Text(Manifest("Bonjour64.msi").at("productCode"));
    const std::wstring itunes = Text(Manifest("iTunes64.msi").at("productCode"));
    ASSERT_EQ(Msi().ConfigureProduct(bonjour, 0, platform::kInstallStateAbsent), 0u);
    EXPECT_TRUE(Exists(apple));  // iTunes still has files below it
    ASSERT_EQ(Msi().ConfigureProduct(itunes, 0, platform::kInstallStateAbsent), 0u);
    EXPECT_FALSE(Exists(apple));
    EXPECT_FALSE(Exists(L"C:\\ProgramData\\Apple"));
    EXPECT_TRUE(Exists(L"C:\\ProgramData"));
}

TEST(SimInstallerExpressions, ConditionsReadAsTheInstallerReadsThem) {
    const sim::MsiProperties props{{L"VersionNT", L"601"}, {L"Mode", L"Full"}, {L"Empty", L""}};
    auto eval = [&](const wchar_t* condition) { return sim::EvaluateCondition(condition, props); };
    EXPECT_EQ(eval(L"VersionNT>=601 AND NOT Installed"), true);
    EXPECT_EQ(eval(L"NOT VersionNT AND Mode"), false);  // NOT binds tighter than AND
    EXPECT_EQ(eval(L"Mode OR Installed AND Empty"), true);  // AND tighter than OR
    EXPECT_EQ(eval(L"(Mode OR Installed) AND Empty"), false);
    EXPECT_EQ(eval(L"VersionNT < 1000"), true);  // as numbers, not text
    EXPECT_EQ(eval(L"Mode = \"full\""), false);
    EXPECT_EQ(eval(L"Mode ~= \"full\""), true);
    EXPECT_EQ(eval(L"Mode > 5"), false);  // text against a number is only ever unequal
    EXPECT_EQ(eval(L"Mode <> 5"), true);
    EXPECT_EQ(eval(L"not installed"), true);  // keywords in any case
    EXPECT_EQ(eval(L"Mode >< \"ul\""), std::nullopt);
    EXPECT_EQ(eval(L"(VersionNT >= 600"), std::nullopt);
    EXPECT_EQ(eval(L"VersionNT >="), std::nullopt);
}

TEST(SimInstallerExpressions, FormattedTextAndCommandLines) {
    auto lookup = [](const std::wstring& name) { return name == L"INSTALLDIR" ? L"C:\\App\\" : std::wstring(); };
    EXPECT_EQ(sim::FormatText(L"[INSTALLDIR]bin\\[Missing]x.exe", lookup), L"C:\\App\\bin\\x.exe");
    EXPECT_EQ(sim::FormatText(L"a[\\[]b[~]c[unclosed", lookup), L"a[bc[unclosed");

    const sim::MsiProperties props =
        sim::ParseCommandLine(L" REBOOT=ReallySuppress  INSTALLDIR=\"C:\\My App\\\" ALLUSERS=1 junk");
    EXPECT_EQ(props, (sim::MsiProperties{{L"REBOOT", L"ReallySuppress"}, {L"INSTALLDIR", L"C:\\My App\\"},
                                         {L"ALLUSERS", L"1"}}));
    EXPECT_EQ(sim::PackedProductCode(L"{D1B6A1CD-EC25-49AA-8245-8C3E0DDEEB04}"), L"DC1A6B1D52CEAA942854C8E3D0EDBE40");
    EXPECT_EQ(sim::PackedProductCode(L"{D1B6A1CD-EC25-49AA-8245-8C3E0DDEEB0}"), L"");
}
