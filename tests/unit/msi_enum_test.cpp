// Classification of installed products and the loads of the product maps,
// with the fixture family installed on a simulated machine.
#include <string>

#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "platform/sim/installer/SimProducts.h"

namespace {

int TypeOf(const std::wstring& name, const std::wstring& location = L"", const std::wstring& package = L"") {
    int type = -1;
    return CMsiEnum::GetItunesProductType(name, location, package, type) ? type : -1;
}

}  // namespace

TEST(ProductClassification, NamesDecideFirstThenPackageThenFolder) {
    EXPECT_EQ(TypeOf(L"ITUNES"), kProductItunes);
    EXPECT_EQ(TypeOf(L"iTunes 12.13"), -1);  // nothing else identifies iTunes
    EXPECT_EQ(TypeOf(L"apple software update"), kProductAppleSoftwareUpdate);
    EXPECT_EQ(TypeOf(L"Apple Mobile Device Support"), kProductMobileDeviceSupport);
    EXPECT_EQ(TypeOf(L"BONJOUR"), kProductBonjour);
    EXPECT_EQ(TypeOf(L"Apple Application Support (32-bit)"), kProductAppleApplicationSupport);
    EXPECT_EQ(TypeOf(L"Apple 应用程序支持 (64 位)"), kProductAppleApplicationSupport64);
    // Exact names only; other spellings fall through to the package name.
    EXPECT_EQ(TypeOf(L"apple application support (32-bit)"), -1);
    EXPECT_EQ(TypeOf(L"apple application support (32-bit)", L"", L"AppleApplicationSupport.msi"), kProductAppleApplicationSupport);
    EXPECT_EQ(TypeOf(L"x", L"", L"APPLEAPPLICATIONSUPPORT64.MSI"), kProductAppleApplicationSupport64);
    // The package name wins over a folder that says otherwise.
    EXPECT_EQ(TypeOf(L"x", L"C:\\Program Files\\Bonjour", L"AppleApplicationSupport64.msi"), kProductAppleApplicationSupport64);
}

TEST(ProductClassification, FolderNamesNeedTheBitnessInTheProductName) {
    EXPECT_EQ(TypeOf(L"Zeroconf", L"D:\\Tools\\BONJOUR\\"), kProductBonjour);
    EXPECT_EQ(TypeOf(L"Zeroconf", L"D:\\Tools\\Bonjour"), kProductBonjour);
    EXPECT_EQ(TypeOf(L"Support 32", L"C:\\Common Files\\Apple\\Apple Application Support\\"), kProductAppleApplicationSupport);
    EXPECT_EQ(TypeOf(L"Support x64", L"C:\\Common Files\\Apple\\Apple Application Support"), kProductAppleApplicationSupport64);
    EXPECT_EQ(TypeOf(L"Support", L"C:\\Common Files\\Apple\\Apple Application Support"), -1);
    EXPECT_EQ(TypeOf(L"Helper", L"C:\\Apple\\Mobile Device Support\\"), kProductMobileDeviceSupport);
    EXPECT_EQ(TypeOf(L"Helper", L"Mobile Device Support"), -1);  // no backslash: no last component
    EXPECT_EQ(TypeOf(L"Other", L"C:\\Program Files\\Other"), -1);
}

TEST(ProductClassification, TypeNamesForLogs) {
    EXPECT_STREQ(ProductTypeName(6), L"Apple Application Support64");
    EXPECT_STREQ(ProductTypeName(0), L"unknown");
    EXPECT_STREQ(ProductTypeName(7), L"unknown");
}

class MsiEnumTest : public FixtureMachineTest {
protected:
    static std::wstring Key(const std::string& file) { return AsciiLower(Fixture(file).productCode); }
};

