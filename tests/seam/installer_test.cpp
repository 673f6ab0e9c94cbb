// Windows Installer and the service manager: a package that installs and
// starts a service, the product as the Installer then describes it, the
// service's states and start types, and the codes for packages that cannot
// be installed.
#include <string>

#include "SeamMachine.h"

using namespace platform;

#ifdef BRISALEN_FIXTURES_DIR

namespace {

const std::wstring kBonjour = L"{044F299F-8A59-4ED3-AEDF-B154914372CA}";
const std::wstring kBonjourService = L"Bonjour Service";

bool Enumerated(IInstaller& installer, const std::wstring& productCode) {
    std::wstring code;
    for (uint32_t index = 0; installer.EnumProducts(index, code) == 0; ++index) {
        if (code == productCode) return true;
    }
    return false;
}

}  // namespace

TEST_F(SeamTest, PackagesThatCannotBeInstalled) {
    IInstaller& installer = Os().Installer();
    installer.SetInternalUI(kInstallUiLevelNone);
    // Windows answers 1619 for a package it cannot open and 1620 for one
    // that is no package, and MsiOpenDatabaseW 110 and 1620; Wine 8 answers
    // 2 for the missing package and 1627 (ERROR_FUNCTION_FAILED) otherwise.
    const bool wine = !seam::kSimulated;
    EXPECT_EQ(installer.InstallProduct(In(L"none.msi"), L""), wine ? kErrFileNotFound : kErrInstallPackageOpenFailed);
    Write(In(L"damaged.msi"), std::string(4096, 'x'));
    EXPECT_EQ(installer.InstallProduct(In(L"damaged.msi"), L""), wine ? 1627u : kErrInstallPackageInvalid);
    EXPECT_EQ(installer.OpenDatabase(In(L"none.msi")).Error(), wine ? 1627u : 110u);
    EXPECT_EQ(installer.OpenDatabase(In(L"damaged.msi")).Error(), wine ? 1627u : kErrInstallPackageInvalid);

    std::wstring value;
    EXPECT_EQ(installer.GetProductInfo(L"{00000000-0000-0000-0000-00000000BEEF}", L"ProductName", value),
              kErrUnknownProduct);
    EXPECT_EQ(installer.GetProductInfo(L"not a code", L"ProductName", value), kErrInvalidParameter);
    EXPECT_EQ(installer.ConfigureProductEx(L"{00000000-0000-0000-0000-00000000BEEF}", kInstallLevelDefault,
                                           kInstallStateAbsent, L""),
              kErrUnknownProduct);
    // Products are enumerated from 0 one index at a time, to 259.
    std::wstring code;
    uint32_t index = 0, enumerated = 0;
    while ((enumerated = installer.EnumProducts(index, code)) == 0) ++index;
    EXPECT_EQ(enumerated, kErrNoMoreItems);
    EXPECT_EQ(installer.EnumProducts(index + 5, code), kErrInvalidParameter);

    auto manager = Os().Services().OpenManager(kScManagerConnect);
    ASSERT_TRUE(manager);
    EXPECT_EQ((*manager)->Open(Unique(), kServiceQueryStatus).Error(), kErrServiceDoesNotExist);
}

TEST_F(SeamTest, PackageInstallsAndStartsItsService) {
    IInstaller& installer = Os().Installer();
    std::wstring value;
    if (installer.GetProductInfo(kBonjour, L"ProductName", value) != kErrUnknownProduct) {
        SEAM_SKIP("another test left the fixture product installed in the shared prefix");
    }
    const std::wstring package = seam::ImportFile(BRISALEN_FIXTURES_DIR "/services/Bonjour64.msi", folder_);
    installer.SetInternalUI(kInstallUiLevelNone);
    ASSERT_EQ(installer.InstallProduct(package, L""), 0u);
    struct Uninstall {
        IInstaller& installer;
        ~Uninstall() { installer.ConfigureProductEx(kBonjour, kInstallLevelDefault, kInstallStateAbsent, L""); }
    } uninstall{installer};

    EXPECT_TRUE(Enumerated(installer, kBonjour));
    EXPECT_EQ(installer.GetProductInfo(kBonjour, L"ProductName", value), 0u);
    EXPECT_EQ(value, L"Bonjour");
    EXPECT_EQ(installer.GetProductInfo(kBonjour, L"VersionString", value), 0u);
    EXPECT_EQ(value, L"3.1.0.1");
    EXPECT_EQ(installer.GetProductInfo(kBonjour, L"LocalPackage", value), 0u);
    EXPECT_TRUE(Files().Exists(value));
    EXPECT_EQ(installer.GetProductInfo(kBonjour, L"NoSuchSeamProperty", value), kErrUnknownProperty);
    auto database = installer.OpenDatabase(package);
    ASSERT_TRUE(database);
    auto view = (*database)->OpenView(L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'");
    ASSERT_TRUE(view);
    ASSERT_EQ((*view)->Execute(), 0u);
    auto row = (*view)->Fetch();
    ASSERT_TRUE(row);
    EXPECT_EQ((*row)->GetString(1), kBonjour);
    EXPECT_EQ((*view)->Fetch().Error(), kErrNoMoreItems);

    // Started at install (ServiceControl Start="install" Wait="yes").
    {
        auto manager = Os().Services().OpenManager(kScManagerConnect);
        ASSERT_TRUE(manager);
        auto service = (*manager)->Open(L"bonjour service", kServiceQueryStatus | kServiceQueryConfig |
                                                                kServiceChangeConfig);
        ASSERT_TRUE(service) << service.Error();
        ServiceStatus status;
        ASSERT_EQ((*service)->QueryStatus(status), 0u);
        EXPECT_EQ(status.currentState, kServiceRunning);
        EXPECT_EQ(status.serviceType, kServiceWin32OwnProcess);
        ServiceConfig config;
        ASSERT_EQ((*service)->QueryConfig(config), 0u);
        EXPECT_EQ(config.startType, kServiceDemandStart);
        EXPECT_EQ(config.displayName, kBonjourService);
        EXPECT_NE(Files().CaseFoldedPath(config.binaryPathName).find(Files().CaseFoldedPath(L"mDNSResponder.exe")),
                  std::wstring::npos);
        EXPECT_EQ((*service)->ChangeStartType(kServiceDisabled), 0u);
        ASSERT_EQ((*service)->QueryConfig(config), 0u);
        EXPECT_EQ(config.startType, kServiceDisabled);
        EXPECT_EQ((*service)->ChangeStartType(kServiceAutoStart), 0u);
        ASSERT_EQ((*service)->QueryConfig(config), 0u);
        EXPECT_EQ(config.startType, kServiceAutoStart);
        // Boot and system start are for drivers.
        EXPECT_EQ((*service)->ChangeStartType(kServiceBootStart), kErrInvalidParameter);
        EXPECT_EQ((*service)->Delete(), kErrAccessDenied);  // not opened for deletion
    }

    // Uninstalling stops and removes the service, and the product is gone.
    ASSERT_EQ(installer.ConfigureProductEx(kBonjour, kInstallLevelDefault, kInstallStateAbsent, L""), 0u);
    EXPECT_FALSE(Enumerated(installer, kBonjour));
    EXPECT_EQ(installer.GetProductInfo(kBonjour, L"ProductName", value), kErrUnknownProduct);
    auto manager = Os().Services().OpenManager(kScManagerConnect);
    ASSERT_TRUE(manager);
    EXPECT_EQ((*manager)->Open(kBonjourService, kServiceQueryStatus).Error(), kErrServiceDoesNotExist);
}

#endif
