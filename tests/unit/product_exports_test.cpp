// The plain exports on the simulated machine: what each returns, who owns
// it, and how a family load empties the all-products map a host may hold.
#include <map>
#include <string>
#include <vector>

#include "Brisalen/FileVerify.h"
#include "Brisalen/MsiInstaller.h"
#include "Brisalen/MsiEnum.h"
#include "FixturePackages.h"
#include "common/FileHelpers.h"
#include "common/PathHelpers.h"
#include "include/Brisalen.h"

namespace {

class ProductExportsTest : public FixtureMachineTest {
protected:
    void SetUp() override {
        FixtureMachineTest::SetUp();
        CreateDirTree(platform::Os().Files(), CMsiInstaller::Instance().InstallCacheDir());
        WriteFile(CMsiInstaller::Instance().MsiZapPath(), 64);
    }
};

TEST_F(ProductExportsTest, QueriesOnAMachineWithoutTheFamily) {
    std::vector<ST_MSI_PRODUCT_RAW_DATA> products(2);
    EXPECT_FALSE(QueryItunesService(products));
    EXPECT_TRUE(products.empty());

    // Before any load: the built-in table, nothing for the other types.
    ASSERT_NE(QueryProductService(1), nullptr);
    EXPECT_EQ(*QueryProductService(1), std::vector<std::wstring>{L"iPod Service"});
    EXPECT_EQ(*QueryProductService(4), std::vector<std::wstring>{L"Bonjour Service"});
    for (int type : {0, 2, 5, 6, 7, -1}) EXPECT_EQ(QueryProductService(type), nullptr) << type;

    std::vector<ST_MSI_PRODUCT_UI_INFO> none;
    std::wstring empty;
    EXPECT_TRUE(SaveProductVerifyInfo(none, empty));

    void* groups = GetAllItunesTypeInfoMap();
    ASSERT_NE(groups, nullptr);
    EXPECT_TRUE(static_cast<ItunesTypeInfoMap*>(groups)->empty());
}

TEST_F(ProductExportsTest, AllProductsMapIsEmptiedByAFamilyLoad) {
    Install("Bonjour64.msi");
    Install("AppleApplicationSupport64.msi");
    std::map<std::wstring, ST_MSI_PRODUCT_RAW_DATA>* all = GetAllInstallProductInfo();
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(all->size(), 2u);
    const std::wstring bonjour = AsciiLower(Fixture("Bonjour64.msi").productCode);
    ASSERT_EQ(all->count(bonjour), 1u);
    EXPECT_EQ(all->at(bonjour).nProductTypeCopy, 0);  // unclassified in this mode

    std::vector<ST_MSI_PRODUCT_RAW_DATA> family;
    EXPECT_TRUE(QueryItunesService(family));
    ASSERT_EQ(family.size(), 2u);
    EXPECT_LT(AsciiLower(family[0].strProductCode), AsciiLower(family[1].strProductCode));
    EXPECT_TRUE(all->empty());
    EXPECT_EQ(GetAllInstallProductInfo(), all);  // the same map, filled again
    EXPECT_EQ(all->size(), 2u);
}

TEST_F(ProductExportsTest, InstallAndUninstallOneProduct) {
    int err = -100;
    EXPECT_FALSE(InstallProduct(L"C:\\Packages\\missing.msi", &err));
    EXPECT_NE(err, 0);
    EXPECT_NE(err, -100);
    // Bytes that are no package: Windows Installer's "invalid package".
    WriteFile(L"C:\\Packages\\damaged.msi", 4096);
    err = -100;
    EXPECT_FALSE(InstallProduct(L"C:\\Packages\\damaged.msi", &err));
    EXPECT_EQ(err, 1620);

    EXPECT_TRUE(InstallProduct(CopyPackage("Bonjour64.msi"), &err));
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(sim::FindProduct(*machine_, Fixture("Bonjour64.msi").productCode).has_value());

    EXPECT_TRUE(UninstallProduct(4, Fixture("Bonjour64.msi").productCode, &err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(sim::FindProduct(*machine_, Fixture("Bonjour64.msi").productCode).has_value());

    // A code that is not installed: refused with 1605, yet nothing remains.
    EXPECT_TRUE(UninstallProduct(4, L"{00000000-1111-2222-3333-444444444444}", &err));
    EXPECT_EQ(err, 1605);
}

// Windows Installer no longer knows the product, but its files are still
// there and were listed by an earlier verification: the refusal (1605)
// still runs the clean-up, which deletes exactly those files.
TEST_F(ProductExportsTest, UninstallOfAnUnknownCodeStillDeletesTheRememberedFiles) {
    const FixturePackage& bonjour = Fixture("Bonjour64.msi");
    LayOut(bonjour);
    WriteFile(L"C:\\Program Files\\Bonjour\\user-notes.txt", 10);
    int checked = 0;
    std::vector<std::wstring> bad, missing;
    ASSERT_TRUE(CFileVerify::Instance().VerifyByMsi(kProductBonjour, CopyPackage("Bonjour64.msi"), bonjour.installDir,
                                                    checked, bad, missing));
    const std::vector<std::wstring> listed = CFileVerify::Instance().ProductFiles(kProductBonjour);
    ASSERT_FALSE(listed.empty());

    int err = 0;
    EXPECT_TRUE(UninstallProduct(kProductBonjour, bonjour.productCode, &err));
    EXPECT_EQ(err, 1605);
    for (const std::wstring& path : listed) EXPECT_FALSE(FileExists(platform::Os().Files(), path)) << sim::ToUtf8(path);
    EXPECT_TRUE(FileExists(platform::Os().Files(), L"C:\\Program Files\\Bonjour\\user-notes.txt"));
}

}  // namespace