TEST_F(MsiEnumTest, FamilyLoadClassifiesEveryProductAndReadsItsServices) {
    for (const char* file : {"iTunes.msi", "iTunes64.msi", "AppleSoftwareUpdate.msi", "AppleMobileDeviceSupport64.msi",
                             "Bonjour64.msi", "AppleApplicationSupport.msi", "AppleApplicationSupport64.msi"}) {
        Install(file);
    }
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(false);
    const auto family = products.ItunesProducts();
    ASSERT_EQ(family.size(), 7u);  // both iTunes variants are kept: the key is the code
    EXPECT_EQ(family.at(Key("iTunes.msi")).nProductTypeCopy, 1);
    EXPECT_EQ(family.at(Key("iTunes64.msi")).nProductType, 1);
    EXPECT_EQ(family.at(Key("AppleSoftwareUpdate.msi")).nProductTypeCopy, 2);
    EXPECT_EQ(family.at(Key("AppleMobileDeviceSupport64.msi")).nProductTypeCopy, 3);
    EXPECT_EQ(family.at(Key("Bonjour64.msi")).nProductTypeCopy, 4);
    EXPECT_EQ(family.at(Key("AppleApplicationSupport.msi")).nProductTypeCopy, 5);
    const ST_MSI_PRODUCT_RAW_DATA& support64 = family.at(Key("AppleApplicationSupport64.msi"));
    EXPECT_EQ(support64.nProductTypeCopy, 6);
    EXPECT_EQ(support64.strProductCode, Fixture("AppleApplicationSupport64.msi").productCode);
    EXPECT_EQ(support64.mapProperty.at(L"VersionString"), L"8.7.0.9");
    EXPECT_EQ(AsciiLower(support64.mapProperty.at(L"InstallLocation")),
              AsciiLower(Fixture("AppleApplicationSupport64.msi").installDir));
    EXPECT_EQ(support64.mapProperty.at(L"PackageName"), L"AppleApplicationSupport64.msi");
    EXPECT_EQ(AsciiLower(support64.mapProperty.at(L"LocalPackage")).rfind(L"c:\\windows\\installer\\", 0), 0u);

    EXPECT_EQ(products.ServicesOf(4), std::vector<std::wstring>{L"Bonjour Service"});
    EXPECT_EQ(products.ServicesOf(3), std::vector<std::wstring>{L"Apple Mobile Device Service"});
    EXPECT_TRUE(products.ServicesOf(5).empty());
    const std::string log = LoadTimeLog();
    EXPECT_NE(log.find("=>Find Product:Bonjour,Bonjour64.msi"), std::string::npos);
    EXPECT_NE(log.find("Find 1 service:[Bonjour Service]..."), std::string::npos);
}

TEST_F(MsiEnumTest, FamilyLoadEmptiesTheAllProductsMapButNotTheOtherWayRound) {
    Install("Bonjour64.msi");
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(false);
    products.LoadAllInstallProduct(true);
    const auto all = products.AllProducts();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all.begin()->second.nProductType, 0);
    EXPECT_EQ(products.ItunesProducts().size(), 1u);
    products.LoadAllInstallProduct(false);
    EXPECT_TRUE(products.AllProducts().empty());
}

TEST_F(MsiEnumTest, PackageWithOtherServicesReplacesTheTypesList) {
    Install("iTunes64.msi");
    // A product registered as iTunes whose cached package is Bonjour's.
    sim::InstalledProduct product = *sim::FindProduct(*machine_, Fixture("iTunes64.msi").productCode);
    const std::wstring bonjourPackage = CopyPackage("Bonjour64.msi");
    product.properties[L"LocalPackage"] = bonjourPackage;
    sim::RegisterProduct(*machine_, product);
    CMsiEnum& products = CMsiEnum::Instance();
    products.LoadAllInstallProduct(false);
    EXPECT_EQ(products.ServicesOf(1), std::vector<std::wstring>{L"Bonjour Service"});

    // A package that cannot be read leaves the list as it was.
    product.properties[L"LocalPackage"] = L"C:\\Windows\\Installer\\gone.msi";
    sim::RegisterProduct(*machine_, product);
    products.LoadAllInstallProduct(false);
    EXPECT_EQ(products.ServicesOf(1), std::vector<std::wstring>{L"Bonjour Service"});
    EXPECT_EQ(products.ItunesProducts().size(), 1u);

    Install("iTunes64.msi");  // its own package again
    products.LoadAllInstallProduct(false);
    EXPECT_EQ(products.ServicesOf(1), std::vector<std::wstring>{L"iPod Service"});
}

TEST_F(MsiEnumTest, LongPropertyValuesAreReadWhole) {
    Install("Bonjour64.msi");
    sim::InstalledProduct product = *sim::FindProduct(*machine_, Fixture("Bonjour64.msi").productCode);
    const std::wstring longValue = L"C:\\" + std::wstring(300, L'a') + L"\\";
    product.properties[L"InstallSource"] = longValue;
    sim::RegisterProduct(*machine_, product);
    std::wstring value = L"untouched";
    ASSERT_TRUE(CMsiEnum::Instance().QueryProductProperty(product.productCode, L"InstallSource", value));
    EXPECT_EQ(value, longValue);
    EXPECT_FALSE(
        CMsiEnum::Instance().QueryProductProperty(L"{00000000-0000-0000-0000-000000000000}", L"ProductName", value));
    EXPECT_EQ(value, longValue);
}
