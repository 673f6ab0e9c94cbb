// The companion's reading of package full names: the version it reports and,
// as the full name goes into PowerShell's command line, everything it must
// refuse.
#include <string>

#include <gtest/gtest.h>

#include "companions/RemovePackage/PackageFullName.h"

namespace {

using removepackage::InFamily;
using removepackage::IsNewer;
using removepackage::ParsePackageFullName;

constexpr wchar_t kFamily[] = L"AppleInc.iTunes_nzyj5cx40ttqa";

TEST(PackageFullNameTest, FieldsAndFamilyOfAStorePackage) {
    const auto id = ParsePackageFullName(L"AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttqa");
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(id->name, L"AppleInc.iTunes");
    EXPECT_EQ(id->version, L"12.13.2.3");
    EXPECT_EQ(id->architecture, L"x64");
    EXPECT_EQ(id->resourceId, L"");
    EXPECT_TRUE(InFamily(*id, kFamily));
    EXPECT_TRUE(InFamily(*id, L"appleinc.itunes_NZYJ5CX40TTQA"));

    const auto other = ParsePackageFullName(L"AppleInc.iTunesHelper_12.13.2.3_x64__nzyj5cx40ttqa");
    ASSERT_TRUE(other.has_value());
    EXPECT_FALSE(InFamily(*other, kFamily));
    const auto otherPublisher = ParsePackageFullName(L"AppleInc.iTunes_12.13.2.3_x64__8wekyb3d8bbwe");
    ASSERT_TRUE(otherPublisher.has_value());
    EXPECT_FALSE(InFamily(*otherPublisher, kFamily));
}

TEST(PackageFullNameTest, VersionsCompareByNumberNotByText) {
    const auto older = ParsePackageFullName(L"AppleInc.iTunes_12.9.5.7_x86__nzyj5cx40ttqa");
    const auto newer = ParsePackageFullName(L"AppleInc.iTunes_12.13.0.9_x64_en-us_nzyj5cx40ttqa");
    ASSERT_TRUE(older && newer);
    EXPECT_TRUE(IsNewer(*newer, *older));
    EXPECT_FALSE(IsNewer(*older, *newer));
    EXPECT_FALSE(IsNewer(*older, *older));
}

TEST(PackageFullNameTest, NamesThatCouldLeaveTheCommandOrAreMalformedAreRefused) {
    for (const wchar_t* bad : {
             L"AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttqa'; Remove-Item C:\\ -Recurse; '",
             L"AppleInc.iTunes'$(calc)_12.13.2.3_x64__nzyj5cx40ttqa",
             L"AppleInc.iTunes_12.13.2.3_x64_\"_nzyj5cx40ttqa",
             L"Apple Inc.iTunes_12.13.2.3_x64__nzyj5cx40ttqa",
             L"AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttqa_extra",
             L"AppleInc.iTunes_12.13.2_x64__nzyj5cx40ttqa",
             L"AppleInc.iTunes_12.13.2.99999_x64__nzyj5cx40ttqa",
             L"AppleInc.iTunes_12.13.2.3a_x64__nzyj5cx40ttqa",
             L"AppleInc.iTunes_12.13.2.3_sparc__nzyj5cx40ttqa",
             L"AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttq",
             L"AppleInc.iTunes_12.13.2.3_x64__nzyj5cx40ttqu",
             L"AppleInc.iTunes_12.13.2.3_x64__",
             L"..",
             L"",
         }) {
        EXPECT_FALSE(ParsePackageFullName(bad).has_value()) << std::wstring(bad);
    }
}

}  // namespace
