// A seam call of the simulated machine answers the Windows code its
// counterpart answers when the store under it fails, where it used to let a
// std::runtime_error out: the registry and the service manager answer a
// corrupt hive (1015) or a failed hive write (1016), the installer a bad
// configuration (1610) for its queries and a failed install (1603). Opening
// a machine whose file is broken is set-up and still throws.
#include <filesystem>
#include <fstream>

#include "SimMachineFixture.h"
#include "platform/sim/processes/SimServices.h"
#include "platform/sim/registry/SimRegistry.h"
#include "platform/sim/store/MachineStore.h"

namespace {

namespace fs = std::filesystem;

class StoreFailureTest : public SimMachineTest {
protected:
    std::string MachineFile() const { return folder_ + "/machine.json"; }

    // Another process changes the machine, then leaves a machine.json that
    // is no JSON: this process reloads it at its next transaction.
    void CorruptFromAnotherProcess() {
        sim::SetRegistryString(*sim::Machine::Open(folder_), L"HKLM\\SOFTWARE\\Other", L"v", L"1");
        std::ofstream(MachineFile(), std::ios::trunc) << "{\"version\": {\"major\": 10,";
    }

    // A folder where machine.json was: the next write cannot rename onto
    // it, and a read after that cannot read it. Restore puts the file back.
    void MakeUnwritable() {
        fs::rename(MachineFile(), folder_ + "/machine.json.kept");
        fs::create_directories(MachineFile() + "/in-the-way");
    }
    void Restore() {
        fs::remove_all(MachineFile());
        fs::rename(folder_ + "/machine.json.kept", MachineFile());
    }

    std::unique_ptr<platform::IRegistryKey> CreateKey() {
        auto key = Os().Registry().CreateKey(platform::RegistryRoot::LocalMachine, L"SOFTWARE\\Brisalen",
                                             platform::kKeyRead | platform::kKeyWrite);
        EXPECT_TRUE(key) << key.Error();
        return key ? key.Take() : nullptr;
    }
};

TEST_F(StoreFailureTest, RegistryAnswersACorruptHive) {
    auto key = CreateKey();
    ASSERT_TRUE(key);
    ASSERT_EQ(key->SetString(L"Version", L"1"), platform::kErrSuccess);
    CorruptFromAnotherProcess();

    std::wstring value;
    EXPECT_EQ(key->QueryString(L"Version", value), uint32_t{platform::kErrRegistryCorrupt});
    EXPECT_EQ(key->SetString(L"Version", L"2"), uint32_t{platform::kErrRegistryCorrupt});
    const auto opened =
        Os().Registry().OpenKey(platform::RegistryRoot::LocalMachine, L"SOFTWARE\\Brisalen", platform::kKeyRead);
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.Error(), uint32_t{platform::kErrRegistryCorrupt});
    // Set-up is no seam call: it reports the broken file as it always has.
    EXPECT_THROW(sim::Machine::Open(folder_), sim::StoreError);
}

TEST_F(StoreFailureTest, WritesThatCannotReachTheFileAnswerTheirCodes) {
    auto key = CreateKey();
    ASSERT_TRUE(key);
    sim::ServiceEntry bonjour;
    bonjour.name = L"Bonjour Service";
    sim::AddService(*machine_, bonjour);
    auto manager = Os().Services().OpenManager(platform::kScManagerAllAccess);
    ASSERT_TRUE(manager) << manager.Error();
    auto service = (*manager)->Open(L"Bonjour Service", platform::kServiceAllAccess);
    ASSERT_TRUE(service) << service.Error();
    MakeUnwritable();

    EXPECT_EQ(key->SetString(L"Version", L"2"), uint32_t{platform::kErrRegistryIoFailed});
    // The failed write is undone; what is read next cannot be read at all.
    std::wstring value;
    EXPECT_EQ(key->QueryString(L"Version", value), uint32_t{platform::kErrRegistryIoFailed});
    EXPECT_EQ((*service)->ChangeStartType(platform::kServiceDisabled), uint32_t{platform::kErrRegistryIoFailed});
    EXPECT_FALSE(Os().Services().OpenManager(platform::kScManagerAllAccess));

    std::wstring product;
    EXPECT_EQ(Os().Installer().EnumProducts(0, product), uint32_t{platform::kErrBadConfiguration});
    EXPECT_EQ(Os().Installer().GetProductInfo(L"{0088DF35-B457-48AC-B56F-041856C6911F}", L"VersionString", product),
              uint32_t{platform::kErrBadConfiguration});
    EXPECT_EQ(Os().Installer().InstallProduct(L"C:\\Setup\\Bonjour.msi", L""), uint32_t{platform::kErrInstallFailure});

    // Once the file is back, the same objects work again.
    Restore();
    EXPECT_EQ(key->SetString(L"Version", L"3"), platform::kErrSuccess);
    EXPECT_EQ(key->QueryString(L"Version", value), platform::kErrSuccess);
    EXPECT_EQ(value, L"3");
}

}  // namespace
