// The six products of the iTunes family and what the library knows of each:
// how it is named and recognised among the installed products, the package
// it is installed from, the services it brings, and what its folder must
// look like before the library may take it. One table, read by the product
// enumeration, the component check and the folder rules alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Brisalen/MsiEnum.h"

struct ProductFamilyRecord {
    ItunesProductType type;
    const wchar_t* typeName;  // the name log lines use
    // The installed product's name: compared without regard to case, or
    // exactly (then also the second, translated, name).
    const wchar_t* productName;
    bool nameIgnoresCase;
    const wchar_t* translatedName;
    // A product found by none of its names: a part of the package's file
    // name, or the last name of its install folder (with, for a folder two
    // bitnesses share, the bitness the product name carries).
    const wchar_t* packageNamePart;
    const wchar_t* folderName;
    const wchar_t* folderBitness;
    // The part of the file name its package in an installer folder is found
    // by; 5 and 6 carry the extension so the 64-bit package never passes
    // for the 32-bit one.
    const wchar_t* packageKey;
    const wchar_t* service;  // the service it installs before its package says more
    // A recorded install folder the library takes only when its name says
    // this (an iTunes folder that does not say "itunes" may be a drive).
    const wchar_t* folderMustSay;
};

constexpr ProductFamilyRecord kProductFamily[] = {
    {kProductItunes, L"iTunes", L"iTunes", true, nullptr, nullptr, nullptr, nullptr, L"itunes", L"iPod Service",
     L"itunes"},
    {kProductAppleSoftwareUpdate, L"Apple Software Update", L"Apple Software Update", true, nullptr, nullptr, nullptr,
     nullptr, L"applesoftwareupdate", nullptr, nullptr},
    {kProductMobileDeviceSupport, L"Apple Mobile Device Support", L"Apple Mobile Device Support", true, nullptr,
     nullptr, L"mobile device support", nullptr, L"applemobiledevicesupport", L"Apple Mobile Device Service", nullptr},
    {kProductBonjour, L"Bonjour", L"Bonjour", true, nullptr, nullptr, L"bonjour", nullptr, L"bonjour",
     L"Bonjour Service", nullptr},
    {kProductAppleApplicationSupport, L"Apple Application Support", L"Apple Application Support (32-bit)", false,
     L"Apple 应用程序支持 (32 位)", L"appleapplicationsupport.msi", L"apple application support", L"32",
     L"appleapplicationsupport.msi", nullptr, nullptr},
    {kProductAppleApplicationSupport64, L"Apple Application Support64", L"Apple Application Support (64-bit)", false,
     L"Apple 应用程序支持 (64 位)", L"appleapplicationsupport64.msi", L"apple application support", L"64",
     L"appleapplicationsupport64.msi", nullptr, nullptr},
};

// The record of a product type; null outside 1 to 6.
constexpr const ProductFamilyRecord* FamilyRecord(int32_t type) {
    for (const ProductFamilyRecord& record : kProductFamily) {
        if (record.type == type) return &record;
    }
    return nullptr;
}

// The table is in type order, which the recognition relies on (the 32-bit
// support library is tried before the 64-bit one).
constexpr bool InTypeOrder() {
    for (size_t i = 0; i < sizeof(kProductFamily) / sizeof(kProductFamily[0]); ++i) {
        if (kProductFamily[i].type != static_cast<int32_t>(i + 1)) return false;
    }
    return true;
}
static_assert(InTypeOrder(), "the family table is indexed by product type");
