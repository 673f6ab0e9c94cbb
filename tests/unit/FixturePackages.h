// The fixture packages built from fixtures/*.wxs and what their manifest
// says about them, plus a machine test that can place them.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SimMachineFixture.h"
#include "platform/sim/installer/SimProducts.h"
#include "common/TextHelpers.h"

struct FixtureFile {
    std::wstring path;  // where it lands on 64-bit Windows
    size_t size = 0;
    std::string component;
};

struct FixturePackage {
    std::string file;
    std::wstring productCode;
    std::wstring productName;
    std::wstring installDir;  // on 64-bit Windows, with a trailing backslash
    std::vector<FixtureFile> files;
    std::vector<std::wstring> services;
};

// How often `needle` stands in `text` (overlaps counted).
inline size_t CountOf(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

inline std::string FixturePath(const std::string& file) { return std::string(BRISALEN_FIXTURES_DIR) + "/" + file; }

inline const FixturePackage& Fixture(const std::string& file) {
    static const std::vector<FixturePackage> packages = [] {
        std::ifstream in(FixturePath("fixtures.json"));
        const nlohmann::json manifest = nlohmann::json::parse(in);
        std::vector<FixturePackage> all;
        for (const auto& entry : manifest.at("packages")) {
            FixturePackage package;
            package.file = entry.at("file").get<std::string>();
            package.productCode = Utf8ToWide(platform::Os().CodePages(), entry.at("productCode").get<std::string>());
            package.productName = Utf8ToWide(platform::Os().CodePages(), entry.at("productName").get<std::string>());
            package.installDir =
                Utf8ToWide(platform::Os().CodePages(), entry.at("installDirX64Windows").get<std::string>());
            for (const auto& service : entry.at("services"))
                package.services.push_back(Utf8ToWide(platform::Os().CodePages(), service.get<std::string>()));
            for (const auto& file : entry.at("files")) {
                package.files.push_back(
                    {Utf8ToWide(platform::Os().CodePages(), file.at("x64WindowsPath").get<std::string>()),
                     file.at("size").get<size_t>(), file.at("component").get<std::string>()});
            }
            all.push_back(std::move(package));
        }
        return all;
    }();
    for (const FixturePackage& package : packages) {
        if (package.file == file) return package;
    }
    throw std::runtime_error("no fixture package " + file);
}

// The family as a 64-bit machine gets it: iTunes in its 64-bit package.
inline const char* const kX64Family[] = {"iTunes64.msi",  "AppleSoftwareUpdate.msi",     "AppleMobileDeviceSupport64.msi",
                                         "Bonjour64.msi", "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"};

class FixtureMachineTest : public LoggedMachineTest {
protected:
    // Installs a fixture package as msiexec /i would.
    void Install(const std::string& file) {
        ASSERT_EQ(Os().Installer().InstallProduct(CopyPackage(file), L"ACTION=INSTALL REBOOT=ReallySuppress"), 0u)
            << file;
    }
    void InstallFamily() {
        for (const char* file : kX64Family) Install(file);
    }
    // What Windows Installer reports as the product's folder from now on.
    void BendInstallLocation(const std::string& file, const std::wstring& location) {
        std::optional<sim::InstalledProduct> product = sim::FindProduct(*machine_, Fixture(file).productCode);
        ASSERT_TRUE(product.has_value()) << file;
        product->properties[L"InstallLocation"] = location;
        sim::RegisterProduct(*machine_, *product);
    }

    // The package copied into the machine; returns its Windows path.
    std::wstring CopyPackage(const std::string& file) {
        const std::wstring target = L"C:\\Packages\\" + Utf8ToWide(platform::Os().CodePages(), file);
        const std::string host = Host(target);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::filesystem::copy_file(FixturePath(file), host, std::filesystem::copy_options::overwrite_existing);
        return target;
    }

    // Every file of the package where 64-bit Windows puts it, at its size.
    void LayOut(const FixturePackage& package) {
        for (const FixtureFile& file : package.files) WriteFile(file.path, file.size);
    }

    const FixtureFile& FileOf(const FixturePackage& package, const std::string& component) {
        for (const FixtureFile& file : package.files) {
            if (file.component == component) return file;
        }
        throw std::runtime_error("no component " + component);
    }
};
