// Product and service queries the library does not export yet.
//
// These stand in for the product query exports the library will offer:
// until they arrive, they run a second copy of the library's engines
// (brisalen_core, brisalen_common) inside the host process. This folder is
// the only part of the host that links those engines; everything else talks
// to the library through its exports. When the exports come, these
// functions go and their callers ask the loaded library instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace inprocess {

struct InstalledProduct {
    int type = 0;  // the family's product type (1 to 6), 0 when unclassified
    std::wstring code;
    std::wstring name;
    std::wstring version;
    std::wstring installLocation;
    std::wstring package;
    std::wstring localPackage;
    std::vector<std::wstring> services;  // the Windows services the product brings
};

// The family's installed products or, with `all`, every installed product
// (unclassified), in product code order.
std::vector<InstalledProduct> InstalledProducts(bool all);

struct FileCheck {
    bool packageRead = false;
    int checked = 0;
    std::vector<std::wstring> bad;
    std::vector<std::wstring> missing;
};

// A family product's files against its cached package.
FileCheck VerifyFiles(const InstalledProduct& product);

struct ServiceStatus {
    std::wstring state;  // "RUNNING", "STOPPED", "OPEN_ERR_0x424", ... as the library reports it
    bool startTypeKnown = false;
    uint32_t startType = 0;
};

ServiceStatus QueryService(const std::wstring& name);

}  // namespace inprocess
